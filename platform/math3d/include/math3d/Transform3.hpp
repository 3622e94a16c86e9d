#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// Rigid transforms over the mode.

#include <string>
#include <type_traits>

#include "math3d/Quaternion.hpp"

namespace math3d {

/// The rigid transform x -> R x + p, R the rotation of a unit quaternion and
/// p a translation.
template <class Mode>
class Transform3_T {
 public:
  using Real = math3d::Real<Mode>;        ///< Coordinate type: double, or traced.
  using Vector = Vector3_T<Mode>;         ///< Points, directions and the translation.
  using Quaternion = Quaternion_T<Mode>;  ///< The rotation.

  /// The identity: quaternion (1, 0, 0, 0), zero translation.
  Transform3_T() = default;
  /// The transform of rotation q (used as given, not normalised) and
  /// translation p.
  Transform3_T(Quaternion const& q, Vector const& p) : q_(q), p_(p) {}
  /// Numeric only: the traced transform evaluated against the bindings.
  template <class M = Mode, std::enable_if_t<std::is_same_v<M, Numeric>, int> = 0>
  Transform3_T(Transform3_T<Traced> const& traced, BindingSet const& bindings)
      : q_(traced.quaternion(), bindings), p_(traced.translation(), bindings) {}

  /// The rotation's quaternion, read or set (not normalised).
  ///@{
  Quaternion const& quaternion() const { return q_; }
  void quaternion(Quaternion const& q) { q_ = q; }
  ///@}
  /// The translation p, read or set.
  ///@{
  Vector const& translation() const { return p_; }
  void translation(Vector const& p) { p_ = p; }
  ///@}

  /// R v: the direction rotated, through Matrix3x3_T(quaternion()).
  Vector xformDir(Vector const& v) const { return Matrix3x3_T<Mode>(q_) * v; }
  /// R v + p.
  Vector xformPoint(Vector const& v) const { return xformDir(v) + p_; }
  /// This transform after b: x -> R (Rb x + pb) + p.
  Transform3_T compose(Transform3_T const& b) const {
    return Transform3_T(q_.compose(b.q_), xformPoint(b.p_));
  }
  /// The inverse x -> R^T (x - p).
  Transform3_T inverse() const {
    Quaternion c = q_.conjugate();
    return Transform3_T(c, -Transform3_T(c, Vector()).xformDir(p_));
  }

  /// Script text "{[w, x, y, z], [px, py, pz]}".
  std::string stringify() const { return "{" + q_.stringify() + ", " + p_.stringify() + "}"; }

 private:
  Quaternion q_;
  Vector p_;
};

/// A traced copy with constant components.
Transform3_T<Traced> traceable(Transform3_T<Numeric> const& t);

extern template class Transform3_T<Traced>;

}  // namespace math3d

#pragma GCC visibility pop
