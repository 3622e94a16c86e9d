#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/ThreePaths.hpp"
#include "vela/math/BezierCurve.hpp"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using math3d::Vector2_T;
using math3d::Vector3_T;
using vela::test::sameBits;
using V2 = Vector2_T<vm::Numeric>;
using V3 = Vector3_T<vm::Numeric>;
using Curve2 = vm::BezierCurve<vm::Numeric, Vector2_T>;
using Curve3 = vm::BezierCurve<vm::Numeric, Vector3_T>;

namespace {

double bernsteinWeight(unsigned n, unsigned k, double t) {
  double c = 1.0;
  for (unsigned i = 1; i <= k; ++i) c = c * (n + 1 - i) / i;
  return c * std::pow(t, k) * std::pow(1.0 - t, n - k);
}

template <class V>
void expectNear(V const& a, V const& b, double tol, char const* what) {
  for (int k = 0; k < V::dimension; ++k)
    EXPECT_NEAR(a.coord(k), b.coord(k), tol * (1.0 + std::abs(b.coord(k)))) << what << " " << k;
}

std::vector<V3> const kQuartic = {V3(0.0, 0.0, 0.0), V3(1.0, 2.0, -1.0), V3(2.5, 0.5, 0.0),
                                  V3(3.0, -1.0, 2.0), V3(4.0, 1.0, 1.5)};

TEST(BezierCurve, PointAndDerivativesMatchBernsteinAndDifferences) {
  Curve3 curve(kQuartic);
  ASSERT_EQ(curve.degree(), 4u);
  for (double t : {0.0, 0.2, 0.5, 0.77, 1.0, 1.3}) {
    V3 expected;
    for (unsigned i = 0; i <= 4; ++i) expected += kQuartic[i] * bernsteinWeight(4, i, t);
    expectNear(curve.point(t), expected, 1e-12, "point");
    // Each derivative against a central difference of the one below it.
    double h = 1e-5;
    auto diff = [&](auto f) { return (f(t + h) - f(t - h)) * (1.0 / (2 * h)); };
    expectNear(curve.tangent(t), diff([&](double u) { return curve.point(u); }), 1e-7, "1st");
    expectNear(curve.tangentDer(t), diff([&](double u) { return curve.tangent(u); }), 1e-7, "2nd");
    expectNear(curve.tangent2Der(t), diff([&](double u) { return curve.tangentDer(u); }), 1e-7,
               "3rd");
    // Quartic: the fourth derivative is 24 * (P4 - 4 P3 + 6 P2 - 4 P1 + P0).
    V3 fourth =
        (kQuartic[4] - kQuartic[3] * 4.0 + kQuartic[2] * 6.0 - kQuartic[1] * 4.0 + kQuartic[0]) *
        24.0;
    expectNear(curve.tangent3Der(t), fourth, 1e-12, "4th");
  }
  // End points bit for bit; degree 1: derivatives past the first are zero.
  EXPECT_TRUE(sameBits(curve.point(1.0).z(), 1.5));
  Curve2 line({V2(0.1, 0.2), V2(0.7, -0.3)});
  EXPECT_TRUE(sameBits(line.point(0.0).x(), 0.1));
  EXPECT_DOUBLE_EQ(line.tangent(0.3).x(), 0.6);
  for (V2 v : {line.tangentDer(0.3), line.tangent2Der(0.3), line.tangent3Der(0.3)})
    EXPECT_TRUE(v.x() == 0.0 && v.y() == 0.0);
  // Empty curve: nothing to evaluate, zero vectors, no control points.
  Curve3 empty;
  EXPECT_TRUE(empty.controlPoints().empty());
  EXPECT_EQ(empty.point(0.5).x(), 0.0);
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
    EXPECT_TRUE(out == p);
    EXPECT_EQ(c->controlPoints().size(), 1u);
  }
  single.scale(2.0);
  EXPECT_TRUE(single.point(0.5) == p * 2.0);

  // Degree 6 is the closest-point search's limit; above it nothing is built,
  // the viewed storage is left as it is.
  std::vector<V3> many;
  for (int i = 0; i < 35; ++i) many.emplace_back(i, i * i, 1.0);
  EXPECT_EQ(Curve3(std::vector<V3>(many.begin(), many.begin() + 7)).degree(), 6u);
  for (std::size_t count : {8u, 35u})
    EXPECT_THROW(Curve3(std::vector<V3>(many.begin(), many.begin() + count)),
                 Curve3::DegreeTooHigh);
  std::vector<double> storage(146, 1.0);
  double* s = storage.data();
  Curve3::StorageTag tag{7, 3, s, s + 24, s + 45, s + 63, s + 78, s + 90, s + 104};
  EXPECT_THROW(Curve3(tag, true), Curve3::DegreeTooHigh);
  EXPECT_EQ(storage, std::vector<double>(146, 1.0));
  EXPECT_STREQ(Curve3::DegreeTooHigh().what(), "zeph DegreeTooHigh");
}

TEST(BezierCurve, ClosestPointArraysGiveTheDotProductPolynomial) {
  for (unsigned n : {1u, 2u, 4u}) {
    Curve3 curve(std::vector<V3>(kQuartic.begin(), kQuartic.begin() + n + 1));
    V3 q(0.7, -0.4, 2.0);
    for (double t : {0.0, 0.3, 0.61, 1.0}) {
      double sum = 0.0;
      for (unsigned k = 0; k < 2 * n; ++k) {
        V3 e(curve.elevatedDerivPoints() + 3 * k);
        sum += (curve.dotCoeffs()[k] - e.dot(q)) * bernsteinWeight(2 * n - 1, k, t);
      }
      double expected = (curve.point(t) - q).dot(curve.tangent(t));
      EXPECT_NEAR(sum, expected, 1e-12 * (1.0 + std::abs(expected))) << n << " " << t;
    }
  }
}

TEST(BezierCurve, SubdivideAndPolyline) {
  Curve2 cubic({V2(0.0, 0.0), V2(1.0, 3.0), V2(2.0, -1.0), V2(3.3, 0.4)});
  for (double t : {0.5, 0.3}) {
    auto [left, right] = cubic.subdivide(t);
    ASSERT_EQ(left.degree(), 3u);
    ASSERT_EQ(right.degree(), 3u);
    V2 mid = cubic.point(t);
    auto l = left.controlPoints();
    auto r = right.controlPoints();
    EXPECT_TRUE(sameBits(l.back().x(), mid.x()) && sameBits(l.back().y(), mid.y()));
    EXPECT_TRUE(sameBits(r.front().x(), mid.x()) && sameBits(r.front().y(), mid.y()));
    EXPECT_EQ(l.front().x(), 0.0);
    EXPECT_EQ(r.back().x(), 3.3);
    for (double u : {0.25, 0.8}) {
      expectNear(left.point(u), cubic.point(t * u), 1e-13, "left");
      expectNear(right.point(u), cubic.point(t + (1 - t) * u), 1e-13, "right");
    }
  }

  std::vector<V2> out;
  cubic.insertPolyline(1, out, Curve2::BothEnds);
  ASSERT_EQ(out.size(), 3u);
  expectNear(out[1], cubic.point(0.5), 0.0, "middle");
  EXPECT_EQ(out[2].x(), 3.3);
  cubic.insertPolyline(5, out, Curve2::OmitEndPoint);  // appends t = 0, .25, .5, .75
  ASSERT_EQ(out.size(), 7u);
  EXPECT_EQ(out[3].x(), 0.0);
  expectNear(out[6], cubic.point(0.75), 0.0, "omit end");
  cubic.insertPolyline(3, out, Curve2::OmitStartPoint);
  ASSERT_EQ(out.size(), 9u);
  expectNear(out[7], cubic.point(0.5), 0.0, "omit start");
}

// Storage laid out as a spline's: two quadratic segments back to back.
struct TwoSegments {
  static constexpr unsigned n = 2, dim = 2;
  std::vector<double> control{0.0, 0.0, 1.0, 2.0, 2.0, 0.0, 3.0, 1.0, 4.0, 4.0, 5.0, 0.0};
  std::vector<double> d1 = std::vector<double>(2 * n * dim, -1.0);
  std::vector<double> d2 = std::vector<double>(2 * (n - 1) * dim, -1.0);
  std::vector<double> dot = std::vector<double>(2 * 2 * n, -1.0);
  std::vector<double> elevated = std::vector<double>(2 * 2 * n * dim, -1.0);
  Curve2::StorageTag tag(unsigned s) {
    return {n,
            dim,
            control.data() + s * (n + 1) * dim,
            d1.data() + s * n * dim,
            d2.data() + s * (n - 1) * dim,
            nullptr,
            nullptr,
            dot.data() + s * 2 * n,
            elevated.data() + s * 2 * n * dim};
  }
};

TEST(BezierCurve, ViewsWriteTheirStorageAndCopiesNeverShareIt) {
  TwoSegments storage;
  Curve2 first(storage.tag(0), true);
  Curve2 second(storage.tag(1), true);
  Curve2 owned({V2(3.0, 1.0), V2(4.0, 4.0), V2(5.0, 0.0)});
  // The view computed its arrays in place, as the owning curve does.
  EXPECT_EQ(storage.d1[4], owned.tangent(0.0).x());
  EXPECT_EQ(storage.dot[4], owned.dotCoeffs()[0]);
  EXPECT_EQ(storage.d1[0], 2.0);  // segment 0 untouched by segment 1
  expectNear(second.point(0.4), owned.point(0.4), 0.0, "view");
  // A view without computing leaves the storage as it is.
  std::vector<double> before = storage.dot;
  Curve2 lazy(storage.tag(1), false);
  EXPECT_EQ(storage.dot, before);

  Curve2 copy(second);
  copy.scale(2.0);
  EXPECT_EQ(storage.control[6], 3.0) << "scaling a copy of a view leaves the storage";
  EXPECT_EQ(storage.d1[4], 2.0);
  EXPECT_EQ(copy.point(0.0).x(), 6.0);
  EXPECT_EQ(copy.tangent(0.0).x(), 4.0);
  Curve2 assigned;
  assigned = first;
  assigned.scale(-1.0);
  EXPECT_EQ(storage.control[2], 1.0);
  EXPECT_EQ(assigned.point(1.0).x(), -2.0);
  // Scaling the view itself rewrites the storage, derived arrays included.
  second.scale(0.5);
  EXPECT_EQ(storage.control[6], 1.5);
  EXPECT_EQ(storage.d1[4], 1.0);
  EXPECT_EQ(storage.control[0], 0.0);
  EXPECT_EQ(copy.point(0.0).x(), 6.0);
  // Copies of an owning curve are independent too.
  Curve2 again(owned);
  owned.scale(3.0);
  EXPECT_EQ(again.point(0.0).x(), 3.0);
}

TEST(BezierCurve, NumericFromTracedAndThreePaths) {
  // Control points are traced inputs: the precomputed arrays and every
  // evaluation are recorded and must agree on all three paths.
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using Mode = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
    std::vector<Vector3_T<Mode>> points;
    for (std::size_t i = 0; i < 5; ++i)
      points.emplace_back(in.d(3 * i), in.d(3 * i + 1), in.d(3 * i + 2));
    vm::BezierCurve<Mode, Vector3_T> curve(points);
    S t = in.d(15);
    std::vector<S> out;
    for (auto const& v : {curve.point(t), curve.tangent(t), curve.tangentDer(t),
                          curve.tangent2Der(t), curve.tangent3Der(t)})
      for (int k = 0; k < 3; ++k) out.push_back(v.coord(k));
    auto halves = curve.subdivide(t);
    out.push_back(halves.first.point(S(0.5)).x());
    out.push_back(curve.dotCoeffs()[3]);
    out.push_back(curve.elevatedDerivPoints()[7]);
    vm::BezierCurve<Mode, Vector3_T> single(std::vector<Vector3_T<Mode>>{points[1]});
    Vector3_T<Mode> near;
    out.push_back(single.closestPoint(points[2], near));
    for (auto const& v : {single.point(t), single.tangent(t), near})
      for (int k = 0; k < 3; ++k) out.push_back(v.coord(k));
    return out;
  };
  std::vector<double> base;
  for (V3 const& p : kQuartic) base.insert(base.end(), {p.x(), p.y(), p.z()});
  std::vector<vela::test::Case> cases;
  for (double t : {0.0, 1.0, 0.35, -0.5, 2.0, std::nan("")}) {
    std::vector<double> d = base;
    d.push_back(t);
    cases.push_back({d, {}});
  }
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_GE(vela::test::occurrences(result.code, "zeph_core_math_castelEval(5, 3, "), 1u)
      << result.code;

  // Constant data still record a node, and a Numeric copy of a traced curve
  // evaluates to the Numeric curve bit for bit.
  std::vector<Vector3_T<vm::Traced>> points;
  for (std::size_t i = 0; i < kQuartic.size(); ++i)
    points.push_back(i == 2 ? Vector3_T<vm::Traced>(ct::TracedDouble::input("x"), 0.5, 0.0)
                            : math3d::traceable(kQuartic[i]));
  vm::BezierCurve<vm::Traced, Vector3_T> traced(points);
  double constant = 0.0;
  vm::BezierCurve<vm::Traced, Vector3_T> constantLine(std::vector<Vector3_T<vm::Traced>>{
      math3d::traceable(kQuartic[0]), math3d::traceable(kQuartic[1])});
  EXPECT_FALSE(constantLine.point(0.5).x().getConstant(constant));
  ct::BindingSet bindings;
  bindings.bind("x", 2.5);
  Curve3 numeric(traced, bindings);
  Curve3 direct(kQuartic);
  ASSERT_EQ(numeric.degree(), 4u);
  for (unsigned k = 0; k < 8; ++k)
    EXPECT_TRUE(sameBits(numeric.dotCoeffs()[k], direct.dotCoeffs()[k]));
  vm::BezierCurve<vm::Traced, Vector3_T> tracedSingle(
      std::vector<Vector3_T<vm::Traced>>{points[2]});
  EXPECT_EQ(Curve3(tracedSingle, bindings).point(0.5).x(), 2.5);
  for (double t : {0.2, 0.9}) {
    EXPECT_TRUE(sameBits(numeric.point(t).y(), direct.point(t).y()));
    EXPECT_TRUE(sameBits(numeric.tangent3Der(t).z(), direct.tangent3Der(t).z()));
  }
}

}  // namespace
