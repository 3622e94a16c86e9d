// Every 3-D type through the four paths and folded constants, and Numeric
// values rebuilt from traced ones by evaluation.
#include <gtest/gtest.h>

#include <cmath>

#include "math3d/math3d.hpp"
#include "support/ThreePaths.hpp"

namespace {

namespace ct = kelm_math::comp_trace;
using namespace math3d;

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
  Matrix3x3_T<Numeric> r(Quaternion_T<Numeric>(q.data())), e;
  e.column(0, r.column(2));
  e.column(1, -r.column(0));
  e.column(2, r.column(1));
  std::copy(e.values(), e.values() + 9, c.doubles.begin() + 4);
  return c;
}

}  // namespace

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
