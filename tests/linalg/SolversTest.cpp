// Linear solvers, Numeric and along the four paths.

#include <numeric>

#include "linalg/LinalgTesting.hpp"

using namespace vela::test::linalg;

namespace {

double relativeResidual(Matrix const& a, int rows, int cols, Matrix const& x, Matrix const& b) {
  return ref_residual(rows, cols, a.data(), x.data(), b.data()) /
         (ref_maxAbs(a.data(), a.size()) * ref_maxAbs(x.data(), cols) * cols +
          ref_maxAbs(b.data(), rows));
}

// The reciprocal condition estimate of A, or -1 when Cholesky fails.
double estimate(Matrix a, int n) {
  Matrix work(n);
  if (kelm_math_lin_alg_choleskyFactor(a.data(), n) != 0) return -1.0;
  return kelm_math_lin_alg_conditionReciprocal(a.data(), n, 1, work.data());
}

// SPD with an estimate near target (bisection on an eigenvalue).
Matrix matrixWithEstimate(int n, double target) {
  std::vector<double> values(n, 1.0);
  double low = -14.0, high = -2.0;
  for (int step = 0; step < 60; ++step) {
    values[n - 1] = std::pow(10.0, 0.5 * (low + high));
    (estimate(symmetricWithSpectrum(values, 3), n) < target ? low : high) = 0.5 * (low + high);
  }
  return symmetricWithSpectrum(values, 3);
}

// factorAndSolveSymmetric as its documented calls; true for Cholesky.
bool solveSymmetric(Matrix const& a, int n, Matrix const& b, Matrix& x) {
  Matrix A = a, tau(n), work(n + n * n), F = a, want = b, inPlace = b;
  std::vector<int> piv(n, 7), qrPiv(n, 0);
  x.assign(n, kNaN);
  vm::factorAndSolveSymmetric(A.data(), n, tau.data(), piv.data(), b.data(), x.data(), work.data());
  double rc = estimate(a, n);
  if (rc > 0 && rc * rc > 1e-14) {
    kelm_math_lin_alg_choleskyFactor(F.data(), n);
    kelm_math_lin_alg_choleskySolve(F.data(), b.data(), n, want.data(), work.data());
  } else {
    kelm_math_lin_alg_qrFactor(n, n, F.data(), tau.data(), qrPiv.data(), work.data());
    kelm_math_lin_alg_qrSolveTall(n, n, F.data(), tau.data(), qrPiv.data(), want.data(), 1e-12);
    EXPECT_EQ(piv, qrPiv) << n;
  }
  EXPECT_TRUE(same(A, F) && same(x, want)) << n;
  A = a;
  vm::factorAndSolveSymmetric(A.data(), n, tau.data(), piv.data(), inPlace.data(), inPlace.data(),
                              work.data());
  EXPECT_TRUE(same(inPlace, want)) << n;
  return rc > 0 && rc * rc > 1e-14;
}

}  // namespace

// The estimate lies in [truth, 20 truth]; on M-matrices (with nonnegative
// inverses) it is exact, and row r is made the largest in turn.
TEST(Solvers, CholeskyFactorAndConditionEstimate) {
  std::vector<std::pair<Matrix, bool>> tests;
  for (int n = 1; n <= 13; ++n)
    for (int r = 0; r < n; ++r) {
      Matrix u = uniform(n, n, 100 * n + r), a(n * n, 0.0);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < i; ++j)
          a[i + n * j] = a[j + n * i] = -(2 + u[i + n * j]) * (i == r || j == r ? 2 : 1);
      for (int i = 0; i < n; ++i)
        a[i * (n + 1)] = 1.5 + u[i * (n + 1)] - std::accumulate(&a[n * i], &a[n * i + n], 0.0);
      tests.push_back({a, true});
    }
  for (int n : {2, 5, 12, 30, 70})
    for (double condition : {1.0, 1e4, 1e12})
      tests.push_back({symmetricWithSpectrum(spread(n, condition), n), false});
  for (auto const& [a, exact] : tests) {
    int n = static_cast<int>(std::sqrt(a.size()));
    Matrix f = a, work(n), inverse(n * n, 0.0);
    for (int j = 1; j < n; ++j) std::fill(&f[n * j], &f[n * j + j], kNaN);  // never read
    ASSERT_EQ(kelm_math_lin_alg_choleskyFactor(f.data(), n), 0);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)  // L L^T = A; the upper triangle mirrors A
        EXPECT_NEAR(i < j ? f[i + n * j] : ref_sequential(j + 1, &f[i], n, &f[j], n), a[i + n * j],
                    1e-14 * n * ref_maxAbs(a.data(), n * n));
    for (int j = 0; j < n; ++j) {
      inverse[j * (n + 1)] = 1.0;
      kelm_math_lin_alg_choleskySolve(f.data(), &inverse[n * j], n, &inverse[n * j], work.data());
    }
    double truth = 1.0 / (ref_norm1(n, n, a.data()) * ref_norm1(n, n, inverse.data()));
    double rc = kelm_math_lin_alg_conditionReciprocal(f.data(), n, 1, work.data());
    EXPECT_GE(rc, truth * (1 - (exact ? 1e-12 : 1e-6))) << n;
    EXPECT_LE(rc, truth * (exact ? 1 + 1e-12 : 20)) << n;
  }
  // Failure names the first pivot that is not positive (or NaN).
  Matrix indefinite = symmetricWithSpectrum({2, 1, -1, 3}, 5), zeroPivot = {0, 1, 1, 1};
  Matrix second = {1, 1, 1, 1}, nan = {1, 0, 0, 0, 1, kNaN, 0, 0, 1},
         nanFactor = {2, kNaN, kNaN, 2};
  for (auto [a, n, info] :
       {std::tuple{&indefinite, 4, 3}, {&zeroPivot, 2, 1}, {&second, 2, 2}, {&nan, 3, 3}})
    EXPECT_EQ(kelm_math_lin_alg_choleskyFactor(a->data(), n), info);
  EXPECT_TRUE(
      std::isnan(kelm_math_lin_alg_conditionReciprocal(nanFactor.data(), 2, 1, nan.data())));
  EXPECT_EQ(kelm_math_lin_alg_conditionReciprocal(nullptr, 0, 1, nullptr), 1.0);
}

TEST(Solvers, SmallAndSymmetricSolves) {
  for (unsigned seed = 0; seed < 20; ++seed) {
    Matrix g = uniform(2, 2, seed), r = uniform(2, 1, seed + 99), y(2);
    vm::geSolve2x2(g.data(), r.data(), y.data());
    EXPECT_LT(relativeResidual(g, 2, 2, y, r), 1e-15) << seed;
  }
  // A tiny leading entry needs the row exchange; a singular matrix divides by 0.
  Matrix tiny = {1e-20, 1.0, 1.0, 1.0}, r = {1.0, 2.0}, singular = {1.0, 2.0, 2.0, 4.0};
  vm::geSolve2x2(tiny.data(), r.data(), r.data());  // in place
  EXPECT_EQ(r, (Matrix{1.0, 1.0}));
  vm::geSolve2x2(singular.data(), tiny.data(), r.data());
  EXPECT_FALSE(std::isfinite(r[0]) && std::isfinite(r[1]));
  // Order 1: factoring leaves A as it is; solving divides, or gives 0 for A = 0.
  Matrix work(5), x;
  double tau, x0;
  int piv;
  double const order1[][3] = {
      {2.0, 1.0, 0.5}, {0.0, 3.0, 0.0}, {-0.0, kNaN, 0.0}, {-4.0, 2.0, -0.5}, {kNaN, 1.0, kNaN}};
  for (auto [a1, b1, expected] : order1) {
    double value = a1, factored = a1;
    EXPECT_EQ(vm::factorSymmetricPosDef(&value, 1, work.data()), a1 <= 0.0) << a1;
    EXPECT_TRUE(sameBits(value, a1));
    vm::factorAndSolveSymmetric(&factored, 1, &tau, &piv, &b1, &x0, work.data());
    EXPECT_TRUE(sameBits(x0, expected)) << a1;
  }
  EXPECT_FALSE(vm::factorSymmetricPosDef(static_cast<double*>(nullptr), 0u, nullptr));
  // A squared estimate near 2.5e-15 passes 1e-15 but not 1e-14.
  Matrix between = matrixWithEstimate(4, 5e-8), worse = matrixWithEstimate(4, 2e-8);
  Matrix better = matrixWithEstimate(4, 2e-7), b = uniform(4, 1, 1), factor = between;
  double rc = estimate(between, 4);
  ASSERT_TRUE(rc * rc > 1.5e-15 && rc * rc < 0.5e-14) << rc;
  EXPECT_FALSE(vm::factorSymmetricPosDef(factor.data(), 4, work.data()));
  EXPECT_TRUE(vm::factorSymmetricPosDef(worse.data(), 4, work.data()));
  EXPECT_FALSE(solveSymmetric(between, 4, b, x));
  EXPECT_LT(relativeResidual(between, 4, 4, x, b), 1e-10);
  EXPECT_TRUE(solveSymmetric(better, 4, b, x));

  // solveSymmetricPosDef: columns solved independently; order 1 divides.
  Matrix a = symmetricWithSpectrum(spread(5, 100.0), 8), f = a, B = uniform(5, 3, 2), X(15);
  ASSERT_FALSE(vm::factorSymmetricPosDef(f.data(), 5, work.data()));
  vm::solveSymmetricPosDef(f.data(), B.data(), 5, 3, X.data(), work.data());
  for (int j = 0; j < 3; ++j) EXPECT_LT(ref_residual(5, 5, a.data(), &X[5 * j], &B[5 * j]), 1e-15);
  double L = 4.0, b1[] = {1.0, -2.0, 6.0}, x1[] = {7.0, 7.0, 7.0};
  vm::solveSymmetricPosDef(&L, b1, 0, 1, x1, work.data());
  vm::solveSymmetricPosDef(&L, b1, 1, 0, x1, work.data());
  EXPECT_EQ(x1[0], 7.0);
  vm::solveSymmetricPosDef(&L, b1, 1, 3, x1, work.data());
  EXPECT_EQ(Matrix(x1, x1 + 3), (Matrix{0.25, -0.5, 1.5}));

  // Cholesky to order 33 and at 64 (last with pivot reciprocals), then QR.
  std::vector<std::vector<double>> qr = {
      spread(64, 3), {3, -1, 2, 0.5}, spread(12, 1e9), spread(5, 10), spread(70, 10)};
  qr[3][1] = qr[4][1] = 0.0;
  for (int n = 2; n <= 38; ++n)
    for (double condition : {3.0, 1e5}) {
      std::vector<double> spectrum = n <= 33 ? spread(n, condition) : qr[n - 34];
      int order = static_cast<int>(spectrum.size());
      Matrix s = symmetricWithSpectrum(spectrum, order + 11), y = uniform(order, 1, n), rhs(order);
      for (int i = 0; i < order; ++i) rhs[i] = ref_sequential(order, &s[i], order, y.data(), 1);
      EXPECT_EQ(solveSymmetric(s, order, rhs, x), n <= 34) << n;
      EXPECT_LT(relativeResidual(s, order, order, x, rhs), 1e-11) << n;
    }
  // All NaN (Cholesky fails and QR finds rank 0); order 0.
  EXPECT_FALSE(solveSymmetric(Matrix(9, kNaN), 3, {1.0, 2.0, 3.0}, x));
  EXPECT_EQ(x, Matrix(3, 0.0));
  vm::factorAndSolveSymmetric(static_cast<double*>(nullptr), 0u, nullptr, nullptr, nullptr, nullptr,
                              nullptr);
}

// Tall: least squares, zero beyond the rank; wide: the minimum norm.
TEST(Solvers, PivotedQR) {
  int const shapes[][3] = {{6, 3, 3}, {12, 5, 3}, {30, 30, 30}, {8, 8, 5},
                           {2, 3, 2}, {3, 6, 3},  {4, 7, 2}};
  for (auto const& [m, n, r] : shapes) {
    SCOPED_TRACE(testing::Message() << m << " by " << n << ", rank " << r);
    int big = std::max(m, n);
    Matrix a = multiply(uniform(m, r, n), m, r, false, uniform(r, n, 1), r, n, false), at(m * n);
    Matrix qr = a, tau(big), work(big), b = uniform(m, 1, 2), x = b, y(n), w(big);
    std::vector<int> piv(big, 0), wide(m, 9);
    x.resize(big);
    kelm_math_lin_alg_qrFactor(m, n, qr.data(), tau.data(), piv.data(), work.data());
    for (int k = 1; k < std::min(m, n); ++k)  // pivoting orders the diagonal
      EXPECT_LE(std::fabs(qr[k * (m + 1)]), std::fabs(qr[(k - 1) * (m + 1)]) * (1 + 1e-12));
    EXPECT_EQ(
        kelm_math_lin_alg_qrSolveTall(m, n, qr.data(), tau.data(), piv.data(), x.data(), 1e-10), r);
    x.resize(n);
    EXPECT_EQ(std::count(x.begin(), x.end(), 0.0), n - r);
    Matrix residual = multiply(a, m, n, false, x, n, 1, false);
    for (int i = 0; i < m; ++i) residual[i] -= b[i];
    EXPECT_LT(ref_maxAbs(multiply(a, m, n, true, residual, m, 1, false).data(), n),
              1e-12 * (1 + ref_maxAbs(x.data(), n)));
    b = multiply(a, m, n, false, uniform(n, 1, 5), n, 1, false);
    for (int i = 0; i < m * n; ++i) at[i / m + n * (i % m)] = a[i];
    Matrix svdWork(kelm_math_lin_alg_svdSolveReqdWorkSize(m, n));
    vm::svdSolve(m, n, a.data(), b.data(), 1e-10, y.data(), svdWork.data());
    vm::factorAndSolveWide(m, n, at.data(), tau.data(), work.data(), wide.data(), b.data(), 1e-10,
                           w.data());
    EXPECT_LT(maxAbsDiff(Matrix(w.begin(), w.begin() + n), y), 1e-12 * ref_maxAbs(y.data(), n));
    // A tolerance above 1 keeps nothing.
    EXPECT_EQ(kelm_math_lin_alg_qrSolveWide(m, n, at.data(), tau.data(), wide.data(), b.data(), 2.0,
                                            w.data()),
              0);
    EXPECT_EQ(Matrix(w.begin(), w.begin() + n), Matrix(n, 0.0));
  }
  Matrix none = {5.0, 5.0};  // no equations
  vm::factorAndSolveWide(0, 2, nullptr, nullptr, nullptr, nullptr, nullptr, 1e-12, none.data());
  EXPECT_EQ(none, Matrix(2, 0.0));
  // Squares over- or underflow: the norms scale; a zero column, and a first
  // pivot column with a zero tail.
  Matrix a = uniform(7, 4, 9), b = uniform(7, 1, 10), reference;
  std::fill(&a[14], &a[21], 0.0);
  std::fill(&a[1], &a[7], 0.0);
  a[0] = 10.0;
  for (double scale : {1.0, 0x1p600, 0x1p-600}) {
    Matrix qr = a, x = b, tau(4), work(4);
    for (double& v : qr) v *= scale;
    for (double& v : x) v *= scale;
    std::vector<int> piv(4, 0);
    kelm_math_lin_alg_qrFactor(7, 4, qr.data(), tau.data(), piv.data(), work.data());
    EXPECT_EQ(
        kelm_math_lin_alg_qrSolveTall(7, 4, qr.data(), tau.data(), piv.data(), x.data(), 1e-12), 3);
    x.resize(4);
    if (scale == 1.0) reference = x;
    EXPECT_LT(maxAbsDiff(x, reference), 1e-13 * ref_maxAbs(reference.data(), 4)) << scale;
  }
  // Sums of squares at the ends of the normal range take the square root; NaN.
  for (auto [a0, a1, norm] :
       {std::tuple{0x1.c87930d390f26p-512, 0x1.cfcb0f63cd269p-513, 0x1p-511},
        {0x1.ff36840490db9p+511, 0x1.c60cc9121b983p+507, 0x1.fffffffffffffp+511},
        {0.0, kNaN, kNaN}}) {
    double qr[] = {a0, a1}, tau, work;
    int piv = 0;
    kelm_math_lin_alg_qrFactor(2, 1, qr, &tau, &piv, &work);
    EXPECT_TRUE(sameBits(qr[0], -norm)) << qr[0];
  }
  // The rank rule on a diagonal R: R_00, R_11, R_22, tolerance, rank.
  double const rows[][5] = {{2, 1, 0.5, 1e-12, 3}, {2, 1, 0.5, 0.4, 2},   {2, 1, 0.5, 2.0, 0},
                            {2, 1, 0, 0.0, 2},     {2, 1, 0, -1.0, 2},    {2, 0, 1, -1.0, 1},
                            {kInf, 1, 1, -1.0, 0}, {0, 1, 1, -1.0, 0},    {kNaN, 1, 1, -1.0, 0},
                            {2, 1, 1, kNaN, 0},    {-2, -1, 0.5, -0.5, 3}};
  for (auto const& row : rows) {
    Matrix qr = {row[0], 0, 0, 0, row[1], 0, 0, 0, row[2]}, tau(3, 0.0), b = {1, 1, 1}, x = b, y(3);
    int piv[] = {1, 2, 3}, rank = static_cast<int>(row[4]);
    double const *Q = qr.data(), *t = tau.data();
    EXPECT_EQ(kelm_math_lin_alg_qrSolveTall(3, 3, Q, t, piv, x.data(), row[3]), rank);
    EXPECT_EQ(kelm_math_lin_alg_qrSolveWide(3, 3, Q, t, piv, b.data(), row[3], y.data()), rank);
    for (int j = 0; j < 3; ++j) EXPECT_TRUE(x[j] == (j < rank ? 1 / qr[4 * j] : 0) && x[j] == y[j]);
  }
}

// All solver nodes; the factorization of A copies it, read again later.
TEST(Solvers, NodesAlongFourPaths) {
  // A and M: well or badly conditioned, indefinite, singular, with a NaN.
  std::vector<std::vector<double>> spectra = {
      spread(4, 10), spread(4, 3e7), {1, -1, 2, 3}, {1, 0.5, 0, 0.2}};
  std::vector<Case> cases;
  for (std::size_t k = 0; k < 5; ++k) {
    Matrix values = symmetricWithSpectrum(spectra[k % 4], k),
           M = symmetricWithSpectrum(spectra[(k + 1) % 4], k), b = uniform(4, 2, k);
    values.insert(values.end(), M.begin(), M.end());
    values.insert(values.end(), b.begin(), b.end());
    values.push_back(std::vector<double>{1e-12, 1e-3, 0.9, 1e-12, 0.0}[k]);
    cases.push_back({values, {}});
  }
  cases[4].doubles[6] = kNaN;
  cases[1].doubles[0] = 1e-20;  // geSolve2x2 exchanges rows
  checkKernel(
      [](auto const& in) {
        using S = typename std::decay_t<decltype(in)>::Scalar;
        using I = typename std::decay_t<decltype(in)>::Integer;
        auto A = in.doubles(0, 16), R = A, M = in.doubles(16, 16), B = in.doubles(32, 8),
             x2 = in.doubles(32, 2);
        std::vector<S> X(8), tau(5), work(20), x(4), y(4), zeros(3, S(0.0)), Z(3), z(1), out;
        std::vector<I> pivots(5);
        auto t = tau.data(), w = work.data();
        auto p = pivots.data();
        vm::geSolve2x2(A.data(), x2.data(), x2.data());
        vm::factorAndSolveSymmetric(R.data(), 4u, t, p, B.data(), x.data(), w);
        vm::factorAndSolveSymmetric(M.data(), 4u, t, p, B.data(), y.data(), w);
        vm::factorAndSolveSymmetric(A.data(), 1u, t, p, B.data(), z.data(), w);
        vm::solveSymmetricPosDef(A.data(), zeros.data(), 1u, 3u, Z.data(), work.data());
        out = {S(vm::factorSymmetricPosDef(A.data(), 4u, work.data()))};
        vm::solveSymmetricPosDef(A.data(), B.data(), 4u, 2u, X.data(), work.data());
        for (auto const* v : {&A, &X, &x, &y, &z, &Z, &x2})
          out.insert(out.end(), v->begin(), v->end());
        for (auto [m, n] : {std::pair{0u, 3u}, {2u, 3u}, {3u, 5u}, {3u, 2u}}) {
          std::vector<S> v(std::max(m, n)), a = in.doubles(16, m * n), b = in.doubles(32, m);
          vm::factorAndSolveWide(m, n, a.data(), t, w, p, b.data(), in.d(40), v.data());
          out.insert(out.end(), v.begin(), v.begin() + n);
        }
        return out;
      },
      cases,
      {"geSolve2x2(", "solveSymmetricPosDef(", ", 4, 2, ", ", 1, 3, ", " = factorSymmetricPosDef(",
       ", 16 * sizeof(double));", "factorAndSolveWide(0, 3, ", "factorAndSolveWide(3, 5, ",
       ", 15 * sizeof(double));"},
      {"GeSolve2x2", "FactorSymmetric", "SolveSymmetric", "FactorAndSolveSymmetric",
       "FactorAndSolveWide"},
      {"FactorSymmetric", "SolveSymmetric", "FactorAndSolveSymmetric", "FactorAndSolveWide"});
  // Order 1 divides unless all of several right-hand sides are 0.
  EXPECT_TRUE(vm::factorSymmetricPosDef(nullptr, 0ul, nullptr).equalConstant(0));
  ct::TracedDouble L = 2.0, X[2];
  for (auto [b0, m, node] : {std::tuple{0.0, 2ul, true}, {1.0, 2ul, false}, {0.0, 1ul, false}}) {
    ct::TracedDouble B[] = {0.0, b0};
    vm::solveSymmetricPosDef(&L, B, 1ul, m, X, nullptr);
    EXPECT_EQ(descriptions({X[0], X[1]}, {}).count("SolveSymmetric"), node ? 1u : 0u) << b0 << m;
  }
}
