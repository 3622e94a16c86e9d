// Actual sizes beyond their maxima, or negative, through the three paths
// under the sanitizers: every DynamicSize kernel clamps them into
// [0, maximum] in Numeric, evaluation and generated C alike, so nothing
// reads or writes past its arrays and the defined outputs agree.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <type_traits>

#include "support/ThreePaths.hpp"
#include "vela/math.hpp"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using vela::test::Case;

namespace {

// A raw size as a DynamicSize form takes it: a Numeric size is unsigned,
// so a negative one stands for 0 there.
template <class I>
auto sz(I const& v) {
  if constexpr (std::is_same_v<I, int>)
    return static_cast<unsigned>(std::max(v, 0));
  else
    return v;
}

template <class S>
void append(std::vector<S>& out, std::vector<S> const& v, std::size_t count) {
  out.insert(out.end(), v.begin(), v.begin() + static_cast<long>(std::min(count, v.size())));
}

// Each family runs twice: raw sizes that clamp to the maxima (full = true)
// and raw sizes that clamp to 0. The first double inputs fill the arrays.
template <class Family>
void checkClamped(Family const& family, std::size_t doubles) {
  struct Run {
    bool full;
    std::vector<int> raws;
  };
  for (Run const& run : {Run{true, {INT_MAX, 1000, 13}}, Run{false, {-1, INT_MIN, 0}}}) {
    std::vector<Case> cases;
    unsigned seed = 5;
    for (int raw : run.raws) cases.push_back({vela::test::randomDoubles(doubles, seed++), {raw}});
    vela::test::checkThreePaths(family(run.full), cases);
  }
}

TEST(DynamicSizeClamp, ElementwiseAndLayout) {
  checkClamped(
      [](bool full) {
        return [full](auto const& in) {
          using S = typename std::decay_t<decltype(in)>::Scalar;
          using I = typename std::decay_t<decltype(in)>::Integer;
          auto r = sz(in.i(0));
          std::vector<S> A = in.doubles(0, 12), s = in.doubles(12, 4), out;
          std::vector<S> sum(4), diff(4), t(12), shifted(12), scaled(12), reduced = A, block = A;
          vm::vectorAddDynamicSize(4, r, A.data(), s.data(), sum.data());
          vm::vectorSubtractDynamicSize(4, r, A.data(), s.data(), diff.data());
          vm::transposeColMajorDynamicSize(3, 4, r, r, A.data(), t.data());
          vm::shiftColumnsDynamicSize(3, 4, r, r, I(2), A.data(), shifted.data());
          std::vector<S> byColumn(12), byRow(12), invColumn(12);
          vm::scaleColumnsDynamicSize(3, 4, r, r, A.data(), s.data(), byColumn.data());
          vm::inverseScaleColumnsDynamicSize(3, 4, r, r, A.data(), s.data(), invColumn.data());
          vm::scaleRowsDynamicSize(3, 4, r, r, A.data(), s.data(), byRow.data());
          vm::inverseScaleRowsDynamicSize(3, 4, r, r, A.data(), s.data(), scaled.data());
          std::vector<I> at = {I(2), I(0), I(3), I(1)};
          std::vector<S> spread = s;
          vm::expandVector(4, in.i(0), at.data(), spread.data());  // does nothing beyond [0, 4]
          std::vector<I> keep = {I(1), I(3), I(0), I(2)};
          vm::reduceMatrixDynamicSize(3, 4, r, r, I(2), keep.data(), reduced.data());
          vm::submatrixAssignDynamicSize(12, 12, r, r, r, r, r, r, in.doubles(4, 12).data(),
                                         block.data());
          std::size_t n = full ? 4 : 0, mn = full ? 12 : 0;
          append(out, sum, n);
          append(out, diff, n);
          append(out, t, mn);
          append(out, shifted, full ? 6 : 0);
          for (auto const* v : {&byColumn, &invColumn, &byRow, &scaled}) append(out, *v, mn);
          append(out, spread, 4);
          append(out, reduced, mn);  // the copy covers the actual m * n only
          append(out, block, 12);
          return out;
        };
      },
      16);
}

TEST(DynamicSizeClamp, Products) {
  checkClamped(
      [](bool full) {
        return [full](auto const& in) {
          using S = typename std::decay_t<decltype(in)>::Scalar;
          auto r = sz(in.i(0));
          std::vector<S> A = in.doubles(0, 12), B = in.doubles(12, 12), x = in.doubles(24, 4);
          std::vector<S> ab(9), atb(16), abt(9), strided(12), ax(3), atx(4), y = x, yt = x, out;
          vm::matrixMultiplyDynamicSize(3, 4, 3, r, r, r, A.data(), B.data(), ab.data());
          vm::matrixTransposeMultiplyDynamicSize(3, 4, 4, r, r, r, A.data(), B.data(), atb.data());
          vm::matrixMultiplyTransposeDynamicSize(3, 4, 3, r, r, r, A.data(), B.data(), abt.data());
          // m is bounded by lda and ldc, k by ldb.
          vm::matrixMultiplyStridedDynamicSize(4, 4, 3, 3, 3, r, r, r, r, r, r, A.data(), B.data(),
                                               strided.data());
          vm::matrixVectorMultiplyDynamicSize(3, 4, r, r, A.data(), x.data(), ax.data());
          vm::matrixTransposeVectorMultiplyDynamicSize(3, 4, r, r, A.data(), x.data(), atx.data());
          vm::addMatrixVectorProductDynamicSize(3, 4, r, r, A.data(), x.data(), y.data());
          vm::subtractMatrixTransposeVectorProductDynamicSize(3, 4, r, r, A.data(), x.data(),
                                                              yt.data());
          std::vector<S> z = x, zt = x;
          vm::subtractMatrixVectorProductDynamicSize(3, 4, r, r, A.data(), x.data(), z.data());
          vm::addMatrixTransposeVectorProductDynamicSize(3, 4, r, r, A.data(), x.data(), zt.data());
          append(out, ab, full ? 9 : 0);
          append(out, atb, full ? 16 : 0);
          append(out, abt, full ? 9 : 0);
          append(out, strided, full ? 12 : 0);
          append(out, ax, full ? 3 : 0);
          append(out, atx, full ? 4 : 0);
          // The copy of y before an update covers the actual count only.
          append(out, y, full ? 3 : 0);
          append(out, yt, full ? 4 : 0);
          append(out, z, full ? 3 : 0);
          append(out, zt, full ? 4 : 0);
          return out;
        };
      },
      28);
}

TEST(DynamicSizeClamp, Decompositions) {
  checkClamped(
      [](bool full) {
        return [full](auto const& in) {
          using S = typename std::decay_t<decltype(in)>::Scalar;
          using I = typename std::decay_t<decltype(in)>::Integer;
          auto r = sz(in.i(0));
          std::vector<S> A = in.doubles(0, 9), b = in.doubles(9, 3), B(9), out;
          for (int i = 0; i < 3; ++i) B[4 * i] = S(3.0);  // SPD
          std::vector<S> work(kelm_math_lin_alg_eigReqdRealWorkSize(3) + 64);
          std::vector<I> iwork(kelm_math_lin_alg_eigReqdInt32WorkSize(3) + 1);
          std::vector<S> re(3), im(3), vre(9), vim(9), V(9), s(2), U(9), W(4), x(2), y(2);
          vm::eigDynamicSize(3, r, A.data(), B.data(), re.data(), im.data(), vre.data(), vim.data(),
                             work.data(), iwork.data());
          std::vector<S> Q = A;
          auto flag = vm::orthonormalizeRealEigenvectorsWrtSpdBDynamicSize(3, r, B.data(), Q.data(),
                                                                           work.data());
          vm::svdDynamicSize(3, 2, r, r, A.data(), 1, s.data(), U.data(), W.data(), work.data());
          auto rank = vm::svdComputeRankDynamicSize(3, 2, r, r, s.data(), S(1e-12));
          vm::svdSolveDynamicSize(3, 2, r, r, A.data(), b.data(), S(1e-12), x.data(), work.data());
          std::vector<S> s2(2), U2(6), W2(4);
          vm::svdDynamicSize(3, 2, r, r, A.data(), 0, s2.data(), U2.data(), W2.data(), work.data());
          auto solved =
              vm::svdSolveFromFactorizationDynamicSize(3, 2, r, r, s2.data(), U2.data(), W2.data(),
                                                       b.data(), S(1e-12), y.data(), work.data());
          std::size_t n = full ? 3 : 0;
          append(out, re, n);
          append(out, im, n);
          append(out, vre, n * n);
          append(out, vim, n * n);
          out.push_back(S(flag));
          append(out, Q, 9);  // in place
          append(out, s, full ? 2 : 0);
          append(out, U, full ? 9 : 0);
          append(out, W, full ? 4 : 0);
          out.push_back(S(rank));
          append(out, x, full ? 2 : 0);
          out.push_back(S(solved));
          append(out, y, full ? 2 : 0);
          return out;
        };
      },
      12);
}

}  // namespace
