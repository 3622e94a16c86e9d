#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "vela/math/InterpolatingCubicSpline.hpp"
#include "vela/math/InterpolatingPchip.hpp"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using math3d::Vector2_T;
using math3d::Vector3_T;
using vela::test::kInf;
using vela::test::kNaN;
using vela::test::sameBits;
using V2 = Vector2_T<vm::Numeric>;
using V3 = Vector3_T<vm::Numeric>;

namespace spline_test {

using Cubic2 = vm::InterpolatingCubicSpline<vm::Numeric, Vector2_T>;
using Cubic3 = vm::InterpolatingCubicSpline<vm::Numeric, Vector3_T>;
using Pchip2 = vm::InterpolatingPchip<vm::Numeric, Vector2_T>;
using Pchip3 = vm::InterpolatingPchip<vm::Numeric, Vector3_T>;
using Tag = vm::IdxBoundsTag<vm::Numeric>;

std::vector<V2> const kPlanar = {V2(0.0, 0.0), V2(1.0, 0.4), V2(2.2, -0.3),
                                 V2(3.0, 1.5), V2(2.0, 2.5), V2(0.5, 1.8)};
std::vector<V3> const kSpatial = {V3(0.0, 0.0, 0.0), V3(1.0, 0.5, 0.2), V3(1.5, 1.5, 0.9),
                                  V3(0.7, 2.2, 1.4), V3(-0.5, 1.6, 0.8)};

/// What f throws, or "".
template <class F>
std::string whatThrows(F const& f) {
  try {
    f();
  } catch (vela::Exception const& e) {
    return e.what();
  }
  return "";
}

/// What dataPoints throws for the points, or "" when it accepts them.
/// Closing an open curve of the points must throw the same and stay open.
template <class Spline, class P>
std::string thrown(std::vector<P> const& points, bool closed) {
  Spline spline;
  spline.isClosed(closed);
  std::string what = whatThrows([&] { spline.dataPoints(points); });
  Spline open;
  if (closed && whatThrows([&] { open.dataPoints(points); }).empty()) {
    EXPECT_EQ(whatThrows([&] { open.isClosed(true); }), what) << points.size();
    EXPECT_EQ(open.isClosed(), what.empty());
    EXPECT_EQ(open.numBezierCurves(), points.size() - (what.empty() ? 0 : 1));
  }
  return what;
}

template <class V>
void expectNear(V const& a, V const& b, double tol, std::string const& what) {
  for (int k = 0; k < V::dimension; ++k)
    EXPECT_NEAR(a.coord(k), b.coord(k), tol * (1.0 + std::abs(b.coord(k)))) << what << " " << k;
}

template <class V>
V centralDifference(std::function<V(double)> const& f, double t, double h = 1e-6) {
  return (f(t + h) - f(t - h)) * (1.0 / (2.0 * h));
}

/// The tag of segment `index` at local parameter `param`.
template <class Spline>
Tag tagAt(Spline const& spline, int index, double param) {
  double lower = spline.knots()[index], upper = spline.knots()[index + 1];
  return Tag{param, index, lower, upper};
}

TEST(InterpolatingSpline, ValidationThrowsInOrderWithItsTexts) {
  struct Row {
    std::vector<V2> points;
    bool closed;
    std::string expected;
  };
  std::vector<Row> rows = {
      {{}, false, "zeph InsufficientDataPoints"},
      {{V2(1, 2)}, false, "zeph InsufficientDataPoints"},
      {{V2(0, 0), V2(1, 0)}, true, "zeph InsufficientDataPoints"},
      {{V2(0, 0), V2(1, 0)}, false, ""},
      {{V2(0, 0), V2(1e-13, 0), V2(1, 0)}, false, "zeph RepeatedDataPoints"},
      // Just above the tolerance 1e-9 * 1 + 1e-12.
      {{V2(0, 0), V2(1.01e-9, 0), V2(1, 0)}, false, ""},
      // The consecutive-repeat test comes first; the closing chord is not part of it.
      {{V2(0, 0), V2(0, 0), V2(1, 1), V2(0, 0)}, true, "zeph RepeatedDataPoints"},
      {{V2(0, 0), V2(1, 0), V2(1, 1), V2(0, 0)}, true, "zeph FirstPointRepeated"},
      {{V2(0, 0), V2(1, 0), V2(1, 1), V2(0, 1), V2(0, 0)}, true, "zeph FirstPointRepeated"},
      // Non-finite coordinates right after the count, before the distance tests.
      {{V2(kNaN, 0)}, false, "zeph InsufficientDataPoints"},
      {{V2(0, 0), V2(kInf, 0), V2(1, 1)}, false, "zeph NonFiniteDataPoints"},
      {{V2(0, 0), V2(1, kNaN), V2(1, 1)}, false, "zeph NonFiniteDataPoints"},
      {{V2(0, 0), V2(0, 0), V2(1, -kInf), V2(0, 0)}, true, "zeph NonFiniteDataPoints"},
      // Lengths past 1e154 square to infinity: computed rescaled; but a
      // length past the largest double is no curve.
      {{V2(0, 0), V2(1e200, 0), V2(1e200, 1e200), V2(0, 1e200)}, true, ""},
      {{V2(0, 0), V2(1e308, 0), V2(1e308, 1e308), V2(0, 1e308)}, true, "zeph NonFiniteDataPoints"},
      {{V2(-1.5e308, 0), V2(1.5e308, 0)}, false, "zeph NonFiniteDataPoints"},
      // A closing chord as short as a repeat (the segment's values were not finite).
      {{V2(0, 0), V2(1, 0), V2(1, 1), V2(0, 1), V2(0, 1e-300)}, true, "zeph FirstPointRepeated"},
      // The absolute 1e-12 rejects tiny curves.
      {{V2(0, 0), V2(1e-200, 0), V2(0, 1e-200)}, true, "zeph RepeatedDataPoints"},
      {{V2(0, 0), V2(1, 0), V2(1, 1), V2(0, 0)}, false, ""},
      {{V2(0, 0), V2(1, 1), V2(2, 2)}, true, "zeph CollinearDataPoints"},
      {{V2(0, 0), V2(1, 1), V2(2, 2)}, false, ""},
      {{V2(3, 3), V2(0, 0), V2(1, 1), V2(-2, -2)}, true, "zeph CollinearDataPoints"},
      // Off the line by a little more than 1e-9 * (2 * 2) + 1e-12.
      {{V2(0, 0), V2(1, 1e-8), V2(2, 0)}, true, ""},
      {{V2(0, 0), V2(1, 3e-9), V2(2, 0)}, true, "zeph CollinearDataPoints"},
  };
  for (Row const& row : rows) {
    EXPECT_EQ(thrown<Cubic2>(row.points, row.closed), row.expected) << row.points.size();
    EXPECT_EQ(thrown<Pchip2>(row.points, row.closed), row.expected) << row.points.size();
  }
  std::vector<V3> collinear3 = {V3(0, 0, 0), V3(1, 2, 3), V3(-1, -2, -3)};
  EXPECT_EQ(thrown<Cubic3>(collinear3, true), "zeph CollinearDataPoints");
  EXPECT_EQ(thrown<Cubic3>(collinear3, false), "");

  // A rejected update leaves everything as it was.
  Cubic2 spline(kPlanar, true);
  Cubic2 before = spline;
  EXPECT_THROW(spline.dataPoints({V2(0, 0), V2(1, 1), V2(0, 0)}), Cubic2::FirstPointRepeated);
  EXPECT_THROW(spline.dataPoints({V2(0, 0)}), Cubic2::InsufficientDataPoints);
  EXPECT_THROW(spline.dataPoints({V2(0, 0), V2(1, kNaN), V2(0, 2)}), Cubic2::NonFiniteDataPoints);
  EXPECT_TRUE(spline == before);
  EXPECT_EQ(spline.numBezierCurves(), kPlanar.size());
  for (std::size_t i = 0; i < spline.bezierControlPoints().size(); ++i)
    EXPECT_TRUE(sameBits(spline.bezierControlPoints()[i], before.bezierControlPoints()[i]));
  static_assert(std::is_base_of_v<vela::Exception, Cubic2::CollinearDataPoints>);
  static_assert(std::is_base_of_v<vela::Exception, Pchip3::NonFiniteDataPoints>);
}

TEST(InterpolatingSpline, KnotsChordsAndSegments) {
  Cubic2 open(kPlanar, false);
  Cubic2 closed(kPlanar, true);
  std::size_t n = kPlanar.size();
  ASSERT_EQ(open.numBezierCurves(), n - 1);
  ASSERT_EQ(closed.numBezierCurves(), n);
  ASSERT_EQ(open.knots().size(), n);
  ASSERT_EQ(closed.knots().size(), n + 1);
  EXPECT_EQ(open.order(), 3u);
  double sum = 0.0;
  for (std::size_t i = 1; i <= n; ++i) {
    double chord = (kPlanar[i % n] - kPlanar[i - 1]).norm();
    sum += chord;
    EXPECT_DOUBLE_EQ(closed.chordLengthSum()[i], sum);
  }
  EXPECT_EQ(closed.knots().front(), 0.0);
  EXPECT_TRUE(sameBits(closed.knots().back(), 1.0));
  EXPECT_TRUE(sameBits(open.knots().back(), 1.0));
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_DOUBLE_EQ(closed.knots()[i], closed.chordLengthSum()[i] / sum);
    EXPECT_DOUBLE_EQ(closed.knotSpacings()[i], (kPlanar[(i + 1) % n] - kPlanar[i]).norm() / sum);
  }
  EXPECT_EQ(open.bezierControlPoints().size(), (n - 1) * 4 * 2);
  // Knots are scale-invariant and the curve scales with the data, at any
  // scale a double holds (lengths, chords' powers and |T|^7 in range).
  for (double scale : {1e-9, 1e200, 1e300}) {
    std::vector<V2> scaled;
    for (V2 const& p : kPlanar) scaled.push_back(p * scale);
    for (bool isClosed : {false, true}) {
      Cubic2 big(scaled, isClosed), unit(kPlanar, isClosed);
      Pchip2 bigPchip(scaled, isClosed), unitPchip(kPlanar, isClosed);
      for (std::size_t i = 0; i < unit.knots().size(); ++i)
        EXPECT_NEAR(big.knots()[i], unit.knots()[i], 1e-15) << scale;
      for (double t : {-0.1, 0.2, 0.65}) {
        expectNear(big.point(t) * (1 / scale), unit.point(t), 1e-14, "scaled point");
        expectNear(bigPchip.point(t) * (1 / scale), unitPchip.point(t), 1e-14, "scaled pchip");
        expectNear(big.tangent(t) * (1 / scale), unit.tangent(t), 1e-13, "scaled tangent");
        expectNear(big.normal(t), unit.normal(t), 1e-13, "scaled normal");
        expectNear(big.uNormal2Der(t), unit.uNormal2Der(t), 1e-11, "scaled uNormal2Der");
      }
    }
  }

  // Two distinct points: one straight segment in thirds of the chord.
  Cubic2 line({V2(1, 1), V2(4, 7)}, false);
  ASSERT_EQ(line.numBezierCurves(), 1u);
  auto cps = line.bezierCurve(0).controlPoints();
  for (int k = 0; k < 4; ++k) expectNear(cps[k], V2(1, 1) + V2(3, 6) * (k / 3.0), 1e-15, "third");

  // Closing and reopening rebuilds (closing validates: see above).
  Cubic2 triangle({V2(0, 0), V2(1, 1), V2(2, 0)}, false);
  triangle.isClosed(true);
  EXPECT_EQ(triangle.numBezierCurves(), 3u);
  triangle.isClosed(false);
  EXPECT_EQ(triangle.numBezierCurves(), 2u);
  Cubic2 empty;
  EXPECT_EQ(empty.numBezierCurves(), 0u);
  EXPECT_TRUE(empty.polyline(10).empty());
  EXPECT_EQ(empty.point(0.5).x(), 0.0);
}

TEST(InterpolatingSpline, LookupWrapsClosedAndExtrapolatesOpen) {
  Cubic2 closed(kPlanar, true);
  for (auto [t, wrapped] : {std::pair{1.25, 0.25}, {-0.25, 0.75}, {3.0, 0.0}, {-2.5, 0.5}}) {
    EXPECT_TRUE(sameBits(closed.validParam_(t), wrapped)) << t;
    EXPECT_TRUE(sameBits(closed.point(t).x(), closed.point(wrapped).x())) << t;
    EXPECT_TRUE(sameBits(closed.normal(t).y(), closed.normal(wrapped).y())) << t;
  }
  // On an interior knot: the segment starting there, at param 0.
  for (int i = 1; i + 1 < static_cast<int>(closed.knots().size()); ++i) {
    Tag tag = closed.getBezierParamInfo(closed.knots()[i]);
    EXPECT_EQ(tag.index, i);
    EXPECT_EQ(tag.param, 0.0);
  }
  Cubic2 open(kPlanar, false);
  int last = static_cast<int>(kPlanar.size()) - 2;
  Tag end = open.getBezierParamInfo(1.0);
  EXPECT_EQ(end.index, last);
  EXPECT_EQ(end.param, 1.0);
  Tag before = open.getBezierParamInfo(-0.1);
  EXPECT_EQ(before.index, 0);
  EXPECT_LT(before.param, 0.0);
  Tag after = open.getBezierParamInfo(1.2);
  EXPECT_EQ(after.index, last);
  EXPECT_GT(after.param, 1.0);
  EXPECT_TRUE(sameBits(open.validParam_(1.25), 1.25));
  // Extrapolation continues the end segment's polynomial.
  auto outside = open.bezierCurve(last).point(after.param);
  EXPECT_TRUE(sameBits(open.point(1.2).x(), outside.x()));
  Tag fresh;
  EXPECT_EQ(fresh.index, -1);
  EXPECT_EQ(fresh.upper, 1.0);
}

TEST(InterpolatingSpline, BothKindsInterpolateTheDataPointsExactly) {
  for (bool closed : {false, true}) {
    Cubic3 cubic(kSpatial, closed);
    Pchip3 pchip(kSpatial, closed);
    for (std::size_t i = 0; i < kSpatial.size(); ++i) {
      double t = cubic.knots()[i];
      EXPECT_TRUE(cubic.point(t) == kSpatial[i]) << i;
      EXPECT_TRUE(pchip.point(t) == kSpatial[i]) << i;
    }
    // The last knot: the end point (open) or the start again (closed).
    EXPECT_TRUE(cubic.point(1.0) == (closed ? kSpatial.front() : kSpatial.back()));
    EXPECT_EQ(cubic.tangent3Der(0.3).norm(), 0.0);
    EXPECT_EQ(pchip.tangent3Der(0.7).norm(), 0.0);
  }
}

TEST(InterpolatingCubicSpline, SecondDerivativeContinuousNaturalAndPeriodic) {
  for (bool closed : {false, true}) {
    Cubic2 spline(kPlanar, closed);
    int segments = static_cast<int>(spline.numBezierCurves());
    // C2 at every interior knot, and across the wrap when closed.
    for (int j = 1; j <= segments; ++j) {
      if (j == segments && !closed) break;
      Tag left = tagAt(spline, j - 1, 1.0), right = tagAt(spline, j % segments, 0.0);
      expectNear(spline.point(left), spline.point(right), 1e-13, "C0");
      expectNear(spline.tangent(left), spline.tangent(right), 1e-11, "C1");
      expectNear(spline.tangentDer(left), spline.tangentDer(right), 1e-9, "C2");
    }
    if (!closed) {
      expectNear(spline.tangentDer(0.0), V2(), 1e-10, "natural start");
      expectNear(spline.tangentDer(1.0), V2(), 1e-10, "natural end");
    }
  }
  // Three points, equal chords: the middle point is passed with C2, ends natural.
  Cubic2 three({V2(0, 0), V2(1, 1), V2(2, 0)}, false);
  expectNear(three.tangentDer(0.0), V2(), 1e-12, "three start");
  expectNear(three.tangentDer(1.0), V2(), 1e-12, "three end");
  expectNear(three.tangentDer(tagAt(three, 0, 1.0)), three.tangentDer(tagAt(three, 1, 0.0)), 1e-12,
             "three middle");
  EXPECT_TRUE(three.point(0.5) == V2(1, 1));
}

TEST(InterpolatingCubicSpline, ClosedSquareSegmentsAreCongruent) {
  Cubic2 square({V2(1, 0), V2(0, 1), V2(-1, 0), V2(0, -1)}, true);
  ASSERT_EQ(square.numBezierCurves(), 4u);
  auto first = square.bezierCurve(0).controlPoints();
  for (std::size_t s = 1; s < 4; ++s) {
    auto cps = square.bezierCurve(s).controlPoints();
    // Rotating segment 0 by s quarter turns gives segment s.
    for (std::size_t k = 0; k < 4; ++k) {
      V2 p = first[k];
      for (std::size_t r = 0; r < s; ++r) p = V2(-p.y(), p.x());
      expectNear(cps[k], p, 1e-14, "square");
    }
  }
  // Unequal chords: the inner control points weigh the de Boor points by
  // the chords around the segment; the curve stays C2 across every knot.
  Cubic2 uneven({V2(0, 0), V2(0.1, 0), V2(3, 1), V2(3.2, 4)}, true);
  for (int j = 0; j < 4; ++j)
    expectNear(uneven.tangentDer(tagAt(uneven, j, 1.0)),
               uneven.tangentDer(tagAt(uneven, (j + 1) % 4, 0.0)), 1e-8, "uneven");
}

TEST(InterpolatingPchip, SlopeRules) {
  // The end formula at h1 = h2 = 1, del1 = 1.
  EXPECT_EQ(Pchip2::endCondition_(1, 1, 1, -1), 2.0);
  EXPECT_EQ(Pchip2::endCondition_(1, 1, 1, -3), 3.0);
  EXPECT_EQ(Pchip2::endCondition_(1, 1, 1, -5), 3.0);
  EXPECT_EQ(Pchip2::endCondition_(1, 1, 1, 4), 0.0);
  EXPECT_EQ(Pchip2::endCondition_(1, 1, 1, 1), 1.0);
  EXPECT_EQ(Pchip2::interiorCondition_(1, 1, 1, -1), 0.0);
  EXPECT_EQ(Pchip2::interiorCondition_(1, 1, 0, 2), 0.0);
  EXPECT_EQ(Pchip2::interiorCondition_(1, 2, 2, 0), 0.0);
  // Weighted harmonic mean: w1 = 2 * 2 + 1 = 5, w2 = 2 + 2 * 1 = 4.
  EXPECT_DOUBLE_EQ(Pchip2::interiorCondition_(1, 2, 1, 3), 9.0 / (5.0 / 1 + 4.0 / 3));
  EXPECT_EQ(Pchip2::interiorCondition_(1, 1, kNaN, 1), 0.0);
}

TEST(InterpolatingPchip, PreservesMonotoneRunsAndExtrema) {
  // x rises throughout, y rises then falls with its maximum at point 3.
  std::vector<V2> points = {V2(0, 0), V2(0.2, 1), V2(1.5, 1.3), V2(1.6, 4), V2(4, 3.9), V2(4.1, 0)};
  Pchip2 pchip(points, false);
  auto samples = pchip.polyline(2000);
  for (std::size_t i = 1; i < samples.size(); ++i)
    EXPECT_GE(samples[i].x(), samples[i - 1].x()) << i;
  double peak = 0.0;
  for (V2 const& p : samples) peak = std::max(peak, p.y());
  // No overshoot past the data's extremum (beyond rounding).
  EXPECT_GE(peak, 4.0);
  EXPECT_LE(peak, 4.0 * (1.0 + 1e-15));
  EXPECT_EQ(pchip.tangent(pchip.knots()[3]).y(), 0.0);
  // C1 at interior knots.
  for (int j = 1; j < 5; ++j)
    expectNear(pchip.tangent(tagAt(pchip, j - 1, 1.0)), pchip.tangent(tagAt(pchip, j, 0.0)), 1e-12,
               "C1");

  // Evenly spaced collinear points: a straight line with evenly spaced
  // control points.
  Pchip3 line({V3(0, 0, 0), V3(1, 2, 2), V3(2, 4, 4), V3(3, 6, 6)}, false);
  auto cps = line.bezierControlPoints();
  for (std::size_t k = 0; k < cps.size() / 3; ++k) {
    double step = (k / 4) + (k % 4) / 3.0;
    EXPECT_NEAR(cps[3 * k], step, 1e-14) << k;
    EXPECT_NEAR(cps[3 * k + 2], 2 * step, 1e-14) << k;
  }

  // End slopes follow the end formula on the first two chords, in length
  // units, so the tangent in the global parameter is slope * total length.
  double total = pchip.chordLengthSum().back();
  double d1 = pchip.chordLengthSum()[1], d2 = pchip.chordLengthSum()[2] - d1;
  double del1 = (points[1].y() - points[0].y()) / d1, del2 = (points[2].y() - points[1].y()) / d2;
  EXPECT_NEAR(pchip.tangent(0.0).y(), Pchip2::endCondition_(d1, d2, del1, del2) * total, 1e-12);

  // Closed: the slope at the first point uses the closing chord and the first.
  std::vector<V2> ring = {V2(0, 0), V2(2, 1), V2(1, 3), V2(-2, 2), V2(-1, -1)};
  Pchip2 loop(ring, true);
  double closing = (ring[0] - ring.back()).norm();
  double first = (ring[1] - ring[0]).norm();
  for (int k = 0; k < 2; ++k) {
    double slope = Pchip2::interiorCondition_(closing, first,
                                              (ring[0].coord(k) - ring.back().coord(k)) / closing,
                                              (ring[1].coord(k) - ring[0].coord(k)) / first);
    EXPECT_GT(slope, 0.0);
    EXPECT_NEAR(loop.tangent(0.0).coord(k), slope * loop.chordLengthSum().back(), 1e-12);
  }
}

template <class Spline>
void checkNormalFamily(Spline const& spline, std::string const& name) {
  using P = typename Spline::Point;
  for (double t : {0.05, 0.31, 0.52, 0.88}) {
    P T = spline.tangent(t);
    P N = spline.normal(t);
    EXPECT_NEAR(N.dot(T), 0.0, 1e-12 * N.norm() * T.norm()) << name << t;
    auto fd = [&](auto member) {
      return centralDifference<P>([&](double u) { return (spline.*member)(u); }, t);
    };
    P (Spline::*normalAt)(double const&) const = &Spline::normal;
    P (Spline::*normalDerAt)(double const&) const = &Spline::normalDer;
    P (Spline::*uNormalDerAt)(double const&) const = &Spline::uNormalDer;
    expectNear(spline.normalDer(t), fd(normalAt), 1e-6, name + " normalDer");
    expectNear(spline.normal2Der(t), fd(normalDerAt), 1e-5, name + " normal2Der");
    auto unitNormal = [&](double u) { return spline.normal(u).unit(); };
    expectNear(spline.uNormalDer(t), centralDifference<P>(unitNormal, t), 1e-6,
               name + " uNormalDer");
    expectNear(spline.uNormal2Der(t), fd(uNormalDerAt), 1e-5, name + " uNormal2Der");
  }
}

TEST(InterpolatingSpline, NormalsArePerpendicularAndDifferentiateRight) {
  checkNormalFamily(Cubic2(kPlanar, true), "cubic2");
  checkNormalFamily(Cubic3(kSpatial, false), "cubic3");
  checkNormalFamily(Pchip3(kSpatial, true), "pchip3");

  // On straight PCHIP segments T' is parallel to T: what the formula leaves
  // is noise along T, and the guard's perpendicular must replace it.
  for (double side : {1.0, 10.0, 1000.0}) {
    Pchip2 square({V2(0, 0), V2(side, 0), V2(side, side), V2(0, side)}, true);
    Pchip3 stairs({V3(0, 0, 0), V3(side, 0, 0), V3(side, side, 0), V3(side, side, side),
                   V3(2 * side, side, side), V3(2 * side, 2 * side, side)},
                  false);
    // (The corners, where every slope and so T vanish, have no normal.)
    auto perpendicular = [](auto const& spline, double t) {
      auto T = spline.tangent(t), N = spline.normal(t);
      return T.isZero() || std::abs(N.dot(T)) <= 1e-14 * N.norm() * T.norm();
    };
    for (int i = 1; i < 1000; ++i) {
      EXPECT_TRUE(perpendicular(square, i / 1000.0)) << side << " " << i;
      EXPECT_TRUE(perpendicular(stairs, i / 1000.0)) << side << " " << i;
    }
  }
  // A straight spline has no curvature: the guard supplies a perpendicular.
  Cubic2 straight({V2(0, 0), V2(1, 2), V2(2, 4)}, false);
  V2 T = straight.tangent(0.4);
  V2 N = straight.normal(0.4);
  EXPECT_TRUE(sameBits(N.x(), -T.y()));
  EXPECT_TRUE(sameBits(N.y(), T.x()));
  Cubic3 straight3({V3(0, 0, 0), V3(1, 2, 3), V3(2, 4, 6)}, false);
  V3 N3 = straight3.normal(0.4);
  EXPECT_GT(N3.norm(), 1.0);
  EXPECT_NEAR(N3.dot(straight3.tangent(0.4)), 0.0, 1e-12);
}

TEST(InterpolatingSpline, CopiesCloneScaleAndPolyline) {
  Cubic2 spline(kPlanar, true);
  Cubic2 copy = spline;
  EXPECT_NE(copy.bezierCurve(0).dotCoeffs(), spline.bezierCurve(0).dotCoeffs());
  copy.scale(2.0);
  // The copy's views point at its own arrays: the original is untouched.
  EXPECT_TRUE(sameBits(spline.point(0.3).x(), Cubic2(kPlanar, true).point(0.3).x()));
  EXPECT_TRUE(sameBits(copy.point(0.3).x(), 2.0 * spline.point(0.3).x()));
  EXPECT_TRUE(sameBits(copy.knots()[2], spline.knots()[2]));
  EXPECT_TRUE(copy.dataPoints() == spline.dataPoints());
  // The segment view's derived arrays followed the scaling.
  expectNear(copy.tangent(0.3), spline.tangent(0.3) * 2.0, 1e-14, "scaled tangent");
  Cubic2 assigned;
  assigned = spline;
  assigned.isClosed(false);
  EXPECT_EQ(spline.numBezierCurves(), kPlanar.size());
  EXPECT_TRUE(sameBits(assigned.point(0.3).y(), Cubic2(kPlanar, false).point(0.3).y()));

  auto clone = spline.clone();
  EXPECT_TRUE(*clone == spline);
  EXPECT_TRUE(sameBits(clone->point(0.6).y(), spline.point(0.6).y()));
  Pchip2 pchip(kPlanar, true);
  EXPECT_FALSE(pchip == spline);
  EXPECT_FALSE(spline == pchip);
  EXPECT_TRUE(*pchip.clone() == pchip);
  EXPECT_TRUE(spline != Cubic2(kPlanar, false));
  EXPECT_TRUE(pchip != Pchip2(kPlanar, false));

  // Polyline: per segment max(m_k, 3) samples, shared ends once.
  std::vector<V2> samples = spline.polyline(40);
  std::size_t expected = 1;
  for (std::size_t k = 0; k + 1 < spline.chordLengthSum().size(); ++k) {
    double share = (spline.chordLengthSum()[k + 1] - spline.chordLengthSum()[k]) * 40 /
                   spline.chordLengthSum().back();
    expected += std::max(3u, static_cast<unsigned>(share)) - 1;
  }
  EXPECT_EQ(samples.size(), expected);
  EXPECT_TRUE(samples.front() == kPlanar.front());
  EXPECT_TRUE(samples.back() == kPlanar.front());
  EXPECT_EQ(Cubic2({V2(0, 0), V2(1, 0)}, false).polyline(0).size(), 3u);
}

TEST(InterpolatingSpline, TracedSplineHoldsConstantsAndConvertsBack) {
  using TracedCubic = vm::InterpolatingCubicSpline<vm::Traced, Vector3_T>;
  TracedCubic traced(kSpatial, true);
  double value = 0.0;
  for (auto const& v : traced.bezierControlPoints()) EXPECT_TRUE(v.getConstant(value));
  for (auto const& v : traced.knots()) EXPECT_TRUE(v.getConstant(value));
  EXPECT_TRUE(traced.bezierCurve(2).dotCoeffs()[3].getConstant(value));

  traced.scale(ct::TracedDouble::input("s"));
  ct::BindingSet bindings;
  bindings.bind("s", 1.5);
  Cubic3 numeric(traced, bindings);
  Cubic3 direct(kSpatial, true);
  direct.scale(1.5);
  ASSERT_EQ(numeric.numBezierCurves(), direct.numBezierCurves());
  EXPECT_TRUE(numeric == direct);
  for (double t : {0.0, 0.4, 0.93})
    for (int k = 0; k < 3; ++k) {
      EXPECT_TRUE(sameBits(numeric.point(t).coord(k), direct.point(t).coord(k)));
      EXPECT_TRUE(sameBits(numeric.normal(t).coord(k), direct.normal(t).coord(k)));
    }
  EXPECT_TRUE(sameBits(numeric.bezierCurve(1).elevatedDerivPoints()[4],
                       direct.bezierCurve(1).elevatedDerivPoints()[4]));
  vm::InterpolatingPchip<vm::Traced, Vector2_T> tracedPchip(kPlanar, false);
  Pchip2 pchip(tracedPchip, ct::BindingSet());
  EXPECT_TRUE(sameBits(pchip.point(0.77).y(), Pchip2(kPlanar, false).point(0.77).y()));
}

/// The curve, its tangent and normal (and its second tangent derivative) at
/// a traced parameter, through Numeric, evaluation and generated C.
template <template <class, template <class> class> class Spline, template <class> class Vec>
void checkTracedParameter(std::vector<Vec<vm::Numeric>> const& points, bool closed,
                          std::vector<double> const& ts) {
  auto compute = [&](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using Mode = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
    Spline<Mode, Vec> spline(points, closed);
    S t = in.d(0);
    std::vector<S> out;
    for (auto const& v : {spline.point(t), spline.tangent(t), spline.normal(t),
                          spline.uNormalDer(t), spline.tangentDer(t)})
      for (int k = 0; k < Vec<Mode>::dimension; ++k) out.push_back(v.coord(k));
    return out;
  };
  std::vector<vela::test::Case> cases;
  for (double t : ts) cases.push_back({{t}, {}});
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_GE(vela::test::occurrences(result.code, "zeph_core_math_indexOfLowerBound("), 1u);
  EXPECT_GE(vela::test::occurrences(result.code, "zeph_core_math_validNormal("), 1u);
}

TEST(InterpolatingSpline, TracedParameterThreePaths) {
  Cubic2 planar(kPlanar, true);
  std::vector<double> ts = {0.3,
                            planar.knots()[2],
                            planar.knots()[4],
                            0.0,
                            1.0,
                            1.25,
                            -0.25,
                            -3.7,
                            1e300,
                            -0.0,
                            kNaN,
                            kInf,
                            -kInf};
  checkTracedParameter<vm::InterpolatingCubicSpline, Vector2_T>(kPlanar, true, ts);
  Pchip3 spatial(kSpatial, false);
  checkTracedParameter<vm::InterpolatingPchip, Vector3_T>(
      kSpatial, false, {0.61, spatial.knots()[1], spatial.knots()[3], 0.0, 1.0, -0.4, 1.5, kNaN});
  checkTracedParameter<vm::InterpolatingCubicSpline, Vector3_T>(kSpatial, true,
                                                                {0.2, 1.0, 2.0, -0.5});
  checkTracedParameter<vm::InterpolatingPchip, Vector2_T>({V2(0, 0), V2(1, 2), V2(2, 2), V2(3, 0)},
                                                          true, {0.1, 0.5, 0.999999, 7.25});
  // Straight segments where the formula leaves noise along T, replaced.
  checkTracedParameter<vm::InterpolatingPchip, Vector3_T>(
      {V3(0, 0, 0), V3(1, 0, 0), V3(1, 1, 0), V3(1, 1, 1), V3(2, 1, 1), V3(2, 2, 1)}, false,
      {0.19, 0.41});
}

}  // namespace spline_test
