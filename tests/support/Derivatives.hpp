#pragma once

// One check of derivative rules: a computation written over the mode is
// differentiated with respect to its double inputs, and its Jacobian is
// compared with central differences of the Numeric computation, forward
// mode with reverse mode, and (for one output) its Hessian with differences
// of its gradient. The derivative graphs then go through the four paths.

#include <functional>
#include <string>
#include <vector>

#include "support/ThreePaths.hpp"

namespace vela::test {

struct DerivativeCase {
  std::string name;
  std::function<std::vector<double>(Inputs<vela::math::Numeric> const&)> numeric;
  std::function<std::vector<ct::TracedDouble>(Inputs<vela::math::Traced> const&)> traced;
  /// Points where the computation is smooth; all of one shape.
  std::vector<Case> points;
};

/// A case from a computation generic over the mode.
template <class Compute>
DerivativeCase derivativeCase(std::string name, Compute compute, std::vector<Case> points) {
  return {std::move(name), compute, compute, std::move(points)};
}

/// count points of n doubles uniform in [lo, hi] (and the given ints).
std::vector<Case> uniformPoints(std::size_t n, std::size_t count, double lo, double hi,
                                unsigned seed, std::vector<int> ints = {});

void checkDerivatives(DerivativeCase const& c);

}  // namespace vela::test
