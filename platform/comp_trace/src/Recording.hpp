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

template <class V>
ScalarValue constantOf(V const& v) {
  typename V::value_type c{};
  v.getConstant(c);
  return ScalarValue(c);
}

template <class V>
OperationPtr nodeOrNull(V&& v) {
  return v.isConstant() ? nullptr : OperationPtr(std::forward<V>(v).operation());
}

/// Makes the node of a function on the heap, each node apart.
struct OnTheHeap {
  template <std::size_t N>
  ScalarOperationPtr operator()(Fn fn, ScalarType operand,
                                std::array<OperationPtr, N>&& inputs) const {
    return std::make_shared<FunctionOp>(fn, operand, std::move(inputs));
  }
};

/// fn over the arguments (TracedValues): a constant when all are
/// constants, else one node, made by `make` (as OnTheHeap), which takes
/// over the nodes of rvalue arguments.
template <class R, class Make, class... A>
TracedValue<R> callWith(Make const& make, Fn fn, ScalarType operand, A&&... args) {
  // Taken before the nodes of rvalue arguments move out below.
  std::array<ScalarValue, sizeof...(A)> constants{constantOf(args)...};
  if ((args.isConstant() && ...))
    return TracedValue<R>(valueAs<R>(apply(fn, operand, constants.data())));
  std::array<OperationPtr, sizeof...(A)> inputs{nodeOrNull(std::forward<A>(args))...};
  shareConstants(inputs.data(), constants.data(), inputs.size());
  return TracedValue<R>(make(fn, operand, std::move(inputs)));
}

template <class R, class... A>
TracedValue<R> call(Fn fn, ScalarType operand, A&&... args) {
  return callWith<R>(OnTheHeap{}, fn, operand, std::forward<A>(args)...);
}

/// Structural equality of two graphs, visiting each pair of nodes once.
bool operationallyEqual(Operation const& a, Operation const& b);

}  // namespace kelm_math::comp_trace::detail
