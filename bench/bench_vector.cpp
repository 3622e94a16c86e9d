// Vector kernels in both modes, and the cost per node of the trace library:
// recording, evaluation against bindings and generation of C.

#include <benchmark/benchmark.h>

#include <Eigen/Core>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "vela/math.hpp"

namespace {

namespace ct = kelm_math::comp_trace;
using vela::math::BindingSet;
using TracedDouble = vela::math::TracedValue<double>;

// Both sides of each Vela/Eigen pair add the very same arrays.
struct VectorData {
  explicit VectorData(unsigned n) : a(n), b(n), out(n) {
    for (unsigned i = 0; i < n; ++i) {
      a[i] = 0.5 + 0.25 * i;
      b[i] = 1.0 / (1.0 + i);
    }
  }
  std::vector<double> a, b, out;
};

void BM_VectorAdd_Vela(benchmark::State& state) {
  auto const n = static_cast<unsigned>(state.range(0));
  VectorData d(n);
  for (auto _ : state) {
    benchmark::DoNotOptimize(d.a.data());
    benchmark::DoNotOptimize(d.b.data());
    benchmark::DoNotOptimize(d.out.data());
    vela::math::vectorAdd(n, d.a.data(), d.b.data(), d.out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_VectorAdd_Vela)->Arg(3)->Arg(6)->Arg(30)->Arg(1000);

void BM_VectorAdd_Eigen(benchmark::State& state) {
  auto const n = static_cast<Eigen::Index>(state.range(0));
  VectorData d(static_cast<unsigned>(n));
  for (auto _ : state) {
    benchmark::DoNotOptimize(d.a.data());
    benchmark::DoNotOptimize(d.b.data());
    benchmark::DoNotOptimize(d.out.data());
    Eigen::Map<const Eigen::VectorXd> a(d.a.data(), n), b(d.b.data(), n);
    Eigen::Map<Eigen::VectorXd> out(d.out.data(), n);
    out = a + b;
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_VectorAdd_Eigen)->Arg(3)->Arg(6)->Arg(30)->Arg(1000);

// Records one VectorCombine node (and its element reads); releasing it at
// the end of the iteration is part of the cost.
void BM_TracedVectorAdd_Record(benchmark::State& state) {
  constexpr unsigned n = 3;
  TracedDouble a[n], b[n];
  for (unsigned i = 0; i < n; ++i) {
    a[i] = TracedDouble::input("a" + std::to_string(i));
    b[i] = TracedDouble::input("b" + std::to_string(i));
  }
  for (auto _ : state) {
    TracedDouble out[n];
    vela::math::vectorAdd(n, a, b, out);
    benchmark::DoNotOptimize(out);
  }
  double check = 0.0;
  TracedDouble out[n];
  vela::math::vectorAdd(n, a, b, out);
  if (out[0].getConstant(check)) state.SkipWithError("vectorAdd of inputs folded to a constant");
}
BENCHMARK(BM_TracedVectorAdd_Record);

// A scalar graph of distinct nodes. Every node reads its predecessor, so
// depths differ and no two nodes are structurally equal: neither the
// evaluation memo nor code generation can share work between them. The mix
// of operations keeps values bounded and normal (no overflow, NaN or
// subnormal slowing the arithmetic down). The same template run on doubles
// gives the reference value.
constexpr int kGraphNodes = 10000;
constexpr int kGraphInputs = 4;
constexpr double kInputValues[kGraphInputs] = {1.25, 0.75, -0.5, 2.0};

// Operation k of the graph; p is the latest value, q an older one.
template <class S>
S graphStep(int k, S const& p, S const& q) {
  switch (k % 8) {
    case 0: return p + q;
    case 1: return p * q;
    case 2: return ct::abs(p);
    case 3: return ct::sqrt(p);
    case 4: return p - q;
    case 5: return ct::guardedDivide(p, q);
    case 6: return ct::min(p, q);
    default: return ct::max(p, q);
  }
}

template <class S>
S buildGraph(std::vector<S> values) {
  values.reserve(values.size() + kGraphNodes);
  for (int k = 0; k < kGraphNodes; ++k)
    values.push_back(graphStep(k, values[values.size() - 1], values[values.size() - 4]));
  return values.back();
}

std::vector<std::string> graphInputNames() {
  std::vector<std::string> names;
  for (int i = 0; i < kGraphInputs; ++i) names.push_back("x" + std::to_string(i));
  return names;
}

TracedDouble buildTracedGraph() {
  std::vector<TracedDouble> inputs;
  for (auto const& name : graphInputNames()) inputs.push_back(TracedDouble::input(name));
  return buildGraph(inputs);
}

void bindGraphInputs(BindingSet& bindings) {
  auto const names = graphInputNames();
  for (int i = 0; i < kGraphInputs; ++i) bindings.bind(names[i], kInputValues[i]);
}

// Distinct non-leaf nodes reachable from root.
int countOperations(ct::OperationPtr const& root) {
  std::unordered_set<ct::Operation const*> seen{root.get()};
  std::vector<ct::Operation const*> stack{root.get()};
  int count = 0;
  while (!stack.empty()) {
    ct::Operation const* op = stack.back();
    stack.pop_back();
    if (op->inputCount() > 0) ++count;
    for (auto const& in : op->inputs())
      if (seen.insert(in.get()).second) stack.push_back(in.get());
  }
  return count;
}

// Reports items/s as nodes per second and time_per_node as seconds per node.
void reportPerNode(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * kGraphNodes);
  state.counters["time_per_node"] = benchmark::Counter(
      kGraphNodes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Skips the benchmark unless the graph has the intended size and evaluates
// to the Numeric reference bit for bit.
bool checkGraph(benchmark::State& state, TracedDouble const& root) {
  if (countOperations(root.operation()) != kGraphNodes) {
    state.SkipWithError("graph does not have the intended number of distinct nodes");
    return false;
  }
  double const expected =
      buildGraph(std::vector<double>(kInputValues, kInputValues + kGraphInputs));
  BindingSet bindings;
  bindGraphInputs(bindings);
  double const actual = root.evaluate(bindings);
  if (std::memcmp(&expected, &actual, sizeof expected) != 0) {
    state.SkipWithError("evaluation differs from the Numeric reference");
    return false;
  }
  return true;
}

void BM_ScalarGraph_Record(benchmark::State& state) {
  for (auto _ : state) {
    TracedDouble root = buildTracedGraph();
    benchmark::DoNotOptimize(root);
  }
  reportPerNode(state);
}
BENCHMARK(BM_ScalarGraph_Record)->Unit(benchmark::kMicrosecond);

void BM_ScalarGraph_Evaluate(benchmark::State& state) {
  TracedDouble const root = buildTracedGraph();
  if (!checkGraph(state, root)) return;
  BindingSet bindings;
  for (auto _ : state) {
    // Rebinding runs every node again (from the second time on, the kept plan).
    bindGraphInputs(bindings);
    benchmark::DoNotOptimize(root.evaluate(bindings));
  }
  reportPerNode(state);
}
BENCHMARK(BM_ScalarGraph_Evaluate)->Unit(benchmark::kMicrosecond);

void BM_ScalarGraph_GenerateC(benchmark::State& state) {
  TracedDouble const root = buildTracedGraph();
  if (!checkGraph(state, root)) return;
  auto const names = graphInputNames();
  std::vector<TracedDouble> const outputs{root};
  std::size_t length = 0;
  for (auto _ : state) {
    std::string source = ct::generateCFunction("graph", names, outputs);
    length = source.size();
    benchmark::DoNotOptimize(source);
  }
  state.counters["source_bytes"] = static_cast<double>(length);
  reportPerNode(state);
}
BENCHMARK(BM_ScalarGraph_GenerateC)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
