// The curve kernels and closest points: against references written out in
// fuzz/curve_reference.h and a brute-force search, and on the four paths.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "curves/CasteljauInterpolationOp.hpp"
#include "curves/ClosestPointOps.hpp"
#include "curves/IndexOfLowerBoundOp.hpp"
#include "frame/TracedCall.hpp"
#include "fuzz/curve_reference.h"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "support/TracedNodes.hpp"
#include "vela/math/BezierCurve.hpp"
#include "vela/math/InterpolatingCubicSpline.hpp"
#include "vela/math/InterpolatingPchip.hpp"
#include "zeph_core/ckernels.h"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using math3d::Vector2_T;
using math3d::Vector3_T;
using vela::test::kInf;
using vela::test::kNaN;
using vela::test::sameBits;

namespace kernels_test {

TEST(Kernels, CastelEvalLevelsEndsBoundsAndOverlap) {
  // Any degree and dimension: the levels (1 - t) a + t b written out, bit
  // for bit, in place and shifted into the points too.
  for (unsigned n : {1u, 2u, 3u, 4u, 5u, 9u, 34u})
    for (unsigned dim : {1u, 2u, 3u, 4u}) {
      if ((n - 1) * dim > 100) continue;
      std::vector<double> p = vela::test::randomDoubles(n * dim, 7 * n + dim);
      for (double t : {0.3, -1.7, 2.5, 1.0, 0.0}) {
        std::vector<double> w = p, out(dim);
        for (unsigned level = n - 1; level > 0; --level)
          for (unsigned i = 0; i < level * dim; ++i) w[i] = (1.0 - t) * w[i] + t * w[i + dim];
        zeph_core_math_castelEval(n, dim, p.data(), out.data(), t);
        for (unsigned k = 0; k < dim; ++k) EXPECT_TRUE(sameBits(out[k], w[k])) << n << dim << t;
        for (unsigned shift : {0u, n > 1 ? 1u : 0u}) {
          std::vector<double> q = p;
          zeph_core_math_castelEval(n, dim, q.data(), q.data() + shift, t);
          for (unsigned k = 0; k < dim; ++k) EXPECT_TRUE(sameBits(q[shift + k], w[k])) << shift;
        }
      }
    }
  // The ends are the end points as given, where the levels would not keep
  // them: an infinite neighbour, a negative zero.
  double const ends[] = {kInf, 1.0, -0.0}, starts[] = {-0.0, 1.0, kInf};
  double out[3] = {7, 7, 7};
  for (unsigned n : {2u, 3u}) {
    zeph_core_math_castelEval(n, 1, ends + 3 - n, out, 1.0);
    EXPECT_TRUE(sameBits(out[0], -0.0)) << n;
    zeph_core_math_castelEval(n, 1, starts, out, 0.0);
    EXPECT_TRUE(sameBits(out[0], -0.0)) << n;
  }
  zeph_core_math_castelEval(1, 1, ends, out, 0.4);
  EXPECT_EQ(out[0], kInf);
  // Outside the work storage, or no points: zeros, nothing read (ASan).
  std::vector<double> big(102 * 3, 1.0);
  for (unsigned n : {0u, 35u, 0xffffffffu}) {
    std::fill(out, out + 3, 7.0);
    zeph_core_math_castelEval(n, 3, n ? big.data() : nullptr, out, 0.5);
    EXPECT_TRUE(out[0] == 0.0 && out[1] == 0.0 && out[2] == 0.0) << n;
  }
  zeph_core_math_castelEval(51, 2, big.data(), out, 0.5);  // 100 work values fit
  EXPECT_EQ(out[0], 1.0);
  zeph_core_math_castelEval(3, 0, big.data(), out, 0.5);
  EXPECT_EQ(out[0], 1.0);
}

TEST(Kernels, IndexOfLowerBoundAndCasteljauInterpolationOnThreePaths) {
  double const three[] = {0.0, 0.5, 1.0};  // the first as the one knot when n = 1
  std::tuple<unsigned, double, int> const rows[] = {
      {3, -0.1, -1}, {3, 0.0, 0}, {3, -0.0, 0}, {3, 0.25, 0},   {3, 0.5, 1},
      {3, 1.0, 1},   {3, 1.2, 2}, {3, kInf, 2}, {3, -kInf, -1}, {3, kNaN, 0},
      {1, 1.0, 0},   {1, -1, -1}, {0, 1.0, -1}};
  for (auto [n, x, index] : rows)
    EXPECT_EQ(zeph_core_math_indexOfLowerBound(n, n ? three : nullptr, x), index) << n << x;
  // Traced: a node even on constants; the knot count is not compared.
  std::vector<ct::TracedDouble> k3 = {0.0, 0.5, 1.0}, k4 = {0.0, 0.5, 1.0, 2.0};
  ct::TracedInt index = vm::indexOfLowerBound(3, k3.data(), ct::TracedDouble(0.7));
  auto const* search = vela::test::scalarNodeOf<vm::IndexOfLowerBoundOp>(index);
  ASSERT_NE(search, nullptr);
  EXPECT_EQ(search->description(), "IndexOfLowerBound");
  EXPECT_EQ(
      search->compare_(*vm::indexOfLowerBound(4, k4.data(), ct::TracedDouble(0.7)).operation()), 0);
  auto nodeOf = [](unsigned count, unsigned degree, unsigned dim) {
    std::vector<ct::TracedDouble> v(count), o(dim);
    vm::castelInterpolate(count, degree, dim, v.data(), ct::TracedInt(0), ct::TracedDouble(0.5),
                          o.data());
    return o[0].operation()->input(0);
  };
  auto node = nodeOf(6, 2, 2);
  EXPECT_EQ(node->description(), "CasteljauInterpolation");
  // Value count first, then degree, then dimension.
  EXPECT_EQ(node->compare_(*nodeOf(6, 2, 2)), 0);
  EXPECT_EQ(node->compare_(*nodeOf(8, 1, 2)), -1);
  EXPECT_EQ(node->compare_(*nodeOf(6, 1, 3)), 1);
  EXPECT_EQ(node->compare_(*nodeOf(6, 2, 1)), 1);

  // Three segments of degree 2, and the same values cut to 17 (two whole
  // segments): every index, in range or not, reads inside. Then knots and
  // the values to look up in them.
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    std::vector<S> values = in.doubles(0, 18), knots = in.doubles(19, 4), out(4);
    vm::castelInterpolate(18, 2, 2, values.data(), in.i(0), in.d(18), out.data());
    vm::castelInterpolate(17, 2, 2, values.data(), in.i(0), in.d(18), out.data() + 2);
    for (std::size_t k = 23; k < in.doubleCount(); ++k)
      out.push_back(S(vm::indexOfLowerBound(4, knots.data(), in.d(k))));
    return out;
  };
  std::vector<double> const lookups[] = {
      {0.0, 0.5, 1.0, 4.0, -0.1, 0.0, 0.5, 1.0, 4.0, 5.0, kNaN, -0.0},
      {-3.0, -2.0, -2.0, 7.0, -2.0, -2.5, 7.0, 6.9, kInf, -kInf, 0.0, 1e300}};
  std::vector<double> values = vela::test::randomDoubles(18, 7);
  std::vector<vela::test::Case> cases;
  for (int index : {0, 2, 3, -1, 1000, std::numeric_limits<int>::min()})
    for (double t : {0.0, 1.0, 0.3, 1.5, kNaN}) {
      cases.push_back({values, {index}});
      cases.back().doubles.push_back(t);
      auto const& lookup = lookups[cases.size() % 2];
      cases.back().doubles.insert(cases.back().doubles.end(), lookup.begin(), lookup.end());
    }
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_EQ(vela::test::occurrences(result.code, "zeph_core_math_castelEval(3, 2, "), 2u);
  EXPECT_NE(result.code.find(" = zeph_core_math_indexOfLowerBound(4, &spd["), std::string::npos);
  double out[2] = {7, 7};
  vm::castelInterpolate(18, 2, 2, values.data(), 99, 0.0, out);
  EXPECT_EQ(out[0], values[12]);
  vm::castelInterpolate(18, 2, 2, values.data(), -5, 1.0, out);
  EXPECT_EQ(out[1], values[5]);
  vm::castelInterpolate(5, 2, 2, values.data(), 0, 0.5, out);  // less than one segment
  EXPECT_TRUE(out[0] == 0.0 && out[1] == 0.0);
}

TEST(Kernels, ClosestPointOnBezierFollowsItsRootSearchBitForBit) {
  // Arbitrary coefficients reach more of the search than a curve's would:
  // clusters, ends at zero, rounding noise around zero.
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> coord(-3.0, 3.0);
  std::vector<double> p(7 * 3), q(3), dot(12), elevated(12 * 3), out(3), expected(3);
  for (unsigned n = 1; n <= 6; ++n)
    for (int trial = 0; trial < 1000; ++trial) {
      unsigned dim = 1 + trial % 3;
      for (auto* v : {&p, &q, &dot, &elevated})
        for (double& x : *v) x = trial % 4 == 0 ? std::round(coord(rng)) : coord(rng);
      if (trial % 3 == 2) {  // roots clustered at r: near-multiple roots
        // The product of the factors (t - root), each (1 - t)(-root) + t(1 - root),
        // in the Bernstein basis times binomials, where a product is a convolution.
        std::vector<double> a(2 * n, 0.0);
        a[0] = 1.0;
        double r = std::uniform_real_distribution(0.0, 1.0)(rng), binomial = 1.0;
        for (unsigned j = 1; j < 2 * n; ++j) {
          double root = r + (trial % 2 ? 1e-3 : 1e-7) * coord(rng);
          for (unsigned i = j; i > 0; --i) a[i] = (1.0 - root) * a[i - 1] - root * a[i];
          a[0] *= -root;
        }
        for (unsigned k = 0; k < 2 * n; ++k, binomial = binomial * (2 * n - k) / k)
          dot[k] = a[k] / binomial;
      }
      if (trial % 5 == 1 || trial % 7 == 2 || trial % 3 == 2 || trial >= 998)
        std::fill(elevated.begin(), elevated.end(), 0.0);  // the coefficients are dot's
      if (trial % 5 == 1) dot[0] = 0.0;
      if (trial % 7 == 2) dot[2 * n - 1] = 0.0;
      for (std::size_t k = 0; k < 2 * n; ++k) {
        if (trial == 998) dot[k] = k % 2 ? -1e-300 : 1e-300;
        if (trial == 999)  // 2n - 1 roots at 0.3, kept apart only by rounding
          dot[k] = std::pow(0.7, double(k)) * std::pow(-0.3, double(2 * n - 1 - k));
      }
      double t = zeph_core_math_findClosestPointOnBezier(n, dim, p.data(), dot.data(),
                                                         elevated.data(), q.data(), out.data());
      EXPECT_TRUE(sameBits(t, ref_closestOnBezier(n, dim, p.data(), dot.data(), elevated.data(),
                                                  q.data(), expected.data())))
          << n << " " << trial;
      EXPECT_EQ(out, expected);
    }
  // Outside the contract: zeros, nothing read.
  double data[200] = {1.0}, out3[3] = {7, 7, 7};
  EXPECT_EQ(zeph_core_math_findClosestPointOnBezier(7, 3, data, data, data, data, out3), 0.0);
  EXPECT_EQ(out3[0], 0.0);
  EXPECT_EQ(zeph_core_math_findClosestPointOnSpline(3, 2, 0, 0, 0, data, data, data, data, data,
                                                    data, out3),
            0.0);
}

std::vector<double> gCalls;
double (*gF)(double);
double recorded(double x) { return gCalls.push_back(x), gF(x); }

double parabola(double x) { return (x - 0.3) * (x - 0.3); }
double kinked(double x) { return std::fabs(x - 0.71) + 0.1 * x; }
double wave(double x) { return std::cos(3.0 * x) + 0.1 * x; }
double steps(double x) { return std::floor(4.0 * x) * std::floor(4.0 * x - 3.0); }
double quartic(double x) { return ((x - 1.0) * x * x - 0.5) * x; }
double plateaus(double x) { return std::floor(std::fabs(8.0 * x - 3.0)); }
double well(double x) { return x * x > 0.25 ? 1.0 : 0.0; }
double stairs(double x) { return std::floor(3.0 * std::fabs(x - 0.3)) + std::floor(5.0 * x) * 0.5; }

TEST(Kernels, FuncMinSearch1DFollowsBrentBitForBit) {
  struct Row {
    double (*f)(double);
    double a, b;
  } const rows[] = {
      {parabola, 0.0, 1.0},  {kinked, 0.0, 2.0},   {wave, 0.5, 1.5},      {wave, 2.5, 3.0},
      {steps, -1.0, 2.0},    {quartic, -1.0, 2.0}, {std::exp, -3.0, 1.0}, {quartic, 0.25, 0.26},
      {plateaus, -1.0, 2.0}, {plateaus, 0.0, 0.7}, {plateaus, 0.3, 1e6},  {well, -3.0, 2.0},
      {well, 0.0, 5.0},      {stairs, -2.0, 3.0},  {stairs, -0.5, 0.9},   {std::cos, -1.0, 7.0}};
  for (Row const& row : rows) {
    gF = row.f;
    gCalls.clear();
    zeph_core_MinSearchResult expected = ref_minSearch(recorded, row.a, row.b);
    std::vector<double> calls = gCalls;
    gCalls.clear();
    zeph_core_MinSearchResult r = zeph_core_FuncMinSearch1D(recorded, row.a, row.b);
    EXPECT_EQ(gCalls, calls) << row.a;
    EXPECT_TRUE(sameBits(r.x, expected.x) && sameBits(r.fx, expected.fx)) << row.a;
  }
  // Independently of the description: the start, a golden step, the minimum.
  gF = parabola;
  gCalls.clear();
  EXPECT_NEAR(zeph_core_FuncMinSearch1D(recorded, 0.0, 1.0).x, 0.3, 1e-9);
  EXPECT_EQ(gCalls[0], 1.0);
  EXPECT_EQ(gCalls[1], 1.0 - 0.381966);
  EXPECT_LE(gCalls.size(), 10u);
  EXPECT_NEAR(zeph_core_FuncMinSearch1D(kinked, 0.0, 2.0).x, 0.71, 1e-8);
}

using V2 = Vector2_T<vm::Numeric>;
using V3 = Vector3_T<vm::Numeric>;

/// The smallest distance from q to f over [0, 1]: dense samples, each
/// neighbourhood refined by golden sections.
template <class F, class V>
double referenceDistance(F const& f, V const& q, int samples = 150) {
  auto dist = [&](double t) { return (f(t) - q).norm(); };
  double best = std::min(dist(0.0), dist(1.0)), h = 1.0 / samples;
  for (int i = 0; i <= samples; ++i) {
    double lo = std::max(0.0, (i - 1) * h), hi = std::min(1.0, (i + 1) * h);
    for (int k = 0; k < 60; ++k) {
      double m1 = lo + 0.381966 * (hi - lo), m2 = hi - 0.381966 * (hi - lo);
      bool left = dist(m1) < dist(m2);
      (left ? hi : lo) = left ? m2 : m1;
    }
    best = std::min(best, dist(0.5 * (lo + hi)));
  }
  return best;
}

template <class V>
V randomPoint(std::mt19937& rng) {
  V p;
  for (int k = 0; k < V::dimension; ++k) p.coord(k, std::uniform_real_distribution(-3.0, 3.0)(rng));
  return p;
}

/// The closest point's parameter, checked: in [0, 1], on the curve, never
/// farther than the reference.
template <class Curve, class V>
double checkedClosest(Curve const& curve, V const& q) {
  V out;
  double t = curve.closestPoint(q, out);
  EXPECT_TRUE(t >= 0.0 && t <= 1.0 && out == curve.point(t)) << t;
  EXPECT_LE((out - q).norm(),
            referenceDistance([&](double s) { return curve.point(s); }, q) + 6e-12);
  return t;
}

template <template <class> class Vec>
void checkRandomBeziers(unsigned seed) {
  using V = Vec<vm::Numeric>;
  std::mt19937 rng(seed);
  for (unsigned degree = 1; degree <= 6; ++degree)
    for (int trial = 0; trial < 6; ++trial) {
      std::vector<V> points(degree + 1);
      for (V& p : points) p = randomPoint<V>(rng);
      vm::BezierCurve<vm::Numeric, Vec> curve(points);
      for (V const& q : {randomPoint<V>(rng), randomPoint<V>(rng), curve.point(0.37),
                         curve.point(-0.4), curve.point(1.3), curve.point(0.0)})
        checkedClosest(curve, q);
    }
}

TEST(ClosestPointOnBezier, NeverWorseThanTheBruteForceReference) {
  checkRandomBeziers<Vector2_T>(5);
  checkRandomBeziers<Vector3_T>(6);
  using Curve2 = vm::BezierCurve<vm::Numeric, Vector2_T>;
  V3 c(-1.3587493896484375, -1.3587493896484375, -1.3587493896484375);
  struct Row {
    std::vector<V2> points;
    V2 q;
  } const rows[] = {
      // A cusp, queried around it.
      {{V2(0, 0), V2(1, 1), V2(0, 1), V2(1, 0)}, V2(0.5, 0.75)},
      {{V2(0, 0), V2(1, 1), V2(0, 1), V2(1, 0)}, V2(0.45, 0.8)},
      // (x, x^2) from (0, 1/2): a triple root at the vertex, the nearest point.
      {{V2(-1, 1), V2(0, -1), V2(1, 1)}, V2(0, 0.5)},
      // A symmetric wave from its axis: tied mirror minima, near double roots.
      {{V2(-1, 0), V2(-0.5, 1.0 / 3), V2(0, -1.0 / 3), V2(0.5, 1.0 / 3), V2(1, 0)}, V2(0, 1)},
      {{V2(-1, 0), V2(-0.5, 1.0 / 3), V2(0, -1.0 / 3), V2(0.5, 1.0 / 3), V2(1, 0)}, V2(0, -0.3)},
  };
  for (Row const& row : rows) checkedClosest(Curve2(row.points), row.q);
  // Three control points in one place: a double root at t = 1 beside the
  // minimum's simple root, which Newton must not trade for it.
  vm::BezierCurve<vm::Numeric, Vector3_T> bent({V3(63.5, -0.093, -128), c, c, c});
  V3 beside(c.x(), c.y() + 2.796875, c.z()), out3;
  EXPECT_LT(checkedClosest(bent, beside), 1.0);
  // All coefficients vanish: t = 0. Ends win ties, t = 0 first.
  vm::BezierCurve<vm::Numeric, Vector3_T> point({V3(1, 2, 3), V3(1, 2, 3), V3(1, 2, 3)});
  EXPECT_EQ(point.closestPoint(V3(0, 0, 0), out3), 0.0);
  Curve2 line({V2(0, 0), V2(2, 0)});
  V2 out;
  for (auto [q, t] : {std::pair{V2(-1, 1), 0.0}, {V2(1, 5), 0.5}, {V2(3, -1), 1.0}})
    EXPECT_EQ(line.closestPoint(q, out), t);
  // Non-finite data or queries stay in range; a NaN distance (t = 0) loses.
  double t = Curve2({V2(0, 0), V2(kNaN, 1), V2(2, 0)}).closestPoint(V2(1, 1), out);
  EXPECT_TRUE(t >= 0.0 && t <= 1.0);
  t = line.closestPoint(V2(kInf, 0), out);
  EXPECT_TRUE(t >= 0.0 && t <= 1.0);
  EXPECT_EQ(Curve2({V2(kNaN, 0), V2(1, 2), V2(2, -1), V2(3, 1)}).closestPoint(V2(3, 1), out), 1.0);
  EXPECT_TRUE(out == V2(3, 1));
}

std::vector<V2> const kLoop = {V2(0, 0), V2(2, -0.5),  V2(4, 0.5), V2(5, 2.5),
                               V2(3, 4), V2(0.5, 3.5), V2(-1, 2)};
// PCHIP through these: straight sides whose tangent vanishes at the corners.
std::vector<V2> const kSquare = {V2(0, 0), V2(1, 0), V2(1, 1), V2(0, 1)};

template <class Spline>
void checkWalks(Spline const& spline, std::vector<V2> queries) {
  unsigned segments = static_cast<unsigned>(spline.numBezierCurves());
  auto const& cp = spline.bezierControlPoints();
  std::vector<double> d1;
  for (unsigned s = 0; s < segments; ++s)
    for (unsigned i = 0; i < 6; ++i) d1.push_back(3.0 * (cp[8 * s + i + 2] - cp[8 * s + i]));
  // Just past each knot: the end's gap is tiny but not nil, the walk goes on.
  for (std::size_t k = 1; k + 1 < spline.knots().size(); ++k)
    queries.push_back(spline.point(spline.knots()[k] + 3e-13));
  for (V2 const& q : queries)
    for (unsigned start = 0; start < segments; ++start) {
      V2 out, expected;
      auto walk = [&](auto kernel, V2& at) {  // the library's or the reference
        return kernel(3, 2, segments, spline.isClosed(), start, spline.knots().data(), cp.data(),
                      d1.data(), spline.bezierCurve(0).dotCoeffs(),
                      spline.bezierCurve(0).elevatedDerivPoints(), q.values(), at.values());
      };
      EXPECT_TRUE(
          sameBits(walk(zeph_core_math_findClosestPointOnSpline, out), walk(ref_walk, expected)))
          << q.x() << " " << q.y() << " " << start;
      EXPECT_TRUE(out == expected);
    }
}

TEST(ClosestPointOnSpline, GlobalSearchAndWalks) {
  std::mt19937 rng(3);
  std::vector<V2> queries = {V2(-3, -1),    V2(-3, 2.5),  V2(1.2, 0.5), V2(-0.2, 0.5),
                             V2(1.5, -0.5), V2(0.5, 0.5), V2(1, 1),     V2(kNaN, 0)};
  for (int i = 0; i < 8; ++i) queries.push_back(randomPoint<V2>(rng));
  for (bool closed : {false, true}) {
    vm::InterpolatingCubicSpline<vm::Numeric, Vector2_T> spline(kLoop, closed);
    checkWalks(spline, queries);
    checkWalks(vm::InterpolatingPchip<vm::Numeric, Vector2_T>(kSquare, closed), queries);
    for (int i = 0; i < 8; ++i) {
      V2 q = i < 6 ? queries[8 + i] : spline.point(spline.knots()[2 * i - 8]), out, walked;
      vm::IdxBoundsTag<vm::Numeric> tag;
      double T = spline.closestPoint(q, out, tag);
      EXPECT_LE((out - q).norm(),
                referenceDistance([&](double t) { return spline.point(t); }, q, 2000) + 6e-12);
      EXPECT_TRUE(out == spline.point(T));
      EXPECT_EQ(T, tag.lower + (tag.upper - tag.lower) * tag.param);
      EXPECT_NEAR(spline.closestPoint(q, T, walked), T, 1e-12);
    }
  }
  // The class walk starts on t0's segment: across the wrap backward and
  // forward; open ends stop it; past a square's corner it goes on.
  vm::InterpolatingCubicSpline<vm::Numeric, Vector2_T> closed(kLoop, true), open(kLoop, false);
  int last = static_cast<int>(closed.numBezierCurves()) - 1;
  V2 out;
  vm::IdxBoundsTag<vm::Numeric> tag;
  double mid = 0.5 * (closed.knots()[last] + 1.0);
  EXPECT_GT(closed.closestPoint(closed.point(mid) + V2(-0.2, -0.1), 0.01, out, tag),
            closed.knots()[last]);
  EXPECT_EQ(tag.index, last);
  EXPECT_LT(closed.closestPoint(closed.point(0.5 * closed.knots()[1]) + V2(0, -0.3), mid, out, tag),
            closed.knots()[1]);
  EXPECT_EQ(tag.index, 0);
  EXPECT_EQ(open.closestPoint(V2(-3, -1), 0.2, out), 0.0);
  EXPECT_EQ(open.closestPoint(V2(-3, 2.5), 0.75, out), 1.0);
  vm::InterpolatingPchip<vm::Numeric, Vector2_T> square(kSquare, true);
  EXPECT_EQ(square.closestPoint(V2(1.5, -0.5), 0.1, out), 0.25);
  EXPECT_TRUE(out == V2(1, 0));
  square.closestPoint(V2(-0.2, 0.5), 0.1, out);
  EXPECT_LT((out - V2(0, 0.5)).norm(), 1e-12);
  vm::InterpolatingCubicSpline<vm::Numeric, Vector2_T> empty;
  EXPECT_EQ(empty.closestPoint(V2(1, 1), out, tag), 0.0);
  EXPECT_EQ(tag.index, -1);
}

TEST(ClosestPoint, TracedQueriesThreePathsAndNodes) {
  std::vector<V3> cubic = {V3(0, 0, 0), V3(1, 2, 0.5), V3(2.5, -1, 1), V3(3, 1, -0.5)};
  auto compute = [&](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using Mode = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
    std::vector<Vector3_T<Mode>> points;
    for (V3 const& c : cubic) points.emplace_back(c.x(), c.y(), c.z());
    Vector3_T<Mode> q(in.d(0), in.d(1), in.d(2)), near;
    std::vector<S> out = {vm::BezierCurve<Mode, Vector3_T>(points).closestPoint(q, near), near.x()};
    points[0] = Vector3_T<Mode>(kNaN, 0.0, 0.0);
    out.push_back(vm::BezierCurve<Mode, Vector3_T>(points).closestPoint(q, near));
    Vector2_T<Mode> q2(in.d(0), in.d(1)), p;
    vm::IdxBoundsTag<Mode> tag;
    // The same data open and closed: two nodes that generated C must not merge.
    for (bool closed : {true, false}) {
      vm::InterpolatingPchip<Mode, Vector2_T> spline(kLoop, closed), square(kSquare, closed);
      out.insert(out.end(), {spline.closestPoint(q2, p, tag), p.x(), tag.param, S(tag.index),
                             spline.closestPoint(q2, in.d(3), p, tag), p.y(), tag.lower,
                             S(tag.index), square.closestPoint(q2, in.d(3), p), p.x()});
    }
    return out;
  };
  std::vector<vela::test::Case> cases = {{{1.0, 1.0, 0.2, 0.3}, {}},  {{-2.0, -1.0, 0.0, 0.9}, {}},
                                         {{5.0, 3.0, 1.0, -0.4}, {}}, {{-1.0, 2.0, -1.0, 0.1}, {}},
                                         {{0.0, 0.0, 0.0, 0.0}, {}},  {{kNaN, 1.0, 0.0, kNaN}, {}},
                                         {{1.2, 0.5, 0.0, 0.1}, {}},  {{3.0, 1.0, -0.5, 0.6}, {}}};
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_GE(vela::test::occurrences(result.code, "findClosestPointOnSpline(3, 2, 7, 1, "), 1u);
  EXPECT_GE(vela::test::occurrences(result.code, "findClosestPointOnSpline(3, 2, 6, 0, "), 1u);
  EXPECT_GE(vela::test::occurrences(result.code, "zeph_core_math_findClosestPointOnBezier(3, 3, "),
            1u);

  // Nodes: described by their kernel, compared by every field.
  auto splineNode = [](bool closed) {
    std::vector<V2> points = kSquare;
    if (!closed) points.push_back(V2(0, 0.5));  // as many segments as closed
    vm::InterpolatingPchip<vm::Traced, Vector2_T> square(points, closed);
    Vector2_T<vm::Traced> p;
    auto t = square.closestPoint(Vector2_T<vm::Traced>(ct::TracedDouble::input("x"), 0.0), 0.1, p);
    return t.operation()->input(0);
  };
  auto open = splineNode(false), closedNode = splineNode(true);
  EXPECT_EQ(open->description(), "ClosestPointOnSpline");
  EXPECT_EQ(open->compare_(*splineNode(false)), 0);
  vela::test::expectOrdered(*open, *closedNode);
  std::vector<Vector3_T<vm::Traced>> points;
  for (V3 const& c : cubic) points.push_back(math3d::traceable(c));
  vm::BezierCurve<vm::Traced, Vector3_T> curve(points);
  Vector3_T<vm::Traced> near;
  auto t = curve.closestPoint(Vector3_T<vm::Traced>(ct::TracedDouble::input("x"), 0.0, 0.0), near);
  EXPECT_EQ(t.operation()->input(0)->description(), "ClosestPointOnBezier");
  // A query shorter than the node's dimension: zeros, nothing read past it.
  std::vector<ct::TracedDouble> ones(12, 1.0), out(2, 5.0);
  vm::frame::TracedCall<vm::ClosestPointOnBezierOp> call(vm::ClosestPointOnBezier{3, 2});
  call.array(ones.data(), 8, 8).array(ones.data(), 6, 6).array(ones.data(), 12, 12);
  call.array(ones.data(), 1, 1).array(out.data(), 2, 2).output(&t, 1, 1).output(out.data(), 2, 2);
  call.run();
  EXPECT_TRUE(t.equalConstant(0.0) && out[0].equalConstant(0.0) && out[1].equalConstant(0.0));
}

}  // namespace kernels_test
