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

template <class Mode>
std::vector<typename Inputs<Mode>::Scalar> Inputs<Mode>::doubles(std::size_t first,
                                                                 std::size_t n) const {
  return std::vector<Scalar>(doubles_.begin() + first, doubles_.begin() + first + n);
}

template class Inputs<vela::math::Numeric>;
template class Inputs<vela::math::Traced>;

bool sameBits(double a, double b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::size_t occurrences(std::string const& text, std::string const& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

namespace detail {
namespace {

void expectSame(char const* path, std::size_t caseIndex, std::size_t output, double expected,
                double actual) {
  if (!sameBits(expected, actual))
    ADD_FAILURE() << path << " differs from Numeric in case " << caseIndex << ", output " << output
                  << ": expected " << std::hexfloat << expected << ", got " << actual
                  << std::defaultfloat;
}

}  // namespace

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
    EXPECT_EQ(expected[c].size(), traced.size())
        << "Numeric and Traced give different output counts";
    ct::BindingSet bindings;
    std::vector<double> in;
    for (std::size_t i = 0; i < doubles; ++i) {
      bindings.bind(names[i], values.doubles.at(i));
      in.push_back(values.doubles[i]);
    }
    for (std::size_t k = 0; k < ints; ++k) {
      bindings.bind(names[doubles + k], values.ints.at(k));
      in.push_back(values.ints[k]);
    }
    std::vector<double> out(traced.size() + 1, -12345.0);
    compiled(in.data(), out.data());
    // The tape runs twice per case on one workspace: values left from the
    // previous case or call must not leak into the next.
    std::vector<double> taped(traced.size() + 1, -12345.0), again(traced.size(), 0.0);
    tape(in.data(), taped.data(), workspace);
    tape(in.data(), again.data());
    for (std::size_t j = 0; j < traced.size() && j < expected[c].size(); ++j) {
      expectSame("evaluated trace", c, j, expected[c][j], traced[j].evaluate(bindings));
      expectSame("generated C", c, j, expected[c][j], out[j]);
      expectSame("tape", c, j, expected[c][j], taped[j]);
      expectSame("tape, own workspace", c, j, expected[c][j], again[j]);
    }
    EXPECT_EQ(out[traced.size()], -12345.0) << "generated C wrote past its outputs";
    EXPECT_EQ(taped[traced.size()], -12345.0) << "the tape wrote past its outputs";
  }
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
