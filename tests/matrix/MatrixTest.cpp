#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "vela/Matrix"
#include "vela/math.hpp"

namespace ct = kelm_math::comp_trace;
using ct::TracedBool;
using ct::TracedDouble;
using NumericMatrix = vela::Matrix<vela::math::Numeric>;
using TracedMatrix = vela::Matrix<vela::math::Traced>;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<double> storage(NumericMatrix const& a) {
  double const* p = a.values();
  return p ? std::vector<double>(p, p + a.numRows() * a.numCols()) : std::vector<double>();
}

}  // namespace

TEST(Matrix, ConstructionAndAccess) {
  NumericMatrix empty;
  EXPECT_EQ(empty.numRows(), 0u);
  EXPECT_EQ(empty.numCols(), 0u);
  EXPECT_EQ(empty.values(), nullptr);

  NumericMatrix zeros(2, 3);
  EXPECT_EQ(storage(zeros), std::vector<double>(6, 0.0));
  EXPECT_EQ(zeros.dimensions()[0], 2u);
  EXPECT_EQ(zeros.dimensions()[1], 3u);
  EXPECT_EQ(zeros.dimensions() + 1, &zeros.dimensions()[1]);

  double values[] = {1, 2, 3, 4, 5, 6};
  NumericMatrix a(2, 3, values);
  EXPECT_EQ(storage(a), std::vector<double>(values, values + 6));
  EXPECT_NE(a.values(), values);    // its own copy
  EXPECT_EQ(a.element(1, 0), 2.0);  // column-major
  EXPECT_EQ(a.element(0, 2), 5.0);
  EXPECT_EQ(a.element(1, 2), 6.0);  // the last storage element

  a.element(1, 1, -4.5);
  EXPECT_EQ(a.values()[3], -4.5);
  double others[] = {9, 8, 7, 6, 5, 4};
  a.values(others);
  EXPECT_EQ(storage(a), std::vector<double>(others, others + 6));
  empty.values(others);  // nothing to overwrite
  EXPECT_EQ(empty.values(), nullptr);

  NumericMatrix copy = a;
  copy.element(0, 0, 0.0);
  EXPECT_EQ(a.element(0, 0), 9.0);  // a value type

  TracedMatrix traced(2, 2);
  for (std::size_t k = 0; k < 4; ++k) EXPECT_TRUE(traced.values()[k].equalConstant(0.0));
}

TEST(Matrix, IndicesOutOfRangeThrowAndLeaveTheMatrixAlone) {
  double values[] = {1, 2, 3, 4, 5, 6};
  NumericMatrix a(2, 3, values);
  EXPECT_THROW(a.element(2, 0), NumericMatrix::InvalidIndex);
  EXPECT_THROW(a.element(0, 3), NumericMatrix::InvalidIndex);
  EXPECT_THROW(a.element(2, 0, 1.0), NumericMatrix::InvalidIndex);
  EXPECT_THROW(a.element(0, 3, 1.0), NumericMatrix::InvalidIndex);
  EXPECT_THROW(a.element(std::size_t(-1), 0), NumericMatrix::InvalidIndex);
  EXPECT_EQ(storage(a), std::vector<double>(values, values + 6));
  EXPECT_THROW(NumericMatrix().element(0, 0), NumericMatrix::InvalidIndex);

  try {
    TracedMatrix(3, 1).element(0, 1, TracedDouble(1.0));
    ADD_FAILURE() << "no exception";
  } catch (vela::Exception const& e) {
    EXPECT_STREQ(e.what(), "zeph InvalidIndex");
    EXPECT_NE(dynamic_cast<TracedMatrix::InvalidIndex const*>(&e), nullptr);
  }
  NumericMatrix::InvalidIndex invalid;
  EXPECT_STREQ(invalid.what(), "zeph InvalidIndex");

  std::size_t huge = std::numeric_limits<std::size_t>::max() / 2;
  EXPECT_THROW(NumericMatrix(huge, 4), std::bad_alloc);
  EXPECT_THROW(TracedMatrix(4, huge), std::bad_alloc);
}

TEST(Matrix, Transpose) {
  double values[] = {1, 2, 3, 4, 5, 6};
  NumericMatrix t = NumericMatrix(2, 3, values).transpose();
  EXPECT_EQ(t.numRows(), 3u);
  EXPECT_EQ(t.numCols(), 2u);
  EXPECT_EQ(storage(t), (std::vector<double>{1, 3, 5, 2, 4, 6}));
  EXPECT_TRUE(t.transpose() == NumericMatrix(2, 3, values));

  NumericMatrix wide(0, 4);
  NumericMatrix tall = wide.transpose();
  EXPECT_EQ(tall.numRows(), 4u);
  EXPECT_EQ(tall.numCols(), 0u);

  TracedDouble x = TracedDouble::input("x");
  TracedDouble tracedValues[] = {1.0, x, 3.0, x * 2.0};
  TracedMatrix tracedT = TracedMatrix(1, 4, tracedValues).transpose();
  EXPECT_EQ(tracedT.numRows(), 4u);
  EXPECT_EQ(tracedT.values()[1].operation(), x.operation());  // the same node, shared
}

TEST(Matrix, NumericEquality) {
  double values[] = {1, 2, 3, 4, 5, 6};
  NumericMatrix a(2, 3, values), b(2, 3, values), c(3, 2, values);
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a != b);
  EXPECT_TRUE(a.isOperationallyEqual(b));
  EXPECT_FALSE(a == c);  // same elements, other shape
  EXPECT_TRUE(a != c);
  EXPECT_FALSE(a.isOperationallyEqual(c));
  b.element(1, 2, 6.5);
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a != b);
  EXPECT_FALSE(a.isOperationallyEqual(b));
  b.element(1, 2, 6.0);
  b.element(0, 0, -0.0);
  a.element(0, 0, 0.0);
  EXPECT_TRUE(a == b);  // -0 equals +0
  EXPECT_TRUE(a.isOperationallyEqual(b));

  a.element(0, 1, kNaN);
  NumericMatrix same = a;
  EXPECT_FALSE(a == same);  // NaN equals nothing, itself included
  EXPECT_TRUE(a != same);
  EXPECT_FALSE(a.isOperationallyEqual(same));

  // Empty matrices compare by their shape.
  EXPECT_TRUE(NumericMatrix(0, 3) == NumericMatrix(0, 3));
  EXPECT_TRUE(NumericMatrix(0, 3).isOperationallyEqual(NumericMatrix(0, 3)));
  EXPECT_FALSE(NumericMatrix(0, 3) == NumericMatrix(3, 0));
  EXPECT_TRUE(NumericMatrix(0, 3) != NumericMatrix(3, 0));
  EXPECT_FALSE(NumericMatrix(0, 3).isOperationallyEqual(NumericMatrix(3, 0)));
  EXPECT_EQ(NumericMatrix(0, 3).values(), nullptr);
  EXPECT_TRUE(NumericMatrix() == NumericMatrix(0, 0));
}

TEST(Matrix, TracedEqualityEvaluatedWithBindings) {
  TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y");
  TracedDouble left[] = {1.0, x, 3.0, x + y};
  TracedDouble right[] = {1.0, y, 3.0, y + x};
  TracedMatrix a(2, 2, left), b(2, 2, right);
  TracedBool equal = a == b, unequal = a != b;
  ASSERT_FALSE(equal.isConstant());
  ct::BindingSet bindings;
  bindings.bind("x", 2.0);
  bindings.bind("y", 2.0);
  EXPECT_TRUE(equal.evaluate(bindings));
  EXPECT_FALSE(unequal.evaluate(bindings));
  bindings.bind("y", -0.5);
  EXPECT_FALSE(equal.evaluate(bindings));
  EXPECT_TRUE(unequal.evaluate(bindings));
  bindings.bind("x", kNaN);
  bindings.bind("y", kNaN);
  EXPECT_FALSE(equal.evaluate(bindings));
  EXPECT_TRUE(unequal.evaluate(bindings));

  // The same conjunction, built by hand in storage order.
  TracedBool expected(true);
  for (std::size_t k = 0; k < 4; ++k) expected &= left[k] == right[k];
  EXPECT_TRUE(equal.isOperationallyEqual(expected));

  // Other dimensions give constants without looking at the elements.
  bool value = true;
  ASSERT_TRUE((a == TracedMatrix(4, 1, left)).getConstant(value));
  EXPECT_FALSE(value);
  ASSERT_TRUE((a != TracedMatrix(1, 4, left)).getConstant(value));
  EXPECT_TRUE(value);
  ASSERT_TRUE((TracedMatrix(0, 2) == TracedMatrix(0, 2)).getConstant(value));
  EXPECT_TRUE(value);
  ASSERT_TRUE((TracedMatrix(0, 2) == TracedMatrix(2, 0)).getConstant(value));
  EXPECT_FALSE(value);

  // Constant elements fold.
  TracedDouble ones[] = {1.0, 1.0};
  ASSERT_TRUE(
      (TracedMatrix(1, 2, ones) == TracedMatrix(2, 1, ones).transpose()).getConstant(value));
  EXPECT_TRUE(value);
}

TEST(Matrix, TracedOperationalEquality) {
  TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y");
  TracedDouble left[] = {1.0, x + y, 3.0};
  TracedDouble right[] = {1.0, x + y, 3.0};
  TracedDouble swapped[] = {1.0, y + x, 3.0};
  TracedMatrix a(3, 1, left);
  EXPECT_TRUE(a.isOperationallyEqual(TracedMatrix(3, 1, right)));  // separately built, same graph
  EXPECT_FALSE(a.isOperationallyEqual(TracedMatrix(3, 1, swapped)));
  EXPECT_FALSE(a.isOperationallyEqual(TracedMatrix(1, 3, left)));
  EXPECT_TRUE(TracedMatrix(0, 5).isOperationallyEqual(TracedMatrix(0, 5)));
  EXPECT_FALSE(TracedMatrix(0, 5).isOperationallyEqual(TracedMatrix(5, 0)));
  TracedMatrix b = a;
  b.element(2, 0, TracedDouble(3.5));
  EXPECT_FALSE(a.isOperationallyEqual(b));
  EXPECT_TRUE(a.element(2, 0).equalConstant(3.0));
}
