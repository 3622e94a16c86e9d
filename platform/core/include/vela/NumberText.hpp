#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// Locale-independent text of numbers: decimal integers and round-tripping doubles.

#include <string>

/// The engine's namespace: the core utilities (exception base, number text),
/// the dense matrix vela::Matrix and the library vela::math.
namespace vela {

/// Decimal text of an integer: an optional '-' and digits, without grouping
/// or padding. Written by std::to_chars, so the text is the same under every
/// C and C++ locale (generated code depends on that).
///@{
std::string decimalText(long long value);
std::string decimalText(unsigned long long value);
inline std::string decimalText(int value) { return decimalText(static_cast<long long>(value)); }
inline std::string decimalText(unsigned value) {
  return decimalText(static_cast<unsigned long long>(value));
}
inline std::string decimalText(unsigned long value) {
  return decimalText(static_cast<unsigned long long>(value));
}
///@}

/// Text of x as printf's "%.17g" writes it in the C locale (so it reads back
/// exactly), whatever the process locale. No special handling of NaN or Inf.
std::string roundTripText(double x);

}  // namespace vela

#pragma GCC visibility pop
