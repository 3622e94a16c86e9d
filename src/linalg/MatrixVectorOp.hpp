#pragma once

#include <string>
#include <tuple>

#include "frame/KernelOp.hpp"

namespace vela::math {

/// out = A x (or A^T x) over traced sizes. Inputs: m, n, collect of A,
/// collect of x; one output of count doubles. Derivatives by the product
/// rule (dA x, then A dx accumulated onto it); elements of A and x past the
/// actual sizes get exact zeros.
struct MatrixVectorMultiply {
  bool transpose;
  unsigned count;  // maximum result element count

  auto fields() const { return std::tie(transpose, count); }
  std::string description() const;
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class MatrixVectorMultiplyOp final
    : public frame::KernelOp<MatrixVectorMultiplyOp, MatrixVectorMultiply> {
 public:
  using KernelOp::KernelOp;
  MatrixVectorMultiplyOp(bool transpose, unsigned count, ct::OperationPtr const& m,
                         ct::OperationPtr const& n, ct::OperationPtr const& A,
                         ct::OperationPtr const& x)
      : KernelOp({transpose, count}, {m, n, A, x}) {}
};

/// The new y = y + A x or y - A x (A^T x when transposed). Inputs: m, n,
/// collects of A, x and y; one output of count doubles replacing y, written
/// over y's storage when the code generator allows. Derivatives: y's passes
/// through (every element: evaluation keeps y's elements past the actual
/// size), the product's by the product rule, accumulated by this kernel.
struct AccumulateMatrixVectorProduct {
  bool add;  // false: subtract
  bool transpose;
  unsigned count;  // element count of y

  auto fields() const { return std::tie(add, transpose, count); }
  std::string description() const;
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class AccumulateMatrixVectorProductOp final
    : public frame::KernelOp<AccumulateMatrixVectorProductOp, AccumulateMatrixVectorProduct> {
 public:
  using KernelOp::KernelOp;
  AccumulateMatrixVectorProductOp(bool add, bool transpose, unsigned count,
                                  ct::OperationPtr const& m, ct::OperationPtr const& n,
                                  ct::OperationPtr const& A, ct::OperationPtr const& x,
                                  ct::OperationPtr const& y)
      : KernelOp({add, transpose, count}, {m, n, A, x, y}) {}
};

/// count elements of A x (A^T x when transposed) over traced sizes of A (m
/// by n) and arrays of any lengths that hold them: one folded or recorded
/// MatrixVectorMultiplyOp. For derivative rules.
ct::TracedArray multiplyVectorArrays(bool transpose, unsigned count, ct::TracedInt const& m,
                                     ct::TracedInt const& n, ct::TracedArray const& A,
                                     ct::TracedArray const& x);

}  // namespace vela::math
