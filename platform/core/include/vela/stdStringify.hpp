#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// vela::stdStringify, the decimal text of an unsigned number.

#include <string>

namespace vela {

/// Decimal text of an unsigned number, without sign, grouping or padding
/// ("0", "42", "4294967295").
std::string stdStringify(unsigned long long value);

}  // namespace vela

#pragma GCC visibility pop
