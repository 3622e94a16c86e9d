#pragma once

// The mode tags and traced types of the library, under vela::math.

#include "kelm_math/comp_trace/Evaluation.hpp"
#include "kelm_math/comp_trace/Functions.hpp"
#include "kelm_math/comp_trace/Modes.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"

namespace vela::math {

using kelm_math::comp_trace::BindingSet;
using kelm_math::comp_trace::Numeric;
using kelm_math::comp_trace::Traced;
using kelm_math::comp_trace::TracedValue;

/// The scalar, count and predicate types of a mode.
template <class Mode>
struct ModeTypes;
template <>
struct ModeTypes<Numeric> {
  using Scalar = double;
  using Integer = int;
  using Boolean = bool;
};
template <>
struct ModeTypes<Traced> {
  using Scalar = TracedValue<double>;
  using Integer = TracedValue<int>;
  using Boolean = TracedValue<bool>;
};
template <class Mode>
using Scalar = typename ModeTypes<Mode>::Scalar;
template <class Mode>
using Integer = typename ModeTypes<Mode>::Integer;
template <class Mode>
using Boolean = typename ModeTypes<Mode>::Boolean;

}  // namespace vela::math
