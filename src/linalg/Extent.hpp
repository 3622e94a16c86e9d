#pragma once

#include <cstddef>

namespace vela::math::linalg {

/// True when an m by n matrix of non-negative sizes fits in `count`
/// elements. Nodes check sizes read at evaluation this way, so that sizes
/// beyond the maxima leave the result as it is instead of reaching past
/// the collected elements.
inline bool fitsIn(long long m, long long n, std::size_t count) {
  return m >= 0 && n >= 0 && m * n <= static_cast<long long>(count);
}

}  // namespace vela::math::linalg
