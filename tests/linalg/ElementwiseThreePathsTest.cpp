// Every node of the elementwise and layout kernels along the three paths
// (Numeric, evaluated trace, generated C), with sizes bound per case.

#include <gtest/gtest.h>

#include <algorithm>

#include "support/ThreePaths.hpp"
#include "vela/math.hpp"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using vela::test::Case;
using vela::test::checkThreePaths;
using vela::test::randomDoubles;

namespace {

template <class In>
using ScalarOf = typename std::decay_t<In>::Scalar;
template <class In>
using IntegerOf = typename std::decay_t<In>::Integer;

// Element i of v where i < count, else 0: elements past an actual size are
// unspecified in generated C.
template <class S, class I>
S masked(std::size_t i, I const& count, S const& v) {
  return ct::ternary(I(static_cast<int>(i)) < count, v, S(0.0));
}

template <class S, class I>
void appendMasked(std::vector<S>& out, std::vector<S> const& v, I const& count) {
  for (std::size_t i = 0; i < v.size(); ++i) out.push_back(masked(i, count, v[i]));
}

// Int inputs [first, first + n) as an array.
template <class In>
std::vector<IntegerOf<In>> ints(In const& in, std::size_t first, std::size_t n) {
  std::vector<IntegerOf<In>> v;
  for (std::size_t k = 0; k < n; ++k) v.push_back(in.i(first + k));
  return v;
}

std::vector<Case> randomCases(std::size_t doubles, std::vector<std::vector<int>> const& ints) {
  std::vector<Case> cases;
  unsigned seed = 11;
  for (auto const& i : ints) cases.push_back({randomDoubles(doubles, seed++), i});
  return cases;
}

}  // namespace

TEST(ElementwiseThreePaths, ScaleAndNegate) {
  auto compute = [](auto const& in) {
    using S = ScalarOf<decltype(in)>;
    std::vector<S> a = in.doubles(0, 6), scaled(6), negated(6), one(1);
    vm::vectorScale(6, in.d(6), a.data(), scaled.data());
    vm::vectorNegate(6, scaled.data(), negated.data());
    vm::vectorScale(1, in.d(7), a.data(), one.data());
    std::vector<S> out = scaled;
    out.insert(out.end(), negated.begin(), negated.end());
    out.push_back(one[0]);
    return out;
  };
  std::vector<Case> cases = randomCases(8, {{}, {}, {}});
  cases.push_back({{0.0, -0.0, 1e308, -5e-324, 3.0, -2.0, 10.0, -0.0}, {}});
  auto result = checkThreePaths(compute, cases);
  EXPECT_NE(result.code.find("vectorScale(6, in[6], "), std::string::npos) << result.code;
  EXPECT_NE(result.code.find("vectorNegate(6, "), std::string::npos);
  EXPECT_NE(result.code.find("vectorScale(1, in[7], "), std::string::npos);
}

TEST(ElementwiseThreePaths, TransposesAndShift) {
  auto compute = [](auto const& in) {
    using S = ScalarOf<decltype(in)>;
    std::vector<S> A = in.doubles(0, 12), t(12), dyn(16), sum(9), diff(9), shifted(12), part(16);
    vm::transposeColMajor(3, 4, A.data(), t.data());
    // A 4 by 4 maximum holding the actual m by n matrix.
    std::vector<S> big = in.doubles(0, 16);
    vm::transposeColMajorDynamicSize(4, 4, in.i(0), in.i(1), big.data(), dyn.data());
    vm::matrixTransposeAdd(3, A.data(), sum.data());
    vm::matrixTransposeSubtract(3, A.data(), diff.data());
    vm::shiftColumns(3, 4, in.i(2), A.data(), shifted.data());
    vm::shiftColumnsDynamicSize(4, 4, in.i(0), in.i(1), in.i(3), big.data(), part.data());
    std::vector<S> out = t;
    appendMasked(out, dyn, in.i(0) * in.i(1));
    out.insert(out.end(), sum.begin(), sum.end());
    out.insert(out.end(), diff.begin(), diff.end());
    appendMasked(out, shifted, 3 * in.i(2));
    appendMasked(out, part, in.i(0) * in.i(3));
    return out;
  };
  // m, n, k of the fixed 3 by 4 shift, k of the dynamic one (k <= n).
  auto result = checkThreePaths(
      compute,
      randomCases(16, {{2, 3, 0, 1}, {4, 4, 4, 4}, {1, 4, 2, 0}, {4, 1, 1, 1}, {0, 3, 3, 2}}));
  EXPECT_NE(result.code.find("transposeColMajor(3, 4, "), std::string::npos) << result.code;
  EXPECT_NE(result.code.find("transposeColMajor(spi["), std::string::npos);
  EXPECT_NE(result.code.find("matrixTransposeAdd(3, "), std::string::npos);
  EXPECT_NE(result.code.find("matrixTransposeSubtract(3, "), std::string::npos);
  EXPECT_NE(result.code.find("shiftColumns(3, 4, vela_rt_d2i(in[18]), "), std::string::npos);
}

TEST(ElementwiseThreePaths, Scalings) {
  auto compute = [](auto const& in) {
    using S = ScalarOf<decltype(in)>;
    std::vector<S> A = in.doubles(0, 12), s = in.doubles(12, 4), out;
    std::vector<S> c(12), ic(12), r(12), ir(12);
    vm::scaleColumns(3, 4, A.data(), s.data(), c.data());
    vm::inverseScaleColumns(3, 4, A.data(), s.data(), ic.data());
    vm::scaleRows(4, 3, A.data(), s.data(), r.data());
    vm::inverseScaleRows(4, 3, A.data(), s.data(), ir.data());
    for (auto const* v : {&c, &ic, &r, &ir}) out.insert(out.end(), v->begin(), v->end());
    // Dynamic sizes within 4 by 3 maxima.
    auto m = in.i(0), n = in.i(1);
    vm::scaleColumnsDynamicSize(4, 3, m, n, A.data(), s.data(), c.data());
    vm::inverseScaleColumnsDynamicSize(4, 3, m, n, A.data(), s.data(), ic.data());
    vm::scaleRowsDynamicSize(4, 3, m, n, A.data(), s.data(), r.data());
    vm::inverseScaleRowsDynamicSize(4, 3, m, n, A.data(), s.data(), ir.data());
    for (auto const* v : {&c, &ic, &r, &ir}) appendMasked(out, *v, m * n);
    return out;
  };
  std::vector<Case> cases = randomCases(16, {{4, 3}, {2, 3}, {1, 1}, {3, 0}});
  cases[0].doubles[13] = 0.0;  // a zero factor divides to infinities and NaN alike everywhere
  cases[1].doubles[12] = -0.0;
  auto result = checkThreePaths(compute, cases);
  for (char const* call : {"scaleColumns(3, 4, ", "inverseScaleColumns(3, 4, ", "scaleRows(4, 3, ",
                           "inverseScaleRows(4, 3, ", "scaleRows(spi["})
    EXPECT_NE(result.code.find(call), std::string::npos) << call << "\n" << result.code;
}

// zeroMajor writes over its collected input when no later node reads it,
// and copies it first when one does.
TEST(ElementwiseThreePaths, ZeroMajorOverwritesOrCopies) {
  auto alone = [](auto const& in) {
    using S = ScalarOf<decltype(in)>;
    std::vector<S> A = in.doubles(0, 12);
    auto flags = ints(in, 0, 3);
    vm::zeroMajor(3, 4, flags.data(), A.data());
    return A;
  };
  auto shared = [](auto const& in) {
    using S = ScalarOf<decltype(in)>;
    std::vector<S> A = in.doubles(0, 12), zeroed = A, negated(12);
    auto flags = ints(in, 0, 3);
    vm::zeroMajor(3, 4, flags.data(), zeroed.data());
    vm::vectorNegate(12, A.data(), negated.data());  // reads the same collect afterwards
    zeroed.insert(zeroed.end(), negated.begin(), negated.end());
    return zeroed;
  };
  std::vector<Case> cases = randomCases(12, {{0, 0, 0}, {1, 0, 0}, {0, -3, 1}, {5, 7, 9}});
  cases[0].doubles[2] = -0.0;
  auto overwritten = checkThreePaths(alone, cases);
  EXPECT_NE(overwritten.code.find("zeroMajor(3, 4, "), std::string::npos) << overwritten.code;
  EXPECT_EQ(vela::test::occurrences(overwritten.code, "memcpy("), 0u) << overwritten.code;
  auto copied = checkThreePaths(shared, cases);
  EXPECT_EQ(vela::test::occurrences(copied.code, "memcpy("), 1u) << copied.code;
  EXPECT_NE(copied.code.find(", 12 * sizeof(double));"), std::string::npos) << copied.code;
}

// In-place kernels in a chain, each on the previous node's output: every
// link may write over its predecessor's storage.
TEST(ElementwiseThreePaths, InPlaceChain) {
  auto compute = [](auto const& in) {
    using S = ScalarOf<decltype(in)>;
    std::vector<S> A = in.doubles(0, 12), negated(12);
    auto flags = ints(in, 0, 3), indices = ints(in, 3, 4);
    vm::vectorNegate(12, A.data(), negated.data());
    vm::zeroMajor(3, 4, flags.data(), negated.data());
    vm::reduceMatrix(3, 4, in.i(7), indices.data(), negated.data());
    vm::submatrixAssign(2, 4, 1, 3, 0, 3, A.data(), negated.data());
    return negated;
  };
  auto result = checkThreePaths(compute, randomCases(12, {{1, 0, 1, 1, 3, 0, 0, 2},
                                                          {0, 0, 0, 0, 1, 2, 3, 4},
                                                          {1, 1, 1, 2, 0, 0, 0, 1}}));
  EXPECT_EQ(vela::test::occurrences(result.code, "memcpy("), 0u) << result.code;
}

TEST(ElementwiseThreePaths, ReduceAndExpand) {
  auto compute = [](auto const& in) {
    using S = ScalarOf<decltype(in)>;
    // 3 by 4 maxima: m, n, k, then four column indices.
    std::vector<S> A = in.doubles(0, 12), fixed = A;
    auto m = in.i(0), n = in.i(1), k = in.i(2);
    auto indices = ints(in, 3, 4);
    vm::reduceMatrixDynamicSize(3, 4, m, n, k, indices.data(), A.data());
    vm::reduceMatrix(3, 4, k, indices.data(), fixed.data());
    std::vector<S> out;
    appendMasked(out, A, m * n);
    out.insert(out.end(), fixed.begin(), fixed.end());
    // Expansion of the first k entries to the same positions of a 4-vector.
    std::vector<S> v = in.doubles(12, 4);
    vm::expandVector(4, k, indices.data(), v.data());
    out.insert(out.end(), v.begin(), v.end());
    return out;
  };
  auto result = checkThreePaths(compute, randomCases(16, {{3, 4, 2, 1, 3, 0, 0},
                                                          {2, 4, 4, 0, 1, 2, 3},
                                                          {3, 3, 0, 0, 0, 0, 0},
                                                          {1, 4, 3, 0, 2, 3, 0},
                                                          {3, 4, 2, 3, 9, 0, 0},
                                                          {3, 4, 2, 2, 1, 0, 0}}));
  EXPECT_NE(result.code.find("], vela_rt_d2i(in[18]), "), std::string::npos) << result.code;
  EXPECT_NE(result.code.find("reduceMatrix(spi["), std::string::npos);
  EXPECT_NE(result.code.find("reduceMatrix(3, 4, vela_rt_d2i(in[18]), "), std::string::npos);
  // Both reductions read one collect of A, so the first copies the actual m * n elements.
  EXPECT_NE(result.code.find("]) * (size_t)(spi["), std::string::npos);
  EXPECT_NE(result.code.find("]) * sizeof(double));"), std::string::npos);
  EXPECT_NE(result.code.find("expandVector(4, vela_rt_d2i(in[18]), "), std::string::npos);
}

TEST(ElementwiseThreePaths, SubmatrixAssign) {
  auto compute = [](auto const& in) {
    using S = ScalarOf<decltype(in)>;
    // Source 4 rows by 3 columns, destination stride 5 by 3 columns.
    std::vector<S> src = in.doubles(0, 12), dst = in.doubles(12, 15), fixed = dst;
    vm::submatrixAssignDynamicSize(12, 15, in.i(0), in.i(1), in.i(2), in.i(3), in.i(4), in.i(5),
                                   src.data(), dst.data());
    vm::submatrixAssign(2, 3, 1, 4, 3, 5, src.data(), fixed.data());
    std::vector<S> out = dst;
    out.insert(out.end(), fixed.begin(), fixed.end());
    return out;
  };
  // rows, cols, srcOffset, srcStride, dstOffset, dstStride
  auto result = checkThreePaths(compute, randomCases(27, {{2, 3, 1, 4, 3, 5},
                                                          {4, 3, 0, 4, 0, 5},
                                                          {1, 1, 3, 4, 4, 5},
                                                          {0, 3, 0, 4, 0, 5},
                                                          {3, 2, 1, 4, 2, 5}}));
  EXPECT_NE(result.code.find("submatrixAssign(spi["), std::string::npos) << result.code;
  EXPECT_NE(result.code.find("submatrixAssign(2, 3, 1, 4, 3, 5, "), std::string::npos);
  // dst is read again by the fixed-size call, so the first call copies it.
  EXPECT_NE(result.code.find(", 15 * sizeof(double));"), std::string::npos);
}
