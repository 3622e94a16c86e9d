#include "linalg/DecompositionOps.hpp"

#include <algorithm>
#include <vector>

#include "frame/Sizes.hpp"
#include "frame/TracedCall.hpp"
#include "kelm_math/lin_alg.h"
#include "vela/math/dense_kernels.hpp"

namespace vela::math {

namespace {
using frame::Code;
constexpr auto kDouble = ct::ScalarType::Double;
constexpr auto kInt = ct::ScalarType::Int;

std::vector<double> workOf(int count) {
  return std::vector<double>(static_cast<std::size_t>(std::max(count, 1)), 0.0);
}

// Actual sizes that do not fit the collected inputs compute nothing.
using frame::fitsIn;
}  // namespace

void Eig::compute(frame::Args& args) const {
  int n = args.size(0);
  bool ok = fitsIn(n, n, args.count(1)) && fitsIn(n, n, args.count(2));
  int s = ok ? n : 0;
  double* re = args.output(s);
  double* im = args.output(s);
  double* vre = args.output(s * s);
  double* vim = args.output(s * s);
  if (s == 0) return;
  std::vector<double> work = workOf(kelm_math_lin_alg_eigReqdRealWorkSize(s));
  std::vector<int> iwork(static_cast<std::size_t>(kelm_math_lin_alg_eigReqdInt32WorkSize(s)), 0);
  eig(static_cast<unsigned>(s), args.doubles(1), args.doubles(2), re, im, vre, vim, work.data(),
      iwork.data());
}

void Eig::code(Code& code) const {
  std::string n = code.size(0), A = code.array(1), B = code.array(2);
  std::string re = code.output(kDouble, N), im = code.output(kDouble, N);
  std::string vre = code.output(kDouble, N * N), vim = code.output(kDouble, N * N);
  auto size = static_cast<int>(N);
  std::string work = code.temporary(kDouble, kelm_math_lin_alg_eigReqdRealWorkSize(size));
  std::string iwork = code.temporary(kInt, kelm_math_lin_alg_eigReqdInt32WorkSize(size));
  code.call("eig", {n, A, B, re, im, vre, vim, work, iwork});
}

void OrthonormalizeRealEigWrtSpdB::compute(frame::Args& args) const {
  int n = args.size(0);
  bool ok = fitsIn(n, n, args.count(1)) && fitsIn(n, n, args.count(2));
  int* flag = args.intOutput(1);
  // All N * N elements, as the copy in generated C holds them.
  double* V = args.outputCopy(2);
  if (!ok) return;
  std::vector<double> work = workOf(3 * n * n);
  flag[0] = orthonormalizeRealEigenvectorsWrtSpdB(static_cast<unsigned>(n), args.doubles(1), V,
                                                  work.data());
}

void OrthonormalizeRealEigWrtSpdB::code(Code& code) const {
  std::string flag = code.outputValue(kInt);
  std::string V = code.inPlace(2, N * N, Code::decimal(N * N));
  std::string work = code.temporary(kDouble, 3 * N * N);
  code.assignCall(flag, "orthonormalizeRealEigenvectorsWrtSpdB",
                  {code.size(0), code.array(1), V, work});
}

void Svd::compute(frame::Args& args) const {
  int m = args.size(0), n = args.size(1);
  bool ok = fitsIn(m, n, args.count(2));
  int rows = ok ? m : 0, cols = ok ? n : 0, k = std::min(rows, cols);
  double* S = args.output(k);
  double* U = args.output(rows * (full ? rows : k));
  double* V = args.output(cols * (full ? cols : k));
  if (!ok) return;
  auto flag = static_cast<unsigned char>(full);
  std::vector<double> work = workOf(kelm_math_lin_alg_svdReqdWorkSize(m, n, flag));
  svd(static_cast<unsigned>(m), static_cast<unsigned>(n), args.doubles(2), flag, S, U, V,
      work.data());
}

void Svd::code(Code& code) const {
  std::string m = code.size(0), n = code.size(1), A = code.array(2);
  std::string S = code.output(kDouble, k()), U = code.output(kDouble, uCount());
  std::string V = code.output(kDouble, vCount());
  std::string work = code.temporary(
      kDouble, kelm_math_lin_alg_svdReqdWorkSize(static_cast<int>(M), static_cast<int>(N), full));
  code.call("svd", {m, n, A, full ? "TRUE" : "FALSE", S, U, V, work});
}

void SvdSolve::compute(frame::Args& args) const {
  int m = args.size(0), n = args.size(1);
  bool ok = fitsIn(m, n, args.count(2)) && fitsIn(m, 1, args.count(3));
  double* x = args.output(ok ? n : 0);
  if (!ok || m == 0 || n == 0) return;
  std::vector<double> work = workOf(kelm_math_lin_alg_svdSolveReqdWorkSize(m, n));
  svdSolve(static_cast<unsigned>(m), static_cast<unsigned>(n), args.doubles(2), args.doubles(3),
           args.scalar(4), x, work.data());
}

void SvdSolve::code(Code& code) const {
  std::string x = code.output(kDouble, N);
  std::string work = code.temporary(
      kDouble, kelm_math_lin_alg_svdSolveReqdWorkSize(static_cast<int>(M), static_cast<int>(N)));
  code.call("svdSolve",
            {code.size(0), code.size(1), code.array(2), code.array(3), code.size(4), x, work});
}

void SvdSolveFromFactorization::compute(frame::Args& args) const {
  int m = args.size(0), n = args.size(1);
  long long k = std::min(m, n);
  bool ok = fitsIn(k, 1, args.count(2)) && fitsIn(k, m, args.count(3)) &&
            fitsIn(k, n, args.count(4)) && fitsIn(m, 1, args.count(5));
  int* flag = args.intOutput(1);
  double* x = args.output(ok ? n : 0);
  if (!ok || k == 0) return;
  std::vector<double> work = workOf(kelm_math_lin_alg_svdSolveFromFactorizationReqdWorkSize(m, n));
  flag[0] = svdSolveFromFactorization(static_cast<unsigned>(m), static_cast<unsigned>(n),
                                      args.doubles(2), args.doubles(3), args.doubles(4),
                                      args.doubles(5), args.scalar(6), x, work.data());
}

void SvdSolveFromFactorization::code(Code& code) const {
  std::string flag = code.outputValue(kInt);
  std::string x = code.output(kDouble, N);
  std::string work =
      code.temporary(kDouble, kelm_math_lin_alg_svdSolveFromFactorizationReqdWorkSize(
                                  static_cast<int>(M), static_cast<int>(N)));
  code.assignCall(flag, "svdSolveFromFactorization",
                  {code.size(0), code.size(1), code.array(2), code.array(3), code.array(4),
                   code.array(5), code.size(6), x, work});
}

void SvdComputeRank::compute(frame::Args& args) const {
  int m = args.size(0), n = args.size(1);
  bool ok = m >= 0 && n >= 0 && fitsIn(std::min(m, n), 1, args.count(2));
  args.intOutput(1)[0] =
      ok ? static_cast<int>(svdComputeRank(static_cast<unsigned>(m), static_cast<unsigned>(n),
                                           args.doubles(2), args.scalar(3)))
         : 0;
}

void SvdComputeRank::code(Code& code) const {
  code.assignCall("svdComputeRank", {code.size(0), code.size(1), code.array(2), code.size(3)});
}

// Traced front ends.

void eig(unsigned n, TracedValue<double> const* A, TracedValue<double> const* B,
         TracedValue<double>* re, TracedValue<double>* im, TracedValue<double>* vre,
         TracedValue<double>* vim, TracedValue<double>* work, TracedValue<int>* iwork) {
  eigDynamicSize(n, frame::constantSize(n), A, B, re, im, vre, vim, work, iwork);
}

void eigDynamicSize(unsigned N, TracedValue<int> const& n, TracedValue<double> const* A,
                    TracedValue<double> const* B, TracedValue<double>* re, TracedValue<double>* im,
                    TracedValue<double>* vre, TracedValue<double>* vim,
                    TracedValue<double>* /*work*/, TracedValue<int>* /*iwork*/) {
  frame::TracedCall<EigOp> call(Eig{N});
  long long s = call.size(n, N);
  call.array(A, N * N, s * s).array(B, N * N, s * s);
  call.output(re, N, s).output(im, N, s).output(vre, N * N, s * s).output(vim, N * N, s * s);
  call.run();
}

TracedValue<int> orthonormalizeRealEigenvectorsWrtSpdB(unsigned n, TracedValue<double> const* B,
                                                       TracedValue<double>* V,
                                                       TracedValue<double>* work) {
  return orthonormalizeRealEigenvectorsWrtSpdBDynamicSize(n, frame::constantSize(n), B, V, work);
}

TracedValue<int> orthonormalizeRealEigenvectorsWrtSpdBDynamicSize(unsigned N,
                                                                  TracedValue<int> const& n,
                                                                  TracedValue<double> const* B,
                                                                  TracedValue<double>* V,
                                                                  TracedValue<double>* /*work*/) {
  TracedValue<int> flag(0);
  frame::TracedCall<OrthonormalizeRealEigWrtSpdBOp> call(OrthonormalizeRealEigWrtSpdB{N});
  long long s = call.size(n, N);
  call.array(B, N * N, s * s).array(V, N * N, s * s);
  call.output(&flag, 1, 1).output(V, N * N, s * s);
  call.run();
  return flag;
}

void svd(unsigned m, unsigned n, TracedValue<double> const* A, unsigned char full,
         TracedValue<double>* S, TracedValue<double>* U, TracedValue<double>* V,
         TracedValue<double>* work) {
  svdDynamicSize(m, n, frame::constantSize(m), frame::constantSize(n), A, full, S, U, V, work);
}

void svdDynamicSize(unsigned M, unsigned N, TracedValue<int> const& m, TracedValue<int> const& n,
                    TracedValue<double> const* A, unsigned char full, TracedValue<double>* S,
                    TracedValue<double>* U, TracedValue<double>* V, TracedValue<double>* /*work*/) {
  Svd kernel{M, N, full != 0};
  frame::TracedCall<SvdOp> call(kernel);
  call.neverFold();
  call.size(m, M);
  call.size(n, N);
  call.array(A, M * N, 0);
  call.output(S, kernel.k(), 0).output(U, kernel.uCount(), 0).output(V, kernel.vCount(), 0);
  call.run();
}

TracedValue<int> svdComputeRank(unsigned m, unsigned n, TracedValue<double> const* s,
                                TracedValue<double> const& tol) {
  return svdComputeRankDynamicSize(m, n, frame::constantSize(m), frame::constantSize(n), s, tol);
}

TracedValue<int> svdComputeRankDynamicSize(unsigned M, unsigned N, TracedValue<int> const& m,
                                           TracedValue<int> const& n, TracedValue<double> const* s,
                                           TracedValue<double> const& tol) {
  frame::TracedCall<SvdComputeRankOp> call(SvdComputeRank{});
  int rows = call.size(m, M), cols = call.size(n, N);
  call.array(s, std::min(M, N), std::min(rows, cols));
  call.scalar(tol);
  return call.runScalar();
}

void svdSolve(unsigned m, unsigned n, TracedValue<double> const* A, TracedValue<double> const* b,
              TracedValue<double> const& tol, TracedValue<double>* x, TracedValue<double>* work) {
  svdSolveDynamicSize(m, n, frame::constantSize(m), frame::constantSize(n), A, b, tol, x, work);
}

void svdSolveDynamicSize(unsigned M, unsigned N, TracedValue<int> const& m,
                         TracedValue<int> const& n, TracedValue<double> const* A,
                         TracedValue<double> const* b, TracedValue<double> const& tol,
                         TracedValue<double>* x, TracedValue<double>* /*work*/) {
  frame::TracedCall<SvdSolveOp> call(SvdSolve{M, N});
  call.neverFold();
  call.size(m, M);
  call.size(n, N);
  call.array(A, M * N, 0).array(b, M, 0);
  call.scalar(tol);
  call.output(x, N, 0);
  call.run();
}

TracedValue<int> svdSolveFromFactorization(unsigned m, unsigned n, TracedValue<double> const* S,
                                           TracedValue<double> const* U,
                                           TracedValue<double> const* V,
                                           TracedValue<double> const* b,
                                           TracedValue<double> const& tol, TracedValue<double>* x,
                                           TracedValue<double>* work) {
  return svdSolveFromFactorizationDynamicSize(m, n, frame::constantSize(m), frame::constantSize(n),
                                              S, U, V, b, tol, x, work);
}

TracedValue<int> svdSolveFromFactorizationDynamicSize(
    unsigned M, unsigned N, TracedValue<int> const& m, TracedValue<int> const& n,
    TracedValue<double> const* S, TracedValue<double> const* U, TracedValue<double> const* V,
    TracedValue<double> const* b, TracedValue<double> const& tol, TracedValue<double>* x,
    TracedValue<double>* /*work*/) {
  unsigned k = std::min(M, N);
  TracedValue<int> flag;
  frame::TracedCall<SvdSolveFromFactorizationOp> call(SvdSolveFromFactorization{M, N});
  call.neverFold();
  call.size(m, M);
  call.size(n, N);
  call.array(S, k, 0).array(U, k * M, 0).array(V, k * N, 0).array(b, M, 0);
  call.scalar(tol);
  call.output(&flag, 1, 0).output(x, N, 0);
  call.run();
  return flag;
}

}  // namespace vela::math
