// Recording, evaluation, C generation and tape calls in several threads at
// once, on graphs of their own, on one graph they all extend and on one
// tape; a gradient made once and released by whichever thread is last;
// tests/tsan/run.sh builds this with ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "kelm_math/comp_trace.hpp"
#include "kelm_math/comp_trace/Derivatives.hpp"
#include "vela/math/dense_kernels.hpp"
#include "vela/math/names.hpp"

namespace vm = vela::math;

namespace {

constexpr int kThreads = 4;
std::vector<std::string> const kNames = {"a", "b", "angle"};

std::vector<double> inputsOf(int thread) {
  return {0.3 + 0.1 * thread, 1.1 - 0.05 * thread, 0.2 + 0.3 * thread};
}

// Scalar functions, a 3-D vector, two dense kernels and a long chain (so
// that the threads overlap).
template <class Mode>
std::vector<vm::Scalar<Mode>> model(vm::Scalar<Mode> const* in) {
  using S = vm::Scalar<Mode>;
  S const &a = in[0], &b = in[1], &angle = in[2], r = vm::hypot(a, b), half = angle * 0.5;
  vm::Vector3_T<Mode> p = vm::Vector3_T<Mode>(a, b, r).unit() * vm::sin(half);
  S y = vm::ternary(a < b, vm::exp(-a * a), vm::pow(r, S(1.5))), twice[9], sum[3];
  vm::matrixMultiply(3, 1, 3, p.values(), p.values(), twice);
  vm::vectorAdd(3, twice, p.values(), sum);
  for (int k = 0; k < 500; ++k) y = 0.5 * y + vm::sin(y) * b;
  return {y, sum[0], sum[1], sum[2], vm::atan2(a, b) + vm::guardedDivide(a, b - a)};
}

std::vector<vm::TracedDouble> inputs() {
  std::vector<vm::TracedDouble> in;
  for (auto const& name : kNames) in.push_back(vm::TracedDouble::input(name));
  return in;
}

std::vector<vm::TracedDouble> recordModel() { return model<vm::Traced>(inputs().data()); }

std::vector<double> evaluated(std::vector<vm::TracedDouble> const& values, int thread) {
  vm::BindingSet bindings;
  std::vector<double> in = inputsOf(thread), result;
  for (std::size_t i = 0; i < kNames.size(); ++i) bindings.bind(kNames[i], in[i]);
  for (auto const& value : values) result.push_back(value.evaluate(bindings));
  return result;
}

// A thread's extension of the shared outputs and its own recording of the
// model: the values by evaluation and by a tape, and its C.
std::vector<double> run(std::vector<vm::TracedDouble> outputs, int thread, std::string& code) {
  for (auto& output : outputs) output = output * (thread + 1.0) + vm::sin(output);
  std::vector<vm::TracedDouble> own = recordModel();
  outputs.insert(outputs.end(), own.begin(), own.end());
  std::vector<double> in = inputsOf(thread), values = evaluated(outputs, thread),
                      taped(outputs.size());
  kelm_math::comp_trace::Tape(kNames, outputs)(in.data(), taped.data());
  values.insert(values.end(), taped.begin(), taped.end());
  code = vm::generateCFunction("model_" + std::to_string(thread), kNames, outputs);
  return values;
}

}  // namespace

TEST(ConcurrentRecording, ThreadsRecordEvaluateAndShareGraphsAndTapes) {
  auto shared = std::make_shared<std::vector<vm::TracedDouble>>(recordModel());
  kelm_math::comp_trace::Tape tape(kNames, *shared);
  auto gradient = std::make_shared<std::vector<vm::TracedDouble>>(
      kelm_math::comp_trace::gradient((*shared)[0], inputs()));
  std::vector<std::vector<double>> expected, numeric, slopes;
  std::vector<std::string> code(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    expected.push_back(run(*shared, t, code[t]));
    numeric.push_back(model<vm::Numeric>(inputsOf(t).data()));
    slopes.push_back({evaluated(*gradient, t)[t % kNames.size()]});
  }
  // The threads start together; the last to finish frees the shared graph.
  // Each thread holds one entry of the gradient: the threads release
  // different parts of the nodes the sweep made together.
  std::vector<std::vector<vm::TracedDouble>> copies(kThreads, *shared), gradients;
  for (int t = 0; t < kThreads; ++t) gradients.push_back({(*gradient)[t % kNames.size()]});
  std::vector<int> mismatches(kThreads, 0);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int round = 0; round < 2; ++round) {
        std::string text;
        mismatches[t] += run(copies[t], t, text) != expected[t] || text != code[t];
        auto workspace = tape.workspace();
        std::vector<double> in = inputsOf(t), mine(tape.outputCount()), its(tape.outputCount());
        tape(in.data(), mine.data(), workspace);
        tape(in.data(), its.data());
        mismatches[t] += mine != numeric[t] || its != numeric[t];
        // A batch of forty copies of the inputs, split over two threads.
        std::vector<double> ins(in.size() * 40), batch(its.size() * 40);
        for (std::size_t k = 0; k < ins.size(); ++k) ins[k] = in[k / 40];
        tape(ins.data(), batch.data(), 40, 2u);
        for (std::size_t j = 0; j < its.size(); ++j) mismatches[t] += batch[j * 40 + 39] != its[j];
      }
      mismatches[t] += evaluated(gradients[t], t) != slopes[t];
      copies[t].clear();
      gradients[t].clear();
    });
  shared.reset();
  gradient.reset();
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
}
