#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "curves/IndexOfLowerBoundOp.hpp"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "zeph_core/ckernels.h"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;

namespace {

using vela::test::kNaN;
using vela::test::kInf;

TEST(KnotLookup, FindsTheIntervalOfEveryParameter) {
  double const three[] = {0.0, 0.5, 1.0};
  struct Row {
    double x;
    int index;
  };
  for (Row row : {Row{-0.1, -1},
                  {0.0, 0},
                  {-0.0, 0},
                  {0.25, 0},
                  {0.5, 1},
                  {0.75, 1},
                  {1.0, 1},
                  {1.2, 2},
                  {kInf, 2},
                  {-kInf, -1},
                  {kNaN, 0}})
    EXPECT_EQ(zeph_core_math_indexOfLowerBound(3, three, row.x), row.index) << row.x;

  double const two[] = {0.0, 1.0};
  for (double x : {0.0, 1e-300, 0.5, 1.0 - 1e-16, 1.0})
    EXPECT_EQ(vm::indexOfLowerBound(2, two, x), 0);
  double const one[] = {2.0};
  EXPECT_EQ(zeph_core_math_indexOfLowerBound(1, one, 2.0), 0);
  EXPECT_EQ(zeph_core_math_indexOfLowerBound(1, one, 3.0), 0);
  EXPECT_EQ(zeph_core_math_indexOfLowerBound(1, one, 1.0), -1);
  EXPECT_EQ(zeph_core_math_indexOfLowerBound(0, nullptr, 1.0), -1);

  // Every knot and every midpoint of 1000 uneven intervals, against a scan.
  std::vector<double> knots(1001);
  for (std::size_t i = 1; i < knots.size(); ++i) knots[i] = knots[i - 1] + 0.1 + (i % 7) * 0.01;
  for (std::size_t i = 0; i + 1 < knots.size(); ++i) {
    EXPECT_EQ(vm::indexOfLowerBound(1001, knots.data(), knots[i]), static_cast<int>(i));
    EXPECT_EQ(vm::indexOfLowerBound(1001, knots.data(), (knots[i] + knots[i + 1]) / 2),
              static_cast<int>(i));
  }
  EXPECT_EQ(vm::indexOfLowerBound(1001, knots.data(), knots.back()), 999);
}

TEST(KnotLookup, TracedAlwaysRecordsAndAgreesOnThreePaths) {
  std::vector<ct::TracedDouble> knots = {0.0, 0.5, 1.0};
  ct::TracedInt index = vm::indexOfLowerBound(3, knots.data(), ct::TracedDouble(0.7));
  int constant = 0;
  EXPECT_FALSE(index.getConstant(constant)) << "constants record a node too";
  auto const* node = dynamic_cast<vm::IndexOfLowerBoundOp const*>(index.operation().get());
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->description(), "IndexOfLowerBound");
  ASSERT_EQ(node->inputCount(), 2u);
  EXPECT_EQ(node->input(0)->inputCount(), 3u);  // the collected knots
  // The knot count is not compared.
  std::vector<ct::TracedDouble> more = {0.0, 0.5, 1.0, 2.0};
  ct::TracedInt other = vm::indexOfLowerBound(4, more.data(), ct::TracedDouble(0.7));
  EXPECT_EQ(node->compare_(*other.operation()), 0);

  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    std::vector<S> knots = in.doubles(0, 4);
    std::vector<S> out;
    for (std::size_t k = 4; k < in.doubleCount(); ++k)
      out.push_back(S(vm::indexOfLowerBound(4, knots.data(), in.d(k))));
    return out;
  };
  std::vector<vela::test::Case> cases = {
      {{0.0, 0.5, 1.0, 4.0, -0.1, 0.0, 0.5, 1.0, 4.0, 5.0, kNaN, -0.0}, {}},
      {{-3.0, -2.0, -2.0, 7.0, -2.0, -2.5, 7.0, 6.9, kInf, -kInf, 0.0, 1e300}, {}}};
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_NE(result.code.find(" = zeph_core_math_indexOfLowerBound(4, &spd["), std::string::npos)
      << result.code;
}

}  // namespace
