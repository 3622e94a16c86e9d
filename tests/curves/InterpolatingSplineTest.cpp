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

namespace spline_test {

using V2 = Vector2_T<vm::Numeric>;
using V3 = Vector3_T<vm::Numeric>;
using Cubic2 = vm::InterpolatingCubicSpline<vm::Numeric, Vector2_T>;
using Cubic3 = vm::InterpolatingCubicSpline<vm::Numeric, Vector3_T>;
using Pchip2 = vm::InterpolatingPchip<vm::Numeric, Vector2_T>;
using Pchip3 = vm::InterpolatingPchip<vm::Numeric, Vector3_T>;
using Tag = vm::IdxBoundsTag<vm::Numeric>;

std::vector<V2> const kPlanar = {V2(0.0, 0.0), V2(1.0, 0.4), V2(2.2, -0.3),
                                 V2(3.0, 1.5), V2(2.0, 2.5), V2(0.5, 1.8)};
std::vector<V3> const kSpatial = {V3(0.0, 0.0, 0.0), V3(1.0, 0.5, 0.2), V3(1.5, 1.5, 0.9),
                                  V3(0.7, 2.2, 1.4), V3(-0.5, 1.6, 0.8)};

template <class F>
std::string whatThrows(F const& f) {
  try {
    f();
  } catch (vela::Exception const& e) {
    return e.what();
  }
  return "";
}

/// What dataPoints throws for the points, or "". Closing an open curve of
/// the points must throw the same and leave it open.
template <class Spline, class P>
std::string thrown(std::vector<P> const& points, bool closed) {
  Spline spline, open;
  spline.isClosed(closed);
  std::string what = whatThrows([&] { spline.dataPoints(points); });
  if (closed && whatThrows([&] { open.dataPoints(points); }).empty()) {
    EXPECT_EQ(whatThrows([&] { open.isClosed(true); }), what) << points.size();
    EXPECT_EQ(open.numBezierCurves(), points.size() - (what.empty() ? 0 : 1));
  }
  return what;
}

template <class V>
void expectNear(V const& a, V const& b, double tol, std::string const& what = "") {
  for (int k = 0; k < V::dimension; ++k)
    EXPECT_NEAR(a.coord(k), b.coord(k), tol * (1.0 + std::abs(b.coord(k)))) << what << " " << k;
}

template <class Spline>
Tag tagAt(Spline const& spline, int index, double param) {
  return Tag{param, index, spline.knots()[index], spline.knots()[index + 1]};
}

TEST(InterpolatingSpline, ValidationThrowsInOrderWithItsTexts) {
  double const repeatTol = 1e-9 * 1.0 + 1e-12, lineTol = 1e-9 * (2.0 * 2.0) + 1e-12;
  std::string const few = "zeph InsufficientDataPoints", repeated = "zeph RepeatedDataPoints",
                    first = "zeph FirstPointRepeated", nonFinite = "zeph NonFiniteDataPoints",
                    collinear = "zeph CollinearDataPoints";
  struct Row {
    std::vector<V2> points;
    bool closed;
    std::string expected;
  } const rows[] = {
      {{}, false, few},
      {{V2(1, 2)}, false, few},
      {{V2(0, 0), V2(1, 0)}, true, few},
      {{V2(0, 0), V2(1, 0)}, false, ""},
      {{V2(0, 0), V2(1e-13, 0), V2(1, 0)}, false, repeated},
      {{V2(0, 0), V2(repeatTol, 0), V2(repeatTol, 1)}, false, ""},  // a chord at the tolerance
      {{V2(0, 0), V2(0, 0), V2(1, 1), V2(0, 0)}, true, repeated},   // before the closing chord
      {{V2(0, 0), V2(1, 0), V2(1, 1), V2(0, 0)}, true, first},
      {{V2(0, 0), V2(1, 0), V2(1, 1), V2(0, 0)}, false, ""},
      // Non-finite coordinates right after the count, before the distances.
      {{V2(kNaN, 0)}, false, few},
      {{V2(0, 0), V2(kInf, 0), V2(1, 1)}, false, nonFinite},
      {{V2(0, 0), V2(1, kNaN), V2(1, 1)}, false, nonFinite},
      {{V2(0, 0), V2(0, 0), V2(1, -kInf), V2(0, 0)}, true, nonFinite},
      // Squares past 1e154 overflow: computed rescaled; lengths past the
      // largest double are no curve.
      {{V2(0, 0), V2(1e200, 0), V2(1e200, 1e200), V2(0, 1e200)}, true, ""},
      {{V2(0, 0), V2(1e308, 0), V2(1e308, 1e308), V2(0, 1e308)}, true, nonFinite},
      {{V2(-1.5e308, 0), V2(1.5e308, 0)}, false, nonFinite},
      {{V2(0, 0), V2(1, 0), V2(1, 1), V2(0, 1), V2(0, 1e-300)}, true, first},
      {{V2(0, 0), V2(1e-200, 0), V2(0, 1e-200)}, true, repeated},  // the absolute 1e-12
      {{V2(0, 0), V2(1, 1), V2(2, 2)}, true, collinear},
      {{V2(0, 0), V2(1, 1), V2(2, 2)}, false, ""},
      {{V2(3, 3), V2(0, 0), V2(1, 1), V2(-2, -2)}, true, collinear},
      {{V2(0, 0), V2(1, 1e-8), V2(2, 0)}, true, ""},
      {{V2(0, 0), V2(1, lineTol), V2(2, 0)}, true, collinear},  // at the tolerance: on the line
  };
  for (Row const& row : rows) {
    EXPECT_EQ(thrown<Cubic2>(row.points, row.closed), row.expected) << row.points.size();
    EXPECT_EQ(thrown<Pchip2>(row.points, row.closed), row.expected) << row.points.size();
  }
  std::vector<V3> collinear3 = {V3(0, 0, 0), V3(1, 2, 3), V3(-1, -2, -3)};
  EXPECT_EQ(thrown<Cubic3>(collinear3, true), collinear);
  EXPECT_EQ(thrown<Pchip3>(collinear3, false), "");

  // A rejected update leaves everything as it was.
  Cubic2 spline(kPlanar, true), before = spline;
  EXPECT_THROW(spline.dataPoints({V2(0, 0), V2(1, 1), V2(0, 0)}), Cubic2::FirstPointRepeated);
  EXPECT_THROW(spline.dataPoints({V2(0, 0), V2(1, kNaN), V2(0, 2)}), Cubic2::NonFiniteDataPoints);
  EXPECT_TRUE(spline == before);
  EXPECT_EQ(spline.bezierControlPoints(), before.bezierControlPoints());
}

TEST(InterpolatingSpline, KnotsLookupAndScale) {
  std::size_t n = kPlanar.size();
  Cubic2 open(kPlanar, false), closed(kPlanar, true);
  ASSERT_EQ(open.numBezierCurves(), n - 1);
  ASSERT_EQ(closed.numBezierCurves(), n);
  ASSERT_EQ(open.bezierControlPoints().size(), (n - 1) * 4 * 2);
  EXPECT_EQ(open.order(), 3u);
  double sum = 0.0;
  for (std::size_t i = 1; i <= n; ++i) {
    double chord = (kPlanar[i % n] - kPlanar[i - 1]).norm();
    sum += chord;
    EXPECT_DOUBLE_EQ(closed.chordLengthSum()[i], sum);
    EXPECT_DOUBLE_EQ(closed.knotSpacings()[i - 1], chord / closed.chordLengthSum().back());
    EXPECT_DOUBLE_EQ(closed.knots()[i - 1],
                     closed.chordLengthSum()[i - 1] / closed.chordLengthSum().back());
  }
  EXPECT_TRUE(closed.knots().back() == 1.0 && open.knots().back() == 1.0);
  // Closed curves wrap the parameter, open ones extrapolate their end segments.
  for (auto [t, wrapped] : {std::pair{1.25, 0.25}, {-0.25, 0.75}, {3.0, 0.0}, {-2.5, 0.5}}) {
    EXPECT_TRUE(sameBits(closed.validParam_(t), wrapped)) << t;
    EXPECT_TRUE(sameBits(closed.normal(t).y(), closed.normal(wrapped).y())) << t;
  }
  for (int i = 1; i < static_cast<int>(n); ++i) {  // a knot starts its segment
    Tag tag = closed.getBezierParamInfo(closed.knots()[i]);
    EXPECT_TRUE(tag.index == i && tag.param == 0.0) << i;
  }
  int last = static_cast<int>(n) - 2;
  Tag end = open.getBezierParamInfo(1.0), before = open.getBezierParamInfo(-0.1),
      after = open.getBezierParamInfo(1.2);
  EXPECT_TRUE(end.index == last && end.param == 1.0);
  EXPECT_TRUE(before.index == 0 && before.param < 0.0);
  EXPECT_TRUE(after.index == last && after.param > 1.0);
  EXPECT_TRUE(sameBits(open.validParam_(1.25), 1.25));
  EXPECT_TRUE(sameBits(open.point(1.2).x(), open.bezierCurve(last).point(after.param).x()));
  EXPECT_TRUE(Tag().index == -1 && Tag().upper == 1.0);

  // Knots are scale-invariant and the curve scales with the data, at any
  // scale a double holds.
  for (double scale : {1e-9, 1e200, 1e300})
    for (bool isClosed : {false, true}) {
      std::vector<V2> scaled;
      for (V2 const& p : kPlanar) scaled.push_back(p * scale);
      Cubic2 big(scaled, isClosed), unit(kPlanar, isClosed);
      Pchip2 bigPchip(scaled, isClosed), unitPchip(kPlanar, isClosed);
      for (std::size_t i = 0; i < unit.knots().size(); ++i)
        EXPECT_NEAR(big.knots()[i], unit.knots()[i], 1e-15) << scale;
      for (double t : {-0.1, 0.2, 0.65}) {
        expectNear(big.point(t) * (1 / scale), unit.point(t), 1e-14, "point");
        expectNear(bigPchip.point(t) * (1 / scale), unitPchip.point(t), 1e-14, "pchip");
        expectNear(big.tangent(t) * (1 / scale), unit.tangent(t), 1e-13, "tangent");
        expectNear(big.uNormal2Der(t), unit.uNormal2Der(t), 1e-11, "uNormal2Der");
      }
    }
  Cubic2 empty;
  EXPECT_TRUE(empty.numBezierCurves() == 0 && empty.polyline(10).empty());
  EXPECT_EQ(empty.point(0.5).x(), 0.0);
}

TEST(InterpolatingSpline, InterpolationContinuityAndEnds) {
  for (bool closed : {false, true}) {
    Cubic3 cubic(kSpatial, closed);
    Pchip3 pchip(kSpatial, closed);
    for (std::size_t i = 0; i < kSpatial.size(); ++i)
      EXPECT_TRUE(cubic.point(cubic.knots()[i]) == kSpatial[i] &&
                  pchip.point(pchip.knots()[i]) == kSpatial[i])
          << i;
    EXPECT_TRUE(cubic.point(1.0) == (closed ? kSpatial.front() : kSpatial.back()));
    EXPECT_EQ(cubic.tangent3Der(0.3).norm() + pchip.tangent3Der(0.7).norm(), 0.0);
    // C2 (cubic) and C1 (PCHIP) at interior knots, across the wrap when
    // closed; natural ends when open.
    int segments = static_cast<int>(cubic.numBezierCurves());
    for (int j = 1; j < segments + closed; ++j) {
      Tag left = tagAt(cubic, j - 1, 1.0), right = tagAt(cubic, j % segments, 0.0);
      expectNear(cubic.point(left), cubic.point(right), 1e-13, "C0");
      expectNear(cubic.tangent(left), cubic.tangent(right), 1e-11, "C1");
      expectNear(cubic.tangentDer(left), cubic.tangentDer(right), 1e-9, "C2");
      expectNear(pchip.tangent(left), pchip.tangent(right), 1e-12, "pchip C1");
    }
    if (!closed) {
      expectNear(cubic.tangentDer(0.0), V3(), 1e-10, "natural start");
      expectNear(cubic.tangentDer(1.0), V3(), 1e-10, "natural end");
    }
  }
  // Two points: one straight segment in thirds of the chord, either kind.
  std::vector<V2> const ends = {V2(1, 1), V2(4, 7)};
  for (std::vector<V2> const& cp : {Cubic2(ends, false).bezierCurve(0).controlPoints(),
                                    Pchip2(ends, false).bezierCurve(0).controlPoints()})
    for (int k = 0; k < 4; ++k) expectNear(cp[k], V2(1, 1) + V2(3, 6) * (k / 3.0), 1e-15);
  // A closed square: segment s is segment 0 turned s quarters.
  Cubic2 square({V2(1, 0), V2(0, 1), V2(-1, 0), V2(0, -1)}, true);
  for (std::size_t s = 1; s < 4; ++s)
    for (std::size_t k = 0; k < 4; ++k) {
      V2 p = square.bezierCurve(0).controlPoints()[k];
      for (std::size_t r = 0; r < s; ++r) p = V2(-p.y(), p.x());
      expectNear(square.bezierCurve(s).controlPoints()[k], p, 1e-14);
    }
}

TEST(InterpolatingPchip, SlopeRulesMonotonyAndEndSlopes) {
  // The last row's weighted harmonic mean: w1 = 2 * 2 + 1 = 5, w2 = 2 + 2 * 1 = 4.
  struct Row {
    double h1, h2, d1, d2, end, interior;
  } const rows[] = {{1, 1, 1, -1, 2.0, 0.0},      {1, 1, 1, -3, 3.0, 0.0},
                    {1, 1, 1, -5, 3.0, 0.0},      {1, 1, 1, -2, 2.5, 0.0},
                    {1, 1, 1, 4, 0.0, 1.6},       {1, 1, 1, 1, 1.0, 1.0},
                    {1, 2, -1, 4, -8.0 / 3, 0.0}, {1, 1, 0, 2, 0.0, 0.0},
                    {1, 2, 2, 0, 8.0 / 3, 0.0},   {1, 2, 1, 3, 1.0 / 3, 9.0 / (5.0 / 1 + 4.0 / 3)}};
  for (Row const& r : rows) {
    EXPECT_EQ(Pchip2::endCondition_(r.h1, r.h2, r.d1, r.d2), r.end) << r.d1 << " " << r.d2;
    EXPECT_DOUBLE_EQ(Pchip2::interiorCondition_(r.h1, r.h2, r.d1, r.d2), r.interior) << r.d2;
  }
  EXPECT_EQ(Pchip2::interiorCondition_(1, 1, kNaN, 1), 0.0);
  // x rises throughout, y rises then falls with its maximum at point 3: no
  // sample overshoots it, and the slope there is zero.
  std::vector<V2> points = {V2(0, 0), V2(0.2, 1), V2(1.5, 1.3), V2(1.6, 4), V2(4, 3.9), V2(4.1, 0)};
  Pchip2 pchip(points, false);
  auto samples = pchip.polyline(2000);
  double peak = 0.0;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    EXPECT_GE(samples[i].x(), samples[i - 1].x()) << i;
    peak = std::max(peak, samples[i].y());
  }
  EXPECT_TRUE(peak >= 4.0 && peak <= 4.0 * (1.0 + 1e-15));
  EXPECT_EQ(pchip.tangent(pchip.knots()[3]).y(), 0.0);
  // End slopes from the two chords at each end, closed from the closing
  // chord and the first; in length units, so times the total length in t.
  auto slope = [](auto rule, V2 a, V2 b, V2 c, int k) {
    double h1 = (b - a).norm(), h2 = (c - b).norm();
    return rule(h1, h2, (b.coord(k) - a.coord(k)) / h1, (c.coord(k) - b.coord(k)) / h2);
  };
  std::vector<V2> ring = {V2(0, 0), V2(2, 1), V2(1, 3), V2(-2, 2), V2(-1, -1)};
  Pchip2 loop(ring, true);
  double total = pchip.chordLengthSum().back(), loopTotal = loop.chordLengthSum().back();
  for (int k = 0; k < 2; ++k) {
    EXPECT_NEAR(pchip.tangent(0.0).coord(k),
                slope(Pchip2::endCondition_, points[0], points[1], points[2], k) * total, 1e-12);
    EXPECT_NEAR(pchip.tangent(1.0).coord(k),
                -slope(Pchip2::endCondition_, points[5], points[4], points[3], k) * total, 1e-12);
    EXPECT_NEAR(loop.tangent(0.0).coord(k),
                slope(Pchip2::interiorCondition_, ring[4], ring[0], ring[1], k) * loopTotal, 1e-12);
  }
}

template <class Spline>
void checkNormalFamily(Spline const& spline) {
  using P = typename Spline::Point;
  auto fd = [](auto f, double t) { return (f(t + 1e-6) - f(t - 1e-6)) * (1.0 / 2e-6); };
  for (double t : {0.05, 0.31, 0.52, 0.88}) {
    P T = spline.tangent(t), N = spline.normal(t);
    EXPECT_NEAR(N.dot(T), 0.0, 1e-12 * N.norm() * T.norm()) << t;
    expectNear(spline.normalDer(t), fd([&](double u) { return spline.normal(u); }, t), 1e-6);
    expectNear(spline.normal2Der(t), fd([&](double u) { return spline.normalDer(u); }, t), 1e-5);
    expectNear(spline.uNormalDer(t), fd([&](double u) { return spline.normal(u).unit(); }, t),
               1e-6);
    expectNear(spline.uNormal2Der(t), fd([&](double u) { return spline.uNormalDer(u); }, t), 1e-5);
  }
}

TEST(InterpolatingSpline, NormalsArePerpendicularAndDifferentiateRight) {
  checkNormalFamily(Cubic2(kPlanar, true));
  checkNormalFamily(Cubic3(kSpatial, false));
  checkNormalFamily(Pchip3(kSpatial, true));
  // On straight PCHIP segments T' is parallel to T: the noise along T is
  // replaced by a perpendicular (the corners, where T vanishes, have none).
  for (double side : {1.0, 10.0, 1000.0}) {
    Pchip2 square({V2(0, 0), V2(side, 0), V2(side, side), V2(0, side)}, true);
    Pchip3 stairs({V3(0, 0, 0), V3(side, 0, 0), V3(side, side, 0), V3(side, side, side),
                   V3(2 * side, side, side), V3(2 * side, 2 * side, side)},
                  false);
    auto perpendicular = [](auto const& spline, double t) {
      auto T = spline.tangent(t), N = spline.normal(t);
      return T.isZero() || std::abs(N.dot(T)) <= 1e-14 * N.norm() * T.norm();
    };
    for (int i = 1; i < 1000; ++i)
      EXPECT_TRUE(perpendicular(square, i / 1000.0) && perpendicular(stairs, i / 1000.0)) << i;
  }
}

TEST(InterpolatingSpline, CopiesCloneScalePolylineAndTracedConversion) {
  Cubic2 spline(kPlanar, true), copy = spline, assigned;
  copy.scale(2.0);
  EXPECT_TRUE(sameBits(spline.point(0.3).x(), Cubic2(kPlanar, true).point(0.3).x()));
  EXPECT_TRUE(sameBits(copy.point(0.3).x(), 2.0 * spline.point(0.3).x()));
  expectNear(copy.tangent(0.3), spline.tangent(0.3) * 2.0, 1e-14, "scaled tangent");
  EXPECT_TRUE(copy.dataPoints() == spline.dataPoints() && copy.knots() == spline.knots());
  assigned = spline;
  assigned.isClosed(false);
  EXPECT_EQ(spline.numBezierCurves(), kPlanar.size());
  EXPECT_TRUE(sameBits(assigned.point(0.3).y(), Cubic2(kPlanar, false).point(0.3).y()));
  EXPECT_TRUE(*spline.clone() == spline &&
              sameBits(spline.clone()->point(0.6).y(), spline.point(0.6).y()));
  Pchip2 pchip(kPlanar, true);
  EXPECT_FALSE(pchip == spline || spline == pchip);
  EXPECT_TRUE(*pchip.clone() == pchip && pchip != Pchip2(kPlanar, false) &&
              spline != Cubic2(kPlanar, false));
  // Polyline: per segment max(m_k, 3) samples, shared ends once.
  std::size_t expected = 1;
  auto const& sum = spline.chordLengthSum();
  for (std::size_t k = 0; k + 1 < sum.size(); ++k)
    expected += std::max(3u, static_cast<unsigned>((sum[k + 1] - sum[k]) * 40 / sum.back())) - 1;
  std::vector<V2> samples = spline.polyline(40);
  EXPECT_EQ(samples.size(), expected);
  EXPECT_TRUE(samples.front() == kPlanar.front() && samples.back() == kPlanar.front());
  EXPECT_EQ(Cubic2({V2(0, 0), V2(1, 0)}, false).polyline(0).size(), 3u);

  // Traced: constants throughout; evaluated back, the Numeric spline's bits.
  vm::InterpolatingCubicSpline<vm::Traced, Vector3_T> traced(kSpatial, true);
  double value = 0.0;
  for (auto const& v : traced.bezierControlPoints()) EXPECT_TRUE(v.getConstant(value));
  EXPECT_TRUE(traced.bezierCurve(2).dotCoeffs()[3].getConstant(value));
  traced.scale(ct::TracedDouble::input("s"));
  ct::BindingSet bindings;
  bindings.bind("s", 1.5);
  Cubic3 numeric(traced, bindings), direct(kSpatial, true);
  direct.scale(1.5);
  EXPECT_TRUE(numeric == direct && numeric.knots() == direct.knots());
  EXPECT_TRUE(numeric.knotSpacings() == direct.knotSpacings() &&
              numeric.chordLengthSum() == direct.chordLengthSum());
  EXPECT_EQ(numeric.bezierControlPoints(), direct.bezierControlPoints());
  EXPECT_TRUE(sameBits(numeric.bezierCurve(1).elevatedDerivPoints()[4],
                       direct.bezierCurve(1).elevatedDerivPoints()[4]));
  Pchip2 back(vm::InterpolatingPchip<vm::Traced, Vector2_T>(kPlanar, false), ct::BindingSet());
  EXPECT_TRUE(sameBits(back.point(0.77).y(), Pchip2(kPlanar, false).point(0.77).y()));
}

TEST(InterpolatingSpline, TracedParameterThreePaths) {
  // Straight segments where the formula leaves noise along T, replaced.
  std::vector<V3> const stairs = {V3(0, 0, 0), V3(1, 0, 0), V3(1, 1, 0),
                                  V3(1, 1, 1), V3(2, 1, 1), V3(2, 2, 1)};
  auto compute = [&](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using Mode = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
    S t = in.d(0);
    std::vector<S> out;
    auto values = [&](auto const& spline) {
      for (auto const& v : {spline.point(t), spline.tangent(t), spline.normal(t),
                            spline.uNormalDer(t), spline.tangentDer(t)})
        for (int k = 0; k < v.dimension; ++k) out.push_back(v.coord(k));
    };
    values(vm::InterpolatingCubicSpline<Mode, Vector2_T>(kPlanar, true));
    values(vm::InterpolatingPchip<Mode, Vector3_T>(kSpatial, false));
    values(vm::InterpolatingPchip<Mode, Vector3_T>(stairs, false));
    return out;
  };
  std::vector<vela::test::Case> cases;
  for (double t : {0.3, Cubic2(kPlanar, true).knots()[2], Pchip3(kSpatial, false).knots()[3], 0.0,
                   1.0, 1.25, -0.25, -3.7, 1e300, -0.0, kNaN, kInf, -kInf, 0.61, 0.19, 0.41})
    cases.push_back({{t}, {}});
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_GE(vela::test::occurrences(result.code, "zeph_core_math_indexOfLowerBound("), 1u);
  EXPECT_GE(vela::test::occurrences(result.code, "zeph_core_math_validNormal("), 1u);
}

}  // namespace spline_test
