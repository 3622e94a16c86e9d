// Interpolating curves: building a 100-point cubic spline and PCHIP curve,
// then point(t) and normal(t) on a 100-segment cubic spline at random t.
// Two yardsticks for evaluation: a floor written here (binary search on the
// knots, Horner on power-basis coefficients converted once from the
// spline's own Bezier segments) and Eigen's B-spline through the same points
// over its own chord-length parameters (a different curve of the same
// kind: Eigen interpolates with averaged knots, not natural end conditions).
// The knot search and the segment evaluation are also timed on their own.
// The traced point is measured three ways: recording it, evaluating the
// recording against bindings, and calling the C generated from it, compiled
// here with the system C compiler and loaded with dlopen.
//
// Each yardstick is checked once before it is timed (against the library's
// values; Eigen's curve, being another curve, only for passing the data
// points); a mismatch skips the benchmark with an error instead.

#include <benchmark/benchmark.h>

#include <Eigen/Core>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <unsupported/Eigen/Splines>
#include <vector>

#include "CompiledC.hpp"
#include "vela/math.hpp"
#include "zeph_core/ckernels.h"

namespace {

namespace vm = vela::math;
using Vec2 = math3d::Vector2_T<vm::Numeric>;
using CubicSpline = vm::InterpolatingCubicSpline<vm::Numeric, math3d::Vector2_T>;
using Pchip = vm::InterpolatingPchip<vm::Numeric, math3d::Vector2_T>;
using TracedSpline = vm::InterpolatingCubicSpline<vm::Traced, math3d::Vector2_T>;
using EigenSpline = Eigen::Spline<double, 2, 3>;
using EigenPoints = Eigen::Matrix<double, 2, Eigen::Dynamic>;

constexpr std::size_t kParams = 1024;  // a power of two: cycled with a mask

// A widening spiral with noise, so the chords and the curvature vary.
std::vector<Vec2> spiral(int count) {
  std::mt19937 gen(11);
  std::normal_distribution<double> noise(0.0, 0.02);
  std::vector<Vec2> points;
  for (int k = 0; k < count; ++k) {
    double angle = 0.2 * k, radius = 1.0 + 0.05 * k;
    points.emplace_back(radius * std::cos(angle) + noise(gen),
                        radius * std::sin(angle) + noise(gen));
  }
  return points;
}

std::vector<double> randomParams() {
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::vector<double> t(kParams);
  for (double& v : t) v = uniform(gen);
  return t;
}

EigenPoints toEigen(std::vector<Vec2> const& points) {
  EigenPoints out(2, static_cast<Eigen::Index>(points.size()));
  for (std::size_t k = 0; k < points.size(); ++k)
    out.col(static_cast<Eigen::Index>(k)) << points[k].x(), points[k].y();
  return out;
}

EigenSpline eigenSpline(EigenPoints const& pts) {
  EigenSpline::KnotVectorType params;
  Eigen::ChordLengths(pts, params);
  return Eigen::SplineFitting<EigenSpline>::Interpolate(pts, 3, params);
}

// The normal from the tangent T and its derivative T1, as the library
// defines it, with its guard against a vanishing normal.
Vec2 normalFrom(double tx, double ty, double t1x, double t1y) {
  double s2 = tx * tx + ty * ty, s = std::sqrt(s2);
  double along = (tx * t1x + ty * t1y) / s2;
  double nx = (t1x - tx * along) / s, ny = (t1y - ty * along) / s;
  if (std::sqrt(nx * nx + ny * ny) < 1e-14) return Vec2(-ty, tx);
  return Vec2(nx, ny);
}

// The fastest plain evaluation of the same piecewise cubic: per segment the
// power-basis coefficients a0..a3 of each coordinate, found by one binary
// search and evaluated by Horner.
class PowerBasisFloor {
 public:
  explicit PowerBasisFloor(CubicSpline const& spline)
      : knots_(spline.knots()), coeffs_(8 * (knots_.size() - 1)) {
    std::vector<double> const& c = spline.bezierControlPoints();
    for (std::size_t seg = 0; seg + 1 < knots_.size(); ++seg)
      for (std::size_t d = 0; d < 2; ++d) {
        double p0 = c[seg * 8 + d], p1 = c[seg * 8 + 2 + d];
        double p2 = c[seg * 8 + 4 + d], p3 = c[seg * 8 + 6 + d];
        double* a = &coeffs_[seg * 8 + d];
        a[0] = p0;
        a[2] = 3.0 * (p1 - p0);
        a[4] = 3.0 * (p0 - 2.0 * p1 + p2);
        a[6] = p3 - p0 + 3.0 * (p1 - p2);
      }
  }

  // The segment holding t, as the spline picks it.
  std::size_t index(double t) const {
    auto above = std::upper_bound(knots_.begin(), knots_.end(), t);
    std::ptrdiff_t last = static_cast<std::ptrdiff_t>(knots_.size()) - 2;
    return static_cast<std::size_t>(
        std::clamp<std::ptrdiff_t>(above - knots_.begin() - 1, 0, last));
  }

  // Horner on one segment at its local parameter u.
  Vec2 segmentPoint(std::size_t i, double u) const {
    double const* a = &coeffs_[i * 8];
    return Vec2(((a[6] * u + a[4]) * u + a[2]) * u + a[0],
                ((a[7] * u + a[5]) * u + a[3]) * u + a[1]);
  }

  Vec2 point(double t) const {
    double u, h;
    std::size_t i = segment(t, u, h);
    return segmentPoint(i, u);
  }

  Vec2 normal(double t) const {
    double u, h;
    double const* a = &coeffs_[segment(t, u, h) * 8];
    double tx = ((3.0 * a[6] * u + 2.0 * a[4]) * u + a[2]) / h;
    double ty = ((3.0 * a[7] * u + 2.0 * a[5]) * u + a[3]) / h;
    double t1x = (6.0 * a[6] * u + 2.0 * a[4]) / (h * h);
    double t1y = (6.0 * a[7] * u + 2.0 * a[5]) / (h * h);
    return normalFrom(tx, ty, t1x, t1y);
  }

 private:
  // The segment holding t, its local parameter u and its knot span h.
  std::size_t segment(double t, double& u, double& h) const {
    std::size_t i = index(t);
    h = knots_[i + 1] - knots_[i];
    u = (t - knots_[i]) / h;
    return i;
  }

  std::vector<double> knots_;
  std::vector<double> coeffs_;
};

Vec2 eigenNormal(EigenSpline const& spline, double t) {
  auto d = spline.derivatives(t, 2);
  return normalFrom(d(0, 1), d(1, 1), d(0, 2), d(1, 2));
}

bool close(Vec2 const& a, Vec2 const& b, double tol) {
  return std::abs(a.x() - b.x()) <= tol && std::abs(a.y() - b.y()) <= tol;
}

// Skips the benchmark unless f agrees with the library's g at every t.
template <class F, class G>
bool agrees(benchmark::State& state, std::vector<double> const& ts, F f, G g, double tol,
            char const* what) {
  for (double t : ts)
    if (!close(f(t), g(t), tol)) {
      state.SkipWithError(what);
      return false;
    }
  return true;
}

// The spline of the evaluation benchmarks: 101 points, 100 segments, open.
struct Fixture {
  std::vector<Vec2> points = spiral(101);
  CubicSpline spline{points, false};
  std::vector<double> ts = randomParams();
};

Fixture const& fixture() {
  static Fixture const f;
  return f;
}

// ---- Construction ----

void BM_BuildCubicSpline(benchmark::State& state) {
  std::vector<Vec2> const points = spiral(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    CubicSpline spline(points, false);
    benchmark::DoNotOptimize(spline);
  }
}

void BM_BuildPchip(benchmark::State& state) {
  std::vector<Vec2> const points = spiral(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Pchip curve(points, false);
    benchmark::DoNotOptimize(curve);
  }
}

void BM_EigenInterpolate(benchmark::State& state) {
  EigenPoints const pts = toEigen(spiral(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    EigenSpline spline = eigenSpline(pts);
    benchmark::DoNotOptimize(spline.ctrls().data());
  }
}

// ---- Numeric evaluation ----

void BM_CubicPoint(benchmark::State& state) {
  Fixture const& f = fixture();
  std::size_t k = 0;
  for (auto _ : state) {
    Vec2 p = f.spline.point(f.ts[k++ & (kParams - 1)]);
    benchmark::DoNotOptimize(p);
  }
}

void BM_FloorPoint(benchmark::State& state) {
  Fixture const& f = fixture();
  PowerBasisFloor const floor(f.spline);
  auto library = [&](double t) { return f.spline.point(t); };
  auto ours = [&](double t) { return floor.point(t); };
  if (!agrees(state, f.ts, ours, library, 1e-12, "floor point differs from the spline")) return;
  std::size_t k = 0;
  for (auto _ : state) {
    Vec2 p = floor.point(f.ts[k++ & (kParams - 1)]);
    benchmark::DoNotOptimize(p);
  }
}

void BM_EigenPoint(benchmark::State& state) {
  Fixture const& f = fixture();
  EigenSpline const spline = eigenSpline(toEigen(f.points));
  // A different curve through the same points: it must at least pass them.
  EigenSpline::KnotVectorType params;
  Eigen::ChordLengths(toEigen(f.points), params);
  for (Eigen::Index k = 0; k < params.size(); ++k) {
    auto p = spline(params(k));
    if (!close(Vec2(p(0), p(1)), f.points[static_cast<std::size_t>(k)], 1e-9)) {
      state.SkipWithError("Eigen's spline misses a data point");
      return;
    }
  }
  std::size_t k = 0;
  for (auto _ : state) {
    auto p = spline(f.ts[k++ & (kParams - 1)]);
    benchmark::DoNotOptimize(p);
  }
}

void BM_CubicNormal(benchmark::State& state) {
  Fixture const& f = fixture();
  std::size_t k = 0;
  for (auto _ : state) {
    Vec2 n = f.spline.normal(f.ts[k++ & (kParams - 1)]);
    benchmark::DoNotOptimize(n);
  }
}

void BM_FloorNormal(benchmark::State& state) {
  Fixture const& f = fixture();
  PowerBasisFloor const floor(f.spline);
  auto library = [&](double t) { return f.spline.normal(t); };
  auto ours = [&](double t) { return floor.normal(t); };
  // The normals here reach about 170 (the tangent's length times the
  // curvature), the points about 6: a looser tolerance than the points'.
  if (!agrees(state, f.ts, ours, library, 1e-7, "floor normal differs from the spline")) return;
  std::size_t k = 0;
  for (auto _ : state) {
    Vec2 n = floor.normal(f.ts[k++ & (kParams - 1)]);
    benchmark::DoNotOptimize(n);
  }
}

void BM_EigenNormal(benchmark::State& state) {
  Fixture const& f = fixture();
  EigenSpline const spline = eigenSpline(toEigen(f.points));
  std::size_t k = 0;
  for (auto _ : state) {
    Vec2 n = eigenNormal(spline, f.ts[k++ & (kParams - 1)]);
    benchmark::DoNotOptimize(n);
  }
}

// ---- Parts of point(t) ----
// The knot search and the segment evaluation on their own, the library's C
// kernels against the floor's, to show which half of point(t) costs what.

void BM_PartLookupKernel(benchmark::State& state) {
  Fixture const& f = fixture();
  std::vector<double> const& knots = f.spline.knots();
  auto n = static_cast<unsigned>(knots.size());
  std::size_t k = 0;
  for (auto _ : state) {
    int i = zeph_core_math_indexOfLowerBound(n, knots.data(), f.ts[k++ & (kParams - 1)]);
    benchmark::DoNotOptimize(i);
  }
}

void BM_PartLookupUpperBound(benchmark::State& state) {
  Fixture const& f = fixture();
  PowerBasisFloor const floor(f.spline);
  for (double t : f.ts)
    if (floor.index(t) != static_cast<std::size_t>(f.spline.getBezierParamInfo(t).index)) {
      state.SkipWithError("upper_bound picks another segment");
      return;
    }
  std::size_t k = 0;
  for (auto _ : state) {
    std::size_t i = floor.index(f.ts[k++ & (kParams - 1)]);
    benchmark::DoNotOptimize(i);
  }
}

// Segments and local parameters of the random t, found once.
struct Located {
  std::vector<std::size_t> segments;
  std::vector<double> locals;
};

Located locate(Fixture const& f) {
  Located out;
  for (double t : f.ts) {
    auto tag = f.spline.getBezierParamInfo(t);
    out.segments.push_back(static_cast<std::size_t>(tag.index));
    out.locals.push_back(tag.param);
  }
  return out;
}

void BM_PartCastelKernel(benchmark::State& state) {
  Fixture const& f = fixture();
  Located const at = locate(f);
  double const* control = f.spline.bezierControlPoints().data();
  std::size_t k = 0;
  double out[2];
  for (auto _ : state) {
    std::size_t j = k++ & (kParams - 1);
    zeph_core_math_castelEval(4, 2, control + 8 * at.segments[j], out, at.locals[j]);
    benchmark::DoNotOptimize(out);
  }
}

void BM_PartHorner(benchmark::State& state) {
  Fixture const& f = fixture();
  PowerBasisFloor const floor(f.spline);
  Located const at = locate(f);
  std::size_t k = 0;
  for (auto _ : state) {
    std::size_t j = k++ & (kParams - 1);
    Vec2 p = floor.segmentPoint(at.segments[j], at.locals[j]);
    benchmark::DoNotOptimize(p);
  }
}

// ---- Traced point ----

struct TracedFixture {
  TracedSpline spline{fixture().points, false};
  vm::TracedDouble t = vm::TracedDouble::input("t");
  math3d::Vector2_T<vm::Traced> point = spline.point(t);
};

TracedFixture const& tracedFixture() {
  static TracedFixture const f;
  return f;
}

void BM_TracedPointRecord(benchmark::State& state) {
  TracedFixture const& f = tracedFixture();
  for (auto _ : state) {
    auto p = f.spline.point(f.t);
    benchmark::DoNotOptimize(p);
  }
}

void BM_TracedPointEvaluate(benchmark::State& state) {
  Fixture const& numeric = fixture();
  TracedFixture const& f = tracedFixture();
  vm::BindingSet bindings;
  auto traced = [&](double t) {
    bindings.bind("t", t);
    return Vec2(f.point.x().evaluate(bindings), f.point.y().evaluate(bindings));
  };
  auto library = [&](double t) { return numeric.spline.point(t); };
  if (!agrees(state, numeric.ts, traced, library, 0.0, "evaluated trace differs")) return;
  std::size_t k = 0;
  for (auto _ : state) {
    bindings.bind("t", numeric.ts[k++ & (kParams - 1)]);
    double x = f.point.x().evaluate(bindings);
    double y = f.point.y().evaluate(bindings);
    benchmark::DoNotOptimize(x);
    benchmark::DoNotOptimize(y);
  }
}

void BM_TracedPointGeneratedC(benchmark::State& state) {
  Fixture const& numeric = fixture();
  TracedFixture const& f = tracedFixture();
  std::unique_ptr<CompiledC> compiled;
  try {
    kelm_math::comp_trace::GeneratedCode code = kelm_math::comp_trace::generateCFunctionCode(
        "curve_point", {"t"}, {f.point.x(), f.point.y()});
    compiled = std::make_unique<CompiledC>(code, "curve_point");
  } catch (std::exception const& e) {
    state.SkipWithError(e.what());
    return;
  }
  auto generated = [&](double t) {
    double out[2];
    (*compiled)(&t, out);
    return Vec2(out[0], out[1]);
  };
  auto library = [&](double t) { return numeric.spline.point(t); };
  if (!agrees(state, numeric.ts, generated, library, 0.0, "generated C differs")) return;
  std::size_t k = 0;
  double out[2];
  for (auto _ : state) {
    (*compiled)(&numeric.ts[k++ & (kParams - 1)], out);
    benchmark::DoNotOptimize(out);
  }
}

}  // namespace

BENCHMARK(BM_BuildCubicSpline)->Arg(100);
BENCHMARK(BM_BuildPchip)->Arg(100);
BENCHMARK(BM_EigenInterpolate)->Arg(100);
BENCHMARK(BM_CubicPoint);
BENCHMARK(BM_FloorPoint);
BENCHMARK(BM_EigenPoint);
BENCHMARK(BM_CubicNormal);
BENCHMARK(BM_FloorNormal);
BENCHMARK(BM_EigenNormal);
BENCHMARK(BM_PartLookupKernel);
BENCHMARK(BM_PartLookupUpperBound);
BENCHMARK(BM_PartCastelKernel);
BENCHMARK(BM_PartHorner);
BENCHMARK(BM_TracedPointRecord);
BENCHMARK(BM_TracedPointEvaluate);
BENCHMARK(BM_TracedPointGeneratedC);
BENCHMARK_MAIN();
