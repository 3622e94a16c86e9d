#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// InterpolatingPchip, the shape-preserving piecewise cubic Hermite curve.

#include <memory>
#include <type_traits>
#include <vector>

#include "vela/math/InterpolatingSpline.hpp"

namespace vela::math {

/// A shape-preserving piecewise cubic Hermite curve (PCHIP): each coordinate,
/// as a function of cumulative chord length, is interpolated on its own with
/// monotonicity-preserving slopes, so monotone runs of a coordinate do not
/// overshoot (beyond rounding: the outgoing control point at a data point is
/// formed from the incoming one, so a zero slope there can come out a unit
/// in the last place off). C1, not C2. Bad data points are rejected by the base class's
/// validation; nothing else is thrown.
template <class Mode, template <class> class Vec>
class InterpolatingPchip : public InterpolatingSpline<Mode, Vec> {
  using Base = InterpolatingSpline<Mode, Vec>;

 public:
  /// A data point: Vec<Numeric>, as the base's.
  using DataPoint = typename Base::DataPoint;

  /// No points, open.
  InterpolatingPchip() = default;
  /// The curve through points, closed or open (see InterpolatingSpline::dataPoints
  /// for what is thrown).
  InterpolatingPchip(std::vector<DataPoint> const& points, bool closed);
  /// Numeric only: the traced curve evaluated against bindings.
  template <class M = Mode, std::enable_if_t<std::is_same_v<M, Numeric>, int> = 0>
  InterpolatingPchip(InterpolatingPchip<Traced, Vec> const& traced, BindingSet const& bindings)
      : Base(traced, bindings) {}

  std::shared_ptr<Base> clone() const override;
  /// False unless other is a PCHIP curve of this kind; then the base comparison.
  bool operator==(Base const& other) const override;
  /// Two PCHIP curves of the same kind compared by the base comparison, or
  /// its negation.
  ///@{
  bool operator==(InterpolatingPchip const& other) const { return Base::operator==(other); }
  bool operator!=(InterpolatingPchip const& other) const { return !(*this == other); }
  ///@}

  /// The slope at an interior point from the chords hPrev, hNext and the
  /// divided differences delPrev, delNext around it: their weighted harmonic
  /// mean, or 0 where the differences change sign or either is zero.
  static double interiorCondition_(double hPrev, double hNext, double delPrev, double delNext);
  /// The slope at an end from the first two chords h1, h2 and differences
  /// del1, del2 (counted from that end): the three-point slope, 0 when its
  /// sign differs from del1's, limited to 3·del1 when the differences change
  /// sign and it exceeds that.
  static double endCondition_(double h1, double h2, double del1, double del2);

 protected:
  void computeBezierControlPoints_(std::vector<double> const& paddedChords) override;
};

extern template class InterpolatingPchip<Numeric, math3d::Vector2_T>;
extern template class InterpolatingPchip<Numeric, math3d::Vector3_T>;
extern template class InterpolatingPchip<Traced, math3d::Vector2_T>;
extern template class InterpolatingPchip<Traced, math3d::Vector3_T>;

}  // namespace vela::math

#pragma GCC visibility pop
