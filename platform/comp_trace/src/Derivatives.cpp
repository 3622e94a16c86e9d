#include "kelm_math/comp_trace/Derivatives.hpp"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>
#include <unordered_map>

#include "DerivativeGraph.hpp"
#include "PointerMap.hpp"
#include "ScalarRules.hpp"
#include "kelm_math/comp_trace/CollectOp.hpp"
#include "kelm_math/comp_trace/DerivativeRule.hpp"
#include "kelm_math/comp_trace/Functions.hpp"

namespace kelm_math::comp_trace {

DerivativeError::DerivativeError(std::string const& reason)
    : message_("comp_trace DerivativeError: " + reason) {}

const char* DerivativeError::what() const noexcept { return message_.c_str(); }

namespace detail {
namespace {

std::string className(Operation const& node) {
  char const* mangled = typeid(node).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return status == 0 && name ? name.get() : mangled;
}

}  // namespace

DerivativeGraph::DerivativeGraph(std::vector<TracedDouble> const& outputs,
                                 std::vector<TracedDouble> const& inputs) {
  for (std::size_t j = 0; j < inputs.size(); ++j) {
    TracedDouble const& in = inputs[j];
    std::string where = "inputs[" + std::to_string(j) + "]";
    if (in.isConstant()) throw DerivativeError(where + " is a constant, not an input value");
    ScalarOperationPtr op = in.operation();
    if (op->ownKind() != OwnKind::Input)
      throw DerivativeError(where + " is computed by " + op->description() +
                            ", not an input value");
    auto const& name = static_cast<InputOp const&>(*op).name();
    if (!variables_.emplace(name, static_cast<unsigned>(j)).second)
      throw DerivativeError(where + " repeats the input " + name);
  }
  variableCount_ = static_cast<unsigned>(inputs.size());
  find_(outputs);
}

void DerivativeGraph::find_(std::vector<TracedDouble> const& outputs) {
  held_.reserve(outputs.size());
  for (TracedDouble const& out : outputs) held_.push_back(out.operation());

  // First every node is found and numbered, breadth first: the nodes that
  // wait in the queue are known ahead, so their loads overlap, where a
  // depth-first walk of the nodes waits on one load at a time. A node that
  // only one reference holds is reached through that one edge, so only
  // nodes held several times are looked up by address. The numbers are
  // the nodes' positions.
  std::vector<std::uint32_t> readers;  // of each node, within the graph
  PointerMap<std::uint32_t> seen;
  auto number = [&](OperationPtr const& op, bool shared) {
    auto id = static_cast<std::uint32_t>(nodes_.size());
    if (shared) {
      std::uint32_t known = seen.findOrInsert(op.get(), id);
      if (known != id) return known;
    }
    // Set field by field: an aggregate built aside is read back in wider
    // words than it was written in, and the load waits on the stores.
    Node& entry = nodes_.emplace_back();
    entry.op = op.get();
    entry.ptr = &op;
    readers.push_back(0);
    return id;
  };
  roots_.reserve(held_.size());
  for (OperationPtr const& root : held_) roots_.push_back(number(root, true));
  // Loads are asked for in two steps: the node 2 kAhead places on, and the
  // shared counts of the inputs of the node kAhead places on (by then in
  // the cache), which numbering that node reads.
  constexpr std::size_t kAhead = 8;
  for (std::size_t k = 0; k < nodes_.size(); ++k) {
    if (k + 2 * kAhead < nodes_.size()) __builtin_prefetch(nodes_[k + 2 * kAhead].op);
    if (k + kAhead < nodes_.size())
      for (OperationPtr const& in : nodes_[k + kAhead].op->inputs())
        __builtin_prefetch(reinterpret_cast<char const*>(in.get()) - sizeof(void*));
    Operation const& node = *nodes_[k].op;
    auto first = static_cast<std::uint32_t>(inputs_.size());
    for (OperationPtr const& in : node.inputs()) {
      std::uint32_t q = number(in, in.use_count() != 1);
      ++readers[q];
      inputs_.push_back(q);
    }
    bool dbl = !node.isScalar() ||
               static_cast<ScalarOperation const&>(node).scalarType() == ScalarType::Double;
    unsigned variable = kNone;
    if (dbl && node.ownKind() == OwnKind::Input) {
      auto known = variables_.find(static_cast<InputOp const&>(node).name());
      if (known != variables_.end()) variable = known->second;
    }
    Node& entry = nodes_[k];
    entry.first = first;
    entry.variable = variable;
    entry.active = dbl;
    entry.info.kind = node.ownKind();
    entry.info.scalar = node.isScalar();
    if (entry.info.kind == OwnKind::Function) {
      auto const& function = static_cast<FunctionOp const&>(node);
      entry.info.fn = static_cast<std::uint8_t>(function.fn());
      entry.info.operand = static_cast<std::uint8_t>(function.operand());
    }
  }
  nodes_.push_back({nullptr, nullptr, static_cast<std::uint32_t>(inputs_.size()), kNone, {}, 0});
  sequence_(readers);
}

void DerivativeGraph::sequence_(std::vector<std::uint32_t>& readers) {
  // Each node once all of its readers are placed (Kahn's order), filled
  // from the back so that inputs come first. Only outputs have no
  // readers; the queue is the order itself.
  std::size_t const n = size();
  order_.resize(n);
  std::size_t placed = n, queued = n;
  for (std::uint32_t root : roots_)
    if (readers[root] == 0) {
      readers[root] = kNone;  // queued: a repeated output is not queued again
      order_[--queued] = root;
    }
  while (placed > 0) {
    std::uint32_t p = order_[--placed];
    for (std::uint32_t k = nodes_[p].first; k < nodes_[p + 1].first; ++k)
      if (--readers[inputs_[k]] == 0) order_[--queued] = inputs_[k];
  }
  // Active: a double (or array) computed from a variable.
  for (std::uint32_t p : order_) {
    Node& node = nodes_[p];
    bool active = node.variable != kNone;
    for (std::uint32_t k = node.first; k < nodes_[p + 1].first && !active; ++k)
      active = nodes_[inputs_[k]].active;
    node.active = node.active && active;
  }
}

Differentiable::Rules const& DerivativeGraph::rulesOf(Operation const& node) {
  auto const* carrier = dynamic_cast<Differentiable const*>(&node);
  if (!carrier || !carrier->derivativeRules())
    throw DerivativeError("no derivative rule for " + className(node) + " (" + node.description() +
                          ")");
  return *carrier->derivativeRules();
}

std::array<TracedDouble, 2> const& DerivativeGraph::partialsOf(std::uint32_t p) {
  if (partialIndex_.empty()) partialIndex_.assign(size(), kNone);
  std::uint32_t& slot = partialIndex_[p];
  if (slot == kNone) {
    auto const& function = static_cast<FunctionOp const&>(op(p));
    std::array<bool, 2> wanted{};
    for (std::size_t i = 0; i < function.inputCount() && i < 2; ++i)
      wanted[i] = active(input(p, i));
    slot = static_cast<std::uint32_t>(partials_.size());
    partials_.push_back(detail::partials(
        function, std::static_pointer_cast<ScalarOperation const>(node(p)), wanted));
  }
  return partials_[slot];
}

}  // namespace detail

namespace {

void checkLength(std::size_t got, std::size_t want, char const* what, char const* of) {
  if (got != want)
    throw DerivativeError(std::string(what) + " has " + std::to_string(got) + " values for " +
                          std::to_string(want) + " " + of);
}

}  // namespace

std::vector<TracedDouble> jvp(std::vector<TracedDouble> const& outputs,
                              std::vector<TracedDouble> const& inputs,
                              std::vector<TracedDouble> const& tangents) {
  checkLength(tangents.size(), inputs.size(), "tangents", "inputs");
  detail::DerivativeGraph graph(outputs, inputs);
  return detail::forwardSweep(graph, tangents);
}

std::vector<TracedDouble> vjp(std::vector<TracedDouble> const& outputs,
                              std::vector<TracedDouble> const& inputs,
                              std::vector<TracedDouble> const& cotangents) {
  checkLength(cotangents.size(), outputs.size(), "cotangents", "outputs");
  detail::DerivativeGraph graph(outputs, inputs);
  return detail::reverseSweep(graph, cotangents);
}

std::vector<TracedDouble> gradient(TracedDouble const& f, std::vector<TracedDouble> const& inputs) {
  return vjp({f}, inputs, {TracedDouble(1.0)});
}

std::vector<TracedDouble> hessian(TracedDouble const& f, std::vector<TracedDouble> const& inputs) {
  return jacobian(gradient(f, inputs), inputs);
}

}  // namespace kelm_math::comp_trace
