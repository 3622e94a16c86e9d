#pragma once

#include <string>
#include <tuple>

#include "frame/KernelOp.hpp"

namespace vela::math {

/// out = a + b (kind 0) or a - b (kind 1) over a traced size.
/// Inputs: size, collect of a, collect of b; one output of n doubles.
struct VectorCombine {
  int kind;    // 0 add, 1 subtract
  unsigned n;  // maximum element count

  auto fields() const { return std::tie(kind, n); }
  std::string description() const;
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class VectorCombineOp final : public frame::KernelOp<VectorCombineOp, VectorCombine> {
 public:
  using KernelOp::KernelOp;
  VectorCombineOp(int kind, unsigned n, ct::OperationPtr const& size, ct::OperationPtr const& a,
                  ct::OperationPtr const& b)
      : KernelOp({kind, n}, {size, a, b}) {}
};

}  // namespace vela::math
