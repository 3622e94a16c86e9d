#pragma once

// The graph a derivative walks: its nodes, each with the positions of its
// inputs, an order in which inputs come before their readers, which nodes
// depend on a variable, and what several sweeps over it share.

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "kelm_math/comp_trace/DerivativeRule.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"

namespace kelm_math::comp_trace::detail {

class DerivativeGraph {
 public:
  static constexpr std::uint32_t kNone = 0xffffffffu;

  /// What the sweeps ask of a node, kept beside the graph so that they do
  /// not load the node for it. fn and operand are those of a FunctionOp.
  struct NodeInfo {
    OwnKind kind;
    bool scalar;
    std::uint8_t fn, operand;
  };

  /// DerivativeError for an entry of inputs that is not an input value, or
  /// repeats one.
  DerivativeGraph(std::vector<TracedDouble> const& outputs,
                  std::vector<TracedDouble> const& inputs);

  std::size_t size() const { return nodes_.size() - 1; }
  /// Node p, and a shared handle to it.
  Operation const& op(std::size_t p) const { return *nodes_[p].op; }
  OperationPtr const& node(std::size_t p) const { return *nodes_[p].ptr; }
  NodeInfo const& info(std::size_t p) const { return nodes_[p].info; }
  bool active(std::size_t p) const { return nodes_[p].active != 0; }
  std::size_t inputCount(std::size_t p) const { return nodes_[p + 1].first - nodes_[p].first; }
  /// The position of input i of node p.
  std::uint32_t input(std::size_t p, std::size_t i) const { return inputs_[nodes_[p].first + i]; }
  /// The index in `inputs` of input node p; kNone when it is not a variable.
  unsigned variable(std::size_t p) const { return nodes_[p].variable; }
  unsigned variableCount() const { return variableCount_; }
  /// The position of each output.
  std::vector<std::uint32_t> const& roots() const { return roots_; }
  /// Every position once, each after those of its inputs.
  std::vector<std::uint32_t> const& order() const { return order_; }

  /// The rules of a node outside the trace library; DerivativeError naming
  /// its class when it has none.
  static Differentiable::Rules const& rulesOf(Operation const& node);
  /// The partial derivatives of function node p, made once for all sweeps.
  std::array<TracedDouble, 2> const& partialsOf(std::uint32_t p);

 private:
  void find_(std::vector<TracedDouble> const& outputs);
  void sequence_(std::vector<std::uint32_t>& readers);

  /// What a sweep reads of a node, in one place. Until the order is
  /// known, active says whether the node is a double (or array).
  struct Node {
    Operation const* op;
    OperationPtr const* ptr;
    std::uint32_t first;  // its inputs: inputs_[first...next node's first]
    unsigned variable;
    NodeInfo info;
    std::uint8_t active;
  };

  std::vector<OperationPtr> held_;  // outputs' nodes, kept alive
  std::vector<Node> nodes_;         // as found, then one past the end
  std::vector<std::uint32_t> inputs_;
  std::vector<std::uint32_t> roots_;
  std::vector<std::uint32_t> order_;
  std::unordered_map<std::string, unsigned> variables_;
  unsigned variableCount_ = 0;
  std::vector<std::uint32_t> partialIndex_;
  std::vector<std::array<TracedDouble, 2>> partials_;
};

/// For each output, the variables from which a path that carries
/// derivatives leads to it, ascending.
std::vector<std::vector<std::uint32_t>> dependencies(DerivativeGraph const& graph);

/// Output i's tangent for the variables' tangents.
std::vector<TracedDouble> forwardSweep(DerivativeGraph& graph,
                                       std::vector<TracedDouble> const& tangents);
/// Each variable's cotangent for the outputs' cotangents.
std::vector<TracedDouble> reverseSweep(DerivativeGraph& graph,
                                       std::vector<TracedDouble> const& cotangents);

}  // namespace kelm_math::comp_trace::detail
