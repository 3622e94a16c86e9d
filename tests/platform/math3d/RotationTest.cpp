#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "math3d/math3d.hpp"

namespace {

namespace ct = kelm_math::comp_trace;
using math3d::Numeric;
using math3d::Traced;
using Mat = math3d::Matrix3x3_T<Numeric>;
using Quat = math3d::Quaternion_T<Numeric>;
using TMat = math3d::Matrix3x3_T<Traced>;
using TQuat = math3d::Quaternion_T<Traced>;

Quat randomUnit(std::mt19937& gen, double maxAngle) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  double axis[3] = {u(gen), u(gen), u(gen)};
  double n = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  double angle = maxAngle * (0.5 * u(gen) + 0.5);
  double s = std::sin(angle / 2) / n;
  return Quat(std::cos(angle / 2), axis[0] * s, axis[1] * s, axis[2] * s);
}

void expectRotation(Mat const& r) {
  Mat shouldBeIdentity = r.composeTranspose(r);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(shouldBeIdentity.element(i, j), i == j, 1e-14);
  EXPECT_NEAR(r.determinant(), 1.0, 1e-14);
}

void expectNear(Mat const& a, Mat const& b, double tol) {
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(a.values()[k], b.values()[k], tol) << "element " << k;
}

// A traced matrix reading inputs m0..m8, and bindings holding the values of `m`.
TMat tracedInputs(Mat const& m, ct::BindingSet& bindings) {
  ct::TracedDouble v[9];
  for (int k = 0; k < 9; ++k) {
    std::string name = "m" + std::to_string(k);
    v[k] = ct::TracedDouble::input(name);
    bindings.bind(name, m.values()[k]);
  }
  return TMat(v, false);
}

// Numeric and evaluated traced quaternions of m agree bit for bit, and a
// constant traced matrix folds to the same constants.
Quat checkedQuaternion(Mat const& m) {
  Quat q(m);
  ct::BindingSet bindings;
  Quat evaluated(TQuat(tracedInputs(m, bindings)), bindings);
  TQuat folded(math3d::traceable(m));
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(q.values()[k], evaluated.values()[k]);
    EXPECT_TRUE(folded.values()[k].equalConstant(q.values()[k]));
  }
  return q;
}

TEST(Math3dRotation, QuaternionMatrixRoundTripsForRandomRotations) {
  std::mt19937 gen(42);
  for (int n = 0; n < 200; ++n) {
    Quat q = randomUnit(gen, 2 * M_PI);
    if (q.w() < 0) q = Quat(-q.w(), -q.x(), -q.y(), -q.z());
    Mat r(q);
    expectRotation(r);
    Quat back = checkedQuaternion(r);
    EXPECT_GE(back.w(), 0.0);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(back.values()[k], q.values()[k], 1e-15);
    expectNear(Mat(back), r, 1e-15);
  }
}

TEST(Math3dRotation, HalfTurnsAboutAxesAndDiagonalsRoundTrip) {
  double const axes[][3] = {{1, 0, 0},  {0, 1, 0}, {0, 0, 1}, {1, 1, 0},  {1, -1, 0},
                            {0, 1, -1}, {1, 0, 1}, {1, 1, 1}, {-1, 1, 1}, {1, -1, -1}};
  for (auto const& axis : axes) {
    double n = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
    for (double angle : {M_PI, M_PI - 1e-9, M_PI + 1e-9}) {
      double s = std::sin(angle / 2) / n;
      Quat q(std::cos(angle / 2), axis[0] * s, axis[1] * s, axis[2] * s);
      Mat r(q);
      Quat back = checkedQuaternion(r);
      EXPECT_GE(back.w(), 0.0);
      // q and -q are one rotation: compare by the matrices and by |<q, back>|.
      expectNear(Mat(back), r, 2e-15);
      double inner = q.w() * back.w() + q.x() * back.x() + q.y() * back.y() + q.z() * back.z();
      EXPECT_NEAR(std::fabs(inner), 1.0, 1e-15);
    }
  }
  // An exact half turn about x gives exactly (0, 1, 0, 0).
  Quat x = checkedQuaternion(Mat(1, 0, 0, 0, -1, 0, 0, 0, -1));
  EXPECT_EQ(x.w(), 0.0);
  EXPECT_EQ(x.x(), 1.0);
  EXPECT_EQ(x.y(), 0.0);
  EXPECT_EQ(x.z(), 0.0);
}

TEST(Math3dRotation, QuaternionTiesGoToTheFirstOfTraceAndDiagonal) {
  // Exact rotations whose trace and diagonal terms tie. The component of the
  // first tied candidate (trace, then x, y, z) comes from the root, as
  // H = sqrt(2) / 2; the other one as a quotient, Q = 2 (0.5 / sqrt(2)), an
  // ulp below. Half turns also change sign with the choice.
  double const H = 0.7071067811865476, Q = 0.7071067811865475;
  struct Row {
    Mat m;
    Quat q;
  };
  Row const rows[] = {
      {Mat(1, 0, 0, 0, 0, -1, 0, 1, 0), Quat(H, Q, 0, 0)},  // quarter turn about x: trace = xx
      {Mat(0, 0, 1, 0, 1, 0, -1, 0, 0), Quat(H, 0, Q, 0)},  // about y: trace = yy
      {Mat(0, -1, 0, 1, 0, 0, 0, 0, 1), Quat(H, 0, 0, Q)},  // about z: trace = zz
      {Mat(0, -1, 0, -1, 0, 0, 0, 0, -1),
       Quat(0, H, -Q, 0)},                                  // half turn about (1, -1, 0): xx = yy
      {Mat(0, 0, 1, 0, -1, 0, 1, 0, 0), Quat(0, H, 0, Q)},  // about (1, 0, 1): xx = zz
      {Mat(-1, 0, 0, 0, 0, -1, 0, -1, 0), Quat(0, 0, H, -Q)},  // about (0, 1, -1): yy = zz
  };
  for (std::size_t r = 0; r < std::size(rows); ++r) {
    Quat q = checkedQuaternion(rows[r].m);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(q.values()[k], rows[r].q.values()[k]) << r << " " << k;
  }
}

// Column j of `r` is sign[j] times column perm[j] of `e`.
Mat permuted(Mat const& e, int const* perm, double const* sign) {
  Mat r;
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) r.element(i, j, sign[j] * e.element(i, perm[j]));
  return r;
}

// minRotation of m in both modes: the Numeric result, checked against the
// evaluated trace and the folded constants.
Mat checkedMinRotation(Mat const& m, int* idx) {
  Mat r = m.minRotation(idx);
  ct::BindingSet bindings;
  ct::TracedInt tidx[3];
  Mat evaluated(tracedInputs(m, bindings).minRotation(tidx), bindings);
  ct::TracedInt fidx[3];
  TMat folded = math3d::traceable(m).minRotation(fidx);
  for (int k = 0; k < 9; ++k) {
    EXPECT_EQ(r.values()[k], evaluated.values()[k]);
    EXPECT_TRUE(folded.values()[k].equalConstant(r.values()[k]));
  }
  for (int j = 0; j < 3; ++j) {
    EXPECT_FALSE(tidx[j].isConstant());
    EXPECT_EQ(tidx[j].evaluate(bindings), idx[j]);
    EXPECT_TRUE(fidx[j].equalConstant(idx[j]));
  }
  return r;
}

TEST(Math3dRotation, MinRotationUndoesColumnPermutationsAndSignFlips) {
  std::mt19937 gen(7);
  int const perms[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
  for (int n = 0; n < 6; ++n) {
    // Rotations by less than 60 degrees are the largest-trace candidate.
    Mat r0(randomUnit(gen, M_PI / 3));
    for (auto const& perm : perms)
      for (int signs = 0; signs < 8; ++signs) {
        double sign[3] = {signs & 1 ? -1.0 : 1.0, signs & 2 ? -1.0 : 1.0, signs & 4 ? -1.0 : 1.0};
        Mat e = permuted(r0, perm, sign);  // proper or improper
        int idx[3];
        Mat r = checkedMinRotation(e, idx);
        for (int k = 0; k < 9; ++k) EXPECT_EQ(r.values()[k], r0.values()[k]);
        // Result column j came from column idx[j] of e, i.e. perm[idx[j]] == j.
        for (int j = 0; j < 3; ++j) EXPECT_EQ(perm[idx[j]], j);
      }
  }
}

TEST(Math3dRotation, MinRotationIsProperAndBreaksTiesInTheDocumentedOrder) {
  // Any orthogonal matrix: the result is a proper rotation with the largest
  // trace among the 24 candidates.
  std::mt19937 gen(3);
  for (int n = 0; n < 20; ++n) {
    Mat e(randomUnit(gen, 2 * M_PI));
    if (n % 2) e = -e;
    int idx[3];
    Mat r = checkedMinRotation(e, idx);
    expectRotation(r);
    bool seen[3] = {false, false, false};
    for (int j = 0; j < 3; ++j) seen[idx[j]] = true;
    EXPECT_TRUE(seen[0] && seen[1] && seen[2]);
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
  Mat r = checkedMinRotation(e, idx);
  for (int k = 0; k < 9; ++k) EXPECT_EQ(r.values()[k], e.values()[k]);
  EXPECT_EQ(idx[0], 0);
  EXPECT_EQ(idx[1], 1);
  EXPECT_EQ(idx[2], 2);
  // The identity with all columns negated becomes the identity.
  Mat back = checkedMinRotation(-Mat::identity(), idx);
  for (int k = 0; k < 9; ++k) EXPECT_EQ(back.values()[k], Mat::identity().values()[k]);
}

}  // namespace
