#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// What a node class outside the trace library supplies so that jvp, vjp and
/// jacobian can differentiate through it: a forward and a reverse rule, found
/// through the Differentiable base. Rules are written with traced operations
/// and kernels, so derivatives are ordinary graphs.

#include <cstddef>
#include <vector>

#include "kelm_math/comp_trace/Operation.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"

namespace kelm_math::comp_trace {

/// Traced doubles in a row: the elements of a node's array input or output,
/// or their tangents and cotangents, as the rules take and return them.
using TracedArray = std::vector<TracedDouble>;

/// True when v is a constant zero (either sign): a derivative that no input
/// reaches. Rules skip terms with such factors.
bool isStructuralZero(TracedDouble const& v);

/// The node a rule differentiates, its inputs and its outputs as traced
/// values that read the node (shared, not copied).
class RuleArgs {
 public:
  /// The node being differentiated.
  Operation const& node() const { return *node_; }
  /// Scalar input i as an int (a size or an index) or a double;
  /// std::logic_error when the input is of another type.
  ///@{
  TracedInt size(std::size_t i) const;
  TracedDouble scalar(std::size_t i) const;
  ///@}
  /// The elements of array input i (a collect of doubles or ints).
  ///@{
  TracedArray array(std::size_t i) const;
  std::vector<TracedInt> intArray(std::size_t i) const;
  ///@}
  /// The first n elements of output j; a scalar node's value is output 0.
  TracedArray output(unsigned j, unsigned n) const;

 protected:
  /// The arguments of a rule for node; the derivative sweeps make them.
  explicit RuleArgs(OperationPtr node) : node_(std::move(node)) {}
  ~RuleArgs() = default;
  RuleArgs(RuleArgs const&) = delete;
  RuleArgs& operator=(RuleArgs const&) = delete;

 private:
  OperationPtr node_;
};

/// A forward rule's view: tangents of the inputs, and the outputs' tangents
/// it writes. An output tangent the rule leaves unwritten is zero.
class ForwardArgs : public RuleArgs {
 public:
  /// Tangent of double input i: one element for a scalar, one per element
  /// of an array; zeros when the input does not depend on any variable.
  virtual TracedArray tangent(std::size_t i) const = 0;
  /// True when every element of tangent(i) is a structural zero.
  virtual bool isZero(std::size_t i) const = 0;
  /// Storage of n zeros for output j's tangent, for the rule to fill.
  virtual TracedDouble* outputTangent(unsigned j, unsigned n) = 0;
  /// Output j's tangent set to values (its elements past them stay zero).
  void setOutputTangent(unsigned j, TracedArray const& values) {
    TracedDouble* out = outputTangent(j, static_cast<unsigned>(values.size()));
    for (std::size_t k = 0; k < values.size(); ++k) out[k] = values[k];
  }

 protected:
  /// The arguments of a forward rule for a node, as RuleArgs.
  using RuleArgs::RuleArgs;
  ~ForwardArgs() = default;
};

/// A reverse rule's view: cotangents of the outputs, and what the rule adds
/// to its inputs' cotangents.
class ReverseArgs : public RuleArgs {
 public:
  /// The first n elements of output j's cotangent (zeros where none).
  virtual TracedArray cotangent(unsigned j, unsigned n) const = 0;
  /// True when output j's cotangent is all structural zeros.
  virtual bool isZeroCotangent(unsigned j) const = 0;
  /// Adds to the cotangent of input i: one value for a scalar input, up to
  /// the array's length for an array input. Ignored for inputs that depend
  /// on no variable. The values are n at `values`, or a vector's elements.
  ///@{
  virtual void add(std::size_t i, TracedDouble const* values, std::size_t n) = 0;
  void add(std::size_t i, TracedArray const& values) { add(i, values.data(), values.size()); }
  ///@}

 protected:
  /// The arguments of a reverse rule for a node, as RuleArgs.
  using RuleArgs::RuleArgs;
  ~ReverseArgs() = default;
};

/// The rules of a node class. A class has them by deriving from
/// Differentiable as well as from Operation; it adds no virtual function,
/// only a pointer to rules shared by every node of the class.
class Differentiable {
 public:
  /// The two rules of a node class; neither may be null.
  struct Rules {
    /// Writes the outputs' tangents from the inputs' (see ForwardArgs).
    void (*forward)(Operation const& node, ForwardArgs& args);
    /// Adds the outputs' cotangents to the inputs' (see ReverseArgs).
    void (*reverse)(Operation const& node, ReverseArgs& args);
  };
  /// The class's rules as given at construction; null means none.
  Rules const* derivativeRules() const { return rules_; }

 protected:
  /// rules must outlive every node of the class (a static, usually). Null
  /// rules make differentiating through the node a DerivativeError.
  explicit Differentiable(Rules const* rules) : rules_(rules) {}

 private:
  Rules const* rules_;
};

}  // namespace kelm_math::comp_trace

#pragma GCC visibility pop
