#include "kelm_math/comp_trace/Tape.hpp"

#include <mutex>
#include <stdexcept>

#include "InputPositions.hpp"
#include "Plan.hpp"

namespace kelm_math::comp_trace {
namespace detail {

struct TapeState {
  Plan plan;
  std::size_t inputCount = 0;
  std::vector<NodeRef> outputs;  // registers; a constant output's is a plan constant
  mutable std::mutex ownInUse;
  mutable Scratch own;
};

namespace {

std::uint32_t positionOf(void* inputs, std::string const& name) {
  return static_cast<InputPositions const*>(inputs)->at(name);
}

void run(TapeState const& state, double const* in, double* out, Scratch& scratch) {
  execute(state.plan, 0, scratch, InputSource{in, nullptr});
  for (std::size_t j = 0; j < state.outputs.size(); ++j)
    out[j] = scratch.registers[state.outputs[j].index].d;
}

}  // namespace
}  // namespace detail

const char* Tape::MovedFromTape::what() const noexcept { return "zeph MovedFromTape"; }
const char* Tape::MovedFromWorkspace::what() const noexcept { return "zeph MovedFromWorkspace"; }

Tape::Workspace::Workspace(std::weak_ptr<detail::TapeState const> owner,
                           std::unique_ptr<detail::Scratch> scratch)
    : owner_(owner), scratch_(std::move(scratch)) {}
Tape::Workspace::Workspace(Workspace&&) noexcept = default;
Tape::Workspace& Tape::Workspace::operator=(Workspace&&) noexcept = default;
Tape::Workspace::~Workspace() = default;

Tape::Tape(std::vector<std::string> const& inputNames, std::vector<TracedDouble> const& outputs)
    : state_(std::make_shared<detail::TapeState>()) {
  detail::InputPositions names(inputNames);
  detail::TapeState& s = *state_;
  s.inputCount = inputNames.size();
  // A constant output is planned from a node made for it, which planning
  // knows by address: each is kept until planning ends.
  std::vector<OperationPtr> roots;
  roots.reserve(outputs.size());
  detail::Planner planner(s.plan, true, &detail::positionOf, &names);
  for (TracedDouble const& output : outputs) {
    roots.push_back(output.operation());
    s.outputs.push_back(planner.add(roots.back()));
  }
  planner.compactRegisters(s.outputs);
  s.plan.chainOperands();
  s.plan.steps.shrink_to_fit();
  s.plan.prepare(s.own);
}

Tape::~Tape() = default;
Tape::Tape(Tape&&) noexcept = default;
Tape& Tape::operator=(Tape&&) noexcept = default;

std::size_t Tape::inputCount() const { return state_ ? state_->inputCount : 0; }
std::size_t Tape::outputCount() const { return state_ ? state_->outputs.size() : 0; }
std::size_t Tape::stepCount() const { return state_ ? state_->plan.steps.size() : 0; }

void Tape::operator()(double const* in, double* out) const {
  if (!state_) throw MovedFromTape();
  std::unique_lock<std::mutex> lock(state_->ownInUse, std::try_to_lock);
  if (lock.owns_lock()) {
    detail::run(*state_, in, out, state_->own);
    return;
  }
  Workspace fresh = workspace();
  (*this)(in, out, fresh);
}

void Tape::operator()(double const* in, double* out, Workspace& workspace) const {
  if (!state_) throw MovedFromTape();
  if (!workspace.scratch_) throw MovedFromWorkspace();
  // Same control block: no atomic operation, unlike lock().
  if (workspace.owner_.owner_before(state_) || state_.owner_before(workspace.owner_))
    throw std::invalid_argument("comp_trace: workspace of another tape");
  detail::run(*state_, in, out, *workspace.scratch_);
}

Tape::Workspace Tape::workspace() const {
  if (!state_) throw MovedFromTape();
  auto scratch = std::make_unique<detail::Scratch>();
  state_->plan.prepare(*scratch);
  return Workspace(state_, std::move(scratch));
}

}  // namespace kelm_math::comp_trace
