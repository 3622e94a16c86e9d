#include <gtest/gtest.h>

#include <limits>

#include "linalg/PlaneFitOps.hpp"
#include "linalg/ValidNormal.hpp"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "zeph_core/ckernels.h"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using V2 = math3d::Vector2_T<vm::Numeric>;
using V3 = math3d::Vector3_T<vm::Numeric>;

namespace {

using vela::test::kNaN;

template <class In>
using Vec3Of =
    math3d::Vector3_T<std::conditional_t<std::is_same_v<typename std::decay_t<In>::Scalar, double>,
                                         vm::Numeric, vm::Traced>>;
template <class In>
using Vec2Of =
    math3d::Vector2_T<std::conditional_t<std::is_same_v<typename std::decay_t<In>::Scalar, double>,
                                         vm::Numeric, vm::Traced>>;

}  // namespace

TEST(ValidNormal, ReplacesOnlyNearlyZeroNormals) {
  struct Row {
    V3 tangent, normal, expected;
    int dim;
  };
  std::vector<Row> const rows = {
      {{3, 4, 0}, {0, 0, 0}, {-4, 3, 0}, 2},
      {{3, 4, 0}, {1e-15, 0, 0}, {-4, 3, 0}, 2},
      {{3, 4, 0}, {2e-14, 0, 0}, {2e-14, 0, 0}, 2},
      {{3, 4, 0}, {kNaN, 0, 0}, {kNaN, 0, 0}, 2},
      {{1, 2, 3}, {0, 0, 0}, {0, 3, -2}, 3},
      {{1, 1, 1}, {0, 0, 0}, {0, 1, -1}, 3},   // tie of all: x
      {{3, -1, 1}, {0, 0, 0}, {-1, 0, 3}, 3},  // tie of y and z: y
      {{5, 4, -3}, {0, 0, 5e-15}, {4, -5, 0}, 3},
      {{1, 2, 3}, {0, 1e-14, 0}, {0, 1e-14, 0}, 3},
  };
  for (std::size_t r = 0; r < rows.size(); ++r) {
    Row const& row = rows[r];
    V3 normal = row.normal;
    zeph_core_math_validNormal(normal.values(), row.tangent.values(), row.dim);
    V3 viaHelper = row.normal;
    if (row.dim == 2) {
      V2 n2(row.normal.x(), row.normal.y());
      vm::validNormal(V2(row.tangent.x(), row.tangent.y()), n2);
      viaHelper = V3(n2);
    } else {
      vm::validNormal(row.tangent, viaHelper);
    }
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(vela::test::sameBits(normal.coord(i), row.expected.coord(i))) << "row " << r;
      EXPECT_TRUE(vela::test::sameBits(viaHelper.coord(i), row.expected.coord(i))) << "row " << r;
    }
  }
  // Tangent and normal in one array.
  double shared2[] = {1e-15, 2e-15}, shared3[] = {1e-15, 2e-15, 3e-15};
  zeph_core_math_validNormal(shared2, shared2, 2);
  zeph_core_math_validNormal(shared3, shared3, 3);
  EXPECT_TRUE(V2(shared2) == V2(-2e-15, 1e-15));
  EXPECT_TRUE(V3(shared3) == V3(0, 3e-15, -2e-15));
}

TEST(ValidNormal, TracedAlwaysRecords) {
  math3d::Vector3_T<vm::Traced> tangent(1, 2, 3), normal(0, 0, 0);
  vm::validNormal(tangent, normal);
  ASSERT_FALSE(normal.x().isConstant());
  EXPECT_EQ(normal.x().operation()->input(0)->description(), "ValidNormal");
  EXPECT_TRUE(V3(normal, vm::BindingSet()) == V3(0, 3, -2));

  auto none =
      std::make_shared<ct::CollectOp>(0u, static_cast<ct::TracedDouble const*>(nullptr), "");
  vm::ValidNormalOp two(2, none, none), three(3, none, none);
  EXPECT_EQ(two.compare_(three), -1);
  EXPECT_EQ(three.compare_(two), 1);
  EXPECT_EQ(three.clone()->compare_(three), 0);
}

// Alone, the node writes over its collected normal; when a second node
// reads the same collect afterwards, the first copies it.
TEST(ValidNormal, AgreesOnThreePathsOverwritingOrCopying) {
  auto alone = [](auto const& in) {
    Vec3Of<decltype(in)> t(in.doubles(0, 3).data()), n(in.doubles(3, 3).data());
    Vec2Of<decltype(in)> t2(in.doubles(0, 2).data()), n2(in.doubles(3, 2).data());
    vm::validNormal(t, n);
    vm::validNormal(t2, n2);
    return std::vector{n.x(), n.y(), n.z(), n2.x(), n2.y()};
  };
  auto shared = [](auto const& in) {
    Vec3Of<decltype(in)> t(in.doubles(0, 3).data()), n(in.doubles(3, 3).data()), m = n;
    vm::validNormal(t, n);
    vm::validNormal(t.roll(1), m);
    return std::vector{n.x(), n.y(), n.z(), m.x(), m.y(), m.z()};
  };
  std::vector<vela::test::Case> cases = {{vela::test::randomDoubles(6, 3), {}}};
  for (std::vector<double> const& values :
       std::vector<std::vector<double>>{{3, 4, 0, 0, 0, 0},
                                        {3, 4, 5, 1e-15, 0, 0},
                                        {1, 1, 1, 2e-14, 0, 0},
                                        {1, 2, 3, -0.0, 0, 0},
                                        {-7, 1, 1, kNaN, 0, 0},
                                        {0, -1e300, 2, 1e-300, 0, 0},
                                        {2, -2, 2, 0, 1e-15, 0}})
    cases.push_back({values, {}});
  auto overwritten = vela::test::checkThreePaths(alone, cases);
  EXPECT_EQ(vela::test::occurrences(overwritten.code, "memcpy("), 0u) << overwritten.code;
  EXPECT_EQ(vela::test::occurrences(overwritten.code, ",3);"), 1u) << overwritten.code;
  EXPECT_EQ(vela::test::occurrences(overwritten.code, ",2);"), 1u) << overwritten.code;
  auto copied = vela::test::checkThreePaths(shared, cases);
  EXPECT_EQ(vela::test::occurrences(copied.code, "memcpy("), 1u) << copied.code;
  EXPECT_EQ(vela::test::occurrences(copied.code, ", 3 * sizeof(double));"), 1u) << copied.code;
}
