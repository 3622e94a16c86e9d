#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "vela/math/BeamSectionalProperties.hpp"

namespace vm = vela::math;

namespace beam_test {

namespace ct = kelm_math::comp_trace;
using Beam = vm::BeamSectionalProperties<vm::Numeric>;
using TracedBeam = vm::BeamSectionalProperties<vm::Traced>;
using V2 = vm::Vector2_T<vm::Numeric>;
using TV2 = vm::Vector2_T<vm::Traced>;
using vela::DampingType;
using vela::test::sameBits;

double const kPi = std::acos(-1.0);

// The ten raw scalars Kzz, Hxx, Hyy, Hxy, Hzz, mu, muxx, muyy, muxy, muzz.
Beam rawBeam(V2 bc, std::vector<double> const& s, DampingType type = DampingType::NoDamping) {
  return Beam(bc, V2(0.25, -0.5), s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[9], type,
              0.1, 0.2, 0.3, Beam::Dummy{});
}

// Eigenvalues, smaller first, of the symmetric matrix [[a, c], [c, b]] from
// its characteristic polynomial.
std::pair<double, double> eigenvalues(double a, double b, double c) {
  double trace = a + b, det = a * b - c * c;
  double root = std::sqrt(trace * trace - 4.0 * det);
  return {(trace - root) / 2.0, (trace + root) / 2.0};
}

// Checks the principal values of the centroidal tensor [[xC, -xyC], [-xyC,
// yC]], and, given an orientation, that rotating the tensor by it
// diagonalizes it with the smaller value first.
void expectPrincipal(double xC, double yC, double xyC, double const* angle, double xP, double yP,
                     char const* what) {
  double scale = std::abs(xC) + std::abs(yC) + std::abs(xyC);
  double tol = 1e-12 * scale;
  auto expected = eigenvalues(xC, yC, -xyC);
  EXPECT_NEAR(xP, expected.first, tol) << what;
  EXPECT_NEAR(yP, expected.second, tol) << what;
  EXPECT_LE(xP, yP) << what;
  if (!angle) return;
  EXPECT_LE(std::abs(*angle), kPi / 2.0) << what;
  double c = std::cos(*angle), s = std::sin(*angle);
  EXPECT_NEAR(c * c * xC - 2.0 * c * s * xyC + s * s * yC, xP, tol) << what;
  EXPECT_NEAR(s * s * xC + 2.0 * c * s * xyC + c * c * yC, yP, tol) << what;
  EXPECT_NEAR(c * s * (xC - yC) + (c * c - s * s) * xyC, 0.0, tol) << what;
}

TEST(BeamSectionalProperties, ConstructorsStoreTheirFormulas) {
  V2 bc(0.3, -1.1);
  double E = 2.1, G = 0.8, rho = 7.9, A = 0.3, Ixx = 1.7, Iyy = 0.4, Ixy = -0.2, Ip = 2.3, J = 1.3;
  std::vector<double> s = {E * A,   E * Ixx,   E * Iyy,   E * Ixy,   G * J,
                           rho * A, rho * Ixx, rho * Iyy, rho * Ixy, rho * Ixx + rho * Iyy};
  Beam raw10 = rawBeam(bc, s, DampingType::Proportional);
  double const stored[] = {raw10.axialStiffness(),
                           raw10.xBendingStiffness(),
                           raw10.yBendingStiffness(),
                           raw10.xyCrossBendingStiffness(),
                           raw10.torsionalStiffness(),
                           raw10.massPerUnitLength(),
                           raw10.xMassMomentOfInertiaDensity(),
                           raw10.yMassMomentOfInertiaDensity(),
                           raw10.xyMassProductOfInertiaDensity(),
                           raw10.zPolarMassMomentOfInertiaDensity()};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(stored[i], s[i]) << i;
  EXPECT_TRUE(raw10.bendingCentroid() == bc && raw10.shearCenter() == V2(0.25, -0.5));
  EXPECT_EQ(raw10.dampingType(), DampingType::Proportional);
  EXPECT_EQ(raw10.proportionalDampingAlpha(), 0.1);
  EXPECT_EQ(raw10.proportionalDampingBeta(), 0.2);
  EXPECT_EQ(raw10.uniformModalDampingZeta(), 0.3);

  V2 const sc0(0.25, -0.5);
  Beam eight(bc, sc0, E, G, rho, A, Ixx, Iyy, Ixy, J, DampingType::Proportional, 0.1, 0.2, 0.3);
  EXPECT_TRUE(eight == raw10);
  Beam nine(bc, sc0, E, G, rho, A, Ixx, Iyy, Ixy, Ip, J, DampingType::Proportional, 0.1, 0.2, 0.3);
  s[9] = rho * Ip;
  EXPECT_TRUE(nine == rawBeam(bc, s, DampingType::Proportional));
  Beam raw9(bc, sc0, s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8],
            DampingType::Proportional, 0.1, 0.2, 0.3, Beam::Dummy{});
  EXPECT_EQ(raw9.zPolarMassMomentOfInertiaDensity(), s[6] + s[7]);

  EXPECT_TRUE(Beam() == Beam(V2(), V2(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, DampingType::NoDamping, 0, 0,
                             0, Beam::Dummy{}));
}

TEST(BeamSectionalProperties, DerivedValuesOnRandomSections) {
  std::mt19937 gen(4);
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  for (int trial = 0; trial < 40; ++trial) {
    V2 bc(u(gen), u(gen));
    std::vector<double> s;
    for (int i = 0; i < 10; ++i) s.push_back(u(gen) * (i == 3 || i == 8 ? 1.0 : 3.0));
    Beam b = rawBeam(bc, s);
    double x = bc.x(), y = bc.y();
    double xC = s[1] - s[0] * y * y, yC = s[2] - s[0] * x * x, xyC = s[3] - s[0] * x * y;
    double mxC = s[6] - s[5] * y * y, myC = s[7] - s[5] * x * x, mxyC = s[8] - s[5] * x * y;
    double tol = 1e-12;
    EXPECT_NEAR(b.xCentroidalBendingStiffness(), xC, tol);
    EXPECT_NEAR(b.yCentroidalBendingStiffness(), yC, tol);
    EXPECT_NEAR(b.xyCentroidalCrossBendingStiffness(), xyC, tol);
    EXPECT_NEAR(b.xCentroidalMassMomentOfInertiaDensity(), mxC, tol);
    EXPECT_NEAR(b.yCentroidalMassMomentOfInertiaDensity(), myC, tol);
    EXPECT_NEAR(b.xyCentroidalMassProductOfInertiaDensity(), mxyC, tol);
    double polar = s[9] - s[5] * (x * x + y * y);
    EXPECT_NEAR(b.zCentroidalPolarMassMomentOfInertiaDensity(), polar, tol);
    EXPECT_EQ(b.zPrincipalPolarMassMomentOfInertiaDensity(),
              b.zCentroidalPolarMassMomentOfInertiaDensity());
    double angle = b.principalAxisOrientation();
    expectPrincipal(xC, yC, xyC, &angle, b.xPrincipalBendingStiffness(),
                    b.yPrincipalBendingStiffness(), "bending");
    expectPrincipal(mxC, myC, mxyC, nullptr, b.xPrincipalMassMomentOfInertiaDensity(),
                    b.yPrincipalMassMomentOfInertiaDensity(), "mass");

    // The mean-and-radius form with * 0.5 gives the same bits.
    double bx = b.xCentroidalBendingStiffness(), by = b.yCentroidalBendingStiffness(),
           bxy = b.xyCentroidalCrossBendingStiffness();
    double half = (by - bx) * 0.5;
    double radius = std::sqrt(half * half + bxy * bxy);
    EXPECT_TRUE(sameBits(b.xPrincipalBendingStiffness(), (by + bx) * 0.5 - radius));
    EXPECT_TRUE(sameBits(b.yPrincipalBendingStiffness(), (by + bx) * 0.5 + radius));
    EXPECT_TRUE(sameBits(b.principalAxisOrientation(), 0.5 * vm::guardedAtan2(bxy, half)));
  }
}

TEST(BeamSectionalProperties, CentroidAtOriginAndUncoupledAxes) {
  std::vector<double> s = {3.0, 2.0, 5.0, 0.0, 1.0, 4.0, 7.0, 6.0, 0.0, 13.0};
  Beam b = rawBeam(V2(0.0, 0.0), s);
  EXPECT_EQ(b.xCentroidalBendingStiffness(), 2.0);
  EXPECT_EQ(b.yCentroidalBendingStiffness(), 5.0);
  EXPECT_EQ(b.xyCentroidalCrossBendingStiffness(), 0.0);
  EXPECT_EQ(b.xCentroidalMassMomentOfInertiaDensity(), 7.0);
  EXPECT_EQ(b.yCentroidalMassMomentOfInertiaDensity(), 6.0);
  EXPECT_EQ(b.xyCentroidalMassProductOfInertiaDensity(), 0.0);
  EXPECT_EQ(b.zCentroidalPolarMassMomentOfInertiaDensity(), 13.0);
  // Bending: yC > xC, axes already principal.
  EXPECT_EQ(b.principalAxisOrientation(), 0.0);
  EXPECT_EQ(b.xPrincipalBendingStiffness(), 2.0);
  EXPECT_EQ(b.yPrincipalBendingStiffness(), 5.0);
  // Mass: yC < xC, the principal values swap.
  EXPECT_EQ(b.xPrincipalMassMomentOfInertiaDensity(), 6.0);
  EXPECT_EQ(b.yPrincipalMassMomentOfInertiaDensity(), 7.0);

  // yC < xC: the axes turn by a quarter.
  b.xBendingStiffness(9.0);
  EXPECT_DOUBLE_EQ(b.principalAxisOrientation(), kPi / 2.0);
  EXPECT_EQ(b.xPrincipalBendingStiffness(), 5.0);
  EXPECT_EQ(b.yPrincipalBendingStiffness(), 9.0);
  // An isotropic section has no preferred axis: guarded to 0.
  b.xBendingStiffness(5.0);
  b.xyCrossBendingStiffness(-0.0);
  EXPECT_EQ(b.principalAxisOrientation(), 0.0);
  EXPECT_EQ(b.xPrincipalBendingStiffness(), 5.0);
  EXPECT_EQ(b.yPrincipalBendingStiffness(), 5.0);
}

// The header of each member, in member order.
char const* const kHeaders[] = {"bc = ... % 2-vector bending centroid\n",
                                "sc = ... % 2-vector shear center\n",
                                "Kzz = ... % Scalar axial stiffness\n",
                                "Hxx = ... % Scalar X Bending Stiffness\n",
                                "Hyy = ... % Scalar Y Bending Stiffness\n",
                                "Hxy = ... % Scalar XY Cross Bending Stiffness\n",
                                "Hzz = ... % Scalar torsional stiffness\n",
                                "mu = ... % Scalar mass per unit length\n",
                                "muxx = ... % Scalar X Mass Moment Of Inertia Density\n",
                                "muyy = ... % Scalar Y Mass Moment Of Inertia Density\n",
                                "muxy = ... % Scalar XY Mass Product Of Inertia Density\n",
                                "muzz = ... % Scalar Z Polar Mass Moment Of Inertia Density\n",
                                "Dtype = ... % Damping type\n",
                                "Dalph = ... % Scalar proportional damping alpha\n",
                                "Dbeta = ... % Scalar proportional damping beta\n",
                                "Dzeta = ... % Scalar uniform modal damping zeta\n"};
char const* const kCellLines[] = {
    "sectProps = ... % Full set of cross-sectional data\n", "{bc, sc                      ...\n",
    " Kzz, Hxx, Hyy, Hxy, Hzz     ...\n", " mu, muxx, muyy, muxy, muzz, ...\n",
    " Dtype, Dalph, Dbeta, Dzeta};"};

std::string expectedText(std::vector<std::string> const& values) {
  std::string text;
  for (std::size_t i = 0; i < 16; ++i) text += kHeaders[i] + values[i] + ";\n";
  for (char const* line : kCellLines) text += line;
  return text;
}

TEST(BeamSectionalProperties, DisplayText) {
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(std::string(kCellLines[k]).size(), 33u) << k;

  std::string zero = math3d::stringify(0.0);
  std::vector<std::string> values(16, zero);
  values[0] = values[1] = V2().stringify();
  values[12] = "'None'";
  EXPECT_EQ(Beam().stringify(), expectedText(values));
  // A constant traced set writes the same text.
  EXPECT_EQ(TracedBeam().stringify(), expectedText(values));

  Beam b = rawBeam(V2(1.5, -2.0), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  values = {V2(1.5, -2.0).stringify(), V2(0.25, -0.5).stringify()};
  for (double v : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}) values.push_back(math3d::stringify(v));
  values.push_back("");
  for (double v : {0.1, 0.2, 0.3}) values.push_back(math3d::stringify(v));
  struct {
    int type;
    char const* text;
  } const types[] = {
      {0, "'None'"}, {1, "'Prop'"}, {2, "'Unif'"}, {3, "'PROBLEM'"}, {-1, "'PROBLEM'"}};
  for (auto const& t : types) {
    b.dampingType(static_cast<DampingType>(t.type));
    values[12] = t.text;
    EXPECT_EQ(b.stringify(), expectedText(values)) << t.type;
  }
}

TEST(BeamSectionalProperties, EqualityMemberByMember) {
  std::vector<double> s = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  Beam const base = rawBeam(V2(1.0, 2.0), s, DampingType::Proportional);
  EXPECT_TRUE(base == base);
  EXPECT_FALSE(base != base);
  EXPECT_TRUE(base.isOperationallyEqual(base));
  // Every member takes part.
  using Change = void (*)(Beam&);
  Change const changes[] = {[](Beam& b) { b.bendingCentroid(V2(1.0, 2.5)); },
                            [](Beam& b) { b.shearCenter(V2(0.0, -0.5)); },
                            [](Beam& b) { b.axialStiffness(-1.0); },
                            [](Beam& b) { b.xBendingStiffness(-1.0); },
                            [](Beam& b) { b.yBendingStiffness(-1.0); },
                            [](Beam& b) { b.xyCrossBendingStiffness(-1.0); },
                            [](Beam& b) { b.torsionalStiffness(-1.0); },
                            [](Beam& b) { b.massPerUnitLength(-1.0); },
                            [](Beam& b) { b.xMassMomentOfInertiaDensity(-1.0); },
                            [](Beam& b) { b.yMassMomentOfInertiaDensity(-1.0); },
                            [](Beam& b) { b.xyMassProductOfInertiaDensity(-1.0); },
                            [](Beam& b) { b.zPolarMassMomentOfInertiaDensity(-1.0); },
                            [](Beam& b) { b.dampingType(DampingType::UniformModal); },
                            [](Beam& b) { b.proportionalDampingAlpha(-1.0); },
                            [](Beam& b) { b.proportionalDampingBeta(-1.0); },
                            [](Beam& b) { b.uniformModalDampingZeta(vela::test::kNaN); }};
  Beam withNaN = base;
  withNaN.torsionalStiffness(vela::test::kNaN);
  EXPECT_FALSE(withNaN == withNaN);
  EXPECT_FALSE(withNaN.isOperationallyEqual(withNaN));
  for (std::size_t i = 0; i < std::size(changes); ++i) {
    Beam changed = base;
    changes[i](changed);
    EXPECT_FALSE(changed == base) << i;
    EXPECT_TRUE(changed != base) << i;
    EXPECT_FALSE(changed.isOperationallyEqual(base)) << i;
    EXPECT_FALSE(base.isOperationallyEqual(changed)) << i;
  }
}

TEST(BeamSectionalProperties, TracedEqualityAndConversions) {
  auto in = [](char const* name) { return ct::TracedDouble::input(name); };
  auto tracedBeam = [&](ct::TracedDouble const& kzz) {
    return TracedBeam(TV2(in("bx"), 0.5), TV2(), kzz, 2.0, 3.0, in("hxy"), 5.0, 6.0, 7.0, 8.0, 9.0,
                      10.0, DampingType::Proportional, 0.1, in("beta"), 0.3, TracedBeam::Dummy{});
  };
  TracedBeam a = tracedBeam(in("k1")), b = tracedBeam(in("k2"));
  ct::BindingSet bindings;
  for (char const* name : {"bx", "hxy", "beta"}) bindings.bind(name, 1.25);
  bindings.bind("k1", 4.0);
  bindings.bind("k2", 4.0);

  ct::TracedBool same = a == b, differ = a != b;
  bool constant = false;
  EXPECT_FALSE(same.getConstant(constant));
  EXPECT_TRUE(same.evaluate(bindings));
  EXPECT_FALSE(differ.evaluate(bindings));
  bindings.bind("k2", -4.0);
  EXPECT_FALSE(same.evaluate(bindings));
  EXPECT_TRUE(differ.evaluate(bindings));
  // Graphs, not values, decide operational equality.
  EXPECT_TRUE(a.isOperationallyEqual(tracedBeam(in("k1"))));
  EXPECT_FALSE(a.isOperationallyEqual(b));
  // Constant sets fold.
  EXPECT_TRUE((TracedBeam() == TracedBeam()).getConstant(constant) && constant);
  TracedBeam other;
  other.dampingType(static_cast<DampingType>(3));
  EXPECT_TRUE((TracedBeam() != other).getConstant(constant) && constant);

  Beam numeric(a, bindings);
  Beam direct(V2(1.25, 0.5), V2(), 4.0, 2.0, 3.0, 1.25, 5.0, 6.0, 7.0, 8.0, 9.0, 10.0,
              DampingType::Proportional, 0.1, 1.25, 0.3, Beam::Dummy{});
  EXPECT_TRUE(numeric == direct);
  EXPECT_TRUE(sameBits(numeric.xPrincipalBendingStiffness(),
                       a.xPrincipalBendingStiffness().evaluate(bindings)));
  EXPECT_THROW(Beam(a, ct::BindingSet()), ct::UnboundInput);

  TracedBeam reset(a, bindings);
  EXPECT_TRUE(reset.isOperationallyEqual(TracedBeam()));
  EXPECT_EQ(reset.dampingType(), DampingType::NoDamping);
}

TEST(BeamSectionalProperties, DerivedValuesAlongThreePaths) {
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using Mode = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
    using P = vm::Vector2_T<Mode>;
    vm::BeamSectionalProperties<Mode> b(
        P(in.d(0), in.d(1)), P(in.d(2), in.d(3)), in.d(4), in.d(5), in.d(6), in.d(7), in.d(8),
        in.d(9), in.d(10), in.d(11), in.d(12), in.d(13), DampingType::NoDamping, S(0.0), S(0.0),
        S(0.0), typename vm::BeamSectionalProperties<Mode>::Dummy{});
    return std::vector<S>{b.xCentroidalBendingStiffness(),
                          b.yCentroidalBendingStiffness(),
                          b.xyCentroidalCrossBendingStiffness(),
                          b.principalAxisOrientation(),
                          b.xPrincipalBendingStiffness(),
                          b.yPrincipalBendingStiffness(),
                          b.xCentroidalMassMomentOfInertiaDensity(),
                          b.yCentroidalMassMomentOfInertiaDensity(),
                          b.xyCentroidalMassProductOfInertiaDensity(),
                          b.zCentroidalPolarMassMomentOfInertiaDensity(),
                          b.xPrincipalMassMomentOfInertiaDensity(),
                          b.yPrincipalMassMomentOfInertiaDensity(),
                          b.zPrincipalPolarMassMomentOfInertiaDensity()};
  };
  std::vector<vela::test::Case> cases;
  for (unsigned seed : {1u, 2u, 3u}) cases.push_back({vela::test::randomDoubles(14, seed), {}});
  // bc, sc, Kzz, Hxx, Hyy, Hxy, Hzz, mu, muxx, muyy, muxy, muzz.
  // Off the origin, xyC and the half difference both vanish: guarded angle.
  cases.push_back({{0.5, 3.0, 0.0, 0.0, 2.0, 20.0, 2.5, 3.0, 1.0, 1.0, 9.5, 0.75, 1.5, 4.0}, {}});
  // At the origin, isotropic with a negative zero coupling.
  cases.push_back({{0.0, -0.0, 1.0, 1.0, 2.0, 4.0, 4.0, -0.0, 1.0, 1.0, 3.0, 3.0, 0.0, 6.0}, {}});
  // Negative values throughout.
  cases.push_back(
      {{-1.5, -0.25, -2.0, -3.0, -4.0, -7.0, -9.0, -2.5, -1.0, -3.0, -8.0, -6.0, -0.5, -5.0}, {}});
  // Uncoupled with yC < xC; and a non-finite input.
  cases.push_back({{0.0, 0.0, 0.0, 0.0, 1.0, 9.0, 5.0, 0.0, 1.0, 1.0, 7.0, 6.0, 0.0, 13.0}, {}});
  cases.push_back(
      {{vela::test::kInf, 1.0, 0.0, 0.0, 1.0, 9.0, 5.0, 0.0, 1.0, 1.0, 7.0, 6.0, 0.0, 13.0}, {}});
  auto result = vela::test::checkThreePaths(compute, cases);
  // Recorded, not folded: the generated code computes the angle and radii.
  EXPECT_EQ(vela::test::occurrences(result.code, "vela_rt_guarded_atan2("), 1u) << result.code;
  EXPECT_GE(vela::test::occurrences(result.code, "sqrt("), 2u) << result.code;
}

}  // namespace beam_test
