// Derivative rules of the elementwise and layout kernels, fixed and over
// traced sizes below their maxima; predicates and index kernels give zeros.

#include "curves/IndexOfLowerBoundOp.hpp"
#include "kelm_math/comp_trace/Derivatives.hpp"
#include "linalg/LinalgTesting.hpp"
#include "support/Derivatives.hpp"

using namespace vela::test::linalg;
using vela::test::derivativeCase;

namespace {

// Points in [0.5, 2] (away from the zero factors of inverse scaling), one
// set per int vector.
std::vector<Case> points(std::size_t doubles, std::vector<std::vector<int>> const& ints) {
  std::vector<Case> all;
  for (auto const& i : ints) {
    auto some = vela::test::uniformPoints(doubles, 2, 0.5, 2.0, unsigned(all.size() + 3), i);
    all.insert(all.end(), some.begin(), some.end());
  }
  return all;
}

// The kernels' (masked) outputs z; for the bilinear kernels one output,
// the sum of z + (k + 1) z^2 / 8, so that their Hessians are checked too.
template <class F>
vela::test::DerivativeCase row(char const* name, F f, std::vector<Case> cases,
                               bool curved = false) {
  return derivativeCase(
      name,
      [f, curved](auto const& in) {
        using S = typename std::decay_t<decltype(in)>::Scalar;
        std::vector<S> z = f(in), y = {0.0};
        for (std::size_t k = 0; k < z.size(); ++k)
          y[0] = y[0] + z[k] + double(k + 1) / 8 * z[k] * z[k];
        return curved ? y : z;
      },
      std::move(cases));
}

#define TYPES                                                              \
  using S = typename std::decay_t<decltype(in)>::Scalar;                   \
  using I [[maybe_unused]] = typename std::decay_t<decltype(in)>::Integer; \
  std::vector<S> out

std::vector<vela::test::DerivativeCase> layoutCases() {
  return {
      row(
          "negate scale",
          [](auto const& in) {
            TYPES, a = in.doubles(0, 4), b(4);
            vm::vectorNegate(4, a.data(), b.data());
            vm::vectorScale(4, in.d(4), b.data(), a.data());
            out = b, append(out, a, 4);
            return out;
          },
          points(5, {{}}), true),
      row(
          "transposes",  // 2 by 3; i0 by i1 within 3 by 2
          [](auto const& in) {
            TYPES, A = in.doubles(0, 6), t(6), u(4), v(4);
            vm::transposeColMajor(2, 3, A.data(), t.data());
            vm::matrixTransposeAdd(2, A.data(), u.data());
            vm::matrixTransposeSubtract(2, &A[2], v.data());
            out = t, append(out, u, 4), append(out, v, 4);
            vm::transposeColMajorDynamicSize(3, 2, in.i(0), in.i(1), A.data(), t.data());
            appendMasked(out, t, in.i(0) * in.i(1));
            return out;
          },
          points(6, {{2, 1}, {1, 2}}), true),
      row(
          "shift columns",  // k = i0 of 3 columns; of i2 within 3 by 2 rows i1
          [](auto const& in) {
            TYPES, A = in.doubles(0, 6), t(6), u(6);  // Numeric leaves what no column fills
            vm::shiftColumns(2, 3, in.i(0), A.data(), t.data());
            vm::shiftColumnsDynamicSize(3, 2, in.i(1), in.i(2), in.i(0), A.data(), u.data());
            out = t, appendMasked(out, u, in.i(1) * in.i(2));
            return out;
          },
          points(6, {{1, 2, 2}, {2, 2, 2}})),
      row(
          "scale vectors",  // 2 by 2, then i0 by i1 within 2 by 2; each kind once
          [](auto const& in) {
            TYPES, A = in.doubles(0, 4), s = in.doubles(4, 2), t(4);
            vm::scaleColumns(2, 2, A.data(), s.data(), t.data());
            out = t;
            vm::inverseScaleRows(2, 2, A.data(), s.data(), t.data());
            append(out, t, 4);
            auto m = in.i(0), n = in.i(1);
            vm::inverseScaleColumnsDynamicSize(2, 2, m, n, A.data(), s.data(), t.data());
            appendMasked(out, t, m * n);
            vm::scaleRowsDynamicSize(2, 2, m, n, A.data(), s.data(), t.data());
            appendMasked(out, t, m * n);
            return out;
          },
          points(6, {{2, 1}, {1, 2}}), true),
      row(
          "in place",  // flags i0, i1; k = i2 copies of columns i3..i5, then of i6 by i7 in 2 by 3
          [](auto const& in) {
            TYPES, A = in.doubles(0, 6), B = A;
            std::vector<I> flags = {in.i(0), in.i(1)}, from = {in.i(3), in.i(4), in.i(5)};
            vm::zeroMajor(2, 3, flags.data(), A.data());
            vm::reduceMatrix(2, 3, in.i(2), from.data(), A.data());
            vm::reduceMatrixDynamicSize(2, 3, in.i(6), in.i(7), in.i(2), from.data(), B.data());
            out = A, appendMasked(out, B, in.i(6) * in.i(7));
            return out;
          },
          points(6, {{1, 0, 3, 2, 0, 9, 1, 3}, {0, 1, 2, 1, 1, 0, 2, 2}})),
      row(
          "expand vector",  // the first i0 of 5 entries to i1..i5; then 3 to 0, 4, 2
          [](auto const& in) {
            TYPES, v = in.doubles(0, 5), u = v;
            std::vector<I> to = {in.i(1), in.i(2), in.i(3), in.i(4), in.i(5)},
                           fixed = {0, 4, 2, 0, 0};
            vm::expandVector(5, in.i(0), to.data(), v.data());
            vm::expandVector(5, I(3), fixed.data(), u.data());
            out = v, append(out, u, 5);
            return out;
          },
          points(5, {{3, 0, 2, 3, 0, 0}, {2, 1, 1, 0, 0, 0}, {6, 0, 1, 2, 3, 4}})),
      row(
          "submatrix assign",  // rows, cols, offsets and strides i0..i5, then constants
          [](auto const& in) {
            TYPES, src = in.doubles(0, 6), dst = in.doubles(6, 6), fixed = dst, overlap = dst;
            vm::submatrixAssign(2, 2, 1, 3, 0, 3, src.data(), fixed.data());
            vm::submatrixAssignDynamicSize(6, 6, in.i(0), in.i(1), in.i(2), in.i(3), in.i(4),
                                           in.i(5), src.data(), dst.data());
            vm::submatrixAssignDynamicSize(6, 6, I(3), I(2), I(0), I(1), I(1), I(2), src.data(),
                                           overlap.data());
            out = fixed, append(out, dst, 6), append(out, overlap, 6);
            return out;
          },
          points(12, {{2, 2, 0, 3, 1, 3}, {3, 2, 0, 1, 1, 2}, {2, 3, 0, 0, 3, 0}})),
  };
}

TEST(LayoutDerivatives, EveryKernelRule) {
  for (auto const& c : layoutCases()) vela::test::checkDerivatives(c);
}

TEST(LayoutDerivatives, PredicatesAndIndicesGiveFoldedZeros) {
  vela::test::Inputs<vm::Traced> in(4, 0);
  std::vector<ct::TracedDouble> x = in.doubles(0, 4);
  std::vector<ct::TracedInt> flags, at(4);
  for (auto const& v : x) flags.push_back(ct::TracedInt(v > 1.0));
  vm::computeIndicesNonzeroElements(4, flags.data(), at.data());
  ct::TracedDouble y =
      ct::TracedDouble(vm::anyIsInf(4, x.data())) + ct::TracedDouble(vm::anyIsNaN(4, x.data())) +
      ct::TracedDouble(vm::hasUniqueRows(2, 2, x.data(), nullptr)) + ct::TracedDouble(at[1]) +
      ct::TracedDouble(vm::indexOfLowerBound(4, x.data(), x[0]));
  std::vector<ct::TracedDouble> derivatives = ct::gradient(y, x),
                                tangent = ct::jvp({y}, x, {1.0, 2.0, 3.0, 4.0});
  derivatives.insert(derivatives.end(), tangent.begin(), tangent.end());
  for (auto const& d : derivatives) EXPECT_TRUE(d.equalConstant(0.0));
}

}  // namespace
