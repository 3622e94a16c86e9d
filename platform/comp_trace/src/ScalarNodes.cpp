#include "ScalarNodes.hpp"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "vela/NumberText.hpp"
#include "vela/codegen_runtime_scalar.h"

namespace kelm_math::comp_trace::detail {
namespace {

struct FnInfo {
  char const* name;
  int arity;
};

FnInfo info(Fn fn) {
  switch (fn) {
    case Fn::Neg: return {"Neg", 1};
    case Fn::Not: return {"Not", 1};
    case Fn::Sqrt: return {"Sqrt", 1};
    case Fn::Floor: return {"Floor", 1};
    case Fn::Abs: return {"Abs", 1};
    case Fn::Sgn: return {"Sgn", 1};
    case Fn::ToDouble: return {"ToDouble", 1};
    case Fn::ToInt: return {"ToInt", 1};
    case Fn::ToBool: return {"ToBool", 1};
    case Fn::Add: return {"Add", 2};
    case Fn::Sub: return {"Subtract", 2};
    case Fn::Mul: return {"Multiply", 2};
    case Fn::Div: return {"Divide", 2};
    case Fn::Mod: return {"Modulo", 2};
    case Fn::Min: return {"Min", 2};
    case Fn::Max: return {"Max", 2};
    case Fn::GuardedDivide: return {"GuardedDivide", 2};
    case Fn::GuardedAtan2: return {"GuardedAtan2", 2};
    case Fn::Lt: return {"Less", 2};
    case Fn::Le: return {"LessEqual", 2};
    case Fn::Gt: return {"Greater", 2};
    case Fn::Ge: return {"GreaterEqual", 2};
    case Fn::Eq: return {"Equal", 2};
    case Fn::Ne: return {"NotEqual", 2};
    case Fn::And: return {"And", 2};
    case Fn::Or: return {"Or", 2};
    case Fn::Select: return {"Ternary", 3};
    case Fn::Sin: return {"Sin", 1};
    case Fn::Cos: return {"Cos", 1};
    case Fn::Tan: return {"Tan", 1};
    case Fn::Asin: return {"Asin", 1};
    case Fn::Acos: return {"Acos", 1};
    case Fn::Atan: return {"Atan", 1};
    case Fn::Exp: return {"Exp", 1};
    case Fn::Log: return {"Log", 1};
    case Fn::Atan2: return {"Atan2", 2};
    case Fn::Pow: return {"Pow", 2};
    case Fn::Hypot: return {"Hypot", 2};
  }
  throw std::logic_error("comp_trace: unknown scalar function");
}

[[noreturn]] void unsupported(Fn fn, ScalarType operand) {
  throw std::logic_error(std::string("comp_trace: ") + info(fn).name + " is not defined for " +
                         (operand == ScalarType::Double ? "double"
                          : operand == ScalarType::Int  ? "int"
                                                        : "bool") +
                         " operands");
}

template <class T>
ScalarValue compareValues(Fn fn, T a, T b) {
  switch (fn) {
    case Fn::Lt: return a < b;
    case Fn::Le: return a <= b;
    case Fn::Gt: return a > b;
    case Fn::Ge: return a >= b;
    case Fn::Eq: return a == b;
    case Fn::Ne: return a != b;
    default: throw std::logic_error("comp_trace: not a comparison");
  }
}

bool isComparison(Fn fn) { return fn >= Fn::Lt && fn <= Fn::Ne; }

ScalarValue applyDouble(Fn fn, ScalarValue const* v) {
  double a = v[0].doubleValue();
  if (info(fn).arity == 1) {
    switch (fn) {
      case Fn::Neg: return -a;
      case Fn::Sqrt: return std::sqrt(a);
      case Fn::Floor: return std::floor(a);
      case Fn::Abs: return std::fabs(a);
      case Fn::Sgn: return vela_rt_sgn(a);
      case Fn::ToInt: return vela_rt_d2i(a);
      case Fn::ToBool: return a != 0.0;
      case Fn::Sin: return std::sin(a);
      case Fn::Cos: return std::cos(a);
      case Fn::Tan: return std::tan(a);
      case Fn::Asin: return std::asin(a);
      case Fn::Acos: return std::acos(a);
      case Fn::Atan: return std::atan(a);
      case Fn::Exp: return std::exp(a);
      case Fn::Log: return std::log(a);
      default: unsupported(fn, ScalarType::Double);
    }
  }
  double b = v[1].doubleValue();
  if (isComparison(fn)) return compareValues(fn, a, b);
  switch (fn) {
    case Fn::Add: return a + b;
    case Fn::Sub: return a - b;
    case Fn::Mul: return a * b;
    case Fn::Div: return a / b;
    case Fn::Min: return vela_rt_min(a, b);
    case Fn::Max: return vela_rt_max(a, b);
    case Fn::GuardedDivide: return vela_rt_guarded_divide(a, b);
    case Fn::GuardedAtan2: return vela_rt_guarded_atan2(a, b);
    case Fn::Atan2: return std::atan2(a, b);
    case Fn::Pow: return vela_rt_pow(a, b);
    case Fn::Hypot: return std::hypot(a, b);
    default: unsupported(fn, ScalarType::Double);
  }
}

ScalarValue applyInt(Fn fn, ScalarValue const* v) {
  int a = v[0].intValue();
  if (info(fn).arity == 1) {
    switch (fn) {
      case Fn::Neg: return vela_rt_ineg(a);
      case Fn::ToDouble: return static_cast<double>(a);
      case Fn::ToBool: return a != 0;
      default: unsupported(fn, ScalarType::Int);
    }
  }
  int b = v[1].intValue();
  if (isComparison(fn)) return compareValues(fn, a, b);
  switch (fn) {
    case Fn::Add: return vela_rt_iadd(a, b);
    case Fn::Sub: return vela_rt_isub(a, b);
    case Fn::Mul: return vela_rt_imul(a, b);
    case Fn::Div: return vela_rt_idiv(a, b);
    case Fn::Mod: return vela_rt_imod(a, b);
    case Fn::Min: return vela_rt_imin(a, b);
    case Fn::Max: return vela_rt_imax(a, b);
    default: unsupported(fn, ScalarType::Int);
  }
}

ScalarValue applyBool(Fn fn, ScalarValue const* v) {
  bool a = v[0].boolValue();
  switch (fn) {
    case Fn::Not: return !a;
    case Fn::ToInt: return a ? 1 : 0;
    case Fn::ToDouble: return a ? 1.0 : 0.0;
    case Fn::And: return a && v[1].boolValue();
    case Fn::Or: return a || v[1].boolValue();
    case Fn::Eq: return a == v[1].boolValue();
    case Fn::Ne: return a != v[1].boolValue();
    default: unsupported(fn, ScalarType::Bool);
  }
}

template <class... T>
void append(std::string& out, T const&... pieces) {
  (out.append(pieces), ...);
}

// Appends the C text of fn over operand texts (already atomic) to out:
// written in place, as these are most lines of generated code.
void appendFunctionText(std::string& out, Fn fn, ScalarType operand, std::string const* a) {
  bool isInt = operand == ScalarType::Int;
  auto call = [&](char const* f) {
    append(out, f, "(", a[0]);
    for (int i = 1; i < info(fn).arity; ++i) append(out, ", ", a[i]);
    out += ')';
  };
  auto infix = [&](char const* op) { append(out, a[0], " ", op, " ", a[1]); };
  switch (fn) {
    case Fn::Neg: return isInt ? call("vela_rt_ineg") : append(out, "-", a[0]);
    case Fn::Not: return append(out, "!", a[0]);
    case Fn::Sqrt: return call("sqrt");
    case Fn::Floor: return call("floor");
    case Fn::Abs: return call("fabs");
    case Fn::Sgn: return call("vela_rt_sgn");
    case Fn::ToDouble: return append(out, "(double)", a[0]);
    case Fn::ToInt: return operand == ScalarType::Bool ? append(out, a[0]) : call("vela_rt_d2i");
    case Fn::ToBool: return append(out, a[0], isInt ? " != 0" : " != 0.0");
    case Fn::Add: return isInt ? call("vela_rt_iadd") : infix("+");
    case Fn::Sub: return isInt ? call("vela_rt_isub") : infix("-");
    case Fn::Mul: return isInt ? call("vela_rt_imul") : infix("*");
    case Fn::Div: return isInt ? call("vela_rt_idiv") : infix("/");
    case Fn::Mod: return call("vela_rt_imod");
    case Fn::Min: return call(isInt ? "vela_rt_imin" : "vela_rt_min");
    case Fn::Max: return call(isInt ? "vela_rt_imax" : "vela_rt_max");
    case Fn::GuardedDivide: return call("vela_rt_guarded_divide");
    case Fn::GuardedAtan2: return call("vela_rt_guarded_atan2");
    case Fn::Lt: return infix("<");
    case Fn::Le: return infix("<=");
    case Fn::Gt: return infix(">");
    case Fn::Ge: return infix(">=");
    case Fn::Eq: return infix("==");
    case Fn::Ne: return infix("!=");
    case Fn::And: return infix("&&");
    case Fn::Or: return infix("||");
    case Fn::Select: return append(out, a[0], " ? ", a[1], " : ", a[2]);
    case Fn::Sin: return call("sin");
    case Fn::Cos: return call("cos");
    case Fn::Tan: return call("tan");
    case Fn::Asin: return call("asin");
    case Fn::Acos: return call("acos");
    case Fn::Atan: return call("atan");
    case Fn::Exp: return call("exp");
    case Fn::Log: return call("log");
    case Fn::Atan2: return call("atan2");
    case Fn::Pow: return call("vela_rt_pow");
    case Fn::Hypot: return call("hypot");
  }
  throw std::logic_error("comp_trace: unknown scalar function");
}

std::uint64_t bits(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// "slot = expression;" as a code line; expression(text) appends the
// expression to text.
template <class Expression>
std::string assignLine(GenerateCodeVisitor& visitor, ScalarOperation const& op,
                       Expression&& expression) {
  Slot slot = visitor.reserveOutputVector(op, op.scalarType(), 1);
  std::string text;
  text.reserve(64);  // the line's one allocation, as a rule
  text += visitor.scratchpadAccess(slot);
  text += " = ";
  expression(text);
  text += ';';
  return visitor.codeLine(std::move(text));
}

}  // namespace

ScalarType resultType(Fn fn, ScalarType operand) {
  if (isComparison(fn)) return ScalarType::Bool;
  switch (fn) {
    case Fn::Not:
    case Fn::And:
    case Fn::Or:
    case Fn::ToBool: return ScalarType::Bool;
    case Fn::ToInt: return ScalarType::Int;
    case Fn::ToDouble: return ScalarType::Double;
    default: return operand;
  }
}

ScalarValue apply(Fn fn, ScalarType operand, ScalarValue const* args) {
  if (fn == Fn::Select) return args[0].boolValue() ? args[1] : args[2];
  switch (operand) {
    case ScalarType::Double: return applyDouble(fn, args);
    case ScalarType::Int: return applyInt(fn, args);
    case ScalarType::Bool: return applyBool(fn, args);
  }
  throw std::logic_error("comp_trace: unknown scalar type");
}

ScalarValue convert(ScalarValue const& value, ScalarType type) {
  if (value.type() == type) return value;
  switch (type) {
    case ScalarType::Double: return apply(Fn::ToDouble, value.type(), &value);
    case ScalarType::Int: return apply(Fn::ToInt, value.type(), &value);
    case ScalarType::Bool: return apply(Fn::ToBool, value.type(), &value);
  }
  throw std::logic_error("comp_trace: unknown scalar type");
}

std::string literal(ScalarValue const& value) {
  if (value.type() == ScalarType::Bool) return value.boolValue() ? "1" : "0";
  if (value.type() == ScalarType::Int) {
    int v = value.intValue();
    if (v == INT_MIN) return "(-2147483647 - 1)";
    return v < 0 ? "(" + vela::decimalText(v) + ")" : vela::decimalText(v);
  }
  double x = value.doubleValue();
  // NAN and INFINITY are floats: written as doubles, for -Wdouble-promotion.
  if (std::isnan(x)) return "((double)NAN)";
  if (std::isinf(x)) return x > 0 ? "HUGE_VAL" : "(-HUGE_VAL)";
  if (x == 0.0) return std::signbit(x) ? "(-0.0)" : "0.0";
  // The shortest text that reads back as x: exact, locale-free, and a
  // fraction of the cost of 17 digits on a graph full of constants.
  char buffer[40] = "(";
  char* begin = buffer + 1;
  char* end = std::to_chars(begin, buffer + sizeof buffer - 4, x).ptr;
  if (std::find_if(begin, end, [](char c) { return c == '.' || c == 'e'; }) == end) {
    *end++ = '.';
    *end++ = '0';
  }
  if (x < 0) {
    *end++ = ')';
    return std::string(buffer, end);
  }
  return std::string(begin, end);
}

ScalarOperationPtr ConstantOp::cloneScalar() const { return std::make_shared<ConstantOp>(*this); }

std::string ConstantOp::description() const { return "Constant [" + literal(value()) + "]"; }

int ConstantOp::compare_(Operation const& other) const {
  auto const& o = sameKindAs(*this, other);
  if (int c = threeWay(static_cast<int>(scalarType()), static_cast<int>(o.scalarType()))) return c;
  if (scalarType() == ScalarType::Double) return threeWay(bits(double_), bits(o.double_));
  return threeWay(int_, o.int_);
}

bool ConstantOp::holds(ScalarValue const& v) const {
  if (v.type() != scalarType()) return false;
  if (v.type() == ScalarType::Double) return bits(v.doubleValue()) == bits(double_);
  return v.intValue() == int_;
}

void shareConstants(OperationPtr* inputs, ScalarValue const* constants, std::size_t n) {
  // Two levels of nodes with few inputs each: a handful of loads per
  // constant, where a loop body finds the constants of its last step.
  constexpr std::size_t kFew = 4;
  auto findIn = [](Operation const& node, ScalarValue const& value) -> OperationPtr const* {
    if (node.inputCount() > kFew) return nullptr;
    for (OperationPtr const& in : node.inputs())
      if (in->ownKind() == OwnKind::Constant && static_cast<ConstantOp const&>(*in).holds(value))
        return &in;
    return nullptr;
  };
  for (std::size_t i = 0; i < n; ++i) {
    if (inputs[i]) continue;
    OperationPtr const* found = nullptr;
    for (std::size_t j = 0; j < n && !found; ++j) {
      if (!inputs[j] || inputs[j]->ownKind() == OwnKind::Constant) continue;
      found = findIn(*inputs[j], constants[i]);
      if (inputs[j]->inputCount() <= kFew)
        for (OperationPtr const& in : inputs[j]->inputs())
          if (!found) found = findIn(*in, constants[i]);
    }
    inputs[i] = found ? *found : std::make_shared<ConstantOp>(constants[i]);
  }
}

ScalarOperationPtr InputOp::cloneScalar() const { return std::make_shared<InputOp>(*this); }

int InputOp::compare_(Operation const& other) const {
  auto const& o = sameKindAs(*this, other);
  if (int c = threeWay(static_cast<int>(scalarType()), static_cast<int>(o.scalarType()))) return c;
  return threeWay(name_, o.name_);
}

std::string InputOp::inlineCode(GenerateCodeVisitor const& visitor) const {
  std::string in = "in[" + vela::decimalText(visitor.inputIndex(name_)) + "]";
  switch (scalarType()) {
    // The runtime's conversion, as evaluation converts: a cast is undefined
    // for NaN and out-of-range values.
    case ScalarType::Int: return "vela_rt_d2i(" + in + ")";
    case ScalarType::Bool: return "(" + in + " != 0)";
    default: return in;
  }
}

ScalarOperationPtr ElementOp::cloneScalar() const { return std::make_shared<ElementOp>(*this); }

std::string ElementOp::description() const {
  return "Element [" + vela::decimalText(output_) + ", " + vela::decimalText(index_) + "]";
}

int ElementOp::compare_(Operation const& other) const {
  auto const& o = sameKindAs(*this, other);
  if (int c = threeWay(static_cast<int>(scalarType()), static_cast<int>(o.scalarType()))) return c;
  if (int c = threeWay(output_, o.output_)) return c;
  return threeWay(index_, o.index_);
}

std::string ElementOp::inlineCode(GenerateCodeVisitor const& visitor) const {
  return visitor.scratchpadAccess(visitor.outputSlot(input(0), output_), index_);
}

ScalarOperationPtr FunctionOp::cloneScalar() const { return std::make_shared<FunctionOp>(*this); }

std::string FunctionOp::description() const { return info(fn()).name; }

int FunctionOp::compare_(Operation const& other) const {
  auto const& o = sameKindAs(*this, other);
  if (int c = threeWay(static_cast<int>(fn_), static_cast<int>(o.fn_))) return c;
  return threeWay(static_cast<int>(operand_), static_cast<int>(o.operand_));
}

std::string FunctionOp::generateCode(GenerateCodeVisitor& visitor) const {
  std::string args[3];
  for (std::size_t i = 0; i < inputCount(); ++i) args[i] = visitor.rawOpCode(input(i));
  return assignLine(visitor, *this,
                    [&](std::string& text) { appendFunctionText(text, fn(), operand(), args); });
}

ScalarOperationPtr ArrayAccessOp::cloneScalar() const {
  return std::make_shared<ArrayAccessOp>(*this);
}

int ArrayAccessOp::compare_(Operation const& other) const {
  auto const& o = sameKindAs(*this, other);
  if (int c = threeWay(static_cast<int>(scalarType()), static_cast<int>(o.scalarType()))) return c;
  return threeWay(n_, o.n_);
}

std::string ArrayAccessOp::generateCode(GenerateCodeVisitor& visitor) const {
  char const* f = scalarType() == ScalarType::Double ? "vela_rt_access_d(" : "vela_rt_access_i(";
  std::string values = visitor.scratchpadPointerAccess(visitor.outputSlot(input(1), 0));
  std::string expression =
      f + vela::decimalText(n_) + ", " + values + ", " + visitor.rawOpCode(input(0)) + ")";
  return assignLine(visitor, *this, [&](std::string& text) { text += expression; });
}

}  // namespace kelm_math::comp_trace::detail
