#pragma once

// Straightforward reference products and the inspection helpers shared by
// the product tests.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/ThreePaths.hpp"
#include "support/TracedNodes.hpp"
#include "vela/math.hpp"

namespace vela::test::products {

namespace ct = kelm_math::comp_trace;
using ct::TracedDouble;
using ct::TracedInt;
using vela::test::allRead;
using vela::test::collectSize;
using vela::test::constants;
using vela::test::expectClone;
using vela::test::expectOrdered;
using vela::test::nodeOf;
using vela::test::occurrences;
using vela::test::scalarInput;
using vela::test::scalarNodeOf;
using vela::test::tracedInputs;

/// Fills output storage a kernel must leave alone past what it writes.
constexpr double kSentinel = -777.0;

/// Element (i, j) of a column-major matrix given by its element accessor.
/// C(i, j) = sum over p < k of a(i, p) b(p, j), summed in order of p from
/// the first product (0 for k = 0); writes c(i, j) for i < m, j < n.
template <class A, class B, class C>
void referenceProduct(int m, int k, int n, A a, B b, C c) {
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < m; ++i) {
      double sum = k > 0 ? a(i, 0) * b(0, j) : 0.0;
      for (int p = 1; p < k; ++p) sum += a(i, p) * b(p, j);
      c(i, j) = sum;
    }
}

/// The bound for a sum of products whose order may differ from the
/// reference: a few ulps of the sum of magnitudes.
inline double sumTolerance(std::vector<double> const& terms) {
  double magnitude = 0.0;
  for (double t : terms) magnitude += std::fabs(t);
  return 1e-14 * magnitude + 1e-300;
}

/// Constant values of traced elements (and whether all were constants).
inline bool constantValues(std::vector<TracedDouble> const& values, std::vector<double>& out) {
  out.assign(values.size(), 0.0);
  return ct::getConstants(values.data(), static_cast<unsigned>(values.size()), out.data());
}

/// Cases of random doubles with the same ints, one per seed.
inline std::vector<Case> randomCases(std::size_t doubles, std::vector<int> const& ints,
                                     unsigned seeds = 4) {
  std::vector<Case> cases;
  for (unsigned seed = 0; seed < seeds; ++seed)
    cases.push_back({randomDoubles(doubles, 100 + seed), ints});
  return cases;
}

}  // namespace vela::test::products
