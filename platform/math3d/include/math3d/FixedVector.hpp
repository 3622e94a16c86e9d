#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// The coordinate-wise operations shared by Vector2_T, Vector3_T and
/// SpatialVector_T, written once over the mode. Numeric instances are plain
/// arrays of N doubles with every operation inline.

#include <string>

#include "math3d/Scalar.hpp"
#include "math3d/Stringify.hpp"

/// Implementation details, not part of the API; the vector types' common
/// base FixedVector is documented for its inherited members.
namespace math3d::detail {

/// Base of the fixed-size vectors D<Mode> with N coordinates.
template <template <class> class D, class Mode, int N>
class FixedVector {
 public:
  /// Coordinate type: double, or TracedValue<double> in Traced.
  using Real = math3d::Real<Mode>;
  /// Result type of comparisons: bool, or TracedValue<bool> in Traced.
  using Boolean = math3d::Boolean<Mode>;
  /// The vector class built on this base, D<Mode>.
  using Derived = D<Mode>;
  /// Number of coordinates.
  static constexpr int dimension = N;

  /// Pointer to the N contiguous coordinates.
  Real const* values() const { return v_; }
  /// Pointer to the N contiguous coordinates, for writing them.
  Real* values() { return v_; }
  /// Copies N coordinates in from p.
  void values(Real const* p) {
    for (int i = 0; i < N; ++i) v_[i] = p[i];
  }
  /// Writes the N coordinates to out.
  void getValues(Real* out) const {
    for (int i = 0; i < N; ++i) out[i] = v_[i];
  }
  /// Coordinate i, 0 <= i < N (not checked).
  Real const& coord(int i) const { return v_[i]; }
  /// Sets coordinate i to value, 0 <= i < N (not checked).
  void coord(int i, Real const& value) { v_[i] = value; }

  /// Coordinate-wise sum.
  Derived operator+(Derived const& o) const {
    Derived r;
    for (int i = 0; i < N; ++i) r.v_[i] = v_[i] + o.v_[i];
    return r;
  }
  /// Coordinate-wise difference.
  Derived operator-(Derived const& o) const {
    Derived r;
    for (int i = 0; i < N; ++i) r.v_[i] = v_[i] - o.v_[i];
    return r;
  }
  /// Sign negation: 0 becomes -0.
  Derived operator-() const {
    Derived r;
    for (int i = 0; i < N; ++i) r.v_[i] = -v_[i];
    return r;
  }
  /// Adds o coordinate-wise; returns this vector.
  Derived& operator+=(Derived const& o) {
    for (int i = 0; i < N; ++i) v_[i] += o.v_[i];
    return self_();
  }
  /// Subtracts o coordinate-wise; returns this vector.
  Derived& operator-=(Derived const& o) {
    for (int i = 0; i < N; ++i) v_[i] -= o.v_[i];
    return self_();
  }
  /// Each coordinate times s.
  Derived operator*(Real const& s) const {
    Derived r;
    for (int i = 0; i < N; ++i) r.v_[i] = v_[i] * s;
    return r;
  }
  /// s times each coordinate of v, the same as v * s.
  friend Derived operator*(Real const& s, Derived const& v) { return v * s; }
  /// Each coordinate divided by s (IEEE: s = 0 gives infinities or NaN).
  Derived operator/(Real const& s) const {
    Derived r;
    for (int i = 0; i < N; ++i) r.v_[i] = v_[i] / s;
    return r;
  }
  /// Multiplies each coordinate by s; returns this vector.
  Derived& operator*=(Real const& s) {
    for (int i = 0; i < N; ++i) v_[i] *= s;
    return self_();
  }
  /// Divides each coordinate by s (IEEE: s = 0 gives infinities or NaN);
  /// returns this vector.
  Derived& operator/=(Real const& s) {
    for (int i = 0; i < N; ++i) v_[i] /= s;
    return self_();
  }
  /// Coordinate-wise product (x * x is the vector of squared coordinates).
  Derived operator*(Derived const& o) const {
    Derived r;
    for (int i = 0; i < N; ++i) r.v_[i] = v_[i] * o.v_[i];
    return r;
  }
  /// Each coordinate through guardedDivide: 0 where s is zero (either sign).
  Derived guardedDivide(Real const& s) const {
    Derived r;
    for (int i = 0; i < N; ++i) r.v_[i] = guardedDivideOf(v_[i], s);
    return r;
  }

  /// Sum of the coordinate products, added in index order.
  Real dot(Derived const& o) const { return dotOf<N>(v_, o.v_); }
  /// Squared Euclidean norm (dot with itself).
  Real norm2() const { return dot(self_()); }
  /// Euclidean norm, sqrt(norm2()) without scaling (overflows past ~1e154).
  Real norm() const { return sqrtOf(norm2()); }
  /// This vector divided by its norm; the zero vector stays zero (guarded).
  Derived unit() const { return guardedDivide(norm()); }

  /// True when every coordinate equals 0 (either sign).
  Boolean isZero() const {
    Boolean r = v_[0] == Real(0.0);
    for (int i = 1; i < N; ++i) r = r && (v_[i] == Real(0.0));
    return r;
  }
  /// True when every coordinate compares equal (a NaN makes it false).
  Boolean operator==(Derived const& o) const {
    Boolean r = v_[0] == o.v_[0];
    for (int i = 1; i < N; ++i) r = r && (v_[i] == o.v_[i]);
    return r;
  }
  /// Not ==: true when some coordinate differs or is NaN.
  Boolean operator!=(Derived const& o) const { return !(*this == o); }
  /// True when every coordinate is at least the matching one of o.
  Boolean operator>=(Derived const& o) const {
    Boolean r = v_[0] >= o.v_[0];
    for (int i = 1; i < N; ++i) r = r && (v_[i] >= o.v_[i]);
    return r;
  }
  /// Equal coordinates: by double comparison in Numeric (NaN never equal),
  /// by structurally equal graphs in Traced. Stops at the first difference.
  bool isOperationallyEqual(Derived const& o) const {
    for (int i = 0; i < N; ++i)
      if (!sameOperation(v_[i], o.v_[i])) return false;
    return true;
  }

 protected:
  FixedVector() = default;
  /// This object as the derived vector class.
  Derived& self_() { return static_cast<Derived&>(*this); }
  /// This object as the derived vector class, read-only.
  Derived const& self_() const { return static_cast<Derived const&>(*this); }
  /// Coordinates shifted cyclically: result[i] = v[(i - k) mod N].
  Derived roll_(int k) const {
    Derived r;
    int shift = ((k % N) + N) % N;
    for (int i = 0; i < N; ++i) r.v_[(i + shift) % N] = v_[i];
    return r;
  }
  /// Coordinates evaluated against the bindings.
  void evaluate_(D<Traced> const& traced, BindingSet const& bindings) {
    for (int i = 0; i < N; ++i) v_[i] = traced.coord(i).evaluate(bindings);
  }
  Real v_[N] = {};  ///< The coordinates, zero unless set.

  template <template <class> class, class, int>
  friend class FixedVector;
};

/// Coordinate-wise c ? a : b.
template <template <class> class D, int N>
D<Traced> ternaryOf(TracedValue<bool> const& c, D<Traced> const& a, D<Traced> const& b) {
  D<Traced> r;
  for (int i = 0; i < N; ++i) r.coord(i, ct::ternary(c, a.coord(i), b.coord(i)));
  return r;
}
}  // namespace math3d::detail

#pragma GCC visibility pop
