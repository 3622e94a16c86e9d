#include "vela/math/LumpedDistribution.hpp"

#include "vela/math/dense_kernels.hpp"

namespace vela::math {
namespace {

namespace ct = kelm_math::comp_trace;

/// Component i: the sum of the two other components.
template <class M>
math3d::Vector3_T<M> sumOfOthers(math3d::Vector3_T<M> const& v) {
  return v.roll(-1) + v.roll(1);
}

/// Component i: the product of the two other components.
template <class M>
math3d::Vector3_T<M> productOfOthers(math3d::Vector3_T<M> const& v) {
  return v.roll(1) * v.roll(-1);
}

/// Entry (i, j) = a_i b_j.
template <class M>
math3d::Matrix3x3_T<M> outer(math3d::Vector3_T<M> const& a, math3d::Vector3_T<M> const& b) {
  return {a.x() * b.x(), a.x() * b.y(), a.x() * b.z(), a.y() * b.x(), a.y() * b.y(),
          a.y() * b.z(), a.z() * b.x(), a.z() * b.y(), a.z() * b.z()};
}

/// True when a check's condition is known to be false (a constant in Traced).
bool knownFalse(bool condition) { return !condition; }
bool knownFalse(ct::TracedBool const& condition) { return condition.equalConstant(false); }

/// True when a divisor is known to be zero of either sign (a constant in Traced).
bool knownZero(double s) { return s == 0.0; }
bool knownZero(ct::TracedDouble const& s) {
  double value = 1.0;
  return s.getConstant(value) && value == 0.0;
}

/// Equal numbers in Numeric, structurally equal graphs in Traced.
bool sameScalar(double a, double b) { return a == b; }
bool sameScalar(ct::TracedDouble const& a, ct::TracedDouble const& b) {
  return a.isOperationallyEqual(b);
}

}  // namespace

CenterUndefinedError::~CenterUndefinedError() = default;
DivisionByZeroError::~DivisionByZeroError() = default;

template <class M>
const char* LumpedDistribution<M>::CenterUndefined::what() const noexcept {
  return "zeph CenterUndefined";
}
template <class M>
const char* LumpedDistribution<M>::DivisionByZero::what() const noexcept {
  return "zeph DivisionByZero";
}

template <class M>
LumpedDistribution<M>::LumpedDistribution() = default;

template <class M>
LumpedDistribution<M>::LumpedDistribution(Real const& m, Vector const& firstMoments,
                                          Vector const& secondMoments, Vector const& products)
    : m0_(m), m1_(firstMoments), m2_(secondMoments), p_(products) {}

template <class M>
LumpedDistribution<M>::LumpedDistribution(bool, Real const& m, Vector const& c, Vector const& I,
                                          Vector const& J)
    : m0_(m), m1_(c * m), m2_(I), p_(-J) {
  requireCenter_(isCenterDefined(m, c));
  m2_ = (sumOfOthers(I) - I) * Real(0.5);
  m2_ += (c * c) * m;
  p_ += productOfOthers(c) * m;
}

template <class M>
LumpedDistribution<M>::LumpedDistribution(LumpedDistribution<Traced> const& traced,
                                          BindingSet const& bindings) {
  if constexpr (std::is_same_v<M, Numeric>) {
    m0_ = traced.zeroethMoment().evaluate(bindings);
    m1_ = Vector(traced.firstMoments(), bindings);
    m2_ = Vector(traced.secondMoments(), bindings);
    p_ = Vector(traced.products(), bindings);
  }
}

template <class M>
void LumpedDistribution<M>::requireCenter_(Bool const& defined) {
  if (knownFalse(defined)) throw CenterUndefined();
}

template <class M>
typename LumpedDistribution<M>::Bool LumpedDistribution<M>::isCenterDefined(Real const& m,
                                                                            Vector const& v) {
  return ct::any(m != Real(0.0), v.isZero());
}

template <class M>
void LumpedDistribution<M>::total(Real const& t) {
  static Vector const unchanged;
  Real r = ct::guardedDivide(t, m0_);
  Real k = ct::guardedDivide(r - Real(1.0), m0_);
  // One trace serves both cases; Numeric adds the same zero, so both modes
  // give the same bits.
  Bool update = ct::all(m0_ != Real(0.0), t != Real(0.0));
  m2_ += math3d::ternary(update, (m1_ * m1_) * k, unchanged);
  p_ += math3d::ternary(update, productOfOthers(m1_) * k, unchanged);
  m1_ += math3d::ternary(update, m1_ * (r - Real(1.0)), unchanged);
  m0_ = t;
}

template <class M>
typename LumpedDistribution<M>::Vector LumpedDistribution<M>::center() const {
  requireCenter_(isCenterDefined());
  return m1_.guardedDivide(m0_);
}

template <class M>
void LumpedDistribution<M>::center(Vector const& c) {
  requireCenter_(isCenterDefined(m0_, c));
  m2_ += (c * c) * m0_ - (m1_ * m1_).guardedDivide(m0_);
  p_ += productOfOthers(c) * m0_ - productOfOthers(m1_).guardedDivide(m0_);
  m1_ = c * m0_;
}

template <class M>
typename LumpedDistribution<M>::Vector LumpedDistribution<M>::centerMoments() const {
  requireCenter_(isCenterDefined());
  return sumOfOthers(m2_ - (m1_ * m1_).guardedDivide(m0_));
}

template <class M>
void LumpedDistribution<M>::centerMoments(Vector const& I) {
  requireCenter_(isCenterDefined());
  m2_ = (sumOfOthers(I) - I) * Real(0.5) + (m1_ * m1_).guardedDivide(m0_);
}

template <class M>
typename LumpedDistribution<M>::Vector LumpedDistribution<M>::centerProducts() const {
  requireCenter_(isCenterDefined());
  return -p_ + productOfOthers(m1_).guardedDivide(m0_);
}

template <class M>
void LumpedDistribution<M>::centerProducts(Vector const& J) {
  requireCenter_(isCenterDefined());
  p_ = -J + productOfOthers(m1_).guardedDivide(m0_);
}

template <class M>
typename LumpedDistribution<M>::Bool LumpedDistribution<M>::isTriangleInequalitySatisfied() const {
  Vector I = centerMoments();
  return sumOfOthers(I) >= I;
}

template <class M>
void LumpedDistribution<M>::compPrincipalRep_(Transform& T, Vector& principal) const {
  Vector c = m1_.guardedDivide(m0_);
  Vector Sc = m2_ - m1_ * c;
  Vector Pc = p_ - m1_.roll(-1) * c.roll(1);
  math3d::Quaternion_T<M> q;
  compDiagonalization(sumOfOthers(Sc), -Pc, principal, q);
  T = Transform(q, c);
}

template <class M>
typename LumpedDistribution<M>::Vector LumpedDistribution<M>::principalMoments() const {
  requireCenter_(isCenterDefined());
  Transform T;
  Vector principal;
  compPrincipalRep_(T, principal);
  return principal;
}

template <class M>
typename LumpedDistribution<M>::Transform LumpedDistribution<M>::principalToReferenceTransform()
    const {
  requireCenter_(isCenterDefined());
  Transform T;
  Vector principal;
  compPrincipalRep_(T, principal);
  return T;
}

template <class M>
typename LumpedDistribution<M>::Transform
LumpedDistribution<M>::guardedPrincipalToReferenceTransform() const {
  Transform T;
  Vector principal;
  compPrincipalRep_(T, principal);
  Bool defined = isCenterDefined();
  math3d::Quaternion_T<M> const& q = T.quaternion();
  math3d::Quaternion_T<M> guardedQ(
      ct::ternary(defined, q.w(), Real(1.0)), ct::ternary(defined, q.x(), Real(0.0)),
      ct::ternary(defined, q.y(), Real(0.0)), ct::ternary(defined, q.z(), Real(0.0)));
  return Transform(guardedQ, math3d::ternary(defined, T.translation(), Vector()));
}

template <class M>
LumpedDistribution<M> LumpedDistribution<M>::transform(Transform const& T) const {
  math3d::Matrix3x3_T<M> R(T.quaternion());
  Vector a = T.xformDir(m1_);
  Vector const& p = T.translation();
  math3d::Matrix3x3_T<M> moments(m2_, p_);
  math3d::Matrix3x3_T<M> X = outer(a, p);
  math3d::Matrix3x3_T<M> Q = outer(p, p) * m0_;
  math3d::Matrix3x3_T<M> shifted =
      ((R.compose(moments)).composeTranspose(R) + X.transpose()) + X + Q;
  return LumpedDistribution(m0_, a + p * m0_, shifted.diagonal(), shifted.offDiagonal());
}

template <class M>
LumpedDistribution<M> LumpedDistribution<M>::convertVolumeDistribution(Real const& s) const {
  Real s2 = s * s;
  Real s3 = s2 * s;
  Real s4 = s3 * s;
  Real s5 = s4 * s;
  return LumpedDistribution(m0_ * s3, m1_ * s4, m2_ * s5, p_ * s5);
}

template <class M>
LumpedDistribution<M> LumpedDistribution<M>::operator-() const {
  return LumpedDistribution(-m0_, -m1_, -m2_, -p_);
}
template <class M>
LumpedDistribution<M> LumpedDistribution<M>::operator+(LumpedDistribution const& o) const {
  return LumpedDistribution(m0_ + o.m0_, m1_ + o.m1_, m2_ + o.m2_, p_ + o.p_);
}
template <class M>
LumpedDistribution<M> LumpedDistribution<M>::operator-(LumpedDistribution const& o) const {
  return LumpedDistribution(m0_ - o.m0_, m1_ - o.m1_, m2_ - o.m2_, p_ - o.p_);
}
template <class M>
LumpedDistribution<M>& LumpedDistribution<M>::operator+=(LumpedDistribution const& o) {
  return *this = *this + o;
}
template <class M>
LumpedDistribution<M>& LumpedDistribution<M>::operator-=(LumpedDistribution const& o) {
  return *this = *this - o;
}
template <class M>
LumpedDistribution<M> LumpedDistribution<M>::operator*(Real const& s) const {
  return LumpedDistribution(m0_ * s, m1_ * s, m2_ * s, p_ * s);
}
template <class M>
LumpedDistribution<M>& LumpedDistribution<M>::operator*=(Real const& s) {
  return *this = *this * s;
}
template <class M>
LumpedDistribution<M> LumpedDistribution<M>::operator/(Real const& s) const {
  if (knownZero(s)) throw DivisionByZero();
  return *this * (Real(1.0) / s);
}
template <class M>
LumpedDistribution<M>& LumpedDistribution<M>::operator/=(Real const& s) {
  return *this = *this / s;
}

template <class M>
typename LumpedDistribution<M>::Bool LumpedDistribution<M>::operator==(
    LumpedDistribution const& o) const {
  return ct::all(m0_ == o.m0_, m1_ == o.m1_, m2_ == o.m2_, p_ == o.p_);
}
template <class M>
typename LumpedDistribution<M>::Bool LumpedDistribution<M>::operator!=(
    LumpedDistribution const& o) const {
  return !(*this == o);
}

template <class M>
bool LumpedDistribution<M>::isOperationallyEqual(LumpedDistribution const& o) const {
  return sameScalar(m0_, o.m0_) && m1_.isOperationallyEqual(o.m1_) &&
         m2_.isOperationallyEqual(o.m2_) && p_.isOperationallyEqual(o.p_);
}

template <class M>
std::string LumpedDistribution<M>::stringify() const {
  return "m0 = " + math3d::stringify(m0_) + ";\nm1 = " + m1_.stringify() +
         ";\nm2 = " + m2_.stringify() + ";\np  = " + p_.stringify() + ";";
}

LumpedDistribution<Traced> traceable(LumpedDistribution<Numeric> const& d) {
  return LumpedDistribution<Traced>(
      ct::TracedDouble(d.zeroethMoment()), math3d::traceable(d.firstMoments()),
      math3d::traceable(d.secondMoments()), math3d::traceable(d.products()));
}

template class LumpedDistribution<Numeric>;
template class LumpedDistribution<Traced>;

}  // namespace vela::math
