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

// The principal values of the centroidal tensor [[xC, -xyC], [-xyC, yC]]
// from its characteristic polynomial, smaller first; given an orientation,
// rotating the tensor by it diagonalizes it.
void expectPrincipal(double xC, double yC, double xyC, double const* angle, double xP, double yP) {
  double tol = 1e-12 * (std::abs(xC) + std::abs(yC) + std::abs(xyC)), trace = xC + yC;
  double root = std::sqrt(trace * trace - 4.0 * (xC * yC - xyC * xyC));
  EXPECT_NEAR(xP, (trace - root) / 2.0, tol);
  EXPECT_NEAR(yP, (trace + root) / 2.0, tol);
  if (!angle) return;
  EXPECT_LE(std::abs(*angle), kPi / 2.0);
  double c = std::cos(*angle), s = std::sin(*angle);
  EXPECT_NEAR(c * c * xC - 2.0 * c * s * xyC + s * s * yC, xP, tol);
  EXPECT_NEAR(c * s * (xC - yC) + (c * c - s * s) * xyC, 0.0, tol);
}

TEST(BeamSectionalProperties, ConstructorsStoreTheirFormulas) {
  V2 bc(0.3, -1.1), sc(0.25, -0.5);
  double E = 2.1, G = 0.8, rho = 7.9, A = 0.3, Ixx = 1.7, Iyy = 0.4, Ixy = -0.2, Ip = 2.3, J = 1.3;
  std::vector<double> s = {E * A,   E * Ixx,   E * Iyy,   E * Ixy,   G * J,
                           rho * A, rho * Ixx, rho * Iyy, rho * Ixy, rho * Ixx + rho * Iyy};
  Beam raw = rawBeam(bc, s, DampingType::Proportional);
  std::vector<double> stored = {raw.axialStiffness(),
                                raw.xBendingStiffness(),
                                raw.yBendingStiffness(),
                                raw.xyCrossBendingStiffness(),
                                raw.torsionalStiffness(),
                                raw.massPerUnitLength(),
                                raw.xMassMomentOfInertiaDensity(),
                                raw.yMassMomentOfInertiaDensity(),
                                raw.xyMassProductOfInertiaDensity(),
                                raw.zPolarMassMomentOfInertiaDensity(),
                                raw.proportionalDampingAlpha(),
                                raw.proportionalDampingBeta(),
                                raw.uniformModalDampingZeta()};
  s.insert(s.end(), {0.1, 0.2, 0.3});
  EXPECT_EQ(stored, s);
  s.resize(10);
  EXPECT_TRUE(raw.bendingCentroid() == bc && raw.shearCenter() == sc);
  EXPECT_EQ(raw.dampingType(), DampingType::Proportional);
  EXPECT_TRUE(Beam(bc, sc, E, G, rho, A, Ixx, Iyy, Ixy, J, DampingType::Proportional, 0.1, 0.2,
                   0.3) == raw);
  Beam nine(bc, sc, E, G, rho, A, Ixx, Iyy, Ixy, Ip, J, DampingType::Proportional, 0.1, 0.2, 0.3);
  s[9] = rho * Ip;
  EXPECT_TRUE(nine == rawBeam(bc, s, DampingType::Proportional));
  Beam raw9(bc, sc, s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], DampingType::Proportional,
            0.1, 0.2, 0.3, Beam::Dummy{});
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
    std::pair<double, double> const rows[] = {
        {b.xCentroidalBendingStiffness(), xC},
        {b.yCentroidalBendingStiffness(), yC},
        {b.xyCentroidalCrossBendingStiffness(), xyC},
        {b.xCentroidalMassMomentOfInertiaDensity(), mxC},
        {b.yCentroidalMassMomentOfInertiaDensity(), myC},
        {b.xyCentroidalMassProductOfInertiaDensity(), mxyC},
        {b.zCentroidalPolarMassMomentOfInertiaDensity(), s[9] - s[5] * (x * x + y * y)},
        {b.zPrincipalPolarMassMomentOfInertiaDensity(), s[9] - s[5] * (x * x + y * y)}};
    for (auto [got, expected] : rows) EXPECT_NEAR(got, expected, 1e-12);
    double angle = b.principalAxisOrientation();
    expectPrincipal(xC, yC, xyC, &angle, b.xPrincipalBendingStiffness(),
                    b.yPrincipalBendingStiffness());
    expectPrincipal(mxC, myC, mxyC, nullptr, b.xPrincipalMassMomentOfInertiaDensity(),
                    b.yPrincipalMassMomentOfInertiaDensity());

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
  Beam b = rawBeam(V2(0.0, 0.0), {3.0, 2.0, 5.0, 0.0, 1.0, 4.0, 7.0, 6.0, 0.0, 13.0});
  auto values = [&] {
    return std::vector<double>{b.xCentroidalBendingStiffness(),
                               b.yCentroidalBendingStiffness(),
                               b.xyCentroidalCrossBendingStiffness(),
                               b.xCentroidalMassMomentOfInertiaDensity(),
                               b.yCentroidalMassMomentOfInertiaDensity(),
                               b.xyCentroidalMassProductOfInertiaDensity(),
                               b.zCentroidalPolarMassMomentOfInertiaDensity(),
                               b.principalAxisOrientation(),
                               b.xPrincipalBendingStiffness(),
                               b.yPrincipalBendingStiffness(),
                               b.xPrincipalMassMomentOfInertiaDensity(),
                               b.yPrincipalMassMomentOfInertiaDensity()};
  };
  // Bending axes already principal; the mass values swap (yC < xC).
  EXPECT_EQ(values(), (std::vector<double>{2, 5, 0, 7, 6, 0, 13, 0, 2, 5, 6, 7}));
  b.xBendingStiffness(9.0);  // yC < xC: the axes turn by a quarter
  EXPECT_DOUBLE_EQ(b.principalAxisOrientation(), kPi / 2.0);
  EXPECT_TRUE(b.xPrincipalBendingStiffness() == 5.0 && b.yPrincipalBendingStiffness() == 9.0);
  b.xBendingStiffness(5.0);  // isotropic: no preferred axis, guarded to 0
  b.xyCrossBendingStiffness(-0.0);
  EXPECT_TRUE(b.principalAxisOrientation() == 0.0 && b.xPrincipalBendingStiffness() == 5.0 &&
              b.yPrincipalBendingStiffness() == 5.0);
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
  std::string zero = math3d::stringify(0.0);
  std::vector<std::string> values(16, zero);
  values[0] = values[1] = V2().stringify();
  values[12] = "'None'";
  EXPECT_EQ(Beam().stringify(), expectedText(values));
  EXPECT_EQ(TracedBeam().stringify(), expectedText(values));  // constants: the same text
  Beam b = rawBeam(V2(1.5, -2.0), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  values = {V2(1.5, -2.0).stringify(), V2(0.25, -0.5).stringify()};
  for (double v : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}) values.push_back(math3d::stringify(v));
  values.push_back("");
  for (double v : {0.1, 0.2, 0.3}) values.push_back(math3d::stringify(v));
  for (auto [type, text] : {std::pair{0, "'None'"},
                            {1, "'Prop'"},
                            {2, "'Unif'"},
                            {3, "'PROBLEM'"},
                            {-1, "'PROBLEM'"}}) {
    b.dampingType(static_cast<DampingType>(type));
    values[12] = text;
    EXPECT_EQ(b.stringify(), expectedText(values)) << type;
  }
}

TEST(BeamSectionalProperties, EqualityMemberByMember) {
  std::vector<double> s = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  Beam const base = rawBeam(V2(1.0, 2.0), s, DampingType::Proportional);
  EXPECT_TRUE(base == base && !(base != base) && base.isOperationallyEqual(base));
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
  EXPECT_FALSE(withNaN == withNaN || withNaN.isOperationallyEqual(withNaN));
  for (std::size_t i = 0; i < std::size(changes); ++i) {
    Beam changed = base;
    changes[i](changed);
    EXPECT_TRUE(!(changed == base) && changed != base && !changed.isOperationallyEqual(base) &&
                !base.isOperationallyEqual(changed))
        << i;
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
  EXPECT_TRUE(!same.getConstant(constant) && same.evaluate(bindings) && !differ.evaluate(bindings));
  bindings.bind("k2", -4.0);
  EXPECT_TRUE(!same.evaluate(bindings) && differ.evaluate(bindings));
  // Graphs, not values, decide operational equality.
  EXPECT_TRUE(a.isOperationallyEqual(tracedBeam(in("k1"))) && !a.isOperationallyEqual(b));
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
  EXPECT_TRUE(reset.isOperationallyEqual(TracedBeam()) &&
              reset.dampingType() == DampingType::NoDamping);
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
  // bc, sc, Kzz, Hxx, Hyy, Hxy, Hzz, mu, muxx, muyy, muxy, muzz: off the
  // origin xyC and the half difference vanish (guarded angle); isotropic at
  // the origin with a negative zero coupling; negative throughout; uncoupled
  // with yC < xC; a non-finite input.
  for (std::vector<double> d :
       {std::vector<double>{0.5, 3, 0, 0, 2, 20, 2.5, 3, 1, 1, 9.5, 0.75, 1.5, 4},
        {0, -0.0, 1, 1, 2, 4, 4, -0.0, 1, 1, 3, 3, 0, 6},
        {-1.5, -0.25, -2, -3, -4, -7, -9, -2.5, -1, -3, -8, -6, -0.5, -5},
        {0, 0, 0, 0, 1, 9, 5, 0, 1, 1, 7, 6, 0, 13},
        {vela::test::kInf, 1, 0, 0, 1, 9, 5, 0, 1, 1, 7, 6, 0, 13}})
    cases.push_back({d, {}});
  auto result = vela::test::checkThreePaths(compute, cases);
  // Recorded, not folded: the generated code computes the angle and radii.
  EXPECT_EQ(vela::test::occurrences(result.code, "vela_rt_guarded_atan2("), 1u) << result.code;
  EXPECT_GE(vela::test::occurrences(result.code, "sqrt("), 2u) << result.code;
}

}  // namespace beam_test
