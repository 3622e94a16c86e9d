#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
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
using vela::DampingType;
using vela::test::kNaN;
using vela::test::sameBits;

// The raw scalars Kzz, Hxx, Hyy, Hxy, Hzz, mu, muxx, muyy, muxy, muzz.
Beam rawBeam(V2 bc, std::vector<double> const& s, DampingType type = DampingType::NoDamping) {
  return Beam(bc, V2(0.25, -0.5), s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[9], type,
              0.1, 0.2, 0.3, Beam::Dummy{});
}

// The ten raw scalars, alpha, beta, zeta; then centroidal x, y, xy,
// principal angle, x, y (bending); centroidal x, y, xy, polar, principal x,
// y, polar (mass).
template <class B>
auto numbers(B const& b) {
  using Get = typename B::Real (B::*)() const;
  std::vector<typename B::Real> r;
  for (Get get : std::initializer_list<Get>{
           &B::axialStiffness, &B::xBendingStiffness, &B::yBendingStiffness,
           &B::xyCrossBendingStiffness, &B::torsionalStiffness, &B::massPerUnitLength,
           &B::xMassMomentOfInertiaDensity, &B::yMassMomentOfInertiaDensity,
           &B::xyMassProductOfInertiaDensity, &B::zPolarMassMomentOfInertiaDensity,
           &B::proportionalDampingAlpha, &B::proportionalDampingBeta, &B::uniformModalDampingZeta})
    r.push_back((b.*get)());
  for (Get get : std::initializer_list<Get>{
           &B::xCentroidalBendingStiffness, &B::yCentroidalBendingStiffness,
           &B::xyCentroidalCrossBendingStiffness, &B::principalAxisOrientation,
           &B::xPrincipalBendingStiffness, &B::yPrincipalBendingStiffness,
           &B::xCentroidalMassMomentOfInertiaDensity, &B::yCentroidalMassMomentOfInertiaDensity,
           &B::xyCentroidalMassProductOfInertiaDensity,
           &B::zCentroidalPolarMassMomentOfInertiaDensity, &B::xPrincipalMassMomentOfInertiaDensity,
           &B::yPrincipalMassMomentOfInertiaDensity, &B::zPrincipalPolarMassMomentOfInertiaDensity})
    r.push_back((b.*get)());
  return r;
}

TEST(BeamSectionalProperties, ValuesMatchTheFormulas) {
  std::mt19937 gen(4);
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  auto const P = DampingType::Proportional;
  for (int trial = 0; trial < 40; ++trial) {
    V2 bc(u(gen), u(gen)), sc(0.25, -0.5);
    double E = u(gen), G = u(gen), rho = u(gen), A = u(gen), Ixx = u(gen), Iyy = u(gen),
           Ixy = u(gen), Ip = u(gen), J = u(gen);
    std::vector<double> s = {E * A,   E * Ixx,   E * Iyy,   E * Ixy,   G * J,
                             rho * A, rho * Ixx, rho * Iyy, rho * Ixy, rho * Ixx + rho * Iyy};
    EXPECT_TRUE(Beam(bc, sc, E, G, rho, A, Ixx, Iyy, Ixy, J, P, 0.1, 0.2, 0.3) ==
                rawBeam(bc, s, P));
    EXPECT_TRUE(Beam(bc, sc, s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], P, 0.1, 0.2, 0.3,
                     Beam::Dummy{}) == rawBeam(bc, s, P));
    s[9] = rho * Ip;
    Beam b(bc, sc, E, G, rho, A, Ixx, Iyy, Ixy, Ip, J, P, 0.1, 0.2, 0.3);
    EXPECT_TRUE(b == rawBeam(bc, s, P) && b.bendingCentroid() == bc && b.shearCenter() == sc &&
                b.dampingType() == P);
    // The named form gives each positional form's object, field by field; a
    // stiffness or density given wins over the material's.
    using F = Beam::Fields;
    F material, raw;
    for (F* f : {&material, &raw}) {
      f->bendingCentroid = bc;
      f->shearCenter = sc;
      f->dampingType = P;
      f->proportionalDampingAlpha = 0.1;
      f->proportionalDampingBeta = 0.2;
      f->uniformModalDampingZeta = 0.3;
    }
    double const materialValues[] = {E, G, rho, A, Ixx, Iyy, Ixy, J};
    std::size_t k = 0;
    for (auto member :
         {&F::youngsModulus, &F::shearModulus, &F::density, &F::area, &F::xSecondMomentOfArea,
          &F::ySecondMomentOfArea, &F::xyProductOfArea, &F::torsionConstant})
      material.*member = materialValues[k++];
    k = 0;
    for (auto member : {&F::axialStiffness, &F::xBendingStiffness, &F::yBendingStiffness,
                        &F::xyCrossBendingStiffness, &F::torsionalStiffness, &F::massPerUnitLength,
                        &F::xMassMomentOfInertiaDensity, &F::yMassMomentOfInertiaDensity,
                        &F::xyMassProductOfInertiaDensity, &F::zPolarMassMomentOfInertiaDensity})
      raw.*member = s[k++];
    F withIp = material, noMuzz = raw;
    withIp.polarSecondMomentOfArea = Ip;
    noMuzz.zPolarMassMomentOfInertiaDensity.reset();
    F mixed = withIp;
    mixed.axialStiffness = mixed.zPolarMassMomentOfInertiaDensity = -7.0;
    std::vector<double> given = s;
    given[0] = given[9] = -7.0;
    std::pair<Beam, Beam> const rows[] = {
        {Beam(material), Beam(bc, sc, E, G, rho, A, Ixx, Iyy, Ixy, J, P, 0.1, 0.2, 0.3)},
        {Beam(withIp), b},
        {Beam(noMuzz), Beam(bc, sc, s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], P, 0.1,
                            0.2, 0.3, Beam::Dummy{})},
        {Beam(raw), rawBeam(bc, s, P)},
        {Beam(mixed), rawBeam(bc, given, P)}};
    for (std::size_t r = 0; r < std::size(rows); ++r)
      EXPECT_TRUE(rows[r].first == rows[r].second &&
                  numbers(rows[r].first) == numbers(rows[r].second))
          << r;
    double x = bc.x(), y = bc.y(), xC = s[1] - s[0] * y * y, yC = s[2] - s[0] * x * x,
           xyC = s[3] - s[0] * x * y, mxC = s[6] - s[5] * y * y, myC = s[7] - s[5] * x * x,
           mxyC = s[8] - s[5] * x * y, polar = s[9] - s[5] * (x * x + y * y);
    // Principal values by mean and radius, smaller first; the angle
    // diagonalizes the tensor [[xC, -xyC], [-xyC, yC]].
    auto principal = [](double a, double b, double c) {
      double half = (b - a) * 0.5, radius = std::sqrt(half * half + c * c);
      return std::vector{(b + a) * 0.5 - radius, (b + a) * 0.5 + radius};
    };
    auto bending = principal(xC, yC, xyC), mass = principal(mxC, myC, mxyC);
    std::vector<double> got = numbers(b), expected = s;
    expected.insert(expected.end(), {0.1, 0.2, 0.3, xC, yC, xyC, got[16], bending[0], bending[1],
                                     mxC, myC, mxyC, polar, mass[0], mass[1], polar});
    for (std::size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], expected[k], 1e-12) << k;
    double c = std::cos(got[16]), sn = std::sin(got[16]);
    EXPECT_NEAR(c * sn * (xC - yC) + (c * c - sn * sn) * xyC, 0.0, 1e-12);
    EXPECT_NEAR(c * c * xC - 2.0 * c * sn * xyC + sn * sn * yC, got[17], 1e-12);
    EXPECT_TRUE(sameBits(got[16], 0.5 * vm::guardedAtan2(got[15], (got[14] - got[13]) * 0.5)));
  }
  // Bending axes already principal, mass values swapped (yC < xC).
  Beam b = rawBeam(V2(0.0, 0.0), {3.0, 2.0, 5.0, 0.0, 1.0, 4.0, 7.0, 6.0, 0.0, 13.0});
  EXPECT_EQ(numbers(b), (std::vector<double>{3, 2, 5, 0, 1, 4, 7, 6, 0, 13, 0.1, 0.2, 0.3,
                                             2, 5, 0, 0, 2, 5, 7, 6, 0, 13, 6,   7,   13}));
  b.xBendingStiffness(9.0);  // yC < xC: the axes turn by a quarter
  EXPECT_DOUBLE_EQ(b.principalAxisOrientation(), std::acos(-1.0) / 2.0);
  EXPECT_TRUE(b.xPrincipalBendingStiffness() == 5.0 && b.yPrincipalBendingStiffness() == 9.0);
  b.xBendingStiffness(5.0);  // isotropic: no preferred axis, guarded to 0
  b.xyCrossBendingStiffness(-0.0);
  EXPECT_TRUE(b.principalAxisOrientation() == 0.0 && b.xPrincipalBendingStiffness() == 5.0);
  EXPECT_TRUE(Beam() == Beam(V2(), V2(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, DampingType::NoDamping, 0, 0,
                             0, Beam::Dummy{}) &&
              Beam() == Beam(Beam::Fields()));
}
TEST(BeamSectionalProperties, DisplayTextAndEquality) {
  char const* const names[] = {"bc = ... % 2-vector bending centroid",
                               "sc = ... % 2-vector shear center",
                               "Kzz = ... % Scalar axial stiffness",
                               "Hxx = ... % Scalar X Bending Stiffness",
                               "Hyy = ... % Scalar Y Bending Stiffness",
                               "Hxy = ... % Scalar XY Cross Bending Stiffness",
                               "Hzz = ... % Scalar torsional stiffness",
                               "mu = ... % Scalar mass per unit length",
                               "muxx = ... % Scalar X Mass Moment Of Inertia Density",
                               "muyy = ... % Scalar Y Mass Moment Of Inertia Density",
                               "muxy = ... % Scalar XY Mass Product Of Inertia Density",
                               "muzz = ... % Scalar Z Polar Mass Moment Of Inertia Density",
                               "Dtype = ... % Damping type",
                               "Dalph = ... % Scalar proportional damping alpha",
                               "Dbeta = ... % Scalar proportional damping beta",
                               "Dzeta = ... % Scalar uniform modal damping zeta"};
  auto text = [&](std::vector<std::string> const& values) {
    std::string t;
    for (std::size_t i = 0; i < 16; ++i) t += names[i] + std::string("\n") + values[i] + ";\n";
    return t +
           "sectProps = ... % Full set of cross-sectional data\n{bc, sc                      ...\n"
           " Kzz, Hxx, Hyy, Hxy, Hzz     ...\n mu, muxx, muyy, muxy, muzz, ...\n"
           " Dtype, Dalph, Dbeta, Dzeta};";
  };
  std::vector<std::string> values(16, math3d::stringify(0.0));
  values[0] = values[1] = V2().stringify();
  values[12] = "'None'";
  EXPECT_EQ(Beam().stringify(), text(values));
  EXPECT_EQ(TracedBeam().stringify(), text(values));
  std::vector<double> const s = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  Beam const base = rawBeam(V2(1.5, -2.0), s, DampingType::Proportional);
  values = {V2(1.5, -2.0).stringify(), V2(0.25, -0.5).stringify()};
  for (double v : s) values.push_back(math3d::stringify(v));
  values.push_back("");
  for (double v : {0.1, 0.2, 0.3}) values.push_back(math3d::stringify(v));
  char const* const typeNames[] = {"'PROBLEM'", "'None'", "'Prop'", "'Unif'", "'PROBLEM'"};
  for (int type = -1; type < 4; ++type) {
    Beam b = base;
    b.dampingType(static_cast<DampingType>(type));
    values[12] = typeNames[type + 1];
    EXPECT_EQ(b.stringify(), text(values)) << type;
  }

  // Every member takes part in equality; NaN equals nothing.
  EXPECT_TRUE(base == base && !(base != base) && base.isOperationallyEqual(base));
  using Set = void (Beam::*)(double const&);
  std::vector<Beam> changed(16, base);
  std::size_t i = 0;
  for (Set set : std::initializer_list<Set>{
           &Beam::axialStiffness, &Beam::xBendingStiffness, &Beam::yBendingStiffness,
           &Beam::xyCrossBendingStiffness, &Beam::torsionalStiffness, &Beam::massPerUnitLength,
           &Beam::xMassMomentOfInertiaDensity, &Beam::yMassMomentOfInertiaDensity,
           &Beam::xyMassProductOfInertiaDensity, &Beam::zPolarMassMomentOfInertiaDensity,
           &Beam::proportionalDampingAlpha, &Beam::proportionalDampingBeta,
           &Beam::uniformModalDampingZeta}) {
    (changed[i].*set)(i == 4 || i == 12 ? kNaN : -1.0);
    EXPECT_TRUE(sameBits(numbers(changed[i])[i], i == 4 || i == 12 ? kNaN : -1.0)) << i;
    ++i;
  }
  changed[13].bendingCentroid(V2(1.5, 2.5));
  changed[14].shearCenter(V2(0.0, -0.5));
  changed[15].dampingType(DampingType::UniformModal);
  for (Beam const& c : changed)
    EXPECT_TRUE(!(c == base) && c != base && !c.isOperationallyEqual(base) &&
                !base.isOperationallyEqual(c) && !(changed[4] == changed[4]));
}

TEST(BeamSectionalProperties, TracedEqualityConversionsAndThreePaths) {
  auto in = [](char const* name) { return ct::TracedDouble::input(name); };
  auto tracedBeam = [&](ct::TracedDouble const& kzz) {
    return TracedBeam(vm::Vector2_T<vm::Traced>(in("bx"), 0.5), vm::Vector2_T<vm::Traced>(), kzz,
                      2.0, 3.0, in("hxy"), 5.0, 6.0, 7.0, 8.0, 9.0, 10.0, DampingType::Proportional,
                      0.1, in("beta"), 0.3, TracedBeam::Dummy{});
  };
  TracedBeam a = tracedBeam(in("k1")), b = tracedBeam(in("k2")), other;
  ct::BindingSet bindings;
  for (char const* name : {"bx", "hxy", "beta", "k1", "k2"}) bindings.bind(name, 1.25);
  ct::TracedBool same = a == b, differ = a != b;
  bool constant = false;
  EXPECT_TRUE(!same.getConstant(constant) && same.evaluate(bindings) && !differ.evaluate(bindings));
  bindings.bind("k2", -4.0);
  EXPECT_TRUE(!same.evaluate(bindings) && differ.evaluate(bindings));
  // Graphs, not values, decide operational equality; constants fold.
  EXPECT_TRUE(a.isOperationallyEqual(tracedBeam(in("k1"))) && !a.isOperationallyEqual(b));
  other.dampingType(static_cast<DampingType>(3));
  EXPECT_TRUE((TracedBeam() == TracedBeam()).getConstant(constant) && constant);
  EXPECT_TRUE((TracedBeam() != other).getConstant(constant) && constant);
  Beam numeric(a, bindings);
  EXPECT_TRUE(numeric == Beam(V2(1.25, 0.5), V2(), 1.25, 2.0, 3.0, 1.25, 5.0, 6.0, 7.0, 8.0, 9.0,
                              10.0, DampingType::Proportional, 0.1, 1.25, 0.3, Beam::Dummy{}));
  EXPECT_THROW(Beam(a, ct::BindingSet()), ct::UnboundInput);
  TracedBeam reset(a, bindings);
  EXPECT_TRUE(reset.isOperationallyEqual(TracedBeam()));
  // The named form records the positional form's graph.
  TracedBeam::Fields named;
  named.youngsModulus = in("E");
  named.density = in("rho");
  named.area = named.xSecondMomentOfArea = in("A");
  EXPECT_TRUE(TracedBeam(named).isOperationallyEqual(
      TracedBeam({}, {}, in("E"), 0.0, in("rho"), in("A"), in("A"), 0.0, 0.0, 0.0,
                 DampingType::NoDamping, 0.0, 0.0, 0.0)));

  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using Mode = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
    using P = vm::Vector2_T<Mode>;
    return numbers(vm::BeamSectionalProperties<Mode>(
        P(in.d(0), in.d(1)), P(in.d(2), in.d(3)), in.d(4), in.d(5), in.d(6), in.d(7), in.d(8),
        in.d(9), in.d(10), in.d(11), in.d(12), in.d(13), DampingType::NoDamping, S(0.0), S(0.0),
        S(0.0), typename vm::BeamSectionalProperties<Mode>::Dummy{}));
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
  EXPECT_EQ(vela::test::occurrences(result.code, "vela_rt_guarded_atan2("), 1u);
  EXPECT_GE(vela::test::occurrences(result.code, "sqrt("), 2u);
}

}  // namespace beam_test
