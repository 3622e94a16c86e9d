#pragma once

// The graph a derivative walks: its nodes in dependency order, which of
// them depend on a variable, and what several sweeps over it share.

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "PointerMap.hpp"
#include "kelm_math/comp_trace/DerivativeRule.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"

namespace kelm_math::comp_trace::detail {

class DerivativeGraph {
 public:
  /// DerivativeError for an entry of inputs that is not an input value, or
  /// repeats one.
  DerivativeGraph(std::vector<TracedDouble> const& outputs,
                  std::vector<TracedDouble> const& inputs);

  std::size_t size() const { return nodes_.size(); }
  OperationPtr const& node(std::size_t p) const { return *nodes_[p]; }
  bool active(std::size_t p) const { return active_[p] != 0; }
  std::uint32_t position(Operation const& node) const;
  /// The index in `inputs` of an active input node.
  unsigned variable(Operation const& input) const;
  unsigned variableCount() const { return variableCount_; }
  std::vector<OperationPtr> const& roots() const { return roots_; }

  /// The rules of a node outside the trace library; DerivativeError naming
  /// its class when it has none.
  static Differentiable::Rules const& rulesOf(Operation const& node);
  /// The partial derivatives of function node p, made once for all sweeps.
  std::array<TracedDouble, 2> const& partialsOf(std::uint32_t p);

 private:
  static constexpr std::uint32_t kVisiting = 0xffffffffu;
  static constexpr std::uint32_t kNone = 0xffffffffu;
  void order_();
  void markActive_();

  std::vector<OperationPtr> roots_;
  std::vector<OperationPtr const*> nodes_;  // inputs before their readers
  PointerMap<std::uint32_t> index_;
  std::vector<std::uint8_t> active_;
  std::unordered_map<std::string, unsigned> variables_;
  unsigned variableCount_ = 0;
  std::vector<std::uint32_t> partialIndex_;
  std::vector<std::array<TracedDouble, 2>> partials_;
};

/// Output i's tangent for the variables' tangents.
std::vector<TracedDouble> forwardSweep(DerivativeGraph& graph,
                                       std::vector<TracedDouble> const& tangents);
/// Each variable's cotangent for the outputs' cotangents.
std::vector<TracedDouble> reverseSweep(DerivativeGraph& graph,
                                       std::vector<TracedDouble> const& cotangents);

}  // namespace kelm_math::comp_trace::detail
