#include "kelm_math/comp_trace/Evaluation.hpp"

#include <stdexcept>
#include <unordered_map>

#include "Plan.hpp"

namespace kelm_math::comp_trace {

namespace detail {

/// The nodes evaluated against one binding set: each evaluation plans the
/// nodes the set has not seen and runs them, a batch at a time; their
/// values stay in the registers for later evaluations. A memo that keeps
/// its steps follows a rebinding of an input it reads by running them all
/// again: the plan depends on the inputs' names, not on their values.
struct EvaluationMemo {
  static constexpr std::size_t kBatch = 1024;

  EvaluationMemo(BindingSet const& bindings, bool keepSteps)
      : bindings(bindings), planner(plan, false, &position, this), keepSteps(keepSteps) {
    planner.runEvery(kBatch, &run);
  }

  NodeRef evaluate(OperationPtr const& root) {
    if (stale) rerun_();
    if (planner.known(*root)) return planner.ref(*root);
    NodeRef ref = planner.add(root);
    keep.push_back(root);
    return ref;
  }

  // False when the memo cannot follow the new value and must go.
  bool rebind(std::string const& name, ScalarValue const& value) {
    auto it = positions.find(name);
    if (it == positions.end()) return true;  // no node planned so far reads it
    if (!keepSteps) return false;
    values[it->second] = value;
    stale = true;
    return true;
  }

  static void run(void* context) {
    auto& memo = *static_cast<EvaluationMemo*>(context);
    memo.plan.prepare(memo.scratch);
    if (memo.keepSteps) memo.plan.chainOperands();  // they run again
    execute(memo.plan, 0, memo.scratch, InputSource{nullptr, memo.values.data()});
    if (memo.keepSteps) memo.steps.append(memo.plan.steps.begin(), memo.plan.steps.end());
    memo.plan.steps.clear();
    memo.plan.constants.clear();
  }

  // Each input's binding is read once, when the first node reading it is planned.
  static std::uint32_t position(void* context, std::string const& name) {
    auto& memo = *static_cast<EvaluationMemo*>(context);
    auto [it, added] =
        memo.positions.try_emplace(name, static_cast<std::uint32_t>(memo.values.size()));
    if (added) {
      try {
        memo.values.push_back(memo.bindings.value(name));
      } catch (...) {
        memo.positions.erase(it);
        throw;
      }
    }
    return it->second;
  }

  BindingSet const& bindings;
  Plan plan;
  Planner planner;
  Scratch scratch;
  std::unordered_map<std::string, std::uint32_t> positions;
  std::vector<ScalarValue> values;
  std::vector<OperationPtr> keep;  // the roots: their addresses stay theirs
  bool keepSteps;
  bool stale = false;    // values rebound since the steps last ran
  PodArray<Step> steps;  // every step run so far, when kept

 private:
  // Constants keep their registers, written when first planned; registers
  // reused within the steps are written again in the same order.
  void rerun_() {
    plan.steps.swap(steps);
    execute(plan, 0, scratch, InputSource{nullptr, values.data()});
    plan.steps.swap(steps);
    stale = false;
  }
};

}  // namespace detail

UnboundInput::UnboundInput(std::string const& name)
    : name_(name), message_("comp_trace UnboundInput: " + name) {}

const char* UnboundInput::what() const noexcept { return message_.c_str(); }

BindingSet::BindingSet() = default;
BindingSet::~BindingSet() = default;
BindingSet::BindingSet(BindingSet const& other) : values_(other.values_) {}
BindingSet& BindingSet::operator=(BindingSet const& other) {
  values_ = other.values_;
  memo_ptr_.reset();
  return *this;
}
// The memo refers to its set: a moved set starts a fresh one.
BindingSet::BindingSet(BindingSet&& other) noexcept : values_(std::move(other.values_)) {
  other.memo_ptr_.reset();
}
BindingSet& BindingSet::operator=(BindingSet&& other) noexcept {
  values_ = std::move(other.values_);
  memo_ptr_.reset();
  other.memo_ptr_.reset();
  return *this;
}

void BindingSet::bind(std::string const& name, double value) { bind_(name, ScalarValue(value)); }
void BindingSet::bind(std::string const& name, int value) { bind_(name, ScalarValue(value)); }
void BindingSet::bind(std::string const& name, bool value) { bind_(name, ScalarValue(value)); }

// A set rebound after an evaluation is evaluated again and again: its next
// memo keeps its steps, to run them again after each later rebinding.
void BindingSet::bind_(std::string const& name, ScalarValue const& value) {
  values_[name] = value;
  if (memo_ptr_ && !memo_ptr_->rebind(name, value)) {
    memo_ptr_.reset();
    keepSteps_ = true;
  }
}

bool BindingSet::isBound(std::string const& name) const { return values_.count(name) != 0; }

ScalarValue const& BindingSet::value(std::string const& name) const {
  auto it = values_.find(name);
  if (it == values_.end()) throw UnboundInput(name);
  return it->second;
}

detail::EvaluationMemo& BindingSet::memo_() const {
  if (!memo_ptr_) memo_ptr_ = std::make_unique<detail::EvaluationMemo>(*this, keepSteps_);
  return *memo_ptr_;
}

namespace {
// A failed evaluation leaves planned steps that never ran: forget them all.
template <class F>
auto guarded(std::unique_ptr<detail::EvaluationMemo>& memo, F&& f) {
  try {
    return f();
  } catch (...) {
    memo.reset();
    throw;
  }
}
}  // namespace

std::vector<VectorValue> BindingSet::evaluateVector(OperationPtr const& op) const {
  if (op->isScalar()) throw std::logic_error("comp_trace: evaluateVector of a scalar node");
  return guarded(memo_ptr_, [&] {
    auto& memo = memo_();
    return detail::vectorValuesOf(memo.scratch, memo.evaluate(op));
  });
}

ScalarValue BindingSet::evaluateScalar(OperationPtr const& op) const {
  if (!op->isScalar()) throw std::logic_error("comp_trace: evaluateScalar of a vector node");
  return guarded(memo_ptr_, [&] {
    auto& memo = memo_();
    return detail::valueOf(memo.scratch, memo.evaluate(op));
  });
}

}  // namespace kelm_math::comp_trace
