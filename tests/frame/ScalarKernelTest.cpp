// The frame's scalar path (fold, record, evaluate, write one assignment) on
// two small kernels declared here: a double sum of squares and a bool test.
#include <gtest/gtest.h>

#include "frame/KernelOp.hpp"
#include "frame/TracedCall.hpp"
#include "support/ThreePaths.hpp"
#include "support/TracedNodes.hpp"

namespace {

namespace ct = kelm_math::comp_trace;
using vela::math::frame::Args;
using vela::math::frame::Code;

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

// values[index] < limit, for an index inside [0, n).
struct Below {
  unsigned n;
  auto fields() const { return std::tie(n); }
  std::string description() const { return "Below"; }
  void compute(Args& args) const {
    int i = args.size(0);
    args.intOutput(1)[0] = i >= 0 && i < static_cast<int>(n) && args.doubles(1)[i] < args.scalar(2);
  }
  void code(Code& code) const {
    std::string index = code.size(0), n = Code::decimal(this->n);
    code.line(code.scalarResult() + " = " + index + " >= 0 && " + index + " < " + n +
              " && vela_rt_access_d(" + n + ", " + code.array(1) + ", " + index + ") < " +
              code.size(2) + ";");
  }
};
class BelowOp final : public vela::math::frame::ScalarKernelOp<BelowOp, Below, bool> {
 public:
  using ScalarKernelOp::ScalarKernelOp;
};

double squareSum(unsigned n, double const* v) {
  double sum = 0.0;
  for (unsigned i = 0; i < n; ++i) sum += v[i] * v[i];
  return sum;
}
ct::TracedDouble squareSum(unsigned n, ct::TracedDouble const* v) {
  vela::math::frame::TracedCall<SquareSumOp> call(SquareSum{n});
  call.array(v, n, n);
  return call.runScalar();
}

bool below(unsigned n, double const* v, int index, double limit) {
  return index >= 0 && index < static_cast<int>(n) && v[index] < limit;
}
ct::TracedBool below(unsigned n, ct::TracedDouble const* v, ct::TracedInt const& index,
                     ct::TracedDouble const& limit) {
  vela::math::frame::TracedCall<BelowOp> call(Below{n});
  call.size(index);
  call.array(v, n, n);
  call.scalar(limit);
  return call.runScalar();
}

}  // namespace

TEST(ScalarKernel, FoldsRecordsAndAgreesOnThreePaths) {
  ct::TracedDouble constants[] = {1.0, -2.0, 3.0};
  EXPECT_TRUE(squareSum(3, constants).equalConstant(14.0));
  EXPECT_TRUE(below(3, constants, 1, 0.0).equalConstant(true));
  EXPECT_TRUE(below(3, constants, 2, 3.0).equalConstant(false));
  ct::TracedBool recorded = below(3, constants, ct::TracedInt::input("k"), 0.0);
  auto const* node = vela::test::scalarNodeOf<BelowOp>(recorded);
  ASSERT_NE(node, nullptr);
  vela::test::expectClone(*node, "Below");
  vela::test::expectOrdered(BelowOp(Below{2}, {}), *node);

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
