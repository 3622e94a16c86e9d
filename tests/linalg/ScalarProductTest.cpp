// The dot product and the quadratic term, in both modes.

#include <gtest/gtest.h>

#include <typeinfo>

#include "linalg/ProductTesting.hpp"
#include "linalg/ScalarProductOp.hpp"

using namespace vela::test::products;
using vela::math::ComputeQuadraticTermOp;
using vela::math::DotProductOp;

TEST(ScalarProduct, NumericMatchesReference) {
  for (unsigned n : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 12u, 17u, 30u, 33u}) {
    SCOPED_TRACE(n);
    auto a = vela::test::randomDoubles(n, 3 * n), b = vela::test::randomDoubles(n, 3 * n + 1),
         M = vela::test::randomDoubles(n * n, 3 * n + 2);
    // The dot product reduces in partial sums: compare within rounding.
    std::vector<double> terms;
    double dot = 0.0;
    for (unsigned i = 0; i < n; ++i) {
      terms.push_back(a[i] * b[i]);
      dot += a[i] * b[i];
    }
    EXPECT_NEAR(vela::math::dotProduct(n, a.data(), b.data()), dot, sumTolerance(terms));
    // Below four terms the order is the plain one.
    if (n < 4) {
      EXPECT_TRUE(vela::test::sameBits(vela::math::dotProduct(n, a.data(), b.data()), dot));
    }

    // a^T (M b) with M b and the outer sum in order: exact.
    double quadratic = 0.0;
    for (unsigned i = 0; i < n; ++i) {
      double row = M[i] * b[0];
      for (unsigned j = 1; j < n; ++j) row += M[j * n + i] * b[j];
      quadratic = i == 0 ? a[0] * row : quadratic + a[i] * row;
    }
    EXPECT_TRUE(vela::test::sameBits(
        vela::math::computeQuadraticTerm(n, M.data(), a.data(), b.data()), quadratic));
  }
  // Not symmetric in a and b unless M is.
  double M[] = {1.0, 2.0, 3.0, 4.0}, a[] = {1.0, 0.0}, b[] = {0.0, 1.0};
  EXPECT_EQ(vela::math::computeQuadraticTerm(2, M, a, b), 3.0);
  EXPECT_EQ(vela::math::computeQuadraticTerm(2, M, b, a), 2.0);
}

TEST(ScalarProduct, FoldsConstantsAndRecordsOtherwise) {
  auto av = vela::test::randomDoubles(5, 1), bv = vela::test::randomDoubles(5, 2),
       Mv = vela::test::randomDoubles(25, 3);
  auto a = constants(av), b = constants(bv), M = constants(Mv);
  EXPECT_TRUE(vela::math::dotProduct(5, a.data(), b.data())
                  .equalConstant(vela::math::dotProduct(5, av.data(), bv.data())));
  EXPECT_TRUE(
      vela::math::computeQuadraticTerm(5, M.data(), a.data(), b.data())
          .equalConstant(vela::math::computeQuadraticTerm(5, Mv.data(), av.data(), bv.data())));
  EXPECT_TRUE(vela::math::dotProduct(0, a.data(), b.data()).equalConstant(0.0));

  b[4] = TracedDouble::input("b4");
  TracedDouble dot = vela::math::dotProduct(5, a.data(), b.data());
  auto const* node = dynamic_cast<DotProductOp const*>(dot.operation().get());
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->kernel().n, 5u);
  ASSERT_EQ(node->inputCount(), 2u);
  EXPECT_EQ(collectSize(*node, 1), 5u);
  // A traced element past n does not stop the fold.
  EXPECT_TRUE(vela::math::dotProduct(4, a.data(), b.data()).isConstant());

  M[24] = TracedDouble::input("m");
  TracedDouble q = vela::math::computeQuadraticTerm(5, M.data(), a.data(), constants(bv).data());
  auto const* quadratic = dynamic_cast<ComputeQuadraticTermOp const*>(q.operation().get());
  ASSERT_NE(quadratic, nullptr);
  ASSERT_EQ(quadratic->inputCount(), 3u);
  EXPECT_EQ(collectSize(*quadratic, 0), 25u);
  EXPECT_EQ(collectSize(*quadratic, 2), 5u);
  vela::math::BindingSet bindings;
  bindings.bind("m", Mv[24]);
  EXPECT_TRUE(vela::test::sameBits(
      q.evaluate(bindings), vela::math::computeQuadraticTerm(5, Mv.data(), av.data(), bv.data())));
}

TEST(ScalarProduct, ThreePaths) {
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    std::vector<S> a = in.doubles(0, 7), b = in.doubles(7, 7), M = in.doubles(14, 9);
    S dot = vela::math::dotProduct(7, a.data(), b.data());
    S shortDot = vela::math::dotProduct(3, a.data(), b.data());
    S q = vela::math::computeQuadraticTerm(3, M.data(), a.data(), b.data());
    return std::vector<S>{dot, shortDot, q, dot * q};
  };
  auto cases = randomCases(23, {});
  cases.push_back({std::vector<double>(23, -0.0), {}});
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_NE(result.code.find(" = dotProduct(7, "), std::string::npos) << result.code;
  EXPECT_NE(result.code.find(" = dotProduct(3, "), std::string::npos);
  EXPECT_NE(result.code.find(" = computeQuadraticTerm(3, "), std::string::npos);
}

TEST(ScalarProduct, CompareDescribeAndClone) {
  auto v = tracedInputs("v", 4);
  auto c = std::make_shared<kelm_math::comp_trace::CollectOp>(4, v.data(), "");
  DotProductOp d3(3, c, c), d4(4, c, c);
  ComputeQuadraticTermOp q2(2, c, c, c), q3(3, c, c, c);
  EXPECT_EQ(d3.compare_(d4), -1);
  EXPECT_EQ(d4.compare_(d3), 1);
  EXPECT_EQ(q3.compare_(q3), 0);
  EXPECT_EQ(q2.compare_(q3), -1);
  EXPECT_THROW(d3.compare_(q3), std::bad_cast);
  EXPECT_EQ(d3.description(), "DotProduct");
  EXPECT_EQ(q2.description(), "ComputeQuadraticTerm");
  EXPECT_EQ(d3.scalarType(), kelm_math::comp_trace::ScalarType::Double);
  auto copy = q3.clone();
  EXPECT_EQ(typeid(*copy), typeid(ComputeQuadraticTermOp));
  EXPECT_EQ(copy->compare_(q3), 0);
  EXPECT_EQ(copy->input(0), q3.input(0));
  EXPECT_EQ(d4.cloneScalar()->compare_(d4), 0);
}
