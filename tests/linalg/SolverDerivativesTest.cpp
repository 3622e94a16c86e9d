// Derivatives of the solvers: each rule against differences, forward
// against reverse, the four paths. Matrices are the points' doubles with
// their diagonals raised (regular, mostly well conditioned); those read as
// symmetric get different values above the diagonal, which must not count.
#include <gtest/gtest.h>

#include "linalg/Jacobi3Op.hpp"
#include "support/Derivatives.hpp"
#include "vela/math.hpp"

namespace {

namespace vm = vela::math;
using vela::test::DerivativeCase;

// f(x, out, w, piv) computes from the doubles x into out (count elements),
// A first (n by n, diagonal raised by shift); w and piv are work space.
template <class F>
DerivativeCase row(std::string name, unsigned n, double shift, std::size_t extra, unsigned count,
                   F f) {
  static unsigned seed = 40;
  return vela::test::derivativeCase(
      std::move(name),
      [=](auto const& in) {
        using S = std::decay_t<decltype(in.d(0))>;
        std::vector<S> x = in.doubles(0, in.doubleCount()), out(count), w(3 * n * n + 3 * n + 8);
        std::vector<std::decay_t<decltype(in.i(0))>> piv(n + 4);
        for (unsigned j = 0; j < n; ++j) x[j + n * j] = x[j + n * j] + shift;
        f(x.data(), out.data(), w.data(), piv.data());
        return out;
      },
      vela::test::uniformPoints(n * n + extra, 2, -1.0, 1.0, seed++));
}

std::vector<DerivativeCase> solverCases() {
  std::vector<DerivativeCase> rows{
      row("geSolve2x2", 2, 2.5, 2, 2,
          [](auto* x, auto* out, auto*, auto*) { vm::geSolve2x2(x, x + 4, out); }),
      // Pivoting on the second row.
      row("geSolve2x2 pivoted", 2, -0.5, 2, 2, [](auto* x, auto* out, auto*, auto*) {
        x[1] = x[1] + 3.0;
        vm::geSolve2x2(x, x + 4, out);
      })};
  // The factor in full (its upper triangle mirrors the lower one), orders
  // 1 (the factor is A itself), 3 and 5 (past the unrolled columns).
  for (unsigned n : {1u, 3u, 5u})
    rows.push_back(row("factor " + std::to_string(n), n, 4.0, 0, n * n,
                       [n](auto* x, auto* out, auto* w, auto*) {
                         vm::factorSymmetricPosDef(x, n, w);
                         std::copy(x, x + n * n, out);
                       }));
  // Factor then solve, 3 by 2 right-hand sides; the solve from a given
  // factor; an indefinite A (the QR route) and a positive one.
  rows.push_back(row("factor and solve", 3, 4.0, 6, 6, [](auto* x, auto* out, auto* w, auto*) {
    vm::factorSymmetricPosDef(x, 3, w);
    vm::solveSymmetricPosDef(x, x + 9, 3, 2, out, w);
  }));
  // Ill-conditioned but regular (condition about 1e6): rows and columns
  // scaled by 0.03 and 30.
  rows.push_back(
      row("ill-conditioned factor and solve", 3, 4.0, 3, 3, [](auto* x, auto* out, auto* w, auto*) {
        double const scale[3] = {0.03, 1.0, 30.0};
        for (int j = 0; j < 3; ++j)
          for (int i = 0; i < 3; ++i) x[i + 3 * j] = x[i + 3 * j] * (scale[i] * scale[j]);
        vm::factorSymmetricPosDef(x, 3, w);
        vm::solveSymmetricPosDef(x, x + 9, 3, 1, out, w);
      }));
  rows.push_back(row("solve with a factor", 4, 3.0, 4, 4, [](auto* x, auto* out, auto* w, auto*) {
    vm::solveSymmetricPosDef(x, x + 16, 4, 1, out, w);
  }));
  // The robust solve, whose QR route reads the whole of A, on symmetric A.
  for (double shift : {4.0, 0.0})
    rows.push_back(row("robust solve " + std::to_string(shift), 3, shift, 3, 3,
                       [](auto* x, auto* out, auto* w, auto* piv) {
                         x[4] = x[4] - 3.0;  // indefinite when not raised
                         for (int k : {1, 2, 5}) x[k / 3 + 3 * (k % 3)] = x[k];
                         vm::factorAndSolveSymmetric(x, 3, w, piv, x + 9, out, w + 3);
                       }));
  rows.push_back(row("robust solve 1", 1, 2.0, 1, 1, [](auto* x, auto* out, auto* w, auto* piv) {
    vm::factorAndSolveSymmetric(x, 1, w, piv, x + 1, out, w + 3);
  }));
  // Minimum-norm solves of 2 equations in 3 unknowns, and of 3 in 3.
  for (unsigned m : {2u, 3u})
    rows.push_back(row("wide " + std::to_string(m), 0, 0.0, 4 * m, 3,
                       [m](auto* x, auto* out, auto* w, auto* piv) {
                         std::decay_t<decltype(*x)> tol(1e-12);
                         vm::factorAndSolveWide(m, 3, x, w, w + m, piv, x + 3 * m, tol, out);
                       }));
  return rows;
}

// Eigenvalues and vectors of a symmetric 3 by 3 tensor (diagonal, then
// off-diagonal terms), and its principal values and rotation, generic and
// on both sides of a near tie.
std::vector<DerivativeCase> decompositionCases() {
  auto diagonalize = [](auto* x, auto* out, auto*, auto*) {
    using S = std::decay_t<decltype(*x)>;
    using M = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
    if constexpr (std::is_same_v<S, double>)
      kelm_math_lin_alg_jacobi3(x, x + 3, out, out + 3);
    else
      vm::jacobi3(x, x + 3, out, out + 3);
    math3d::Vector3_T<M> principal;
    math3d::Quaternion_T<M> q;
    vm::compDiagonalization(math3d::Vector3_T<M>(x), math3d::Vector3_T<M>(x + 3), principal, q);
    std::copy(principal.values(), principal.values() + 3, out + 12);
    std::copy(q.values(), q.values() + 4, out + 15);
  };
  // At a tie: a diagonal tensor (constant zero couplings) with two equal
  // terms keeps V = I, so the vectors' guarded terms must come out zero.
  auto tied = [](auto* x, auto* out, auto*, auto*) {
    using S = std::decay_t<decltype(*x)>;
    S d[3] = {x[0], x[0], x[1]}, o[3] = {S(0.0), S(0.0), S(0.0)};
    if constexpr (std::is_same_v<S, double>)
      kelm_math_lin_alg_jacobi3(d, o, out, out + 3);
    else
      vm::jacobi3(d, o, out, out + 3);
  };
  std::vector<DerivativeCase> rows{row("diagonalization", 0, 0.0, 6, 19, diagonalize),
                                   row("diagonalization near a tie", 0, 0.0, 6, 19, diagonalize),
                                   row("diagonalization at a tie", 0, 0.0, 2, 12, tied)};
  for (auto& p : rows[1].points) {
    double const gap = &p == &rows[1].points[0] ? 0.04 : -0.04;
    p.doubles = {
        2.0, 2.0 + gap, 0.5, 1e-4 * p.doubles[3], 1e-4 * p.doubles[4], 1e-4 * p.doubles[5]};
  }
  // Thin SVDs of 3 by 2 and 2 by 3 matrices, the full one's thin part;
  // least-squares and minimum-norm solves; the solve from given factors
  // (any S, U, V: the rule holds for them as they are).
  for (auto [m, n, full] : {std::tuple{3u, 2u, false}, {2u, 3u, false}, {3u, 2u, true}}) {
    unsigned k = std::min(m, n), uCount = m * (full ? m : k), vCount = n * (full ? n : k);
    rows.push_back(row("svd " + std::to_string(m) + std::to_string(n) + (full ? " full" : ""), 0,
                       0.0, m * n, k * (1 + m + n), [=](auto* x, auto* out, auto*, auto*) {
                         std::vector<std::decay_t<decltype(*x)>> S(k), U(uCount), V(vCount),
                             work(64);
                         vm::svd(m, n, x, full, S.data(), U.data(), V.data(), work.data());
                         std::copy(S.begin(), S.end(), out);
                         std::copy_n(U.begin(), m * k, out + k);
                         std::copy_n(V.begin(), n * k, out + k + m * k);
                       }));
    if (full) continue;
    rows.push_back(row("svdSolve " + std::to_string(m) + std::to_string(n), 0, 0.0, m * n + m, n,
                       [=](auto* x, auto* out, auto*, auto*) {
                         std::vector<std::decay_t<decltype(*x)>> work(128);
                         vm::svdSolve(m, n, x, x + m * n, std::decay_t<decltype(*x)>(1e-10), out,
                                      work.data());
                       }));
    rows.push_back(row("svdSolveFromFactorization " + std::to_string(m) + std::to_string(n), 0, 0.0,
                       k * (1 + m + n) + m, n, [=](auto* x, auto* out, auto*, auto*) {
                         for (unsigned j = 0; j < k; ++j) x[j] = x[j] + 2.0;
                         std::vector<std::decay_t<decltype(*x)>> work(16);
                         vm::svdSolveFromFactorization(
                             m, n, x, x + k, x + k + k * m, x + k * (1 + m + n),
                             std::decay_t<decltype(*x)>(0.5), out, work.data());
                       }));
  }
  // Planes through five noisy points near z = 0 and near x = 0 (the fit
  // fixes another axis in each).
  for (int axis : {2, 0})
    rows.push_back(row("plane fit " + std::to_string(axis), 0, 0.0, 15, 6,
                       [axis](auto* x, auto* out, auto*, auto*) {
                         using S = std::decay_t<decltype(*x)>;
                         using M =
                             std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
                         std::vector<math3d::Vector3_T<M>> points;
                         for (int p = 0; p < 5; ++p) {
                           x[3 * p + axis] = 0.05 * x[3 * p + axis];
                           points.emplace_back(x + 3 * p);
                         }
                         math3d::Vector3_T<M> centroid, normal;
                         vm::bestFitPlane3D(points, centroid, normal);
                         std::copy_n(centroid.values(), 3, out);
                         std::copy_n(normal.values(), 3, out + 3);
                       }));
  // Generalized eigenpairs of 3 by 3 pencils: a symmetric A with a positive
  // definite B (real pairs, all outputs), and a rotation-like A whose complex
  // pair's values are read (its vectors' phase is the algorithm's).
  for (bool symmetric : {true, false})
    rows.push_back(row(
        symmetric ? "eig symmetric" : "eig complex", 0, 0.0, 18, symmetric ? 24 : 6,
        [symmetric](auto* x, auto* out, auto*, auto*) {
          using S = std::decay_t<decltype(*x)>;
          using I = std::conditional_t<std::is_same_v<S, double>, int, vm::TracedValue<int>>;
          S* A = x;
          S* B = x + 9;
          for (unsigned k = 0; k < 9; ++k) B[k] = (k % 4 == 0 ? 2.0 : 0.0) + 0.1 * B[k];
          for (unsigned k : {1u, 2u, 5u}) B[k / 3 + 3 * (k % 3)] = B[k];
          if (symmetric)
            for (unsigned k : {1u, 2u, 5u}) A[k / 3 + 3 * (k % 3)] = A[k];
          else
            for (unsigned k = 0; k < 9; ++k)
              A[k] = std::array{1.0, 2.0, 0.0, -2.0, 1.0, 0.0, 0.0, 0.0, 3.0}[k] + 0.1 * A[k];
          std::vector<S> re(3), im(3), V(18), work(64);
          std::vector<I> iwork(1);
          vm::eig(3, A, B, re.data(), im.data(), V.data(), V.data() + 9, work.data(), iwork.data());
          std::copy(re.begin(), re.end(), out);
          std::copy(im.begin(), im.end(), out + 3);
          if (symmetric) std::copy(V.begin(), V.end(), out + 6);
        }));
  // Vectors made orthonormal in the inner product of a positive definite B
  // (its upper triangle, not read, differs).
  rows.push_back(row("orthonormalize", 0, 0.0, 18, 9, [](auto* x, auto* out, auto*, auto*) {
    using S = std::decay_t<decltype(*x)>;
    for (unsigned k = 0; k < 9; ++k) {
      x[k] = (k % 4 == 0 ? 2.0 : 0.0) + 0.2 * x[k];
      x[9 + k] = (k % 4 == 0 ? 1.0 : 0.0) + 0.3 * x[9 + k];
    }
    std::vector<S> work(27);
    vm::orthonormalizeRealEigenvectorsWrtSpdB(3, x, x + 9, work.data());
    std::copy_n(x + 9, 9, out);
  }));
  return rows;
}

// The DynamicSize forms at capacity 3 with traced actual sizes (the ints)
// below it: f(in, x, out) reads the packed results.
template <class F>
DerivativeCase sizedRow(std::string name, std::size_t doubles, std::vector<int> sizes,
                        unsigned count, F f) {
  static unsigned seed = 70;
  return vela::test::derivativeCase(
      std::move(name),
      [=](auto const& in) {
        using S = std::decay_t<decltype(in.d(0))>;
        std::vector<S> x = in.doubles(0, in.doubleCount()), out(count);
        f(in, x.data(), out.data());
        return out;
      },
      vela::test::uniformPoints(doubles, 2, -1.0, 1.0, seed++, std::move(sizes)));
}

std::vector<DerivativeCase> dynamicSizeCases() {
  std::vector<DerivativeCase> rows;
  for (auto [m, n] : {std::pair{3, 2}, {2, 3}}) {
    std::string shape = std::to_string(m) + std::to_string(n);
    int k = std::min(m, n);
    rows.push_back(sizedRow("svd " + shape, 9, {m, n}, k * (1 + m + n),
                            [=](auto const& in, auto* x, auto* out) {
                              std::vector<std::decay_t<decltype(*x)>> S(3), U(9), V(9), work(64);
                              vm::svdDynamicSize(3, 3, in.i(0), in.i(1), x, false, S.data(),
                                                 U.data(), V.data(), work.data());
                              std::copy_n(S.begin(), k, out);
                              std::copy_n(U.begin(), m * k, out + k);
                              std::copy_n(V.begin(), n * k, out + k + m * k);
                            }));
  }
  rows.push_back(sizedRow("svdSolve 32", 12, {3, 2}, 2, [](auto const& in, auto* x, auto* out) {
    std::vector<std::decay_t<decltype(*x)>> work(128), result(3);
    vm::svdSolveDynamicSize(3, 3, in.i(0), in.i(1), x, x + 9, std::decay_t<decltype(*x)>(1e-10),
                            result.data(), work.data());
    std::copy_n(result.begin(), 2, out);
  }));
  rows.push_back(sizedRow(
      "svdSolveFromFactorization 23", 24, {2, 3}, 3, [](auto const& in, auto* x, auto* out) {
        for (int j = 0; j < 3; ++j) x[j] = x[j] + 2.0;
        std::vector<std::decay_t<decltype(*x)>> work(16);
        vm::svdSolveFromFactorizationDynamicSize(3, 3, in.i(0), in.i(1), x, x + 3, x + 12, x + 21,
                                                 std::decay_t<decltype(*x)>(0.5), out, work.data());
      }));
  rows.push_back(sizedRow("eig 2 of 3", 18, {2, 2}, 12, [](auto const& in, auto* x, auto* out) {
    using S = std::decay_t<decltype(*x)>;
    using I = std::conditional_t<std::is_same_v<S, double>, int, vm::TracedValue<int>>;
    for (int k : {0, 3}) x[9 + k] = x[9 + k] + 2.0;  // B positive definite,
    x[2] = x[1];                                     // both symmetric: real pairs
    x[11] = x[10];
    std::vector<S> re(3), im(3), V(18), work(64);
    std::vector<I> iwork(1);
    vm::eigDynamicSize(3, in.i(0), x, x + 9, re.data(), im.data(), V.data(), V.data() + 9,
                       work.data(), iwork.data());
    std::copy_n(re.begin(), 2, out);
    std::copy_n(im.begin(), 2, out + 2);
    std::copy_n(V.begin(), 4, out + 4);
    std::copy_n(V.begin() + 9, 4, out + 8);
  }));
  rows.push_back(
      sizedRow("orthonormalize 2 of 3", 18, {2}, 9, [](auto const& in, auto* x, auto* out) {
        using S = std::decay_t<decltype(*x)>;
        for (int k : {0, 3}) {
          x[k] = x[k] + 2.0;
          x[9 + k] = x[9 + k] + 1.5;
        }
        std::vector<S> work(27);
        vm::orthonormalizeRealEigenvectorsWrtSpdBDynamicSize(3, in.i(0), x, x + 9, work.data());
        std::copy_n(x + 9, 9, out);  // those past 4 are the input's
      }));
  return rows;
}

TEST(SolverDerivatives, EveryRule) {
  for (auto const& c : solverCases()) vela::test::checkDerivatives(c);
}

TEST(DecompositionDerivatives, EveryRule) {
  for (auto const& c : decompositionCases()) vela::test::checkDerivatives(c);
  for (auto const& c : dynamicSizeCases()) vela::test::checkDerivatives(c);
}

}  // namespace
