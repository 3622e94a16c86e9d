#include <gtest/gtest.h>

#include <limits>

#include "linalg/SolverOps.hpp"
#include "linalg/SolverTesting.hpp"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "support/TracedNodes.hpp"
#include "vela/math.hpp"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using ct::TracedDouble;
using ct::TracedInt;
using vela::test::Case;
using namespace vela::test::solvers;
using vela::test::collectSize;
using vela::test::expectClone;
using vela::test::expectOrdered;
using vela::test::nodeOf;

namespace {

using vela::test::kNaN;

Matrix concat(std::initializer_list<Matrix> parts) {
  Matrix all;
  for (Matrix const& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

bool contains(std::string const& text, std::string const& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

TEST(SolverTraced, FoldOrRecord) {
  ct::BindingSet bindings;
  bindings.bind("t", 3.0);
  bindings.bind("l", 4.0);
  // geSolve2x2 folds constants, else records one node.
  Matrix a = {2.0, 1.0, -1.0, 3.0}, b = {1.0, 4.0}, expected(2);
  vm::geSolve2x2(a.data(), b.data(), expected.data());
  std::vector<TracedDouble> A(a.begin(), a.end()), B(b.begin(), b.end()), x(2);
  vm::geSolve2x2(A.data(), B.data(), x.data());
  EXPECT_TRUE(x[0].equalConstant(expected[0]) && x[1].equalConstant(expected[1]));
  A[3] = TracedDouble::input("t");
  vm::geSolve2x2(A.data(), B.data(), x.data());
  auto const* solve2 = nodeOf<vm::GeSolve2x2Op>(x[1]);
  ASSERT_NE(solve2, nullptr);
  EXPECT_EQ(solve2, nodeOf<vm::GeSolve2x2Op>(x[0]));
  EXPECT_EQ(solve2->description(), "GeSolve2x2");
  EXPECT_EQ(collectSize(*solve2, 0) * 10 + collectSize(*solve2, 1), 42u);
  EXPECT_EQ(x[0].evaluate(bindings), expected[0]);

  // factorSymmetricPosDef: order 0 is the constant 0; any other records,
  // constants and order 1 included, and A reads the factor.
  std::vector<TracedDouble> work(4, TracedDouble(-1.0));
  EXPECT_TRUE(vm::factorSymmetricPosDef(nullptr, 0ul, work.data()).equalConstant(0));
  for (Matrix m : {Matrix{-1.0}, Matrix{4.0, 2.0, 2.0, 5.0}}) {
    unsigned n = m.size() == 1 ? 1 : 2;
    std::vector<TracedDouble> M(m.begin(), m.end());
    TracedInt flag = vm::factorSymmetricPosDef(M.data(), n, work.data());
    auto const* factor = nodeOf<vm::FactorSymmetricPosDefOp>(M[n * n - 1]);
    ASSERT_NE(factor, nullptr);
    EXPECT_EQ(factor->description(), "FactorSymmetric");
    bool failed = vm::factorSymmetricPosDef(m.data(), n, expected.data());
    EXPECT_EQ(flag.evaluate(bindings), failed ? 1 : 0);
    for (unsigned k = 0; k < n * n; ++k) EXPECT_EQ(M[k].evaluate(bindings), m[k]);
  }

  // solveSymmetricPosDef of order 1 divides, but records for m > 1 zeros.
  TracedDouble L = TracedDouble::input("l");
  std::vector<TracedDouble> zeros(2, TracedDouble(0.0)), zeroOne = {0.0, 1.0}, X(2);
  vm::solveSymmetricPosDef(&L, zeros.data(), 1, 2, X.data(), work.data());
  auto const* solve = nodeOf<vm::SolveSymmetricPosDefOp>(X[1]);
  ASSERT_NE(solve, nullptr);
  EXPECT_EQ(solve->description(), "SolveSymmetric");
  vm::solveSymmetricPosDef(&L, zeroOne.data(), 1, 2, X.data(), work.data());
  EXPECT_TRUE(nodeOf<vm::SolveSymmetricPosDefOp>(X[0]) == nullptr &&
              nodeOf<vm::SolveSymmetricPosDefOp>(X[1]) == nullptr);
  EXPECT_EQ(X[1].evaluate(bindings), 0.25);
  vm::solveSymmetricPosDef(&L, zeros.data(), 1, 1, X.data(), work.data());
  EXPECT_EQ(nodeOf<vm::SolveSymmetricPosDefOp>(X[0]), nullptr);

  // The robust solves record over constants and touch neither A nor scratch.
  std::vector<TracedDouble> C(9, TracedDouble(1.0)), tau(3, TracedDouble(-1.0)), y(3),
      b3 = {1.0, L, 3.0};
  std::vector<TracedInt> piv(3, TracedInt(-1));
  vm::factorAndSolveSymmetric(C.data(), 3, tau.data(), piv.data(), b3.data(), y.data(),
                              work.data());
  auto const* symmetric = nodeOf<vm::FactorAndSolveSymmetricOp>(y[2]);
  ASSERT_NE(symmetric, nullptr);
  EXPECT_EQ(symmetric->description(), "FactorAndSolveSymmetric");
  vm::factorAndSolveWide(2, 3, C.data(), tau.data(), work.data(), piv.data(), B.data(), L,
                         y.data());
  auto const* wide = nodeOf<vm::FactorAndSolveWideOp>(y[2]);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide->description(), "FactorAndSolveWide");
  EXPECT_EQ(collectSize(*wide, 0) * 10 + collectSize(*wide, 1), 62u);
  EXPECT_TRUE(wide->input(2)->isScalar());
  for (auto const& v : C) EXPECT_TRUE(v.equalConstant(1.0));
  for (auto const& v : tau) EXPECT_TRUE(v.equalConstant(-1.0));
  for (auto const& v : work) EXPECT_TRUE(v.equalConstant(-1.0));
  for (auto const& v : piv) EXPECT_TRUE(v.equalConstant(-1));
}

TEST(SolverTraced, CompareByFieldsInOrderAndClone) {
  std::vector<TracedDouble> v(4, TracedDouble::input("v"));
  auto values = std::make_shared<ct::CollectOp>(4, v.data(), "");
  ct::OperationPtr tol = TracedDouble::input("tol").operation();
  vm::GeSolve2x2Op g(values, values);
  vm::FactorSymmetricPosDefOp f3(3, values), f4(4, values);
  vm::SolveSymmetricPosDefOp s35(3, 5, values, values), s41(4, 1, values, values),
      s32(3, 2, values, values);
  vm::FactorAndSolveSymmetricOp y2(2, values, values), y3(3, values, values);
  vm::FactorAndSolveWideOp w25(2, 5, values, values, tol), w31(3, 1, values, values, tol),
      w23(2, 3, values, values, tol);
  EXPECT_EQ(g.compare_(f3), 0);  // no fields: the base comparison
  expectOrdered(f3, f4);
  expectOrdered(s35, s41);  // n first
  expectOrdered(s32, s35);  // then m
  expectOrdered(y2, y3);
  expectOrdered(w25, w31);  // m first
  expectOrdered(w23, w25);  // then n
  EXPECT_THROW(f3.compare_(y3), std::bad_cast);
  for (ct::Operation const* node : std::vector<ct::Operation const*>{&g, &f4, &s32, &y2, &w31})
    expectClone(*node);
}

TEST(SolverThreePaths, GeSolve2x2) {
  auto compute = [](auto const& in) {
    auto A = in.doubles(0, 4), b = in.doubles(4, 2), x = b;
    vm::geSolve2x2(A.data(), b.data(), x.data());
    return x;
  };
  std::vector<Case> cases = {{{1e-20, 1.0, 1.0, 1.0, 1.0, 2.0}, {}},
                             {{1.0, 2.0, 2.0, 4.0, 1.0, 0.0}, {}},
                             {{kNaN, 1.0, 2.0, 3.0, 1.0, 1.0}, {}},
                             {vela::test::randomDoubles(6, 1), {}}};
  EXPECT_TRUE(contains(vela::test::checkThreePaths(compute, cases).code, "geSolve2x2("));
}

TEST(SolverThreePaths, SymmetricSolves) {
  // The factor of A feeds a solve with two right-hand sides; the robust
  // solve reads A itself (shared) or another matrix.
  for (bool shared : {false, true}) {
    auto compute = [shared](auto const& in) {
      using S = typename std::decay_t<decltype(in)>::Scalar;
      using I = typename std::decay_t<decltype(in)>::Integer;
      auto A = in.doubles(0, 16), other = in.doubles(shared ? 0 : 16, 16), B = in.doubles(32, 8);
      std::vector<S> X(8), tau(4), work(20), x(4);
      std::vector<I> piv(4);
      vm::factorAndSolveSymmetric(other.data(), 4u, tau.data(), piv.data(), B.data(), x.data(),
                                  work.data());
      std::vector<S> out = {S(vm::factorSymmetricPosDef(A.data(), 4u, work.data()))};
      vm::solveSymmetricPosDef(A.data(), B.data(), 4u, 2u, X.data(), work.data());
      for (auto const* part : {&A, &X, &x}) out.insert(out.end(), part->begin(), part->end());
      return out;
    };
    std::vector<double> singular = spread(4, 10.0);
    singular[2] = 0.0;
    Matrix nan = symmetricWithSpectrum(spread(4, 10.0), 5), b = randomMatrix(4, 2, 1);
    nan[6] = kNaN;
    std::vector<Matrix> matrices = {
        symmetricWithSpectrum(spread(4, 10.0), 1), symmetricWithSpectrum(spread(4, 3e7), 2),
        symmetricWithSpectrum({1.0, -1.0, 2.0, 3.0}, 4), symmetricWithSpectrum(singular, 3), nan};
    std::vector<Case> cases;
    for (std::size_t k = 0; k < matrices.size(); ++k)
      cases.push_back({concat({matrices[k], matrices[(k + 1) % matrices.size()], b}), {}});
    std::string code = vela::test::checkThreePaths(compute, cases).code;
    EXPECT_TRUE(contains(code, "solveSymmetricPosDef(") && contains(code, ", 4, 2, ")) << code;
    EXPECT_TRUE(contains(code, "factorAndSolveSymmetric(") && contains(code, ", 4, ")) << code;
    // The factorization overwrites the collect of A unless another node reads it.
    std::size_t factor = code.find(" = factorSymmetricPosDef(");
    ASSERT_NE(factor, std::string::npos) << code;
    std::size_t copies = 0;
    for (std::size_t at = code.find("16 * sizeof(double));"); at < factor;
         at = code.find("16 * sizeof(double));", at + 1))
      ++copies;
    EXPECT_EQ(copies, shared ? 1u : 0u) << code;
  }
}

TEST(SolverThreePaths, OrderOneSolves) {
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using I = typename std::decay_t<decltype(in)>::Integer;
    auto a = in.doubles(0, 1), b = in.doubles(1, 1);
    std::vector<S> zeros(3, S(0.0)), X(3), x(1), tau(1), work(2);
    std::vector<I> piv(1);
    vm::solveSymmetricPosDef(a.data(), zeros.data(), 1u, 3u, X.data(), work.data());
    vm::factorAndSolveSymmetric(a.data(), 1u, tau.data(), piv.data(), b.data(), x.data(),
                                work.data());
    X.push_back(x[0]);
    return X;
  };
  std::vector<Case> cases = {{{4.0, 1.0}, {}}, {{-0.0, 2.0}, {}}, {{kNaN, 1.0}, {}}};
  std::string code = vela::test::checkThreePaths(compute, cases).code;
  EXPECT_TRUE(contains(code, "solveSymmetricPosDef(") && contains(code, ", 1, 3, ")) << code;
}

TEST(SolverThreePaths, FactorAndSolveWide) {
  for (auto [m, n] : {std::pair{0u, 3u}, {2u, 3u}, {3u, 5u}, {3u, 2u}}) {
    auto compute = [m = m, n = n](auto const& in) {
      using S = typename std::decay_t<decltype(in)>::Scalar;
      using I = typename std::decay_t<decltype(in)>::Integer;
      auto A = in.doubles(0, m * n), b = in.doubles(m * n, m);
      std::vector<S> tau(m), work(m), x(std::max(m, n));
      std::vector<I> piv(m);
      vm::factorAndSolveWide(m, n, A.data(), tau.data(), work.data(), piv.data(), b.data(),
                             in.d(m * n + m), x.data());
      x.resize(n);
      return x;
    };
    std::vector<Case> cases;
    for (double tol : {1e-12, 1e-3, 0.9}) {
      Matrix a = randomMatrix(n, m, unsigned(tol * 1000));
      if (tol == 1e-3 && m > 1)  // nearly dependent equations
        for (unsigned i = 0; i < n; ++i) a[i + n * (m - 1)] = a[i] * (1 + 1e-6);
      cases.push_back({concat({a, randomMatrix(m, 1, 7), {tol}}), {}});
    }
    cases.push_back({concat({Matrix(m * n, kNaN), Matrix(m, 1.0), {1e-12}}), {}});
    std::string code = vela::test::checkThreePaths(compute, cases).code;
    std::string sizes = std::to_string(m) + ", " + std::to_string(n) + ", ";
    EXPECT_TRUE(contains(code, "factorAndSolveWide(" + sizes)) << code;
    EXPECT_TRUE(contains(code, ", " + std::to_string(m * n) + " * sizeof(double));")) << code;
    // No equations: the empty arrays must still compile cleanly (checked above).
    if (m == 0) {
      EXPECT_TRUE(contains(code, "spd_empty")) << code;
    }
  }
}
