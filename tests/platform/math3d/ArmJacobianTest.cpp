// A planar three-link arm built from the 3-D math types: the Jacobian of its
// tip with respect to the joint angles, through quaternions, matrices and
// transforms, against the closed form, and on every path.
#include <gtest/gtest.h>

#include <cmath>

#include "support/Derivatives.hpp"
#include "vela/math.hpp"

namespace {

namespace vm = vela::math;
double const kLength[] = {1.0, 0.7, 0.4};

template <class Mode>
vm::Vector3_T<Mode> armTip(std::vector<vm::Scalar<Mode>> const& q) {
  using S = vm::Scalar<Mode>;
  vm::Transform3_T<Mode> t;
  for (int i = 0; i < 3; ++i) {
    S half = q[i] * 0.5;
    vm::Quaternion_T<Mode> joint(vm::cos(half), S(0.0), S(0.0), vm::sin(half));
    t = t.compose(vm::Transform3_T<Mode>(joint, {}))
            .compose(vm::Transform3_T<Mode>({}, {S(kLength[i]), S(0.0), S(0.0)}));
  }
  return t.translation();
}

}  // namespace

TEST(ArmJacobian, MatchesTheClosedFormOnEveryPath) {
  auto tip = [](auto const& in) {
    using Mode = std::conditional_t<std::is_same_v<std::decay_t<decltype(in.d(0))>, double>,
                                    vm::Numeric, vm::Traced>;
    auto p = armTip<Mode>(in.doubles(0, 3));
    return std::vector<vm::Scalar<Mode>>{p.x(), p.y()};
  };
  auto points = vela::test::uniformPoints(3, 3, -3.0, 3.0, 5);
  vela::test::checkDerivatives(vela::test::derivativeCase("arm", tip, points));

  vela::test::Inputs<vm::Traced> in(3, 0);
  auto q = in.doubles(0, 3);
  auto p = armTip<vm::Traced>(q);
  auto jac = vm::jacobian({p.x(), p.y()}, q);
  for (auto const& point : points) {
    vm::BindingSet b;
    double angle = 0, dx[3] = {}, dy[3] = {};
    for (int i = 0; i < 3; ++i) b.bind("d" + std::to_string(i), point.doubles[i]);
    // d tip / d q_j sums the links from j outwards.
    for (int i = 0; i < 3; ++i) {
      angle += point.doubles[i];
      for (int j = 0; j <= i; ++j) {
        dx[j] -= kLength[i] * std::sin(angle);
        dy[j] += kLength[i] * std::cos(angle);
      }
    }
    for (int j = 0; j < 3; ++j) {
      EXPECT_NEAR(jac[j].evaluate(b), dx[j], 1e-14);
      EXPECT_NEAR(jac[3 + j].evaluate(b), dy[j], 1e-14);
    }
  }
}
