#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "kelm_math/lin_alg.h"

namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Sym {
  double d[3];
  double o[3];
  // Element (i, j) of the matrix; o[k] couples the two axes other than k.
  double at(int i, int j) const { return i == j ? d[i] : o[3 - i - j]; }
};

// Q diag(l) Q^T for the rotation about the unit axis n by angle a.
Sym rotated(double const l[3], double const n[3], double a) {
  double c = std::cos(a), s = std::sin(a), Q[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double cross = 0.0;
      if (i != j) {
        int k = 3 - i - j;
        cross = ((i + 1) % 3 == j ? -1.0 : 1.0) * n[k] * s;
      }
      Q[i][j] = (i == j ? c : 0.0) + (1.0 - c) * n[i] * n[j] + cross;
    }
  double A[3][3] = {};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) A[i][j] += Q[i][k] * l[k] * Q[j][k];
  return {{A[0][0], A[1][1], A[2][2]}, {A[1][2], A[2][0], A[0][1]}};
}

// Checks A V = V diag(w) and V^T V = I to a few ulps, and det V = +1.
void expectEigenpairs(Sym const& a, std::string const& label) {
  double w[3], V[9];
  kelm_math_lin_alg_jacobi3(a.d, a.o, w, V);
  double scale = std::max({std::fabs(w[0]), std::fabs(w[1]), std::fabs(w[2])});
  double residual = 0.0, orthogonality = 0.0;
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 3; ++i) {
      double av = 0.0, dot = 0.0;
      for (int j = 0; j < 3; ++j) {
        av += a.at(i, j) * V[3 * k + j];
        dot += V[3 * i + j] * V[3 * k + j];
      }
      residual = std::max(residual, std::fabs(av - w[k] * V[3 * k + i]));
      orthogonality = std::max(orthogonality, std::fabs(dot - (i == k ? 1.0 : 0.0)));
    }
  double det = V[0] * (V[4] * V[8] - V[5] * V[7]) - V[3] * (V[1] * V[8] - V[2] * V[7]) +
               V[6] * (V[1] * V[5] - V[2] * V[4]);
  EXPECT_LE(residual, 8 * kEps * scale) << label;
  EXPECT_LE(orthogonality, 8 * kEps) << label;
  EXPECT_NEAR(det, 1.0, 8 * kEps) << label;
}

}  // namespace

TEST(Jacobi3, EigenpairsOfRandomAndStructuredMatrices) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int trial = 0; trial < 2000; ++trial) {
    Sym a{{u(rng), u(rng), u(rng)}, {u(rng), u(rng), u(rng)}};
    expectEigenpairs(a, "random " + std::to_string(trial));
  }
  double n[3] = {2.0 / 7.0, 3.0 / 7.0, 6.0 / 7.0};
  struct Spectrum {
    char const* label;
    double l[3];
    double scale;
  };
  for (Spectrum s :
       {Spectrum{"double eigenvalue", {2.0, 2.0, 5.0}, 1.0},
        Spectrum{"triple eigenvalue", {3.0, 3.0, 3.0}, 1.0},
        Spectrum{"close eigenvalues", {1.0, 1.0 + 1e-9, 1.0 + 2e-9}, 1.0},
        Spectrum{"indefinite", {-4.0, 0.0, 4.0}, 1.0}, Spectrum{"thin rod", {1e-12, 1.0, 1.0}, 1.0},
        Spectrum{"huge", {1.0, -2.0, 3.0}, 1e300}, Spectrum{"tiny", {1.0, -2.0, 3.0}, 1e-300}}) {
    double l[3] = {s.l[0] * s.scale, s.l[1] * s.scale, s.l[2] * s.scale};
    for (double angle : {0.3, 1.0, 2.5}) expectEigenpairs(rotated(l, n, angle), s.label);
  }
  // Nearly diagonal: a few rotations of the size of the coupling.
  expectEigenpairs(Sym{{1.0, 2.0, 3.0}, {1e-12, -1e-13, 1e-14}}, "nearly diagonal");
  expectEigenpairs(Sym{{1.0, 1.0, 1.0}, {1e-300, 0.0, 0.0}}, "subnormal scale coupling");
  expectEigenpairs(Sym{{0.0, 1e10, 0.0}, {0.0, 0.0, 1e-290}}, "coupling far below the gap");
}

TEST(Jacobi3, DiagonalInputIsReturnedUnrotated) {
  double d[3] = {3.0, -1.0, 2.0}, o[3] = {0.0, -0.0, 0.0}, w[3], V[9];
  kelm_math_lin_alg_jacobi3(d, o, w, V);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(w[k], d[k]);
  for (int k = 0; k < 9; ++k) EXPECT_EQ(V[k], k % 4 == 0 ? 1.0 : 0.0);
  // One coupling: only its plane rotates; the third axis stays put.
  double o1[3] = {0.0, 0.0, 0.5};
  kelm_math_lin_alg_jacobi3(d, o1, w, V);
  EXPECT_EQ(w[2], 2.0);
  EXPECT_EQ(V[8], 1.0);
  EXPECT_NEAR(w[0] + w[1], 2.0, 4 * kEps);
}

TEST(Jacobi3, NonFiniteInputTerminatesAndPassesThrough) {
  double w[3], V[9];
  double d[3] = {1.0, 2.0, 3.0}, oNaN[3] = {0.1, kNaN, 0.2};
  kelm_math_lin_alg_jacobi3(d, oNaN, w, V);
  EXPECT_TRUE(std::isnan(w[0]) || std::isnan(w[1]) || std::isnan(w[2]));
  double dInf[3] = {kInf, 2.0, 3.0}, o[3] = {0.1, 0.3, 0.2};
  kelm_math_lin_alg_jacobi3(dInf, o, w, V);
  EXPECT_TRUE(std::isinf(w[0]) || std::isnan(w[0]));
  double oInf[3] = {kInf, 1.0, -kInf};
  kelm_math_lin_alg_jacobi3(d, oInf, w, V);
  EXPECT_FALSE(std::isfinite(w[0]) && std::isfinite(w[1]) && std::isfinite(w[2]));
  double dNaN[3] = {kNaN, 0.0, 0.0}, zero[3] = {0.0, 0.0, 0.0};
  kelm_math_lin_alg_jacobi3(dNaN, zero, w, V);
  EXPECT_TRUE(std::isnan(w[0]));
}
