// Numeric 3-D math types against Eigen's fixed-size types. Each benchmark
// runs one operation over the same batch of inputs on both sides, so the
// loop and DoNotOptimize overheads are shared and small against the work.

#include <benchmark/benchmark.h>

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <cmath>
#include <random>
#include <vector>

#include "math3d/math3d.hpp"

namespace {

using math3d::Numeric;
using Vec3 = math3d::Vector3_T<Numeric>;
using Mat3 = math3d::Matrix3x3_T<Numeric>;
using Quat = math3d::Quaternion_T<Numeric>;
using SVec = math3d::SpatialVector_T<Numeric>;
using SMat = math3d::SymmetricSpatialMatrix_T<Numeric>;
using Matrix6 = Eigen::Matrix<double, 6, 6>;
using Vector6 = Eigen::Matrix<double, 6, 1>;
template <class T>
using Batch = std::vector<T, Eigen::aligned_allocator<T>>;

constexpr int kBatch = 256;

// Inputs shared by both sides: random vectors, rotations and symmetric matrices.
struct Data {
  Data() {
    std::mt19937 gen(1);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n = 0; n < kBatch; ++n) {
      double a[3] = {u(gen), u(gen), u(gen)}, b[3] = {u(gen), u(gen), u(gen)};
      va.emplace_back(a);
      vb.emplace_back(b);
      ea.emplace_back(a[0], a[1], a[2]);
      eb.emplace_back(b[0], b[1], b[2]);
      double q[4] = {u(gen), u(gen), u(gen), u(gen)};
      double qn = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
      for (double& c : q) c /= qn;
      quat.emplace_back(q);
      equat.emplace_back(q[0], q[1], q[2], q[3]);
      rot.emplace_back(Quat(q));
      erot.push_back(equat.back().toRotationMatrix());
      double m[9];
      for (double& c : m) c = u(gen);
      ma.emplace_back(m, false);
      ema.push_back(Eigen::Map<Eigen::Matrix3d>(m));
      double packed[21], six[6];
      for (double& c : packed) c = u(gen);
      for (double& c : six) c = u(gen);
      sm.emplace_back(packed);
      sv.emplace_back(six);
      Matrix6 full;
      for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6; ++j) full(i, j) = sm.back().element(i, j);
      esm.push_back(full);
      esv.push_back(Eigen::Map<Vector6>(six));
    }
  }
  Batch<Vec3> va, vb;
  Batch<Eigen::Vector3d> ea, eb;
  Batch<Quat> quat;
  Batch<Eigen::Quaterniond> equat;
  Batch<Mat3> rot, ma;
  Batch<Eigen::Matrix3d> erot, ema;
  Batch<SMat> sm;
  Batch<SVec> sv;
  Batch<Matrix6> esm;
  Batch<Vector6> esv;
};

Data const& data() {
  static Data const d;
  return d;
}

// Runs body(n) for every element of the batch per iteration.
template <class Out, class Body>
void run(benchmark::State& state, Batch<Out>& out, Body body) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(out.data());
    for (int n = 0; n < kBatch; ++n) out[n] = body(n);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

double scale() {
  static double s = 1.5;
  benchmark::DoNotOptimize(s);
  return s;
}

void BM_Vec3AddScale_Vela(benchmark::State& state) {
  auto const& d = data();
  Batch<Vec3> out(kBatch);
  double s = scale();
  run(state, out, [&](int n) { return (d.va[n] + d.vb[n]) * s; });
}
void BM_Vec3AddScale_Eigen(benchmark::State& state) {
  auto const& d = data();
  Batch<Eigen::Vector3d> out(kBatch);
  double s = scale();
  run(state, out, [&](int n) -> Eigen::Vector3d { return (d.ea[n] + d.eb[n]) * s; });
}
void BM_Vec3Dot_Vela(benchmark::State& state) {
  auto const& d = data();
  Batch<double> out(kBatch);
  run(state, out, [&](int n) { return d.va[n].dot(d.vb[n]); });
}
void BM_Vec3Dot_Eigen(benchmark::State& state) {
  auto const& d = data();
  Batch<double> out(kBatch);
  run(state, out, [&](int n) { return d.ea[n].dot(d.eb[n]); });
}
void BM_Vec3Norm_Vela(benchmark::State& state) {
  auto const& d = data();
  Batch<double> out(kBatch);
  run(state, out, [&](int n) { return d.va[n].norm(); });
}
void BM_Vec3Norm_Eigen(benchmark::State& state) {
  auto const& d = data();
  Batch<double> out(kBatch);
  run(state, out, [&](int n) { return d.ea[n].norm(); });
}
void BM_Vec3Unit_Vela(benchmark::State& state) {
  auto const& d = data();
  Batch<Vec3> out(kBatch);
  run(state, out, [&](int n) { return d.va[n].unit(); });
}
void BM_Vec3Unit_Eigen(benchmark::State& state) {
  auto const& d = data();
  Batch<Eigen::Vector3d> out(kBatch);
  run(state, out, [&](int n) -> Eigen::Vector3d { return d.ea[n].normalized(); });
}
void BM_Mat3Compose_Vela(benchmark::State& state) {
  auto const& d = data();
  Batch<Mat3> out(kBatch);
  run(state, out, [&](int n) { return d.ma[n].compose(d.rot[n]); });
}
void BM_Mat3Compose_Eigen(benchmark::State& state) {
  auto const& d = data();
  Batch<Eigen::Matrix3d> out(kBatch);
  run(state, out, [&](int n) -> Eigen::Matrix3d { return d.ema[n] * d.erot[n]; });
}
void BM_QuatToMatrix_Vela(benchmark::State& state) {
  auto const& d = data();
  Batch<Mat3> out(kBatch);
  run(state, out, [&](int n) { return Mat3(d.quat[n]); });
}
void BM_QuatToMatrix_Eigen(benchmark::State& state) {
  auto const& d = data();
  Batch<Eigen::Matrix3d> out(kBatch);
  run(state, out, [&](int n) -> Eigen::Matrix3d { return d.equat[n].toRotationMatrix(); });
}
void BM_MatrixToQuat_Vela(benchmark::State& state) {
  auto const& d = data();
  Batch<Quat> out(kBatch);
  run(state, out, [&](int n) { return Quat(d.rot[n]); });
}
void BM_MatrixToQuat_Eigen(benchmark::State& state) {
  auto const& d = data();
  Batch<Eigen::Quaterniond> out(kBatch);
  run(state, out, [&](int n) { return Eigen::Quaterniond(d.erot[n]); });
}
void BM_SpatialXform_Vela(benchmark::State& state) {
  auto const& d = data();
  Batch<SVec> out(kBatch);
  run(state, out, [&](int n) { return d.sm[n].xform(d.sv[n]); });
}
void BM_SpatialXform_Eigen(benchmark::State& state) {
  auto const& d = data();
  Batch<Vector6> out(kBatch);
  run(state, out, [&](int n) -> Vector6 { return d.esm[n] * d.esv[n]; });
}

BENCHMARK(BM_Vec3AddScale_Vela);
BENCHMARK(BM_Vec3AddScale_Eigen);
BENCHMARK(BM_Vec3Dot_Vela);
BENCHMARK(BM_Vec3Dot_Eigen);
BENCHMARK(BM_Vec3Norm_Vela);
BENCHMARK(BM_Vec3Norm_Eigen);
BENCHMARK(BM_Vec3Unit_Vela);
BENCHMARK(BM_Vec3Unit_Eigen);
BENCHMARK(BM_Mat3Compose_Vela);
BENCHMARK(BM_Mat3Compose_Eigen);
BENCHMARK(BM_QuatToMatrix_Vela);
BENCHMARK(BM_QuatToMatrix_Eigen);
BENCHMARK(BM_MatrixToQuat_Vela);
BENCHMARK(BM_MatrixToQuat_Eigen);
BENCHMARK(BM_SpatialXform_Vela);
BENCHMARK(BM_SpatialXform_Eigen);

}  // namespace

BENCHMARK_MAIN();
