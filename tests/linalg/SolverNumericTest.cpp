#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "linalg/SolverTesting.hpp"
#include "support/ThreePaths.hpp"
#include "vela/math.hpp"

namespace vm = vela::math;
using namespace vela::test::solvers;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kEps = std::numeric_limits<double>::epsilon();

// The lower triangle L L^T, against the symmetric matrix a (lower part).
double factorError(Matrix const& factor, Matrix const& a, unsigned n) {
  double error = 0.0;
  for (unsigned i = 0; i < n; ++i)
    for (unsigned j = 0; j <= i; ++j) {
      double s = 0.0;
      for (unsigned k = 0; k <= j; ++k) s += at(factor, n, i, k) * at(factor, n, j, k);
      error = std::fmax(error, std::fabs(s - at(a, n, i, j)));
    }
  return error / maxAbs(a);
}

// 1 / (|A|_1 |A^{-1}|_1) with the inverse formed column by column.
double trueReciprocalCondition(Matrix const& a, Matrix const& factor, unsigned n) {
  auto norm1 = [n](Matrix const& m) {
    double best = 0.0;
    for (unsigned j = 0; j < n; ++j) {
      double s = 0.0;
      for (unsigned i = 0; i < n; ++i) s += std::fabs(at(m, n, i, j));
      best = std::fmax(best, s);
    }
    return best;
  };
  Matrix inverse(n * n), e(n), work(n);
  for (unsigned j = 0; j < n; ++j) {
    std::fill(e.begin(), e.end(), 0.0);
    e[j] = 1.0;
    kelm_math_lin_alg_choleskySolve(factor.data(), e.data(), int(n), &inverse[n * j], work.data());
  }
  return 1.0 / (norm1(a) * norm1(inverse));
}

double estimate(Matrix a, unsigned n) {
  Matrix work(n);
  if (kelm_math_lin_alg_choleskyFactor(a.data(), int(n)) != 0) return -1.0;
  return kelm_math_lin_alg_conditionReciprocal(a.data(), int(n), 1, work.data());
}

// An SPD matrix of order n whose reciprocal condition estimate is near
// target, found by bisection on the smallest eigenvalue.
Matrix matrixWithEstimate(unsigned n, double target, unsigned seed) {
  std::vector<double> values(n, 1.0);
  double low = -14.0, high = -2.0;  // log10 of the smallest eigenvalue
  for (int step = 0; step < 60; ++step) {
    values[n - 1] = std::pow(10.0, 0.5 * (low + high));
    (estimate(symmetricWithSpectrum(values, seed), n) < target ? low : high) = 0.5 * (low + high);
  }
  return symmetricWithSpectrum(values, seed);
}

}  // namespace

TEST(SolverNumeric, GeSolve2x2) {
  std::mt19937 generator(1);
  for (int trial = 0; trial < 50; ++trial) {
    Matrix a = randomMatrix(2, 2, generator), b = randomMatrix(2, 1, generator), x(2);
    vm::geSolve2x2(a.data(), b.data(), x.data());
    EXPECT_LT(relativeResidual(a, 2, 2, x, b), 4 * kEps) << trial;
    vm::geSolve2x2(a.data(), b.data(), b.data());  // in place
    EXPECT_EQ(b, x);
  }
  // A tiny leading entry needs the row exchange to stay accurate.
  Matrix a = {1e-20, 1.0, 1.0, 1.0}, b = {1.0, 2.0}, x(2);
  vm::geSolve2x2(a.data(), b.data(), x.data());
  EXPECT_NEAR(x[0], 1.0, 1e-15);
  EXPECT_NEAR(x[1], 1.0, 1e-15);
  Matrix singular = {1.0, 2.0, 2.0, 4.0};
  vm::geSolve2x2(singular.data(), b.data(), x.data());
  EXPECT_FALSE(std::isfinite(x[0]) && std::isfinite(x[1]));
}

TEST(SolverNumeric, CholeskyFactorReadsTheLowerTriangle) {
  for (unsigned n : {2u, 3u, 6u, 12u, 30u, 70u}) {  // 70: the LAPACK route
    Matrix a = symmetricWithSpectrum(spread(n, 1e3), n);
    Matrix input = a;
    for (unsigned j = 1; j < n; ++j)
      for (unsigned i = 0; i < j; ++i) at(input, n, i, j) = kNaN;  // never read
    ASSERT_EQ(kelm_math_lin_alg_choleskyFactor(input.data(), int(n)), 0) << n;
    EXPECT_LT(factorError(input, a, n), 50 * n * kEps) << n;
    for (unsigned j = 1; j < n; ++j)
      for (unsigned i = 0; i < j; ++i) ASSERT_EQ(at(input, n, i, j), at(a, n, j, i)) << n;
  }
  // Failures name the first non-positive pivot.
  Matrix indefinite = symmetricWithSpectrum({2.0, 1.0, -1.0, 3.0}, 5);
  EXPECT_GT(kelm_math_lin_alg_choleskyFactor(indefinite.data(), 4), 0);
  Matrix a = symmetricWithSpectrum({2.0, 1.0, 1.0}, 6);
  at(a, 3, 2, 1) = kNaN;
  EXPECT_EQ(kelm_math_lin_alg_choleskyFactor(a.data(), 3), 3);
  Matrix zeroPivot = {0.0, 1.0, 1.0, 1.0};
  EXPECT_EQ(kelm_math_lin_alg_choleskyFactor(zeroPivot.data(), 2), 1);
}

TEST(SolverNumeric, ConditionEstimateBoundsTheTrueValue) {
  for (unsigned n : {2u, 3u, 5u, 12u, 30u}) {
    for (double condition : {1.0, 1e3, 1e8, 1e13}) {
      for (unsigned seed = 0; seed < 3; ++seed) {
        Matrix a = symmetricWithSpectrum(spread(n, condition), seed + 10 * n);
        Matrix factor = a, work(n);
        ASSERT_EQ(kelm_math_lin_alg_choleskyFactor(factor.data(), int(n)), 0);
        double rc = kelm_math_lin_alg_conditionReciprocal(factor.data(), int(n), 1, work.data());
        double truth = trueReciprocalCondition(a, factor, n);
        // A lower bound of |A^{-1}| gives an upper bound of rc, and a good
        // one stays within a small factor of the truth.
        EXPECT_GE(rc, truth * (1 - 1e-6)) << n << " " << condition;
        EXPECT_LE(rc, truth * 3 * n) << n << " " << condition;
      }
    }
  }
  Matrix diagonal = {4.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.25}, work(3);
  ASSERT_EQ(kelm_math_lin_alg_choleskyFactor(diagonal.data(), 3), 0);
  EXPECT_DOUBLE_EQ(kelm_math_lin_alg_conditionReciprocal(diagonal.data(), 3, 1, work.data()),
                   1.0 / 16.0);
}

TEST(SolverNumeric, FactorSymmetricPosDefThresholdsAndSmallSizes) {
  Matrix work(4);
  double one[] = {2.0};
  EXPECT_FALSE(vm::factorSymmetricPosDef(one, 1, work.data()));
  EXPECT_EQ(one[0], 2.0);
  for (double bad : {0.0, -1.0}) {
    double a[] = {bad};
    EXPECT_TRUE(vm::factorSymmetricPosDef(a, 1, work.data())) << bad;
  }
  double nan[] = {kNaN};
  EXPECT_FALSE(vm::factorSymmetricPosDef(nan, 1, work.data()));
  EXPECT_FALSE(vm::factorSymmetricPosDef(static_cast<double*>(nullptr), 0u, nullptr));

  // Squared estimate 2.5e-15: passes 1e-15 here, but not 1e-14 below.
  Matrix a = matrixWithEstimate(4, 5e-8, 3);
  double rc = estimate(a, 4);
  ASSERT_GT(rc * rc, 1.5e-15);
  ASSERT_LT(rc * rc, 0.5e-14);
  Matrix factor = a;
  EXPECT_FALSE(vm::factorSymmetricPosDef(factor.data(), 4, work.data()));
  Matrix worse = matrixWithEstimate(4, 2e-8, 3);
  EXPECT_TRUE(vm::factorSymmetricPosDef(worse.data(), 4, work.data()));
  Matrix indefinite = symmetricWithSpectrum({1.0, -1.0, 2.0}, 1);
  EXPECT_TRUE(vm::factorSymmetricPosDef(indefinite.data(), 3, work.data()));
}

TEST(SolverNumeric, SolveSymmetricPosDefColumnByColumn) {
  std::mt19937 generator(2);
  unsigned n = 5, m = 3;
  Matrix a = symmetricWithSpectrum(spread(n, 100.0), 8), factor = a, work(n);
  ASSERT_FALSE(vm::factorSymmetricPosDef(factor.data(), n, work.data()));
  Matrix B = randomMatrix(n, m, generator), X(n * m);
  vm::solveSymmetricPosDef(factor.data(), B.data(), n, m, X.data(), work.data());
  for (unsigned j = 0; j < m; ++j) {
    Matrix x(X.begin() + n * j, X.begin() + n * (j + 1)),
        b(B.begin() + n * j, B.begin() + n * (j + 1));
    EXPECT_LT(relativeResidual(a, n, n, x, b), 20 * kEps) << j;
  }
  double L[] = {4.0}, b1[] = {1.0, -2.0, 6.0}, x1[] = {0.0, 0.0, 0.0};
  vm::solveSymmetricPosDef(L, b1, 1, 3, x1, work.data());
  EXPECT_EQ(std::vector<double>(x1, x1 + 3), (std::vector<double>{0.25, -0.5, 1.5}));
  double untouched[] = {7.0};
  vm::solveSymmetricPosDef(L, b1, 0, 1, untouched, work.data());
  vm::solveSymmetricPosDef(L, b1, 1, 0, untouched, work.data());
  EXPECT_EQ(untouched[0], 7.0);
}

bool sameBits(Matrix const& a, Matrix const& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), vela::test::sameBits);
}

// Runs factorAndSolveSymmetric and reports whether A ended as the Cholesky
// factor (true) or the QR factors of the matrix.
bool solveSymmetric(Matrix const& a, unsigned n, Matrix const& b, Matrix& x) {
  Matrix A = a, tau(n), work(n + n * n);
  std::vector<int> piv(n, 7);
  x.assign(n, 0.0);
  vm::factorAndSolveSymmetric(A.data(), n, tau.data(), piv.data(), b.data(), x.data(), work.data());
  Matrix cholesky = a;
  bool isCholesky =
      kelm_math_lin_alg_choleskyFactor(cholesky.data(), int(n)) == 0 && sameBits(A, cholesky);
  Matrix qr = a, qrTau(n), qrWork(n);
  std::vector<int> qrPiv(n, 0);
  kelm_math_lin_alg_qrFactor(int(n), int(n), qr.data(), qrTau.data(), qrPiv.data(), qrWork.data());
  EXPECT_TRUE(isCholesky || (sameBits(A, qr) && piv == qrPiv));
  return isCholesky;
}

TEST(SolverNumeric, FactorAndSolveSymmetricFallsBackToQR) {
  std::mt19937 generator(3);
  struct Row {
    std::vector<double> spectrum;
    bool cholesky;
  };
  std::vector<Row> rows = {{spread(3, 10.0), true},
                           {spread(12, 1e5), true},
                           {{3.0, -1.0, 2.0, 0.5}, false},  // indefinite
                           {spread(30, 1e6), true},
                           {{1.0, -2.0, 1e-3, 4.0, 5.0, -6.0}, false}};
  for (Row const& row : rows) {
    auto n = unsigned(row.spectrum.size());
    Matrix a = symmetricWithSpectrum(row.spectrum, n), b = randomMatrix(n, 1, generator), x;
    EXPECT_EQ(solveSymmetric(a, n, b, x), row.cholesky) << n;
    EXPECT_LT(relativeResidual(a, n, n, x, b), 1e-13) << n;
  }
  // Between the two thresholds: Cholesky would pass the test of
  // factorSymmetricPosDef, but the solve takes the QR route.
  Matrix between = matrixWithEstimate(4, 5e-8, 3), b = randomMatrix(4, 1, generator), x;
  EXPECT_FALSE(solveSymmetric(between, 4, b, x));
  EXPECT_LT(relativeResidual(between, 4, 4, x, b), 1e-10);
  EXPECT_TRUE(solveSymmetric(matrixWithEstimate(4, 2e-7, 3), 4, b, x));

  // Singular: a consistent right-hand side is met, the null direction
  // dropped (a 70 by 70 case takes the pivoting without stored norms).
  for (unsigned n : {5u, 70u}) {
    std::vector<double> spectrum = spread(n, 10.0);
    spectrum[1] = 0.0;
    Matrix a = symmetricWithSpectrum(spectrum, 4), z = randomMatrix(n, 1, generator);
    Matrix consistent = multiply(a, n, n, z);
    EXPECT_FALSE(solveSymmetric(a, n, consistent, x));
    EXPECT_LT(relativeResidual(a, n, n, x, consistent), 1e-12) << n;
  }
}

TEST(SolverNumeric, FactorAndSolveSymmetricSmallAndNaN) {
  double work[2], tau[1], x[1];
  int piv[1];
  for (double b : {3.0, -0.0, kNaN}) {
    double zero[] = {0.0};
    vm::factorAndSolveSymmetric(zero, 1, tau, piv, &b, x, work);
    EXPECT_EQ(x[0], 0.0);
  }
  double a[] = {-4.0}, b[] = {2.0};
  vm::factorAndSolveSymmetric(a, 1, tau, piv, b, x, work);
  EXPECT_EQ(x[0], -0.5);
  double nan[] = {kNaN};
  vm::factorAndSolveSymmetric(nan, 1, tau, piv, b, x, work);
  EXPECT_TRUE(std::isnan(x[0]));
  // All NaN: Cholesky fails, QR finds rank 0 and gives zeros.
  Matrix allNaN(9, kNaN), bb = {1.0, 2.0, 3.0}, xx;
  EXPECT_FALSE(solveSymmetric(allNaN, 3, bb, xx));
  EXPECT_EQ(xx, Matrix(3, 0.0));
}

TEST(SolverNumeric, PivotedQRLeastSquares) {
  std::mt19937 generator(4);
  struct Shape {
    unsigned rows, cols, rank;
  };
  for (Shape s : {Shape{6, 3, 3}, Shape{12, 5, 3}, Shape{30, 30, 30}, Shape{8, 8, 5}}) {
    // A rank-deficient matrix as a product of random factors.
    Matrix left = randomMatrix(s.rows, s.rank, generator),
           right = randomMatrix(s.rank, s.cols, generator);
    Matrix a(s.rows * s.cols, 0.0);
    for (unsigned j = 0; j < s.cols; ++j) {
      Matrix column =
          multiply(left, s.rows, s.rank,
                   Matrix(right.begin() + s.rank * j, right.begin() + s.rank * (j + 1)));
      std::copy(column.begin(), column.end(), a.begin() + s.rows * j);
    }
    Matrix qr = a, tau(s.cols), work(s.cols), b = randomMatrix(s.rows, 1, generator), x = b;
    std::vector<int> piv(s.cols, 0);
    kelm_math_lin_alg_qrFactor(int(s.rows), int(s.cols), qr.data(), tau.data(), piv.data(),
                               work.data());
    std::vector<int> sorted = piv;
    std::sort(sorted.begin(), sorted.end());
    for (unsigned j = 0; j < s.cols; ++j) EXPECT_EQ(sorted[j], int(j) + 1);
    for (unsigned k = 1; k < s.cols; ++k)
      EXPECT_LE(std::fabs(at(qr, s.rows, k, k)),
                std::fabs(at(qr, s.rows, k - 1, k - 1)) * (1 + 1e-12));
    int rank = kelm_math_lin_alg_qrSolveTall(int(s.rows), int(s.cols), qr.data(), tau.data(),
                                             piv.data(), x.data(), 1e-10);
    EXPECT_EQ(rank, int(s.rank));
    x.resize(s.cols);
    // Least squares: the residual is orthogonal to every column.
    Matrix r = multiply(a, s.rows, s.cols, x);
    for (unsigned i = 0; i < s.rows; ++i) r[i] -= b[i];
    EXPECT_LT(maxAbs(multiplyTransposed(a, s.rows, s.cols, r)), 1e-12 * (1 + maxAbs(x))) << s.rows;
    // Dropped components stay zero: exactly cols - rank of them.
    auto zeros = std::count(x.begin(), x.end(), 0.0);
    EXPECT_EQ(zeros, long(s.cols - s.rank));
  }
  // A column marked on entry leads the factorization.
  Matrix a = randomMatrix(4, 3, generator), tau(3), work(3);
  std::vector<int> piv = {0, 0, 1};
  kelm_math_lin_alg_qrFactor(4, 3, a.data(), tau.data(), piv.data(), work.data());
  EXPECT_EQ(piv[0], 3);
}

TEST(SolverNumeric, FactorAndSolveWideGivesTheMinimumNorm) {
  std::mt19937 generator(5);
  struct Shape {
    unsigned m, n, rank;
  };
  for (Shape s :
       {Shape{2, 3, 2}, Shape{3, 6, 3}, Shape{5, 12, 5}, Shape{4, 7, 2}, Shape{6, 6, 6}}) {
    // The system matrix A (m by n) = M W^T with W^T's rows spanning the row space.
    Matrix M = randomMatrix(s.m, s.rank, generator), W = randomMatrix(s.n, s.rank, generator);
    for (unsigned j = 0; j < s.rank; ++j) {  // orthonormal columns of W
      for (unsigned k = 0; k < j; ++k) {
        double d = 0.0;
        for (unsigned i = 0; i < s.n; ++i) d += at(W, s.n, i, j) * at(W, s.n, i, k);
        for (unsigned i = 0; i < s.n; ++i) at(W, s.n, i, j) -= d * at(W, s.n, i, k);
      }
      double norm = 0.0;
      for (unsigned i = 0; i < s.n; ++i) norm += at(W, s.n, i, j) * at(W, s.n, i, j);
      for (unsigned i = 0; i < s.n; ++i) at(W, s.n, i, j) /= std::sqrt(norm);
    }
    Matrix system(s.m * s.n, 0.0), transposed(s.n * s.m);
    for (unsigned i = 0; i < s.m; ++i)
      for (unsigned j = 0; j < s.n; ++j) {
        for (unsigned k = 0; k < s.rank; ++k)
          at(system, s.m, i, j) += at(M, s.m, i, k) * at(W, s.n, j, k);
        at(transposed, s.n, j, i) = at(system, s.m, i, j);
      }
    Matrix b = multiply(system, s.m, s.n, randomMatrix(s.n, 1, generator));  // consistent
    Matrix tau(s.m), work(s.m), x(std::max(s.m, s.n));
    std::vector<int> piv(s.m, 9);
    vm::factorAndSolveWide(s.m, s.n, transposed.data(), tau.data(), work.data(), piv.data(),
                           b.data(), 1e-10, x.data());
    x.resize(s.n);
    EXPECT_LT(relativeResidual(system, s.m, s.n, x, b), 1e-13) << s.m << " " << s.n;
    // Minimum norm: x lies in the row space, x = W W^T x.
    Matrix projected = multiply(W, s.n, s.rank, multiplyTransposed(W, s.n, s.rank, x));
    for (unsigned i = 0; i < s.n; ++i)
      EXPECT_NEAR(projected[i], x[i], 1e-12 * maxAbs(x)) << s.m << " " << s.n;
    // The rank the tolerance decides.
    Matrix again(s.n * s.m), qrTau(s.m), qrWork(s.m), y(s.n);
    for (unsigned i = 0; i < s.m; ++i)
      for (unsigned j = 0; j < s.n; ++j) at(again, s.n, j, i) = at(system, s.m, i, j);
    std::vector<int> qrPiv(s.m, 0);
    kelm_math_lin_alg_qrFactor(int(s.n), int(s.m), again.data(), qrTau.data(), qrPiv.data(),
                               qrWork.data());
    EXPECT_EQ(kelm_math_lin_alg_qrSolveWide(int(s.m), int(s.n), again.data(), qrTau.data(),
                                            qrPiv.data(), b.data(), 1e-10, y.data()),
              int(s.rank));
    EXPECT_EQ(kelm_math_lin_alg_qrSolveWide(int(s.m), int(s.n), again.data(), qrTau.data(),
                                            qrPiv.data(), b.data(), 2.0, y.data()),
              0);
    EXPECT_EQ(y, Matrix(s.n, 0.0));
  }
  // No equations: the zero vector.
  Matrix x = {5.0, 5.0};
  vm::factorAndSolveWide(0, 2, nullptr, nullptr, nullptr, nullptr, nullptr, 1e-12, x.data());
  EXPECT_EQ(x, Matrix(2, 0.0));
}
