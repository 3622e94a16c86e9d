#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "kelm_math/lin_alg.h"

TEST(TriDiag, RandomDominantSystemsOpenAndPeriodic) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (bool periodic : {false, true})
    for (int n = 1; n <= 30; ++n)
      for (int trial = 0; trial < 10; ++trial) {
        // Diagonals of both signs (as in open splines), couplings below half.
        std::vector<double> diag(n), off(n > 1 ? n - 1 : 0), rhs(n), work(n, 123.0);
        for (int i = 0; i < n; ++i) diag[i] = (i % 3 == 0 ? -2.5 : 2.5) + u(rng);
        for (double& e : off) e = u(rng);
        for (double& b : rhs) b = 10.0 * u(rng);
        double corner = periodic ? u(rng) : 0.0;
        // The dense matrix; the corner wraps around (twice onto the diagonal for n = 1).
        std::vector<double> A(n * n, 0.0);
        for (int i = 0; i < n; ++i) A[i * n + i] = diag[i];
        for (int i = 0; i + 1 < n; ++i) A[i * n + i + 1] = A[(i + 1) * n + i] = off[i];
        A[n - 1] += corner;
        A[(n - 1) * n] += corner;

        std::vector<double> x = rhs, dg = diag, od = off;
        int flag = periodic ? kelm_math_lin_alg_solveTriDiagSymmPer(dg.data(), od.data(), x.data(),
                                                                    n, corner, work.data())
                            : kelm_math_lin_alg_solveTriDiagSymm(dg.data(), od.data(), x.data(), n);
        std::string what = (periodic ? "periodic n = " : "n = ") + std::to_string(n);
        ASSERT_EQ(flag, 0) << what;
        for (int i = 0; i < n; ++i) {
          double r = -rhs[i];
          for (int j = 0; j < n; ++j) r += A[i * n + j] * x[j];
          EXPECT_LE(std::fabs(r), 1e-13) << what;
        }
      }
}

TEST(TriDiag, SmallSizesAndZeroPivots) {
  // n = 2 periodic: the corner adds to the coupling.
  double diag[2] = {2, 3}, off[1] = {0.5}, x[2] = {1, 2}, work[2];
  ASSERT_EQ(kelm_math_lin_alg_solveTriDiagSymmPer(diag, off, x, 2, 0.5, work), 0);
  EXPECT_NEAR(2 * x[0] + x[1], 1.0, 1e-15);
  EXPECT_NEAR(x[0] + 3 * x[1], 2.0, 1e-15);
  // n <= 0 touches nothing.
  EXPECT_EQ(kelm_math_lin_alg_solveTriDiagSymm(nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(kelm_math_lin_alg_solveTriDiagSymmPer(nullptr, nullptr, nullptr, -1, 1, nullptr), 0);
  // Zero pivots by 1-based position; periodic pivots are those with the
  // corner taken out (the first one doubled).
  double z[3] = {0, 1, 1}, zo[2] = {1, 0}, zx[3] = {1, 1, 1};
  EXPECT_EQ(kelm_math_lin_alg_solveTriDiagSymm(z, zo, zx, 3), 1);
  double y[3] = {1, 1, 1}, yo[2] = {1, 0.5}, yx[3] = {1, 1, 1};
  EXPECT_EQ(kelm_math_lin_alg_solveTriDiagSymm(y, yo, yx, 3), 2);
  double c[4] = {1, 0.5, 2, 2}, co[3] = {1, 0, 0}, cx[4] = {1, 2, 3, 4}, cw[4];
  EXPECT_EQ(kelm_math_lin_alg_solveTriDiagSymmPer(c, co, cx, 4, 0.25, cw), 2);
}
