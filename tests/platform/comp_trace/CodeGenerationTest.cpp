#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <limits>
#include <type_traits>

#include "kelm_math/comp_trace.hpp"
#include "support/CCompiler.hpp"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"

namespace ct = kelm_math::comp_trace;
using ct::TracedDouble;
using vela::test::Case;

namespace {

using vela::test::kInf;
using vela::test::kNaN;

// Adds `step` to every element of its input vector, in place when allowed.
class AddInPlaceOp final : public ct::VectorOperation {
 public:
  AddInPlaceOp(unsigned n, double step, ct::OperationPtr values)
      : ct::VectorOperation(std::move(values)), n_(n), step_(step) {}
  ct::OperationPtr clone() const override { return std::make_shared<AddInPlaceOp>(*this); }
  std::string description() const override { return "AddInPlace"; }
  void evaluate(ct::NodeValues& values) const override {
    ct::ArrayRef in = values.array(0);
    auto* out = static_cast<double*>(values.output(ct::ScalarType::Double, in.count));
    for (std::size_t i = 0; i < in.count; ++i) out[i] = in.doubles()[i] + step_;
  }
  std::string generateCode(ct::GenerateCodeVisitor& visitor) const override {
    ct::Slot in = visitor.outputSlot(input(0), 0);
    std::string code;
    ct::Slot out;
    if (visitor.canOverwriteVector(input(0))) {
      out = visitor.reserveOverwriteOutputVector(*this, in, n_);
    } else {
      out = visitor.reserveOutputVector(*this, ct::ScalarType::Double, n_);
      code += visitor.codeLine("memcpy(" + visitor.scratchpadPointerAccess(out) + ", " +
                               visitor.scratchpadPointerAccess(in) + ", " + std::to_string(n_) +
                               " * sizeof(double));");
    }
    for (unsigned i = 0; i < n_; ++i)
      code +=
          visitor.codeLine(visitor.scratchpadAccess(out, i) + " += " + std::to_string(step_) + ";");
    return code;
  }

 private:
  unsigned n_;
  double step_;
};

std::vector<TracedDouble> addInPlace(std::vector<TracedDouble> const& values, double step) {
  auto n = static_cast<unsigned>(values.size());
  auto collect = std::make_shared<ct::CollectOp>(n, values.data(), "");
  std::vector<TracedDouble> out(n);
  TracedDouble::accessElements(std::make_shared<AddInPlaceOp>(n, step, collect), 0, n, out.data());
  return out;
}

// Every scalar function of the trace library over two doubles and an int,
// written once for both modes.
template <class Mode>
std::vector<vela::math::Scalar<Mode>> scalarMix(vela::test::Inputs<Mode> const& in) {
  using kelm_math::comp_trace::arrayAccess;
  using kelm_math::comp_trace::floor;
  using kelm_math::comp_trace::guardedAtan2;
  using kelm_math::comp_trace::guardedDivide;
  using kelm_math::comp_trace::indexOfMin;
  using kelm_math::comp_trace::max;
  using kelm_math::comp_trace::min;
  using kelm_math::comp_trace::sgn;
  using kelm_math::comp_trace::sqrt;
  using kelm_math::comp_trace::ternary;
  using S = vela::math::Scalar<Mode>;
  using I = vela::math::Integer<Mode>;
  S a = in.d(0), b = in.d(1), c = in.d(2);
  I k = in.i(0);
  S values[] = {a, b, c, a * b};
  S mixed[] = {
      a + b,    a - b,     a * b,     a / b,  -a,     guardedDivide(a, b), guardedAtan2(a, b),
      floor(a), min(a, b), max(a, b), sgn(b), sqrt(c)};
  std::vector<S> out(std::begin(mixed), std::end(mixed));
  out.push_back(ternary(a < b, a, b));
  out.push_back(ternary(a >= c || b != c, c, a + 1.0));
  out.push_back(ternary(!(a == b) && (b <= c), 1.0, 2.0));
  out.push_back(arrayAccess(values, 4, k));
  out.push_back(S(indexOfMin(values, 4)));
  using kelm_math::comp_trace::toInt;
  out.push_back(S(toInt(a) % 1000 + k * 3 - k / 2 + k % 3));  // no overflow in Numeric
  out.push_back(S(ternary(k > 1, toInt(b), k)));
  return out;
}

std::vector<Case> scalarCases() {
  std::vector<Case> cases = {{{1.5, -2.25, 4.0}, {2}},    {{0.0, -0.0, 0.0}, {0}},
                             {{-0.0, 0.0, -1.0}, {3}},    {{kNaN, 1.0, kInf}, {-1}},
                             {{1e300, 1e-300, 2.0}, {4}}, {{-7.5, -7.5, 3e-320}, {1}},
                             {{kInf, -kInf, kNaN}, {2}},  {{5e9, -5e9, 9.0}, {7}}};
  for (unsigned seed = 1; seed <= 8; ++seed) {
    auto d = vela::test::randomDoubles(3, seed);
    cases.push_back({d, {static_cast<int>(seed % 5) - 1}});
  }
  return cases;
}

}  // namespace

TEST(CodeGeneration, ScalarFunctionsAgreeOnThreePaths) {
  auto result =
      vela::test::checkThreePaths([](auto const& in) { return scalarMix(in); }, scalarCases());
  EXPECT_NE(result.code.find("vela_rt_access_d(4, "), std::string::npos);
  EXPECT_NE(result.code.find("vela_rt_d2i(in[3])"), std::string::npos);
}

TEST(CodeGeneration, DoubleToIntTruncatesAndSaturatesOnEveryPath) {
  struct Row {
    double x;
    int expected;
  };
  Row const rows[] = {{2.75, 2},
                      {-2.75, -2},
                      {-0.0, 0},
                      {kNaN, 0},
                      {2147483646.5, INT_MAX - 1},
                      {2147483647.0, INT_MAX},
                      {2147483647.5, INT_MAX},
                      {3e9, INT_MAX},
                      {kInf, INT_MAX},
                      {-2147483647.5, INT_MIN + 1},
                      {-2147483648.0, INT_MIN},
                      {-2147483648.5, INT_MIN},
                      {-3e9, INT_MIN},
                      {-1e300, INT_MIN},
                      {-kInf, INT_MIN}};
  std::vector<Case> cases;
  TracedDouble x = TracedDouble::input("x");
  for (Row const& row : rows) {
    EXPECT_EQ(ct::toInt(row.x), row.expected) << row.x;
    int folded = 0;
    ASSERT_TRUE(ct::TracedInt(TracedDouble(row.x)).getConstant(folded));
    EXPECT_EQ(folded, row.expected) << row.x;
    ct::BindingSet bindings;
    bindings.bind("x", row.x);
    EXPECT_EQ(ct::TracedInt(x).evaluate(bindings), row.expected) << row.x;
    cases.push_back({{row.x}, {}});
  }
  // Generated C of both traced forms agrees with the Numeric results above.
  auto convert = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    if constexpr (std::is_same_v<S, double>)
      return std::vector<S>{S(ct::toInt(in.d(0))), S(ct::toInt(in.d(0)))};
    else
      return std::vector<S>{S(ct::TracedInt(in.d(0))), S(ct::toInt(in.d(0)))};
  };
  vela::test::checkThreePaths(convert, cases);
}

TEST(CodeGeneration, ConstantsRoundTripExactly) {
  std::vector<double> constants = {
      0.1,   -0.0, 0.0,         1e-310, -4.9406564584124654e-324, 1.7976931348623157e308,
      -kInf, kInf, 123456789.0, -2.5};
  std::vector<TracedDouble> outputs;
  TracedDouble x = TracedDouble::input("x");
  for (double c : constants) outputs.push_back(x * 0.0 + c);  // kept out of folding by x
  for (double c : constants) outputs.push_back(TracedDouble(c));
  std::string code = ct::generateCFunction("constants", {"x"}, outputs);
  vela::test::CompiledFunction f(code, "constants");
  double in[] = {1.0};
  std::vector<double> out(outputs.size());
  f(in, out.data());
  ct::BindingSet bindings;
  bindings.bind("x", 1.0);
  for (std::size_t j = 0; j < outputs.size(); ++j)
    EXPECT_TRUE(vela::test::sameBits(out[j], outputs[j].evaluate(bindings))) << j << "\n" << code;
}

TEST(CodeGeneration, EqualComputationsAreWrittenOnceAndTextIsDeterministic) {
  auto build = [] {
    TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y");
    TracedDouble first = ct::guardedAtan2(x * y, y - 1.0);   // recorded twice, from
    TracedDouble second = ct::guardedAtan2(x * y, y - 1.0);  // distinct nodes
    return std::vector<TracedDouble>{first + second, first * 2.0};
  };
  auto outputs = build();
  std::string code = ct::generateCFunction("merged", {"x", "y"}, outputs);
  EXPECT_EQ(vela::test::occurrences(code, "vela_rt_guarded_atan2("), 1u) << code;
  EXPECT_EQ(vela::test::occurrences(code, " * "), 2u) << code;  // x * y once, first * 2.0 once
  EXPECT_EQ(code, ct::generateCFunction("merged", {"x", "y"}, build()));
  EXPECT_EQ(code.rfind("#include <vela/codegen_runtime.h>\n", 0), 0u);
  EXPECT_NE(code.find("void merged(const double* in, double* out)"), std::string::npos);
}

// Each copy of x * y below is held by one node only: under a function, a
// select, a collect of six and an element read. The generator keeps such
// nodes out of its map, so the canonical copy must still be found by id.
TEST(CodeGeneration, EqualNodesHeldOnceMergeWhereverTheySit) {
  TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y");
  auto product = [&] { return x * y; };
  TracedDouble root = ct::sqrt(product()) + ct::ternary(x < y, product(), product() - 1.0);
  TracedDouble parts[6] = {product(), product() + 1.0, y, product(), x, product() * 2.0};
  auto collect = std::make_shared<ct::CollectOp>(6u, parts, "six");
  TracedDouble read[6];
  TracedDouble::accessElements(collect, 0, 6, read);
  std::vector<TracedDouble> outputs = {root, read[0] + read[1] + read[5], product()};
  std::string code = ct::generateCFunction("held_once", {"x", "y"}, outputs);
  EXPECT_EQ(vela::test::occurrences(code, "in[0] * in[1]"), 1u) << code;
  vela::test::CompiledFunction f(code, "held_once");
  for (double a : {0.5, -2.0, kNaN}) {
    double in[] = {a, 3.0};
    std::vector<double> out(outputs.size());
    f(in, out.data());
    ct::BindingSet bindings;
    bindings.bind("x", a);
    bindings.bind("y", 3.0);
    for (std::size_t j = 0; j < outputs.size(); ++j)
      EXPECT_TRUE(vela::test::sameBits(out[j], outputs[j].evaluate(bindings))) << j << "\n" << code;
  }
}

// A vector node without inputs, held by its one element read alone.
class ZerosOp final : public ct::VectorOperation {
 public:
  explicit ZerosOp(unsigned n) : ct::VectorOperation(std::vector<ct::OperationPtr>{}), n_(n) {}
  ct::OperationPtr clone() const override { return std::make_shared<ZerosOp>(*this); }
  std::string description() const override { return "Zeros"; }
  void evaluate(ct::NodeValues& values) const override {
    auto* out = static_cast<double*>(values.output(ct::ScalarType::Double, n_));
    std::fill(out, out + n_, 0.0);
  }
  std::string generateCode(ct::GenerateCodeVisitor& visitor) const override {
    ct::Slot out = visitor.reserveOutputVector(*this, ct::ScalarType::Double, n_);
    std::string code;
    for (unsigned i = 0; i < n_; ++i)
      code += visitor.codeLine(visitor.scratchpadAccess(out, i) + " = 0.0;");
    return code;
  }

 private:
  unsigned n_;
};

TEST(CodeGeneration, ASourceWithoutInputsReadThroughOneElement) {
  TracedDouble x = TracedDouble::input("x");
  TracedDouble e;
  TracedDouble::accessElements(std::make_shared<ZerosOp>(2), 0, 1, &e);
  std::vector<TracedDouble> outputs = {x * 2.0 + e};
  vela::test::CompiledFunction f(ct::generateCFunction("zeros", {"x"}, outputs), "zeros");
  double in[] = {1.5}, out[1];
  f(in, out);
  EXPECT_EQ(out[0], 3.0);
  ct::BindingSet bindings;
  bindings.bind("x", 1.5);
  EXPECT_EQ(outputs[0].evaluate(bindings), 3.0);
  ct::Tape tape({"x"}, outputs);
  out[0] = 0.0;
  tape(in, out);
  EXPECT_EQ(out[0], 3.0);
}

TEST(CodeGeneration, InPlaceNodesReuseStorageOnlyForTheLastReader) {
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    std::vector<S> values = in.doubles(0, 3);
    std::vector<S> result;
    if constexpr (std::is_same_v<S, double>) {
      auto once = values, twice = values;
      for (auto& v : once) v += 1.0;
      for (std::size_t i = 0; i < 3; ++i) twice[i] = once[i] + 2.0;
      result = {once[0], once[1], once[2], twice[0], twice[1], twice[2], values[0]};
    } else {
      auto once = addInPlace(values, 1.0);
      auto twice = addInPlace(once, 2.0);  // `once` is an output too: it must survive
      result = {once[0], once[1], once[2], twice[0], twice[1], twice[2], values[0]};
    }
    return result;
  };
  auto shared =
      vela::test::checkThreePaths(compute, {{{1.0, 2.0, 3.0}, {}}, {{-1.0, 0.5, 1e9}, {}}});
  // The first stage overwrites its private collect; the second must copy.
  EXPECT_EQ(vela::test::occurrences(shared.code, "memcpy("), 1u) << shared.code;

  auto chained = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    std::vector<S> values = in.doubles(0, 3);
    if constexpr (std::is_same_v<S, double>) {
      for (auto& v : values) v = v + 1.0 + 2.0;
      return values;
    } else {
      return addInPlace(addInPlace(values, 1.0), 2.0);  // each stage read only by the next
    }
  };
  auto reused = vela::test::checkThreePaths(chained, {{{1.0, 2.0, 3.0}, {}}});
  EXPECT_EQ(vela::test::occurrences(reused.code, "memcpy("), 0u) << reused.code;
}

TEST(CodeGeneration, RejectsMissingInputsAndBadNames) {
  TracedDouble y = TracedDouble::input("a") + TracedDouble::input("b");
  EXPECT_THROW(ct::generateCFunction("f", {"a"}, {y}), ct::UnboundInput);
  EXPECT_THROW(ct::generateCFunction("f", {"a", "a", "b"}, {y}), std::invalid_argument);
  EXPECT_THROW(ct::generateCFunction("2f", {"a", "b"}, {y}), std::invalid_argument);
  // Unused inputs and no outputs still make a function that compiles.
  vela::test::CompiledFunction empty(ct::generateCFunction("empty", {"a"}, {}), "empty");
  double in[] = {1.0};
  empty(in, nullptr);
}

TEST(CodeGeneration, IntAndBoolInputsConvertAsEvaluationDoes) {
  ct::TracedInt k = ct::TracedInt::input("k");
  ct::TracedBool flag = ct::TracedBool::input("flag");
  TracedDouble x = TracedDouble::input("x");
  std::vector<TracedDouble> outputs = {ct::ternary(flag, x, -x), TracedDouble(k) * 0.5};
  std::string code = ct::generateCFunction("typed", {"x", "k", "flag"}, outputs);
  EXPECT_NE(code.find("(in[2] != 0)"), std::string::npos) << code;
  vela::test::CompiledFunction f(code, "typed");
  // A plain cast is undefined for NaN and out-of-range values and gives
  // INT_MIN for 3e9 on x86, where evaluation saturates to INT_MAX.
  for (double kValue :
       {7.0, -7.9, 2.5, 3e9, -3e9, 2147483647.5, -2147483648.5, kNaN, kInf, -kInf, -0.0}) {
    for (double flagValue : {0.0, 1.0, -2.0, kNaN}) {
      double in[] = {1.25, kValue, flagValue}, out[2];
      f(in, out);
      ct::BindingSet bindings;
      bindings.bind("x", 1.25);
      bindings.bind("k", kValue);
      bindings.bind("flag", flagValue);
      EXPECT_EQ(out[0], outputs[0].evaluate(bindings)) << flagValue;
      EXPECT_EQ(out[1], outputs[1].evaluate(bindings)) << kValue;
    }
  }
}
