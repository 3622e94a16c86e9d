#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <type_traits>

#include "kelm_math/comp_trace/CollectOp.hpp"
#include "linalg/Jacobi3Op.hpp"
#include "support/ThreePaths.hpp"
#include "vela/math.hpp"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using Mat = math3d::Matrix3x3_T<vm::Numeric>;
using Vec = math3d::Vector3_T<vm::Numeric>;
using Quat = math3d::Quaternion_T<vm::Numeric>;
using TVec = math3d::Vector3_T<vm::Traced>;

namespace {

constexpr double kTol = 8 * std::numeric_limits<double>::epsilon();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double maxAbs(Mat const& m) {
  double r = 0.0;
  for (int k = 0; k < 9; ++k) r = std::fmax(r, std::fabs(m.values()[k]));
  return r;
}

// |R diag(w) R^T - A| and |R^T R - I| within a few ulps of max |w|, det R = 1.
void expectDecomposes(Vec const& d, Vec const& o, Vec const& w, Mat const& R, std::string what) {
  double scale = std::fmax(std::fabs(w.x()), std::fmax(std::fabs(w.y()), std::fabs(w.z())));
  EXPECT_LE(maxAbs(R.compose(Mat(w, Vec())).composeTranspose(R) - Mat(d, o)), kTol * scale) << what;
  EXPECT_LE(maxAbs(R.transpose().compose(R) - Mat::identity()), kTol) << what;
  EXPECT_NEAR(R.determinant(), 1.0, kTol) << what;
}

// Tensors: random ones, then spectra with repeated, close, tiny and huge
// eigenvalues under a rotation, and (nearly) diagonal ones.
std::vector<vela::test::Case> tensors() {
  std::vector<vela::test::Case> cases;
  for (unsigned seed = 1; seed <= 40; ++seed)
    cases.push_back({vela::test::randomDoubles(6, seed), {}});
  Mat R(Quat(0.5, 0.5, -0.1, std::sqrt(0.49)));
  for (Vec l : {Vec(2, 2, 5), Vec(3, 3, 3), Vec(1, 1 + 1e-9, 1 + 2e-9), Vec(-4, 0, 4),
                Vec(1e-12, 1, 1), Vec(1e300, -2e300, 3e300), Vec(1e-300, -2e-300, 3e-300)}) {
    Mat A = R.compose(Mat(l, Vec())).composeTranspose(R);
    cases.push_back(
        {{A.values()[0], A.values()[4], A.values()[8], A.values()[7], A.values()[2], A.values()[3]},
         {}});
  }
  cases.push_back({{3, 1, 2, 0, 0, 0}, {}});
  cases.push_back({{1, 2, 3, 1e-12, -1e-13, 1e-300}, {}});
  cases.push_back({{0, 1e10, 0, 0, 0, 1e-290}, {}});
  return cases;
}

}  // namespace

TEST(Diagonalization, JacobiAndNumericDiagonalizationDecompose) {
  for (auto const& c : tensors()) {
    Vec d(c.doubles.data()), o(c.doubles.data() + 3), w, p;
    double V[9];
    kelm_math_lin_alg_jacobi3(d.values(), o.values(), w.values(), V);
    std::string what = d.stringify() + o.stringify();
    expectDecomposes(d, o, w, Mat(V, false), "jacobi3 " + what);
    Quat q(0, 0, 0, 0);  // overwritten, never read
    vm::compDiagonalization(d, o, p, q);
    expectDecomposes(d, o, p, Mat(q), "compDiagonalization " + what);
  }
  // Diagonal input: no rotation at all; non-finite input ends and shows.
  double d[3] = {3, -1, 2}, zero[3] = {0, -0.0, 0}, w[3], V[9];
  kelm_math_lin_alg_jacobi3(d, zero, w, V);
  EXPECT_TRUE(Vec(w) == Vec(d) && Mat(V, false) == Mat::identity());
  for (Vec o : {Vec(0.1, kNaN, 0.2), Vec(INFINITY, 1, -INFINITY)}) {
    kelm_math_lin_alg_jacobi3(d, o.values(), w, V);
    EXPECT_FALSE(std::isfinite(w[0]) && std::isfinite(w[1]) && std::isfinite(w[2]));
  }
}

TEST(Diagonalization, TracedShortcutsAndNode) {
  TVec d(ct::TracedDouble::input("d0"), 1.0, ct::TracedDouble::input("d2")), p;
  math3d::Quaternion_T<vm::Traced> q(ct::TracedDouble::input("q"), 0.0, 0.0, 0.0);
  double identity[4] = {1, 0, 0, 0};
  // Constant zero coupling: d itself, in its order, and the constant identity.
  for (TVec dd : {d, TVec(3.0, 1.0, 2.0)}) {
    vm::compDiagonalization(dd, TVec(0.0, -0.0, 0.0), p, q);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(p.coord(k).isOperationallyEqual(dd.coord(k)));
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(q.values()[k].equalConstant(identity[k]));
  }
  // All constant: the Numeric results as constants.
  Vec dc(1, 2, 3), oc(0.5, -0.25, 0.125), pn;
  Quat qn;
  vm::compDiagonalization(dc, oc, pn, qn);
  vm::compDiagonalization(math3d::traceable(dc), math3d::traceable(oc), p, q);
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(p.coord(k).equalConstant(pn.coord(k)));
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(q.values()[k].equalConstant(qn.values()[k]));
  // A traced coupling: one Jacobi3 node over two 3-value collects.
  TVec o(ct::TracedDouble::input("o0"), 0.0, 0.0);
  ct::TracedDouble w[3], V[9];
  vm::jacobi3(math3d::traceable(dc).values(), o.values(), w, V);
  auto node = w[0].operation()->input(0);
  ASSERT_EQ(typeid(*node), typeid(vm::Jacobi3Op));
  EXPECT_EQ(V[8].operation()->input(0), node);
  EXPECT_EQ(node->description(), "Jacobi3");
  for (std::size_t i = 0; i < 2; ++i)
    EXPECT_EQ(dynamic_cast<ct::CollectOp const&>(*node->input(i)).size(), 3u);
  EXPECT_EQ(node->compare_(vm::Jacobi3Op(node->input(1), node->input(0))), 0);
  EXPECT_EQ(node->clone()->input(1), node->input(1));
}

TEST(Diagonalization, ThreePaths) {
  auto jacobi = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    auto d = in.doubles(0, 3), o = in.doubles(3, 3);
    std::vector<S> out(12);
    if constexpr (std::is_same_v<S, double>)
      kelm_math_lin_alg_jacobi3(d.data(), o.data(), out.data(), out.data() + 3);
    else
      vm::jacobi3(d.data(), o.data(), out.data(), out.data() + 3);
    return out;
  };
  auto diagonalize = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using M = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
    auto v = in.doubles(0, 6);
    math3d::Vector3_T<M> p;
    math3d::Quaternion_T<M> q;
    vm::compDiagonalization(math3d::Vector3_T<M>(v.data()), math3d::Vector3_T<M>(v.data() + 3), p,
                            q);
    std::vector<S> out(p.values(), p.values() + 3);
    out.insert(out.end(), q.values(), q.values() + 4);
    return out;
  };
  // Non-finite terms end the sweeps early; every output is still written.
  std::vector<vela::test::Case> cases = tensors();
  double const nan = std::nan(""), inf = HUGE_VAL;
  cases.push_back({{1, 2, 3, nan, 0.5, 0.25}, {}});
  cases.push_back({{nan, 2, 3, 0, 0, 0}, {}});
  cases.push_back({{1, 2, 3, 0.5, -inf, 0.25}, {}});
  cases.push_back({{inf, 2, 3, 0.5, 1, 0.25}, {}});
  std::string line = "kelm_math_lin_alg_jacobi3(&spd[0], &spd[3], &spd[6], &spd[9]);";
  EXPECT_NE(vela::test::checkThreePaths(jacobi, cases).code.find(line), std::string::npos);
  std::string code = vela::test::checkThreePaths(diagonalize, cases).code;
  auto first = code.find("kelm_math_lin_alg_jacobi3(");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(code.find("kelm_math_lin_alg_jacobi3(", first + 1), std::string::npos);  // one node
}
