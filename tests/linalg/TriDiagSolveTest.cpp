#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "kelm_math/lin_alg.h"

namespace {

// A random symmetric diagonally dominant system of n variables: diagonal
// entries of either sign, couplings below half their magnitude.
struct System {
  std::vector<double> diag, off, rhs;
  double corner = 0.0;
};

System randomSystem(int n, std::mt19937& rng, bool periodic) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  System s;
  for (int i = 0; i < n; ++i) {
    double mag = 2.5 + u(rng);
    s.diag.push_back(i % 3 == 0 ? -mag : mag);
    s.rhs.push_back(10.0 * u(rng));
  }
  for (int i = 0; i + 1 < n; ++i) s.off.push_back(u(rng));
  if (periodic) s.corner = u(rng);
  return s;
}

// max |A x - b| / max |b| with A the dense (cyclic when periodic) matrix.
double residual(System const& s, std::vector<double> const& x, bool periodic) {
  int n = static_cast<int>(s.diag.size());
  std::vector<double> A(n * n, 0.0);
  for (int i = 0; i < n; ++i) A[i * n + i] += s.diag[i];
  for (int i = 0; i + 1 < n; ++i) {
    A[i * n + i + 1] += s.off[i];
    A[(i + 1) * n + i] += s.off[i];
  }
  if (periodic) {
    A[n - 1] += s.corner;  // for n = 1 both wrap-around couplings land on the diagonal
    A[(n - 1) * n] += s.corner;
  }
  double worst = 0.0, size = 0.0;
  for (int i = 0; i < n; ++i) {
    double r = -s.rhs[i];
    for (int j = 0; j < n; ++j) r += A[i * n + j] * x[j];
    worst = std::max(worst, std::fabs(r));
    size = std::max(size, std::fabs(s.rhs[i]));
  }
  return worst / size;
}

}  // namespace

TEST(TriDiag, SolvesRandomSystemsOpenAndPeriodic) {
  std::mt19937 rng(11);
  for (bool periodic : {false, true})
    for (int n = 1; n <= 30; ++n)
      for (int trial = 0; trial < 20; ++trial) {
        System s = randomSystem(n, rng, periodic);
        System work = s;
        std::vector<double> scratch(n, 123.0);  // not read: any contents
        int flag = periodic ? kelm_math_lin_alg_solveTriDiagSymmPer(
                                  work.diag.data(), work.off.data(), work.rhs.data(), n, s.corner,
                                  scratch.data())
                            : kelm_math_lin_alg_solveTriDiagSymm(work.diag.data(), work.off.data(),
                                                                 work.rhs.data(), n);
        std::string label = (periodic ? "periodic n = " : "n = ") + std::to_string(n);
        ASSERT_EQ(flag, 0) << label;
        EXPECT_LE(residual(s, work.rhs, periodic), 1e-14) << label;
      }
}

TEST(TriDiag, SmallAndSingularCases) {
  // n = 2 periodic: the corner adds to the coupling.
  double diag[2] = {2.0, 3.0}, off[1] = {0.5}, rhs[2] = {1.0, 2.0}, work[2] = {0.0, 0.0};
  ASSERT_EQ(kelm_math_lin_alg_solveTriDiagSymmPer(diag, off, rhs, 2, 0.5, work), 0);
  EXPECT_NEAR(2.0 * rhs[0] + 1.0 * rhs[1], 1.0, 1e-15);
  EXPECT_NEAR(1.0 * rhs[0] + 3.0 * rhs[1], 2.0, 1e-15);

  // n = 1: a division; n <= 0: nothing at all.
  double d1[1] = {4.0}, r1[1] = {2.0};
  EXPECT_EQ(kelm_math_lin_alg_solveTriDiagSymm(d1, nullptr, r1, 1), 0);
  EXPECT_EQ(r1[0], 0.5);
  EXPECT_EQ(kelm_math_lin_alg_solveTriDiagSymm(nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(kelm_math_lin_alg_solveTriDiagSymmPer(nullptr, nullptr, nullptr, -1, 1.0, nullptr), 0);

  // Zero pivots are reported by their 1-based position.
  double z[3] = {0.0, 1.0, 1.0}, zo[2] = {1.0, 0.0}, zr[3] = {1.0, 1.0, 1.0};
  EXPECT_EQ(kelm_math_lin_alg_solveTriDiagSymm(z, zo, zr, 3), 1);
  double z2[3] = {1.0, 1.0, 1.0}, zo2[2] = {1.0, 0.5}, zr2[3] = {1.0, 1.0, 1.0};
  EXPECT_EQ(kelm_math_lin_alg_solveTriDiagSymm(z2, zo2, zr2, 3), 2);
  // Periodic: the pivots are those of the matrix with the corner taken out
  // (first pivot doubled), so a zero shows at the second one here.
  double c[4] = {1.0, 0.5, 2.0, 2.0}, co[3] = {1.0, 0.0, 0.0}, cr[4] = {1, 2, 3, 4}, cw[4];
  EXPECT_EQ(kelm_math_lin_alg_solveTriDiagSymmPer(c, co, cr, 4, 0.25, cw), 2);
}
