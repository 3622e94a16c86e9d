// Derivatives of the closest points and of the normal guard: t(q) and the
// point against re-solving at moved inputs (central differences), forward
// against reverse, the four paths. Queries have one strict nearest point.
#include <gtest/gtest.h>

#include "curves/ClosestPointOps.hpp"
#include "linalg/ValidNormal.hpp"
#include "support/Derivatives.hpp"
#include "vela/math/BezierCurve.hpp"
#include "vela/math/InterpolatingCubicSpline.hpp"

namespace {

namespace vm = vela::math;
using math3d::Vector2_T;
using math3d::Vector3_T;
using vela::test::Case;
using vela::test::DerivativeCase;

template <class S>
using ModeOf = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;

// A Bezier curve of the first doubles as control points; the last dim
// doubles are q. Outputs t and the point.
template <template <class> class Vec>
DerivativeCase bezier(std::string name, std::vector<double> controls, std::vector<Case> queries) {
  for (auto& c : queries) c.doubles.insert(c.doubles.begin(), controls.begin(), controls.end());
  return vela::test::derivativeCase(
      std::move(name),
      [count = controls.size()](auto const& in) {
        using Point = Vec<ModeOf<std::decay_t<decltype(in.d(0))>>>;
        auto x = in.doubles(0, in.doubleCount());
        std::vector<Point> points;
        for (std::size_t i = 0; i < count; i += Point::dimension) points.emplace_back(&x[i]);
        Point out;
        auto t = vm::BezierCurve<ModeOf<std::decay_t<decltype(in.d(0))>>, Vec>(points).closestPoint(
            Point(&x[count]), out);
        std::vector<std::decay_t<decltype(t)>> result{t};
        for (int k = 0; k < Point::dimension; ++k) result.push_back(out.coord(k));
        return result;
      },
      std::move(queries));
}

// A node's arrays as independent inputs: q, then the arrays in order.
std::vector<double> joined(std::vector<std::vector<double>> const& parts) {
  std::vector<double> all;
  for (auto const& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The cubic Bezier (0,0) (1,2) (3,2) (4,0) as the node sees it, each array
// an input of its own, so that the rule must be exact in each.
DerivativeCase bezierApart() {
  using V = Vector2_T<vm::Numeric>;
  vm::BezierCurve<vm::Numeric, Vector2_T> curve({V(0, 0), V(1, 2), V(3, 2), V(4, 0)});
  std::vector<double> P;
  for (auto const& p : curve.controlPoints()) P.insert(P.end(), {p.x(), p.y()});
  std::vector<double> c(curve.dotCoeffs(), curve.dotCoeffs() + 6),
      E(curve.elevatedDerivPoints(), curve.elevatedDerivPoints() + 12);
  return vela::test::derivativeCase(
      "bezier arrays apart",
      [](auto const& in) {
        auto x = in.doubles(0, 28);
        decltype(x) out(2);
        auto t = vm::closestPointOnBezier(3, 2, &x[2], &x[10], &x[16], &x[0], out.data());
        return decltype(x){t, out[0], out[1]};
      },
      {{joined({{2.0, 0.5}, P, c, E}), {}}, {joined({{1.0, 2.5}, P, c, E}), {}}});
}

// A planar cubic spline through points, every array of the walk an input:
// q, knots, control points, first derivative points, dot coefficients and
// elevated derivative points; the walk starts at segment start.
DerivativeCase spline(std::string name, std::vector<Vector2_T<vm::Numeric>> const& points,
                      bool closed, int start, std::vector<std::vector<double>> queries) {
  vm::InterpolatingCubicSpline<vm::Numeric, Vector2_T> s(points, closed);
  auto segments = static_cast<unsigned>(s.numBezierCurves());
  std::vector<double> K = s.knots(), P, D, c, E;
  for (unsigned j = 0; j < segments; ++j) {
    auto const& curve = s.bezierCurve(j);
    auto cp = curve.controlPoints();
    for (unsigned i = 0; i < 4; ++i) P.insert(P.end(), {cp[i].x(), cp[i].y()});
    for (unsigned i = 0; i < 3; ++i)
      D.insert(D.end(), {3 * (cp[i + 1].x() - cp[i].x()), 3 * (cp[i + 1].y() - cp[i].y())});
    c.insert(c.end(), curve.dotCoeffs(), curve.dotCoeffs() + 6);
    E.insert(E.end(), curve.elevatedDerivPoints(), curve.elevatedDerivPoints() + 12);
  }
  std::vector<Case> cases;
  for (auto const& q : queries) cases.push_back({joined({q, K, P, D, c, E}), {start}});
  std::size_t at[] = {2, 2 + K.size(), 2 + K.size() + P.size(), 2 + K.size() + P.size() + D.size(),
                      2 + K.size() + P.size() + D.size() + c.size()};
  return vela::test::derivativeCase(
      std::move(name),
      [=](auto const& in) {
        auto x = in.doubles(0, in.doubleCount());
        decltype(x) out(2);
        vm::SplineArrays<std::decay_t<decltype(x[0])>> arrays{&x[at[0]], &x[at[1]], &x[at[2]],
                                                              &x[at[3]], &x[at[4]]};
        auto p =
            vm::closestPointOnSpline(3, 2, segments, closed, in.i(0), arrays, &x[0], out.data());
        return decltype(x){p, out[0], out[1]};
      },
      cases);
}

// The guard of a tangent (first dim doubles) and a normal (the next dim,
// times scale: 1e-15 makes every nearby normal too short, so replaced). In
// space each axis is once the tangent's smallest.
template <template <class> class Vec>
DerivativeCase guard(std::string name, double scale) {
  constexpr int dim = Vec<vm::Numeric>::dimension;
  auto points = vela::test::uniformPoints(2 * dim, 3, -1.5, 1.5, dim * 7 + (scale < 1 ? 1 : 0));
  double const tangents[3][3] = {{0.1, 1.3, -1.0}, {1.1, -0.2, 0.9}, {0.8, 1.2, -0.1}};
  for (int p = 0; p < 3 && dim == 3; ++p)
    std::copy(tangents[p], tangents[p] + 3, points[p].doubles.begin());
  return vela::test::derivativeCase(
      std::move(name),
      [scale](auto const& in) {
        using Point = Vec<ModeOf<std::decay_t<decltype(in.d(0))>>>;
        auto x = in.doubles(0, 2 * dim);
        for (int k = dim; k < 2 * dim; ++k) x[k] = x[k] * scale;
        Point normal(&x[dim]);
        vm::validNormal(Point(x.data()), normal);
        decltype(x) result;
        for (int k = 0; k < dim; ++k) result.push_back(normal.coord(k));
        return result;
      },
      points);
}

TEST(ClosestPointDerivatives, EveryRule) {
  using V = Vector2_T<vm::Numeric>;
  std::vector<double> arch{0, 0, 1, 2, 3, 2, 4, 0};
  std::vector<V> wave{V(0, 0), V(1, 1), V(2, 0), V(3, 1)},
      square{V(0, 0), V(2, 0), V(2, 2), V(0, 2)};
  DerivativeCase rows[] = {
      bezier<Vector2_T>("bezier cubic", arch, {{{2.0, 0.5}, {}}, {{0.8, 2.2}, {}}}),
      bezier<Vector3_T>("bezier quadratic space", {0, 0, 0, 1, 2, 1, 2, 0, 2},
                        {{{1.0, 0.5, 1.5}, {}}, {{0.3, 1.0, -0.2}, {}}}),
      // Past either end: t stays at 0 or 1, the point is the end point.
      bezier<Vector2_T>("bezier ends", arch, {{{5.0, -0.5}, {}}, {{-1.0, -0.5}, {}}}),
      bezierApart(), spline("spline walk", wave, false, 0, {{2.6, 0.9}, {1.4, 0.2}}),
      spline("spline wrap", square, true, 0, {{-0.3, 1.0}, {-0.2, 0.4}}),
      spline("spline open end", wave, false, 1, {{-0.5, -0.5}}),
      guard<Vector2_T>("normal kept", 1.0), guard<Vector2_T>("normal replaced", 1e-15),
      guard<Vector3_T>("normal kept space", 1.0), guard<Vector3_T>("normal replaced space", 1e-15)};
  for (auto const& row : rows) vela::test::checkDerivatives(row);
}

}  // namespace
