#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <vector>

#include "linalg/SolverTesting.hpp"
#include "vela/math.hpp"

namespace vm = vela::math;
using vela::test::solvers::Matrix;  // column-major
using vela::test::solvers::randomMatrix;

namespace {

// C (m by n) = op(A) op(B) for A, B column-major with the given shapes.
Matrix multiply(Matrix const& A, int ar, int ac, bool ta, Matrix const& B, int br, int bc,
                bool tb) {
  int m = ta ? ac : ar, k = ta ? ar : ac, n = tb ? br : bc;
  Matrix C(static_cast<std::size_t>(m * n), 0.0);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < m; ++i)
      for (int l = 0; l < k; ++l)
        C[j * m + i] += (ta ? A[i * ar + l] : A[l * ar + i]) * (tb ? B[l * br + j] : B[j * br + l]);
  return C;
}

double maxAbsDiff(Matrix const& a, Matrix const& b) {
  double d = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) d = std::max(d, std::fabs(a[i] - b[i]));
  return d;
}

Matrix identity(int n) {
  Matrix I(static_cast<std::size_t>(n * n), 0.0);
  for (int i = 0; i < n; ++i) I[i * n + i] = 1.0;
  return I;
}

// Max deviation of Q^T Q (Q r by c) from the identity.
double orthogonalityError(Matrix const& Q, int r, int c) {
  return maxAbsDiff(multiply(Q, r, c, true, Q, r, c, false), identity(c));
}

// Max deviation of V^T B V (both n by n) from the identity.
double bOrthonormalityError(Matrix const& V, Matrix const& B, int n) {
  Matrix VtBV = multiply(V, n, n, true, multiply(B, n, n, false, V, n, n, false), n, n, false);
  return maxAbsDiff(VtBV, identity(n));
}

struct SvdResult {
  Matrix S, U, V;
};

// Max deviation of U_k diag(S) V_k^T, the first k columns of each, from A.
double reconstructionError(int m, int n, SvdResult const& r, Matrix const& A) {
  int k = std::min(m, n);
  Matrix US(r.U.begin(), r.U.begin() + m * k);
  for (int j = 0; j < k; ++j)
    for (int i = 0; i < m; ++i) US[j * m + i] *= r.S[j];
  return maxAbsDiff(multiply(US, m, k, false, r.V, n, k, true), A);
}

SvdResult runSvd(int m, int n, Matrix const& A, bool full) {
  int k = std::min(m, n);
  SvdResult r{Matrix(k), Matrix(m * (full ? m : k)), Matrix(n * (full ? n : k))};
  Matrix work(kelm_math_lin_alg_svdReqdWorkSize(m, n, full));
  vm::svd(m, n, A.data(), full, r.S.data(), r.U.data(), r.V.data(), work.data());
  return r;
}

// A of rank r: the product of random m by r and r by n factors.
Matrix lowRank(int m, int n, int r, unsigned seed) {
  return multiply(randomMatrix(m, r, seed), m, r, false, randomMatrix(r, n, seed + 100), r, n,
                  false);
}

// Entry of column j of Q (r rows) that comes first among those of largest
// magnitude.
double firstLargest(Matrix const& Q, int r, int j) {
  int big = 0;
  for (int i = 1; i < r; ++i)
    if (std::fabs(Q[j * r + i]) > std::fabs(Q[j * r + big])) big = i;
  return Q[j * r + big];
}

}  // namespace

TEST(Svd, FactorsReconstructAreOrthonormalAndSorted) {
  struct Shape {
    int m, n, rank;  // rank -1: random full rank; 0: zero matrix
  };
  Shape shapes[] = {{3, 3, -1}, {6, 6, -1}, {12, 12, -1}, {30, 30, -1}, {7, 3, -1},
                    {3, 7, -1}, {1, 1, -1}, {1, 5, -1},   {5, 1, -1},   {6, 6, 2},
                    {8, 5, 3},  {4, 9, 1},  {5, 5, 0},    {3, 6, 0}};
  unsigned seed = 1;
  for (Shape const& s : shapes)
    for (bool full : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << s.m << "x" << s.n << " rank " << s.rank << " full " << full);
      int m = s.m, n = s.n, k = std::min(m, n);
      Matrix A = s.rank < 0    ? randomMatrix(m, n, ++seed)
                 : s.rank == 0 ? Matrix(m * n, 0.0)
                               : lowRank(m, n, s.rank, ++seed);
      SvdResult r = runSvd(m, n, A, full);
      for (int j = 0; j < k; ++j) {
        EXPECT_GE(r.S[j], 0.0);
        if (j > 0) {
          EXPECT_LE(r.S[j], r.S[j - 1]);
        }
      }
      int uc = full ? m : k, vc = full ? n : k;
      EXPECT_LT(orthogonalityError(r.U, m, uc), 1e-13);
      EXPECT_LT(orthogonalityError(r.V, n, vc), 1e-13);
      EXPECT_LT(reconstructionError(m, n, r, A), 1e-13 * (m + n));
      if (s.rank >= 0) {
        double tol = 1e-10 * std::max(r.S[0], 1.0);
        EXPECT_EQ(vm::svdComputeRank(m, n, r.S.data(), tol), static_cast<unsigned>(s.rank));
      }
      // Thin and full factorizations agree on their common part.
      if (full) {
        SvdResult thin = runSvd(m, n, A, false);
        EXPECT_EQ(thin.S, r.S);
        EXPECT_EQ(maxAbsDiff(thin.V, Matrix(r.V.begin(), r.V.begin() + n * k)), 0.0);
      }
    }
}

// Rank-deficient inputs whose rotations leave a column of rounding residue
// far below the others: it must not pass as orthogonal to them (its squared
// products underflow), and comes out as a zero singular value.
TEST(Svd, ColumnsOfRoundingResidueStillGiveOrthonormalFactors) {
  struct Row {
    int m, n;
    Matrix A;
  };
  Matrix const wide = {-26, -26, -26, -26, -15.125, -64, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::vector<Row> const rows = {
      {3, 5, wide},
      {5, 3, {-26, -26, 0, 0, 0, -26, -15.125, 0, 0, 0, -26, -64, 0, 0, 0}},
      {3, 5,
       [&] {
         Matrix a = wide;
         for (double& x : a) x *= 1e-200;
         return a;
       }()},
  };
  for (std::size_t r = 0; r < rows.size(); ++r) {
    Row const& row = rows[r];
    int k = std::min(row.m, row.n);
    for (bool full : {false, true}) {
      SvdResult f = runSvd(row.m, row.n, row.A, full);
      EXPECT_LT(orthogonalityError(f.U, row.m, full ? row.m : k), 1e-14) << "row " << r;
      EXPECT_LT(orthogonalityError(f.V, row.n, full ? row.n : k), 1e-14) << "row " << r;
      EXPECT_EQ(f.S[k - 1], 0.0) << "row " << r;
      EXPECT_LT(reconstructionError(row.m, row.n, f, row.A), 1e-13 * f.S[0]) << "row " << r;
    }
  }
}

TEST(Svd, SignsMakeTheFirstLargestEntryOfVPositiveOrOfUWhenWide) {
  struct Case {
    int m, n;
    Matrix A;  // empty: random
  };
  // Symmetric 2-by-2 blocks rotate by exactly 45 degrees: the singular
  // vectors then have two entries of equal magnitude, and the first decides.
  Case const cases[] = {{3, 3, {}},
                        {7, 4, {}},
                        {4, 7, {}},
                        {1, 5, {}},
                        {5, 1, {}},
                        {2, 2, {3, 1, 1, 3}},
                        {2, 3, {3, 1, 1, 3, 0, 0}},
                        {3, 2, {3, 1, 0, 1, 3, 0}},
                        {2, 2, {-3, -1, -1, -3}}};
  unsigned seed = 70;
  for (Case const& c : cases)
    for (bool full : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.m << "x" << c.n << " full " << full << " seed " << seed);
      Matrix A = c.A.empty() ? randomMatrix(c.m, c.n, ++seed) : c.A;
      SvdResult r = runSvd(c.m, c.n, A, full);
      bool wide = c.m < c.n;
      for (int j = 0; j < std::min(c.m, c.n); ++j)
        EXPECT_GT(firstLargest(wide ? r.U : r.V, wide ? c.m : c.n, j), 0.0) << "column " << j;
    }
}

TEST(Svd, HardValuesAndRank) {
  // Wide range of magnitudes: exact power-of-two scaling keeps every value.
  for (double scale : {1e-300, 1e300}) {
    Matrix A = {3 * scale, 0, 0, 0, 2 * scale, 0, 0, 0, -5 * scale};
    SvdResult r = runSvd(3, 3, A, false);
    EXPECT_DOUBLE_EQ(r.S[0], 5 * scale);
    EXPECT_DOUBLE_EQ(r.S[1], 3 * scale);
    EXPECT_DOUBLE_EQ(r.S[2], 2 * scale);
  }
  double s[] = {4.0, 2.0, 1e-12, 0.0};
  EXPECT_EQ(vm::svdComputeRank(4, 5, s, 1e-9), 2u);
  EXPECT_EQ(vm::svdComputeRank(4, 5, s, 0.0), 3u);
  EXPECT_EQ(vm::svdComputeRank(4, 5, s, -1.0), 3u);  // zero is never counted
  EXPECT_EQ(vm::svdComputeRankDynamicSize(4, 5, 2, 5, s, 3.0), 1u);
  EXPECT_EQ(vm::svdComputeRank(4, 5, s, std::nan("")), 0u);
  // NaN input terminates.
  Matrix bad = randomMatrix(4, 4, 3);
  bad[5] = std::nan("");
  SvdResult r = runSvd(4, 4, bad, true);
  EXPECT_TRUE(std::any_of(r.S.begin(), r.S.end(), [](double x) { return std::isnan(x); }));
}

TEST(SvdSolve, LeastSquaresMinimumNormAndFlags) {
  struct Problem {
    int m, n, rank;
  };
  Problem problems[] = {{6, 4, 4}, {4, 4, 4}, {3, 7, 3}, {7, 5, 2}, {5, 8, 2}, {1, 1, 1}};
  unsigned seed = 40;
  for (Problem const& p : problems) {
    SCOPED_TRACE(testing::Message() << p.m << "x" << p.n << " rank " << p.rank);
    int m = p.m, n = p.n, k = std::min(m, n);
    Matrix A = p.rank == k ? randomMatrix(m, n, ++seed) : lowRank(m, n, p.rank, ++seed);
    Matrix b = randomMatrix(m, 1, ++seed), x(n, 7.0);
    Matrix work(kelm_math_lin_alg_svdSolveReqdWorkSize(m, n));
    vm::svdSolve(m, n, A.data(), b.data(), 1e-10, x.data(), work.data());
    // Normal equations: the residual is orthogonal to the range of A.
    Matrix Ax = multiply(A, m, n, false, x, n, 1, false), r(m);
    for (int i = 0; i < m; ++i) r[i] = Ax[i] - b[i];
    Matrix normal = multiply(A, m, n, true, r, m, 1, false);
    EXPECT_LT(maxAbsDiff(normal, Matrix(n, 0.0)), 1e-12);
    // Minimum norm: no component along the null space of A.
    SvdResult f = runSvd(m, n, A, true);
    Matrix proj = multiply(f.V, n, n, true, x, n, 1, false);
    for (int j = p.rank; j < n; ++j) EXPECT_LT(std::fabs(proj[j]), 1e-12) << j;
    // The same solve from the thin factors, bit for bit, with its flag.
    SvdResult thin = runSvd(m, n, A, false);
    Matrix y(n), w(kelm_math_lin_alg_svdSolveFromFactorizationReqdWorkSize(m, n));
    int flag = vm::svdSolveFromFactorization(m, n, thin.S.data(), thin.U.data(), thin.V.data(),
                                             b.data(), 1e-10, y.data(), w.data());
    EXPECT_EQ(flag, p.rank == k ? 1 : 0);
    EXPECT_EQ(y, x);
  }
  // Tolerance above every singular value: x = 0 and the flag is 0.
  Matrix A = randomMatrix(3, 3, 5), b = randomMatrix(3, 1, 6), x(3, 1.0);
  SvdResult f = runSvd(3, 3, A, false);
  Matrix w(3);
  EXPECT_EQ(vm::svdSolveFromFactorization(3, 3, f.S.data(), f.U.data(), f.V.data(), b.data(),
                                          f.S[0], x.data(), w.data()),
            0);
  EXPECT_EQ(x, Matrix(3, 0.0));
}

namespace {

struct EigResult {
  Matrix re, im, vre, vim;
  int ok;
};

EigResult runEig(int n, Matrix const& A, Matrix const& B) {
  EigResult r{Matrix(n), Matrix(n), Matrix(n * n), Matrix(n * n), 0};
  Matrix work(kelm_math_lin_alg_eigReqdRealWorkSize(n));
  std::vector<int> iwork(kelm_math_lin_alg_eigReqdInt32WorkSize(n));
  r.ok = vm::eig(n, A.data(), B.data(), r.re.data(), r.im.data(), r.vre.data(), r.vim.data(),
                 work.data(), iwork.data());
  return r;
}

// max over finite eigenpairs of |A v - lambda B v| (complex arithmetic).
double eigResidual(int n, Matrix const& A, Matrix const& B, EigResult const& r) {
  using C = std::complex<double>;
  double worst = 0.0;
  for (int j = 0; j < n; ++j) {
    if (!std::isfinite(r.re[j])) continue;
    C lambda(r.re[j], r.im[j]);
    for (int i = 0; i < n; ++i) {
      C av = 0.0, bv = 0.0;
      for (int l = 0; l < n; ++l) {
        C v(r.vre[j * n + l], r.vim[j * n + l]);
        av += A[l * n + i] * v;
        bv += B[l * n + i] * v;
      }
      worst = std::max(worst, std::abs(av - lambda * bv));
    }
  }
  return worst;
}

Matrix spd(int n, unsigned seed) {
  Matrix X = randomMatrix(n, n, seed), B = multiply(X, n, n, true, X, n, n, false);
  for (int i = 0; i < n; ++i) B[i * n + i] += n;
  return B;
}

Matrix symmetric(int n, unsigned seed) {
  Matrix X = randomMatrix(n, n, seed), A(n * n);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) A[j * n + i] = X[j * n + i] + X[i * n + j];
  return A;
}

}  // namespace

TEST(Eig, EigenpairsOfRealComplexAndSingularPencils) {
  for (int n : {1, 3, 6, 12, 30}) {
    SCOPED_TRACE(n);
    // Symmetric A, SPD B: all real, and V^T B V = I after orthonormalizing.
    Matrix A = symmetric(n, n), B = spd(n, n + 1);
    EigResult r = runEig(n, A, B);
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.im, Matrix(n, 0.0));
    EXPECT_EQ(r.vim, Matrix(n * n, 0.0));
    EXPECT_LT(eigResidual(n, A, B, r), 1e-11 * n);
    Matrix V = r.vre, work(3 * n * n);
    ASSERT_TRUE(vm::orthonormalizeRealEigenvectorsWrtSpdB(n, B.data(), V.data(), work.data()));
    EXPECT_LT(bOrthonormalityError(V, B, n), 1e-12 * n);
    r.vre = V;  // still eigenvectors
    EXPECT_LT(eigResidual(n, A, B, r), 1e-11 * n);
    // Random nonsymmetric pencil: complex pairs come conjugated, vectors too.
    Matrix G = randomMatrix(n, n, 3 * n), H = randomMatrix(n, n, 5 * n);
    EigResult c = runEig(n, G, H);
    ASSERT_EQ(c.ok, 1);
    EXPECT_LT(eigResidual(n, G, H, c), 1e-9 * n);
    for (int j = 0; j < n; ++j)
      if (c.im[j] > 0) {
        EXPECT_EQ(c.re[j + 1], c.re[j]);
        EXPECT_EQ(c.im[j + 1], -c.im[j]);
        for (int i = 0; i < n; ++i) EXPECT_EQ(c.vim[(j + 1) * n + i], -c.vim[j * n + i]);
        ++j;
      }
  }
  // A rotation has eigenvalues +-i; with B = I exactly.
  Matrix R = {0, 1, 0, -1, 0, 0, 0, 0, 2}, I3 = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  EigResult rot = runEig(3, R, I3);
  std::vector<double> ims = rot.im;
  std::sort(ims.begin(), ims.end());
  EXPECT_NEAR(ims[0], -1.0, 1e-14);
  EXPECT_NEAR(ims[2], 1.0, 1e-14);
  EXPECT_LT(eigResidual(3, R, I3, rot), 1e-14);
  // Singular B: one infinite eigenvalue, the others finite.
  Matrix D = {2, 0, 0, 0, 3, 0, 0, 0, -4}, Bs = {1, 0, 0, 0, 1, 0, 0, 0, 0};
  EigResult inf = runEig(3, D, Bs);
  EXPECT_EQ(std::count_if(inf.re.begin(), inf.re.end(), [](double x) { return std::isinf(x); }), 1);
  EXPECT_LT(eigResidual(3, D, Bs, inf), 1e-14);
  // Huge entries take the driver that scales: the same eigenvalues, scaled.
  Matrix huge = D;
  for (double& x : huge) x *= 1e150;
  EigResult scaled = runEig(3, huge, I3);
  std::sort(scaled.re.begin(), scaled.re.end());
  EXPECT_DOUBLE_EQ(scaled.re[0], -4e150);
  EXPECT_DOUBLE_EQ(scaled.re[2], 3e150);
  // Non-finite input: flag 0 and NaN outputs.
  D[4] = std::numeric_limits<double>::infinity();
  EigResult bad = runEig(3, D, I3);
  EXPECT_EQ(bad.ok, 0);
  EXPECT_TRUE(std::isnan(bad.re[0]) && std::isnan(bad.vim[8]));
}

// Pencils of tiny entries go through the scaling driver, which leaves some
// vectors of a singular A unscaled: they are scaled all the same.
TEST(Eig, VectorsOfTinyPencilsAreScaledLikeTheOthers) {
  struct Row {
    int n;
    double a;                      // every entry of A (rank one)
    double diagonal, offDiagonal;  // of B
  };
  std::vector<Row> const rows = {
      {6, -std::numeric_limits<double>::min(), 1134, 103},
      {4, 1e-200, 3, 1},
      {5, 1e-120, 7, -2},
  };
  for (std::size_t r = 0; r < rows.size(); ++r) {
    Row const& row = rows[r];
    int n = row.n;
    Matrix A(n * n, row.a), B(n * n, row.offDiagonal);
    for (int i = 0; i < n; ++i) B[i * n + i] = row.diagonal;
    EigResult e = runEig(n, A, B);
    ASSERT_EQ(e.ok, 1) << "row " << r;
    for (int j = 0; j < n; ++j) {
      double big = 0.0;
      for (int i = 0; i < n; ++i)
        big = std::max(big, std::fabs(e.vre[j * n + i]) + std::fabs(e.vim[j * n + i]));
      EXPECT_NEAR(big, 1.0, 1e-15) << "row " << r << ", vector " << j;
    }
  }
}

TEST(OrthonormalizeRealEigenvectorsWrtSpdB, NearlyParallelColumnsComeOutOrthonormal) {
  // Columns a common vector apart by `spread`: one Gram-Schmidt pass leaves
  // them B-orthogonal only to about eps / spread, a second to working
  // precision.
  struct Row {
    int n;
    double spread;
  };
  for (Row const& row : {Row{3, 1e-6}, Row{5, 1e-7}, Row{8, 1e-9}}) {
    SCOPED_TRACE(testing::Message() << "n " << row.n << " spread " << row.spread);
    int n = row.n;
    Matrix B = spd(n, 20 + n), common = randomMatrix(n, 1, 30 + n), V = randomMatrix(n, n, 40 + n),
           work(3 * n * n);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) V[j * n + i] = common[i] + row.spread * V[j * n + i];
    ASSERT_TRUE(vm::orthonormalizeRealEigenvectorsWrtSpdB(n, B.data(), V.data(), work.data()));
    EXPECT_LT(bOrthonormalityError(V, B, n), 1e-14 * n);
  }
}

TEST(OrthonormalizeRealEigenvectorsWrtSpdB, DegenerateSpaceAndFailures) {
  int n = 4;
  Matrix B = spd(n, 9), V = randomMatrix(n, n, 10), work(3 * n * n);
  // Any basis of a repeated eigenvalue's space (A = B: all eigenvalues 1).
  Matrix W = V;
  ASSERT_TRUE(
      vm::orthonormalizeRealEigenvectorsWrtSpdBDynamicSize(6, n, B.data(), W.data(), work.data()));
  EXPECT_LT(bOrthonormalityError(W, B, n), 1e-13);
  // The first column keeps its direction.
  double ratio = W[0] / V[0];
  for (int i = 1; i < n; ++i) EXPECT_NEAR(W[i] / V[i], ratio, 1e-12);
  // Dependent columns and an indefinite B fail and leave V alone.
  Matrix D = V;
  for (int i = 0; i < n; ++i) D[3 * n + i] = 2 * D[i] - D[n + i];
  Matrix before = D;
  EXPECT_FALSE(vm::orthonormalizeRealEigenvectorsWrtSpdB(n, B.data(), D.data(), work.data()));
  EXPECT_EQ(D, before);
  Matrix notSpd = B;
  notSpd[0] = -1.0;
  EXPECT_FALSE(vm::orthonormalizeRealEigenvectorsWrtSpdB(n, notSpd.data(), D.data(), work.data()));
  EXPECT_EQ(D, before);
}
