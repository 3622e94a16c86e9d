#include <gtest/gtest.h>

#include <vector>

#include "support/ThreePaths.hpp"
#include "vela/math/InterpolatingCubicSpline3DWrapper.hpp"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using vela::test::sameBits;

namespace wrapper_test {

using V2 = math3d::Vector2_T<vm::Numeric>;
using V3 = math3d::Vector3_T<vm::Numeric>;
using Wrapper = vm::InterpolatingCubicSpline3DWrapper<vm::Numeric>;
using Planar = vm::InterpolatingCubicSpline<vm::Numeric, math3d::Vector2_T>;
using Spatial = vm::InterpolatingCubicSpline<vm::Numeric, math3d::Vector3_T>;

std::vector<V2> const kFlat = {V2(0, 0), V2(1, 0.5), V2(2.5, -0.5), V2(3, 1.5), V2(1.5, 2.5)};

std::vector<V3> lifted(std::vector<V2> const& points) {
  std::vector<V3> out;
  for (V2 const& p : points) out.emplace_back(p);
  return out;
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
  EXPECT_THROW(Wrapper({V2(0, 0), V2(1, 1), V2(2, 2)}, true), Planar::CollinearDataPoints);
  EXPECT_THROW(Wrapper(std::vector<V3>{V3(0, 0, 0)}, false), Spatial::InsufficientDataPoints);
  Wrapper empty;
  EXPECT_TRUE(empty.point(0.5) == V3() && empty.polyline(10).empty() && !empty.isClosed());
}

TEST(SplineWrapper, TracedThreePathsAndNumericCopy) {
  auto compute = [&](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using Mode = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
    using W = vm::InterpolatingCubicSpline3DWrapper<Mode>;
    S t = in.d(0);
    math3d::Vector3_T<Mode> q(in.d(1), in.d(2), in.d(3)), out;
    std::vector<S> values;
    for (W const& wrapper : {W(kFlat, true), W(lifted(kFlat), true)}) {  // planar, spatial
      for (auto const& v : {wrapper.point(t), wrapper.normal(t), wrapper.tangentDer(t)})
        values.insert(values.end(), {v.x(), v.y(), v.z()});
      values.push_back(wrapper.closestPoint(q, t, out));
      values.insert(values.end(), {out.x(), out.y(), out.z()});
    }
    return values;
  };
  vela::test::checkThreePaths(
      compute,
      {{{0.3, 2.0, 1.0, 4.0}, {}}, {{1.25, -1.0, 0.5, 0.0}, {}}, {{-0.6, 3.0, 3.0, -1.0}, {}}});
  vm::InterpolatingCubicSpline3DWrapper<vm::Traced> traced(kFlat, false);
  Wrapper numeric(traced, ct::BindingSet());
  ASSERT_TRUE(numeric.planar() && !numeric.spatial());
  expectSameBits(numeric.normal(0.4), Wrapper(kFlat, false).normal(0.4), "copy", 0.4);
}

}  // namespace wrapper_test
