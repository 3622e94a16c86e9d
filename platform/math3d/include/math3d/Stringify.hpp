#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// Display text of numbers and of the 3-D types, as script text.

#include <string>

#include "math3d/Scalar.hpp"

namespace math3d {

/// The shortest decimal text that reads back (strtod) to the same double,
/// e.g. "1", "0.1", "-0", "1e+300", "4.9406564584124654e-324" is written
/// "5e-324". Infinities are "Inf" and "-Inf"; every NaN is "NaN" (strtod
/// reads all three back; a NaN's sign and payload are not kept).
std::string stringify(double x);

/// A constant writes exactly the text of stringify(double). Any other value
/// writes a short readable expression of its graph: inputs by name, constants
/// as above, + - * / as parenthesised infix, other nodes as Name(args) after
/// their description; nodes deeper than four levels are written "...".
std::string stringify(TracedValue<double> const& x);

namespace detail {
/// "[" v[0] sep v[1] sep ... "]" with every element through stringify.
template <class R>
std::string bracketed(R const* v, int n, char const* sep) {
  std::string text = "[";
  for (int i = 0; i < n; ++i) {
    if (i > 0) text += sep;
    text += stringify(v[i]);
  }
  return text + "]";
}
}  // namespace detail

}  // namespace math3d

#pragma GCC visibility pop
