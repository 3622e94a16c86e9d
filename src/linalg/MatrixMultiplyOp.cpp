#include "linalg/MatrixMultiplyOp.hpp"

#include <algorithm>

#include "frame/Rules.hpp"
#include "frame/Sizes.hpp"
#include "frame/TracedCall.hpp"
#include "vela/math/dense_kernels.hpp"
#include "vela/math/dynamic_sizes.hpp"

namespace vela::math {

namespace {
// Element counts of A, B and the result of a product of kind over sizes s.
struct MultiplyCounts {
  long long a, b, out;
};
MultiplyCounts multiplyCounts(int kind, long long s0, long long s1, long long s2) {
  switch (kind) {
    case 0: return {s0 * s1, s1 * s2, s0 * s2};
    case 1: return {s0 * s1, s0 * s2, s1 * s2};
    default: return {s0 * s1, s2 * s1, s0 * s2};
  }
}

}  // namespace

std::string MatrixMultiply::description() const {
  switch (kind) {
    case 0: return "MatrixMultiply";
    case 1: return "MatrixTransposeMultiply";
    default: return "MatrixMultiplyTranspose";
  }
}

void MatrixMultiply::compute(frame::Args& args) const {
  int s0 = args.size(0), s1 = args.size(1), s2 = args.size(2);
  MultiplyCounts n = multiplyCounts(kind, s0, s1, s2);
  bool valid = s0 >= 0 && s1 >= 0 && s2 >= 0 && frame::fits(n.a, args.count(3)) &&
               frame::fits(n.b, args.count(4)) && frame::fits(n.out, count);
  double* out = args.output(valid ? static_cast<int>(n.out) : 0);
  if (!valid) return;
  auto u0 = static_cast<unsigned>(s0), u1 = static_cast<unsigned>(s1),
       u2 = static_cast<unsigned>(s2);
  double const *A = args.doubles(3), *B = args.doubles(4);
  switch (kind) {
    case 0: matrixMultiply(u0, u1, u2, A, B, out); break;
    case 1: matrixTransposeMultiply(u0, u1, u2, A, B, out); break;
    default: matrixMultiplyTranspose(u0, u1, u2, A, B, out); break;
  }
}

void MatrixMultiply::code(frame::Code& code) const {
  code.call(kind == 0   ? "matrixMultiply"
            : kind == 1 ? "matrixTransposeMultiply"
                        : "matrixMultiplyTranspose",
            {code.size(0), code.size(1), code.size(2), code.array(3), code.array(4),
             code.output(ct::ScalarType::Double, count)});
}

StridedExtents stridedExtents(long long m, long long k, long long n, long long lda, long long ldb,
                              long long ldc) {
  if (m == 0 || n == 0) return {0, 0, 0};
  long long out = (n - 1) * ldc + m;
  if (k == 0) return {0, 0, out};
  return {(k - 1) * lda + m, (n - 1) * ldb + k, out};
}

void MatrixMultiplyStrided::compute(frame::Args& args) const {
  int s[6];
  bool valid = true;
  for (std::size_t i = 0; i < 6; ++i) {
    s[i] = args.size(i);
    valid = valid && s[i] >= 0;
  }
  StridedExtents e = stridedExtents(s[0], s[1], s[2], s[3], s[4], s[5]);
  valid = valid && frame::fits(e.a, args.count(6)) && frame::fits(e.b, args.count(7)) &&
          frame::fits(e.out, count);
  double* out = args.output(valid ? static_cast<int>(e.out) : 0);
  if (!valid) return;
  auto u = [&](int i) { return static_cast<unsigned>(s[i]); };
  matrixMultiplyStrided(u(0), u(1), u(2), u(3), u(4), u(5), args.doubles(6), args.doubles(7), out);
}

void MatrixMultiplyStrided::code(frame::Code& code) const {
  code.call("matrixMultiplyStrided",
            {code.size(0), code.size(1), code.size(2), code.size(3), code.size(4), code.size(5),
             code.array(6), code.array(7), code.output(ct::ScalarType::Double, count)});
}

namespace {
void multiply(int kind, unsigned s0Max, unsigned s1Max, unsigned s2Max, TracedValue<int> const& s0,
              TracedValue<int> const& s1, TracedValue<int> const& s2, TracedValue<double> const* A,
              TracedValue<double> const* B, TracedValue<double>* out) {
  MultiplyCounts max = multiplyCounts(kind, s0Max, s1Max, s2Max);
  auto count = static_cast<unsigned>(max.out);
  frame::TracedCall<MatrixMultiplyOp> call(MatrixMultiply{kind, count});
  int a = call.size(s0, s0Max), b = call.size(s1, s1Max), c = call.size(s2, s2Max);
  MultiplyCounts covered = multiplyCounts(kind, a, b, c);
  call.array(A, static_cast<unsigned>(max.a), covered.a)
      .array(B, static_cast<unsigned>(max.b), covered.b)
      .output(out, count, covered.out);
  call.run();
}

}  // namespace

void matrixMultiply(unsigned s0, unsigned s1, unsigned s2, TracedValue<double> const* A,
                    TracedValue<double> const* B, TracedValue<double>* out) {
  matrixMultiplyDynamicSize(s0, s1, s2, frame::constantSize(s0), frame::constantSize(s1),
                            frame::constantSize(s2), A, B, out);
}

void matrixMultiplyDynamicSize(unsigned s0Max, unsigned s1Max, unsigned s2Max,
                               TracedValue<int> const& s0, TracedValue<int> const& s1,
                               TracedValue<int> const& s2, TracedValue<double> const* A,
                               TracedValue<double> const* B, TracedValue<double>* out) {
  multiply(0, s0Max, s1Max, s2Max, s0, s1, s2, A, B, out);
}

void matrixTransposeMultiply(unsigned s0, unsigned s1, unsigned s2, TracedValue<double> const* A,
                             TracedValue<double> const* B, TracedValue<double>* out) {
  matrixTransposeMultiplyDynamicSize(s0, s1, s2, frame::constantSize(s0), frame::constantSize(s1),
                                     frame::constantSize(s2), A, B, out);
}

void matrixTransposeMultiplyDynamicSize(unsigned s0Max, unsigned s1Max, unsigned s2Max,
                                        TracedValue<int> const& s0, TracedValue<int> const& s1,
                                        TracedValue<int> const& s2, TracedValue<double> const* A,
                                        TracedValue<double> const* B, TracedValue<double>* out) {
  multiply(1, s0Max, s1Max, s2Max, s0, s1, s2, A, B, out);
}

void matrixMultiplyTranspose(unsigned s0, unsigned s1, unsigned s2, TracedValue<double> const* A,
                             TracedValue<double> const* B, TracedValue<double>* out) {
  matrixMultiplyTransposeDynamicSize(s0, s1, s2, frame::constantSize(s0), frame::constantSize(s1),
                                     frame::constantSize(s2), A, B, out);
}

void matrixMultiplyTransposeDynamicSize(unsigned s0Max, unsigned s1Max, unsigned s2Max,
                                        TracedValue<int> const& s0, TracedValue<int> const& s1,
                                        TracedValue<int> const& s2, TracedValue<double> const* A,
                                        TracedValue<double> const* B, TracedValue<double>* out) {
  multiply(2, s0Max, s1Max, s2Max, s0, s1, s2, A, B, out);
}

void matrixMultiplyStrided(unsigned m, unsigned k, unsigned n, unsigned lda, unsigned ldb,
                           unsigned ldc, TracedValue<double> const* A, TracedValue<double> const* B,
                           TracedValue<double>* out) {
  // Exactly the elements the strides reach, over constant sizes; no
  // maxima to go through.
  StridedExtents e = stridedExtents(m, k, n, lda, ldb, ldc);
  auto count = static_cast<unsigned>(e.out);
  frame::TracedCall<MatrixMultiplyStridedOp> call(MatrixMultiplyStrided{count, m, k, n});
  for (unsigned v : {m, k, n, lda, ldb, ldc}) call.size(frame::constantSize(v));
  call.array(A, static_cast<unsigned>(e.a), e.a)
      .array(B, static_cast<unsigned>(e.b), e.b)
      .output(out, count, e.out);
  call.run();
}

void matrixMultiplyStridedDynamicSize(unsigned kMax, unsigned nMax, unsigned ldaMax,
                                      unsigned ldbMax, unsigned ldcMax, TracedValue<int> const& m,
                                      TracedValue<int> const& k, TracedValue<int> const& n,
                                      TracedValue<int> const& lda, TracedValue<int> const& ldb,
                                      TracedValue<int> const& ldc, TracedValue<double> const* A,
                                      TracedValue<double> const* B, TracedValue<double>* out) {
  unsigned count = nMax * ldcMax;
  frame::TracedCall<MatrixMultiplyStridedOp> call(
      MatrixMultiplyStrided{count, std::min(ldaMax, ldcMax), std::min(kMax, ldbMax), nMax});
  auto s = detail::clampStrided(kMax, nMax, ldaMax, ldbMax, ldcMax, m, k, n, lda, ldb, ldc);
  for (auto const* v : {&s.m, &s.k, &s.n, &s.lda, &s.ldb, &s.ldc}) call.size(*v);
  call.array(A, kMax * ldaMax, 0).array(B, nMax * ldbMax, 0).output(out, count, 0).neverFold();
  call.run();
}

// ---------------------------------------------------------------------------
// Derivative rules
// ---------------------------------------------------------------------------

ct::TracedArray multiplyArrays(int kind, unsigned count, ct::TracedInt const& s0,
                               ct::TracedInt const& s1, ct::TracedInt const& s2,
                               ct::TracedArray const& A, ct::TracedArray const& B) {
  frame::TracedCall<MatrixMultiplyOp> call(MatrixMultiply{kind, count});
  int a = call.size(s0), b = call.size(s1), c = call.size(s2);
  MultiplyCounts covered = multiplyCounts(kind, a, b, c);
  ct::TracedArray out(count);
  call.array(A.data(), static_cast<unsigned>(A.size()), covered.a)
      .array(B.data(), static_cast<unsigned>(B.size()), covered.b)
      .output(out.data(), count, covered.out);
  call.run();
  return out;
}

bool varies(ct::TracedArray const& values) {
  return std::any_of(values.begin(), values.end(),
                     [](ct::TracedDouble const& v) { return !v.isConstant(); });
}

ct::TracedArray multiplyConstant(int kind, unsigned long s0, unsigned long s1, unsigned long s2,
                                 ct::TracedArray const& A, ct::TracedArray const& B) {
  auto size = [](unsigned long s) { return ct::TracedInt(static_cast<int>(s)); };
  auto count = static_cast<unsigned>(kind == 1 ? s1 * s2 : s0 * s2);
  return multiplyArrays(kind, count, size(s0), size(s1), size(s2), A, B);
}

ct::TracedArray sum(ct::TracedArray const& a, ct::TracedArray const& b) {
  ct::TracedArray out(a.size());
  vectorAdd(static_cast<unsigned>(a.size()), a.data(), b.data(), out.data());
  return out;
}

ct::TracedArray difference(ct::TracedArray const& a, ct::TracedArray const& b) {
  ct::TracedArray out(a.size());
  vectorSubtract(static_cast<unsigned>(a.size()), a.data(), b.data(), out.data());
  return out;
}

ct::TracedArray lowerPart(ct::TracedArray a, unsigned long n) {
  for (unsigned long j = 1; j < n; ++j)
    for (unsigned long i = 0; i < j; ++i) a[i + n * j] = ct::TracedDouble(0.0);
  return a;
}

ct::TracedArray symmetricFromLower(ct::TracedArray a, unsigned long n) {
  for (unsigned long j = 1; j < n; ++j)
    for (unsigned long i = 0; i < j; ++i) a[i + n * j] = a[j + n * i];
  return a;
}

ct::TracedArray foldOntoLower(ct::TracedArray g, unsigned long n) {
  for (unsigned long j = 0; j < n; ++j)
    for (unsigned long i = j + 1; i < n; ++i) {
      g[i + n * j] = g[i + n * j] + g[j + n * i];
      g[j + n * i] = ct::TracedDouble(0.0);
    }
  return g;
}

// count elements laid out with leading dimension ldTo: the rows by cols
// block that src holds with leading dimension ldFrom, exact zeros elsewhere.
// Constant sizes pick the elements; traced ones read each through
// arrayAccess.
ct::TracedArray relayout(ct::TracedArray const& src, ct::TracedInt const& rows,
                         ct::TracedInt const& cols, ct::TracedInt const& ldFrom,
                         ct::TracedInt const& ldTo, unsigned count) {
  ct::TracedArray out(count);
  int r = 0, c = 0, from = 0, to = 0;
  if (rows.getConstant(r) && cols.getConstant(c) && ldFrom.getConstant(from) &&
      ldTo.getConstant(to)) {
    for (int j = 0; j < c; ++j)
      for (int i = 0; i < r; ++i) {
        auto at = static_cast<std::size_t>(i + j * to), in = static_cast<std::size_t>(i + j * from);
        if (at < count && in < src.size()) out[at] = src[in];
      }
    return out;
  }
  ct::TracedInt ld = ct::max(ldTo, ct::TracedInt(1));
  for (unsigned e = 0; e < count; ++e) {
    ct::TracedInt at(static_cast<int>(e)), i = at % ld, j = at / ld;
    ct::TracedInt index = ct::ternary(i < rows && j < cols, i + j * ldFrom, ct::TracedInt(-1));
    out[e] = ct::arrayAccess(src.data(), static_cast<int>(src.size()), index);
  }
  return out;
}

void MatrixMultiply::jvp(ct::ForwardArgs& d) const {
  bool dA = !d.isZero(3), dB = !d.isZero(4);
  if (!dA && !dB) return;
  auto term = [&](ct::TracedArray const& A, ct::TracedArray const& B) {
    return multiplyArrays(kind, count, d.size(0), d.size(1), d.size(2), A, B);
  };
  ct::TracedArray t = dA ? term(d.tangent(3), d.array(4)) : term(d.array(3), d.tangent(4));
  if (dA && dB) t = sum(t, term(d.array(3), d.tangent(4)));
  d.setOutputTangent(0, t);
}

void MatrixMultiply::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(0)) return;
  ct::TracedArray W = d.cotangent(0, count), A = d.array(3), B = d.array(4);
  ct::TracedInt s0 = d.size(0), s1 = d.size(1), s2 = d.size(2);
  auto nA = static_cast<unsigned>(A.size()), nB = static_cast<unsigned>(B.size());
  // Each product reads only the actual elements of W; those of its result
  // past the factor's actual size are zeroed.
  if (varies(A)) {
    ct::TracedArray dA = kind == 0   ? multiplyArrays(2, nA, s0, s2, s1, W, B)   // W B^T
                         : kind == 1 ? multiplyArrays(2, nA, s0, s2, s1, B, W)   // B W^T
                                     : multiplyArrays(0, nA, s0, s2, s1, W, B);  // W B
    d.add(3, frame::leading(s0 * s1, dA));
  }
  if (varies(B)) {
    ct::TracedArray dB = kind == 0   ? multiplyArrays(1, nB, s0, s1, s2, A, W)   // A^T W
                         : kind == 1 ? multiplyArrays(0, nB, s0, s1, s2, A, W)   // A W
                                     : multiplyArrays(1, nB, s0, s2, s1, W, A);  // W^T A
    d.add(4, frame::leading(kind == 1 ? s0 * s2 : s1 * s2, dB));
  }
}

namespace {

ct::TracedArray strided(MatrixMultiplyStrided const& kernel, ct::ForwardArgs const& d,
                        ct::TracedArray const& A, ct::TracedArray const& B) {
  frame::TracedCall<MatrixMultiplyStridedOp> call(kernel);
  int s[6];
  for (std::size_t i = 0; i < 6; ++i) s[i] = call.size(d.size(i));
  StridedExtents e = stridedExtents(s[0], s[1], s[2], s[3], s[4], s[5]);
  ct::TracedArray out(kernel.count);
  call.array(A.data(), static_cast<unsigned>(A.size()), e.a)
      .array(B.data(), static_cast<unsigned>(B.size()), e.b)
      .output(out.data(), kernel.count, e.out);
  call.run();
  return out;
}

}  // namespace

void MatrixMultiplyStrided::jvp(ct::ForwardArgs& d) const {
  bool dA = !d.isZero(6), dB = !d.isZero(7);
  if (!dA && !dB) return;
  ct::TracedArray t = dA ? strided(*this, d, d.tangent(6), d.array(7))
                         : strided(*this, d, d.array(6), d.tangent(7));
  if (dA && dB) t = sum(t, strided(*this, d, d.array(6), d.tangent(7)));
  d.setOutputTangent(0, t);
}

void MatrixMultiplyStrided::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(0)) return;
  ct::TracedInt m = d.size(0), k = d.size(1), n = d.size(2);
  ct::TracedArray A = d.array(6), B = d.array(7);
  // The blocks as dense matrices (leading dimension their row count); the
  // cotangent's gaps and its elements past the actual sizes are left out.
  ct::TracedArray W = relayout(d.cotangent(0, count), m, n, d.size(5), m, mMax * nMax);
  if (varies(A)) {
    ct::TracedArray Bd = relayout(B, k, n, d.size(4), k, kMax * nMax);
    ct::TracedArray dA = multiplyArrays(2, mMax * kMax, m, n, k, W, Bd);  // W B^T
    d.add(6, relayout(dA, m, k, m, d.size(3), static_cast<unsigned>(A.size())));
  }
  if (varies(B)) {
    ct::TracedArray Ad = relayout(A, m, k, d.size(3), m, mMax * kMax);
    ct::TracedArray dB = multiplyArrays(1, kMax * nMax, m, k, n, Ad, W);  // A^T W
    d.add(7, relayout(dB, k, n, k, d.size(4), static_cast<unsigned>(B.size())));
  }
}

}  // namespace vela::math
