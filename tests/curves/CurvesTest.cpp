#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "vela/Matrix"
#include "vela/math/BezierCurve.hpp"
#include "vela/math/InterpolatingCubicSpline3DWrapper.hpp"
#include "vela/math/InterpolatingPchip.hpp"
#include "vela/math/LumpedDistribution.hpp"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using math3d::Vector2_T;
using math3d::Vector3_T;
using vela::test::kInf;
using vela::test::kNaN;
using vela::test::sameBits;

namespace curves_test {

using V2 = Vector2_T<vm::Numeric>;
using V3 = Vector3_T<vm::Numeric>;
using Curve2 = vm::BezierCurve<vm::Numeric, Vector2_T>;
using Curve3 = vm::BezierCurve<vm::Numeric, Vector3_T>;
using Cubic2 = vm::InterpolatingCubicSpline<vm::Numeric, Vector2_T>;
using Cubic3 = vm::InterpolatingCubicSpline<vm::Numeric, Vector3_T>;
using Pchip2 = vm::InterpolatingPchip<vm::Numeric, Vector2_T>;
using Pchip3 = vm::InterpolatingPchip<vm::Numeric, Vector3_T>;
using Tag = vm::IdxBoundsTag<vm::Numeric>;
using Wrapper = vm::InterpolatingCubicSpline3DWrapper<vm::Numeric>;

std::vector<V2> const kPlanar = {V2(0.0, 0.0), V2(1.0, 0.4), V2(2.2, -0.3),
                                 V2(3.0, 1.5), V2(2.0, 2.5), V2(0.5, 1.8)};
std::vector<V3> const kSpatial = {V3(0.0, 0.0, 0.0), V3(1.0, 0.5, 0.2), V3(1.5, 1.5, 0.9),
                                  V3(0.7, 2.2, 1.4), V3(-0.5, 1.6, 0.8)};
std::vector<V2> const kFlat = {V2(0, 0), V2(1, 0.5), V2(2.5, -0.5), V2(3, 1.5), V2(1.5, 2.5)};

std::vector<V3> lifted(std::vector<V2> const& points) {
  std::vector<V3> out;
  for (V2 const& p : points) out.emplace_back(p);
  return out;
}

template <class V>
void expectNear(V const& a, V const& b, double tol, std::string const& what = "") {
  for (int k = 0; k < V::dimension; ++k)
    EXPECT_NEAR(a.coord(k), b.coord(k), tol * (1.0 + std::abs(b.coord(k)))) << what << " " << k;
}

double bernstein(unsigned n, unsigned k, double t) {
  double c = 1.0;
  for (unsigned i = 1; i <= k; ++i) c = c * (n + 1 - i) / i;
  return c * std::pow(t, k) * std::pow(1.0 - t, n - k);
}

std::vector<V3> const kQuartic = {V3(0.0, 0.0, 0.0), V3(1.0, 2.0, -1.0), V3(2.5, 0.5, 0.0),
                                  V3(3.0, -1.0, 2.0), V3(4.0, 1.0, 1.5)};

TEST(BezierCurve, PointDerivativesArraysAndSubdivision) {
  for (unsigned n = 1; n <= 4; ++n) {
    Curve3 curve(std::vector<V3>(kQuartic.begin(), kQuartic.begin() + n + 1));
    ASSERT_EQ(curve.degree(), n);
    V3 q(0.7, -0.4, 2.0);
    for (double t : {0.0, 0.3, 0.61, 1.0, 1.3}) {
      V3 expected;
      for (unsigned i = 0; i <= n; ++i) expected += kQuartic[i] * bernstein(n, i, t);
      expectNear(curve.point(t), expected, 1e-12);
      // Each derivative against a central difference of the one below it.
      auto diff = [&](auto f) { return (f(t + 1e-5) - f(t - 1e-5)) * (1.0 / 2e-5); };
      expectNear(curve.tangent(t), diff([&](double u) { return curve.point(u); }), 1e-7);
      expectNear(curve.tangentDer(t), diff([&](double u) { return curve.tangent(u); }), 1e-7);
      expectNear(curve.tangent2Der(t), diff([&](double u) { return curve.tangentDer(u); }), 1e-7);
      expectNear(curve.tangent3Der(t), diff([&](double u) { return curve.tangent2Der(u); }), 1e-7);
      // The arrays give (B - q).B' in Bernstein form of degree 2n - 1.
      double sum = 0.0;
      for (unsigned k = 0; k < 2 * n; ++k)
        sum += (curve.dotCoeffs()[k] - V3(curve.elevatedDerivPoints() + 3 * k).dot(q)) *
               bernstein(2 * n - 1, k, t);
      double dot = (curve.point(t) - q).dot(curve.tangent(t));
      EXPECT_NEAR(sum, dot, 1e-12 * (1.0 + std::abs(dot))) << n << " " << t;
      if (t > 1.0) continue;
      // Halves meet at the split point bit for bit and reparametrize the curve.
      double s = t == 0.0 ? 0.5 : t;
      auto [left, right] = curve.subdivide(s);
      EXPECT_TRUE(left.controlPoints().back() == curve.point(s) &&
                  right.controlPoints().front() == curve.point(s));
      EXPECT_TRUE(right.controlPoints().back() == kQuartic[n]);
      expectNear(left.point(0.25), curve.point(s * 0.25), 1e-13);
      expectNear(right.point(0.8), curve.point(s + (1 - s) * 0.8), 1e-13);
    }
    EXPECT_TRUE(sameBits(curve.point(1.0).z(), kQuartic[n].z()));
  }
  Curve2 line({V2(0.1, 0.2), V2(0.7, -0.3)});
  EXPECT_TRUE(line.tangentDer(0.3) == V2() && line.tangent3Der(0.3) == V2());
  EXPECT_TRUE(Curve3().controlPoints().empty() && Curve3().point(0.5) == V3());

  // Polylines: count points evenly in t, either end left out on request.
  Curve2 cubic({V2(0.0, 0.0), V2(1.0, 3.0), V2(2.0, -1.0), V2(3.3, 0.4)});
  std::vector<V2> out;
  cubic.insertPolyline(1, out, Curve2::BothEnds);
  cubic.insertPolyline(5, out, Curve2::OmitEndPoint);
  cubic.insertPolyline(3, out, Curve2::OmitStartPoint);
  std::vector<double> const ts = {0.0, 0.5, 1.0, 0.0, 0.25, 0.5, 0.75, 0.5, 1.0};
  ASSERT_EQ(out.size(), ts.size());
  for (std::size_t i = 0; i < ts.size(); ++i) EXPECT_TRUE(out[i] == cubic.point(ts[i])) << i;
}

TEST(BezierCurve, OnePointIsAPointAndDegreesAboveSixAreRefused) {
  V3 p(1.0, -2.0, 0.5), out;
  Curve3 single({p});
  ASSERT_EQ(single.degree(), 0u);
  Curve3 copy(single);
  auto halves = single.subdivide(0.3);
  for (Curve3 const* c : {&single, &copy, &halves.first, &halves.second}) {
    EXPECT_TRUE(c->point(0.4) == p && c->point(1.0) == p && c->tangent(0.4) == V3());
    EXPECT_EQ(c->closestPoint(V3(5.0, 5.0, 5.0), out), 0.0);
    EXPECT_TRUE(out == p && c->controlPoints().size() == 1u);
  }
  single.scale(2.0);
  EXPECT_TRUE(single.point(0.5) == p * 2.0);
  std::vector<V3> many;
  for (int i = 0; i < 35; ++i) many.emplace_back(i, i * i, 1.0);
  EXPECT_EQ(Curve3(std::vector<V3>(many.begin(), many.begin() + 7)).degree(), 6u);
  for (std::size_t count : {8u, 35u})
    EXPECT_THROW(Curve3(std::vector<V3>(many.begin(), many.begin() + count)),
                 Curve3::DegreeTooHigh);
  // A view of degree 7 throws before it writes its storage.
  std::vector<double> storage(146, 1.0);
  double* s = storage.data();
  EXPECT_THROW(
      Curve3(Curve3::StorageTag{7, 3, s, s + 24, s + 45, s + 63, s + 78, s + 90, s + 104}, true),
      Curve3::DegreeTooHigh);
  EXPECT_EQ(storage, std::vector<double>(146, 1.0));
  EXPECT_STREQ(Curve3::DegreeTooHigh().what(), "zeph DegreeTooHigh");
}

TEST(BezierCurve, ViewsWriteTheirStorageAndCopiesNeverShareIt) {
  // Two quadratic segments back to back, as a spline lays them out.
  std::vector<double> control{0.0, 0.0, 1.0, 2.0, 2.0, 0.0, 3.0, 1.0, 4.0, 4.0, 5.0, 0.0};
  std::vector<double> d1(8, -1.0), d2(4, -1.0), dot(8, -1.0), elevated(16, -1.0);
  auto tag = [&](unsigned s) {
    return Curve2::StorageTag{
        2,       2,       control.data() + 6 * s, d1.data() + 4 * s,      d2.data() + 2 * s,
        nullptr, nullptr, dot.data() + 4 * s,     elevated.data() + 8 * s};
  };
  Curve2 first(tag(0), true), second(tag(1), true);
  Curve2 owned({V2(3.0, 1.0), V2(4.0, 4.0), V2(5.0, 0.0)});
  EXPECT_EQ(d1[4], owned.tangent(0.0).x());
  EXPECT_EQ(dot[4], owned.dotCoeffs()[0]);
  EXPECT_EQ(d1[0], 2.0);
  std::vector<double> before = dot;
  Curve2 lazy(tag(1), false);
  EXPECT_EQ(dot, before);
  Curve2 copy(second), assigned;
  copy.scale(2.0);
  assigned = first;
  assigned.scale(-1.0);
  EXPECT_TRUE(control[6] == 3.0 && d1[4] == 2.0 && control[2] == 1.0);
  EXPECT_TRUE(copy.point(0.0).x() == 6.0 && copy.tangent(0.0).x() == 4.0);
  EXPECT_EQ(assigned.point(1.0).x(), -2.0);
  second.scale(0.5);  // the view itself rewrites its storage, derived arrays too
  EXPECT_TRUE(control[6] == 1.5 && d1[4] == 1.0 && control[0] == 0.0);
  Curve2 again(owned);
  owned.scale(3.0);
  EXPECT_EQ(again.point(0.0).x(), 3.0);
}

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

/// what() of an E thrown and caught as Base, or "" when Base misses it.
template <class Base, class E>
std::string caughtAs() {
  try {
    throw E();
  } catch (Base const& e) {
    return e.what();
  } catch (...) {
  }
  return "";
}

template <class Mode, template <class> class Vec>
std::vector<std::string> curveErrors() {
  using S = vm::InterpolatingSpline<Mode, Vec>;
  return {caughtAs<vm::InsufficientDataPointsError, typename S::InsufficientDataPoints>(),
          caughtAs<vm::NonFiniteDataPointsError, typename S::NonFiniteDataPoints>(),
          caughtAs<vm::FirstPointRepeatedError, typename S::FirstPointRepeated>(),
          caughtAs<vm::RepeatedDataPointsError, typename S::RepeatedDataPoints>(),
          caughtAs<vm::CollinearDataPointsError, typename S::CollinearDataPoints>(),
          caughtAs<vm::DegreeTooHighError, typename vm::BezierCurve<Mode, Vec>::DegreeTooHigh>()};
}

template <class M>
std::vector<std::string> otherErrors() {
  using D = vm::LumpedDistribution<M>;
  return {caughtAs<vm::CenterUndefinedError, typename D::CenterUndefined>(),
          caughtAs<vm::DivisionByZeroError, typename D::DivisionByZero>(),
          caughtAs<vm::InvalidIndexError, typename vela::Matrix<M>::InvalidIndex>()};
}

TEST(Errors, EveryNestedExceptionIsCaughtThroughItsKindWithItsText) {
  std::vector<std::string> const curves = {
      "zeph InsufficientDataPoints", "zeph NonFiniteDataPoints", "zeph FirstPointRepeated",
      "zeph RepeatedDataPoints",     "zeph CollinearDataPoints", "zeph DegreeTooHigh"};
  std::vector<std::string> const others = {"zeph CenterUndefined", "zeph DivisionByZero",
                                           "zeph InvalidIndex"};
  EXPECT_EQ((curveErrors<vm::Numeric, Vector2_T>()), curves);
  EXPECT_EQ((curveErrors<vm::Numeric, Vector3_T>()), curves);
  EXPECT_EQ((curveErrors<vm::Traced, Vector2_T>()), curves);
  EXPECT_EQ((curveErrors<vm::Traced, Vector3_T>()), curves);
  EXPECT_EQ(otherErrors<vm::Numeric>(), others);
  EXPECT_EQ(otherErrors<vm::Traced>(), others);
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
      auto const& k = cubic.knots();
      Tag left{1.0, j - 1, k[j - 1], k[j]},
          right{0.0, j % segments, k[j % segments], k[j % segments + 1]};
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

void expectSameBits(V3 const& a, V3 const& b, char const* what, double t) {
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(sameBits(a.coord(k), b.coord(k))) << what << t << k;
}

TEST(SplineWrapper, PlanarAndSpatialFormsAgreeOnPlanarData) {
  for (bool closed : {false, true}) {
    Wrapper planar(kFlat, closed), spatial(lifted(kFlat), closed);
    ASSERT_TRUE(planar.planar() && !planar.spatial() && spatial.spatial() && !spatial.planar());
    EXPECT_EQ(planar.isClosed(), closed);
    for (std::size_t i = 0; i < planar.planar()->knots().size(); ++i)
      EXPECT_TRUE(sameBits(planar.planar()->knots()[i], spatial.spatial()->knots()[i]));
    // (Not at an open curve's ends: the natural ends have no curvature, and
    // there the two replacements of the vanishing normal differ.)
    for (double t : {closed ? 0.0 : 0.05, 0.23, 0.5, 0.91, closed ? 1.2 : 0.97}) {
      vm::IdxBoundsTag<vm::Numeric> tag = planar.getBezierParamInfo(t);
      for (auto const& [a, b] : {std::pair{planar.point(t), spatial.point(t)},
                                 {planar.tangent(t), spatial.tangent(t)},
                                 {planar.tangentDer(t), spatial.tangentDer(t)},
                                 {planar.normal(t), spatial.normal(t)},
                                 {planar.normalDer(t), spatial.normalDer(t)},
                                 {planar.uNormal2Der(t), spatial.uNormal2Der(t)},
                                 {planar.normal2Der(tag), spatial.normal2Der(tag)}})
        expectSameBits(a, b, "", t);
      EXPECT_EQ(planar.point(t).z(), 0.0);
    }
    EXPECT_TRUE(planar.polyline(30) == spatial.polyline(30));
  }
  // A straight curve: only the replacement of the vanishing normal differs,
  // the quarter turn in the plane against the spatial rule.
  std::vector<V2> straight = {V2(0, 0), V2(1, 2), V2(2, 4)};
  Wrapper planar(straight, false), spatial(lifted(straight), false);
  V3 T = planar.tangent(0.3);
  expectSameBits(planar.normal(0.3), V3(-T.y(), T.x(), 0.0), "turn", 0.3);
  // In space: T x the axis of T's smallest coordinate, here z: (T.y, -T.x, 0).
  expectSameBits(spatial.normal(0.3), V3(T.y(), -T.x(), 0.0), "cross", 0.3);
  // The formula forms ignore z on a planar spline.
  V3 withZ(T.x(), T.y(), 5.0);
  expectSameBits(planar.normal(withZ, V3(1, 0, 7)), planar.normal(T, V3(1, 0, 0)), "formula", 0);
}

TEST(SplineWrapper, PlanarClosestPointIgnoresZAndValidationReachesTheCaller) {
  Wrapper planar(kFlat, true);
  for (V3 q : {V3(2, 1, 5), V3(-1, 3, -2)}) {
    V3 out, flatOut;
    vm::IdxBoundsTag<vm::Numeric> tag;
    double t = planar.closestPoint(q, out, tag);
    EXPECT_EQ(t, planar.closestPoint(V3(q.x(), q.y(), 0.0), flatOut));
    EXPECT_TRUE(out == flatOut && out.z() == 0.0);
    EXPECT_EQ(tag.index, planar.getBezierParamInfo(t).index);
    EXPECT_EQ(planar.closestPoint(q, t, out), t);
  }
  EXPECT_THROW(Wrapper({V2(0, 0), V2(1, 1), V2(2, 2)}, true), Cubic2::CollinearDataPoints);
  EXPECT_THROW(Wrapper(std::vector<V3>{V3(0, 0, 0)}, false), Cubic3::InsufficientDataPoints);
  Wrapper empty;
  EXPECT_TRUE(empty.point(0.5) == V3() && empty.polyline(10).empty() && !empty.isClosed());
}

TEST(Curves, TracedThreePathsAndNumericCopies) {
  // Straight segments where the formula leaves noise along T, replaced.
  std::vector<V3> const stairs = {V3(0, 0, 0), V3(1, 0, 0), V3(1, 1, 0),
                                  V3(1, 1, 1), V3(2, 1, 1), V3(2, 2, 1)};
  // Inputs: the parameter, a query point and a Bezier curve's five points.
  auto compute = [&](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using Mode = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
    using W = vm::InterpolatingCubicSpline3DWrapper<Mode>;
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
    Vector3_T<Mode> q(in.d(1), in.d(2), in.d(3)), near;
    for (W const& wrapper : {W(kFlat, true), W(lifted(kFlat), true)}) {  // planar, spatial
      values(wrapper);
      out.push_back(wrapper.closestPoint(q, t, near));
      out.insert(out.end(), {near.x(), near.y(), near.z()});
    }
    std::vector<Vector3_T<Mode>> points;
    for (std::size_t i = 4; i < 19; i += 3) points.emplace_back(in.d(i), in.d(i + 1), in.d(i + 2));
    vm::BezierCurve<Mode, Vector3_T> curve(points), single({points[1]});
    S u = single.closestPoint(points[2], near);
    out.insert(out.end(), {curve.subdivide(t).first.point(S(0.5)).x(), curve.dotCoeffs()[3],
                           curve.elevatedDerivPoints()[7], u});
    for (auto const& v : {curve.point(t), curve.tangent(t), curve.tangentDer(t),
                          curve.tangent2Der(t), curve.tangent3Der(t), single.point(t), near})
      for (int k = 0; k < 3; ++k) out.push_back(v.coord(k));
    return out;
  };
  double const queries[][3] = {{2.0, 1.0, 4.0}, {-1.0, 0.5, 0.0}, {3.0, 3.0, -1.0}};
  std::vector<vela::test::Case> cases;
  for (double t :
       {0.3, Cubic2(kPlanar, true).knots()[2], Pchip3(kSpatial, false).knots()[3], 0.0, 1.0, 1.25,
        -0.25, -3.7, 1e300, -0.0, kNaN, kInf, -kInf, 0.61, 0.19, 0.41, -0.6}) {
    double const* q = queries[cases.size() % 3];
    cases.push_back({{t, q[0], q[1], q[2]}, {}});
    for (V3 const& p : kQuartic)
      cases.back().doubles.insert(cases.back().doubles.end(), {p.x(), p.y(), p.z()});
  }
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_GE(vela::test::occurrences(result.code, "zeph_core_math_indexOfLowerBound("), 1u);
  EXPECT_GE(vela::test::occurrences(result.code, "zeph_core_math_validNormal("), 1u);
  EXPECT_GE(vela::test::occurrences(result.code, "zeph_core_math_castelEval(5, 3, "), 1u);

  std::vector<Vector3_T<vm::Traced>> points;
  for (std::size_t i = 0; i < kQuartic.size(); ++i)
    points.push_back(i == 2 ? Vector3_T<vm::Traced>(ct::TracedDouble::input("x"), 0.5, 0.0)
                            : math3d::traceable(kQuartic[i]));
  double constant = 0.0;
  vm::BezierCurve<vm::Traced, Vector3_T> traced(points), line({points[0], points[1]});
  EXPECT_FALSE(line.point(0.5).x().getConstant(constant)) << "constants record a node too";
  ct::BindingSet bindings;
  bindings.bind("x", 2.5);
  Curve3 numeric(traced, bindings), direct(kQuartic);
  for (unsigned k = 0; k < 8; ++k)
    EXPECT_TRUE(sameBits(numeric.dotCoeffs()[k], direct.dotCoeffs()[k]));
  EXPECT_TRUE(sameBits(numeric.tangent3Der(0.9).z(), direct.tangent3Der(0.9).z()));
  EXPECT_EQ(Curve3(vm::BezierCurve<vm::Traced, Vector3_T>({points[2]}), bindings).point(0.5).x(),
            2.5);
  Wrapper wrapper(vm::InterpolatingCubicSpline3DWrapper<vm::Traced>(kFlat, false),
                  ct::BindingSet());
  ASSERT_TRUE(wrapper.planar() && !wrapper.spatial());
  expectSameBits(wrapper.normal(0.4), Wrapper(kFlat, false).normal(0.4), "copy", 0.4);
}

}  // namespace curves_test
