#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// Plane and space vectors over the mode.

#include <string>
#include <type_traits>

#include "math3d/FixedVector.hpp"

namespace math3d {

/// A plane vector (x, y); coordinates are double (Numeric) or traced.
template <class Mode>
class Vector2_T : public detail::FixedVector<Vector2_T, Mode, 2> {
  using Base = detail::FixedVector<Vector2_T, Mode, 2>;

 public:
  using typename Base::Real;

  /// The zero vector.
  Vector2_T() = default;
  /// The vector (x, y).
  Vector2_T(Real const& x, Real const& y) { this->v_[0] = x, this->v_[1] = y; }
  /// Reads 2 contiguous coordinates from p.
  explicit Vector2_T(Real const* p) { this->values(p); }
  /// Numeric only: the traced vector evaluated against the bindings
  /// (UnboundInput when an input has no value).
  template <class M = Mode, std::enable_if_t<std::is_same_v<M, Numeric>, int> = 0>
  Vector2_T(Vector2_T<Traced> const& traced, BindingSet const& bindings) {
    this->evaluate_(traced, bindings);
  }

  /// Coordinates 0 and 1: x() reads x, x(v) sets it; the same for y.
  ///@{
  Real const& x() const { return this->v_[0]; }
  Real const& y() const { return this->v_[1]; }
  void x(Real const& v) { this->v_[0] = v; }
  void y(Real const& v) { this->v_[1] = v; }
  ///@}

  /// Cyclic shift: result[i] = v[(i - k) mod 2]; roll(1) and roll(-1) swap x and y.
  Vector2_T roll(int k) const { return this->roll_(k); }
  /// Script row text "[x, y]".
  std::string stringify() const { return detail::bracketed(this->v_, 2, ", "); }
};

/// A space vector (x, y, z); coordinates are double (Numeric) or traced.
template <class Mode>
class Vector3_T : public detail::FixedVector<Vector3_T, Mode, 3> {
  using Base = detail::FixedVector<Vector3_T, Mode, 3>;

 public:
  using typename Base::Real;

  /// The zero vector.
  Vector3_T() = default;
  /// The vector (x, y, z).
  Vector3_T(Real const& x, Real const& y, Real const& z) {
    this->v_[0] = x, this->v_[1] = y, this->v_[2] = z;
  }
  /// Reads 3 contiguous coordinates from p.
  explicit Vector3_T(Real const* p) { this->values(p); }
  /// The plane vector lifted to z = 0.
  explicit Vector3_T(Vector2_T<Mode> const& v) : Vector3_T(v.x(), v.y(), Real(0.0)) {}
  /// Numeric only: the traced vector evaluated against the bindings
  /// (UnboundInput when an input has no value).
  template <class M = Mode, std::enable_if_t<std::is_same_v<M, Numeric>, int> = 0>
  Vector3_T(Vector3_T<Traced> const& traced, BindingSet const& bindings) {
    this->evaluate_(traced, bindings);
  }

  /// Coordinates 0, 1 and 2: x() reads x, x(v) sets it; the same for y
  /// and z.
  ///@{
  Real const& x() const { return this->v_[0]; }
  Real const& y() const { return this->v_[1]; }
  Real const& z() const { return this->v_[2]; }
  void x(Real const& v) { this->v_[0] = v; }
  void y(Real const& v) { this->v_[1] = v; }
  void z(Real const& v) { this->v_[2] = v; }
  ///@}

  /// Cross product this x o.
  Vector3_T cross(Vector3_T const& o) const {
    Real const* a = this->v_;
    Real const* b = o.v_;
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
  }
  /// Cyclic shift: result[i] = v[(i - k) mod 3], so roll(1) of (x, y, z) is
  /// (z, x, y) and roll(-1) is (y, z, x).
  Vector3_T roll(int k) const { return this->roll_(k); }
  /// Script row text "[x, y, z]".
  std::string stringify() const { return detail::bracketed(this->v_, 3, ", "); }
};

/// A traced copy with constant coordinates.
///@{
inline Vector2_T<Traced> traceable(Vector2_T<Numeric> const& v) {
  return Vector2_T<Traced>(v.x(), v.y());
}
inline Vector3_T<Traced> traceable(Vector3_T<Numeric> const& v) {
  return Vector3_T<Traced>(v.x(), v.y(), v.z());
}
///@}

/// Coordinate-wise c ? a : b; a constant condition picks without recording.
///@{
inline Vector2_T<Traced> ternary(TracedValue<bool> const& c, Vector2_T<Traced> const& a,
                                 Vector2_T<Traced> const& b) {
  return detail::ternaryOf<Vector2_T, 2>(c, a, b);
}
inline Vector3_T<Traced> ternary(TracedValue<bool> const& c, Vector3_T<Traced> const& a,
                                 Vector3_T<Traced> const& b) {
  return detail::ternaryOf<Vector3_T, 3>(c, a, b);
}
inline Vector2_T<Numeric> ternary(bool c, Vector2_T<Numeric> const& a,
                                  Vector2_T<Numeric> const& b) {
  return c ? a : b;
}
inline Vector3_T<Numeric> ternary(bool c, Vector3_T<Numeric> const& a,
                                  Vector3_T<Numeric> const& b) {
  return c ? a : b;
}
///@}

extern template class detail::FixedVector<Vector2_T, Traced, 2>;
extern template class detail::FixedVector<Vector3_T, Traced, 3>;
extern template class Vector2_T<Traced>;
extern template class Vector3_T<Traced>;

}  // namespace math3d

#pragma GCC visibility pop
