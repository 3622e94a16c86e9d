#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <type_traits>

#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "vela/math.hpp"

namespace {

namespace vm = vela::math;
using vela::test::Case;

// Overloads brought together under vela::math keep their types.
static_assert(std::is_same_v<decltype(vm::min(1, 2)), int>);
static_assert(std::is_same_v<decltype(vm::max(1.0, 2.0)), double>);
static_assert(std::is_same_v<decltype(vm::pow(vm::TracedDouble(), 2.0)), vm::TracedDouble>);
static_assert(std::is_same_v<decltype(vm::ternary(true, vm::Vector3_T<vm::Numeric>(),
                                                  vm::Vector3_T<vm::Numeric>())),
                             vm::Vector3_T<vm::Numeric>>);
static_assert(std::is_same_v<decltype(vm::ternary(vm::TracedBool(), 1.0, vm::TracedDouble())),
                             vm::TracedDouble>);

// A point on a body turned by the angle a about the axis (1, 2, 2) / 3 and
// moved by b, and quantities derived from it: written with vela::math
// names only, once for both modes.
template <class Mode>
std::vector<vm::Scalar<Mode>> turnedPoint(vela::test::Inputs<Mode> const& in) {
  using Real = vm::Scalar<Mode>;
  using Vector = vm::Vector3_T<Mode>;
  Real a = in.d(0), b = in.d(1), s = vm::sin(a * 0.5);
  vm::Quaternion_T<Mode> q(vm::cos(a * 0.5), s / 3.0, s * (2.0 / 3.0), s * (2.0 / 3.0));
  Vector p = vm::Transform3_T<Mode>(q, Vector(b, 0.0, 1.0)).xformPoint(Vector(1.0, 0.0, 0.0));
  Real r = vm::hypot(p.x(), p.y()), heading = vm::atan2(p.y(), p.x());
  vm::SpatialVector_T<Mode> twist(p, vm::ternary(p.x() > p.y(), p, -p));
  vm::SymmetricSpatialMatrix_T<Mode> inertia(vm::Matrix3x3_T<Mode>(q), vm::Matrix3x3_T<Mode>(),
                                             vm::Matrix3x3_T<Mode>::identity() * b);
  vm::SpatialVector_T<Mode> momentum = inertia.xform(twist);
  std::vector<Real> out(momentum.values(), momentum.values() + 6);
  for (Real const& v : {r, heading, vm::asin(vm::guardedDivide(p.z(), p.norm())),
                        vm::acos(vm::min(vm::max(p.z(), -1.0), 1.0)), vm::tan(heading), vm::atan(b),
                        vm::exp(-r), vm::log(r), vm::pow(r, b), vm::sqrt(vm::abs(b)),
                        vm::sgn(b) * vm::floor(a), vm::guardedAtan2(b, a)})
    out.push_back(v);
  return out;
}

}  // namespace

TEST(VelaMathNames, CodeWrittenWithVelaMathNamesAgreesOnThreePaths) {
  std::vector<Case> cases = {{{0.0, 0.0}, {}},
                             {{-0.0, -0.0}, {}},
                             {{3.141592653589793, 2.0}, {}},
                             {{1e300, -0.5}, {}},
                             {{vela::test::kNaN, 1.0}, {}},
                             {{0.7, vela::test::kInf}, {}}};
  for (unsigned seed = 1; seed <= 6; ++seed)
    cases.push_back({vela::test::randomDoubles(2, seed), {}});
  vela::test::checkThreePaths([](auto const& in) { return turnedPoint(in); }, cases);
  EXPECT_EQ(vm::stringify(vm::pow(vm::TracedDouble::input("r"), 3.0)), "pow(r, 3)");
  EXPECT_THROW(vm::sin(vm::TracedDouble::input("missing")).evaluate(vm::BindingSet()),
               vm::UnboundInput);
}
