#include <gtest/gtest.h>

#include <limits>
#include <new>
#include <tuple>

#include "support/SpecialValues.hpp"
#include "vela/Matrix"
#include "vela/math.hpp"

namespace matrix_test {

namespace ct = kelm_math::comp_trace;
using ct::TracedDouble;
using NumericMatrix = vela::Matrix<vela::math::Numeric>;
using TracedMatrix = vela::Matrix<vela::math::Traced>;
using vela::test::kNaN;

std::vector<double> storage(NumericMatrix const& a) {
  double const* p = a.values();
  return p ? std::vector<double>(p, p + a.numRows() * a.numCols()) : std::vector<double>();
}

TEST(Matrix, ConstructionAccessTransposeAndEquality) {
  NumericMatrix empty, zeros(2, 3);
  EXPECT_TRUE(empty.numRows() == 0 && empty.numCols() == 0 && empty.values() == nullptr);
  EXPECT_EQ(storage(zeros), std::vector<double>(6, 0.0));
  EXPECT_TRUE(zeros.dimensions()[0] == 2 && zeros.dimensions()[1] == 3);
  double values[] = {1, 2, 3, 4, 5, 6}, others[] = {9, 8, 7, 6, 5, 4};
  NumericMatrix a(2, 3, values);
  EXPECT_TRUE(storage(a) == std::vector<double>(values, values + 6) && a.values() != values);
  // Column-major, checked indices; a failed access changes nothing.
  EXPECT_TRUE(a.element(1, 0) == 2.0 && a.element(0, 2) == 5.0 && a.element(1, 2) == 6.0);
  for (auto [i, j] : {std::pair<std::size_t, std::size_t>{2, 0}, {0, 3}, {std::size_t(-1), 0}}) {
    EXPECT_THROW(a.element(i, j), NumericMatrix::InvalidIndex);
    EXPECT_THROW(a.element(i, j, 1.0), NumericMatrix::InvalidIndex);
  }
  EXPECT_EQ(storage(a), std::vector<double>(values, values + 6));
  EXPECT_THROW(NumericMatrix().element(0, 0), NumericMatrix::InvalidIndex);
  EXPECT_THROW(TracedMatrix(3, 1).element(0, 1, TracedDouble(1.0)), TracedMatrix::InvalidIndex);
  EXPECT_STREQ(NumericMatrix::InvalidIndex().what(), "zeph InvalidIndex");
  a.element(1, 1, -4.5);
  EXPECT_EQ(a.values()[3], -4.5);
  NumericMatrix copy = a;
  a.values(others);
  empty.values(others);  // nothing to overwrite
  EXPECT_TRUE(storage(a) == std::vector<double>(others, others + 6) && copy.element(0, 0) == 1.0);
  EXPECT_EQ(empty.values(), nullptr);
  std::size_t huge = std::numeric_limits<std::size_t>::max() / 2;
  EXPECT_THROW(NumericMatrix(huge, 4), std::bad_alloc);
  EXPECT_THROW(TracedMatrix(4, huge), std::bad_alloc);

  NumericMatrix t = NumericMatrix(2, 3, values).transpose();
  EXPECT_TRUE(t.numRows() == 3 && t.numCols() == 2);
  EXPECT_EQ(storage(t), (std::vector<double>{1, 3, 5, 2, 4, 6}));
  EXPECT_TRUE(NumericMatrix(0, 4).transpose().numRows() == 4);
  TracedDouble x = TracedDouble::input("x"), tracedValues[] = {1.0, x, 3.0, x * 2.0};
  TracedMatrix tracedT = TracedMatrix(1, 4, tracedValues).transpose();
  EXPECT_TRUE(tracedT.numRows() == 4 && tracedT.values()[1].operation() == x.operation());
  for (std::size_t k = 0; k < 4; ++k)
    EXPECT_TRUE(TracedMatrix(2, 2).values()[k].equalConstant(0.0));

  // Equality: shape, then elements as numbers: -0 equals 0, NaN nothing.
  a = NumericMatrix(2, 3, values);
  auto same = [](NumericMatrix const& p, NumericMatrix const& q) {
    bool eq = p == q;
    EXPECT_EQ(p != q, !eq);
    EXPECT_EQ(p.isOperationallyEqual(q), eq);
    return eq;
  };
  NumericMatrix b = a, nan = a;
  b.element(0, 0, -0.0);
  a.element(0, 0, 0.0);
  nan.element(0, 1, kNaN);
  EXPECT_TRUE(same(a, b) && !same(a, NumericMatrix(3, 2, values)) && !same(nan, nan));
  b.element(1, 2, 6.5);
  EXPECT_FALSE(same(a, b));
  EXPECT_TRUE(same(NumericMatrix(0, 3), NumericMatrix(0, 3)) &&
              same(NumericMatrix(), NumericMatrix(0, 0)));
  EXPECT_FALSE(same(NumericMatrix(0, 3), NumericMatrix(3, 0)));

  // Traced: the conjunction of the element comparisons in storage order.
  TracedDouble y = TracedDouble::input("y");
  TracedDouble left[] = {1.0, x, 3.0, x + y}, right[] = {1.0, y, 3.0, y + x};
  TracedMatrix p(2, 2, left), q(2, 2, right);
  ct::TracedBool equal = p == q, unequal = p != q, expected(true);
  for (std::size_t k = 0; k < 4; ++k) expected &= left[k] == right[k];
  EXPECT_TRUE(equal.isOperationallyEqual(expected));
  for (auto [vx, vy, eq] : {std::tuple{2.0, 2.0, true}, {2.0, -0.5, false}, {kNaN, kNaN, false}}) {
    ct::BindingSet bindings;
    bindings.bind("x", vx);
    bindings.bind("y", vy);
    EXPECT_TRUE(equal.evaluate(bindings) == eq && unequal.evaluate(bindings) == !eq) << vx;
  }
  // Other shapes give constants; constant elements fold.
  bool value = true;
  EXPECT_TRUE((p == TracedMatrix(4, 1, left)).getConstant(value) && !value);
  EXPECT_TRUE((p != TracedMatrix(1, 4, left)).getConstant(value) && value);
  EXPECT_TRUE((TracedMatrix(0, 2) == TracedMatrix(2, 0)).getConstant(value) && !value);
  TracedDouble ones[] = {1.0, 1.0};
  EXPECT_TRUE(
      (TracedMatrix(1, 2, ones) == TracedMatrix(2, 1, ones).transpose()).getConstant(value) &&
      value);
  // Operational equality compares graphs.
  TracedDouble sum[] = {1.0, x + y, 3.0}, again[] = {1.0, x + y, 3.0},
               swapped[] = {1.0, y + x, 3.0};
  TracedMatrix c(3, 1, sum), d = c;
  d.element(2, 0, TracedDouble(3.5));
  EXPECT_TRUE(c.isOperationallyEqual(TracedMatrix(3, 1, again)) &&
              !c.isOperationallyEqual(TracedMatrix(3, 1, swapped)) &&
              !c.isOperationallyEqual(TracedMatrix(1, 3, sum)) && !c.isOperationallyEqual(d));
  EXPECT_TRUE(TracedMatrix(0, 5).isOperationallyEqual(TracedMatrix(0, 5)) &&
              !TracedMatrix(0, 5).isOperationallyEqual(TracedMatrix(5, 0)));
}

}  // namespace matrix_test
