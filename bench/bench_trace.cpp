// What tracing costs against plain doubles. Two computations, each written
// once over the mode and run as Numeric (the floor) and as Traced:
//
// - Chain: y = 0.999999 y + x, 20,000 times (40,000 operations, each
//   depending on the one before);
// - Multibody: 200 unit quaternions (the inputs) turned into rotation
//   matrices, the matrices and the quaternions multiplied in a chain, and a
//   spatial vector sent through fifty 6-by-6 symmetric spatial matrices
//   assembled from the rotations (22,627 operations, math3d types in both
//   modes).
//
// The traced paths: recording (with the graph's destruction, and without
// it), evaluation against a fresh BindingSet (binding included), evaluation
// again after rebinding one input on the same set (the first rebinding
// plans again, keeping the steps; each later one runs them all again),
// generateCFunction, and a call of the C compiled once with cc -O2. Every
// time is also given per operation (per_op, in seconds: "1.5n" is 1.5 ns),
// the operations counted by walking the recorded graph: nodes that compute,
// not inputs or constants. Each path's outputs must equal Numeric's bit for
// bit before it is timed.
//
// Memory_* record a chain (and the multibody graph) once, with a counting
// operator new in this program: bytes of the live heap the recording adds,
// and the peak the heap reaches above that while evaluating once against a
// fresh set, generating C (the text included) and building a tape (kept),
// per operation. peak_B_per_op is the highest the heap reaches above where
// it started: the graph plus the largest of those peaks. Their times are of
// no interest.
//
// FirstBuild_* run this program again, once per repetition, to record C
// and build its tape (with its first call) as the first of each in a fresh
// process, on a cold heap: record_per_op and build_per_op are the least of
// five runs, x_record the second over the first.
//
// Every path takes its graph, input names, input values, outputs and the
// Numeric results from recorded<C>(); a flat evaluator called on double
// arrays is timed (and checked) by timeFlatCall like the compiled C.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "CompiledC.hpp"
#include "TracedComputations.hpp"
#include "vela/math.hpp"

// ---- Heap accounting ----
// Usable sizes of every block from malloc, calloc, realloc and memalign
// (operator new comes through malloc), counted only while a HeapWatch runs;
// outside of one, the replacement costs a flag test over glibc's own.

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {
std::atomic<bool> gCounting{false};
std::atomic<long long> gLive{0};
std::atomic<long long> gPeak{0};

void* noteAllocated(void* p) {
  if (!p || !gCounting.load(std::memory_order_relaxed)) return p;
  auto bytes = static_cast<long long>(malloc_usable_size(p));
  long long now = gLive.fetch_add(bytes, std::memory_order_relaxed) + bytes;
  if (now > gPeak.load(std::memory_order_relaxed)) gPeak.store(now, std::memory_order_relaxed);
  return p;
}

void noteFreed(void* p) {
  if (!p || !gCounting.load(std::memory_order_relaxed)) return;
  gLive.fetch_sub(static_cast<long long>(malloc_usable_size(p)), std::memory_order_relaxed);
}

void* allocate(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  return p;
}

void release(void* p) noexcept { std::free(p); }
}  // namespace

extern "C" {
void* malloc(std::size_t n) { return noteAllocated(__libc_malloc(n)); }
void* calloc(std::size_t n, std::size_t size) { return noteAllocated(__libc_calloc(n, size)); }
void* realloc(void* p, std::size_t n) {
  noteFreed(p);
  void* q = __libc_realloc(p, n);
  noteAllocated(q ? q : p);  // a failed realloc keeps p
  return q;
}
void* memalign(std::size_t alignment, std::size_t n) {
  return noteAllocated(__libc_memalign(alignment, n));
}
void* aligned_alloc(std::size_t alignment, std::size_t n) { return memalign(alignment, n); }
int posix_memalign(void** out, std::size_t alignment, std::size_t n) {
  void* p = memalign(alignment, n);
  if (!p) return ENOMEM;
  *out = p;
  return 0;
}
void free(void* p) {
  noteFreed(p);
  __libc_free(p);
}
}

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }

namespace {

using namespace trace_bench;  // NOLINT(google-build-using-namespace)

/// Growth of the heap from construction to stop(): net live bytes, the peak
/// of the live bytes, and malloc's own count of bytes in use (headers and
/// rounding included).
class HeapWatch {
 public:
  struct Growth {
    long long live, peak, inUse;
  };
  HeapWatch() : before_(inUse()) {
    gLive.store(0);
    gPeak.store(0);
    gCounting.store(true);
  }
  Growth stop() {
    gCounting.store(false);
    return {gLive.load(), gPeak.load(), inUse() - before_};
  }

 private:
  static long long inUse() {
    struct mallinfo2 info = mallinfo2();
    return static_cast<long long>(info.uordblks + info.hblkhd);
  }
  long long before_;
};

/// One recording of C kept for the whole run, with everything the paths
/// share: input names and values, outputs, Numeric's results.
template <class C>
struct Recorded {
  std::vector<std::string> inputNames = C::inputNames();
  std::vector<double> inputValues = C::inputValues();
  std::vector<vm::TracedDouble> inputs = tracedInputs(inputNames);
  std::vector<vm::TracedDouble> outputs = record<C>(inputs);
  std::vector<double> numeric = [this] {
    std::vector<double> out(C::outputCount);
    C::template compute<vm::Numeric>(inputValues.data(), out.data());
    return out;
  }();
  GraphSize size = graphSize(outputs);
};

template <class C>
Recorded<C> const& recorded() {
  static Recorded<C> const r;
  return r;
}

bool sameBits(std::vector<double> const& a, std::vector<double> const& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

/// Skips unless the walked graph holds exactly the operations C performs
/// as written: a miscount would make every per-operation figure wrong.
template <class C>
bool countsAgree(benchmark::State& state) {
  if (recorded<C>().size.operations == C::operations) return true;
  state.SkipWithError("recorded graph does not hold the operations counted by construction");
  return false;
}

void perOperation(benchmark::State& state, std::size_t operations) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * operations));
  state.counters["ops"] = static_cast<double>(operations);
  state.counters["per_op"] = benchmark::Counter(
      static_cast<double>(operations),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

/// Times call(in, out) on C's input values, after checking it gives
/// Numeric's results.
template <class C, class Call>
void timeFlatCall(benchmark::State& state, Call&& call) {
  Recorded<C> const& r = recorded<C>();
  std::vector<double> out(C::outputCount);
  call(r.inputValues.data(), out.data());
  if (!sameBits(out, r.numeric)) {
    state.SkipWithError("results differ from Numeric");
    return;
  }
  for (auto _ : state) {
    call(r.inputValues.data(), out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perOperation(state, r.size.operations);
}

// ---- Benchmarks ----

template <class C>
void BM_Numeric(benchmark::State& state) {
  Recorded<C> const& r = recorded<C>();
  if (!countsAgree<C>(state)) return;
  std::vector<double> out(C::outputCount);
  for (auto _ : state) {
    C::template compute<vm::Numeric>(r.inputValues.data(), out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perOperation(state, r.size.operations);
}

// Building the graph and letting it go.
template <class C>
void BM_Record(benchmark::State& state) {
  Recorded<C> const& r = recorded<C>();
  if (!countsAgree<C>(state)) return;
  for (auto _ : state) {
    std::vector<vm::TracedDouble> outputs = record<C>(r.inputs);
    benchmark::DoNotOptimize(outputs.data());
  }
  perOperation(state, r.size.operations);
}

// Building the graph only: its destruction runs with the clock stopped.
template <class C>
void BM_RecordNoDestroy(benchmark::State& state) {
  Recorded<C> const& r = recorded<C>();
  if (!countsAgree<C>(state)) return;
  for (auto _ : state) {
    std::vector<vm::TracedDouble> outputs = record<C>(r.inputs);
    benchmark::DoNotOptimize(outputs.data());
    state.PauseTiming();
    outputs.clear();
    state.ResumeTiming();
  }
  perOperation(state, r.size.operations);
}

template <class C>
void evaluateAll(Recorded<C> const& r, vm::BindingSet const& bindings, double* out) {
  for (std::size_t k = 0; k < r.outputs.size(); ++k) out[k] = r.outputs[k].evaluate(bindings);
}

// A fresh set each time: binding every input, evaluating, freeing the memo.
template <class C>
void BM_EvaluateFresh(benchmark::State& state) {
  Recorded<C> const& r = recorded<C>();
  std::vector<double> out(C::outputCount);
  auto once = [&] {
    vm::BindingSet bindings;
    for (std::size_t i = 0; i < r.inputNames.size(); ++i)
      bindings.bind(r.inputNames[i], r.inputValues[i]);
    evaluateAll(r, bindings, out.data());
  };
  once();
  if (!sameBits(out, r.numeric)) {
    state.SkipWithError("evaluation differs from Numeric");
    return;
  }
  for (auto _ : state) {
    once();
    benchmark::DoNotOptimize(out.data());
  }
  perOperation(state, r.size.operations);
}

// One set kept bound; each time the first input takes the other of two
// values, so every node depending on it really changes.
template <class C>
void BM_EvaluateRebind(benchmark::State& state) {
  Recorded<C> const& r = recorded<C>();
  std::vector<double> out(C::outputCount);
  vm::BindingSet bindings;
  for (std::size_t i = 0; i < r.inputNames.size(); ++i)
    bindings.bind(r.inputNames[i], r.inputValues[i]);
  evaluateAll(r, bindings, out.data());
  if (!sameBits(out, r.numeric)) {
    state.SkipWithError("evaluation differs from Numeric");
    return;
  }
  double const values[2] = {r.inputValues[0], std::nextafter(r.inputValues[0], 2.0)};
  std::size_t k = 0;
  for (auto _ : state) {
    bindings.bind(r.inputNames[0], values[++k & 1]);
    evaluateAll(r, bindings, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  perOperation(state, r.size.operations);
}

template <class C>
void BM_GenerateC(benchmark::State& state) {
  Recorded<C> const& r = recorded<C>();
  for (auto _ : state) {
    std::string text = vm::generateCFunction("traced_bench", r.inputNames, r.outputs);
    benchmark::DoNotOptimize(text.data());
  }
  perOperation(state, r.size.operations);
}

/// C's generated function, compiled the first time it is asked for; null
/// (with the reason in error) when it cannot be. Unsplit: one body however
/// long (the yardstick of the parts a long body is divided into).
template <class C, bool Unsplit = false>
CompiledC* compiled(std::string& error) {
  static std::string failure;
  static std::unique_ptr<CompiledC> const function = []() -> std::unique_ptr<CompiledC> {
    Recorded<C> const& r = recorded<C>();
    std::size_t const lines = Unsplit ? SIZE_MAX : ct::kBodyLineLimit;
    try {
      return std::make_unique<CompiledC>(
          ct::generateCFunctionCode("traced_bench", r.inputNames, r.outputs,
                                    ct::kStackScratchLimitBytes, lines),
          "traced_bench");
    } catch (std::exception const& e) {
      failure = e.what();
      return nullptr;
    }
  }();
  error = failure;
  return function.get();
}

template <class C, bool Unsplit = false>
void BM_CompiledCall(benchmark::State& state) {
  std::string error;
  CompiledC* function = compiled<C, Unsplit>(error);
  if (!function) {
    state.SkipWithError(error.c_str());
    return;
  }
  timeFlatCall<C>(state, [&](double const* in, double* out) { (*function)(in, out); });
  state.counters["cc_seconds"] = function->compileSeconds();
  state.counters["work_array"] = function->usesWorkArray() ? 1 : 0;
}

// Evaluating a tape again: the call only, on the tape's own workspace.
template <class C>
void BM_TapeCall(benchmark::State& state) {
  Recorded<C> const& r = recorded<C>();
  ct::Tape tape(r.inputNames, r.outputs);
  timeFlatCall<C>(state, [&](double const* in, double* out) { tape(in, out); });
  state.counters["steps"] = static_cast<double>(tape.stepCount());
}

// A batch of 256 instances (the recorded inputs in each) in one call, on
// range(0) threads. per_op is per operation of one instance; x_single is the
// wall time per instance over that of a single call (the best of 20 runs of
// 50 calls).
template <class C>
void BM_TapeBatch(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  Recorded<C> const& r = recorded<C>();
  ct::Tape tape(r.inputNames, r.outputs);
  std::size_t const count = 256;
  std::vector<double> in(r.inputValues.size() * count), out(C::outputCount * count);
  for (std::size_t i = 0; i < r.inputValues.size(); ++i)
    std::fill_n(in.begin() + i * count, count, r.inputValues[i]);
  std::vector<double> one(C::outputCount);
  double single = 1e300;
  for (int run = 0; run < 20; ++run) {
    auto start = Clock::now();
    for (int call = 0; call < 50; ++call) tape(r.inputValues.data(), one.data());
    single = std::min(single, std::chrono::duration<double>(Clock::now() - start).count() / 50);
  }
  auto threads = static_cast<unsigned>(state.range(0));
  tape(in.data(), out.data(), count, threads);
  for (std::size_t j = 0; j < C::outputCount; ++j)
    if (std::memcmp(&out[j * count + count - 1], &r.numeric[j], sizeof(double)) != 0)
      return state.SkipWithError("results differ from Numeric");
  auto start = Clock::now();
  for (auto _ : state) {
    tape(in.data(), out.data(), count, threads);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  double batch = std::chrono::duration<double>(Clock::now() - start).count();
  state.counters["x_single"] = batch / static_cast<double>(state.iterations() * count) / single;
  perOperation(state, r.size.operations * count);
}

// Building a tape (merging, ordering, registers) and its first call.
template <class C>
void BM_TapeBuild(benchmark::State& state) {
  Recorded<C> const& r = recorded<C>();
  std::vector<double> out(C::outputCount);
  for (auto _ : state) {
    ct::Tape tape(r.inputNames, r.outputs);
    tape(r.inputValues.data(), out.data());
    benchmark::DoNotOptimize(out.data());
  }
  perOperation(state, r.size.operations);
}

template <class C>
void BM_Memory(benchmark::State& state) {
  std::vector<std::string> const names = C::inputNames();
  std::vector<double> const values = C::inputValues();
  HeapWatch::Growth recording{}, evaluation{}, generation{}, tapeHeld{};
  GraphSize size;
  double first = 0.0;
  for (auto _ : state) {
    HeapWatch recordWatch;
    std::vector<vm::TracedDouble> inputs = tracedInputs(names);
    std::vector<vm::TracedDouble> outputs = record<C>(inputs);
    recording = recordWatch.stop();
    HeapWatch evaluateWatch;
    {
      vm::BindingSet bindings;
      for (std::size_t i = 0; i < names.size(); ++i) bindings.bind(names[i], values[i]);
      first = outputs[0].evaluate(bindings);
      for (std::size_t k = 1; k < outputs.size(); ++k) outputs[k].evaluate(bindings);
    }
    evaluation = evaluateWatch.stop();
    HeapWatch generateWatch;
    {
      std::string text = vm::generateCFunction("f", names, outputs);
      benchmark::DoNotOptimize(text.data());
      generation = generateWatch.stop();
      generation.live = static_cast<long long>(text.size());
    }
    HeapWatch tapeWatch;
    {
      ct::Tape tape(names, outputs);
      tapeHeld = tapeWatch.stop();
    }
    size = graphSize(outputs);
  }
  benchmark::DoNotOptimize(first);
  if (size.operations != C::operations) {
    state.SkipWithError("recorded graph does not hold the operations counted by construction");
    return;
  }
  auto perOp = [&](long long bytes) { return static_cast<double>(bytes) / size.operations; };
  state.counters["ops"] = static_cast<double>(size.operations);
  state.counters["record_B_per_op"] = perOp(recording.live);
  state.counters["record_malloc_B_per_op"] = perOp(recording.inUse);
  state.counters["eval_peak_B_per_op"] = perOp(evaluation.peak);
  state.counters["generate_peak_B_per_op"] = perOp(generation.peak);
  state.counters["text_B_per_op"] = perOp(generation.live);
  // Each phase starts with the graph alone live and ends without its scratch.
  state.counters["peak_B_per_op"] =
      perOp(recording.live + std::max({evaluation.peak, generation.peak, tapeHeld.peak}));
  state.counters["tape_B_per_op"] = perOp(tapeHeld.live);
  state.counters["tape_build_peak_B_per_op"] = perOp(tapeHeld.peak);
}

// The run in the fresh process: prints seconds per operation of recording
// and of building, or fails when the tape's results are not Numeric's.
template <class C>
int firstBuild() {
  using Clock = std::chrono::steady_clock;
  std::vector<std::string> const names = C::inputNames();
  std::vector<double> const values = C::inputValues();
  std::vector<vm::TracedDouble> inputs = tracedInputs(names);
  auto start = Clock::now();
  std::vector<vm::TracedDouble> outputs = record<C>(inputs);
  auto recordedAt = Clock::now();
  ct::Tape tape(names, outputs);
  std::vector<double> out(C::outputCount), numeric(C::outputCount);
  tape(values.data(), out.data());
  auto builtAt = Clock::now();
  C::template compute<vm::Numeric>(values.data(), numeric.data());
  if (!sameBits(out, numeric)) return 1;
  auto perOp = [](Clock::duration d) {
    return std::chrono::duration<double>(d).count() / static_cast<double>(C::operations);
  };
  std::printf("%.9g %.9g\n", perOp(recordedAt - start), perOp(builtAt - recordedAt));
  return 0;
}

/// A field of /proc/self/status in bytes (VmRSS: resident now, VmHWM: the
/// peak resident so far); -1 when there is none.
long long statusBytes(char const* field) {
  FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return -1;
  char line[256];
  long long kib = -1;
  std::size_t const n = std::strlen(field);
  while (kib < 0 && std::fgets(line, sizeof line, status))
    if (std::strncmp(line, field, n) == 0 && line[n] == ':') kib = std::atoll(line + n + 1);
  std::fclose(status);
  return kib < 0 ? -1 : kib * 1024;
}

// The other run in a fresh process: records, evaluates against a fresh set,
// generates C (text dropped) and builds a tape (kept); prints the peak of
// the resident memory above where it was before recording, per operation:
// what the system gives the program, malloc's overhead and every
// allocator included.
template <class C>
int freshMemory() {
  std::vector<std::string> const names = C::inputNames();
  std::vector<double> const values = C::inputValues();
  long long const before = statusBytes("VmRSS");
  std::vector<vm::TracedDouble> outputs = record<C>(tracedInputs(names));
  {
    vm::BindingSet bindings;
    for (std::size_t i = 0; i < names.size(); ++i) bindings.bind(names[i], values[i]);
    for (auto const& output : outputs) benchmark::DoNotOptimize(output.evaluate(bindings));
  }
  benchmark::DoNotOptimize(vm::generateCFunction("f", names, outputs).size());
  ct::Tape tape(names, outputs);
  long long const peak = statusBytes("VmHWM");
  if (before < 0 || peak < 0) return 1;
  std::printf("%.9g\n", static_cast<double>(peak - before) / static_cast<double>(C::operations));
  return 0;
}

/// This program's path, for running it again in a fresh process; empty
/// when it cannot be found.
std::string selfPath() {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  return length <= 0 ? std::string() : std::string(self, static_cast<std::size_t>(length));
}

template <class C>
void BM_FreshMemory(benchmark::State& state, char const* name) {
  std::string const self = selfPath();
  if (self.empty()) return state.SkipWithError("cannot find this program");
  std::string const command = self + " --fresh-memory=" + name;
  double perOp = 0.0;
  for (auto _ : state) {
    FILE* child = popen(command.c_str(), "r");
    bool ok = child && std::fscanf(child, "%lf", &perOp) == 1;
    if (child) ok = pclose(child) == 0 && ok;
    if (!ok) return state.SkipWithError("the fresh process failed");
  }
  state.counters["peak_rss_B_per_op"] = perOp;
}

template <class C>
void BM_FirstBuild(benchmark::State& state, char const* name) {
  std::string const self = selfPath();
  if (self.empty()) return state.SkipWithError("cannot find this program");
  std::string const command = self + " --first-build=" + name;
  double recordTime = 1e300, buildTime = 1e300;
  for (auto _ : state) {
    FILE* child = popen(command.c_str(), "r");
    double r = 0.0, b = 0.0;
    bool ok = child && std::fscanf(child, "%lf %lf", &r, &b) == 2;
    if (child) ok = pclose(child) == 0 && ok;
    if (!ok) return state.SkipWithError("the first build in a fresh process failed or differs");
    recordTime = std::min(recordTime, r);
    buildTime = std::min(buildTime, b);
  }
  state.counters["record_per_op"] = recordTime;
  state.counters["build_per_op"] = buildTime;
  state.counters["x_record"] = buildTime / recordTime;
}

}  // namespace

#define VELA_TRACE_BENCHMARKS(C)                                            \
  BENCHMARK_TEMPLATE(BM_Numeric, C);                                        \
  BENCHMARK_TEMPLATE(BM_Record, C)->Unit(benchmark::kMicrosecond);          \
  BENCHMARK_TEMPLATE(BM_RecordNoDestroy, C)->Unit(benchmark::kMicrosecond); \
  BENCHMARK_TEMPLATE(BM_EvaluateFresh, C)->Unit(benchmark::kMicrosecond);   \
  BENCHMARK_TEMPLATE(BM_EvaluateRebind, C)->Unit(benchmark::kMicrosecond);  \
  BENCHMARK_TEMPLATE(BM_TapeBuild, C)->Unit(benchmark::kMicrosecond);       \
  BENCHMARK_TEMPLATE(BM_TapeCall, C);                                       \
  BENCHMARK_TEMPLATE(BM_GenerateC, C)->Unit(benchmark::kMillisecond);       \
  BENCHMARK_TEMPLATE(BM_CompiledCall, C)

VELA_TRACE_BENCHMARKS(Chain);
VELA_TRACE_BENCHMARKS(Multibody);
BENCHMARK_TEMPLATE(BM_Numeric, ShortChain);
BENCHMARK_TEMPLATE(BM_RecordNoDestroy, ShortChain)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_EvaluateFresh, ShortChain)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_TapeCall, ShortChain);
BENCHMARK_TEMPLATE(BM_CompiledCall, Multibody, true);
BENCHMARK_TEMPLATE(BM_TapeBatch, Multibody)->Arg(1)->Arg(2)->UseRealTime();
BENCHMARK_TEMPLATE(BM_Memory, Chain)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Memory, LongChain)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Memory, Multibody)->Iterations(1)->Unit(benchmark::kMillisecond);
// The runs in a fresh process, by the argument that asks for them.
struct FreshRun {
  char const* argument;
  int (*run)();
};
FreshRun const kFreshRuns[] = {{"--first-build=Chain", firstBuild<Chain>},
                               {"--first-build=Multibody", firstBuild<Multibody>},
                               {"--fresh-memory=LongChain", freshMemory<LongChain>},
                               {"--fresh-memory=Multibody", freshMemory<Multibody>}};

int main(int argc, char** argv) {
  for (FreshRun const& fresh : kFreshRuns)
    if (argc == 2 && std::strcmp(argv[1], fresh.argument) == 0) return fresh.run();
  benchmark::RegisterBenchmark("BM_FirstBuild<Chain>", BM_FirstBuild<Chain>, "Chain")
      ->Iterations(5);
  benchmark::RegisterBenchmark("BM_FirstBuild<Multibody>", BM_FirstBuild<Multibody>, "Multibody")
      ->Iterations(5);
  benchmark::RegisterBenchmark("BM_FreshMemory<LongChain>", BM_FreshMemory<LongChain>, "LongChain")
      ->Iterations(1);
  benchmark::RegisterBenchmark("BM_FreshMemory<Multibody>", BM_FreshMemory<Multibody>, "Multibody")
      ->Iterations(1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
