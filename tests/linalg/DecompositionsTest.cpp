// Eigen and singular value decompositions, Numeric and along the four paths.

#include <complex>

#include "linalg/LinalgTesting.hpp"

using namespace vela::test::linalg;

namespace {

struct Svd {
  Matrix S, U, V;
};

Svd svd(int m, int n, Matrix const& A, bool full) {
  int k = std::min(m, n);
  Svd r{Matrix(k), Matrix(m * (full ? m : k)), Matrix(n * (full ? n : k))};
  Matrix work(kelm_math_lin_alg_svdReqdWorkSize(m, n, full));
  vm::svd(m, n, A.data(), full, r.S.data(), r.U.data(), r.V.data(), work.data());
  return r;
}

struct Eig {
  Matrix re, im, vre, vim;
  int ok;
};

Eig eig(int n, Matrix const& A, Matrix const& B) {
  Eig r{Matrix(n), Matrix(n), Matrix(n * n), Matrix(n * n), 0};
  Matrix work(kelm_math_lin_alg_eigReqdRealWorkSize(n));
  std::vector<int> iwork(kelm_math_lin_alg_eigReqdInt32WorkSize(n));
  r.ok = vm::eig(n, A.data(), B.data(), r.re.data(), r.im.data(), r.vre.data(), r.vim.data(),
                 work.data(), iwork.data());
  return r;
}

// max over finite eigenpairs of |A v - lambda B v|.
double eigResidual(int n, Matrix const& A, Matrix const& B, Eig const& r) {
  using C = std::complex<double>;
  double worst = 0.0;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n && std::isfinite(r.re[j]); ++i) {
      C av = 0.0, bv = 0.0, v;
      for (int l = 0; l < n; ++l) {
        v = C(r.vre[j * n + l], r.vim[j * n + l]);
        av += A[l * n + i] * v;
        bv += B[l * n + i] * v;
      }
      worst = std::max(worst, std::abs(av - C(r.re[j], r.im[j]) * bv));
    }
  return worst;
}

bool absLess(double a, double b) { return std::fabs(a) < std::fabs(b); }

// X^T X + n I: symmetric positive definite.
Matrix spd(int n, unsigned seed) {
  Matrix X = uniform(n, n, seed), B = multiply(X, n, n, true, X, n, n, false);
  for (int i = 0; i < n; ++i) B[i * n + i] += n;
  return B;
}

}  // namespace

// Also: 45-degree rotations (the first of equal entries signs), rounding
// residue columns (orthogonal only by underflow), the ends of the range.
TEST(Decompositions, SvdFactorsReconstructAreOrthonormalSortedAndSigned) {
  Matrix residue = {-26, -26, -26, -26, -15.125, -64, 0, 0, 0, 0, 0, 0, 0, 0, 0}, tiny = residue;
  for (double& x : tiny) x *= 1e-200;
  std::vector<std::tuple<int, int, int, Matrix>> shapes = {
      {3, 5, 2, residue},
      {3, 5, 2, tiny},
      {5, 3, 2, {-26, -26, 0, 0, 0, -26, -15.125, 0, 0, 0, -26, -64, 0, 0, 0}},
      {2, 2, 2, {3, 1, 1, 3}},
      {2, 3, 2, {3, 1, 1, 3, 0, 0}},
      {3, 2, 2, {3, 1, 0, 1, 3, 0}},
      {2, 2, 2, {-3, -1, -1, -3}},
      {3, 3, 3, {3e-300, 0, 0, 0, 2e-300, 0, 0, 0, -5e-300}},
      {3, 3, 3, {3e300, 0, 0, 0, 2e300, 0, 0, 0, -5e300}}};
  int const random[][3] = {{3, 3, 3}, {6, 6, 6}, {12, 12, 12}, {30, 30, 30}, {7, 3, 3},
                           {3, 7, 3}, {1, 1, 1}, {1, 5, 1},    {5, 1, 1},    {6, 6, 2},
                           {8, 5, 3}, {4, 9, 1}, {5, 5, 0},    {3, 6, 0}};
  for (auto const& [m, n, rank] : random)
    shapes.emplace_back(
        m, n, rank,
        multiply(uniform(m, rank, m + n), m, rank, false, uniform(rank, n, m * n), rank, n, false));
  for (auto const& [m, n, rank, A] : shapes)
    for (bool full : {false, true}) {
      int k = std::min(m, n);
      SCOPED_TRACE(testing::Message() << m << " by " << n << " rank " << rank << " full " << full);
      Svd r = svd(m, n, A, full);
      EXPECT_TRUE(std::is_sorted(r.S.rbegin(), r.S.rend()) && r.S.back() >= 0.0);
      EXPECT_LT(orthonormalityError(r.U, m, full ? m : k), 1e-13);
      EXPECT_LT(orthonormalityError(r.V, n, full ? n : k), 1e-13);
      Matrix US = r.U;  // U_k diag(S) V_k^T = A
      for (int i = 0; i < m * k; ++i) US[i] *= r.S[i / m];
      EXPECT_LE(maxAbsDiff(multiply(US, m, k, false, r.V, n, k, true), A),
                1e-13 * (m + n) * ref_maxAbs(A.data(), m * n));
      for (int j = 0; j < k; ++j) {  // the first largest entry of v_j (u_j when wide) is positive
        double const* w = m < n ? &r.U[j * m] : &r.V[j * n];
        EXPECT_GT(*std::max_element(w, w + k, absLess), 0.0) << j;
      }
      EXPECT_EQ(vm::svdComputeRank(m, n, r.S.data(), 1e-10 * r.S[0]), static_cast<unsigned>(rank));
      if (full) {  // thin and full factorizations agree on their common part
        Svd thin = svd(m, n, A, false);
        EXPECT_TRUE(thin.S == r.S && std::equal(thin.V.begin(), thin.V.end(), r.V.begin()));
        continue;
      }
      // Least squares; the same bits from the factors, flagging a full rank.
      double tol = rank == 0 ? -1.0 : rank < k ? r.S[rank] : 1e-10 * r.S[0];  // strict, nonzero
      Matrix b = uniform(m, 1, 3), x(n, 7.0), y(n, -7.0),
             work(kelm_math_lin_alg_svdSolveReqdWorkSize(m, n));
      vm::svdSolve(m, n, A.data(), b.data(), tol, x.data(), work.data());
      EXPECT_EQ(vm::svdSolveFromFactorization(m, n, r.S.data(), r.U.data(), r.V.data(), b.data(),
                                              tol, y.data(), work.data()),
                rank == k);
      EXPECT_TRUE(same(x, y));
      Matrix residual = multiply(A, m, n, false, x, n, 1, false);
      for (int i = 0; i < m; ++i) residual[i] -= b[i];
      EXPECT_LE(ref_maxAbs(multiply(A, m, n, true, residual, m, 1, false).data(), n),
                1e-12 * ref_maxAbs(A.data(), m * n));
    }
}

TEST(Decompositions, EigAndOrthonormalization) {
  for (int n : {1, 3, 6, 12, 30}) {
    SCOPED_TRACE(n);
    // Symmetric A, SPD B: real, and B-orthonormal eigenvectors.
    Matrix X = uniform(n, n, n), A = X, B = spd(n, n + 1), work(3 * n * n);
    for (int i = 0; i < n * n; ++i) A[i] += X[i % n * n + i / n];
    Eig r = eig(n, A, B);
    ASSERT_EQ(r.ok, 1);
    EXPECT_TRUE(r.im == Matrix(n, 0.0) && r.vim == Matrix(n * n, 0.0));
    ASSERT_TRUE(vm::orthonormalizeRealEigenvectorsWrtSpdB(n, B.data(), r.vre.data(), work.data()));
    EXPECT_LT(orthonormalityError(r.vre, n, n, B), 1e-12 * n);
    EXPECT_LT(eigResidual(n, A, B, r), 1e-11 * n);
    Matrix G = uniform(n, n, 3 * n), H = uniform(n, n, 5 * n);
    Eig c = eig(n, G, H);
    ASSERT_EQ(c.ok, 1);
    EXPECT_LT(eigResidual(n, G, H, c), 1e-9 * n);
    for (int j = 0; j + 1 < n; ++j)
      if (c.im[j] > 0) {
        EXPECT_TRUE(c.re[j + 1] == c.re[j] && c.im[j + 1] == -c.im[j]);
        for (int i = 0; i < n; ++i) EXPECT_EQ(c.vim[(j + 1) * n + i], -c.vim[j * n + i]);
      }
  }
  // Singular B: one infinite value; huge entries: the scaling driver.
  Matrix D = {2, 0, 0, 0, 3, 0, 0, 0, -4}, Bs = {1, 0, 0, 0, 1, 0, 0, 0, 0}, huge = D;
  Matrix I = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  Eig inf = eig(3, D, Bs);
  EXPECT_LT(eigResidual(3, D, Bs, inf), 1e-14);
  EXPECT_EQ(std::count_if(inf.re.begin(), inf.re.end(), [](double x) { return std::isinf(x); }), 1);
  for (double& x : huge) x *= 1e150;
  Eig scaled = eig(3, huge, I);
  EXPECT_DOUBLE_EQ(*std::min_element(scaled.re.begin(), scaled.re.end()), -4e150);
  // Nearly parallel columns (Gram-Schmidt twice); failures keep V.
  for (auto [n, spread] : {std::pair{3, 1e-6}, {5, 1e-7}, {8, 1e-9}, {4, 1.0}}) {
    Matrix B = spd(n, 20 + n), common = uniform(n, 1, 30 + n), V = uniform(n, n, 40 + n), W = V;
    Matrix work(3 * n * n);
    for (int i = 0; i < n * n; ++i) V[i] = W[i] = common[i % n] + spread * V[i];
    ASSERT_TRUE(vm::orthonormalizeRealEigenvectorsWrtSpdBDynamicSize(9, n, B.data(), W.data(),
                                                                     work.data()));
    EXPECT_LT(orthonormalityError(W, n, n, B), 1e-14 * n);
    for (int i = 1; i < n; ++i) EXPECT_NEAR(W[i] / V[i], W[0] / V[0], 1e-12);
    for (int i = 0; i < n; ++i) V[(n - 1) * n + i] = 2 * V[i] - V[n + i];
    W = V;
    EXPECT_FALSE(vm::orthonormalizeRealEigenvectorsWrtSpdB(n, B.data(), W.data(), work.data()));
    B[0] = -1.0;
    EXPECT_FALSE(vm::orthonormalizeRealEigenvectorsWrtSpdB(n, B.data(), W.data(), work.data()));
    EXPECT_EQ(W, V);
  }
}

// Capacity 4, traced n; vectors orthonormalized in place and after a copy.
TEST(Decompositions, NodesAlongFourPaths) {
  std::vector<Case> cases = randomCases(17, {{4}, {3}, {1}, {4}});
  cases[3].doubles[0] = kNaN;
  addOutOfRange(cases, {0});
  checkKernel(
      [](auto const& in) {
        using S = typename std::decay_t<decltype(in)>::Scalar;
        using I = typename std::decay_t<decltype(in)>::Integer;
        auto n = nonNegative(in.i(0)), n4 = vm::clampSize(n, 4);
        Matrix spd4 = spd(4, 1);
        std::vector<S> A = in.doubles(0, 16), B(spd4.begin(), spd4.end()), out;
        std::vector<S> work(kelm_math_lin_alg_eigReqdRealWorkSize(4) + 48), re(4), im(4), vre(16),
            vim(16), V(16);
        std::vector<I> iwork(kelm_math_lin_alg_eigReqdInt32WorkSize(4));
        vm::eigDynamicSize(4, n, A.data(), B.data(), re.data(), im.data(), vre.data(), vim.data(),
                           work.data(), iwork.data());
        for (auto const* v : {&re, &im}) appendMasked(out, *v, n4);
        for (auto const* v : {&vre, &vim}) appendMasked(out, *v, n4 * n4);
        for (int i = 0; i < 16; ++i) A[i] = A[i] + A[i % 4 * 4 + i / 4];  // symmetric
        vm::eigDynamicSize(4, n, A.data(), B.data(), re.data(), im.data(), V.data(), vim.data(),
                           work.data(), iwork.data());
        std::vector<S> W = V;
        appendMasked(out, W, n4 * n4);
        for (auto* v : {&V, &W}) {
          out.push_back(S(vm::orthonormalizeRealEigenvectorsWrtSpdBDynamicSize(
              4, n, B.data(), v->data(), work.data())));
          appendMasked(out, *v, n4 * n4);
        }
        std::vector<S> values;  // the rank of the values, not of what lies past n
        appendMasked(values, re, n4);
        out.push_back(S(vm::svdComputeRank(4, 4, values.data(), in.d(16))));
        return out;
      },
      cases,
      {"eig(spi[", " = orthonormalizeRealEigenvectorsWrtSpdB(spi[", ", 16 * sizeof(double));",
       " = svdComputeRank(4, 4, "},
      {"Eig", "OrthonormalizeRealEigWrtSpdB", "SvdComputeRank"});

  // Capacity 5 by 4 and traced m, n, tall and wide.
  std::vector<Case> sizes =
      randomCases(26, {{5, 4}, {4, 2}, {3, 0}, {3, 3}, {3, 4}, {1, 4}, {0, 3}, {2, 3}});
  sizes[1].doubles[25] = sizes[5].doubles[25] = 1e9;  // nothing kept: x = 0, flag 0, rank 0
  sizes[2].doubles[25] = sizes[6].doubles[25] = 0.0;
  sizes[3].doubles[0] = sizes[7].doubles[0] = kNaN;  // no sweep converges; all is written
  addOutOfRange(sizes, {0, 1});
  checkKernel(
      [](auto const& in) {
        using S = typename std::decay_t<decltype(in)>::Scalar;
        auto m = nonNegative(in.i(0)), n = nonNegative(in.i(1));
        auto m5 = vm::clampSize(m, 5), n4 = vm::clampSize(n, 4), k = vm::clampSize(m5, n4);
        std::vector<S> A = in.doubles(0, 20), b = in.doubles(20, 5), s(4), U(25), V(16), x(4), out;
        std::vector<S> work(kelm_math_lin_alg_svdSolveReqdWorkSize(5, 4));
        vm::svdDynamicSize(5, 4, m, n, A.data(), true, s.data(), U.data(), V.data(), work.data());
        appendMasked(out, s, k);
        appendMasked(out, U, m5 * m5);
        appendMasked(out, V, n4 * n4);
        vm::svdSolveDynamicSize(5, 4, m, n, A.data(), b.data(), in.d(25), x.data(), work.data());
        appendMasked(out, x, n4);
        vm::svdDynamicSize(5, 4, m, n, A.data(), false, s.data(), U.data(), V.data(), work.data());
        appendMasked(out, U, m5 * k);
        appendMasked(out, V, n4 * k);
        out.push_back(S(vm::svdSolveFromFactorizationDynamicSize(
            5, 4, m, n, s.data(), U.data(), V.data(), b.data(), in.d(25), x.data(), work.data())));
        appendMasked(out, x, n4);
        out.push_back(S(vm::svdComputeRankDynamicSize(5, 4, m, n, s.data(), in.d(25))));
        return out;
      },
      sizes,
      {", TRUE, ", ", FALSE, ", "svdSolve(spi[", " = svdSolveFromFactorization(spi[",
       " = svdComputeRank(spi["},
      {"Svd", "SvdSolve", "SvdSolveFromFactorization", "SvdComputeRank"}, {"Svd", "SvdSolve"});
}
