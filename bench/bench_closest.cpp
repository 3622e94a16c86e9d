// Closest points: on one planar cubic Bezier curve, and on a 100-segment
// planar cubic spline, both by the search over every segment and by the walk
// from a nearby start parameter. Queries lie near the curve: curve points at
// random parameters, moved by random offsets, generated once and cycled.
//
// The yardstick is a brute force written here: the squared distance sampled
// 64 times per segment (Horner on power-basis coefficients converted once
// from the library's own control points), each sampled local minimum refined
// by golden-section search. Before a library call is timed, its answers on
// every query are checked against it once: the point returned must lie on
// the curve at the parameter returned, and must be no farther from the query
// than the brute force's by more than 1e-12 of the curve's size. A violation
// skips the benchmark with an error naming the query.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "vela/math.hpp"

namespace {

namespace vm = vela::math;
using Vec2 = math3d::Vector2_T<vm::Numeric>;
using Bezier = vm::BezierCurve<vm::Numeric, math3d::Vector2_T>;
using CubicSpline = vm::InterpolatingCubicSpline<vm::Numeric, math3d::Vector2_T>;

constexpr std::size_t kQueries = 1024;  // a power of two: cycled with a mask
constexpr int kSamples = 64;            // per segment
constexpr int kGoldenSteps = 40;        // shrinks a two-sample bracket below 1e-9
constexpr double kTolerance = 1e-12;    // of the curve's size

// Piecewise cubic in the power basis, over x in [0, segments]: segment
// floor(x) (the last one at x = segments) at local parameter x - floor(x).
// The brute force evaluates through this, never through the library.
class PowerCubics {
 public:
  // Four 2-D control points (8 values) per segment, as the spline stores them.
  explicit PowerCubics(std::vector<double> const& control)
      : segments_(static_cast<int>(control.size() / 8)), coeffs_(control.size()) {
    for (std::size_t seg = 0; seg < control.size() / 8; ++seg)
      for (std::size_t d = 0; d < 2; ++d) {
        double const* p = &control[seg * 8 + d];
        double* a = &coeffs_[seg * 8 + d];
        a[0] = p[0];
        a[2] = 3.0 * (p[2] - p[0]);
        a[4] = 3.0 * (p[0] - 2.0 * p[2] + p[4]);
        a[6] = p[6] - p[0] + 3.0 * (p[2] - p[4]);
      }
    double lo[2] = {control[0], control[1]}, hi[2] = {control[0], control[1]};
    for (std::size_t k = 0; k < control.size(); ++k) {
      lo[k % 2] = std::min(lo[k % 2], control[k]);
      hi[k % 2] = std::max(hi[k % 2], control[k]);
    }
    size_ = std::hypot(hi[0] - lo[0], hi[1] - lo[1]);
  }

  int segments() const { return segments_; }
  // Diagonal of the control points' bounding box.
  double size() const { return size_; }

  Vec2 point(double x) const {
    int seg = std::min(static_cast<int>(x), segments_ - 1);
    double u = x - seg;
    double const* a = &coeffs_[static_cast<std::size_t>(seg) * 8];
    return Vec2(((a[6] * u + a[4]) * u + a[2]) * u + a[0],
                ((a[7] * u + a[5]) * u + a[3]) * u + a[1]);
  }

  double distance2(double x, Vec2 const& q) const { return (point(x) - q).norm2(); }

 private:
  int segments_;
  std::vector<double> coeffs_;
  double size_ = 0.0;
};

std::vector<double> controlValues(std::vector<Vec2> const& points) {
  std::vector<double> out;
  for (Vec2 const& p : points) out.insert(out.end(), {p.x(), p.y()});
  return out;
}

// The minimum of the squared distance on [a, b], no larger than start.
double goldenSection(PowerCubics const& c, Vec2 const& q, double a, double b, double start) {
  double const r = 0.5 * (std::sqrt(5.0) - 1.0);
  double x1 = b - r * (b - a), x2 = a + r * (b - a);
  double f1 = c.distance2(x1, q), f2 = c.distance2(x2, q);
  for (int step = 0; step < kGoldenSteps; ++step) {
    if (f1 < f2) {
      b = x2, x2 = x1, f2 = f1;
      x1 = b - r * (b - a);
      f1 = c.distance2(x1, q);
    } else {
      a = x1, x1 = x2, f1 = f2;
      x2 = a + r * (b - a);
      f2 = c.distance2(x2, q);
    }
  }
  return std::min({start, f1, f2});
}

// Distance from q to the curve: every local minimum of the samples (ends
// included) refined within its two neighbouring sample intervals.
double bruteForce(PowerCubics const& c, Vec2 const& q) {
  int last = c.segments() * kSamples;
  double const h = 1.0 / kSamples;
  double previous = HUGE_VAL, current = c.distance2(0.0, q), best = HUGE_VAL;
  for (int j = 0; j <= last; ++j) {
    double next = j < last ? c.distance2((j + 1) * h, q) : HUGE_VAL;
    if (current <= previous && current <= next)
      best = std::min(best, goldenSection(c, q, std::max(0.0, (j - 1) * h),
                                          std::min(double(c.segments()), (j + 1) * h), current));
    previous = current, current = next;
  }
  return std::sqrt(best);
}

struct Query {
  Vec2 q;
  double t0;  // start of the walk (splines only)
};

// Offsets of random direction and a length uniform in [0, reach].
Vec2 offset(std::mt19937& gen, double reach) {
  std::uniform_real_distribution<double> angle(0.0, 2.0 * std::acos(-1.0)), length(0.0, reach);
  double a = angle(gen), r = length(gen);
  return Vec2(r * std::cos(a), r * std::sin(a));
}

// An S-shaped cubic whose inner bends give queries up to three stationary
// points of the distance.
struct BezierFixture {
  std::vector<Vec2> control{Vec2(0.0, 0.0), Vec2(1.0, 3.0), Vec2(3.0, -2.0), Vec2(4.0, 1.0)};
  Bezier curve{control};
  PowerCubics cubics{controlValues(control)};
  std::vector<Query> queries;

  BezierFixture() {
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    for (std::size_t k = 0; k < kQueries; ++k)
      queries.push_back({cubics.point(uniform(gen)) + offset(gen, 0.1 * cubics.size()), 0.0});
  }
};

BezierFixture const& bezierFixture() {
  static BezierFixture const f;
  return f;
}

// A widening spiral with noise, 101 points: 100 segments whose chords and
// curvature vary.
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

// The spiral's turns lie about 1.57 apart: offsets up to 0.15 keep a query
// nearest to its own turn, so that the walk's local answer is the global one.
struct SplineFixture {
  CubicSpline spline{spiral(101), false};
  PowerCubics cubics{spline.bezierControlPoints()};
  std::vector<Query> queries;

  SplineFixture() {
    std::mt19937 gen(13);
    std::uniform_real_distribution<double> uniform(0.0, 1.0), spread(0.5, 1.5);
    std::vector<double> const& knots = spline.knots();
    double spacing = 1.0 / static_cast<double>(cubics.segments());
    for (std::size_t k = 0; k < kQueries; ++k) {
      double t = uniform(gen);
      double shift = (uniform(gen) < 0.5 ? -1.0 : 1.0) * spread(gen) * spacing;
      Vec2 q = cubics.point(sampleCoordinate(knots, t)) + offset(gen, 0.15);
      queries.push_back({q, std::clamp(t + shift, 0.0, 1.0)});
    }
  }

  // The power-basis coordinate of global parameter t.
  static double sampleCoordinate(std::vector<double> const& knots, double t) {
    auto above = std::upper_bound(knots.begin(), knots.end(), t);
    auto last = static_cast<std::ptrdiff_t>(knots.size()) - 2;
    auto seg =
        static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(above - knots.begin() - 1, 0, last));
    return static_cast<double>(seg) + (t - knots[seg]) / (knots[seg + 1] - knots[seg]);
  }
  double sampleCoordinate(double t) const { return sampleCoordinate(spline.knots(), t); }
};

SplineFixture const& splineFixture() {
  static SplineFixture const f;
  return f;
}

// Empty when every answer of solve (parameter t, point out) lies on the curve
// at t and is as near as the brute force's; otherwise the first violation,
// with the number of them. toX maps t to the power-basis coordinate.
template <class Solve, class ToX>
std::string verify(PowerCubics const& c, std::vector<Query> const& queries, Solve solve, ToX toX,
                   char const* what) {
  double tol = kTolerance * c.size();
  std::string first;
  int violations = 0;
  for (std::size_t k = 0; k < queries.size(); ++k) {
    Vec2 const& q = queries[k].q;
    Vec2 out;
    double t = solve(queries[k], out);
    double library = (out - q).norm(), reference = bruteForce(c, q);
    double offCurve = (out - c.point(toX(t))).norm();
    if (library <= reference + tol && offCurve <= tol && t >= 0.0 && t <= 1.0) continue;
    if (violations++ > 0) continue;
    char line[320];
    std::snprintf(line, sizeof line,
                  "%s: query %zu (%.17g, %.17g): t = %.17g at distance %.17g, brute force "
                  "%.17g (%.3g farther), point %.3g off the curve at t",
                  what, k, q.x(), q.y(), t, library, reference, library - reference, offCurve);
    first = line;
  }
  if (violations == 0) return first;
  first +=
      "; " + std::to_string(violations) + " of " + std::to_string(queries.size()) + " queries fail";
  std::fprintf(stderr, "%s\n", first.c_str());
  return first;
}

// Skips the benchmark with the verification's message, if any.
bool passes(benchmark::State& state, std::string const& error) {
  if (error.empty()) return true;
  state.SkipWithError(error.c_str());
  return false;
}

// ---- One cubic Bezier curve ----

void BM_BezierClosest(benchmark::State& state) {
  BezierFixture const& f = bezierFixture();
  static std::string const error = verify(
      f.cubics, f.queries,
      [&](Query const& q, Vec2& out) { return f.curve.closestPoint(q.q, out); },
      [](double t) { return t; }, "Bezier closestPoint");
  if (!passes(state, error)) return;
  std::size_t k = 0;
  Vec2 out;
  for (auto _ : state) {
    double t = f.curve.closestPoint(f.queries[k++ & (kQueries - 1)].q, out);
    benchmark::DoNotOptimize(t);
    benchmark::DoNotOptimize(out);
  }
}

void BM_BezierBruteForce(benchmark::State& state) {
  BezierFixture const& f = bezierFixture();
  std::size_t k = 0;
  for (auto _ : state) {
    double d = bruteForce(f.cubics, f.queries[k++ & (kQueries - 1)].q);
    benchmark::DoNotOptimize(d);
  }
}

// ---- 100-segment cubic spline ----

void BM_SplineClosestGlobal(benchmark::State& state) {
  SplineFixture const& f = splineFixture();
  static std::string const error = verify(
      f.cubics, f.queries,
      [&](Query const& q, Vec2& out) { return f.spline.closestPoint(q.q, out); },
      [&](double t) { return f.sampleCoordinate(t); }, "spline closestPoint (global)");
  if (!passes(state, error)) return;
  std::size_t k = 0;
  Vec2 out;
  for (auto _ : state) {
    double t = f.spline.closestPoint(f.queries[k++ & (kQueries - 1)].q, out);
    benchmark::DoNotOptimize(t);
    benchmark::DoNotOptimize(out);
  }
}

void BM_SplineClosestWalk(benchmark::State& state) {
  SplineFixture const& f = splineFixture();
  static std::string const error = verify(
      f.cubics, f.queries,
      [&](Query const& q, Vec2& out) { return f.spline.closestPoint(q.q, q.t0, out); },
      [&](double t) { return f.sampleCoordinate(t); }, "spline closestPoint (walk)");
  if (!passes(state, error)) return;
  std::size_t k = 0;
  Vec2 out;
  for (auto _ : state) {
    Query const& q = f.queries[k++ & (kQueries - 1)];
    double t = f.spline.closestPoint(q.q, q.t0, out);
    benchmark::DoNotOptimize(t);
    benchmark::DoNotOptimize(out);
  }
}

void BM_SplineBruteForce(benchmark::State& state) {
  SplineFixture const& f = splineFixture();
  std::size_t k = 0;
  for (auto _ : state) {
    double d = bruteForce(f.cubics, f.queries[k++ & (kQueries - 1)].q);
    benchmark::DoNotOptimize(d);
  }
}

}  // namespace

BENCHMARK(BM_BezierClosest);
BENCHMARK(BM_BezierBruteForce);
BENCHMARK(BM_SplineClosestGlobal);
BENCHMARK(BM_SplineClosestWalk);
BENCHMARK(BM_SplineBruteForce)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
