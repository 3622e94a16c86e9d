// Two point-like bodies' lumped distributions summed, their principal
// moments, and a Gauss rule integrating a cubic exactly.
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

  // The order-2 line rule integrates x^3 + x^2 over [-1, 1] exactly (2/3).
  vm::GaussQuadrature rule(vm::GaussQuadrature::kLine, 2);
  double integral = 0.0;
  for (std::size_t k = 0; k < rule.numPoints; ++k)
    integral += rule.weights[k] * (std::pow(rule.xi[k], 3) + rule.xi[k] * rule.xi[k]);
  std::printf("integral %.17g\n", integral);
  return std::fabs(integral - 2.0 / 3.0) < 1e-15 ? 0 : 1;
}
