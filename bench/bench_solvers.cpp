// The robust symmetric solve and the minimum-norm wide solve against
// Eigen's LLT and ColPivHouseholderQR (compute and solve), on the same data
// at the sizes the engine lives on. Both sides start from an intact copy
// of the matrix each iteration: the Numeric kernels work in place.

#include <benchmark/benchmark.h>

#include <Eigen/Cholesky>
#include <Eigen/Core>
#include <Eigen/QR>
#include <cstring>
#include <vector>

#include "vela/math.hpp"

namespace {

using Eigen::Index;
using MapConstMatrix = Eigen::Map<const Eigen::MatrixXd>;
using MapConstVector = Eigen::Map<const Eigen::VectorXd>;
using MapVector = Eigen::Map<Eigen::VectorXd>;

#define SOLVER_SIZES ->Arg(3)->Arg(6)->Arg(12)->Arg(30)

// A well-conditioned symmetric positive definite matrix: the Cholesky route.
std::vector<double> spdMatrix(unsigned n) {
  std::vector<double> a(n * n);
  for (unsigned i = 0; i < n; ++i)
    for (unsigned j = 0; j < n; ++j)
      a[i + n * j] = (i == j ? n + 1.0 : 0.0) + 1.0 / (1.0 + i + j) - 0.1 * ((i * j) % 3);
  return a;
}

std::vector<double> vectorOf(unsigned n) {
  std::vector<double> v(n);
  for (unsigned i = 0; i < n; ++i) v[i] = 0.75 - 0.5 * i / n;
  return v;
}

// Equations for n unknowns: two thirds as many (at least one).
unsigned equationsFor(unsigned n) { return n * 2 / 3 > 0 ? n * 2 / 3 : 1; }

// The m by n system matrix, full rank.
std::vector<double> wideMatrix(unsigned m, unsigned n) {
  std::vector<double> a(m * n);
  for (unsigned i = 0; i < m; ++i)
    for (unsigned j = 0; j < n; ++j)
      a[i + m * j] = (i == j ? 2.0 : 0.0) + 0.5 * ((i + 2 * j) % 5) - 1.0;
  return a;
}

void BM_FactorAndSolveSymmetric_Vela(benchmark::State& state) {
  auto n = static_cast<unsigned>(state.range(0));
  std::vector<double> a = spdMatrix(n), A(n * n), b = vectorOf(n), x(n), tau(n), work(n + n * n);
  std::vector<int> piv(n);
  for (auto _ : state) {
    std::memcpy(A.data(), a.data(), n * n * sizeof(double));
    vela::math::factorAndSolveSymmetric(A.data(), n, tau.data(), piv.data(), b.data(), x.data(),
                                        work.data());
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FactorAndSolveSymmetric_Vela) SOLVER_SIZES;

void BM_FactorAndSolveSymmetric_EigenLLT(benchmark::State& state) {
  auto n = static_cast<Index>(state.range(0));
  std::vector<double> a = spdMatrix(unsigned(n)), b = vectorOf(unsigned(n)), x(n);
  Eigen::LLT<Eigen::MatrixXd> llt(n);
  for (auto _ : state) {
    llt.compute(MapConstMatrix(a.data(), n, n));
    MapVector(x.data(), n) = llt.solve(MapConstVector(b.data(), n));
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FactorAndSolveSymmetric_EigenLLT) SOLVER_SIZES;

// The same job as ours: LLT with its reciprocal condition estimate deciding
// whether the Cholesky solve may be trusted.
void BM_FactorAndSolveSymmetric_EigenLLTRcond(benchmark::State& state) {
  auto n = static_cast<Index>(state.range(0));
  std::vector<double> a = spdMatrix(unsigned(n)), b = vectorOf(unsigned(n)), x(n);
  Eigen::LLT<Eigen::MatrixXd> llt(n);
  for (auto _ : state) {
    llt.compute(MapConstMatrix(a.data(), n, n));
    double rc = llt.rcond();
    if (llt.info() == Eigen::Success && rc * rc > 1e-14)
      MapVector(x.data(), n) = llt.solve(MapConstVector(b.data(), n));
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FactorAndSolveSymmetric_EigenLLTRcond) SOLVER_SIZES;

void BM_FactorAndSolveWide_Vela(benchmark::State& state) {
  auto n = static_cast<unsigned>(state.range(0));
  unsigned m = equationsFor(n);
  std::vector<double> system = wideMatrix(m, n), transposed(m * n), A(m * n);
  for (unsigned i = 0; i < m; ++i)
    for (unsigned j = 0; j < n; ++j) transposed[j + n * i] = system[i + m * j];
  std::vector<double> b = vectorOf(m), x(n), tau(m), work(m);
  std::vector<int> piv(m);
  for (auto _ : state) {
    std::memcpy(A.data(), transposed.data(), m * n * sizeof(double));
    vela::math::factorAndSolveWide(m, n, A.data(), tau.data(), work.data(), piv.data(), b.data(),
                                   1e-12, x.data());
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FactorAndSolveWide_Vela) SOLVER_SIZES;

void BM_FactorAndSolveWide_EigenColPivQR(benchmark::State& state) {
  auto n = static_cast<Index>(state.range(0));
  Index m = equationsFor(unsigned(n));
  std::vector<double> system = wideMatrix(unsigned(m), unsigned(n)), b = vectorOf(unsigned(m)),
                      x(n);
  Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(m, n);
  for (auto _ : state) {
    qr.compute(MapConstMatrix(system.data(), m, n));
    MapVector(x.data(), n) = qr.solve(MapConstVector(b.data(), m));
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FactorAndSolveWide_EigenColPivQR) SOLVER_SIZES;

}  // namespace

BENCHMARK_MAIN();
