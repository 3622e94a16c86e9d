#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "kelm_math/comp_trace.hpp"
#include "support/CCompiler.hpp"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"

namespace ct = kelm_math::comp_trace;
using ct::TracedDouble;
using vela::test::Case;

namespace {

using vela::test::kNaN;
double const kSignalingNaN = std::numeric_limits<double>::signaling_NaN();
using vela::test::kInf;
// Operands for which the C library's pow(x, 2) resp. pow(x, -1) is one unit
// in the last place away from x * x resp. 1 / x, which compilers substitute.
double const kSquareOffByOne = 0x1.4c7035e612d52p+3;
double const kInverseOffByOne = 0x1.b6d5bd953e068p+3;

// Every library function over x = d0 and y = d1, written once for both
// modes. The constant operands and negations are those for which C
// compilers rewrite the calls (x * x, 1 / x, fabs, -sin(x), sincos).
template <class Mode>
std::vector<vela::math::Scalar<Mode>> libraryMix(vela::test::Inputs<Mode> const& in) {
  using S = vela::math::Scalar<Mode>;
  S x = in.d(0), y = in.d(1);
  return {ct::sin(x),         ct::cos(x),          ct::tan(x),          ct::asin(x),
          ct::acos(x),        ct::atan(x),         ct::exp(x),          ct::log(x),
          ct::atan2(x, y),    ct::pow(x, y),       ct::hypot(x, y),     ct::sin(-x),
          ct::cos(-x),        ct::hypot(-x, y),    ct::pow(x, 2.0),     ct::pow(x, -1.0),
          ct::pow(x, 0.0),    ct::pow(1.0, y),     ct::pow(x, 1.0),     ct::pow(-x, 2.0),
          ct::pow(x, 0.5),    ct::pow(2.0, y),     ct::hypot(x, 0.0),   ct::atan2(-0.0, x),
          ct::atan2(x, -0.0), ct::exp(ct::log(x)), ct::asin(ct::sin(y))};
}

std::vector<Case> libraryCases() {
  std::vector<std::vector<double>> pairs = {
      // Signed zeros, infinities and NaNs.
      {0.0, -0.0},
      {-0.0, -0.0},
      {-0.0, 0.0},
      {kInf, kNaN},
      {-kInf, kInf},
      {kNaN, 0.0},
      {1.0, kNaN},
      {kSignalingNaN, 0.0},
      {1.0, kSignalingNaN},
      {-2.0, -kInf},
      // Domain errors and poles.
      {2.0, 2.0},
      {-1.0, 0.5},
      {-8.0, 1.0 / 3.0},
      {-8.0, 3.0},
      {4.9406564584124654e-324, -1.0},
      // Overflow, underflow, huge arguments of sin and cos.
      {710.0, -746.0},
      {-746.0, 1e-300},
      {1e300, 1e300},
      {1e-310, 1e-310},
      {1e22, 1e308},
      // Exponents 2, -1, 0 and 1 as inputs, where the C library's pow is off.
      {kSquareOffByOne, 2.0},
      {-kSquareOffByOne, 2.0},
      {kInverseOffByOne, -1.0},
      {0.5, -0.0},
      {0.75, 1.0}};
  for (unsigned seed = 1; seed <= 12; ++seed) pairs.push_back(vela::test::randomDoubles(2, seed));
  // Ordinary arguments inside [-1, 1] for asin and acos.
  for (unsigned seed = 21; seed <= 26; ++seed) {
    auto d = vela::test::randomDoubles(2, seed);
    pairs.push_back({d[0] / 256.0, d[1]});
  }
  std::vector<Case> cases;
  for (auto const& p : pairs) cases.push_back({p, {}});
  return cases;
}

std::uint64_t bitsOf(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

}  // namespace

TEST(MathFunctions, AgreeOnThreePathsOverOrdinaryEdgeAndDomainErrorInputs) {
  auto result =
      vela::test::checkThreePaths([](auto const& in) { return libraryMix(in); }, libraryCases());
  // Generated C calls the C library by name.
  for (char const* name :
       {"sin", "cos", "tan", "asin", "acos", "atan", "atan2", "exp", "log", "hypot"})
    EXPECT_NE(result.code.find(std::string("= ") + name + "("), std::string::npos) << name;
  EXPECT_NE(result.code.find("pow("), std::string::npos);
}

TEST(MathFunctions, DomainErrorsGiveIdenticalNaNBitsWhereNothingFolds) {
  // Numeric and evaluation call one function; generated C calls the same
  // library routine at run time. Only folded constants lose the NaN's sign.
  TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y");
  std::vector<TracedDouble> outputs = {ct::asin(x),    ct::acos(x),      ct::log(-x),
                                       ct::pow(-x, y), ct::sin(x / 0.0), ct::tan(x / 0.0)};
  double in[] = {2.0, 1.0 / 3.0};
  std::vector<double> numeric = {ct::asin(in[0]),      ct::acos(in[0]),
                                 ct::log(-in[0]),      ct::pow(-in[0], in[1]),
                                 ct::sin(in[0] / 0.0), ct::tan(in[0] / 0.0)};
  std::string code = ct::generateCFunction("domain", {"x", "y"}, outputs);
  vela::test::CompiledFunction compiled(code, "domain");
  std::vector<double> generated(outputs.size());
  compiled(in, generated.data());
  ct::BindingSet bindings;
  bindings.bind("x", in[0]);
  bindings.bind("y", in[1]);
  for (std::size_t j = 0; j < outputs.size(); ++j) {
    EXPECT_TRUE(std::isnan(numeric[j])) << j;
    EXPECT_EQ(bitsOf(outputs[j].evaluate(bindings)), bitsOf(numeric[j])) << j;
    EXPECT_EQ(bitsOf(generated[j]), bitsOf(numeric[j])) << j << "\n" << code;
  }
}

TEST(MathFunctions, ConstantsFoldAtRunTimeAndOtherwiseOneNodeIsRecorded) {
  using Numeric1 = double (*)(double);
  using Traced1 = TracedDouble (*)(TracedDouble const&);
  struct Unary {
    char const* description;
    Numeric1 numeric;
    Traced1 traced;
  };
  Unary const unary[] = {{"Sin", ct::sin, ct::sin},    {"Cos", ct::cos, ct::cos},
                         {"Tan", ct::tan, ct::tan},    {"Asin", ct::asin, ct::asin},
                         {"Acos", ct::acos, ct::acos}, {"Atan", ct::atan, ct::atan},
                         {"Exp", ct::exp, ct::exp},    {"Log", ct::log, ct::log}};
  TracedDouble x = TracedDouble::input("x");
  for (auto const& f : unary) {
    for (double c : {0.5, -0.0, 3.0, -kInf}) {
      double folded = 0.0;
      ASSERT_TRUE(f.traced(TracedDouble(c)).getConstant(folded)) << f.description;
      EXPECT_TRUE(vela::test::sameBits(folded, f.numeric(c))) << f.description << " " << c;
    }
    TracedDouble recorded = f.traced(x);
    EXPECT_FALSE(recorded.isConstant());
    EXPECT_EQ(recorded.operation()->description(), f.description);
  }

  // Binary functions fold only when both operands are constants; a constant
  // operand of a recorded node stays a constant input of it.
  double folded = 0.0;
  ASSERT_TRUE(ct::pow(TracedDouble(kSquareOffByOne), 2.0).getConstant(folded));
  EXPECT_EQ(bitsOf(folded), bitsOf(kSquareOffByOne * kSquareOffByOne));
  EXPECT_EQ(bitsOf(ct::pow(kInverseOffByOne, -1.0)), bitsOf(1.0 / kInverseOffByOne));
  ASSERT_TRUE(ct::atan2(TracedDouble(-0.0), TracedDouble(-1.0)).getConstant(folded));
  EXPECT_EQ(bitsOf(folded), bitsOf(ct::atan2(-0.0, -1.0)));
  EXPECT_LT(folded, -3.14);
  ASSERT_TRUE(ct::hypot(TracedDouble(kInf), TracedDouble(kNaN)).getConstant(folded));
  EXPECT_EQ(folded, kInf);
  for (TracedDouble const& r : {ct::pow(x, 2.0), ct::atan2(1.0, x), ct::hypot(x, x)}) {
    EXPECT_FALSE(r.isConstant());
    EXPECT_EQ(r.operation()->inputCount(), 2u);
  }
  EXPECT_EQ(ct::pow(x, 2.0).operation()->description(), "Pow");
  EXPECT_TRUE(ct::pow(x, 2.0).isOperationallyEqual(ct::pow(x, 2.0)));
  EXPECT_FALSE(ct::pow(x, 2.0).isOperationallyEqual(ct::pow(2.0, x)));
  EXPECT_FALSE(ct::sin(x).isOperationallyEqual(ct::cos(x)));
}
