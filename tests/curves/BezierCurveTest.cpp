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

namespace bezier_test {

using V2 = Vector2_T<vm::Numeric>;
using V3 = Vector3_T<vm::Numeric>;
using Curve2 = vm::BezierCurve<vm::Numeric, Vector2_T>;
using Curve3 = vm::BezierCurve<vm::Numeric, Vector3_T>;

double bernstein(unsigned n, unsigned k, double t) {
  double c = 1.0;
  for (unsigned i = 1; i <= k; ++i) c = c * (n + 1 - i) / i;
  return c * std::pow(t, k) * std::pow(1.0 - t, n - k);
}

template <class V>
void expectNear(V const& a, V const& b, double tol) {
  for (int k = 0; k < V::dimension; ++k)
    EXPECT_NEAR(a.coord(k), b.coord(k), tol * (1.0 + std::abs(b.coord(k)))) << k;
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

TEST(BezierCurve, TracedThreePathsAndNumericCopy) {
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using Mode = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
    std::vector<Vector3_T<Mode>> points;
    for (std::size_t i = 0; i < 5; ++i)
      points.emplace_back(in.d(3 * i), in.d(3 * i + 1), in.d(3 * i + 2));
    vm::BezierCurve<Mode, Vector3_T> curve(points), single({points[1]});
    S t = in.d(15);
    Vector3_T<Mode> near;
    S u = single.closestPoint(points[2], near);
    std::vector<S> out = {curve.subdivide(t).first.point(S(0.5)).x(), curve.dotCoeffs()[3],
                          curve.elevatedDerivPoints()[7], u};
    for (auto const& v : {curve.point(t), curve.tangent(t), curve.tangentDer(t),
                          curve.tangent2Der(t), curve.tangent3Der(t), single.point(t), near})
      for (int k = 0; k < 3; ++k) out.push_back(v.coord(k));
    return out;
  };
  std::vector<double> base;
  for (V3 const& p : kQuartic) base.insert(base.end(), {p.x(), p.y(), p.z()});
  std::vector<vela::test::Case> cases;
  for (double t : {0.0, 1.0, 0.35, -0.5, 2.0, std::nan("")}) {
    cases.push_back({base, {}});
    cases.back().doubles.push_back(t);
  }
  auto result = vela::test::checkThreePaths(compute, cases);
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
}

}  // namespace bezier_test
