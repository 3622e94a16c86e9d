#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "vela/math/BezierCurve.hpp"
#include "vela/math/InterpolatingCubicSpline.hpp"
#include "vela/math/InterpolatingPchip.hpp"
#include "zeph_core/ckernels.h"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using math3d::Vector2_T;
using math3d::Vector3_T;
using vela::test::sameBits;

namespace closest_test {

using V2 = Vector2_T<vm::Numeric>;
using V3 = Vector3_T<vm::Numeric>;

/// The smallest distance from q to f over [a, b] by dense sampling, each
/// sample's neighbourhood refined by golden sections.
template <class F, class V>
double referenceDistance(F const& f, V const& q, double a, double b, int samples = 150) {
  auto dist = [&](double t) { return (f(t) - q).norm(); };
  double best = std::min(dist(a), dist(b));
  double h = (b - a) / samples;
  for (int i = 0; i <= samples; ++i) {
    double lo = std::max(a, a + (i - 1) * h), hi = std::min(b, a + (i + 1) * h);
    for (int k = 0; k < 60; ++k) {
      double m1 = lo + 0.381966 * (hi - lo), m2 = hi - 0.381966 * (hi - lo);
      if (dist(m1) < dist(m2))
        hi = m2;
      else
        lo = m1;
    }
    best = std::min(best, dist(0.5 * (lo + hi)));
  }
  return best;
}

template <class V>
std::vector<V> randomPoints(std::size_t n, std::mt19937& rng) {
  std::uniform_real_distribution<double> coord(-3.0, 3.0);
  std::vector<V> points(n);
  for (V& p : points)
    for (int k = 0; k < V::dimension; ++k) p.coord(k, coord(rng));
  return points;
}

template <template <class> class Vec>
void checkRandomBeziers(unsigned seed) {
  using V = Vec<vm::Numeric>;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (unsigned degree = 1; degree <= 6; ++degree)
    for (int trial = 0; trial < 6; ++trial) {
      vm::BezierCurve<vm::Numeric, Vec> curve(randomPoints<V>(degree + 1, rng));
      auto at = [&](double t) { return curve.point(t); };
      std::vector<V> queries = randomPoints<V>(4, rng);
      queries.push_back(curve.point(unit(rng)));  // on the curve
      queries.push_back(curve.point(-0.4));       // beyond the start
      queries.push_back(curve.point(1.3));        // beyond the end
      queries.push_back(curve.point(0.0));        // at the start
      for (V const& q : queries) {
        V out;
        double t = curve.closestPoint(q, out);
        ASSERT_GE(t, 0.0);
        ASSERT_LE(t, 1.0);
        EXPECT_TRUE(out == curve.point(t)) << degree;
        EXPECT_LE((out - q).norm(), referenceDistance(at, q, 0.0, 1.0) + 6e-12) << degree;
      }
    }
}

TEST(ClosestPointOnBezier, NeverWorseThanTheBruteForceReference) {
  checkRandomBeziers<Vector2_T>(5);
  checkRandomBeziers<Vector3_T>(6);

  // A cubic with a cusp, queried around the cusp.
  vm::BezierCurve<vm::Numeric, Vector2_T> cusp({V2(0, 0), V2(1, 1), V2(0, 1), V2(1, 0)});
  auto at = [&](double t) { return cusp.point(t); };
  for (V2 q : {V2(0.5, 0.75), V2(0.5, 0.7), V2(0.45, 0.8), V2(0.6, 0.5)}) {
    V2 out;
    cusp.closestPoint(q, out);
    EXPECT_LE((out - q).norm(), referenceDistance(at, q, 0.0, 1.0) + 6e-12);
  }
  // Before the start of the curve: the end point, t = 0 winning any tie.
  vm::BezierCurve<vm::Numeric, Vector2_T> line({V2(0, 0), V2(2, 0)});
  V2 out;
  EXPECT_EQ(line.closestPoint(V2(-1, 1), out), 0.0);
  EXPECT_EQ(line.closestPoint(V2(1, 5), out), 0.5);
  EXPECT_EQ(line.closestPoint(V2(3, -1), out), 1.0);
}

TEST(ClosestPointOnBezier, MultipleRootsAndVanishingCoefficientsEnd) {
  // The parabola (x, x^2) seen from (0, 1/2): (B - q).B' = 2 x^3 has a
  // triple root at the vertex, the nearest point.
  vm::BezierCurve<vm::Numeric, Vector2_T> parabola({V2(-1, 1), V2(0, -1), V2(1, 1)});
  V2 out;
  double t = parabola.closestPoint(V2(0, 0.5), out);
  EXPECT_NEAR(t, 0.5, 1e-3);
  EXPECT_LE((out - V2(0, 0.5)).norm(), 0.5 + 1e-12);
  // A symmetric wave seen from its axis: mirror minima at equal distance
  // (a tie) and, for some queries, nearly double roots.
  vm::BezierCurve<vm::Numeric, Vector2_T> wave(
      {V2(-1, 0), V2(-0.5, 1.0 / 3), V2(0, -1.0 / 3), V2(0.5, 1.0 / 3), V2(1, 0)});
  auto at = [&](double s) { return wave.point(s); };
  for (V2 q : {V2(0, 1), V2(0, -0.3), V2(0, 0)}) {
    wave.closestPoint(q, out);
    EXPECT_LE((out - q).norm(), referenceDistance(at, q, 0.0, 1.0) + 6e-12);
  }
  // Three control points in one place: (B - q).B' has a double root at t = 1
  // beside the simple root of the minimum, which Newton must not trade for it.
  V3 c(-1.3587493896484375, -1.3587493896484375, -1.3587493896484375);
  vm::BezierCurve<vm::Numeric, Vector3_T> bent({V3(63.5, -0.093, -128), c, c, c});
  V3 beside(c.x(), c.y() + 2.796875, c.z()), out3;
  auto onBent = [&](double s) { return bent.point(s); };
  t = bent.closestPoint(beside, out3);
  EXPECT_LT(t, 1.0);
  EXPECT_LE((out3 - beside).norm(), referenceDistance(onBent, beside, 0.0, 1.0) + 6e-12);
  // Every control point equal: all coefficients vanish, t = 0.
  vm::BezierCurve<vm::Numeric, Vector3_T> point({V3(1, 2, 3), V3(1, 2, 3), V3(1, 2, 3)});
  EXPECT_EQ(point.closestPoint(V3(0, 0, 0), out3), 0.0);
  EXPECT_TRUE(out3 == V3(1, 2, 3));
  // Coefficients with a sign change at every step, as rounding noise around
  // zero gives, on the C function directly: the search ends, in range.
  std::vector<double> control(14, 1.0), elevated(24, 0.0), wiggle(12), cluster(12);
  for (std::size_t k = 0; k < wiggle.size(); ++k) {
    wiggle[k] = k % 2 ? -1e-300 : 1e-300;
    // (t - 0.3)^11: eleven roots in one place, kept apart only by rounding.
    cluster[k] = std::pow(0.7, double(k)) * std::pow(-0.3, double(11 - k));
  }
  double q[2] = {0.0, 0.0}, near[2];
  for (auto const* coeffs : {&wiggle, &cluster}) {
    t = zeph_core_math_findClosestPointOnBezier(6, 2, control.data(), coeffs->data(),
                                                elevated.data(), q, near);
    EXPECT_TRUE(t >= 0.0 && t <= 1.0);
  }
  // Non-finite data or queries neither hang nor leave the parameter range.
  vm::BezierCurve<vm::Numeric, Vector2_T> bad({V2(0, 0), V2(vela::test::kNaN, 1), V2(2, 0)});
  t = bad.closestPoint(V2(1, 1), out);
  EXPECT_TRUE(t >= 0.0 && t <= 1.0);
  t = parabola.closestPoint(V2(vela::test::kInf, 0), out);
  EXPECT_TRUE(t >= 0.0 && t <= 1.0);
  // A NaN distance (t = 0) loses to any other, here t = 1 at distance 0.
  vm::BezierCurve<vm::Numeric, Vector2_T> nanStart(
      {V2(vela::test::kNaN, 0), V2(1, 2), V2(2, -1), V2(3, 1)});
  EXPECT_EQ(nanStart.closestPoint(V2(3, 1), out), 1.0);
  EXPECT_TRUE(out == V2(3, 1));
}

TEST(ClosestPointOnBezier, OutsideTheContractWritesZeros) {
  std::vector<double> data(200, 1.0);
  double out[3] = {7, 7, 7};
  EXPECT_EQ(zeph_core_math_findClosestPointOnBezier(7, 3, data.data(), data.data(), data.data(),
                                                    data.data(), out),
            0.0);
  EXPECT_EQ(out[0], 0.0);
  EXPECT_EQ(
      zeph_core_math_findClosestPointOnSpline(3, 2, 0, 0, 0, data.data(), data.data(), data.data(),
                                              data.data(), data.data(), data.data(), out),
      0.0);
}

std::vector<V2> const kLoop = {V2(0, 0), V2(2, -0.5),  V2(4, 0.5), V2(5, 2.5),
                               V2(3, 4), V2(0.5, 3.5), V2(-1, 2)};
// Closed PCHIP through these: straight sides whose tangent vanishes at the
// corners, where the walk's dot test says nothing.
std::vector<V2> const kSquare = {V2(0, 0), V2(1, 0), V2(1, 1), V2(0, 1)};

TEST(ClosestPointOnSpline, GlobalSearchAndWalks) {
  for (bool closed : {false, true}) {
    vm::InterpolatingCubicSpline<vm::Numeric, Vector2_T> spline(kLoop, closed);
    auto at = [&](double t) { return spline.point(t); };
    std::mt19937 rng(closed ? 3 : 4);
    std::vector<V2> queries = randomPoints<V2>(8, rng);
    for (double knot : {spline.knots()[2], spline.knots()[4]}) queries.push_back(at(knot));
    for (V2 const& q : queries) {
      V2 out;
      vm::IdxBoundsTag<vm::Numeric> tag;
      double T = spline.closestPoint(q, out, tag);
      EXPECT_LE((out - q).norm(), referenceDistance(at, q, 0.0, 1.0, 2000) + 6e-12);
      EXPECT_TRUE(out == spline.point(T));
      EXPECT_EQ(T, tag.lower + (tag.upper - tag.lower) * tag.param);
      // A walk from the answer's own segment stays there.
      V2 walked;
      EXPECT_NEAR(spline.closestPoint(q, T, walked), T, 1e-12);
    }
  }

  vm::InterpolatingCubicSpline<vm::Numeric, Vector2_T> closed(kLoop, true);
  int last = static_cast<int>(closed.numBezierCurves()) - 1;
  // Start on segment 0, nearest point on the last segment: back across the wrap.
  V2 q = closed.point(0.5 * (closed.knots()[last] + 1.0)) + V2(-0.2, -0.1);
  V2 out;
  vm::IdxBoundsTag<vm::Numeric> tag;
  double T = closed.closestPoint(q, 0.01, out, tag);
  EXPECT_EQ(tag.index, last);
  EXPECT_GT(T, closed.knots()[last]);
  // Forward across the wrap: from the last segment to the first.
  q = closed.point(0.5 * closed.knots()[1]) + V2(0.0, -0.3);
  T = closed.closestPoint(q, 0.5 * (closed.knots()[last] + 1.0), out, tag);
  EXPECT_EQ(tag.index, 0);
  EXPECT_LT(T, closed.knots()[1]);

  // Open: a query before the first point stops the walk at parameter 0, one
  // after the last point at 1.
  vm::InterpolatingCubicSpline<vm::Numeric, Vector2_T> open(kLoop, false);
  EXPECT_EQ(open.closestPoint(V2(-3, -1), 0.2, out), 0.0);
  EXPECT_TRUE(out == kLoop.front());
  EXPECT_EQ(open.closestPoint(V2(-3, 2.5), 0.75, out), 1.0);
  // The walk is local: from the far end it stops at that end's minimum.
  EXPECT_EQ(open.closestPoint(V2(-3, -1), 0.9, out), 1.0);
  // Past a corner the walk goes on while the distance falls (forward,
  // backward, across the wrap) and stays on the corner when that is nearest.
  vm::InterpolatingPchip<vm::Numeric, Vector2_T> square(kSquare, true);
  struct {
    V2 q;
    double t0;
    V2 nearest;
  } const walks[] = {{V2(1.2, 0.5), 0.1, V2(1, 0.5)},
                     {V2(1.2, 0.5), 0.6, V2(1, 0.5)},
                     {V2(-0.2, 0.5), 0.1, V2(0, 0.5)},
                     {V2(1.5, -0.5), 0.1, V2(1, 0)}};
  for (auto const& w : walks) {
    square.closestPoint(w.q, w.t0, out);
    EXPECT_LT((out - w.nearest).norm(), 1e-12) << w.q.x() << " " << w.t0;
  }
  EXPECT_EQ(square.closestPoint(V2(1.5, -0.5), 0.1, out), 0.25);  // the corner's first segment
  // Empty splines answer zeros.
  vm::InterpolatingCubicSpline<vm::Numeric, Vector2_T> empty;
  EXPECT_EQ(empty.closestPoint(V2(1, 1), out, tag), 0.0);
  EXPECT_EQ(tag.index, -1);
}

/// f's calls, for checking where the search starts.
std::vector<double> gCalls;
double parabolaAt03(double x) {
  gCalls.push_back(x);
  return (x - 0.3) * (x - 0.3);
}
double kinked(double x) { return std::fabs(x - 0.71) + 0.1 * x; }
double twoMinima(double x) { return std::cos(3.0 * x) + 0.1 * x; }

TEST(FuncMinSearch1D, SmoothKinkedAndGoldenStart) {
  gCalls.clear();
  zeph_core_MinSearchResult r = zeph_core_FuncMinSearch1D(parabolaAt03, 0.0, 1.0);
  EXPECT_NEAR(r.x, 0.3, 1e-9);
  EXPECT_EQ(r.fx, parabolaAt03(r.x));
  ASSERT_GE(gCalls.size(), 2u);
  EXPECT_EQ(gCalls[0], 1.0);
  EXPECT_EQ(gCalls[1], 1.0 + 0.381966 * (0.0 - 1.0));
  EXPECT_LE(gCalls.size(), 102u);

  r = zeph_core_FuncMinSearch1D(kinked, 0.0, 2.0);
  EXPECT_NEAR(r.x, 0.71, 1e-8);
  // A local minimum inside the interval, from either of two brackets.
  r = zeph_core_FuncMinSearch1D(twoMinima, 0.5, 1.5);
  EXPECT_NEAR(-3.0 * std::sin(3.0 * r.x) + 0.1, 0.0, 1e-7);
  r = zeph_core_FuncMinSearch1D(twoMinima, 2.5, 3.0);
  EXPECT_LE(r.fx, twoMinima(2.5));
}

TEST(ClosestPoint, TracedQueriesThreePaths) {
  using vela::test::kNaN;
  std::vector<V3> cubic = {V3(0, 0, 0), V3(1, 2, 0.5), V3(2.5, -1, 1), V3(3, 1, -0.5)};
  auto compute = [&](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using Mode = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
    std::vector<Vector3_T<Mode>> points;
    for (V3 const& p : cubic) points.emplace_back(p.x(), p.y(), p.z());
    vm::BezierCurve<Mode, Vector3_T> curve(points);
    Vector3_T<Mode> q(in.d(0), in.d(1), in.d(2)), near;
    std::vector<S> out = {curve.closestPoint(q, near), near.x(), near.y(), near.z()};
    vm::InterpolatingPchip<Mode, Vector2_T> spline(kLoop, true);
    Vector2_T<Mode> q2(in.d(0), in.d(1)), p;
    vm::IdxBoundsTag<Mode> tag;
    out.push_back(spline.closestPoint(q2, p, tag));
    out.insert(out.end(), {p.x(), p.y(), tag.param, S(tag.index)});
    out.push_back(spline.closestPoint(q2, in.d(3), p, tag));
    out.insert(out.end(), {p.x(), p.y(), tag.lower, S(tag.index)});
    vm::InterpolatingPchip<Mode, Vector2_T> square(kSquare, true);
    out.push_back(square.closestPoint(q2, in.d(3), p));
    points[0] = Vector3_T<Mode>(kNaN, 0.0, 0.0);
    out.push_back(vm::BezierCurve<Mode, Vector3_T>(points).closestPoint(q, near));
    out.insert(out.end(), {p.x(), p.y(), near.x()});
    return out;
  };
  std::vector<vela::test::Case> cases = {{{1.0, 1.0, 0.2, 0.3}, {}},  {{-2.0, -1.0, 0.0, 0.9}, {}},
                                         {{5.0, 3.0, 1.0, -0.4}, {}}, {{2.0, 4.0, -1.0, 1.7}, {}},
                                         {{0.0, 0.0, 0.0, 0.0}, {}},  {{kNaN, 1.0, 0.0, kNaN}, {}},
                                         {{1.2, 0.5, 0.0, 0.1}, {}},  {{3.0, 1.0, -0.5, 0.6}, {}}};
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_GE(
      vela::test::occurrences(result.code, "zeph_core_math_findClosestPointOnSpline(3, 2, 7, 1, "),
      1u);
  EXPECT_GE(vela::test::occurrences(result.code, "zeph_core_math_findClosestPointOnBezier(3, 3, "),
            1u);
}

}  // namespace closest_test
