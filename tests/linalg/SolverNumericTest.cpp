#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "linalg/SolverTesting.hpp"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "vela/math.hpp"

namespace vm = vela::math;
using namespace vela::test::solvers;

namespace {

using vela::test::kNaN;

Matrix transpose(Matrix const& a, unsigned rows, unsigned cols) {
  Matrix t(a.size());
  for (unsigned i = 0; i < rows; ++i)
    for (unsigned j = 0; j < cols; ++j) t[j + cols * i] = a[i + rows * j];
  return t;
}

// |A x - b| relative to |A| |x| + |b|.
double relativeResidual(Matrix const& a, unsigned rows, unsigned cols, Matrix const& x,
                        Matrix const& b) {
  return maxAbs(residual(a, rows, cols, x, b)) / (maxAbs(a) * maxAbs(x) * cols + maxAbs(b));
}

// The reciprocal condition estimate of A, or -1 when Cholesky fails.
double estimate(Matrix a, unsigned n) {
  Matrix work(n);
  if (kelm_math_lin_alg_choleskyFactor(a.data(), int(n)) != 0) return -1.0;
  return kelm_math_lin_alg_conditionReciprocal(a.data(), int(n), 1, work.data());
}

// An SPD matrix whose estimate is near target, by bisection on its
// smallest eigenvalue.
Matrix matrixWithEstimate(unsigned n, double target) {
  std::vector<double> values(n, 1.0);
  double low = -14.0, high = -2.0;
  for (int step = 0; step < 60; ++step) {
    values[n - 1] = std::pow(10.0, 0.5 * (low + high));
    (estimate(symmetricWithSpectrum(values, 3), n) < target ? low : high) = 0.5 * (low + high);
  }
  return symmetricWithSpectrum(values, 3);
}

// factorAndSolveSymmetric; true when A ended as the Cholesky factor, false
// when it holds the pivoted QR factors of the matrix.
bool solveSymmetric(Matrix const& a, unsigned n, Matrix const& b, Matrix& x) {
  Matrix A = a, tau(n), work(n + n * n), cholesky = a, qr = a;
  std::vector<int> piv(n, 7), qrPiv(n, 0);
  x.assign(n, 0.0);
  vm::factorAndSolveSymmetric(A.data(), n, tau.data(), piv.data(), b.data(), x.data(), work.data());
  auto same = [&A](Matrix const& m) {
    return std::equal(A.begin(), A.end(), m.begin(), vela::test::sameBits);
  };
  if (kelm_math_lin_alg_choleskyFactor(cholesky.data(), int(n)) == 0 && same(cholesky)) return true;
  kelm_math_lin_alg_qrFactor(int(n), int(n), qr.data(), tau.data(), qrPiv.data(), work.data());
  EXPECT_TRUE(same(qr) && piv == qrPiv);
  return false;
}

}  // namespace

TEST(SolverNumeric, GeSolve2x2) {
  for (unsigned seed = 0; seed < 20; ++seed) {
    Matrix a = randomMatrix(2, 2, seed), b = randomMatrix(2, 1, seed + 99), x(2);
    vm::geSolve2x2(a.data(), b.data(), x.data());
    EXPECT_LT(relativeResidual(a, 2, 2, x, b), 1e-15) << seed;
  }
  // A tiny leading entry needs the row exchange; a singular matrix divides by 0.
  Matrix a = {1e-20, 1.0, 1.0, 1.0}, b = {1.0, 2.0}, singular = {1.0, 2.0, 2.0, 4.0};
  vm::geSolve2x2(a.data(), b.data(), b.data());  // in place
  EXPECT_EQ(b, (Matrix{1.0, 1.0}));
  vm::geSolve2x2(singular.data(), a.data(), b.data());
  EXPECT_FALSE(std::isfinite(b[0]) && std::isfinite(b[1]));
}

TEST(SolverNumeric, CholeskyFactorAndConditionEstimate) {
  for (unsigned n : {2u, 3u, 5u, 12u, 30u, 70u}) {  // 70: the LAPACK route
    for (double condition : {1.0, 1e4, 1e12}) {
      Matrix a = symmetricWithSpectrum(spread(n, condition), n), f = a, work(n), e(n), inverse;
      for (unsigned j = 1; j < n; ++j)
        for (unsigned i = 0; i < j; ++i) f[i + n * j] = kNaN;  // never read
      ASSERT_EQ(kelm_math_lin_alg_choleskyFactor(f.data(), int(n)), 0);
      for (unsigned i = 0; i < n; ++i)
        for (unsigned j = 0; j < n; ++j) {
          double s = 0.0;  // (L L^T)(i, j)
          for (unsigned k = 0; k <= std::min(i, j); ++k) s += f[i + n * k] * f[j + n * k];
          EXPECT_NEAR(s, a[i + n * j], 1e-14 * n) << n;
          if (i < j) {
            EXPECT_EQ(f[i + n * j], a[i + n * j]);  // the factored entries
          }
        }
      // The true reciprocal condition number through the inverse.
      for (unsigned j = 0; j < n; ++j) {
        std::fill(e.begin(), e.end(), 0.0);
        e[j] = 1.0;
        kelm_math_lin_alg_choleskySolve(f.data(), e.data(), int(n), e.data(), work.data());
        inverse.insert(inverse.end(), e.begin(), e.end());
      }
      auto norm1 = [n](Matrix const& m) {
        double best = 0.0;
        for (unsigned j = 0; j < n; ++j) {
          double s = 0.0;
          for (unsigned i = 0; i < n; ++i) s += std::fabs(m[i + n * j]);
          best = std::max(best, s);
        }
        return best;
      };
      double truth = 1.0 / (norm1(a) * norm1(inverse));
      double rc = kelm_math_lin_alg_conditionReciprocal(f.data(), int(n), 1, work.data());
      EXPECT_GE(rc, truth * (1 - 1e-6)) << n << " " << condition;  // the norm is bounded below
      EXPECT_LE(rc, truth * 20) << n << " " << condition;
    }
  }
  // Failure names the first pivot that is not positive.
  Matrix indefinite = symmetricWithSpectrum({2.0, 1.0, -1.0, 3.0}, 5);
  EXPECT_GT(kelm_math_lin_alg_choleskyFactor(indefinite.data(), 4), 0);
  Matrix zeroPivot = {0.0, 1.0, 1.0, 1.0}, withNaN = {1.0, 0.0, 0.0, 0.0, 1.0, kNaN, 0.0, 0.0, 1.0};
  Matrix secondPivot = {1.0, 1.0, 1.0, 1.0};
  EXPECT_EQ(kelm_math_lin_alg_choleskyFactor(zeroPivot.data(), 2), 1);
  EXPECT_EQ(kelm_math_lin_alg_choleskyFactor(secondPivot.data(), 2), 2);
  EXPECT_EQ(kelm_math_lin_alg_choleskyFactor(withNaN.data(), 3), 3);
}

TEST(SolverNumeric, FactorSymmetricPosDefAndTheQRFallback) {
  Matrix work(4), x;
  for (auto [a, failed] : {std::pair{2.0, false}, {0.0, true}, {-1.0, true}, {kNaN, false}}) {
    double value = a;  // order 1 leaves A as it is
    EXPECT_EQ(vm::factorSymmetricPosDef(&value, 1, work.data()), failed) << a;
    EXPECT_TRUE(vela::test::sameBits(value, a));
  }
  EXPECT_FALSE(vm::factorSymmetricPosDef(static_cast<double*>(nullptr), 0u, nullptr));
  Matrix indefinite = symmetricWithSpectrum({1.0, -1.0, 2.0}, 1);
  EXPECT_TRUE(vm::factorSymmetricPosDef(indefinite.data(), 3, work.data()));

  // Squared estimate about 2.5e-15: above 1e-15, which the factorization
  // accepts, but not above 1e-14, so the solve takes the QR route.
  Matrix between = matrixWithEstimate(4, 5e-8), b = randomMatrix(4, 1, 1), factor = between;
  double rc = estimate(between, 4);
  ASSERT_TRUE(rc * rc > 1.5e-15 && rc * rc < 0.5e-14) << rc;
  EXPECT_FALSE(vm::factorSymmetricPosDef(factor.data(), 4, work.data()));
  EXPECT_FALSE(solveSymmetric(between, 4, b, x));
  EXPECT_LT(relativeResidual(between, 4, 4, x, b), 1e-10);
  Matrix worse = matrixWithEstimate(4, 2e-8), better = matrixWithEstimate(4, 2e-7);
  EXPECT_TRUE(vm::factorSymmetricPosDef(worse.data(), 4, work.data()));
  EXPECT_TRUE(solveSymmetric(better, 4, b, x));
}

TEST(SolverNumeric, SymmetricSolves) {
  // solveSymmetricPosDef: columns solved independently; order 1 divides.
  Matrix a = symmetricWithSpectrum(spread(5, 100.0), 8), f = a, work(5);
  Matrix B = randomMatrix(5, 3, 2), X(15);
  ASSERT_FALSE(vm::factorSymmetricPosDef(f.data(), 5, work.data()));
  vm::solveSymmetricPosDef(f.data(), B.data(), 5, 3, X.data(), work.data());
  for (unsigned j = 0; j < 3; ++j)
    EXPECT_LT(relativeResidual(a, 5, 5, Matrix(&X[5 * j], &X[5 * j + 5]),
                               Matrix(&B[5 * j], &B[5 * j + 5])),
              1e-15);
  double L = 4.0, b1[] = {1.0, -2.0, 6.0}, x1[] = {7.0, 7.0, 7.0};
  vm::solveSymmetricPosDef(&L, b1, 0, 1, x1, work.data());
  vm::solveSymmetricPosDef(&L, b1, 1, 0, x1, work.data());
  EXPECT_EQ(x1[0], 7.0);
  vm::solveSymmetricPosDef(&L, b1, 1, 3, x1, work.data());
  EXPECT_EQ(Matrix(x1, x1 + 3), (Matrix{0.25, -0.5, 1.5}));

  // factorAndSolveSymmetric: Cholesky while it is safe, else pivoted QR;
  // singular systems keep a consistent right-hand side (70: QR pivoting
  // without stored reference norms).
  std::vector<double> singular5 = spread(5, 10.0), singular70 = spread(70, 10.0);
  singular5[1] = singular70[1] = 0.0;
  struct Row {
    std::vector<double> spectrum;
    bool cholesky;
  };
  for (Row const& row :
       {Row{spread(3, 10.0), true}, Row{spread(30, 1e6), true}, Row{{3.0, -1.0, 2.0, 0.5}, false},
        Row{spread(12, 1e9), false}, Row{singular5, false}, Row{singular70, false}}) {
    auto n = unsigned(row.spectrum.size());
    Matrix a = symmetricWithSpectrum(row.spectrum, n), x;
    Matrix b = residual(a, n, n, randomMatrix(n, 1, n));
    EXPECT_EQ(solveSymmetric(a, n, b, x), row.cholesky) << n;
    EXPECT_LT(relativeResidual(a, n, n, x, b), 1e-11) << n;
  }
  // Order 1; all NaN: Cholesky fails and QR finds rank 0.
  double tau, x0, w[2];
  int piv;
  for (auto [a, b, expected] : {std::tuple{0.0, 3.0, 0.0}, {-0.0, kNaN, 0.0}, {-4.0, 2.0, -0.5}}) {
    vm::factorAndSolveSymmetric(&a, 1, &tau, &piv, &b, &x0, w);
    EXPECT_EQ(x0, expected);
  }
  Matrix nan(9, kNaN), x;
  EXPECT_FALSE(solveSymmetric(nan, 3, {1.0, 2.0, 3.0}, x));
  EXPECT_EQ(x, Matrix(3, 0.0));
}

TEST(SolverNumeric, PivotedQRSolves) {
  struct Shape {
    unsigned rows, cols, rank;
  };
  // Tall least squares (rank-deficient ones as products of thin factors).
  for (Shape s : {Shape{6, 3, 3}, Shape{12, 5, 3}, Shape{30, 30, 30}, Shape{8, 8, 5}}) {
    Matrix left = randomMatrix(s.rows, s.rank, s.cols), right = randomMatrix(s.rank, s.cols, 1);
    Matrix a;
    for (unsigned j = 0; j < s.cols; ++j) {
      Matrix column =
          residual(left, s.rows, s.rank, Matrix(&right[s.rank * j], &right[s.rank * (j + 1)]));
      a.insert(a.end(), column.begin(), column.end());
    }
    Matrix qr = a, tau(s.cols), work(s.cols), b = randomMatrix(s.rows, 1, 2), x = b;
    std::vector<int> piv(s.cols, 0);
    kelm_math_lin_alg_qrFactor(int(s.rows), int(s.cols), qr.data(), tau.data(), piv.data(),
                               work.data());
    for (unsigned k = 1; k < s.cols; ++k)  // pivoting orders the diagonal
      EXPECT_LE(std::fabs(qr[k + s.rows * k]),
                std::fabs(qr[k - 1 + s.rows * (k - 1)]) * (1 + 1e-12));
    EXPECT_EQ(kelm_math_lin_alg_qrSolveTall(int(s.rows), int(s.cols), qr.data(), tau.data(),
                                            piv.data(), x.data(), 1e-10),
              int(s.rank));
    x.resize(s.cols);
    // The residual is orthogonal to the columns; dropped components are 0.
    Matrix normal =
        residual(transpose(a, s.rows, s.cols), s.cols, s.rows, residual(a, s.rows, s.cols, x, b));
    EXPECT_LT(maxAbs(normal), 1e-12 * (1 + maxAbs(x))) << s.rows;
    EXPECT_EQ(std::count(x.begin(), x.end(), 0.0), long(s.cols - s.rank));
  }
  // Wide minimum norm: the rows of A = M P lie in the range of the
  // projector P onto r dimensions, and so must x (x = P x).
  for (Shape s :
       {Shape{2, 3, 2}, Shape{3, 6, 3}, Shape{5, 12, 5}, Shape{4, 7, 2}, Shape{6, 6, 6}}) {
    unsigned m = s.rows, n = s.cols, r = s.rank;
    std::vector<double> ones(n, 0.0);
    std::fill(ones.begin(), ones.begin() + r, 1.0);
    Matrix P = symmetricWithSpectrum(ones, n), M = randomMatrix(m, n, 3), system;
    for (unsigned j = 0; j < n; ++j) {
      Matrix column = residual(M, m, n, Matrix(&P[n * j], &P[n * (j + 1)]));
      system.insert(system.end(), column.begin(), column.end());
    }
    Matrix A = transpose(system, m, n), b = residual(system, m, n, randomMatrix(n, 1, 5));
    Matrix tau(m), work(m), x(std::max(m, n));
    std::vector<int> piv(m, 9);
    vm::factorAndSolveWide(m, n, A.data(), tau.data(), work.data(), piv.data(), b.data(), 1e-10,
                           x.data());
    x.resize(n);
    EXPECT_LT(relativeResidual(system, m, n, x, b), 1e-13) << m << " " << n;
    Matrix projected = residual(P, n, n, x);
    for (unsigned i = 0; i < n; ++i) EXPECT_NEAR(projected[i], x[i], 1e-12 * maxAbs(x));
    // The rank the tolerance decides; rank 0 gives zeros.
    Matrix qr = transpose(system, m, n), y(n);
    std::vector<int> qrPiv(m, 0);
    kelm_math_lin_alg_qrFactor(int(n), int(m), qr.data(), tau.data(), qrPiv.data(), work.data());
    auto solve = [&](double tol) {
      return kelm_math_lin_alg_qrSolveWide(int(m), int(n), qr.data(), tau.data(), qrPiv.data(),
                                           b.data(), tol, y.data());
    };
    EXPECT_EQ(solve(1e-10), int(r));
    EXPECT_EQ(solve(2.0), 0);
    EXPECT_EQ(y, Matrix(n, 0.0));
  }
  Matrix x = {5.0, 5.0};  // no equations
  vm::factorAndSolveWide(0, 2, nullptr, nullptr, nullptr, nullptr, nullptr, 1e-12, x.data());
  EXPECT_EQ(x, Matrix(2, 0.0));
}

// The rank rule of both QR solves on a hand-made diagonal R (no
// reflectors, no pivoting): a zero entry is never kept, whatever the
// tolerance, and a zero, infinite or NaN R_00 gives rank 0.
TEST(SolverNumeric, QRSolveRankRule) {
  double const inf = std::numeric_limits<double>::infinity();
  struct Row {
    double d0, d1, d2, tol;
    int rank;
  };
  std::vector<Row> const rows = {
      {2, 1, 0.5, 1e-12, 3}, {2, 1, 0.5, 0.4, 2},   {2, 1, 0.5, 2.0, 0},  {2, 1, 0, 0.0, 2},
      {2, 1, 0, -1.0, 2},    {2, 0, 1, -1.0, 1},    {inf, 1, 1, -1.0, 0}, {inf, 1, 1, 0.0, 0},
      {0, 1, 1, -1.0, 0},    {kNaN, 1, 1, -1.0, 0}, {2, 1, 1, kNaN, 0},   {-2, -1, 0.5, -0.5, 3},
  };
  for (std::size_t r = 0; r < rows.size(); ++r) {
    Row const& row = rows[r];
    Matrix qr = {row.d0, 0, 0, 0, row.d1, 0, 0, 0, row.d2}, tau(3, 0.0), b = {1, 1, 1};
    std::vector<int> piv = {1, 2, 3};
    Matrix x = b;
    EXPECT_EQ(
        kelm_math_lin_alg_qrSolveTall(3, 3, qr.data(), tau.data(), piv.data(), x.data(), row.tol),
        row.rank)
        << "row " << r;
    for (int j = 0; j < 3; ++j) EXPECT_EQ(x[j], j < row.rank ? 1.0 / qr[4 * j] : 0.0) << r;
    Matrix y(3, kNaN);
    EXPECT_EQ(kelm_math_lin_alg_qrSolveWide(3, 3, qr.data(), tau.data(), piv.data(), b.data(),
                                            row.tol, y.data()),
              row.rank)
        << "row " << r;
    for (int j = 0; j < 3; ++j) EXPECT_EQ(y[j], j < row.rank ? 1.0 / qr[4 * j] : 0.0) << r;
  }
}

// The one-pass Cholesky route (scalar at small orders, vectorized above,
// odd and even orders, the solve carried along or done afterwards when x is
// b) against the three library calls it stands for.
TEST(SolverNumeric, SymmetricSolveMatchesItsSteps) {
  for (unsigned n = 2; n <= 33; ++n) {
    for (double condition : {3.0, 1e5}) {
      Matrix a = symmetricWithSpectrum(spread(n, condition), n + 11), b = randomMatrix(n, 1, n);
      Matrix f = a, work(n + n * n), expected(n), tau(n);
      std::vector<int> piv(n);
      ASSERT_EQ(kelm_math_lin_alg_choleskyFactor(f.data(), int(n)), 0) << n;
      double rc = kelm_math_lin_alg_conditionReciprocal(f.data(), int(n), 1, work.data());
      ASSERT_GT(rc * rc, 1e-14) << n;
      kelm_math_lin_alg_choleskySolve(f.data(), b.data(), int(n), expected.data(), work.data());
      auto sameAs = [](Matrix const& u, Matrix const& v) {
        return std::equal(u.begin(), u.end(), v.begin(), vela::test::sameBits);
      };
      Matrix A = a, x(n, kNaN);
      vm::factorAndSolveSymmetric(A.data(), n, tau.data(), piv.data(), b.data(), x.data(),
                                  work.data());
      EXPECT_TRUE(sameAs(x, expected) && sameAs(A, f)) << n << " " << condition;
      A = a;
      x = b;  // solved in place
      vm::factorAndSolveSymmetric(A.data(), n, tau.data(), piv.data(), x.data(), x.data(),
                                  work.data());
      EXPECT_TRUE(sameAs(x, expected)) << n << " " << condition;
      // The factorization's own test agrees with the same estimate.
      A = a;
      EXPECT_EQ(vm::factorSymmetricPosDef(A.data(), n, work.data()), !(rc * rc > 1e-15)) << n;
      EXPECT_TRUE(sameAs(A, f)) << n;
      EXPECT_LT(relativeResidual(a, n, n, x, b), 1e-13) << n << " " << condition;
    }
  }
}
