#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// The value types of a mode: ModeTypes and its DoubleOf, IntOf and BoolOf aliases.

#include "kelm_math/comp_trace/Modes.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"

namespace kelm_math::comp_trace {

/// The value types of a mode: double, int and bool in Numeric;
/// TracedValue<double>, TracedValue<int> and TracedValue<bool> in Traced.
template <class Mode>
struct ModeTypes;
/// The value types of Numeric: the built-in types, computed at once.
template <>
struct ModeTypes<Numeric> {
  using Double = double;  ///< Real values.
  using Int = int;        ///< Integers: sizes, indices, counts.
  using Bool = bool;      ///< Conditions.
};
/// The value types of Traced: values that record the graph computing them.
template <>
struct ModeTypes<Traced> {
  using Double = TracedValue<double>;  ///< Real values.
  using Int = TracedValue<int>;        ///< Integers: sizes, indices, counts.
  using Bool = TracedValue<bool>;      ///< Conditions.
};

/// The real, integer and condition type of a mode: double, int, bool in
/// Numeric; TracedDouble, TracedInt, TracedBool in Traced.
///@{
template <class Mode>
using DoubleOf = typename ModeTypes<Mode>::Double;
template <class Mode>
using IntOf = typename ModeTypes<Mode>::Int;
template <class Mode>
using BoolOf = typename ModeTypes<Mode>::Bool;
///@}

}  // namespace kelm_math::comp_trace

#pragma GCC visibility pop
