#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// The rule for actual sizes of DynamicSize kernels that lie outside
/// [0, maximum]. Such a size is clamped into that range before the kernel
/// runs, identically in every path: the Numeric forms, folding, evaluation of
/// a trace and generated C (where a size is a runtime input, so the clamp is
/// what keeps every read and write inside the arrays). Values bounded by
/// other values are clamped to those bounds too: the strided product's m to
/// min(lda, ldc) and k to min(kMax, ldb). submatrixAssign clamps each of its
/// values to [0, maximum] and then copies nothing when the block still
/// reaches past srcMax or dstMax elements.

#include <algorithm>
#include <climits>

#include "kelm_math/comp_trace/Functions.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"

namespace vela::math {

/// n clamped to [0, max] (a Numeric size is never negative).
inline unsigned clampSize(unsigned n, unsigned max) { return std::min(n, max); }
/// Traced n clamped to [0, max]; folds when n is a constant. A maximum above
/// INT_MAX counts as INT_MAX.
kelm_math::comp_trace::TracedInt clampSize(kelm_math::comp_trace::TracedInt const& n, unsigned max);
/// Traced n clamped to [0, max] for a traced bound max >= 0.
kelm_math::comp_trace::TracedInt clampSize(kelm_math::comp_trace::TracedInt const& n,
                                           kelm_math::comp_trace::TracedInt const& max);

/// Implementation details, not part of the API.
namespace detail {

/// The smaller of a and b, of either mode.
///@{
inline unsigned smaller(unsigned a, unsigned b) { return std::min(a, b); }
inline kelm_math::comp_trace::TracedInt smaller(kelm_math::comp_trace::TracedInt const& a,
                                                kelm_math::comp_trace::TracedInt const& b) {
  return kelm_math::comp_trace::min(a, b);
}
///@}
/// max as a constant traced bound; a maximum above INT_MAX counts as INT_MAX.
inline kelm_math::comp_trace::TracedInt boundAsTraced(unsigned max) {
  return kelm_math::comp_trace::TracedInt(static_cast<int>(std::min(max, unsigned(INT_MAX))));
}
/// c ? a : b of either mode (a traced condition records a ternary).
///@{
inline unsigned select(bool c, unsigned a, unsigned b) { return c ? a : b; }
inline kelm_math::comp_trace::TracedInt select(kelm_math::comp_trace::TracedBool const& c,
                                               kelm_math::comp_trace::TracedInt const& a,
                                               kelm_math::comp_trace::TracedInt const& b) {
  return kelm_math::comp_trace::ternary(c, a, b);
}
///@}

/// Values of the strided product, clamped (I is unsigned or TracedInt).
template <class I>
struct StridedSizes {
  I m;    ///< rows of A and of the result
  I k;    ///< columns of A, rows of B
  I n;    ///< columns of B and of the result
  I lda;  ///< leading dimension of A
  I ldb;  ///< leading dimension of B
  I ldc;  ///< leading dimension of the result
};

/// The strided product's values clamped: each leading dimension to its
/// maximum, m to min(lda, ldc), k to min(kMax, ldb), n to nMax.
template <class I, class Max>
StridedSizes<I> clampStrided(Max kMax, Max nMax, Max ldaMax, Max ldbMax, Max ldcMax, I const& m,
                             I const& k, I const& n, I const& lda, I const& ldb, I const& ldc) {
  StridedSizes<I> s{
      m, k, n, clampSize(lda, ldaMax), clampSize(ldb, ldbMax), clampSize(ldc, ldcMax)};
  s.m = clampSize(m, smaller(s.lda, s.ldc));
  s.k = smaller(clampSize(k, kMax), s.ldb);
  s.n = clampSize(n, nMax);
  return s;
}

/// Values of submatrixAssign: rows, cols, srcOffset, srcStride, dstOffset,
/// dstStride.
template <class I>
struct BlockSizes {
  I v[6];  ///< the six values, in the order above
};

/// True when a rows by cols block at offset with leading dimension stride
/// lies within max elements; all values lie in [0, max]. Written without
/// overflow, and without a division by zero where && and || short-circuit.
template <class I>
auto blockFits(I const& rows, I const& cols, I const& offset, I const& stride, I const& max) {
  I room = max - offset;
  return rows <= room && (cols <= I(1) || stride == I(0) || cols - I(1) <= (room - rows) / stride);
}

/// submatrixAssign's values clamped: rows and cols to min(srcBound,
/// dstBound), the source offset and stride to srcMax, the destination ones to
/// dstMax; all six become 0 when the block then still reaches past srcBound
/// source or dstBound destination elements. The bounds are srcMax and dstMax
/// in the mode of I.
template <class I, class Max>
BlockSizes<I> clampBlock(Max srcMax, Max dstMax, BlockSizes<I> const& in, I const& srcBound,
                         I const& dstBound) {
  I common = smaller(srcBound, dstBound);
  BlockSizes<I> s{{clampSize(in.v[0], common), clampSize(in.v[1], common),
                   clampSize(in.v[2], srcMax), clampSize(in.v[3], srcMax),
                   clampSize(in.v[4], dstMax), clampSize(in.v[5], dstMax)}};
  auto fits = blockFits(s.v[0], s.v[1], s.v[2], s.v[3], srcBound) &&
              blockFits(s.v[0], s.v[1], s.v[4], s.v[5], dstBound);
  for (I& value : s.v) value = select(fits, value, I(0));
  return s;
}

}  // namespace detail
}  // namespace vela::math

#pragma GCC visibility pop
