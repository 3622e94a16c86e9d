#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "linalg/DecompositionOps.hpp"
#include "support/ThreePaths.hpp"
#include "support/TracedNodes.hpp"
#include "vela/math.hpp"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using ct::TracedDouble;
using ct::TracedInt;
using vela::test::Case;
using vela::test::collectSize;
using vela::test::constants;
using vela::test::nodeOf;
using vela::test::occurrences;

namespace {

template <class S>
void append(std::vector<S>& out, std::vector<S> const& v, std::size_t n) {
  out.insert(out.end(), v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n));
}

// B = X^T X + n I from the n*n inputs at first: symmetric positive definite.
template <class In>
auto spdFrom(In const& in, std::size_t first, unsigned n) {
  auto X = in.doubles(first, n * n);
  decltype(X) B(n * n);
  for (unsigned j = 0; j < n; ++j)
    for (unsigned i = 0; i < n; ++i) {
      B[j * n + i] = i == j ? n : 0.0;
      for (unsigned k = 0; k < n; ++k) B[j * n + i] = B[j * n + i] + X[i * n + k] * X[j * n + k];
    }
  return B;
}

std::vector<Case> randomCases(std::size_t doubles, std::vector<std::vector<int>> const& ints) {
  std::vector<Case> cases;
  unsigned seed = 11;
  for (auto const& i : ints) cases.push_back({vela::test::randomDoubles(doubles, ++seed), i});
  return cases;
}

}  // namespace

TEST(DecompositionTraced, EigFoldsOnlyWhenAllConstant) {
  std::vector<double> a = {2, 1, 0, 1, 3, 1, 0, 1, 4}, b = {2, 0, 0, 0, 1, 0, 0, 0, 3};
  std::vector<TracedDouble> A = constants(a), B = constants(b), re(3), im(3), vre(9), vim(9);
  vm::eig(3, A.data(), B.data(), re.data(), im.data(), vre.data(), vim.data(), nullptr, nullptr);
  std::vector<double> nre(3), nim(3), nvre(9), nvim(9),
      work(kelm_math_lin_alg_eigReqdRealWorkSize(3));
  int iwork[1];
  vm::eig(3, a.data(), b.data(), nre.data(), nim.data(), nvre.data(), nvim.data(), work.data(),
          iwork);
  for (int i = 0; i < 9; ++i) {
    EXPECT_TRUE(vre[i].equalConstant(nvre[i]));
    EXPECT_TRUE(vim[i].equalConstant(nvim[i]));
  }
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(re[i].equalConstant(nre[i]) && im[i].equalConstant(0.0));

  B[5] = TracedDouble::input("b");
  vm::eig(3, A.data(), B.data(), re.data(), im.data(), vre.data(), vim.data(), nullptr, nullptr);
  ct::Operation const* node = nodeOf(re[0]);
  ASSERT_NE(dynamic_cast<vm::EigOp const*>(node), nullptr);
  EXPECT_EQ(node->description(), "Eig");
  EXPECT_EQ(node->inputCount(), 3u);
  for (auto const* out : {&im[2], &vre[8], &vim[0]}) EXPECT_EQ(nodeOf(*out), node);

  // Capacity 4 and a traced n: collects of 16, every capacity element read.
  std::vector<TracedDouble> A4(16, 1.0), B4(16, 2.0), re4(4), im4(4), vre4(16), vim4(16);
  vm::eigDynamicSize(4, TracedInt::input("n"), A4.data(), B4.data(), re4.data(), im4.data(),
                     vre4.data(), vim4.data(), nullptr, nullptr);
  node = nodeOf(re4[3]);
  ASSERT_NE(dynamic_cast<vm::EigOp const*>(node), nullptr);
  for (auto const* out : {&im4[3], &vre4[15], &vim4[15]}) EXPECT_EQ(nodeOf(*out), node);
  EXPECT_EQ(collectSize(*node, 2), 16u);
}

TEST(DecompositionTraced, SvdNodesAndRankFolding) {
  // svd never folds; U covers M*M only when full.
  std::vector<TracedDouble> A = constants(vela::test::randomDoubles(12, 3));
  for (bool full : {false, true}) {
    std::vector<TracedDouble> S(3), U(16, TracedDouble(-1.0)), V(9);
    vm::svd(4, 3, A.data(), full, S.data(), U.data(), V.data(), nullptr);
    auto const* node = dynamic_cast<vm::SvdOp const*>(nodeOf(S[0]));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(nodeOf(U[11]), node);
    EXPECT_EQ(nodeOf(V[8]), node);
    EXPECT_EQ(U[12].equalConstant(-1.0), !full);
    EXPECT_EQ(U[15].equalConstant(-1.0), !full);
  }
  ct::OperationPtr m = TracedInt(4).operation(), n = TracedInt(3).operation(),
                   a = std::make_shared<ct::CollectOp>(12, A.data(), "");
  vm::SvdOp thin(4, 3, false, m, n, a), full(4, 3, true, m, n, a), wide(4, 4, false, m, n, a);
  vela::test::expectOrdered(thin, full);
  vela::test::expectOrdered(full, wide);  // N decides before full
  vela::test::expectClone(thin, "Svd");

  // The rank folds with constant inputs, else reads a node over four inputs.
  std::vector<TracedDouble> s = constants({5.0, 1.0, 1e-9});
  TracedInt rank = vm::svdComputeRank(3, 4, s.data(), TracedDouble(1e-6));
  EXPECT_TRUE(rank.equalConstant(2));
  rank =
      vm::svdComputeRankDynamicSize(3, 4, TracedInt(2), TracedInt(4), s.data(), TracedDouble(0.0));
  EXPECT_TRUE(rank.equalConstant(2));
  rank = vm::svdComputeRank(3, 4, s.data(), TracedDouble::input("tol"));
  ASSERT_FALSE(rank.isConstant());
  auto const* rankNode = dynamic_cast<vm::SvdComputeRankOp const*>(rank.operation().get());
  ASSERT_NE(rankNode, nullptr);
  EXPECT_EQ(rankNode->inputCount(), 4u);
  EXPECT_EQ(rankNode->description(), "SvdComputeRank");
  ct::BindingSet bindings;
  bindings.bind("tol", 0.5);
  EXPECT_EQ(rank.evaluate(bindings), 2);
  bindings.bind("tol", 1e-12);
  EXPECT_EQ(rank.evaluate(bindings), 3);
}

TEST(DecompositionTraced, OrthonormalizeOverwritesItsInputOnlyWhenLastReader) {
  std::vector<std::string> names;
  std::vector<TracedDouble> B1, B2, V;
  for (int i = 0; i < 4; ++i) {
    names.push_back("v" + std::to_string(i));
    V.push_back(TracedDouble::input(names.back()));
  }
  std::vector<double> b1 = {2, 1, 1, 3}, b2 = {4, 1, 1, 2};
  B1 = constants(b1);
  B2 = constants(b2);
  std::vector<TracedDouble> first = V;
  TracedInt flag = vm::orthonormalizeRealEigenvectorsWrtSpdB(2, B1.data(), first.data(), nullptr);
  ASSERT_NE(dynamic_cast<vm::OrthonormalizeRealEigWrtSpdBOp const*>(nodeOf(flag)), nullptr);
  EXPECT_EQ(nodeOf(first[3]), nodeOf(flag));
  EXPECT_EQ(nodeOf(flag)->description(), "OrthonormalizeRealEigWrtSpdB");

  std::vector<TracedDouble> alone = first;
  std::string code = ct::generateCFunction("alone", names, alone);
  EXPECT_EQ(occurrences(code, "memcpy("), 0u) << code;
  EXPECT_EQ(occurrences(code, " = orthonormalizeRealEigenvectorsWrtSpdB(2, "), 1u) << code;

  // A second node reading the same vectors: the first one to run must copy.
  std::vector<TracedDouble> second = V;
  vm::orthonormalizeRealEigenvectorsWrtSpdB(2, B2.data(), second.data(), nullptr);
  std::vector<TracedDouble> both = first;
  both.insert(both.end(), second.begin(), second.end());
  code = ct::generateCFunction("both", names, both);
  EXPECT_EQ(occurrences(code, "memcpy("), 1u) << code;
  EXPECT_EQ(occurrences(code, ", 4 * sizeof(double));"), 1u) << code;
  EXPECT_LT(code.find("memcpy("), code.find("orthonormalizeRealEigenvectorsWrtSpdB(")) << code;

  // Constant inputs fold: the flag and the vectors become constants.
  std::vector<TracedDouble> folded = constants({1, 0, 0, 1});
  flag = vm::orthonormalizeRealEigenvectorsWrtSpdB(2, B1.data(), folded.data(), nullptr);
  EXPECT_TRUE(flag.equalConstant(1));
  double v0 = 0.0;
  ASSERT_TRUE(folded[0].getConstant(v0));
  EXPECT_NEAR(v0, 1 / std::sqrt(2.0), 1e-15);
}

TEST(DecompositionTraced, EigAndOrthonormalizeThreePaths) {
  // Capacity 4 with a traced n (outputs of 4, 4, 16 and 16 reserved):
  // evaluation and C compute on the packed n by n problem.
  for (int n : {4, 3, 1}) {
    auto compute = [n](auto const& in) {
      using S = typename std::decay_t<decltype(in)>::Scalar;
      using I = typename std::decay_t<decltype(in)>::Integer;
      std::vector<S> A = in.doubles(0, 16), B = spdFrom(in, 16, 4), out;
      std::vector<S> work(kelm_math_lin_alg_eigReqdRealWorkSize(4) + 48);
      std::vector<I> iwork(kelm_math_lin_alg_eigReqdInt32WorkSize(4));
      std::vector<S> re(4), im(4), vre(16), vim(16);
      vm::eigDynamicSize(4, in.i(0), A.data(), B.data(), re.data(), im.data(), vre.data(),
                         vim.data(), work.data(), iwork.data());
      append(out, re, n);
      append(out, im, n);
      append(out, vre, n * n);
      append(out, vim, n * n);
      // A symmetric pencil has real vectors to orthonormalize against B.
      std::vector<S> As(16), sre(4), sim(4), V(16), svim(16);
      for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) As[j * 4 + i] = A[j * 4 + i] + A[i * 4 + j];
      vm::eigDynamicSize(4, in.i(0), As.data(), B.data(), sre.data(), sim.data(), V.data(),
                         svim.data(), work.data(), iwork.data());
      auto flag = vm::orthonormalizeRealEigenvectorsWrtSpdBDynamicSize(4, in.i(0), B.data(),
                                                                       V.data(), work.data());
      out.push_back(S(flag));
      append(out, V, n * n);
      return out;
    };
    auto result = vela::test::checkThreePaths(compute, randomCases(32, {{n}, {n}, {n}}));
    EXPECT_EQ(occurrences(result.code, "eig("), 2u) << result.code;
    EXPECT_EQ(occurrences(result.code, " = orthonormalizeRealEigenvectorsWrtSpdB("), 1u);
  }
}

TEST(DecompositionTraced, FailedEigAndOrthonormalizationAgreeOnThreePaths) {
  // A failed eig writes NaN everywhere; a failed orthonormalization leaves V
  // as it came. Both through nodes of order 3.
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using I = typename std::decay_t<decltype(in)>::Integer;
    std::vector<S> A = in.doubles(0, 9), B = in.doubles(9, 9), V = in.doubles(18, 9), out;
    std::vector<S> work(kelm_math_lin_alg_eigReqdRealWorkSize(3)), re(3), im(3), vre(9), vim(9);
    std::vector<I> iwork(kelm_math_lin_alg_eigReqdInt32WorkSize(3));
    vm::eig(3, A.data(), B.data(), re.data(), im.data(), vre.data(), vim.data(), work.data(),
            iwork.data());
    for (auto const* part : {&re, &im, &vre, &vim}) append(out, *part, part->size());
    out.push_back(S(vm::orthonormalizeRealEigenvectorsWrtSpdB(3, B.data(), V.data(), work.data())));
    append(out, V, 9);
    return out;
  };
  double const nan = std::nan(""), inf = HUGE_VAL;
  std::vector<double> const I = {1, 0, 0, 0, 1, 0, 0, 0, 1},
                            indefinite = {2, 0, 0, 0, -1, 0, 0, 0, 1};
  std::vector<double> A = vela::test::randomDoubles(9, 5), V = vela::test::randomDoubles(9, 6);
  auto join = [](std::vector<double> a, std::vector<double> const& b,
                 std::vector<double> const& c) {
    a.insert(a.end(), b.begin(), b.end());
    a.insert(a.end(), c.begin(), c.end());
    return Case{a, {}};
  };
  std::vector<double> dependent = V, withNaN = V, infA = A, nanB = I;
  for (int i = 0; i < 3; ++i) dependent[6 + i] = V[i] - 2 * V[3 + i];
  withNaN[4] = nan;
  infA[3] = inf;
  nanB[4] = nan;
  std::vector<Case> cases = {join(A, I, V),          join(infA, I, V),      join(A, nanB, V),
                             join(A, indefinite, V), join(A, I, dependent), join(A, I, withNaN)};
  // The cases fail where meant: eig on the non-finite ones, the
  // orthonormalization on all but the first two.
  for (std::size_t c = 0; c < cases.size(); ++c) {
    std::vector<double> out = compute(vela::test::Inputs<vm::Numeric>(cases[c]));
    EXPECT_EQ(std::isnan(out[0]), c == 1 || c == 2) << c;
    EXPECT_EQ(out[24], c < 2 ? 1.0 : 0.0) << c;
  }
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_EQ(occurrences(result.code, "eig("), 1u) << result.code;
  EXPECT_EQ(occurrences(result.code, " = orthonormalizeRealEigenvectorsWrtSpdB(3, "), 1u);
}

TEST(DecompositionTraced, SvdSolveAndRankThreePaths) {
  for (bool full : {false, true}) {
    // Capacity 5 by 4, actual m by n from the case; the factors of a traced
    // svd feed the solve from factors, and the rank reads the values.
    for (std::vector<int> sizes : {std::vector<int>{5, 4}, {3, 4}, {4, 2}, {0, 3}, {3, 0}}) {
      int m = sizes[0], n = sizes[1], k = std::min(m, n);
      auto compute = [&](auto const& in) {
        using S = typename std::decay_t<decltype(in)>::Scalar;
        std::vector<S> A = in.doubles(0, 20), b = in.doubles(20, 5), out;
        std::vector<S> s(4), U(25), V(16), x(4), y(4);
        std::vector<S> work(kelm_math_lin_alg_svdSolveReqdWorkSize(5, 4));
        vm::svdDynamicSize(5, 4, in.i(0), in.i(1), A.data(), full, s.data(), U.data(), V.data(),
                           work.data());
        append(out, s, k);
        append(out, U, m * (full ? m : k));
        append(out, V, n * (full ? n : k));
        vm::svdSolveDynamicSize(5, 4, in.i(0), in.i(1), A.data(), b.data(), in.d(25), x.data(),
                                work.data());
        append(out, x, n);
        if (!full) {
          auto flag = vm::svdSolveFromFactorizationDynamicSize(5, 4, in.i(0), in.i(1), s.data(),
                                                               U.data(), V.data(), b.data(),
                                                               in.d(25), y.data(), work.data());
          out.push_back(S(flag));
          append(out, y, n);
        }
        out.push_back(S(vm::svdComputeRankDynamicSize(5, 4, in.i(0), in.i(1), s.data(), in.d(25))));
        return out;
      };
      std::vector<Case> cases = randomCases(26, {sizes, sizes, sizes});
      cases[1].doubles[25] = 0.0;
      cases[2].doubles[25] = 1e9;  // nothing kept: x = 0, flag 0, rank 0
      // A rank-one matrix packed m by n.
      std::vector<Case> extra = randomCases(26, {sizes});
      for (int j = 0; j < n; ++j)
        for (int i = 0; i < m; ++i) extra[0].doubles[j * m + i] = (i + 1.0) * (j - 1.5);
      extra[0].doubles[25] = 1e-9;
      cases.push_back(extra[0]);
      // A NaN entry: no sweep converges, yet every output is written.
      cases.push_back(cases[0]);
      cases.back().doubles[0] = std::nan("");
      auto result = vela::test::checkThreePaths(compute, cases);
      EXPECT_NE(result.code.find(full ? ", TRUE, " : ", FALSE, "), std::string::npos);
      // Without unknowns nothing reads the solve.
      EXPECT_EQ(occurrences(result.code, "svdSolve("), n > 0 ? 1u : 0u) << result.code;
      EXPECT_EQ(occurrences(result.code, " = svdComputeRank("), 1u);
      EXPECT_EQ(occurrences(result.code, " = svdSolveFromFactorization("), full ? 0u : 1u);
    }
  }
}
