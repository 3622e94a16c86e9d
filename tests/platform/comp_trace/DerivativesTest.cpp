// Derivatives of the scalar operations: each rule against central
// differences, forward against reverse, second derivatives, and the four
// paths on the derivative graphs; the documented values where a function is
// not differentiable; what is refused.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <thread>

#include "ShiftOp.hpp"
#include "kelm_math/comp_trace/DerivativeRule.hpp"
#include "kelm_math/comp_trace/Derivatives.hpp"
#include "support/Derivatives.hpp"
#include "vela/math.hpp"

namespace {

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using ct::TracedDouble;
using vela::test::derivativeCase;
using vela::test::uniformPoints;

// Each function's rule on inputs x, y, z (doubles) and k (an int): the
// computations are written once for both modes.
std::vector<vela::test::DerivativeCase> scalarRuleCases() {
  auto p = [](double lo, double hi) { return uniformPoints(3, 4, lo, hi, 11, {2}); };
  auto row = [](char const* name, auto f, std::vector<vela::test::Case> points) {
    return derivativeCase(
        name,
        [f](auto const& in) {
          using S = std::decay_t<decltype(in.d(0))>;
          return std::vector<S>{f(in.d(0), in.d(1), in.d(2), in.i(0))};
        },
        std::move(points));
  };
  using vm::ternary;
  return {
      row(
          "arithmetic",
          [](auto x, auto y, auto z, auto) {
            // Signs pass through sums into products and functions.
            return -(x * y + vm::sin(z)) + x / z - (y - z) * (x * -1.0);
          },
          p(0.5, 2)),
      row(
          "sqrt exp log",
          [](auto x, auto y, auto, auto) { return vm::sqrt(x) * vm::exp(y) + vm::log(x * y); },
          p(0.2, 3)),
      row(
          "trigonometry",
          [](auto x, auto y, auto z, auto) { return vm::sin(x) * vm::cos(y) + vm::tan(z); },
          p(-1.2, 1.2)),
      row(
          "inverse trigonometry",
          [](auto x, auto y, auto z, auto) { return vm::asin(x) + vm::acos(y) * vm::atan(z); },
          p(-0.9, 0.9)),
      row(
          "atan2 hypot",
          [](auto x, auto y, auto z, auto) {
            return vm::atan2(x, y) * vm::hypot(y, z) + vm::guardedAtan2(z, x);
          },
          p(-3, 3)),
      row(
          "pow",
          [](auto x, auto y, auto z, auto) {
            return vm::pow(x, y) + vm::pow(z, 2.0) + vm::pow(3.0, z);
          },
          p(0.3, 2.5)),
      row(
          "guarded divide abs",
          [](auto x, auto y, auto z, auto) { return vm::guardedDivide(x, y) * vm::abs(z); },
          p(0.5, 4)),
      row(
          "min max ternary",
          [](auto x, auto y, auto z, auto) {
            return vm::min(x, y) * vm::max(y, z) + ternary(x < z, x * z, y);
          },
          p(-2, 2)),
      row(
          "zero rules",
          [](auto x, auto y, auto z, auto k) {
            using S = decltype(x);
            S read[] = {x, y, z};
            return vm::floor(x) * y + vm::sgn(z) + S(k) * z + S(x < y) +
                   vm::arrayAccess(read, 3, k) + S(vm::indexOfMin(read, 3));
          },
          p(0.1, 0.9)),
  };
}

// out = a + b over two elements, whose rules give element 0's derivative
// only: what a rule leaves unwritten reads as zero.
class FirstOnlyOp final : public ct::VectorOperation, public ct::Differentiable {
 public:
  FirstOnlyOp(ct::OperationPtr a, ct::OperationPtr b)
      : ct::VectorOperation(std::move(a), std::move(b)), ct::Differentiable(&kRules) {}
  ct::OperationPtr clone() const override { return std::make_shared<FirstOnlyOp>(*this); }
  std::string description() const override { return "FirstOnly"; }
  std::string generateCode(ct::GenerateCodeVisitor&) const override {
    throw std::logic_error("FirstOnly has no C");
  }
  void evaluate(ct::NodeValues& values) const override {
    auto* out = static_cast<double*>(values.output(ct::ScalarType::Double, 2));
    for (int i = 0; i < 2; ++i)
      out[i] = values.array(0).doubles()[i] + values.array(1).doubles()[i];
  }

 private:
  static constexpr Rules kRules{[](ct::Operation const&, ct::ForwardArgs& d) {
                                  d.outputTangent(0, 1)[0] = d.tangent(0)[0] + d.tangent(1)[0];
                                },
                                [](ct::Operation const&, ct::ReverseArgs& d) {
                                  ct::TracedArray w = d.cotangent(0, 1);
                                  d.add(0, w);
                                  d.add(1, w);
                                }};
};
}  // namespace

TEST(Derivatives, EveryScalarRule) {
  for (auto const& c : scalarRuleCases()) vela::test::checkDerivatives(c);
}

// Where a function is not differentiable the rule takes the documented value.
TEST(Derivatives, DocumentedValuesAtKinks) {
  TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y");
  double inf = HUGE_VAL;
  struct Row {
    TracedDouble f;
    double x, dx, dy;
  } rows[] = {
      {vm::sqrt(x), 0.0, inf, 0.0},                         // the right-hand limit
      {vm::abs(x), 0.0, 0.0, 0.0},                          // zero at the kink
      {vm::floor(x) * y, 2.0, 0.0, 2.0},                    // zero at the step too
      {vm::min(x, y), 1.0, 0.0, 1.0},                       // ties: the second operand's
      {vm::max(x, y), 1.0, 0.0, 1.0},                       //
      {vm::guardedDivide(y, x), 0.0, 0.0, 0.0},             // zero where the guard applies
      {vm::guardedAtan2(y - 1.0, x - 1.0), 1.0, 0.0, 0.0},  // zero at the origin, like
      {vm::atan2(y - 1.0, x - 1.0), 1.0, 0.0, 0.0},         // atan2 and hypot
      {vm::hypot(x - 1.0, y - 1.0), 1.0, 0.0, 0.0},
      {vm::pow(x, y), 0.0, 1.0, 0.0},  // base 0: d/dy taken as 0
      {vm::asin(x), 1.0, inf, 0.0},    // the limit from inside
  };
  ct::BindingSet b;
  b.bind("y", 1.0);
  for (auto const& r : rows) {
    b.bind("x", r.x);
    auto g = ct::gradient(r.f, {x, y});
    EXPECT_EQ(g[0].evaluate(b), r.dx) << r.f.operation()->description();
    EXPECT_EQ(g[1].evaluate(b), r.dy) << r.f.operation()->description();
    auto t = ct::jvp({r.f}, {x, y}, {1.0, 1.0});
    EXPECT_EQ(t[0].evaluate(b), r.dx + r.dy);
  }
}

TEST(Derivatives, ZerosFoldAndTheComputationIsShared) {
  TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y"), k = 3.0;
  TracedDouble f = vm::sin(x) * x;
  // Outputs that do not depend on an input: exact zeros, not nodes.
  auto j = ct::jacobian({f, k * k, vm::floor(x)}, {x, y});
  for (std::size_t i : {1, 2, 3, 4, 5}) EXPECT_TRUE(j[i].equalConstant(0.0)) << i;
  // An output given twice, forward and reverse.
  ct::BindingSet at;
  at.bind("x", 0.3);
  auto twice = ct::jacobian({f, f}, {x});
  EXPECT_EQ(twice.at(1).evaluate(at), j[0].evaluate(at));
  EXPECT_EQ(ct::vjp({f, f}, {x}, {1.0, 1.0}).at(0).evaluate(at), 2 * j[0].evaluate(at));
  // The derivative reads the computation's nodes, not copies of them.
  std::string code = ct::generateCFunction("f_and_df", {"x", "y"}, {f, j[0]});
  EXPECT_EQ(vela::test::occurrences(code, "sin("), 1u) << code;
  // Every input node of a name is the same variable; a tangent may be traced.
  ct::BindingSet b;
  b.bind("x", 0.7);
  b.bind("v", 2.0);
  EXPECT_EQ(ct::gradient(x * TracedDouble::input("x"), {x})[0].evaluate(b), 1.4);
  EXPECT_EQ(ct::jvp({x * x}, {x}, {TracedDouble::input("v")})[0].evaluate(b), 2.8);
  // A derivative of constants is a constant.
  EXPECT_TRUE(ct::gradient(vm::exp(TracedDouble(0.0)) * x, {x})[0].equalConstant(1.0));
}

// A sweep's sums and products share storage blocks: one derivative kept
// after the others are gone, then released on another thread.
TEST(Derivatives, ADerivativeOutlivesTheOthersOnAnyThread) {
  ct::BindingSet b;
  b.bind("x", 0.5);
  b.bind("y", 0.5);
  TracedDouble kept;
  {
    TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y"), f = x * y;
    constexpr int n = 2000;  // f = x y (x + y)^n, over many blocks
    for (int k = 0; k < n; ++k) f = f * x + y * f;
    std::vector<TracedDouble> g = ct::gradient(f, {x, y});
    kept = g[1];
    std::thread([g = std::move(g)]() mutable { g.clear(); }).join();
  }
  EXPECT_NEAR(kept.evaluate(b), 0.5 + 0.25 * 2000, 1e-9);
  std::thread([k = std::move(kept)]() mutable { k = TracedDouble(); }).join();
}

TEST(Derivatives, RefusesWhatItCannotDifferentiate) {
  TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y");
  auto message = [](auto const& call) {
    try {
      call();
    } catch (ct::DerivativeError const& e) {
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  EXPECT_EQ(message([&] { ct::gradient(x, {x * 2.0}); }),
            "comp_trace DerivativeError: inputs[0] is computed by Multiply, not an input value");
  EXPECT_EQ(message([&] {
              ct::gradient(x, {x, 1.0});
            }),
            "comp_trace DerivativeError: inputs[1] is a constant, not an input value");
  EXPECT_EQ(message([&] {
              ct::gradient(x, {x, y, x});
            }),
            "comp_trace DerivativeError: inputs[2] repeats the input x");
  EXPECT_EQ(message([&] {
              ct::jvp({x}, {x, y}, {1.0});
            }),
            "comp_trace DerivativeError: tangents has 1 values for 2 inputs");
  EXPECT_EQ(message([&] {
              ct::vjp({x, y}, {x}, {1.0});
            }),
            "comp_trace DerivativeError: cotangents has 1 values for 2 outputs");
  // A node class's own rules; what they leave unwritten is zero.
  TracedDouble a[] = {x, x * y}, b[] = {y * y, x}, sum[2];
  auto first = std::make_shared<FirstOnlyOp>(std::make_shared<ct::CollectOp>(2, a, ""),
                                             std::make_shared<ct::CollectOp>(2, b, ""));
  ct::TracedDouble::accessElements(first, 0, 2, sum);
  ct::BindingSet at;
  at.bind("x", 3.0);
  at.bind("y", 5.0);
  auto forward = ct::jvp({sum[0], sum[1]}, {x, y}, {1.0, 1.0});
  EXPECT_EQ(forward[0].evaluate(at), 11.0);
  EXPECT_TRUE(forward[1].equalConstant(0.0));
  auto reverse = ct::vjp({sum[0], sum[1]}, {x, y}, {1.0, 1.0});
  EXPECT_EQ(reverse[0].evaluate(at) + reverse[1].evaluate(at), 11.0);
  // A node class without rules is named, never passed over as zero.
  TracedDouble in[] = {x, y}, shifted;
  auto node = std::make_shared<shift_op::ShiftOp>(
      2, 1, std::vector<ct::OperationPtr>{std::make_shared<ct::CollectOp>(2, in, "")}, nullptr);
  ct::TracedDouble::accessElements(node, 0, 1, &shifted);
  EXPECT_EQ(message([&] { ct::gradient(shifted, {x}); }),
            "comp_trace DerivativeError: no derivative rule for shift_op::ShiftOp (Shift)");
}

// A tridiagonal system with a kernel (a 2 by 2 product) in its first rows:
// its pattern, one sweep per color (forward; with the sum of all rows
// appended, reverse), each entry the same expression as the sweep of its
// column (or row) alone, and the four paths.
TEST(Derivatives, SparseJacobianBySeedCompression) {
  constexpr std::size_t n = 7;
  for (bool withSum : {false, true}) {
    auto system = [withSum](auto const& in) {
      using S = std::decay_t<decltype(in.d(0))>;
      std::vector<S> x = in.doubles(0, n), f(n);
      S a[4] = {x[0], x[1] * x[1], x[1], vm::cos(x[0])}, ax[2];
      vm::matrixMultiply(2, 2, 1, a, x.data(), ax);
      for (std::size_t i = 0; i < n; ++i) {
        f[i] = vm::sin(x[i]) * 3.0 + vm::floor(x[(i + 3) % n]);
        if (i > 0) f[i] = f[i] - x[i - 1] * x[i];
        if (i + 1 < n) f[i] = f[i] + vm::exp(x[i + 1]);
      }
      f[0] = f[0] + ax[0];
      f[1] = f[1] * ax[1];
      if (withSum) f.push_back(std::accumulate(f.begin() + 1, f.end(), f[0]));
      return f;
    };
    vela::test::Inputs<vm::Traced> in(n, 0);
    std::vector<TracedDouble> x = in.doubles(0, n), f = system(in);
    ct::SparsityPattern known;
    for (std::size_t i = 0; i < f.size(); ++i) {
      for (std::size_t j = 0; j < n; ++j)
        if (i == n || (j + 1 >= i && j <= i + 1)) known.indices.push_back(j);
      known.offsets.push_back(known.indices.size());
    }
    ct::SparsityPattern pattern = ct::jacobianSparsity(f, x);
    EXPECT_EQ(pattern.offsets, known.offsets);
    EXPECT_EQ(pattern.indices, known.indices);
    ct::SparseJacobian sparse = ct::sparseJacobian(f, x);
    EXPECT_EQ(sparse.pattern.indices, known.indices);
    EXPECT_EQ(sparse.sweeps, withSum ? 4u : 3u);
    EXPECT_EQ(sparse.forward, !withSum);
    std::vector<TracedDouble> J = ct::jacobian(f, x), unit(withSum ? n + 1 : n);
    for (std::size_t t = 0; t < unit.size(); ++t) {
      unit[t] = 1.0;
      auto alone = withSum ? ct::vjp(f, x, unit) : ct::jvp(f, x, unit);
      unit[t] = 0.0;
      for (std::size_t s = 0; s < alone.size(); ++s) {
        std::size_t i = withSum ? t : s, j = withSum ? s : t;
        EXPECT_TRUE(J[i * n + j].isOperationallyEqual(alone[s])) << i << ", " << j;
      }
    }
    vela::test::checkDerivatives(
        derivativeCase("tridiagonal", system, uniformPoints(n, 2, 0.1, 0.9, 5)));
  }
}
