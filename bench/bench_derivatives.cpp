// Derivatives of traced computations, each timed against its yardstick in
// the same benchmark: the two run in alternating rounds and the fastest
// round of each gives the ratio (the x_* counters), so that a loaded
// machine slows both alike.
//
// Scalar functions: the chain of bench_trace (40,000 operations, two
// inputs; linear, so its gradient folds to constants), a chain as long whose
// steps multiply two variables (y = x y + 0.5), and the multibody
// computation of bench_trace (800 inputs) reduced to a weighted sum of the
// squares of its 19 outputs. Whole kernels: the sum of the squares of the
// entries of A B for 20 by 20 matrices (a product and a dot product, 800
// inputs), and c . A^{-1} b for a 30 by 30 symmetric positive definite A
// through the Cholesky factor and solve (930 inputs). Their gradients have
// hundreds of entries where the recordings have a few nodes.
//
// - FunctionTape: the function's Tape call, the yardstick of the next two.
// - GradientTape: a Tape of gradient(f, x); x_function against the
//   function's Tape call (the cheap-gradient bound of reverse mode is 4),
//   steps_ratio its steps over the function's, new_per_op the derivative
//   nodes the gradient holds beside the function's, per operation.
// - CentralDifferences: the gradient from 2n calls of the function's Tape;
//   x_gradient against the gradient's Tape call.
// - Record: recording f and releasing it, the yardstick of the next.
// - Gradient: gradient(f, x) (building the derivative graph) and releasing
//   it; x_record against recording (goal: 3), new_per_op as above.
// - JacobianCompile: the generated C of the multibody's 19-by-4B Jacobian
//   for B = 8, 16 and 32 bodies (N, 2N, 4N operations), compiled with cc -O2
//   as bench_trace does. jac_s_* are the compiler's CPU seconds (the better
//   of two compiles) less those of a one-operation function (fixed_s),
//   jac_ops_* the operations the C computes; *_ratio are the 2N and 4N
//   values over the N value. The yardstick is the C of the functions
//   themselves: fn_s_*, fn_ops_*.
//
// A sparse Jacobian: the n = 200 equations of a chain of masses, each
// coupled to its neighbours (tridiagonal: three colors).
//
// - SparseJacobianTape: the tape of the compressed Jacobian; x_function
//   against the function's tape, sweeps the colors, nonzeros its entries.
//   dense_x_function: the tape of the same entries from one forward sweep
//   per input (zeros fold, so it is no larger); matrix_x_function: the
//   tape of jacobian's dense n x n result.
// - SparseJacobian: building sparseJacobian; x_dense_forward against one
//   forward sweep per input (n jvp), the cost coloring saves.
//
// The tapes' results are checked before timing: the function's against
// Numeric bit for bit, the gradient's against evaluation bit for bit and
// against a forward tangent (jvp) along one direction; the compiled
// Jacobian against its Tape bit for bit; the compressed Jacobian's tape
// against evaluation and against the forward sweeps' bit for bit.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "CompiledC.hpp"
#include "TracedComputations.hpp"
#include "kelm_math/comp_trace/Derivatives.hpp"
#include "vela/math.hpp"

namespace {

using namespace trace_bench;  // NOLINT(google-build-using-namespace)

/// y = x y + 0.5, 20,000 times: 40,000 operations whose gradient is a graph.
struct ProductChain {
  static std::vector<std::string> inputNames() { return {"x", "y0"}; }
  static std::vector<double> inputValues() { return {0.9999, 1.0}; }
  static constexpr std::size_t outputCount = 1;
  static constexpr std::size_t operations = 40000;

  template <class Mode>
  static void compute(S<Mode> const* in, S<Mode>* out) {
    S<Mode> y = in[1];
    for (std::size_t k = 0; k < operations / 2; ++k) y = in[0] * y + 0.5;
    out[0] = y;
  }
};

/// C's outputs y reduced to the scalar sum over k of (1 + k/8) y[k]^2.
template <class C>
struct SumOfSquares {
  static std::vector<std::string> inputNames() { return C::inputNames(); }
  static std::vector<double> inputValues() { return C::inputValues(); }
  static constexpr std::size_t outputCount = 1;
  static constexpr std::size_t operations = C::operations + 3 * C::outputCount - 2;

  template <class Mode>
  static void compute(S<Mode> const* in, S<Mode>* out) {
    std::array<S<Mode>, C::outputCount> y;
    C::template compute<Mode>(in, y.data());
    S<Mode> f = y[0] * y[0];
    for (std::size_t k = 1; k < y.size(); ++k) f = f + (1.0 + 0.125 * double(k)) * (y[k] * y[k]);
    out[0] = f;
  }
};
using MultibodySum = SumOfSquares<Multibody>;

// ---- Timing against a yardstick ----

using Clock = std::chrono::steady_clock;

template <class Fn>
double secondsFor(Fn& fn, std::size_t calls) {
  auto start = Clock::now();
  for (std::size_t k = 0; k < calls; ++k) fn();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

template <class Fn>
std::size_t callsPerRound(Fn& fn) {
  std::size_t calls = 1;
  while (secondsFor(fn, calls) < 2e-3) calls *= 2;
  return calls;
}

/// The fastest seconds per call of a over those of b, from alternating
/// rounds of a few milliseconds each. Each round starts with an untimed
/// call, so that every timed call follows one of its own kind: how fast a
/// call allocates depends on what the call before it left in the heap.
template <class A, class B>
double fastestRatio(A&& a, B&& b, int rounds = 9) {
  std::size_t na = callsPerRound(a), nb = callsPerRound(b);
  double best[2] = {std::numeric_limits<double>::infinity(),
                    std::numeric_limits<double>::infinity()};
  for (int r = 0; r < rounds; ++r) {
    a();
    best[0] = std::min(best[0], secondsFor(a, na) / double(na));
    b();
    best[1] = std::min(best[1], secondsFor(b, nb) / double(nb));
  }
  return best[0] / best[1];
}

void perOperation(benchmark::State& state, std::size_t operations) {
  state.counters["ops"] = static_cast<double>(operations);
  state.counters["per_op"] = benchmark::Counter(
      static_cast<double>(operations),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

bool sameBits(std::vector<double> const& a, std::vector<double> const& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// ---- A scalar function, its gradient and their tapes ----

template <class F>
struct Differentiated {
  std::vector<std::string> names = F::inputNames();
  std::vector<double> values = F::inputValues();
  std::vector<vm::TracedDouble> inputs = tracedInputs(names);
  vm::TracedDouble f = record<F>(inputs)[0];
  std::vector<vm::TracedDouble> grad = ct::gradient(f, inputs);
  ct::Tape function{names, {f}};
  ct::Tape gradientTape{names, grad};
  std::size_t operations = graphSize({f}).operations;
  /// Nodes of the gradient that the function does not have, per operation.
  double newPerOperation = [this] {
    std::vector<vm::TracedDouble> both = grad;
    both.push_back(f);
    return double(graphSize(both).operations - operations) / double(operations);
  }();
  std::string error = check_();

  /// The gradient by central differences on the function's tape.
  void centralDifferences(std::vector<double>& x, double* g) const {
    double plus = 0.0, minus = 0.0;
    for (std::size_t j = 0; j < x.size(); ++j) {
      double const xj = x[j], h = 6e-6 * std::max(1.0, std::fabs(xj));
      x[j] = xj + h;
      function(x.data(), &plus);
      x[j] = xj - h;
      function(x.data(), &minus);
      x[j] = xj;
      g[j] = (plus - minus) / (2 * h);
    }
  }

 private:
  std::string check_() {
    if (operations != F::operations) return "recorded graph does not hold the operations counted";
    double numeric = 0.0, taped = 0.0;
    F::template compute<vm::Numeric>(values.data(), &numeric);
    function(values.data(), &taped);
    if (std::memcmp(&numeric, &taped, sizeof numeric) != 0) return "function tape differs";
    vm::BindingSet bindings;
    for (std::size_t i = 0; i < names.size(); ++i) bindings.bind(names[i], values[i]);
    std::vector<double> evaluated, g(names.size());
    for (auto const& v : grad) evaluated.push_back(v.evaluate(bindings));
    gradientTape(values.data(), g.data());
    if (!sameBits(evaluated, g)) return "gradient tape differs from evaluation";
    // Forward against reverse: the tangent along v against g . v.
    std::vector<vm::TracedDouble> v(names.size());
    double dot = 0.0, size = 0.0;
    for (std::size_t j = 0; j < v.size(); ++j) {
      double vj = std::cos(double(j));
      v[j] = vj;
      dot += g[j] * vj;
      size += std::fabs(g[j] * vj);
    }
    double forward = ct::jvp({f}, inputs, v)[0].evaluate(bindings);
    if (!(std::fabs(forward - dot) <= 1e-12 * double(v.size()) * size))
      return "gradient differs from the forward tangent";
    return "";
  }
};

template <class F>
Differentiated<F> const& differentiated() {
  static Differentiated<F> const d;
  return d;
}

template <class F>
bool ready(benchmark::State& state) {
  if (differentiated<F>().error.empty()) return true;
  state.SkipWithError(differentiated<F>().error.c_str());
  return false;
}

// ---- Benchmarks ----

template <class F>
void BM_FunctionTape(benchmark::State& state) {
  if (!ready<F>(state)) return;
  auto const& d = differentiated<F>();
  double out = 0.0;
  for (auto _ : state) {
    d.function(d.values.data(), &out);
    benchmark::DoNotOptimize(out);
  }
  perOperation(state, d.operations);
  state.counters["steps"] = static_cast<double>(d.function.stepCount());
}

template <class F>
void BM_GradientTape(benchmark::State& state) {
  if (!ready<F>(state)) return;
  auto const& d = differentiated<F>();
  std::vector<double> g(d.names.size());
  double out = 0.0;
  auto gradientCall = [&] {
    d.gradientTape(d.values.data(), g.data());
    benchmark::DoNotOptimize(g.data());
    benchmark::ClobberMemory();
  };
  auto functionCall = [&] {
    d.function(d.values.data(), &out);
    benchmark::DoNotOptimize(out);
  };
  for (auto _ : state) gradientCall();
  perOperation(state, d.operations);
  state.counters["x_function"] = fastestRatio(gradientCall, functionCall);
  state.counters["steps_ratio"] =
      static_cast<double>(d.gradientTape.stepCount()) / double(d.function.stepCount());
  state.counters["new_per_op"] = d.newPerOperation;
}

template <class F>
void BM_CentralDifferences(benchmark::State& state) {
  if (!ready<F>(state)) return;
  auto const& d = differentiated<F>();
  std::vector<double> x = d.values, g(x.size());
  auto differences = [&] {
    d.centralDifferences(x, g.data());
    benchmark::DoNotOptimize(g.data());
  };
  auto gradientCall = [&] {
    d.gradientTape(d.values.data(), g.data());
    benchmark::DoNotOptimize(g.data());
  };
  for (auto _ : state) differences();
  perOperation(state, d.operations);
  state.counters["x_gradient"] = fastestRatio(differences, gradientCall, 3);
}

template <class F>
void BM_Record(benchmark::State& state) {
  if (!ready<F>(state)) return;
  auto const& d = differentiated<F>();
  for (auto _ : state) {
    std::vector<vm::TracedDouble> outputs = record<F>(d.inputs);
    benchmark::DoNotOptimize(outputs.data());
  }
  perOperation(state, d.operations);
}

template <class F>
void BM_Gradient(benchmark::State& state) {
  if (!ready<F>(state)) return;
  auto const& d = differentiated<F>();
  auto build = [&] {
    std::vector<vm::TracedDouble> g = ct::gradient(d.f, d.inputs);
    benchmark::DoNotOptimize(g.data());
  };
  auto recording = [&] {
    std::vector<vm::TracedDouble> outputs = record<F>(d.inputs);
    benchmark::DoNotOptimize(outputs.data());
  };
  for (auto _ : state) build();
  perOperation(state, d.operations);
  state.counters["x_record"] = fastestRatio(build, recording);
  state.counters["new_per_op"] = d.newPerOperation;
}

// ---- A sparse Jacobian ----

/// A system F, its Jacobian compressed by coloring (sparseJacobian), the
/// same entries from one forward sweep per input (jvp of each unit vector:
/// what jacobian did before coloring), and the tapes of the three.
template <class F>
struct SparseDifferentiated {
  std::vector<std::string> names = F::inputNames();
  std::vector<double> values = F::inputValues();
  std::vector<vm::TracedDouble> inputs = tracedInputs(names);
  std::vector<vm::TracedDouble> outputs = record<F>(inputs);
  ct::SparseJacobian sparse = ct::sparseJacobian(outputs, inputs);
  std::vector<vm::TracedDouble> dense = denseForward(outputs, inputs, sparse.pattern);
  ct::Tape function{names, outputs};
  ct::Tape jacobianTape{names, sparse.values};
  ct::Tape denseTape{names, dense};
  ct::Tape matrixTape{names, ct::jacobian(outputs, inputs)};
  std::string error = check_();

  /// The pattern's entries from one forward sweep per input.
  static std::vector<vm::TracedDouble> denseForward(std::vector<vm::TracedDouble> const& outputs,
                                                    std::vector<vm::TracedDouble> const& inputs,
                                                    ct::SparsityPattern const& pattern) {
    std::vector<vm::TracedDouble> unit(inputs.size()), entries(pattern.indices.size());
    for (std::size_t j = 0; j < inputs.size(); ++j) {
      unit[j] = 1.0;
      std::vector<vm::TracedDouble> column = ct::jvp(outputs, inputs, unit);
      unit[j] = 0.0;
      for (std::size_t i = 0; i < pattern.rows; ++i)
        for (std::size_t k = pattern.offsets[i]; k < pattern.offsets[i + 1]; ++k)
          if (pattern.indices[k] == j) entries[k] = column[i];
    }
    return entries;
  }

 private:
  std::string check_() {
    if (graphSize(outputs).operations != F::operations)
      return "recorded graph does not hold the operations counted";
    std::vector<double> numeric(outputs.size()), taped(outputs.size());
    F::template compute<vm::Numeric>(values.data(), numeric.data());
    function(values.data(), taped.data());
    if (!sameBits(numeric, taped)) return "function tape differs";
    std::vector<double> compressed(sparse.values.size()), forward(dense.size());
    jacobianTape(values.data(), compressed.data());
    denseTape(values.data(), forward.data());
    if (!sameBits(compressed, forward)) return "compressed Jacobian differs from the dense one";
    vm::BindingSet bindings;
    for (std::size_t i = 0; i < names.size(); ++i) bindings.bind(names[i], values[i]);
    std::vector<double> evaluated;
    for (auto const& v : sparse.values) evaluated.push_back(v.evaluate(bindings));
    if (!sameBits(evaluated, compressed)) return "Jacobian tape differs from evaluation";
    return "";
  }
};

template <class F>
SparseDifferentiated<F> const& sparseDifferentiated() {
  static SparseDifferentiated<F> const d;
  return d;
}

template <class F>
void BM_SparseJacobianTape(benchmark::State& state) {
  auto const& d = sparseDifferentiated<F>();
  if (!d.error.empty()) return state.SkipWithError(d.error.c_str());
  std::vector<double> J(d.sparse.values.size()), out(d.outputs.size());
  auto jacobianCall = [&] {
    d.jacobianTape(d.values.data(), J.data());
    benchmark::DoNotOptimize(J.data());
    benchmark::ClobberMemory();
  };
  auto denseCall = [&] {
    d.denseTape(d.values.data(), J.data());
    benchmark::DoNotOptimize(J.data());
    benchmark::ClobberMemory();
  };
  auto functionCall = [&] {
    d.function(d.values.data(), out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  };
  for (auto _ : state) jacobianCall();
  perOperation(state, F::operations);
  state.counters["sweeps"] = double(d.sparse.sweeps);
  state.counters["nonzeros"] = double(J.size());
  state.counters["x_function"] = fastestRatio(jacobianCall, functionCall);
  state.counters["dense_x_function"] = fastestRatio(denseCall, functionCall);
  std::vector<double> matrix(d.outputs.size() * d.inputs.size());
  auto matrixCall = [&] {
    d.matrixTape(d.values.data(), matrix.data());
    benchmark::DoNotOptimize(matrix.data());
    benchmark::ClobberMemory();
  };
  state.counters["matrix_x_function"] = fastestRatio(matrixCall, functionCall);
}

template <class F>
void BM_SparseJacobian(benchmark::State& state) {
  auto const& d = sparseDifferentiated<F>();
  if (!d.error.empty()) return state.SkipWithError(d.error.c_str());
  auto build = [&] {
    ct::SparseJacobian J = ct::sparseJacobian(d.outputs, d.inputs);
    benchmark::DoNotOptimize(J.values.data());
  };
  auto dense = [&] {
    auto J = SparseDifferentiated<F>::denseForward(d.outputs, d.inputs, d.sparse.pattern);
    benchmark::DoNotOptimize(J.data());
  };
  for (auto _ : state) build();
  perOperation(state, F::operations);
  state.counters["x_dense_forward"] = fastestRatio(build, dense, 3);
}

// ---- Compile time of a Jacobian's C ----

struct CompileTime {
  double seconds = 0.0;
  std::size_t operations = 0;
};

/// CPU seconds (user and system) of the child processes run so far.
double childSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](timeval t) { return double(t.tv_sec) + 1e-6 * double(t.tv_usec); };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

/// The compiler's CPU time for the C of outputs, the better of two
/// compiles (the machine is shared: wall time says more of the others),
/// after checking that the compiled function gives the Tape's results bit
/// for bit.
CompileTime compileTime(std::vector<std::string> const& names, std::vector<double> const& values,
                        std::vector<vm::TracedDouble> const& outputs) {
  ct::GeneratedCode code = ct::generateCFunctionCode("derivative_bench", names, outputs);
  CompileTime result{std::numeric_limits<double>::infinity(), graphSize(outputs).operations};
  for (int k = 0; k < 2; ++k) {
    double before = childSeconds();
    CompiledC compiled(code, "derivative_bench");
    result.seconds = std::min(result.seconds, childSeconds() - before);
    if (k > 0) continue;
    std::vector<double> fromC(outputs.size()), fromTape(outputs.size());
    compiled(values.data(), fromC.data());
    ct::Tape(names, outputs)(values.data(), fromTape.data());
    if (!sameBits(fromC, fromTape)) throw std::runtime_error("compiled C differs from the tape");
  }
  return result;
}

/// Function and Jacobian compile times of the multibody computation of C.
template <class C>
std::array<CompileTime, 2> multibodyCompileTimes() {
  std::vector<std::string> names = C::inputNames();
  std::vector<double> values = C::inputValues();
  std::vector<vm::TracedDouble> inputs = tracedInputs(names);
  std::vector<vm::TracedDouble> outputs = record<C>(inputs);
  return {compileTime(names, values, outputs),
          compileTime(names, values, ct::jacobian(outputs, inputs))};
}

void BM_JacobianCompile(benchmark::State& state) {
  std::array<std::array<CompileTime, 2>, 3> times;
  CompileTime fixed;
  try {
    for (auto _ : state) {
      vm::TracedDouble x = vm::TracedDouble::input("x");
      fixed = compileTime({"x"}, {0.5}, {x * x});
      times = {multibodyCompileTimes<MultibodyOf<8, 2>>(),
               multibodyCompileTimes<MultibodyOf<16, 4>>(),
               multibodyCompileTimes<MultibodyOf<32, 8>>()};
    }
  } catch (std::exception const& e) {
    state.SkipWithError(e.what());
    return;
  }
  state.counters["fixed_s"] = fixed.seconds;
  char const* const sizes[] = {"N", "2N", "4N"};
  for (int which = 0; which < 2; ++which) {
    std::string prefix = which == 0 ? "fn_" : "jac_";
    auto net = [&](int k) { return times[k][which].seconds - fixed.seconds; };
    for (int k = 0; k < 3; ++k) {
      state.counters[prefix + "ops_" + sizes[k]] = double(times[k][which].operations);
      state.counters[prefix + "s_" + sizes[k]] = net(k);
    }
    for (int k = 1; k < 3; ++k) {
      state.counters[prefix + "ops_ratio_" + sizes[k]] =
          double(times[k][which].operations) / double(times[0][which].operations);
      state.counters[prefix + "s_ratio_" + sizes[k]] = net(k) / net(0);
    }
  }
}

}  // namespace

BENCHMARK_TEMPLATE(BM_FunctionTape, Chain);
BENCHMARK_TEMPLATE(BM_GradientTape, Chain);
BENCHMARK_TEMPLATE(BM_CentralDifferences, Chain);
BENCHMARK_TEMPLATE(BM_Record, Chain)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Gradient, Chain)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_FunctionTape, ProductChain);
BENCHMARK_TEMPLATE(BM_GradientTape, ProductChain);
BENCHMARK_TEMPLATE(BM_CentralDifferences, ProductChain);
BENCHMARK_TEMPLATE(BM_Record, ProductChain)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Gradient, ProductChain)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_FunctionTape, MultibodySum);
BENCHMARK_TEMPLATE(BM_GradientTape, MultibodySum);
BENCHMARK_TEMPLATE(BM_CentralDifferences, MultibodySum)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Record, MultibodySum)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Gradient, MultibodySum)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_FunctionTape, MatrixProduct);
BENCHMARK_TEMPLATE(BM_GradientTape, MatrixProduct);
BENCHMARK_TEMPLATE(BM_Record, MatrixProduct)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Gradient, MatrixProduct)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_FunctionTape, SymmetricSolve);
BENCHMARK_TEMPLATE(BM_GradientTape, SymmetricSolve);
BENCHMARK_TEMPLATE(BM_Record, SymmetricSolve)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Gradient, SymmetricSolve)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_SparseJacobianTape, Tridiagonal);
BENCHMARK_TEMPLATE(BM_SparseJacobian, Tridiagonal)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_JacobianCompile)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
