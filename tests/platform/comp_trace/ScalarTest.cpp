// Every scalar operation of the trace library on every path: Numeric,
// folded constants, evaluation, tape and generated C agree bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>

#include "kelm_math/comp_trace.hpp"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"

namespace {

namespace ct = kelm_math::comp_trace;
using ct::TracedBool;
using ct::TracedDouble;
using ct::TracedInt;
using vela::test::Case;
using vela::test::kInf;
using vela::test::kNaN;

// 1.2345678901234568e20 is shortest in digits alone, too big for an integer literal.
double const kConstants[] = {0.1,   -0.0, 0.0,         1e-310,  -4.9406564584124654e-324, kInf,
                             -kInf, kNaN, 123456789.0, DBL_MAX, 1.2345678901234568e20};

// Every scalar operation over doubles x, y, z and ints j, k, written once
// for both modes: S and I are double and int or their traced types.
template <class S, class I>
std::vector<S> everyOperation(std::vector<S> const& d, std::vector<I> const& n) {
  using B = decltype(d[0] < d[1]);
  S const &x = d[0], &y = d[1], &z = d[2];
  I const &j = n[0], &k = n[1];
  S values[] = {x, y, z, x * y};
  I indices[] = {k, j, I(INT_MIN)}, read[] = {j, k};
  B truth[] = {j < k};
  if constexpr (!std::is_same_v<I, int>) {
    if (!j.isConstant()) {  // int and bool elements read back from collects
      I::accessElements(std::make_shared<ct::CollectOp>(2u, read, ""), 0, 2, read);
      B::accessElements(std::make_shared<ct::CollectOp>(1u, truth, ""), 0, 1, truth);
    }
  }
  std::vector<S> out = {
      x, x, x + y, x - y, x * y, x / y, -x, 2.0 * x - 1.0, ct::guardedDivide(x, y),
      ct::guardedAtan2(x, y), ct::floor(x), ct::abs(x), ct::min(x, y), ct::max(x, y), ct::sgn(y),
      ct::sqrt(z), ct::sin(x), ct::cos(x), ct::tan(x), ct::asin(x), ct::acos(x), ct::atan(x),
      ct::exp(x), ct::log(x), ct::atan2(x, y), ct::pow(x, y), ct::hypot(x, y),
      // Operands for which C compilers rewrite calls (x * x, 1 / x, fabs, -sin(x)).
      ct::sin(-x), ct::cos(-x), ct::hypot(-x, y), ct::pow(x, 2.0), ct::pow(x, -1.0),
      ct::pow(x, 0.0), ct::pow(1.0, y), ct::pow(-x, 2.0), ct::pow(x, 0.5), ct::pow(2.0, y),
      ct::hypot(x, 0.0), ct::atan2(-0.0, x), ct::atan2(x, -0.0), ct::exp(ct::log(x)),
      ct::ternary(x < y, x, y), ct::ternary(x >= z || y != z, z, x + 1.0),
      ct::ternary(!(x == y) && y <= z, S(1.0), S(2.0)), ct::ternary(x > y, y, S(-0.0)),
      ct::ternary((x < z) == (j < k), y, x) + ct::ternary((x < y) != (j >= k), 1.0, 2.0),
      ct::arrayAccess(values, 4, j), S(ct::indexOfMin(values, 4)),
      S(ct::arrayAccess(indices, 3, k)), S(ct::toInt(x)), S(B(x)), S(I(B(y))),
      S(j * 3 - k / 2 + k % 3 - (-k) + 1 - ct::min(j, k) * ct::max(j, 2)),
      S(ct::ternary(j > 1 && k <= j, j, I(-7))) + S(ct::ternary(j != k, k, I(INT_MIN))),
      S(read[0] * 2 - read[1]) + S(truth[0]),
      S(ct::all(std::vector<B>{x < y, j == k, y <= z}) || ct::any(j < 0, ct::all(x >= z, k > 0))),
      S(ct::all(x < y, y < z, j >= 0, ct::ternary(y <= z, B(true), B(false))))};
  // Constants as outputs and as operands of recorded nodes.
  for (double c : kConstants) out.insert(out.end(), {S(c), x * 0.0 + c});
  return out;
}

// Operands for which the C library's pow(x, 2) resp. pow(x, -1) is one ulp
// away from x * x resp. 1 / x, which compilers substitute.
double const kSquareOffByOne = 0x1.4c7035e612d52p+3;
double const kInverseOffByOne = 0x1.b6d5bd953e068p+3;

std::vector<Case> scalarCases() {
  double const sq = kSquareOffByOne, inv = kInverseOffByOne, big = 2147483647.5, third = 1.0 / 3.0;
  double const sNaN = std::numeric_limits<double>::signaling_NaN();
  // In fives: x, y, z, then j, k.
  double const rows[] = {
      0.0,  -0.0,     0.0,    0, 0, -0.0,   0.0,   -1.0, 3, -1, kNaN,  1.0,    kInf,   -1, 2,
      1.0,  kNaN,     -kInf,  4, 3, -kInf,  kInf,  kNaN, 7, 0,  1e300, 1e-300, 2.0,    1,  1,
      -7.5, -7.5,     3e-320, 1, 5, 5e9,    -5e9,  9.0,  0, -2, 2.0,   2.0,    -1.0,   3,  0,
      big,  -big - 1, 1.0,    2, 2, -8.0,   third, 0.5,  1, 4,  710.0, -746.0, 1e-310, 0,  1,
      1e22, 1e308,    4.0,    2, 0, 5e-324, -1.0,  0.0,  3, 3,  sq,    2.0,    1.0,    1,  2,
      -sq,  2.0,      1.0,    1, 2, inv,    -1.0,  1.0,  2, 1,  0.75,  1.0,    0.5,    2,  -1,
      sNaN, 0.0,      2.0,    2, 1};
  std::vector<Case> cases;
  for (std::size_t r = 0; r < std::size(rows); r += 5)
    cases.push_back({{rows[r], rows[r + 1], rows[r + 2]}, {int(rows[r + 3]), int(rows[r + 4])}});
  for (unsigned seed = 1; seed <= 12; ++seed) {
    auto d = vela::test::randomDoubles(3, seed);
    if (seed > 8) d[0] /= 256.0;  // inside [-1, 1] for asin and acos
    cases.push_back({d, {static_cast<int>(seed % 6) - 1, static_cast<int>(seed % 4)}});
  }
  return cases;
}

}  // namespace

TEST(TracedScalars, EveryOperationAgreesOnEveryPathAndFolds) {
  std::vector<Case> cases = scalarCases();
  vela::test::checkThreePaths(
      [](auto const& in) {
        return everyOperation(in.doubles(0, 3), std::vector{in.i(0), in.i(1)});
      },
      cases);
  for (Case const& c : cases) {  // folded constants
    std::vector<double> numeric = everyOperation(c.doubles, c.ints);
    std::vector<TracedDouble> folded =
        everyOperation(std::vector<TracedDouble>(c.doubles.begin(), c.doubles.end()),
                       std::vector<TracedInt>(c.ints.begin(), c.ints.end()));
    for (std::size_t j = 0; j < numeric.size(); ++j) {
      double v = 0.0;
      EXPECT_TRUE(folded[j].getConstant(v) && vela::test::sameBits(v, numeric[j])) << j;
    }
  }
}

// Integer arithmetic wraps around, a zero divisor gives 0, and conversions
// from double truncate toward zero and saturate: checked against 64-bit
// arithmetic, with int and bool inputs read from doubles.
TEST(TracedScalars, IntegersWrapAndConversionsSaturateOnEveryPath) {
  auto d2i = [](double p) -> long long {
    return std::isnan(p) ? 0 : std::clamp(std::trunc(p), -2147483648.0, 2147483647.0);
  };
  auto wrap = [](long long v) { return static_cast<double>(static_cast<std::int32_t>(v)); };
  auto reference = [&](double p, double q) {
    long long a = d2i(p), b = d2i(q), quotient = b ? a / b : 0, remainder = b ? a % b : 0;
    std::vector<double> out;
    for (long long v :
         {a + b, a - b, a * b, quotient, remainder, -a, std::min(a, b), std::max(a, b), a})
      out.push_back(wrap(v));
    out.insert(out.end(), {double(p != 0.0), double(q != 0.0 && a != 0)});
    return out;
  };
  // a, b read p and q as int inputs; x is p as a double; c is q as a bool input.
  auto traced = [](TracedInt a, TracedInt b, TracedDouble x, TracedBool c) {
    TracedBool nonzero(x), both = c && TracedBool(a);
    return std::vector<TracedDouble>{a + b,         a - b,         a * b,        a / b,   a % b, -a,
                                     ct::min(a, b), ct::max(a, b), ct::toInt(x), nonzero, both};
  };
  // Every pair of values at and beyond the ends of the int range and some
  // that wrap, divide by zero or convert; folded, then on every path.
  double const top = INT_MAX, bottom = INT_MIN;
  double const values[] = {top,   bottom, top + 0.5, bottom - 0.5, top - 0.5, 3e9,  -3e9,  kInf,
                           -kInf, kNaN,   46341,     -7,           3,         2.75, -2.75, -1,
                           1,     0,      -0.0};
  std::vector<Case> cases;
  for (double p : values)
    for (double q : values) cases.push_back({{p, q}, {}});
  for (Case const& c : cases) {
    double p = c.doubles[0], q = c.doubles[1], v = 0.0;
    auto folded = traced(TracedInt(TracedDouble(p)), TracedInt(TracedDouble(q)), p,
                         TracedBool(TracedDouble(q)));
    for (std::size_t j = 0; j < folded.size(); ++j)
      EXPECT_TRUE(folded[j].getConstant(v) && v == reference(p, q)[j])
          << j << ": " << p << ", " << q;
  }
  vela::test::checkThreePaths(
      [&](auto const& in) {
        if constexpr (std::is_same_v<std::decay_t<decltype(in.d(0))>, double>)
          return reference(in.d(0), in.d(1));
        else
          return traced(TracedInt::input("d0"), TracedInt::input("d1"), in.d(0),
                        TracedBool::input("d1"));
      },
      cases);
}

// The runtime's scalar meanings, which every path shares, against their
// definitions; a constant condition or index picks without recording.
TEST(TracedScalars, GuardsSelectionsAndNaNRules) {
  using ct::max, ct::min, ct::pow, ct::sgn;
  EXPECT_TRUE(ct::guardedDivide(1.0, -0.0) == 0.0 && ct::guardedDivide(1.0, 4.0) == 0.25);
  EXPECT_TRUE(ct::guardedAtan2(-0.0, -0.0) == 0.0 &&
              ct::guardedAtan2(1.0, 0.0) == std::atan2(1.0, 0.0));
  EXPECT_TRUE(std::isnan(min(kNaN, 1.0)) && std::isnan(min(1.0, kNaN)) &&
              std::isnan(max(kNaN, 1.0)) && std::isnan(max(1.0, kNaN)) && min(2, -3) == -3 &&
              max(2, -3) == 2);
  EXPECT_TRUE(std::signbit(min(0.0, -0.0)) && !std::signbit(max(-0.0, 0.0)));  // the second
  EXPECT_TRUE(sgn(-3.0) == -1.0 && sgn(2.0) == 1.0 && std::signbit(sgn(-0.0)) &&
              std::isnan(sgn(kNaN)));
  EXPECT_TRUE(pow(kSquareOffByOne, 2.0) == kSquareOffByOne * kSquareOffByOne &&
              pow(kInverseOffByOne, -1.0) == 1.0 / kInverseOffByOne && pow(kNaN, 0.0) == 1.0 &&
              pow(1.0, kNaN) == 1.0 && ct::hypot(kInf, kNaN) == kInf);
  // The first of equal minima; any number beats a NaN; outside [0, n) reads 0.
  double values[] = {3.0, 1.0, kNaN, 1.0, 0.5}, nanFirst[] = {kNaN, 1.0, 1.0};
  int ints[] = {4, 5};
  EXPECT_TRUE(ct::indexOfMin(values, 4) == 1 && ct::indexOfMin(nanFirst, 3) == 1 &&
              ct::indexOfMin(nanFirst, 1) == 0 && ct::indexOfMin(values, 0) == -1);
  EXPECT_TRUE(ct::arrayAccess(values, 5, 4) == 0.5 && ct::arrayAccess(values, 5, 5) == 0.0 &&
              ct::arrayAccess(values, 5, -1) == 0.0 && ct::arrayAccess(ints, 2, 1) == 5 &&
              ct::arrayAccess(ints, 2, 2) == 0);
  TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y"), traced[] = {x, y};
  EXPECT_TRUE(ct::ternary(TracedBool(false), x, y).isOperationallyEqual(y));
  EXPECT_TRUE(ct::arrayAccess(traced, 2, TracedInt(0)).isOperationallyEqual(x) &&
              ct::arrayAccess(traced, 2, TracedInt(1)).isOperationallyEqual(y) &&
              ct::arrayAccess(traced, 2, TracedInt(2)).equalConstant(0.0));
}
