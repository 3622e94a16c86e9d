// Singular value and generalized eigen decompositions against Eigen's
// solvers on the same matrices. Both sides get their storage up front (the
// Eigen solvers are constructed for the size once), so a run times the
// factorization only.

#include <benchmark/benchmark.h>

#include <Eigen/Eigenvalues>
#include <Eigen/SVD>
#include <random>
#include <vector>

#include "vela/math.hpp"

namespace {

using MapConstMatrix = Eigen::Map<const Eigen::MatrixXd>;

std::vector<double> randomMatrix(int n, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  std::vector<double> a(static_cast<std::size_t>(n * n));
  for (double& x : a) x = d(generator);
  return a;
}

#define SIZES ->Arg(3)->Arg(6)->Arg(12)->Arg(30)

void BM_Svd_Vela(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  std::vector<double> A = randomMatrix(n, 1), S(n), U(n * n), V(n * n),
                      work(kelm_math_lin_alg_svdReqdWorkSize(n, n, 0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(A.data());
    vela::math::svd(n, n, A.data(), 0, S.data(), U.data(), V.data(), work.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Svd_Vela) SIZES;

template <class Solver>
void svdEigen(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  std::vector<double> A = randomMatrix(n, 1);
  Solver solver(n, n, Eigen::ComputeThinU | Eigen::ComputeThinV);
  for (auto _ : state) {
    benchmark::DoNotOptimize(A.data());
    solver.compute(MapConstMatrix(A.data(), n, n));
    benchmark::DoNotOptimize(solver.singularValues().data());
    benchmark::ClobberMemory();
  }
}

void BM_Svd_EigenJacobi(benchmark::State& state) {
  svdEigen<Eigen::JacobiSVD<Eigen::MatrixXd>>(state);
}
BENCHMARK(BM_Svd_EigenJacobi) SIZES;

void BM_Svd_EigenBdc(benchmark::State& state) { svdEigen<Eigen::BDCSVD<Eigen::MatrixXd>>(state); }
BENCHMARK(BM_Svd_EigenBdc) SIZES;

void BM_Eig_Vela(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  std::vector<double> A = randomMatrix(n, 2), B = randomMatrix(n, 3), re(n), im(n), vre(n * n),
                      vim(n * n), work(kelm_math_lin_alg_eigReqdRealWorkSize(n));
  std::vector<int> iwork(kelm_math_lin_alg_eigReqdInt32WorkSize(n));
  for (auto _ : state) {
    benchmark::DoNotOptimize(A.data());
    vela::math::eig(n, A.data(), B.data(), re.data(), im.data(), vre.data(), vim.data(),
                    work.data(), iwork.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Eig_Vela) SIZES;

void BM_Eig_Eigen(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  std::vector<double> A = randomMatrix(n, 2), B = randomMatrix(n, 3);
  Eigen::GeneralizedEigenSolver<Eigen::MatrixXd> solver(n);
  for (auto _ : state) {
    benchmark::DoNotOptimize(A.data());
    solver.compute(MapConstMatrix(A.data(), n, n), MapConstMatrix(B.data(), n, n), true);
    benchmark::DoNotOptimize(solver.eigenvectors().data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Eig_Eigen) SIZES;

}  // namespace

BENCHMARK_MAIN();
