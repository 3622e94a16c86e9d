// No pass may recurse on depth or walk paths instead of nodes.
#include <gtest/gtest.h>

#include <cmath>

#include "kelm_math/comp_trace.hpp"
#include "support/ThreePaths.hpp"

namespace ct = kelm_math::comp_trace;
using ct::TracedDouble;

// 64 levels of v = v + v: 2^64 paths through 65 nodes.
TEST(DeepGraph, SharedDoublingIsLinearInNodes) {
  auto doubling = [](auto const& in) {
    auto v = in.d(0);
    for (int level = 0; level < 64; ++level) v = v + v;
    return std::vector<std::decay_t<decltype(v)>>{v};
  };
  auto result = vela::test::checkThreePaths(doubling, {{{1.5}, {}}, {{-0.75}, {}}});
  ct::BindingSet bindings;
  bindings.bind("d0", 1.0);
  EXPECT_EQ(result.traced[0].evaluate(bindings), std::ldexp(1.0, 64));
  auto other = doubling(vela::test::Inputs<ct::Traced>(1, 0))[0];
  EXPECT_TRUE(result.traced[0].isOperationallyEqual(other));
  EXPECT_FALSE(result.traced[0].isOperationallyEqual(other + 0.0));
}

// A chain one million nodes deep: evaluation, the tape, comparison, C
// generation and destruction.
TEST(DeepGraph, MillionNodeChain) {
  auto chain = [] {
    TracedDouble v = TracedDouble::input("x");
    for (int i = 0; i < 1000000; ++i) v = (i % 2) ? v * 0.5 : v + 1.0;
    return v;
  };
  TracedDouble a = chain(), b = chain();
  ct::BindingSet bindings;
  bindings.bind("x", 2.0);
  double expected = 2.0, x = 2.0, out = 0.0;
  for (int i = 0; i < 1000000; ++i) expected = (i % 2) ? expected * 0.5 : expected + 1.0;
  EXPECT_EQ(a.evaluate(bindings), expected);
  ct::Tape({"x"}, {a})(&x, &out);
  EXPECT_EQ(out, expected);
  EXPECT_TRUE(a.isOperationallyEqual(b));
  std::string code = ct::generateCFunction("chain", {"x"}, {a});
  // Slots are reused, so the scratchpad stays tiny however long the chain.
  EXPECT_NE(code.find("double spd[2];"), std::string::npos) << code.substr(0, 200);
  // One line per node and the output line, in parts of bounded length.
  EXPECT_EQ(vela::test::occurrences(code, " void chain_part"),
            (1000001 + ct::kBodyLineLimit - 1) / ct::kBodyLineLimit);
  a = TracedDouble();
  b = TracedDouble();
}
