#include "vela/math/SymmetricAugmentedSpatialMatrix.hpp"

#include <type_traits>
#include <utility>

#include "vela/CheckedSize.hpp"
#include "vela/math/dense_kernels.hpp"

namespace vela::math {
namespace {

/// Script text of the r-by-c column-major block a: rows "[a00, a01; ...\n
/// a10, a11]". r and c are at least 1.
template <class Real>
std::string matrixText(Real const* a, std::size_t r, std::size_t c) {
  std::string text;
  for (std::size_t i = 0; i < r; ++i) {
    text += i == 0 ? "[" : " ";
    for (std::size_t j = 0; j < c; ++j) text += math3d::stringify(a[i + r * j]) + ", ";
    text.erase(text.size() - 2);
    text += i + 1 == r ? "]" : "; ...\n";
  }
  return text;
}

template <class Real>
void addInto(std::vector<Real>& a, Real const* b) {
  for (std::size_t k = 0; k < a.size(); ++k) a[k] += b[k];
}

template <class Real>
void subtractFrom(std::vector<Real>& a, Real const* b) {
  for (std::size_t k = 0; k < a.size(); ++k) a[k] -= b[k];
}

// n·n and 6·n, checked: a wrapped product would build a smaller matrix.
std::size_t symmetricCount(std::size_t n) {
  return vela::checkedProduct(n, n, "SymmetricAugmentedSpatialMatrix: n * n exceeds size_t");
}
std::size_t offDiagonalCount(std::size_t n) {
  return vela::checkedProduct(6, n, "SymmetricAugmentedSpatialMatrix: 6 * n exceeds size_t");
}

}  // namespace

template <class Mode>
SymmetricAugmentedSpatialMatrix<Mode>::SymmetricAugmentedSpatialMatrix(std::size_t n)
    : symmetric_(symmetricCount(n), Real(0.0)), offDiagonal_(offDiagonalCount(n), Real(0.0)) {}

template <class Mode>
SymmetricAugmentedSpatialMatrix<Mode>::SymmetricAugmentedSpatialMatrix(SpatialMatrix const& spatial,
                                                                       std::size_t n)
    : spatial_(spatial),
      symmetric_(symmetricCount(n), Real(0.0)),
      offDiagonal_(offDiagonalCount(n), Real(0.0)) {}

template <class Mode>
SymmetricAugmentedSpatialMatrix<Mode>::SymmetricAugmentedSpatialMatrix(
    SpatialMatrix const& spatial, std::vector<Real> const& symmetric,
    std::vector<Real> const& offDiagonal)
    : spatial_(spatial), symmetric_(symmetric), offDiagonal_(offDiagonal) {}

template <class Mode>
SymmetricAugmentedSpatialMatrix<Mode>::SymmetricAugmentedSpatialMatrix(SpatialMatrix const& spatial,
                                                                       std::size_t n,
                                                                       Real const* symmetric,
                                                                       Real const* offDiagonal)
    : spatial_(spatial),
      symmetric_(symmetric, symmetric + symmetricCount(n)),
      offDiagonal_(offDiagonal, offDiagonal + offDiagonalCount(n)) {}

template <class Mode>
SymmetricAugmentedSpatialMatrix<Mode>::SymmetricAugmentedSpatialMatrix(
    SymmetricAugmentedSpatialMatrix<Traced> const& traced, BindingSet const& bindings) {
  if constexpr (std::is_same_v<Mode, Numeric>) {
    spatial_ = SpatialMatrix(traced.symmetricSpatial(), bindings);
    symmetric_.reserve(traced.symmetricAugmented().size());
    for (TracedValue<double> const& x : traced.symmetricAugmented())
      symmetric_.push_back(x.evaluate(bindings));
    offDiagonal_.reserve(traced.offDiagonalAugmented().size());
    for (TracedValue<double> const& x : traced.offDiagonalAugmented())
      offDiagonal_.push_back(x.evaluate(bindings));
  } else {
    // Nothing to evaluate into; the form lets code over the mode compile.
    (void)traced;
    (void)bindings;
  }
}

template <class Mode>
void SymmetricAugmentedSpatialMatrix<Mode>::symmetricAugmented(Real const* values) {
  for (std::size_t k = 0; k < symmetric_.size(); ++k) symmetric_[k] = values[k];
}

template <class Mode>
void SymmetricAugmentedSpatialMatrix<Mode>::offDiagonalAugmented(Real const* values) {
  for (std::size_t k = 0; k < offDiagonal_.size(); ++k) offDiagonal_[k] = values[k];
}

template <class Mode>
void SymmetricAugmentedSpatialMatrix<Mode>::offDiagonalSpatialVector(std::size_t j,
                                                                     Spatial const& v) {
  v.getValues(offDiagonal_.data() + 6 * j);
}

template <class Mode>
void SymmetricAugmentedSpatialMatrix<Mode>::addOffDiagonalSpatialVector(std::size_t j,
                                                                        Spatial const& v) {
  for (int k = 0; k < 6; ++k) offDiagonal_[6 * j + k] += v.coord(k);
}

template <class Mode>
void SymmetricAugmentedSpatialMatrix<Mode>::addSymmetricAugmented(Real const* values) {
  addInto(symmetric_, values);
}

template <class Mode>
SymmetricAugmentedSpatialMatrix<Mode>& SymmetricAugmentedSpatialMatrix<Mode>::operator+=(
    SymmetricAugmentedSpatialMatrix const& b) {
  spatial_ += b.spatial_;
  addInto(symmetric_, b.symmetric_.data());
  addInto(offDiagonal_, b.offDiagonal_.data());
  return *this;
}

template <class Mode>
SymmetricAugmentedSpatialMatrix<Mode>& SymmetricAugmentedSpatialMatrix<Mode>::operator-=(
    SymmetricAugmentedSpatialMatrix const& b) {
  spatial_ -= b.spatial_;
  subtractFrom(symmetric_, b.symmetric_.data());
  subtractFrom(offDiagonal_, b.offDiagonal_.data());
  return *this;
}

template <class Mode>
SymmetricAugmentedSpatialMatrix<Mode>& SymmetricAugmentedSpatialMatrix<Mode>::operator+=(
    SpatialMatrix const& b) {
  spatial_ += b;
  return *this;
}

template <class Mode>
SymmetricAugmentedSpatialMatrix<Mode>& SymmetricAugmentedSpatialMatrix<Mode>::operator-=(
    SpatialMatrix const& b) {
  spatial_ -= b;
  return *this;
}

template <class Mode>
void SymmetricAugmentedSpatialMatrix<Mode>::reset() {
  std::size_t symmetricCount = symmetric_.size(), offDiagonalCount = offDiagonal_.size();
  symmetric_.clear();
  symmetric_.resize(symmetricCount);
  offDiagonal_.clear();
  offDiagonal_.resize(offDiagonalCount);
}

template <class Mode>
typename SymmetricAugmentedSpatialMatrix<Mode>::Spatial
SymmetricAugmentedSpatialMatrix<Mode>::offDiagonalTimes_(std::vector<Real> const& va) const {
  // With no augmented coordinates the product is zero; a kernel call would
  // cost more than the whole spatial block.
  if (offDiagonal_.empty()) return Spatial();
  Real w[6];
  matrixVectorMultiply(6u, static_cast<unsigned>(augmentedComponentDimension()),
                       offDiagonal_.data(), va.data(), w);
  return Spatial(w);
}

template <class Mode>
std::vector<typename SymmetricAugmentedSpatialMatrix<Mode>::Real>
SymmetricAugmentedSpatialMatrix<Mode>::offDiagonalTransposeTimes_(Spatial const& vs) const {
  std::vector<Real> r(augmentedComponentDimension());
  // An empty product would still record a node over the traced coordinates.
  if (r.empty()) return r;
  // The traced kernels take arrays, so the coordinates are copied out first.
  Real x[6];
  vs.getValues(x);
  matrixTransposeVectorMultiply(6u, static_cast<unsigned>(r.size()), offDiagonal_.data(), x,
                                r.data());
  return r;
}

template <class Mode>
typename SymmetricAugmentedSpatialMatrix<Mode>::Vector SymmetricAugmentedSpatialMatrix<Mode>::xform(
    Vector const& v) const {
  Spatial spatial = xformAndExtractSpatial(v);
  return Vector(spatial, xformAndExtractAugmented(v));
}

template <class Mode>
typename SymmetricAugmentedSpatialMatrix<Mode>::Vector SymmetricAugmentedSpatialMatrix<Mode>::xform(
    Spatial const& vs) const {
  return Vector(spatial_.xform(vs), offDiagonalTransposeTimes_(vs));
}

template <class Mode>
typename SymmetricAugmentedSpatialMatrix<Mode>::Spatial
SymmetricAugmentedSpatialMatrix<Mode>::xformAndExtractSpatial(Vector const& v) const {
  return spatial_.xform(v.spatial()) + offDiagonalTimes_(v.augmented());
}

template <class Mode>
typename SymmetricAugmentedSpatialMatrix<Mode>::Spatial
SymmetricAugmentedSpatialMatrix<Mode>::xformAndExtractSpatial(Spatial const& vs) const {
  return spatial_.xform(vs);
}

template <class Mode>
std::vector<typename SymmetricAugmentedSpatialMatrix<Mode>::Real>
SymmetricAugmentedSpatialMatrix<Mode>::xformAndExtractAugmented(Vector const& v) const {
  std::vector<Real> r = offDiagonalTransposeTimes_(v.spatial());
  if (r.empty()) return r;
  auto n = static_cast<unsigned>(r.size());
  addMatrixVectorProduct(n, n, symmetric_.data(), v.augmented().data(), r.data());
  return r;
}

template <class Mode>
std::vector<typename SymmetricAugmentedSpatialMatrix<Mode>::Real>
SymmetricAugmentedSpatialMatrix<Mode>::xformAndExtractAugmented(Spatial const& vs) const {
  return offDiagonalTransposeTimes_(vs);
}

template <class Mode>
std::string SymmetricAugmentedSpatialMatrix<Mode>::stringify() const {
  std::size_t n = augmentedComponentDimension();
  std::string text = "Isymspa = ... % Symmetric spatial component\n" + spatial_.stringify() + ";\n";
  text += "Ioffaug = ... % Off-diagonal augmented component\n";
  text += n == 0 ? std::string("double.empty(6,0)") : matrixText(offDiagonal_.data(), 6, n);
  text += ";\n";
  text += "Isymaug = ... % Symmetric augmented component\n";
  text += n == 0 ? std::string("double.empty(0,0)") : matrixText(symmetric_.data(), n, n);
  text += ";\n";
  text += "I       = ... % Full symmetric augmented spatial matrix\n";
  text += "[ Isymspa , Ioffaug ; Ioffaug' , Isymaug ];";
  return text;
}

SymmetricAugmentedSpatialMatrix<Traced> traceable(
    SymmetricAugmentedSpatialMatrix<Numeric> const& m) {
  auto constants = [](std::vector<double> const& values) {
    std::vector<TracedValue<double>> r;
    r.reserve(values.size());
    for (double x : values) r.push_back(TracedValue<double>(x));
    return r;
  };
  return SymmetricAugmentedSpatialMatrix<Traced>(math3d::traceable(m.symmetricSpatial()),
                                                 constants(m.symmetricAugmented()),
                                                 constants(m.offDiagonalAugmented()));
}

template class SymmetricAugmentedSpatialMatrix<Numeric>;
template class SymmetricAugmentedSpatialMatrix<Traced>;

}  // namespace vela::math
