#pragma once

#include <string>
#include <vector>

#include "vela/math.hpp"

namespace vela::test {

namespace ct = kelm_math::comp_trace;

/// Values of one case: double inputs, then int inputs.
struct Case {
  std::vector<double> doubles;
  std::vector<int> ints;
};

/// The inputs a computation sees in one mode: plain numbers in Numeric,
/// bound inputs named "d0", "d1", ... and "i0", "i1", ... in Traced.
template <class Mode>
class Inputs {
 public:
  using Scalar = vela::math::Scalar<Mode>;
  using Integer = vela::math::Integer<Mode>;

  explicit Inputs(Case const& values);            // Numeric
  Inputs(std::size_t doubles, std::size_t ints);  // Traced

  Scalar const& d(std::size_t i) const { return doubles_.at(i); }
  Integer const& i(std::size_t k) const { return ints_.at(k); }
  /// Double inputs [first, first + n) as an array.
  std::vector<Scalar> doubles(std::size_t first, std::size_t n) const {
    return std::vector<Scalar>(doubles_.begin() + first, doubles_.begin() + first + n);
  }
  std::size_t doubleCount() const { return doubles_.size(); }

 private:
  std::vector<Scalar> doubles_;
  std::vector<Integer> ints_;
};

/// What one check saw: the C text and the graph.
struct ThreePathResult {
  std::string code;
  std::vector<ct::TracedDouble> traced;
};

/// Same bits, or both NaN (a NaN written in C need not keep its payload).
bool sameBits(double a, double b);

/// How often part occurs in text, overlaps included.
std::size_t occurrences(std::string const& text, std::string const& part);

/// Checks that the Numeric result, the graph evaluated against the case's
/// bindings, the generated C (compiled, loaded and run) and a Tape of the
/// graph (on a caller's workspace and on its own, one case per call and all
/// in one batch) agree bit for bit in every case. compute(Inputs<Mode> const&) returns
/// std::vector<Scalar<Mode>>.
template <class Compute>
ThreePathResult checkThreePaths(Compute const& compute, std::vector<Case> const& cases);

namespace detail {
ThreePathResult checkTraced(std::vector<ct::TracedDouble> const& traced, std::size_t doubles,
                            std::size_t ints, std::vector<Case> const& cases,
                            std::vector<std::vector<double>> const& expected);
}

template <class Compute>
ThreePathResult checkThreePaths(Compute const& compute, std::vector<Case> const& cases) {
  std::vector<std::vector<double>> expected;
  for (Case const& c : cases) expected.push_back(compute(Inputs<vela::math::Numeric>(c)));
  std::size_t doubles = cases.empty() ? 0 : cases[0].doubles.size();
  std::size_t ints = cases.empty() ? 0 : cases[0].ints.size();
  auto traced = compute(Inputs<vela::math::Traced>(doubles, ints));
  return detail::checkTraced(traced, doubles, ints, cases, expected);
}

/// Random doubles of mixed magnitudes and signs, reproducible from seed.
std::vector<double> randomDoubles(std::size_t n, unsigned seed);

}  // namespace vela::test
