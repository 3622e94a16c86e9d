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
  order_(outputs);
}

void DerivativeGraph::order_(std::vector<TracedDouble> const& outputs) {
  held_.reserve(outputs.size());
  for (TracedDouble const& out : outputs) held_.push_back(out.operation());

  // First every node is found and numbered, breadth first: the nodes that
  // wait in the queue are known ahead, so their loads overlap, where a
  // depth-first walk of the nodes waits on one load at a time. A node that
  // only one reference holds is reached through that one edge, so only
  // nodes held several times are looked up by address.
  std::vector<Node> found;
  std::vector<std::uint32_t> firstIn, inputsIn;  // inputs by number
  PointerMap<std::uint32_t> seen;
  auto number = [&](OperationPtr const& op, bool shared) {
    auto id = static_cast<std::uint32_t>(found.size());
    if (shared) {
      std::uint32_t known = seen.findOrInsert(op.get(), id);
      if (known != id) return known;
    }
    // Set field by field: an aggregate built aside is read back in wider
    // words than it was written in, and the load waits on the stores.
    Node& entry = found.emplace_back();
    entry.op = op.get();
    entry.ptr = &op;
    return id;
  };
  std::vector<std::uint32_t> rootIds;
  rootIds.reserve(held_.size());
  for (OperationPtr const& root : held_) rootIds.push_back(number(root, true));
  // Loads are asked for in two steps: the node 2 kAhead places on, and the
  // shared counts of the inputs of the node kAhead places on (by then in
  // the cache), which numbering that node reads.
  constexpr std::size_t kAhead = 8;
  for (std::size_t k = 0; k < found.size(); ++k) {
    if (k + 2 * kAhead < found.size()) __builtin_prefetch(found[k + 2 * kAhead].op);
    if (k + kAhead < found.size())
      for (OperationPtr const& in : found[k + kAhead].op->inputs())
        __builtin_prefetch(reinterpret_cast<char const*>(in.get()) - sizeof(void*));
    Operation const& node = *found[k].op;
    firstIn.push_back(static_cast<std::uint32_t>(inputsIn.size()));
    for (OperationPtr const& in : node.inputs())
      inputsIn.push_back(number(in, in.use_count() != 1));
    bool dbl = !node.isScalar() ||
               static_cast<ScalarOperation const&>(node).scalarType() == ScalarType::Double;
    unsigned variable = kNone;
    if (dbl && node.ownKind() == OwnKind::Input) {
      auto known = variables_.find(static_cast<InputOp const&>(node).name());
      if (known != variables_.end()) variable = known->second;
    }
    Node& entry = found[k];
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
  std::size_t const n = found.size();
  firstIn.push_back(static_cast<std::uint32_t>(inputsIn.size()));

  // Then positions: depth first over the numbers, inputs in order, so that
  // a node follows all of its inputs. A placed node's position carries
  // whether it is active in its top bit, where its readers look for it.
  constexpr std::uint32_t kOpen = kNone - 1;
  constexpr std::uint32_t kActive = 0x80000000u;
  std::vector<std::uint32_t> position(n, kNone);
  nodes_.reserve(n + 1);
  inputs_.reserve(inputsIn.size());
  struct Frame {
    std::uint32_t id, next, end;
  };
  std::vector<Frame> stack;
  for (std::uint32_t root : rootIds) {
    if (position[root] == kNone) {
      position[root] = kOpen;
      stack.push_back({root, firstIn[root], firstIn[root + 1]});
    }
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.next < top.end) {
        std::uint32_t in = inputsIn[top.next++];
        if (position[in] == kNone) {
          position[in] = kOpen;
          stack.push_back({in, firstIn[in], firstIn[in + 1]});
        }
        continue;
      }
      std::uint32_t id = top.id;
      stack.pop_back();
      auto p = static_cast<std::uint32_t>(nodes_.size());
      Node& node = nodes_.emplace_back(found[id]);
      node.first = static_cast<std::uint32_t>(inputs_.size());
      // Active: a double (or array) computed from a variable.
      std::uint32_t active = node.variable != kNone ? kActive : 0;
      for (std::uint32_t k = firstIn[id]; k < firstIn[id + 1]; ++k) {
        std::uint32_t q = position[inputsIn[k]];
        inputs_.push_back(q & ~kActive);
        active |= q & kActive;
      }
      if (!node.active) active = 0;
      node.active = active != 0;
      position[id] = p | active;
    }
    roots_.push_back(position[root] & ~kActive);
  }
  nodes_.push_back({nullptr, nullptr, static_cast<std::uint32_t>(inputs_.size()), kNone, {}, 0});
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
