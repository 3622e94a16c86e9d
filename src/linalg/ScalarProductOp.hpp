#pragma once

#include <string>
#include <tuple>

#include "frame/KernelOp.hpp"

namespace vela::math {

/// The dot product of two collected vectors of n elements (inputs a, b).
/// Derivatives: da . b + a . db; cotangents w b and w a.
struct DotProduct {
  unsigned n;

  auto fields() const { return std::tie(n); }
  std::string description() const { return "DotProduct"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class DotProductOp final : public frame::ScalarKernelOp<DotProductOp, DotProduct> {
 public:
  using ScalarKernelOp::ScalarKernelOp;
  DotProductOp(unsigned n, ct::OperationPtr const& a, ct::OperationPtr const& b)
      : ScalarKernelOp({n}, {a, b}) {}
};

/// a^T M b for a collected n by n matrix M and vectors a, b (inputs M, a, b).
/// Derivatives: the sum of the three terms with one factor's tangent;
/// cotangents w a b^T, M (w b) and M^T (w a).
struct ComputeQuadraticTerm {
  unsigned n;

  auto fields() const { return std::tie(n); }
  std::string description() const { return "ComputeQuadraticTerm"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
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
