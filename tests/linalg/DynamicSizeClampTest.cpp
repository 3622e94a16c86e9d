// Every DynamicSize kernel clamps sizes past [0, max] alike on four paths.

#include <climits>
#include <tuple>

#include "linalg/LinalgTesting.hpp"

using namespace vela::test::linalg;

namespace {

// As a Numeric (unsigned) size a negative one stands for 0.
int nonNegative(int raw) { return std::max(raw, 0); }
ct::TracedInt nonNegative(ct::TracedInt const& raw) { return raw; }

// A row's inputs: sizes, 28 values a, SPD b, scratch w, and o = a.
template <class S, class I>
struct Context {
  std::vector<S> x;
  I raw, r = nonNegative(raw);
  std::vector<S> out = x, B = std::vector<S>{3, 0, 0, 0, 3, 0, 0, 0, 3}, work = x;
  std::vector<I> at = {I(1), I(3), I(0), I(2)};
  S const *a = x.data(), *b = B.data();
  S *o = out.data(), *w = (work.resize(80), work.data());
  template <class V>
  void put(std::size_t k, V const& v) {
    out[k] = S(v);
  }
};

// A row: elements of o defined at the maxima and at 0, and the call.
#define ROW(full, empty, ...) \
  std::make_tuple(std::size_t(full), std::size_t(empty), [](auto& c) { __VA_ARGS__; })

auto const kRows = std::make_tuple(
    ROW(4, 0, vm::vectorAddDynamicSize(4, c.r, c.a, c.a + 4, c.o)),
    ROW(4, 0, vm::vectorSubtractDynamicSize(4, c.r, c.a, c.a + 4, c.o)),
    ROW(12, 0, vm::transposeColMajorDynamicSize(3, 4, c.r, c.r, c.a, c.o)),
    ROW(6, 0, vm::shiftColumnsDynamicSize(3, 4, c.r, c.r, decltype(c.r)(2), c.a, c.o)),
    ROW(12, 0, vm::scaleColumnsDynamicSize(3, 4, c.r, c.r, c.a, c.a + 12, c.o)),
    ROW(12, 0, vm::inverseScaleColumnsDynamicSize(3, 4, c.r, c.r, c.a, c.a + 12, c.o)),
    ROW(12, 0, vm::scaleRowsDynamicSize(3, 4, c.r, c.r, c.a, c.a + 12, c.o)),
    ROW(12, 0, vm::inverseScaleRowsDynamicSize(3, 4, c.r, c.r, c.a, c.a + 12, c.o)),
    ROW(4, 4, vm::expandVector(4, c.raw, c.at.data(), c.o)),  // past [0, 4] nothing happens
    // In place, the copy covers the actual m * n only.
    ROW(12, 0, vm::reduceMatrixDynamicSize(3, 4, c.r, c.r, decltype(c.r)(2), c.at.data(), c.o)),
    ROW(12, 12, vm::submatrixAssignDynamicSize(12, 12, c.r, c.r, c.r, c.r, c.r, c.r, c.a + 4, c.o)),
    ROW(9, 0, vm::matrixMultiplyDynamicSize(3, 4, 3, c.r, c.r, c.r, c.a, c.a + 12, c.o)),
    ROW(16, 0, vm::matrixTransposeMultiplyDynamicSize(3, 4, 4, c.r, c.r, c.r, c.a, c.a + 12, c.o)),
    ROW(9, 0, vm::matrixMultiplyTransposeDynamicSize(3, 4, 3, c.r, c.r, c.r, c.a, c.a + 12, c.o)),
    ROW(12, 0,
        vm::matrixMultiplyStridedDynamicSize(4, 4, 3, 3, 3, c.r, c.r, c.r, c.r, c.r, c.r, c.a,
                                             c.a + 12, c.o)),
    ROW(3, 0, vm::matrixVectorMultiplyDynamicSize(3, 4, c.r, c.r, c.a, c.a + 24, c.o)),
    ROW(4, 0, vm::matrixTransposeVectorMultiplyDynamicSize(3, 4, c.r, c.r, c.a, c.a + 24, c.o)),
    // The copy of y before an update covers the actual count only.
    ROW(3, 0, vm::addMatrixVectorProductDynamicSize(3, 4, c.r, c.r, c.a, c.a + 24, c.o)),
    ROW(3, 0, vm::subtractMatrixVectorProductDynamicSize(3, 4, c.r, c.r, c.a, c.a + 24, c.o)),
    ROW(4, 0, vm::addMatrixTransposeVectorProductDynamicSize(3, 4, c.r, c.r, c.a, c.a + 24, c.o)),
    ROW(4, 0,
        vm::subtractMatrixTransposeVectorProductDynamicSize(3, 4, c.r, c.r, c.a, c.a + 24, c.o)),
    ROW(24, 0,
        vm::eigDynamicSize(3, c.r, c.a, c.b, c.o, c.o + 3, c.o + 6, c.o + 15, c.w, c.at.data())),
    ROW(10, 10,
        c.put(9, vm::orthonormalizeRealEigenvectorsWrtSpdBDynamicSize(3, c.r, c.b, c.o, c.w))),
    ROW(15, 0, vm::svdDynamicSize(3, 2, c.r, c.r, c.a, 1, c.o, c.o + 2, c.o + 11, c.w)),
    ROW(1, 1, c.put(0, vm::svdComputeRankDynamicSize(3, 2, c.r, c.r, c.a, c.a[27]))),
    ROW(2, 0, vm::svdSolveDynamicSize(3, 2, c.r, c.r, c.a, c.a + 9, c.a[27], c.o, c.w)),
    ROW(15, 1, vm::svdDynamicSize(3, 2, c.r, c.r, c.a, 0, c.o + 3, c.o + 5, c.o + 11, c.w);
        c.put(0, vm::svdSolveFromFactorizationDynamicSize(
                     3, 2, c.r, c.r, c.o + 3, c.o + 5, c.o + 11, c.a + 9, c.a[27], c.o + 1, c.w))));

TEST(DynamicSizeClamp, EveryKernelClampsItsSizes) {
  for (bool full : {true, false}) {
    std::vector<Case> cases;
    for (int raw : full ? std::vector<int>{INT_MAX, 1000, 13} : std::vector<int>{-1, INT_MIN, 0})
      cases.push_back({randomDoubles(28, cases.size() + 5), {raw}});
    cases[0].doubles[27] = 1e-12;
    vela::test::checkThreePaths(
        [full](auto const& in) {
          using S = typename std::decay_t<decltype(in)>::Scalar;
          std::vector<S> all;
          auto run = [&](auto const& row) {
            Context<S, typename std::decay_t<decltype(in)>::Integer> c{in.doubles(0, 28), in.i(0)};
            std::get<2>(row)(c);
            all.insert(all.end(), c.out.begin(),
                       c.out.begin() + (full ? std::get<0>(row) : std::get<1>(row)));
          };
          std::apply([&](auto const&... rows) { (run(rows), ...); }, kRows);
          return all;
        },
        cases);
  }
}

}  // namespace
