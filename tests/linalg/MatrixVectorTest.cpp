// Matrix-vector products and their accumulation into a vector, in both modes.

#include <gtest/gtest.h>

#include <typeinfo>

#include "linalg/MatrixVectorOp.hpp"
#include "linalg/ProductTesting.hpp"

using namespace vela::test::products;
using vela::math::AccumulateMatrixVectorProductOp;
using vela::math::MatrixVectorMultiplyOp;

namespace {

// A x (or A^T x) summed in order of the inner index.
std::vector<double> referenceMatrixVector(bool transpose, int m, int n,
                                          std::vector<double> const& A,
                                          std::vector<double> const& x) {
  int rows = transpose ? n : m, inner = transpose ? m : n;
  std::vector<double> y(static_cast<std::size_t>(rows));
  referenceProduct(
      rows, inner, 1, [&](int i, int p) { return transpose ? A[i * m + p] : A[p * m + i]; },
      [&](int p, int) { return x[p]; }, [&](int i, int) -> double& { return y[i]; });
  return y;
}

// The magnitudes of the terms of element i of A x (or A^T x).
std::vector<double> termsOf(bool transpose, int m, int n, std::vector<double> const& A,
                            std::vector<double> const& x, int i) {
  std::vector<double> terms;
  for (int p = 0; p < (transpose ? m : n); ++p)
    terms.push_back(transpose ? A[i * m + p] * x[p] : A[p * m + i] * x[p]);
  return terms;
}

void numericAccumulate(bool add, bool transpose, unsigned m, unsigned n, double const* A,
                       double const* x, double* y) {
  namespace vm = vela::math;
  if (add && transpose)
    vm::addMatrixTransposeVectorProductDynamicSize(40, 40, m, n, A, x, y);
  else if (add)
    vm::addMatrixVectorProduct(m, n, A, x, y);
  else if (transpose)
    vm::subtractMatrixTransposeVectorProduct(m, n, A, x, y);
  else
    vm::subtractMatrixVectorProductDynamicSize(40, 40, m, n, A, x, y);
}

}  // namespace

TEST(MatrixVector, NumericMatchesReference) {
  struct Shape {
    int m, n;
  };
  unsigned seed = 11;
  for (Shape s : {Shape{0, 3}, Shape{3, 0}, Shape{1, 1}, Shape{3, 3}, Shape{6, 6}, Shape{5, 2},
                  Shape{2, 9}, Shape{17, 4}, Shape{12, 12}, Shape{30, 30}, Shape{33, 7}})
    for (bool transpose : {false, true}) {
      SCOPED_TRACE(testing::Message() << s.m << "x" << s.n << (transpose ? " transposed" : ""));
      auto um = static_cast<unsigned>(s.m), un = static_cast<unsigned>(s.n);
      int rows = transpose ? s.n : s.m;
      auto A = vela::test::randomDoubles(um * un, seed++);
      auto x = vela::test::randomDoubles(transpose ? um : un, seed++);
      auto y0 = vela::test::randomDoubles(static_cast<std::size_t>(rows), seed++);
      std::vector<double> expected = referenceMatrixVector(transpose, s.m, s.n, A, x);
      std::vector<double> product(static_cast<std::size_t>(rows) + 1, kSentinel);
      if (transpose)
        vela::math::matrixTransposeVectorMultiplyDynamicSize(40, 40, um, un, A.data(), x.data(),
                                                             product.data());
      else
        vela::math::matrixVectorMultiply(um, un, A.data(), x.data(), product.data());
      EXPECT_EQ(product[static_cast<std::size_t>(rows)], kSentinel);
      for (int i = 0; i < rows; ++i) {
        // A x sums in order; A^T x reduces each column in partial sums.
        if (transpose)
          EXPECT_NEAR(product[i], expected[i], sumTolerance(termsOf(true, s.m, s.n, A, x, i)));
        else
          EXPECT_TRUE(vela::test::sameBits(product[i], expected[i])) << i;
      }
      // Accumulation adds (subtracts) exactly that product.
      for (bool add : {true, false}) {
        std::vector<double> y = y0;
        numericAccumulate(add, transpose, um, un, A.data(), x.data(), y.data());
        for (int i = 0; i < rows; ++i) {
          double want = (transpose ? s.m : s.n) == 0 ? y0[i]
                        : add                        ? y0[i] + product[i]
                                                     : y0[i] - product[i];
          EXPECT_TRUE(vela::test::sameBits(y[i], want)) << i;
        }
      }
    }
  // An empty inner dimension leaves y as it was, the sign of a zero included.
  double y[2] = {-0.0, 1.5};
  vela::math::addMatrixVectorProduct(2, 0, nullptr, nullptr, y);
  EXPECT_TRUE(std::signbit(y[0]));
}

TEST(MatrixVector, FoldsConstantsAndRecordsOtherwise) {
  auto Av = vela::test::randomDoubles(12, 1), xv = vela::test::randomDoubles(4, 2),
       yv = vela::test::randomDoubles(4, 3);
  auto A = constants(Av), x = constants(xv);

  // Constant sizes below the maxima fold over the covered elements only.
  std::vector<TracedDouble> out(4, kSentinel);
  vela::math::matrixVectorMultiplyDynamicSize(4, 3, TracedInt(2), TracedInt(3), A.data(), x.data(),
                                              out.data());
  double numeric[2];
  vela::math::matrixVectorMultiply(2, 3, Av.data(), xv.data(), numeric);
  EXPECT_TRUE(out[0].equalConstant(numeric[0]));
  EXPECT_TRUE(out[1].equalConstant(numeric[1]));
  EXPECT_TRUE(out[2].equalConstant(kSentinel));

  // addMatrixVectorProduct of constants folds to y + A x.
  std::vector<TracedDouble> y = constants(yv);
  vela::math::addMatrixVectorProduct(4, 3, A.data(), x.data(), y.data());
  double ax[4], sum[4];
  vela::math::matrixVectorMultiply(4, 3, Av.data(), xv.data(), ax);
  vela::math::vectorAdd(4, yv.data(), ax, sum);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(y[i].equalConstant(sum[i])) << i;

  // With only y traced a node replaces all of y; it reads the old y.
  std::vector<TracedDouble> traced = tracedInputs("y", 4), updated = traced;
  vela::math::subtractMatrixTransposeVectorProduct(3, 4, A.data(), x.data(), updated.data());
  auto const* node = nodeOf<AccumulateMatrixVectorProductOp>(updated[0]);
  ASSERT_NE(node, nullptr);
  for (auto const& e : updated) EXPECT_EQ(nodeOf<AccumulateMatrixVectorProductOp>(e), node);
  EXPECT_FALSE(node->kernel().add);
  EXPECT_TRUE(node->kernel().transpose);
  EXPECT_EQ(node->kernel().count, 4u);
  ASSERT_EQ(node->inputCount(), 5u);
  EXPECT_EQ(collectSize(*node, 2), 12u);
  EXPECT_EQ(collectSize(*node, 3), 3u);
  EXPECT_EQ(collectSize(*node, 4), 4u);
  vela::math::BindingSet bindings;
  for (int i = 0; i < 4; ++i) bindings.bind("y" + std::to_string(i), yv[i]);
  double expected[4];
  std::copy(yv.begin(), yv.end(), expected);
  vela::math::subtractMatrixTransposeVectorProduct(3, 4, Av.data(), xv.data(), expected);
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(vela::test::sameBits(updated[i].evaluate(bindings), expected[i])) << i;

  // Traced sizes: collects of the maxima, the result count by transposition.
  TracedInt m = TracedInt::input("m");
  std::vector<TracedDouble> product(5);
  vela::math::matrixTransposeVectorMultiplyDynamicSize(
      3, 5, m, m, constants(std::vector<double>(15)).data(), x.data(), product.data());
  auto const* mv = nodeOf<MatrixVectorMultiplyOp>(product[4]);
  ASSERT_NE(mv, nullptr);
  EXPECT_TRUE(mv->kernel().transpose);
  EXPECT_EQ(mv->kernel().count, 5u);
  EXPECT_EQ(collectSize(*mv, 2), 15u);
  EXPECT_EQ(collectSize(*mv, 3), 3u);
  EXPECT_TRUE(scalarInput(*mv, 1).isOperationallyEqual(vela::math::clampSize(m, 5)));
}

TEST(MatrixVector, ThreePathsOfProducts) {
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    std::vector<S> A = in.doubles(0, 20), x = in.doubles(20, 5), r(4), t(5), d(5), e(5), out;
    vela::math::matrixVectorMultiply(4, 5, A.data(), x.data(), r.data());
    vela::math::matrixTransposeVectorMultiply(4, 5, A.data(), x.data(), t.data());
    vela::math::matrixVectorMultiplyDynamicSize(5, 4, in.i(0), in.i(1), A.data(), x.data(),
                                                d.data());
    vela::math::matrixTransposeVectorMultiplyDynamicSize(4, 5, in.i(1), in.i(0), A.data(), x.data(),
                                                         e.data());
    out.insert(out.end(), r.begin(), r.end());
    out.insert(out.end(), t.begin(), t.end());
    out.insert(out.end(), d.begin(), d.begin() + 3);
    out.insert(out.end(), e.begin(), e.begin() + 3);
    return out;
  };
  auto cases = randomCases(25, {3, 2});
  cases.push_back({std::vector<double>(25, -0.0), {3, 2}});
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_EQ(occurrences(result.code, "matrixVectorMultiply(4, 5, "), 1u) << result.code;
  EXPECT_EQ(occurrences(result.code, "matrixTransposeVectorMultiply(4, 5, "), 1u);
  EXPECT_EQ(occurrences(result.code, "VectorMultiply("), 4u);
}

TEST(MatrixVector, ThreePathsOfAccumulationInPlaceOrCopied) {
  // y is the output of an earlier product. When nothing else reads it the
  // accumulation writes over its storage; when the old y is a result too
  // the accumulation works on a copy.
  for (bool keepOldY : {false, true}) {
    auto compute = [keepOldY](auto const& in) {
      using S = typename std::decay_t<decltype(in)>::Scalar;
      std::vector<S> A = in.doubles(0, 12), x = in.doubles(12, 4), y(3), out;
      vela::math::matrixVectorMultiply(3, 4, A.data(), x.data(), y.data());
      if (keepOldY) out = y;
      vela::math::addMatrixVectorProduct(3, 4, A.data(), x.data(), y.data());
      vela::math::subtractMatrixVectorProductDynamicSize(3, 4, in.i(0), in.i(1), A.data(), x.data(),
                                                         y.data());
      out.insert(out.end(), y.begin(), y.end());
      return out;
    };
    auto result = vela::test::checkThreePaths(compute, randomCases(16, {3, 4}));
    std::string const& code = result.code;
    SCOPED_TRACE(code);
    ASSERT_EQ(occurrences(code, "addMatrixVectorProduct(3, 4, "), 1u);
    ASSERT_EQ(occurrences(code, "subtractMatrixVectorProduct("), 1u);
    // The pointer the product writes and the one the accumulation updates.
    auto argument = [&code](std::string const& call, int index) {
      std::size_t at = code.find(call);
      for (int i = 0; i < index; ++i) at = code.find(", ", at) + 2;
      return code.substr(at, code.find_first_of(",)", at) - at);
    };
    std::string product = argument("matrixVectorMultiply(", 4);
    std::string updated = argument("addMatrixVectorProduct(", 4);
    if (keepOldY) {
      EXPECT_NE(updated, product);
      EXPECT_NE(code.find("memcpy(" + updated + ", " + product + ", (3) * sizeof(double));"),
                std::string::npos);
    } else {
      EXPECT_EQ(updated, product);
      EXPECT_EQ(code.find("memcpy(" + updated), std::string::npos);
    }
  }

  // The transposed forms, and a copy whose count is the traced size text.
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    std::vector<S> A = in.doubles(0, 12), x = in.doubles(12, 3), y = in.doubles(15, 4);
    vela::math::addMatrixTransposeVectorProduct(3, 4, A.data(), x.data(), y.data());
    std::vector<S> kept = y;
    vela::math::subtractMatrixTransposeVectorProductDynamicSize(3, 4, in.i(0), in.i(1), A.data(),
                                                                x.data(), y.data());
    kept.insert(kept.end(), y.begin(), y.end());
    return kept;
  };
  auto result = vela::test::checkThreePaths(compute, randomCases(19, {3, 4}));
  EXPECT_NE(result.code.find("addMatrixTransposeVectorProduct(3, 4, "), std::string::npos)
      << result.code;
  // n, the count of y transposed, is the traced int after the 19 doubles.
  EXPECT_NE(result.code.find(", (size_t)(spi["), std::string::npos);
  EXPECT_NE(result.code.find("]) * sizeof(double));"), std::string::npos);
  EXPECT_NE(result.code.find("subtractMatrixTransposeVectorProduct("), std::string::npos);
}

TEST(MatrixVector, CompareDescribeAndClone) {
  auto size = TracedInt(2).operation();
  auto v = tracedInputs("v", 4);
  auto c = std::make_shared<kelm_math::comp_trace::CollectOp>(4, v.data(), "");
  MatrixVectorMultiplyOp plain(false, 9, size, size, c, c), transposed(true, 2, size, size, c, c),
      plain2(false, 2, size, size, c, c);
  EXPECT_EQ(plain.compare_(transposed), -1);  // false before true, before the count
  EXPECT_EQ(transposed.compare_(plain), 1);
  EXPECT_EQ(plain2.compare_(plain), -1);
  EXPECT_EQ(plain.description(), "MatrixVectorMultiply");
  EXPECT_EQ(transposed.description(), "MatrixTransposeVectorMultiply");

  AccumulateMatrixVectorProductOp subNo(false, false, 4, size, size, c, c, c),
      subT(false, true, 1, size, size, c, c, c), addNo(true, false, 1, size, size, c, c, c),
      addT(true, true, 4, size, size, c, c, c), addT5(true, true, 5, size, size, c, c, c);
  EXPECT_EQ(subT.compare_(addNo), -1);  // add decides first
  EXPECT_EQ(subNo.compare_(subT), -1);  // then transpose
  EXPECT_EQ(addT5.compare_(addT), 1);   // then the count
  EXPECT_EQ(addT.compare_(addT), 0);
  EXPECT_THROW(addT.compare_(plain), std::bad_cast);
  EXPECT_EQ(addNo.description(), "AccumulateMatrixVectorProduct [add - no transpose]");
  EXPECT_EQ(addT.description(), "AccumulateMatrixVectorProduct [add - transpose]");
  EXPECT_EQ(subNo.description(), "AccumulateMatrixVectorProduct [subtract - no transpose]");
  EXPECT_EQ(subT.description(), "AccumulateMatrixVectorProduct [subtract - transpose]");

  auto copy = subT.clone();
  EXPECT_EQ(typeid(*copy), typeid(AccumulateMatrixVectorProductOp));
  EXPECT_EQ(copy->compare_(subT), 0);
  ASSERT_EQ(copy->inputCount(), 5u);
  EXPECT_EQ(copy->input(4), subT.input(4));
  EXPECT_EQ(plain.clone()->compare_(plain), 0);
}
