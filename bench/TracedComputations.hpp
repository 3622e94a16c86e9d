#pragma once

// The computations that the trace and derivative benchmarks record, written
// once over the mode, and what they share to record and measure them.

#include <array>
#include <cmath>
#include <cstddef>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "vela/math.hpp"

namespace trace_bench {

namespace vm = vela::math;
namespace ct = kelm_math::comp_trace;
template <class Mode>
using S = vm::Scalar<Mode>;

// Each gives its input names and values, its output count, the operations
// it performs as written, and compute<Mode>(in, out).

template <int Steps>
struct ChainOf {
  static std::vector<std::string> inputNames() { return {"x", "y0"}; }
  static std::vector<double> inputValues() { return {0.5, 1.0}; }
  static constexpr std::size_t outputCount = 1;
  static constexpr std::size_t operations = 2 * std::size_t(Steps);

  template <class Mode>
  static void compute(S<Mode> const* in, S<Mode>* out) {
    S<Mode> const& x = in[0];
    S<Mode> y = in[1];
    for (int k = 0; k < Steps; ++k) y = 0.999999 * y + x;
    out[0] = y;
  }
};
using Chain = ChainOf<20000>;
using LongChain = ChainOf<500000>;
// Small enough that its graph stays in the L2 cache.
using ShortChain = ChainOf<500>;

// The multibody computation at any size: Bodies quaternions, and Spatial
// spatial matrices taking three rotations each.
template <int Bodies, int Spatial>
struct MultibodyOf {
  static_assert(4 * Spatial <= Bodies, "each spatial matrix takes three rotations of its own");
  static constexpr int kBodies = Bodies;
  static constexpr int kSpatial = Spatial;

  static std::vector<std::string> inputNames() {
    std::vector<std::string> names;
    for (int k = 0; k < kBodies; ++k)
      for (char c : {'w', 'x', 'y', 'z'}) names.push_back("q" + std::to_string(k) + "_" + c);
    return names;
  }
  static std::vector<double> inputValues() {
    std::mt19937 gen(3);
    std::normal_distribution<double> normal;
    std::vector<double> values;
    for (int k = 0; k < kBodies; ++k) {
      double q[4] = {normal(gen), normal(gen), normal(gen), normal(gen)};
      double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
      for (double c : q) values.push_back(c / n);
    }
    return values;
  }
  static constexpr std::size_t outputCount = 9 + 4 + 6;
  // Quaternion to matrix 24, 3-by-3 product 45, quaternion product 28,
  // symmetric 6-by-6 times a vector 66.
  static constexpr std::size_t operations =
      kBodies * 24 + (kBodies - 1) * (45 + 28) + kSpatial * 66;

  template <class Mode>
  static void compute(S<Mode> const* in, S<Mode>* out) {
    using Quat = vm::Quaternion_T<Mode>;
    using Mat3 = vm::Matrix3x3_T<Mode>;
    std::array<Mat3, kBodies> rotation;
    Quat q(in);
    for (int k = 0; k < kBodies; ++k) rotation[k] = Mat3(Quat(in + 4 * k));
    Mat3 chained = rotation[0];
    for (int k = 1; k < kBodies; ++k) {
      chained = chained.compose(rotation[k]);
      q = q.compose(Quat(in + 4 * k));
    }
    // Vector parts of the first two quaternions as the starting velocity.
    S<Mode> v0[6] = {in[1], in[2], in[3], in[5], in[6], in[7]};
    vm::SpatialVector_T<Mode> v(v0);
    for (int j = 0; j < kSpatial; ++j)
      v = vm::SymmetricSpatialMatrix_T<Mode>(rotation[4 * j], rotation[4 * j + 1],
                                             rotation[4 * j + 2]) *
          v;
    for (int k = 0; k < 9; ++k) out[k] = chained.values()[k];
    for (int k = 0; k < 4; ++k) out[9 + k] = q.values()[k];
    for (int k = 0; k < 6; ++k) out[13 + k] = v.values()[k];
  }
};
using Multibody = MultibodyOf<200, 50>;

// N equations of a chain of masses joined by exponential springs, each
// touching its neighbours only: a tridiagonal Jacobian.
template <int N>
struct TridiagonalOf {
  static std::vector<std::string> inputNames() {
    std::vector<std::string> names;
    for (int k = 0; k < N; ++k) names.push_back("x" + std::to_string(k));
    return names;
  }
  static std::vector<double> inputValues() {
    std::vector<double> values;
    for (int k = 0; k < N; ++k) values.push_back(0.1 * std::cos(double(k)));
    return values;
  }
  static constexpr std::size_t outputCount = N;
  // Per spring a difference and exp; per mass sin, a product, a sum and a
  // difference, but a negation at one end and nothing at the other.
  static constexpr std::size_t operations = 2 * (N - 1) + 3 * N + (N - 1);

  template <class Mode>
  static void compute(S<Mode> const* in, S<Mode>* out) {
    std::vector<S<Mode>> spring(N - 1);
    for (int k = 0; k + 1 < N; ++k) spring[k] = vm::exp(in[k] - in[k + 1]);
    for (int k = 0; k < N; ++k) {
      S<Mode> force = k == 0 ? -spring[0] : k + 1 == N ? spring[k - 1] : spring[k - 1] - spring[k];
      out[k] = force + 0.1 * vm::sin(in[k]);
    }
  }
};
using Tridiagonal = TridiagonalOf<200>;

// c . x for x = A^{-1} b, A symmetric positive definite (N by N, its lower
// triangle read), by the Cholesky factor and solve: a scalar whose
// gradient goes through both.
template <int N>
struct SymmetricSolveOf {
  static std::vector<std::string> inputNames() {
    std::vector<std::string> names;
    for (int k = 0; k < N * N; ++k) names.push_back("a" + std::to_string(k));
    for (int k = 0; k < N; ++k) names.push_back("b" + std::to_string(k));
    return names;
  }
  static std::vector<double> inputValues() {
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> values(N * N + N);
    for (auto& v : values) v = u(gen);
    for (int k = 0; k < N; ++k) values[k + N * k] += N;  // diagonally dominant
    return values;
  }
  static constexpr std::size_t outputCount = 1;
  // The factor, the solve and the dot product, as whole kernels, and the
  // collects of their five array inputs.
  static constexpr std::size_t operations = 8;

  template <class Mode>
  static void compute(S<Mode> const* in, S<Mode>* out) {
    std::vector<S<Mode>> A(in, in + N * N), x(N), c(N), work(N);
    for (int k = 0; k < N; ++k) c[k] = 1.0 / (1.0 + k);
    vm::factorSymmetricPosDef(A.data(), N, work.data());
    vm::solveSymmetricPosDef(A.data(), in + N * N, N, 1, x.data(), work.data());
    out[0] = vm::dotProduct(N, c.data(), x.data());
  }
};
using SymmetricSolve = SymmetricSolveOf<30>;

/// The sum of the squares of the entries of A B for N by N matrices A and B
/// (the inputs, A first, column-major): a product and a dot product as
/// whole kernels.
template <int N>
struct MatrixProductOf {
  static std::vector<std::string> inputNames() {
    std::vector<std::string> names;
    for (char m : {'a', 'b'})
      for (int k = 0; k < N * N; ++k) names.push_back(m + std::to_string(k));
    return names;
  }
  static std::vector<double> inputValues() {
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> values(2 * N * N);
    for (auto& v : values) v = u(gen);
    return values;
  }
  static constexpr std::size_t outputCount = 1;
  // The product and the dot product as whole kernels, and the collects of
  // their four array inputs.
  static constexpr std::size_t operations = 6;

  template <class Mode>
  static void compute(S<Mode> const* in, S<Mode>* out) {
    std::vector<S<Mode>> C(N * N);
    vm::matrixMultiply(N, N, N, in, in + N * N, C.data());
    out[0] = vm::dotProduct(N * N, C.data(), C.data());
  }
};
using MatrixProduct = MatrixProductOf<20>;

/// Distinct nodes reachable from the outputs: those that compute, and the
/// inputs and constants.
struct GraphSize {
  std::size_t operations = 0, leaves = 0;
};

inline GraphSize graphSize(std::vector<vm::TracedDouble> const& outputs) {
  GraphSize size;
  std::unordered_set<ct::Operation const*> seen;
  std::vector<ct::OperationPtr> stack;
  for (auto const& out : outputs)
    if (!out.isConstant() && seen.insert(out.operation().get()).second)
      stack.push_back(out.operation());
  while (!stack.empty()) {
    ct::OperationPtr op = std::move(stack.back());
    stack.pop_back();
    bool leaf = op->isScalar() && static_cast<ct::ScalarOperation const&>(*op).isAlwaysSimple();
    ++(leaf ? size.leaves : size.operations);
    for (auto const& in : op->inputs())
      if (seen.insert(in.get()).second) stack.push_back(in);
  }
  return size;
}

inline std::vector<vm::TracedDouble> tracedInputs(std::vector<std::string> const& names) {
  std::vector<vm::TracedDouble> inputs;
  for (auto const& name : names) inputs.push_back(vm::TracedDouble::input(name));
  return inputs;
}

template <class C>
std::vector<vm::TracedDouble> record(std::vector<vm::TracedDouble> const& inputs) {
  std::vector<vm::TracedDouble> outputs(C::outputCount);
  C::template compute<vm::Traced>(inputs.data(), outputs.data());
  return outputs;
}

}  // namespace trace_bench
