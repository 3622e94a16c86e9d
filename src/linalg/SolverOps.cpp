#include "linalg/SolverOps.hpp"

#include <algorithm>
#include <vector>

#include "frame/TracedCall.hpp"
#include "linalg/MatrixMultiplyOp.hpp"
#include "vela/math/dense_kernels.hpp"

namespace vela::math {

namespace {
using frame::Code;

unsigned count(unsigned long a, unsigned long b) { return static_cast<unsigned>(a * b); }

std::string memcpyLine(std::string const& to, std::string const& from, unsigned long count) {
  return "memcpy(" + to + ", " + from + ", " + Code::decimal(count) + " * sizeof(double));";
}
}  // namespace

void GeSolve2x2::compute(frame::Args& args) const {
  geSolve2x2(args.doubles(0), args.doubles(1), args.output(2));
}

void GeSolve2x2::code(Code& code) const {
  code.call("geSolve2x2", {code.array(0), code.array(1), code.output(ct::ScalarType::Double, 2)});
}

void FactorSymmetricPosDef::compute(frame::Args& args) const {
  int* flag = args.intOutput(1);
  double* factor = args.outputCopy(0);
  std::vector<double> work(n, 0.0);
  flag[0] = factorSymmetricPosDef(factor, static_cast<unsigned>(n), work.data()) ? 1 : 0;
}

void FactorSymmetricPosDef::code(Code& code) const {
  std::string flag = code.outputValue(ct::ScalarType::Int);
  std::string factor = code.inPlace(0, count(n, n), Code::decimal(n * n));
  std::string work = code.temporary(ct::ScalarType::Double, count(n, 1));
  code.line(flag + " = factorSymmetricPosDef(" + factor + ", " + Code::decimal(n) + ", " + work +
            ");");
}

void SolveSymmetricPosDef::compute(frame::Args& args) const {
  double* X = args.output(static_cast<int>(count(n, m)));
  std::vector<double> work(n, 0.0);
  solveSymmetricPosDef(args.doubles(0), args.doubles(1), static_cast<unsigned>(n),
                       static_cast<unsigned>(m), X, work.data());
}

void SolveSymmetricPosDef::code(Code& code) const {
  std::string X = code.output(ct::ScalarType::Double, count(n, m));
  std::string work = code.temporary(ct::ScalarType::Double, count(n, 1));
  code.call("solveSymmetricPosDef",
            {code.array(0), code.array(1), Code::decimal(n), Code::decimal(m), X, work});
}

void FactorAndSolveSymmetric::compute(frame::Args& args) const {
  double const* A = args.doubles(0);
  std::vector<double> copy(A, A + n * n), tau(n, 0.0), work(n * (n + 1), 0.0);
  std::vector<int> piv(n, 0);
  double* x = args.output(static_cast<int>(n));
  factorAndSolveSymmetric(copy.data(), static_cast<unsigned>(n), tau.data(), piv.data(),
                          args.doubles(1), x, work.data());
}

void FactorAndSolveSymmetric::code(Code& code) const {
  std::string x = code.output(ct::ScalarType::Double, count(n, 1));
  std::string copy = code.temporary(ct::ScalarType::Double, count(n, n));
  std::string tau = code.temporary(ct::ScalarType::Double, count(n, 1));
  std::string piv = code.temporary(ct::ScalarType::Int, count(n, 1));
  std::string work = code.temporary(ct::ScalarType::Double, count(n, n + 1));
  code.line(memcpyLine(copy, code.array(0), n * n));
  code.call("factorAndSolveSymmetric", {copy, Code::decimal(n), tau, piv, code.array(1), x, work});
}

void FactorAndSolveWide::compute(frame::Args& args) const {
  double const* A = args.doubles(0);
  std::vector<double> copy(A, A + m * n), tau(m, 0.0), work(m, 0.0), x(std::max(m, n), 0.0);
  std::vector<int> piv(m, 0);
  factorAndSolveWide(static_cast<unsigned>(m), static_cast<unsigned>(n), copy.data(), tau.data(),
                     work.data(), piv.data(), args.doubles(1), args.scalar(2), x.data());
  std::copy_n(x.begin(), n, args.output(static_cast<int>(n)));
}

void FactorAndSolveWide::code(Code& code) const {
  std::string x = code.output(ct::ScalarType::Double, count(std::max(m, n), 1));
  std::string copy = code.temporary(ct::ScalarType::Double, count(m, n));
  std::string tau = code.temporary(ct::ScalarType::Double, count(m, 1));
  std::string piv = code.temporary(ct::ScalarType::Int, count(m, 1));
  std::string work = code.temporary(ct::ScalarType::Double, count(m, 1));
  code.line(memcpyLine(copy, code.array(0), m * n));
  code.call("factorAndSolveWide", {Code::decimal(m), Code::decimal(n), copy, tau, work, piv,
                                   code.array(1), code.size(2), x});
}

void geSolve2x2(TracedValue<double> const* A, TracedValue<double> const* b,
                TracedValue<double>* x) {
  frame::TracedCall<GeSolve2x2Op> call(GeSolve2x2{});
  call.array(A, 4, 4).array(b, 2, 2).output(x, 2, 2);
  call.run();
}

TracedValue<int> factorSymmetricPosDef(TracedValue<double>* A, unsigned long n,
                                       TracedValue<double>* /*work*/) {
  if (n == 0) return TracedValue<int>(0);
  unsigned elements = count(n, n);
  TracedValue<int> flag;
  frame::TracedCall<FactorSymmetricPosDefOp> call(FactorSymmetricPosDef{n});
  call.neverFold().array(A, elements, elements);
  call.output(&flag, 1, 1).output(A, elements, elements);
  call.run();
  return flag;
}

void solveSymmetricPosDef(TracedValue<double> const* L, TracedValue<double> const* B,
                          unsigned long n, unsigned long m, TracedValue<double>* X,
                          TracedValue<double>* /*work*/) {
  if (n == 0) return;
  // Zero right-hand sides would fold every quotient away; one node keeps
  // the solve as a whole.
  bool zeroColumns = m > 1 && std::all_of(B, B + m, [](TracedValue<double> const& v) {
                       return v.equalConstant(0.0);
                     });
  if (n == 1 && !zeroColumns) {
    for (unsigned long i = 0; i < m; ++i) X[i] = B[i] / L[0];
    return;
  }
  unsigned elements = count(n, m);
  frame::TracedCall<SolveSymmetricPosDefOp> call(SolveSymmetricPosDef{n, m});
  call.neverFold().array(L, count(n, n), count(n, n)).array(B, elements, elements);
  call.output(X, elements, elements);
  call.run();
}

void factorAndSolveSymmetric(TracedValue<double>* A, unsigned long n, TracedValue<double>* /*tau*/,
                             TracedValue<int>* /*piv*/, TracedValue<double> const* b,
                             TracedValue<double>* x, TracedValue<double>* /*work*/) {
  frame::TracedCall<FactorAndSolveSymmetricOp> call(FactorAndSolveSymmetric{n});
  call.neverFold().array(A, count(n, n), count(n, n)).array(b, count(n, 1), n);
  call.output(x, count(n, 1), n);
  call.run();
}

void factorAndSolveWide(unsigned long m, unsigned long n, TracedValue<double>* A,
                        TracedValue<double>* /*tau*/, TracedValue<double>* /*work*/,
                        TracedValue<int>* /*piv*/, TracedValue<double> const* b,
                        TracedValue<double> const& tol, TracedValue<double>* x) {
  frame::TracedCall<FactorAndSolveWideOp> call(FactorAndSolveWide{m, n});
  call.neverFold().array(A, count(m, n), count(m, n)).array(b, count(m, 1), m);
  call.scalar(tol);
  call.output(x, count(n, 1), n);
  call.run();
}

// ---------------------------------------------------------------------------
// Derivative rules
// ---------------------------------------------------------------------------
// Solves differentiate as dx = A^{-1} (db - dA x), reverse b^ = A^{-T} x^,
// A^ = -b^ x^T, with the primal's factor where the node has one. Matrices
// read as symmetric from their lower triangle get symmetrized tangents and
// fold their cotangents onto that triangle.

namespace {

using Array = ct::TracedArray;

Array zeros(std::size_t n) { return Array(n, TracedValue<double>(0.0)); }

// -u v^T for column vectors u and v, column-major.
Array negatedOuter(Array const& u, Array const& v) {
  return multiplyConstant(0, u.size(), 1, v.size(), difference(zeros(u.size()), u), v);
}

// A^{-1} B from the factor F (n >= 2), n by m.
Array solveFactored(Array const& F, Array const& B, unsigned long n, unsigned long m) {
  Array X(n * m);
  solveSymmetricPosDef(F.data(), B.data(), n, m, X.data(), nullptr);
  return X;
}

}  // namespace

void GeSolve2x2::jvp(ct::ForwardArgs& d) const {
  if (d.isZero(0) && d.isZero(1)) return;
  Array r = d.tangent(1), A = d.array(0), x = d.output(0, 2);
  if (!d.isZero(0)) r = difference(r, multiplyConstant(0, 2, 2, 1, d.tangent(0), x));
  Array dx(2);
  geSolve2x2(A.data(), r.data(), dx.data());
  d.setOutputTangent(0, dx);
}

void GeSolve2x2::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(0)) return;
  Array A = d.array(0), w = d.cotangent(0, 2), lambda(2);
  std::swap(A[1], A[2]);
  geSolve2x2(A.data(), w.data(), lambda.data());
  d.add(1, lambda);
  d.add(0, negatedOuter(lambda, d.output(0, 2)));
}

// dL = L Phi(L^{-1} dA L^{-T}), Phi taking the lower triangle with half its
// diagonal; L^{-T} = A^{-1} L is one solve with the factor, shared by every
// sweep. The factor's upper triangle is the input's lower one mirrored.
void FactorSymmetricPosDef::jvp(ct::ForwardArgs& d) const {
  if (d.isZero(0)) return;
  Array dA = d.tangent(0), F = d.output(1, count(n, n));
  Array dF = dA;
  if (n > 1) {
    Array L = lowerPart(F, n), Y = solveFactored(F, L, n, n);
    Array M =
        multiplyConstant(1, n, n, n, Y, multiplyConstant(0, n, n, n, symmetricFromLower(dA, n), Y));
    for (unsigned long j = 0; j < n; ++j) M[j + n * j] = 0.5 * M[j + n * j];
    Array dL = multiplyConstant(0, n, n, n, L, lowerPart(M, n));
    dF = symmetricFromLower(dA, n);  // the mirrored upper triangle
    for (unsigned long j = 0; j < n; ++j)
      for (unsigned long i = j; i < n; ++i) dF[i + n * j] = dL[i + n * j];
  }
  d.setOutputTangent(1, dF);
}

// A^ = L^{-T} Phi(L^T L^) L^{-1}, folded onto the lower triangle read.
void FactorSymmetricPosDef::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(1)) return;
  Array W = d.cotangent(1, count(n, n));
  if (n == 1) return d.add(0, W);
  Array F = d.output(1, count(n, n)), L = lowerPart(F, n), Y = solveFactored(F, L, n, n);
  Array P = multiplyConstant(1, n, n, n, L, lowerPart(W, n));
  for (unsigned long j = 0; j < n; ++j) P[j + n * j] = 0.5 * P[j + n * j];
  Array G = multiplyConstant(2, n, n, n, multiplyConstant(0, n, n, n, Y, lowerPart(P, n)), Y);
  for (unsigned long j = 1; j < n; ++j)  // the mirrored upper triangle
    for (unsigned long i = 0; i < j; ++i) G[j + n * i] = G[j + n * i] + W[i + n * j];
  d.add(0, foldOntoLower(G, n));
}

// A = L L^T, so dA = dL L^T + L dL^T. A node of order 1 exists only for
// zero right-hand sides (others divide as scalars): X = 0 whatever L is.
void SolveSymmetricPosDef::jvp(ct::ForwardArgs& d) const {
  bool dL = !d.isZero(0), dB = !d.isZero(1);
  if ((!dL && !dB) || n == 1) return;
  Array F = d.array(0), r = d.tangent(1);
  if (dL) {
    Array L = lowerPart(F, n), dLower = lowerPart(d.tangent(0), n), X = d.output(0, count(n, m));
    Array dAX = sum(multiplyConstant(0, n, n, m, dLower, multiplyConstant(1, n, n, m, L, X)),
                    multiplyConstant(0, n, n, m, L, multiplyConstant(1, n, n, m, dLower, X)));
    r = difference(r, dAX);
  }
  d.setOutputTangent(0, solveFactored(F, r, n, m));
}

// B^ = A^{-1} X^ =: Y, L^ = -(Y X^T + X Y^T) L below the diagonal.
void SolveSymmetricPosDef::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(0) || n == 1) return;
  Array F = d.array(0), X = d.output(0, count(n, m)), W = d.cotangent(0, count(n, m));
  Array Y = solveFactored(F, W, n, m), L = lowerPart(F, n);
  d.add(1, Y);
  if (!varies(F)) return;
  // One product of inner dimension 2m: [Y X] times [-X^T L; -Y^T L].
  Array XtL = multiplyConstant(1, n, m, n, X, L), YtL = multiplyConstant(1, n, m, n, Y, L);
  Array YX = Y, right(2 * m * n);
  YX.insert(YX.end(), X.begin(), X.end());
  for (unsigned long j = 0; j < n; ++j)
    for (unsigned long r = 0; r < m; ++r) {
      right[r + 2 * m * j] = -XtL[r + m * j];
      right[m + r + 2 * m * j] = -YtL[r + m * j];
    }
  d.add(0, lowerPart(multiplyConstant(0, n, 2 * m, n, YX, right), n));
}

// A is read as symmetric from its lower triangle (on the QR route too); a
// derivative solves once more with the node's own kernel, whose
// factorization stays inside it.
void FactorAndSolveSymmetric::jvp(ct::ForwardArgs& d) const {
  if (d.isZero(0) && d.isZero(1)) return;
  Array A = d.array(0), x = d.output(0, count(n, 1)), r = d.tangent(1), dx(n);
  if (!d.isZero(0))
    r = difference(r, multiplyConstant(0, n, n, 1, symmetricFromLower(d.tangent(0), n), x));
  factorAndSolveSymmetric(A.data(), n, nullptr, nullptr, r.data(), dx.data(), nullptr);
  d.setOutputTangent(0, dx);
}

void FactorAndSolveSymmetric::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(0)) return;
  Array A = d.array(0), w = d.cotangent(0, count(n, 1)), lambda(n);
  factorAndSolveSymmetric(A.data(), n, nullptr, nullptr, w.data(), lambda.data(), nullptr);
  d.add(1, lambda);
  d.add(0, foldOntoLower(negatedOuter(lambda, d.output(0, count(n, 1))), n));
}

// The system M (m by n, A holding M^T) at full row rank: x = M^T y with
// y = (M M^T)^{-1} b, so dx = M^+ (db - dM x - M dM^T y) + dM^T y. M^+ is one
// more call of the kernel; y comes from the normal equations, the same for
// every sweep. The tolerance has zero derivative.
namespace {

Array normalSolve(unsigned long m, unsigned long n, Array const& A, Array const& rhs) {
  Array MMt = multiplyConstant(1, n, m, m, A, A), y(m);
  factorAndSolveSymmetric(MMt.data(), m, nullptr, nullptr, rhs.data(), y.data(), nullptr);
  return y;
}

}  // namespace

void FactorAndSolveWide::jvp(ct::ForwardArgs& d) const {
  if ((d.isZero(0) && d.isZero(1)) || m == 0) return;
  Array A = d.array(0), r = d.tangent(1), dx(n), dAy;
  if (!d.isZero(0)) {
    Array dA = d.tangent(0), x = d.output(0, count(n, 1));
    dAy = multiplyConstant(0, n, m, 1, dA, normalSolve(m, n, A, d.array(1)));
    r = difference(r,
                   sum(multiplyConstant(1, n, m, 1, dA, x), multiplyConstant(1, n, m, 1, A, dAy)));
  }
  factorAndSolveWide(m, n, A.data(), nullptr, nullptr, nullptr, r.data(), d.scalar(2), dx.data());
  d.setOutputTangent(0, dAy.empty() ? dx : sum(dx, dAy));
}

// b^ = mu = (M M^T)^{-1} M x^, A^ = -x mu^T + (x^ - A mu) y^T.
void FactorAndSolveWide::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(0) || m == 0) return;
  Array A = d.array(0), w = d.cotangent(0, count(n, 1));
  Array mu = normalSolve(m, n, A, multiplyConstant(1, n, m, 1, A, w));
  d.add(1, mu);
  if (!varies(A)) return;
  Array y = normalSolve(m, n, A, d.array(1)), x = d.output(0, count(n, 1));
  d.add(0,
        sum(multiplyConstant(0, n, 1, m, x, difference(zeros(m), mu)),
            multiplyConstant(0, n, 1, m, difference(w, multiplyConstant(0, n, m, 1, A, mu)), y)));
}

}  // namespace vela::math
