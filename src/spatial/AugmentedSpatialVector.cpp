#include "vela/math/AugmentedSpatialVector.hpp"

#include <type_traits>
#include <utility>

namespace vela::math {

template <class Mode>
AugmentedSpatialVector<Mode>::AugmentedSpatialVector(std::size_t n) : augmented_(n, Real(0.0)) {}

template <class Mode>
AugmentedSpatialVector<Mode>::AugmentedSpatialVector(Spatial const& spatial, std::size_t n)
    : spatial_(spatial), augmented_(n, Real(0.0)) {}

template <class Mode>
AugmentedSpatialVector<Mode>::AugmentedSpatialVector(std::vector<Real> const& augmented)
    : augmented_(augmented) {}

template <class Mode>
AugmentedSpatialVector<Mode>::AugmentedSpatialVector(std::size_t n, Real const* p)
    : augmented_(p, p + n) {}

template <class Mode>
AugmentedSpatialVector<Mode>::AugmentedSpatialVector(Spatial const& spatial,
                                                     std::vector<Real> const& augmented)
    : spatial_(spatial), augmented_(augmented) {}

template <class Mode>
AugmentedSpatialVector<Mode>::AugmentedSpatialVector(Spatial const& spatial,
                                                     std::vector<Real>&& augmented)
    : spatial_(spatial), augmented_(std::move(augmented)) {}

template <class Mode>
AugmentedSpatialVector<Mode>::AugmentedSpatialVector(Spatial const& spatial, std::size_t n,
                                                     Real const* p)
    : spatial_(spatial), augmented_(p, p + n) {}

template <class Mode>
AugmentedSpatialVector<Mode>::AugmentedSpatialVector(AugmentedSpatialVector<Traced> const& traced,
                                                     BindingSet const& bindings) {
  if constexpr (std::is_same_v<Mode, Numeric>) {
    spatial_ = Spatial(traced.spatial(), bindings);
    augmented_.reserve(traced.augmentedComponentDimension());
    for (TracedValue<double> const& x : traced.augmented())
      augmented_.push_back(x.evaluate(bindings));
  } else {
    // A traced vector has nothing to evaluate into; the form exists so that
    // code written over the mode compiles in both.
    (void)traced;
    (void)bindings;
  }
}

template <class Mode>
void AugmentedSpatialVector<Mode>::augmented(Real const* p) {
  for (std::size_t i = 0; i < augmented_.size(); ++i) augmented_[i] = p[i];
}

template <class Mode>
void AugmentedSpatialVector<Mode>::zero() {
  spatial_.angular(Vector());
  spatial_.linear(Vector());
  for (Real& x : augmented_) x = Real(0.0);
}

template <class Mode>
void AugmentedSpatialVector<Mode>::reset() {
  std::size_t n = augmented_.size();
  augmented_.clear();
  augmented_.resize(n);
}

template <class Mode>
AugmentedSpatialVector<Mode> AugmentedSpatialVector<Mode>::operator-() const {
  std::vector<Real> r(augmented_.size());
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = -augmented_[i];
  return AugmentedSpatialVector(-spatial_, std::move(r));
}

template <class Mode>
AugmentedSpatialVector<Mode> AugmentedSpatialVector<Mode>::operator+(
    AugmentedSpatialVector const& b) const {
  std::vector<Real> r(augmented_.size());
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = augmented_[i] + b.augmented_[i];
  return AugmentedSpatialVector(spatial_ + b.spatial_, std::move(r));
}

template <class Mode>
AugmentedSpatialVector<Mode> AugmentedSpatialVector<Mode>::operator-(
    AugmentedSpatialVector const& b) const {
  std::vector<Real> r(augmented_.size());
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = augmented_[i] - b.augmented_[i];
  return AugmentedSpatialVector(spatial_ - b.spatial_, std::move(r));
}

template <class Mode>
AugmentedSpatialVector<Mode> AugmentedSpatialVector<Mode>::operator+(Spatial const& s) const {
  return AugmentedSpatialVector(spatial_ + s, augmented_);
}

template <class Mode>
AugmentedSpatialVector<Mode> AugmentedSpatialVector<Mode>::operator-(Spatial const& s) const {
  return AugmentedSpatialVector(spatial_ - s, augmented_);
}

template <class Mode>
AugmentedSpatialVector<Mode>& AugmentedSpatialVector<Mode>::operator+=(
    AugmentedSpatialVector const& b) {
  spatial_ += b.spatial_;
  for (std::size_t i = 0; i < augmented_.size(); ++i) augmented_[i] += b.augmented_[i];
  return *this;
}

template <class Mode>
AugmentedSpatialVector<Mode>& AugmentedSpatialVector<Mode>::operator-=(
    AugmentedSpatialVector const& b) {
  spatial_ -= b.spatial_;
  for (std::size_t i = 0; i < augmented_.size(); ++i) augmented_[i] -= b.augmented_[i];
  return *this;
}

template <class Mode>
AugmentedSpatialVector<Mode>& AugmentedSpatialVector<Mode>::operator+=(Spatial const& s) {
  spatial_ += s;
  return *this;
}

template <class Mode>
AugmentedSpatialVector<Mode>& AugmentedSpatialVector<Mode>::operator-=(Spatial const& s) {
  spatial_ -= s;
  return *this;
}

template <class Mode>
typename AugmentedSpatialVector<Mode>::Real AugmentedSpatialVector<Mode>::norm2() const {
  Real r = spatial_.norm2();
  for (Real const& x : augmented_) r += x * x;
  return r;
}

template <class Mode>
std::string AugmentedSpatialVector<Mode>::stringify() const {
  std::string text = "Vspa = ... % Spatial component\n" + spatial_.stringify() + ";\n";
  text += "Vaug = ... % Augmented component\n";
  if (augmented_.empty()) {
    text += "double.empty(0,1)";
  } else {
    // A row, transposed by the trailing quote into the column it stands for.
    text += "[";
    for (std::size_t i = 0; i < augmented_.size(); ++i)
      text += (i > 0 ? ", " : "") + math3d::stringify(augmented_[i]);
    text += "]'";
  }
  text += ";\n";
  text += "V    = ... % Full augmented spatial vector\n";
  text += "[ Vspa ; Vaug ];";
  return text;
}

AugmentedSpatialVector<Traced> traceable(AugmentedSpatialVector<Numeric> const& v) {
  std::vector<TracedValue<double>> augmented;
  augmented.reserve(v.augmentedComponentDimension());
  for (double x : v.augmented()) augmented.push_back(TracedValue<double>(x));
  return AugmentedSpatialVector<Traced>(math3d::traceable(v.spatial()), std::move(augmented));
}

template class AugmentedSpatialVector<Numeric>;
template class AugmentedSpatialVector<Traced>;

}  // namespace vela::math
