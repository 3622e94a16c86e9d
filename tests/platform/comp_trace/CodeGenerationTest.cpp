// The shape of generated C: merging, storage reuse, names, scratch forms,
// long bodies divided into parts, numbers under any locale.
#include <gtest/gtest.h>

#include <fstream>
#include <locale>
#include <regex>
#include <sstream>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "CodeGenerator.hpp"
#include "ShiftOp.hpp"
#include "support/CCompiler.hpp"
#include "support/Locales.hpp"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "vela/NumberText.hpp"

namespace {
namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using ct::TracedDouble;
using ct::TracedInt;
using shift_op::shift;
using vela::test::kNaN;
using vela::test::occurrences;

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

}  // namespace

TEST(CodeGeneration, EqualNodesAreWrittenOnceAndTheTextIsDeterministic) {
  auto result =
      vela::test::checkThreePaths([](auto const& in) { return repeated(in); },
                                  {{{0.5, 3.0}, {}}, {{-2.0, 3.0}, {}}, {{1.0, -0.0}, {}}});
  EXPECT_EQ(occurrences(result.code, "vela_rt_guarded_atan2("), 1u) << result.code;
  EXPECT_EQ(occurrences(result.code, "in[0] * in[1]"), 1u) << result.code;
  EXPECT_EQ(result.code, ct::generateCFunction("three_paths_model", {"d0", "d1"},
                                               repeated(vela::test::Inputs<ct::Traced>(2, 0))));
}

// A node may update an input's storage only when it is that storage's last
// reader: else it copies first.
TEST(CodeGeneration, InPlaceOnlyForTheLastReader) {
  auto compute = [](auto const& in) {
    auto v = in.doubles(0, 3);
    if constexpr (isNumeric<std::decay_t<decltype(in)>>) {
      return std::vector<double>{v[0] + 1, v[1] + 1, v[2] + 1,        v[0] + 3,
                                 v[1] + 3, v[2] + 3, v[0] * 2.0 + 4.0};
    } else {
      auto once = shift(v, 1), twice = shift(once, 2);  // once is an output too: it must survive
      once.insert(once.end(), twice.begin(), twice.end());
      once.push_back(v[0] * 2.0 + shift({}, 4, 2)[0]);  // a source held by one element read
      return once;
    }
  };
  // The first stage overwrites its private collect; the second must copy.
  auto result =
      vela::test::checkThreePaths(compute, {{{1.0, 2.0, 3.0}, {}}, {{-1.0, 0.5, 1e9}, {}}});
  EXPECT_EQ(occurrences(result.code, "memcpy("), 1u);
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

namespace {
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
}  // namespace

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

namespace {
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

}  // namespace

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
