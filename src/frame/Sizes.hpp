#pragma once

#include <cstddef>

#include "kelm_math/comp_trace/TracedValue.hpp"

namespace vela::math::frame {

/// The constant traced size of a fixed-size kernel call.
inline kelm_math::comp_trace::TracedInt constantSize(unsigned n) {
  return kelm_math::comp_trace::TracedInt(static_cast<int>(n));
}

/// True when `need` elements (a count computed from sizes read at
/// evaluation) are non-negative and at most `have`. The front ends clamp
/// sizes into range; nodes check them again this way, so that a node built
/// over other inputs leaves its result as it is instead of reaching past the
/// collected elements.
inline bool fits(long long need, std::size_t have) {
  return need >= 0 && static_cast<unsigned long long>(need) <= have;
}

/// True when an m by n matrix of non-negative sizes fits in `count` elements.
inline bool fitsIn(long long m, long long n, std::size_t count) {
  return m >= 0 && n >= 0 && fits(m * n, count);
}

}  // namespace vela::math::frame
