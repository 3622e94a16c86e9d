#pragma once

// The flat plan that every evaluation runs: the nodes of a graph in
// dependency order as steps over a register file of scalars, with the vector
// nodes' outputs in per-call buffers.

#include <cstdint>
#include <string>
#include <vector>

#include "PodArray.hpp"
#include "PointerMap.hpp"
#include "ScalarNodes.hpp"
#include "kelm_math/comp_trace/Operation.hpp"

namespace kelm_math::comp_trace::detail {

/// One scalar of the register file: a double, or an int (bools as 0 or 1).
union Register {
  double d;
  int i;
};

/// Where a planned node's value lives: a register for scalar nodes, a
/// generic node's buffers for vector nodes.
struct NodeRef {
  NodeRef() = default;
  NodeRef(std::uint32_t index, ScalarType type, bool vector, bool constant = false)
      : index(index),
        valueType(static_cast<std::uint8_t>(type)),
        vector(vector),
        constant(constant) {}

  std::uint32_t index = 0;
  // Eight bytes in all, built and passed in one register: planning makes
  // one per node.
  std::uint8_t valueType = static_cast<std::uint8_t>(ScalarType::Double);
  bool vector = false;
  bool constant = false;  // its register is written once, before any step
  // Planning: a register of its own (not a constant's), and a node held by
  // one pointer, so read by one node: the register is free once that node
  // has read it. Set when the register is taken, cleared for mapped nodes.
  bool freeAfterRead = false;

  ScalarType type() const { return static_cast<ScalarType>(valueType); }
};

/// The common functions have a kind of their own, so the evaluator runs
/// them without converting values; any other function runs as Function.
enum class StepKind : std::uint8_t {
  AddD,
  SubD,
  MulD,
  DivD,
  NegD,
  SqrtD,
  MinD,
  MaxD,
  SelectD,
  LtD,
  GtD,
  AddI,
  SubI,
  MulI,
  // The same with operand a or b the previous step's result, which the
  // evaluator keeps in a local: a chain of operations then waits on the
  // arithmetic alone, not on a store and a load per step.
  AddDPrevA,
  AddDPrevB,
  SubDPrevA,
  SubDPrevB,
  MulDPrevA,
  MulDPrevB,
  DivDPrevA,
  DivDPrevB,
  Function,
  Input,
  Element,
  ArrayAccess,
  Generic
};

/// No register: an unused operand of a step.
constexpr std::uint32_t kNoRegister = 0xffffffffu;

/// One node's work. Function: out = fn(a, b, c) (so are the fast kinds). Input: out = input a
/// converted to type. Element: out = element c of output b of generic a.
/// ArrayAccess: out = element (register a) of output 0 of generic b, 0
/// outside [0, c). Generic: run generic node a.
struct Step {
  StepKind kind;
  std::uint8_t fn;
  std::uint8_t operandType;  // ScalarType, kept to a byte: steps are most of a tape
  std::uint8_t valueType;
  std::uint32_t out;
  std::uint32_t a, b, c;

  ScalarType operand() const { return static_cast<ScalarType>(operandType); }
  ScalarType type() const { return static_cast<ScalarType>(valueType); }
};

/// A node the plan runs through its own evaluate(): kernels, collects and
/// scalar nodes from outside the trace library.
struct GenericNode {
  OperationPtr op;         // kept alive: the plan outlives the caller's graph
  std::uint32_t firstArg;  // into Plan::args
  std::uint32_t argCount;
  NodeRef result;  // the register of a scalar node
};

/// The output buffers of one generic node in one call's scratch.
struct Buffer {
  ScalarType type = ScalarType::Double;
  std::size_t count = 0;
  std::vector<double> doubles;
  std::vector<int> ints;
};
struct GenericOutputs {
  std::vector<Buffer> buffers;
  unsigned made = 0;
};

/// Instances a batched run evaluates side by side: each step loops over
/// them, so the compiler vectorizes the loop and the step's dispatch is
/// paid once for all of them.
constexpr std::size_t kLanes = 32;

/// Scratch of one evaluation: registers and generic outputs. A batched run
/// keeps register r of lane k at lanes[r * kLanes + k] and the outputs of
/// generic node g in lane k at laneGeneric[k * plan.generic.size() + g].
struct Scratch {
  std::vector<Register> registers;
  std::vector<GenericOutputs> generic;
  std::vector<Register> lanes;
  std::vector<GenericOutputs> laneGeneric;
};

struct Plan {
  PodArray<Step> steps;
  std::vector<GenericNode> generic;
  std::vector<NodeRef> args;  // inputs of generic nodes
  std::vector<std::pair<std::uint32_t, Register>> constants;
  std::uint32_t registerCount = 0;

  /// Marks operands that are the previous step's result (the PrevA/PrevB
  /// kinds). For plans that run many times; registers must be final.
  void chainOperands();

  /// Sizes scratch for this plan and writes the constants into their
  /// registers.
  void prepare(Scratch& scratch) const;
  /// The same for batched runs (the lanes), once per scratch.
  void prepareLanes(Scratch& scratch) const;
};

/// Values of the plan's inputs for one run: in[] doubles (the tape, read as
/// generated C reads them) or bound values (a binding set).
struct InputSource {
  double const* doubles = nullptr;
  ScalarValue const* values = nullptr;
};

/// Runs steps [first, plan.steps.size()).
void execute(Plan const& plan, std::size_t first, Scratch& scratch, InputSource inputs);

/// Runs every step for instances [0, n) of a batch, n <= kLanes: input i
/// of instance k is in[i * stride + k]. Lanes from n up to n rounded up to
/// a quarter, a half or all of kLanes compute on stale values, and only in
/// the steps that cannot fail.
void executeLanes(Plan const& plan, Scratch& scratch, double const* in, std::size_t stride,
                  std::size_t n);

/// The value of a planned scalar node.
ScalarValue valueOf(Scratch const& scratch, NodeRef ref);
/// The outputs of a planned vector node.
std::vector<VectorValue> vectorValuesOf(Scratch const& scratch, NodeRef ref);

/// Builds and extends a plan. Nodes are added in dependency order without
/// recursion; each distinct node once. With merging, equal nodes (same
/// class, compare_ 0, same inputs) share one step.
class Planner {
 public:
  /// inputPosition(name) gives the input's position for InputSource, or
  /// throws (UnboundInput) for a name it cannot give.
  using InputPosition = std::uint32_t (*)(void* context, std::string const& name);

  Planner(Plan& plan, bool merge, InputPosition position, void* context)
      : plan_(plan), merge_(merge), position_(position), context_(context) {}

  /// Plans root and everything it needs that is not planned yet.
  NodeRef add(OperationPtr const& root);
  /// Calls run(context) whenever `batch` steps are planned, and once more
  /// at the end of add(): a plan that runs once and goes (a binding set's)
  /// then never holds more than a batch of steps, so planning a long graph
  /// neither copies nor faults in a growing step list. run must execute the
  /// steps and constants and clear both.
  void runEvery(std::size_t batch, void (*run)(void* context)) {
    batch_ = batch;
    run_ = run;
  }
  bool known(Operation const& op) const { return refs_.find(&op) != nullptr; }
  NodeRef ref(Operation const& op) const;

  /// Reuses registers once their last reader has run; `live` registers
  /// (the tape's outputs) and constants keep theirs. Renumbers the plan.
  void compactRegisters(std::vector<NodeRef>& live);
  /// Frees the maps and stacks of planning, so a tape's final arrays do not
  /// add to them; add() must not be called afterwards.
  void release();

 private:
  NodeRef complete_(OperationPtr const& op, NodeRef const* inputs);
  NodeRef emit_(OperationPtr const& op, NodeRef const* inputs);
  NodeRef emitOther_(OperationPtr const& op, NodeRef const* inputs);
  NodeRef newRegister_(ScalarType type);
  std::uint32_t inputKeyOf_(Step const& step, std::size_t input) const;
  void growTable_();
  NodeRef mergeConstant_(OperationPtr const& op);
  NodeRef mergeStep_(OperationPtr const& op, NodeRef const* inputs);
  NodeRef mergeGeneric_(OperationPtr const& op, NodeRef const* inputs);

  Plan& plan_;
  bool merge_;
  InputPosition position_;
  void* context_;
  std::size_t batch_ = 0;
  void (*run_)(void* context) = nullptr;
  // The walk of add(): a node, its next input, and its first entry in
  // pending_ with the top bit for "mapped". Sixteen bytes: a million-deep
  // chain holds a million. Kept between calls, as a binding set plans one
  // root after another.
  struct Frame {
    OperationPtr const* op;
    std::uint32_t next;
    std::uint32_t pendingMark;
  };
  static constexpr std::uint32_t kMapped = 0x80000000u;
  PodArray<Frame> walk_;
  PodArray<NodeRef> pending_;
  PointerMap<NodeRef> refs_;
  std::vector<std::uint32_t> free_;  // registers of nodes read already by their one reader
  // Merging compares a new node with the steps of the distinct nodes
  // planned so far: a step holds all of a library node's fields and inputs,
  // and reading one is sequential memory where its node is anywhere in the
  // heap. Generic nodes are compared through their node, constants (which
  // have no step) through this table of their values and registers. Steps
  // are read back, so merging and runEvery do not mix.
  struct MergedConstant {
    std::uint64_t bits;  // of the double, or of the int
    std::uint32_t index;
    ScalarType type;
  };
  PodArray<MergedConstant> constants_;
  static constexpr std::uint32_t kConstant = 0x80000000u;
  // Open addressing: the hash's top 32 bits above 1 + a step's index (or
  // kConstant + an entry of constants_), 0 for empty. The bits compared
  // first spare most loads of steps, and growing touches no node.
  std::vector<std::uint64_t> table_;
  std::size_t tableUsed_ = 0;
  unsigned tableShift_ = 32;
};

}  // namespace kelm_math::comp_trace::detail
