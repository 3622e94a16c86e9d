#include "linalg/SolverOps.hpp"

#include <algorithm>
#include <vector>

#include "frame/TracedCall.hpp"
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

}  // namespace vela::math
