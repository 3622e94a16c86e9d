#include <gtest/gtest.h>

#include <cmath>

#include "math3d/math3d.hpp"
#include "support/ThreePaths.hpp"

namespace {

namespace ct = kelm_math::comp_trace;
using math3d::Numeric;
using math3d::Traced;
using TD = ct::TracedDouble;

// n traced inputs named prefix0.., bound to values in `bindings`.
std::vector<TD> bound(char const* prefix, std::vector<double> const& values,
                      ct::BindingSet& bindings) {
  std::vector<TD> out;
  for (std::size_t k = 0; k < values.size(); ++k) {
    std::string name = prefix + std::to_string(k);
    bindings.bind(name, values[k]);
    out.push_back(TD::input(name));
  }
  return out;
}

TEST(Math3dTypes, EvaluationRebuildsNumericValuesFromTraces) {
  ct::BindingSet b;
  auto d = vela::test::randomDoubles(40, 5);
  auto t = bound("d", d, b);
  math3d::Vector2_T<Traced> v2(t.data());
  math3d::Vector3_T<Traced> v3(t.data() + 2);
  math3d::Matrix3x3_T<Traced> m(t.data() + 5, true);
  math3d::Quaternion_T<Traced> q(t.data() + 14);
  math3d::SpatialVector_T<Traced> sv(t.data() + 18);
  math3d::SymmetricSpatialMatrix_T<Traced> sym(t.data() + 19);
  math3d::Transform3_T<Traced> tr(q, v3);

  math3d::Vector2_T<Numeric> n2(v2 * 2.0, b);
  math3d::Vector3_T<Numeric> n3(v3.cross(v3.roll(1)), b);
  math3d::Matrix3x3_T<Numeric> nm(m.transpose(), b);
  math3d::Quaternion_T<Numeric> nq(q.conjugate(), b);
  math3d::SpatialVector_T<Numeric> nsv(-sv, b);
  math3d::SymmetricSpatialMatrix_T<Numeric> nsym(sym + sym, b);
  math3d::Transform3_T<Numeric> ntr(tr, b);

  math3d::Vector3_T<Numeric> x3(d.data() + 2);
  EXPECT_TRUE(n2.isOperationallyEqual(math3d::Vector2_T<Numeric>(d.data()) * 2.0));
  EXPECT_TRUE(n3.isOperationallyEqual(x3.cross(x3.roll(1))));
  EXPECT_TRUE(nm.isOperationallyEqual(math3d::Matrix3x3_T<Numeric>(d.data() + 5, false)));
  EXPECT_TRUE(nq.isOperationallyEqual(math3d::Quaternion_T<Numeric>(d.data() + 14).conjugate()));
  EXPECT_TRUE(nsv.isOperationallyEqual(-math3d::SpatialVector_T<Numeric>(d.data() + 18)));
  math3d::SymmetricSpatialMatrix_T<Numeric> s(d.data() + 19);
  EXPECT_TRUE(nsym.isOperationallyEqual(s + s));
  EXPECT_TRUE(ntr.translation().isOperationallyEqual(x3));
  EXPECT_THROW(math3d::Vector3_T<Numeric>(math3d::Vector3_T<Traced>(TD::input("none"), 0, 0), b),
               ct::UnboundInput);

  // traceable gives constants that compare as the numeric values do.
  auto back = math3d::traceable(s);
  for (int k = 0; k < 21; ++k) EXPECT_TRUE(back.values()[k].equalConstant(s.values()[k]));
  EXPECT_TRUE(math3d::traceable(x3).isOperationallyEqual(math3d::traceable(x3)));
  EXPECT_FALSE(v3.isOperationallyEqual(v3.roll(1)));
}

TEST(Math3dTypes, ComparisonsAreBooleansOfTheMode) {
  math3d::Vector3_T<Numeric> a(1.0, 2.0, 3.0), b(1.0, 2.0, 4.0);
  EXPECT_TRUE(b >= a);
  EXPECT_FALSE(a >= b);
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a != b);
  EXPECT_TRUE(math3d::Vector3_T<Numeric>(0.0, -0.0, 0.0).isZero());
  EXPECT_FALSE(math3d::Vector3_T<Numeric>(NAN, 0.0, 0.0) == math3d::Vector3_T<Numeric>(NAN, 0, 0));

  // Constants fold; traced coordinates record a predicate.
  auto ta = math3d::traceable(a), tb = math3d::traceable(b);
  bool value = false;
  ASSERT_TRUE((tb >= ta).getConstant(value));
  EXPECT_TRUE(value);
  ASSERT_TRUE(math3d::Vector3_T<Traced>().isZero().getConstant(value));
  EXPECT_TRUE(value);
  math3d::Vector3_T<Traced> x(TD::input("x"), 0.0, 0.0);
  ct::TracedBool zero = x.isZero();
  EXPECT_FALSE(zero.isConstant());
  ct::BindingSet bindings;
  bindings.bind("x", -0.0);
  EXPECT_TRUE(zero.evaluate(bindings));
  // Vector ternary folds on a constant condition and records otherwise.
  EXPECT_TRUE(math3d::ternary(ct::TracedBool(true), ta, tb).isOperationallyEqual(ta));
  auto picked = math3d::ternary(zero, ta, tb);
  EXPECT_EQ(math3d::Vector3_T<Numeric>(picked, bindings) == a, true);
  bindings.bind("x", 1.0);
  EXPECT_EQ(math3d::Vector3_T<Numeric>(picked, bindings) == b, true);
}

TEST(Math3dTypes, MatricesAndSpatialProductsMatchTheirDefinitions) {
  auto d = vela::test::randomDoubles(60, 9);
  using Mat = math3d::Matrix3x3_T<Numeric>;
  using V3 = math3d::Vector3_T<Numeric>;
  // Symmetric matrix from (diagonal, yz zx xy) and back.
  V3 diag(1, 2, 3), off(4, 5, 6);
  Mat s(diag, off);
  EXPECT_EQ(s.element(1, 2), 4.0);
  EXPECT_EQ(s.element(2, 1), 4.0);
  EXPECT_EQ(s.element(0, 2), 5.0);
  EXPECT_EQ(s.element(0, 1), 6.0);
  EXPECT_TRUE(s.diagonal() == diag && s.offDiagonal() == off);
  EXPECT_TRUE(V3(math3d::Vector2_T<Numeric>(7, 8)) == V3(7, 8, 0));
  EXPECT_TRUE(V3(1, 2, 3).roll(1) == V3(3, 1, 2) && V3(1, 2, 3).roll(-1) == V3(2, 3, 1));
  EXPECT_TRUE(V3().unit() == V3());
  EXPECT_TRUE(V3(1, 2, 3).guardedDivide(-0.0) == V3());

  // compose / composeTranspose / vector product against index sums.
  Mat a(d.data(), false), b(d.data() + 9, true);
  Mat ab = a.compose(b), abt = a.composeTranspose(b);
  V3 v(d.data() + 18), av = a * v;
  for (int i = 0; i < 3; ++i) {
    EXPECT_DOUBLE_EQ(av.coord(i), a.row(i).dot(v));
    for (int j = 0; j < 3; ++j) {
      EXPECT_DOUBLE_EQ(ab.element(i, j), a.row(i).dot(b.column(j)));
      EXPECT_DOUBLE_EQ(abt.element(i, j), a.row(i).dot(b.row(j)));
      EXPECT_EQ(a.transpose().element(i, j), a.element(j, i));
      EXPECT_EQ(b.element(i, j), d[9 + 3 * i + j]);
    }
  }

  // Quaternions and transforms compose as their matrices do.
  math3d::Quaternion_T<Numeric> q1(0.5, 0.5, -0.5, 0.5), q2(0.6, 0.0, 0.8, 0.0);
  Mat r12 = Mat(q1.compose(q2)), r1r2 = Mat(q1).compose(Mat(q2));
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(r12.values()[k], r1r2.values()[k], 1e-15);
  math3d::Transform3_T<Numeric> t(q1, V3(1, 2, 3));
  V3 round = t.inverse().xformPoint(t.xformPoint(v));
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(round.coord(i), v.coord(i), 1e-13);
  V3 moved = t.compose(t.inverse()).xformPoint(v);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(moved.coord(i), v.coord(i), 1e-13);

  // The spatial matrix: packed order, block constructor, symmetric product.
  using SM = math3d::SymmetricSpatialMatrix_T<Numeric>;
  using SV = math3d::SpatialVector_T<Numeric>;
  EXPECT_EQ(SM::packedIndex(0, 0), 0);
  EXPECT_EQ(SM::packedIndex(5, 0), 5);
  EXPECT_EQ(SM::packedIndex(1, 1), 6);
  EXPECT_EQ(SM::packedIndex(2, 4), SM::packedIndex(4, 2));
  EXPECT_EQ(SM::packedIndex(5, 5), 20);
  SM m(d.data() + 21);
  SV x(d.data() + 42), y(d.data() + 48);
  SV mx = m * x;
  for (int i = 0; i < 6; ++i) {
    double sum = 0.0;
    for (int j = 0; j < 6; ++j) sum += m.element(i, j) * x.coord(j);
    EXPECT_DOUBLE_EQ(mx.coord(i), sum);
  }
  EXPECT_NEAR(y.dot(m.xform(x)), x.dot(m.xform(y)), 1e-12);
  SM blocks(a, b, Mat(diag, off));
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(blocks.element(i, j + 3), b.element(i, j));
      EXPECT_EQ(blocks.element(j + 3, i), b.element(i, j));
      EXPECT_EQ(blocks.element(std::max(i, j), std::min(i, j)),
                a.element(std::max(i, j), std::min(i, j)));
      EXPECT_EQ(blocks.element(i + 3, j + 3), s.element(i, j));
    }
  SM twice = blocks;
  twice += blocks;
  EXPECT_TRUE(twice == blocks * 2.0);
  twice -= blocks;
  EXPECT_TRUE(twice == blocks);
  SV sv(V3(1, 2, 3), V3(4, 5, 6));
  EXPECT_TRUE(sv.angular() == V3(1, 2, 3) && sv.linear() == V3(4, 5, 6));
  double six[6];
  sv.getValues(six);
  EXPECT_EQ(six[3], 4.0);
  EXPECT_EQ((sv - sv).norm2(), 0.0);
  EXPECT_EQ(sv.norm2(), 91.0);
}

}  // namespace
