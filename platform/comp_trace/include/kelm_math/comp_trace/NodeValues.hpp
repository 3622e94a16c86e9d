#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// NodeValues, what a node sees while it is evaluated, and ArrayRef, the
/// elements of one vector output.

#include <cstddef>

#include "kelm_math/comp_trace/Values.hpp"

namespace kelm_math::comp_trace {

/// The elements of one output of a vector node as the evaluator holds them:
/// doubles for a double output, ints (bools as 0 or 1) otherwise.
struct ArrayRef {
  ScalarType type = ScalarType::Double;  ///< Type of the output's elements.
  void const* data = nullptr;            ///< The first element; not to be read when count is 0.
  std::size_t count = 0;                 ///< Number of elements.

  /// data as the doubles of a double output; the type is not checked.
  double const* doubles() const { return static_cast<double const*>(data); }
  /// data as the ints of an int or bool output; the type is not checked.
  int const* ints() const { return static_cast<int const*>(data); }
};

/// What a node sees while it is evaluated: the values of its inputs and
/// storage for its outputs. The evaluator owns all of it; a node keeps no
/// pointer past its own evaluation.
class NodeValues {
 public:
  virtual ~NodeValues() = default;
  /// Value of scalar input i.
  virtual ScalarValue scalar(std::size_t input) const = 0;
  /// Output `output` of vector input i; std::logic_error when that node
  /// made fewer outputs.
  virtual ArrayRef array(std::size_t input, unsigned output = 0) const = 0;
  /// Creates the node's next output: count elements of type, all zero.
  /// Returns double* for doubles, int* otherwise (bools held as 0 or 1).
  virtual void* output(ScalarType type, std::size_t count) = 0;

 protected:
  NodeValues() = default;
  /// Copyable by derived classes only; the interface itself holds no data.
  ///@{
  NodeValues(NodeValues const&) = default;
  NodeValues& operator=(NodeValues const&) = default;
  ///@}
};

}  // namespace kelm_math::comp_trace

#pragma GCC visibility pop
