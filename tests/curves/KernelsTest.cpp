#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "curves/CasteljauInterpolationOp.hpp"
#include "curves/IndexOfLowerBoundOp.hpp"
#include "fuzz/curve_reference.h"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "zeph_core/ckernels.h"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using vela::test::kInf;
using vela::test::kNaN;
using vela::test::sameBits;

namespace kernels_test {

TEST(Kernels, IndexOfLowerBound) {
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
  auto const* node = dynamic_cast<vm::IndexOfLowerBoundOp const*>(index.operation().get());
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->description(), "IndexOfLowerBound");
  EXPECT_EQ(node->compare_(*vm::indexOfLowerBound(4, k4.data(), ct::TracedDouble(0.7)).operation()),
            0);
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    std::vector<S> knots = in.doubles(0, 4), out;
    for (std::size_t k = 4; k < in.doubleCount(); ++k)
      out.push_back(S(vm::indexOfLowerBound(4, knots.data(), in.d(k))));
    return out;
  };
  auto result = vela::test::checkThreePaths(
      compute, {{{0.0, 0.5, 1.0, 4.0, -0.1, 0.0, 0.5, 1.0, 4.0, 5.0, kNaN, -0.0}, {}},
                {{-3.0, -2.0, -2.0, 7.0, -2.0, -2.5, 7.0, 6.9, kInf, -kInf, 0.0, 1e300}, {}}});
  EXPECT_NE(result.code.find(" = zeph_core_math_indexOfLowerBound(4, &spd["), std::string::npos);
}

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

TEST(Kernels, CasteljauInterpolationOpClampsAndAgreesOnThreePaths) {
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
  // segments): every index, in range or not, reads inside.
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    std::vector<S> values = in.doubles(0, 18), out(4);
    vm::castelInterpolate(18, 2, 2, values.data(), in.i(0), in.d(18), out.data());
    vm::castelInterpolate(17, 2, 2, values.data(), in.i(0), in.d(18), out.data() + 2);
    return out;
  };
  std::vector<double> values = vela::test::randomDoubles(18, 7);
  std::vector<vela::test::Case> cases;
  for (int index : {0, 2, 3, -1, 1000, std::numeric_limits<int>::min()})
    for (double t : {0.0, 1.0, 0.3, 1.5, kNaN}) {
      cases.push_back({values, {index}});
      cases.back().doubles.push_back(t);
    }
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_EQ(vela::test::occurrences(result.code, "zeph_core_math_castelEval(3, 2, "), 2u);
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

}  // namespace kernels_test
