// The 3-D types against their definitions, their script text, rotations
// (round trips, the documented ties, minRotation), and every type through the
// four paths and folded constants.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "math3d/math3d.hpp"
#include "support/ThreePaths.hpp"

namespace {
namespace ct = kelm_math::comp_trace;
using namespace math3d;
using Mat = Matrix3x3_T<Numeric>;
using V3 = Vector3_T<Numeric>;
using V2 = Vector2_T<Numeric>;
using Quat = Quaternion_T<Numeric>;
using SM = SymmetricSpatialMatrix_T<Numeric>;
using SV = SpatialVector_T<Numeric>;

Quat turn(double angle, V3 axis) {
  V3 a = axis.unit() * std::sin(angle / 2);
  return Quat(std::cos(angle / 2), a.x(), a.y(), a.z());
}

Quat randomTurn(std::mt19937& gen, double maxAngle) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  return turn(maxAngle * (0.5 * u(gen) + 0.5), V3(u(gen), u(gen), u(gen)));
}

// A proper rotation: orthonormal columns, determinant 1.
void expectRotation(Mat const& r) {
  for (int k = 0; k < 9; ++k)
    EXPECT_NEAR(r.composeTranspose(r).values()[k], Mat::identity().values()[k], 1e-14);
  EXPECT_NEAR(r.determinant(), 1.0, 1e-14);
}

// Column j of the result is sign[j] times column perm[j] of e.
Mat permuted(Mat const& e, int const* perm, double const* sign) {
  Mat r;
  for (int j = 0; j < 3; ++j) r.column(j, e.column(perm[j]) * sign[j]);
  return r;
}

// 47 inputs: quaternion (4, normalised here), matrix (9), translation (3),
// direction (3), spatial vector (6), packed symmetric spatial matrix (21), scalar (1).
constexpr std::size_t kInputs = 47;

template <class R>
std::vector<R> composite(std::vector<R> const& d) {
  using Mode = std::conditional_t<std::is_same_v<R, double>, Numeric, Traced>;
  Quaternion_T<Mode> raw(d.data());
  R n = ct::sqrt(raw.norm2());
  Quaternion_T<Mode> q(raw.w() / n, raw.x() / n, raw.y() / n, raw.z() / n);
  Matrix3x3_T<Mode> rot(q), m(d.data() + 4, false);
  Vector3_T<Mode> p(d.data() + 13), v(d.data() + 16);
  SpatialVector_T<Mode> sv(d.data() + 19);
  SymmetricSpatialMatrix_T<Mode> sym(d.data() + 25);
  R s = d[46];

  Matrix3x3_T<Mode> c = (rot.compose(m).composeTranspose(rot) + m * s) - m.transpose();
  Transform3_T<Mode> t(q, p);
  Vector3_T<Mode> a = t.xformDir(v);
  Vector3_T<Mode> b = t.inverse().xformPoint(t.xformPoint(v));
  SpatialVector_T<Mode> w = sym.xform(sv) - sv;
  w += -SpatialVector_T<Mode>(a, b);
  Quaternion_T<Mode> back(rot), fromM(m);
  Integer<Mode> idx[3];
  Matrix3x3_T<Mode> minRot = m.minRotation(idx);
  Vector3_T<Mode> u = a.unit() + (a * v).guardedDivide(s) + a.roll(1) * 2.0 - v.roll(-1) / s;
  Vector3_T<Mode> picked = ternary(a >= v, u, a.cross(v));

  Matrix3x3_T<Mode> symmetric(c.diagonal(), c.offDiagonal());
  std::vector<R> out = {
      a.norm() + w.norm2() + u.dot(v), R(idx[0]), R(idx[1]), R(idx[2]),
      ct::ternary(a.isZero(), R(1.0), R(0.0)) + ct::ternary(u == u, R(2.0), R(0.0))};
  R const* arrays[] = {c.values(),      a.values(),        b.values(),      w.values(),
                       back.values(),   fromM.values(),    minRot.values(), u.values(),
                       picked.values(), symmetric.values()};
  int const counts[] = {9, 3, 3, 6, 4, 4, 9, 3, 3, 9};
  for (int k = 0; k < 10; ++k) out.insert(out.end(), arrays[k], arrays[k] + counts[k]);
  return out;
}

// A case whose quaternion is `q` and whose matrix is a rotation with its
// columns permuted and sign-flipped, so the rotation branches see real data.
vela::test::Case rotationCase(std::vector<double> q, unsigned seed) {
  vela::test::Case c{vela::test::randomDoubles(kInputs, seed), {}};
  std::copy(q.begin(), q.end(), c.doubles.begin());
  int const perm[] = {2, 0, 1};
  double const sign[] = {1.0, -1.0, 1.0};
  Mat e = permuted(Mat(Quat(q.data())), perm, sign);
  std::copy(e.values(), e.values() + 9, c.doubles.begin() + 4);
  return c;
}

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
      EXPECT_DOUBLE_EQ(ab.element(i, j), a.row(i).dot(b.column(j)));
      EXPECT_DOUBLE_EQ(abt.element(i, j), a.row(i).dot(b.row(j)));
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
  Transform3_T<Numeric> t(q1, V3(1, 2, 3)), twice = t.compose(t);
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
  EXPECT_EQ(Vector2_T<Traced>(ct::ternary(x < y, x, y), -L::quiet_NaN()).stringify(),
            "[ternary((x < y), x, y), NaN]");
  for (int i = 0; i < 50; ++i) deep = deep * y + 1.0;
  EXPECT_LT(stringify(deep).size(), 200u);  // deep graphs are cut short
  EXPECT_NE(stringify(deep).find("..."), std::string::npos);
  EXPECT_EQ(traceable(V3(1.0, -0.0, 0.25)).stringify(), "[1, -0, 0.25]");
  EXPECT_EQ(Mat(1, 2, 3, 4, 5, 6, 7, 8, 9).stringify(), "[1, 2, 3; 4, 5, 6; 7, 8, 9]");
  EXPECT_EQ(Transform3_T<Numeric>().stringify(), "{[1, 0, 0, 0], [0, 0, 0]}");
  double packed[21] = {0, 1, 2, 3, 4, 5};
  EXPECT_EQ(SV(packed).stringify() + SM(packed).stringify().substr(0, 20),
            "[0; 1; 2; 3; 4; 5][0, 1, 2, 3, 4, 5; 1");
}

TEST(Math3dRotation, QuaternionsAndMatricesRoundTrip) {
  std::mt19937 gen(42);
  std::vector<Quat> turns;
  for (int n = 0; n < 200; ++n) turns.push_back(randomTurn(gen, 2 * M_PI));
  // Half turns about axes and diagonals, and just short of and past them.
  for (V3 axis : {V3(1, 0, 0), V3(0, 1, 0), V3(0, 0, 1), V3(1, 1, 0), V3(1, -1, 0), V3(0, 1, -1),
                  V3(1, 0, 1), V3(1, 1, 1), V3(-1, 1, 1), V3(1, -1, -1)})
    for (double angle : {M_PI, M_PI - 1e-9, M_PI + 1e-9}) turns.push_back(turn(angle, axis));
  for (Quat q : turns) {
    expectRotation(Mat(q));
    Quat back{Mat(q)};  // q or -q: one rotation
    Quat sign = q.conjugate().compose(back).w() < 0 ? Quat(-1, 0, 0, 0) : Quat();
    EXPECT_GE(back.w(), 0.0);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(back.values()[k], sign.compose(q).values()[k], 2e-15);
  }
  EXPECT_TRUE(Quat(Mat(1, 0, 0, 0, -1, 0, 0, 0, -1)) == Quat(0, 1, 0, 0));  // exactly
}

TEST(Math3dRotation, QuaternionTiesGoToTheFirstOfTraceAndDiagonal) {
  // Trace and diagonal terms tie: the first candidate's component (trace, x,
  // y, z) is the root H, the other the quotient Q, an ulp below; half turns
  // also change sign with the choice.
  double const H = 0.7071067811865476, Q = 0.7071067811865475;
  std::pair<Mat, Quat> const rows[] = {
      {Mat(1, 0, 0, 0, 0, -1, 0, 1, 0), Quat(H, Q, 0, 0)},      // quarter turn about x: trace = xx
      {Mat(0, 0, 1, 0, 1, 0, -1, 0, 0), Quat(H, 0, Q, 0)},      // about y: trace = yy
      {Mat(0, -1, 0, 1, 0, 0, 0, 0, 1), Quat(H, 0, 0, Q)},      // about z: trace = zz
      {Mat(0, -1, 0, -1, 0, 0, 0, 0, -1), Quat(0, H, -Q, 0)},   // half turn, (1, -1, 0): xx = yy
      {Mat(0, 0, 1, 0, -1, 0, 1, 0, 0), Quat(0, H, 0, Q)},      // about (1, 0, 1): xx = zz
      {Mat(-1, 0, 0, 0, 0, -1, 0, -1, 0), Quat(0, 0, H, -Q)}};  // about (0, 1, -1): yy = zz
  for (auto const& [m, q] : rows) EXPECT_TRUE(Quat(m) == q) << Quat(m).stringify();
}

// Of the 24 proper rotations made of a matrix's columns, permuted and
// sign-flipped, the one of largest trace; the first on ties.
TEST(Math3dRotation, MinRotationPicksTheLargestTraceAndTheFirstOnTies) {
  std::mt19937 gen(7);
  for (int n = 0; n < 40; ++n) {
    // Turns below 45 degrees, permuted and made improper, come back exactly
    // (the other candidates turn by more); any turn gives the largest trace.
    Mat r0(randomTurn(gen, n < 20 ? M_PI / 4 : 2 * M_PI)), e = r0;
    int perm[3] = {n % 3, (n + 1 + n / 3 % 2) % 3, 0}, idx[3];
    perm[2] = 3 - perm[0] - perm[1];
    double sign[3] = {n & 1 ? -1.0 : 1.0, n & 2 ? -1.0 : 1.0, n & 4 ? -1.0 : 1.0};
    if (n < 20) e = permuted(r0, perm, sign);
    Mat r = e.minRotation(idx);
    expectRotation(r);
    EXPECT_TRUE(n >= 20 ||
                (r == r0 && perm[idx[0]] == 0 && perm[idx[1]] == 1 && perm[idx[2]] == 2));
    for (int c = 0; c < 24; ++c) {
      double g = e.determinant() < 0 ? -1.0 : 1.0;
      for (int j = 0; j < 3; ++j) {
        perm[j] = math3d::detail::kRotationColumn[j][c];
        sign[j] = math3d::detail::kRotationSign[j][c] * g;
      }
      EXPECT_GE(r.trace(), permuted(e, perm, sign).trace());
    }
  }
  // An eighth turn about z by exact sqrt(0.5) terms: the matrix itself and
  // its columns swapped with one sign flip tie; the first candidate wins.
  double h = std::sqrt(0.5);
  Mat e(h, -h, 0, h, h, 0, 0, 0, 1);
  int idx[3];
  EXPECT_TRUE(e.minRotation(idx) == e && idx[0] == 0 && idx[1] == 1 && idx[2] == 2);
  EXPECT_TRUE((-Mat::identity()).minRotation(idx) == Mat::identity());
}

TEST(Math3dThreePaths, EveryTypeAgreesBitForBitAndFolds) {
  std::vector<vela::test::Case> cases;
  for (unsigned seed = 1; seed <= 6; ++seed)
    cases.push_back({vela::test::randomDoubles(kInputs, seed), {}});
  // Each branch of the quaternion's choice, half turns, zeros and signed zeros.
  double h = std::sqrt(0.5),
         q[][4] = {{0.9, 0.1, -0.3, 0.2},  {0.1, 0.9, 0.3, -0.2}, {0.1, -0.3, 0.9, 0.2},
                   {-0.1, 0.2, 0.3, -0.9}, {0.0, 1.0, 0.0, 0.0},  {0.0, h, h, 0.0}};
  for (unsigned k = 0; k < 6; ++k) cases.push_back(rotationCase({q[k], q[k] + 4}, 7 + k));
  cases.push_back({std::vector<double>(kInputs, 0.0), {}});
  cases.push_back({std::vector<double>(kInputs, -0.0), {}});
  cases.back().doubles[0] = 1.0;
  cases.back().doubles[46] = 1e-310;
  auto result = vela::test::checkThreePaths(
      [](auto const& in) { return composite(in.doubles(0, kInputs)); }, cases);
  // The rotation choices were recorded, not decided on the host.
  EXPECT_NE(result.code.find("?"), std::string::npos);
  // Constants fold to the Numeric bits.
  for (auto const& c : cases) {
    std::vector<double> numeric = composite(c.doubles);
    auto folded = composite(std::vector<ct::TracedDouble>(c.doubles.begin(), c.doubles.end()));
    for (std::size_t j = 0; j < numeric.size(); ++j) {
      double value = 0.0;
      EXPECT_TRUE(folded[j].getConstant(value) && vela::test::sameBits(value, numeric[j])) << j;
    }
  }
}
