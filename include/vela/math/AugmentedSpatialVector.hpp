#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// AugmentedSpatialVector, a spatial vector with further coordinates, and its traceable().

#include <cstddef>
#include <string>
#include <vector>

#include "math3d/math3d.hpp"
#include "vela/math/modes.hpp"

namespace vela::math {

/// A spatial vector (six coordinates, the angular triple first, then the
/// linear triple) extended by n augmented coordinates. n is fixed at
/// construction and changes only when the whole augmented sequence is
/// replaced. Copies are deep; in Traced the elements are handles, so copies
/// share their nodes. Nothing checks lengths or indices: operands of the
/// element-wise operations must have at least this vector's n elements, and
/// element indices must lie below n. Only allocation failure throws.
template <class Mode>
class AugmentedSpatialVector {
 public:
  using Real = Scalar<Mode>;                      ///< double or TracedValue<double>
  using Spatial = math3d::SpatialVector_T<Mode>;  ///< the 6-D spatial part's type
  using Vector = math3d::Vector3_T<Mode>;         ///< a triple of the spatial part

  /// Zero spatial part and n zeros.
  explicit AugmentedSpatialVector(std::size_t n);
  /// The given spatial part and n zeros.
  AugmentedSpatialVector(Spatial const& spatial, std::size_t n);
  /// Zero spatial part and a copy of the augmented sequence.
  explicit AugmentedSpatialVector(std::vector<Real> const& augmented);
  /// Zero spatial part and n augmented values read from p.
  AugmentedSpatialVector(std::size_t n, Real const* p);
  /// The given spatial part and a copy (or the moved storage) of the sequence.
  ///@{
  AugmentedSpatialVector(Spatial const& spatial, std::vector<Real> const& augmented);
  AugmentedSpatialVector(Spatial const& spatial, std::vector<Real>&& augmented);
  ///@}
  /// The given spatial part and n augmented values read from p.
  AugmentedSpatialVector(Spatial const& spatial, std::size_t n, Real const* p);
  /// Numeric: the traced vector evaluated against the bindings, element by
  /// element in order (UnboundInput when an input has no value). Traced: a
  /// zero vector with no augmented part; the arguments are not used.
  AugmentedSpatialVector(AugmentedSpatialVector<Traced> const& traced, BindingSet const& bindings);

  /// n, the number of augmented coordinates.
  std::size_t augmentedComponentDimension() const { return augmented_.size(); }

  /// The spatial part: read, a writable reference to it, or replaced.
  ///@{
  Spatial const& spatial() const { return spatial_; }
  Spatial& spatial_nonConstRef() { return spatial_; }
  void spatial(Spatial const& v) { spatial_ = v; }
  ///@}
  /// The angular (first) and linear (second) triple of the spatial part,
  /// read or replaced.
  ///@{
  Vector spatialAngular() const { return spatial_.angular(); }
  void spatialAngular(Vector const& v) { spatial_.angular(v); }
  Vector spatialLinear() const { return spatial_.linear(); }
  void spatialLinear(Vector const& v) { spatial_.linear(v); }
  ///@}

  /// The augmented sequence.
  std::vector<Real> const& augmented() const { return augmented_; }
  /// Copies n values from p into the existing elements; n stays.
  void augmented(Real const* p);
  /// Replaces the sequence, its length included.
  void augmented(std::vector<Real> const& values) { augmented_ = values; }
  /// Element i += x (i < n, not checked).
  void addToAugmentedElement(std::size_t i, Real const& x) { augmented_[i] += x; }

  /// Both parts set to zero; n stays.
  void zero();
  /// The augmented part refilled with n value-initialised elements (a
  /// default TracedValue in Traced); the spatial part is kept.
  void reset();

  /// Unary plus: this very object.
  AugmentedSpatialVector const& operator+() const { return *this; }
  /// Sign negation of every coordinate (0 becomes -0).
  AugmentedSpatialVector operator-() const;
  /// Sums and differences over this vector's n augmented elements (b has
  /// at least n), as new vectors or in place.
  ///@{
  AugmentedSpatialVector operator+(AugmentedSpatialVector const& b) const;
  AugmentedSpatialVector operator-(AugmentedSpatialVector const& b) const;
  AugmentedSpatialVector& operator+=(AugmentedSpatialVector const& b);
  AugmentedSpatialVector& operator-=(AugmentedSpatialVector const& b);
  ///@}
  /// With a plain spatial vector, as new vectors or in place: the augmented
  /// part is kept unchanged.
  ///@{
  AugmentedSpatialVector operator+(Spatial const& s) const;
  AugmentedSpatialVector operator-(Spatial const& s) const;
  AugmentedSpatialVector& operator+=(Spatial const& s);
  AugmentedSpatialVector& operator-=(Spatial const& s);
  ///@}

  /// The spatial part's norm2 plus the squares of the augmented elements,
  /// added in index order.
  Real norm2() const;

  /// Display script: "Vspa = ..." (the spatial column), "Vaug = ..." (the
  /// augmented column, "double.empty(0,1)" when n is 0) and "V    = ...",
  /// their vertical concatenation.
  std::string stringify() const;

 private:
  Spatial spatial_;
  std::vector<Real> augmented_;
};

/// A traced copy with constant coordinates.
AugmentedSpatialVector<Traced> traceable(AugmentedSpatialVector<Numeric> const& v);

extern template class AugmentedSpatialVector<Numeric>;
extern template class AugmentedSpatialVector<Traced>;

}  // namespace vela::math

#pragma GCC visibility pop
