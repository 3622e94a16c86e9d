#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// BindingSet, the evaluation of traced values against bound inputs, and
/// UnboundInput, its error for an input without a value.

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "kelm_math/comp_trace/Operation.hpp"
#include "vela/Exception.hpp"

namespace kelm_math::comp_trace {

// Defined and used inside the library only.
#pragma GCC visibility push(hidden)
namespace detail {
struct EvaluationMemo;
}
#pragma GCC visibility pop

/// Thrown when an input node is evaluated, or turned into C, without a value
/// or an argument position. what() is "comp_trace UnboundInput: " and the name.
class UnboundInput : public vela::Exception {
 public:
  /// The error for the input named name.
  explicit UnboundInput(std::string const& name);
  /// Text naming the class and the input.
  const char* what() const noexcept override;
  /// Name of the input that had no value or position.
  std::string const& name() const { return name_; }

 private:
  std::string name_;
  std::string message_;
};

/// Values of named inputs, and a memo of evaluated nodes. Evaluating several
/// values against one set evaluates every distinct node once: each
/// evaluation plans only the nodes not evaluated yet, in the flat form a
/// Tape runs, and reads each input's binding once. A bind() of an input no
/// evaluated node reads keeps the memo. Rebinding one that is read drops
/// it the first time; from then on the set keeps its plan, and the next
/// evaluation runs every planned step again with the new values (so the
/// first evaluation of a set plans without keeping its steps, and a set
/// rebound again and again plans once). The memo keeps the evaluated nodes
/// alive while it lasts. A set is not safe to evaluate against from two
/// threads at once.
class BindingSet {
 public:
  BindingSet();
  ~BindingSet();
  /// Copyable and movable: the bindings are copied or moved, the memo is
  /// not (the target starts an empty one, and a moved-from set is left
  /// without one, its bindings valid but unspecified).
  ///@{
  BindingSet(BindingSet const& other);
  BindingSet& operator=(BindingSet const& other);
  BindingSet(BindingSet&&) noexcept;
  BindingSet& operator=(BindingSet&&) noexcept;
  ///@}

  /// Binds (or rebinds) an input; an input of another type reads the value
  /// converted as the traced conversions convert.
  ///@{
  void bind(std::string const& name, double value);
  void bind(std::string const& name, int value);
  void bind(std::string const& name, bool value);
  ///@}
  /// True when a value is bound to name.
  bool isBound(std::string const& name) const;
  /// The bound value; UnboundInput when there is none.
  ScalarValue const& value(std::string const& name) const;

  /// Values of every output of op (a vector node).
  std::vector<VectorValue> evaluateVector(OperationPtr const& op) const;
  /// Value of a scalar node.
  ScalarValue evaluateScalar(OperationPtr const& op) const;

 private:
  detail::EvaluationMemo& memo_() const;
  void bind_(std::string const& name, ScalarValue const& value);

  // Hashed: a graph of many inputs binds and reads each of them per evaluation.
  std::unordered_map<std::string, ScalarValue> values_;
  mutable std::unique_ptr<detail::EvaluationMemo> memo_ptr_;
  bool keepSteps_ = false;  // rebound after an evaluation: memos keep their steps
};

}  // namespace kelm_math::comp_trace

#pragma GCC visibility pop
