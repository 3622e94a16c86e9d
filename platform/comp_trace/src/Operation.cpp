#include "kelm_math/comp_trace/Operation.hpp"

#include <atomic>
#include <stdexcept>
#include <utility>

namespace kelm_math::comp_trace {

Operation::Operation(bool scalar, std::vector<OperationPtr> inputs)
    : inputs_(std::move(inputs)), scalar_(scalar) {
  for (auto const& in : inputs_)
    if (!in) throw std::invalid_argument("comp_trace: a node input is null");
}

Operation::~Operation() {
  // Release sole-owned inputs iteratively: each node's inputs are moved out
  // before it dies, so its destructor has nothing left to recurse into.
  std::vector<OperationPtr> pending = std::move(inputs_);
  while (!pending.empty()) {
    OperationPtr node = std::move(pending.back());
    pending.pop_back();
    if (node && node.use_count() == 1) {
      // The count is read relaxed: order the other owners' last uses of
      // this node before we take it apart.
      std::atomic_thread_fence(std::memory_order_acquire);
      auto& inputs = const_cast<Operation&>(*node).inputs_;
      for (auto& in : inputs) pending.push_back(std::move(in));
      inputs.clear();
    }
  }
}

int Operation::compare_(Operation const&) const { return 0; }

OperationPtr const& Operation::input(std::size_t i) const {
  if (i >= inputs_.size()) throw std::out_of_range("comp_trace: node input index out of range");
  return inputs_[i];
}

ScalarOperation const& Operation::scalarInputRef(std::size_t i) const {
  OperationPtr const& in = input(i);
  if (!in->isScalar()) throw std::logic_error("comp_trace: node input is not a scalar node");
  return static_cast<ScalarOperation const&>(*in);
}

VectorOperation::VectorOperation(std::vector<OperationPtr> inputs)
    : Operation(false, std::move(inputs)) {}
VectorOperation::VectorOperation(OperationPtr a) : Operation(false, {std::move(a)}) {}
VectorOperation::VectorOperation(OperationPtr a, OperationPtr b)
    : Operation(false, {std::move(a), std::move(b)}) {}
VectorOperation::VectorOperation(OperationPtr a, OperationPtr b, OperationPtr c)
    : Operation(false, {std::move(a), std::move(b), std::move(c)}) {}
VectorOperation::VectorOperation(OperationPtr a, OperationPtr b, OperationPtr c, OperationPtr d)
    : Operation(false, {std::move(a), std::move(b), std::move(c), std::move(d)}) {}
VectorOperation::VectorOperation(OperationPtr a, OperationPtr b, OperationPtr c, OperationPtr d,
                                 OperationPtr e)
    : Operation(false, {std::move(a), std::move(b), std::move(c), std::move(d), std::move(e)}) {}

ScalarOperation::ScalarOperation(ScalarType type, std::vector<OperationPtr> inputs)
    : Operation(true, std::move(inputs)), type_(type) {}
ScalarOperation::ScalarOperation(ScalarType type, OperationPtr a)
    : Operation(true, {std::move(a)}), type_(type) {}
ScalarOperation::ScalarOperation(ScalarType type, OperationPtr a, OperationPtr b)
    : Operation(true, {std::move(a), std::move(b)}), type_(type) {}
ScalarOperation::ScalarOperation(ScalarType type, OperationPtr a, OperationPtr b, OperationPtr c)
    : Operation(true, {std::move(a), std::move(b), std::move(c)}), type_(type) {}
ScalarOperation::ScalarOperation(ScalarType type, OperationPtr a, OperationPtr b, OperationPtr c,
                                 OperationPtr d)
    : Operation(true, {std::move(a), std::move(b), std::move(c), std::move(d)}), type_(type) {}

OperationPtr ScalarOperation::clone() const { return cloneScalar(); }

bool ScalarOperation::isAlwaysSimple() const { return false; }

ScalarValue ScalarOperation::evaluateScalar(NodeValues&) const {
  throw std::logic_error("comp_trace: node has no evaluation of its own: " + description());
}

std::string ScalarOperation::inlineCode(GenerateCodeVisitor const&) const {
  throw std::logic_error("comp_trace: inlineCode of a node that is not simple: " + description());
}

}  // namespace kelm_math::comp_trace
