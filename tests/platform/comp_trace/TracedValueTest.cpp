#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <typeinfo>

#include "kelm_math/comp_trace.hpp"
#include "support/SpecialValues.hpp"

namespace ct = kelm_math::comp_trace;
using ct::TracedBool;
using ct::TracedDouble;
using ct::TracedInt;

namespace {
using vela::test::kInf;
using vela::test::kNaN;
}  // namespace

TEST(TracedValue, ConstantsFoldAndTracedValuesRecord) {
  TracedDouble a(2.0), b(3.0);
  double v = 0.0;
  ASSERT_TRUE((a * b + 1.0).getConstant(v));
  EXPECT_EQ(v, 7.0);
  int i = 0;
  ASSERT_TRUE((TracedInt(7) / 2 - TracedInt(1)).getConstant(i));
  EXPECT_EQ(i, 2);
  bool c = false;
  ASSERT_TRUE((a < b && !(a == b)).getConstant(c));
  EXPECT_TRUE(c);

  TracedDouble x = TracedDouble::input("x");
  TracedDouble y = x * b + 1.0;
  EXPECT_FALSE(y.getConstant(v));
  EXPECT_FALSE(y.isConstant());
  EXPECT_EQ(y.operation()->description(), "Add");
  // A constant condition decides ternary at once; a traced one records.
  EXPECT_TRUE(ct::ternary(TracedBool(true), a, x).getConstant(v));
  EXPECT_FALSE(ct::ternary(x > 0.0, a, b).isConstant());
}

TEST(TracedValue, ConversionsMeanTheSameFoldedAndEvaluated) {
  TracedDouble x = TracedDouble::input("x");
  ct::BindingSet bindings;
  for (double value : {2.75, -2.75, 0.0, -0.0, kNaN, 3e9, -3e9, kInf}) {
    bindings.bind("x", value);
    int folded = 0;
    ASSERT_TRUE(TracedInt(TracedDouble(value)).getConstant(folded));
    EXPECT_EQ(TracedInt(x).evaluate(bindings), folded) << value;
    bool foldedBool = false;
    ASSERT_TRUE(TracedBool(TracedDouble(value)).getConstant(foldedBool));
    EXPECT_EQ(TracedBool(x).evaluate(bindings), foldedBool) << value;
  }
  int i = 0;
  TracedInt(TracedDouble(-2.75)).getConstant(i);
  EXPECT_EQ(i, -2);  // toward zero
  TracedInt(TracedDouble(kNaN)).getConstant(i);
  EXPECT_EQ(i, 0);
  TracedInt(TracedDouble(3e9)).getConstant(i);
  EXPECT_EQ(i, INT_MAX);
  bool nanIsTrue = false;
  TracedBool(TracedDouble(kNaN)).getConstant(nanIsTrue);
  EXPECT_TRUE(nanIsTrue);
  // Widening is implicit: int and bool take part in double arithmetic.
  TracedDouble widened = TracedInt(3) + TracedDouble(0.5);
  double d = 0.0;
  ASSERT_TRUE(widened.getConstant(d));
  EXPECT_EQ(d, 3.5);
}

TEST(TracedValue, IntegerArithmeticIsDefinedEverywhere) {
  auto fold = [](TracedInt v) {
    int r = 0;
    EXPECT_TRUE(v.getConstant(r));
    return r;
  };
  EXPECT_EQ(fold(TracedInt(INT_MAX) + 1), INT_MIN);
  EXPECT_EQ(fold(TracedInt(INT_MIN) - 1), INT_MAX);
  EXPECT_EQ(fold(TracedInt(INT_MIN) / -1), INT_MIN);
  EXPECT_EQ(fold(TracedInt(5) / 0), 0);
  EXPECT_EQ(fold(TracedInt(-7) % 3), -1);
  EXPECT_EQ(fold(TracedInt(7) % 0), 0);
  EXPECT_EQ(fold(-TracedInt(INT_MIN)), INT_MIN);
}

TEST(ScalarFunctions, GuardsAndNaNRules) {
  EXPECT_EQ(ct::guardedDivide(1.0, 0.0), 0.0);
  EXPECT_EQ(ct::guardedDivide(1.0, -0.0), 0.0);
  EXPECT_EQ(ct::guardedDivide(1.0, 4.0), 0.25);
  EXPECT_EQ(ct::guardedAtan2(0.0, 0.0), 0.0);
  EXPECT_EQ(ct::guardedAtan2(-0.0, -0.0), 0.0);
  EXPECT_EQ(ct::guardedAtan2(1.0, 0.0), std::atan2(1.0, 0.0));
  EXPECT_TRUE(std::isnan(ct::min(kNaN, 1.0)));
  EXPECT_TRUE(std::isnan(ct::min(1.0, kNaN)));
  EXPECT_TRUE(std::isnan(ct::max(1.0, kNaN)));
  EXPECT_TRUE(std::signbit(ct::min(0.0, -0.0)));  // equal operands: the second
  EXPECT_EQ(ct::sgn(-3.0), -1.0);
  EXPECT_EQ(ct::sgn(2.0), 1.0);
  EXPECT_TRUE(std::signbit(ct::sgn(-0.0)));
  EXPECT_TRUE(std::isnan(ct::sgn(kNaN)));

  double values[] = {3.0, 1.0, kNaN, 1.0, 2.0};
  EXPECT_EQ(ct::indexOfMin(values, 5), 1);  // first of equal minima, NaN skipped
  double nanFirst[] = {kNaN, 1.0, 1.0}, allNaN[] = {kNaN, kNaN};
  EXPECT_EQ(ct::indexOfMin(nanFirst, 3), 1);  // any number beats a NaN
  EXPECT_EQ(ct::indexOfMin(allNaN, 2), 0);
  EXPECT_EQ(ct::indexOfMin(values, 0), -1);
  EXPECT_EQ(ct::arrayAccess(values, 5, 4), 2.0);
  EXPECT_EQ(ct::arrayAccess(values, 5, 5), 0.0);
  EXPECT_EQ(ct::arrayAccess(values, 5, -1), 0.0);

  // The traced forms fold to the same values.
  TracedDouble traced[] = {3.0, 1.0, kNaN, 1.0, 2.0};
  int index = -5;
  ASSERT_TRUE(ct::indexOfMin(traced, 5).getConstant(index));
  EXPECT_EQ(index, 1);
  ASSERT_TRUE(ct::indexOfMin(traced + 2, 2).getConstant(index));
  EXPECT_EQ(index, 1);
  double access = 1.0;
  ASSERT_TRUE(ct::arrayAccess(traced, 5, TracedInt(7)).getConstant(access));
  EXPECT_EQ(access, 0.0);
  EXPECT_TRUE(ct::all({TracedBool(true), TracedBool(true)}).equalConstant(true));
  EXPECT_TRUE(ct::any(TracedBool(false), TracedBool(true)).equalConstant(true));
}

TEST(TracedValue, EqualConstantAndOperationalEquality) {
  EXPECT_TRUE(TracedDouble(0.0).equalConstant(0.0));
  EXPECT_FALSE(TracedDouble(0.0).equalConstant(-0.0));
  EXPECT_TRUE(TracedDouble(kNaN).equalConstant(kNaN));
  EXPECT_FALSE(TracedDouble::input("x").equalConstant(0.0));

  auto build = [](char const* second, double constant) {
    TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input(second);
    TracedDouble s = x * y;
    return ct::guardedDivide(s + s, y - constant);
  };
  EXPECT_TRUE(build("y", 1.0).isOperationallyEqual(build("y", 1.0)));
  EXPECT_FALSE(build("y", 1.0).isOperationallyEqual(build("y", 2.0)));
  EXPECT_FALSE(build("y", 1.0).isOperationallyEqual(build("z", 1.0)));
  TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y");
  EXPECT_FALSE((x - y).isOperationallyEqual(y - x));
  // Field order within a class; another class is refused as dynamic_cast refuses.
  EXPECT_EQ((x + y).operation()->compare_(*(y + x).operation()), 0);
  EXPECT_NE((x + y).operation()->compare_(*(x * y).operation()), 0);
  EXPECT_THROW(x.operation()->compare_(*(x + y).operation()), std::bad_cast);
  EXPECT_THROW((x + y).operation()->compare_(*x.operation()), std::bad_cast);

  TracedDouble values[3];
  double out[3] = {};
  EXPECT_TRUE(ct::getConstants(values, 3, out));
  values[1] = x;
  EXPECT_FALSE(ct::getConstants(values, 3, out));
}
