#include "kelm_math/comp_trace/TracedValue.hpp"

#include <stdexcept>

#include "NodePool.hpp"
#include "Recording.hpp"

namespace kelm_math::comp_trace {

using detail::call;
using detail::Fn;

template <class T>
TracedValue<T>::TracedValue(ScalarOperationPtr op) {
  if (!op) throw std::invalid_argument("comp_trace: null node for a traced value");
  if (op->scalarType() != ScalarTypeOf<T>::value)
    throw std::logic_error("comp_trace: node type differs from the traced value type");
  if (op->ownKind() == OwnKind::Constant)
    constant_ = detail::valueAs<T>(static_cast<detail::ConstantOp const&>(*op).value());
  else
    op_ = std::move(op);
}

template <class T>
TracedValue<T>::TracedValue(ScalarOperation const& op) : TracedValue(op.cloneScalar()) {}

template <class T>
template <class U>
TracedValue<T> TracedValue<T>::converted_(TracedValue<U> const& other) {
  constexpr ScalarType to = ScalarTypeOf<T>::value;
  Fn fn = to == ScalarType::Double ? Fn::ToDouble : to == ScalarType::Int ? Fn::ToInt : Fn::ToBool;
  return call<T>(fn, ScalarTypeOf<U>::value, other);
}

template <class T>
TracedValue<T> TracedValue<T>::input(std::string const& name) {
  return TracedValue(
      ScalarOperationPtr(std::make_shared<detail::InputOp>(ScalarTypeOf<T>::value, name)));
}

template <class T>
void TracedValue<T>::accessElements(OperationPtr const& op, unsigned output, unsigned count,
                                    TracedValue* out) {
  // The elements of an output are made together and mostly released
  // together: a long output's share one block.
  constexpr unsigned kShared = 8;
  if (count < kShared) {
    for (unsigned i = 0; i < count; ++i)
      out[i] = TracedValue(ScalarOperationPtr(
          std::make_shared<detail::ElementOp>(ScalarTypeOf<T>::value, output, i, op)));
    return;
  }
  detail::NodePool::Handle pool(count * detail::NodePool::footprint<detail::ElementOp>());
  for (unsigned i = 0; i < count; ++i)
    out[i] = TracedValue(ScalarOperationPtr(
        pool.get()->make<detail::ElementOp>(ScalarTypeOf<T>::value, output, i, op)));
}

template <class T>
bool TracedValue<T>::getConstant(T& value) const {
  if (op_) return false;
  value = constant_;
  return true;
}

template <class T>
bool TracedValue<T>::equalConstant(T c) const {
  if (op_) return false;
  return detail::ConstantOp(ScalarValue(c)).compare_(detail::ConstantOp(ScalarValue(constant_))) ==
         0;
}

template <class T>
ScalarOperationPtr TracedValue<T>::constantNode_() const {
  return std::make_shared<detail::ConstantOp>(ScalarValue(constant_));
}

template <class T>
T TracedValue<T>::evaluate(BindingSet const& bindings) const {
  if (!op_) return constant_;
  return detail::valueAs<T>(bindings.evaluateScalar(op_));
}

template <class T>
bool TracedValue<T>::isOperationallyEqual(TracedValue const& other) const {
  return detail::operationallyEqual(*operation(), *other.operation());
}

namespace {
template <class T>
ScalarType operandOf() {
  return ScalarTypeOf<T>::value;
}
}  // namespace

template <class T>
TracedValue<T>& TracedValue<T>::operator+=(TracedValue const& rhs) {
  return *this = call<T>(Fn::Add, operandOf<T>(), *this, rhs);
}
template <class T>
TracedValue<T>& TracedValue<T>::operator-=(TracedValue const& rhs) {
  return *this = call<T>(Fn::Sub, operandOf<T>(), *this, rhs);
}
template <class T>
TracedValue<T>& TracedValue<T>::operator*=(TracedValue const& rhs) {
  return *this = call<T>(Fn::Mul, operandOf<T>(), *this, rhs);
}
template <class T>
TracedValue<T>& TracedValue<T>::operator/=(TracedValue const& rhs) {
  return *this = call<T>(Fn::Div, operandOf<T>(), *this, rhs);
}
template <class T>
TracedValue<T>& TracedValue<T>::operator&=(TracedValue const& rhs) {
  return *this = call<T>(Fn::And, operandOf<T>(), *this, rhs);
}
template <class T>
TracedValue<T>& TracedValue<T>::operator|=(TracedValue const& rhs) {
  return *this = call<T>(Fn::Or, operandOf<T>(), *this, rhs);
}

template <class T>
bool getConstants(TracedValue<T> const* values, unsigned n, T* out) {
  for (unsigned i = 0; i < n; ++i)
    if (!values[i].getConstant(out[i])) return false;
  return true;
}

template class TracedValue<double>;
template class TracedValue<int>;
template class TracedValue<bool>;
template TracedValue<double> TracedValue<double>::converted_(TracedValue<int> const&);
template TracedValue<double> TracedValue<double>::converted_(TracedValue<bool> const&);
template TracedValue<int> TracedValue<int>::converted_(TracedValue<double> const&);
template TracedValue<int> TracedValue<int>::converted_(TracedValue<bool> const&);
template TracedValue<bool> TracedValue<bool>::converted_(TracedValue<double> const&);
template TracedValue<bool> TracedValue<bool>::converted_(TracedValue<int> const&);
template bool getConstants(TracedDouble const*, unsigned, double*);
template bool getConstants(TracedInt const*, unsigned, int*);
template bool getConstants(TracedBool const*, unsigned, bool*);

#define KELM_BINARY(R, OP, T, FN)                                               \
  R operator OP(TracedValue<T> a, TracedValue<T> b) {                           \
    return call<R::value_type>(FN, operandOf<T>(), std::move(a), std::move(b)); \
  }
KELM_BINARY(TracedDouble, +, double, Fn::Add)
KELM_BINARY(TracedDouble, -, double, Fn::Sub)
KELM_BINARY(TracedDouble, *, double, Fn::Mul)
KELM_BINARY(TracedDouble, /, double, Fn::Div)
KELM_BINARY(TracedInt, +, int, Fn::Add)
KELM_BINARY(TracedInt, -, int, Fn::Sub)
KELM_BINARY(TracedInt, *, int, Fn::Mul)
KELM_BINARY(TracedInt, /, int, Fn::Div)
KELM_BINARY(TracedInt, %, int, Fn::Mod)
KELM_BINARY(TracedBool, &&, bool, Fn::And)
KELM_BINARY(TracedBool, ||, bool, Fn::Or)
KELM_BINARY(TracedBool, <, double, Fn::Lt)
KELM_BINARY(TracedBool, <=, double, Fn::Le)
KELM_BINARY(TracedBool, >, double, Fn::Gt)
KELM_BINARY(TracedBool, >=, double, Fn::Ge)
KELM_BINARY(TracedBool, ==, double, Fn::Eq)
KELM_BINARY(TracedBool, !=, double, Fn::Ne)
KELM_BINARY(TracedBool, <, int, Fn::Lt)
KELM_BINARY(TracedBool, <=, int, Fn::Le)
KELM_BINARY(TracedBool, >, int, Fn::Gt)
KELM_BINARY(TracedBool, >=, int, Fn::Ge)
KELM_BINARY(TracedBool, ==, int, Fn::Eq)
KELM_BINARY(TracedBool, !=, int, Fn::Ne)
KELM_BINARY(TracedBool, ==, bool, Fn::Eq)
KELM_BINARY(TracedBool, !=, bool, Fn::Ne)
#undef KELM_BINARY

TracedDouble operator-(TracedDouble a) {
  return call<double>(Fn::Neg, ScalarType::Double, std::move(a));
}
TracedInt operator-(TracedInt a) { return call<int>(Fn::Neg, ScalarType::Int, std::move(a)); }
TracedBool operator!(TracedBool a) { return call<bool>(Fn::Not, ScalarType::Bool, std::move(a)); }

}  // namespace kelm_math::comp_trace
