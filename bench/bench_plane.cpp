// bestFitPlane3D against a fit through Eigen's symmetric eigensolver on the
// same scatter matrix (the eigenvector of the smallest eigenvalue), for
// information: the two answers agree for coplanar points and differ at the
// order of the squared noise otherwise.

#include <benchmark/benchmark.h>

#include <Eigen/Core>
#include <Eigen/Eigenvalues>
#include <random>
#include <vector>

#include "vela/math/dense_kernels.hpp"

namespace {

using Vec3 = math3d::Vector3_T<vela::math::Numeric>;

// Noisy samples of one tilted plane.
std::vector<Vec3> samples(int count) {
  std::mt19937 gen(7);
  std::normal_distribution<double> g;
  std::vector<Vec3> points;
  for (int k = 0; k < count; ++k) {
    double a = 3 * g(gen), b = g(gen);
    points.emplace_back(1 + a + 0.2 * b + 1e-3 * g(gen), -2 + 0.5 * a - b + 1e-3 * g(gen),
                        4 + 0.3 * a + 0.7 * b + 1e-3 * g(gen));
  }
  return points;
}

void BM_BestFitPlane3D(benchmark::State& state) {
  std::vector<Vec3> const points = samples(static_cast<int>(state.range(0)));
  Vec3 point, normal;
  for (auto _ : state) {
    benchmark::DoNotOptimize(vela::math::bestFitPlane3D(points, point, normal));
    benchmark::DoNotOptimize(normal);
  }
}

void BM_EigenPlaneFit(benchmark::State& state) {
  std::vector<Vec3> const points = samples(static_cast<int>(state.range(0)));
  Eigen::Map<Eigen::Matrix<double, 3, Eigen::Dynamic> const> xyz(
      points.front().values(), 3, static_cast<Eigen::Index>(points.size()));
  Eigen::Vector3d centroid, normal;
  for (auto _ : state) {
    centroid = xyz.rowwise().mean();
    Eigen::Matrix3d scatter = Eigen::Matrix3d::Zero();
    for (Eigen::Index k = 0; k < xyz.cols(); ++k) {
      Eigen::Vector3d d = xyz.col(k) - centroid;
      scatter += d * d.transpose();
    }
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver(scatter);
    normal = solver.eigenvectors().col(0);
    benchmark::DoNotOptimize(normal);
  }
}

}  // namespace

BENCHMARK(BM_BestFitPlane3D)->Arg(3)->Arg(8)->Arg(32)->Arg(256);
BENCHMARK(BM_EigenPlaneFit)->Arg(3)->Arg(8)->Arg(32)->Arg(256);
BENCHMARK_MAIN();
