#include "kelm_math/comp_trace/Evaluation.hpp"

#include <stdexcept>
#include <unordered_map>

#include "Plan.hpp"

namespace kelm_math::comp_trace {

namespace detail {

/// The nodes evaluated against one binding set: each evaluation plans the
/// nodes the set has not seen and runs them, a batch at a time; their
/// values stay in the registers for later evaluations.
struct EvaluationMemo {
  static constexpr std::size_t kBatch = 1024;

  explicit EvaluationMemo(BindingSet const& bindings)
      : bindings(bindings), planner(plan, false, &position, this) {
    planner.runEvery(kBatch, &run);
  }

  NodeRef evaluate(OperationPtr const& root) {
    if (planner.known(*root)) return planner.ref(*root);
    NodeRef ref = planner.add(root);
    keep.push_back(root);
    return ref;
  }

  static void run(void* context) {
    auto& memo = *static_cast<EvaluationMemo*>(context);
    memo.plan.prepare(memo.scratch);
    execute(memo.plan, 0, memo.scratch, InputSource{nullptr, memo.values.data()});
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

void BindingSet::bind(std::string const& name, double value) {
  values_[name] = ScalarValue(value);
  memo_ptr_.reset();
}
void BindingSet::bind(std::string const& name, int value) {
  values_[name] = ScalarValue(value);
  memo_ptr_.reset();
}
void BindingSet::bind(std::string const& name, bool value) {
  values_[name] = ScalarValue(value);
  memo_ptr_.reset();
}

bool BindingSet::isBound(std::string const& name) const { return values_.count(name) != 0; }

ScalarValue const& BindingSet::value(std::string const& name) const {
  auto it = values_.find(name);
  if (it == values_.end()) throw UnboundInput(name);
  return it->second;
}

detail::EvaluationMemo& BindingSet::memo_() const {
  if (!memo_ptr_) memo_ptr_ = std::make_unique<detail::EvaluationMemo>(*this);
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
