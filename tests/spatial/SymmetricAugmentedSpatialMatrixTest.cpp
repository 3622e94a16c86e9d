#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/ThreePaths.hpp"
#include "vela/math/SymmetricAugmentedSpatialMatrix.hpp"

namespace augmented_matrix_test {

namespace vm = vela::math;
using Spatial = math3d::SpatialVector_T<vm::Numeric>;
using SpatialMatrix = math3d::SymmetricSpatialMatrix_T<vm::Numeric>;
using Vec = vm::AugmentedSpatialVector<vm::Numeric>;
using Mat = vm::SymmetricAugmentedSpatialMatrix<vm::Numeric>;

std::mt19937 generator(17);
std::vector<double> randomValues(std::size_t n) {
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double> r(n);
  for (double& x : r) x = uniform(generator);
  return r;
}

Mat randomMatrix(std::size_t n) {
  std::vector<double> sym = randomValues(n * n);
  for (std::size_t j = 0; j < n; ++j)
    for (std::size_t i = 0; i < j; ++i) sym[i + n * j] = sym[j + n * i];
  return Mat(SpatialMatrix(randomValues(21).data()), sym, randomValues(6 * n));
}

Vec randomVector(std::size_t n) { return Vec(Spatial(randomValues(6).data()), randomValues(n)); }

std::vector<double> stacked(Vec const& v) {
  std::vector<double> r(v.spatial().values(), v.spatial().values() + 6);
  r.insert(r.end(), v.augmented().begin(), v.augmented().end());
  return r;
}

/// Expects got = full x, with full the (6 + n)-square matrix assembled
/// element by element, within a rounding bound of each row's terms.
void expectDenseProduct(Mat const& a, Vec const& x, std::vector<double> const& got) {
  std::size_t n = a.augmentedComponentDimension(), d = 6 + n;
  std::vector<double> xs = stacked(x);
  ASSERT_EQ(got.size(), d);
  for (std::size_t i = 0; i < d; ++i) {
    double y = 0.0, bound = 0.0;
    for (std::size_t j = 0; j < d; ++j) {
      double e = i < 6 && j < 6 ? a.symmetricSpatial().element(int(i), int(j))
                 : i < 6        ? a.offDiagonalAugmented()[i + 6 * (j - 6)]
                 : j < 6        ? a.offDiagonalAugmented()[j + 6 * (i - 6)]
                                : a.symmetricAugmented()[(i - 6) + n * (j - 6)];
      y += e * xs[j];
      bound += std::abs(e * xs[j]);
    }
    EXPECT_NEAR(got[i], y, 1e-14 * (1.0 + bound)) << "row " << i;
  }
}

TEST(SymmetricAugmentedSpatialMatrix, ProductsMatchTheDenseMatrix) {
  for (std::size_t n : {0u, 1u, 3u, 6u}) {
    SCOPED_TRACE("n = " + std::to_string(n));
    Mat a = randomMatrix(n);
    Vec v = randomVector(n), s(v.spatial(), n);  // a plain spatial vector acts as [vs; 0]
    auto extracted = [&](auto const& x) {
      return stacked(Vec(a.xformAndExtractSpatial(x), a.xformAndExtractAugmented(x)));
    };
    for (auto const& [x, got] :
         std::vector<std::pair<Vec, std::vector<double>>>{{v, stacked(a.xform(v))},
                                                          {v, stacked(a * v)},
                                                          {v, extracted(v)},
                                                          {s, stacked(a.xform(v.spatial()))},
                                                          {s, stacked(a * v.spatial())},
                                                          {s, extracted(v.spatial())}})
      expectDenseProduct(a, x, got);
  }
}

TEST(SymmetricAugmentedSpatialMatrix, SizesSettersAndArithmetic) {
  Mat a = randomMatrix(3), b = randomMatrix(3), sum = a, difference = a, c(3);
  // Sizes from n: n·n and 6·n values, read from pointers or zeros.
  Mat sized(b.symmetricSpatial(), 3, b.symmetricAugmented().data(),
            b.offDiagonalAugmented().data());
  EXPECT_TRUE(sized.symmetricAugmented() == b.symmetricAugmented() &&
              sized.offDiagonalAugmented() == b.offDiagonalAugmented());
  for (Mat const& z : {c, Mat(b.symmetricSpatial(), 3)}) {
    EXPECT_EQ(z.symmetricAugmented(), std::vector<double>(9, 0.0));
    EXPECT_EQ(z.offDiagonalAugmented(), std::vector<double>(18, 0.0));
    EXPECT_EQ(z.augmentedComponentDimension(), 3u);
  }
  EXPECT_TRUE(
      Mat(b.symmetricSpatial(), 3).symmetricSpatial().isOperationallyEqual(b.symmetricSpatial()));
  sum += b;
  difference -= b;
  c.symmetricAugmented(a.symmetricAugmented().data());
  c.offDiagonalAugmented(a.offDiagonalAugmented().data());
  c.addSymmetricAugmented(b.symmetricAugmented().data());
  c.addSymmetricAugmented(b.symmetricAugmented());
  c += a.symmetricSpatial();
  c -= b.symmetricSpatial();
  for (std::size_t k = 0; k < 18; ++k) {
    double x = a.offDiagonalAugmented()[k], y = b.offDiagonalAugmented()[k];
    EXPECT_TRUE(sum.offDiagonalAugmented()[k] == x + y &&
                difference.offDiagonalAugmented()[k] == x - y && c.offDiagonalAugmented()[k] == x);
    if (k >= 9) continue;
    x = a.symmetricAugmented()[k], y = b.symmetricAugmented()[k];
    EXPECT_TRUE(sum.symmetricAugmented()[k] == x + y &&
                difference.symmetricAugmented()[k] == x - y &&
                c.symmetricAugmented()[k] == x + y + y);
  }
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) {
      double x = a.symmetricSpatial().element(i, j), y = b.symmetricSpatial().element(i, j);
      EXPECT_TRUE(sum.symmetricSpatial().element(i, j) == x + y &&
                  difference.symmetricSpatial().element(i, j) == x - y &&
                  c.symmetricSpatial().element(i, j) == x - y);
    }
  Spatial s(randomValues(6).data());
  a.offDiagonalSpatialVector(1, s);
  a.addOffDiagonalSpatialVector(1, s);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(a.offDiagonalAugmented()[6 + k], 2.0 * s.coord(k));
  SpatialMatrix spatial = a.symmetricSpatial();
  a.reset();
  EXPECT_TRUE(a.symmetricAugmented() == std::vector<double>(9, 0.0) &&
              a.offDiagonalAugmented() == std::vector<double>(18, 0.0) &&
              a.symmetricSpatial().isOperationallyEqual(spatial));

  // A numeric copy of a traced matrix evaluates every element.
  std::vector<vm::TracedDouble> sym = {vm::TracedDouble::input("x")}, off(6, 0.5);
  vm::SymmetricAugmentedSpatialMatrix<vm::Traced> traced(math3d::traceable(spatial), sym, off);
  vm::BindingSet bindings;
  bindings.bind("x", 2.5);
  Mat evaluated(traced, bindings);
  EXPECT_TRUE(evaluated.symmetricAugmented() == std::vector<double>{2.5} &&
              evaluated.offDiagonalAugmented() == std::vector<double>(6, 0.5));
  EXPECT_THROW((void)Mat(traced, vm::BindingSet()), vm::UnboundInput);
  // Sizes whose n·n or 6·n wraps around are refused, not built small.
  for (std::size_t n :
       {std::size_t(1) << 32, std::size_t(1) << 63, std::numeric_limits<std::size_t>::max() / 3}) {
    EXPECT_THROW(Mat{n}, std::length_error) << n;
    EXPECT_THROW((Mat{spatial, n}), std::length_error) << n;
    EXPECT_THROW((Mat{spatial, n, nullptr, nullptr}), std::length_error) << n;
  }
}

TEST(SymmetricAugmentedSpatialMatrix, StringifyWritesTheScript) {
  auto t = [](double x) { return math3d::stringify(x); };
  std::vector<double> packed(21);
  for (int k = 0; k < 21; ++k) packed[k] = 0.5 * k - 3.0;
  SpatialMatrix ssp(packed.data());
  auto expected = [&](std::string const& off, std::string const& sym) {
    return "Isymspa = ... % Symmetric spatial component\n" + ssp.stringify() +
           ";\nIoffaug = ... % Off-diagonal augmented component\n" + off +
           ";\nIsymaug = ... % Symmetric augmented component\n" + sym +
           ";\nI       = ... % Full symmetric augmented spatial matrix\n"
           "[ Isymspa , Ioffaug ; Ioffaug' , Isymaug ];";
  };
  EXPECT_EQ(Mat(ssp, 0).stringify(), expected("double.empty(6,0)", "double.empty(0,0)"));

  // Off-diagonal columns 1..6 and 7..12.5; augmented block [1 3; 2 -0.25].
  Mat m(ssp, {1.0, 2.0, 3.0, -0.25}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12.5});
  std::string off = "[" + t(1) + ", " + t(7);
  for (int i = 2; i <= 5; ++i) off += "; ...\n " + t(i) + ", " + t(i + 6);
  off += "; ...\n " + t(6) + ", " + t(12.5) + "]";
  std::string sym = "[" + t(1) + ", " + t(3) + "; ...\n " + t(2) + ", " + t(-0.25) + "]";
  EXPECT_EQ(m.stringify(), expected(off, sym));
  EXPECT_EQ(vm::traceable(m).stringify(), m.stringify());
}

}  // namespace augmented_matrix_test
