// Mass properties held as raw moments, against the same arithmetic written
// with Eigen: the principal moments (central inertia tensor, then
// SelfAdjointEigenSolver) and the change of frame of the raw moments.
// Every benchmark cycles over the same few bodies, one call per iteration,
// so the reported time is per call. Before timing, each Eigen version is
// checked against the library on every body; a disagreement skips it.

#include <benchmark/benchmark.h>

#include <Eigen/Eigenvalues>
#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "vela/math/LumpedDistribution.hpp"

namespace {

using vela::math::Numeric;
using Dist = vela::math::LumpedDistribution<Numeric>;
using Vec3 = math3d::Vector3_T<Numeric>;
using Quat = math3d::Quaternion_T<Numeric>;
using Xform = math3d::Transform3_T<Numeric>;
template <class T>
using Batch = std::vector<T, Eigen::aligned_allocator<T>>;

constexpr std::size_t kBodies = 8;  // a power of two: cycled with a mask
constexpr int kPointsPerBody = 5;

// Raw moments with Eigen types, in the library's conventions: products are
// (yz, zx, xy).
struct Moments {
  double m = 0.0;
  Eigen::Vector3d first, second, products;
};

Eigen::Vector3d toEigen(Vec3 const& v) { return {v.x(), v.y(), v.z()}; }

Moments toEigen(Dist const& d) {
  return {d.zeroethMoment(), toEigen(d.firstMoments()), toEigen(d.secondMoments()),
          toEigen(d.products())};
}

// Bodies made of a few point masses, each with a small spherical inertia of
// its own so that no body is degenerate; random rotations and offsets to
// move them by.
struct Data {
  Data() {
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (std::size_t b = 0; b < kBodies; ++b) {
      Dist body;
      for (int k = 0; k < kPointsPerBody; ++k) {
        double m = 1.5 + u(gen);
        double s = 0.05 * (1.5 + u(gen));
        body += Dist(true, m, Vec3(u(gen), u(gen), u(gen)), Vec3(s, s, s), Vec3());
      }
      dist.push_back(body);
      eigen.push_back(toEigen(body));
      double q[4] = {u(gen), u(gen), u(gen), u(gen)};
      double qn = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
      for (double& c : q) c /= qn;
      double p[3] = {u(gen), u(gen), u(gen)};
      xform.emplace_back(Quat(q), Vec3(p));
      equat.emplace_back(q[0], q[1], q[2], q[3]);
      eshift.emplace_back(p[0], p[1], p[2]);
    }
  }
  std::vector<Dist> dist;
  Batch<Moments> eigen;
  std::vector<Xform> xform;
  Batch<Eigen::Quaterniond> equat;
  Batch<Eigen::Vector3d> eshift;
};

Data const& data() {
  static Data const d;
  return d;
}

// The central inertia tensor by the library's formulas: center, central
// second moments and products, then moments on the diagonal and negated
// products off it.
Eigen::Matrix3d centralInertia(Moments const& d) {
  Eigen::Vector3d const& f = d.first;
  Eigen::Vector3d c = f / d.m;
  Eigen::Vector3d S = d.second - f.cwiseProduct(c);
  Eigen::Vector3d P = d.products - Eigen::Vector3d(f.y() * c.z(), f.z() * c.x(), f.x() * c.y());
  Eigen::Matrix3d I;
  I << S.y() + S.z(), -P.z(), -P.y(),  //
      -P.z(), S.z() + S.x(), -P.x(),   //
      -P.y(), -P.x(), S.x() + S.y();
  return I;
}

// The symmetric matrix of second moments and products.
Eigen::Matrix3d secondMomentMatrix(Moments const& d) {
  Eigen::Vector3d const &S = d.second, &P = d.products;
  Eigen::Matrix3d M;
  M << S.x(), P.z(), P.y(),  //
      P.z(), S.y(), P.x(),   //
      P.y(), P.x(), S.z();
  return M;
}

// Raw moments in the frame where x becomes R x + p.
Moments transformed(Moments const& d, Eigen::Quaterniond const& q, Eigen::Vector3d const& p) {
  Eigen::Isometry3d T = Eigen::Translation3d(p) * q;
  auto R = T.linear();
  Eigen::Vector3d a = R * d.first;
  Eigen::Matrix3d X = a * p.transpose();
  Eigen::Matrix3d M =
      R * secondMomentMatrix(d) * R.transpose() + X.transpose() + X + d.m * p * p.transpose();
  return {d.m, a + d.m * p, M.diagonal(), Eigen::Vector3d(M(1, 2), M(2, 0), M(0, 1))};
}

bool close(Eigen::Vector3d const& a, Eigen::Vector3d const& b, double tol) {
  return (a - b).cwiseAbs().maxCoeff() <= tol;
}

// Eigen's ascending eigenvalues against the library's principal moments, sorted.
bool principalAgrees(benchmark::State& state) {
  Data const& in = data();
  Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver;
  for (std::size_t b = 0; b < kBodies; ++b) {
    Eigen::Vector3d ours = toEigen(in.dist[b].principalMoments());
    std::sort(ours.data(), ours.data() + 3);
    solver.compute(centralInertia(in.eigen[b]), Eigen::EigenvaluesOnly);
    if (!close(ours, solver.eigenvalues(), 1e-12 * ours.cwiseAbs().maxCoeff())) {
      state.SkipWithError("Eigen's eigenvalues differ from the principal moments");
      return false;
    }
  }
  return true;
}

bool transformAgrees(benchmark::State& state) {
  Data const& in = data();
  for (std::size_t b = 0; b < kBodies; ++b) {
    Moments ours = toEigen(in.dist[b].transform(in.xform[b]));
    Moments eigen = transformed(in.eigen[b], in.equat[b], in.eshift[b]);
    double tol = 1e-12 * std::max(1.0, ours.second.cwiseAbs().maxCoeff());
    if (ours.m != eigen.m || !close(ours.first, eigen.first, tol) ||
        !close(ours.second, eigen.second, tol) || !close(ours.products, eigen.products, tol)) {
      state.SkipWithError("Eigen's transformed moments differ from the library's");
      return false;
    }
  }
  return true;
}

// ---- Principal moments ----

void BM_PrincipalMoments_Vela(benchmark::State& state) {
  Data const& in = data();
  std::size_t k = 0;
  for (auto _ : state) {
    Vec3 principal = in.dist[k++ & (kBodies - 1)].principalMoments();
    benchmark::DoNotOptimize(principal);
  }
}

// The library finds the principal axes on the way (and discards them), so
// the like-for-like comparison computes Eigen's eigenvectors too.
void BM_PrincipalMoments_Eigen(benchmark::State& state) {
  if (!principalAgrees(state)) return;
  Data const& in = data();
  Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver;
  std::size_t k = 0;
  for (auto _ : state) {
    solver.compute(centralInertia(in.eigen[k++ & (kBodies - 1)]));
    benchmark::DoNotOptimize(solver.eigenvalues().data());
  }
}

// Eigen's lower bound: eigenvalues alone.
void BM_PrincipalMoments_EigenValuesOnly(benchmark::State& state) {
  if (!principalAgrees(state)) return;
  Data const& in = data();
  Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver;
  std::size_t k = 0;
  for (auto _ : state) {
    solver.compute(centralInertia(in.eigen[k++ & (kBodies - 1)]), Eigen::EigenvaluesOnly);
    benchmark::DoNotOptimize(solver.eigenvalues().data());
  }
}

// ---- Change of frame ----

void BM_Transform_Vela(benchmark::State& state) {
  Data const& in = data();
  std::size_t k = 0;
  for (auto _ : state) {
    std::size_t b = k++ & (kBodies - 1);
    Dist moved = in.dist[b].transform(in.xform[b]);
    benchmark::DoNotOptimize(moved);
  }
}

void BM_Transform_Eigen(benchmark::State& state) {
  if (!transformAgrees(state)) return;
  Data const& in = data();
  std::size_t k = 0;
  for (auto _ : state) {
    std::size_t b = k++ & (kBodies - 1);
    Moments moved = transformed(in.eigen[b], in.equat[b], in.eshift[b]);
    benchmark::DoNotOptimize(moved);
  }
}

}  // namespace

BENCHMARK(BM_PrincipalMoments_Vela);
BENCHMARK(BM_PrincipalMoments_Eigen);
BENCHMARK(BM_PrincipalMoments_EigenValuesOnly);
BENCHMARK(BM_Transform_Vela);
BENCHMARK(BM_Transform_Eigen);

BENCHMARK_MAIN();
