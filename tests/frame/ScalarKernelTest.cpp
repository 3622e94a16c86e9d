// The frame's scalar path (fold, record, evaluate, write one assignment) on
// two small kernels declared here: a double sum of squares and a bool test.

#include <gtest/gtest.h>

#include "frame/KernelOp.hpp"
#include "frame/TracedCall.hpp"
#include "support/ThreePaths.hpp"

namespace ct = kelm_math::comp_trace;
using vela::math::frame::Args;
using vela::math::frame::Code;

namespace {

struct SquareSum {
  unsigned n;
  auto fields() const { return std::tie(n); }
  std::string description() const { return "SquareSum"; }
  void compute(Args& args) const {
    double sum = 0.0;
    for (unsigned i = 0; i < n; ++i) sum += args.doubles(0)[i] * args.doubles(0)[i];
    args.output(1)[0] = sum;
  }
  void code(Code& code) const {
    std::string a = code.array(0), res = code.scalarResult(), n = Code::decimal(this->n);
    code.line("{ int k; " + res + " = 0.0; for (k = 0; k < " + n + "; ++k) " + res + " += (" + a +
              ")[k] * (" + a + ")[k]; }");
  }
};
class SquareSumOp final : public vela::math::frame::ScalarKernelOp<SquareSumOp, SquareSum> {
 public:
  using ScalarKernelOp::ScalarKernelOp;
};

struct Below {
  unsigned n;
  auto fields() const { return std::tie(n); }
  std::string description() const { return "Below"; }
  void compute(Args& args) const {
    bool below = args.size(0) >= 0 && args.size(0) < static_cast<int>(n) &&
                 args.doubles(1)[args.size(0)] < args.scalar(2);
    args.intOutput(1)[0] = below ? 1 : 0;
  }
  void code(Code& code) const {
    std::string index = code.size(0), limit = code.size(2), values = code.array(1);
    code.line(code.scalarResult() + " = " + index + " >= 0 && " + index + " < " + Code::decimal(n) +
              " && vela_rt_access_d(" + Code::decimal(n) + ", " + values + ", " + index + ") < " +
              limit + ";");
  }
};
class BelowOp final : public vela::math::frame::ScalarKernelOp<BelowOp, Below, bool> {
 public:
  using ScalarKernelOp::ScalarKernelOp;
};

ct::TracedDouble squareSum(unsigned n, ct::TracedDouble const* v) {
  vela::math::frame::TracedCall<SquareSumOp> call(SquareSum{n});
  call.array(v, n, n);
  return call.runScalar();
}
double squareSum(unsigned n, double const* v) {
  vela::math::frame::ConstantValues constants;
  std::vector<double> values(v, v + n);
  constants.setArray(0, values);
  Args args(constants);
  SquareSum{n}.compute(args);
  return constants.takeResults()[0].doubleValues()[0];
}

ct::TracedBool below(unsigned n, ct::TracedDouble const* v, ct::TracedInt const& index,
                     ct::TracedDouble const& limit) {
  vela::math::frame::TracedCall<BelowOp> call(Below{n});
  call.size(index);
  call.array(v, n, n);
  call.scalar(limit);
  return call.runScalar();
}
bool below(unsigned n, double const* v, int index, double limit) {
  return index >= 0 && index < static_cast<int>(n) && v[index] < limit;
}

}  // namespace

TEST(ScalarKernel, FoldsRecordsAndAgreesOnThreePaths) {
  ct::TracedDouble constants[] = {1.0, -2.0, 3.0};
  double folded = 0.0;
  ASSERT_TRUE(squareSum(3, constants).getConstant(folded));
  EXPECT_EQ(folded, 14.0);
  bool isBelow = false;
  ASSERT_TRUE(below(3, constants, ct::TracedInt(1), ct::TracedDouble(0.0)).getConstant(isBelow));
  EXPECT_TRUE(isBelow);
  ct::TracedBool recorded = below(3, constants, ct::TracedInt::input("k"), 0.0);
  ASSERT_FALSE(recorded.isConstant());
  EXPECT_EQ(recorded.operation()->description(), "Below");
  EXPECT_EQ(recorded.operation()->clone()->compare_(*recorded.operation()), 0);

  auto compute = [](auto const& in) {
    auto v = in.doubles(0, 4);
    using S = typename std::decay_t<decltype(in)>::Scalar;
    S sum = squareSum(4, v.data());
    S flag = ct::ternary(below(4, v.data(), in.i(0), in.d(4)), S(1.0), S(-1.0));
    return std::vector<S>{sum, flag, sum * flag};
  };
  std::vector<vela::test::Case> cases = {{{1.0, 2.0, 3.0, 4.0, 2.5}, {1}},
                                         {{1.0, 2.0, 3.0, 4.0, 2.5}, {2}},
                                         {{0.5, -0.0, 1e200, 4.0, 1.0}, {7}},
                                         {{0.5, -0.0, 1e200, 4.0, 1.0}, {-1}}};
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_NE(result.code.find("spi["), std::string::npos) << result.code;  // the bool result
}
