#pragma once

// Derivatives of the trace library's scalar functions.

#include <array>

#include "ScalarNodes.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"

namespace kelm_math::comp_trace::detail {

/// How a function passes derivatives on: through partial derivatives, or by
/// selecting one operand's derivative (min, max, ternary).
enum class RuleShape { Zero, Partials, Select };

RuleShape ruleShape(Fn fn, ScalarType operand);

/// For a Select-shaped fn: the condition under which the derivative of input
/// `first` passes (else that of input first + 1).
TracedBool selectCondition(FunctionOp const& node, unsigned& first);

/// The partial derivatives of a Partials-shaped node with respect to each of
/// its inputs (zero for inputs not flagged in `wanted`).
std::array<TracedDouble, 2> partials(FunctionOp const& node, ScalarOperationPtr const& self,
                                     std::array<bool, 2> wanted);

/// t * p without recording where p is 1, -1 or 0 or t is zero.
TracedDouble scaled(TracedDouble const& t, TracedDouble const& p);
/// acc += v, skipping structural zeros.
void accumulate(TracedDouble& acc, TracedDouble const& v);

}  // namespace kelm_math::comp_trace::detail
