#include "kelm_math/comp_trace/Operation.hpp"

#include <atomic>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace kelm_math::comp_trace {

Operation::Operation(bool scalar, std::vector<OperationPtr> inputs) : scalar_(scalar) {
  adopt_(inputs.data(), inputs.size());
}

Operation::Operation(Operation const& other)
    : scalar_(other.scalar_), kind_(other.kind_), valueType_(other.valueType_) {
  std::vector<OperationPtr> copies(other.inputs().begin(), other.inputs().end());
  adopt_(copies.data(), copies.size());
}

void Operation::nullInput_() { throw std::invalid_argument("comp_trace: a node input is null"); }

void Operation::adopt_(OperationPtr* inputs, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (!inputs[i]) nullInput_();
  if (n > kInline) {
    inputs_.spill_ = std::make_unique<OperationPtr[]>(n).release();
    for (std::size_t i = 0; i < n; ++i) inputs_.spill_[i] = std::move(inputs[i]);
  } else {
    for (std::size_t i = 0; i < n; ++i)
      new (&inputs_.inline_[i]) OperationPtr(std::move(inputs[i]));
  }
  count_ = static_cast<std::uint32_t>(n);
}

Operation::~Operation() {
  // Inputs that others still hold just lose a reference. Sole-owned ones
  // are released in a loop: each node's inputs are moved out before it
  // dies, so its destructor has nothing left to recurse into.
  OperationPtr* data = data_();
  bool soleOwner = false;
  for (std::uint32_t i = 0; i < count_; ++i) soleOwner = soleOwner || data[i].use_count() == 1;
  if (soleOwner) releaseChain_(data);
  if (count_ > kInline) {
    std::unique_ptr<OperationPtr[]> owned(inputs_.spill_);
  } else {
    for (std::uint32_t i = 0; i < count_; ++i) inputs_.inline_[i].~OperationPtr();
  }
}

void Operation::releaseChain_(OperationPtr* data) {
  std::vector<OperationPtr> pending(std::make_move_iterator(data),
                                    std::make_move_iterator(data + count_));
  while (!pending.empty()) {
    OperationPtr node = std::move(pending.back());
    pending.pop_back();
    if (node && node.use_count() == 1) {
      // The count is read relaxed: order the other owners' last uses of
      // this node before we take it apart.
      std::atomic_thread_fence(std::memory_order_acquire);
      auto& dying = const_cast<Operation&>(*node);
      OperationPtr* inputs = dying.data_();
      // Leaves go at once: kept on the stack, the constant of each step of
      // a chain would pile up under it, and the stack's growth among
      // thousands of fresh frees makes glibc consolidate its bins. The
      // dying node keeps its moved-from (null) inputs.
      for (std::uint32_t i = 0; i < dying.count_; ++i)
        if (inputs[i]->inputCount() != 0)
          pending.push_back(std::move(inputs[i]));
        else
          inputs[i].reset();
    }
  }
}

int Operation::compare_(Operation const&) const { return 0; }

OperationPtr const& Operation::input(std::size_t i) const {
  if (i >= count_) throw std::out_of_range("comp_trace: node input index out of range");
  return data_()[i];
}

ScalarOperation const& Operation::scalarInputRef(std::size_t i) const {
  OperationPtr const& in = input(i);
  if (!in->isScalar()) throw std::logic_error("comp_trace: node input is not a scalar node");
  return static_cast<ScalarOperation const&>(*in);
}

OperationPtr ScalarOperation::clone() const { return cloneScalar(); }

bool ScalarOperation::isAlwaysSimple() const { return false; }

ScalarValue ScalarOperation::evaluateScalar(NodeValues&) const {
  throw std::logic_error("comp_trace: node has no evaluation of its own: " + description());
}

std::string ScalarOperation::inlineCode(GenerateCodeVisitor const&) const {
  throw std::logic_error("comp_trace: inlineCode of a node that is not simple: " + description());
}

}  // namespace kelm_math::comp_trace
