// Long bodies written as static parts of bounded length: the same bits as
// one function, in both scratch forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "kelm_math/comp_trace.hpp"
#include "support/CCompiler.hpp"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"

namespace ct = kelm_math::comp_trace;
using ct::TracedDouble;

namespace {

// Adds a whole step to a copy of its input vector: a memcpy, one line per
// element, then kernel calls on empty arrays of both types. A node of many
// lines that also needs the zero elements of empty slots.
class ShiftCopyOp final : public ct::VectorOperation {
 public:
  ShiftCopyOp(unsigned n, int step, ct::OperationPtr values)
      : ct::VectorOperation(std::move(values)), n_(n), step_(step) {}
  ct::OperationPtr clone() const override { return std::make_shared<ShiftCopyOp>(*this); }
  std::string description() const override { return "ShiftCopy"; }
  int compare_(ct::Operation const& other) const override {
    auto const& o = static_cast<ShiftCopyOp const&>(other);
    if (n_ != o.n_) return n_ < o.n_ ? -1 : 1;
    return step_ == o.step_ ? 0 : step_ < o.step_ ? -1 : 1;
  }
  void evaluate(ct::NodeValues& values) const override {
    ct::ArrayRef in = values.array(0);
    auto* out = static_cast<double*>(values.output(ct::ScalarType::Double, in.count));
    for (std::size_t k = 0; k < in.count; ++k) out[k] = in.doubles()[k] + step_;
  }
  std::string generateCode(ct::GenerateCodeVisitor& visitor) const override {
    ct::Slot in = visitor.outputSlot(input(0), 0);
    ct::Slot out = visitor.reserveOutputVector(*this, ct::ScalarType::Double, n_);
    ct::TemporaryStorage noDoubles = visitor.reserveTemporarySlots(ct::ScalarType::Double, 0);
    ct::TemporaryStorage noInts = visitor.reserveTemporarySlots(ct::ScalarType::Int, 0);
    std::string d = visitor.scratchpadPointerAccess(noDoubles.baseSlot());
    std::string i = visitor.scratchpadPointerAccess(noInts.baseSlot());
    std::string code = visitor.codeLine("memcpy(" + visitor.scratchpadPointerAccess(out) + ", " +
                                        visitor.scratchpadPointerAccess(in) + ", " +
                                        std::to_string(n_) + " * sizeof(double));");
    for (unsigned k = 0; k < n_; ++k)
      code += visitor.codeLine(visitor.scratchpadAccess(out, k) + " += " + std::to_string(step_) +
                               ".0;");
    code += visitor.codeLine("vectorAdd(0, " + d + ", " + d + ", " + d + ");");
    code += visitor.codeLine("zeroMajor(0, 0, " + i + ", " + d + ");");
    return code;
  }

 private:
  unsigned n_;
  int step_;
};

std::vector<TracedDouble> shiftCopy(std::vector<TracedDouble> const& values, int step) {
  auto n = static_cast<unsigned>(values.size());
  auto collect = std::make_shared<ct::CollectOp>(n, values.data(), "");
  std::vector<TracedDouble> out(n);
  TracedDouble::accessElements(std::make_shared<ShiftCopyOp>(n, step, collect), 0, n, out.data());
  return out;
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

// Lines of a part's body that compute, leaving out what only makes the
// part compile cleanly.
std::size_t bodyLines(std::string const& body) {
  std::size_t lines = 0;
  std::istringstream in(body);
  for (std::string line; std::getline(in, line);)
    lines += line.rfind("  (void)", 0) != 0 && line.find("_empty[1] = ") == std::string::npos;
  return lines;
}

struct Split {
  std::string stack;  // the split text of each form
  std::string work;
};

// Compiles the function with and without a line limit, in the stack and the
// work form, and checks every result against evaluation bit for bit.
Split checkSplitAgrees(std::string const& name, std::vector<std::string> const& inputNames,
                       std::vector<TracedDouble> const& outputs, std::size_t lineLimit,
                       std::vector<std::vector<double>> const& cases) {
  Split split;
  for (std::size_t stackLimit : {ct::kStackScratchLimitBytes, std::size_t(0)}) {
    ct::GeneratedCode whole = ct::generateCFunctionCode(name, inputNames, outputs, stackLimit, 0);
    ct::GeneratedCode parts =
        ct::generateCFunctionCode(name, inputNames, outputs, stackLimit, lineLimit);
    EXPECT_EQ(parts.workBytes, whole.workBytes);
    EXPECT_EQ(whole.text.find("static"), std::string::npos);
    EXPECT_GT(partBodies(parts.text, name).size(), 2u) << parts.text;
    (stackLimit ? split.stack : split.work) = parts.text;
    vela::test::CompiledFunction wholeC(whole.text, name), partsC(parts.text, name);
    for (auto const& in : cases) {
      std::vector<double> a(outputs.size()), b(outputs.size());
      wholeC(in.data(), a.data());
      partsC(in.data(), b.data());
      ct::BindingSet bindings;
      for (std::size_t i = 0; i < inputNames.size(); ++i) bindings.bind(inputNames[i], in[i]);
      for (std::size_t j = 0; j < outputs.size(); ++j) {
        EXPECT_EQ(std::memcmp(&a[j], &b[j], sizeof(double)), 0) << name << " output " << j;
        EXPECT_TRUE(vela::test::sameBits(b[j], outputs[j].evaluate(bindings)))
            << name << " output " << j << ": " << b[j];
      }
    }
  }
  return split;
}

using vela::test::kInf;
using vela::test::kNaN;

TEST(SplitFunction, LongChainKeepsItsBitsAndPartsTheirLength) {
  TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y");
  for (int i = 0; i < 300; ++i) y = 0.999999 * y + x;
  std::vector<std::vector<double>> cases = {{1.5, -0.25}, {-0.0, 0.0}, {1e300, 1e300}, {kNaN, 1}};
  Split split = checkSplitAgrees("chain", {"x", "y"}, {y}, 37, cases);
  std::vector<std::string> bodies = partBodies(split.stack, "chain");
  ASSERT_EQ(bodies.size(), 17u);  // 601 lines, 37 at most each
  for (std::string const& body : bodies) EXPECT_LE(bodyLines(body), 37u) << body;
  // The function keeps its signature and scratch and calls every part in order.
  auto main =
      split.stack.find("\nvoid chain(const double* in, double* out)\n{\n  double spd[2];\n");
  ASSERT_NE(main, std::string::npos) << split.stack;
  for (int k = 0; k < 17; ++k) {
    std::string call = "  chain_part" + std::to_string(k) + "(in, out, spd);\n";
    auto at = split.stack.find(call, main);
    EXPECT_NE(at, std::string::npos) << call;
    main = at;
  }

  // Two split functions in one unit: the names of their parts differ.
  TracedDouble twice = y * 2.0;
  std::string other =
      ct::generateCFunctionCode("other", {"x", "y"}, {twice}, ct::kStackScratchLimitBytes, 37).text;
  vela::test::CompiledFunction both(split.stack + other, "other");
  double in[] = {0.75, -2.0}, out = 0.0;
  both(in, &out);
  ct::BindingSet bindings;
  bindings.bind("x", in[0]);
  bindings.bind("y", in[1]);
  EXPECT_TRUE(vela::test::sameBits(out, twice.evaluate(bindings)));

  // Short bodies stay one function under the default limit.
  TracedDouble z = x * 2.0 + TracedDouble::input("y");
  EXPECT_EQ(
      ct::generateCFunction("small", {"x", "y"}, {z}),
      ct::generateCFunctionCode("small", {"x", "y"}, {z}, ct::kStackScratchLimitBytes, 0).text);
  EXPECT_EQ(ct::generateCFunction("small", {"x", "y"}, {z}).find("static"), std::string::npos);
}

// Values of every type computed early and read many parts later, vector
// nodes whose lines stay in one part, outputs that are inputs or constants.
TEST(SplitFunction, ValuesReadManyPartsLaterKeepTheirBits) {
  TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y");
  ct::TracedInt k = ct::TracedInt::input("k");
  ct::TracedBool flag = ct::TracedBool::input("flag");
  TracedDouble early = ct::guardedDivide(x, y) * y;
  ct::TracedInt count = ct::toInt(x * 10.0) + k;
  ct::TracedBool less = x < y;
  std::vector<TracedDouble> shifted = shiftCopy({x, y, early, x - y}, 1);
  TracedDouble v = y;
  for (int i = 0; i < 200; ++i) {
    v = 0.999999 * v + x;
    if (i % 50 == 49) v = v + shiftCopy({v, early, v * x}, i / 50)[2];
  }
  std::vector<TracedDouble> outputs = {v,
                                       early * v,
                                       ct::ternary(less, v, early),
                                       TracedDouble(count * 3),
                                       ct::ternary(flag && count > 2, v, shifted[3]),
                                       x,
                                       TracedDouble(2.5),
                                       shifted[0],
                                       shifted[2],
                                       TracedDouble(-0.0),
                                       TracedDouble(k)};
  std::vector<std::vector<double>> cases = {{1.5, -0.25, 3, 1},
                                            {0.0, -0.0, -7, 0},
                                            {kNaN, 1.0, kNaN, kNaN},
                                            {1e300, -1e-300, 2.5, -2},
                                            {-kInf, 3.0, 1e10, 1}};
  // Limits that cut between almost every pair of nodes, and one that packs
  // several nodes into a part.
  for (std::size_t limit : {1, 3, 40}) {
    Split split = checkSplitAgrees("late", {"x", "y", "k", "flag"}, outputs, limit, cases);
    for (std::string const* text : {&split.stack, &split.work}) {
      for (std::string const& body : partBodies(*text, "late")) {
        // A shift node's lines, memcpy to kernel calls, are never divided.
        EXPECT_EQ(vela::test::occurrences(body, "memcpy("),
                  vela::test::occurrences(body, "zeroMajor("))
            << body;
        // Every node fits the largest limit: no part may pass it.
        if (limit == 40) {
          EXPECT_LE(bodyLines(body), limit) << body;
        }
        bool empty = body.find("&spd_empty[0]") != std::string::npos;
        EXPECT_EQ(empty, body.find("double spd_empty[1] = {0.0};") != std::string::npos) << body;
      }
      EXPECT_EQ(text->find("spd_empty", text->rfind("\nvoid late(")), std::string::npos);
    }
  }
}

}  // namespace
