#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "support/ThreePaths.hpp"
#include "vela/math/SymmetricAugmentedSpatialMatrix.hpp"

namespace augmented_matrix_test {

namespace vm = vela::math;
using vela::test::sameBits;
using Spatial = math3d::SpatialVector_T<vm::Numeric>;
using SpatialMatrix = math3d::SymmetricSpatialMatrix_T<vm::Numeric>;
using V3 = math3d::Vector3_T<vm::Numeric>;
using Vec = vm::AugmentedSpatialVector<vm::Numeric>;
using Mat = vm::SymmetricAugmentedSpatialMatrix<vm::Numeric>;

struct Random {
  std::mt19937 generator;
  std::uniform_real_distribution<double> uniform{-1.0, 1.0};
  explicit Random(unsigned seed) : generator(seed) {}
  std::vector<double> values(std::size_t n) {
    std::vector<double> r(n);
    for (double& x : r) x = uniform(generator);
    return r;
  }
};

/// A random matrix with a symmetric augmented block.
Mat randomMatrix(std::size_t n, Random& random) {
  std::vector<double> packed = random.values(21), sym(n * n);
  for (std::size_t j = 0; j < n; ++j)
    for (std::size_t i = j; i < n; ++i)
      sym[i + n * j] = sym[j + n * i] = random.uniform(random.generator);
  return Mat(SpatialMatrix(packed.data()), sym, random.values(6 * n));
}

Vec randomVector(std::size_t n, Random& random) {
  std::vector<double> s = random.values(6);
  return Vec(Spatial(s.data()), random.values(n));
}

/// The full (6 + n)-square matrix, column-major, assembled element by element.
std::vector<double> dense(Mat const& a) {
  std::size_t n = a.augmentedComponentDimension(), d = 6 + n;
  std::vector<double> full(d * d);
  for (std::size_t i = 0; i < d; ++i)
    for (std::size_t j = 0; j < d; ++j) {
      double x;
      if (i < 6 && j < 6)
        x = a.symmetricSpatial().element(int(i), int(j));
      else if (i < 6)
        x = a.offDiagonalAugmented()[i + 6 * (j - 6)];
      else if (j < 6)
        x = a.offDiagonalAugmented()[j + 6 * (i - 6)];
      else
        x = a.symmetricAugmented()[(i - 6) + n * (j - 6)];
      full[i + d * j] = x;
    }
  return full;
}

std::vector<double> stacked(Vec const& v) {
  std::vector<double> r(v.spatial().values(), v.spatial().values() + 6);
  r.insert(r.end(), v.augmented().begin(), v.augmented().end());
  return r;
}

/// full x, with the magnitude sum of each row's terms for a rounding bound.
void denseProduct(std::vector<double> const& full, std::vector<double> const& x,
                  std::vector<double>& y, std::vector<double>& bound) {
  std::size_t d = x.size();
  y.assign(d, 0.0);
  bound.assign(d, 0.0);
  for (std::size_t i = 0; i < d; ++i)
    for (std::size_t j = 0; j < d; ++j) {
      y[i] += full[i + d * j] * x[j];
      bound[i] += std::abs(full[i + d * j] * x[j]);
    }
}

void expectClose(double const* got, std::vector<double> const& want,
                 std::vector<double> const& bound, std::size_t first, std::size_t count,
                 std::string const& what) {
  for (std::size_t k = 0; k < count; ++k)
    EXPECT_NEAR(got[k], want[first + k], 1e-14 * (1.0 + bound[first + k])) << what << " " << k;
}

TEST(SymmetricAugmentedSpatialMatrix, ProductsMatchTheDenseMatrix) {
  Random random(17);
  for (std::size_t n : {0u, 1u, 3u, 6u}) {
    SCOPED_TRACE("n = " + std::to_string(n));
    Mat a = randomMatrix(n, random);
    Vec v = randomVector(n, random);
    std::vector<double> full = dense(a), y, bound;

    denseProduct(full, stacked(v), y, bound);
    Vec w = a.xform(v);
    ASSERT_EQ(w.augmentedComponentDimension(), n);
    expectClose(w.spatial().values(), y, bound, 0, 6, "xform spatial");
    expectClose(w.augmented().data(), y, bound, 6, n, "xform augmented");
    Spatial ws = a.xformAndExtractSpatial(v);
    std::vector<double> wa = a.xformAndExtractAugmented(v);
    ASSERT_EQ(wa.size(), n);
    Vec product = a * v;
    for (int k = 0; k < 6; ++k) {
      EXPECT_TRUE(sameBits(ws.coord(k), w.spatial().coord(k)));
      EXPECT_TRUE(sameBits(product.spatial().coord(k), w.spatial().coord(k)));
    }
    for (std::size_t i = 0; i < n; ++i) {
      EXPECT_TRUE(sameBits(wa[i], w.augmented()[i]));
      EXPECT_TRUE(sameBits(product.augmented()[i], w.augmented()[i]));
    }

    // A plain spatial vector acts as one with a zero augmented part.
    Spatial s = v.spatial();
    denseProduct(full, stacked(Vec(s, n)), y, bound);
    Vec u = a.xform(s);
    ASSERT_EQ(u.augmentedComponentDimension(), n);
    expectClose(u.spatial().values(), y, bound, 0, 6, "xform(vs) spatial");
    expectClose(u.augmented().data(), y, bound, 6, n, "xform(vs) augmented");
    expectClose(a.xformAndExtractSpatial(s).values(), y, bound, 0, 6, "extract spatial(vs)");
    std::vector<double> ua = a.xformAndExtractAugmented(s);
    ASSERT_EQ(ua.size(), n);
    expectClose(ua.data(), y, bound, 6, n, "extract augmented(vs)");
    Vec uProduct = a * s;
    for (std::size_t i = 0; i < n; ++i) EXPECT_TRUE(sameBits(uProduct.augmented()[i], ua[i]));
  }
}

TEST(SymmetricAugmentedSpatialMatrix, ProductIsSymmetric) {
  Random random(5);
  for (std::size_t n : {0u, 2u, 5u}) {
    Mat a = randomMatrix(n, random);
    // Once in full, once with only the off-diagonal block, which the two
    // extract forms must transpose into each other.
    Mat offOnly(SpatialMatrix(), std::vector<double>(n * n, 0.0), a.offDiagonalAugmented());
    for (Mat const* m : {&a, &offOnly}) {
      Vec u = randomVector(n, random), v = randomVector(n, random);
      std::vector<double> au = stacked(m->xform(u)), av = stacked(m->xform(v));
      std::vector<double> us = stacked(u), vs = stacked(v);
      double uAv = 0.0, vAu = 0.0, scale = 0.0;
      for (std::size_t k = 0; k < us.size(); ++k) {
        uAv += us[k] * av[k];
        vAu += vs[k] * au[k];
        scale += std::abs(us[k] * av[k]) + std::abs(vs[k] * au[k]);
      }
      EXPECT_NEAR(uAv, vAu, 1e-14 * (1.0 + scale)) << "n = " << n;
    }
  }
}

TEST(SymmetricAugmentedSpatialMatrix, SimpleBlocksGiveKnownProducts) {
  // Empty augmented part: the spatial block alone.
  Random random(9);
  Mat a0 = randomMatrix(0, random);
  Vec v0 = randomVector(0, random);
  Vec w0 = a0.xform(v0);
  EXPECT_EQ(a0.augmentedComponentDimension(), 0u);
  EXPECT_EQ(w0.augmentedComponentDimension(), 0u);
  Spatial direct = a0.symmetricSpatial().xform(v0.spatial());
  for (int k = 0; k < 6; ++k) EXPECT_EQ(w0.spatial().coord(k), direct.coord(k));

  // Identity augmented block alone: the augmented part passes through.
  std::size_t n = 3;
  std::vector<double> identity(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i) identity[i + n * i] = 1.0;
  Mat id(SpatialMatrix(), identity, std::vector<double>(6 * n, 0.0));
  Vec v = randomVector(n, random);
  Vec w = id.xform(v);
  EXPECT_TRUE(w.spatial().isZero());
  EXPECT_EQ(w.augmented(), v.augmented());

  // Off-diagonal block alone: Off va and Off^T vs.
  Mat off(SpatialMatrix(), std::vector<double>(n * n, 0.0), random.values(6 * n));
  Spatial offVa = off.xformAndExtractSpatial(v);
  std::vector<double> offTVs = off.xformAndExtractAugmented(v.spatial());
  for (int k = 0; k < 6; ++k) {
    double sum = 0.0;
    for (std::size_t j = 0; j < n; ++j)
      sum += off.offDiagonalAugmented()[k + 6 * j] * v.augmented()[j];
    EXPECT_NEAR(offVa.coord(k), sum, 1e-15);
  }
  for (std::size_t j = 0; j < n; ++j) {
    double sum = 0.0;
    for (int k = 0; k < 6; ++k) sum += off.offDiagonalAugmented()[k + 6 * j] * v.spatial().coord(k);
    EXPECT_NEAR(offTVs[j], sum, 1e-15);
  }
}

TEST(SymmetricAugmentedSpatialMatrix, SettersAndAccumulation) {
  Random random(3);
  std::size_t n = 2;
  Spatial s(V3(1.0, 2.0, 3.0), V3(-4.0, 5.0, -6.0));
  Mat a(n);
  EXPECT_EQ(a.augmentedComponentDimension(), n);
  EXPECT_EQ(a.symmetricAugmented(), std::vector<double>(4, 0.0));
  EXPECT_EQ(a.offDiagonalAugmented(), std::vector<double>(12, 0.0));

  a.offDiagonalSpatialVector(1, s);
  a.addOffDiagonalSpatialVector(1, s);
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(a.offDiagonalAugmented()[6 + k], 2.0 * s.coord(k));
    EXPECT_EQ(a.offDiagonalAugmented()[k], 0.0);
  }

  std::vector<double> sym = {1.0, 2.0, 2.0, 3.0};
  a.symmetricAugmented(sym.data());
  a.addSymmetricAugmented(sym);
  a.addSymmetricAugmented(sym.data());
  EXPECT_EQ(a.symmetricAugmented(), (std::vector<double>{3.0, 6.0, 6.0, 9.0}));
  std::vector<double> off = random.values(12);
  a.offDiagonalAugmented(off.data());
  EXPECT_EQ(a.offDiagonalAugmented(), off);

  SpatialMatrix ssp(random.values(21).data());
  a.symmetricSpatial(ssp);
  a.symmetricSpatial_nonConstRef().element(0, 5, 42.0);
  EXPECT_EQ(a.symmetricSpatial().element(5, 0), 42.0);
  a.symmetricSpatial(ssp);

  Mat b(ssp, n, sym.data(), off.data());
  Mat c = a;
  c += b;
  c -= a;
  for (std::size_t k = 0; k < 4; ++k) EXPECT_DOUBLE_EQ(c.symmetricAugmented()[k], sym[k]);
  for (std::size_t k = 0; k < 12; ++k) EXPECT_DOUBLE_EQ(c.offDiagonalAugmented()[k], off[k]);
  EXPECT_DOUBLE_EQ(c.symmetricSpatial().element(2, 3), ssp.element(2, 3));
  c += ssp;
  EXPECT_EQ(c.symmetricAugmented(), b.symmetricAugmented());
  EXPECT_DOUBLE_EQ(c.symmetricSpatial().element(1, 4), 2.0 * ssp.element(1, 4));
  c -= ssp;
  EXPECT_DOUBLE_EQ(c.symmetricSpatial().element(1, 4), ssp.element(1, 4));

  // reset keeps both lengths and the spatial block.
  c.reset();
  EXPECT_EQ(c.augmentedComponentDimension(), n);
  EXPECT_EQ(c.symmetricAugmented(), std::vector<double>(4, 0.0));
  EXPECT_EQ(c.offDiagonalAugmented(), std::vector<double>(12, 0.0));
  EXPECT_DOUBLE_EQ(c.symmetricSpatial().element(1, 4), ssp.element(1, 4));

  // The whole-sequence setters change n.
  c.offDiagonalAugmented(std::vector<double>(18, 1.0));
  c.symmetricAugmented(std::vector<double>(9, 1.0));
  EXPECT_EQ(c.augmentedComponentDimension(), 3u);
}

TEST(SymmetricAugmentedSpatialMatrix, TracedConversions) {
  Random random(11);
  Mat a = randomMatrix(2, random);
  Mat back(vm::traceable(a), vm::BindingSet());
  EXPECT_EQ(back.symmetricAugmented(), a.symmetricAugmented());
  EXPECT_EQ(back.offDiagonalAugmented(), a.offDiagonalAugmented());
  EXPECT_TRUE(back.symmetricSpatial().isOperationallyEqual(a.symmetricSpatial()));

  using TMat = vm::SymmetricAugmentedSpatialMatrix<vm::Traced>;
  TMat zeros(3);
  EXPECT_TRUE(zeros.offDiagonalAugmented()[17].equalConstant(0.0));
  std::vector<vm::TracedDouble> sym = {vm::TracedDouble::input("x")};
  std::vector<vm::TracedDouble> off(6, vm::TracedDouble(0.5));
  TMat traced(math3d::traceable(a.symmetricSpatial()), sym, off);
  vm::BindingSet bindings;
  bindings.bind("x", 2.5);
  Mat evaluated(traced, bindings);
  EXPECT_EQ(evaluated.symmetricAugmented(), std::vector<double>{2.5});
  EXPECT_EQ(evaluated.offDiagonalAugmented(), std::vector<double>(6, 0.5));
  EXPECT_THROW((void)Mat(traced, vm::BindingSet()), vm::UnboundInput);
  TMat empty(traced, bindings);
  EXPECT_EQ(empty.augmentedComponentDimension(), 0u);
  EXPECT_TRUE(empty.symmetricAugmented().empty());
  traced.reset();
  EXPECT_TRUE(traced.symmetricAugmented()[0].equalConstant(0.0));
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

  // Columns (1..6) and (7..12) of the off-diagonal block; [1 3; 2 4].
  std::vector<double> off = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12.5};
  std::vector<double> sym = {1.0, 2.0, 3.0, -0.25};
  Mat m(ssp, sym, off);
  std::string offText = "[" + t(1) + ", " + t(7) + "; ...\n " + t(2) + ", " + t(8) + "; ...\n " +
                        t(3) + ", " + t(9) + "; ...\n " + t(4) + ", " + t(10) + "; ...\n " + t(5) +
                        ", " + t(11) + "; ...\n " + t(6) + ", " + t(12.5) + "]";
  std::string symText = "[" + t(1) + ", " + t(3) + "; ...\n " + t(2) + ", " + t(-0.25) + "]";
  EXPECT_EQ(m.stringify(), expected(offText, symText));
  EXPECT_EQ(vm::traceable(m).stringify(), m.stringify());

  // A single augmented coordinate: one column, and a 1-by-1 block.
  Mat one(ssp, std::vector<double>{7.0}, std::vector<double>(off.begin(), off.begin() + 6));
  std::string oneColumn = "[" + t(1) + "; ...\n " + t(2) + "; ...\n " + t(3) + "; ...\n " + t(4) +
                          "; ...\n " + t(5) + "; ...\n " + t(6) + "]";
  EXPECT_EQ(one.stringify(), expected(oneColumn, "[" + t(7) + "]"));
}

}  // namespace augmented_matrix_test
