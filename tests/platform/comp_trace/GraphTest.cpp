// Every scalar operation on every path (Numeric, folded constants,
// evaluation, tape, generated C) bit for bit; evaluation and the tape: what
// they accept, keep and cost, with no pass recursing on depth or walking
// paths instead of nodes; the shape of generated C: merging, storage reuse,
// names, scratch forms, long bodies in parts, numbers under any locale.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <locale>
#include <regex>
#include <sstream>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
// The sanitizer's allocation hook (its header is not always installed).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*,
                                                                  std::size_t),
                                                         void (*)(const volatile void*));
#endif

#include "CodeGenerator.hpp"
#include "ShiftOp.hpp"
#include "kelm_math/comp_trace.hpp"
#include "support/CCompiler.hpp"
#include "support/Locales.hpp"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "vela/NumberText.hpp"

namespace {
namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using ct::TracedBool;
using ct::TracedDouble;
using ct::TracedInt;
using shift_op::shift;
using vela::test::Case;
using vela::test::kInf;
using vela::test::kNaN;
using vela::test::occurrences;
std::atomic<std::size_t> allocations{0};

template <class In>
constexpr bool isNumeric = std::is_same_v<typename In::Scalar, double>;

// x * y recorded again for every use, each copy held by one node only:
// under a function, a select, a collect and an element read.
template <class In>
std::vector<typename In::Scalar> repeated(In const& in) {
  using S = typename In::Scalar;
  S x = in.d(0), y = in.d(1);
  auto product = [&] { return x * y; };
  S first = ct::guardedAtan2(product(), y - 1.0), second = ct::guardedAtan2(product(), y - 1.0);
  S root = ct::sqrt(product()) + ct::ternary(x < y, product(), product() - 1.0);
  S parts[6] = {product(), product() + 1.0, y, product(), x, product() * 2.0}, read[6];
  if constexpr (isNumeric<In>)
    std::copy(parts, parts + 6, read);
  else
    TracedDouble::accessElements(std::make_shared<ct::CollectOp>(6u, parts, "six"), 0, 6, read);
  return {first + second, first * 2.0, root, read[0] + read[1] + read[5], product()};
}

// The bodies of the parts of a split function, in order.
std::vector<std::string> partBodies(std::string const& text, std::string const& name) {
  std::vector<std::string> bodies;
  std::string const opening = "static VELA_RT_NOINLINE void " + name + "_part";
  for (auto at = text.find(opening); at != std::string::npos; at = text.find(opening, at + 1)) {
    auto begin = text.find("{\n", at) + 2;
    bodies.push_back(text.substr(begin, text.find("\n}\n", begin) + 1 - begin));
  }
  return bodies;
}

// Texts holding every kind of number the library writes: fractional and
// huge constants, negative ints, sizes and scratch offsets above 1000, part
// numbers and work sizes.
std::vector<std::string> texts() {
  TracedDouble x = TracedDouble::input("x");
  TracedInt k = TracedInt::input("k");
  TracedDouble y = x * 0.5 + 1234.5678 - 2.5e-7 * x + 1e300;
  TracedInt j = ct::ternary(k < -5, k * 1600, TracedInt(-7));
  std::vector<TracedDouble> a(1600, y), b(1600, x), sum(1600);
  vm::vectorAdd(1600, a.data(), b.data(), sum.data());
  std::vector<TracedDouble> outputs = {y, TracedDouble(j), sum[1599], 0.25};
  return {ct::generateCFunction("model", {"x", "k"}, outputs),
          ct::generateCFunctionCode("model", {"x", "k"}, outputs, 1024, 3).text,
          math3d::stringify(y) + math3d::stringify(TracedDouble(j)) + math3d::stringify(-1234.5),
          vela::decimalText(1600u) + vela::stdStringify(1234567u)};
}

// 1.2345678901234568e20 is shortest in digits alone, too big for an integer literal.
double const kConstants[] = {0.1,   -0.0, 0.0,         1e-310,  -4.9406564584124654e-324, kInf,
                             -kInf, kNaN, 123456789.0, DBL_MAX, 1.2345678901234568e20};

// Every scalar operation over doubles x, y, z and ints j, k, written once
// for both modes: S and I are double and int or their traced types.
template <class S, class I>
std::vector<S> everyOperation(std::vector<S> const& d, std::vector<I> const& n) {
  using B = decltype(d[0] < d[1]);
  S const &x = d[0], &y = d[1], &z = d[2];
  I const &j = n[0], &k = n[1];
  S values[] = {x, y, z, x * y};
  I indices[] = {k, j, I(INT_MIN)}, read[] = {j, k};
  B truth[] = {j < k};
  if constexpr (!std::is_same_v<I, int>) {
    if (!j.isConstant()) {  // int and bool elements read back from collects
      I::accessElements(std::make_shared<ct::CollectOp>(2u, read, ""), 0, 2, read);
      B::accessElements(std::make_shared<ct::CollectOp>(1u, truth, ""), 0, 1, truth);
    }
  }
  std::vector<S> out = {
      x, x, x + y, x - y, x * y, x / y, -x, 2.0 * x - 1.0, ct::guardedDivide(x, y),
      ct::guardedAtan2(x, y), ct::floor(x), ct::abs(x), ct::min(x, y), ct::max(x, y), ct::sgn(y),
      ct::sqrt(z), ct::sin(x), ct::cos(x), ct::tan(x), ct::asin(x), ct::acos(x), ct::atan(x),
      ct::exp(x), ct::log(x), ct::atan2(x, y), ct::pow(x, y), ct::hypot(x, y),
      // Operands for which C compilers rewrite calls (x * x, 1 / x, fabs, -sin(x)).
      ct::sin(-x), ct::cos(-x), ct::hypot(-x, y), ct::pow(x, 2.0), ct::pow(x, -1.0),
      ct::pow(x, 0.0), ct::pow(1.0, y), ct::pow(-x, 2.0), ct::pow(x, 0.5), ct::pow(2.0, y),
      ct::hypot(x, 0.0), ct::atan2(-0.0, x), ct::atan2(x, -0.0), ct::exp(ct::log(x)),
      ct::ternary(x < y, x, y), ct::ternary(x >= z || y != z, z, x + 1.0),
      ct::ternary(!(x == y) && y <= z, S(1.0), S(2.0)), ct::ternary(x > y, y, S(-0.0)),
      ct::ternary((x < z) == (j < k), y, x) + ct::ternary((x < y) != (j >= k), 1.0, 2.0),
      ct::arrayAccess(values, 4, j), S(ct::indexOfMin(values, 4)),
      S(ct::arrayAccess(indices, 3, k)), S(ct::toInt(x)), S(B(x)), S(I(B(y))),
      S(j * 3 - k / 2 + k % 3 - (-k) + 1 - ct::min(j, k) * ct::max(j, 2)),
      S(ct::ternary(j > 1 && k <= j, j, I(-7))) + S(ct::ternary(j != k, k, I(INT_MIN))),
      S(read[0] * 2 - read[1]) + S(truth[0]),
      S(ct::all(std::vector<B>{x < y, j == k, y <= z}) || ct::any(j < 0, ct::all(x >= z, k > 0))),
      S(ct::all(x < y, y < z, j >= 0, ct::ternary(y <= z, B(true), B(false))))};
  // Constants as outputs and as operands of recorded nodes.
  for (double c : kConstants) out.insert(out.end(), {S(c), x * 0.0 + c});
  return out;
}

// Operands for which the C library's pow(x, 2) resp. pow(x, -1) is one ulp
// away from x * x resp. 1 / x, which compilers substitute.
double const kSquareOffByOne = 0x1.4c7035e612d52p+3;
double const kInverseOffByOne = 0x1.b6d5bd953e068p+3;

std::vector<Case> scalarCases() {
  double const sq = kSquareOffByOne, inv = kInverseOffByOne, big = 2147483647.5, third = 1.0 / 3.0;
  double const sNaN = std::numeric_limits<double>::signaling_NaN();
  // In fives: x, y, z, then j, k.
  double const rows[] = {
      0.0,  -0.0,     0.0,    0, 0, -0.0,   0.0,   -1.0, 3, -1, kNaN,  1.0,    kInf,   -1, 2,
      1.0,  kNaN,     -kInf,  4, 3, -kInf,  kInf,  kNaN, 7, 0,  1e300, 1e-300, 2.0,    1,  1,
      -7.5, -7.5,     3e-320, 1, 5, 5e9,    -5e9,  9.0,  0, -2, 2.0,   2.0,    -1.0,   3,  0,
      big,  -big - 1, 1.0,    2, 2, -8.0,   third, 0.5,  1, 4,  710.0, -746.0, 1e-310, 0,  1,
      1e22, 1e308,    4.0,    2, 0, 5e-324, -1.0,  0.0,  3, 3,  sq,    2.0,    1.0,    1,  2,
      -sq,  2.0,      1.0,    1, 2, inv,    -1.0,  1.0,  2, 1,  0.75,  1.0,    0.5,    2,  -1,
      sNaN, 0.0,      2.0,    2, 1};
  std::vector<Case> cases;
  for (std::size_t r = 0; r < std::size(rows); r += 5)
    cases.push_back({{rows[r], rows[r + 1], rows[r + 2]}, {int(rows[r + 3]), int(rows[r + 4])}});
  for (unsigned seed = 1; seed <= 12; ++seed) {
    auto d = vela::test::randomDoubles(3, seed);
    if (seed > 8) d[0] /= 256.0;  // inside [-1, 1] for asin and acos
    cases.push_back({d, {static_cast<int>(seed % 6) - 1, static_cast<int>(seed % 4)}});
  }
  return cases;
}

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
  // Values rebound (of any type) under a kept plan, and a name bound after
  // it was made: what a fresh copy gives, whichever graph comes first.
  TracedDouble u = t + TracedDouble::input("w");
  for (int v : {-3, 1, 7}) {
    bindings.bind("x", v + 0.25);
    bindings.bind("k", v > 0);
    bindings.bind("w", v);
    ct::BindingSet fresh = bindings;
    for (TracedDouble const& g : v == 1 ? std::vector{u, y, t} : std::vector{y, t, u})
      EXPECT_EQ(g.evaluate(bindings), g.evaluate(fresh)) << v;
  }
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

// The elements of a long output share storage: one kept after the others
// and their node are gone, then released on another thread.
TEST(Evaluation, AnElementOutlivesItsSiblingsOnAnyThread) {
  TracedDouble kept;
  {
    std::vector<TracedDouble> parts(20), read(20);
    for (int e = 0; e < 20; ++e) parts[e] = TracedDouble::input("x") * double(e);
    TracedDouble::accessElements(std::make_shared<ct::CollectOp>(20u, parts.data(), ""), 0, 20,
                                 read.data());
    kept = read[13];
    std::thread([r = std::move(read)]() mutable { r.clear(); }).join();
  }
  ct::BindingSet bindings;
  bindings.bind("x", 0.5);
  EXPECT_EQ(kept.evaluate(bindings), 6.5);
  std::thread([k = std::move(kept)]() mutable { k = TracedDouble(); }).join();
}

// A moved-from tape or workspace says what it is; a workspace follows its
// tape's state and is refused once that is gone, also by a later tape that
// happens to take its tape's memory.
TEST(Tape, RefusesStaleWorkspacesMergesAndAllocatesNothingOnceGrown) {
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
  // Equal nodes (element and indexed reads too) are planned once; calls
  // allocate nothing once the workspace has grown.
  auto expression = [](TracedDouble x) {
    std::vector<TracedDouble> s = shift({x, x * 2.0}, 1);
    return ct::sin(x) * ct::cos(x) + 1.0 + s[0] + ct::arrayAccess(s.data(), 2, ct::toInt(x));
  };
  ct::Tape once({"x"}, {expression(x)}), tape({"x"}, {expression(x), expression(x)});
  EXPECT_EQ(once.stepCount(), tape.stepCount());
  workspace = tape.workspace();
  in = 0.5;
  std::vector<double> xs = vela::test::randomDoubles(37, 5), ys(2 * 37), one(2 * 37);
  tape(&in, out), tape(&in, out, workspace), tape(xs.data(), ys.data(), 37, workspace);
#if defined(__SANITIZE_ADDRESS__)
  __sanitizer_install_malloc_and_free_hooks(
      [](const volatile void*, std::size_t) { allocations.fetch_add(1); },
      [](const volatile void*) {});
#endif
  std::size_t before = allocations;
  for (int i = 0; i < 10; ++i, in += 1.0)
    tape(&in, out, workspace), tape(&in, out), tape(xs.data(), ys.data(), 37, workspace);
  EXPECT_EQ(allocations, before);
  // Batches in and out of place are refused; count 0 reads and writes nothing.
  EXPECT_THROW(tape(ys.data() + 37, ys.data(), 37), std::invalid_argument);
  tape(nullptr, nullptr, 0, 2u);
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
  // A batch is its instances' single calls bit for bit, NaN and infinities
  // included, on one thread or two, whatever its last block's length.
  xs[3] = NAN, xs[20] = INFINITY, xs[36] = -INFINITY;
  for (std::size_t k = 0; k < 37; ++k) busy(&xs[k], &one[k]);
  for (std::size_t count : {37, 29, 12})
    for (unsigned threads : {1u, 2u}) {
      busy(xs.data(), ys.data(), count, threads);
      for (std::size_t k = 0; k < count; ++k)
        EXPECT_TRUE(vela::test::sameBits(ys[k], one[k])) << count << " " << k;
    }
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
  // Each step shares the constant node of the step before: a chain's graph
  // holds its operations, not a constant per operation.
  EXPECT_EQ(a.operation()->input(1).use_count(), 500000);
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

// Equal nodes are written once and the text is deterministic; 64 levels of
// v = v + v (2^64 paths through 65 nodes) stay linear; a node may update an
// input's storage only when it is that storage's last reader, else it copies.
TEST(CodeGeneration, EqualNodesOnceSharedPathsLinearAndInPlaceForTheLastReader) {
  auto compute = [](auto const& in) {
    auto d = in.doubles(0, 3), out = repeated(in);
    auto v = d[0];
    for (int level = 0; level < 64; ++level) v = v + v;
    out.insert(out.begin(), v);
    if constexpr (isNumeric<std::decay_t<decltype(in)>>) {
      for (double step : {1.0, 3.0})
        for (double x : d) out.push_back(x + step);
      out.push_back(d[0] * 2.0 + 4.0);
    } else {
      auto once = shift(d, 1), twice = shift(once, 2);  // once is an output too: it must survive
      out.insert(out.end(), once.begin(), once.end());
      out.insert(out.end(), twice.begin(), twice.end());
      out.push_back(d[0] * 2.0 + shift({}, 4, 2)[0]);  // a source held by one element read
    }
    return out;
  };
  auto result = vela::test::checkThreePaths(
      compute, {{{0.5, 3.0, 1.0}, {}}, {{-2.0, 3.0, 1e9}, {}}, {{1.0, -0.0, 0.5}, {}}});
  EXPECT_EQ(occurrences(result.code, "vela_rt_guarded_atan2("), 1u) << result.code;
  EXPECT_EQ(occurrences(result.code, "in[0] * in[1]"), 1u) << result.code;
  // The first shift overwrites its private collect; the second must copy.
  EXPECT_EQ(occurrences(result.code, "memcpy("), 1u);
  auto again = compute(vela::test::Inputs<ct::Traced>(3, 0));
  EXPECT_EQ(result.code, ct::generateCFunction("three_paths_model", {"d0", "d1", "d2"}, again));
  EXPECT_TRUE(result.traced[0].isOperationallyEqual(again[0]) &&
              !result.traced[0].isOperationallyEqual(again[0] + 0.0));
}

TEST(CodeGeneration, ScratchIsReusedFirstFitAndLargeScratchIsTheCallers) {
  ct::detail::SlotPool pool;  // first fit; a freed run joins its neighbours, and the top
  EXPECT_TRUE(pool.allocate(3) == 0 && pool.allocate(2) == 3 && pool.allocate(4) == 5);
  pool.release(5, 4), pool.release(0, 3), pool.release(3, 2);
  EXPECT_TRUE(pool.allocate(5) == 0 && pool.allocate(6) == 5 && pool.size() == 11);
  // Temporaries and outputs return when their node is written resp. read:
  // the scratchpad does not grow with the number of nodes.
  std::vector<TracedDouble> x = {TracedDouble::input("x"), TracedDouble::input("y")};
  auto generated = [&](int nodes, std::size_t limit) {
    TracedDouble total = x[0];
    for (int r = 0; r < nodes; ++r) total = total * shift(x, r)[1];
    return ct::generateCFunctionCode("f", {"x", "y"}, {total}, limit);
  };
  auto scratch = [&](int nodes) {
    std::string code = generated(nodes, ct::kStackScratchLimitBytes).text;
    auto at = code.find("double spd[");
    return code.substr(at, code.find(';', at) - at);
  };
  EXPECT_EQ(scratch(4), "double spd[8]");
  EXPECT_EQ(scratch(20), scratch(4));
  // Scratch of exactly the limit stays on the stack.
  std::size_t bytes = generated(4, 0).workBytes;
  EXPECT_TRUE(bytes >= 64 && generated(4, bytes).workBytes == 0 &&
              generated(4, bytes - 1).workBytes == bytes);
  // Scratch above the stack limit is the caller's work array.
  TracedDouble p = TracedDouble::input("p");
  ct::GeneratedCode large =
      ct::generateCFunctionCode("large", {"p"}, {shift(std::vector<TracedDouble>(5000, p), 1)[9]});
  EXPECT_GT(large.workBytes, ct::kStackScratchLimitBytes);
  EXPECT_TRUE(large.text.find("double spd[") == std::string::npos &&
              large.text.find("void large(const double* in, double* out, void* work)\n{") !=
                  std::string::npos &&
              large.text.find("return " + std::to_string(large.workBytes) + "u;") !=
                  std::string::npos);
}

// Names that are not C identifiers, or that the C library, the runtime (its
// every routine, read from its header), its prefixes or the functions
// generated beside another take, are refused; others compile, several in one unit.
TEST(CodeGeneration, FunctionAndInputNamesAreChecked) {
  TracedDouble y = TracedDouble::input("a") * 2.0;
  std::ifstream header(VELA_TEST_RUNTIME_HEADER);
  std::string source((std::istreambuf_iterator<char>(header)), std::istreambuf_iterator<char>());
  std::regex routine("static inline [^(]* (\\w+)\\(");
  std::vector<std::string> names{""};
  for (std::sregex_iterator m(source.begin(), source.end(), routine), end; m != end; ++m)
    names.push_back((*m)[1]);
  EXPECT_GT(names.size(), 30u);
  std::istringstream refused(
      "2f a-b int typeof main sqrtf atan2l memcpy INFINITY INT_MAX isnan vectorAdd svd TRUE _x __f "
      "_Model vela_rt_d2i VELA_RT_X kelm_math_x kelmf_is_nan zeph_core_f model_part0 f_part12 "
      "model_work_size");
  for (std::string name; refused >> name;) names.push_back(name);
  for (std::string const& name : names) {
    try {
      ct::generateCFunction(name, {"a"}, {y});
      ADD_FAILURE() << "accepted \"" << name << "\"";
    } catch (ct::InvalidFunctionName const& e) {
      EXPECT_NE(std::string(e.what()).find("\"" + name + "\""), std::string::npos) << e.what();
    }
  }
  std::string unit;
  for (char const* name : {"model", "rigidBody_2", "Svd", "sqrt2", "AZaz_09", "f_part", "f_partA"})
    unit += ct::generateCFunction(name, {"a", "unused"}, {y});
  unit += ct::generateCFunction("none", {"a"}, {});  // and no scratch, also when split:
  unit += ct::generateCFunctionCode("parts", {"a"}, {TracedDouble::input("a"), 2.0}, 1024, 1).text;
  vela::test::CompiledFunction(unit, "f_partA");
  // Input names: each given once, none empty, and every input of the graph.
  EXPECT_THROW(ct::generateCFunction("f", {"a", "a"}, {y}), std::invalid_argument);
  EXPECT_THROW(ct::Tape({"a", ""}, {y}), std::invalid_argument);
  EXPECT_THROW(ct::generateCFunction("f", {"b"}, {y}), ct::UnboundInput);
}

// Values of every type read many parts later, nodes of many lines, inputs
// and constants as outputs: the bits of evaluation, in both scratch forms.
TEST(CodeGeneration, LongBodiesAreDividedIntoPartsThatKeepTheBits) {
  TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y");
  EXPECT_EQ(ct::generateCFunction("f", {"x"}, {x * 2.0}).find("_part"), std::string::npos);
  ct::TracedInt k = ct::TracedInt::input("k"), count = ct::toInt(x * 10.0) + k;
  ct::TracedBool flag = ct::TracedBool::input("flag");
  TracedDouble early = ct::guardedDivide(x, y) * y, v = y;
  std::vector<TracedDouble> shifted = shift({x, y, early, x - y}, 1);
  for (int i = 0; i < 200; ++i) {
    v = 0.999999 * v + x;
    if (i % 50 == 49) v = v + shift({v, early, v * x}, i / 50)[2];
  }
  TracedDouble picked = ct::ternary(x < y, v, early),
               chosen = ct::ternary(flag && count > 2, v, shifted[3]);
  std::vector<TracedDouble> outputs = {
      v, early * v, x, -0.0, shifted[0], TracedDouble(count * 3), picked, chosen, TracedDouble(k)};
  std::vector<std::string> names = {"x", "y", "k", "flag"};
  std::vector<std::vector<double>> cases = {
      {1.5, -0.25, 3, 1}, {kNaN, 1.0, kNaN, kNaN}, {1e300, -1e-300, 2.5, -2}, {-0.0, 3.0, 1e10, 0}};
  // A limit that cuts between almost every pair of nodes, on the stack, and
  // one that packs several nodes into a part, with a work array.
  for (auto [limit, stackLimit] : {std::pair(1, ct::kStackScratchLimitBytes), std::pair(40, 0ul)}) {
    std::string text = ct::generateCFunctionCode("late", names, outputs, stackLimit, limit).text;
    std::vector<std::string> bodies = partBodies(text, "late");
    ASSERT_GT(bodies.size(), 5u) << text;
    // Restrict scratch: the compiler keeps values in registers as in one body.
    EXPECT_EQ(occurrences(text, "double* VELA_RT_RESTRICT spd, int* VELA_RT_RESTRICT spi)"),
              bodies.size());
    for (std::string const& body : bodies) {
      // A node's lines, vectorAdd to zeroMajor, stay together; a part passes
      // the limit only when a single node of 11 lines does.
      EXPECT_EQ(occurrences(body, "vectorAdd("), occurrences(body, "zeroMajor(")) << body;
      std::size_t lines = occurrences(body, ";\n") - occurrences(body, "(void)");
      EXPECT_LE(lines - occurrences(body, "_empty[1]"), std::max<std::size_t>(limit, 11)) << body;
      EXPECT_EQ(body.find("&spd_empty[0]") == std::string::npos,
                body.find("double spd_empty[1] = {0.0};") == std::string::npos);
    }
    vela::test::CompiledFunction compiled(text, "late");
    for (auto const& in : cases) {
      std::vector<double> out(outputs.size());
      compiled(in.data(), out.data());
      ct::BindingSet bindings;
      for (std::size_t i = 0; i < names.size(); ++i) bindings.bind(names[i], in[i]);
      for (std::size_t j = 0; j < outputs.size(); ++j)
        EXPECT_TRUE(vela::test::sameBits(out[j], outputs[j].evaluate(bindings))) << "output " << j;
    }
  }
}

// Generated C and display text must not depend on the process locale: a
// decimal comma turns "0.5" into the comma operator, digit grouping turns a
// size of 1600 into "1,600" or "1.600".
TEST(Locale, NumbersAreWrittenTheSameUnderEveryLocale) {
  std::locale::global(std::locale::classic());
  std::vector<std::string> const baseline = texts();
  EXPECT_TRUE(baseline[0].find("vectorAdd(1600, &spd[2], &spd[1602], ") != std::string::npos &&
              baseline[1].find("model_part1(") != std::string::npos);
  for (char const* name : {"de_DE.UTF-8", "en_US.UTF-8"}) {
    std::string const missing = vela::test::provideLocale(name);
    if (!missing.empty()) GTEST_SKIP() << missing;
    {
#if defined(__SANITIZE_ADDRESS__)
      // glibc keeps the search list of a locale loaded from a private folder.
      __lsan::ScopedDisabler ignoreGlibc;
#endif
      std::locale::global(std::locale(name));  // and the C locale with it
    }
    EXPECT_EQ(texts(), baseline) << name;
    std::locale::global(std::locale::classic());
  }
}

TEST(TracedScalars, EveryOperationAgreesOnEveryPathAndFolds) {
  std::vector<Case> cases = scalarCases();
  vela::test::checkThreePaths(
      [](auto const& in) {
        return everyOperation(in.doubles(0, 3), std::vector{in.i(0), in.i(1)});
      },
      cases);
  for (Case const& c : cases) {  // folded constants
    std::vector<double> numeric = everyOperation(c.doubles, c.ints);
    std::vector<TracedDouble> folded =
        everyOperation(std::vector<TracedDouble>(c.doubles.begin(), c.doubles.end()),
                       std::vector<TracedInt>(c.ints.begin(), c.ints.end()));
    for (std::size_t j = 0; j < numeric.size(); ++j) {
      double v = 0.0;
      EXPECT_TRUE(folded[j].getConstant(v) && vela::test::sameBits(v, numeric[j])) << j;
    }
  }
}

// Integer arithmetic wraps around, a zero divisor gives 0, and conversions
// from double truncate toward zero and saturate: checked against 64-bit
// arithmetic, with int and bool inputs read from doubles.
TEST(TracedScalars, IntegersWrapAndConversionsSaturateOnEveryPath) {
  auto d2i = [](double p) -> long long {
    return std::isnan(p) ? 0 : std::clamp(std::trunc(p), -2147483648.0, 2147483647.0);
  };
  auto wrap = [](long long v) { return static_cast<double>(static_cast<std::int32_t>(v)); };
  auto reference = [&](double p, double q) {
    long long a = d2i(p), b = d2i(q), quotient = b ? a / b : 0, remainder = b ? a % b : 0;
    std::vector<double> out;
    for (long long v :
         {a + b, a - b, a * b, quotient, remainder, -a, std::min(a, b), std::max(a, b), a})
      out.push_back(wrap(v));
    out.insert(out.end(), {double(p != 0.0), double(q != 0.0 && a != 0)});
    return out;
  };
  // a, b read p and q as int inputs; x is p as a double; c is q as a bool input.
  auto traced = [](TracedInt a, TracedInt b, TracedDouble x, TracedBool c) {
    TracedBool nonzero(x), both = c && TracedBool(a);
    return std::vector<TracedDouble>{a + b,         a - b,         a * b,        a / b,   a % b, -a,
                                     ct::min(a, b), ct::max(a, b), ct::toInt(x), nonzero, both};
  };
  // Every pair of values at and beyond the ends of the int range and some
  // that wrap, divide by zero or convert; folded, then on every path.
  double const top = INT_MAX, bottom = INT_MIN;
  double const values[] = {top,   bottom, top + 0.5, bottom - 0.5, top - 0.5, 3e9,  -3e9,  kInf,
                           -kInf, kNaN,   46341,     -7,           3,         2.75, -2.75, -1,
                           1,     0,      -0.0};
  std::vector<Case> cases;
  for (double p : values)
    for (double q : values) cases.push_back({{p, q}, {}});
  for (Case const& c : cases) {
    double p = c.doubles[0], q = c.doubles[1], v = 0.0;
    auto folded = traced(TracedInt(TracedDouble(p)), TracedInt(TracedDouble(q)), p,
                         TracedBool(TracedDouble(q)));
    for (std::size_t j = 0; j < folded.size(); ++j)
      EXPECT_TRUE(folded[j].getConstant(v) && v == reference(p, q)[j])
          << j << ": " << p << ", " << q;
  }
  vela::test::checkThreePaths(
      [&](auto const& in) {
        if constexpr (std::is_same_v<std::decay_t<decltype(in.d(0))>, double>)
          return reference(in.d(0), in.d(1));
        else
          return traced(TracedInt::input("d0"), TracedInt::input("d1"), in.d(0),
                        TracedBool::input("d1"));
      },
      cases);
}

// The runtime's scalar meanings, which every path shares, against their
// definitions; a constant condition or index picks without recording.
TEST(TracedScalars, GuardsSelectionsAndNaNRules) {
  using ct::max, ct::min, ct::pow, ct::sgn;
  EXPECT_TRUE(ct::guardedDivide(1.0, -0.0) == 0.0 && ct::guardedDivide(1.0, 4.0) == 0.25);
  EXPECT_TRUE(ct::guardedAtan2(-0.0, -0.0) == 0.0 &&
              ct::guardedAtan2(1.0, 0.0) == std::atan2(1.0, 0.0));
  EXPECT_TRUE(std::isnan(min(kNaN, 1.0)) && std::isnan(min(1.0, kNaN)) &&
              std::isnan(max(kNaN, 1.0)) && std::isnan(max(1.0, kNaN)) && min(2, -3) == -3 &&
              max(2, -3) == 2);
  EXPECT_TRUE(std::signbit(min(0.0, -0.0)) && !std::signbit(max(-0.0, 0.0)));  // the second
  EXPECT_TRUE(sgn(-3.0) == -1.0 && sgn(2.0) == 1.0 && std::signbit(sgn(-0.0)) &&
              std::isnan(sgn(kNaN)));
  EXPECT_TRUE(pow(kSquareOffByOne, 2.0) == kSquareOffByOne * kSquareOffByOne &&
              pow(kInverseOffByOne, -1.0) == 1.0 / kInverseOffByOne && pow(kNaN, 0.0) == 1.0 &&
              pow(1.0, kNaN) == 1.0 && ct::hypot(kInf, kNaN) == kInf);
  // The first of equal minima; any number beats a NaN; outside [0, n) reads 0.
  double values[] = {3.0, 1.0, kNaN, 1.0, 0.5}, nanFirst[] = {kNaN, 1.0, 1.0};
  int ints[] = {4, 5};
  EXPECT_TRUE(ct::indexOfMin(values, 4) == 1 && ct::indexOfMin(nanFirst, 3) == 1 &&
              ct::indexOfMin(nanFirst, 1) == 0 && ct::indexOfMin(values, 0) == -1);
  EXPECT_TRUE(ct::arrayAccess(values, 5, 4) == 0.5 && ct::arrayAccess(values, 5, 5) == 0.0 &&
              ct::arrayAccess(values, 5, -1) == 0.0 && ct::arrayAccess(ints, 2, 1) == 5 &&
              ct::arrayAccess(ints, 2, 2) == 0);
  TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y"), traced[] = {x, y};
  EXPECT_TRUE(ct::ternary(TracedBool(false), x, y).isOperationallyEqual(y));
  EXPECT_TRUE(ct::arrayAccess(traced, 2, TracedInt(0)).isOperationallyEqual(x) &&
              ct::arrayAccess(traced, 2, TracedInt(1)).isOperationallyEqual(y) &&
              ct::arrayAccess(traced, 2, TracedInt(2)).equalConstant(0.0));
}
