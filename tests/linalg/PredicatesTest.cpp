// Predicates and index kernels, Numeric and along the four paths.

#include "linalg/LinalgTesting.hpp"

using namespace vela::test::linalg;

namespace {

// Few distinct values (special: signed zeros, infinities, NaN).
Matrix fewValues(unsigned count, std::mt19937& generator, bool special) {
  static constexpr double plain[] = {-2.0, -1.0, 0.0, 1.0, 2.0};
  static constexpr double odd[] = {-kInf, -1.0, -0.0, 0.0, 1.0, kInf, kNaN};
  Matrix a(count);
  for (double& x : a) x = special ? odd[generator() % 7] : plain[generator() % 5];
  return a;
}

}  // namespace

TEST(Predicates, NumericAgainstDefinitions) {
  std::mt19937 generator(11);
  for (unsigned m : {0u, 1u, 2u, 3u, 7u, 8u, 9u, 10u, 17u, 40u})
    for (unsigned n : {0u, 1u, 2u, 3u, 4u, 5u, 7u})
      for (int trial = 0; trial < 10; ++trial) {
        Matrix a = fewValues(m * n, generator, trial >= 6), before = a;
        if (m >= 2 && trial % 2) {  // a copied row, sometimes changed in its last entry
          unsigned from = generator() % m, to = generator() % m;
          for (unsigned j = 0; j < n; ++j) a[j * m + to] = a[j * m + from];
          if (trial % 4 == 1 && n > 0 && from != to) a[(n - 1) * m + to] += 0.5;
          before = a;
        }
        bool unique = true;  // rows compare entry by entry with ==
        for (unsigned i = 0; i < m; ++i)
          for (unsigned k = i + 1; k < m; ++k) {
            bool equal = true;
            for (unsigned j = 0; j < n; ++j) equal = equal && a[j * m + i] == a[j * m + k];
            unique = unique && !equal;
          }
        Matrix work(m * (n >= 4 ? n + 1 : n) + 1, -7.0);  // exactly the documented size
        EXPECT_EQ(vm::hasUniqueRows(m, n, a.data(), work.data()), unique) << m << " " << n;
        EXPECT_TRUE(work.back() == -7.0 && same(a, before));
        EXPECT_EQ(vm::anyIsInf(m * n, a.data()),
                  std::any_of(a.begin(), a.end(), [](double x) { return std::isinf(x); }));
        EXPECT_EQ(vm::anyIsNaN(m * n, a.data()),
                  std::any_of(a.begin(), a.end(), [](double x) { return std::isnan(x); }));
      }
  int flags[] = {0, 3, 0, -1}, indices[] = {-5, -5, -5, -5};
  vm::computeIndicesNonzeroElements(4, flags, indices);
  EXPECT_EQ(std::vector<int>(indices, indices + 4), (std::vector<int>{1, 3, -5, -5}));
}

// Rows compared pairwise, sorted in place (n = 3) or by row numbers.
TEST(Predicates, NodesAlongFourPaths) {
  std::mt19937 generator(7);
  std::vector<Case> cases;
  for (int trial = 0; trial < 8; ++trial) {
    Matrix a = fewValues(40, generator, trial > 4);
    if (trial % 2) std::copy(a.begin(), a.begin() + 4, a.begin() + 4);  // rows 0 and 1 of 3 by 2
    cases.push_back({a, {0, 3, 0, -1, trial - 4, 2147483647 * (trial % 2)}});
  }
  cases[0].doubles[0] = 5e-324;
  checkKernel(
      [](auto const& in) {
        using S = typename std::decay_t<decltype(in)>::Scalar;
        using I = typename std::decay_t<decltype(in)>::Integer;
        std::vector<S> v = in.doubles(0, 40), out;
        for (unsigned n : {5u, 2u})
          for (auto const& b : {vm::anyIsInf(n, v.data()), vm::anyIsNaN(n, v.data())})
            out.push_back(ct::ternary(b, S(1.0), S(0.0)));
        for (auto [m, n] : {std::pair{3u, 2u}, {10u, 3u}, {10u, 4u}}) {
          std::vector<S> work(m * (n + 1));
          out.push_back(
              ct::ternary(vm::hasUniqueRows(m, n, v.data(), work.data()), S(1.0), S(0.0)));
        }
        std::vector<I> flags, indices(6, I(0));
        for (std::size_t k = 0; k < 6; ++k) flags.push_back(in.i(k));
        vm::computeIndicesNonzeroElements(6, flags.data(), indices.data());
        for (auto const& k : indices) out.push_back(S(k));
        return out;
      },
      cases,
      {" = zeph_core_math_anyIsInf(5, ", " = zeph_core_math_anyIsNaN(2, ",
       " = hasUniqueRows(3, 2, ", " = hasUniqueRows(10, 4, ",
       "zeph_core_math_computeIndicesNonzeroElements(6, "},
      {"AnyIsInf", "AnyIsNaN", "HasUniqueRows", "ComputeIndicesNonzeroElements"});
}
