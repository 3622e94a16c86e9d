#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "curves/CasteljauInterpolationOp.hpp"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "zeph_core/ckernels.h"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using vela::test::sameBits;

namespace {

using vela::test::kNaN;

// Bernstein form, an independent evaluation of the same polynomial.
std::vector<double> bernstein(std::vector<double> const& p, unsigned dim, double t) {
  unsigned n = static_cast<unsigned>(p.size() / dim) - 1;
  std::vector<double> out(dim, 0.0);
  double binom = 1.0;
  for (unsigned i = 0; i <= n; ++i) {
    if (i > 0) binom = binom * (n + 1 - i) / i;
    double w = binom;
    for (unsigned k = 0; k < i; ++k) w *= t;
    for (unsigned k = i; k < n; ++k) w *= 1.0 - t;
    for (unsigned k = 0; k < dim; ++k) out[k] += w * p[i * dim + k];
  }
  return out;
}

TEST(CastelEval, EndPointsExactInteriorAndExtrapolation) {
  // End values that interpolation would round: they must come back as given.
  std::vector<double> const p = {0.1, 1e-300, 0.7, 3.3, -2.9, 1.0 / 3.0, 5.5, 0.3, 2.0 / 7.0};
  double out[3];
  for (unsigned n : {1u, 2u, 3u}) {
    zeph_core_math_castelEval(n, 3, p.data(), out, 0.0);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(sameBits(out[k], p[k])) << n;
    zeph_core_math_castelEval(n, 3, p.data(), out, 1.0);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(sameBits(out[k], p[(n - 1) * 3 + k])) << n;
  }
  // One point: the point itself for every t.
  zeph_core_math_castelEval(1, 3, p.data(), out, 0.4);
  EXPECT_TRUE(sameBits(out[1], p[1]));

  double const para[] = {0.0, 0.0, 1.0, 2.0, 2.0, 0.0};
  zeph_core_math_castelEval(3, 2, para, out, 0.5);
  EXPECT_EQ(out[0], 1.0);
  EXPECT_EQ(out[1], 1.0);
  // Outside [0, 1] the polynomial continues: x = 2t, y = 4t(1 - t).
  zeph_core_math_castelEval(3, 2, para, out, 1.5);
  EXPECT_DOUBLE_EQ(out[0], 3.0);
  EXPECT_DOUBLE_EQ(out[1], -3.0);
  zeph_core_math_castelEval(3, 2, para, out, kNaN);
  EXPECT_TRUE(std::isnan(out[0]) && std::isnan(out[1]));

  // Degrees up to the work storage, against the Bernstein form.
  for (unsigned n : {2u, 4u, 5u, 8u, 34u}) {
    std::vector<double> q = vela::test::randomDoubles(n * 3, n);
    for (double& v : q) v = std::fmod(v, 10.0);
    for (double t : {0.25, 0.5, 0.9, 1.2}) {
      zeph_core_math_castelEval(n, 3, q.data(), out, t);
      std::vector<double> expected = bernstein(q, 3, t);
      for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(out[k], expected[k], 1e-9 * (1 + std::abs(expected[k]))) << n;
    }
  }
}

TEST(CastelEval, ShortCurvesGiveTheLevelsBitsAndMayOverlapTheirOutput) {
  for (unsigned n : {2u, 3u, 4u, 5u})
    for (unsigned dim : {1u, 2u, 3u, 4u}) {
      std::vector<double> p = vela::test::randomDoubles(n * dim, 7 * n + dim);
      for (double t : {0.3, -1.7, 2.5}) {
        // The levels written out: each step (1 - t) a + t b.
        std::vector<double> w = p;
        for (unsigned level = n - 1; level > 0; --level)
          for (unsigned i = 0; i < level * dim; ++i) w[i] = (1.0 - t) * w[i] + t * w[i + dim];
        std::vector<double> out(dim);
        zeph_core_math_castelEval(n, dim, p.data(), out.data(), t);
        for (unsigned k = 0; k < dim; ++k) EXPECT_TRUE(sameBits(out[k], w[k])) << n << dim << k;
        // In place, and shifted by one value into the points.
        for (unsigned shift : {0u, 1u}) {
          std::vector<double> q = p;
          zeph_core_math_castelEval(n, dim, q.data(), q.data() + shift, t);
          for (unsigned k = 0; k < dim; ++k) EXPECT_TRUE(sameBits(q[shift + k], w[k])) << shift;
        }
      }
    }
}

TEST(CastelEval, CallsOutsideTheContractStayInBounds) {
  // Exactly sized heap arrays: under ASan any read or write past them fails.
  std::vector<double> out(3, 7.0);
  std::vector<double> big(102 * 3, 1.0);
  zeph_core_math_castelEval(0, 3, nullptr, out.data(), 0.5);
  EXPECT_EQ(out, std::vector<double>(3, 0.0));
  out.assign(3, 7.0);
  zeph_core_math_castelEval(35, 3, big.data(), out.data(), 0.5);  // 34 * 3 = 102 > 100
  EXPECT_EQ(out, std::vector<double>(3, 0.0));
  out.assign(3, 7.0);
  zeph_core_math_castelEval(0xffffffffu, 3, big.data(), out.data(), 0.0);
  EXPECT_EQ(out, std::vector<double>(3, 0.0));
  // 100 work values exactly is still inside: 51 points of dimension 2.
  std::vector<double> line(51 * 2);
  for (std::size_t i = 0; i < line.size(); ++i) line[i] = static_cast<double>(i / 2);
  zeph_core_math_castelEval(51, 2, line.data(), out.data(), 0.5);
  EXPECT_DOUBLE_EQ(out[0], 25.0);
  out.assign(3, 7.0);
  zeph_core_math_castelEval(3, 0, big.data(), out.data(), 0.5);
  EXPECT_EQ(out, std::vector<double>(3, 7.0));
}

TEST(CasteljauInterpolationOp, FieldsCodeAndComparison) {
  std::vector<ct::TracedDouble> values = {0.0, 0.0, 1.0, 2.0, 2.0, 0.0};
  std::vector<ct::TracedDouble> out(2);
  vm::castelInterpolate(6, 2, 2, values.data(), ct::TracedInt(0), ct::TracedDouble(0.5),
                        out.data());
  double constant = 0.0;
  EXPECT_FALSE(out[0].getConstant(constant)) << "constants record a node too";
  auto const* node =
      dynamic_cast<vm::CasteljauInterpolationOp const*>(out[0].operation()->input(0).get());
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->description(), "CasteljauInterpolation");
  ASSERT_EQ(node->inputCount(), 4u);
  EXPECT_EQ(node->input(0)->inputCount(), 6u);
  EXPECT_EQ(out[0].evaluate(ct::BindingSet{}), 1.0);
  EXPECT_EQ(out[1].evaluate(ct::BindingSet{}), 1.0);

  auto nodeOf = [](unsigned count, unsigned degree, unsigned dim) {
    std::vector<ct::TracedDouble> v(count), o(dim);
    vm::castelInterpolate(count, degree, dim, v.data(), ct::TracedInt(0), ct::TracedDouble(0.5),
                          o.data());
    return o[0].operation()->input(0);
  };
  // Value count first, then degree, then dimension.
  EXPECT_EQ(node->compare_(*nodeOf(6, 2, 2)), 0);
  EXPECT_EQ(node->compare_(*nodeOf(8, 1, 2)), -1);
  EXPECT_EQ(node->compare_(*nodeOf(6, 1, 3)), 1);
  EXPECT_THROW(node->compare_(*std::make_shared<ct::CollectOp>(0, values.data(), "")),
               std::bad_cast);
  auto copy = node->clone();
  EXPECT_EQ(node->compare_(*copy), 0);
  EXPECT_EQ(copy->input(0), node->input(0));
}

TEST(CasteljauInterpolationOp, TracedIndexAndParameterAgreeOnThreePaths) {
  // Three segments of degree 2 in the plane, and the same values cut to 17
  // (two whole segments): every index, in range or not, stays inside.
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    std::vector<S> values = in.doubles(0, 18);
    std::vector<S> out(4);
    vm::castelInterpolate(18, 2, 2, values.data(), in.i(0), in.d(18), out.data());
    vm::castelInterpolate(17, 2, 2, values.data(), in.i(0), in.d(18), out.data() + 2);
    return out;
  };
  std::vector<double> values = vela::test::randomDoubles(18, 7);
  std::vector<vela::test::Case> cases;
  for (int index : {0, 1, 2, 3, -1, 1000, std::numeric_limits<int>::min()})
    for (double t : {0.0, 1.0, 0.3, 1.5, kNaN}) {
      std::vector<double> d = values;
      d.push_back(t);
      cases.push_back({d, {index}});
    }
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_EQ(vela::test::occurrences(result.code, "zeph_core_math_castelEval(3, 2, "), 2u)
      << result.code;
  // The index's raw code is the clamped value's scratch int.
  EXPECT_NE(result.code.find("+6*spi["), std::string::npos) << result.code;

  // The clamp itself: past the end reads the last segment, below 0 the first.
  double out[2], last[2];
  vm::castelInterpolate(18, 2, 2, values.data(), 99, 0.0, out);
  EXPECT_EQ(out[0], values[12]);
  vm::castelInterpolate(18, 2, 2, values.data(), -5, 1.0, out);
  EXPECT_EQ(out[1], values[5]);
  vm::castelInterpolate(17, 2, 2, values.data(), 2, 0.5, out);
  vm::castelInterpolate(17, 2, 2, values.data(), 1, 0.5, last);
  EXPECT_TRUE(sameBits(out[0], last[0]) && sameBits(out[1], last[1]));
  // Fewer values than one segment: zeros, nothing read.
  vm::castelInterpolate(5, 2, 2, values.data(), 0, 0.5, out);
  EXPECT_EQ(out[0], 0.0);
  EXPECT_EQ(out[1], 0.0);
}

}  // namespace
