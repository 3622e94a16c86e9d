// Evaluation against bindings and the tape: what they accept, what they
// keep, what they cost; no pass may recurse on depth or walk paths instead
// of nodes.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ShiftOp.hpp"
#include "support/ThreePaths.hpp"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's allocation hook (its header is not always installed).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*,
                                                                  std::size_t),
                                                         void (*)(const volatile void*));
#endif

namespace {
namespace ct = kelm_math::comp_trace;
using ct::TracedDouble;
using ct::TracedInt;
using shift_op::shift;
std::atomic<std::size_t> allocations{0};
}  // namespace

TEST(Evaluation, BindingsConvertAndEachNodeIsEvaluatedOncePerBinding) {
  TracedDouble x = TracedDouble::input("x");
  TracedDouble y = x * 2.0 + TracedInt::input("k");
  ct::BindingSet bindings;
  bindings.bind("x", 1.5);
  EXPECT_THROW(y.evaluate(bindings), ct::UnboundInput);
  EXPECT_TRUE(ct::UnboundInput("k").name() == "k" &&
              std::string(ct::UnboundInput("k").what()) == "comp_trace UnboundInput: k");
  bindings.bind("k", 2.9);  // an int input reads a double truncated
  EXPECT_EQ(y.evaluate(bindings), 5.0);
  bindings.bind("x", 4);
  bindings.bind("k", true);
  EXPECT_EQ(y.evaluate(bindings), 9.0);
  // A moved-from set is empty and forgets its memo.
  ct::BindingSet copy = bindings, moved;
  EXPECT_EQ(y.evaluate(copy), 9.0);
  moved = std::move(copy);
  ct::BindingSet last(std::move(moved));
  EXPECT_EQ(y.evaluate(last), 9.0);
  EXPECT_THROW(y.evaluate(copy), ct::UnboundInput);
  EXPECT_THROW(y.evaluate(moved), ct::UnboundInput);

  // A node is evaluated once for all its elements, again after a rebinding;
  // a graph of thousands of steps, planned and run in batches, reads the
  // values an earlier evaluation left.
  int count = 0;
  std::vector<TracedDouble> elements = shift(std::vector<TracedDouble>(1000, x), 1, 0, &count);
  double sum = 0.0;
  for (auto const& e : elements) sum += e.evaluate(bindings);
  EXPECT_TRUE(sum == 5000.0 && count == 1);
  bindings.bind("x", 1.0);
  TracedDouble t = elements[999];
  double expected = 2.0;
  for (int i = 0; i < 3000; ++i, expected = expected * 0.999 + 1.0) t = t * 0.999 + x;
  EXPECT_EQ(elements[0].evaluate(bindings), 2.0);
  EXPECT_EQ(t.evaluate(bindings), expected);
  EXPECT_EQ(shift({t, t}, 1, 0, &count)[1].evaluate(bindings), expected + 1.0);
  EXPECT_EQ(count, 3);
}

// Elements past the end of an output (a dynamic size below its maximum)
// read 0 in evaluation and on the tape, whatever their types.
TEST(Evaluation, ElementsPastTheEndReadZero) {
  TracedDouble x = TracedDouble::input("x"), d[3];
  TracedInt k[] = {TracedInt::input("k")}, i[3], j[3];
  ct::TracedBool b[] = {x > 0.0}, c[3];
  TracedDouble::accessElements(std::make_shared<ct::CollectOp>(1u, &x, ""), 0, 3, d);
  TracedInt::accessElements(std::make_shared<ct::CollectOp>(1u, &x, "x"), 0, 3, j);  // as ints
  TracedInt::accessElements(std::make_shared<ct::CollectOp>(1u, k, ""), 0, 3, i);
  ct::TracedBool::accessElements(std::make_shared<ct::CollectOp>(1u, b, ""), 0, 3, c);
  std::vector<TracedDouble> outputs;
  for (int e = 0; e < 3; ++e) outputs.insert(outputs.end(), {d[e], i[e], j[e], TracedDouble(c[e])});
  ct::BindingSet bindings;
  bindings.bind("x", 2.5);
  bindings.bind("k", 7);
  double in[] = {2.5, 7.0}, out[12], expected[12] = {2.5, 7.0, 2.0, 1.0};
  ct::Tape({"x", "k"}, outputs)(in, out);
  for (int e = 0; e < 12; ++e)
    EXPECT_TRUE(outputs[e].evaluate(bindings) == expected[e] && out[e] == expected[e]) << e;
  auto vectorOf = [&](auto const& e) {
    return bindings.evaluateVector(e.operation()->input(0))[0];
  };
  EXPECT_TRUE(vectorOf(d[0]).element(0).doubleValue() == 2.5 &&
              vectorOf(i[0]).element(0).intValue() == 7 && vectorOf(c[0]).element(0).boolValue());
  EXPECT_TRUE(vectorOf(d[0]).element(1).doubleValue() == 0.0 &&
              vectorOf(i[0]).element(1).intValue() == 0 && !vectorOf(c[0]).element(1).boolValue());
  // Inputs and outputs past a node's own are refused, not read; so are
  // elements past their storage in C.
  EXPECT_THROW(ct::generateCFunction("f", {"x"}, {d[1]}), std::logic_error);
  TracedDouble::accessElements(d[0].operation()->input(0), 1, 1, d);
  EXPECT_THROW(d[1].operation()->input(1), std::out_of_range);
  EXPECT_THROW(d[0].evaluate(bindings), std::logic_error);
  EXPECT_THROW(ct::generateCFunction("f", {"x"}, {d[0]}), std::logic_error);
}

// A moved-from tape or workspace says what it is; a workspace follows its
// tape's state and is refused once that is gone, also by a later tape that
// happens to take its tape's memory.
TEST(Tape, RefusesMovedFromTapesAndStaleWorkspaces) {
  TracedDouble x = TracedDouble::input("x");
  ct::Tape a({"x"}, {x * 3.0, x});
  ct::Tape::Workspace workspace = a.workspace();
  ct::Tape b = std::move(a);
  double in = 2.0, out[2] = {0.0, 0.0};
  EXPECT_EQ(a.inputCount() + a.outputCount() + a.stepCount(), 0u);
  EXPECT_THROW(a(&in, out), ct::Tape::MovedFromTape);
  ct::Tape::Workspace moved = std::move(workspace);
  EXPECT_THROW(b(&in, out, workspace), ct::Tape::MovedFromWorkspace);
  EXPECT_STREQ(ct::Tape::MovedFromWorkspace().what(), "zeph MovedFromWorkspace");
  a = std::move(b);
  a(&in, out, moved);
  EXPECT_TRUE(out[0] == 6.0 && out[1] == 2.0 && a.inputCount() + a.outputCount() == 3);
  a = ct::Tape({"x"}, {x + 1.0});
  EXPECT_THROW(a(&in, out, moved), std::invalid_argument);
  for (int i = 0; i < 100; ++i) {
    ct::Tape::Workspace stale = ct::Tape({"x"}, {x}).workspace();
    ct::Tape later({"x"}, {ct::sin(x) * ct::cos(x) + x * x});
    EXPECT_THROW(later(&in, out, stale), std::invalid_argument);
  }
}

// Equal nodes are planned once; calls allocate nothing once the workspace
// has grown.
TEST(Tape, MergesAndAllocatesNothingOnceGrown) {
  auto expression = [](TracedDouble x) { return ct::sin(x) * ct::cos(x) + 1.0; };
  TracedDouble x = TracedDouble::input("x");
  ct::Tape once({"x"}, {expression(x)}), tape({"x"}, {expression(x), expression(x)});
  EXPECT_EQ(once.stepCount(), tape.stepCount());
  ct::Tape::Workspace workspace = tape.workspace();
  double in = 0.5, out[2];
  tape(&in, out), tape(&in, out, workspace);
#if defined(__SANITIZE_ADDRESS__)
  __sanitizer_install_malloc_and_free_hooks(
      [](const volatile void*, std::size_t) { allocations.fetch_add(1); },
      [](const volatile void*) {});
#endif
  std::size_t before = allocations;
  for (int i = 0; i < 10; ++i, in += 1.0) tape(&in, out, workspace), tape(&in, out);
  EXPECT_EQ(allocations, before);
  // Outputs that are all constants: no step at all.
  ct::Tape({}, {TracedDouble(-0.0), 3.0})(nullptr, out);
  EXPECT_TRUE(std::signbit(out[0]) && out[1] == 3.0);
  // Calls from several threads: one finding the tape's own workspace busy
  // takes a fresh one.
  for (int i = 0; i < 2000; ++i) x = ct::sin(x) * 0.5 + TracedDouble::input("x");
  ct::Tape busy({"x"}, {x});
  busy(&in, out);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads(4);
  for (auto& thread : threads)
    thread = std::thread([&] {
      std::vector<double> mine(100, -1.0);
      for (double& m : mine) busy(&in, &m);
      wrong += std::count(mine.begin(), mine.end(), out[0]) != 100;
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

// 64 levels of v = v + v: 2^64 paths through 65 nodes.
TEST(DeepGraph, SharedDoublingIsLinearInNodes) {
  auto doubling = [](auto const& in) {
    auto v = in.d(0);
    for (int level = 0; level < 64; ++level) v = v + v;
    return std::vector<std::decay_t<decltype(v)>>{v};
  };
  auto v = vela::test::checkThreePaths(doubling, {{{1.5}, {}}, {{-0.75}, {}}}).traced[0];
  auto other = doubling(vela::test::Inputs<ct::Traced>(1, 0))[0];
  EXPECT_TRUE(v.isOperationallyEqual(other) && !v.isOperationallyEqual(other + 0.0));
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
}
