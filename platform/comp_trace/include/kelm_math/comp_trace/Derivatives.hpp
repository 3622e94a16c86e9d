#pragma once

#include <string>
#include <vector>

#include "kelm_math/comp_trace/TracedValue.hpp"
#include "vela/Exception.hpp"

namespace kelm_math::comp_trace {

/// Thrown when a derivative cannot be formed: an entry of `inputs` that is
/// not an input value, lengths that do not match, or a node class without a
/// derivative rule. what() is "comp_trace DerivativeError: " and the reason.
class DerivativeError : public vela::Exception {
 public:
  explicit DerivativeError(std::string const& reason);
  const char* what() const noexcept override;

 private:
  std::string message_;
};

// Derivatives are traced values like any other: they fold where everything
// is constant, evaluate against a BindingSet, run in a Tape and generate C,
// and they share the nodes of the computation they differentiate.
//
// `inputs` are values made by TracedDouble::input(name), each name at most
// once; every input node of that name in the graph is differentiated as the
// same variable. Outputs that do not depend on an input give exact zeros.
// Where a function is not differentiable the rule takes a documented
// one-sided value: see each function in Functions.hpp.
//
// Each pass walks the graph with explicit stacks, so graphs of any depth
// differentiate; shared nodes are visited once.

/// Forward mode: element i is sum over j of d outputs[i] / d inputs[j] *
/// tangents[j]. DerivativeError when tangents and inputs differ in length.
std::vector<TracedDouble> jvp(std::vector<TracedDouble> const& outputs,
                              std::vector<TracedDouble> const& inputs,
                              std::vector<TracedDouble> const& tangents);

/// Reverse mode: element j is sum over i of cotangents[i] * d outputs[i] /
/// d inputs[j]. DerivativeError when cotangents and outputs differ in length.
std::vector<TracedDouble> vjp(std::vector<TracedDouble> const& outputs,
                              std::vector<TracedDouble> const& inputs,
                              std::vector<TracedDouble> const& cotangents);

/// The m x n Jacobian of m outputs with respect to n inputs, row-major:
/// element (i, j) at i * n + j. One forward sweep per input when n <= m,
/// one reverse sweep per output otherwise.
std::vector<TracedDouble> jacobian(std::vector<TracedDouble> const& outputs,
                                   std::vector<TracedDouble> const& inputs);

/// The gradient of a scalar f (one reverse sweep).
std::vector<TracedDouble> gradient(TracedDouble const& f, std::vector<TracedDouble> const& inputs);

/// The n x n Hessian of a scalar f, row-major: the Jacobian of its gradient
/// (forward over reverse). Symmetric up to rounding.
std::vector<TracedDouble> hessian(TracedDouble const& f, std::vector<TracedDouble> const& inputs);

}  // namespace kelm_math::comp_trace
