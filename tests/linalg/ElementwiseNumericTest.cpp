// Numeric elementwise and layout kernels against plain loops written here,
// on random inputs of several shapes (empty, single, non-square).

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "support/ThreePaths.hpp"
#include "vela/math.hpp"

namespace vm = vela::math;
using vela::test::randomDoubles;
using vela::test::sameBits;

namespace {

struct Shape {
  unsigned m, n;
};
std::vector<Shape> const kShapes = {{0, 3}, {3, 0}, {1, 1}, {1, 5}, {4, 1}, {3, 7}, {6, 6}};

void expectSameBits(std::vector<double> const& expected, std::vector<double> const& actual,
                    char const* what) {
  ASSERT_EQ(expected.size(), actual.size()) << what;
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_TRUE(sameBits(expected[i], actual[i]))
        << what << " element " << i << ": " << expected[i] << " vs " << actual[i];
}

// k distinct sorted indices in [0, n).
std::vector<int> sortedSubset(unsigned n, unsigned k, std::mt19937& random) {
  std::vector<int> all(n);
  std::iota(all.begin(), all.end(), 0);
  std::shuffle(all.begin(), all.end(), random);
  all.resize(k);
  std::sort(all.begin(), all.end());
  return all;
}

}  // namespace

TEST(ElementwiseNumeric, ScaleAndNegate) {
  for (unsigned n : {0u, 1u, 7u, 33u}) {
    std::vector<double> a = randomDoubles(n, n), scaled(n, 9.0), negated(n, 9.0), expect(n);
    double scale = n == 1 ? -0.0 : 1.75;
    vm::vectorScale(n, scale, a.data(), scaled.data());
    for (unsigned i = 0; i < n; ++i) expect[i] = scale * a[i];
    expectSameBits(expect, scaled, "vectorScale");
    vm::vectorNegate(n, a.data(), negated.data());
    for (unsigned i = 0; i < n; ++i) expect[i] = -a[i];
    expectSameBits(expect, negated, "vectorNegate");
    vm::vectorNegate(n, a.data(), a.data());  // in place
    expectSameBits(expect, a, "vectorNegate in place");
  }
}

TEST(ElementwiseNumeric, Transposes) {
  for (Shape s : kShapes) {
    std::vector<double> A = randomDoubles(s.m * s.n, s.m + 7 * s.n), t(s.m * s.n), expect(t.size());
    for (unsigned i = 0; i < s.m; ++i)
      for (unsigned j = 0; j < s.n; ++j) expect[j + s.n * i] = A[i + s.m * j];
    vm::transposeColMajor(s.m, s.n, A.data(), t.data());
    expectSameBits(expect, t, "transposeColMajor");
    std::fill(t.begin(), t.end(), 0.0);
    vm::transposeColMajorDynamicSize(9, 9, s.m, s.n, A.data(), t.data());
    expectSameBits(expect, t, "transposeColMajorDynamicSize");
  }
  for (unsigned n : {0u, 1u, 2u, 5u}) {
    std::vector<double> A = randomDoubles(n * n, 40 + n), sum(n * n), diff(n * n);
    std::vector<double> expectSum(n * n), expectDiff(n * n);
    for (unsigned i = 0; i < n; ++i)
      for (unsigned j = 0; j < n; ++j) {
        expectSum[i + n * j] = A[i + n * j] + A[j + n * i];
        expectDiff[i + n * j] = A[i + n * j] - A[j + n * i];
      }
    vm::matrixTransposeAdd(n, A.data(), sum.data());
    vm::matrixTransposeSubtract(n, A.data(), diff.data());
    expectSameBits(expectSum, sum, "matrixTransposeAdd");
    expectSameBits(expectDiff, diff, "matrixTransposeSubtract");
    vm::matrixTransposeSubtract(n, A.data(), A.data());  // in place
    expectSameBits(expectDiff, A, "matrixTransposeSubtract in place");
  }
}

TEST(ElementwiseNumeric, ShiftColumns) {
  for (Shape s : kShapes) {
    std::vector<double> A = randomDoubles(s.m * s.n, 3 * s.m + s.n);
    for (unsigned k = 0; k <= s.n; ++k) {
      std::vector<double> out(s.m * s.n + 1, 7.0), expect = out;
      for (unsigned j = 0; j < k; ++j)
        for (unsigned i = 0; i < s.m; ++i) expect[i + s.m * j] = A[i + s.m * (s.n - k + j)];
      vm::shiftColumns(s.m, s.n, k, A.data(), out.data());
      expectSameBits(expect, out, "shiftColumns");  // k = 0 copies nothing, k = n all
      std::fill(out.begin(), out.end(), 7.0);
      vm::shiftColumnsDynamicSize(8, 8, s.m, s.n, k, A.data(), out.data());
      expectSameBits(expect, out, "shiftColumnsDynamicSize");
    }
  }
}

TEST(ElementwiseNumeric, Scalings) {
  using Scaling = void (*)(unsigned, unsigned, double const*, double const*, double*);
  using DynamicScaling =
      void (*)(unsigned, unsigned, unsigned, unsigned, double const*, double const*, double*);
  struct Kind {
    Scaling fixed;
    DynamicScaling dynamic;
    bool columns, inverse;
  };
  Kind const kinds[] = {{vm::scaleColumns, vm::scaleColumnsDynamicSize, true, false},
                        {vm::inverseScaleColumns, vm::inverseScaleColumnsDynamicSize, true, true},
                        {vm::scaleRows, vm::scaleRowsDynamicSize, false, false},
                        {vm::inverseScaleRows, vm::inverseScaleRowsDynamicSize, false, true}};
  for (Kind const& kind : kinds)
    for (Shape s : kShapes) {
      std::vector<double> A = randomDoubles(s.m * s.n, s.m * 5 + s.n);
      std::vector<double> f = randomDoubles(std::max(s.m, s.n), 99 + s.m);
      if (!f.empty()) f[0] = 0.0;  // IEEE division by zero
      std::vector<double> out(A.size()), expect(A.size());
      for (unsigned j = 0; j < s.n; ++j)
        for (unsigned i = 0; i < s.m; ++i) {
          double factor = kind.columns ? f[j] : f[i];
          expect[i + s.m * j] = kind.inverse ? A[i + s.m * j] / factor : A[i + s.m * j] * factor;
        }
      kind.fixed(s.m, s.n, A.data(), f.data(), out.data());
      expectSameBits(expect, out, "scaling");
      kind.dynamic(8, 8, s.m, s.n, A.data(), f.data(), A.data());  // in place
      expectSameBits(expect, A, "scaling in place");
    }
}

TEST(ElementwiseNumeric, ZeroMajor) {
  std::mt19937 random(5);
  for (Shape s : kShapes) {
    std::vector<double> A = randomDoubles(s.m * s.n, 17 + s.m), expect = A;
    std::vector<int> flags(s.m);
    for (int& f : flags) f = static_cast<int>(random() % 3) - 1;  // -1, 0 or 1
    for (unsigned i = 0; i < s.m; ++i)
      for (unsigned j = 0; j < s.n; ++j)
        if (flags[i] != 0) expect[i + s.m * j] = 0.0;
    vm::zeroMajor(s.m, s.n, flags.data(), A.data());
    expectSameBits(expect, A, "zeroMajor");
  }
}

// reduceMatrix keeps k sorted columns at the front; expandVector scatters a
// compacted vector back. Together they undo each other on kept entries.
TEST(ElementwiseNumeric, ReduceAndExpand) {
  std::mt19937 random(8);
  for (Shape s : kShapes) {
    for (unsigned k = 0; k <= s.n; ++k) {
      std::vector<int> keep = sortedSubset(s.n, k, random);
      keep.resize(s.n, -1);
      std::vector<double> A = randomDoubles(s.m * s.n, 31 * k + s.n), expect = A;
      for (unsigned j = 0; j < k; ++j)
        for (unsigned i = 0; i < s.m; ++i) expect[i + s.m * j] = A[i + s.m * keep[j]];
      std::vector<double> dynamic = A;
      vm::reduceMatrix(s.m, s.n, k, keep.data(), A.data());
      expectSameBits(expect, A, "reduceMatrix");
      vm::reduceMatrixDynamicSize(9, 9, s.m, s.n, k, keep.data(), dynamic.data());
      expectSameBits(expect, dynamic, "reduceMatrixDynamicSize");

      std::vector<double> v = randomDoubles(s.n, 3 * k), full(s.n, 0.0);
      for (unsigned i = 0; i < k; ++i) full[keep[i]] = v[i];
      vm::expandVector(s.n, k, keep.data(), v.data());
      expectSameBits(full, v, "expandVector");
    }
  }
  // An index outside the matrix leaves its column; too large a k does nothing.
  std::vector<double> A = randomDoubles(6, 1), expect = A;
  int indices[] = {1, 7, 0};
  std::copy(A.begin() + 2, A.begin() + 4, expect.begin());
  vm::reduceMatrix(2, 3, 2, indices, A.data());
  expectSameBits(expect, A, "reduceMatrix, index out of range");
  vm::reduceMatrix(2, 3, 4, indices, A.data());
  expectSameBits(expect, A, "reduceMatrix, k > n");
  // Out-of-range or out-of-order targets are dropped; the rest is zeroed.
  std::vector<double> v = {1.0, 2.0, 3.0, 4.0};
  int targets[] = {2, 1, 9};
  vm::expandVector(4, 3, targets, v.data());
  expectSameBits({0.0, 2.0, 0.0, 0.0}, v, "expandVector, dropped targets");
}

TEST(ElementwiseNumeric, SubmatrixAssign) {
  std::mt19937 random(3);
  for (int trial = 0; trial < 40; ++trial) {
    unsigned rows = random() % 4, cols = random() % 4;
    unsigned srcStride = rows + random() % 3, dstStride = rows + random() % 4;
    unsigned srcOffset = random() % (srcStride - rows + 1) + srcStride * (random() % 2);
    unsigned dstOffset = random() % (dstStride - rows + 1);
    unsigned srcMax = srcOffset + srcStride * cols + 1, dstMax = dstOffset + dstStride * cols + 2;
    std::vector<double> src = randomDoubles(srcMax, trial),
                        dst = randomDoubles(dstMax, 100 + trial);
    std::vector<double> expect = dst, dynamic = dst;
    for (unsigned j = 0; j < cols; ++j)
      for (unsigned i = 0; i < rows; ++i)
        expect[dstOffset + dstStride * j + i] = src[srcOffset + srcStride * j + i];
    vm::submatrixAssign(rows, cols, srcOffset, srcStride, dstOffset, dstStride, src.data(),
                        dst.data());
    expectSameBits(expect, dst, "submatrixAssign");
    vm::submatrixAssignDynamicSize(srcMax, dstMax, rows, cols, srcOffset, srcStride, dstOffset,
                                   dstStride, src.data(), dynamic.data());
    expectSameBits(expect, dynamic, "submatrixAssignDynamicSize");
  }
}
