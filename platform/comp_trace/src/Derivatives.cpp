#include "kelm_math/comp_trace/Derivatives.hpp"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>
#include <unordered_map>

#include "DerivativeGraph.hpp"
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
  roots_.reserve(outputs.size());
  for (TracedDouble const& out : outputs) roots_.push_back(out.operation());
  order_();
  markActive_();
}

void DerivativeGraph::order_() {
  // Depth-first, inputs in order, with an explicit stack: a node follows all
  // of its inputs.
  struct Frame {
    OperationPtr const* node;
    std::uint32_t next;
  };
  std::vector<Frame> stack;
  for (OperationPtr const& root : roots_) {
    if (index_.find(root.get())) continue;
    index_.insert(root.get(), kVisiting);
    stack.push_back({&root, 0});
    while (!stack.empty()) {
      Frame& top = stack.back();
      Operation const& node = **top.node;
      if (top.next < node.inputCount()) {
        OperationPtr const& in = node.input(top.next++);
        if (index_.find(in.get())) continue;
        index_.insert(in.get(), kVisiting);
        stack.push_back({&in, 0});
        continue;
      }
      *index_.find(&node) = static_cast<std::uint32_t>(nodes_.size());
      nodes_.push_back(top.node);
      stack.pop_back();
    }
  }
}

void DerivativeGraph::markActive_() {
  active_.assign(nodes_.size(), 0);
  for (std::size_t p = 0; p < nodes_.size(); ++p) {
    Operation const& node = *nodes_[p]->get();
    bool isDouble = !node.isScalar() ||
                    static_cast<ScalarOperation const&>(node).scalarType() == ScalarType::Double;
    if (!isDouble) continue;
    if (node.ownKind() == OwnKind::Input) {
      active_[p] = variables_.count(static_cast<InputOp const&>(node).name()) != 0;
      continue;
    }
    for (OperationPtr const& in : node.inputs())
      if (active_[position(*in)]) {
        active_[p] = 1;
        break;
      }
  }
}

std::uint32_t DerivativeGraph::position(Operation const& node) const { return *index_.find(&node); }

unsigned DerivativeGraph::variable(Operation const& input) const {
  return variables_.at(static_cast<InputOp const&>(input).name());
}

Differentiable::Rules const& DerivativeGraph::rulesOf(Operation const& node) {
  auto const* carrier = dynamic_cast<Differentiable const*>(&node);
  if (!carrier || !carrier->derivativeRules())
    throw DerivativeError("no derivative rule for " + className(node) + " (" + node.description() +
                          ")");
  return *carrier->derivativeRules();
}

std::array<TracedDouble, 2> const& DerivativeGraph::partialsOf(std::uint32_t p) {
  if (partialIndex_.empty()) partialIndex_.assign(nodes_.size(), kNone);
  std::uint32_t& slot = partialIndex_[p];
  if (slot == kNone) {
    auto const& node = static_cast<FunctionOp const&>(**nodes_[p]);
    std::array<bool, 2> wanted{};
    for (std::size_t i = 0; i < node.inputCount() && i < 2; ++i)
      wanted[i] = active_[position(*node.input(i))] != 0;
    slot = static_cast<std::uint32_t>(partials_.size());
    partials_.push_back(detail::partials(
        node, std::static_pointer_cast<ScalarOperation const>(*nodes_[p]), wanted));
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

std::vector<TracedDouble> jacobian(std::vector<TracedDouble> const& outputs,
                                   std::vector<TracedDouble> const& inputs) {
  detail::DerivativeGraph graph(outputs, inputs);
  std::size_t m = outputs.size(), n = inputs.size();
  std::vector<TracedDouble> result(m * n);
  if (n <= m) {
    std::vector<TracedDouble> seed(n);
    for (std::size_t j = 0; j < n; ++j) {
      seed[j] = 1.0;
      std::vector<TracedDouble> column = detail::forwardSweep(graph, seed);
      seed[j] = 0.0;
      for (std::size_t i = 0; i < m; ++i) result[i * n + j] = std::move(column[i]);
    }
  } else {
    std::vector<TracedDouble> seed(m);
    for (std::size_t i = 0; i < m; ++i) {
      seed[i] = 1.0;
      std::vector<TracedDouble> row = detail::reverseSweep(graph, seed);
      seed[i] = 0.0;
      for (std::size_t j = 0; j < n; ++j) result[i * n + j] = std::move(row[j]);
    }
  }
  return result;
}

std::vector<TracedDouble> gradient(TracedDouble const& f, std::vector<TracedDouble> const& inputs) {
  return vjp({f}, inputs, {TracedDouble(1.0)});
}

std::vector<TracedDouble> hessian(TracedDouble const& f, std::vector<TracedDouble> const& inputs) {
  return jacobian(gradient(f, inputs), inputs);
}

}  // namespace kelm_math::comp_trace
