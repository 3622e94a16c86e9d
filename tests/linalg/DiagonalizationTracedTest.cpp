#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "kelm_math/comp_trace/CollectOp.hpp"
#include "linalg/Jacobi3Op.hpp"
#include "support/ThreePaths.hpp"
#include "vela/math.hpp"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using ct::TracedDouble;
using math3d::Quaternion_T;
using math3d::Vector3_T;

namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();

// max |R diag(p) R^T - A| / max |p| with R the rotation of q, and how far
// R is from orthonormal.
void expectDiagonalizes(Vector3_T<vm::Numeric> const& d, Vector3_T<vm::Numeric> const& o,
                        Vector3_T<vm::Numeric> const& p, Quaternion_T<vm::Numeric> const& q,
                        std::string const& label) {
  math3d::Matrix3x3_T<vm::Numeric> R(q), A(d, o);
  double scale = std::max({std::fabs(p.coord(0)), std::fabs(p.coord(1)), std::fabs(p.coord(2))});
  double worst = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double sum = 0.0;
      for (int k = 0; k < 3; ++k) sum += R.element(i, k) * p.coord(k) * R.element(j, k);
      worst = std::max(worst, std::fabs(sum - A.element(i, j)));
    }
  EXPECT_LE(worst, 16 * kEps * scale) << label;
  EXPECT_NEAR(R.determinant(), 1.0, 16 * kEps) << label;
}

Vector3_T<vm::Traced> tracedVector(char const* prefix) {
  std::string p(prefix);
  return {TracedDouble::input(p + "0"), TracedDouble::input(p + "1"), TracedDouble::input(p + "2")};
}

// The node that a traced value reads through its element access, if any.
vm::Jacobi3Op const* jacobiNodeUnder(TracedDouble const& v) {
  std::vector<ct::Operation const*> stack{v.operation().get()};
  while (!stack.empty()) {
    ct::Operation const* op = stack.back();
    stack.pop_back();
    if (auto const* node = dynamic_cast<vm::Jacobi3Op const*>(op)) return node;
    for (std::size_t i = 0; i < op->inputCount(); ++i) stack.push_back(op->input(i).get());
  }
  return nullptr;
}

std::vector<vela::test::Case> tensorCases() {
  std::vector<std::vector<double>> tensors = {{2.0, 2.0, 5.0, 0.0, 0.0, 0.0},  // diagonal, repeated
                                              {3.0, 1.0, 2.0, 0.0, 0.0, 1e-20},  // nearly diagonal
                                              {1.0, 1.0, 1.0, 1.0, 1.0, 1.0},    // rank one
                                              {1e300, 2e300, -1e300, 5e299, 0.0, 1e299},
                                              {-0.0, 0.0, -0.0, 1e-300, -2e-300, 0.0}};
  for (unsigned seed = 1; seed <= 12; ++seed) tensors.push_back(vela::test::randomDoubles(6, seed));
  std::vector<vela::test::Case> cases;
  for (auto const& t : tensors) cases.push_back({t, {}});
  return cases;
}

}  // namespace

TEST(Diagonalization, NumericGivesARotationThatDiagonalizes) {
  for (vela::test::Case const& c : tensorCases()) {
    Vector3_T<vm::Numeric> d(c.doubles.data()), o(c.doubles.data() + 3), p;
    // The previous q is overwritten, whatever it held.
    Quaternion_T<vm::Numeric> q(0.0, 0.0, 0.0, 0.0), q2(0.5, 0.5, 0.5, 0.5);
    vm::compDiagonalization(d, o, p, q);
    expectDiagonalizes(d, o, p, q, d.stringify() + " " + o.stringify());
    Vector3_T<vm::Numeric> p2;
    vm::compDiagonalization(d, o, p2, q2);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(q.values()[k], q2.values()[k]);
  }
}

TEST(Diagonalization, TracedShortcuts) {
  Vector3_T<vm::Traced> d = tracedVector("d");
  Quaternion_T<vm::Traced> q(TracedDouble::input("q0"), 0.0, 0.0, 0.0);
  Vector3_T<vm::Traced> p;

  // Constant zero coupling: d as given (its very nodes), constant identity.
  vm::compDiagonalization(d, Vector3_T<vm::Traced>(0.0, -0.0, 0.0), p, q);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(p.coord(k).operation(), d.coord(k).operation());
  double identity[4] = {1.0, 0.0, 0.0, 0.0};
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(q.values()[k].equalConstant(identity[k])) << k;

  // Constant diagonal in an unsorted order keeps that order.
  vm::compDiagonalization(Vector3_T<vm::Traced>(3.0, 1.0, 2.0), Vector3_T<vm::Traced>(), p, q);
  double expected[3] = {3.0, 1.0, 2.0};
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(p.coord(k).equalConstant(expected[k]));
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(q.values()[k].equalConstant(identity[k]));
  // Numeric on the same matrix: eigenvalues {1, 2, 3} in minRotation's order.
  Vector3_T<vm::Numeric> pn, dn(3.0, 1.0, 2.0), on;
  Quaternion_T<vm::Numeric> qn;
  vm::compDiagonalization(dn, on, pn, qn);
  expectDiagonalizes(dn, on, pn, qn, "diagonal (3, 1, 2)");

  // Constant nonzero coupling: the Numeric result as constants.
  Vector3_T<vm::Numeric> dc(1.0, 2.0, 3.0), oc(0.5, -0.25, 0.125);
  vm::compDiagonalization(dc, oc, pn, qn);
  vm::compDiagonalization(math3d::traceable(dc), math3d::traceable(oc), p, q);
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(p.coord(k).equalConstant(pn.coord(k)));
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(q.values()[k].equalConstant(qn.values()[k]));

  // Traced coupling (constant diagonal): one Jacobi3 node over two 3-value collects.
  Vector3_T<vm::Traced> o = tracedVector("o");
  vm::compDiagonalization(math3d::traceable(dc), o, p, q);
  vm::Jacobi3Op const* node = jacobiNodeUnder(p.coord(0));
  ASSERT_NE(node, nullptr);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(jacobiNodeUnder(p.coord(k)), node);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(jacobiNodeUnder(q.values()[k]), node);
  EXPECT_EQ(node->description(), "Jacobi3");
  ASSERT_EQ(node->inputCount(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    auto const& collect = dynamic_cast<ct::CollectOp const&>(*node->input(i));
    EXPECT_EQ(collect.size(), 3u);
    EXPECT_EQ(collect.name(), "");
  }
  // No fields: any two Jacobi3 nodes compare equal; clone shares the inputs.
  vm::Jacobi3Op other(node->input(1), node->input(0));
  EXPECT_EQ(node->compare_(other), 0);
  ct::OperationPtr copy = node->clone();
  EXPECT_EQ(typeid(*copy), typeid(vm::Jacobi3Op));
  EXPECT_EQ(copy->input(0), node->input(0));
  EXPECT_EQ(copy->input(1), node->input(1));
}

TEST(Diagonalization, Jacobi3AndDiagonalizationOnThreePaths) {
  auto cases = tensorCases();
  auto jacobi = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    auto d = in.doubles(0, 3), o = in.doubles(3, 3);
    S w[3], V[9];
    if constexpr (std::is_same_v<S, double>)
      kelm_math_lin_alg_jacobi3(d.data(), o.data(), w, V);
    else
      vm::jacobi3(d.data(), o.data(), w, V);
    std::vector<S> out(w, w + 3);
    out.insert(out.end(), V, V + 9);
    return out;
  };
  auto result = vela::test::checkThreePaths(jacobi, cases);
  EXPECT_NE(result.code.find("kelm_math_lin_alg_jacobi3("), std::string::npos) << result.code;

  auto diagonalize = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using Mode = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
    auto v = in.doubles(0, 6);
    Vector3_T<Mode> d(v.data()), o(v.data() + 3), p;
    Quaternion_T<Mode> q;
    vm::compDiagonalization(d, o, p, q);
    std::vector<S> out(p.values(), p.values() + 3);
    out.insert(out.end(), q.values(), q.values() + 4);
    return out;
  };
  result = vela::test::checkThreePaths(diagonalize, cases);
  // One Jacobi call; the rotation choice is plain traced arithmetic.
  std::size_t first = result.code.find("kelm_math_lin_alg_jacobi3(");
  ASSERT_NE(first, std::string::npos) << result.code;
  EXPECT_EQ(result.code.find("kelm_math_lin_alg_jacobi3(", first + 1), std::string::npos);
}
