// Two bodies' lumped distributions summed, their principal moments; a beam
// section's principal bending stiffnesses; a Gauss rule integrating a cubic
// exactly.
#include <cmath>
#include <cstdio>
#include <vela/math.hpp>

namespace vm = vela::math;

int main() {
  using Lumped = vm::LumpedDistribution<vm::Numeric>;
  using Vec = vm::Vector3_T<vm::Numeric>;
  // Mass, center, moments and products of inertia about the center.
  Lumped a(true, 2.0, Vec(1.0, 0.0, 0.0), Vec(0.1, 0.2, 0.2), Vec(0.0, 0.0, 0.0));
  Lumped b(true, 2.0, Vec(-1.0, 0.0, 0.0), Vec(0.1, 0.2, 0.2), Vec(0.0, 0.0, 0.0));
  Lumped both = a + b;
  Vec const principal = both.principalMoments();
  std::printf("center %s, principal moments %s\n", both.center().stringify().c_str(),
              principal.stringify().c_str());

  // A steel section given by name (the recommended form), its principal
  // bending stiffnesses about the bending centroid.
  using Beam = vm::BeamSectionalProperties<vm::Numeric>;
  Beam::Fields f;
  f.youngsModulus = 210e9;
  f.shearModulus = 81e9;
  f.density = 7850.0;
  f.area = 5.4e-3;
  f.xSecondMomentOfArea = 8.4e-5;
  f.ySecondMomentOfArea = 6.0e-6;
  f.torsionConstant = 2.0e-7;
  Beam const section(f);
  std::printf("principal bending stiffnesses %.6g, %.6g\n", section.xPrincipalBendingStiffness(),
              section.yPrincipalBendingStiffness());

  // The order-2 line rule integrates x^3 + x^2 over [-1, 1] exactly (2/3).
  vm::GaussQuadrature rule(vm::GaussQuadrature::kLine, 2);
  double integral = 0.0;
  for (std::size_t k = 0; k < rule.numPoints; ++k)
    integral += rule.weights[k] * (std::pow(rule.xi[k], 3) + rule.xi[k] * rule.xi[k]);
  std::printf("integral %.17g\n", integral);
  bool const beam = section.xPrincipalBendingStiffness() == 210e9 * 6.0e-6;
  return std::fabs(integral - 2.0 / 3.0) < 1e-15 && beam ? 0 : 1;
}
