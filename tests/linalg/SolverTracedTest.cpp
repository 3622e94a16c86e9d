#include <gtest/gtest.h>

#include <limits>
#include <typeinfo>

#include "linalg/SolverOps.hpp"
#include "linalg/SolverTesting.hpp"
#include "support/ThreePaths.hpp"
#include "vela/math.hpp"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using ct::TracedDouble;
using ct::TracedInt;
using vela::test::Case;
using namespace vela::test::solvers;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <class Op>
Op const* nodeOf(TracedDouble const& element) {
  if (element.isConstant()) return nullptr;
  auto const& access = *element.operation();
  return access.inputCount() ? dynamic_cast<Op const*>(access.input(0).get()) : nullptr;
}

std::vector<TracedDouble> inputs(char const* prefix, unsigned n) {
  std::vector<TracedDouble> v;
  for (unsigned i = 0; i < n; ++i) v.push_back(TracedDouble::input(prefix + std::to_string(i)));
  return v;
}

std::vector<TracedDouble> constants(Matrix const& values) {
  return std::vector<TracedDouble>(values.begin(), values.end());
}

Matrix concat(std::initializer_list<Matrix> parts) {
  Matrix all;
  for (Matrix const& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

bool contains(std::string const& text, std::string const& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

TEST(SolverTraced, GeSolve2x2FoldsOrRecords) {
  Matrix a = {2.0, 1.0, -1.0, 3.0}, b = {1.0, 4.0}, expected(2);
  vm::geSolve2x2(a.data(), b.data(), expected.data());
  std::vector<TracedDouble> A = constants(a), B = constants(b), x(2);
  vm::geSolve2x2(A.data(), B.data(), x.data());
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(x[i].equalConstant(expected[i])) << i;

  A[3] = TracedDouble::input("a3");
  vm::geSolve2x2(A.data(), B.data(), x.data());
  auto const* node = nodeOf<vm::GeSolve2x2Op>(x[0]);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node, nodeOf<vm::GeSolve2x2Op>(x[1]));
  EXPECT_EQ(node->description(), "GeSolve2x2");
  ASSERT_EQ(node->inputCount(), 2u);
  EXPECT_EQ(dynamic_cast<ct::CollectOp const&>(*node->input(0)).size(), 4u);
  EXPECT_EQ(dynamic_cast<ct::CollectOp const&>(*node->input(1)).size(), 2u);
  ct::BindingSet bindings;
  bindings.bind("a3", 3.0);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(x[i].evaluate(bindings), expected[i]);
}

TEST(SolverTraced, FactorSymmetricPosDefNeverFolds) {
  std::vector<TracedDouble> work = constants({-1.0, -1.0});
  EXPECT_TRUE(vm::factorSymmetricPosDef(nullptr, 0ul, work.data()).equalConstant(0));

  // Constant input still records, n = 1 included.
  for (Matrix a : {Matrix{2.0}, Matrix{-1.0}, Matrix{4.0, 2.0, 2.0, 5.0}}) {
    unsigned n = a.size() == 1 ? 1 : 2;
    std::vector<TracedDouble> A = constants(a);
    TracedInt flag = vm::factorSymmetricPosDef(A.data(), n, work.data());
    EXPECT_FALSE(flag.isConstant());
    auto const* node = nodeOf<vm::FactorSymmetricPosDefOp>(A[0]);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->description(), "FactorSymmetric");
    EXPECT_EQ(dynamic_cast<ct::CollectOp const&>(*node->input(0)).size(), n * n);
    Matrix expected = a;
    Matrix numericWork(n);
    bool failed = vm::factorSymmetricPosDef(expected.data(), n, numericWork.data());
    ct::BindingSet none;
    EXPECT_EQ(flag.evaluate(none), failed ? 1 : 0);
    for (unsigned k = 0; k < n * n; ++k) EXPECT_EQ(A[k].evaluate(none), expected[k]);
  }
  for (auto const& w : work) EXPECT_TRUE(w.equalConstant(-1.0));
}

TEST(SolverTraced, SolveSymmetricOfOrderOneDividesUnlessTheRightSidesAreZero) {
  std::vector<TracedDouble> L = {TracedDouble::input("l")}, work(1);
  ct::BindingSet bindings;
  bindings.bind("l", 4.0);
  std::vector<TracedDouble> zeros = constants({0.0, 0.0}), X(2);
  vm::solveSymmetricPosDef(L.data(), zeros.data(), 1, 2, X.data(), work.data());
  auto const* node = nodeOf<vm::SolveSymmetricPosDefOp>(X[0]);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node, nodeOf<vm::SolveSymmetricPosDefOp>(X[1]));
  EXPECT_EQ(node->description(), "SolveSymmetric");
  EXPECT_EQ(X[1].evaluate(bindings), 0.0);

  std::vector<TracedDouble> B = constants({0.0, 1.0});
  vm::solveSymmetricPosDef(L.data(), B.data(), 1, 2, X.data(), work.data());
  for (auto const& x : X) EXPECT_EQ(nodeOf<vm::SolveSymmetricPosDefOp>(x), nullptr);
  EXPECT_EQ(X[0].evaluate(bindings), 0.0);
  EXPECT_EQ(X[1].evaluate(bindings), 0.25);
  // One zero right-hand side divides as well.
  vm::solveSymmetricPosDef(L.data(), zeros.data(), 1, 1, X.data(), work.data());
  EXPECT_EQ(nodeOf<vm::SolveSymmetricPosDefOp>(X[0]), nullptr);

  std::vector<TracedDouble> untouched = constants({7.0});
  vm::solveSymmetricPosDef(L.data(), B.data(), 0, 2, untouched.data(), work.data());
  EXPECT_TRUE(untouched[0].equalConstant(7.0));
}

TEST(SolverTraced, SolvesRecordOverConstantsAndLeaveTheirScratchAlone) {
  Matrix a = symmetricWithSpectrum({1.0, 2.0, 3.0}, 1), b = {1.0, -1.0, 2.0};
  std::vector<TracedDouble> A = constants(a), B = constants(b), x(3), tau = constants({9, 9, 9});
  std::vector<TracedDouble> work = constants(Matrix(12, 9.0));
  std::vector<TracedInt> piv(3, TracedInt(9));
  vm::factorAndSolveSymmetric(A.data(), 3, tau.data(), piv.data(), B.data(), x.data(), work.data());
  auto const* symmetric = nodeOf<vm::FactorAndSolveSymmetricOp>(x[2]);
  ASSERT_NE(symmetric, nullptr);
  EXPECT_EQ(symmetric->description(), "FactorAndSolveSymmetric");
  for (unsigned k = 0; k < 9; ++k) EXPECT_TRUE(A[k].equalConstant(a[k]));

  TracedDouble tol = TracedDouble::input("tol");
  std::vector<TracedDouble> xw(3);
  vm::factorAndSolveWide(2, 3, A.data(), tau.data(), work.data(), piv.data(), B.data(), tol,
                         xw.data());
  auto const* wide = nodeOf<vm::FactorAndSolveWideOp>(xw[2]);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide->description(), "FactorAndSolveWide");
  ASSERT_EQ(wide->inputCount(), 3u);
  EXPECT_EQ(dynamic_cast<ct::CollectOp const&>(*wide->input(0)).size(), 6u);
  EXPECT_EQ(dynamic_cast<ct::CollectOp const&>(*wide->input(1)).size(), 2u);
  EXPECT_TRUE(wide->input(2)->isScalar());

  for (auto const& t : tau) EXPECT_TRUE(t.equalConstant(9.0));
  for (auto const& w : work) EXPECT_TRUE(w.equalConstant(9.0));
  for (auto const& p : piv) EXPECT_TRUE(p.equalConstant(9));
  for (unsigned k = 0; k < 9; ++k) EXPECT_TRUE(A[k].equalConstant(a[k]));

  // Evaluation: the Numeric kernels on copies.
  Matrix expected(3), copy = a, t(3), w(12), expectedWide(3);
  std::vector<int> p(3);
  vm::factorAndSolveSymmetric(copy.data(), 3, t.data(), p.data(), b.data(), expected.data(),
                              w.data());
  copy = a;
  vm::factorAndSolveWide(2, 3, copy.data(), t.data(), w.data(), p.data(), b.data(), 1e-12,
                         expectedWide.data());
  ct::BindingSet bindings;
  bindings.bind("tol", 1e-12);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(x[k].evaluate(bindings), expected[k]);
    EXPECT_EQ(xw[k].evaluate(bindings), expectedWide[k]);
  }
}

TEST(SolverTraced, CompareByFieldsInOrderAndClone) {
  std::vector<TracedDouble> v = inputs("v", 4);
  auto values = std::make_shared<ct::CollectOp>(4, v.data(), "");
  ct::OperationPtr tol = TracedDouble::input("tol").operation();
  vm::GeSolve2x2Op g1(values, values), g2(values, values);
  vm::FactorSymmetricPosDefOp f3(3, values), f4(4, values);
  vm::SolveSymmetricPosDefOp s35(3, 5, values, values), s41(4, 1, values, values),
      s32(3, 2, values, values);
  vm::FactorAndSolveSymmetricOp y2(2, values, values), y3(3, values, values);
  vm::FactorAndSolveWideOp w25(2, 5, values, values, tol), w31(3, 1, values, values, tol),
      w23(2, 3, values, values, tol);
  EXPECT_EQ(g1.compare_(g2), 0);
  EXPECT_EQ(g1.compare_(f3), 0);  // no fields: the base comparison
  EXPECT_EQ(f3.compare_(f4), -1);
  EXPECT_EQ(f4.compare_(f3), 1);
  EXPECT_EQ(s35.compare_(s41), -1);  // n first
  EXPECT_EQ(s35.compare_(s32), 1);   // then m
  EXPECT_EQ(y3.compare_(y2), 1);
  EXPECT_EQ(w25.compare_(w31), -1);  // m first
  EXPECT_EQ(w25.compare_(w23), 1);   // then n
  EXPECT_EQ(w23.compare_(w23), 0);
  EXPECT_THROW(f3.compare_(y3), std::bad_cast);
  EXPECT_THROW(w25.compare_(s35), std::bad_cast);

  std::vector<ct::Operation const*> nodes = {&g1, &f4, &s32, &y2, &w31};
  for (ct::Operation const* node : nodes) {
    ct::OperationPtr copy = node->clone();
    EXPECT_EQ(typeid(*copy), typeid(*node));
    EXPECT_NE(copy.get(), node);
    EXPECT_EQ(copy->compare_(*node), 0);
    EXPECT_EQ(copy->description(), node->description());
    ASSERT_EQ(copy->inputCount(), node->inputCount());
    for (std::size_t i = 0; i < node->inputCount(); ++i) EXPECT_EQ(copy->input(i), node->input(i));
  }
}

TEST(SolverThreePaths, GeSolve2x2) {
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    std::vector<S> A = in.doubles(0, 4), b = in.doubles(4, 2), x(2);
    vm::geSolve2x2(A.data(), b.data(), x.data());
    return x;
  };
  std::vector<Case> cases = {{{1e-20, 1.0, 1.0, 1.0, 1.0, 2.0}, {}},
                             {{1.0, 2.0, 2.0, 4.0, 1.0, 0.0}, {}},  // singular
                             {{0.0, 0.0, 0.0, 0.0, 1.0, -0.0}, {}},
                             {{kNaN, 1.0, 2.0, 3.0, 1.0, 1.0}, {}}};
  for (unsigned seed = 0; seed < 4; ++seed)
    cases.push_back({vela::test::randomDoubles(6, seed), {}});
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_TRUE(contains(result.code, "geSolve2x2(")) << result.code;
}

TEST(SolverThreePaths, FactorAndSolveSymmetricPosDef) {
  // The factor feeds the solve of two right-hand sides.
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using I = typename std::decay_t<decltype(in)>::Integer;
    std::vector<S> A = in.doubles(0, 16), B = in.doubles(16, 8), X(8), work(4);
    I flag = vm::factorSymmetricPosDef(A.data(), 4u, work.data());
    vm::solveSymmetricPosDef(A.data(), B.data(), 4u, 2u, X.data(), work.data());
    std::vector<S> out = {S(flag)};
    out.insert(out.end(), A.begin(), A.end());
    out.insert(out.end(), X.begin(), X.end());
    return out;
  };
  std::mt19937 generator(7);
  Matrix b = randomMatrix(4, 2, generator);
  Matrix nanEntry = symmetricWithSpectrum({1.0, 2.0, 3.0, 4.0}, 2);
  nanEntry[6] = kNaN;
  std::vector<Case> cases = {{concat({symmetricWithSpectrum(spread(4, 10.0), 1), b}), {}},
                             {concat({symmetricWithSpectrum(spread(4, 1e7), 2), b}), {}},
                             {concat({symmetricWithSpectrum(spread(4, 1e9), 3), b}), {}},
                             {concat({symmetricWithSpectrum({1.0, -1.0, 2.0, 3.0}, 4), b}), {}},
                             {concat({nanEntry, b}), {}}};
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_TRUE(contains(result.code, " = factorSymmetricPosDef(")) << result.code;
  EXPECT_TRUE(contains(result.code, ", 4, 2, ")) << result.code;
  // The collect of A is read by the factorization alone: it is overwritten.
  EXPECT_FALSE(contains(result.code, "16 * sizeof(double)")) << result.code;
}

TEST(SolverThreePaths, FactorCopiesAMatrixThatIsReadLater) {
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using I = typename std::decay_t<decltype(in)>::Integer;
    std::vector<S> A = in.doubles(0, 9), original = A, work(12), tau(3), b = in.doubles(9, 3), x(3);
    std::vector<I> piv(3);
    I flag = vm::factorSymmetricPosDef(A.data(), 3u, work.data());
    vm::factorAndSolveSymmetric(original.data(), 3u, tau.data(), piv.data(), b.data(), x.data(),
                                work.data());
    std::vector<S> out = {S(flag)};
    out.insert(out.end(), A.begin(), A.end());
    out.insert(out.end(), x.begin(), x.end());
    return out;
  };
  Matrix a = symmetricWithSpectrum({1.0, 2.0, 5.0}, 3);
  auto result = vela::test::checkThreePaths(compute, {{concat({a, {1.0, 2.0, 3.0}}), {}}});
  // The shared collect of A outlives the factorization: it works on a copy.
  std::size_t factor = result.code.find(" = factorSymmetricPosDef(");
  ASSERT_NE(factor, std::string::npos) << result.code;
  EXPECT_NE(result.code.rfind("9 * sizeof(double));", factor), std::string::npos) << result.code;
}

TEST(SolverThreePaths, SolveOfOrderOneOverZeroRightHandSides) {
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    std::vector<S> L = in.doubles(0, 1), B = {S(0.0), S(0.0), S(0.0)}, X(3), work(1);
    vm::solveSymmetricPosDef(L.data(), B.data(), 1u, 3u, X.data(), work.data());
    return X;
  };
  auto result =
      vela::test::checkThreePaths(compute, {{{4.0}, {}}, {{-0.0}, {}}, {{kNaN}, {}}, {{0.5}, {}}});
  EXPECT_TRUE(contains(result.code, "solveSymmetricPosDef(")) << result.code;
}

TEST(SolverThreePaths, FactorAndSolveSymmetric) {
  for (unsigned n : {1u, 4u}) {
    auto compute = [n](auto const& in) {
      using S = typename std::decay_t<decltype(in)>::Scalar;
      using I = typename std::decay_t<decltype(in)>::Integer;
      std::vector<S> A = in.doubles(0, n * n), b = in.doubles(n * n, n), x(n), tau(n),
                     work(n * (n + 1));
      std::vector<I> piv(n);
      vm::factorAndSolveSymmetric(A.data(), n, tau.data(), piv.data(), b.data(), x.data(),
                                  work.data());
      return x;
    };
    std::mt19937 generator(n);
    std::vector<Case> cases;
    if (n == 1) {
      for (double a : {2.0, 0.0, -0.0, kNaN, -3.0}) cases.push_back({{a, 1.5}, {}});
    } else {
      std::vector<double> singular = spread(4, 10.0);
      singular[2] = 0.0;
      Matrix nanEntry = symmetricWithSpectrum(spread(4, 10.0), 5);
      nanEntry[5] = kNaN;
      for (Matrix a : {symmetricWithSpectrum(spread(4, 100.0), 1),       // Cholesky
                       symmetricWithSpectrum(spread(4, 3e7), 2),         // QR by the condition
                       symmetricWithSpectrum({2.0, -1.0, 1.0, 3.0}, 3),  // indefinite
                       symmetricWithSpectrum(singular, 4), nanEntry})
        cases.push_back({concat({a, randomMatrix(n, 1, generator)}), {}});
    }
    auto result = vela::test::checkThreePaths(compute, cases);
    std::string size = std::to_string(n);
    EXPECT_TRUE(contains(result.code, ", " + std::to_string(n * n) + " * sizeof(double));"))
        << result.code;
    EXPECT_TRUE(contains(result.code, "factorAndSolveSymmetric(")) << result.code;
    EXPECT_TRUE(contains(result.code, ", " + size + ", ")) << result.code;
  }
}

TEST(SolverThreePaths, FactorAndSolveWide) {
  struct Shape {
    unsigned m, n;
  };
  for (Shape s : {Shape{2, 3}, Shape{3, 5}, Shape{3, 2}}) {
    unsigned m = s.m, n = s.n;
    auto compute = [m, n](auto const& in) {
      using S = typename std::decay_t<decltype(in)>::Scalar;
      using I = typename std::decay_t<decltype(in)>::Integer;
      std::vector<S> A = in.doubles(0, m * n), b = in.doubles(m * n, m), tau(m), work(m),
                     x(std::max(m, n));
      std::vector<I> piv(m);
      vm::factorAndSolveWide(m, n, A.data(), tau.data(), work.data(), piv.data(), b.data(),
                             in.d(m * n + m), x.data());
      x.resize(n);
      return x;
    };
    std::mt19937 generator(m * 10 + n);
    std::vector<Case> cases;
    for (double tol : {1e-12, 1e-3, 0.9}) {
      Matrix a = randomMatrix(n, m, generator);
      if (tol == 1e-3)  // nearly dependent equations
        for (unsigned i = 0; i < n; ++i) at(a, n, i, m - 1) = at(a, n, i, 0) * (1 + 1e-6);
      cases.push_back({concat({a, randomMatrix(m, 1, generator), {tol}}), {}});
    }
    cases.push_back({concat({Matrix(m * n, kNaN), Matrix(m, 1.0), {1e-12}}), {}});
    auto result = vela::test::checkThreePaths(compute, cases);
    std::string line = "factorAndSolveWide(" + std::to_string(m) + ", " + std::to_string(n) + ", ";
    EXPECT_TRUE(contains(result.code, line)) << result.code;
    EXPECT_TRUE(contains(result.code, ", " + std::to_string(m * n) + " * sizeof(double));"));
  }
}
