#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// Symmetric 6-by-6 spatial matrices over the mode.

#include <string>
#include <type_traits>

#include "math3d/Matrix3x3.hpp"
#include "math3d/SpatialVector.hpp"

namespace math3d {

/// A symmetric 6-by-6 matrix acting on spatial vectors (rows and columns 0..2
/// angular, 3..5 linear). It stores its 21 independent values: the lower
/// triangle packed column by column, (0,0), (1,0), ..., (5,0), (1,1), (2,1),
/// ..., (5,5); element (i, j) with i >= j is values()[packedIndex(i, j)] and
/// element (j, i) is the same value.
template <class Mode>
class SymmetricSpatialMatrix_T {
 public:
  using Real = math3d::Real<Mode>;        ///< Element type: double, or traced.
  using Boolean = math3d::Boolean<Mode>;  ///< Result type of comparisons.
  using Vector = SpatialVector_T<Mode>;   ///< The vectors the matrix acts on.
  using Matrix3 = Matrix3x3_T<Mode>;      ///< Its 3-by-3 blocks.

  /// Position of element (i, j) in the packed storage, either order of i and j.
  static constexpr int packedIndex(int i, int j) {
    return i >= j ? 6 * j - j * (j - 1) / 2 + (i - j) : 6 * i - i * (i - 1) / 2 + (j - i);
  }

  /// The zero matrix.
  SymmetricSpatialMatrix_T() = default;
  /// Reads the 21 packed values from p.
  explicit SymmetricSpatialMatrix_T(Real const* packed) { values(packed); }
  /// The matrix [angular, coupling; transpose(coupling), linear]: angular
  /// and linear are read from their lower triangles, coupling (rows angular,
  /// columns linear) in full.
  SymmetricSpatialMatrix_T(Matrix3 const& angular, Matrix3 const& coupling, Matrix3 const& linear) {
    for (int j = 0; j < 3; ++j)
      for (int i = j; i < 3; ++i) {
        element(i, j, angular.element(i, j));
        element(i + 3, j + 3, linear.element(i, j));
      }
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) element(i, j + 3, coupling.element(i, j));
  }
  /// Numeric only: the traced matrix evaluated against the bindings.
  template <class M = Mode, std::enable_if_t<std::is_same_v<M, Numeric>, int> = 0>
  SymmetricSpatialMatrix_T(SymmetricSpatialMatrix_T<Traced> const& traced,
                           BindingSet const& bindings) {
    for (int k = 0; k < 21; ++k) s_[k] = traced.values()[k].evaluate(bindings);
  }

  /// The 21 packed values: read through a pointer, or set from the 21 at
  /// packed.
  ///@{
  Real const* values() const { return s_; }
  void values(Real const* packed) {
    for (int k = 0; k < 21; ++k) s_[k] = packed[k];
  }
  ///@}
  /// Element (i, j) = element (j, i), 0 <= i, j < 6 (not checked).
  Real const& element(int i, int j) const { return s_[packedIndex(i, j)]; }
  /// Sets element (i, j) and with it element (j, i).
  void element(int i, int j, Real const& value) { s_[packedIndex(i, j)] = value; }

  /// Element-wise sum and difference in place; returns this matrix.
  ///@{
  SymmetricSpatialMatrix_T& operator+=(SymmetricSpatialMatrix_T const& b) {
    for (int k = 0; k < 21; ++k) s_[k] += b.s_[k];
    return *this;
  }
  SymmetricSpatialMatrix_T& operator-=(SymmetricSpatialMatrix_T const& b) {
    for (int k = 0; k < 21; ++k) s_[k] -= b.s_[k];
    return *this;
  }
  ///@}
  /// Element-wise sum and difference.
  ///@{
  SymmetricSpatialMatrix_T operator+(SymmetricSpatialMatrix_T const& b) const {
    SymmetricSpatialMatrix_T r = *this;
    return r += b;
  }
  SymmetricSpatialMatrix_T operator-(SymmetricSpatialMatrix_T const& b) const {
    SymmetricSpatialMatrix_T r = *this;
    return r -= b;
  }
  ///@}
  /// Every element times s.
  SymmetricSpatialMatrix_T operator*(Real const& s) const {
    SymmetricSpatialMatrix_T r;
    for (int k = 0; k < 21; ++k) r.s_[k] = s_[k] * s;
    return r;
  }

  /// The full symmetric product M v: result i sums M(i, j) v(j) over j in
  /// index order.
  Vector xform(Vector const& v) const {
    Real const* x = v.values();
    Real r[6];
    for (int i = 0; i < 6; ++i) r[i] = element(i, 0) * x[0];
    for (int j = 1; j < 6; ++j)
      for (int i = 0; i < 6; ++i) r[i] += element(i, j) * x[j];
    return Vector(r);
  }
  /// The product M v, as xform(v).
  Vector operator*(Vector const& v) const { return xform(v); }

  /// True when all 21 values compare equal.
  Boolean operator==(SymmetricSpatialMatrix_T const& b) const {
    Boolean r = s_[0] == b.s_[0];
    for (int k = 1; k < 21; ++k) r = r && (s_[k] == b.s_[k]);
    return r;
  }
  /// Equal values: by double comparison in Numeric (NaN never equal), by
  /// structurally equal graphs in Traced.
  bool isOperationallyEqual(SymmetricSpatialMatrix_T const& b) const {
    for (int k = 0; k < 21; ++k)
      if (!detail::sameOperation(s_[k], b.s_[k])) return false;
    return true;
  }
  /// Script text of the full 6-by-6 matrix, rows separated by "; " and
  /// elements by ", ": "[m00, m01, ..., m05; m10, ...; ..., m55]".
  std::string stringify() const {
    std::string text = "[";
    for (int i = 0; i < 6; ++i) {
      if (i > 0) text += "; ";
      for (int j = 0; j < 6; ++j) text += (j > 0 ? ", " : "") + math3d::stringify(element(i, j));
    }
    return text + "]";
  }

 private:
  Real s_[21] = {};
};

/// A traced copy with constant values.
SymmetricSpatialMatrix_T<Traced> traceable(SymmetricSpatialMatrix_T<Numeric> const& m);

extern template class SymmetricSpatialMatrix_T<Traced>;

}  // namespace math3d

#pragma GCC visibility pop
