#pragma once

// The trace library's own scalar nodes: constants, inputs, element reads,
// scalar functions and indexed reads.

#include <array>
#include <cstdint>
#include <string>
#include <typeinfo>

#include "kelm_math/comp_trace/CodeGeneration.hpp"
#include "kelm_math/comp_trace/Evaluation.hpp"
#include "kelm_math/comp_trace/Operation.hpp"

namespace kelm_math::comp_trace::detail {

/// Scalar functions of FunctionOp. Operands are of the node's operand type
/// except the condition of Select (bool, input 0). Sin to Hypot are the C
/// library functions of those names, on doubles only.
enum class Fn : int {
  Neg,
  Not,
  Sqrt,
  Floor,
  Abs,
  Sgn,
  ToDouble,
  ToInt,
  ToBool,
  Add,
  Sub,
  Mul,
  Div,
  Mod,
  Min,
  Max,
  GuardedDivide,
  GuardedAtan2,
  Lt,
  Le,
  Gt,
  Ge,
  Eq,
  Ne,
  And,
  Or,
  Select,
  Sin,
  Cos,
  Tan,
  Asin,
  Acos,
  Atan,
  Exp,
  Log,
  Atan2,
  Pow,
  Hypot  // the last: kFnCount below counts up to it
};
constexpr int kFnCount = static_cast<int>(Fn::Hypot) + 1;

/// Type of the value of fn applied to operands of the given type.
ScalarType resultType(Fn fn, ScalarType operand);
/// The one meaning of fn, shared by folding and evaluation.
ScalarValue apply(Fn fn, ScalarType operand, ScalarValue const* args);
/// value converted to type as the traced conversions convert.
ScalarValue convert(ScalarValue const& value, ScalarType type);
/// C literal that reads back to exactly this value.
std::string literal(ScalarValue const& value);

/// other as a node of self's class; std::bad_cast for another class, as
/// dynamic_cast would. The library's own classes check their kinds: a
/// dynamic_cast per pair was a twentieth of merging a chain's constants.
template <class T>
T const& sameKindAs(T const& self, Operation const& other) {
  if (other.ownKind() != self.ownKind()) throw std::bad_cast();
  return static_cast<T const&>(other);
}

template <class T>
int threeWay(T const& a, T const& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

class ConstantOp final : public ScalarOperation {
 public:
  explicit ConstantOp(ScalarValue value) : ScalarOperation(value.type()) {
    ownKind(OwnKind::Constant);
    if (value.type() == ScalarType::Double)
      double_ = value.doubleValue();
    else
      int_ = value.intValue();
  }
  ScalarOperationPtr cloneScalar() const override;
  std::string description() const override;
  std::string generateCode(GenerateCodeVisitor&) const override { return {}; }
  /// Orders by type, then by bit pattern (so -0 and 0 differ, a NaN equals itself).
  int compare_(Operation const& other) const override;
  bool isAlwaysSimple() const override { return true; }
  std::string inlineCode(GenerateCodeVisitor const&) const override { return literal(value()); }
  /// True when v has this node's type and bits.
  bool holds(ScalarValue const& v) const;
  ScalarValue value() const {
    switch (scalarType()) {
      case ScalarType::Double: return double_;
      case ScalarType::Int: return int_;
      case ScalarType::Bool: return int_ != 0;
    }
    return {};
  }

 private:
  // The value's type is the node's: the value alone keeps a constant, the
  // commonest leaf, at the size of a function node.
  union {
    double double_;
    int int_;
  };
};

/// Fills the null entries of inputs[0..n) with nodes of constants[i]: an
/// equal constant node (same type and bits) read by the other inputs or by
/// their inputs where there is one, else a new node. A loop records the same
/// constants step after step; sharing them keeps its graph at the size of its
/// operations.
void shareConstants(OperationPtr* inputs, ScalarValue const* constants, std::size_t n);

class InputOp final : public ScalarOperation {
 public:
  InputOp(ScalarType type, std::string name) : ScalarOperation(type), name_(std::move(name)) {
    ownKind(OwnKind::Input);
  }
  ScalarOperationPtr cloneScalar() const override;
  std::string description() const override { return "Input [" + name_ + "]"; }
  std::string generateCode(GenerateCodeVisitor&) const override { return {}; }
  int compare_(Operation const& other) const override;
  bool isAlwaysSimple() const override { return true; }
  std::string inlineCode(GenerateCodeVisitor const& visitor) const override;
  std::string const& name() const { return name_; }

 private:
  std::string name_;
};

/// Element `index` of output `output` of its one input, a vector node.
class ElementOp final : public ScalarOperation {
 public:
  ElementOp(ScalarType type, unsigned output, unsigned index, OperationPtr source)
      : ScalarOperation(type, std::move(source)), output_(output), index_(index) {
    ownKind(OwnKind::Element);
  }
  ScalarOperationPtr cloneScalar() const override;
  std::string description() const override;
  std::string generateCode(GenerateCodeVisitor&) const override { return {}; }
  int compare_(Operation const& other) const override;
  bool isAlwaysSimple() const override { return true; }
  std::string inlineCode(GenerateCodeVisitor const& visitor) const override;
  unsigned output() const { return output_; }
  unsigned index() const { return index_; }

 private:
  unsigned output_;
  unsigned index_;
};

class FunctionOp final : public ScalarOperation {
 public:
  template <std::size_t N>
  FunctionOp(Fn fn, ScalarType operand, std::array<OperationPtr, N>&& inputs)
      : ScalarOperation(resultType(fn, operand), std::move(inputs)),
        fn_(static_cast<std::uint8_t>(fn)),
        operand_(static_cast<std::uint8_t>(operand)) {
    ownKind(OwnKind::Function);
  }
  ScalarOperationPtr cloneScalar() const override;
  std::string description() const override;
  std::string generateCode(GenerateCodeVisitor& visitor) const override;
  int compare_(Operation const& other) const override;
  Fn fn() const { return static_cast<Fn>(fn_); }
  ScalarType operand() const { return static_cast<ScalarType>(operand_); }

 private:
  std::uint8_t fn_;  // Fn and ScalarType, kept small: these are most nodes
  std::uint8_t operand_;
};

/// Element `index` (input 0) of the collected values (input 1); 0 outside [0, n).
class ArrayAccessOp final : public ScalarOperation {
 public:
  ArrayAccessOp(ScalarType type, unsigned n, OperationPtr index, OperationPtr values)
      : ScalarOperation(type, std::move(index), std::move(values)), n_(n) {
    ownKind(OwnKind::ArrayAccess);
  }
  ScalarOperationPtr cloneScalar() const override;
  std::string description() const override { return "ArrayAccess"; }
  std::string generateCode(GenerateCodeVisitor& visitor) const override;
  int compare_(Operation const& other) const override;
  unsigned size() const { return n_; }

 private:
  unsigned n_;
};

}  // namespace kelm_math::comp_trace::detail
