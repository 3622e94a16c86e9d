#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "curves/ClosestPointOps.hpp"
#include "frame/TracedCall.hpp"
#include "fuzz/curve_reference.h"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "support/TracedNodes.hpp"
#include "vela/math/BezierCurve.hpp"
#include "vela/math/InterpolatingCubicSpline.hpp"
#include "vela/math/InterpolatingPchip.hpp"
#include "zeph_core/ckernels.h"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using math3d::Vector2_T;
using math3d::Vector3_T;
using vela::test::kInf;
using vela::test::kNaN;

namespace closest_test {

using V2 = Vector2_T<vm::Numeric>;
using V3 = Vector3_T<vm::Numeric>;

/// The smallest distance from q to f over [0, 1]: dense samples, each
/// neighbourhood refined by golden sections.
template <class F, class V>
double referenceDistance(F const& f, V const& q, int samples = 150) {
  auto dist = [&](double t) { return (f(t) - q).norm(); };
  double best = std::min(dist(0.0), dist(1.0)), h = 1.0 / samples;
  for (int i = 0; i <= samples; ++i) {
    double lo = std::max(0.0, (i - 1) * h), hi = std::min(1.0, (i + 1) * h);
    for (int k = 0; k < 60; ++k) {
      double m1 = lo + 0.381966 * (hi - lo), m2 = hi - 0.381966 * (hi - lo);
      bool left = dist(m1) < dist(m2);
      (left ? hi : lo) = left ? m2 : m1;
    }
    best = std::min(best, dist(0.5 * (lo + hi)));
  }
  return best;
}

template <class V>
V randomPoint(std::mt19937& rng) {
  V p;
  for (int k = 0; k < V::dimension; ++k) p.coord(k, std::uniform_real_distribution(-3.0, 3.0)(rng));
  return p;
}

/// The closest point's parameter, checked: in [0, 1], on the curve, never
/// farther than the reference.
template <class Curve, class V>
double checkedClosest(Curve const& curve, V const& q) {
  V out;
  double t = curve.closestPoint(q, out);
  EXPECT_TRUE(t >= 0.0 && t <= 1.0 && out == curve.point(t)) << t;
  EXPECT_LE((out - q).norm(),
            referenceDistance([&](double s) { return curve.point(s); }, q) + 6e-12);
  return t;
}

template <template <class> class Vec>
void checkRandomBeziers(unsigned seed) {
  using V = Vec<vm::Numeric>;
  std::mt19937 rng(seed);
  for (unsigned degree = 1; degree <= 6; ++degree)
    for (int trial = 0; trial < 6; ++trial) {
      std::vector<V> points(degree + 1);
      for (V& p : points) p = randomPoint<V>(rng);
      vm::BezierCurve<vm::Numeric, Vec> curve(points);
      for (V const& q : {randomPoint<V>(rng), randomPoint<V>(rng), curve.point(0.37),
                         curve.point(-0.4), curve.point(1.3), curve.point(0.0)})
        checkedClosest(curve, q);
    }
}

TEST(ClosestPointOnBezier, NeverWorseThanTheBruteForceReference) {
  checkRandomBeziers<Vector2_T>(5);
  checkRandomBeziers<Vector3_T>(6);
  using Curve2 = vm::BezierCurve<vm::Numeric, Vector2_T>;
  V3 c(-1.3587493896484375, -1.3587493896484375, -1.3587493896484375);
  struct Row {
    std::vector<V2> points;
    V2 q;
  } const rows[] = {
      // A cusp, queried around it.
      {{V2(0, 0), V2(1, 1), V2(0, 1), V2(1, 0)}, V2(0.5, 0.75)},
      {{V2(0, 0), V2(1, 1), V2(0, 1), V2(1, 0)}, V2(0.45, 0.8)},
      // (x, x^2) from (0, 1/2): a triple root at the vertex, the nearest point.
      {{V2(-1, 1), V2(0, -1), V2(1, 1)}, V2(0, 0.5)},
      // A symmetric wave from its axis: tied mirror minima, near double roots.
      {{V2(-1, 0), V2(-0.5, 1.0 / 3), V2(0, -1.0 / 3), V2(0.5, 1.0 / 3), V2(1, 0)}, V2(0, 1)},
      {{V2(-1, 0), V2(-0.5, 1.0 / 3), V2(0, -1.0 / 3), V2(0.5, 1.0 / 3), V2(1, 0)}, V2(0, -0.3)},
  };
  for (Row const& row : rows) checkedClosest(Curve2(row.points), row.q);
  // Three control points in one place: a double root at t = 1 beside the
  // minimum's simple root, which Newton must not trade for it.
  vm::BezierCurve<vm::Numeric, Vector3_T> bent({V3(63.5, -0.093, -128), c, c, c});
  V3 beside(c.x(), c.y() + 2.796875, c.z()), out3;
  EXPECT_LT(checkedClosest(bent, beside), 1.0);
  // All coefficients vanish: t = 0. Ends win ties, t = 0 first.
  vm::BezierCurve<vm::Numeric, Vector3_T> point({V3(1, 2, 3), V3(1, 2, 3), V3(1, 2, 3)});
  EXPECT_EQ(point.closestPoint(V3(0, 0, 0), out3), 0.0);
  Curve2 line({V2(0, 0), V2(2, 0)});
  V2 out;
  EXPECT_EQ(line.closestPoint(V2(-1, 1), out), 0.0);
  EXPECT_EQ(line.closestPoint(V2(1, 5), out), 0.5);
  EXPECT_EQ(line.closestPoint(V2(3, -1), out), 1.0);
  // Non-finite data or queries stay in range; a NaN distance (t = 0) loses.
  double t = Curve2({V2(0, 0), V2(kNaN, 1), V2(2, 0)}).closestPoint(V2(1, 1), out);
  EXPECT_TRUE(t >= 0.0 && t <= 1.0);
  t = line.closestPoint(V2(kInf, 0), out);
  EXPECT_TRUE(t >= 0.0 && t <= 1.0);
  EXPECT_EQ(Curve2({V2(kNaN, 0), V2(1, 2), V2(2, -1), V2(3, 1)}).closestPoint(V2(3, 1), out), 1.0);
  EXPECT_TRUE(out == V2(3, 1));
}

std::vector<V2> const kLoop = {V2(0, 0), V2(2, -0.5),  V2(4, 0.5), V2(5, 2.5),
                               V2(3, 4), V2(0.5, 3.5), V2(-1, 2)};
// PCHIP through these: straight sides whose tangent vanishes at the corners.
std::vector<V2> const kSquare = {V2(0, 0), V2(1, 0), V2(1, 1), V2(0, 1)};

template <class Spline>
void checkWalks(Spline const& spline, std::vector<V2> queries) {
  unsigned segments = static_cast<unsigned>(spline.numBezierCurves());
  auto const& cp = spline.bezierControlPoints();
  std::vector<double> d1;
  for (unsigned s = 0; s < segments; ++s)
    for (unsigned i = 0; i < 6; ++i) d1.push_back(3.0 * (cp[8 * s + i + 2] - cp[8 * s + i]));
  // Just past each knot: the end's gap is tiny but not nil, the walk goes on.
  for (std::size_t k = 1; k + 1 < spline.knots().size(); ++k)
    queries.push_back(spline.point(spline.knots()[k] + 3e-13));
  for (V2 const& q : queries)
    for (unsigned start = 0; start < segments; ++start) {
      V2 out, expected;
      auto walk = [&](auto kernel, V2& at) {  // the library's or the reference
        return kernel(3, 2, segments, spline.isClosed(), start, spline.knots().data(), cp.data(),
                      d1.data(), spline.bezierCurve(0).dotCoeffs(),
                      spline.bezierCurve(0).elevatedDerivPoints(), q.values(), at.values());
      };
      EXPECT_TRUE(vela::test::sameBits(walk(zeph_core_math_findClosestPointOnSpline, out),
                                       walk(ref_walk, expected)))
          << q.x() << " " << q.y() << " " << start;
      EXPECT_TRUE(out == expected);
    }
}

TEST(ClosestPointOnSpline, GlobalSearchAndWalks) {
  std::mt19937 rng(3);
  std::vector<V2> queries = {V2(-3, -1),    V2(-3, 2.5),  V2(1.2, 0.5), V2(-0.2, 0.5),
                             V2(1.5, -0.5), V2(0.5, 0.5), V2(1, 1),     V2(kNaN, 0)};
  for (int i = 0; i < 8; ++i) queries.push_back(randomPoint<V2>(rng));
  for (bool closed : {false, true}) {
    vm::InterpolatingCubicSpline<vm::Numeric, Vector2_T> spline(kLoop, closed);
    checkWalks(spline, queries);
    checkWalks(vm::InterpolatingPchip<vm::Numeric, Vector2_T>(kSquare, closed), queries);
    for (int i = 0; i < 8; ++i) {
      V2 q = i < 6 ? queries[8 + i] : spline.point(spline.knots()[2 * i - 8]), out, walked;
      vm::IdxBoundsTag<vm::Numeric> tag;
      double T = spline.closestPoint(q, out, tag);
      EXPECT_LE((out - q).norm(),
                referenceDistance([&](double t) { return spline.point(t); }, q, 2000) + 6e-12);
      EXPECT_TRUE(out == spline.point(T));
      EXPECT_EQ(T, tag.lower + (tag.upper - tag.lower) * tag.param);
      EXPECT_NEAR(spline.closestPoint(q, T, walked), T, 1e-12);
    }
  }
  // The class walk starts on t0's segment: across the wrap backward and
  // forward; open ends stop it; past a square's corner it goes on.
  vm::InterpolatingCubicSpline<vm::Numeric, Vector2_T> closed(kLoop, true), open(kLoop, false);
  int last = static_cast<int>(closed.numBezierCurves()) - 1;
  V2 out;
  vm::IdxBoundsTag<vm::Numeric> tag;
  double mid = 0.5 * (closed.knots()[last] + 1.0);
  EXPECT_GT(closed.closestPoint(closed.point(mid) + V2(-0.2, -0.1), 0.01, out, tag),
            closed.knots()[last]);
  EXPECT_EQ(tag.index, last);
  EXPECT_LT(closed.closestPoint(closed.point(0.5 * closed.knots()[1]) + V2(0, -0.3), mid, out, tag),
            closed.knots()[1]);
  EXPECT_EQ(tag.index, 0);
  EXPECT_EQ(open.closestPoint(V2(-3, -1), 0.2, out), 0.0);
  EXPECT_EQ(open.closestPoint(V2(-3, 2.5), 0.75, out), 1.0);
  vm::InterpolatingPchip<vm::Numeric, Vector2_T> square(kSquare, true);
  EXPECT_EQ(square.closestPoint(V2(1.5, -0.5), 0.1, out), 0.25);
  EXPECT_TRUE(out == V2(1, 0));
  square.closestPoint(V2(-0.2, 0.5), 0.1, out);
  EXPECT_LT((out - V2(0, 0.5)).norm(), 1e-12);
  vm::InterpolatingCubicSpline<vm::Numeric, Vector2_T> empty;
  EXPECT_EQ(empty.closestPoint(V2(1, 1), out, tag), 0.0);
  EXPECT_EQ(tag.index, -1);
}

TEST(ClosestPoint, TracedQueriesThreePathsAndNodes) {
  std::vector<V3> cubic = {V3(0, 0, 0), V3(1, 2, 0.5), V3(2.5, -1, 1), V3(3, 1, -0.5)};
  auto compute = [&](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using Mode = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
    std::vector<Vector3_T<Mode>> points;
    for (V3 const& c : cubic) points.emplace_back(c.x(), c.y(), c.z());
    Vector3_T<Mode> q(in.d(0), in.d(1), in.d(2)), near;
    std::vector<S> out = {vm::BezierCurve<Mode, Vector3_T>(points).closestPoint(q, near), near.x()};
    points[0] = Vector3_T<Mode>(kNaN, 0.0, 0.0);
    out.push_back(vm::BezierCurve<Mode, Vector3_T>(points).closestPoint(q, near));
    Vector2_T<Mode> q2(in.d(0), in.d(1)), p;
    vm::IdxBoundsTag<Mode> tag;
    // The same data open and closed: two nodes that generated C must not merge.
    for (bool closed : {true, false}) {
      vm::InterpolatingPchip<Mode, Vector2_T> spline(kLoop, closed), square(kSquare, closed);
      out.insert(out.end(), {spline.closestPoint(q2, p, tag), p.x(), tag.param, S(tag.index),
                             spline.closestPoint(q2, in.d(3), p, tag), p.y(), tag.lower,
                             S(tag.index), square.closestPoint(q2, in.d(3), p), p.x()});
    }
    return out;
  };
  std::vector<vela::test::Case> cases = {{{1.0, 1.0, 0.2, 0.3}, {}},  {{-2.0, -1.0, 0.0, 0.9}, {}},
                                         {{5.0, 3.0, 1.0, -0.4}, {}}, {{-1.0, 2.0, -1.0, 0.1}, {}},
                                         {{0.0, 0.0, 0.0, 0.0}, {}},  {{kNaN, 1.0, 0.0, kNaN}, {}},
                                         {{1.2, 0.5, 0.0, 0.1}, {}},  {{3.0, 1.0, -0.5, 0.6}, {}}};
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_GE(vela::test::occurrences(result.code, "findClosestPointOnSpline(3, 2, 7, 1, "), 1u);
  EXPECT_GE(vela::test::occurrences(result.code, "findClosestPointOnSpline(3, 2, 6, 0, "), 1u);
  EXPECT_GE(vela::test::occurrences(result.code, "zeph_core_math_findClosestPointOnBezier(3, 3, "),
            1u);

  // Nodes: described by their kernel, compared by every field.
  auto splineNode = [](bool closed) {
    std::vector<V2> points = kSquare;
    if (!closed) points.push_back(V2(0, 0.5));  // as many segments as closed
    vm::InterpolatingPchip<vm::Traced, Vector2_T> square(points, closed);
    Vector2_T<vm::Traced> p;
    auto t = square.closestPoint(Vector2_T<vm::Traced>(ct::TracedDouble::input("x"), 0.0), 0.1, p);
    return t.operation()->input(0);
  };
  auto open = splineNode(false), closedNode = splineNode(true);
  EXPECT_EQ(open->description(), "ClosestPointOnSpline");
  EXPECT_EQ(open->compare_(*splineNode(false)), 0);
  vela::test::expectOrdered(*open, *closedNode);
  std::vector<Vector3_T<vm::Traced>> points;
  for (V3 const& c : cubic) points.push_back(math3d::traceable(c));
  vm::BezierCurve<vm::Traced, Vector3_T> curve(points);
  Vector3_T<vm::Traced> near;
  auto t = curve.closestPoint(Vector3_T<vm::Traced>(ct::TracedDouble::input("x"), 0.0, 0.0), near);
  EXPECT_EQ(t.operation()->input(0)->description(), "ClosestPointOnBezier");
  // A query shorter than the node's dimension: zeros, nothing read past it.
  std::vector<ct::TracedDouble> ones(12, 1.0), out(2, 5.0);
  vm::frame::TracedCall<vm::ClosestPointOnBezierOp> call(vm::ClosestPointOnBezier{3, 2});
  call.array(ones.data(), 8, 8).array(ones.data(), 6, 6).array(ones.data(), 12, 12);
  call.array(ones.data(), 1, 1).array(out.data(), 2, 2).output(&t, 1, 1).output(out.data(), 2, 2);
  call.run();
  EXPECT_TRUE(t.equalConstant(0.0) && out[0].equalConstant(0.0) && out[1].equalConstant(0.0));
}

}  // namespace closest_test
