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
    Mat r(q);
    expectRotation(r);
    Quat back(r);
    EXPECT_GE(back.w(), 0.0);
    // q and -q are one rotation.
    double inner = q.w() * back.w() + q.x() * back.x() + q.y() * back.y() + q.z() * back.z();
    for (int k = 0; k < 4; ++k)
      EXPECT_NEAR(back.values()[k], (inner < 0 ? -1 : 1) * q.values()[k], 2e-15);
  }
  EXPECT_TRUE(Quat(Mat(1, 0, 0, 0, -1, 0, 0, 0, -1)) == Quat(0, 1, 0, 0));  // exactly
}

TEST(Math3dRotation, QuaternionTiesGoToTheFirstOfTraceAndDiagonal) {
  // Exact rotations whose trace and diagonal terms tie. The component of the
  // first tied candidate (trace, then x, y, z) comes from the root, as
  // H = sqrt(2) / 2; the other one as a quotient, Q = 2 (0.5 / sqrt(2)), an
  // ulp below. Half turns also change sign with the choice.
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

TEST(Math3dRotation, MinRotationUndoesPermutationsAndSignsAndBreaksTiesInOrder) {
  std::mt19937 gen(7);
  int const perms[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
  for (int n = 0; n < 6; ++n) {
    // Rotations by less than 60 degrees are the largest-trace candidate.
    Mat r0(randomTurn(gen, M_PI / 3));
    for (auto const& perm : perms)
      for (int signs = 0; signs < 8; ++signs) {
        double sign[3] = {signs & 1 ? -1.0 : 1.0, signs & 2 ? -1.0 : 1.0, signs & 4 ? -1.0 : 1.0};
        int idx[3];
        EXPECT_TRUE(permuted(r0, perm, sign).minRotation(idx) == r0);  // proper or improper
        // Result column j came from column idx[j], i.e. perm[idx[j]] == j.
        EXPECT_TRUE(perm[idx[0]] == 0 && perm[idx[1]] == 1 && perm[idx[2]] == 2);
      }
  }
  // Any orthogonal matrix: a proper rotation with the largest trace of the 24.
  for (int n = 0; n < 20; ++n) {
    Mat e(randomTurn(gen, 2 * M_PI));
    if (n % 2) e = -e;
    int idx[3];
    Mat r = e.minRotation(idx);
    expectRotation(r);
    for (int c = 0; c < 24; ++c) {
      int perm[3];
      double sign[3];
      for (int j = 0; j < 3; ++j) {
        perm[j] = math3d::detail::kRotationColumn[j][c];
        sign[j] = math3d::detail::kRotationSign[j][c] * (e.determinant() < 0 ? -1.0 : 1.0);
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
