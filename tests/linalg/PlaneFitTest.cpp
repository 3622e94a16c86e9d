// Plane fitting and the normal guard, Numeric and along the four paths.

#include "linalg/LinalgTesting.hpp"
#include "linalg/ValidNormal.hpp"
#include "zeph_core/ckernels.h"

using namespace vela::test::linalg;
using V2 = math3d::Vector2_T<vm::Numeric>;
using V3 = math3d::Vector3_T<vm::Numeric>;

namespace {

Matrix values(V3 const& v) { return Matrix(v.values(), v.values() + 3); }

template <class In>
using ModeOf =
    std::conditional_t<std::is_same_v<typename In::Scalar, double>, vm::Numeric, vm::Traced>;

}  // namespace

TEST(PlaneFit, EdgeCasesOfTheCFunctionAndTheNumericOverload) {
  double const r3 = 1.0 / std::sqrt(3.0);
  V3 const untouched(kNaN, kNaN, kNaN);  // NaN: stays untouched, or comes out NaN
  struct Row {
    std::vector<V3> points;
    int fitted;
    V3 point, normal;
  };
  std::vector<Row> const rows = {
      {{{0, 0, 2}, {1, 0, 2}, {0, 1, 2}, {1, 1, 2}}, 1, {0.5, 0.5, 2}, {0, 0, 1}},
      {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, 1, V3(1, 1, 1) / 3.0, V3(1, 1, 1) * r3},
      // All three blocks tie: the first axis fixes the sign.
      {{{1, 0, 0}, {0, -1, 0}, {0, 0, 1}}, 1, V3(1, -1, 1) / 3.0, V3(1, -1, 1) * r3},
      // The last two blocks tie, better than the first: the second fixes it.
      {{{-2, -1, -3}, {-1, 1, 0}, {0, -2, -2}}, 1, {-1, -2.0 / 3, -5.0 / 3}, V3(1, 1, -1) * r3},
      // Failures: too few points write nothing, later ones only the centroid.
      {{{0, 0, 0}, {1, 0, 0}}, 0, untouched, untouched},
      {{}, 0, untouched, untouched},
      {{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, 0, {1, 0, 0}, untouched},
      {{{1, 2, 3}, {1, 2, 3}, {1, 2, 3}}, 0, {1, 2, 3}, untouched},
      {{{-5, 2, 4}, {3, 6, 0}, {-5, 2, 4}}, 0, V3(-7, 10, 8) / 3.0, untouched},  // Schur 0
      // A NaN spares the block of the other two axes, but not the normal.
      {{{0, 0, 0}, {1, kNaN, 0}, {0, 1, 1}}, 1, {1.0 / 3, kNaN, 1.0 / 3}, untouched},
  };
  for (Row const& row : rows) {
    V3 point = untouched, normal = untouched, kept(5, 6, 7), keptNormal(-1, -2, -3);
    double const* xyz = row.points.empty() ? nullptr : row.points[0].values();
    ASSERT_EQ(
        zeph_core_math_bestFitPlane3D(row.points.size(), xyz, point.values(), normal.values()),
        row.fitted);
    for (int i = 0; i < 3; ++i)
      for (auto [got, want] :
           {std::pair{point.coord(i), row.point.coord(i)}, {normal.coord(i), row.normal.coord(i)}})
        EXPECT_TRUE(std::isnan(want) ? std::isnan(got) : std::fabs(got - want) <= 1e-15)
            << got << " " << want;
    EXPECT_EQ(vm::bestFitPlane3D(row.points, kept, keptNormal), row.fitted == 1);
    if (!row.fitted) point = V3(5, 6, 7), normal = V3(-1, -2, -3);
    EXPECT_TRUE(same(values(kept), values(point)) && same(values(keptNormal), values(normal)));
  }
  // Equal diagonal entries: the first free axis pivots.
  V3 point, normal;
  ASSERT_TRUE(vm::bestFitPlane3D({{-1, -1, 0}, {-2, 1, -2}, {0, 0, 1}}, point, normal));
  EXPECT_EQ(normal.y(), 0.19611613513818402);
  // Planes so steep that squares of the raw normal overflow.
  for (auto [points, expected] : std::vector<std::pair<std::vector<V3>, V3>>{
           {{{0, 0, 0}, {1, 0, 1e160}, {0, 1, 0}, {1, 1, 1e160}}, {-1, 0, 1e-160}},
           {{{0, 0, 0}, {0, 1, -1e200}, {1, 0, 0}, {1, 1, -1e200}}, {0, 1, 1e-200}},
           {{{0, 0, 0}, {1e-100, 0, 1e60}, {0, 1e-100, 0}, {1e-100, 1e-100, 2e60}}, untouched}}) {
    ASSERT_TRUE(vm::bestFitPlane3D(points, point, normal));
    EXPECT_NEAR(normal.norm(), 1.0, 1e-15);
    for (int i = 0; i < 3 && !std::isnan(expected.x()); ++i)
      EXPECT_NEAR(normal.coord(i), expected.coord(i), 1e-15 * std::fabs(expected.coord(i)));
  }
}

TEST(PlaneFit, ValidNormalReplacesOnlyNearlyZeroNormals) {
  struct Row {
    V3 tangent, normal, expected;
    int dim;
  };
  std::vector<Row> const rows = {{{3, 4, 0}, {0, 0, 0}, {-4, 3, 0}, 2},
                                 {{3, 4, 0}, {1e-15, 0, 0}, {-4, 3, 0}, 2},
                                 {{3, 4, 0}, {2e-14, 0, 0}, {2e-14, 0, 0}, 2},
                                 {{3, 4, 0}, {kNaN, 0, 0}, {kNaN, 0, 0}, 2},
                                 {{1, 2, 3}, {0, 0, 0}, {0, 3, -2}, 3},
                                 {{1, 1, 1}, {0, 0, 0}, {0, 1, -1}, 3},  // ties: x
                                 {{3, -1, 1}, {0, 0, 0}, {-1, 0, 3}, 3},
                                 {{5, 4, -3}, {0, 0, 5e-15}, {4, -5, 0}, 3},
                                 {{1, 2, 3}, {0, 1e-14, 0}, {0, 1e-14, 0}, 3}};
  for (Row const& row : rows) {
    V3 normal = row.normal, viaHelper = row.normal;
    zeph_core_math_validNormal(normal.values(), row.tangent.values(), row.dim);
    V2 n2(row.normal.x(), row.normal.y());
    if (row.dim == 2) {
      vm::validNormal(V2(row.tangent.x(), row.tangent.y()), n2);
      viaHelper = V3(n2);
    } else {
      vm::validNormal(row.tangent, viaHelper);
    }
    EXPECT_TRUE(same(values(normal), values(row.expected)) &&
                same(values(viaHelper), values(row.expected)));
  }
  double shared[] = {1e-15, 2e-15, 3e-15};  // tangent and normal in one array
  zeph_core_math_validNormal(shared, shared, 3);
  EXPECT_TRUE(V3(shared) == V3(0, 3e-15, -2e-15));
}

TEST(PlaneFit, NodesAlongFourPaths) {
  std::vector<Case> cases = randomCases(15, {{}, {}, {}});
  // Off a plane, on an axis, coincident, collinear, Schur 0, with a NaN.
  double const points[][15] = {{1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, -1, 0.5, 0.5, 0},
                               {0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, -0.0, 0, 0},
                               {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3},
                               {0, 0, 0, 1, 2, 3, 2, 4, 6, 3, 6, 9, -1, -2, -3},
                               {-5, 2, 4, 3, 6, 0, -5, 2, 4, 1, 0, 0, 0, 1, 0},
                               {0, 0, 0, 1, 0, 0, 2, 0, 0, 3, kNaN, 0, 4, 0, 0}};
  for (auto const& p : points) cases.push_back({Matrix(p, p + 15), {}});
  checkKernel(
      [](auto const& in) {
        using S = typename std::decay_t<decltype(in)>::Scalar;
        using Vec = math3d::Vector3_T<ModeOf<std::decay_t<decltype(in)>>>;
        std::vector<Vec> points;
        for (std::size_t k = 0; k < 5; ++k) points.emplace_back(in.doubles(3 * k, 3).data());
        std::vector<S> out;
        for (std::size_t count : {5, 3, 2}) {
          Vec point, normal;
          auto flag = vm::bestFitPlane3D(std::vector<Vec>(points.begin(), points.begin() + count),
                                         point, normal);
          out.push_back(ct::ternary(flag, S(1.0), S(0.0)));
          out.insert(out.end(), point.values(), point.values() + 3);
          out.insert(out.end(), normal.values(), normal.values() + 3);
        }
        return out;
      },
      cases, {" = zeph_core_math_bestFitPlane3D(5, ", " = zeph_core_math_bestFitPlane3D(2, "},
      {"BestFitPlane3D"});
  cases = {{randomDoubles(6, 3), {}}};
  double const guards[][6] = {{3, 4, 0, 0, 0, 0},     {3, 4, 5, 1e-15, 0, 0},
                              {1, 1, 1, 2e-14, 0, 0}, {1, 2, 3, -0.0, 0, 0},
                              {-7, 1, 1, kNaN, 0, 0}, {0, -1e300, 2, 1e-300, 0, 0},
                              {2, -2, 2, 0, 1e-15, 0}};
  for (auto const& g : guards) cases.push_back({Matrix(g, g + 6), {}});
  checkKernel(
      [](auto const& in) {
        using M = ModeOf<std::decay_t<decltype(in)>>;
        math3d::Vector3_T<M> t(in.doubles(0, 3).data()), n(in.doubles(3, 3).data()), m = n;
        math3d::Vector2_T<M> t2(in.doubles(0, 2).data()), n2(in.doubles(3, 2).data());
        vm::validNormal(t, n);  // copies its input, which the next one reads
        vm::validNormal(t.roll(1), m);
        vm::validNormal(t2, n2);
        return std::vector{n.x(), n.y(), n.z(), m.x(), m.y(), m.z(), n2.x(), n2.y()};
      },
      cases, {", 3 * sizeof(double));", ",3);", ",2);"}, {"ValidNormal"}, {"ValidNormal"});
}
