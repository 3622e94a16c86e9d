#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// TracedValue, the handle to a scalar of a traced graph, and its arithmetic, comparison and
/// logical operators.

#include <string>
#include <type_traits>
#include <utility>

#include "kelm_math/comp_trace/Evaluation.hpp"
#include "kelm_math/comp_trace/Operation.hpp"

namespace kelm_math::comp_trace {

/// The ScalarType of the value type T (bool, int or double) as its `value`.
template <class T>
struct ScalarTypeOf;
template <>
struct ScalarTypeOf<bool> : std::integral_constant<ScalarType, ScalarType::Bool> {};
template <>
struct ScalarTypeOf<int> : std::integral_constant<ScalarType, ScalarType::Int> {};
template <>
struct ScalarTypeOf<double> : std::integral_constant<ScalarType, ScalarType::Double> {};

/// Implementation details, not part of the API.
namespace detail {
/// True when From converts to To implicitly: bool -> int -> double widen;
/// the other directions are explicit.
template <class From, class To>
constexpr bool widens =
    !std::is_same_v<From, To> && (std::is_same_v<From, bool> || std::is_same_v<To, double>);
/// True when a plain number of type U becomes a TracedValue<T> constant
/// implicitly: only without loss of meaning.
template <class U, class T>
constexpr bool losslessConstant = std::is_same_v<U, T> ||
                                  (std::is_same_v<T, double> && std::is_arithmetic_v<U>) ||
                                  (std::is_same_v<T, int> &&
                                   (std::is_same_v<U, bool> ||
                                    (std::is_integral_v<U> && std::is_signed_v<U> &&
                                     sizeof(U) <= sizeof(int))));
}  // namespace detail

/// A scalar of mode Traced: a constant, or a handle sharing the node that
/// computes it. T is double, int or bool. Operations on constants fold to
/// constants; otherwise they record a node. Values are cheap to copy.
template <class T>
class TracedValue {
  static_assert(std::is_same_v<T, double> || std::is_same_v<T, int> || std::is_same_v<T, bool>,
                "TracedValue holds double, int or bool");

 public:
  using value_type = T;  ///< double, int or bool.

  /// The constant T() (0, 0.0 or false).
  TracedValue() = default;
  /// A constant; implicit from numbers that convert without loss (any
  /// number to double, bool and narrow signed integers to int).
  template <class U, std::enable_if_t<detail::losslessConstant<U, T>, int> = 0>
  TracedValue(U constant) : constant_(static_cast<T>(constant)) {}
  /// A constant from any other number, converted as static_cast converts;
  /// explicit, as it may lose meaning.
  template <class U,
            std::enable_if_t<std::is_arithmetic_v<U> && !detail::losslessConstant<U, T>, int> = 0>
  explicit TracedValue(U constant) : constant_(static_cast<T>(constant)) {}
  /// A value read from a node; the node's scalar type must be T
  /// (std::logic_error otherwise).
  explicit TracedValue(ScalarOperationPtr op);
  /// A value read from a copy of op (clone).
  explicit TracedValue(ScalarOperation const& op);

  /// Widening conversion (bool to int or double, int to double).
  template <class U, std::enable_if_t<detail::widens<U, T>, int> = 0>
  TracedValue(TracedValue<U> const& other) : TracedValue(converted_(other)) {}
  /// Narrowing conversion: double to int truncates toward zero (NaN gives 0,
  /// out of range saturates); to bool means "not equal to zero".
  template <class U, std::enable_if_t<!detail::widens<U, T> && !std::is_same_v<U, T>, int> = 0>
  explicit TracedValue(TracedValue<U> const& other) : TracedValue(converted_(other)) {}

  /// A value bound by name in a BindingSet, or read from in[] in generated C.
  static TracedValue input(std::string const& name);

  /// out[0..count) read the first count elements of output `output` of op.
  static void accessElements(OperationPtr const& op, unsigned output, unsigned count,
                             TracedValue* out);

  /// True, with the value, when this is a constant.
  bool getConstant(T& value) const;
  /// True when this is a constant, not a node's value.
  bool isConstant() const { return !op_; }
  /// True when this is a constant equal to c (bitwise for doubles, so
  /// -0.0 differs from 0.0 and a NaN equals itself).
  bool equalConstant(T c) const;
  /// The node computing this value; a constant gets a fresh constant node.
  ScalarOperationPtr operation() const& { return op_ ? op_ : constantNode_(); }
  /// The same from a value about to go: its reference is moved, not
  /// copied (recording a chain of temporaries then counts no references).
  ScalarOperationPtr operation() && { return op_ ? std::move(op_) : constantNode_(); }
  /// The value against the bindings; UnboundInput for a missing input.
  T evaluate(BindingSet const& bindings) const;
  /// True when both values are computed by structurally equal graphs.
  bool isOperationallyEqual(TracedValue const& other) const;

  /// *this = *this op rhs, as the operators below: + - * / for double and
  /// int, & and | (as && and ||) for bool. Any other use is an error
  /// (std::logic_error, when folded or evaluated).
  ///@{
  TracedValue& operator+=(TracedValue const& rhs);
  TracedValue& operator-=(TracedValue const& rhs);
  TracedValue& operator*=(TracedValue const& rhs);
  TracedValue& operator/=(TracedValue const& rhs);
  TracedValue& operator&=(TracedValue const& rhs);
  TracedValue& operator|=(TracedValue const& rhs);
  ///@}

 private:
  template <class U>
  static TracedValue converted_(TracedValue<U> const& other);
  ScalarOperationPtr constantNode_() const;

  ScalarOperationPtr op_;
  T constant_{};
};

/// The traced scalars of the three value types.
///@{
using TracedDouble = TracedValue<double>;
using TracedInt = TracedValue<int>;
using TracedBool = TracedValue<bool>;
///@}

/// True, with the values, when all n values are constants.
// Instantiated in the library: a template needs its visibility spelled out.
template <class T>
__attribute__((visibility("default"))) bool getConstants(TracedValue<T> const* values, unsigned n,
                                                         T* out);

// Operands are taken by value, so a temporary's node moves into the new
// node.
/// Arithmetic and logic, folded when the operands are constants: double
/// follows IEEE; int wraps around modulo 2^32, divides toward zero and gives
/// 0 for a zero divisor (INT_MIN / -1 is INT_MIN; see
/// vela/codegen_runtime_scalar.h); bool takes !, && and ||, which evaluate
/// both operands. Each binary operator also takes a plain number of the
/// value type on either side.
///@{
TracedDouble operator+(TracedDouble a, TracedDouble b);
TracedDouble operator-(TracedDouble a, TracedDouble b);
TracedDouble operator*(TracedDouble a, TracedDouble b);
TracedDouble operator/(TracedDouble a, TracedDouble b);
TracedDouble operator-(TracedDouble a);
TracedInt operator+(TracedInt a, TracedInt b);
TracedInt operator-(TracedInt a, TracedInt b);
TracedInt operator*(TracedInt a, TracedInt b);
TracedInt operator/(TracedInt a, TracedInt b);
TracedInt operator%(TracedInt a, TracedInt b);
TracedInt operator-(TracedInt a);
TracedBool operator!(TracedBool a);
TracedBool operator&&(TracedBool a, TracedBool b);
TracedBool operator||(TracedBool a, TracedBool b);
///@}

/// Comparisons, folded when the operands are constants; they follow IEEE
/// (any comparison with NaN but != is false). Each also takes a plain number
/// of the value type on either side.
///@{
TracedBool operator<(TracedDouble a, TracedDouble b);
TracedBool operator<=(TracedDouble a, TracedDouble b);
TracedBool operator>(TracedDouble a, TracedDouble b);
TracedBool operator>=(TracedDouble a, TracedDouble b);
TracedBool operator==(TracedDouble a, TracedDouble b);
TracedBool operator!=(TracedDouble a, TracedDouble b);
TracedBool operator<(TracedInt a, TracedInt b);
TracedBool operator<=(TracedInt a, TracedInt b);
TracedBool operator>(TracedInt a, TracedInt b);
TracedBool operator>=(TracedInt a, TracedInt b);
TracedBool operator==(TracedInt a, TracedInt b);
TracedBool operator!=(TracedInt a, TracedInt b);
TracedBool operator==(TracedBool a, TracedBool b);
TracedBool operator!=(TracedBool a, TracedBool b);
///@}

// A plain number on either side.
#define KELM_COMP_TRACE_MIXED(R, OP, T)                                                     \
  inline R operator OP(TracedValue<T> a, T b) { return std::move(a) OP TracedValue<T>(b); } \
  inline R operator OP(T a, TracedValue<T> b) { return TracedValue<T>(a) OP std::move(b); }
KELM_COMP_TRACE_MIXED(TracedDouble, +, double)
KELM_COMP_TRACE_MIXED(TracedDouble, -, double)
KELM_COMP_TRACE_MIXED(TracedDouble, *, double)
KELM_COMP_TRACE_MIXED(TracedDouble, /, double)
KELM_COMP_TRACE_MIXED(TracedBool, <, double)
KELM_COMP_TRACE_MIXED(TracedBool, <=, double)
KELM_COMP_TRACE_MIXED(TracedBool, >, double)
KELM_COMP_TRACE_MIXED(TracedBool, >=, double)
KELM_COMP_TRACE_MIXED(TracedBool, ==, double)
KELM_COMP_TRACE_MIXED(TracedBool, !=, double)
KELM_COMP_TRACE_MIXED(TracedInt, +, int)
KELM_COMP_TRACE_MIXED(TracedInt, -, int)
KELM_COMP_TRACE_MIXED(TracedInt, *, int)
KELM_COMP_TRACE_MIXED(TracedInt, /, int)
KELM_COMP_TRACE_MIXED(TracedInt, %, int)
KELM_COMP_TRACE_MIXED(TracedBool, <, int)
KELM_COMP_TRACE_MIXED(TracedBool, <=, int)
KELM_COMP_TRACE_MIXED(TracedBool, >, int)
KELM_COMP_TRACE_MIXED(TracedBool, >=, int)
KELM_COMP_TRACE_MIXED(TracedBool, ==, int)
KELM_COMP_TRACE_MIXED(TracedBool, !=, int)
KELM_COMP_TRACE_MIXED(TracedBool, &&, bool)
KELM_COMP_TRACE_MIXED(TracedBool, ||, bool)
#undef KELM_COMP_TRACE_MIXED

extern template class TracedValue<double>;
extern template class TracedValue<int>;
extern template class TracedValue<bool>;

}  // namespace kelm_math::comp_trace

#pragma GCC visibility pop
