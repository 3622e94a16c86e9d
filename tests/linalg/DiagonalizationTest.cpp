// The 3-by-3 Jacobi routine, the diagonalization on it, tridiagonal solves.

#include <cfloat>
#include <type_traits>

#include "linalg/Jacobi3Op.hpp"
#include "linalg/LinalgTesting.hpp"

using namespace vela::test::linalg;
using Mat = math3d::Matrix3x3_T<vm::Numeric>;
using Vec = math3d::Vector3_T<vm::Numeric>;
using Quat = math3d::Quaternion_T<vm::Numeric>;

namespace {

// Random tensors, rotated spectra, (nearly) diagonal ones.
std::vector<Case> tensors() {
  std::vector<Case> cases;
  for (unsigned seed = 1; seed <= 40; ++seed) cases.push_back({randomDoubles(6, seed), {}});
  Mat R(Quat(0.5, 0.5, -0.1, std::sqrt(0.49)));
  for (Vec l : {Vec(2, 2, 5), Vec(3, 3, 3), Vec(1, 1 + 1e-9, 1 + 2e-9), Vec(-4, 0, 4),
                Vec(1e-12, 1, 1), Vec(1e300, -2e300, 3e300), Vec(1e-300, -2e-300, 3e-300)}) {
    Mat A = R.compose(Mat(l, Vec())).composeTranspose(R);
    double const* a = A.values();
    cases.push_back({{a[0], a[4], a[8], a[7], a[2], a[3]}, {}});
  }
  for (Matrix t :
       {Matrix{3, 1, 2, 0, 0, 0}, {1, 2, 3, 1e-12, -1e-13, 1e-300}, {0, 1e10, 0, 0, 0, 1e-290}})
    cases.push_back({t, {}});
  return cases;
}

}  // namespace

// R diag(w) R^T = A, R^T R = I and det R = 1 within a few ulps.
TEST(Diagonalization, NumericDecomposes) {
  for (auto const& c : tensors()) {
    Vec d(c.doubles.data()), o(c.doubles.data() + 3), w, p;
    double V[9];
    kelm_math_lin_alg_jacobi3(d.values(), o.values(), w.values(), V);
    Quat q(0, 0, 0, 0);  // overwritten, never read
    vm::compDiagonalization(d, o, p, q);
    for (auto [values, R] : {std::pair{w, Mat(V, false)}, {p, Mat(q)}}) {
      double scale = ref_maxAbs(values.values(), 3);
      Mat error = R.compose(Mat(values, Vec())).composeTranspose(R) - Mat(d, o),
          drift = R.transpose().compose(R) - Mat::identity();
      EXPECT_LE(ref_maxAbs(error.values(), 9), 8 * DBL_EPSILON * scale)
          << d.stringify() << o.stringify();
      EXPECT_LE(ref_maxAbs(drift.values(), 9), 8 * DBL_EPSILON);
      EXPECT_NEAR(R.determinant(), 1.0, 8 * DBL_EPSILON);
    }
  }
  // Diagonal input: no rotation at all; non-finite input ends and shows.
  double d[3] = {3, -1, 2}, zero[3] = {0, -0.0, 0}, w[3], V[9];
  kelm_math_lin_alg_jacobi3(d, zero, w, V);
  EXPECT_TRUE(Vec(w) == Vec(d) && Mat(V, false) == Mat::identity());
  for (Vec o : {Vec(0.1, kNaN, 0.2), Vec(kInf, 1, -kInf)}) {
    kelm_math_lin_alg_jacobi3(d, o.values(), w, V);
    EXPECT_FALSE(std::isfinite(w[0]) && std::isfinite(w[1]) && std::isfinite(w[2]));
  }
}

TEST(Diagonalization, NodesAlongFourPaths) {
  std::vector<Case> cases = tensors();  // non-finite terms end the sweeps early
  double const odd[][6] = {{1, 2, 3, kNaN, 0.5, 0.25},
                           {kNaN, 2, 3, 0, 0, 0},
                           {1, 2, 3, 0.5, -kInf, 0.25},
                           {kInf, 2, 3, 0.5, 1, 0.25}};
  for (auto const& t : odd) cases.push_back({Matrix(t, t + 6), {}});
  checkKernel(
      [](auto const& in) {
        using S = typename std::decay_t<decltype(in)>::Scalar;
        using M = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
        auto v = in.doubles(0, 6);
        std::vector<S> out(12);
        if constexpr (std::is_same_v<S, double>)
          kelm_math_lin_alg_jacobi3(v.data(), v.data() + 3, out.data(), out.data() + 3);
        else
          vm::jacobi3(v.data(), v.data() + 3, out.data(), out.data() + 3);
        math3d::Vector3_T<M> p;
        math3d::Quaternion_T<M> q;
        vm::compDiagonalization(math3d::Vector3_T<M>(v.data()), math3d::Vector3_T<M>(v.data() + 3),
                                p, q);
        out.insert(out.end(), p.values(), p.values() + 3);
        out.insert(out.end(), q.values(), q.values() + 4);
        return out;
      },
      cases, {"kelm_math_lin_alg_jacobi3(&spd[0], &spd[3], &spd[6], &spd[9]);"}, {"Jacobi3"});
  // A constant zero coupling keeps d itself and the constant identity.
  math3d::Vector3_T<vm::Traced> d(ct::TracedDouble::input("d0"), 1.0,
                                  ct::TracedDouble::input("d2")),
      p;
  math3d::Quaternion_T<vm::Traced> q(ct::TracedDouble::input("q"), 0.0, 0.0, 0.0);
  for (auto const& dd : {d, math3d::Vector3_T<vm::Traced>(3.0, 1.0, 2.0)}) {
    vm::compDiagonalization(dd, math3d::Vector3_T<vm::Traced>(0.0, -0.0, 0.0), p, q);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(p.coord(k).isOperationallyEqual(dd.coord(k)));
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(q.values()[k].equalConstant(k == 0 ? 1.0 : 0.0));
  }
}

// Residuals of dominant systems, diagonals of both signs, periodic too.
TEST(TriDiag, DominantSystemsOpenAndPeriodic) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (bool periodic : {false, true})
    for (int n = 1; n <= 30; ++n)
      for (int trial = 0; trial < 10; ++trial) {
        std::vector<double> diag(n), off(std::max(n - 1, 0)), rhs(n), work(n, 123.0), A(n * n, 0.0);
        for (int i = 0; i < n; ++i) diag[i] = A[i * n + i] = (i % 3 == 0 ? -2.5 : 2.5) + u(rng);
        for (int i = 0; i + 1 < n; ++i) off[i] = A[i * n + i + 1] = A[(i + 1) * n + i] = u(rng);
        for (double& b : rhs) b = 10.0 * u(rng);
        double corner = periodic ? u(rng) : 0.0;
        A[n - 1] += corner;
        A[(n - 1) * n] += corner;
        std::vector<double> x = rhs;
        ASSERT_EQ(periodic
                      ? kelm_math_lin_alg_solveTriDiagSymmPer(diag.data(), off.data(), x.data(), n,
                                                              corner, work.data())
                      : kelm_math_lin_alg_solveTriDiagSymm(diag.data(), off.data(), x.data(), n),
                  0);
        EXPECT_LE(ref_residual(n, n, A.data(), x.data(), rhs.data()), 1e-13)
            << periodic << " " << n;
      }
  // Zero pivots by 1-based position (periodic: with the corner taken out).
  double z[3] = {0, 1, 1}, zo[2] = {1, 0}, y[2] = {1, 1}, yo[1] = {1}, x[4] = {1, 1, 1, 1}, w[4];
  double c[4] = {1, 0.5, 2, 2}, co[3] = {1, 0, 0};
  EXPECT_EQ(kelm_math_lin_alg_solveTriDiagSymm(z, zo, x, 3), 1);
  EXPECT_EQ(kelm_math_lin_alg_solveTriDiagSymm(y, yo, x, 2), 2);
  EXPECT_EQ(kelm_math_lin_alg_solveTriDiagSymmPer(c, co, x, 4, 0.25, w), 2);
}
