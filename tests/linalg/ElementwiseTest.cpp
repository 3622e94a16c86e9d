// Elementwise and layout kernels, Numeric and along the four paths.

#include <numeric>

#include "linalg/LinalgTesting.hpp"

using namespace vela::test::linalg;
using vela::test::randomDoubles;

namespace {

// kernel(out), out a copy of `in` and a sentinel: element(i) for i < count.
template <class Element, class Kernel>
void check(char const* what, Matrix in, std::size_t count, Element element, Kernel kernel) {
  Matrix want = in;
  for (std::size_t i = 0; i < count; ++i) want[i] = element(i);
  in.push_back(7.0), want.push_back(7.0);
  kernel(in.data());
  EXPECT_TRUE(same(want, in)) << what;
}

}  // namespace

// out[i] = element for i < count (i, o and the test's values in scope).
#define EXPECT_KERNEL(in, count, element, call) \
  check(                                        \
      #call, in, count, [&](unsigned i) { return element; }, [&](double* o) { call; })

TEST(Elementwise, NumericAgainstPlainLoops) {
  std::mt19937 random(5);
  for (auto [m, n] :
       {std::pair{0u, 3u}, {3u, 0u}, {1u, 1u}, {1u, 5u}, {4u, 1u}, {3u, 7u}, {6u, 6u}}) {
    SCOPED_TRACE(testing::Message() << m << " by " << n);
    unsigned mn = m * n;
    Matrix A = randomDoubles(mn, m + 7 * n), B = randomDoubles(mn, 3 * m + n);
    Matrix Q = randomDoubles(n * n, n), s = randomDoubles(std::max(m, n), m + 9);
    if (!s.empty()) s[0] = 0.0;  // IEEE division by zero
    EXPECT_KERNEL(A, mn, A[i] + B[i], vm::vectorAdd(mn, A.data(), B.data(), o));
    EXPECT_KERNEL(A, mn, A[i] - B[i], vm::vectorSubtractDynamicSize(99, mn, A.data(), B.data(), o));
    EXPECT_KERNEL(A, mn, -0.5 * A[i], vm::vectorScale(mn, -0.5, o, o));
    EXPECT_KERNEL(A, mn, -A[i], vm::vectorNegate(mn, o, o));
    EXPECT_KERNEL(A, mn, A[i / n + m * (i % n)], vm::transposeColMajor(m, n, A.data(), o));
    EXPECT_KERNEL(Q, n * n, Q[i] + Q[i / n + n * (i % n)], vm::matrixTransposeAdd(n, Q.data(), o));
    EXPECT_KERNEL(Q, n * n, Q[i] - Q[i / n + n * (i % n)], vm::matrixTransposeSubtract(n, o, o));
    for (unsigned k = 0; k <= n; ++k)  // k = 0 copies nothing, k = n all
      EXPECT_KERNEL(A, m * k, A[m * (n - k) + i], vm::shiftColumns(m, n, k, A.data(), o));
    EXPECT_KERNEL(A, mn, A[i] * s[i / m], vm::scaleColumns(m, n, o, s.data(), o));
    EXPECT_KERNEL(A, mn, A[i] / s[i / m], vm::inverseScaleColumns(m, n, o, s.data(), o));
    EXPECT_KERNEL(A, mn, A[i] * s[i % m], vm::scaleRows(m, n, o, s.data(), o));
    EXPECT_KERNEL(A, mn, A[i] / s[i % m], vm::inverseScaleRows(m, n, o, s.data(), o));
    std::vector<int> flags(m), keep(n);
    for (int& f : flags) f = static_cast<int>(random() % 3) - 1;
    EXPECT_KERNEL(A, mn, flags[i % m] ? 0.0 : A[i], vm::zeroMajor(m, n, flags.data(), o));
    for (unsigned k = 0; k <= n; ++k) {  // k sorted columns to the front, and back
      std::iota(keep.begin(), keep.end(), 0);
      std::shuffle(keep.begin(), keep.end(), random);
      std::sort(keep.begin(), keep.begin() + k);
      EXPECT_KERNEL(A, m * k, A[i % m + m * keep[i / m]],
                    vm::reduceMatrix(m, n, k, keep.data(), o));
      Matrix v = randomDoubles(n, k);
      auto at = [&](unsigned i) {
        return std::find(keep.begin(), keep.begin() + k, int(i)) - keep.begin();
      };
      EXPECT_KERNEL(v, n, at(i) < k ? v[at(i)] : 0.0, vm::expandVector(n, k, keep.data(), o));
    }
  }
  // Indices, k and targets out of range.
  Matrix A = randomDoubles(6, 1), want = A, v = {1, 2, 3, 4};
  int indices[] = {1, 7, 0}, targets[] = {1, 1, 4};
  std::copy(A.begin() + 2, A.begin() + 4, want.begin());
  vm::reduceMatrix(2, 3, 2, indices, A.data());
  vm::reduceMatrix(2, 3, 4, indices, A.data());
  EXPECT_TRUE(same(want, A));
  vm::expandVector(4, 3, targets, v.data());
  EXPECT_TRUE(same({0, 2, 0, 0}, v));
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
    EXPECT_TRUE(same(expect, dst) && same(expect, dynamic)) << trial;
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
  addOutOfRange(cases, {0, 1});
  addOutOfRange(cases, {2, 3}, {5, -1});  // k past n copies no column
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
        append(out, shifted, 12);  // what no column fills is 0 on every path
        auto m = nonNegative(in.i(0)), n = nonNegative(in.i(1));
        // Fresh outputs: past the actual sizes every path gives zeros (the
        // generated C clears them, as the call leaves them), also below a
        // constant size.
        std::vector<S> sumDyn(4), diffDyn(4), low(4), one(1);
        vm::transposeColMajorDynamicSize(4, 4, m, n, big.data(), dyn.data());
        vm::shiftColumnsDynamicSize(4, 4, m, n, in.i(3), big.data(), part.data());
        vm::vectorAddDynamicSize(4, m, A.data(), s.data(), sumDyn.data());
        vm::vectorSubtractDynamicSize(4, n, A.data(), s.data(), diffDyn.data());
        vm::vectorAddDynamicSize(4, 2, A.data(), s.data(), low.data());
        vm::vectorSubtractDynamicSize(1, m, A.data(), s.data(), one.data());
        for (auto const* v : {&dyn, &part, &sumDyn, &diffDyn, &low, &one})
          out.insert(out.end(), v->begin(), v->end());
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
        for (auto const* v : {&c, &ic, &r, &ir}) out.insert(out.end(), v->begin(), v->end());
        return out;
      },
      cases,
      {"vectorScale(6, in[14], ", "!sizeof(double));\n  vectorScale(6, ",
       "!sizeof(double));\n  scaleColumns(3, 4, ", "sizeof(double));\n  vectorAdd(2, ",
       "vectorNegate(6, ", "transposeColMajor(3, 4, ", "transposeColMajor(spi[",
       "matrixTransposeAdd(3, ", "matrixTransposeSubtract(3, ",
       "shiftColumns(3, 4, vela_rt_d2i(in[18]), ", "scaleColumns(3, 4, ",
       "inverseScaleColumns(3, 4, ", "scaleRows(3, 4, ", "inverseScaleRows(spi["},
      {"VectorScale", "VectorNegate", "VectorCombine [add]", "VectorCombine [subtract]",
       "TransposeColMajor", "TransposeAdd", "TransposeSubtract", "ShiftColumns",
       "ScaleVectors [columns, non-inverse]", "ScaleVectors [columns, inverse]",
       "ScaleVectors [rows, non-inverse]", "ScaleVectors [rows, inverse]"});
  std::vector<ct::TracedDouble> a(4, ct::TracedDouble::input("a")), t(4), u(4);  // which is which
  vm::matrixTransposeAdd(2, a.data(), t.data());
  vm::vectorAdd(4, a.data(), a.data(), u.data());
  EXPECT_EQ(nodeOf(t[0]) + ", " + nodeOf(u[0]), "TransposeAdd, VectorCombine [add]");
}

// In-place kernels copy an input that a later node reads, else write over it.
TEST(Elementwise, InPlaceNodesAlongFourPaths) {
  std::vector<Case> cases = randomCases(15, {{1, 0, 1, 1, 3, 0, 0, 2, 3, 4},
                                             {0, 0, 0, 0, 1, 2, 3, 4, 2, 3},
                                             {1, 1, 1, 2, 0, 0, 0, 1, 1, 2}});
  addOutOfRange(cases, {8, 9});
  addOutOfRange(cases, {7}, {INT_MAX, 13, -1});
  checkKernel(
      [](auto const& in) {
        using S = typename std::decay_t<decltype(in)>::Scalar;
        std::vector<S> A = in.doubles(0, 12), negated(12), v = in.doubles(11, 4), out;
        using I = typename std::decay_t<decltype(in)>::Integer;
        std::vector<I> flags = {in.i(0), in.i(1), in.i(2)},
                       at = {in.i(3), in.i(4), in.i(5), in.i(6)};
        vm::vectorNegate(12, A.data(), negated.data());
        out = negated;  // so that zeroMajor copies; the others write over
        vm::zeroMajor(3, 4, flags.data(), negated.data());
        vm::reduceMatrix(3, 4, in.i(7), at.data(), negated.data());
        vm::submatrixAssign(2, 4, 1, 3, 0, 3, A.data(), negated.data());
        vm::expandVector(4, in.i(7), at.data(), v.data());
        auto m = nonNegative(in.i(8)), n = nonNegative(in.i(9));
        std::vector<S> R = A, D = A;
        vm::reduceMatrixDynamicSize(3, 4, m, n, I(2), at.data(), R.data());
        vm::submatrixAssignDynamicSize(12, 12, m, n, I(1), m, I(2), n, A.data(), D.data());
        for (auto const* p : {&negated, &v, &D}) out.insert(out.end(), p->begin(), p->end());
        appendMasked(out, R, vm::clampSize(m, 3) * vm::clampSize(n, 4));
        return out;
      },
      cases,
      {", 12 * sizeof(double));", "zeroMajor(3, 4, ", "reduceMatrix(3, 4, ",
       "submatrixAssign(2, 4, 1, 3, 0, 3, ", "expandVector(4, vela_rt_d2i(in[22]), "},
      {"ZeroMajor", "ReduceMatrix", "SubmatrixAssign", "ExpandVector"});
}
