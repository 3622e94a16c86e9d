#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// SymmetricAugmentedSpatialMatrix, a symmetric spatial matrix with further coordinates, and its
/// traceable().

#include <cstddef>
#include <string>
#include <vector>

#include "math3d/math3d.hpp"
#include "vela/math/AugmentedSpatialVector.hpp"
#include "vela/math/modes.hpp"

namespace vela::math {

/// The symmetric (6 + n)-square matrix [spatial, offDiagonal;
/// offDiagonal^T, augmented] acting on augmented spatial vectors: a
/// symmetric 6-by-6 spatial block, a 6-by-n off-diagonal block stored
/// column-major (column j, angular triple first, at 6j..6j+5) and a
/// symmetric n-by-n augmented block stored column-major in full (element
/// (i, j) at i + n j). n is the off-diagonal length / 6. The products go
/// through the dense kernels, so in Traced they record kernel nodes (or
/// fold on constants). Nothing checks indices or lengths: columns must lie
/// below n, operands must have n augmented elements and sequences the stored
/// lengths. Only allocation failure throws, and std::length_error for an n
/// whose n·n or 6·n does not fit in size_t.
template <class Mode>
class SymmetricAugmentedSpatialMatrix {
 public:
  using Real = Scalar<Mode>;                                     ///< double or TracedValue<double>
  using SpatialMatrix = math3d::SymmetricSpatialMatrix_T<Mode>;  ///< the 6-by-6 block's type
  using Spatial = math3d::SpatialVector_T<Mode>;                 ///< a 6-D spatial vector
  using Vector = AugmentedSpatialVector<Mode>;                   ///< a (6 + n)-vector

  /// A zero spatial block and n-by-n and 6-by-n zero blocks.
  explicit SymmetricAugmentedSpatialMatrix(std::size_t n);
  /// The given spatial block and zero augmented blocks.
  SymmetricAugmentedSpatialMatrix(SpatialMatrix const& spatial, std::size_t n);
  /// The given blocks; symmetric holds n·n values and offDiagonal 6·n.
  SymmetricAugmentedSpatialMatrix(SpatialMatrix const& spatial, std::vector<Real> const& symmetric,
                                  std::vector<Real> const& offDiagonal);
  /// The given spatial block, n·n values read from symmetric and 6·n from
  /// offDiagonal.
  SymmetricAugmentedSpatialMatrix(SpatialMatrix const& spatial, std::size_t n,
                                  Real const* symmetric, Real const* offDiagonal);
  /// Numeric: the traced matrix evaluated against the bindings, element by
  /// element in order (UnboundInput when an input has no value). Traced: a
  /// zero spatial block with empty augmented blocks; the arguments are not
  /// used.
  SymmetricAugmentedSpatialMatrix(SymmetricAugmentedSpatialMatrix<Traced> const& traced,
                                  BindingSet const& bindings);

  /// n, the number of augmented coordinates.
  std::size_t augmentedComponentDimension() const { return offDiagonal_.size() / 6; }

  /// The symmetric 6-by-6 spatial block: read, a writable reference to it,
  /// or replaced.
  ///@{
  SpatialMatrix const& symmetricSpatial() const { return spatial_; }
  SpatialMatrix& symmetricSpatial_nonConstRef() { return spatial_; }
  void symmetricSpatial(SpatialMatrix const& m) { spatial_ = m; }
  ///@}

  /// The n-by-n augmented block, column-major.
  std::vector<Real> const& symmetricAugmented() const { return symmetric_; }
  /// Copies n·n values in.
  void symmetricAugmented(Real const* values);
  /// Replaces the whole sequence.
  void symmetricAugmented(std::vector<Real> const& values) { symmetric_ = values; }
  /// The 6-by-n off-diagonal block, column-major.
  std::vector<Real> const& offDiagonalAugmented() const { return offDiagonal_; }
  /// Copies 6·n values in.
  void offDiagonalAugmented(Real const* values);
  /// Replaces the whole sequence.
  void offDiagonalAugmented(std::vector<Real> const& values) { offDiagonal_ = values; }

  /// Column j (< n) of the off-diagonal block becomes, or has added to it,
  /// the six coordinates of v.
  ///@{
  void offDiagonalSpatialVector(std::size_t j, Spatial const& v);
  void addOffDiagonalSpatialVector(std::size_t j, Spatial const& v);
  ///@}
  /// Adds n·n values (read from a pointer or a sequence of at least n·n)
  /// element by element to the augmented block.
  ///@{
  void addSymmetricAugmented(Real const* values);
  void addSymmetricAugmented(std::vector<Real> const& values) {
    addSymmetricAugmented(values.data());
  }
  ///@}

  /// All three blocks element by element.
  ///@{
  SymmetricAugmentedSpatialMatrix& operator+=(SymmetricAugmentedSpatialMatrix const& b);
  SymmetricAugmentedSpatialMatrix& operator-=(SymmetricAugmentedSpatialMatrix const& b);
  ///@}
  /// The spatial block only.
  ///@{
  SymmetricAugmentedSpatialMatrix& operator+=(SpatialMatrix const& b);
  SymmetricAugmentedSpatialMatrix& operator-=(SpatialMatrix const& b);
  ///@}

  /// Both augmented blocks refilled with value-initialised elements (a
  /// default TracedValue in Traced) at their lengths; the spatial block is
  /// kept.
  void reset();

  /// The full product [Ssp vs + Off va; Off^T vs + Sym va] of v = [vs; va].
  ///@{
  Vector xform(Vector const& v) const;
  Vector operator*(Vector const& v) const { return xform(v); }
  ///@}
  /// The product with [vs; 0]: [Ssp vs; Off^T vs].
  ///@{
  Vector xform(Spatial const& vs) const;
  Vector operator*(Spatial const& vs) const { return xform(vs); }
  ///@}
  /// The spatial rows of the product only: Ssp vs + Off va, resp. Ssp vs.
  ///@{
  Spatial xformAndExtractSpatial(Vector const& v) const;
  Spatial xformAndExtractSpatial(Spatial const& vs) const;
  ///@}
  /// The augmented rows of the product only (n values): Off^T vs + Sym va,
  /// resp. Off^T vs.
  ///@{
  std::vector<Real> xformAndExtractAugmented(Vector const& v) const;
  std::vector<Real> xformAndExtractAugmented(Spatial const& vs) const;
  ///@}

  /// Display script assigning "Isymspa", "Ioffaug" ("double.empty(6,0)"
  /// when n is 0), "Isymaug" ("double.empty(0,0)") and the full matrix "I".
  std::string stringify() const;

 private:
  /// Off va.
  Spatial offDiagonalTimes_(std::vector<Real> const& va) const;
  /// Off^T vs, n values.
  std::vector<Real> offDiagonalTransposeTimes_(Spatial const& vs) const;

  SpatialMatrix spatial_;
  std::vector<Real> symmetric_;
  std::vector<Real> offDiagonal_;
};

/// A traced copy with constant values.
SymmetricAugmentedSpatialMatrix<Traced> traceable(
    SymmetricAugmentedSpatialMatrix<Numeric> const& m);

extern template class SymmetricAugmentedSpatialMatrix<Numeric>;
extern template class SymmetricAugmentedSpatialMatrix<Traced>;

}  // namespace vela::math

#pragma GCC visibility pop
