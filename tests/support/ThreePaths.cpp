#include "support/ThreePaths.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "support/CCompiler.hpp"

namespace vela::test {

template <>
Inputs<vela::math::Numeric>::Inputs(Case const& values)
    : doubles_(values.doubles), ints_(values.ints) {}

template <>
Inputs<vela::math::Traced>::Inputs(std::size_t doubles, std::size_t ints) {
  for (std::size_t i = 0; i < doubles; ++i)
    doubles_.push_back(ct::TracedDouble::input("d" + std::to_string(i)));
  for (std::size_t k = 0; k < ints; ++k)
    ints_.push_back(ct::TracedInt::input("i" + std::to_string(k)));
}

bool sameBits(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

std::size_t occurrences(std::string const& text, std::string const& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

namespace detail {

ThreePathResult checkTraced(std::vector<ct::TracedDouble> const& traced, std::size_t doubles,
                            std::size_t ints, std::vector<Case> const& cases,
                            std::vector<std::vector<double>> const& expected) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < doubles; ++i) names.push_back("d" + std::to_string(i));
  for (std::size_t k = 0; k < ints; ++k) names.push_back("i" + std::to_string(k));
  ThreePathResult result{ct::generateCFunction("three_paths_model", names, traced), traced};
  CompiledFunction compiled(result.code, "three_paths_model");
  ct::Tape tape(names, traced);
  ct::Tape::Workspace workspace = tape.workspace();

  for (std::size_t c = 0; c < cases.size(); ++c) {
    Case const& values = cases[c];
    EXPECT_EQ(expected[c].size(), traced.size()) << "Numeric and Traced output counts";
    ct::BindingSet bindings;
    std::vector<double> in;
    for (std::size_t i = 0; i < names.size(); ++i) {
      in.push_back(i < doubles ? values.doubles.at(i) : values.ints.at(i - doubles));
      bindings.bind(names[i], in.back());
    }
    std::vector<double> out(traced.size() + 1, -12345.0);
    compiled(in.data(), out.data());
    // The tape runs twice per case on one workspace: values left from the
    // previous case or call must not leak into the next.
    std::vector<double> taped(traced.size() + 1, -12345.0), again(traced.size(), 0.0);
    tape(in.data(), taped.data(), workspace);
    tape(in.data(), again.data());
    for (std::size_t j = 0; j < traced.size() && j < expected[c].size(); ++j) {
      double const paths[] = {traced[j].evaluate(bindings), out[j], taped[j], again[j]};
      char const* const path[] = {"evaluation", "generated C", "tape", "tape, own workspace"};
      for (int p = 0; p < 4; ++p)
        EXPECT_TRUE(sameBits(expected[c][j], paths[p]))
            << path[p] << " differs from Numeric in case " << c << ", output " << j << ": expected "
            << std::hexfloat << expected[c][j] << ", got " << paths[p] << std::defaultfloat;
    }
    EXPECT_EQ(out[traced.size()], -12345.0) << "generated C wrote past its outputs";
    EXPECT_EQ(taped[traced.size()], -12345.0) << "the tape wrote past its outputs";
  }
  // The cases again as one batch of several blocks (instance k is case k
  // mod the count), on a workspace and on two threads.
  std::size_t n = 35 * cases.size(), m = names.size();
  std::vector<double> in(m * n), batched(traced.size() * n), split(batched.size());
  for (std::size_t k = 0; k < n; ++k)
    for (std::size_t i = 0; i < m; ++i)
      in[i * n + k] = i < doubles ? cases[k % cases.size()].doubles.at(i)
                                  : cases[k % cases.size()].ints.at(i - doubles);
  tape(in.data(), batched.data(), n, workspace), tape(in.data(), split.data(), n, 2u);
  for (std::size_t k = 0; k < n; ++k)
    for (std::size_t j = 0; j < traced.size() && j < expected[k % cases.size()].size(); ++j)
      EXPECT_TRUE(sameBits(expected[k % cases.size()][j], batched[j * n + k]) &&
                  sameBits(expected[k % cases.size()][j], split[j * n + k]))
          << "batched tape differs from Numeric in instance " << k << ", output " << j;
  return result;
}

}  // namespace detail

std::vector<double> randomDoubles(std::size_t n, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-8, 8);
  std::vector<double> values(n);
  for (double& v : values) v = std::ldexp(mantissa(generator), exponent(generator));
  return values;
}

}  // namespace vela::test
