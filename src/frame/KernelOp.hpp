#pragma once

#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "frame/Args.hpp"
#include "frame/Code.hpp"
#include "kelm_math/comp_trace/DerivativeRule.hpp"
#include "kelm_math/comp_trace/Operation.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"

namespace vela::math::frame {

/// -1, 0 or 1 comparing two field tuples in order: bool false before true,
/// signed fields as signed, unsigned as unsigned.
template <class Tuple, std::size_t... I>
int compareFields(Tuple const& a, Tuple const& b, std::index_sequence<I...>) {
  int result = 0;
  ((result = result != 0                       ? result
             : std::get<I>(a) < std::get<I>(b) ? -1
             : std::get<I>(b) < std::get<I>(a) ? 1
                                               : 0),
   ...);
  return result;
}

template <class Tuple>
int compareFields(Tuple const& a, Tuple const& b) {
  return compareFields(a, b, std::make_index_sequence<std::tuple_size_v<Tuple>>());
}

template <class Kernel, class = void>
struct HasRules : std::false_type {};
template <class Kernel>
struct HasRules<
    Kernel,
    std::void_t<decltype(std::declval<Kernel const&>().jvp(std::declval<ct::ForwardArgs&>())),
                decltype(std::declval<Kernel const&>().vjp(std::declval<ct::ReverseArgs&>()))>>
    : std::true_type {};
template <class Kernel, class = void>
struct HasZeroDerivative : std::false_type {};
template <class Kernel>
struct HasZeroDerivative<Kernel, std::enable_if_t<Kernel::zeroDerivative>> : std::true_type {};

/// The derivative rules of a kernel's node class: the kernel's jvp and vjp,
/// none for a kernel declaring zeroDerivative (predicates, indices), or
/// null, so that differentiating through the node names its class.
template <class Derived, class Kernel>
ct::Differentiable::Rules const* rulesOf() {
  if constexpr (HasRules<Kernel>::value) {
    static constexpr ct::Differentiable::Rules rules{
        [](ct::Operation const& node, ct::ForwardArgs& args) {
          static_cast<Derived const&>(node).kernel().jvp(args);
        },
        [](ct::Operation const& node, ct::ReverseArgs& args) {
          static_cast<Derived const&>(node).kernel().vjp(args);
        }};
    return &rules;
  } else if constexpr (HasZeroDerivative<Kernel>::value) {
    static constexpr ct::Differentiable::Rules rules{[](ct::Operation const&, ct::ForwardArgs&) {},
                                                     [](ct::Operation const&, ct::ReverseArgs&) {}};
    return &rules;
  } else {
    return nullptr;
  }
}

/// The virtual operations every kernel node shares, from a declaration of
/// what differs. Kernel supplies:
///   fields()               a std::tie of the fields, compared in order;
///   description()          the node's text;
///   compute(Args&)         the numeric computation (also used to fold);
///   code(Code&)            reservations and lines;
///   jvp(ct::ForwardArgs&), vjp(ct::ReverseArgs&)
///                          the derivative rules, written with traced kernels
///                          (or `static constexpr bool zeroDerivative = true`).
/// Derived is the node class (for clone and compare_).
template <class Derived, class Kernel, class Base>
class KernelNode : public Base, public ct::Differentiable {
 public:
  using KernelType = Kernel;

  std::string description() const override { return kernel_.description(); }
  std::string generateCode(ct::GenerateCodeVisitor& visitor) const override {
    auto compute = [](void const* kernel, Args& args) {
      static_cast<Kernel const*>(kernel)->compute(args);
    };
    // A scalar node's one value is always written.
    Code code(visitor, *this,
              this->isScalar() ? std::nullopt : outputCounts(visitor, *this, compute, &kernel_));
    kernel_.code(code);
    return code.text();
  }
  /// std::bad_cast when other is of another class. A kernel without
  /// fields keeps the base comparison.
  int compare_(ct::Operation const& other) const override {
    using Fields = decltype(kernel_.fields());
    if constexpr (std::tuple_size_v<Fields> == 0)
      return Base::compare_(other);
    else
      return compareFields(kernel_.fields(), dynamic_cast<Derived const&>(other).kernel_.fields());
  }
  Kernel const& kernel() const { return kernel_; }

 protected:
  template <class... BaseArgs>
  explicit KernelNode(Kernel kernel, BaseArgs&&... baseArgs)
      : Base(std::forward<BaseArgs>(baseArgs)...),
        ct::Differentiable(rulesOf<Derived, Kernel>()),
        kernel_(std::move(kernel)) {}

  /// Runs the kernel on the evaluated inputs; its results go to the
  /// evaluator's storage.
  void run_(Args& args) const { kernel_.compute(args); }

 private:
  Kernel kernel_;
};

/// A kernel node with array outputs.
template <class Derived, class Kernel>
class KernelOp : public KernelNode<Derived, Kernel, ct::VectorOperation> {
 public:
  KernelOp(Kernel kernel, std::vector<ct::OperationPtr> inputs)
      : KernelNode<Derived, Kernel, ct::VectorOperation>(std::move(kernel), std::move(inputs)) {}

  ct::OperationPtr clone() const override {
    return std::make_shared<Derived>(static_cast<Derived const&>(*this));
  }
  void evaluate(ct::NodeValues& values) const override {
    Args args(values);
    this->run_(args);
  }
};

/// A kernel node whose value is one scalar of type T (double, int or bool);
/// compute() writes it as the one element of its first result (bools as
/// Args::intOutput 0 or 1).
template <class Derived, class Kernel, class T = double>
class ScalarKernelOp : public KernelNode<Derived, Kernel, ct::ScalarOperation> {
 public:
  using ResultType = T;

  ScalarKernelOp(Kernel kernel, std::vector<ct::OperationPtr> inputs)
      : KernelNode<Derived, Kernel, ct::ScalarOperation>(
            std::move(kernel), ct::ScalarTypeOf<T>::value, std::move(inputs)) {}

  ct::ScalarOperationPtr cloneScalar() const override {
    return std::make_shared<Derived>(static_cast<Derived const&>(*this));
  }
  ct::ScalarValue evaluateScalar(ct::NodeValues& values) const override {
    Args args(values);
    this->run_(args);
    return ct::ScalarValue(resultOf(args.firstResult()));
  }

  /// The scalar a kernel's first result holds.
  static T resultOf(ct::ScalarValue const& first) {
    if constexpr (std::is_same_v<T, double>)
      return first.doubleValue();
    else
      return static_cast<T>(first.intValue());
  }
};

}  // namespace vela::math::frame
