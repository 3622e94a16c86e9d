#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// Derivatives of traced computations (jvp, vjp, Jacobians, gradients, Hessians) as traced values.

#include <cstddef>
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
  /// The error with reason, a text naming what could not be differentiated.
  explicit DerivativeError(std::string const& reason);
  /// Text naming the class and the reason.
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

/// Which entries of an m x n Jacobian may be nonzero, in compressed row
/// storage: the columns of row i are indices[offsets[i]] up to (not
/// including) indices[offsets[i + 1]], ascending; offsets has rows + 1
/// entries, from 0 to indices.size().
struct SparsityPattern {
  /// Number of rows (m, the outputs) and of columns (n, the inputs).
  ///@{
  std::size_t rows = 0, columns = 0;
  ///@}
  std::vector<std::size_t> offsets{0};  ///< Where each row's entries start in indices.
  std::vector<std::size_t> indices;     ///< The column of each entry, row after row.
};

/// The pattern of jacobian(outputs, inputs): (i, j) when a path that carries
/// derivatives leads from inputs[j] to outputs[i]. Exact for scalar nodes (a
/// function of zero derivative, floor or a comparison, cuts the path); a
/// kernel node counts each of its outputs as depending on all of its inputs.
/// DerivativeError for an entry of inputs that is not an input value or
/// repeats one.
SparsityPattern jacobianSparsity(std::vector<TracedDouble> const& outputs,
                                 std::vector<TracedDouble> const& inputs);

/// A Jacobian in the compressed form of its pattern: values[k] is the entry
/// in pattern.indices[k]'s column of the row whose range holds k. `sweeps`
/// is the number of sweeps it took, forward ones (one per group of columns
/// that share no row) when `forward`, else reverse ones (one per group of
/// rows that share no column), whichever are fewer (ties: forward).
struct SparseJacobian {
  SparsityPattern pattern;           ///< The entries that may be nonzero.
  std::vector<TracedDouble> values;  ///< One value per entry of pattern, in its order.
  std::size_t sweeps = 0;            ///< Number of sweeps taken.
  bool forward = true;               ///< True for forward sweeps, false for reverse ones.
};

/// The Jacobian of outputs with respect to inputs, compressed: its cost
/// grows with the number of groups of columns (or rows) rather than with n
/// (or m). Each value has the bits that a sweep seeding its column (or row)
/// alone gives. DerivativeError as jacobianSparsity, and for a node class
/// without a derivative rule.
SparseJacobian sparseJacobian(std::vector<TracedDouble> const& outputs,
                              std::vector<TracedDouble> const& inputs);

/// The m x n Jacobian of m outputs with respect to n inputs, row-major:
/// element (i, j) at i * n + j; sparseJacobian spread out, with exact
/// constant zeros outside the pattern. DerivativeError as sparseJacobian.
std::vector<TracedDouble> jacobian(std::vector<TracedDouble> const& outputs,
                                   std::vector<TracedDouble> const& inputs);

/// The gradient of a scalar f (one reverse sweep).
std::vector<TracedDouble> gradient(TracedDouble const& f, std::vector<TracedDouble> const& inputs);

/// The n x n Hessian of a scalar f, row-major: the Jacobian of its gradient
/// (forward over reverse). Symmetric up to rounding.
std::vector<TracedDouble> hessian(TracedDouble const& f, std::vector<TracedDouble> const& inputs);

}  // namespace kelm_math::comp_trace

#pragma GCC visibility pop
