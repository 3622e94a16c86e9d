#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/ThreePaths.hpp"
#include "vela/math/AugmentedSpatialVector.hpp"

namespace augmented_vector_test {

namespace vm = vela::math;
using vela::test::sameBits;
using Spatial = math3d::SpatialVector_T<vm::Numeric>;
using V3 = math3d::Vector3_T<vm::Numeric>;
using Vec = vm::AugmentedSpatialVector<vm::Numeric>;
using TVec = vm::AugmentedSpatialVector<vm::Traced>;

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
  struct Row {
    std::string what;
    Vec v;
    Spatial spatial;
    std::vector<double> augmented;
  } rows[] = {
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
  for (Row const& row : rows) expectVector(row.v, row.spatial, row.augmented, row.what);
  EXPECT_TRUE(std::signbit((-a).augmented()[1]) && &+a == &a);
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
  TVec t(math3d::traceable(kS), {vm::TracedDouble::input("x")});
  t.reset();
  EXPECT_TRUE(t.augmented()[0].equalConstant(0.0));
  EXPECT_TRUE(sameBits(Vec(kS, 0).norm2(), kS.norm2()));
  double expected = kS.norm2();
  for (double x : {0.1, 1e8, -0.3}) expected = expected + x * x;
  EXPECT_TRUE(sameBits(Vec(kS, {0.1, 1e8, -0.3}).norm2(), expected));
}

TEST(AugmentedSpatialVector, StringifyWritesTheScript) {
  auto expected = [](std::string const& augmented) {
    return "Vspa = ... % Spatial component\n" + kS.stringify() +
           ";\nVaug = ... % Augmented component\n" + augmented +
           ";\nV    = ... % Full augmented spatial vector\n[ Vspa ; Vaug ];";
  };
  EXPECT_EQ(Vec(kS, 0).stringify(), expected("double.empty(0,1)"));
  Vec two(kS, {1.0, 2.0});
  EXPECT_EQ(two.stringify(),
            expected("[" + math3d::stringify(1.0) + ", " + math3d::stringify(2.0) + "]'"));
  // Constant traced values write the text of their numbers.
  EXPECT_EQ(vm::traceable(two).stringify(), two.stringify());
}

}  // namespace augmented_vector_test
