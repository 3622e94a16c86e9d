#pragma once

#include <cstddef>
#include <vector>

#include "kelm_math/comp_trace/NodeValues.hpp"
#include "kelm_math/comp_trace/Operation.hpp"

namespace vela::math {
namespace ct = kelm_math::comp_trace;
}

namespace vela::math::frame {

/// The arguments and results of one run of a kernel's numeric computation,
/// indexed like the node's inputs and outputs, over the values an evaluator
/// holds. The same computation serves constant folding (ConstantValues) and
/// node evaluation (the evaluator's values), so the two cannot differ.
class Args {
 public:
  explicit Args(ct::NodeValues& values) : values_(values) {}

  /// Value of scalar input i (an int size or index).
  int size(std::size_t i) const { return values_.scalar(i).intValue(); }
  /// Value of scalar input i (a double).
  double scalar(std::size_t i) const { return values_.scalar(i).doubleValue(); }
  /// Elements of array input i.
  double const* doubles(std::size_t i) const;
  int const* ints(std::size_t i) const;
  /// Element count of array input i (its maximum, as collected).
  std::size_t count(std::size_t i) const { return values_.array(i).count; }

  /// Creates the next result, `count` zeros (a negative count gives none).
  double* output(int count);
  int* intOutput(int count);
  /// Creates the next result, `count` bools held as 0 or 1.
  int* boolOutput(int count);
  /// Creates the next result as a copy of all elements of array input i.
  double* outputCopy(std::size_t i);

  /// Element 0 of the first result, of its type; std::out_of_range when
  /// there is none.
  ct::ScalarValue firstResult() const;

 private:
  void* create_(ct::ScalarType type, int count);

  ct::NodeValues& values_;
  ct::ArrayRef first_;
  bool made_ = false;
};

/// Values for folding: arguments from constants, results kept here.
class ConstantValues final : public ct::NodeValues {
 public:
  /// Scalar input i.
  void setScalar(std::size_t i, ct::ScalarValue value);
  /// Array input i, held in `buffer` (which must outlive this object).
  void setArray(std::size_t i, std::vector<double> const& buffer);
  void setArray(std::size_t i, std::vector<int> const& buffer);

  ct::ScalarValue scalar(std::size_t input) const override;
  ct::ArrayRef array(std::size_t input, unsigned output) const override;
  void* output(ct::ScalarType type, std::size_t count) override;

  /// The results in creation order; the object keeps none of them.
  std::vector<ct::VectorValue> takeResults();

 private:
  void reserve_(std::size_t i);

  std::vector<ct::ScalarValue> scalars_;
  std::vector<ct::ArrayRef> arrays_;
  std::vector<std::vector<double>> doubleResults_;
  std::vector<std::vector<int>> intResults_;
  std::vector<ct::ScalarType> resultTypes_;
};

}  // namespace vela::math::frame
