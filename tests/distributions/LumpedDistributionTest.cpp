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
using vela::test::sameBits;

namespace lumped_test {

using V3 = math3d::Vector3_T<vm::Numeric>;
using Q = math3d::Quaternion_T<vm::Numeric>;
using T3 = math3d::Transform3_T<vm::Numeric>;
using Dist = vm::LumpedDistribution<vm::Numeric>;
using TracedDist = vm::LumpedDistribution<vm::Traced>;
using Tensor = std::array<std::array<double, 3>, 3>;

struct PointMass {
  double m;
  V3 x;
};

std::vector<PointMass> randomPoints(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> mass(0.2, 3.0), coord(-2.0, 2.0);
  std::vector<PointMass> points;
  for (std::size_t i = 0; i < n; ++i)
    points.push_back({mass(rng), V3(coord(rng), coord(rng), coord(rng))});
  return points;
}

/// The raw moments of point masses, summed here independently of the class.
Dist fromPoints(std::vector<PointMass> const& points) {
  double m = 0.0;
  std::array<double, 3> first{}, second{}, products{};
  for (auto const& [mi, x] : points) {
    m += mi;
    for (int i = 0; i < 3; ++i) {
      first[i] += mi * x.coord(i);
      second[i] += mi * x.coord(i) * x.coord(i);
      products[i] += mi * x.coord((i + 1) % 3) * x.coord((i + 2) % 3);
    }
  }
  return Dist(m, V3(first.data()), V3(second.data()), V3(products.data()));
}

/// The inertia tensor of point masses about c.
Tensor inertiaAbout(std::vector<PointMass> const& points, V3 const& c) {
  Tensor I{};
  for (auto const& [mi, x] : points) {
    V3 r = x - c;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        I[i][j] += mi * ((i == j ? r.norm2() : 0.0) - r.coord(i) * r.coord(j));
  }
  return I;
}

void expectNear(V3 const& a, V3 const& b, double tol, std::string const& what) {
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(a.coord(k), b.coord(k), tol) << what << " " << k;
}

void expectSameBits(Dist const& a, Dist const& b, std::string const& what) {
  EXPECT_TRUE(sameBits(a.zeroethMoment(), b.zeroethMoment())) << what;
  for (int k = 0; k < 3; ++k) {
    EXPECT_TRUE(sameBits(a.firstMoments().coord(k), b.firstMoments().coord(k))) << what << k;
    EXPECT_TRUE(sameBits(a.secondMoments().coord(k), b.secondMoments().coord(k))) << what << k;
    EXPECT_TRUE(sameBits(a.products().coord(k), b.products().coord(k))) << what << k;
  }
}

void expectNearDist(Dist const& a, Dist const& b, double tol, std::string const& what) {
  EXPECT_NEAR(a.zeroethMoment(), b.zeroethMoment(), tol) << what;
  expectNear(a.firstMoments(), b.firstMoments(), tol, what + " first");
  expectNear(a.secondMoments(), b.secondMoments(), tol, what + " second");
  expectNear(a.products(), b.products(), tol, what + " products");
}

TEST(LumpedDistribution, CentralAndPrincipalQuantitiesMatchPointMasses) {
  for (unsigned seed : {1u, 2u, 3u}) {
    auto points = randomPoints(7, seed);
    Dist d = fromPoints(points);
    V3 c;
    for (auto const& p : points) c += p.x * (p.m / d.total());
    expectNear(d.center(), c, 1e-13, "center");
    Tensor I = inertiaAbout(points, c);
    expectNear(d.centerMoments(), V3(I[0][0], I[1][1], I[2][2]), 1e-12, "moments");
    expectNear(d.centerProducts(), V3(I[1][2], I[2][0], I[0][1]), 1e-12, "products");
    EXPECT_TRUE(d.isTriangleInequalitySatisfied());

    // Principal moments: the eigenvalues, checked through the invariants; the
    // principal axes diagonalize the tensor.
    V3 p = d.principalMoments();
    double trace = I[0][0] + I[1][1] + I[2][2];
    double minors = I[0][0] * I[1][1] + I[1][1] * I[2][2] + I[0][0] * I[2][2] - I[0][1] * I[0][1] -
                    I[1][2] * I[1][2] - I[0][2] * I[0][2];
    double det = I[0][0] * (I[1][1] * I[2][2] - I[1][2] * I[1][2]) -
                 I[0][1] * (I[0][1] * I[2][2] - I[1][2] * I[0][2]) +
                 I[0][2] * (I[0][1] * I[1][2] - I[1][1] * I[0][2]);
    EXPECT_NEAR(p.x() + p.y() + p.z(), trace, 1e-11);
    EXPECT_NEAR(p.x() * p.y() + p.y() * p.z() + p.x() * p.z(), minors, 1e-10);
    EXPECT_NEAR(p.x() * p.y() * p.z(), det, 1e-10);
    T3 T = d.principalToReferenceTransform();
    expectNear(T.translation(), c, 1e-13, "principal origin");
    math3d::Matrix3x3_T<vm::Numeric> R(T.quaternion());
    for (int a = 0; a < 3; ++a)
      for (int b = 0; b < 3; ++b) {
        double e = 0.0;  // (R^T I R)(a, b)
        for (int i = 0; i < 3; ++i)
          for (int j = 0; j < 3; ++j) e += R.element(i, a) * I[i][j] * R.element(j, b);
        EXPECT_NEAR(e, a == b ? p.coord(a) : 0.0, 1e-11) << a << b;
      }
    expectSameBits(d, fromPoints(points), "unchanged by queries");
  }
}

TEST(LumpedDistribution, CompositionTransformAndScaling) {
  auto a = randomPoints(4, 11), b = randomPoints(5, 12);
  auto both = a;
  both.insert(both.end(), b.begin(), b.end());
  expectNearDist(fromPoints(a) + fromPoints(b), fromPoints(both), 1e-12, "sum");
  expectNearDist(fromPoints(both) - fromPoints(b), fromPoints(a), 1e-12, "difference");
  Dist acc = fromPoints(a);
  acc += fromPoints(b);
  expectSameBits(acc, fromPoints(a) + fromPoints(b), "+=");
  acc -= fromPoints(b);
  expectSameBits(acc, fromPoints(a) + fromPoints(b) - fromPoints(b), "-=");

  // A rigid motion of the frame moves every point mass.
  double n = std::sqrt(0.9 * 0.9 + 0.2 * 0.2 + 0.3 * 0.3 + 0.25 * 0.25);
  Q q(0.9 / n, -0.2 / n, 0.3 / n, 0.25 / n);
  T3 T(q, V3(0.5, -1.5, 2.0));
  std::vector<PointMass> moved;
  for (auto const& p : both) moved.push_back({p.m, T.xformPoint(p.x)});
  expectNearDist(fromPoints(both).transform(T), fromPoints(moved), 1e-11, "transform");
  expectNearDist(fromPoints(both).transform(T3()), fromPoints(both), 1e-15, "identity");
  // Pure translation: first moments gain p m, the parallel-axis terms appear.
  V3 shift(1.0, 2.0, -3.0);
  std::vector<PointMass> shifted;
  for (auto const& p : both) shifted.push_back({p.m, p.x + shift});
  Dist translated = fromPoints(both).transform(T3(Q(), shift));
  expectNearDist(translated, fromPoints(shifted), 1e-11, "translation");
  expectNear(translated.centerMoments(), fromPoints(both).centerMoments(), 1e-11, "central kept");

  Dist d = fromPoints(a);
  Dist big = d.convertVolumeDistribution(2.0);
  EXPECT_EQ(big.zeroethMoment(), 8.0 * d.zeroethMoment());
  EXPECT_TRUE(big.firstMoments() == d.firstMoments() * 16.0);
  EXPECT_TRUE(big.secondMoments() == d.secondMoments() * 32.0);
  EXPECT_TRUE(big.products() == d.products() * 32.0);
  expectSameBits(d / 2.0, d * 0.5, "divide");
  expectSameBits(0.5 * d, d * 0.5, "scalar first");
  Dist neg = -Dist();
  EXPECT_TRUE(std::signbit(neg.zeroethMoment()));
  EXPECT_EQ(&+d, &d);
  EXPECT_TRUE(d == fromPoints(a));
  EXPECT_TRUE(d != big);
  EXPECT_TRUE(d.isOperationallyEqual(fromPoints(a)));
  EXPECT_FALSE(d.isOperationallyEqual(big));
}

TEST(LumpedDistribution, MassPropertiesRoundTripAndSetters) {
  V3 c(0.3, -0.7, 1.1), I(2.0, 3.0, 4.0), J(0.1, -0.2, 0.3);
  Dist d(true, 2.5, c, I, J);
  expectNear(d.center(), c, 1e-15, "center");
  expectNear(d.centerMoments(), I, 1e-14, "moments");
  expectNear(d.centerProducts(), J, 1e-14, "products");

  // Moving the center keeps the central quantities.
  d.center(V3(-1.0, 0.5, 2.0));
  expectNear(d.center(), V3(-1.0, 0.5, 2.0), 1e-15, "moved");
  expectNear(d.centerMoments(), I, 1e-13, "moved moments");
  expectNear(d.centerProducts(), J, 1e-13, "moved products");
  d.centerMoments(V3(1.0, 1.5, 2.0));
  d.centerProducts(V3(0.0, 0.05, 0.0));
  expectNear(d.centerMoments(), V3(1.0, 1.5, 2.0), 1e-13, "set moments");
  expectNear(d.centerProducts(), V3(0.0, 0.05, 0.0), 1e-13, "set products");
  EXPECT_FALSE(Dist(true, 1.0, V3(), V3(1.0, 1.0, 5.0), V3()).isTriangleInequalitySatisfied());

  // total(t) keeps center and central quantities; a zero on either side
  // changes only the mass.
  Dist before = d;
  d.total(5.0);
  EXPECT_EQ(d.total(), 5.0);
  expectNear(d.center(), before.center(), 1e-14, "total center");
  expectNear(d.centerMoments(), before.centerMoments(), 1e-13, "total moments");
  expectNear(d.centerProducts(), before.centerProducts(), 1e-13, "total products");
  expectNear(d.firstMoments(), before.firstMoments() * (5.0 / 2.5), 1e-14, "first scaled");
  Dist zeroed = before;
  zeroed.total(0.0);
  EXPECT_EQ(zeroed.total(), 0.0);
  EXPECT_TRUE(zeroed.firstMoments() == before.firstMoments());
  Dist empty(0.0, V3(), V3(1, 2, 3), V3());
  empty.total(3.0);
  EXPECT_TRUE(empty.secondMoments() == V3(1, 2, 3));
  Dist nan = before;
  nan.total(vela::test::kNaN);  // NaN counts as non-zero: the update runs
  EXPECT_TRUE(std::isnan(nan.firstMoments().x()));
}

TEST(LumpedDistribution, UndefinedCenterAndZeroDivisorThrowBeforeChanging) {
  Dist d(0.0, V3(1.0, 0.0, 0.0), V3(1, 1, 1), V3());
  Dist const original = d;
  EXPECT_FALSE(d.isCenterDefined());
  EXPECT_TRUE(Dist().isCenterDefined());
  EXPECT_TRUE(Dist().center() == V3());
  EXPECT_TRUE(Dist::isCenterDefined(vela::test::kNaN, V3(1, 1, 1)));
  using Undefined = Dist::CenterUndefined;
  EXPECT_THROW(d.center(), Undefined);
  EXPECT_THROW(d.centerMoments(), Undefined);
  EXPECT_THROW(d.centerProducts(), Undefined);
  EXPECT_THROW(d.isTriangleInequalitySatisfied(), Undefined);
  EXPECT_THROW(d.principalMoments(), Undefined);
  EXPECT_THROW(d.principalToReferenceTransform(), Undefined);
  EXPECT_THROW(d.centerMoments(V3(1, 1, 1)), Undefined);
  EXPECT_THROW(d.centerProducts(V3(1, 1, 1)), Undefined);
  EXPECT_THROW(Dist().center(V3(0, 1, 0)), Undefined);
  EXPECT_THROW(Dist(true, 0.0, V3(0, 0, 1), V3(), V3()), Undefined);
  EXPECT_THROW(d /= 0.0, Dist::DivisionByZero);
  EXPECT_THROW(d / -0.0, Dist::DivisionByZero);
  expectSameBits(d, original, "after throws");
  T3 guarded = d.guardedPrincipalToReferenceTransform();
  EXPECT_TRUE(guarded.quaternion() == Q() && guarded.translation() == V3());
  try {
    d.center();
  } catch (vela::Exception const& e) {
    EXPECT_STREQ(e.what(), "zeph CenterUndefined");
  }
  try {
    d / 0.0;
  } catch (vela::Exception const& e) {
    EXPECT_STREQ(e.what(), "zeph DivisionByZero");
  }

  // Traced: only a constant decides.
  TracedDist traced(ct::TracedDouble::input("m"), math3d::traceable(V3(1, 0, 0)), {}, {});
  EXPECT_NO_THROW(traced.center());
  EXPECT_NO_THROW(traced / ct::TracedDouble::input("s"));
  TracedDist constant = vm::traceable(original);
  EXPECT_THROW(constant.center(), TracedDist::CenterUndefined);
  EXPECT_THROW(constant / ct::TracedDouble(-0.0), TracedDist::DivisionByZero);
}

TEST(LumpedDistribution, Stringify) {
  Dist d(2.0, V3(1, 0, 0), V3(0.5, 1, 2), V3(0, 0, -1));
  std::string expected = "m0 = " + math3d::stringify(2.0) + ";\nm1 = " + V3(1, 0, 0).stringify() +
                         ";\nm2 = " + V3(0.5, 1, 2).stringify() +
                         ";\np  = " + V3(0, 0, -1).stringify() + ";";
  EXPECT_EQ(d.stringify(), expected);
  EXPECT_EQ(Dist().stringify().substr(0, 5), "m0 = ");
  EXPECT_EQ(vm::traceable(d).stringify(), expected);
}

TEST(LumpedDistribution, TracedThreePaths) {
  // Three traced point masses; every derived quantity, a frame change, the
  // mass update and the guarded principal frame.
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
    math3d::Transform3_T<Mode> T(q, Vec(in.d(14), S(1.0), S(-2.0)));
    auto moved = d.transform(T);
    auto resized = moved;
    resized.total(in.d(15));
    auto frame = moved.guardedPrincipalToReferenceTransform();
    std::vector<S> out;
    auto push = [&](Vec const& v) { out.insert(out.end(), {v.x(), v.y(), v.z()}); };
    push(moved.center());
    push(moved.centerMoments());
    push(moved.centerProducts());
    push(moved.principalMoments());
    push(frame.translation());
    for (int k = 0; k < 4; ++k) out.push_back(frame.quaternion().values()[k]);
    auto scaled = moved.convertVolumeDistribution(in.d(14)) / in.d(13);
    push(scaled.secondMoments());
    out.push_back(resized.zeroethMoment());
    push(resized.firstMoments());
    push(resized.secondMoments());
    push(resized.products());
    out.push_back(S(moved.isTriangleInequalitySatisfied()));
    out.push_back(S(moved == d));
    return out;
  };
  std::vector<double> base = {1.0, 0.1, 0.2,  0.3, 2.0, -1.0, 0.5, 0.0,
                              0.5, 0.3, -0.4, 1.2, 0.9, -0.2, 0.7, 3.5};
  std::vector<vela::test::Case> cases = {{base, {}}};
  // No mass at all: the center is defined, the guarded divisions give zeros.
  auto noMass = base;
  for (std::size_t i = 0; i < 12; ++i) noMass[i] = 0.0;
  cases.push_back({noMass, {}});
  auto newZero = base;  // the new mass is zero: only the mass changes
  newZero[15] = 0.0;
  cases.push_back({newZero, {}});
  auto nanMass = base;
  nanMass[4] = vela::test::kNaN;
  cases.push_back({nanMass, {}});
  vela::test::checkThreePaths(compute, cases);
}

}  // namespace lumped_test
