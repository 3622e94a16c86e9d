#include "linalg/MatrixMultiplyOp.hpp"

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
  frame::TracedCall<MatrixMultiplyStridedOp> call(MatrixMultiplyStrided{count});
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
  frame::TracedCall<MatrixMultiplyStridedOp> call(MatrixMultiplyStrided{count});
  auto s = detail::clampStrided(kMax, nMax, ldaMax, ldbMax, ldcMax, m, k, n, lda, ldb, ldc);
  for (auto const* v : {&s.m, &s.k, &s.n, &s.lda, &s.ldb, &s.ldc}) call.size(*v);
  call.array(A, kMax * ldaMax, 0).array(B, nMax * ldbMax, 0).output(out, count, 0).neverFold();
  call.run();
}

}  // namespace vela::math
