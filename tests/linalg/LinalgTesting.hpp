#pragma once

// Matrices of known properties, plain references and the table row of a
// traced kernel, for the dense linear-algebra tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "linalg/LinalgReference.h"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "vela/math.hpp"

namespace vela::test::linalg {

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using Matrix = std::vector<double>;  // column-major
using vela::test::Case;
using vela::test::kInf;
using vela::test::kNaN;
using vela::test::randomDoubles;
using vela::test::sameBits;

/// rows by cols entries uniform in (-1, 1).
inline Matrix uniform(unsigned rows, unsigned cols, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  Matrix a(std::size_t(rows) * cols);
  for (double& x : a) x = value(generator);
  return a;
}

/// op(A) op(B), A ar by ac and B br by bc, by plain loops.
inline Matrix multiply(Matrix const& A, int ar, int ac, bool ta, Matrix const& B, int br, int bc,
                       bool tb) {
  int m = ta ? ac : ar, k = ta ? ar : ac, n = tb ? br : bc;
  Matrix C(std::size_t(m) * n, 0.0);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < m; ++i)
      for (int l = 0; l < k; ++l)
        C[j * m + i] += (ta ? A[i * ar + l] : A[l * ar + i]) * (tb ? B[l * br + j] : B[j * br + l]);
  return C;
}

inline double maxAbsDiff(Matrix const& a, Matrix const& b) {
  double d = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) d = std::max(d, std::fabs(a[i] - b[i]));
  return d;
}

/// max |Q^T M Q - I| for Q rows by cols (M empty: the identity).
inline double orthonormalityError(Matrix const& Q, int rows, int cols, Matrix const& M = {}) {
  Matrix MQ = M.empty() ? Q : multiply(M, rows, rows, false, Q, rows, cols, false);
  Matrix G = multiply(Q, rows, cols, true, MQ, rows, cols, false);
  for (int i = 0; i < cols; ++i) G[i * cols + i] -= 1.0;
  return maxAbsDiff(G, Matrix(G.size(), 0.0));
}

/// H diag(eigenvalues) H for H the reflector of a random vector v.
inline Matrix symmetricWithSpectrum(std::vector<double> const& eigenvalues, unsigned seed) {
  int n = static_cast<int>(eigenvalues.size());
  Matrix v = uniform(n, 1, seed), H(n * n);
  double vv = ref_sequential(n, v.data(), 1, v.data(), 1);
  for (int i = 0; i < n * n; ++i) H[i] = (i % (n + 1) == 0) - 2.0 * v[i % n] * v[i / n] / vv;
  Matrix HD = H;
  for (int i = 0; i < n * n; ++i) HD[i] *= eigenvalues[i / n];
  Matrix A = multiply(HD, n, n, false, H, n, n, false);
  for (int i = 0; i < n * n; ++i)  // exactly symmetric
    if (i % n > i / n) A[i] = A[i % n * n + i / n];
  return A;
}

/// n eigenvalues spread geometrically from 1 down to 1 / condition.
inline std::vector<double> spread(unsigned n, double condition) {
  std::vector<double> values(n, 1.0);
  for (unsigned k = 1; k < n; ++k) values[k] = std::pow(condition, -double(k) / double(n - 1));
  return values;
}

inline bool same(Matrix const& a, Matrix const& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), sameBits);
}

template <class S>
void append(std::vector<S>& out, std::vector<S> const& v, std::size_t count) {
  out.insert(out.end(), v.begin(), v.begin() + static_cast<long>(count));
}

/// Elements [0, count) of v, then zeros: past a kernel's actual size the
/// traced paths read zeros, where Numeric keeps what the array held.
template <class S, class I>
void appendMasked(std::vector<S>& out, std::vector<S> const& v, I const& count) {
  for (std::size_t i = 0; i < v.size(); ++i)
    out.push_back(ct::ternary(I(static_cast<int>(i)) < count, v[i], S(0.0)));
}

/// A size as a Numeric kernel takes it: a negative one stands for 0 (as an
/// unsigned it would clamp to the maximum instead).
inline unsigned nonNegative(int raw) { return unsigned(std::max(raw, 0)); }
inline ct::TracedInt const& nonNegative(ct::TracedInt const& raw) { return raw; }

/// Copies of the first case with the ints at `sizes` past their maxima, then
/// negative: DynamicSize kernels clamp them alike on every path.
inline void addOutOfRange(std::vector<Case>& cases, std::vector<std::size_t> const& sizes,
                          std::vector<int> const& raws = {INT_MAX, 1000, 13, -1, INT_MIN}) {
  for (int raw : raws) {
    cases.push_back(cases[0]);
    for (std::size_t k : sizes) cases.back().ints[k] = raw;
  }
}

inline std::vector<Case> randomCases(std::size_t doubles,
                                     std::vector<std::vector<int>> const& ints) {
  std::vector<Case> cases;
  unsigned seed = 11;
  for (auto const& i : ints) cases.push_back({randomDoubles(doubles, ++seed), i});
  return cases;
}

/// The inputs of a case as constant traced values, shaped as Inputs<Traced>.
struct ConstantInputs {
  using Scalar = ct::TracedDouble;
  using Integer = ct::TracedInt;
  explicit ConstantInputs(Case const& c)
      : d_(c.doubles.begin(), c.doubles.end()), i_(c.ints.begin(), c.ints.end()) {}
  Scalar const& d(std::size_t i) const { return d_.at(i); }
  Integer const& i(std::size_t k) const { return i_.at(k); }
  std::vector<Scalar> doubles(std::size_t first, std::size_t n) const {
    return std::vector<Scalar>(d_.begin() + first, d_.begin() + first + n);
  }
  std::vector<Scalar> d_;
  std::vector<Integer> i_;
};

/// The nodes' descriptions; no node evaluates more of an output than is read.
inline std::set<std::string> descriptions(std::vector<ct::TracedDouble> const& values,
                                          ct::BindingSet const& bindings) {
  std::vector<ct::OperationPtr> stack;
  std::map<ct::OperationPtr, std::vector<unsigned>> read;  // per output
  std::set<std::string> names;
  for (auto const& v : values) stack.push_back(v.operation());
  for (std::set<ct::Operation const*> seen; !stack.empty();) {
    ct::OperationPtr node = stack.back();
    stack.pop_back();
    if (!node || !seen.insert(node.get()).second) continue;
    names.insert(node->description());
    unsigned output = 0, index = 0;
    if (std::sscanf(node->description().c_str(), "Element [%u, %u]", &output, &index) == 2) {
      auto& counts = read[node->input(0)];
      counts.resize(std::max<std::size_t>(counts.size(), output + 1));
      counts[output] = std::max(counts[output], index + 1);
    }
    for (std::size_t i = 0; i < node->inputCount(); ++i) stack.push_back(node->input(i));
  }
  for (auto const& [node, counts] : read) {
    std::vector<ct::VectorValue> outputs = bindings.evaluateVector(node);
    for (std::size_t o = 0; o < counts.size() && o < outputs.size(); ++o)  // 0: none read
      EXPECT_LE(counts[o] ? outputs[o].size() : 0, counts[o]) << node->description() << o;
  }
  return names;
}

/// The description of the node that an output element reads.
inline std::string nodeOf(ct::TracedDouble const& v) {
  return v.operation()->input(0)->description();
}

/// A row of a kernel table: `compute` along the four paths; `code` in the C
/// (after "!": not in it); `nodes` among the descriptions; on constants, the
/// Numeric results, all constant unless some nodes never fold (`kept`: these
/// are still recorded on the first case).
template <class Compute>
void checkKernel(Compute const& compute, std::vector<Case> const& cases,
                 std::vector<std::string> const& code, std::vector<std::string> const& nodes,
                 std::vector<std::string> const& kept = {}) {
  ThreePathResult result = checkThreePaths(compute, cases);
  for (std::string const& t : code)
    EXPECT_EQ(t[0] == '!', result.code.find(t.substr(t[0] == '!')) == std::string::npos)
        << t << "\n"
        << result.code;
  ct::BindingSet bindings;
  for (std::size_t i = 0; i < cases[0].doubles.size(); ++i)
    bindings.bind("d" + std::to_string(i), cases[0].doubles[i]);
  for (std::size_t k = 0; k < cases[0].ints.size(); ++k)
    bindings.bind("i" + std::to_string(k), cases[0].ints[k]);
  std::set<std::string> names = descriptions(result.traced, bindings);
  for (std::string const& node : nodes) EXPECT_EQ(names.count(node), 1u) << node;
  for (Case const& c : cases) {
    std::vector<double> numeric = compute(Inputs<vm::Numeric>(c));
    std::vector<ct::TracedDouble> constant = compute(ConstantInputs(c));
    ASSERT_EQ(constant.size(), numeric.size());
    bool all = true;
    for (std::size_t j = 0; j < numeric.size(); ++j) {
      double v = 0.0;
      all = constant[j].getConstant(v) && all;
      if (!constant[j].isConstant()) v = constant[j].evaluate(ct::BindingSet());
      EXPECT_TRUE(sameBits(v, numeric[j])) << "constant inputs, output " << j;
    }
    EXPECT_EQ(all, kept.empty());
    std::set<std::string> recorded = descriptions(constant, {});
    for (std::size_t k = 0; k < kept.size() && &c == &cases[0]; ++k)
      EXPECT_EQ(recorded.count(kept[k]), 1u) << kept[k];
  }
}

}  // namespace vela::test::linalg
