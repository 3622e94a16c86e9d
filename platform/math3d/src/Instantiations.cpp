// The explicit instantiations of every type for both modes, and the free
// functions that build traced copies.

#include "math3d/math3d.hpp"

namespace math3d {

namespace detail {
template class FixedVector<Vector2_T, Numeric, 2>;
template class FixedVector<Vector2_T, Traced, 2>;
template class FixedVector<Vector3_T, Numeric, 3>;
template class FixedVector<Vector3_T, Traced, 3>;
template class FixedVector<SpatialVector_T, Numeric, 6>;
template class FixedVector<SpatialVector_T, Traced, 6>;
}  // namespace detail

template class Vector2_T<Numeric>;
template class Vector2_T<Traced>;
template class Vector3_T<Numeric>;
template class Vector3_T<Traced>;
template class Matrix3x3_T<Numeric>;
template class Matrix3x3_T<Traced>;
template class Quaternion_T<Numeric>;
template class Quaternion_T<Traced>;
template class Transform3_T<Numeric>;
template class Transform3_T<Traced>;
template class SpatialVector_T<Numeric>;
template class SpatialVector_T<Traced>;
template class SymmetricSpatialMatrix_T<Numeric>;
template class SymmetricSpatialMatrix_T<Traced>;

namespace {
template <int N>
void constants(double const* in, TracedValue<double>* out) {
  for (int k = 0; k < N; ++k) out[k] = TracedValue<double>(in[k]);
}
}  // namespace

Matrix3x3_T<Traced> traceable(Matrix3x3_T<Numeric> const& m) {
  TracedValue<double> v[9];
  constants<9>(m.values(), v);
  return Matrix3x3_T<Traced>(v, false);
}

Quaternion_T<Traced> traceable(Quaternion_T<Numeric> const& q) {
  TracedValue<double> v[4];
  constants<4>(q.values(), v);
  return Quaternion_T<Traced>(v);
}

Transform3_T<Traced> traceable(Transform3_T<Numeric> const& t) {
  return Transform3_T<Traced>(traceable(t.quaternion()), traceable(t.translation()));
}

SpatialVector_T<Traced> traceable(SpatialVector_T<Numeric> const& v) {
  TracedValue<double> c[6];
  constants<6>(v.values(), c);
  return SpatialVector_T<Traced>(c);
}

SymmetricSpatialMatrix_T<Traced> traceable(SymmetricSpatialMatrix_T<Numeric> const& m) {
  TracedValue<double> v[21];
  constants<21>(m.values(), v);
  return SymmetricSpatialMatrix_T<Traced>(v);
}

Matrix3x3_T<Traced> ternary(TracedValue<bool> const& c, Matrix3x3_T<Traced> const& a,
                            Matrix3x3_T<Traced> const& b) {
  TracedValue<double> v[9];
  for (int k = 0; k < 9; ++k) v[k] = ct::ternary(c, a.values()[k], b.values()[k]);
  return Matrix3x3_T<Traced>(v, false);
}

Quaternion_T<Traced> ternary(TracedValue<bool> const& c, Quaternion_T<Traced> const& a,
                             Quaternion_T<Traced> const& b) {
  TracedValue<double> v[4];
  for (int k = 0; k < 4; ++k) v[k] = ct::ternary(c, a.values()[k], b.values()[k]);
  return Quaternion_T<Traced>(v);
}

}  // namespace math3d
