#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "vela/math/LumpedDistribution.hpp"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;

namespace lumped_test {

using V3 = math3d::Vector3_T<vm::Numeric>;
using Q = math3d::Quaternion_T<vm::Numeric>;
using T3 = math3d::Transform3_T<vm::Numeric>;
using Dist = vm::LumpedDistribution<vm::Numeric>;
using Masses = std::vector<std::pair<double, V3>>;

Masses randomMasses(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> mass(0.2, 3.0), coord(-2.0, 2.0);
  Masses points;
  for (std::size_t i = 0; i < n; ++i)
    points.push_back({mass(rng), V3(coord(rng), coord(rng), coord(rng))});
  return points;
}

/// Raw moments of point masses, summed independently of the class.
Dist fromPoints(Masses const& points) {
  double m = 0.0, s[3][3] = {};
  for (auto const& [mi, x] : points) {
    m += mi;
    for (int i = 0; i < 3; ++i) {
      s[0][i] += mi * x.coord(i);
      s[1][i] += mi * x.coord(i) * x.coord(i);
      s[2][i] += mi * x.coord((i + 1) % 3) * x.coord((i + 2) % 3);
    }
  }
  return Dist(m, V3(s[0]), V3(s[1]), V3(s[2]));
}

void expectNear(V3 const& a, V3 const& b, double tol) {
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(a.coord(k), b.coord(k), tol) << k;
}

void expectNear(Dist const& a, Dist const& b, double tol) {
  EXPECT_NEAR(a.zeroethMoment(), b.zeroethMoment(), tol);
  expectNear(a.firstMoments(), b.firstMoments(), tol);
  expectNear(a.secondMoments(), b.secondMoments(), tol);
  expectNear(a.products(), b.products(), tol);
}

TEST(LumpedDistribution, AgreesWithPointMasses) {
  for (unsigned seed : {1u, 2u, 3u}) {
    Masses points = randomMasses(7, seed), other = randomMasses(4, seed + 10), both = points;
    both.insert(both.end(), other.begin(), other.end());
    Dist d = fromPoints(points);
    V3 c;
    for (auto const& [m, x] : points) c += x * (m / d.total());
    double I[3][3] = {};  // the inertia tensor about c
    for (auto const& [m, x] : points)
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
          I[i][j] += m * ((i == j ? (x - c).norm2() : 0.0) - (x - c).coord(i) * (x - c).coord(j));
    V3 Ic(I[0][0], I[1][1], I[2][2]), Jc(I[1][2], I[2][0], I[0][1]);
    expectNear(d.center(), c, 1e-13);
    expectNear(d.centerMoments(), Ic, 1e-12);
    expectNear(d.centerProducts(), Jc, 1e-12);
    EXPECT_TRUE(d.isTriangleInequalitySatisfied());
    // The principal axes diagonalize the tensor into the principal moments.
    V3 p = d.principalMoments();
    T3 T = d.principalToReferenceTransform();
    expectNear(T.translation(), c, 1e-13);
    math3d::Matrix3x3_T<vm::Numeric> R(T.quaternion());
    for (int a = 0; a < 3; ++a)
      for (int b = 0; b < 3; ++b) {
        double e = 0.0;
        for (int i = 0; i < 3; ++i)
          for (int j = 0; j < 3; ++j) e += R.element(i, a) * I[i][j] * R.element(j, b);
        EXPECT_NEAR(e, a == b ? p.coord(a) : 0.0, 1e-11) << a << b;
      }
    // Sums, differences and rigid motions act on every point mass.
    expectNear(d + fromPoints(other), fromPoints(both), 1e-12);
    expectNear(fromPoints(both) - fromPoints(other), d, 1e-12);
    Dist acc = d;
    acc += fromPoints(other);
    acc -= fromPoints(points);
    expectNear(acc, fromPoints(other), 1e-12);
    double n = std::sqrt(0.81 + 0.04 + 0.09 * seed * seed + 0.0625);
    Q q(0.9 / n, -0.2 / n, 0.3 * seed / n, 0.25 / n);
    T3 move(q, V3(0.5, -1.5, 2.0 * seed));
    Masses moved;
    for (auto const& [m, x] : points) moved.push_back({m, move.xformPoint(x)});
    expectNear(d.transform(move), fromPoints(moved), 1e-11);
    expectNear(d.transform(move).centerMoments(), d.transform(T3(q, V3())).centerMoments(), 1e-11);
    // From central quantities, also at mass 1; total(t) and moving the
    // center (every point mass translated) keep the central quantities.
    for (double from : {1.0, 2.5}) {
      Dist e(true, from, c, Ic, Jc);
      e.total(d.total());
      expectNear(e, d, 1e-11);
      Masses shifted;
      for (auto const& [m, x] : points) shifted.push_back({m, x + V3(1.0, -0.5, from)});
      e.center(c + V3(1.0, -0.5, from));
      expectNear(e, fromPoints(shifted), 1e-11);
      e.centerMoments(V3(1.0, 1.5, 2.0));
      e.centerProducts(V3(0.0, 0.05, 0.0));
      expectNear(e.centerMoments(), V3(1.0, 1.5, 2.0), 1e-12);
      expectNear(e.centerProducts(), V3(0.0, 0.05, 0.0), 1e-12);
      expectNear(e.center(), c + V3(1.0, -0.5, from), 1e-13);
    }
  }
  Dist d = fromPoints(randomMasses(4, 11)), big = d.convertVolumeDistribution(2.0);
  EXPECT_TRUE(big.zeroethMoment() == 8.0 * d.zeroethMoment() &&
              big.firstMoments() == d.firstMoments() * 16.0 &&
              big.secondMoments() == d.secondMoments() * 32.0 &&
              big.products() == d.products() * 32.0);
  EXPECT_TRUE(d / 2.0 == d * 0.5 && 0.5 * d == d * 0.5 && d != big && &+d == &d);
  EXPECT_TRUE(d.isOperationallyEqual(d * 1.0) && !d.isOperationallyEqual(big));
  EXPECT_TRUE(std::signbit((-Dist()).zeroethMoment()));
}

TEST(LumpedDistribution, MassPropertiesSettersAndUndefinedCenter) {
  EXPECT_FALSE(Dist(true, 1.0, V3(), V3(1.0, 1.0, 5.0), V3()).isTriangleInequalitySatisfied());
  // A zero on either side of total(t) changes only the mass; NaN is no zero.
  Dist d(2.0, V3(1, 2, 3), V3(4, 5, 6), V3(1, 1, 1)), zeroed = d,
                                                      empty(0.0, V3(), V3(1, 2, 3), V3());
  zeroed.total(0.0);
  empty.total(3.0);
  EXPECT_TRUE(zeroed.total() == 0.0 && zeroed.firstMoments() == d.firstMoments());
  EXPECT_TRUE(empty.secondMoments() == V3(1, 2, 3));
  zeroed = d;
  zeroed.total(vela::test::kNaN);
  EXPECT_TRUE(std::isnan(zeroed.firstMoments().x()));

  // No mass but a first moment: no center. Throws come before any change.
  using Undefined = Dist::CenterUndefined;
  Dist u(0.0, V3(1.0, 0.0, 0.0), V3(1, 1, 1), V3());
  Dist const original = u;
  EXPECT_TRUE(!u.isCenterDefined() && Dist().isCenterDefined() && Dist().center() == V3());
  EXPECT_THROW(u.center(), Undefined);
  EXPECT_THROW(u.centerMoments(), Undefined);
  EXPECT_THROW(u.centerProducts(), Undefined);
  EXPECT_THROW(u.isTriangleInequalitySatisfied(), Undefined);
  EXPECT_THROW(u.principalMoments(), Undefined);
  EXPECT_THROW(u.principalToReferenceTransform(), Undefined);
  EXPECT_THROW(u.centerMoments(V3(1, 1, 1)), Undefined);
  EXPECT_THROW(u.centerProducts(V3(1, 1, 1)), Undefined);
  EXPECT_THROW(Dist().center(V3(0, 1, 0)), Undefined);
  EXPECT_THROW(Dist(true, 0.0, V3(0, 0, 1), V3(), V3()), Undefined);
  EXPECT_THROW(u /= 0.0, Dist::DivisionByZero);
  EXPECT_THROW(u / -0.0, Dist::DivisionByZero);
  EXPECT_TRUE(u.isOperationallyEqual(original));
  T3 guarded = u.guardedPrincipalToReferenceTransform();
  EXPECT_TRUE(guarded.quaternion() == Q() && guarded.translation() == V3());
  EXPECT_STREQ(Undefined().what(), "zeph CenterUndefined");
  EXPECT_STREQ(Dist::DivisionByZero().what(), "zeph DivisionByZero");
  // Traced: only a constant decides.
  using TracedDist = vm::LumpedDistribution<vm::Traced>;
  TracedDist traced(ct::TracedDouble::input("m"), math3d::traceable(V3(1, 0, 0)), {}, {});
  EXPECT_NO_THROW(traced.center());
  EXPECT_NO_THROW(traced / ct::TracedDouble::input("s"));
  EXPECT_THROW(vm::traceable(original).center(), TracedDist::CenterUndefined);
  EXPECT_THROW(vm::traceable(original) / ct::TracedDouble(-0.0), TracedDist::DivisionByZero);
  std::string text = "m0 = " + math3d::stringify(2.0) + ";\nm1 = " + V3(1, 2, 3).stringify() +
                     ";\nm2 = " + V3(4, 5, 6).stringify() + ";\np  = " + V3(1, 1, 1).stringify() +
                     ";";
  EXPECT_EQ(d.stringify(), text);
  EXPECT_EQ(vm::traceable(d).stringify(), text);
}

TEST(LumpedDistribution, TracedThreePaths) {
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using Mode = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
    using Vec = math3d::Vector3_T<Mode>;
    vm::LumpedDistribution<Mode> d;
    for (std::size_t k = 0; k < 3; ++k) {
      S m = in.d(4 * k);
      Vec x(in.d(4 * k + 1), in.d(4 * k + 2), in.d(4 * k + 3));
      d += vm::LumpedDistribution<Mode>(true, m, x, Vec(m * 0.1, m * 0.2, m * 0.15), Vec());
    }
    S n = vm::sqrt(in.d(12) * in.d(12) + in.d(13) * in.d(13) + S(0.1));
    math3d::Quaternion_T<Mode> q(in.d(12) / n, in.d(13) / n, S(0.3) / n, S(-0.1) / n);
    auto moved = d.transform(math3d::Transform3_T<Mode>(q, Vec(in.d(14), S(1.0), S(-2.0))));
    auto resized = moved;
    resized.total(in.d(15));
    auto frame = moved.guardedPrincipalToReferenceTransform();
    auto scaled = moved.convertVolumeDistribution(in.d(14)) / in.d(13);
    std::vector<S> out = {resized.zeroethMoment(), S(moved.isTriangleInequalitySatisfied()),
                          S(moved == d)};
    for (int k = 0; k < 4; ++k) out.push_back(frame.quaternion().values()[k]);
    for (Vec const& v : {moved.center(), moved.centerMoments(), moved.centerProducts(),
                         moved.principalMoments(), frame.translation(), scaled.secondMoments(),
                         resized.firstMoments(), resized.secondMoments(), resized.products()})
      out.insert(out.end(), {v.x(), v.y(), v.z()});
    return out;
  };
  std::vector<double> base = {1.0, 0.1, 0.2,  0.3, 2.0, -1.0, 0.5, 0.0,
                              0.5, 0.3, -0.4, 1.2, 0.9, -0.2, 0.7, 3.5};
  std::vector<vela::test::Case> cases(4, vela::test::Case{base, {}});
  for (std::size_t i = 0; i < 12; ++i) cases[1].doubles[i] = 0.0;  // no mass: guarded zeros
  cases[2].doubles[15] = 0.0;                                      // new mass zero
  cases[3].doubles[4] = vela::test::kNaN;
  vela::test::checkThreePaths(compute, cases);
}

}  // namespace lumped_test
