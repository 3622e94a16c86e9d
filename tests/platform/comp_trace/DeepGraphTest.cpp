#include <gtest/gtest.h>

#include <cmath>

#include "kelm_math/comp_trace.hpp"
#include "support/ThreePaths.hpp"

namespace ct = kelm_math::comp_trace;
using ct::TracedDouble;

// 64 levels of v = v + v: 2^64 paths through 65 nodes. Every pass must visit
// nodes, not paths, or this test would never end.
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

  TracedDouble x = TracedDouble::input("d0"), other = TracedDouble::input("d0");
  for (int level = 0; level < 64; ++level) {
    other = other + other;
    x = x + x;
  }
  EXPECT_TRUE(result.traced[0].isOperationallyEqual(other));
  EXPECT_FALSE(result.traced[0].isOperationallyEqual(other + 0.0));
}

// A chain one million nodes deep: evaluation, comparison, C generation and
// destruction must not recurse on depth.
TEST(DeepGraph, MillionNodeChain) {
  auto chain = [] {
    TracedDouble v = TracedDouble::input("x");
    for (int i = 0; i < 1000000; ++i) v = (i % 2) ? v * 0.5 : v + 1.0;
    return v;
  };
  TracedDouble a = chain(), b = chain();
  ct::BindingSet bindings;
  bindings.bind("x", 2.0);
  double expected = 2.0;
  for (int i = 0; i < 1000000; ++i) expected = (i % 2) ? expected * 0.5 : expected + 1.0;
  EXPECT_EQ(a.evaluate(bindings), expected);
  ct::Tape tape({"x"}, {a});
  double x = 2.0, out = 0.0;
  tape(&x, &out);
  EXPECT_EQ(out, expected);
  EXPECT_TRUE(a.isOperationallyEqual(b));
  std::string code = ct::generateCFunction("chain", {"x"}, {a});
  EXPECT_GT(code.size(), 1000000u * 10);
  // Slots are reused, so the scratchpad stays tiny however long the chain.
  EXPECT_NE(code.find("double spd[2];"), std::string::npos) << code.substr(0, 200);
  // One line per node and the output line, in parts of bounded length.
  EXPECT_EQ(vela::test::occurrences(code, " void chain_part"),
            (1000001 + ct::kBodyLineLimit - 1) / ct::kBodyLineLimit);
  a = TracedDouble();
  b = TracedDouble();
}
