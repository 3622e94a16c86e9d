#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// The node base classes of a traced graph: Operation, VectorOperation and ScalarOperation.

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "kelm_math/comp_trace/NodeValues.hpp"
#include "kelm_math/comp_trace/Values.hpp"

namespace kelm_math::comp_trace {

class Operation;
class ScalarOperation;
class GenerateCodeVisitor;

/// Shared ownership of an immutable node: how values and other nodes hold
/// the nodes they read.
///@{
using OperationPtr = std::shared_ptr<Operation const>;
using ScalarOperationPtr = std::shared_ptr<ScalarOperation const>;
///@}

/// The trace library's own node classes, which evaluation and code
/// generation recognise without a dynamic cast; Other for every other class.
enum class OwnKind : std::uint8_t {
  Other,
  Constant,
  Input,
  Element,
  Function,
  ArrayAccess,
  Collect
};

/// The inputs of a node, in order: a view that lives as long as the node.
class InputList {
 public:
  /// A view of the n inputs at data, which must outlive it.
  InputList(OperationPtr const* data, std::size_t n) : data_(data), n_(n) {}
  /// The range of the inputs, for range-based for.
  ///@{
  OperationPtr const* begin() const { return data_; }
  OperationPtr const* end() const { return data_ + n_; }
  ///@}
  /// Number of inputs.
  std::size_t size() const { return n_; }
  /// True when the node has no inputs (a leaf).
  bool empty() const { return n_ == 0; }
  /// Input i, unchecked: i must be below size().
  OperationPtr const& operator[](std::size_t i) const { return data_[i]; }

 private:
  OperationPtr const* data_;
  std::size_t n_;
};

/// A node of a computation graph: immutable after construction, shared by
/// std::shared_ptr, with ordered inputs (up to two held in the node itself,
/// more in one array). Destruction tears sole-owned input chains down in a
/// loop, so graphs of any depth are released without deep recursion.
class Operation {
 public:
  virtual ~Operation();
  /// A copy with the same fields and the same (shared) inputs.
  virtual OperationPtr clone() const = 0;
  /// Short text naming the node's class and fields, such as "Input [x]";
  /// error messages quote it.
  virtual std::string description() const = 0;
  /// The C lines of this node (codeLine results joined in order).
  virtual std::string generateCode(GenerateCodeVisitor& visitor) const = 0;
  /// Orders two nodes of the same class by their fields: -1, 0 or 1. Nodes
  /// without fields keep this version, which returns 0.
  virtual int compare_(Operation const& other) const;

  /// Number of inputs.
  std::size_t inputCount() const { return count_; }
  /// All inputs, in order; the view lives as long as the node.
  InputList inputs() const { return {data_(), count_}; }
  /// Input i; std::out_of_range past the last input.
  OperationPtr const& input(std::size_t i) const;
  /// Input i viewed as a scalar node; std::logic_error when it is not one.
  ScalarOperation const& scalarInputRef(std::size_t i) const;
  /// True for a scalar node (a ScalarOperation), false for a node with
  /// array outputs (a VectorOperation).
  bool isScalar() const { return scalar_; }
  /// Which of the trace library's own node classes this is; Other for any
  /// other class.
  OwnKind ownKind() const { return kind_; }

 protected:
  /// A scalar or a vector node with these inputs, in order;
  /// std::invalid_argument for a null input.
  ///@{
  Operation(bool scalar, std::vector<OperationPtr> inputs);
  template <std::size_t N>
  Operation(bool scalar, std::array<OperationPtr, N>&& inputs) : scalar_(scalar) {
    if constexpr (N <= kInline) {
      // Inline: most nodes are built here, and recording is mostly this.
      for (std::size_t i = 0; i < N; ++i)
        if (!inputs[i]) nullInput_();
      for (std::size_t i = 0; i < N; ++i)
        new (&inputs_.inline_[i]) OperationPtr(std::move(inputs[i]));
      count_ = N;
    } else {
      adopt_(inputs.data(), N);
    }
  }
  ///@}
  /// A copy for clone(): the same fields, sharing other's inputs.
  Operation(Operation const& other);
  Operation& operator=(Operation const&) = delete;
  /// Set by the trace library's own node classes only.
  void ownKind(OwnKind kind) { kind_ = kind; }

 private:
  static constexpr std::size_t kInline = 2;
  void adopt_(OperationPtr* inputs, std::size_t n);
  void releaseChain_(OperationPtr* data);
  [[noreturn]] static void nullInput_();
  OperationPtr const* data_() const { return count_ <= kInline ? inputs_.inline_ : inputs_.spill_; }
  OperationPtr* data_() { return count_ <= kInline ? inputs_.inline_ : inputs_.spill_; }

  // The small fields first, beside the shared pointer's counts: releasing a
  // graph reads both. Then the inputs: up to kInline in place, more in an
  // array of their own. Most nodes are 56 bytes.
  std::uint32_t count_ = 0;
  bool scalar_;
  OwnKind kind_ = OwnKind::Other;

 protected:
  /// The value type of a scalar node: ScalarOperation keeps it here, in
  /// room the layout leaves anyway.
  std::uint8_t valueType_ = 0;

 private:
  union Inputs {
    Inputs() {}
    ~Inputs() {}
    OperationPtr inline_[kInline];
    OperationPtr* spill_;
  } inputs_;
};

/// A node with one or more array outputs.
class VectorOperation : public Operation {
 public:
  /// Creates every output, in output order, from the inputs' values.
  virtual void evaluate(NodeValues& values) const = 0;

 protected:
  /// A vector node with these inputs, in order; std::invalid_argument for
  /// a null input.
  ///@{
  explicit VectorOperation(std::vector<OperationPtr> inputs)
      : Operation(false, std::move(inputs)) {}
  explicit VectorOperation(OperationPtr a) : Operation(false, std::array{std::move(a)}) {}
  VectorOperation(OperationPtr a, OperationPtr b)
      : Operation(false, std::array{std::move(a), std::move(b)}) {}
  VectorOperation(OperationPtr a, OperationPtr b, OperationPtr c)
      : Operation(false, std::array{std::move(a), std::move(b), std::move(c)}) {}
  VectorOperation(OperationPtr a, OperationPtr b, OperationPtr c, OperationPtr d)
      : Operation(false, std::array{std::move(a), std::move(b), std::move(c), std::move(d)}) {}
  VectorOperation(OperationPtr a, OperationPtr b, OperationPtr c, OperationPtr d, OperationPtr e)
      : Operation(false, std::array{std::move(a), std::move(b), std::move(c), std::move(d),
                                    std::move(e)}) {}
  ///@}
  /// Copyable for clone(): a copy shares the inputs.
  VectorOperation(VectorOperation const&) = default;
};

/// A node with one scalar value of a fixed ScalarType.
class ScalarOperation : public Operation {
 public:
  OperationPtr clone() const final;
  /// clone() as a scalar node: the same fields, sharing the inputs.
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

  /// Type of the node's value.
  ScalarType scalarType() const { return static_cast<ScalarType>(valueType_); }

 protected:
  /// A leaf: a node without inputs.
  explicit ScalarOperation(ScalarType type)
      : ScalarOperation(type, std::array<OperationPtr, 0>{}) {}
  /// A node of value type `type` with these inputs, in order;
  /// std::invalid_argument for a null input.
  ///@{
  ScalarOperation(ScalarType type, std::vector<OperationPtr> inputs)
      : Operation(true, std::move(inputs)) {
    valueType_ = static_cast<std::uint8_t>(type);
  }
  template <std::size_t N>
  ScalarOperation(ScalarType type, std::array<OperationPtr, N>&& inputs)
      : Operation(true, std::move(inputs)) {
    valueType_ = static_cast<std::uint8_t>(type);
  }
  ScalarOperation(ScalarType type, OperationPtr a)
      : ScalarOperation(type, std::array{std::move(a)}) {}
  ScalarOperation(ScalarType type, OperationPtr a, OperationPtr b)
      : ScalarOperation(type, std::array{std::move(a), std::move(b)}) {}
  ScalarOperation(ScalarType type, OperationPtr a, OperationPtr b, OperationPtr c)
      : ScalarOperation(type, std::array{std::move(a), std::move(b), std::move(c)}) {}
  ScalarOperation(ScalarType type, OperationPtr a, OperationPtr b, OperationPtr c, OperationPtr d)
      : ScalarOperation(type, std::array{std::move(a), std::move(b), std::move(c), std::move(d)}) {}
  ///@}
  /// Copyable for cloneScalar(): a copy shares the inputs.
  ScalarOperation(ScalarOperation const&) = default;
};

}  // namespace kelm_math::comp_trace

#pragma GCC visibility pop
