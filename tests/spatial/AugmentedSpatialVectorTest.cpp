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

void expectVector(Vec const& v, Spatial const& spatial, std::vector<double> const& augmented,
                  std::string const& what) {
  for (int k = 0; k < 6; ++k)
    EXPECT_TRUE(sameBits(v.spatial().coord(k), spatial.coord(k))) << what << " spatial " << k;
  ASSERT_EQ(v.augmentedComponentDimension(), augmented.size()) << what;
  for (std::size_t i = 0; i < augmented.size(); ++i)
    EXPECT_TRUE(sameBits(v.augmented()[i], augmented[i])) << what << " augmented " << i;
}

TEST(AugmentedSpatialVector, ConstructorsFillBothParts) {
  std::vector<double> a = {0.5, -1.5, 2.0};
  struct Row {
    std::string what;
    Vec v;
    Spatial spatial;
    std::vector<double> augmented;
  };
  std::vector<Row> rows = {
      {"(n)", Vec(3), Spatial(), {0.0, 0.0, 0.0}},
      {"(n = 0)", Vec(0), Spatial(), {}},
      {"(s, n)", Vec(kS, 2), kS, {0.0, 0.0}},
      {"(vector)", Vec(a), Spatial(), a},
      {"(n, p)", Vec(2, a.data() + 1), Spatial(), {-1.5, 2.0}},
      {"(s, vector)", Vec(kS, a), kS, a},
      {"(s, n, p)", Vec(kS, 3, a.data()), kS, a},
  };
  for (Row const& row : rows) expectVector(row.v, row.spatial, row.augmented, row.what);

  // Traced zeros are constants; traceable and evaluation round-trip.
  TVec zeros(math3d::traceable(kS), 2);
  double c = 1.0;
  EXPECT_TRUE(zeros.augmented()[1].getConstant(c));
  EXPECT_EQ(c, 0.0);
  Vec original(kS, a);
  expectVector(Vec(vm::traceable(original), vm::BindingSet()), kS, a, "traceable");

  std::vector<vm::TracedDouble> inputs = {vm::TracedDouble::input("x"), 7.0};
  TVec traced(math3d::traceable(kS), inputs);
  vm::BindingSet bindings;
  bindings.bind("x", -3.25);
  expectVector(Vec(traced, bindings), kS, {-3.25, 7.0}, "evaluated");
  EXPECT_THROW((void)Vec(traced, vm::BindingSet()), vm::UnboundInput);
  // The traced form of that constructor gives an empty zero vector.
  TVec empty(traced, bindings);
  EXPECT_EQ(empty.augmentedComponentDimension(), 0u);
  EXPECT_TRUE(empty.spatial().coord(0).equalConstant(0.0));
}

TEST(AugmentedSpatialVector, AccessorsReadAndWriteTheirPart) {
  Vec v(kS, {1.0, 2.0, 3.0});
  EXPECT_TRUE(v.spatialAngular() == V3(1.0, -2.0, 3.5));
  EXPECT_TRUE(v.spatialLinear() == V3(0.25, 4.0, -1.0));
  v.spatialAngular(V3(9.0, 8.0, 7.0));
  v.spatialLinear(V3(6.0, 5.0, 4.0));
  expectVector(v, Spatial(V3(9.0, 8.0, 7.0), V3(6.0, 5.0, 4.0)), {1.0, 2.0, 3.0}, "triples");
  v.spatial(kS);
  v.spatial_nonConstRef().coord(5, 10.0);
  EXPECT_EQ(v.spatial().coord(5), 10.0);
  EXPECT_EQ(v.spatial().coord(4), 4.0);

  // The pointer setter reads exactly n values; the vector setter resizes.
  double const p[] = {-1.0, -2.0, -3.0, 99.0};
  v.augmented(p);
  EXPECT_EQ(v.augmented(), (std::vector<double>{-1.0, -2.0, -3.0}));
  v.addToAugmentedElement(1, 0.5);
  EXPECT_EQ(v.augmented(), (std::vector<double>{-1.0, -1.5, -3.0}));
  v.augmented(std::vector<double>{4.0});
  EXPECT_EQ(v.augmentedComponentDimension(), 1u);
}

TEST(AugmentedSpatialVector, ZeroAndResetKeepTheLength) {
  Vec v(kS, {1.0, -2.0});
  v.reset();
  expectVector(v, kS, {0.0, 0.0}, "reset");
  v.augmented(std::vector<double>{3.0, 4.0, 5.0});
  v.zero();
  expectVector(v, Spatial(), {0.0, 0.0, 0.0}, "zero");

  TVec t(math3d::traceable(kS), {vm::TracedDouble::input("x")});
  t.reset();
  ASSERT_EQ(t.augmentedComponentDimension(), 1u);
  EXPECT_TRUE(t.augmented()[0].equalConstant(0.0));
  EXPECT_TRUE(t.spatial().coord(2).equalConstant(3.5));
  t.spatial_nonConstRef().coord(0, vm::TracedDouble::input("y"));
  t.zero();
  EXPECT_TRUE(t.spatial().coord(0).equalConstant(0.0));
}

TEST(AugmentedSpatialVector, ArithmeticActsOnBothParts) {
  Spatial s(V3(0.5, 0.5, 0.5), V3(-1.0, 2.0, 0.0));
  Vec a(kS, {1.0, 0.0, -4.0});
  // b is longer: only a's three elements take part.
  Vec b(s, {0.25, -0.0, 2.0, 100.0});

  expectVector(a + b, kS + s, {1.25, 0.0, -2.0}, "a + b");
  expectVector(a - b, kS - s, {0.75, 0.0, -6.0}, "a - b");
  expectVector(a + s, kS + s, {1.0, 0.0, -4.0}, "a + s");
  expectVector(a - s, kS - s, {1.0, 0.0, -4.0}, "a - s");
  Vec c = a;
  c += b;
  expectVector(c, kS + s, {1.25, 0.0, -2.0}, "+=");
  c -= b;
  expectVector(c, kS, {1.0, 0.0, -4.0}, "-=");
  c += s;
  expectVector(c, kS + s, {1.0, 0.0, -4.0}, "+= s");
  c -= s;
  expectVector(c, kS, {1.0, 0.0, -4.0}, "-= s");

  EXPECT_EQ(&+a, &a);
  Vec negated = -a;
  expectVector(negated, -kS, {-1.0, -0.0, 4.0}, "-a");
  EXPECT_TRUE(std::signbit(negated.augmented()[1]));
}

TEST(AugmentedSpatialVector, Norm2AddsSquaresInOrder) {
  EXPECT_TRUE(sameBits(Vec(kS, 0).norm2(), kS.norm2()));
  std::vector<double> a = {0.1, 1e8, -0.3};
  double expected = kS.norm2();
  for (double x : a) expected = expected + x * x;
  EXPECT_TRUE(sameBits(Vec(kS, a).norm2(), expected));
  EXPECT_EQ(Vec(a).norm2(), 0.1 * 0.1 + 1e16 + 0.3 * 0.3);
}

TEST(AugmentedSpatialVector, StringifyWritesTheScript) {
  auto expected = [](Spatial const& s, std::string const& augmented) {
    return "Vspa = ... % Spatial component\n" + s.stringify() +
           ";\nVaug = ... % Augmented component\n" + augmented +
           ";\nV    = ... % Full augmented spatial vector\n[ Vspa ; Vaug ];";
  };
  EXPECT_EQ(Vec(kS, 0).stringify(), expected(kS, "double.empty(0,1)"));
  Vec two(kS, {1.0, 2.0});
  std::string augmented = "[" + math3d::stringify(1.0) + ", " + math3d::stringify(2.0) + "]'";
  EXPECT_EQ(two.stringify(), expected(kS, augmented));
  EXPECT_EQ(Vec(kS, std::vector<double>{-0.5}).stringify(),
            expected(kS, "[" + math3d::stringify(-0.5) + "]'"));
  // Constant traced values write the text of their numbers.
  EXPECT_EQ(vm::traceable(two).stringify(), two.stringify());
}

}  // namespace augmented_vector_test
