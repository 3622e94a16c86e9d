#include "kelm_math/comp_trace/Evaluation.hpp"

#include <stdexcept>
#include <unordered_map>

#include "EvaluationMemo.hpp"

namespace kelm_math::comp_trace {

UnboundInput::UnboundInput(std::string const& name)
    : name_(name), message_("comp_trace UnboundInput: " + name) {}

const char* UnboundInput::what() const noexcept { return message_.c_str(); }

BindingSet::BindingSet() = default;
BindingSet::~BindingSet() = default;
BindingSet::BindingSet(BindingSet const& other) : values_(other.values_) {}
BindingSet& BindingSet::operator=(BindingSet const& other) {
  values_ = other.values_;
  memo_ptr_.reset();
  return *this;
}
BindingSet::BindingSet(BindingSet&&) noexcept = default;
BindingSet& BindingSet::operator=(BindingSet&&) noexcept = default;

void BindingSet::bind(std::string const& name, double value) {
  values_[name] = ScalarValue(value);
  memo_ptr_.reset();
}
void BindingSet::bind(std::string const& name, int value) {
  values_[name] = ScalarValue(value);
  memo_ptr_.reset();
}
void BindingSet::bind(std::string const& name, bool value) {
  values_[name] = ScalarValue(value);
  memo_ptr_.reset();
}

bool BindingSet::isBound(std::string const& name) const { return values_.count(name) != 0; }

ScalarValue const& BindingSet::value(std::string const& name) const {
  auto it = values_.find(name);
  if (it == values_.end()) throw UnboundInput(name);
  return it->second;
}

detail::EvaluationMemo& BindingSet::memo_() const {
  if (!memo_ptr_) memo_ptr_ = std::make_unique<detail::EvaluationMemo>();
  return *memo_ptr_;
}

std::vector<VectorValue> const& BindingSet::evaluateVector(OperationPtr const& op) const {
  if (op->isScalar()) throw std::logic_error("comp_trace: evaluateVector of a scalar node");
  return memo_().evaluate(op, *this).vectors;
}

ScalarValue const& BindingSet::evaluateScalar(OperationPtr const& op) const {
  if (!op->isScalar()) throw std::logic_error("comp_trace: evaluateScalar of a vector node");
  return memo_().evaluate(op, *this).scalar;
}

std::vector<VectorValue> const& EvaluateVisitor::vectorValues(Operation const& input) const {
  return memo_.at(input).vectors;
}

ScalarValue const& EvaluateVisitor::scalarValue(Operation const& input) const {
  return memo_.at(input).scalar;
}

namespace detail {

EvaluationMemo::Entry const& EvaluationMemo::at(Operation const& op) const {
  auto it = entries.find(&op);
  if (it == entries.end()) throw std::logic_error("comp_trace: input evaluated out of order");
  return it->second;
}

EvaluationMemo::Entry const& EvaluationMemo::evaluate(OperationPtr const& root,
                                                      BindingSet const& bindings) {
  if (auto it = entries.find(root.get()); it != entries.end()) return it->second;
  // Depth-first over unevaluated nodes with an explicit stack, so deep
  // graphs do not exhaust the call stack and shared nodes run once.
  struct Frame {
    OperationPtr const* op;
    std::size_t next;
  };
  std::vector<Frame> stack{{&root, 0}};
  EvaluateVisitor visitor(bindings, *this);
  while (!stack.empty()) {
    Operation const& op = **stack.back().op;
    if (stack.back().next < op.inputCount()) {
      OperationPtr const& in = op.input(stack.back().next++);
      if (entries.find(in.get()) == entries.end()) stack.push_back({&in, 0});
      continue;
    }
    Entry entry;
    entry.keep = *stack.back().op;
    if (op.isScalar())
      entry.scalar = static_cast<ScalarOperation const&>(op).evaluateScalar(visitor);
    else
      entry.vectors = static_cast<VectorOperation const&>(op).evaluate(visitor);
    entries.emplace(&op, std::move(entry));
    stack.pop_back();
  }
  return entries.at(root.get());
}

}  // namespace detail
}  // namespace kelm_math::comp_trace
