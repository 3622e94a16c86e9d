#include "math3d/Stringify.hpp"

#include <charconv>
#include <cmath>
#include <map>
#include <memory>

#include "vela/NumberText.hpp"

namespace math3d {

std::string stringify(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "Inf" : "-Inf";
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, x);
  return std::string(buffer, result.ptr);
}

namespace {

constexpr int kMaxDepth = 4;

// Infix forms of the trace library's binary arithmetic and comparisons.
std::map<std::string, std::string> const& infixOperators() {
  static std::map<std::string, std::string> const table = {
      {"Add", " + "},    {"Subtract", " - "},   {"Multiply", " * "}, {"Divide", " / "},
      {"Less", " < "},   {"LessEqual", " <= "}, {"Greater", " > "},  {"GreaterEqual", " >= "},
      {"Equal", " == "}, {"NotEqual", " != "},  {"And", " && "},     {"Or", " || "},
      {"Modulo", " % "}};
  return table;
}

// Text of a constant scalar node, or empty when the node is not constant.
std::string constantText(ct::Operation const& op, ct::OperationPtr const& ptr) {
  auto const& scalar = static_cast<ct::ScalarOperation const&>(op);
  auto node = std::static_pointer_cast<ct::ScalarOperation const>(ptr);
  switch (scalar.scalarType()) {
    case ct::ScalarType::Double: {
      double v = 0.0;
      return ct::TracedDouble(node).getConstant(v) ? stringify(v) : std::string();
    }
    case ct::ScalarType::Int: {
      int v = 0;
      return ct::TracedInt(node).getConstant(v) ? vela::decimalText(v) : std::string();
    }
    case ct::ScalarType::Bool: {
      bool v = false;
      return ct::TracedBool(node).getConstant(v) ? (v ? "true" : "false") : std::string();
    }
  }
  return {};
}

// Depth-limited, so the text stays short and the walk shallow whatever the graph.
std::string expressionText(ct::OperationPtr const& op, int depth) {
  if (depth > kMaxDepth) return "...";
  std::string name = op->description();
  if (op->isScalar()) {
    std::string constant = constantText(*op, op);
    if (!constant.empty()) return constant;
  }
  if (name.rfind("Input [", 0) == 0) return name.substr(7, name.size() - 8);
  if (name.rfind("Element [", 0) == 0 && op->inputCount() == 1)
    return op->input(0)->description() + name.substr(8);
  auto const& infix = infixOperators();
  auto found = infix.find(name);
  if (found != infix.end() && op->inputCount() == 2)
    return "(" + expressionText(op->input(0), depth + 1) + found->second +
           expressionText(op->input(1), depth + 1) + ")";
  if (name == "Neg" && op->inputCount() == 1) return "-" + expressionText(op->input(0), depth + 1);
  if (name == "Not" && op->inputCount() == 1) return "!" + expressionText(op->input(0), depth + 1);
  if (!name.empty() && name[0] >= 'A' && name[0] <= 'Z') name[0] = static_cast<char>(name[0] + 32);
  std::string text = name + "(";
  for (std::size_t i = 0; i < op->inputCount(); ++i) {
    if (i > 0) text += ", ";
    text += op->input(i)->isScalar() ? expressionText(op->input(i), depth + 1)
                                     : op->input(i)->description();
  }
  return text + ")";
}

}  // namespace

std::string stringify(TracedValue<double> const& x) {
  double constant = 0.0;
  if (x.getConstant(constant)) return stringify(constant);
  return expressionText(x.operation(), 0);
}

}  // namespace math3d
