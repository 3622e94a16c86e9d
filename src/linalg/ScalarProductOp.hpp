#pragma once

#include <string>
#include <tuple>

#include "frame/KernelOp.hpp"

namespace vela::math {

/// The dot product of two collected vectors of n elements (inputs a, b).
struct DotProduct {
  unsigned n;

  auto fields() const { return std::tie(n); }
  std::string description() const { return "DotProduct"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
};

class DotProductOp final : public frame::ScalarKernelOp<DotProductOp, DotProduct> {
 public:
  using ScalarKernelOp::ScalarKernelOp;
  DotProductOp(unsigned n, ct::OperationPtr const& a, ct::OperationPtr const& b)
      : ScalarKernelOp({n}, {a, b}) {}
};

/// a^T M b for a collected n by n matrix M and vectors a, b (inputs M, a, b).
struct ComputeQuadraticTerm {
  unsigned n;

  auto fields() const { return std::tie(n); }
  std::string description() const { return "ComputeQuadraticTerm"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
};

class ComputeQuadraticTermOp final
    : public frame::ScalarKernelOp<ComputeQuadraticTermOp, ComputeQuadraticTerm> {
 public:
  using ScalarKernelOp::ScalarKernelOp;
  ComputeQuadraticTermOp(unsigned n, ct::OperationPtr const& M, ct::OperationPtr const& a,
                         ct::OperationPtr const& b)
      : ScalarKernelOp({n}, {M, a, b}) {}
};

}  // namespace vela::math
