// Diagonalization of symmetric 3-by-3 tensors against Eigen's
// SelfAdjointEigenSolver. Each benchmark runs over the same batch of random
// tensors, so per-item times compare directly; timings are per batch.
// Also the symmetric tridiagonal solve against LAPACK's dgtsv at spline
// sizes (both sides copy their inputs, which the solvers overwrite).

#include <benchmark/benchmark.h>

#include <Eigen/Eigenvalues>
#include <random>
#include <vector>

#include "kelm_math/lin_alg.h"
#include "vela/math/dense_kernels.hpp"

namespace {

using Vec3 = math3d::Vector3_T<vela::math::Numeric>;
using Quat = math3d::Quaternion_T<vela::math::Numeric>;

constexpr int kBatch = 256;

struct Data {
  Data() {
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n = 0; n < kBatch; ++n) {
      // Inertia-like: positive diagonal dominating the couplings.
      double dv[3] = {2.0 + u(gen), 2.0 + u(gen), 2.0 + u(gen)};
      double ov[3] = {0.5 * u(gen), 0.5 * u(gen), 0.5 * u(gen)};
      d.emplace_back(dv);
      o.emplace_back(ov);
      Eigen::Matrix3d m;
      m << dv[0], ov[2], ov[1], ov[2], dv[1], ov[0], ov[1], ov[0], dv[2];
      dense.push_back(m);
    }
  }
  std::vector<Vec3> d, o;
  std::vector<Eigen::Matrix3d> dense;
};

Data const& data() {
  static Data const instance;
  return instance;
}

void BM_Diagonalization_Vela(benchmark::State& state) {
  Data const& in = data();
  Vec3 principal;
  Quat q;
  for (auto _ : state)
    for (int n = 0; n < kBatch; ++n) {
      vela::math::compDiagonalization(in.d[n], in.o[n], principal, q);
      benchmark::DoNotOptimize(principal);
      benchmark::DoNotOptimize(q);
    }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_Jacobi3_Vela(benchmark::State& state) {
  Data const& in = data();
  double w[3], V[9];
  for (auto _ : state)
    for (int n = 0; n < kBatch; ++n) {
      kelm_math_lin_alg_jacobi3(in.d[n].values(), in.o[n].values(), w, V);
      benchmark::DoNotOptimize(w);
      benchmark::DoNotOptimize(V);
    }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_EigenCompute(benchmark::State& state) {
  Data const& in = data();
  Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver;
  for (auto _ : state)
    for (int n = 0; n < kBatch; ++n) {
      solver.compute(in.dense[n]);
      benchmark::DoNotOptimize(solver.eigenvalues().data());
      benchmark::DoNotOptimize(solver.eigenvectors().data());
    }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_EigenComputeDirect(benchmark::State& state) {
  Data const& in = data();
  Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver;
  for (auto _ : state)
    for (int n = 0; n < kBatch; ++n) {
      solver.computeDirect(in.dense[n]);
      benchmark::DoNotOptimize(solver.eigenvalues().data());
      benchmark::DoNotOptimize(solver.eigenvectors().data());
    }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

extern "C" void dgtsv_(int const* n, int const* nrhs, double* dl, double* d, double* du, double* b,
                       int const* ldb, int* info);

struct TriDiag {
  explicit TriDiag(int n) : diag(n), off(n - 1), rhs(n) {
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (double& x : diag) x = 3.0 + u(gen);
    for (double& x : off) x = u(gen);
    for (double& x : rhs) x = u(gen);
  }
  std::vector<double> diag, off, rhs;
};

void BM_TriDiag_Vela(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  TriDiag in(n), work(n);
  for (auto _ : state) {
    work = in;
    kelm_math_lin_alg_solveTriDiagSymm(work.diag.data(), work.off.data(), work.rhs.data(), n);
    benchmark::DoNotOptimize(work.rhs.data());
  }
}

void BM_TriDiag_Lapack(benchmark::State& state) {
  int n = static_cast<int>(state.range(0)), one = 1, info = 0;
  TriDiag in(n), work(n);
  std::vector<double> upper(n - 1);
  for (auto _ : state) {
    work = in;
    upper = in.off;
    dgtsv_(&n, &one, work.off.data(), work.diag.data(), upper.data(), work.rhs.data(), &n, &info);
    benchmark::DoNotOptimize(work.rhs.data());
  }
}

}  // namespace

BENCHMARK(BM_TriDiag_Vela)->Arg(8)->Arg(30)->Arg(200);
BENCHMARK(BM_TriDiag_Lapack)->Arg(8)->Arg(30)->Arg(200);
BENCHMARK(BM_Diagonalization_Vela);
BENCHMARK(BM_Jacobi3_Vela);
BENCHMARK(BM_EigenCompute);
BENCHMARK(BM_EigenComputeDirect);

BENCHMARK_MAIN();
