// The frame's scalar path (fold, record, evaluate, write one assignment) on
// a kernel declared here, with a double and a bool result; and the overload
// sets that code written with vela::math names sees.
#include <gtest/gtest.h>

#include "frame/KernelOp.hpp"
#include "frame/TracedCall.hpp"
#include "support/ThreePaths.hpp"
#include "support/TracedNodes.hpp"
#include "vela/math.hpp"

namespace {

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using V3 = vm::Vector3_T<vm::Numeric>;
using vela::math::frame::Args;
using vela::math::frame::Code;

// The sum of the squares of the first k of n values (inputs: k, the values,
// a limit), or for T = bool whether it lies below the limit.
template <class T>
struct SquareSum {
  unsigned n;
  auto fields() const { return std::tie(n); }
  std::string description() const { return "SquareSum"; }
  void compute(Args& args) const {
    double sum = 0.0;
    for (int i = 0; i < args.size(0) && i < static_cast<int>(n); ++i)
      sum += args.doubles(1)[i] * args.doubles(1)[i];
    if constexpr (std::is_same_v<T, bool>)
      args.boolOutput(1)[0] = sum < args.scalar(2);
    else
      args.output(1)[0] = sum;
  }
  void code(Code& code) const {
    std::string a = code.array(1), res = code.scalarResult();
    std::string test = std::is_same_v<T, bool> ? " < " + code.size(2) : "";
    code.line("{ int i; double s = 0.0; for (i = 0; i < " + code.size(0) + " && i < " +
              Code::decimal(n) + "; ++i) s += (" + a + ")[i] * (" + a + ")[i]; " + res + " = s" +
              test + "; }");
  }
};
template <class T>
class SquareSumOp final
    : public vela::math::frame::ScalarKernelOp<SquareSumOp<T>, SquareSum<T>, T> {
 public:
  using vela::math::frame::ScalarKernelOp<SquareSumOp<T>, SquareSum<T>, T>::ScalarKernelOp;
};

template <class T>
T squareSum(unsigned n, double const* v, int k, double limit) {
  double sum = 0.0;
  for (int i = 0; i < k && i < static_cast<int>(n); ++i) sum += v[i] * v[i];
  return std::is_same_v<T, bool> ? sum < limit : sum;
}
template <class T>
ct::TracedValue<T> squareSum(unsigned n, ct::TracedDouble const* v, ct::TracedInt const& k,
                             ct::TracedDouble const& limit) {
  vela::math::frame::TracedCall<SquareSumOp<T>> call(SquareSum<T>{n});
  call.size(k), call.array(v, n, n), call.scalar(limit);
  return call.runScalar();
}

}  // namespace

TEST(ScalarKernel, FoldsRecordsAndAgreesOnThreePaths) {
  ct::TracedDouble constants[] = {1.0, -2.0, 3.0};
  EXPECT_TRUE(squareSum<double>(3, constants, 2, 0.0).equalConstant(5.0));
  EXPECT_TRUE(squareSum<bool>(3, constants, 3, 14.5).equalConstant(true));
  EXPECT_TRUE(squareSum<bool>(3, constants, 7, 14.0).equalConstant(false));
  ct::TracedBool recorded = squareSum<bool>(3, constants, ct::TracedInt::input("k"), 0.0);
  auto const* node = vela::test::scalarNodeOf<SquareSumOp<bool>>(recorded);
  ASSERT_NE(node, nullptr);
  vela::test::expectClone(*node, "SquareSum");
  vela::test::expectOrdered(SquareSumOp<bool>(SquareSum<bool>{2}, {}), *node);

  auto compute = [](auto const& in) {
    auto v = in.doubles(0, 4);
    using S = typename std::decay_t<decltype(in)>::Scalar;
    S sum = squareSum<double>(4, v.data(), in.i(0), in.d(4));
    S flag = ct::ternary(squareSum<bool>(4, v.data(), in.i(0), in.d(4)), S(1.0), S(-1.0));
    return std::vector<S>{sum, flag, sum * flag};
  };
  std::vector<vela::test::Case> cases;
  for (int k : {-1, 1, 2, 7}) cases.push_back({{0.5, -0.0, 1e200, 4.0, 2.5}, {k}});
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_NE(result.code.find("spi["), std::string::npos) << result.code;  // the bool result
}

// The overloads brought together under vela::math keep their types.
static_assert(std::is_same_v<decltype(vm::min(1, 2)), int>);
static_assert(std::is_same_v<decltype(vm::max(1.0, 2.0)), double>);
static_assert(std::is_same_v<decltype(vm::pow(vm::TracedDouble(), 2.0)), vm::TracedDouble>);
static_assert(std::is_same_v<decltype(vm::ternary(true, V3(), V3())), V3>);
static_assert(std::is_same_v<decltype(vm::ternary(vm::TracedBool(), 1.0, vm::TracedDouble())),
                             vm::TracedDouble>);
