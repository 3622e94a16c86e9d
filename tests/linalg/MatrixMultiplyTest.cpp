// Matrix-matrix products: plain, transposed and strided, in both modes.

#include <gtest/gtest.h>

#include "linalg/MatrixMultiplyOp.hpp"
#include "linalg/ProductTesting.hpp"

using namespace vela::test::products;
using vela::math::MatrixMultiplyOp;
using vela::math::MatrixMultiplyStridedOp;

namespace {

struct Shape {
  int s0, s1, s2;
};

// The Numeric product of a kind, through its fixed-size or DynamicSize form.
void numericProduct(int kind, bool dynamic, Shape s, double const* A, double const* B,
                    double* out) {
  auto u0 = static_cast<unsigned>(s.s0), u1 = static_cast<unsigned>(s.s1),
       u2 = static_cast<unsigned>(s.s2);
  namespace vm = vela::math;
  if (kind == 0)
    dynamic ? vm::matrixMultiplyDynamicSize(400, 400, 400, u0, u1, u2, A, B, out)
            : vm::matrixMultiply(u0, u1, u2, A, B, out);
  else if (kind == 1)
    dynamic ? vm::matrixTransposeMultiplyDynamicSize(400, 400, 400, u0, u1, u2, A, B, out)
            : vm::matrixTransposeMultiply(u0, u1, u2, A, B, out);
  else
    dynamic ? vm::matrixMultiplyTransposeDynamicSize(400, 400, 400, u0, u1, u2, A, B, out)
            : vm::matrixMultiplyTranspose(u0, u1, u2, A, B, out);
}

// The reference of a kind: result rows and the reference product.
int referenceOf(int kind, Shape s, std::vector<double> const& A, std::vector<double> const& B,
                std::vector<double>& out) {
  int rows = kind == 1 ? s.s1 : s.s0, inner = kind == 1 ? s.s0 : s.s1;
  auto a = [&](int i, int p) { return kind == 1 ? A[i * s.s0 + p] : A[p * s.s0 + i]; };
  auto b = [&](int p, int j) {
    return kind == 0 ? B[j * s.s1 + p] : kind == 1 ? B[j * s.s0 + p] : B[p * s.s2 + j];
  };
  out.assign(static_cast<std::size_t>(rows * s.s2), kSentinel);
  referenceProduct(rows, inner, s.s2, a, b, [&](int i, int j) -> double& {
    return out[static_cast<std::size_t>(j * rows + i)];
  });
  return rows;
}

}  // namespace

TEST(MatrixMultiply, NumericMatchesReferenceForEveryShape) {
  // Every element sums its products in inner-index order, whatever the
  // blocking, so the reference in that order matches exactly. The widest
  // transposed products copy panels of A, the depth 300 more than one.
  // Products with both result dimensions from 16 pack B: odd last rows and
  // columns, depths over one packed panel, more rows of A^T than one gather.
  std::vector<Shape> shapes = {{0, 3, 2},    {3, 0, 2},    {2, 3, 0},     {1, 1, 1},
                               {3, 3, 3},    {5, 7, 2},    {6, 6, 6},     {13, 17, 9},
                               {12, 12, 12}, {30, 30, 30}, {33, 4, 21},   {4, 300, 6},
                               {300, 5, 7},  {2, 9, 31},   {5, 3, 70},    {300, 6, 67},
                               {16, 16, 16}, {18, 70, 20}, {150, 35, 33}, {17, 130, 19}};
  unsigned seed = 1;
  for (Shape s : shapes)
    for (int kind = 0; kind < 3; ++kind)
      for (bool dynamic : {false, true}) {
        auto A = vela::test::randomDoubles(static_cast<std::size_t>(s.s0 * s.s1), seed++);
        std::size_t bCount = static_cast<std::size_t>(kind == 1 ? s.s0 * s.s2 : s.s1 * s.s2);
        auto B = vela::test::randomDoubles(bCount, seed++);
        std::vector<double> expected;
        int rows = referenceOf(kind, s, A, B, expected);
        std::vector<double> out(expected.size() + 3, kSentinel);
        numericProduct(kind, dynamic, s, A.data(), B.data(), out.data());
        SCOPED_TRACE(testing::Message() << "kind " << kind << " shape " << s.s0 << "x" << s.s1
                                        << "x" << s.s2 << (dynamic ? " dynamic" : ""));
        for (std::size_t i = 0; i < expected.size(); ++i)
          ASSERT_TRUE(vela::test::sameBits(out[i], expected[i]))
              << i << ": " << out[i] << " vs " << expected[i];
        for (std::size_t i = expected.size(); i < out.size(); ++i) ASSERT_EQ(out[i], kSentinel);
        if (rows > 0 && s.s2 > 0 && (kind == 1 ? s.s0 : s.s1) == 0) {
          for (double v : expected) EXPECT_EQ(v, 0.0);  // an empty inner dimension gives zeros
        }
      }
}

TEST(MatrixMultiply, StridedNumericLeavesGapsAlone) {
  struct Strides {
    int m, k, n, lda, ldb, ldc;
  };
  for (Strides s :
       {Strides{3, 4, 5, 7, 6, 4}, Strides{1, 1, 1, 1, 1, 1}, Strides{5, 3, 4, 5, 3, 9},
        Strides{9, 2, 6, 11, 2, 9}, Strides{2, 0, 3, 2, 1, 4}, Strides{0, 2, 2, 1, 2, 1},
        Strides{3, 2, 0, 3, 2, 3}, Strides{19, 70, 17, 23, 73, 21}}) {
    auto extents = vela::math::stridedExtents(s.m, s.k, s.n, s.lda, s.ldb, s.ldc);
    auto A = vela::test::randomDoubles(static_cast<std::size_t>(extents.a), 7);
    auto B = vela::test::randomDoubles(static_cast<std::size_t>(extents.b), 8);
    std::vector<double> out(static_cast<std::size_t>(extents.out) + 2, kSentinel), expected = out;
    referenceProduct(
        s.m, s.k, s.n, [&](int i, int p) { return A[p * s.lda + i]; },
        [&](int p, int j) { return B[j * s.ldb + p]; },
        [&](int i, int j) -> double& { return expected[j * s.ldc + i]; });
    vela::math::matrixMultiplyStridedDynamicSize(80, 80, 80, 80, 80, s.m, s.k, s.n, s.lda, s.ldb,
                                                 s.ldc, A.data(), B.data(), out.data());
    for (std::size_t i = 0; i < out.size(); ++i)
      ASSERT_TRUE(vela::test::sameBits(out[i], expected[i])) << i;  // gaps keep the sentinel
  }
}

TEST(MatrixMultiply, FoldsConstantsAndRecordsOtherwise) {
  auto Av = vela::test::randomDoubles(12, 1), Bv = vela::test::randomDoubles(20, 2);
  auto A = constants(Av), B = constants(Bv);

  // All constant: the Numeric result as constants.
  std::vector<TracedDouble> out(15, kSentinel);
  vela::math::matrixMultiply(3, 4, 5, A.data(), B.data(), out.data());
  std::vector<double> folded, numeric(15);
  ASSERT_TRUE(constantValues(out, folded));
  vela::math::matrixMultiply(3, 4, 5, Av.data(), Bv.data(), numeric.data());
  for (std::size_t i = 0; i < 15; ++i) EXPECT_TRUE(vela::test::sameBits(folded[i], numeric[i]));

  // Constant sizes below the maxima: a traced element outside the covered
  // counts does not stop the fold, and only s1 * s2 elements are written.
  A[11] = TracedDouble::input("late");
  std::vector<TracedDouble> small(20, kSentinel);
  vela::math::matrixTransposeMultiplyDynamicSize(4, 3, 5, TracedInt(2), TracedInt(3), TracedInt(2),
                                                 A.data(), B.data(), small.data());
  std::vector<double> smallNumeric(6);
  vela::math::matrixTransposeMultiply(2, 3, 2, Av.data(), Bv.data(), smallNumeric.data());
  for (std::size_t i = 0; i < 20; ++i)
    EXPECT_TRUE(small[i].equalConstant(i < 6 ? smallNumeric[i] : kSentinel)) << i;

  // A traced element inside: one node, its collects of the maxima, and
  // every maximum element of out reading it.
  std::vector<TracedDouble> recorded(15);
  vela::math::matrixMultiply(3, 4, 5, A.data(), B.data(), recorded.data());
  auto const* node = nodeOf<MatrixMultiplyOp>(recorded[0]);
  ASSERT_TRUE(allRead(recorded, node));
  EXPECT_EQ(node->kernel().kind, 0);
  EXPECT_EQ(node->kernel().count, 15u);
  ASSERT_EQ(node->inputCount(), 5u);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(scalarInput(*node, i).equalConstant(3 + i));
  EXPECT_EQ(collectSize(*node, 3), 12u);
  EXPECT_EQ(collectSize(*node, 4), 20u);

  // Traced sizes: collects by kind, the result count by kind.
  TracedInt s = TracedInt::input("s");
  std::vector<TracedDouble> big(6 * 7);
  auto Aw = vela::test::randomDoubles(24, 5), Bw = vela::test::randomDoubles(28, 6);
  vela::math::matrixTransposeMultiplyDynamicSize(4, 6, 7, s, s, s, constants(Aw).data(),
                                                 constants(Bw).data(), big.data());
  node = nodeOf<MatrixMultiplyOp>(big[41]);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->kernel().kind, 1);
  EXPECT_EQ(node->kernel().count, 42u);
  EXPECT_EQ(collectSize(*node, 3), 24u);
  EXPECT_EQ(collectSize(*node, 4), 28u);
  EXPECT_NE(node->input(0), s.operation());  // its own copy of the size
  EXPECT_TRUE(scalarInput(*node, 0).isOperationallyEqual(vela::math::clampSize(s, 4)));
  // Sizes past the maxima are clamped to them, as the Numeric form does:
  // s = 5 multiplies 4 by 5 and 4 by 5 factors.
  vela::math::BindingSet bindings;
  bindings.bind("s", 5);
  std::vector<double> clamped(42, 0.0);
  vela::math::matrixTransposeMultiplyDynamicSize(4, 6, 7, 5, 5, 5, Aw.data(), Bw.data(),
                                                 clamped.data());
  for (std::size_t i = 0; i < 25; ++i) EXPECT_EQ(big[i].evaluate(bindings), clamped[i]) << i;
  bindings.bind("s", 1);
  EXPECT_EQ(big[0].evaluate(bindings), Aw[0] * Bw[0]);
  EXPECT_EQ(big[1].evaluate(bindings), 0.0);

  std::vector<TracedDouble> product(6 * 5);
  std::vector<TracedDouble> wide = tracedInputs("w", 24);  // 6 by 4
  vela::math::matrixMultiplyTransposeDynamicSize(6, 4, 5, s, s, s, wide.data(), B.data(),
                                                 product.data());
  node = nodeOf<MatrixMultiplyOp>(product[0]);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->kernel().kind, 2);
  EXPECT_EQ(node->kernel().count, 30u);
  EXPECT_EQ(collectSize(*node, 3), 24u);
  EXPECT_EQ(collectSize(*node, 4), 20u);
}

TEST(MatrixMultiply, StridedFoldsOverTheReachedElementsOnly) {
  std::vector<TracedDouble> A = tracedInputs("a", 12), B = tracedInputs("b", 12);

  // m or n of 0: nothing is reached and nothing is written.
  std::vector<TracedDouble> out(12, kSentinel);
  vela::math::matrixMultiplyStrided(0, 3, 2, 2, 3, 2, A.data(), B.data(), out.data());
  vela::math::matrixMultiplyStrided(2, 3, 0, 2, 3, 2, A.data(), B.data(), out.data());
  for (auto const& e : out) EXPECT_TRUE(e.equalConstant(kSentinel));

  // k of 0: no factor element is read, so it folds to zeros, gaps included.
  vela::math::matrixMultiplyStrided(2, 0, 3, 2, 1, 3, A.data(), B.data(), out.data());
  for (std::size_t i = 0; i < 12; ++i)
    EXPECT_TRUE(out[i].equalConstant(i < 8 ? 0.0 : kSentinel)) << i;

  // Constants within the reach fold; what lies beyond may be traced.
  auto Av = vela::test::randomDoubles(12, 3), Bv = vela::test::randomDoubles(12, 4);
  std::vector<TracedDouble> Ac = constants(Av), Bc = constants(Bv);
  Ac[9] = A[9];    // reach of A: (2 - 1) * 4 + 3 = 7
  Bc[10] = B[10];  // reach of B: (3 - 1) * 3 + 2 = 8
  std::vector<double> numeric(12, 0.0), folded;
  vela::math::matrixMultiplyStrided(3, 2, 3, 4, 3, 4, Av.data(), Bv.data(), numeric.data());
  std::vector<TracedDouble> result(11);
  vela::math::matrixMultiplyStrided(3, 2, 3, 4, 3, 4, Ac.data(), Bc.data(), result.data());
  ASSERT_TRUE(constantValues(result, folded));
  for (std::size_t i = 0; i < 11; ++i)  // gaps between the columns are 0
    EXPECT_TRUE(vela::test::sameBits(folded[i], numeric[i])) << i;

  // A traced element within the reach: a node over constant sizes and
  // exactly the reached elements.
  Ac[6] = A[6];
  std::vector<TracedDouble> recorded(12, kSentinel);
  vela::math::matrixMultiplyStrided(3, 2, 3, 4, 3, 4, Ac.data(), Bc.data(), recorded.data());
  auto const* node = nodeOf<MatrixMultiplyStridedOp>(recorded[0]);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->kernel().count, 11u);
  ASSERT_EQ(node->inputCount(), 8u);
  int const sizes[] = {3, 2, 3, 4, 3, 4};
  for (std::size_t i = 0; i < 6; ++i) EXPECT_TRUE(scalarInput(*node, i).equalConstant(sizes[i]));
  EXPECT_EQ(collectSize(*node, 6), 7u);
  EXPECT_EQ(collectSize(*node, 7), 8u);
  EXPECT_EQ(nodeOf<MatrixMultiplyStridedOp>(recorded[10]), node);
  EXPECT_TRUE(recorded[11].equalConstant(kSentinel));

  // The DynamicSize form records even when everything is constant.
  std::vector<TracedDouble> dynamic(5 * 6, kSentinel);
  vela::math::matrixMultiplyStridedDynamicSize(
      2, 5, 4, 3, 6, TracedInt(3), TracedInt(2), TracedInt(3), TracedInt(4), TracedInt(3),
      TracedInt(4), constants(Av).data(), constants(vela::test::randomDoubles(15, 5)).data(),
      dynamic.data());
  node = nodeOf<MatrixMultiplyStridedOp>(dynamic[0]);
  ASSERT_TRUE(allRead(dynamic, node));
  EXPECT_EQ(node->kernel().count, 30u);
  EXPECT_EQ(collectSize(*node, 6), 8u);
  EXPECT_EQ(collectSize(*node, 7), 15u);
}

TEST(MatrixMultiply, ThreePathsOfEveryKind) {
  // Fixed sizes for each kind (the last one on a recorded result), then the same kinds over traced
  // sizes (3, 2, 2) below maxima of 4.
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    std::vector<S> A = in.doubles(0, 16), B = in.doubles(16, 16), out;
    auto append = [&out](std::vector<S> const& v, std::size_t n) {
      out.insert(out.end(), v.begin(), v.begin() + static_cast<long>(n));
    };
    std::vector<S> r0(8), r1(8), r2(12), d0(16), d1(16), d2(16);
    vela::math::matrixMultiply(3, 4, 2, A.data(), B.data(), r0.data());
    vela::math::matrixTransposeMultiply(3, 4, 2, A.data(), B.data(), r1.data());
    vela::math::matrixMultiplyTranspose(3, 2, 4, r0.data(), B.data(), r2.data());
    append(r0, 6);
    append(r1, 8);
    append(r2, 12);
    vela::math::matrixMultiplyDynamicSize(4, 4, 4, in.i(0), in.i(1), in.i(2), A.data(), B.data(),
                                          d0.data());
    vela::math::matrixTransposeMultiplyDynamicSize(4, 4, 4, in.i(0), in.i(1), in.i(2), A.data(),
                                                   B.data(), d1.data());
    vela::math::matrixMultiplyTransposeDynamicSize(4, 4, 4, in.i(0), in.i(1), in.i(2), A.data(),
                                                   B.data(), d2.data());
    append(d0, 6);
    append(d1, 4);
    append(d2, 6);
    return out;
  };
  auto cases = randomCases(32, {3, 2, 2});
  cases.push_back({std::vector<double>(32, -0.0), {3, 2, 2}});
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_EQ(occurrences(result.code, "matrixMultiply(3, 4, 2, "), 1u) << result.code;
  EXPECT_EQ(occurrences(result.code, "matrixTransposeMultiply(3, 4, 2, "), 1u);
  EXPECT_EQ(occurrences(result.code, "matrixMultiplyTranspose(3, 2, 4, "), 1u);
  EXPECT_EQ(occurrences(result.code, "matrixMultiply("), 2u);
}

TEST(MatrixMultiply, StridedThreePaths) {
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    std::vector<S> A = in.doubles(0, 12), B = in.doubles(12, 20), fixed(11), dynamic(30), out;
    vela::math::matrixMultiplyStrided(3, 2, 3, 4, 3, 4, A.data(), B.data(), fixed.data());
    vela::math::matrixMultiplyStridedDynamicSize(3, 5, 4, 4, 6, in.i(0), in.i(1), in.i(2), in.i(3),
                                                 in.i(4), in.i(5), A.data(), B.data(),
                                                 dynamic.data());
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 3; ++i) out.push_back(fixed[static_cast<std::size_t>(j * 4 + i)]);
    for (int j = 0; j < 4; ++j)  // m = 2, n = 4, ldc = 5
      for (int i = 0; i < 2; ++i) out.push_back(dynamic[static_cast<std::size_t>(j * 5 + i)]);
    return out;
  };
  auto result = vela::test::checkThreePaths(compute, randomCases(32, {2, 3, 4, 3, 3, 5}));
  EXPECT_NE(result.code.find("matrixMultiplyStrided(3, 2, 3, 4, 3, 4, "), std::string::npos)
      << result.code;
  EXPECT_EQ(occurrences(result.code, "matrixMultiplyStrided("), 2u);
}

TEST(MatrixMultiply, CompareDescribeAndClone) {
  auto size = TracedInt(2).operation();
  auto a = tracedInputs("a", 4);
  auto c = std::make_shared<kelm_math::comp_trace::CollectOp>(4, a.data(), "");
  auto product = [&](int kind, unsigned count) {
    return MatrixMultiplyOp(kind, count, size, size, size, c, c);
  };
  expectOrdered(product(0, 4), product(1, 2));  // kind first, though count is larger
  expectOrdered(product(1, 9), product(2, 4));
  expectOrdered(product(0, 4), product(0, 9));
  EXPECT_THROW(product(0, 4).compare_(*c), std::bad_cast);
  expectClone(product(0, 4), "MatrixMultiply");
  expectClone(product(1, 4), "MatrixTransposeMultiply");
  expectClone(product(2, 4), "MatrixMultiplyTranspose");
  expectOrdered(MatrixMultiplyStridedOp(4, size, size, size, size, size, size, c, c),
                MatrixMultiplyStridedOp(5, size, size, size, size, size, size, c, c));
  expectClone(MatrixMultiplyStridedOp(5, size, size, size, size, size, size, c, c),
              "MatrixMultiplyStrided");
}
