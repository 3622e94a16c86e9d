#pragma once

#include <cstddef>
#include <vector>

#include "kelm_math/comp_trace/Evaluation.hpp"
#include "kelm_math/comp_trace/Operation.hpp"

namespace vela::math {
namespace ct = kelm_math::comp_trace;
}

namespace vela::math::frame {

/// The arguments and results of one run of a kernel's numeric computation,
/// indexed like the node's inputs and outputs. The same computation serves
/// constant folding (arguments from constants) and node evaluation
/// (arguments from the evaluated inputs), so the two cannot differ.
class Args {
 public:
  /// Value of scalar input i (an int size or index).
  int size(std::size_t i) const { return scalars_.at(i).intValue(); }
  /// Value of scalar input i (a double).
  double scalar(std::size_t i) const { return scalars_.at(i).doubleValue(); }
  /// Elements of array input i.
  double const* doubles(std::size_t i) const;
  int const* ints(std::size_t i) const;
  /// Element count of array input i (its maximum, as collected).
  std::size_t count(std::size_t i) const { return arrays_.at(i).count; }

  /// Creates the next result, `count` zeros (a negative count gives none).
  double* output(int count);
  int* intOutput(int count);
  /// Creates the next result, `count` bools held as 0 or 1.
  int* boolOutput(int count);
  /// Creates the next result as a copy of all elements of array input i.
  double* outputCopy(std::size_t i);

  /// Arguments from the evaluated inputs of node.
  static Args fromInputs(ct::EvaluateVisitor const& visitor, ct::Operation const& node);
  /// Arguments from constants: scalar i, or array i held in `buffer`.
  void setScalar(std::size_t i, ct::ScalarValue value);
  void setArray(std::size_t i, std::vector<double> const& buffer);
  void setArray(std::size_t i, std::vector<int> const& buffer);

  /// The results in creation order; the object keeps none of them.
  std::vector<ct::VectorValue> takeResults();

 private:
  struct Array {
    ct::ScalarType type = ct::ScalarType::Double;
    void const* data = nullptr;
    std::size_t count = 0;
  };
  void reserve_(std::size_t i);

  std::vector<ct::ScalarValue> scalars_;
  std::vector<Array> arrays_;
  std::vector<std::vector<double>> doubleResults_;
  std::vector<std::vector<int>> intResults_;
  std::vector<ct::ScalarType> resultTypes_;
};

}  // namespace vela::math::frame
