// Elementwise and layout kernels: Numeric against plain loops, and each node
// along the four paths.

#include <numeric>

#include "linalg/LinalgTesting.hpp"

using namespace vela::test::linalg;
using vela::test::randomDoubles;

namespace {

void expectSame(Matrix const& want, Matrix const& got, char const* what) {
  EXPECT_TRUE(same(want, got)) << what;
}

template <class In>
auto ints(In const& in, std::size_t first, std::size_t n) {
  std::vector<typename In::Integer> v;
  for (std::size_t k = first; k < first + n; ++k) v.push_back(in.i(k));
  return v;
}

}  // namespace

TEST(Elementwise, NumericAgainstPlainLoops) {
  std::mt19937 random(5);
  for (auto [m, n] :
       {std::pair{0u, 3u}, {3u, 0u}, {1u, 1u}, {1u, 5u}, {4u, 1u}, {3u, 7u}, {6u, 6u}}) {
    SCOPED_TRACE(testing::Message() << m << " by " << n);
    Matrix A = randomDoubles(m * n, m + 7 * n), B = randomDoubles(m * n, 3 * m + n), want(m * n);
    Matrix got = A, s = randomDoubles(std::max(m, n), m + 9);
    if (!s.empty()) s[0] = 0.0;  // IEEE division by zero
    for (unsigned i = 0; i < m * n; ++i) want[i] = A[i] + B[i];
    vm::vectorAdd(m * n, A.data(), B.data(), got.data());
    expectSame(want, got, "vectorAdd");
    for (unsigned i = 0; i < m * n; ++i) want[i] = A[i] - B[i];
    vm::vectorSubtractDynamicSize(99, m * n, A.data(), B.data(), got.data());
    expectSame(want, got, "vectorSubtract");
    for (unsigned i = 0; i < m * n; ++i) want[i] = -0.5 * A[i];
    vm::vectorScale(m * n, -0.5, A.data(), got.data());
    expectSame(want, got, "vectorScale");
    vm::vectorNegate(m * n, got.data(), got.data());  // in place
    for (double& x : want) x = -x;
    expectSame(want, got, "vectorNegate");
    for (unsigned i = 0; i < m; ++i)
      for (unsigned j = 0; j < n; ++j) want[j + n * i] = A[i + m * j];
    vm::transposeColMajor(m, n, A.data(), got.data());
    expectSame(want, got, "transposeColMajor");
    Matrix square = randomDoubles(n * n, n), sum(n * n), diff(n * n);
    for (unsigned i = 0; i < n; ++i)
      for (unsigned j = 0; j < n; ++j) {
        sum[i + n * j] = square[i + n * j] + square[j + n * i];
        diff[i + n * j] = square[i + n * j] - square[j + n * i];
      }
    Matrix t(n * n);
    vm::matrixTransposeAdd(n, square.data(), t.data());
    expectSame(sum, t, "matrixTransposeAdd");
    vm::matrixTransposeSubtract(n, square.data(), square.data());  // in place
    expectSame(diff, square, "matrixTransposeSubtract");
    for (unsigned k = 0; k <= n; ++k) {  // k = 0 copies nothing, k = n all
      Matrix shifted(m * n + 1, 7.0), expect = shifted;
      for (unsigned i = 0; i < m * k; ++i) expect[i] = A[m * (n - k) + i];
      vm::shiftColumns(m, n, k, A.data(), shifted.data());
      expectSame(expect, shifted, "shiftColumns");
    }
    for (int kind = 0; kind < 4; ++kind) {  // columns, inverse columns, rows, inverse rows
      for (unsigned j = 0; j < n; ++j)
        for (unsigned i = 0; i < m; ++i) {
          double f = kind < 2 ? s[j] : s[i];
          want[i + m * j] = kind % 2 ? A[i + m * j] / f : A[i + m * j] * f;
        }
      using Scaling = void (*)(unsigned, unsigned, double const*, double const*, double*);
      Scaling const scalings[] = {vm::scaleColumns, vm::inverseScaleColumns, vm::scaleRows,
                                  vm::inverseScaleRows};
      got = A;  // in place
      scalings[kind](m, n, got.data(), s.data(), got.data());
      expectSame(want, got, "scaling");
    }
    std::vector<int> flags(m);
    for (int& f : flags) f = static_cast<int>(random() % 3) - 1;
    for (unsigned i = 0; i < m * n; ++i) want[i] = flags[i % m] ? 0.0 : A[i];
    got = A;
    vm::zeroMajor(m, n, flags.data(), got.data());
    expectSame(want, got, "zeroMajor");
    // reduceMatrix keeps k sorted columns at the front; expandVector scatters
    // a compacted vector back.
    for (unsigned k = 0; k <= n; ++k) {
      std::vector<int> keep(n);
      std::iota(keep.begin(), keep.end(), 0);
      std::shuffle(keep.begin(), keep.end(), random);
      std::sort(keep.begin(), keep.begin() + k);
      want = got = A;
      for (unsigned i = 0; i < m * k; ++i) want[i] = A[i % m + m * keep[i / m]];
      vm::reduceMatrix(m, n, k, keep.data(), got.data());
      expectSame(want, got, "reduceMatrix");
      Matrix v = randomDoubles(n, k), full(n, 0.0);
      for (unsigned i = 0; i < k; ++i) full[keep[i]] = v[i];
      vm::expandVector(n, k, keep.data(), v.data());
      expectSame(full, v, "expandVector");
    }
  }
  // An index outside the matrix leaves its column, and so does too large a
  // k; out-of-range or out-of-order targets are dropped, the rest zeroed.
  Matrix A = randomDoubles(6, 1), want = A, v = {1, 2, 3, 4};
  int indices[] = {1, 7, 0}, targets[] = {2, 1, 9};
  std::copy(A.begin() + 2, A.begin() + 4, want.begin());
  vm::reduceMatrix(2, 3, 2, indices, A.data());
  vm::reduceMatrix(2, 3, 4, indices, A.data());
  expectSame(want, A, "reduceMatrix out of range");
  vm::expandVector(4, 3, targets, v.data());
  expectSame({0, 2, 0, 0}, v, "expandVector, dropped targets");
  for (int trial = 0; trial < 30; ++trial) {
    unsigned rows = random() % 4, cols = random() % 4, srcStride = rows + random() % 3;
    unsigned dstStride = rows + random() % 4, dstOffset = random() % (dstStride - rows + 1);
    unsigned srcOffset = random() % (srcStride - rows + 1) + srcStride * (random() % 2);
    Matrix src = randomDoubles(srcOffset + srcStride * cols, trial);
    Matrix dst = randomDoubles(dstOffset + dstStride * cols + 2, 100 + trial), expect = dst;
    for (unsigned j = 0; j < cols; ++j)
      for (unsigned i = 0; i < rows; ++i)
        expect[dstOffset + dstStride * j + i] = src[srcOffset + srcStride * j + i];
    Matrix dynamic = dst;  // maxima the block just fits in
    vm::submatrixAssign(rows, cols, srcOffset, srcStride, dstOffset, dstStride, src.data(),
                        dst.data());
    vm::submatrixAssignDynamicSize(src.size(), dst.size() - 2, rows, cols, srcOffset, srcStride,
                                   dstOffset, dstStride, src.data(), dynamic.data());
    expectSame(expect, dst, "submatrixAssign");
    expectSame(expect, dynamic, "submatrixAssignDynamicSize");
  }
}

// Out-of-place kernels, fixed and over m, n and the k of both shifts.
TEST(Elementwise, NodesAlongFourPaths) {
  std::vector<Case> cases =
      randomCases(16, {{2, 3, 0, 1}, {4, 3, 4, 3}, {1, 2, 2, 0}, {4, 1, 1, 1}, {0, 3, 3, 2}});
  cases[0].doubles[13] = 0.0;  // infinities and NaN alike everywhere
  cases[1].doubles[12] = -0.0;
  cases.push_back(
      {{0, -0.0, 1e308, -5e-324, 3, -2, 0, 1, 2, 3, 4, 5, 6, 7, 10, -0.0}, {3, 3, 1, 2}});
  checkKernel(
      [](auto const& in) {
        using S = typename std::decay_t<decltype(in)>::Scalar;
        std::vector<S> A = in.doubles(0, 12), big = in.doubles(0, 16), s = in.doubles(12, 4), out;
        std::vector<S> a(6), b(6), t(12), sum(9), diff(9), shifted(12), dyn(16), part(16);
        vm::vectorScale(6, in.d(14), A.data(), a.data());
        vm::vectorNegate(6, a.data(), b.data());
        vm::vectorAdd(6, b.data(), A.data(), a.data());
        vm::vectorSubtract(6, a.data(), &A[6], b.data());
        vm::transposeColMajor(3, 4, A.data(), t.data());
        vm::matrixTransposeAdd(3, A.data(), sum.data());
        vm::matrixTransposeSubtract(3, A.data(), diff.data());
        vm::shiftColumns(3, 4, in.i(2), A.data(), shifted.data());
        for (auto const* v : {&a, &b, &t, &sum, &diff}) out.insert(out.end(), v->begin(), v->end());
        appendMasked(out, shifted, 3 * in.i(2));
        auto m = in.i(0), n = in.i(1);
        vm::transposeColMajorDynamicSize(4, 4, m, n, big.data(), dyn.data());
        vm::shiftColumnsDynamicSize(4, 4, m, n, in.i(3), big.data(), part.data());
        appendMasked(out, dyn, m * n);
        appendMasked(out, part, m * in.i(3));
        using Scaling = void (*)(unsigned, unsigned, S const*, S const*, S*);
        for (Scaling f : {Scaling(vm::scaleColumns), vm::inverseScaleColumns, vm::scaleRows,
                          vm::inverseScaleRows}) {
          f(3, 4, A.data(), s.data(), t.data());  // rows take 3 factors, columns 4
          out.insert(out.end(), t.begin(), t.end());
        }
        std::vector<S> c(12), ic(12), r(12), ir(12);  // within 4 by 3 maxima
        vm::scaleColumnsDynamicSize(4, 3, m, n, A.data(), s.data(), c.data());
        vm::inverseScaleColumnsDynamicSize(4, 3, m, n, A.data(), s.data(), ic.data());
        vm::scaleRowsDynamicSize(4, 3, m, n, A.data(), s.data(), r.data());
        vm::inverseScaleRowsDynamicSize(4, 3, m, n, A.data(), s.data(), ir.data());
        for (auto const* v : {&c, &ic, &r, &ir}) appendMasked(out, *v, m * n);
        return out;
      },
      cases,
      {"vectorScale(6, in[14], ", "vectorNegate(6, ", "transposeColMajor(3, 4, ",
       "transposeColMajor(spi[", "matrixTransposeAdd(3, ", "matrixTransposeSubtract(3, ",
       "shiftColumns(3, 4, vela_rt_d2i(in[18]), ", "scaleColumns(3, 4, ",
       "inverseScaleColumns(3, 4, ", "scaleRows(3, 4, ", "inverseScaleRows(spi["},
      {"VectorScale", "VectorNegate", "VectorCombine [add]", "VectorCombine [subtract]",
       "TransposeColMajor", "TransposeAdd", "TransposeSubtract", "ShiftColumns",
       "ScaleVectors [columns, non-inverse]", "ScaleVectors [columns, inverse]",
       "ScaleVectors [rows, non-inverse]", "ScaleVectors [rows, inverse]"});
}

// In-place kernels in a chain: alone, each writes over its predecessor's
// storage; when a later node reads the same collect, the first copies it.
// Then over m, n, k and four column indices, and a block's six values.
TEST(Elementwise, InPlaceNodesAlongFourPaths) {
  for (bool shared : {false, true})
    checkKernel(
        [shared](auto const& in) {
          using S = typename std::decay_t<decltype(in)>::Scalar;
          std::vector<S> A = in.doubles(0, 12), negated(12), v = in.doubles(11, 4), out;
          auto flags = ints(in, 0, 3), indices = ints(in, 3, 4);
          vm::vectorNegate(12, A.data(), negated.data());
          if (shared) out = negated;
          vm::zeroMajor(3, 4, flags.data(), negated.data());
          vm::reduceMatrix(3, 4, in.i(7), indices.data(), negated.data());
          vm::submatrixAssign(2, 4, 1, 3, 0, 3, A.data(), negated.data());
          vm::expandVector(4, in.i(7), indices.data(), v.data());
          for (auto const* p : {&negated, &v}) out.insert(out.end(), p->begin(), p->end());
          return out;
        },
        randomCases(15,
                    {{1, 0, 1, 1, 3, 0, 0, 2}, {0, 0, 0, 0, 1, 2, 3, 4}, {1, 1, 1, 2, 0, 0, 0, 1}}),
        {shared ? "memcpy(" : "!memcpy(", "zeroMajor(3, 4, ", "reduceMatrix(3, 4, ",
         "submatrixAssign(2, 4, 1, 3, 0, 3, ", "expandVector(4, vela_rt_d2i(in[22]), "},
        {"ZeroMajor", "ReduceMatrix", "SubmatrixAssign", "ExpandVector"});
  checkKernel(
      [](auto const& in) {
        using S = typename std::decay_t<decltype(in)>::Scalar;
        std::vector<S> A = in.doubles(0, 12), dst = in.doubles(12, 15), fixed = dst, out;
        auto indices = ints(in, 3, 4);
        vm::reduceMatrixDynamicSize(3, 4, in.i(0), in.i(1), in.i(2), indices.data(), A.data());
        appendMasked(out, A, in.i(0) * in.i(1));
        vm::submatrixAssignDynamicSize(12, 15, in.i(7), in.i(8), in.i(9), in.i(10), in.i(11),
                                       in.i(12), in.doubles(0, 12).data(), dst.data());
        vm::submatrixAssign(2, 3, 1, 4, 3, 5, in.doubles(0, 12).data(), fixed.data());
        for (auto const* p : {&dst, &fixed}) out.insert(out.end(), p->begin(), p->end());
        return out;
      },
      randomCases(27, {{3, 4, 2, 1, 3, 0, 0, 2, 3, 1, 4, 3, 5},
                       {2, 4, 4, 0, 1, 2, 3, 4, 3, 0, 4, 0, 5},
                       {3, 3, 0, 0, 0, 0, 0, 1, 1, 3, 4, 4, 5},
                       {3, 4, 2, 3, 9, 0, 0, 0, 3, 0, 4, 0, 5}}),
      {"reduceMatrix(spi[", "]) * (size_t)(spi[", "submatrixAssign(spi[",
       ", 15 * sizeof(double));"},
      {});
}
