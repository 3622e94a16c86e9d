#pragma once

#include <string>
#include <tuple>

#include "frame/KernelOp.hpp"

namespace vela::math {

/// out = scale * a. Inputs: scale (double), collect of a (n); n outputs.
struct VectorScale {
  unsigned n;

  auto fields() const { return std::tie(n); }
  std::string description() const { return "VectorScale"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class VectorScaleOp final : public frame::KernelOp<VectorScaleOp, VectorScale> {
 public:
  using KernelOp::KernelOp;
  VectorScaleOp(unsigned n, ct::OperationPtr const& scale, ct::OperationPtr const& a)
      : KernelOp({n}, {scale, a}) {}
};

/// out = -a. Inputs: collect of a (n); n outputs.
struct VectorNegate {
  unsigned n;

  auto fields() const { return std::tie(n); }
  std::string description() const { return "VectorNegate"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class VectorNegateOp final : public frame::KernelOp<VectorNegateOp, VectorNegate> {
 public:
  using KernelOp::KernelOp;
  VectorNegateOp(unsigned n, ct::OperationPtr const& a) : KernelOp({n}, {a}) {}
};

}  // namespace vela::math
