#pragma once

#include <list>
#include <memory>
#include <type_traits>
#include <vector>

#include "frame/Args.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"

namespace vela::math::frame {

/// The traced front end shared by every kernel: declare the node's inputs
/// in input order (scalars first, then arrays) and the outputs, then run().
/// run() folds when every size, every scalar and every array element that
/// the constant sizes cover is a constant: the kernel's computation runs on
/// constants and the covered output elements become constants. Otherwise it
/// records one node over copies of the scalar nodes and collects of the
/// arrays (all maximum elements), and every maximum element of each output
/// reads the node. Counts are clamped to [0, maximum].
class TracedCallBase {
 public:
  /// Adds a scalar int input; its constant value, or 0 when it is traced.
  int size(ct::TracedInt const& value);
  /// Adds an actual size clamped to [0, max] (see vela/math/dynamic_sizes.hpp).
  int size(ct::TracedInt const& value, unsigned max);
  /// Adds a scalar double input; its constant value, or 0 when it is traced.
  double scalar(ct::TracedDouble const& value);
  /// Adds an array input of `max` elements, `covered` of which fold.
  TracedCallBase& array(ct::TracedDouble const* values, unsigned max, long long covered);
  TracedCallBase& array(ct::TracedInt const* values, unsigned max, long long covered);
  /// Adds an output of `max` elements, `covered` of which a fold writes.
  TracedCallBase& output(ct::TracedDouble* out, unsigned max, long long covered);
  TracedCallBase& output(ct::TracedInt* out, unsigned max, long long covered);
  TracedCallBase& output(ct::TracedBool* out, unsigned max, long long covered);
  /// For kernels whose traced form always records.
  TracedCallBase& neverFold();

 protected:
  TracedCallBase() = default;
  /// Fills args from constants; false at the first value that is not one.
  /// Array arguments point into buffers that this object keeps.
  bool constantArgs_(ConstantValues& values);
  void writeConstants_(std::vector<ct::VectorValue> const& results) const;
  std::vector<ct::OperationPtr> nodeInputs_() const;
  void readOutputs_(ct::OperationPtr const& node) const;

 private:
  struct Input {
    ct::ScalarType type;
    bool isArray;
    ct::TracedInt size;
    ct::TracedDouble scalar;
    void const* values;
    unsigned max;
    unsigned covered;
  };
  struct Output {
    ct::ScalarType type;
    void* out;
    unsigned max;
    unsigned covered;
  };

  std::vector<Input> inputs_;
  std::vector<Output> outputs_;
  bool foldable_ = true;
  std::list<std::vector<double>> doubleBuffers_;
  std::list<std::vector<int>> intBuffers_;
};

/// The front end for node class Op, built from the kernel's declaration.
template <class Op>
class TracedCall : public TracedCallBase {
 public:
  using Kernel = typename Op::KernelType;
  explicit TracedCall(Kernel kernel) : kernel_(std::move(kernel)) {}

  /// Folds or records; the outputs are written.
  void run() {
    ConstantValues values;
    if (constantArgs_(values)) {
      Args args(values);
      kernel_.compute(args);
      writeConstants_(values.takeResults());
      return;
    }
    readOutputs_(std::make_shared<Op>(kernel_, nodeInputs_()));
  }

  /// Folds or records a kernel whose node is a scalar, and returns it.
  auto runScalar() {
    using T = typename Op::ResultType;
    ConstantValues values;
    if (constantArgs_(values)) {
      Args args(values);
      kernel_.compute(args);
      return ct::TracedValue<T>(Op::resultOf(args.firstResult()));
    }
    return ct::TracedValue<T>(ct::ScalarOperationPtr(std::make_shared<Op>(kernel_, nodeInputs_())));
  }

 private:
  Kernel kernel_;
};

}  // namespace vela::math::frame
