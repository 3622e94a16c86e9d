#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// Storage-size arithmetic that throws instead of wrapping around.

#include <cstddef>
#include <limits>
#include <stdexcept>

namespace vela {

/// a * b as a storage size, or std::length_error with the text `what` when
/// the product does not fit in size_t (it would wrap to a small size).
inline std::size_t checkedProduct(std::size_t a, std::size_t b, char const* what) {
  if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) throw std::length_error(what);
  return a * b;
}

}  // namespace vela

#pragma GCC visibility pop
