// The forward and reverse sweeps: one pass over the graph in dependency
// order (or its reverse), each active node turning its inputs' tangents into
// its own, or its cotangent into its inputs'.

#include <algorithm>

#include "DerivativeGraph.hpp"
#include "NodePool.hpp"
#include "Recording.hpp"
#include "ScalarRules.hpp"
#include "kelm_math/comp_trace/CollectOp.hpp"
#include "kelm_math/comp_trace/Functions.hpp"

namespace kelm_math::comp_trace {

namespace {
ScalarOperationPtr scalarNode(OperationPtr const& op) {
  return std::static_pointer_cast<ScalarOperation const>(op);
}
}  // namespace

TracedInt RuleArgs::size(std::size_t i) const { return TracedInt(scalarNode(node_->input(i))); }

TracedDouble RuleArgs::scalar(std::size_t i) const {
  return TracedDouble(scalarNode(node_->input(i)));
}

TracedArray RuleArgs::array(std::size_t i) const {
  Operation const& collect = *node_->input(i);
  TracedArray values;
  values.reserve(collect.inputCount());
  for (OperationPtr const& element : collect.inputs()) values.emplace_back(scalarNode(element));
  return values;
}

std::vector<TracedInt> RuleArgs::intArray(std::size_t i) const {
  Operation const& collect = *node_->input(i);
  std::vector<TracedInt> values;
  values.reserve(collect.inputCount());
  for (OperationPtr const& element : collect.inputs()) values.emplace_back(scalarNode(element));
  return values;
}

TracedArray RuleArgs::output(unsigned j, unsigned n) const {
  if (node_->isScalar()) return TracedArray(n, TracedDouble(scalarNode(node_)));
  TracedArray values(n);
  TracedDouble::accessElements(node_, j, n, values.data());
  return values;
}

namespace detail {
namespace {

constexpr std::uint32_t kNoSlot = 0xffffffffu;

bool zeroValue(TracedDouble const& v) { return v.isConstant() && isStructuralZero(v); }

/// Makes the node of a function in the sweep's pool.
struct InThePool {
  NodePool* pool;
  template <std::size_t N>
  ScalarOperationPtr operator()(Fn fn, ScalarType operand,
                                std::array<OperationPtr, N>&& inputs) const {
    return pool->make<FunctionOp>(fn, operand, std::move(inputs));
  }
};

/// a fn b for fn Add or Sub, folded as the operators fold; the node takes
/// over both handles.
TracedDouble binary(NodePool* pool, Fn fn, TracedDouble a, TracedDouble b) {
  return callWith<double>(InThePool{pool}, fn, ScalarType::Double, std::move(a), std::move(b));
}

/// -v, folded for a constant.
TracedDouble negated(NodePool* pool, TracedDouble v) {
  return callWith<double>(InThePool{pool}, Fn::Neg, ScalarType::Double, std::move(v));
}

bool allZero(TracedArray const& values) {
  return std::all_of(values.begin(), values.end(),
                     [](TracedDouble const& v) { return zeroValue(v); });
}

TracedArray padded(TracedArray values, unsigned n) {
  values.resize(n);
  return values;
}

/// Derivatives of every node of one sweep: one per scalar node, one array
/// per output of a vector node. A scalar derivative may be held negated:
/// sums, differences, negations and products pass the sign on, so that a
/// reverse sweep records a negation only where something else reads it.
class Derivatives {
 public:
  Derivatives(std::size_t n, NodePool* pool)
      : scalars_(n), negated_(n, 0), slots_(n, kNoSlot), pool_(pool) {}
  NodePool* pool() const { return pool_; }
  /// The derivative of scalar node p; one held negated is negated first.
  TracedDouble& scalar(std::size_t p) {
    if (negated_[p]) {
      scalars_[p] = negated(pool_, std::move(scalars_[p]));
      negated_[p] = 0;
    }
    return scalars_[p];
  }
  bool isZero(std::size_t p) const { return zeroValue(scalars_[p]); }
  /// Moves out the derivative of scalar node p, or its negation where
  /// `minus` comes back true.
  TracedDouble take(std::size_t p, bool& minus) {
    minus = negated_[p] != 0;
    negated_[p] = 0;
    return std::move(scalars_[p]);
  }
  /// Adds v (or subtracts it) to the derivative of scalar node p, taking
  /// over v's handle.
  void add(std::size_t p, TracedDouble v, bool subtract = false) {
    if (zeroValue(v)) return;
    TracedDouble& acc = scalars_[p];
    bool minus = negated_[p] != 0;
    if (zeroValue(acc)) {
      acc = std::move(v);
      negated_[p] = subtract;
    } else if (minus == subtract) {  // +-(acc + v)
      acc = binary(pool_, Fn::Add, std::move(acc), std::move(v));
    } else {  // acc - v, or v - acc
      acc = minus ? binary(pool_, Fn::Sub, std::move(v), std::move(acc))
                  : binary(pool_, Fn::Sub, std::move(acc), std::move(v));
      negated_[p] = 0;
    }
  }
  /// Output arrays of vector node p; null when it has none.
  std::vector<TracedArray>* arrays(std::size_t p) {
    return slots_[p] == kNoSlot ? nullptr : &arrays_[slots_[p]];
  }
  std::vector<TracedArray>& makeArrays(std::size_t p) {
    if (slots_[p] == kNoSlot) {
      slots_[p] = static_cast<std::uint32_t>(arrays_.size());
      arrays_.emplace_back();
    }
    return arrays_[slots_[p]];
  }
  TracedArray& array(std::size_t p, unsigned output) {
    auto& outputs = makeArrays(p);
    if (outputs.size() <= output) outputs.resize(output + 1);
    return outputs[output];
  }
  TracedDouble element(std::size_t p, unsigned output, unsigned index) {
    auto* outputs = arrays(p);
    if (!outputs || outputs->size() <= output || (*outputs)[output].size() <= index) return 0.0;
    return (*outputs)[output][index];
  }

 private:
  std::vector<TracedDouble> scalars_;
  std::vector<std::uint8_t> negated_;
  std::vector<std::uint32_t> slots_;
  std::vector<std::vector<TracedArray>> arrays_;
  NodePool* pool_;
};

class KernelForward final : public ForwardArgs {
 public:
  KernelForward(DerivativeGraph const& g, Derivatives& d, std::size_t p)
      : ForwardArgs(g.node(p)), g_(g), d_(d), p_(p) {}
  TracedArray tangent(std::size_t i) const override {
    Operation const& in = *node().input(i);
    std::uint32_t q = g_.input(p_, i);
    if (in.ownKind() == OwnKind::Collect)
      return g_.active(q) ? padded(d_.array(q, 0), in.inputCount()) : TracedArray(in.inputCount());
    return {g_.active(q) ? d_.scalar(q) : TracedDouble()};
  }
  bool isZero(std::size_t i) const override { return allZero(tangent(i)); }
  TracedDouble* outputTangent(unsigned j, unsigned n) override {
    if (outputs_.size() <= j) outputs_.resize(j + 1);
    outputs_[j].assign(n, TracedDouble());
    return outputs_[j].data();
  }
  std::vector<TracedArray>& outputs() { return outputs_; }

 private:
  DerivativeGraph const& g_;
  Derivatives& d_;
  std::size_t p_;
  std::vector<TracedArray> outputs_;
};

class KernelReverse final : public ReverseArgs {
 public:
  KernelReverse(DerivativeGraph const& g, Derivatives& d, std::size_t p)
      : ReverseArgs(g.node(p)), g_(g), d_(d), p_(p) {}
  TracedArray cotangent(unsigned j, unsigned n) const override {
    if (node().isScalar()) return padded(j == 0 ? TracedArray{d_.scalar(p_)} : TracedArray(), n);
    auto* outputs = d_.arrays(p_);
    return padded(outputs && j < outputs->size() ? (*outputs)[j] : TracedArray(), n);
  }
  bool isZeroCotangent(unsigned j) const override { return zero_(j); }
  void add(std::size_t i, TracedDouble const* values, std::size_t n) override {
    Operation const& in = *node().input(i);
    std::uint32_t q = g_.input(p_, i);
    if (!g_.active(q)) return;
    if (in.ownKind() != OwnKind::Collect) {
      if (n > 0) d_.add(q, values[0]);
      return;
    }
    TracedArray& target = d_.array(q, 0);
    std::size_t count = std::min<std::size_t>(n, in.inputCount());
    if (target.size() < count) target.resize(count);
    for (std::size_t k = 0; k < count; ++k) accumulate(target[k], values[k]);
  }

 private:
  bool zero_(unsigned j) const {
    if (node().isScalar()) return j != 0 || d_.isZero(p_);
    auto* outputs = d_.arrays(p_);
    return !outputs || j >= outputs->size() || allZero((*outputs)[j]);
  }
  DerivativeGraph const& g_;
  Derivatives& d_;
  std::size_t p_;
};

TracedDouble inputDerivative(DerivativeGraph const& g, Derivatives& d, std::uint32_t p,
                             std::size_t i) {
  std::uint32_t q = g.input(p, i);
  return g.active(q) ? d.scalar(q) : TracedDouble();
}

TracedDouble forwardFunction(DerivativeGraph& g, Derivatives& d, std::uint32_t p) {
  auto const& node = static_cast<FunctionOp const&>(g.op(p));
  switch (ruleShape(node.fn(), node.operand())) {
    case RuleShape::Zero: return 0.0;
    case RuleShape::Select: {
      unsigned first = 0;
      TracedBool c = selectCondition(node, first);
      TracedDouble ta = inputDerivative(g, d, p, first);
      TracedDouble tb = inputDerivative(g, d, p, first + 1);
      if (zeroValue(ta) && zeroValue(tb)) return 0.0;
      return ternary(c, ta, tb);
    }
    case RuleShape::Partials: break;
  }
  auto const& partial = g.partialsOf(p);
  TracedDouble t;
  for (std::size_t i = 0; i < node.inputCount(); ++i)
    accumulate(t, scaled(inputDerivative(g, d, p, i), partial[i]));
  return t;
}

/// w times the node `factor`, to be added, or subtracted where `subtract`
/// comes back true: a constant factor of 0 or +-1 records nothing, another
/// constant is shared with the computation rather than recorded again.
TracedDouble product(NodePool* pool, TracedDouble w, OperationPtr const& factor, bool constant,
                     bool& subtract) {
  subtract = false;
  if (constant) {
    double c = static_cast<ConstantOp const&>(*factor).value().doubleValue();
    double x = 0.0;
    if (c == 0.0) return 0.0;
    if (c == 1.0) return w;
    if (c == -1.0) return subtract = true, w;
    if (w.getConstant(x)) return x * c;
  }
  return TracedDouble(InThePool{pool}(
      Fn::Mul, ScalarType::Double, std::array<OperationPtr, 2>{std::move(w).operation(), factor}));
}

void reverseFunction(DerivativeGraph& g, Derivatives& d, std::uint32_t p) {
  auto const& info = g.info(p);
  auto const fn = static_cast<Fn>(info.fn);
  // An active sum, difference, product or negation is one of doubles.
  bool arithmetic = fn == Fn::Add || fn == Fn::Sub || fn == Fn::Mul || fn == Fn::Neg;
  RuleShape shape =
      arithmetic ? RuleShape::Partials : ruleShape(fn, static_cast<ScalarType>(info.operand));
  if (shape == RuleShape::Zero) return;
  // p's cotangent is complete and read by nobody else: its handle moves.
  bool minus = false;
  TracedDouble w = d.take(p, minus);
  auto push = [&](std::size_t i, TracedDouble v, bool subtract = false) {
    std::uint32_t q = g.input(p, i);
    if (g.active(q)) d.add(q, std::move(v), subtract);
  };
  auto wants = [&](std::size_t i) { return g.active(g.input(p, i)); };
  switch (fn) {
    case Fn::Neg: push(0, std::move(w), !minus); return;
    case Fn::Add: push(0, w, minus), push(1, std::move(w), minus); return;
    case Fn::Sub: push(0, w, minus), push(1, std::move(w), !minus); return;
    case Fn::Mul: {
      bool const both = wants(0) && wants(1);
      for (std::size_t i = 0; i < 2; ++i)
        if (wants(i)) {
          bool constant = g.info(g.input(p, 1 - i)).kind == OwnKind::Constant;
          // The last product takes w's handle: a copy costs an atomic count.
          TracedDouble wi = both && i == 0 ? w : std::move(w);
          bool subtract = false;
          TracedDouble v =
              product(d.pool(), std::move(wi), g.op(p).inputs()[1 - i], constant, subtract);
          push(i, std::move(v), subtract != minus);
        }
      return;
    }
    default: break;
  }
  if (minus) w = negated(d.pool(), std::move(w));
  auto const& node = static_cast<FunctionOp const&>(g.op(p));
  if (shape == RuleShape::Select) {
    unsigned first = 0;
    TracedBool c = selectCondition(node, first);
    if (wants(first)) push(first, ternary(c, w, TracedDouble()));
    if (wants(first + 1)) push(first + 1, ternary(c, TracedDouble(), w));
    return;
  }
  auto const& partial = g.partialsOf(p);
  for (std::size_t i = 0; i < node.inputCount(); ++i)
    if (wants(i)) push(i, scaled(w, partial[i]));
}

void forwardNode(DerivativeGraph& g, Derivatives& d, std::vector<TracedDouble> const& seeds,
                 std::uint32_t p) {
  Operation const& node = g.op(p);
  switch (node.ownKind()) {
    case OwnKind::Input: d.scalar(p) = seeds[g.variable(p)]; return;
    case OwnKind::Constant: return;
    case OwnKind::Element: {
      auto const& e = static_cast<ElementOp const&>(node);
      d.scalar(p) = d.element(g.input(p, 0), e.output(), e.index());
      return;
    }
    case OwnKind::Function: d.scalar(p) = forwardFunction(g, d, p); return;
    case OwnKind::ArrayAccess: {
      Operation const& collect = *node.input(1);
      TracedArray t = padded(d.array(g.input(p, 1), 0), collect.inputCount());
      if (allZero(t)) return;
      d.scalar(p) =
          arrayAccess(t.data(), static_cast<int>(t.size()), TracedInt(scalarNode(node.input(0))));
      return;
    }
    case OwnKind::Collect: {
      TracedArray& t = d.array(p, 0);
      t.reserve(node.inputCount());
      for (std::size_t k = 0; k < node.inputCount(); ++k) t.push_back(inputDerivative(g, d, p, k));
      return;
    }
    case OwnKind::Other: break;
  }
  auto const& rules = DerivativeGraph::rulesOf(node);
  KernelForward args(g, d, p);
  rules.forward(node, args);
  auto& outputs = args.outputs();
  if (node.isScalar())
    d.scalar(p) = outputs.empty() || outputs[0].empty() ? TracedDouble() : outputs[0][0];
  else
    d.makeArrays(p) = std::move(outputs);
}

/// True when the reverse rule of node p reads the node itself: all but
/// inactive nodes, leaves, sums, differences and negations.
bool needsNode(DerivativeGraph const& g, std::uint32_t p) {
  if (!g.active(p)) return false;
  auto const& info = g.info(p);
  if (info.kind == OwnKind::Input || info.kind == OwnKind::Constant) return false;
  auto fn = static_cast<Fn>(info.fn);
  return info.kind != OwnKind::Function || !(fn == Fn::Add || fn == Fn::Sub || fn == Fn::Neg);
}

bool hasCotangent(DerivativeGraph const& g, Derivatives& d, std::size_t p) {
  if (g.info(p).scalar) return !d.isZero(p);
  auto* outputs = d.arrays(p);
  if (!outputs) return false;
  return std::any_of(outputs->begin(), outputs->end(),
                     [](TracedArray const& a) { return !allZero(a); });
}

void reverseNode(DerivativeGraph& g, Derivatives& d, Derivatives& result, std::uint32_t p) {
  switch (g.info(p).kind) {
    case OwnKind::Input: {
      bool minus = false;
      TracedDouble w = d.take(p, minus);
      result.add(g.variable(p), std::move(w), minus);
      return;
    }
    case OwnKind::Constant: return;
    case OwnKind::Function: reverseFunction(g, d, p); return;
    default: break;
  }
  Operation const& node = g.op(p);
  switch (node.ownKind()) {
    case OwnKind::Element: {
      auto const& e = static_cast<ElementOp const&>(node);
      TracedArray& target = d.array(g.input(p, 0), e.output());
      if (target.size() <= e.index()) target.resize(e.index() + 1);
      accumulate(target[e.index()], d.scalar(p));
      return;
    }
    case OwnKind::ArrayAccess: {
      Operation const& collect = *node.input(1);
      TracedInt index(scalarNode(node.input(0)));
      TracedDouble const& w = d.scalar(p);
      TracedArray& target = d.array(g.input(p, 1), 0);
      target.resize(std::max<std::size_t>(target.size(), collect.inputCount()));
      for (std::size_t k = 0; k < collect.inputCount(); ++k)
        accumulate(target[k], ternary(index == static_cast<int>(k), w, TracedDouble()));
      return;
    }
    case OwnKind::Collect: {
      TracedArray const& w = d.array(p, 0);
      for (std::size_t k = 0; k < w.size() && k < node.inputCount(); ++k) {
        std::uint32_t q = g.input(p, k);
        if (g.active(q)) d.add(q, w[k]);
      }
      return;
    }
    default: break;
  }
  auto const& rules = DerivativeGraph::rulesOf(node);
  KernelReverse args(g, d, p);
  rules.reverse(node, args);
}

}  // namespace

std::vector<TracedDouble> forwardSweep(DerivativeGraph& graph,
                                       std::vector<TracedDouble> const& tangents) {
  NodePool::Handle pool;
  Derivatives d(graph.size(), pool.get());
  for (std::uint32_t p : graph.order())
    if (graph.active(p)) forwardNode(graph, d, tangents, p);
  std::vector<TracedDouble> result;
  result.reserve(graph.roots().size());
  for (std::uint32_t p : graph.roots())
    result.push_back(graph.active(p) ? d.scalar(p) : TracedDouble());
  return result;
}

std::vector<TracedDouble> reverseSweep(DerivativeGraph& graph,
                                       std::vector<TracedDouble> const& cotangents) {
  NodePool::Handle pool;
  Derivatives d(graph.size(), pool.get());
  for (std::size_t i = 0; i < graph.roots().size(); ++i) {
    std::uint32_t p = graph.roots()[i];
    if (graph.active(p)) d.add(p, cotangents[i]);
  }
  Derivatives variables(graph.variableCount(), pool.get());
  // The order runs backwards through the nodes, which sit anywhere: each
  // is asked for a few places ahead, and a product's operands (whose counts
  // it takes) once the node has come.
  constexpr std::size_t kAhead = 8;
  auto const& order = graph.order();
  for (std::size_t k = order.size(); k-- > 0;) {
    if (k >= 2 * kAhead && needsNode(graph, order[k - 2 * kAhead]))
      __builtin_prefetch(&graph.op(order[k - 2 * kAhead]));
    if (k >= kAhead && needsNode(graph, order[k - kAhead]))
      for (OperationPtr const& in : graph.op(order[k - kAhead]).inputs())
        __builtin_prefetch(reinterpret_cast<char const*>(in.get()) - sizeof(void*));
    std::uint32_t p = order[k];
    if (graph.active(p) && hasCotangent(graph, d, p)) reverseNode(graph, d, variables, p);
  }
  std::vector<TracedDouble> result;
  result.reserve(graph.variableCount());
  for (std::size_t j = 0; j < graph.variableCount(); ++j)
    result.push_back(std::move(variables.scalar(j)));
  return result;
}

}  // namespace detail
}  // namespace kelm_math::comp_trace
