#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// The mode tags and traced types of the library, under vela::math.

#include "kelm_math/comp_trace/Evaluation.hpp"
#include "kelm_math/comp_trace/Functions.hpp"
#include "kelm_math/comp_trace/ModeTypes.hpp"
#include "kelm_math/comp_trace/Modes.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"

namespace vela::math {

using kelm_math::comp_trace::BindingSet;
using kelm_math::comp_trace::Numeric;
using kelm_math::comp_trace::Traced;
using kelm_math::comp_trace::TracedValue;

/// The scalar, count and predicate types of a mode: double, int, bool in
/// Numeric; TracedValue<double>, TracedValue<int>, TracedValue<bool> in Traced.
///@{
template <class Mode>
using Scalar = kelm_math::comp_trace::DoubleOf<Mode>;
template <class Mode>
using Integer = kelm_math::comp_trace::IntOf<Mode>;
template <class Mode>
using Boolean = kelm_math::comp_trace::BoolOf<Mode>;
///@}

}  // namespace vela::math

#pragma GCC visibility pop
