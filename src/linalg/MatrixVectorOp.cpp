#include "linalg/MatrixVectorOp.hpp"

#include "frame/Rules.hpp"
#include "frame/Sizes.hpp"
#include "frame/TracedCall.hpp"
#include "linalg/MatrixMultiplyOp.hpp"
#include "vela/math/dense_kernels.hpp"

namespace vela::math {

namespace {
// Sizes m and n of A (m by n) that read no more than A and x hold (x has m
// elements when transposed, else n) and write no more than `rows` allows
// (n resp. m); anything else (never the case for clamped sizes) computes
// nothing.
bool validSizes(frame::Args const& args, bool transpose, std::size_t rows) {
  long long m = args.size(0), n = args.size(1);
  return m >= 0 && n >= 0 && frame::fits(m * n, args.count(2)) &&
         frame::fits(transpose ? m : n, args.count(3)) && frame::fits(transpose ? n : m, rows);
}
}  // namespace

std::string MatrixVectorMultiply::description() const {
  return transpose ? "MatrixTransposeVectorMultiply" : "MatrixVectorMultiply";
}

void MatrixVectorMultiply::compute(frame::Args& args) const {
  bool valid = validSizes(args, transpose, count);
  auto m = static_cast<unsigned>(args.size(0)), n = static_cast<unsigned>(args.size(1));
  double* out = args.output(valid ? static_cast<int>(transpose ? n : m) : 0);
  if (!valid) return;
  double const *A = args.doubles(2), *x = args.doubles(3);
  if (transpose)
    matrixTransposeVectorMultiply(m, n, A, x, out);
  else
    matrixVectorMultiply(m, n, A, x, out);
}

void MatrixVectorMultiply::code(frame::Code& code) const {
  code.call(transpose ? "matrixTransposeVectorMultiply" : "matrixVectorMultiply",
            {code.size(0), code.size(1), code.array(2), code.array(3),
             code.output(ct::ScalarType::Double, count)});
}

std::string AccumulateMatrixVectorProduct::description() const {
  return std::string("AccumulateMatrixVectorProduct [") + (add ? "add" : "subtract") + " - " +
         (transpose ? "transpose" : "no transpose") + "]";
}

void AccumulateMatrixVectorProduct::compute(frame::Args& args) const {
  double* y = args.outputCopy(4);
  if (!validSizes(args, transpose, args.count(4))) return;
  auto m = static_cast<unsigned>(args.size(0)), n = static_cast<unsigned>(args.size(1));
  double const *A = args.doubles(2), *x = args.doubles(3);
  if (add && transpose)
    addMatrixTransposeVectorProduct(m, n, A, x, y);
  else if (add)
    addMatrixVectorProduct(m, n, A, x, y);
  else if (transpose)
    subtractMatrixTransposeVectorProduct(m, n, A, x, y);
  else
    subtractMatrixVectorProduct(m, n, A, x, y);
}

void AccumulateMatrixVectorProduct::code(frame::Code& code) const {
  std::string y = code.inPlace(4, count, {transpose ? std::size_t{1} : std::size_t{0}});
  code.call(std::string(add ? "add" : "subtract") + "Matrix" + (transpose ? "Transpose" : "") +
                "VectorProduct",
            {code.size(0), code.size(1), code.array(2), code.array(3), y});
}

namespace {
void multiply(bool transpose, unsigned mMax, unsigned nMax, TracedValue<int> const& m,
              TracedValue<int> const& n, TracedValue<double> const* A, TracedValue<double> const* x,
              TracedValue<double>* out) {
  unsigned count = transpose ? nMax : mMax;
  frame::TracedCall<MatrixVectorMultiplyOp> call(MatrixVectorMultiply{transpose, count});
  long long rows = call.size(m, mMax), columns = call.size(n, nMax);
  call.array(A, mMax * nMax, rows * columns)
      .array(x, transpose ? mMax : nMax, transpose ? rows : columns)
      .output(out, count, transpose ? columns : rows);
  call.run();
}

void accumulate(bool add, bool transpose, unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                TracedValue<int> const& n, TracedValue<double> const* A,
                TracedValue<double> const* x, TracedValue<double>* y) {
  unsigned count = transpose ? nMax : mMax;
  frame::TracedCall<AccumulateMatrixVectorProductOp> call(
      AccumulateMatrixVectorProduct{add, transpose, count});
  long long rows = call.size(m, mMax), columns = call.size(n, nMax);
  long long yCovered = transpose ? columns : rows;
  // y is read in full before the outputs replace it.
  call.array(A, mMax * nMax, rows * columns)
      .array(x, transpose ? mMax : nMax, transpose ? rows : columns)
      .array(y, count, yCovered)
      .output(y, count, yCovered);
  call.run();
}

}  // namespace

void matrixVectorMultiply(unsigned m, unsigned n, TracedValue<double> const* A,
                          TracedValue<double> const* x, TracedValue<double>* out) {
  matrixVectorMultiplyDynamicSize(m, n, frame::constantSize(m), frame::constantSize(n), A, x, out);
}

void matrixVectorMultiplyDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                                     TracedValue<int> const& n, TracedValue<double> const* A,
                                     TracedValue<double> const* x, TracedValue<double>* out) {
  multiply(false, mMax, nMax, m, n, A, x, out);
}

void matrixTransposeVectorMultiply(unsigned m, unsigned n, TracedValue<double> const* A,
                                   TracedValue<double> const* x, TracedValue<double>* out) {
  matrixTransposeVectorMultiplyDynamicSize(m, n, frame::constantSize(m), frame::constantSize(n), A,
                                           x, out);
}

void matrixTransposeVectorMultiplyDynamicSize(unsigned mMax, unsigned nMax,
                                              TracedValue<int> const& m, TracedValue<int> const& n,
                                              TracedValue<double> const* A,
                                              TracedValue<double> const* x,
                                              TracedValue<double>* out) {
  multiply(true, mMax, nMax, m, n, A, x, out);
}

void addMatrixVectorProduct(unsigned m, unsigned n, TracedValue<double> const* A,
                            TracedValue<double> const* x, TracedValue<double>* y) {
  addMatrixVectorProductDynamicSize(m, n, frame::constantSize(m), frame::constantSize(n), A, x, y);
}

void addMatrixVectorProductDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                                       TracedValue<int> const& n, TracedValue<double> const* A,
                                       TracedValue<double> const* x, TracedValue<double>* y) {
  accumulate(true, false, mMax, nMax, m, n, A, x, y);
}

void addMatrixTransposeVectorProduct(unsigned m, unsigned n, TracedValue<double> const* A,
                                     TracedValue<double> const* x, TracedValue<double>* y) {
  addMatrixTransposeVectorProductDynamicSize(m, n, frame::constantSize(m), frame::constantSize(n),
                                             A, x, y);
}

void addMatrixTransposeVectorProductDynamicSize(
    unsigned mMax, unsigned nMax, TracedValue<int> const& m, TracedValue<int> const& n,
    TracedValue<double> const* A, TracedValue<double> const* x, TracedValue<double>* y) {
  accumulate(true, true, mMax, nMax, m, n, A, x, y);
}

void subtractMatrixVectorProduct(unsigned m, unsigned n, TracedValue<double> const* A,
                                 TracedValue<double> const* x, TracedValue<double>* y) {
  subtractMatrixVectorProductDynamicSize(m, n, frame::constantSize(m), frame::constantSize(n), A, x,
                                         y);
}

void subtractMatrixVectorProductDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                                            TracedValue<int> const& n, TracedValue<double> const* A,
                                            TracedValue<double> const* x, TracedValue<double>* y) {
  accumulate(false, false, mMax, nMax, m, n, A, x, y);
}

void subtractMatrixTransposeVectorProduct(unsigned m, unsigned n, TracedValue<double> const* A,
                                          TracedValue<double> const* x, TracedValue<double>* y) {
  subtractMatrixTransposeVectorProductDynamicSize(m, n, frame::constantSize(m),
                                                  frame::constantSize(n), A, x, y);
}

void subtractMatrixTransposeVectorProductDynamicSize(
    unsigned mMax, unsigned nMax, TracedValue<int> const& m, TracedValue<int> const& n,
    TracedValue<double> const* A, TracedValue<double> const* x, TracedValue<double>* y) {
  accumulate(false, true, mMax, nMax, m, n, A, x, y);
}

// ---------------------------------------------------------------------------
// Derivative rules
// ---------------------------------------------------------------------------

ct::TracedArray multiplyVectorArrays(bool transpose, unsigned count, ct::TracedInt const& m,
                                     ct::TracedInt const& n, ct::TracedArray const& A,
                                     ct::TracedArray const& x) {
  frame::TracedCall<MatrixVectorMultiplyOp> call(MatrixVectorMultiply{transpose, count});
  long long rows = call.size(m), columns = call.size(n);
  ct::TracedArray out(count);
  call.array(A.data(), static_cast<unsigned>(A.size()), rows * columns)
      .array(x.data(), static_cast<unsigned>(x.size()), transpose ? rows : columns)
      .output(out.data(), count, transpose ? columns : rows);
  call.run();
  return out;
}

namespace {

// y + A x or y - A x (A^T x when transposed) as one folded or recorded node.
ct::TracedArray accumulateArrays(bool add, bool transpose, ct::TracedInt const& m,
                                 ct::TracedInt const& n, ct::TracedArray const& A,
                                 ct::TracedArray const& x, ct::TracedArray const& y) {
  auto count = static_cast<unsigned>(y.size());
  frame::TracedCall<AccumulateMatrixVectorProductOp> call(
      AccumulateMatrixVectorProduct{add, transpose, count});
  long long rows = call.size(m), columns = call.size(n), covered = transpose ? columns : rows;
  ct::TracedArray out = y;  // a fold replaces the covered elements only
  call.array(A.data(), static_cast<unsigned>(A.size()), rows * columns)
      .array(x.data(), static_cast<unsigned>(x.size()), transpose ? rows : columns)
      .array(y.data(), count, covered)
      .output(out.data(), count, covered);
  call.run();
  return out;
}

// dy + (or -) the product's tangent dA x + A dx, accumulated onto y; false
// when neither factor has a tangent.
bool productTangent(ct::ForwardArgs& d, bool add, bool transpose, ct::TracedArray& y) {
  bool dA = !d.isZero(2), dx = !d.isZero(3);
  if (dA) y = accumulateArrays(add, transpose, d.size(0), d.size(1), d.tangent(2), d.array(3), y);
  if (dx) y = accumulateArrays(add, transpose, d.size(0), d.size(1), d.array(2), d.tangent(3), y);
  return dA || dx;
}

// Cotangents of A (m by n) and x from w, the cotangent of A x (A^T x when
// transposed): w x^T and A^T w (x w^T and A w).
void productCotangent(ct::ReverseArgs& d, bool transpose, ct::TracedArray const& w) {
  ct::TracedInt m = d.size(0), n = d.size(1);
  ct::TracedArray A = d.array(2), x = d.array(3);
  auto nA = static_cast<unsigned>(A.size()), nx = static_cast<unsigned>(x.size());
  ct::TracedInt one(1);
  if (varies(A))
    d.add(2, frame::leading(m * n, transpose ? multiplyArrays(2, nA, m, one, n, x, w)
                                             : multiplyArrays(2, nA, m, one, n, w, x)));
  if (varies(x))
    d.add(3, frame::leading(transpose ? m : n, multiplyVectorArrays(!transpose, nx, m, n, A, w)));
}

}  // namespace

void MatrixVectorMultiply::jvp(ct::ForwardArgs& d) const {
  bool dA = !d.isZero(2), dx = !d.isZero(3);
  if (!dA && !dx) return;
  ct::TracedArray t = dA ? d.tangent(2) : d.array(2), x = dA ? d.array(3) : d.tangent(3);
  t = multiplyVectorArrays(transpose, count, d.size(0), d.size(1), t, x);
  if (dA && dx)
    t = accumulateArrays(true, transpose, d.size(0), d.size(1), d.array(2), d.tangent(3), t);
  d.setOutputTangent(0, t);
}

void MatrixVectorMultiply::vjp(ct::ReverseArgs& d) const {
  if (!d.isZeroCotangent(0)) productCotangent(d, transpose, d.cotangent(0, count));
}

void AccumulateMatrixVectorProduct::jvp(ct::ForwardArgs& d) const {
  ct::TracedArray t = d.tangent(4);
  if (productTangent(d, add, transpose, t) || !d.isZero(4))
    std::copy(t.begin(), t.end(), d.outputTangent(0, count));
}

void AccumulateMatrixVectorProduct::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(0)) return;
  ct::TracedArray w = d.cotangent(0, count);
  d.add(4, w);
  if (!add)
    for (auto& v : w) v = -v;
  productCotangent(d, transpose, w);
}

}  // namespace vela::math
