// Rotations: quaternion and matrix round trips, the documented ties, and
// minRotation. Traced forms agree with these through the three-path test.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "math3d/math3d.hpp"

namespace {

using Mat = math3d::Matrix3x3_T<math3d::Numeric>;
using Quat = math3d::Quaternion_T<math3d::Numeric>;
using V3 = math3d::Vector3_T<math3d::Numeric>;

Quat turn(double angle, V3 axis) {
  V3 a = axis.unit() * std::sin(angle / 2);
  return Quat(std::cos(angle / 2), a.x(), a.y(), a.z());
}

Quat randomTurn(std::mt19937& gen, double maxAngle) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  return turn(maxAngle * (0.5 * u(gen) + 0.5), V3(u(gen), u(gen), u(gen)));
}

// A proper rotation: orthonormal columns, determinant 1.
void expectRotation(Mat const& r) {
  for (int k = 0; k < 9; ++k)
    EXPECT_NEAR(r.composeTranspose(r).values()[k], Mat::identity().values()[k], 1e-14);
  EXPECT_NEAR(r.determinant(), 1.0, 1e-14);
}

// Column j of the result is sign[j] times column perm[j] of e.
Mat permuted(Mat const& e, int const* perm, double const* sign) {
  Mat r;
  for (int j = 0; j < 3; ++j) r.column(j, e.column(perm[j]) * sign[j]);
  return r;
}

}  // namespace

TEST(Math3dRotation, QuaternionsAndMatricesRoundTrip) {
  std::mt19937 gen(42);
  std::vector<Quat> turns;
  for (int n = 0; n < 200; ++n) turns.push_back(randomTurn(gen, 2 * M_PI));
  // Half turns about axes and diagonals, and just short of and past them.
  for (V3 axis : {V3(1, 0, 0), V3(0, 1, 0), V3(0, 0, 1), V3(1, 1, 0), V3(1, -1, 0), V3(0, 1, -1),
                  V3(1, 0, 1), V3(1, 1, 1), V3(-1, 1, 1), V3(1, -1, -1)})
    for (double angle : {M_PI, M_PI - 1e-9, M_PI + 1e-9}) turns.push_back(turn(angle, axis));
  for (Quat q : turns) {
    expectRotation(Mat(q));
    Quat back{Mat(q)};  // q or -q: one rotation
    Quat sign = q.conjugate().compose(back).w() < 0 ? Quat(-1, 0, 0, 0) : Quat();
    EXPECT_GE(back.w(), 0.0);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(back.values()[k], sign.compose(q).values()[k], 2e-15);
  }
  EXPECT_TRUE(Quat(Mat(1, 0, 0, 0, -1, 0, 0, 0, -1)) == Quat(0, 1, 0, 0));  // exactly
}

TEST(Math3dRotation, QuaternionTiesGoToTheFirstOfTraceAndDiagonal) {
  // Trace and diagonal terms tie: the first candidate's component (trace, x,
  // y, z) is the root H, the other the quotient Q, an ulp below; half turns
  // also change sign with the choice.
  double const H = 0.7071067811865476, Q = 0.7071067811865475;
  std::pair<Mat, Quat> const rows[] = {
      {Mat(1, 0, 0, 0, 0, -1, 0, 1, 0), Quat(H, Q, 0, 0)},      // quarter turn about x: trace = xx
      {Mat(0, 0, 1, 0, 1, 0, -1, 0, 0), Quat(H, 0, Q, 0)},      // about y: trace = yy
      {Mat(0, -1, 0, 1, 0, 0, 0, 0, 1), Quat(H, 0, 0, Q)},      // about z: trace = zz
      {Mat(0, -1, 0, -1, 0, 0, 0, 0, -1), Quat(0, H, -Q, 0)},   // half turn, (1, -1, 0): xx = yy
      {Mat(0, 0, 1, 0, -1, 0, 1, 0, 0), Quat(0, H, 0, Q)},      // about (1, 0, 1): xx = zz
      {Mat(-1, 0, 0, 0, 0, -1, 0, -1, 0), Quat(0, 0, H, -Q)}};  // about (0, 1, -1): yy = zz
  for (auto const& [m, q] : rows) EXPECT_TRUE(Quat(m) == q) << Quat(m).stringify();
}

// Of the 24 proper rotations made of a matrix's columns, permuted and
// sign-flipped, the one of largest trace; the first on ties.
TEST(Math3dRotation, MinRotationPicksTheLargestTraceAndTheFirstOnTies) {
  std::mt19937 gen(7);
  for (int n = 0; n < 40; ++n) {
    // Turns below 45 degrees, permuted and made improper, come back exactly
    // (the other candidates turn by more); any turn gives the largest trace.
    Mat r0(randomTurn(gen, n < 20 ? M_PI / 4 : 2 * M_PI)), e = r0;
    int perm[3] = {n % 3, (n + 1 + n / 3 % 2) % 3, 0}, idx[3];
    perm[2] = 3 - perm[0] - perm[1];
    double sign[3] = {n & 1 ? -1.0 : 1.0, n & 2 ? -1.0 : 1.0, n & 4 ? -1.0 : 1.0};
    if (n < 20) e = permuted(r0, perm, sign);
    Mat r = e.minRotation(idx);
    expectRotation(r);
    EXPECT_TRUE(n >= 20 ||
                (r == r0 && perm[idx[0]] == 0 && perm[idx[1]] == 1 && perm[idx[2]] == 2));
    for (int c = 0; c < 24; ++c) {
      double g = e.determinant() < 0 ? -1.0 : 1.0;
      for (int j = 0; j < 3; ++j) {
        perm[j] = math3d::detail::kRotationColumn[j][c];
        sign[j] = math3d::detail::kRotationSign[j][c] * g;
      }
      EXPECT_GE(r.trace(), permuted(e, perm, sign).trace());
    }
  }
  // An eighth turn about z by exact sqrt(0.5) terms: the matrix itself and
  // its columns swapped with one sign flip tie; the first candidate wins.
  double h = std::sqrt(0.5);
  Mat e(h, -h, 0, h, h, 0, 0, 0, 1);
  int idx[3];
  EXPECT_TRUE(e.minRotation(idx) == e && idx[0] == 0 && idx[1] == 1 && idx[2] == 2);
  EXPECT_TRUE((-Mat::identity()).minRotation(idx) == Mat::identity());
}
