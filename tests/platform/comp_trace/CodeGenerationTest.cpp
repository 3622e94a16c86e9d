// The shape of generated C: merging, storage reuse, names, scratch forms,
// long bodies divided into parts.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "CodeGenerator.hpp"
#include "ShiftOp.hpp"
#include "kelm_math/comp_trace.hpp"
#include "support/CCompiler.hpp"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"

namespace {

namespace ct = kelm_math::comp_trace;
using ct::TracedDouble;
using shift_op::shift;
using vela::test::Case;
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
  EXPECT_EQ(result.code.rfind("#include <vela/codegen_runtime.h>\n", 0), 0u);
  EXPECT_NE(result.code.find("void three_paths_model(const double* in, double* out)\n{"),
            std::string::npos);
}

// A node may update an input's storage only when it is that storage's last
// reader: else it copies first.
TEST(CodeGeneration, InPlaceOnlyForTheLastReader) {
  auto copied = [](auto const& in) {
    auto v = in.doubles(0, 3);
    if constexpr (isNumeric<std::decay_t<decltype(in)>>)
      return std::vector<double>{v[0] + 1, v[1] + 1, v[2] + 1, v[0] + 3, v[1] + 3, v[2] + 3, v[0]};
    else {
      auto once = shift(v, 1), twice = shift(once, 2);  // once is an output too: it must survive
      return std::vector<TracedDouble>{once[0],  once[1],  once[2], twice[0],
                                       twice[1], twice[2], v[0]};
    }
  };
  std::vector<Case> cases = {{{1.0, 2.0, 3.0}, {}}, {{-1.0, 0.5, 1e9}, {}}};
  // The first stage overwrites its private collect; the second must copy.
  EXPECT_EQ(occurrences(vela::test::checkThreePaths(copied, cases).code, "memcpy("), 1u);
  auto chained = [](auto const& in) {
    auto v = in.doubles(0, 3);
    if constexpr (isNumeric<std::decay_t<decltype(in)>>) {
      return std::vector<double>{v[0] + 3, v[1] + 3, v[2] + 3, v[0] * 2.0 + 4.0};
    } else {
      auto out = shift(shift(v, 1), 2);                // each stage read only by the next
      out.push_back(v[0] * 2.0 + shift({}, 4, 2)[0]);  // a source held by one element read
      return out;
    }
  };
  EXPECT_EQ(occurrences(vela::test::checkThreePaths(chained, cases).code, "memcpy("), 0u);
}

TEST(CodeGeneration, ScratchIsReusedFirstFitAndLargeScratchIsTheCallers) {
  ct::detail::SlotPool pool;
  EXPECT_EQ(pool.allocate(3), 0u);
  EXPECT_EQ(pool.allocate(2), 3u);
  EXPECT_EQ(pool.allocate(4), 5u);
  pool.release(0, 3);
  pool.release(3, 2);               // joins the run before it: 0..5 free
  EXPECT_EQ(pool.allocate(5), 0u);  // fits only if coalesced
  pool.release(5, 4);
  EXPECT_EQ(pool.allocate(6), 5u);  // the free top run is reused and extended
  EXPECT_EQ(pool.size(), 11u);
  EXPECT_EQ(pool.allocate(0), 11u);

  // Temporaries and outputs return when their node is written resp. read:
  // the scratchpad does not grow with the number of nodes.
  std::vector<TracedDouble> x = {TracedDouble::input("x"), TracedDouble::input("y")};
  auto scratch = [&](int nodes) {
    TracedDouble total = x[0];
    for (int r = 0; r < nodes; ++r) total = total * shift(x, r)[1];
    std::string code = ct::generateCFunction("f", {"x", "y"}, {total});
    auto at = code.find("double spd[");
    return code.substr(at, code.find(';', at) - at);
  };
  EXPECT_EQ(scratch(4), "double spd[8]");
  EXPECT_EQ(scratch(20), scratch(4));
  // Scratch above the stack limit is the caller's work array.
  TracedDouble p = TracedDouble::input("p");
  ct::GeneratedCode large =
      ct::generateCFunctionCode("large", {"p"}, {shift(std::vector<TracedDouble>(5000, p), 1)[9]});
  EXPECT_GT(large.workBytes, ct::kStackScratchLimitBytes);
  EXPECT_EQ(large.text.find("double spd["), std::string::npos) << "scratch on the stack";
  EXPECT_NE(large.text.find("void large(const double* in, double* out, void* work)"),
            std::string::npos);
  EXPECT_NE(large.text.find("return " + std::to_string(large.workBytes) + "u;"), std::string::npos);
}

TEST(CodeGeneration, FunctionAndInputNamesAreChecked) {
  TracedDouble y = TracedDouble::input("a") * 2.0;
  std::istringstream refused(
      "2f a-b int for while bool typeof main sqrt sqrtf atan2l memcpy printf malloc INFINITY NAN "
      "INT_MAX isnan vectorAdd svd dotProduct TRUE _x __f _Model vela_rt_d2i VELA_RT_NOINLINE "
      "kelm_math_lin_alg_x zeph_core_f kelmf_is_nan model_part0 f_part12 model_work_size");
  std::vector<std::string> names{""};
  // Every routine the runtime defines, or a model named after one would not compile.
  std::ifstream header(VELA_TEST_RUNTIME_HEADER);
  std::string source((std::istreambuf_iterator<char>(header)), std::istreambuf_iterator<char>());
  for (auto at = source.find("static inline "); at != std::string::npos;
       at = source.find("static inline ", at + 1)) {
    auto open = source.find('(', at);
    names.push_back(source.substr(source.rfind(' ', open) + 1, open - source.rfind(' ', open) - 1));
  }
  EXPECT_GT(names.size(), 30u);
  for (std::string name; refused >> name;) names.push_back(name);
  for (std::string const& name : names) {
    try {
      ct::generateCFunction(name, {"a"}, {y});
      ADD_FAILURE() << "accepted \"" << name << "\"";
    } catch (ct::InvalidFunctionName const& e) {
      EXPECT_NE(std::string(e.what()).find("\"" + name + "\""), std::string::npos) << e.what();
    }
  }
  // Accepted names compile, several functions in one unit.
  std::string unit;
  for (char const* name : {"model", "rigidBody_2", "Svd", "sqrt2", "m", "f_part", "f_partA"})
    unit += ct::generateCFunction(name, {"a"}, {y});
  vela::test::CompiledFunction(unit, "f_partA");
  // Inputs: a missing one, repeated and empty names; unused ones and no outputs are fine.
  EXPECT_THROW(ct::generateCFunction("f", {"a"}, {y + TracedDouble::input("b")}), ct::UnboundInput);
  EXPECT_THROW(ct::generateCFunction("f", {"a", "b", "a"}, {y}), std::invalid_argument);
  EXPECT_THROW(ct::generateCFunction("f", {"a", ""}, {y}), std::invalid_argument);
  vela::test::CompiledFunction empty(ct::generateCFunction("empty", {"a"}, {}), "empty");
  double in[] = {1.0};
  empty(in, nullptr);
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

// Values of every type computed early and read many parts later, nodes of
// many lines, outputs that are inputs or constants: the same bits as one
// function, in both scratch forms.
TEST(CodeGeneration, LongBodiesAreDividedIntoPartsThatKeepTheBits) {
  TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y");
  ct::TracedInt k = ct::TracedInt::input("k"), count = ct::toInt(x * 10.0) + k;
  ct::TracedBool flag = ct::TracedBool::input("flag");
  TracedDouble early = ct::guardedDivide(x, y) * y, v = y;
  std::vector<TracedDouble> shifted = shift({x, y, early, x - y}, 1);
  for (int i = 0; i < 200; ++i) {
    v = 0.999999 * v + x;
    if (i % 50 == 49) v = v + shift({v, early, v * x}, i / 50)[2];
  }
  TracedDouble picked = ct::ternary(x < y, v, early), chosen = ct::ternary(flag && count > 2, v, x);
  std::vector<TracedDouble> outputs = {
      v, early * v, x, -0.0, shifted[0], TracedDouble(count * 3), picked, chosen, TracedDouble(k)};
  std::vector<std::string> names = {"x", "y", "k", "flag"};
  std::vector<std::vector<double>> cases = {
      {1.5, -0.25, 3, 1}, {kNaN, 1.0, kNaN, kNaN}, {1e300, -1e-300, 2.5, -2}, {-0.0, 3.0, 1e10, 0}};
  // A limit that cuts between almost every pair of nodes, on the stack, and
  // one that packs several nodes into a part, with a work array.
  for (auto [limit, stackLimit] : {std::pair(1, ct::kStackScratchLimitBytes), std::pair(40, 0ul)}) {
    ct::GeneratedCode whole = ct::generateCFunctionCode("late", names, outputs, stackLimit, 0);
    ct::GeneratedCode parts = ct::generateCFunctionCode("late", names, outputs, stackLimit, limit);
    EXPECT_EQ(whole.text.find("static"), std::string::npos);
    EXPECT_EQ(parts.workBytes, whole.workBytes);
    std::vector<std::string> bodies = partBodies(parts.text, "late");
    ASSERT_GT(bodies.size(), 5u) << parts.text;
    auto main = parts.text.find("\nvoid late(");
    for (std::size_t p = 0; p < bodies.size(); ++p) {
      // A node's lines, vectorAdd to zeroMajor, are never divided.
      EXPECT_EQ(occurrences(bodies[p], "vectorAdd("), occurrences(bodies[p], "zeroMajor("));
      std::size_t lines = occurrences(bodies[p], "\n") - occurrences(bodies[p], "(void)") -
                          occurrences(bodies[p], "_empty[1] = ");
      if (limit == 40) {
        EXPECT_LE(lines, limit) << bodies[p];
      }
      bool empty = bodies[p].find("&spd_empty[0]") != std::string::npos;
      EXPECT_EQ(empty, bodies[p].find("double spd_empty[1] = {0.0};") != std::string::npos);
      main = parts.text.find("  late_part" + std::to_string(p) + "(in, out, ", main);  // in order
      EXPECT_NE(main, std::string::npos) << p;
    }
    vela::test::CompiledFunction wholeC(whole.text, "late"), partsC(parts.text, "late");
    for (auto const& in : cases) {
      std::vector<double> a(outputs.size()), b(outputs.size());
      wholeC(in.data(), a.data());
      partsC(in.data(), b.data());
      ct::BindingSet bindings;
      for (std::size_t i = 0; i < names.size(); ++i) bindings.bind(names[i], in[i]);
      for (std::size_t j = 0; j < outputs.size(); ++j) {
        EXPECT_TRUE(vela::test::sameBits(a[j], b[j])) << "output " << j;
        EXPECT_TRUE(vela::test::sameBits(b[j], outputs[j].evaluate(bindings))) << "output " << j;
      }
    }
  }
  // Short bodies stay one function; two split functions share one unit.
  TracedDouble z = x * 2.0 + y;
  EXPECT_EQ(
      ct::generateCFunction("small", {"x", "y"}, {z}),
      ct::generateCFunctionCode("small", {"x", "y"}, {z}, ct::kStackScratchLimitBytes, 0).text);
  vela::test::CompiledFunction(
      ct::generateCFunctionCode("one", {"x", "y"}, {v}, 1 << 16, 9).text +
          ct::generateCFunctionCode("two", {"x", "y"}, {z}, 1 << 16, 1).text,
      "two");
}
