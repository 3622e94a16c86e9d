#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "vela/math/SymmetricAugmentedSpatialMatrix.hpp"

namespace spatial_three_paths_test {

namespace vm = vela::math;

/// Every input is traced: the spatial block (21 packed values), the
/// augmented block (n·n), the off-diagonal block (6n), then two augmented
/// vectors of 6 + n coordinates each.
std::size_t inputCount(std::size_t n) { return 21 + n * n + 6 * n + 2 * (6 + n); }

auto products(std::size_t n) {
  return [n](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    using Mode = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
    using Spatial = math3d::SpatialVector_T<Mode>;
    using Vec = vm::AugmentedSpatialVector<Mode>;
    std::size_t next = 0;
    auto take = [&](std::size_t count) {
      std::vector<S> r = in.doubles(next, count);
      next += count;
      return r;
    };
    std::vector<S> packed = take(21), sym = take(n * n), off = take(6 * n);
    vm::SymmetricAugmentedSpatialMatrix<Mode> a(
        math3d::SymmetricSpatialMatrix_T<Mode>(packed.data()), sym, off);
    std::vector<S> vs = take(6), va = take(n), uSpatial = take(6), ua = take(n);
    Vec v(Spatial(vs.data()), va), u(Spatial(uSpatial.data()), ua);

    std::vector<S> out;
    auto put = [&](Spatial const& s, std::vector<S> const& augmented) {
      out.insert(out.end(), s.values(), s.values() + 6);
      out.insert(out.end(), augmented.begin(), augmented.end());
    };
    Spatial us = u.spatial();
    Vec w = v;
    w += u;
    w -= us;
    if (n > 0) w.addToAugmentedElement(n - 1, u.norm2());
    for (Vec const& x : {a.xform(v), a * v, a.xform(us), v + u, v - u, -v, v + us, v - us, w})
      put(x.spatial(), x.augmented());
    put(a.xformAndExtractSpatial(v), a.xformAndExtractAugmented(v));
    put(a.xformAndExtractSpatial(us), a.xformAndExtractAugmented(us));
    out.push_back(v.norm2());
    return out;
  };
}

std::vector<vela::test::Case> cases(std::size_t n) {
  using vela::test::kInf;
  using vela::test::kNaN;
  std::size_t count = inputCount(n);
  std::vector<vela::test::Case> r;
  for (unsigned seed : {1u, 2u}) r.push_back({vela::test::randomDoubles(count, seed), {}});
  // Signed zeros, tiny and huge magnitudes, and one non-finite value.
  std::vector<double> edges = {0.0, -0.0, 1e-300, -1e300, 5e-324, 1e154, -2.5, 0.75};
  for (double special : {kNaN, kInf}) {
    std::vector<double> d(count);
    for (std::size_t k = 0; k < count; ++k) d[k] = edges[k % edges.size()];
    d[count - 1 - n] = special;
    r.push_back({d, {}});
  }
  return r;
}

TEST(SpatialThreePaths, ProductsAndArithmeticAgreeBitForBit) {
  for (std::size_t n : {0u, 3u}) {
    SCOPED_TRACE("n = " + std::to_string(n));
    auto result = vela::test::checkThreePaths(products(n), cases(n));
    if (n > 0) {
      // The products are the dense kernels' nodes, not inline arithmetic.
      EXPECT_GE(vela::test::occurrences(result.code, "matrixVectorMultiply("), 1u);
      EXPECT_GE(vela::test::occurrences(result.code, "matrixTransposeVectorMultiply("), 1u);
      EXPECT_GE(vela::test::occurrences(result.code, "addMatrixVectorProduct("), 1u);
    }
  }
}

}  // namespace spatial_three_paths_test
