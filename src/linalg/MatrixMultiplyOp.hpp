#pragma once

#include <string>
#include <tuple>

#include "frame/KernelOp.hpp"

namespace vela::math {

/// out = A B (kind 0), A^T B (kind 1) or A B^T (kind 2) over traced sizes.
/// Inputs: s0, s1, s2, collect of A, collect of B; one output of count doubles.
/// Derivatives by the product rule with products of the same kind and sizes;
/// elements of A and B past the actual sizes get exact zeros.
struct MatrixMultiply {
  int kind;        // 0 multiply, 1 transpose-multiply, 2 multiply-transpose
  unsigned count;  // maximum result element count

  auto fields() const { return std::tie(kind, count); }
  std::string description() const;
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class MatrixMultiplyOp final : public frame::KernelOp<MatrixMultiplyOp, MatrixMultiply> {
 public:
  using KernelOp::KernelOp;
  MatrixMultiplyOp(int kind, unsigned count, ct::OperationPtr const& s0, ct::OperationPtr const& s1,
                   ct::OperationPtr const& s2, ct::OperationPtr const& A, ct::OperationPtr const& B)
      : KernelOp({kind, count}, {s0, s1, s2, A, B}) {}
};

/// out = A B with leading dimensions. Inputs: m, k, n, lda, ldb, ldc,
/// collect of A, collect of B; one output of count doubles. Derivatives:
/// forward by the same strided product; reverse through dense copies of the
/// blocks (mMax by kMax, kMax by nMax, mMax by nMax), so the gaps between
/// columns pass no cotangent and those of A and B get exact zeros.
struct MatrixMultiplyStrided {
  unsigned count;             // result element count reserved
  unsigned mMax, kMax, nMax;  // bounds of the clamped m, k and n

  auto fields() const { return std::tie(count, mMax, kMax, nMax); }
  std::string description() const { return "MatrixMultiplyStrided"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class MatrixMultiplyStridedOp final
    : public frame::KernelOp<MatrixMultiplyStridedOp, MatrixMultiplyStrided> {
 public:
  using KernelOp::KernelOp;
  MatrixMultiplyStridedOp(unsigned count, unsigned mMax, unsigned kMax, unsigned nMax,
                          ct::OperationPtr const& m, ct::OperationPtr const& k,
                          ct::OperationPtr const& n, ct::OperationPtr const& lda,
                          ct::OperationPtr const& ldb, ct::OperationPtr const& ldc,
                          ct::OperationPtr const& A, ct::OperationPtr const& B)
      : KernelOp({count, mMax, kMax, nMax}, {m, k, n, lda, ldb, ldc, A, B}) {}
};

/// Elements a strided product reaches: of A (k - 1) * lda + m, of B
/// (n - 1) * ldb + k, of the result (n - 1) * ldc + m; all 0 when m or n
/// is 0, those of A and B also when k is 0.
struct StridedExtents {
  long long a, b, out;
};
StridedExtents stridedExtents(long long m, long long k, long long n, long long lda, long long ldb,
                              long long ldc);

// Pieces of the products' derivative rules, shared by the product kernels.

/// count elements of the product of `kind` over traced sizes of A and B (of
/// any lengths that hold the sizes): one folded or recorded MatrixMultiplyOp.
ct::TracedArray multiplyArrays(int kind, unsigned count, ct::TracedInt const& s0,
                               ct::TracedInt const& s1, ct::TracedInt const& s2,
                               ct::TracedArray const& A, ct::TracedArray const& B);

/// The product of `kind` (0: A B, 1: A^T B, 2: A B^T) of constant sizes:
/// multiplyArrays with A s0 by s1 (s1 by s0 transposed) and s2 columns out.
ct::TracedArray multiplyConstant(int kind, unsigned long s0, unsigned long s1, unsigned long s2,
                                 ct::TracedArray const& A, ct::TracedArray const& B);

/// a + b and a - b, elementwise over equal lengths: one folded or recorded
/// node each.
ct::TracedArray sum(ct::TracedArray const& a, ct::TracedArray const& b);
ct::TracedArray difference(ct::TracedArray const& a, ct::TracedArray const& b);

/// The column-major n by n a with its strict upper triangle zero; the
/// symmetric matrix its lower triangle gives; and g as the cotangent of that
/// lower triangle alone (g + g^T below the diagonal, g's own diagonal, zero
/// above): what a symmetric reading of the triangle passes back.
ct::TracedArray lowerPart(ct::TracedArray a, unsigned long n);
ct::TracedArray symmetricFromLower(ct::TracedArray a, unsigned long n);
ct::TracedArray foldOntoLower(ct::TracedArray g, unsigned long n);

/// count elements laid out with leading dimension ldTo: the rows by cols
/// block that src holds with leading dimension ldFrom, exact zeros
/// elsewhere. Constant sizes pick the elements; traced ones read each
/// through arrayAccess.
ct::TracedArray relayout(ct::TracedArray const& src, ct::TracedInt const& rows,
                         ct::TracedInt const& cols, ct::TracedInt const& ldFrom,
                         ct::TracedInt const& ldTo, unsigned count);

/// True when some element of values is not a constant: an input whose
/// cotangent may be wanted.
bool varies(ct::TracedArray const& values);

}  // namespace vela::math
