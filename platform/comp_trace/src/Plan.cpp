#include "Plan.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <typeinfo>

#include "NodeHash.hpp"
#include "vela/codegen_runtime_scalar.h"

namespace kelm_math::comp_trace::detail {
namespace {

ScalarValue fromRegister(Register r, ScalarType type) {
  switch (type) {
    case ScalarType::Double: return ScalarValue(r.d);
    case ScalarType::Int: return ScalarValue(r.i);
    case ScalarType::Bool: return ScalarValue(r.i != 0);
  }
  return ScalarValue();
}

Register toRegister(ScalarValue const& v) {
  Register r;
  if (v.type() == ScalarType::Double)
    r.d = v.doubleValue();
  else
    r.i = v.intValue();
  return r;
}

// The step kind of each function by operand type: one load while planning,
// where a switch cost a tenth of the planning of a chain.
struct KindTable {
  StepKind kinds[3][kFnCount];
  constexpr KindTable() : kinds() {
    for (auto& row : kinds)
      for (auto& kind : row) kind = StepKind::Function;
    auto& d = kinds[static_cast<int>(ScalarType::Double)];
    d[static_cast<int>(Fn::Add)] = StepKind::AddD;
    d[static_cast<int>(Fn::Sub)] = StepKind::SubD;
    d[static_cast<int>(Fn::Mul)] = StepKind::MulD;
    d[static_cast<int>(Fn::Div)] = StepKind::DivD;
    d[static_cast<int>(Fn::Neg)] = StepKind::NegD;
    d[static_cast<int>(Fn::Sqrt)] = StepKind::SqrtD;
    d[static_cast<int>(Fn::Min)] = StepKind::MinD;
    d[static_cast<int>(Fn::Max)] = StepKind::MaxD;
    d[static_cast<int>(Fn::Select)] = StepKind::SelectD;
    d[static_cast<int>(Fn::Lt)] = StepKind::LtD;
    d[static_cast<int>(Fn::Gt)] = StepKind::GtD;
    auto& i = kinds[static_cast<int>(ScalarType::Int)];
    i[static_cast<int>(Fn::Add)] = StepKind::AddI;
    i[static_cast<int>(Fn::Sub)] = StepKind::SubI;
    i[static_cast<int>(Fn::Mul)] = StepKind::MulI;
  }
};
constexpr KindTable kKinds;

StepKind kindOf(Fn fn, ScalarType operand) {
  return kKinds.kinds[static_cast<int>(operand)][static_cast<int>(fn)];
}

ScalarValue elementOf(Buffer const& buffer, std::size_t i, ScalarType type) {
  ScalarValue v;
  switch (buffer.type) {
    case ScalarType::Double: v = i < buffer.count ? buffer.doubles[i] : 0.0; break;
    case ScalarType::Int: v = i < buffer.count ? buffer.ints[i] : 0; break;
    case ScalarType::Bool: v = i < buffer.count && buffer.ints[i] != 0; break;
  }
  return convert(v, type);
}

GenericOutputs const& generated(Scratch const& scratch, std::uint32_t generic) {
  return scratch.generic[generic];
}

Buffer const& bufferOf(GenericOutputs const* outputs, std::uint32_t generic, unsigned output) {
  GenericOutputs const& g = outputs[generic];
  if (output >= g.made) throw std::logic_error("comp_trace: node has no such output");
  return g.buffers[output];
}

/// Where one run's values are: register r at registers[r * stride], the
/// outputs of generic node g at generic[g].
struct Values {
  Register* registers;
  std::size_t stride;
  GenericOutputs* generic;
};

/// The values a generic node sees in one run.
class StepValues final : public NodeValues {
 public:
  StepValues(Plan const& plan, Values values, GenericNode const& node)
      : plan_(plan), values_(values), node_(node), outputs_(values.generic[genericIndex_()]) {
    outputs_.made = 0;
  }

  ScalarValue scalar(std::size_t input) const override {
    NodeRef ref = arg_(input);
    if (ref.vector) throw std::logic_error("comp_trace: node input is not a scalar node");
    return fromRegister(values_.registers[ref.index * values_.stride], ref.type());
  }

  ArrayRef array(std::size_t input, unsigned output) const override {
    NodeRef ref = arg_(input);
    if (!ref.vector) throw std::logic_error("comp_trace: node input is not a vector node");
    Buffer const& b = bufferOf(values_.generic, ref.index, output);
    if (b.type == ScalarType::Double) return {b.type, b.doubles.data(), b.count};
    return {b.type, b.ints.data(), b.count};
  }

  void* output(ScalarType type, std::size_t count) override {
    if (outputs_.made == outputs_.buffers.size()) outputs_.buffers.emplace_back();
    Buffer& b = outputs_.buffers[outputs_.made++];
    b.type = type;
    b.count = count;
    // assign keeps the capacity, so a later call of the same size allocates nothing.
    if (type == ScalarType::Double) {
      b.doubles.assign(count, 0.0);
      return b.doubles.data();
    }
    b.ints.assign(count, 0);
    return b.ints.data();
  }

 private:
  std::size_t genericIndex_() const {
    return static_cast<std::size_t>(&node_ - plan_.generic.data());
  }
  NodeRef arg_(std::size_t input) const {
    if (input >= node_.argCount)
      throw std::out_of_range("comp_trace: node input index out of range");
    return plan_.args[node_.firstArg + input];
  }

  Plan const& plan_;
  Values values_;
  GenericNode const& node_;
  GenericOutputs& outputs_;
};

ScalarValue functionValue(Step const& s, Register const* r, std::size_t stride) {
  auto fn = static_cast<Fn>(s.fn);
  ScalarValue args[3];
  std::uint32_t const operands[3] = {s.a, s.b, s.c};
  for (int i = 0; i < 3 && operands[i] != kNoRegister; ++i)
    args[i] = fromRegister(r[operands[i] * stride],
                           fn == Fn::Select && i == 0 ? ScalarType::Bool : s.operand());
  return apply(fn, s.operand(), args);
}

void runGeneric(Plan const& plan, Values where, std::uint32_t index) {
  GenericNode const& node = plan.generic[index];
  StepValues values(plan, where, node);
  if (node.op->isScalar()) {
    ScalarValue v = static_cast<ScalarOperation const&>(*node.op).evaluateScalar(values);
    where.registers[node.result.index * where.stride] = toRegister(convert(v, node.result.type()));
  } else {
    static_cast<VectorOperation const&>(*node.op).evaluate(values);
  }
}

Register inputValue(Step const& s, InputSource const& inputs) {
  ScalarValue v = inputs.doubles ? ScalarValue(inputs.doubles[s.a]) : inputs.values[s.a];
  return toRegister(convert(v, s.type()));
}

Register arrayAccess(Step const& s, int index, GenericOutputs const* generic) {
  Buffer const& values = bufferOf(generic, s.b, 0);
  if (index < 0 || static_cast<unsigned>(index) >= s.c)
    return toRegister(convert(ScalarValue(0), s.type()));
  return toRegister(elementOf(values, static_cast<unsigned>(index), s.type()));
}

}  // namespace

void Plan::prepare(Scratch& scratch) const {
  scratch.registers.resize(registerCount);
  scratch.generic.resize(generic.size());
  for (auto const& [index, value] : constants) scratch.registers[index] = value;
}

// The value of each kind the executors compute inline, stated once for both:
// A, B and C are the operand registers, which each executor defines before
// it expands a list. The chainable kinds also have the forms PrevA and PrevB,
// with that operand the previous step's result.
#define VELA_CHAINABLE_KINDS(X) \
  X(AddD, A.d + B.d)            \
  X(SubD, A.d - B.d)            \
  X(MulD, A.d* B.d)             \
  X(DivD, A.d / B.d)
#define VELA_OTHER_DOUBLE_KINDS(X) \
  X(NegD, -A.d)                    \
  X(SqrtD, std::sqrt(A.d))         \
  X(MinD, vela_rt_min(A.d, B.d))   \
  X(MaxD, vela_rt_max(A.d, B.d))   \
  X(SelectD, A.i ? B.d : C.d)
#define VELA_INT_KINDS(X)         \
  X(LtD, A.d < B.d)               \
  X(GtD, A.d > B.d)               \
  X(AddI, vela_rt_iadd(A.i, B.i)) \
  X(SubI, vela_rt_isub(A.i, B.i)) \
  X(MulI, vela_rt_imul(A.i, B.i))

// Each step jumps straight to the next step's code (labels as values): one
// indirect jump per step, predicted per kind, instead of a shared switch.
// GCC otherwise merges the jumps back into one (cross-jumping, GCSE), which
// made the tape three times slower on AMD hosts. Each kind's code starts on
// a 32-byte boundary: where it happened to fall moved the multibody tape's
// call by a fifth from one build to the next.
#if defined(__GNUC__) && !defined(__clang__)
#define VELA_THREADED_DISPATCH \
  __attribute__((optimize("no-crossjumping", "no-gcse", "align-labels=32")))
#else
#define VELA_THREADED_DISPATCH
#endif
VELA_THREADED_DISPATCH void execute(Plan const& plan, std::size_t first, Scratch& scratch,
                                    InputSource inputs) {
  static void* const code[] = {
      &&AddD,      &&SubD,      &&MulD,      &&DivD,      &&NegD,        &&SqrtD,     &&MinD,
      &&MaxD,      &&SelectD,   &&LtD,       &&GtD,       &&AddI,        &&SubI,      &&MulI,
      &&AddDPrevA, &&AddDPrevB, &&SubDPrevA, &&SubDPrevB, &&MulDPrevA,   &&MulDPrevB, &&DivDPrevA,
      &&DivDPrevB, &&Function,  &&Input,     &&Element,   &&ArrayAccess, &&Generic};
  static_assert(sizeof code / sizeof code[0] == static_cast<int>(StepKind::Generic) + 1);
  Register* r = scratch.registers.data();
  double last = 0.0;  // the result of the previous double arithmetic step
  Step const* s = plan.steps.data() + first;
  Step const* const end = plan.steps.data() + plan.steps.size();
  if (s == end) return;
#define VELA_STEP_NEXT()                   \
  do {                                     \
    if (++s == end) return;                \
    goto* code[static_cast<int>(s->kind)]; \
  } while (false)
#define VELA_STEP_DOUBLE(expression) \
  last = (expression);               \
  r[s->out].d = last;                \
  VELA_STEP_NEXT()
  goto* code[static_cast<int>(s->kind)];
#define A r[s->a]
#define B r[s->b]
#define C r[s->c]
#define X(kind, value) \
  kind:                \
  VELA_STEP_DOUBLE(value);
  VELA_CHAINABLE_KINDS(X)
  VELA_OTHER_DOUBLE_KINDS(X)
#undef X
#define X(kind, value)   \
  kind:                  \
  r[s->out].i = (value); \
  VELA_STEP_NEXT();
  VELA_INT_KINDS(X)
#undef X
// The chained forms: one operand is the previous result, kept in `last`.
#undef A
#define A (Register{last})
#define X(kind, value) kind##PrevA : VELA_STEP_DOUBLE(value);
  VELA_CHAINABLE_KINDS(X)
#undef X
#undef A
#undef B
#define A r[s->a]
#define B (Register{last})
#define X(kind, value) kind##PrevB : VELA_STEP_DOUBLE(value);
  VELA_CHAINABLE_KINDS(X)
#undef X
#undef A
#undef B
#undef C
Function:
  r[s->out] = toRegister(functionValue(*s, r, 1));
  VELA_STEP_NEXT();
Input:
  r[s->out] = inputValue(*s, inputs);
  VELA_STEP_NEXT();
Element : {
  Buffer const& b = bufferOf(scratch.generic.data(), s->a, s->b);
  if (b.type == ScalarType::Double && s->type() == ScalarType::Double)
    r[s->out].d = s->c < b.count ? b.doubles[s->c] : 0.0;
  else
    r[s->out] = toRegister(elementOf(b, s->c, s->type()));
  VELA_STEP_NEXT();
}
ArrayAccess:
  r[s->out] = arrayAccess(*s, r[s->a].i, scratch.generic.data());
  VELA_STEP_NEXT();
Generic:
  runGeneric(plan, Values{r, 1, scratch.generic.data()}, s->a);
  r = scratch.registers.data();
  VELA_STEP_NEXT();
#undef VELA_STEP_DOUBLE
#undef VELA_STEP_NEXT
}

void Plan::prepareLanes(Scratch& scratch) const {
  if (scratch.lanes.size() == registerCount * kLanes &&
      scratch.laneGeneric.size() == generic.size() * kLanes)
    return;
  scratch.lanes.resize(registerCount * kLanes);
  scratch.laneGeneric.resize(generic.size() * kLanes);
  for (auto const& [index, value] : constants)
    std::fill_n(scratch.lanes.begin() + index * kLanes, kLanes, value);
}

namespace {

// The steps over the first `Width` lanes: a short last block computes no
// more lanes than it needs, rounded up.
template <std::size_t Width>
void executeWidth(Plan const& plan, Scratch& scratch, double const* in, std::size_t stride,
                  std::size_t n) {
  Register* r = scratch.lanes.data();
  std::size_t const generics = plan.generic.size();
  auto lanesOf = [r](std::uint32_t index) { return index == kNoRegister ? r : r + index * kLanes; };
  for (Step const& s : plan.steps) {
    Register* out = lanesOf(s.out);
    Register const *a = lanesOf(s.a), *b = lanesOf(s.b), *c = lanesOf(s.c);
    // Every lane, padding included, in a loop of fixed length the compiler
    // vectorizes: these steps cannot fail whatever the values.
#define A a[k]
#define B b[k]
#define C c[k]
#define X(kind, value)                                          \
  case StepKind::kind:                                          \
  case StepKind::kind##PrevA:                                   \
  case StepKind::kind##PrevB:                                   \
    for (std::size_t k = 0; k < Width; ++k) out[k].d = (value); \
    break;
#define X1(kind, value)                                         \
  case StepKind::kind:                                          \
    for (std::size_t k = 0; k < Width; ++k) out[k].d = (value); \
    break;
#define XI(kind, value)                                         \
  case StepKind::kind:                                          \
    for (std::size_t k = 0; k < Width; ++k) out[k].i = (value); \
    break;
    switch (s.kind) {
      VELA_CHAINABLE_KINDS(X)
      VELA_OTHER_DOUBLE_KINDS(X1)
      VELA_INT_KINDS(XI)
#undef X
#undef X1
#undef XI
#undef A
#undef B
#undef C
      // The rest run instance by instance, on the instances alone.
      case StepKind::Function:
        for (std::size_t k = 0; k < n; ++k)
          r[s.out * kLanes + k] = toRegister(functionValue(s, r + k, kLanes));
        break;
      case StepKind::Input:
        for (std::size_t k = 0; k < n; ++k) {
          double v = in[s.a * stride + k];
          Register& o = r[s.out * kLanes + k];
          if (s.type() == ScalarType::Double)
            o.d = v;
          else
            o = toRegister(convert(ScalarValue(v), s.type()));
        }
        break;
      case StepKind::Element:
        for (std::size_t k = 0; k < n; ++k) {
          Buffer const& b = bufferOf(scratch.laneGeneric.data() + k * generics, s.a, s.b);
          r[s.out * kLanes + k] = toRegister(elementOf(b, s.c, s.type()));
        }
        break;
      case StepKind::ArrayAccess:
        for (std::size_t k = 0; k < n; ++k)
          r[s.out * kLanes + k] =
              arrayAccess(s, r[s.a * kLanes + k].i, scratch.laneGeneric.data() + k * generics);
        break;
      case StepKind::Generic:
        for (std::size_t k = 0; k < n; ++k)
          runGeneric(plan, Values{r + k, kLanes, scratch.laneGeneric.data() + k * generics}, s.a);
        break;
    }
  }
}

}  // namespace

void executeLanes(Plan const& plan, Scratch& scratch, double const* in, std::size_t stride,
                  std::size_t n) {
  if (n <= kLanes / 4)
    executeWidth<kLanes / 4>(plan, scratch, in, stride, n);
  else if (n <= kLanes / 2)
    executeWidth<kLanes / 2>(plan, scratch, in, stride, n);
  else
    executeWidth<kLanes>(plan, scratch, in, stride, n);
}

namespace {
bool setsLast(StepKind kind) {
  return kind <= StepKind::SelectD || (kind >= StepKind::AddDPrevA && kind <= StepKind::DivDPrevB);
}

StepKind chained(StepKind kind, bool prevA) {
  switch (kind) {
    case StepKind::AddD: return prevA ? StepKind::AddDPrevA : StepKind::AddDPrevB;
    case StepKind::SubD: return prevA ? StepKind::SubDPrevA : StepKind::SubDPrevB;
    case StepKind::MulD: return prevA ? StepKind::MulDPrevA : StepKind::MulDPrevB;
    case StepKind::DivD: return prevA ? StepKind::DivDPrevA : StepKind::DivDPrevB;
    default: return kind;
  }
}
}  // namespace

void Plan::chainOperands() {
  for (std::size_t i = 1; i < steps.size(); ++i) {
    Step const& prev = steps[i - 1];
    Step& s = steps[i];
    if (!setsLast(prev.kind)) continue;
    if (s.a == prev.out)
      s.kind = chained(s.kind, true);
    else if (s.b == prev.out)
      s.kind = chained(s.kind, false);
  }
}

ScalarValue valueOf(Scratch const& scratch, NodeRef ref) {
  return fromRegister(scratch.registers[ref.index], ref.type());
}

std::vector<VectorValue> vectorValuesOf(Scratch const& scratch, NodeRef ref) {
  std::vector<VectorValue> values;
  GenericOutputs const& g = generated(scratch, ref.index);
  for (unsigned j = 0; j < g.made; ++j) {
    Buffer const& b = g.buffers[j];
    if (b.type == ScalarType::Double)
      values.emplace_back(std::vector<double>(b.doubles.begin(), b.doubles.begin() + b.count));
    else if (b.type == ScalarType::Int)
      values.emplace_back(std::vector<int>(b.ints.begin(), b.ints.begin() + b.count));
    else
      values.emplace_back(std::vector<bool>(b.ints.begin(), b.ints.begin() + b.count));
  }
  return values;
}

NodeRef Planner::ref(Operation const& op) const {
  NodeRef const* r = refs_.find(&op);
  if (!r) throw std::logic_error("comp_trace: node is not part of this plan");
  return *r;
}

inline NodeRef Planner::complete_(OperationPtr const& op, NodeRef const* inputs) {
  if (!merge_) return emit_(op, inputs);
  switch (op->ownKind()) {
    case OwnKind::Constant: return mergeConstant_(op);
    case OwnKind::Function:
    case OwnKind::Input:
    case OwnKind::Element:
    case OwnKind::ArrayAccess: return mergeStep_(op, inputs);
    default: return mergeGeneric_(op, inputs);
  }
}

inline NodeRef Planner::newRegister_(ScalarType type) {
  NodeRef ref(0, type, false);
  // Merging may hand a register to later readers: it stays taken.
  ref.freeAfterRead = !merge_;
  if (free_.empty()) {
    ref.index = plan_.registerCount++;
  } else {
    ref.index = free_.back();
    free_.pop_back();
  }
  return ref;
}

// Constants and functions are most nodes: their emitters are small enough
// to sit in the walk itself.
inline NodeRef Planner::emit_(OperationPtr const& node, NodeRef const* inputs) {
  Operation const& op = *node;
  if (op.ownKind() == OwnKind::Function) {
    auto const& f = static_cast<FunctionOp const&>(op);
    NodeRef out = newRegister_(f.scalarType());
    std::size_t n = op.inputCount();
    Step& step = plan_.steps.append();
    step.kind = kindOf(f.fn(), f.operand());
    step.fn = static_cast<std::uint8_t>(f.fn());
    step.operandType = static_cast<std::uint8_t>(f.operand());
    step.valueType = out.valueType;
    step.out = out.index;
    step.a = n > 0 ? inputs[0].index : kNoRegister;
    step.b = n > 1 ? inputs[1].index : kNoRegister;
    step.c = n > 2 ? inputs[2].index : kNoRegister;
    return out;
  }
  if (op.ownKind() == OwnKind::Constant) {
    // A register of its own: constants are written before any step runs.
    auto const& value = static_cast<ConstantOp const&>(op).value();
    NodeRef out(plan_.registerCount++, value.type(), false, true);
    plan_.constants.emplace_back(out.index, toRegister(value));
    return out;
  }
  return emitOther_(node, inputs);
}

NodeRef Planner::add(OperationPtr const& root) {
  if (NodeRef const* r = refs_.find(root.get())) return *r;
  // Post-order with an explicit stack: deep graphs do not exhaust the call
  // stack, and a node's inputs are planned before it. The references of a
  // node's inputs gather in `pending` in input order (known ones when they
  // are visited, new ones when they complete), so completing a node looks
  // nothing up. Without merging, a node held by one pointer alone is reached
  // once, through its one parent: it stays out of the map.
  PodArray<Frame>& stack = walk_;
  PodArray<NodeRef>& pending = pending_;
  stack.truncate(0);
  pending.truncate(0);
  auto push = [&](OperationPtr const& node, std::size_t firstPending, bool mapped) {
    stack.push(Frame{&node, 0, static_cast<std::uint32_t>(firstPending) | (mapped ? kMapped : 0u)});
  };
  push(root, 0, true);
  NodeRef result;
  while (!stack.empty()) {
    Frame& top = stack.back();
    Operation const& op = **top.op;
    std::uint32_t next = top.next;
    if (next < op.inputCount()) {
      top.next = next + 1;
      InputList const inputs = op.inputs();
      // The walk reads each input's count and node: fetching them for all
      // inputs at once overlaps their cache misses (a node made by
      // make_shared has its count just before it).
      if (next == 0)
        for (OperationPtr const& in : inputs) {
          __builtin_prefetch(reinterpret_cast<char const*>(in.get()) - 16);
          __builtin_prefetch(in.get());
        }
      OperationPtr const& in = inputs[next];
      // A node held once is reached once: it is planned without a look, and
      // merging finds it by its fields and inputs, not by address. (Held by
      // more by the time it was planned, it is planned twice, or once and
      // merged.)
      bool once = in.use_count() == 1;
      NodeRef const* known = once ? nullptr : refs_.find(in.get());
      if (known) {
        pending.push(*known);
      } else if (once && in->inputCount() == 0) {
        // A leaf read once (the constants of most expressions) needs no frame.
        pending.push(complete_(in, nullptr));
      } else {
        push(in, pending.size(), !once);
      }
      continue;
    }
    OperationPtr const& done = *top.op;
    std::size_t firstPending = top.pendingMark & ~kMapped;
    bool mapped = (top.pendingMark & kMapped) != 0;
    stack.pop();
    // A node held once is read by this node alone: its register is free
    // for the nodes planned after (this one included, as a step reads its
    // operands before it writes).
    for (std::size_t k = firstPending; k < pending.size(); ++k)
      if (pending[k].freeAfterRead) free_.push_back(pending[k].index);
    result = complete_(done, pending.data() + firstPending);
    pending.truncate(firstPending);
    if (mapped) {
      result.freeAfterRead = false;
      refs_.insert(done.get(), result);
    }
    pending.push(result);
    if (run_ && plan_.steps.size() >= batch_) run_(context_);
  }
  if (run_) run_(context_);
  return result;
}

namespace {
// Writes the fields in place: a step built on the stack in pieces and then
// copied whole stalls on the copy's load, which was most of planning.
void pushStep(PodArray<Step>& steps, StepKind kind, std::uint8_t type, std::uint32_t out,
              std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  Step& step = steps.append();
  step.kind = kind;
  step.fn = 0;
  step.operandType = type;
  step.valueType = type;
  step.out = out;
  step.a = a;
  step.b = b;
  step.c = c;
}
}  // namespace

NodeRef Planner::emitOther_(OperationPtr const& node, NodeRef const* inputs) {
  Operation const& op = *node;
  auto scalarStep = [&](StepKind kind, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    NodeRef out = newRegister_(static_cast<ScalarOperation const&>(op).scalarType());
    pushStep(plan_.steps, kind, out.valueType, out.index, a, b, c);
    return out;
  };
  switch (op.ownKind()) {
    case OwnKind::Input:
      return scalarStep(StepKind::Input,
                        position_(context_, static_cast<InputOp const&>(op).name()), 0, 0);
    case OwnKind::Element: {
      auto const& e = static_cast<ElementOp const&>(op);
      return scalarStep(StepKind::Element, inputs[0].index, e.output(), e.index());
    }
    case OwnKind::ArrayAccess:
      return scalarStep(StepKind::ArrayAccess, inputs[0].index, inputs[1].index,
                        static_cast<ArrayAccessOp const&>(op).size());
    default: break;
  }
  GenericNode generic{node, static_cast<std::uint32_t>(plan_.args.size()),
                      static_cast<std::uint32_t>(op.inputCount()), NodeRef{}};
  for (std::size_t i = 0; i < op.inputCount(); ++i) plan_.args.push_back(inputs[i]);
  auto index = static_cast<std::uint32_t>(plan_.generic.size());
  generic.result = NodeRef(index, ScalarType::Double, true);
  if (op.isScalar())
    generic.result = newRegister_(static_cast<ScalarOperation const&>(op).scalarType());
  NodeRef result = generic.result;
  plan_.generic.push_back(std::move(generic));
  pushStep(plan_.steps, StepKind::Generic, result.valueType, kNoRegister, index, 0, 0);
  return result;
}

namespace {

// Calls f(register&) for each register step s reads.
template <class F>
void forEachRead(Plan& plan, Step& s, F&& f) {
  switch (s.kind) {
    case StepKind::Input:
    case StepKind::Element: return;
    case StepKind::ArrayAccess: f(s.a); return;
    case StepKind::Generic: {
      GenericNode const& node = plan.generic[s.a];
      for (std::uint32_t i = 0; i < node.argCount; ++i) {
        NodeRef& arg = plan.args[node.firstArg + i];
        if (!arg.vector) f(arg.index);
      }
      return;
    }
    default:
      for (std::uint32_t* r : {&s.a, &s.b, &s.c})
        if (*r != kNoRegister) f(*r);
  }
}

std::uint32_t* written(Plan& plan, Step& s) {
  if (s.kind != StepKind::Generic) return &s.out;
  NodeRef& result = plan.generic[s.a].result;
  return result.vector ? nullptr : &result.index;
}

}  // namespace

void Planner::compactRegisters(std::vector<NodeRef>& live) {
  constexpr std::uint32_t kPinned = kNoRegister - 1;
  std::vector<std::uint32_t> lastUse(plan_.registerCount, kNoRegister);
  for (auto const& c : plan_.constants) lastUse[c.first] = kPinned;
  for (NodeRef const& ref : live)
    if (!ref.vector) lastUse[ref.index] = kPinned;
  for (std::uint32_t step = 0; step < plan_.steps.size(); ++step)
    forEachRead(plan_, plan_.steps[step], [&](std::uint32_t r) {
      if (lastUse[r] != kPinned) lastUse[r] = step;
    });

  // Constants first, then registers handed out in step order, each freed
  // after its last reader; a step may write the register it last reads.
  std::vector<std::uint32_t> renamed(plan_.registerCount, kNoRegister);
  std::uint32_t count = 0;
  for (auto& c : plan_.constants) c.first = renamed[c.first] = count++;
  constexpr std::uint32_t kFreed = kNoRegister - 2;
  std::vector<std::uint32_t> free;
  for (std::uint32_t step = 0; step < plan_.steps.size(); ++step) {
    Step& s = plan_.steps[step];
    forEachRead(plan_, s, [&](std::uint32_t& r) {
      std::uint32_t const old = r;
      r = renamed[old];
      // A step may read one register twice; it is freed once.
      if (lastUse[old] == step) {
        lastUse[old] = kFreed;
        free.push_back(r);
      }
    });
    if (std::uint32_t* out = written(plan_, s)) {
      std::uint32_t old = *out;
      std::uint32_t r = free.empty() ? count++ : free.back();
      if (!free.empty()) free.pop_back();
      *out = renamed[old] = r;
      if (lastUse[old] == kNoRegister) free.push_back(r);  // never read
    }
  }
  for (NodeRef& ref : live)
    if (!ref.vector) ref.index = renamed[ref.index];
  plan_.registerCount = count;
}

namespace {
std::uint32_t inputKey(NodeRef ref) { return ref.index * 2u + (ref.vector ? 1u : 0u); }

// Fibonacci hashing: the top bits depend on every bit of h.
std::uint32_t topBits(std::size_t h) {
  return static_cast<std::uint32_t>((h * 0x9e3779b97f4a7c15ull) >> 32);
}

// Probes table for top: the first entry match(where) accepts ends the probe
// (nullptr), else the empty slot that ends it.
template <class Match>
std::uint64_t* probe(std::vector<std::uint64_t>& table, unsigned shift, std::uint32_t top,
                     Match&& match) {
  std::size_t const mask = table.size() - 1;
  for (std::size_t i = top >> shift;; i = (i + 1) & mask) {
    std::uint64_t const slot = table[i];
    if (!slot) return &table[i];
    if (static_cast<std::uint32_t>(slot >> 32) == top &&
        match(static_cast<std::uint32_t>(slot) - 1))
      return nullptr;
  }
}

// The fields of a node's step, its register aside.
bool sameWork(Step const& x, Step const& y) {
  return x.kind == y.kind && x.fn == y.fn && x.operandType == y.operandType &&
         x.valueType == y.valueType && x.a == y.a && x.b == y.b && x.c == y.c;
}
}  // namespace

void Planner::growTable_() {
  std::vector<std::uint64_t> old;
  old.swap(table_);
  std::size_t const size = old.empty() ? 1024 : 2 * old.size();
  table_.assign(size, 0);
  tableShift_ = 32;
  for (std::size_t n = size; n > 1; n >>= 1) --tableShift_;
  std::size_t const mask = size - 1;
  for (std::uint64_t slot : old) {
    if (!slot) continue;
    std::size_t i = static_cast<std::uint32_t>(slot >> 32) >> tableShift_;
    while (table_[i]) i = (i + 1) & mask;
    table_[i] = slot;
  }
}

// Constants are equal when of one type and one bit pattern.
NodeRef Planner::mergeConstant_(OperationPtr const& op) {
  ScalarValue const value = static_cast<ConstantOp const&>(*op).value();
  ScalarType const type = value.type();
  std::uint64_t bits =
      static_cast<std::uint32_t>(type == ScalarType::Double ? 0 : value.intValue());
  if (type == ScalarType::Double) {
    double const d = value.doubleValue();
    std::memcpy(&bits, &d, sizeof bits);
  }
  std::uint32_t const top = topBits(mixHash(static_cast<std::size_t>(type), bits));
  if ((tableUsed_ + 1) * 4 > table_.size() * 3) growTable_();
  NodeRef found;
  std::uint64_t* empty = probe(table_, tableShift_, top, [&](std::uint32_t where) {
    if (!(where & kConstant)) return false;
    MergedConstant const& c = constants_[where & ~kConstant];
    if (c.bits != bits || c.type != type) return false;
    found = NodeRef(c.index, type, false, true);
    return true;
  });
  if (!empty) return found;
  found = emit_(op, nullptr);
  *empty = static_cast<std::uint64_t>(top) << 32 | ((kConstant | constants_.size()) + 1);
  ++tableUsed_;
  constants_.push(MergedConstant{bits, found.index, type});
  return found;
}

// The library's own nodes with a step: the node is planned, and its step
// taken back when an earlier step does the same work (which needs the
// node's inputs to be of the kinds the step reads, as the equality of
// inputs always did).
NodeRef Planner::mergeStep_(OperationPtr const& op, NodeRef const* inputs) {
  NodeRef const planned = emit_(op, inputs);
  auto const last = static_cast<std::uint32_t>(plan_.steps.size() - 1);
  Step const& s = plan_.steps[last];
  std::size_t h = static_cast<std::size_t>(s.kind) | std::size_t{s.fn} << 8 |
                  std::size_t{s.operandType} << 16 | std::size_t{s.valueType} << 24;
  h = mixHash(mixHash(mixHash(h, s.a), s.b), s.c);
  std::uint32_t const top = topBits(h);
  if ((tableUsed_ + 1) * 4 > table_.size() * 3) growTable_();
  std::uint32_t same = kNoRegister;
  std::uint64_t* empty = probe(table_, tableShift_, top, [&](std::uint32_t where) {
    if ((where & kConstant) || !sameWork(plan_.steps[where], s)) return false;
    std::size_t const n = op->inputCount();
    for (std::size_t k = 0; k < n; ++k)
      if (inputKeyOf_(s, k) != inputKey(inputs[k])) return false;
    same = where;
    return true;
  });
  if (empty) {
    *empty = static_cast<std::uint64_t>(top) << 32 | (last + 1);
    ++tableUsed_;
    return planned;
  }
  // Merging takes registers in order (none is freed): the step's was the last.
  NodeRef const found(plan_.steps[same].out, planned.type(), false);
  plan_.steps.pop();
  --plan_.registerCount;
  return found;
}

// Other nodes: same class, compare_ 0, same inputs.
NodeRef Planner::mergeGeneric_(OperationPtr const& op, NodeRef const* inputs) {
  std::size_t const n = op->inputCount();
  std::size_t h = fieldHash(*op);
  for (std::size_t i = 0; i < n; ++i) h = mixHash(h, inputKey(inputs[i]));
  std::uint32_t const top = topBits(h);
  if ((tableUsed_ + 1) * 4 > table_.size() * 3) growTable_();
  NodeRef found;
  std::uint64_t* empty = probe(table_, tableShift_, top, [&](std::uint32_t where) {
    if (where & kConstant) return false;
    Step const& step = plan_.steps[where];
    if (step.kind != StepKind::Generic) return false;
    GenericNode const& g = plan_.generic[step.a];
    Operation const& other = *g.op;
    if (!sameClass(other, *op) || other.inputCount() != n) return false;
    for (std::size_t k = 0; k < n; ++k)
      if (inputKey(plan_.args[g.firstArg + k]) != inputKey(inputs[k])) return false;
    if (other.compare_(*op) != 0) return false;
    found = g.result;
    return true;
  });
  if (!empty) return found;
  found = emit_(op, inputs);
  *empty = static_cast<std::uint64_t>(top) << 32 | plan_.steps.size();
  ++tableUsed_;
  return found;
}

// The key of input `input` of the node that planned `step`, as inputKey
// gave it when the step was planned.
std::uint32_t Planner::inputKeyOf_(Step const& step, std::size_t input) const {
  switch (step.kind) {
    case StepKind::Element: return step.a * 2u + 1u;
    case StepKind::ArrayAccess: return input == 0 ? step.a * 2u : step.b * 2u + 1u;
    case StepKind::Generic: return inputKey(plan_.args[plan_.generic[step.a].firstArg + input]);
    default: {
      std::uint32_t const operands[3] = {step.a, step.b, step.c};
      return operands[input] * 2u;
    }
  }
}

void Planner::release() {
  walk_.release();
  pending_.release();
  refs_.release();
  std::vector<std::uint32_t>().swap(free_);
  constants_.release();
  std::vector<std::uint64_t>().swap(table_);
  tableUsed_ = 0;
}

}  // namespace kelm_math::comp_trace::detail
