// The 3-D types against their definitions, and their script text.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "math3d/math3d.hpp"
#include "support/ThreePaths.hpp"

namespace {
namespace ct = kelm_math::comp_trace;
using math3d::Numeric;
using math3d::stringify;
using Mat = math3d::Matrix3x3_T<Numeric>;
using V3 = math3d::Vector3_T<Numeric>;
using V2 = math3d::Vector2_T<Numeric>;
using Quat = math3d::Quaternion_T<Numeric>;
using SM = math3d::SymmetricSpatialMatrix_T<Numeric>;
using SV = math3d::SpatialVector_T<Numeric>;
}  // namespace

TEST(Math3dTypes, ProductsAndLayoutsMatchTheirDefinitions) {
  auto d = vela::test::randomDoubles(60, 9);
  Mat a(d.data(), false), b(d.data() + 9, true), ab = a.compose(b), abt = a.composeTranspose(b);
  V3 v(d.data() + 18), av = a * v, cross = v.cross(av);
  for (int i = 0; i < 3; ++i) {
    double row = a.element(i, 0) * v.x() + a.element(i, 1) * v.y() + a.element(i, 2) * v.z();
    EXPECT_DOUBLE_EQ(av.coord(i), row);
    EXPECT_DOUBLE_EQ(cross.coord(i), v.coord((i + 1) % 3) * av.coord((i + 2) % 3) -
                                         v.coord((i + 2) % 3) * av.coord((i + 1) % 3));
    for (int j = 0; j < 3; ++j) {
      EXPECT_DOUBLE_EQ(ab.element(i, j),
                       a.row(i).dot(V3(b.element(0, j), b.element(1, j), b.element(2, j))));
      EXPECT_DOUBLE_EQ(abt.element(i, j),
                       a.row(i).dot(V3(b.element(j, 0), b.element(j, 1), b.element(j, 2))));
      EXPECT_TRUE(a.transpose().element(i, j) == a.element(j, i) &&
                  a.element(i, j) == d[i + 3 * j] && b.element(i, j) == d[9 + 3 * i + j] &&
                  (a + b).element(i, j) == a.element(i, j) + b.element(i, j) &&
                  (a - b * 2.0).element(i, j) == a.element(i, j) - 2.0 * b.element(i, j));
    }
  }
  EXPECT_NEAR(ab.determinant() / (a.determinant() * b.determinant()), 1.0, 1e-14);
  EXPECT_EQ(a.trace(), (a.element(0, 0) + a.element(1, 1)) + a.element(2, 2));
  // The symmetric matrix from (diagonal, yz zx xy) and back.
  Mat s(V3(1, 2, 3), V3(4, 5, 6));
  EXPECT_TRUE(s == Mat(1, 6, 5, 6, 2, 4, 5, 4, 3) && s.diagonal() == V3(1, 2, 3) &&
              s.offDiagonal() == V3(4, 5, 6) && s.column(1) == V3(6, 2, 4) && s != 2.0 * s);
  EXPECT_TRUE(V3(V2(7, 8)) == V3(7, 8, 0) && V2(1, 2).roll(1) == V2(2, 1));
  EXPECT_TRUE(V3(1, 2, 3).roll(1) == V3(3, 1, 2) && V3(1, 2, 3).roll(-1) == V3(2, 3, 1));
  EXPECT_TRUE(V3().unit() == V3() && V3(1, 2, 3).guardedDivide(-0.0) == V3());
  EXPECT_TRUE(V3(0, 3, 4).unit() == V3(0, 0.6, 0.8) && V3(0, 3, 4) * V3(1, 2, 0) == V3(0, 6, 0));
  EXPECT_TRUE(V3(1, 4, 9) / 2.0 == V3(0.5, 2, 4.5) && -V3(1, 0, 0) == V3(-1, -0.0, 0) &&
              2.0 * V3(1, 2, 3) == V3(2, 4, 6));
  V3 w(1, 2, 3);
  EXPECT_TRUE(((((w += V3(1, 1, 1)) -= V3(0, 1, 0)) *= 2.0) /= 4.0) == V3(1, 1, 2));
  EXPECT_TRUE(V3(1, 2, 3) >= V3(1, 2, 2) && !(V3(1, 2, 3) >= V3(1, 3, 2)) &&
              !(V3(NAN, 0, 0) == V3(NAN, 0, 0)) && V3(0.0, -0.0, 0.0).isZero() &&
              !V3(0, 0, 1e-300).isZero());
  // Quaternions and transforms compose as their matrices do.
  Quat q1(0.5, 0.5, -0.5, 0.5), q2(0.6, 0.0, 0.8, 0.0);
  math3d::Transform3_T<Numeric> t(q1, V3(1, 2, 3)), twice = t.compose(t);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(t.inverse().xformPoint(t.xformPoint(v)).coord(i), v.coord(i), 1e-13);
    EXPECT_NEAR(twice.xformPoint(v).coord(i), t.xformPoint(t.xformPoint(v)).coord(i), 1e-13);
    for (int j = 0; j < 3; ++j)
      EXPECT_NEAR(Mat(q1.compose(q2)).element(i, j), Mat(q1).compose(Mat(q2)).element(i, j), 1e-15);
  }
  EXPECT_TRUE(q1.conjugate() == Quat(0.5, -0.5, 0.5, -0.5) && q1 != q2);
  EXPECT_TRUE(v.isOperationallyEqual(v) && !v.isOperationallyEqual(av) &&
              a.isOperationallyEqual(a) && !a.isOperationallyEqual(b) &&
              q1.isOperationallyEqual(q1) && !q1.isOperationallyEqual(q2));
  // The spatial matrix: packed lower triangle (its product is checked with
  // the augmented matrix's).
  EXPECT_TRUE(SM::packedIndex(5, 0) == 5 && SM::packedIndex(1, 1) == 6 &&
              SM::packedIndex(5, 5) == 20 && SM::packedIndex(2, 4) == SM::packedIndex(4, 2));
  SM m(d.data() + 21), grown = m;
  grown += m;
  grown -= m * 0.5;
  EXPECT_TRUE(grown == m * 1.5 && m + m - m == m && SV(V3(1, 2, 3), V3(4, 5, 6)).norm2() == 91.0);
}

TEST(Math3dTypes, TextIsShortestRoundTrippingScript) {
  using L = std::numeric_limits<double>;
  std::mt19937_64 gen(11);
  std::vector<double> values = {0.0,          L::denorm_min(), L::min(),      L::max(),
                                L::epsilon(), L::infinity(),   L::quiet_NaN()};
  for (int n = 0; n < 20000; ++n) {
    std::uint64_t bits = n % 10 ? gen() : gen() & 0x800FFFFFFFFFFFFFull;  // subnormals too
    values.push_back(0.0);
    std::memcpy(&values.back(), &bits, sizeof bits);
  }
  for (double x : values)
    for (double signed_ : {x, -x}) {
      std::string text = stringify(signed_);
      char* end = nullptr;
      EXPECT_TRUE(vela::test::sameBits(signed_, std::strtod(text.c_str(), &end)) && !*end) << text;
      EXPECT_EQ(stringify(ct::TracedDouble(signed_)), text);
    }
  EXPECT_EQ(
      V2(-0.0, 0.1).stringify() + Quat(-2.5, 1e300, L::denorm_min(), -L::infinity()).stringify(),
      "[-0, 0.1][-2.5, 1e+300, 5e-324, -Inf]");
  ct::TracedDouble x = ct::TracedDouble::input("x"), y = ct::TracedDouble::input("y"), deep = x;
  EXPECT_EQ(stringify(-ct::sqrt(x / y) - 0.5 * y), "(-sqrt((x / y)) - (0.5 * y))");
  EXPECT_EQ(
      math3d::Vector2_T<math3d::Traced>(ct::ternary(x < y, x, y), -L::quiet_NaN()).stringify(),
      "[ternary((x < y), x, y), NaN]");
  for (int i = 0; i < 50; ++i) deep = deep * y + 1.0;
  EXPECT_LT(stringify(deep).size(), 200u);  // deep graphs are cut short
  EXPECT_NE(stringify(deep).find("..."), std::string::npos);
  EXPECT_EQ(math3d::traceable(V3(1.0, -0.0, 0.25)).stringify(), "[1, -0, 0.25]");
  EXPECT_EQ(Mat(1, 2, 3, 4, 5, 6, 7, 8, 9).stringify(), "[1, 2, 3; 4, 5, 6; 7, 8, 9]");
  EXPECT_EQ(math3d::Transform3_T<Numeric>().stringify(), "{[1, 0, 0, 0], [0, 0, 0]}");
  double packed[21] = {0, 1, 2, 3, 4, 5};
  EXPECT_EQ(SV(packed).stringify() + SM(packed).stringify().substr(0, 20),
            "[0; 1; 2; 3; 4; 5][0, 1, 2, 3, 4, 5; 1");
}
