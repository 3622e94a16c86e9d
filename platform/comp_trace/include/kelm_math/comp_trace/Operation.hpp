#pragma once

#include <memory>
#include <string>
#include <vector>

#include "kelm_math/comp_trace/NodeValues.hpp"
#include "kelm_math/comp_trace/Values.hpp"

namespace kelm_math::comp_trace {

class Operation;
class ScalarOperation;
class GenerateCodeVisitor;

using OperationPtr = std::shared_ptr<Operation const>;
using ScalarOperationPtr = std::shared_ptr<ScalarOperation const>;

/// A node of a computation graph: immutable after construction, shared by
/// std::shared_ptr, with ordered inputs. Destruction tears sole-owned input
/// chains down in a loop, so graphs of any depth are released without deep
/// recursion.
class Operation {
 public:
  virtual ~Operation();
  /// A copy with the same fields and the same (shared) inputs.
  virtual OperationPtr clone() const = 0;
  virtual std::string description() const = 0;
  /// The C lines of this node (codeLine results joined in order).
  virtual std::string generateCode(GenerateCodeVisitor& visitor) const = 0;
  /// Orders two nodes of the same class by their fields: -1, 0 or 1. Nodes
  /// without fields keep this version, which returns 0.
  virtual int compare_(Operation const& other) const;

  std::size_t inputCount() const { return inputs_.size(); }
  std::vector<OperationPtr> const& inputs() const { return inputs_; }
  /// Input i; std::out_of_range past the last input.
  OperationPtr const& input(std::size_t i) const;
  /// Input i viewed as a scalar node; std::logic_error when it is not one.
  ScalarOperation const& scalarInputRef(std::size_t i) const;
  bool isScalar() const { return scalar_; }

 protected:
  Operation(bool scalar, std::vector<OperationPtr> inputs);
  Operation(Operation const&) = default;
  Operation& operator=(Operation const&) = delete;

 private:
  std::vector<OperationPtr> inputs_;
  bool scalar_;
};

/// A node with one or more array outputs.
class VectorOperation : public Operation {
 public:
  /// Creates every output, in output order, from the inputs' values.
  virtual void evaluate(NodeValues& values) const = 0;

 protected:
  explicit VectorOperation(std::vector<OperationPtr> inputs);
  explicit VectorOperation(OperationPtr a);
  VectorOperation(OperationPtr a, OperationPtr b);
  VectorOperation(OperationPtr a, OperationPtr b, OperationPtr c);
  VectorOperation(OperationPtr a, OperationPtr b, OperationPtr c, OperationPtr d);
  VectorOperation(OperationPtr a, OperationPtr b, OperationPtr c, OperationPtr d, OperationPtr e);
  VectorOperation(VectorOperation const&) = default;
};

/// A node with one scalar value of a fixed ScalarType.
class ScalarOperation : public Operation {
 public:
  OperationPtr clone() const final;
  virtual ScalarOperationPtr cloneScalar() const = 0;
  /// True for nodes whose C text is written inline wherever they are used
  /// (constants, inputs, element reads); those implement inlineCode().
  virtual bool isAlwaysSimple() const;
  /// The value from the inputs' values. The trace library's own nodes
  /// (constants, inputs, element reads, functions, indexed reads) are run by
  /// the evaluator itself and keep this version, which throws
  /// std::logic_error; other nodes override it.
  virtual ScalarValue evaluateScalar(NodeValues& values) const;
  /// C expression of a simple node; std::logic_error for other nodes.
  virtual std::string inlineCode(GenerateCodeVisitor const& visitor) const;

  ScalarType scalarType() const { return type_; }

 protected:
  explicit ScalarOperation(ScalarType type, std::vector<OperationPtr> inputs = {});
  ScalarOperation(ScalarType type, OperationPtr a);
  ScalarOperation(ScalarType type, OperationPtr a, OperationPtr b);
  ScalarOperation(ScalarType type, OperationPtr a, OperationPtr b, OperationPtr c);
  ScalarOperation(ScalarType type, OperationPtr a, OperationPtr b, OperationPtr c, OperationPtr d);
  ScalarOperation(ScalarOperation const&) = default;

 private:
  ScalarType type_;
};

}  // namespace kelm_math::comp_trace
