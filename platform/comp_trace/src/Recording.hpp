#pragma once

// Folding and recording of scalar functions, shared by the operators and
// the scalar functions of the trace library.

#include <array>
#include <memory>

#include "ScalarNodes.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"

namespace kelm_math::comp_trace::detail {

template <class T>
T valueAs(ScalarValue const& v) {
  if constexpr (std::is_same_v<T, double>)
    return v.doubleValue();
  else if constexpr (std::is_same_v<T, int>)
    return v.intValue();
  else
    return v.boolValue();
}

/// fn over the arguments (TracedValues): a constant when all are
/// constants, else one node, which takes over the nodes of rvalue arguments.
template <class R, class... A>
TracedValue<R> call(Fn fn, ScalarType operand, A&&... args) {
  if ((args.isConstant() && ...)) {
    std::array<ScalarValue, sizeof...(A)> constants;
    std::size_t i = 0;
    auto take = [&](auto const& arg) {
      typename std::decay_t<decltype(arg)>::value_type c{};
      arg.getConstant(c);
      constants[i++] = ScalarValue(c);
    };
    (take(args), ...);
    return TracedValue<R>(valueAs<R>(apply(fn, operand, constants.data())));
  }
  return TracedValue<R>(ScalarOperationPtr(std::make_shared<FunctionOp>(
      fn, operand, std::array<OperationPtr, sizeof...(A)>{std::forward<A>(args).operation()...})));
}

/// Structural equality of two graphs, visiting each pair of nodes once.
bool operationallyEqual(Operation const& a, Operation const& b);

}  // namespace kelm_math::comp_trace::detail
