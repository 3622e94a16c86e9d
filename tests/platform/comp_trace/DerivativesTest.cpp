// Derivatives of the scalar operations: each rule against central
// differences, forward against reverse, second derivatives, and the four
// paths on the derivative graphs; the documented values where a function is
// not differentiable; what is refused.
#include <gtest/gtest.h>

#include <cmath>

#include "kelm_math/comp_trace/Derivatives.hpp"
#include "support/Derivatives.hpp"
#include "vela/math.hpp"

namespace {

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using ct::TracedDouble;
using vela::test::derivativeCase;
using vela::test::uniformPoints;

// Each function's rule on inputs x, y, z (doubles) and k (an int): the
// computations are written once for both modes.
std::vector<vela::test::DerivativeCase> scalarRuleCases() {
  auto p = [](double lo, double hi) { return uniformPoints(3, 4, lo, hi, 11, {2}); };
  auto row = [](char const* name, auto f, std::vector<vela::test::Case> points) {
    return derivativeCase(
        name,
        [f](auto const& in) {
          using S = std::decay_t<decltype(in.d(0))>;
          return std::vector<S>{f(in.d(0), in.d(1), in.d(2), in.i(0))};
        },
        std::move(points));
  };
  using vm::ternary;
  return {
      row(
          "arithmetic", [](auto x, auto y, auto z, auto) { return -(x * y) + x / z - (y - z) * x; },
          p(0.5, 2)),
      row(
          "sqrt exp log",
          [](auto x, auto y, auto, auto) { return vm::sqrt(x) * vm::exp(y) + vm::log(x * y); },
          p(0.2, 3)),
      row(
          "trigonometry",
          [](auto x, auto y, auto z, auto) { return vm::sin(x) * vm::cos(y) + vm::tan(z); },
          p(-1.2, 1.2)),
      row(
          "inverse trigonometry",
          [](auto x, auto y, auto z, auto) { return vm::asin(x) + vm::acos(y) * vm::atan(z); },
          p(-0.9, 0.9)),
      row(
          "atan2 hypot",
          [](auto x, auto y, auto z, auto) {
            return vm::atan2(x, y) * vm::hypot(y, z) + vm::guardedAtan2(z, x);
          },
          p(-3, 3)),
      row(
          "pow",
          [](auto x, auto y, auto z, auto) {
            return vm::pow(x, y) + vm::pow(z, 2.0) + vm::pow(3.0, z);
          },
          p(0.3, 2.5)),
      row(
          "guarded divide abs",
          [](auto x, auto y, auto z, auto) { return vm::guardedDivide(x, y) * vm::abs(z); },
          p(0.5, 4)),
      row(
          "min max ternary",
          [](auto x, auto y, auto z, auto) {
            return vm::min(x, y) * vm::max(y, z) + ternary(x < z, x * z, y);
          },
          p(-2, 2)),
      row(
          "zero rules",
          [](auto x, auto y, auto z, auto k) {
            using S = decltype(x);
            S read[] = {x, y, z};
            return vm::floor(x) * y + vm::sgn(z) + S(k) * z + S(x < y) +
                   vm::arrayAccess(read, 3, k) + S(vm::indexOfMin(read, 3));
          },
          p(0.1, 0.9)),
  };
}

TEST(Derivatives, EveryScalarRule) {
  for (auto const& c : scalarRuleCases()) vela::test::checkDerivatives(c);
}
}  // namespace
