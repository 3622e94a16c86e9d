// The symmetric augmented spatial product against the same (6 + n)-square
// product by Eigen's dense matrices. Our xform returns a fresh vector, so
// the like-for-like Eigen form returns a fresh VectorXd too; the form that
// writes into a kept vector shows what that allocation costs.

#include <benchmark/benchmark.h>

#include <Eigen/Core>
#include <vector>

#include "vela/math.hpp"

namespace {

namespace vm = vela::math;
using Mat = vm::SymmetricAugmentedSpatialMatrix<vm::Numeric>;
using Vec = vm::AugmentedSpatialVector<vm::Numeric>;

double fill(std::size_t i) { return 0.5 + 0.25 * double(i % 7) - 0.125 * double(i % 3); }

// One matrix and operand, both as blocks and as the dense matrix.
struct SpatialData {
  explicit SpatialData(std::size_t n)
      : n(n), a(n), v(n), dense(6 + long(n), 6 + long(n)), x(6 + long(n)) {
    std::vector<double> packed(21), sym(n * n), off(6 * n), s(6), va(n);
    for (std::size_t k = 0; k < 21; ++k) packed[k] = fill(k);
    for (std::size_t j = 0; j < n; ++j)
      for (std::size_t i = j; i < n; ++i) sym[i + n * j] = sym[j + n * i] = fill(3 * i + j);
    for (std::size_t k = 0; k < 6 * n; ++k) off[k] = 1.0 / (1.0 + double(k)) - 0.3;
    for (std::size_t k = 0; k < 6; ++k) s[k] = 0.75 - 0.1 * double(k);
    for (std::size_t k = 0; k < n; ++k) va[k] = 0.1 * double(k) - 0.4;
    a = Mat(math3d::SymmetricSpatialMatrix_T<vm::Numeric>(packed.data()), sym, off);
    v = Vec(math3d::SpatialVector_T<vm::Numeric>(s.data()), va);

    long d = 6 + long(n);
    for (long i = 0; i < d; ++i)
      for (long j = 0; j < d; ++j) {
        if (i < 6 && j < 6)
          dense(i, j) = a.symmetricSpatial().element(int(i), int(j));
        else if (i < 6)
          dense(i, j) = off[std::size_t(i + 6 * (j - 6))];
        else if (j < 6)
          dense(i, j) = off[std::size_t(j + 6 * (i - 6))];
        else
          dense(i, j) = sym[std::size_t((i - 6) + long(n) * (j - 6))];
      }
    for (long k = 0; k < d; ++k) x(k) = k < 6 ? s[std::size_t(k)] : va[std::size_t(k - 6)];
  }
  std::size_t n;
  Mat a;
  Vec v;
  Eigen::MatrixXd dense;
  Eigen::VectorXd x;
};

#define SPATIAL_SIZES ->Arg(0)->Arg(6)->Arg(24)

void BM_SpatialXform_Vela(benchmark::State& state) {
  SpatialData d(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(&d.v);
    Vec r = d.a.xform(d.v);
    benchmark::DoNotOptimize(r.spatial().values());
    benchmark::DoNotOptimize(r.augmented().data());
  }
}
BENCHMARK(BM_SpatialXform_Vela) SPATIAL_SIZES;

void BM_SpatialXform_EigenDynamic(benchmark::State& state) {
  SpatialData d(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(d.x.data());
    Eigen::VectorXd r = d.dense * d.x;
    benchmark::DoNotOptimize(r.data());
  }
}
BENCHMARK(BM_SpatialXform_EigenDynamic) SPATIAL_SIZES;

void BM_SpatialXform_EigenDynamicKept(benchmark::State& state) {
  SpatialData d(static_cast<std::size_t>(state.range(0)));
  Eigen::VectorXd r(d.x.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(d.x.data());
    r.noalias() = d.dense * d.x;
    benchmark::DoNotOptimize(r.data());
  }
}
BENCHMARK(BM_SpatialXform_EigenDynamicKept) SPATIAL_SIZES;

void BM_SpatialXform_EigenFixed6(benchmark::State& state) {
  SpatialData d(0);
  Eigen::Matrix<double, 6, 6> m = d.dense;
  Eigen::Matrix<double, 6, 1> x = d.x;
  for (auto _ : state) {
    benchmark::DoNotOptimize(x.data());
    Eigen::Matrix<double, 6, 1> r = m * x;
    benchmark::DoNotOptimize(r.data());
  }
}
BENCHMARK(BM_SpatialXform_EigenFixed6);

// Parts of the product, to see where its time goes.
void BM_Part_SpatialBlock(benchmark::State& state) {
  SpatialData d(0);
  for (auto _ : state) {
    benchmark::DoNotOptimize(&d.v);
    auto r = d.a.symmetricSpatial().xform(d.v.spatial());
    benchmark::DoNotOptimize(r.values());
  }
}
BENCHMARK(BM_Part_SpatialBlock);

void BM_Part_Kernels(benchmark::State& state) {
  auto n = static_cast<unsigned>(state.range(0));
  SpatialData d(n);
  std::vector<double> w(6), r(n);
  for (auto _ : state) {
    benchmark::DoNotOptimize(&d.v);
    vm::matrixVectorMultiply(6u, n, d.a.offDiagonalAugmented().data(), d.v.augmented().data(),
                             w.data());
    vm::matrixTransposeVectorMultiply(6u, n, d.a.offDiagonalAugmented().data(),
                                      d.v.spatial().values(), r.data());
    vm::addMatrixVectorProduct(n, n, d.a.symmetricAugmented().data(), d.v.augmented().data(),
                               r.data());
    benchmark::DoNotOptimize(w.data());
    benchmark::DoNotOptimize(r.data());
  }
}
BENCHMARK(BM_Part_Kernels) SPATIAL_SIZES;

void BM_Part_Kernel(benchmark::State& state) {
  auto n = static_cast<unsigned>(state.range(0));
  auto which = state.range(1);
  SpatialData d(n);
  std::vector<double> w(6), r(n);
  for (auto _ : state) {
    benchmark::DoNotOptimize(&d.v);
    if (which == 0)
      vm::matrixVectorMultiply(6u, n, d.a.offDiagonalAugmented().data(), d.v.augmented().data(),
                               w.data());
    if (which == 1)
      vm::matrixTransposeVectorMultiply(6u, n, d.a.offDiagonalAugmented().data(),
                                        d.v.spatial().values(), r.data());
    if (which == 2)
      vm::addMatrixVectorProduct(n, n, d.a.symmetricAugmented().data(), d.v.augmented().data(),
                                 r.data());
    benchmark::DoNotOptimize(w.data());
    benchmark::DoNotOptimize(r.data());
  }
}
BENCHMARK(BM_Part_Kernel)
    ->Args({6, 0})
    ->Args({6, 1})
    ->Args({6, 2})
    ->Args({24, 0})
    ->Args({24, 1})
    ->Args({24, 2});

void BM_Part_Allocation(benchmark::State& state) {
  auto n = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    std::vector<double> r(n);
    benchmark::DoNotOptimize(r.data());
  }
}
BENCHMARK(BM_Part_Allocation) SPATIAL_SIZES;

}  // namespace

BENCHMARK_MAIN();
