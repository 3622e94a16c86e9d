#include <gtest/gtest.h>

#include <cmath>

#include "math3d/math3d.hpp"
#include "support/ThreePaths.hpp"

namespace {

namespace ct = kelm_math::comp_trace;
using math3d::Real;

// 47 inputs: quaternion (4, normalised here), matrix (9), translation (3),
// direction (3), spatial vector (6), packed symmetric spatial matrix (21), scalar (1).
constexpr std::size_t kInputs = 47;

template <class Mode>
std::vector<Real<Mode>> composite(vela::test::Inputs<Mode> const& in) {
  using namespace math3d;
  using ct::sqrt;
  using ct::ternary;
  using R = Real<Mode>;
  auto d = in.doubles(0, kInputs);
  Quaternion_T<Mode> raw(d.data());
  R n = sqrt(raw.norm2());
  Quaternion_T<Mode> q(raw.w() / n, raw.x() / n, raw.y() / n, raw.z() / n);
  Matrix3x3_T<Mode> rot(q);
  Matrix3x3_T<Mode> m(d.data() + 4, false);
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

  std::vector<R> out;
  auto add = [&out](R const* values, int count) { out.insert(out.end(), values, values + count); };
  add(c.values(), 9);
  add(a.values(), 3);
  add(b.values(), 3);
  add(w.values(), 6);
  add(back.values(), 4);
  add(fromM.values(), 4);
  add(minRot.values(), 9);
  for (auto const& k : idx) out.push_back(R(k));
  add(u.values(), 3);
  add(picked.values(), 3);
  add(Matrix3x3_T<Mode>(c.diagonal(), c.offDiagonal()).values(), 9);
  out.push_back(a.norm() + w.norm2() + u.dot(v));
  out.push_back(ternary(a.isZero(), R(1.0), R(0.0)) + ternary(u == u, R(2.0), R(0.0)));
  return out;
}

// A case whose quaternion is `q` and whose matrix is a rotation with its
// columns permuted and sign-flipped, so the rotation branches see real data.
vela::test::Case rotationCase(std::vector<double> q, unsigned seed) {
  vela::test::Case c{vela::test::randomDoubles(kInputs, seed), {}};
  std::copy(q.begin(), q.end(), c.doubles.begin());
  math3d::Matrix3x3_T<math3d::Numeric> r(math3d::Quaternion_T<math3d::Numeric>(q.data()));
  int const perm[3] = {2, 0, 1};
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i)
      c.doubles[4 + i + 3 * j] = (j == 1 ? -1.0 : 1.0) * r.element(i, perm[j]);
  return c;
}

TEST(Math3dThreePaths, CompositeOverEveryTypeAgreesBitForBit) {
  std::vector<vela::test::Case> cases;
  for (unsigned seed = 1; seed <= 6; ++seed)
    cases.push_back({vela::test::randomDoubles(kInputs, seed), {}});
  double h = std::sqrt(0.5);
  cases.push_back(rotationCase({0.9, 0.1, -0.3, 0.2}, 7));
  cases.push_back(rotationCase({0.1, 0.9, 0.3, -0.2}, 8));
  cases.push_back(rotationCase({0.1, -0.3, 0.9, 0.2}, 9));
  cases.push_back(rotationCase({-0.1, 0.2, 0.3, -0.9}, 10));
  cases.push_back(rotationCase({0.0, 1.0, 0.0, 0.0}, 11));  // half turns
  cases.push_back(rotationCase({0.0, h, h, 0.0}, 12));
  cases.push_back({std::vector<double>(kInputs, 0.0), {}});
  std::vector<double> edge(kInputs, -0.0);
  edge[0] = 1.0;
  edge[46] = 1e-310;
  cases.push_back({edge, {}});
  auto result = vela::test::checkThreePaths([](auto const& in) { return composite(in); }, cases);
  // The rotation choices were recorded, not decided on the host.
  EXPECT_NE(result.code.find("?"), std::string::npos);
  for (auto const& value : result.traced) ASSERT_FALSE(value.isConstant());
}

}  // namespace
