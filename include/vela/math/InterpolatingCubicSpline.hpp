#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// InterpolatingCubicSpline, the C2 interpolating cubic spline.

#include <memory>
#include <type_traits>
#include <vector>

#include "vela/math/InterpolatingSpline.hpp"

namespace vela::math {

/// The C2 interpolating cubic spline with chord-length knots: natural (zero
/// second derivative at both ends) when open, periodic when closed. The
/// de Boor points solve one symmetric tridiagonal system per coordinate
/// (kelm_math_lin_alg_solveTriDiagSymm, or solveTriDiagSymmPer when closed)
/// and become one cubic Bezier segment per chord. Bad data points are
/// rejected by the base class's validation; nothing else is thrown.
template <class Mode, template <class> class Vec>
class InterpolatingCubicSpline : public InterpolatingSpline<Mode, Vec> {
  using Base = InterpolatingSpline<Mode, Vec>;

 public:
  /// A data point: Vec<Numeric>, as the base's.
  using DataPoint = typename Base::DataPoint;

  /// No points, open.
  InterpolatingCubicSpline() = default;
  /// The spline through points, closed or open (see InterpolatingSpline::dataPoints
  /// for what is thrown).
  InterpolatingCubicSpline(std::vector<DataPoint> const& points, bool closed);
  /// Numeric only: the traced spline evaluated against bindings.
  template <class M = Mode, std::enable_if_t<std::is_same_v<M, Numeric>, int> = 0>
  InterpolatingCubicSpline(InterpolatingCubicSpline<Traced, Vec> const& traced,
                           BindingSet const& bindings)
      : Base(traced, bindings) {}

  std::shared_ptr<Base> clone() const override;
  /// False unless other is a cubic spline of this kind; then the base comparison.
  bool operator==(Base const& other) const override;
  /// Two cubic splines of the same kind compared by the base comparison, or
  /// its negation.
  ///@{
  bool operator==(InterpolatingCubicSpline const& other) const { return Base::operator==(other); }
  bool operator!=(InterpolatingCubicSpline const& other) const { return !(*this == other); }
  ///@}

 protected:
  void computeBezierControlPoints_(std::vector<double> const& paddedChords) override;
};

extern template class InterpolatingCubicSpline<Numeric, math3d::Vector2_T>;
extern template class InterpolatingCubicSpline<Numeric, math3d::Vector3_T>;
extern template class InterpolatingCubicSpline<Traced, math3d::Vector2_T>;
extern template class InterpolatingCubicSpline<Traced, math3d::Vector3_T>;

}  // namespace vela::math

#pragma GCC visibility pop
