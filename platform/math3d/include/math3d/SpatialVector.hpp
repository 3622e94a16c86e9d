#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// Spatial vectors over the mode.

#include <string>
#include <type_traits>

#include "math3d/Vector.hpp"

namespace math3d {

/// A spatial vector of six coordinates: the angular triple first (indices
/// 0..2), then the linear triple (3..5).
template <class Mode>
class SpatialVector_T : public detail::FixedVector<SpatialVector_T, Mode, 6> {
  using Base = detail::FixedVector<SpatialVector_T, Mode, 6>;

 public:
  using typename Base::Real;
  using Vector = Vector3_T<Mode>;  ///< Type of the angular and linear triples.

  /// The zero vector.
  SpatialVector_T() = default;
  /// The vector of the two triples.
  SpatialVector_T(Vector const& angular, Vector const& linear) {
    this->angular(angular);
    this->linear(linear);
  }
  /// Reads 6 contiguous coordinates (angular, then linear) from p.
  explicit SpatialVector_T(Real const* p) { this->values(p); }
  /// Numeric only: the traced vector evaluated against the bindings.
  template <class M = Mode, std::enable_if_t<std::is_same_v<M, Numeric>, int> = 0>
  SpatialVector_T(SpatialVector_T<Traced> const& traced, BindingSet const& bindings) {
    this->evaluate_(traced, bindings);
  }

  /// The angular triple (coordinates 0..2) and the linear triple (3..5),
  /// read as copies or set.
  ///@{
  Vector angular() const { return Vector(this->v_); }
  Vector linear() const { return Vector(this->v_ + 3); }
  void angular(Vector const& v) {
    for (int i = 0; i < 3; ++i) this->v_[i] = v.coord(i);
  }
  void linear(Vector const& v) {
    for (int i = 0; i < 3; ++i) this->v_[3 + i] = v.coord(i);
  }
  ///@}

  /// Script column text "[a0; a1; a2; l0; l1; l2]" (a 6-by-1 column, so that
  /// it stacks with other columns).
  std::string stringify() const { return detail::bracketed(this->v_, 6, "; "); }
};

/// A traced copy with constant coordinates.
SpatialVector_T<Traced> traceable(SpatialVector_T<Numeric> const& v);

/// Coordinate-wise c ? a : b.
///@{
inline SpatialVector_T<Traced> ternary(TracedValue<bool> const& c, SpatialVector_T<Traced> const& a,
                                       SpatialVector_T<Traced> const& b) {
  return detail::ternaryOf<SpatialVector_T, 6>(c, a, b);
}
inline SpatialVector_T<Numeric> ternary(bool c, SpatialVector_T<Numeric> const& a,
                                        SpatialVector_T<Numeric> const& b) {
  return c ? a : b;
}
///@}

extern template class detail::FixedVector<SpatialVector_T, Traced, 6>;
extern template class SpatialVector_T<Traced>;

}  // namespace math3d

#pragma GCC visibility pop
