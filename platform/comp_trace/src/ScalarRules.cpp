#include "ScalarRules.hpp"

#include "kelm_math/comp_trace/DerivativeRule.hpp"
#include "kelm_math/comp_trace/Functions.hpp"

namespace kelm_math::comp_trace::detail {

bool isStructuralZeroValue(TracedDouble const& v) {
  double c = 1.0;
  return v.getConstant(c) && c == 0.0;
}

RuleShape ruleShape(Fn fn, ScalarType operand) {
  if (resultType(fn, operand) != ScalarType::Double) return RuleShape::Zero;
  switch (fn) {
    case Fn::Min:
    case Fn::Max:
    case Fn::Select: return RuleShape::Select;
    // Piecewise constant, or of int or bool operands.
    case Fn::Floor:
    case Fn::Sgn:
    case Fn::ToDouble: return RuleShape::Zero;
    default: return operand == ScalarType::Double ? RuleShape::Partials : RuleShape::Zero;
  }
}

namespace {
TracedDouble valueOf(FunctionOp const& node, unsigned i) {
  return TracedDouble(std::static_pointer_cast<ScalarOperation const>(node.input(i)));
}
}  // namespace

TracedBool selectCondition(FunctionOp const& node, unsigned& first) {
  if (node.fn() == Fn::Select) {
    first = 1;
    return TracedBool(std::static_pointer_cast<ScalarOperation const>(node.input(0)));
  }
  // min and max return the second operand on ties and for a NaN second
  // operand, so its derivative is the one taken there.
  first = 0;
  TracedDouble a = valueOf(node, 0), b = valueOf(node, 1);
  return node.fn() == Fn::Min ? a < b : a > b;
}

std::array<TracedDouble, 2> partials(FunctionOp const& node, ScalarOperationPtr const& self,
                                     std::array<bool, 2> wanted) {
  TracedDouble a = valueOf(node, 0);
  TracedDouble b = node.inputCount() > 1 ? valueOf(node, 1) : TracedDouble();
  TracedDouble y(self);
  switch (node.fn()) {
    case Fn::Neg: return {-1.0, 0.0};
    case Fn::Add: return {1.0, 1.0};
    case Fn::Sub: return {1.0, -1.0};
    case Fn::Mul: return {b, a};
    case Fn::Div: {
      TracedDouble inverse = 1.0 / b;
      return {inverse, wanted[1] ? -(y * inverse) : TracedDouble()};
    }
    case Fn::GuardedDivide: {
      TracedDouble inverse = guardedDivide(1.0, b);
      return {inverse, wanted[1] ? -(y * inverse) : TracedDouble()};
    }
    case Fn::Sqrt: return {0.5 / y};
    case Fn::Abs: return {sgn(a)};
    case Fn::Sin: return {cos(a)};
    case Fn::Cos: return {-sin(a)};
    case Fn::Tan: return {1.0 + y * y};
    case Fn::Asin: return {1.0 / sqrt(1.0 - a * a)};
    case Fn::Acos: return {-1.0 / sqrt(1.0 - a * a)};
    case Fn::Atan: return {1.0 / (1.0 + a * a)};
    case Fn::Exp: return {y};
    case Fn::Log: return {1.0 / a};
    case Fn::Atan2:
    case Fn::GuardedAtan2: {
      // d atan2(a, b) = (b da - a db) / r^2, divided by r twice so that r^2
      // cannot underflow; zero at the origin.
      TracedDouble r = hypot(a, b);
      TracedDouble s = guardedDivide(guardedDivide(1.0, r), r);
      return {wanted[0] ? s * b : TracedDouble(), wanted[1] ? -(s * a) : TracedDouble()};
    }
    case Fn::Hypot: {
      TracedDouble inverse = guardedDivide(1.0, y);
      return {wanted[0] ? a * inverse : TracedDouble(), wanted[1] ? b * inverse : TracedDouble()};
    }
    case Fn::Pow: {
      double e = 0.0;
      TracedDouble da = b.getConstant(e) && e == 0.0 ? TracedDouble() : b * pow(a, b - 1.0);
      // With respect to the exponent: y log a, taken as 0 at a = 0.
      TracedDouble db = ternary(a == 0.0, TracedDouble(), y * log(a));
      return {wanted[0] ? da : TracedDouble(), wanted[1] ? db : TracedDouble()};
    }
    default: return {};
  }
}

TracedDouble scaled(TracedDouble const& t, TracedDouble const& p) {
  double c = 0.0;
  if (isStructuralZeroValue(t)) return 0.0;
  if (p.getConstant(c)) {
    if (c == 0.0) return 0.0;
    if (c == 1.0) return t;
    if (c == -1.0) return -t;
  }
  return t * p;
}

void accumulate(TracedDouble& acc, TracedDouble const& v) {
  if (isStructuralZeroValue(v)) return;
  acc = isStructuralZeroValue(acc) ? v : std::move(acc) + v;
}

}  // namespace kelm_math::comp_trace::detail

namespace kelm_math::comp_trace {
bool isStructuralZero(TracedDouble const& v) { return detail::isStructuralZeroValue(v); }
}  // namespace kelm_math::comp_trace
