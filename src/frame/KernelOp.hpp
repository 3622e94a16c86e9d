#pragma once

#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "frame/Args.hpp"
#include "frame/Code.hpp"
#include "kelm_math/comp_trace/Operation.hpp"

namespace vela::math::frame {

/// -1, 0 or 1 comparing two field tuples in order: bool false before true,
/// signed fields as signed, unsigned as unsigned.
template <class Tuple, std::size_t... I>
int compareFields(Tuple const& a, Tuple const& b, std::index_sequence<I...>) {
  int result = 0;
  ((result = result != 0                             ? result
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

/// Every virtual operation of a kernel's vector node, from a declaration
/// of what differs. Kernel supplies:
///   fields()               a std::tie of the fields, compared in order;
///   description()          the node's text;
///   compute(Args&)         the numeric computation (also used to fold);
///   code(Code&)            reservations and lines.
/// Derived is the node class (for clone and compare_).
template <class Derived, class Kernel>
class KernelOp : public ct::VectorOperation {
 public:
  using KernelType = Kernel;

  KernelOp(Kernel kernel, std::vector<ct::OperationPtr> inputs)
      : ct::VectorOperation(std::move(inputs)), kernel_(std::move(kernel)) {}

  ct::OperationPtr clone() const override {
    return std::make_shared<Derived>(static_cast<Derived const&>(*this));
  }
  std::string description() const override { return kernel_.description(); }
  std::string generateCode(ct::GenerateCodeVisitor& visitor) const override {
    Code code(visitor, *this);
    kernel_.code(code);
    return code.text();
  }
  /// std::bad_cast when other is of another class.
  int compare_(ct::Operation const& other) const override {
    return compareFields(kernel_.fields(), dynamic_cast<Derived const&>(other).kernel_.fields());
  }
  std::vector<ct::VectorValue> evaluate(ct::EvaluateVisitor const& visitor) const override {
    Args args = Args::fromInputs(visitor, *this);
    kernel_.compute(args);
    return args.takeResults();
  }

  Kernel const& kernel() const { return kernel_; }

 private:
  Kernel kernel_;
};

/// The same for a kernel whose node is one double scalar; compute() writes
/// its value into Args::output(1).
template <class Derived, class Kernel>
class ScalarKernelOp : public ct::ScalarOperation {
 public:
  using KernelType = Kernel;

  ScalarKernelOp(Kernel kernel, std::vector<ct::OperationPtr> inputs)
      : ct::ScalarOperation(ct::ScalarType::Double, std::move(inputs)), kernel_(std::move(kernel)) {}

  ct::ScalarOperationPtr cloneScalar() const override {
    return std::make_shared<Derived>(static_cast<Derived const&>(*this));
  }
  std::string description() const override { return kernel_.description(); }
  std::string generateCode(ct::GenerateCodeVisitor& visitor) const override {
    Code code(visitor, *this);
    kernel_.code(code);
    return code.text();
  }
  int compare_(ct::Operation const& other) const override {
    return compareFields(kernel_.fields(), dynamic_cast<Derived const&>(other).kernel_.fields());
  }
  ct::ScalarValue evaluateScalar(ct::EvaluateVisitor const& visitor) const override {
    Args args = Args::fromInputs(visitor, *this);
    kernel_.compute(args);
    return args.takeResults().at(0).element(0);
  }

  Kernel const& kernel() const { return kernel_; }

 private:
  Kernel kernel_;
};

}  // namespace vela::math::frame
