// Recording, evaluation and C generation in several threads at once, on
// graphs of each thread's own and on one graph all of them share.
// tests/tsan/run.sh builds this with ThreadSanitizer, which fails the run on
// any data race it sees.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kelm_math/comp_trace.hpp"
#include "vela/math/dense_kernels.hpp"
#include "vela/math/names.hpp"

namespace vm = vela::math;

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 2;

std::vector<std::string> const kNames = {"a", "b", "angle"};

std::vector<double> inputsOf(int thread) {
  return {0.3 + 0.1 * thread, 1.1 - 0.05 * thread, 0.2 + 0.3 * thread};
}

// Scalar arithmetic and functions, selections, the 3-D types, three dense
// kernels and a long dependent chain (so that the threads overlap).
template <class Mode>
std::vector<vm::Scalar<Mode>> model(vm::Scalar<Mode> const* in) {
  using S = vm::Scalar<Mode>;
  S const &a = in[0], &b = in[1], &angle = in[2];
  S r = vm::hypot(a, b);
  std::vector<S> out = {vm::sin(angle) * a + vm::cos(angle) * b,
                        vm::exp(-a * a) + vm::log(1.0 + b * b) + vm::pow(r, S(1.5)),
                        vm::atan2(a, b) + vm::sqrt(r) + vm::guardedDivide(a, b - a),
                        vm::ternary(a < b, vm::min(a, b), vm::max(a, b) * 2.0)};
  S half = angle * 0.5;
  vm::Matrix3x3_T<Mode> turn(
      vm::Quaternion_T<Mode>(vm::cos(half), vm::sin(half) * 0.6, vm::sin(half) * 0.8, 0.0));
  vm::Vector3_T<Mode> p = turn * vm::Vector3_T<Mode>(a, b, r);
  S twice[9], q[3], sum[3];
  vm::matrixMultiply(3, 3, 3, turn.values(), turn.values(), twice);
  vm::matrixVectorMultiply(3, 3, twice, p.values(), q);
  vm::vectorAdd(3, q, p.values(), sum);
  out.insert(out.end(), sum, sum + 3);
  S y = a;
  for (int k = 0; k < 500; ++k) y = 0.5 * y + vm::sin(y) * b;
  out.push_back(y);
  return out;
}

struct Outcome {
  std::vector<double> values;
  std::string code;
};

// Evaluates outputs on the thread's input values and writes their C.
Outcome evaluateAndWrite(std::vector<vm::TracedDouble> const& outputs, int thread) {
  std::vector<double> values = inputsOf(thread);
  vm::BindingSet bindings;
  for (std::size_t i = 0; i < kNames.size(); ++i) bindings.bind(kNames[i], values[i]);
  Outcome outcome;
  for (auto const& output : outputs) outcome.values.push_back(output.evaluate(bindings));
  outcome.code = vm::generateCFunction("model_" + std::to_string(thread), kNames, outputs);
  return outcome;
}

std::vector<vm::TracedDouble> recordModel() {
  std::vector<vm::TracedDouble> in;
  for (auto const& name : kNames) in.push_back(vm::TracedDouble::input(name));
  return model<vm::Traced>(in.data());
}

// A thread's own graph on top of a shared one: new nodes over every output.
std::vector<vm::TracedDouble> extend(std::vector<vm::TracedDouble> outputs, int thread) {
  for (auto& output : outputs) output = output * (thread + 1.0) + vm::sin(output);
  return outputs;
}

bool sameBits(std::vector<double> const& a, std::vector<double> const& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// Runs outcomeOf(t) kRounds times in each of kThreads threads started
// together; the rounds that differ from expected[t], per thread.
template <class F>
std::vector<int> mismatchesOf(std::vector<Outcome> const& expected, F outcomeOf,
                              std::function<void()> const& whileRunning = {}) {
  std::vector<int> mismatches(kThreads, 0);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int round = 0; round < kRounds; ++round) {
        Outcome outcome = outcomeOf(t);
        if (!sameBits(outcome.values, expected[t].values) || outcome.code != expected[t].code)
          ++mismatches[t];
      }
    });
  if (whileRunning) whileRunning();
  for (auto& thread : threads) thread.join();
  return mismatches;
}

}  // namespace

TEST(ConcurrentRecording, SeparateGraphsAgreeWithASingleThreadedRun) {
  std::vector<Outcome> expected;
  for (int t = 0; t < kThreads; ++t) {
    expected.push_back(evaluateAndWrite(recordModel(), t));
    std::vector<double> numeric = model<vm::Numeric>(inputsOf(t).data());
    ASSERT_TRUE(sameBits(expected[t].values, numeric)) << "thread " << t;
  }
  ASSERT_NE(expected[0].values, expected[1].values);
  std::vector<int> mismatches =
      mismatchesOf(expected, [](int t) { return evaluateAndWrite(recordModel(), t); });
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

// One recording read by every thread with bindings of its own, and extended
// by each; the recording thread lets go of it while they run, so the last
// thread to finish frees it.
TEST(ConcurrentRecording, ThreadsShareARecordedGraph) {
  auto shared = std::make_shared<std::vector<vm::TracedDouble>>(recordModel());
  std::vector<Outcome> expected;
  for (int t = 0; t < kThreads; ++t) expected.push_back(evaluateAndWrite(extend(*shared, t), t));
  std::vector<std::vector<vm::TracedDouble>> copies(kThreads, *shared);
  std::vector<int> rounds(kThreads, 0);
  std::vector<int> mismatches = mismatchesOf(
      expected,
      [&](int t) {
        Outcome outcome = evaluateAndWrite(extend(copies[t], t), t);
        // The last round drops this thread's hold on the shared graph.
        if (++rounds[t] == kRounds) copies[t].clear();
        return outcome;
      },
      [&] { shared.reset(); });
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

// One tape called by every thread at once, on workspaces of their own and on
// the tape's own (which one thread at a time gets, the others a fresh one).
TEST(ConcurrentRecording, ThreadsCallOneTape) {
  std::vector<vm::TracedDouble> outputs = recordModel();
  kelm_math::comp_trace::Tape tape(kNames, outputs);
  outputs.clear();
  std::vector<Outcome> expected;
  for (int t = 0; t < kThreads; ++t)
    expected.push_back({model<vm::Numeric>(inputsOf(t).data()), ""});
  std::vector<int> mismatches = mismatchesOf(expected, [&](int t) {
    auto workspace = tape.workspace();
    std::vector<double> in = inputsOf(t), mine(tape.outputCount()), own(tape.outputCount());
    tape(in.data(), mine.data(), workspace);
    tape(in.data(), own.data());
    return Outcome{sameBits(mine, own) ? mine : std::vector<double>{}, ""};
  });
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}
