#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// 3-by-3 matrices over the mode.

#include <string>
#include <type_traits>

#include "math3d/Vector.hpp"

namespace math3d {

template <class Mode>
class Quaternion_T;

namespace detail {
/// The 24 proper rotations made from a matrix by permuting its columns and
/// changing their signs, in the order minRotation breaks ties: permutations
/// (p0, p1, p2) in lexicographic order, and for each the sign patterns
/// (s0, s1, s2) counted with + before - and s0 slowest, keeping those whose
/// product is the sign of the permutation. Column j of candidate c is
/// kRotationSign[j][c] times source column kRotationColumn[j][c].
///@{
inline constexpr int kRotationColumn[3][24] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2},
    {1, 1, 1, 1, 2, 2, 2, 2, 0, 0, 0, 0, 2, 2, 2, 2, 0, 0, 0, 0, 1, 1, 1, 1},
    {2, 2, 2, 2, 1, 1, 1, 1, 2, 2, 2, 2, 0, 0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0}};
inline constexpr double kRotationSign[3][24] = {
    {1, 1, -1, -1, 1, 1, -1, -1, 1, 1, -1, -1, 1, 1, -1, -1, 1, 1, -1, -1, 1, 1, -1, -1},
    {1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1},
    {1, -1, -1, 1, -1, 1, 1, -1, -1, 1, 1, -1, 1, -1, -1, 1, 1, -1, -1, 1, -1, 1, 1, -1}};
///@}
}  // namespace detail

/// A 3-by-3 matrix, stored column by column: element (i, j) (row i, column
/// j) is values()[i + 3 j]. Coordinates are double (Numeric) or traced.
template <class Mode>
class Matrix3x3_T {
 public:
  using Real = math3d::Real<Mode>;        ///< Element type: double, or traced.
  using Integer = math3d::Integer<Mode>;  ///< Index type: int, or traced.
  using Boolean = math3d::Boolean<Mode>;  ///< Result type of comparisons.
  using Vector = Vector3_T<Mode>;         ///< Rows, columns and products.

  /// The zero matrix.
  Matrix3x3_T() = default;
  /// Nine values from p. rowMajor false: p holds the matrix column by column
  /// (p[i + 3 j] is element (i, j)); true: row by row (p[3 i + j]).
  Matrix3x3_T(Real const* p, bool rowMajor) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m_[i + 3 * j] = rowMajor ? p[3 * i + j] : p[i + 3 * j];
  }
  /// Elements given row by row, as the matrix is written.
  Matrix3x3_T(Real const& a00, Real const& a01, Real const& a02, Real const& a10, Real const& a11,
              Real const& a12, Real const& a20, Real const& a21, Real const& a22)
      : m_{a00, a10, a20, a01, a11, a21, a02, a12, a22} {}
  /// The symmetric matrix with the given diagonal (xx, yy, zz) and off-diagonal
  /// terms (yz, zx, xy): term i couples the two axes other than i.
  Matrix3x3_T(Vector const& diagonal, Vector const& offDiagonal)
      : Matrix3x3_T(diagonal.x(), offDiagonal.z(), offDiagonal.y(), offDiagonal.z(), diagonal.y(),
                    offDiagonal.x(), offDiagonal.y(), offDiagonal.x(), diagonal.z()) {}
  /// The rotation matrix of a unit quaternion (no normalisation: a quaternion
  /// of norm other than 1 gives a matrix that is not a rotation).
  explicit Matrix3x3_T(Quaternion_T<Mode> const& q);
  /// Numeric only: the traced matrix evaluated against the bindings.
  template <class M = Mode, std::enable_if_t<std::is_same_v<M, Numeric>, int> = 0>
  Matrix3x3_T(Matrix3x3_T<Traced> const& traced, BindingSet const& bindings) {
    for (int k = 0; k < 9; ++k) m_[k] = traced.values()[k].evaluate(bindings);
  }

  /// The identity matrix.
  static Matrix3x3_T identity() { return Matrix3x3_T(1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0); }

  /// The nine elements column by column.
  Real const* values() const { return m_; }
  /// Element (i, j), read or set; 0 <= i, j < 3 (not checked).
  ///@{
  Real const& element(int i, int j) const { return m_[i + 3 * j]; }
  void element(int i, int j, Real const& value) { m_[i + 3 * j] = value; }
  ///@}
  /// Column j, read as a copy or set; 0 <= j < 3 (not checked).
  ///@{
  Vector column(int j) const { return Vector(m_ + 3 * j); }
  void column(int j, Vector const& v) {
    for (int i = 0; i < 3; ++i) m_[i + 3 * j] = v.coord(i);
  }
  ///@}
  /// Row i as a copy; 0 <= i < 3 (not checked).
  Vector row(int i) const { return Vector(m_[i], m_[i + 3], m_[i + 6]); }

  /// (xx, yy, zz).
  Vector diagonal() const { return Vector(m_[0], m_[4], m_[8]); }
  /// Elements (1, 2), (2, 0), (0, 1): the (yz, zx, xy) terms of a symmetric matrix.
  Vector offDiagonal() const { return Vector(m_[7], m_[2], m_[3]); }
  /// Sum of the diagonal, (xx + yy) + zz.
  Real trace() const { return (m_[0] + m_[4]) + m_[8]; }
  /// Determinant by expansion along the first column.
  Real determinant() const {
    return (m_[0] * (m_[4] * m_[8] - m_[7] * m_[5]) - m_[1] * (m_[3] * m_[8] - m_[6] * m_[5])) +
           m_[2] * (m_[3] * m_[7] - m_[6] * m_[4]);
  }

  /// The transposed matrix.
  Matrix3x3_T transpose() const {
    Matrix3x3_T r;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) r.m_[j + 3 * i] = m_[i + 3 * j];
    return r;
  }
  /// The product this * b; each element sums its three terms in index order.
  Matrix3x3_T compose(Matrix3x3_T const& b) const {
    Matrix3x3_T r;
    for (int j = 0; j < 3; ++j)
      detail::combineColumnsOf(m_, b.m_[3 * j], b.m_[1 + 3 * j], b.m_[2 + 3 * j], r.m_ + 3 * j);
    return r;
  }
  /// The product this * transpose(b).
  Matrix3x3_T composeTranspose(Matrix3x3_T const& b) const {
    Matrix3x3_T r;
    for (int j = 0; j < 3; ++j)
      detail::combineColumnsOf(m_, b.m_[j], b.m_[j + 3], b.m_[j + 6], r.m_ + 3 * j);
    return r;
  }
  /// The product this * v.
  Vector operator*(Vector const& v) const {
    Vector r;
    detail::combineColumnsOf(m_, v.coord(0), v.coord(1), v.coord(2), r.values());
    return r;
  }
  /// Element-wise sum and difference.
  ///@{
  Matrix3x3_T operator+(Matrix3x3_T const& b) const {
    Matrix3x3_T r;
    for (int k = 0; k < 9; ++k) r.m_[k] = m_[k] + b.m_[k];
    return r;
  }
  Matrix3x3_T operator-(Matrix3x3_T const& b) const {
    Matrix3x3_T r;
    for (int k = 0; k < 9; ++k) r.m_[k] = m_[k] - b.m_[k];
    return r;
  }
  ///@}
  /// Every element negated (0 becomes -0).
  Matrix3x3_T operator-() const {
    Matrix3x3_T r;
    for (int k = 0; k < 9; ++k) r.m_[k] = -m_[k];
    return r;
  }
  /// Every element times s.
  Matrix3x3_T operator*(Real const& s) const {
    Matrix3x3_T r;
    for (int k = 0; k < 9; ++k) r.m_[k] = m_[k] * s;
    return r;
  }
  /// s times every element of a, the same as a * s.
  friend Matrix3x3_T operator*(Real const& s, Matrix3x3_T const& a) { return a * s; }
  /// Element-wise sum and difference in place; returns this matrix.
  ///@{
  Matrix3x3_T& operator+=(Matrix3x3_T const& b) { return *this = *this + b; }
  Matrix3x3_T& operator-=(Matrix3x3_T const& b) { return *this = *this - b; }
  ///@}

  /// Of the 24 proper rotations made by permuting the columns of this matrix
  /// and changing their signs, the one with the largest trace (the smallest
  /// rotation angle); ties go to the first in the order of
  /// detail::kRotationColumn. idx[j] receives the source column of result
  /// column j. A matrix of negative determinant is negated first, so the
  /// result is proper for any orthogonal matrix. In Traced the choice is
  /// recorded (traced comparisons, indexOfMin, arrayAccess) and idx receives
  /// traced indices; it folds to constants when the matrix is constant.
  Matrix3x3_T minRotation(Integer* idx) const;

  /// True when all nine elements compare equal (a NaN makes it false).
  Boolean operator==(Matrix3x3_T const& b) const {
    Boolean r = m_[0] == b.m_[0];
    for (int k = 1; k < 9; ++k) r = r && (m_[k] == b.m_[k]);
    return r;
  }
  /// Not ==: true when some element differs or is NaN.
  Boolean operator!=(Matrix3x3_T const& b) const { return !(*this == b); }
  /// Equal elements (double comparison, or structurally equal graphs).
  bool isOperationallyEqual(Matrix3x3_T const& b) const {
    for (int k = 0; k < 9; ++k)
      if (!detail::sameOperation(m_[k], b.m_[k])) return false;
    return true;
  }
  /// Script text "[a00, a01, a02; a10, a11, a12; a20, a21, a22]".
  std::string stringify() const {
    std::string text = "[";
    for (int i = 0; i < 3; ++i) {
      if (i > 0) text += "; ";
      for (int j = 0; j < 3; ++j) text += (j > 0 ? ", " : "") + math3d::stringify(m_[i + 3 * j]);
    }
    return text + "]";
  }

 private:
  Real m_[9] = {};
};

template <class Mode>
Matrix3x3_T<Mode> Matrix3x3_T<Mode>::minRotation(Integer* idx) const {
  using detail::kRotationColumn;
  using detail::kRotationSign;
  // g = -1 turns an improper matrix proper; -g scores so that the smallest
  // score is the largest trace.
  Real g = detail::select(determinant() < Real(0.0), Real(-1.0), Real(1.0));
  Real negG = -g;
  Real score[24];
  for (int c = 0; c < 24; ++c) {
    Real t[3];
    for (int j = 0; j < 3; ++j) {
      Real const& e = element(j, kRotationColumn[j][c]);
      t[j] = kRotationSign[j][c] > 0 ? e : -e;
    }
    score[c] = negG * ((t[0] + t[1]) + t[2]);
  }
  Integer choice = detail::indexOfMinOf(score, 24);
  Matrix3x3_T r;
  for (int j = 0; j < 3; ++j) {
    idx[j] = detail::lookup(kRotationColumn[j], 24, choice);
    Real factor = g * detail::lookup(kRotationSign[j], 24, choice);
    for (int i = 0; i < 3; ++i) r.m_[i + 3 * j] = factor * detail::elementAt(m_, 9, idx[j] * 3 + i);
  }
  return r;
}

/// A traced copy with constant elements.
Matrix3x3_T<Traced> traceable(Matrix3x3_T<Numeric> const& m);

/// Element-wise c ? a : b.
///@{
Matrix3x3_T<Traced> ternary(TracedValue<bool> const& c, Matrix3x3_T<Traced> const& a,
                            Matrix3x3_T<Traced> const& b);
inline Matrix3x3_T<Numeric> ternary(bool c, Matrix3x3_T<Numeric> const& a,
                                    Matrix3x3_T<Numeric> const& b) {
  return c ? a : b;
}
///@}

extern template class Matrix3x3_T<Traced>;

}  // namespace math3d

#include "math3d/Quaternion.hpp"

#pragma GCC visibility pop
