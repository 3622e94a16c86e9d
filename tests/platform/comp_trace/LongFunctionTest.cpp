// Generated C of a million operations, in parts: one function would exhaust
// the C compiler. Compiling takes most of a minute and some 2 GB, hence a
// program of its own.
#include <gtest/gtest.h>

#include "kelm_math/comp_trace.hpp"
#include "support/CCompiler.hpp"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"

namespace ct = kelm_math::comp_trace;
using ct::TracedDouble;

TEST(LongFunction, MillionOperationChainCompilesAndRuns) {
  TracedDouble v = TracedDouble::input("x");
  for (int i = 0; i < 1000000; ++i) v = (i % 2) ? v * 0.5 : v + 1.0;
  std::string code = ct::generateCFunction("chain", {"x"}, {v});
  vela::test::CompiledFunction f(code, "chain", false);
  for (double x : {2.0, -3.5, 1e300, vela::test::kNaN}) {
    double expected = x, out = 0.0;
    for (int i = 0; i < 1000000; ++i) expected = (i % 2) ? expected * 0.5 : expected + 1.0;
    f(&x, &out);
    EXPECT_TRUE(vela::test::sameBits(out, expected)) << x << ": " << out << " " << expected;
  }
  v = TracedDouble();
}

// Both sweeps walk a million-deep chain without recursion.
TEST(LongFunction, MillionOperationChainDifferentiates) {
  TracedDouble x = TracedDouble::input("x"), v = x;
  for (int i = 0; i < 1000000; ++i) v = (i % 2) ? v * 0.999999 : v + ct::sin(v) * 1e-6;
  double value = 0.5, slope = 1.0;
  for (int i = 0; i < 1000000; ++i) {
    if (i % 2) {
      slope *= 0.999999;
      value *= 0.999999;
    } else {
      slope = slope + slope * std::cos(value) * 1e-6;
      value = value + std::sin(value) * 1e-6;
    }
  }
  ct::BindingSet b;
  b.bind("x", 0.5);
  EXPECT_EQ(ct::jvp({v}, {x}, {1.0})[0].evaluate(b), slope);
  EXPECT_NEAR(ct::gradient(v, {x})[0].evaluate(b), slope, 1e-12 * slope);
}

// 320,400 distinct sums of products of inputs: the 32-bit hashes of their
// nodes collide a few hundred times, and merging must tell them apart.
TEST(LongFunction, DistinctNodesWithCollidingHashesStayApart) {
  constexpr int kInputs = 800;
  std::vector<std::string> names;
  std::vector<TracedDouble> x, sums;
  std::vector<double> values, expected;
  for (int i = 0; i < kInputs; ++i) {
    names.push_back("x" + std::to_string(i));
    x.push_back(TracedDouble::input(names.back()));
    values.push_back(1.0 + i);
  }
  for (int i = 0; i < kInputs; ++i)
    for (int j = i; j < kInputs; ++j) {
      int k = (7 * i + j) % kInputs;
      sums.push_back(x[i] * x[j] + x[k]);
      expected.push_back(values[i] * values[j] + values[k]);
    }
  std::vector<double> out(sums.size());
  ct::Tape(names, sums)(values.data(), out.data());
  std::size_t wrong = 0;
  for (std::size_t k = 0; k < out.size(); ++k) wrong += out[k] != expected[k];
  EXPECT_EQ(wrong, 0u);
}
