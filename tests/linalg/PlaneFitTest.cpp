#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "linalg/PlaneFitOps.hpp"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "vela/math.hpp"
#include "zeph_core/ckernels.h"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using V3 = math3d::Vector3_T<vm::Numeric>;
using T3 = math3d::Vector3_T<vm::Traced>;

namespace {

using vela::test::kNaN;
double const kRoot3 = 1.0 / std::sqrt(3.0);

// Sum of (n . (p - c))^2 over the points: their squared distances from the
// plane through c when n is a unit normal.
double residual(std::vector<V3> const& points, V3 const& c, V3 const& n) {
  double sum = 0.0;
  for (V3 const& p : points) sum += std::pow((p - c).dot(n), 2);
  return sum;
}

// The axis whose complementary 2-by-2 block of the points' scatter matrix
// has the smallest eigenvalue magnitude ratio, or -1 when two nearly tie.
int bestAxis(std::vector<V3> const& points, V3 const& c) {
  double m[3][3] = {};
  for (V3 const& p : points)
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m[i][j] += (p - c).coord(i) * (p - c).coord(j);
  double ratios[3];
  for (int k = 0; k < 3; ++k) {
    double a = m[(k + 1) % 3][(k + 1) % 3], d = m[(k + 2) % 3][(k + 2) % 3];
    double b = m[(k + 1) % 3][(k + 2) % 3], w = std::hypot((a - d) / 2, b);
    double l1 = std::fabs((a + d) / 2 + w), l2 = std::fabs((a + d) / 2 - w);
    ratios[k] = std::max(l1, l2) / std::min(l1, l2);
  }
  int k = std::min_element(ratios, ratios + 3) - ratios;
  for (int o = 0; o < 3; ++o)
    if (o != k && ratios[o] < ratios[k] * (1 + 1e-9)) return -1;
  return k;
}

// Within a few ulps of expected, or NaN where expected is NaN.
void expectNear(double actual, double expected, std::size_t row) {
  if (std::isnan(expected))
    EXPECT_TRUE(std::isnan(actual)) << "row " << row;
  else
    EXPECT_NEAR(actual, expected, 1e-15) << "row " << row;
}

}  // namespace

TEST(PlaneFit, EdgeCasesOfTheCFunctionAndTheNumericOverload) {
  struct Row {
    std::vector<V3> points;
    int fitted;
    V3 point, normal;  // expected; NaN where it stays untouched or comes out NaN
  };
  V3 const untouched(kNaN, kNaN, kNaN);
  std::vector<Row> const rows = {
      {{{0, 0, 2}, {1, 0, 2}, {0, 1, 2}, {1, 1, 2}}, 1, {0.5, 0.5, 2}, {0, 0, 1}},
      {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, 1, V3(1, 1, 1) / 3.0, V3(1, 1, 1) * kRoot3},
      // All three blocks tie: the first axis fixes the sign.
      {{{1, 0, 0}, {0, -1, 0}, {0, 0, 1}}, 1, V3(1, -1, 1) / 3.0, V3(1, -1, 1) * kRoot3},
      // The last two blocks tie, better than the first: the second fixes it.
      {{{-2, -1, -3}, {-1, 1, 0}, {0, -2, -2}}, 1, {-1, -2.0 / 3, -5.0 / 3}, V3(1, 1, -1) * kRoot3},
      // Failures: too few points write nothing, later ones only the centroid.
      {{{0, 0, 0}, {1, 0, 0}}, 0, untouched, untouched},
      {{}, 0, untouched, untouched},
      {{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, 0, {1, 0, 0}, untouched},
      {{{1, 2, 3}, {1, 2, 3}, {1, 2, 3}}, 0, {1, 2, 3}, untouched},
      {{{-5, 2, 4}, {3, 6, 0}, {-5, 2, 4}}, 0, V3(-7, 10, 8) / 3.0, untouched},  // Schur 0
      // A NaN spares the block of the other two axes, but not the normal.
      {{{0, 0, 0}, {1, kNaN, 0}, {0, 1, 1}}, 1, {1.0 / 3, kNaN, 1.0 / 3}, V3(kNaN, kNaN, kNaN)},
  };
  // Equal diagonal entries: the first of the two free axes pivots. Pivoting
  // on the other rounds y to the nearest double of 1/sqrt(26) instead.
  V3 point, normal;
  ASSERT_TRUE(vm::bestFitPlane3D({{-1, -1, 0}, {-2, 1, -2}, {0, 0, 1}}, point, normal));
  EXPECT_EQ(normal.y(), 0.19611613513818402);
  EXPECT_NEAR(normal.x(), -4 * normal.y(), 1e-15);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    Row const& row = rows[r];
    point = untouched, normal = untouched;
    double const* xyz = row.points.empty() ? nullptr : row.points[0].values();
    ASSERT_EQ(
        zeph_core_math_bestFitPlane3D(row.points.size(), xyz, point.values(), normal.values()),
        row.fitted)
        << "row " << r;
    for (int i = 0; i < 3; ++i) {
      expectNear(point.coord(i), row.point.coord(i), r);
      expectNear(normal.coord(i), row.normal.coord(i), r);
    }
    V3 keptPoint(5, 6, 7), keptNormal(-1, -2, -3);
    EXPECT_EQ(vm::bestFitPlane3D(row.points, keptPoint, keptNormal), row.fitted == 1);
    V3 wantPoint = row.fitted ? point : V3(5, 6, 7),
       wantNormal = row.fitted ? normal : V3(-1, -2, -3);
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(vela::test::sameBits(keptPoint.coord(i), wantPoint.coord(i))) << "row " << r;
      EXPECT_TRUE(vela::test::sameBits(keptNormal.coord(i), wantNormal.coord(i))) << "row " << r;
    }
  }
}

// Planes nearly parallel to a coordinate axis: with a component fixed to 1
// the others exceed the square root of the largest double, and the unit
// normal must still come out of squaring them.
TEST(PlaneFit, SteepPlanesStillGiveAUnitNormal) {
  struct Row {
    std::vector<V3> points;
    V3 normal;  // NaN: not coplanar, only the length is checked
  };
  std::vector<Row> const rows = {
      {{{0, 0, 0}, {1, 0, 1e160}, {0, 1, 0}, {1, 1, 1e160}}, {-1, 0, 1e-160}},
      {{{0, 0, 0}, {0, 1, -1e200}, {1, 0, 0}, {1, 1, -1e200}}, {0, 1, 1e-200}},
      {{{0, 0, 0}, {1e-100, 0, 1e60}, {0, 1e-100, 0}, {1e-100, 1e-100, 2e60}}, {kNaN, kNaN, kNaN}},
  };
  for (std::size_t r = 0; r < rows.size(); ++r) {
    V3 point, normal;
    ASSERT_EQ(zeph_core_math_bestFitPlane3D(rows[r].points.size(), rows[r].points[0].values(),
                                            point.values(), normal.values()),
              1)
        << "row " << r;
    EXPECT_NEAR(normal.norm(), 1.0, 1e-15) << "row " << r;
    for (int i = 0; i < 3; ++i) {
      if (std::isnan(rows[r].normal.coord(i))) continue;
      EXPECT_NEAR(normal.coord(i), rows[r].normal.coord(i),
                  1e-15 * std::fabs(rows[r].normal.coord(i)))
          << "row " << r << ", component " << i;
    }
  }
}

// Noisy samples of random planes: the fit is the centroid and the unit
// normal of least residual, orthogonal to the plane's directions.
TEST(PlaneFit, NoisyPlanesAreFittedByTheirDefinition) {
  std::mt19937 generator(17);
  std::normal_distribution<double> gauss;
  auto randomVector = [&] { return V3(gauss(generator), gauss(generator), gauss(generator)); };
  int checked = 0;
  for (int trial = 0; trial < 40; ++trial) {
    V3 n0 = randomVector().unit(), centre = randomVector() * 10.0;
    V3 u = n0.cross(randomVector()).unit(), v = n0.cross(u);
    double noise = trial % 2 ? 1e-3 : 0.0;
    std::vector<V3> points;
    V3 sum;
    for (int k = 0; k < 3 + trial; ++k) {
      points.push_back(centre + u * (3 * gauss(generator)) + v * gauss(generator) +
                       randomVector() * noise);
      sum += points.back();
    }
    V3 point, normal;
    ASSERT_TRUE(vm::bestFitPlane3D(points, point, normal)) << trial;
    EXPECT_NEAR(normal.norm(), 1.0, 1e-15);
    EXPECT_LT((point - sum / double(points.size())).norm(), 1e-12);
    EXPECT_NEAR(normal.dot(u), 0.0, 20 * noise + 1e-12);
    EXPECT_NEAR(normal.dot(v), 0.0, 20 * noise + 1e-12);
    int k = bestAxis(points, point);
    if (k < 0) continue;
    ++checked;
    EXPECT_GT(normal.coord(k), 0.0) << trial;
    // With component k fixed to 1, no other vector has a smaller residual
    // (an exact plane's normal is thus also the unit normal of least one).
    V3 fixed = normal / normal.coord(k), axis;
    axis.coord(k, 1.0);
    double best = residual(points, point, fixed);
    for (double eps : {1e-1, 1e-3, 1e-5}) {
      for (int r = 0; r < 6; ++r) {
        V3 w = randomVector() * eps;
        w -= axis * w.coord(k);
        EXPECT_LE(best, residual(points, point, fixed + w) * (1 + 1e-12)) << trial;
      }
    }
  }
  EXPECT_GT(checked, 30);
}

TEST(PlaneFit, TracedFoldsConstantsAndRecordsTheRest) {
  auto traced = [](std::vector<V3> const& points) {
    std::vector<T3> t;
    for (V3 const& p : points) t.push_back(math3d::traceable(p));
    return t;
  };
  std::vector<V3> const plane = {{0, 0, 2}, {1, 0, 2}, {0, 1, 2}, {1, 1, 2}};
  std::vector<V3> const line = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
  for (auto const& points : {plane, line, std::vector<V3>(plane.begin(), plane.begin() + 2)}) {
    V3 point, normal;
    bool fitted = vm::bestFitPlane3D(points, point, normal), flag = !fitted;
    T3 tPoint(1, 1, 1), tNormal(1, 1, 1);
    ASSERT_TRUE(vm::bestFitPlane3D(traced(points), tPoint, tNormal).getConstant(flag));
    EXPECT_EQ(flag, fitted);
    for (int i = 0; i < 3; ++i) {
      double p = -1, n = -1;
      ASSERT_TRUE(tPoint.coord(i).getConstant(p) && tNormal.coord(i).getConstant(n));
      EXPECT_TRUE(p == point.coord(i) && n == normal.coord(i));  // zeros after a failure
    }
  }
  std::vector<T3> points = traced(plane);
  points[2].y(ct::TracedDouble::input("y"));
  T3 point, normal;
  ct::TracedBool flag = vm::bestFitPlane3D(points, point, normal);
  ASSERT_FALSE(flag.isConstant());
  EXPECT_EQ(flag.operation()->input(0)->description(), "BestFitPlane3D");
}

TEST(PlaneFit, NodeAgreesOnThreePathsAndComparesByCount) {
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using Vec =
        math3d::Vector3_T<std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>>;
    std::vector<Vec> points;
    for (std::size_t k = 0; k < 5; ++k) points.emplace_back(in.doubles(3 * k, 3).data());
    // Every output as it comes, failed fits included (zeros on all paths),
    // of all five points, of the first three and of too few.
    std::vector<S> out;
    for (std::size_t count : {5, 3, 2}) {
      Vec point, normal;
      auto flag = vm::bestFitPlane3D(std::vector<Vec>(points.begin(), points.begin() + count),
                                     point, normal);
      out.push_back(ct::ternary(flag, S(1.0), S(0.0)));
      for (int i = 0; i < 3; ++i) out.push_back(point.coord(i));
      for (int i = 0; i < 3; ++i) out.push_back(normal.coord(i));
    }
    return out;
  };
  std::vector<vela::test::Case> cases;
  for (unsigned seed = 0; seed < 4; ++seed)
    cases.push_back({vela::test::randomDoubles(15, seed), {}});
  cases.push_back({{1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, -1, 0.5, 0.5, 0}, {}});
  cases.push_back({{0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, -0.0, 0, 0}, {}});  // on the x axis
  cases.push_back({{1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3}, {}});     // coincident
  cases.push_back({{0, 0, 0, 1, 2, 3, 2, 4, 6, 3, 6, 9, -1, -2, -3}, {}});  // exactly collinear
  // The first three on a line: an axis is taken, but its Schur complement is 0.
  cases.push_back({{-5, 2, 4, 3, 6, 0, -5, 2, 4, 1, 0, 0, 0, 1, 0}, {}});
  cases.push_back({{0, 0, 0, 1, 0, 0, 2, 0, 0, 3, kNaN, 0, 4, 0, 0}, {}});
  auto result = vela::test::checkThreePaths(compute, cases);
  for (char const* count : {"(5, ", "(3, ", "(2, "})
    EXPECT_NE(result.code.find(std::string(" = zeph_core_math_bestFitPlane3D") + count),
              std::string::npos)
        << result.code;

  auto coords =
      std::make_shared<ct::CollectOp>(0u, static_cast<ct::TracedDouble const*>(nullptr), "");
  vm::BestFitPlane3dOp three(3, coords), four(4, coords);
  EXPECT_EQ(three.compare_(four), -1);
  EXPECT_EQ(four.compare_(three), 1);
  EXPECT_EQ(four.clone()->compare_(four), 0);
}
