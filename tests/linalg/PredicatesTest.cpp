#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "linalg/PredicateOps.hpp"
#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "support/TracedNodes.hpp"
#include "vela/math.hpp"

namespace ct = kelm_math::comp_trace;
using ct::TracedBool;
using ct::TracedDouble;
using ct::TracedInt;
namespace vm = vela::math;

namespace {

using namespace vela::test;

// Rows i and k of a column-major m by n matrix, compared entry by entry.
bool rowsEqual(std::vector<double> const& a, unsigned m, unsigned n, unsigned i, unsigned k) {
  for (unsigned j = 0; j < n; ++j)
    if (!(a[j * m + i] == a[j * m + k])) return false;
  return true;
}

bool uniqueByPairs(std::vector<double> const& a, unsigned m, unsigned n) {
  for (unsigned i = 0; i < m; ++i)
    for (unsigned k = i + 1; k < m; ++k)
      if (rowsEqual(a, m, n, i, k)) return false;
  return true;
}

std::size_t workSize(unsigned m, unsigned n) { return std::size_t(m) * (n >= 4 ? n + 1 : n); }

// Runs the Numeric kernel with exactly the documented scratch storage,
// followed by a guard that must stay untouched.
bool uniqueChecked(std::vector<double> const& a, unsigned m, unsigned n) {
  std::vector<double> work(workSize(m, n) + 1, -7.0);
  std::vector<double> const before = a;
  bool unique = vm::hasUniqueRows(m, n, a.data(), work.data());
  EXPECT_EQ(work.back(), -7.0) << "scratch overrun for m = " << m << ", n = " << n;
  for (std::size_t k = 0; k < a.size(); ++k) EXPECT_TRUE(vela::test::sameBits(a[k], before[k]));
  return unique;
}

// Few distinct values, so that random rows often coincide in some columns;
// with `special`, signed zeros, infinities and NaNs among them.
std::vector<double> randomMatrix(unsigned m, unsigned n, std::mt19937& generator,
                                 bool special = false) {
  static constexpr double plain[] = {-2.0, -1.0, 0.0, 1.0, 2.0};
  static constexpr double odd[] = {-kInf, -1.0, -0.0, 0.0, 1.0, kInf, kNaN};
  std::uniform_int_distribution<int> pick(0, special ? 6 : 4);
  std::vector<double> a(std::size_t(m) * n);
  for (double& x : a) x = special ? odd[pick(generator)] : plain[pick(generator)];
  return a;
}

void copyRow(std::vector<double>& a, unsigned m, unsigned n, unsigned from, unsigned to) {
  for (unsigned j = 0; j < n; ++j) a[j * m + to] = a[j * m + from];
}

}  // namespace

TEST(Predicates, NumericInfAndNaN) {
  EXPECT_FALSE(vm::anyIsInf(0, static_cast<double const*>(nullptr)));
  EXPECT_FALSE(vm::anyIsNaN(0, static_cast<double const*>(nullptr)));
  double both[] = {1.0, kNaN, -0.0, -kInf};
  EXPECT_TRUE(vm::anyIsInf(4, both));
  EXPECT_TRUE(vm::anyIsNaN(4, both));
  EXPECT_FALSE(vm::anyIsInf(3, both));  // the infinity lies past n
  EXPECT_FALSE(vm::anyIsNaN(1, both));

  std::mt19937 generator(5);
  for (unsigned n = 1; n < 12; ++n) {
    std::vector<double> v = vela::test::randomDoubles(n, n);
    std::uniform_int_distribution<unsigned> position(0, n - 1);
    std::uniform_int_distribution<int> kind(0, 3);
    v[position(generator)] = std::array<double, 4>{kInf, -kInf, kNaN, 1e308}[kind(generator)];
    bool hasInf = std::any_of(v.begin(), v.end(), [](double x) { return std::isinf(x); });
    bool hasNaN = std::any_of(v.begin(), v.end(), [](double x) { return std::isnan(x); });
    EXPECT_EQ(vm::anyIsInf(n, v.data()), hasInf) << n;
    EXPECT_EQ(vm::anyIsNaN(n, v.data()), hasNaN) << n;
  }
}

TEST(Predicates, NumericUniqueRowsAgreeWithPairwiseComparison) {
  std::mt19937 generator(11);
  for (unsigned m : {0u, 1u, 2u, 3u, 7u, 8u, 9u, 10u, 17u, 40u}) {
    for (unsigned n : {0u, 1u, 2u, 3u, 4u, 5u, 7u}) {
      for (int trial = 0; trial < 10; ++trial) {
        std::vector<double> a = randomMatrix(m, n, generator, trial >= 6);
        if (m >= 2 && trial % 2 == 1) {
          std::uniform_int_distribution<unsigned> row(0, m - 1);
          unsigned from = row(generator), to = row(generator);
          copyRow(a, m, n, from, to);
          // Some copies then differ only in their last column.
          if (trial % 4 == 1 && n > 0 && from != to) a[(n - 1) * m + to] += 0.5;
        }
        EXPECT_EQ(uniqueChecked(a, m, n), uniqueByPairs(a, m, n))
            << "m = " << m << ", n = " << n << ", trial " << trial;
      }
    }
  }
}

TEST(Predicates, NumericUniqueRowsSpecialValues) {
  for (unsigned m : {2u, 12u}) {  // the pairwise and the sorting paths
    for (unsigned n : {2u, 5u}) {
      std::vector<double> a(std::size_t(m) * n);
      for (unsigned i = 0; i < m; ++i)
        for (unsigned j = 0; j < n; ++j) a[j * m + i] = 10.0 * i + j;
      ASSERT_TRUE(uniqueChecked(a, m, n));
      // -0 and +0 are the same entry.
      copyRow(a, m, n, 0, m - 1);
      a[m - 1] = -0.0;
      a[0] = 0.0;
      EXPECT_FALSE(uniqueChecked(a, m, n)) << m << " " << n;
      // Rows holding a NaN equal nothing, not even a copy of themselves.
      a[(n - 1) * m] = kNaN;
      a[(n - 1) * m + m - 1] = kNaN;
      EXPECT_TRUE(uniqueChecked(a, m, n)) << m << " " << n;
      // Infinities compare as numbers.
      a[(n - 1) * m] = -kInf;
      a[(n - 1) * m + m - 1] = -kInf;
      EXPECT_FALSE(uniqueChecked(a, m, n)) << m << " " << n;
    }
  }
  // Empty rows are all alike.
  EXPECT_FALSE(uniqueChecked({}, 2, 0));
  EXPECT_TRUE(uniqueChecked({}, 1, 0));
}

TEST(Predicates, IndicesOfNonzeroFlagsInEachPath) {
  int flags[] = {0, 3, 0, -1};
  int indices[] = {-5, -5, -5, -5};
  vm::computeIndicesNonzeroElements(4, flags, indices);
  EXPECT_EQ(std::vector<int>(indices, indices + 4), (std::vector<int>{1, 3, -5, -5}));

  TracedInt constantFlags[] = {0, 3, 0, -1};
  TracedInt folded[] = {-5, -5, -5, -5};
  vm::computeIndicesNonzeroElements(4, constantFlags, folded);
  int expected[] = {1, 3, 0, 0};
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(folded[k].equalConstant(expected[k])) << k;

  TracedInt tracedFlags[] = {0, TracedInt::input("f"), 0, -1};
  TracedInt recorded[4];
  vm::computeIndicesNonzeroElements(4, tracedFlags, recorded);
  auto const* node = nodeOf<vm::ComputeIndicesNonzeroElementsOp>(recorded[3]);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node, nodeOf(recorded[0]));
  EXPECT_EQ(node->description(), "ComputeIndicesNonzeroElements");
  auto const& collect = dynamic_cast<ct::CollectOp const&>(*node->input(0));
  EXPECT_EQ(collect.elementType(), ct::ScalarType::Int);
  EXPECT_EQ(collect.size(), 4u);
  ct::BindingSet bindings;
  bindings.bind("f", 3);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(recorded[k].evaluate(bindings), expected[k]) << k;
  bindings.bind("f", 0);
  EXPECT_EQ(recorded[0].evaluate(bindings), 3);
  EXPECT_EQ(recorded[1].evaluate(bindings), 0);
}

TEST(Predicates, FoldOnlyWhenEveryEntryIsConstant) {
  TracedDouble constants[] = {1.0, kInf, 2.0, 3.0, 4.0, 1.0, kInf, 2.0};
  bool value = false;
  ASSERT_TRUE(vm::anyIsInf(3, constants).getConstant(value));
  EXPECT_TRUE(value);
  ASSERT_TRUE(vm::anyIsNaN(3, constants).getConstant(value));
  EXPECT_FALSE(value);
  std::vector<TracedDouble> untouched(8, TracedDouble(-1.0));
  TracedDouble matrix[] = {1.0, 2.0, 1.0, 5.0, 6.0, 5.0};
  ASSERT_TRUE(vm::hasUniqueRows(3, 2, matrix, untouched.data()).getConstant(value));
  EXPECT_FALSE(value);  // rows (1, 5), (2, 6), (1, 5)
  ASSERT_TRUE(vm::hasUniqueRows(2, 3, matrix, untouched.data()).getConstant(value));
  EXPECT_TRUE(value);  // rows (1, 1, 6), (2, 5, 5)
  for (auto const& w : untouched) EXPECT_TRUE(w.equalConstant(-1.0));

  // An infinite constant does not decide while another entry is traced.
  TracedDouble mixed[] = {kInf, TracedDouble::input("x"), 2.0, 1.0};
  TracedBool isInf = vm::anyIsInf(4, mixed);
  auto const* infNode = scalarNodeOf<vm::AnyIsInfOp>(isInf);
  ASSERT_NE(infNode, nullptr);
  EXPECT_EQ(infNode->description(), "AnyIsInf");
  EXPECT_EQ(infNode->scalarType(), ct::ScalarType::Bool);
  EXPECT_EQ(collectSize(*infNode, 0), 4u);
  auto const* nanNode = scalarNodeOf<vm::AnyIsNaNOp>(vm::anyIsNaN(4, mixed));
  ASSERT_NE(nanNode, nullptr);
  EXPECT_EQ(nanNode->description(), "AnyIsNaN");
  TracedBool unique = vm::hasUniqueRows(2, 2, mixed, untouched.data());
  auto const* rowsNode = scalarNodeOf<vm::HasUniqueRowsOp>(unique);
  ASSERT_NE(rowsNode, nullptr);
  EXPECT_EQ(rowsNode->description(), "HasUniqueRows");
  EXPECT_EQ(collectSize(*rowsNode, 0), 4u);
  for (auto const& w : untouched) EXPECT_TRUE(w.equalConstant(-1.0));

  ct::BindingSet bindings;
  bindings.bind("x", 2.0);  // rows (kInf, 2) and (x, 1)
  EXPECT_TRUE(isInf.evaluate(bindings));
  EXPECT_TRUE(unique.evaluate(bindings));
  bindings.bind("x", kInf);
  EXPECT_TRUE(unique.evaluate(bindings));
  mixed[3] = 2.0;
  TracedBool same = vm::hasUniqueRows(2, 2, mixed, nullptr);
  EXPECT_FALSE(same.evaluate(bindings));  // (kInf, 2) twice
}

TEST(Predicates, CompareAndClone) {
  std::vector<TracedDouble> v = tracedInputs("v", 12);
  auto values = std::make_shared<ct::CollectOp>(12, v.data(), "");
  auto rows = [&](unsigned m, unsigned n) { return vm::HasUniqueRowsOp(m, n, values); };
  expectOrdered(rows(3, 5), rows(4, 3));  // m decides first
  expectOrdered(rows(3, 4), rows(3, 5));  // then n
  expectOrdered(rows(2, 6), rows(3, 4));
  EXPECT_THROW(rows(3, 4).compare_(*values), std::bad_cast);
  expectOrdered(vm::AnyIsInfOp(5, values), vm::AnyIsInfOp(7, values));
  expectOrdered(vm::AnyIsNaNOp(5, values), vm::AnyIsNaNOp(7, values));
  EXPECT_THROW(vm::AnyIsInfOp(5, values).compare_(vm::AnyIsNaNOp(5, values)), std::bad_cast);
  std::vector<TracedInt> f = {TracedInt::input("f0"), TracedInt::input("f1")};
  auto flags = std::make_shared<ct::CollectOp>(2, f.data(), "");
  vm::ComputeIndicesNonzeroElementsOp indices2(2, flags), indices3(3, flags);
  expectOrdered(indices2, indices3);
  expectClone(indices3);
  expectClone(vm::AnyIsInfOp(7, values));
  expectClone(vm::AnyIsNaNOp(5, values));
  expectClone(rows(4, 3));
}

TEST(Predicates, InfAndNaNOnThreePaths) {
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    std::vector<S> v = in.doubles(0, 5);
    return std::vector<S>{ct::ternary(vm::anyIsInf(5, v.data()), S(1.0), S(0.0)),
                          ct::ternary(vm::anyIsNaN(5, v.data()), S(1.0), S(0.0)),
                          ct::ternary(vm::anyIsInf(2, v.data() + 3), S(1.0), S(0.0))};
  };
  std::vector<vela::test::Case> cases = {{{1.0, -0.0, 5e-324, 1e308, -2.0}, {}},
                                         {{1.0, kInf, 0.0, 3.0, kNaN}, {}},
                                         {{kNaN, kNaN, 1.0, 2.0, -kInf}, {}},
                                         {{0.0, 0.0, 0.0, -kInf, 0.0}, {}}};
  for (unsigned seed = 0; seed < 3; ++seed)
    cases.push_back({vela::test::randomDoubles(5, seed), {}});
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_NE(result.code.find(" = zeph_core_math_anyIsInf(5, "), std::string::npos) << result.code;
  EXPECT_NE(result.code.find(" = zeph_core_math_anyIsNaN(5, "), std::string::npos);
  EXPECT_NE(result.code.find(" = zeph_core_math_anyIsInf(2, "), std::string::npos);
}

TEST(Predicates, UniqueRowsOnThreePaths) {
  struct Shape {
    unsigned m, n;
  };
  // Pairwise (few rows), rows sorted in place (n = 3), through row numbers (n = 4).
  for (Shape shape : {Shape{3, 2}, Shape{10, 3}, Shape{10, 4}}) {
    unsigned m = shape.m, n = shape.n;
    auto compute = [m, n](auto const& in) {
      using S = typename std::decay_t<decltype(in)>::Scalar;
      std::vector<S> a = in.doubles(0, m * n), work(workSize(m, n));
      return std::vector<S>{
          ct::ternary(vm::hasUniqueRows(m, n, a.data(), work.data()), S(1.0), S(0.0))};
    };
    std::mt19937 generator(m * 10 + n);
    std::vector<vela::test::Case> cases;
    for (int trial = 0; trial < 8; ++trial) {
      std::vector<double> a = randomMatrix(m, n, generator);
      std::uniform_int_distribution<unsigned> row(0, m - 1);
      unsigned from = row(generator), to = (from + 1 + row(generator) % (m - 1)) % m;
      if (trial >= 2) copyRow(a, m, n, from, to);
      if (trial == 3) a[(n - 1) * m + to] = std::nextafter(a[(n - 1) * m + to], kInf);
      if (trial == 4) a[to] = a[to] == 0.0 ? -0.0 : a[to];
      if (trial == 5) a[from] = a[to] = kNaN;
      if (trial == 6) a[from] = a[to] = -kInf;
      cases.push_back({a, {}});
    }
    auto result = vela::test::checkThreePaths(compute, cases);
    std::string call = " = hasUniqueRows(" + std::to_string(m) + ", " + std::to_string(n) + ", ";
    EXPECT_NE(result.code.find(call), std::string::npos) << result.code;
  }
}

TEST(Predicates, UniqueRowsReservesItsScratchStorage) {
  // The matrix comes in through in[]; the scratchpad holds its collect and
  // the temporary, so its size tells the temporary's.
  for (unsigned n : {3u, 4u}) {
    unsigned m = 5;
    std::vector<TracedDouble> a = tracedInputs("a", m * n);
    std::vector<std::string> names;
    for (unsigned k = 0; k < m * n; ++k) names.push_back("a" + std::to_string(k));
    std::vector<TracedDouble> out = {TracedDouble(vm::hasUniqueRows(m, n, a.data(), nullptr))};
    std::string code = ct::generateCFunction("unique", names, out);
    std::size_t doubles = m * n + (n == 3 ? 3 * m : 5 * m);
    EXPECT_NE(code.find("double spd[" + std::to_string(doubles) + "];"), std::string::npos) << code;
    EXPECT_NE(code.find("hasUniqueRows(5, " + std::to_string(n) + ", &spd[0], &spd[" +
                        std::to_string(m * n) + "]);"),
              std::string::npos)
        << code;
  }
}

TEST(Predicates, IndicesOnThreePaths) {
  auto compute = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using I = typename std::decay_t<decltype(in)>::Integer;
    // The entries past the last index: as they were in Numeric (zeros
    // here), zeros in evaluation and in generated C.
    std::vector<I> flags, indices(6, I(0));
    for (std::size_t k = 0; k < 6; ++k) flags.push_back(in.i(k));
    vm::computeIndicesNonzeroElements(6, flags.data(), indices.data());
    std::vector<S> out;
    for (int k = 0; k < 6; ++k) out.push_back(S(indices[k]));
    return out;
  };
  std::vector<vela::test::Case> cases = {{{}, {0, 3, 0, -1, 0, 0}},
                                         {{}, {0, 0, 0, 0, 0, 0}},
                                         {{}, {1, 1, 1, 1, 1, 1}},
                                         {{}, {0, 0, 0, 0, 0, -7}},
                                         {{}, {2147483647, 0, -2147483647 - 1, 0, 5, 0}}};
  auto result = vela::test::checkThreePaths(compute, cases);
  EXPECT_NE(result.code.find("zeph_core_math_computeIndicesNonzeroElements(6, "), std::string::npos)
      << result.code;
}
