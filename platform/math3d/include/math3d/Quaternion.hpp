#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// Rotation quaternions over the mode.

#include <string>
#include <type_traits>

#include "math3d/Matrix3x3.hpp"

namespace math3d {

/// A rotation quaternion (w, x, y, z), scalar part first, meant to be of unit
/// norm. It rotates v to q v q* (Hamilton product), the rotation of
/// Matrix3x3_T(q). Built from a matrix, w >= 0 (for a half turn, w = 0 and the
/// largest of |x|, |y|, |z| is positive).
template <class Mode>
class Quaternion_T {
 public:
  using Real = math3d::Real<Mode>;        ///< Component type: double, or traced.
  using Integer = math3d::Integer<Mode>;  ///< Index type: int, or traced.
  using Boolean = math3d::Boolean<Mode>;  ///< Result type of comparisons.

  /// The identity rotation (1, 0, 0, 0).
  Quaternion_T() : q_{Real(1.0), Real(0.0), Real(0.0), Real(0.0)} {}
  /// The quaternion (w, x, y, z) as given, not normalised.
  Quaternion_T(Real const& w, Real const& x, Real const& y, Real const& z) : q_{w, x, y, z} {}
  /// Reads (w, x, y, z) from p.
  explicit Quaternion_T(Real const* p) : q_{p[0], p[1], p[2], p[3]} {}
  /// The quaternion of a rotation matrix, robust for every rotation: the
  /// largest of the trace and the three diagonal terms decides which
  /// component is taken from a square root (the first on ties). In Traced
  /// that choice is recorded with traced comparisons and selections. A
  /// matrix that is not a rotation gives an unspecified quaternion (NaN
  /// stays NaN).
  explicit Quaternion_T(Matrix3x3_T<Mode> const& m);
  /// Numeric only: the traced quaternion evaluated against the bindings.
  template <class M = Mode, std::enable_if_t<std::is_same_v<M, Numeric>, int> = 0>
  Quaternion_T(Quaternion_T<Traced> const& traced, BindingSet const& bindings) {
    for (int k = 0; k < 4; ++k) q_[k] = traced.values()[k].evaluate(bindings);
  }

  /// The four components (w, x, y, z): read through a pointer, or set
  /// from the four at p.
  ///@{
  Real const* values() const { return q_; }
  void values(Real const* p) {
    for (int k = 0; k < 4; ++k) q_[k] = p[k];
  }
  ///@}
  /// Component k (0: w, 1: x, 2: y, 3: z), read or set; 0 <= k < 4 (not
  /// checked).
  ///@{
  Real const& coord(int k) const { return q_[k]; }
  void coord(int k, Real const& v) { q_[k] = v; }
  ///@}
  /// The scalar part w and the vector part (x, y, z).
  ///@{
  Real const& w() const { return q_[0]; }
  Real const& x() const { return q_[1]; }
  Real const& y() const { return q_[2]; }
  Real const& z() const { return q_[3]; }
  ///@}

  /// The inverse rotation (w, -x, -y, -z).
  Quaternion_T conjugate() const { return {q_[0], -q_[1], -q_[2], -q_[3]}; }
  /// The Hamilton product this * b: rotation b first, then this.
  Quaternion_T compose(Quaternion_T const& b) const {
    Real const *a = q_, *c = b.q_;
    return {((a[0] * c[0] - a[1] * c[1]) - a[2] * c[2]) - a[3] * c[3],
            ((a[0] * c[1] + a[1] * c[0]) + a[2] * c[3]) - a[3] * c[2],
            ((a[0] * c[2] - a[1] * c[3]) + a[2] * c[0]) + a[3] * c[1],
            ((a[0] * c[3] + a[1] * c[2]) - a[2] * c[1]) + a[3] * c[0]};
  }
  /// Squared norm ((w^2 + x^2) + y^2) + z^2: 1 for a rotation, up to rounding.
  Real norm2() const { return ((q_[0] * q_[0] + q_[1] * q_[1]) + q_[2] * q_[2]) + q_[3] * q_[3]; }

  /// True when all four components compare equal.
  Boolean operator==(Quaternion_T const& b) const {
    return ((q_[0] == b.q_[0]) && (q_[1] == b.q_[1])) && ((q_[2] == b.q_[2]) && (q_[3] == b.q_[3]));
  }
  /// Not ==: true when some component differs or is NaN.
  Boolean operator!=(Quaternion_T const& b) const { return !(*this == b); }
  /// Equal components: by double comparison in Numeric (NaN never equal),
  /// by structurally equal graphs in Traced.
  bool isOperationallyEqual(Quaternion_T const& b) const {
    for (int k = 0; k < 4; ++k)
      if (!detail::sameOperation(q_[k], b.q_[k])) return false;
    return true;
  }
  /// Script row text "[w, x, y, z]".
  std::string stringify() const { return detail::bracketed(q_, 4, ", "); }

 private:
  Real q_[4];
};

template <class Mode>
Matrix3x3_T<Mode>::Matrix3x3_T(Quaternion_T<Mode> const& q) {
  Real const &w = q.w(), &x = q.x(), &y = q.y(), &z = q.z();
  Real tx = x + x, ty = y + y, tz = z + z;
  Real twx = tx * w, twy = ty * w, twz = tz * w;
  Real txx = tx * x, txy = ty * x, txz = tz * x;
  Real tyy = ty * y, tyz = tz * y, tzz = tz * z;
  m_[0] = Real(1.0) - (tyy + tzz);
  m_[1] = txy + twz;
  m_[2] = txz - twy;
  m_[3] = txy - twz;
  m_[4] = Real(1.0) - (txx + tzz);
  m_[5] = tyz + twx;
  m_[6] = txz + twy;
  m_[7] = tyz - twx;
  m_[8] = Real(1.0) - (txx + tyy);
}

template <class Mode>
Quaternion_T<Mode>::Quaternion_T(Matrix3x3_T<Mode> const& m) {
  Real const &m00 = m.element(0, 0), &m11 = m.element(1, 1), &m22 = m.element(2, 2);
  Real const &m01 = m.element(0, 1), &m10 = m.element(1, 0);
  Real const &m02 = m.element(0, 2), &m20 = m.element(2, 0);
  Real const &m12 = m.element(1, 2), &m21 = m.element(2, 1);
  // k: 0 when the trace is largest (w dominant), else 1 + the axis whose
  // diagonal term is largest (that axis' component dominant); its square is
  // at least 1/4, so the square root below is at least 1.
  Real t = (m00 + m11) + m22;
  Integer k(0);
  Real best = t;
  Real const* diag[3] = {&m00, &m11, &m22};
  for (int a = 0; a < 3; ++a) {
    Boolean larger = *diag[a] > best;
    k = detail::select(larger, Integer(a + 1), k);
    best = detail::select(larger, *diag[a], best);
  }
  Real one(1.0);
  Real root = detail::sqrtOf(detail::pick4(k, ((one + m00) + m11) + m22, ((one + m00) - m11) - m22,
                                           ((one - m00) + m11) - m22, ((one - m00) - m11) + m22));
  Real half = Real(0.5) * root;
  Real r = Real(0.5) / root;
  Real a = (m21 - m12) * r, b = (m02 - m20) * r, c = (m10 - m01) * r;
  Real d = (m01 + m10) * r, e = (m02 + m20) * r, f = (m12 + m21) * r;
  Real w = detail::pick4(k, half, a, b, c);
  Real x = detail::pick4(k, a, half, d, e);
  Real y = detail::pick4(k, b, d, half, f);
  Real z = detail::pick4(k, c, e, f, half);
  // q and -q are the same rotation; keep w >= 0.
  Real s = detail::select(w < Real(0.0), Real(-1.0), Real(1.0));
  q_[0] = s * w;
  q_[1] = s * x;
  q_[2] = s * y;
  q_[3] = s * z;
}

/// A traced copy with constant components.
Quaternion_T<Traced> traceable(Quaternion_T<Numeric> const& q);

/// Component-wise c ? a : b.
///@{
Quaternion_T<Traced> ternary(TracedValue<bool> const& c, Quaternion_T<Traced> const& a,
                             Quaternion_T<Traced> const& b);
inline Quaternion_T<Numeric> ternary(bool c, Quaternion_T<Numeric> const& a,
                                     Quaternion_T<Numeric> const& b) {
  return c ? a : b;
}
///@}

extern template class Quaternion_T<Traced>;

}  // namespace math3d

#pragma GCC visibility pop
