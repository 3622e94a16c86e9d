// Products, Numeric bit for bit and along the four paths.

#include "linalg/LinalgTesting.hpp"

using namespace vela::test::linalg;

// The shapes reach every block path (edges, packing, panels).
TEST(Products, MatrixProductsMatchPlainLoops) {
  struct Shape {
    int s0, s1, s2;
  };
  unsigned seed = 1;
  for (Shape s : {Shape{0, 3, 2}, {3, 0, 2},    {2, 3, 0},    {1, 1, 1},     {3, 3, 3},
                  {5, 7, 2},      {6, 6, 6},    {13, 17, 9},  {12, 12, 12},  {30, 30, 30},
                  {33, 4, 21},    {4, 300, 6},  {300, 5, 7},  {2, 9, 31},    {5, 3, 70},
                  {300, 6, 67},   {16, 16, 16}, {18, 70, 20}, {150, 35, 33}, {17, 130, 19}})
    for (int kind = 0; kind < 3; ++kind) {  // A B, A^T B, A B^T
      SCOPED_TRACE(testing::Message()
                   << "kind " << kind << ", " << s.s0 << " " << s.s1 << " " << s.s2);
      int rows = kind == 1 ? s.s1 : s.s0, inner = kind == 1 ? s.s0 : s.s1;
      Matrix A = randomDoubles(s.s0 * s.s1, seed++), B = randomDoubles(inner * s.s2, seed++);
      Matrix want = multiply(A, s.s0, s.s1, kind == 1, B, kind == 2 ? s.s2 : inner,
                             kind == 2 ? inner : s.s2, kind == 2),
             got(rows * s.s2 + 3, 7.0);
      want.resize(got.size(), 7.0);
      using Product = void (*)(unsigned, unsigned, unsigned, unsigned, unsigned, unsigned,
                               double const*, double const*, double*);
      Product const products[] = {vm::matrixMultiplyDynamicSize,
                                  vm::matrixTransposeMultiplyDynamicSize,
                                  vm::matrixMultiplyTransposeDynamicSize};
      products[kind](400, 400, 400, s.s0, s.s1, s.s2, A.data(), B.data(), got.data());
      ASSERT_TRUE(same(want, got));
    }
  int const strides[][6] = {{3, 4, 5, 7, 6, 4},  {1, 1, 1, 1, 1, 1},      {5, 3, 4, 5, 3, 9},
                            {9, 2, 6, 11, 2, 9}, {2, 0, 3, 2, 1, 4},      {0, 2, 2, 1, 2, 1},
                            {3, 2, 0, 3, 2, 3},  {19, 70, 17, 23, 73, 21}};
  for (auto const& t : strides) {  // m, k, n, lda, ldb, ldc
    struct {
      int m, k, n, lda, ldb, ldc;
    } s{t[0], t[1], t[2], t[3], t[4], t[5]};
    Matrix A = randomDoubles(s.lda * s.k, 7), B = randomDoubles(s.ldb * s.n, 8);
    Matrix want(s.ldc * s.n + 2, 7.0), got = want;  // gaps keep the sentinel
    for (int j = 0; j < s.n; ++j)
      for (int i = 0; i < s.m; ++i)
        want[i + s.ldc * j] = ref_sequential(s.k, A.data() + i, s.lda, B.data() + (s.ldb * j), 1);
    vm::matrixMultiplyStrided(s.m, s.k, s.n, s.lda, s.ldb, s.ldc, A.data(), B.data(), got.data());
    EXPECT_TRUE(same(want, got)) << s.m << " " << s.k << " " << s.n;
  }
}

TEST(Products, VectorProductsMatchPlainLoops) {
  unsigned seed = 11;
  int const shapes[][2] = {{0, 3}, {3, 0},  {1, 1},   {3, 3},   {6, 6}, {5, 2},
                           {2, 9}, {17, 4}, {12, 12}, {30, 30}, {33, 7}};
  for (auto const& [m, n] : shapes)
    for (bool transpose : {false, true}) {
      SCOPED_TRACE(testing::Message() << m << " by " << n << (transpose ? " transposed" : ""));
      int rows = transpose ? n : m, inner = transpose ? m : n;
      Matrix A = randomDoubles(m * n, seed++), x = randomDoubles(inner, seed++);
      Matrix y0 = randomDoubles(rows, seed++), want(rows + 1, 7.0), got = want;
      for (int i = 0; i < rows; ++i)
        want[i] = transpose ? ref_interleaved(m, A.data() + (i * m), x.data())
                            : ref_sequential(n, A.data() + i, m, x.data(), 1);
      using Kernel = void (*)(unsigned, unsigned, double const*, double const*, double*);
      Kernel const kernels[] = {vm::subtractMatrixVectorProduct,
                                vm::addMatrixVectorProduct,
                                vm::subtractMatrixTransposeVectorProduct,
                                vm::addMatrixTransposeVectorProduct,
                                vm::matrixVectorMultiply,
                                vm::matrixTransposeVectorMultiply};
      kernels[4 + transpose](m, n, A.data(), x.data(), got.data());
      ASSERT_TRUE(same(want, got));
      for (int add = 0; add < 2; ++add) {
        Matrix y = y0, expect = y0;
        for (int i = 0; i < rows && inner > 0; ++i)
          expect[i] = add ? y0[i] + want[i] : y0[i] - want[i];
        kernels[2 * transpose + add](m, n, A.data(), x.data(), y.data());
        EXPECT_TRUE(same(expect, y));
      }
      // Over the inner sizes: a dot product, and a^T (M b) as M b, then the sum.
      Matrix M = randomDoubles(inner * inner + inner, seed++), Mb(inner);
      double const* a = M.data() + inner * inner;
      for (int i = 0; i < inner; ++i) Mb[i] = ref_sequential(inner, &M[i], inner, x.data(), 1);
      EXPECT_TRUE(
          sameBits(vm::dotProduct(inner, a, x.data()), ref_interleaved(inner, a, x.data())));
      EXPECT_TRUE(sameBits(vm::computeQuadraticTerm(inner, M.data(), a, x.data()),
                           ref_sequential(inner, a, 1, Mb.data(), 1)));
    }
}

// Accumulations copy y where the old y stays a result, else write over it.
TEST(Products, NodesAlongFourPaths) {
  std::vector<Case> cases = randomCases(32, {{3, 2, 2}, {4, 1, 3}, {2, 4, 4}});
  cases.push_back({Matrix(32, -0.0), {3, 2, 2}});
  addOutOfRange(cases, {0, 1, 2});
  checkKernel(
      [](auto const& in) {
        using S = typename std::decay_t<decltype(in)>::Scalar;
        std::vector<S> A = in.doubles(0, 16), B = in.doubles(16, 16), r0(8), r1(8), r2(12), d(16);
        vm::matrixMultiply(3, 4, 2, A.data(), B.data(), r0.data());
        vm::matrixTransposeMultiply(3, 4, 2, A.data(), B.data(), r1.data());
        vm::matrixMultiplyTranspose(3, 2, 4, r0.data(), B.data(), r2.data());
        S q = vm::computeQuadraticTerm(3, A.data(), B.data(), &B[3]);
        std::vector<S> out = {vm::dotProduct(7, A.data(), B.data()),
                              vm::dotProduct(3, A.data(), B.data()), q, q * q};
        append(out, r0, 6);
        append(out, r1, 8);
        append(out, r2, 12);
        auto s0 = nonNegative(in.i(0)), s1 = nonNegative(in.i(1)), s2 = nonNegative(in.i(2));
        auto c0 = vm::clampSize(s0, 4), c1 = vm::clampSize(s1, 4), c2 = vm::clampSize(s2, 4);
        vm::matrixMultiplyDynamicSize(4, 4, 4, s0, s1, s2, A.data(), B.data(), d.data());
        appendMasked(out, d, c0 * c2);
        vm::matrixTransposeMultiplyDynamicSize(4, 4, 4, s0, s1, s2, A.data(), B.data(), d.data());
        appendMasked(out, d, c1 * c2);
        vm::matrixMultiplyTransposeDynamicSize(4, 4, 4, s0, s1, s2, A.data(), B.data(), d.data());
        appendMasked(out, d, c0 * c2);
        std::vector<S> M = in.doubles(0, 20), x = in.doubles(20, 5), y(4), t(5), e(5);  // 4 by 5
        vm::matrixVectorMultiply(4, 5, M.data(), x.data(), y.data());
        vm::matrixTransposeVectorMultiply(4, 5, M.data(), x.data(), t.data());
        append(out, y, 4);
        vm::addMatrixVectorProduct(4, 5, M.data(), x.data(), y.data());
        vm::addMatrixTransposeVectorProduct(4, 5, M.data(), x.data(), t.data());
        append(out, t, 5);
        std::vector<S> held = y;  // read again below: the product goes to fresh storage
        vm::subtractMatrixVectorProductDynamicSize(4, 5, s0, s1, M.data(), x.data(), y.data());
        vm::subtractMatrixTransposeVectorProductDynamicSize(4, 5, s0, s1, M.data(), x.data(),
                                                            t.data());
        vm::addMatrixVectorProductDynamicSize(4, 5, s1, s0, M.data(), x.data(), y.data());
        vm::addMatrixTransposeVectorProductDynamicSize(4, 5, s1, s0, M.data(), x.data(), t.data());
        vm::matrixVectorMultiplyDynamicSize(5, 4, s1, s0, M.data(), x.data(), d.data());
        vm::matrixTransposeVectorMultiplyDynamicSize(4, 5, s0, s1, M.data(), x.data(), e.data());
        append(out, y, 4);  // past the sizes, the values y held
        append(out, held, 4);
        vm::addMatrixVectorProductDynamicSize(4, 5, 2, 3, M.data(), x.data(), held.data());
        append(out, held, 4);  // a constant size below the maximum, too
        for (auto const* v : {&t, &d, &e}) appendMasked(out, *v, vm::clampSize(s1, 5));
        return out;
      },
      cases,
      {"matrixMultiply(3, 4, 2, ", "matrixTransposeMultiply(3, 4, 2, ",
       "matrixMultiplyTranspose(3, 2, 4, ", "matrixTransposeMultiply(spi[", " = dotProduct(7, ",
       " = dotProduct(3, ", " = computeQuadraticTerm(3, ", "matrixVectorMultiply(4, 5, ",
       "matrixTransposeVectorMultiply(4, 5, ", "addMatrixVectorProduct(4, 5, ",
       "!- (4)) * sizeof(double));", "!, 0, 4 * sizeof(double));\n  memcpy(",
       "addMatrixTransposeVectorProduct(4, 5, ", "subtractMatrixVectorProduct(spi[",
       "subtractMatrixTransposeVectorProduct(spi[", ", (4) * sizeof(double));",
       "]) * sizeof(double));"},
      {"MatrixMultiply", "MatrixTransposeMultiply", "MatrixMultiplyTranspose", "DotProduct",
       "ComputeQuadraticTerm", "MatrixVectorMultiply", "MatrixTransposeVectorMultiply",
       "AccumulateMatrixVectorProduct [add - no transpose]",
       "AccumulateMatrixVectorProduct [add - transpose]",
       "AccumulateMatrixVectorProduct [subtract - no transpose]",
       "AccumulateMatrixVectorProduct [subtract - transpose]"});

  auto strided = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    std::vector<S> A = in.doubles(0, 12), B = in.doubles(12, 20), fixed(11), dynamic(30), out;
    vm::matrixMultiplyStrided(3, 2, 3, 4, 3, 4, A.data(), B.data(), fixed.data());
    auto size = [&](std::size_t k) { return nonNegative(in.i(k)); };
    vm::matrixMultiplyStridedDynamicSize(3, 5, 4, 4, 6, size(0), size(1), size(2), size(3), size(4),
                                         size(5), A.data(), B.data(), dynamic.data());
    out = fixed;                 // the gaps between columns become 0
    for (int j = 0; j < 4; ++j)  // m = 2, n = 4, ldc = 5
      for (int i = 0; i < 2; ++i) out.push_back(dynamic[j * 5 + i]);
    return out;
  };
  cases = randomCases(32, {{2, 3, 4, 3, 3, 5}, {2, 2, 4, 2, 3, 5}});
  std::vector<Case> far = cases;
  checkKernel(strided, cases, {"matrixMultiplyStrided(3, 2, 3, 4, 3, 4, "},
              {"MatrixMultiplyStrided"}, {"MatrixMultiplyStrided"});
  addOutOfRange(far, {0, 1, 2, 3, 4, 5}, {INT_MAX, 1000, 13});
  addOutOfRange(far, {1}, {-1, INT_MIN});
  far.push_back({far[0].doubles, {-1, 3, 5, 3, 3, 5}});  // m = 0: zero gaps in every column read
  vela::test::checkThreePaths(strided, far);
  ct::TracedDouble a = ct::TracedDouble::input("a"), p;  // which is which
  vm::matrixTransposeMultiply(1, 1, 1, &a, &a, &p);
  EXPECT_EQ(nodeOf(p), "MatrixTransposeMultiply");
}
