#include "kelm_math/comp_trace/Tape.hpp"

#include <algorithm>
#include <exception>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

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
  mutable std::vector<Scratch> helpers;  // of threaded batches, while ownInUse is held
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

// Instances [first, last) of a batch of stride instances.
void runBatch(TapeState const& state, double const* in, double* out, std::size_t stride,
              std::size_t first, std::size_t last, Scratch& scratch) {
  state.plan.prepareLanes(scratch);
  for (std::size_t at = first; at < last; at += kLanes) {
    std::size_t n = std::min(kLanes, last - at);
    executeLanes(state.plan, scratch, in + at, stride, n);
    for (std::size_t j = 0; j < state.outputs.size(); ++j) {
      Register const* value = scratch.lanes.data() + state.outputs[j].index * kLanes;
      double* to = out + j * stride + at;
      for (std::size_t k = 0; k < n; ++k) to[k] = value[k].d;
    }
  }
}

// Blocks are written after later blocks' inputs are read.
void checkApart(TapeState const& state, double const* in, double* out, std::size_t count) {
  std::less<double const*> before;
  double const* inEnd = in + state.inputCount * count;
  double const* outEnd = out + state.outputs.size() * count;
  if (in != inEnd && out != outEnd && before(in, outEnd) && before(out, inEnd))
    throw std::invalid_argument("comp_trace: batch inputs and outputs overlap");
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
  planner.release();
  planner.compactRegisters(s.outputs);
  s.plan.chainOperands();
  s.plan.steps.shrinkToFit();
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
  detail::Scratch& scratch = scratchOf_(workspace);
  detail::run(*state_, in, out, scratch);
}

detail::Scratch& Tape::scratchOf_(Workspace& workspace) const {
  if (!state_) throw MovedFromTape();
  if (!workspace.scratch_) throw MovedFromWorkspace();
  // Same control block: no atomic operation, unlike lock().
  if (workspace.owner_.owner_before(state_) || state_.owner_before(workspace.owner_))
    throw std::invalid_argument("comp_trace: workspace of another tape");
  return *workspace.scratch_;
}

void Tape::operator()(double const* in, double* out, std::size_t count) const {
  (*this)(in, out, count, 1u);
}

void Tape::operator()(double const* in, double* out, std::size_t count,
                      Workspace& workspace) const {
  detail::Scratch& scratch = scratchOf_(workspace);
  detail::checkApart(*state_, in, out, count);
  detail::runBatch(*state_, in, out, count, 0, count, scratch);
}

void Tape::operator()(double const* in, double* out, std::size_t count, unsigned threads) const {
  if (!state_) throw MovedFromTape();
  detail::TapeState const& s = *state_;
  detail::checkApart(s, in, out, count);
  std::size_t blocks = (count + detail::kLanes - 1) / detail::kLanes;
  // More threads than cores gain nothing, and each keeps scratch of its own.
  std::size_t const cores = std::max(1u, std::thread::hardware_concurrency());
  std::size_t parts = std::max<std::size_t>(1, std::min<std::size_t>({threads, blocks, cores}));
  // The tape's own scratch when free, fresh scratch (which allocates) otherwise.
  std::unique_lock<std::mutex> lock(s.ownInUse, std::try_to_lock);
  std::vector<detail::Scratch> fresh;
  if (!lock.owns_lock()) fresh.resize(parts);
  std::vector<detail::Scratch>& others = lock.owns_lock() ? s.helpers : fresh;
  std::size_t const shift = lock.owns_lock() ? 0 : 1;
  if (others.size() < parts - 1 + shift) others.resize(parts - 1 + shift);
  detail::Scratch& first = lock.owns_lock() ? s.own : fresh[0];
  // Each part a run of whole blocks, so only the last part has a short block.
  auto bound = [&](std::size_t part) {
    return std::min(count, blocks * part / parts * detail::kLanes);
  };
  std::vector<std::exception_ptr> failed(parts);
  std::vector<std::thread> workers;
  workers.reserve(parts - 1);
  auto work = [&](std::size_t part, detail::Scratch& scratch) {
    try {
      detail::runBatch(s, in, out, count, bound(part), bound(part + 1), scratch);
    } catch (...) {
      failed[part] = std::current_exception();
    }
  };
  try {
    for (std::size_t part = 1; part < parts; ++part) {
      workers.emplace_back(work, part, std::ref(others[part - 1 + shift]));
    }
  } catch (...) {
    for (auto& worker : workers) worker.join();
    throw;
  }
  work(0, first);
  for (auto& worker : workers) worker.join();
  for (auto const& e : failed)
    if (e) std::rethrow_exception(e);
}

Tape::Workspace Tape::workspace() const {
  if (!state_) throw MovedFromTape();
  auto scratch = std::make_unique<detail::Scratch>();
  state_->plan.prepare(*scratch);
  return Workspace(state_, std::move(scratch));
}

}  // namespace kelm_math::comp_trace
