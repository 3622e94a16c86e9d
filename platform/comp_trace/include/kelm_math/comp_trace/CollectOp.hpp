#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// CollectOp, the node that gathers scalars into one vector output.

#include <string>

#include "kelm_math/comp_trace/TracedValue.hpp"

namespace kelm_math::comp_trace {

/// Gathers n scalar values into the one output of a vector node; array
/// arguments of kernels reach their nodes this way. In generated code a
/// collect of all elements 0..n-1 of one node output, in order, reuses that
/// storage instead of copying.
class CollectOp final : public VectorOperation {
 public:
  /// Collects values[0 .. n) (constants get nodes of their own). name
  /// labels the node in description(); collects that differ in it are
  /// different nodes. It may be empty.
  ///@{
  CollectOp(unsigned n, TracedDouble const* values, std::string name);
  CollectOp(unsigned n, TracedInt const* values, std::string name);
  CollectOp(unsigned n, TracedBool const* values, std::string name);
  ///@}

  OperationPtr clone() const override;
  /// "Collect" and, when the name is not empty, " [name]".
  std::string description() const override;
  std::string generateCode(GenerateCodeVisitor& visitor) const override;
  /// Orders by element type, count, then name.
  int compare_(Operation const& other) const override;
  void evaluate(NodeValues& values) const override;

  /// Type of the collected values; the output holds bools as ints 0 or 1.
  ScalarType elementType() const { return type_; }
  /// Number of values collected (n).
  unsigned size() const { return n_; }
  /// The label given at construction, possibly empty.
  std::string const& name() const { return name_; }

 private:
  CollectOp(CollectOp const&) = default;
  ScalarType type_;
  unsigned n_;
  std::string name_;
};

}  // namespace kelm_math::comp_trace

#pragma GCC visibility pop
