#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "support/SpecialValues.hpp"
#include "support/ThreePaths.hpp"
#include "vela/math/SymmetricAugmentedSpatialMatrix.hpp"

namespace augmented_spatial_test {

namespace vm = vela::math;
using vela::test::sameBits;
using V3 = math3d::Vector3_T<vm::Numeric>;
using Spatial = math3d::SpatialVector_T<vm::Numeric>;
using SpatialMatrix = math3d::SymmetricSpatialMatrix_T<vm::Numeric>;
using Vec = vm::AugmentedSpatialVector<vm::Numeric>;
using TVec = vm::AugmentedSpatialVector<vm::Traced>;
using Mat = vm::SymmetricAugmentedSpatialMatrix<vm::Numeric>;
using Matrix = std::vector<double>;
Spatial const kS(V3(1.0, -2.0, 3.5), V3(0.25, 4.0, -1.0));
Spatial const kT(V3(0.5, 0.5, 0.5), V3(-1.0, 2.0, 0.0));

void expectVector(Vec const& v, Spatial const& spatial, std::vector<double> const& augmented,
                  std::string const& what) {
  for (int k = 0; k < 6; ++k)
    EXPECT_TRUE(sameBits(v.spatial().coord(k), spatial.coord(k))) << what << " spatial " << k;
  ASSERT_EQ(v.augmentedComponentDimension(), augmented.size()) << what;
  for (std::size_t i = 0; i < augmented.size(); ++i)
    EXPECT_TRUE(sameBits(v.augmented()[i], augmented[i])) << what << " augmented " << i;
}

TEST(AugmentedSpatialVector, ConstructionConversionAndOperations) {
  std::vector<double> p = {0.5, -1.5, 2.0};
  std::vector<vm::TracedDouble> inputs = {vm::TracedDouble::input("x"), 7.0};
  TVec traced(math3d::traceable(kS), inputs);
  vm::BindingSet bindings;
  bindings.bind("x", -3.25);
  EXPECT_THROW((void)Vec(traced, vm::BindingSet()), vm::UnboundInput);
  EXPECT_EQ(TVec(traced, bindings).augmentedComponentDimension(), 0u);
  // b is longer than a: only a's three elements take part.
  Vec a(kS, {1.0, 0.0, -4.0}), b(kT, {0.25, -0.0, 2.0, 100.0});
  Vec sum = a, difference = a, shifted = a;
  sum += b;
  difference -= b;
  shifted += kT;
  std::tuple<std::string, Vec, Spatial, std::vector<double>> const rows[] = {
      {"(n)", Vec(3), Spatial(), {0.0, 0.0, 0.0}},
      {"(s, n)", Vec(kS, 0), kS, {}},
      {"(vector)", Vec(p), Spatial(), p},
      {"(n, p)", Vec(2, p.data() + 1), Spatial(), {-1.5, 2.0}},
      {"(s, vector)", Vec(kS, p), kS, p},
      {"(s, n, p)", Vec(kS, 3, p.data()), kS, p},
      {"traceable", Vec(vm::traceable(Vec(kS, p)), vm::BindingSet()), kS, p},
      {"evaluated", Vec(traced, bindings), kS, {-3.25, 7.0}},
      {"a + b", a + b, kS + kT, {1.25, 0.0, -2.0}},
      {"a - b", a - b, kS - kT, {0.75, 0.0, -6.0}},
      {"a += b", sum, kS + kT, {1.25, 0.0, -2.0}},
      {"a -= b", difference, kS - kT, {0.75, 0.0, -6.0}},
      {"a + s", a + kT, kS + kT, {1.0, 0.0, -4.0}},
      {"a - s", a - kT, kS - kT, {1.0, 0.0, -4.0}},
      {"a += s", shifted, kS + kT, {1.0, 0.0, -4.0}},
      {"-a", -a, -kS, {-1.0, -0.0, 4.0}},
  };
  for (auto const& [what, v, spatial, augmented] : rows) expectVector(v, spatial, augmented, what);
  EXPECT_EQ(&+a, &a);
  shifted -= kT;
  shifted.spatialLinear(V3(9.0, 8.0, 7.0));
  shifted.spatialAngular(shifted.spatialAngular() * 2.0);
  expectVector(shifted, Spatial(kS.angular() * 2.0, V3(9.0, 8.0, 7.0)), {1.0, 0.0, -4.0}, "-= s");
  EXPECT_TRUE(shifted.spatialLinear() == V3(9.0, 8.0, 7.0));

  double q[] = {-1.0, -2.0, -3.0, 99.0};
  a.augmented(q);
  a.addToAugmentedElement(1, 0.5);
  expectVector(a, kS, {-1.0, -1.5, -3.0}, "augmented(p)");
  a.reset();
  expectVector(a, kS, {0.0, 0.0, 0.0}, "reset");
  b.zero();
  expectVector(b, Spatial(), {0.0, 0.0, 0.0, 0.0}, "zero");
  traced.reset();
  EXPECT_TRUE(traced.augmented()[0].equalConstant(0.0) && traced.augmented()[1].equalConstant(0.0));
  EXPECT_TRUE(sameBits(Vec(kS, 0).norm2(), kS.norm2()));
  double expected = kS.norm2();
  for (double x : {0.1, 1e8, -0.3}) expected = expected + x * x;
  EXPECT_TRUE(sameBits(Vec(kS, {0.1, 1e8, -0.3}).norm2(), expected));
}

// From the inputs in order: the spatial block (21 packed values), the
// augmented block (n·n), the off-diagonal block (6n), then two vectors v and
// u of 6 + n coordinates each.
std::size_t operandCount(std::size_t n) { return 21 + n * n + 6 * n + 2 * (6 + n); }

template <class In>
auto operands(In const& in, std::size_t n) {
  using S = typename In::Scalar;
  using Mode = std::conditional_t<std::is_same_v<S, double>, vm::Numeric, vm::Traced>;
  using Spatial = math3d::SpatialVector_T<Mode>;
  using Vec = vm::AugmentedSpatialVector<Mode>;
  std::size_t next = 0;
  auto take = [&](std::size_t count) {
    next += count;
    return in.doubles(next - count, count);
  };
  std::vector<S> packed = take(21), sym = take(n * n), off = take(6 * n);
  std::vector<S> vs = take(6), va = take(n), us = take(6), ua = take(n);
  return std::tuple{vm::SymmetricAugmentedSpatialMatrix<Mode>(
                        math3d::SymmetricSpatialMatrix_T<Mode>(packed.data()), sym, off),
                    Vec(Spatial(vs.data()), va), Vec(Spatial(us.data()), ua)};
}

// Random operands whose augmented block is symmetric.
vela::test::Case randomCase(std::size_t n, unsigned seed) {
  vela::test::Case c{vela::test::randomDoubles(operandCount(n), seed), {}};
  for (std::size_t j = 0; j < n; ++j)
    for (std::size_t i = 0; i < j; ++i) c.doubles[21 + i + n * j] = c.doubles[21 + j + n * i];
  return c;
}

Mat randomMatrix(std::size_t n, unsigned seed) {
  return std::get<0>(operands(vela::test::Inputs<vm::Numeric>(randomCase(n, seed)), n));
}

std::vector<double> stacked(Vec const& v) {
  std::vector<double> r(v.spatial().values(), v.spatial().values() + 6);
  r.insert(r.end(), v.augmented().begin(), v.augmented().end());
  return r;
}

/// Expects got (stacked) = full x, with full the (6 + n)-square matrix assembled
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

// The packed spatial block, the augmented block, the off-diagonal block.
std::vector<double> flat(Mat const& m) {
  std::vector<double> r(m.symmetricSpatial().values(), m.symmetricSpatial().values() + 21);
  r.insert(r.end(), m.symmetricAugmented().begin(), m.symmetricAugmented().end());
  r.insert(r.end(), m.offDiagonalAugmented().begin(), m.offDiagonalAugmented().end());
  return r;
}

TEST(SymmetricAugmentedSpatialMatrix, SizesSettersAndArithmetic) {
  Mat a = randomMatrix(3, 3), b = randomMatrix(3, 4), sum = a, difference = a, c(3);
  // Sizes from n: n·n and 6·n values, read from pointers or zeros.
  EXPECT_EQ(flat(Mat(b.symmetricSpatial(), 3, b.symmetricAugmented().data(),
                     b.offDiagonalAugmented().data())),
            flat(b));
  EXPECT_TRUE(flat(c) == std::vector<double>(48, 0.0) &&
              flat(Mat(b.symmetricSpatial(), 3)) ==
                  flat(Mat(b.symmetricSpatial(), Matrix(9), Matrix(18))));
  sum += b;
  difference -= b;
  c.symmetricAugmented(a.symmetricAugmented().data());
  c.offDiagonalAugmented(a.offDiagonalAugmented().data());
  c.addSymmetricAugmented(b.symmetricAugmented().data());
  c.addSymmetricAugmented(b.symmetricAugmented());
  c += a.symmetricSpatial();
  c -= b.symmetricSpatial();
  std::vector<double> fa = flat(a), fb = flat(b), fSum, fDifference, fc;
  for (std::size_t k = 0; k < fa.size(); ++k) {
    fSum.push_back(fa[k] + fb[k]);
    fDifference.push_back(fa[k] - fb[k]);
    fc.push_back(k < 21 ? fa[k] - fb[k] : k < 30 ? fa[k] + fb[k] + fb[k] : fa[k]);
  }
  EXPECT_TRUE(flat(sum) == fSum && flat(difference) == fDifference && flat(c) == fc);
  Spatial s = b.symmetricSpatial() * kS;
  a.offDiagonalSpatialVector(1, s);
  a.addOffDiagonalSpatialVector(1, s);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(a.offDiagonalAugmented()[6 + k], 2.0 * s.coord(k));
  SpatialMatrix spatial = a.symmetricSpatial();
  a.reset();
  EXPECT_EQ(flat(a), flat(Mat(spatial, Matrix(9), Matrix(18))));

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

TEST(AugmentedSpatial, StringifyWritesTheScript) {
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
  auto vector = [](std::string const& augmented) {
    return "Vspa = ... % Spatial component\n" + kS.stringify() +
           ";\nVaug = ... % Augmented component\n" + augmented +
           ";\nV    = ... % Full augmented spatial vector\n[ Vspa ; Vaug ];";
  };
  EXPECT_EQ(Vec(kS, 0).stringify(), vector("double.empty(0,1)"));
  Vec two(kS, {1.0, 2.0});
  EXPECT_EQ(two.stringify(),
            vector("[" + math3d::stringify(1.0) + ", " + math3d::stringify(2.0) + "]'"));
  // Constant traced values write the text of their numbers.
  EXPECT_EQ(vm::traceable(two).stringify(), two.stringify());
}

auto products(std::size_t n) {
  return [n](auto const& in) {
    auto [a, v, u] = operands(in, n);
    using Vec = std::decay_t<decltype(v)>;
    auto us = u.spatial();
    Vec w = v;
    w += u;
    w -= us;
    if (n > 0) w.addToAugmentedElement(n - 1, u.norm2());
    std::vector<std::decay_t<decltype(u.norm2())>> out;
    for (Vec const& x : {a.xform(v), a * v, a.xform(us), a * us, v + u, v - u, -v, v + us, v - us,
                         w, Vec(a.xformAndExtractSpatial(v), a.xformAndExtractAugmented(v)),
                         Vec(a.xformAndExtractSpatial(us), a.xformAndExtractAugmented(us))}) {
      out.insert(out.end(), x.spatial().values(), x.spatial().values() + 6);
      out.insert(out.end(), x.augmented().begin(), x.augmented().end());
    }
    out.push_back(v.norm2());
    return out;
  };
}

// Numeric against an explicit dense (6 + n)-square matrix, then every path
// against Numeric.
TEST(SymmetricAugmentedSpatialMatrix, ProductsMatchTheDenseMatrixOnEveryPath) {
  for (std::size_t n : {0u, 1u, 3u, 6u}) {
    SCOPED_TRACE("n = " + std::to_string(n));
    std::size_t count = operandCount(n);
    std::vector<vela::test::Case> cases = {randomCase(n, 1), randomCase(n, 2)};
    auto [a, v, u] = operands(vela::test::Inputs<vm::Numeric>(cases[0]), n);
    // Outputs 0, 1, 10 are A v; 2, 3, 11 are A us, us acting as [us; 0].
    std::vector<double> out = products(n)(vela::test::Inputs<vm::Numeric>(cases[0]));
    for (std::size_t k : {0, 1, 10, 2, 3, 11})
      expectDenseProduct(
          a, k < 2 || k == 10 ? v : Vec(u.spatial(), n),
          std::vector<double>(out.begin() + k * (6 + n), out.begin() + (k + 1) * (6 + n)));
    std::vector<double> su = stacked(u), sv = stacked(v), av = stacked(a * v), au = stacked(a * u);
    double uAv = 0.0, vAu = 0.0, scale = 0.0;
    for (std::size_t k = 0; k < su.size(); ++k) {
      uAv += su[k] * av[k];
      vAu += sv[k] * au[k];
      scale += std::abs(su[k] * av[k]) + std::abs(sv[k] * au[k]);
    }
    EXPECT_NEAR(uAv, vAu, 1e-14 * (1.0 + scale));
    // An augmented block not symmetric; signed zeros, tiny and huge
    // magnitudes, and one non-finite value.
    cases[1].doubles = vela::test::randomDoubles(count, 2);
    std::vector<double> edges = {0.0, -0.0, 1e-300, -1e300, 5e-324, 1e154, -2.5, 0.75};
    for (double special : {vela::test::kNaN, vela::test::kInf}) {
      std::vector<double> d(count);
      for (std::size_t k = 0; k < count; ++k) d[k] = edges[k % edges.size()];
      d[count - 1 - n] = special;
      cases.push_back({d, {}});
    }
    auto result = vela::test::checkThreePaths(products(n), cases);
    if (n > 0) {
      // The products are the dense kernels' nodes, not inline arithmetic.
      EXPECT_GE(vela::test::occurrences(result.code, "matrixVectorMultiply("), 1u);
      EXPECT_GE(vela::test::occurrences(result.code, "matrixTransposeVectorMultiply("), 1u);
      EXPECT_GE(vela::test::occurrences(result.code, "addMatrixVectorProduct("), 1u);
    }
  }
}

}  // namespace augmented_spatial_test
