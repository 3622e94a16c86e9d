// Evaluation against bindings and the tape: what they accept, what they
// keep, what they cost.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "ShiftOp.hpp"
#include "kelm_math/comp_trace.hpp"
#include "support/HeapCounter.hpp"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"

namespace {

namespace ct = kelm_math::comp_trace;
using ct::TracedDouble;
using ct::TracedInt;
using shift_op::shift;
using vela::test::kInf;
using vela::test::kNaN;
using vela::test::sameBits;

std::vector<double> evaluated(std::vector<std::string> const& names, std::vector<double> const& in,
                              std::vector<TracedDouble> const& outputs) {
  ct::BindingSet bindings;
  for (std::size_t i = 0; i < names.size(); ++i) bindings.bind(names[i], in[i]);
  std::vector<double> values;
  for (auto const& o : outputs) values.push_back(o.evaluate(bindings));
  return values;
}

}  // namespace

TEST(Evaluation, BindingsConvertAndEachNodeIsEvaluatedOncePerBinding) {
  TracedDouble x = TracedDouble::input("x");
  TracedDouble y = x * 2.0 + TracedInt::input("k");
  ct::BindingSet bindings;
  bindings.bind("x", 1.5);
  try {
    y.evaluate(bindings);
    FAIL() << "no exception";
  } catch (ct::UnboundInput const& e) {
    EXPECT_STREQ(e.what(), "comp_trace UnboundInput: k");
    EXPECT_EQ(e.name(), "k");
  }
  bindings.bind("k", 2.9);  // an int input reads a double truncated
  EXPECT_EQ(y.evaluate(bindings), 5.0);
  bindings.bind("x", 4);
  EXPECT_EQ(y.evaluate(bindings), 10.0);
  bindings.bind("k", true);
  EXPECT_EQ(y.evaluate(bindings), 9.0);
  ct::BindingSet copy = bindings, moved = std::move(copy);
  EXPECT_EQ(y.evaluate(moved), 9.0);
  EXPECT_THROW(y.evaluate(copy), ct::UnboundInput);  // a moved-from set forgets its memo too

  // A node is evaluated once for all its elements, again after a rebinding.
  int count = 0;
  std::vector<TracedDouble> elements = shift(std::vector<TracedDouble>(1000, x), 1, 0, &count);
  double sum = 0.0;
  for (auto const& e : elements) sum += e.evaluate(bindings);
  EXPECT_EQ(sum, 5000.0);
  EXPECT_EQ(count, 1);
  bindings.bind("x", 1.0);
  EXPECT_EQ(elements[999].evaluate(bindings) + elements[0].evaluate(bindings), 4.0);
  EXPECT_EQ(count, 2);
}

// A graph of thousands of steps runs in batches: values of one batch (and
// of an earlier evaluation) are read by later ones, through registers that
// are reused once their one reader is planned.
TEST(Evaluation, LongGraphsRunInBatchesAndKeepEarlierValues) {
  int count = 0;
  TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y"), t = x, mid;
  double xv = 0.75, yv = -1.25, tv = xv, midv = 0.0;
  for (int k = 0; k < 3000; ++k) {
    t = t * 0.999 + y;
    tv = tv * 0.999 + yv;
    if (k % 500 == 499) {  // a kernel node between batches
      auto e = shift({t, t, t}, 2, 0, &count);
      t = t + e[1] - e[2] * 0.5;
      tv = tv + (tv + 2) - (tv + 2) * 0.5;
    }
    if (k == 1500) mid = t, midv = tv;
  }
  ct::BindingSet bindings;
  bindings.bind("x", xv);
  bindings.bind("y", yv);
  EXPECT_EQ(mid.evaluate(bindings), midv);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(t.evaluate(bindings), tv);
  EXPECT_EQ(count, 6);  // the first three kept their values
  EXPECT_EQ(mid.evaluate(bindings), midv);
  EXPECT_EQ(count, 6);
  ct::Tape tape({"x", "y"}, {mid, t});
  double in[] = {xv, yv}, out[2];
  tape(in, out);
  EXPECT_EQ(out[0], midv);
  EXPECT_EQ(out[1], tv);
}

// What a graph becomes when everything folds, nothing, an input itself, and
// outputs repeated.
TEST(Tape, DegenerateOutputListsAgreeOnEveryPath) {
  for (int list = 0; list < 4; ++list)
    vela::test::checkThreePaths(
        [list](auto const& in) {
          using S = typename std::decay_t<decltype(in)>::Scalar;
          S x = in.d(0), y = x * 2.0;
          std::vector<std::vector<S>> lists{
              {S(3.0), S(-0.0), S(kNaN), S(-kInf)}, {}, {x}, {y, S(2.0), y, x, S(2.0), x}};
          return lists[list];
        },
        {{{1.5}, {}}, {{-0.0}, {}}, {{kNaN}, {}}, {{-kInf}, {}}});
}

// Names are checked as generated C checks them; a moved-from tape or
// workspace says what it is; a workspace follows its tape's state and is
// refused once that is gone.
TEST(Tape, RefusesMissingNamesMovedFromTapesAndStaleWorkspaces) {
  TracedDouble x = TracedDouble::input("x");
  try {
    ct::Tape({"other"}, {x});
    FAIL() << "no exception";
  } catch (ct::UnboundInput const& e) {
    EXPECT_STREQ(e.what(), "comp_trace UnboundInput: x");
  }
  EXPECT_THROW(ct::Tape({"x", ""}, {x}), std::invalid_argument);
  EXPECT_THROW(ct::Tape({"x", "x"}, {x}), std::invalid_argument);
  ct::Tape a({"x", "unused"}, {x * 3.0, x});
  ct::Tape::Workspace workspace = a.workspace();
  ct::Tape b = std::move(a);
  double in[] = {2.0, 0.0}, out[2] = {0.0, 0.0};
  EXPECT_EQ(a.inputCount() + a.outputCount() + a.stepCount(), 0u);
  EXPECT_THROW(a(in, out), ct::Tape::MovedFromTape);
  EXPECT_THROW(a.workspace(), ct::Tape::MovedFromTape);
  b(in, out, workspace);
  EXPECT_EQ(out[0] + b.inputCount() + b.outputCount(), 10.0);
  ct::Tape::Workspace moved = std::move(workspace);
  EXPECT_THROW(b(in, out, workspace), ct::Tape::MovedFromWorkspace);
  EXPECT_STREQ(ct::Tape::MovedFromWorkspace().what(), "zeph MovedFromWorkspace");
  EXPECT_STREQ(ct::Tape::MovedFromTape().what(), "zeph MovedFromTape");
  a = std::move(b);
  a(in, out, moved);
  EXPECT_EQ(out[1], 2.0);
  // A workspace whose tape is assigned over or destroyed belongs to no tape,
  // also not to a later one that happens to take its tape's memory.
  a = ct::Tape({"x"}, {x + 1.0});
  EXPECT_THROW(a(in, out, moved), std::invalid_argument);
  for (int i = 0; i < 100; ++i) {
    ct::Tape::Workspace stale = ct::Tape({"x"}, {x}).workspace();
    ct::Tape later({"x"}, {ct::sin(x) * ct::cos(x) + x * x});
    EXPECT_THROW(later(in, out, stale), std::invalid_argument);
  }
}

// Equal nodes are planned once; calls allocate nothing once the workspace
// has grown; one tape serves several threads at once, on workspaces of their
// own and on the tape's own.
TEST(Tape, MergesAllocatesNothingOnceGrownAndServesThreads) {
  auto expression = [](TracedDouble x) { return ct::sin(x) * ct::cos(x) + 1.0; };
  TracedDouble x = TracedDouble::input("x"), v = x;
  ct::Tape once({"x"}, {expression(x)}), twice({"x"}, {expression(x), expression(x)});
  EXPECT_EQ(once.stepCount(), twice.stepCount());
  for (int i = 0; i < 2000; ++i) v = ct::sin(v) * 0.5 + x;
  ct::Tape tape({"x"}, {v, v * v});
  double in = 0.5, out[2];
  tape(&in, out);
  if (vela::test::allocationsCounted()) {
    ct::Tape::Workspace workspace = tape.workspace();
    tape(&in, out, workspace);
    std::size_t before = vela::test::allocationCount();
    for (int i = 0; i < 10; ++i, in += 1.0) tape(&in, out, workspace), tape(&in, out);
    EXPECT_EQ(vela::test::allocationCount(), before);
  }
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      ct::Tape::Workspace workspace = tape.workspace();
      double in = 0.1 * t, out[2];
      std::vector<double> expected = evaluated({"x"}, {in}, {v, v * v});
      for (int round = 0; round < 200; ++round) {
        if (round % 2)
          tape(&in, out, workspace);
        else
          tape(&in, out);
        mismatches[t] += !sameBits(out[0], expected[0]) || !sameBits(out[1], expected[1]);
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}
