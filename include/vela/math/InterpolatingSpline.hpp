#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// InterpolatingSpline, the base of the interpolating curves, and the segment lookup result
/// IdxBoundsTag.

#include <array>
#include <cstddef>
#include <memory>
#include <type_traits>
#include <vector>

#include "math3d/math3d.hpp"
#include "vela/math/BezierCurve.hpp"
#include "vela/math/Errors.hpp"
#include "vela/math/modes.hpp"

namespace vela::math {

/// Where a global curve parameter falls: the segment index, the local
/// parameter in that segment and the knots at the segment's start and end.
/// A default tag has index -1, lower 0 and upper 1.
template <class Mode>
struct IdxBoundsTag {
  Scalar<Mode> param{0.0};  ///< the local parameter in the segment
  Integer<Mode> index{-1};  ///< the segment's index (-1: none)
  Scalar<Mode> lower{0.0};  ///< the knot at the segment's start
  Scalar<Mode> upper{1.0};  ///< the knot at the segment's end
};

/// Abstract base of the interpolating curves: a piecewise cubic curve through
/// a list of data points, open or closed, over the global parameter [0, 1]
/// given by normalized cumulative chord length. Derived classes supply each
/// segment's Bezier control points; the base validates the points, builds the
/// knots, keeps one BezierCurve view per segment on arrays it owns, and
/// evaluates points, derivatives and normals.
///
/// Data points are numeric in both modes: in Traced everything built from them
/// is stored as constant traced values, and only the work that depends on the
/// parameter is recorded. Derivatives are with respect to the global
/// parameter. Open curves extrapolate their end segments outside [0, 1];
/// closed curves wrap the parameter into [0, 1).
template <class Mode, template <class> class Vec>
class InterpolatingSpline {
 public:
  using Real = Scalar<Mode>;             ///< a parameter or coordinate
  using Index = Integer<Mode>;           ///< a segment index
  using Point = Vec<Mode>;               ///< a point or vector of the curve
  using DataPoint = Vec<Numeric>;        ///< a data point (numeric in both modes)
  using Tag = IdxBoundsTag<Mode>;        ///< a segment and its bounds
  using Curve = BezierCurve<Mode, Vec>;  ///< one segment's Bezier curve

  /// Fewer than two points, or two points on a closed curve.
  class InsufficientDataPoints : public InsufficientDataPointsError {
   public:
    /// "zeph InsufficientDataPoints".
    const char* what() const noexcept override;
  };
  /// A coordinate that is infinite or NaN, or points so far apart that a
  /// distance or the curve's length overflows.
  class NonFiniteDataPoints : public NonFiniteDataPointsError {
   public:
    /// "zeph NonFiniteDataPoints".
    const char* what() const noexcept override;
  };
  /// A closed curve whose last point equals its first, or lies closer to it
  /// than the RepeatedDataPoints tolerance.
  class FirstPointRepeated : public FirstPointRepeatedError {
   public:
    /// "zeph FirstPointRepeated".
    const char* what() const noexcept override;
  };
  /// Two consecutive points closer than 1e-9 of the longest chord + 1e-12.
  class RepeatedDataPoints : public RepeatedDataPointsError {
   public:
    /// "zeph RepeatedDataPoints".
    const char* what() const noexcept override;
  };
  /// A closed curve whose points all lie on one line (within 1e-9 of the
  /// points' extent + 1e-12).
  class CollinearDataPoints : public CollinearDataPointsError {
   public:
    /// "zeph CollinearDataPoints".
    const char* what() const noexcept override;
  };

  /// Order 3, no points, open.
  InterpolatingSpline();
  /// Copies every array and rebuilds the segment views on the copies.
  ///@{
  InterpolatingSpline(InterpolatingSpline const& other);
  InterpolatingSpline& operator=(InterpolatingSpline const& other);
  ///@}
  /// Numeric only: the traced spline's arrays evaluated against bindings
  /// (UnboundInput when an input has no value).
  template <class M = Mode, std::enable_if_t<std::is_same_v<M, Numeric>, int> = 0>
  InterpolatingSpline(InterpolatingSpline<Traced, Vec> const& traced, BindingSet const& bindings) {
    evaluateFrom_(traced, bindings);
  }
  /// Releases the arrays and the segment views on them.
  virtual ~InterpolatingSpline();

  /// A copy of the most derived object.
  virtual std::shared_ptr<InterpolatingSpline> clone() const = 0;
  /// Same order, closedness and data points (compared with the vector's ==).
  virtual bool operator==(InterpolatingSpline const& other) const;
  /// The negation of ==.
  bool operator!=(InterpolatingSpline const& other) const { return !(*this == other); }

  /// Validates and stores the points, then rebuilds every segment. Throws
  /// InsufficientDataPoints, NonFiniteDataPoints, RepeatedDataPoints,
  /// FirstPointRepeated or CollinearDataPoints (tested in that order) and is
  /// then unchanged. Lengths are computed without overflow or underflow, so
  /// any size serves whose length is finite; the repeat test's absolute
  /// 1e-12 rejects curves smaller than that.
  void dataPoints(std::vector<DataPoint> const& points);
  /// The stored data points, as given.
  std::vector<DataPoint> const& dataPoints() const { return dataPoints_; }
  /// Opens or closes the curve and rebuilds the segments when that changes.
  /// Closing validates the stored points as dataPoints does for a closed
  /// curve and throws the same exceptions, leaving the curve open.
  void isClosed(bool flag);
  /// Whether the curve is closed.
  bool isClosed() const { return isClosed_; }

  /// The segments' polynomial degree: 3.
  unsigned order() const { return order_; }
  /// 0, then the running sums of chord lengths (length units), per knot.
  std::vector<double> const& chordLengthSum() const { return chordLengthSum_; }
  /// Normalized chord sums: first 0, last exactly 1.
  std::vector<Real> const& knots() const { return a_.knots; }
  /// Normalized chord lengths, one per segment.
  std::vector<Real> const& knotSpacings() const { return a_.knotSpacings; }
  /// Per segment order + 1 control points of dim coordinates, point after point.
  std::vector<Real> const& bezierControlPoints() const { return a_.controlPoints; }
  /// The number of segments: points - 1 open, points closed, 0 empty.
  std::size_t numBezierCurves() const { return curves_.size(); }
  /// Segment i's curve, a view on this spline's arrays; i is not checked.
  Curve const& bezierCurve(std::size_t i) const { return *curves_[i]; }

  /// t wrapped into [0, 1] on a closed curve (t - floor(t); 1 only where a
  /// tiny negative t rounds up: the last segment's end, the start again);
  /// t on an open one.
  Real validParam_(Real const& t) const;
  /// The segment holding t: the one that starts at a knot hit exactly, the
  /// first or last segment outside the knots. Default tag without segments.
  Tag getBezierParamInfo(Real const& t) const;

  /// The curve and its first to fourth derivatives at t or at a tag (zero
  /// vectors where the order is too low; tangent3Der of a cubic is zero).
  ///@{
  Point point(Real const& t) const;
  Point point(Tag const& tag) const;
  Point tangent(Real const& t) const;
  Point tangent(Tag const& tag) const;
  Point tangentDer(Real const& t) const;
  Point tangentDer(Tag const& tag) const;
  Point tangent2Der(Real const& t) const;
  Point tangent2Der(Tag const& tag) const;
  Point tangent3Der(Real const& t) const;
  Point tangent3Der(Tag const& tag) const;
  ///@}

  /// The derivative of the unit tangent (not normalized), its first and
  /// second derivatives, and the first and second derivatives of the unit
  /// normal. Where the curvature vanishes within rounding (the part of T'
  /// across T no more than 1e-12 of |T'|, as on a straight segment, where
  /// the rest is noise along T) the normal is taken as zero, so that
  /// validNormal replaces it by a perpendicular to T, as it does any normal
  /// shorter than 1e-14. No guard against a zero tangent: that gives
  /// infinities or NaN.
  ///@{
  Point normal(Real const& t) const;
  Point normal(Tag const& tag) const;
  Point normalDer(Real const& t) const;
  Point normalDer(Tag const& tag) const;
  Point normal2Der(Real const& t) const;
  Point normal2Der(Tag const& tag) const;
  Point uNormalDer(Real const& t) const;
  Point uNormalDer(Tag const& tag) const;
  Point uNormal2Der(Real const& t) const;
  Point uNormal2Der(Tag const& tag) const;
  ///@}

  /// The same quantities from a tangent T and its derivatives T1, T2, T3,
  /// or from a normal N and its derivatives N1, N2.
  ///@{
  static Point normal(Point const& T, Point const& T1);
  static Point normalDer(Point const& T, Point const& T1, Point const& T2);
  static Point normal2Der(Point const& T, Point const& T1, Point const& T2, Point const& T3);
  static Point uNormalDer(Point const& N, Point const& N1);
  static Point uNormal2Der(Point const& N, Point const& N1, Point const& N2);
  ///@}

  /// The point of the curve nearest to q, by a search of every segment: the
  /// nearest of the segments' nearest points (the first on ties; a NaN
  /// distance loses to any other). Returns
  /// its global parameter T and writes point(T) to out and T's segment,
  /// local parameter and knots to tag. An empty spline gives 0, a zero
  /// point and a default tag. The form without tag discards it.
  ///@{
  Real closestPoint(Point const& q, Point& out, Tag& tag) const;
  Real closestPoint(Point const& q, Point& out) const;
  ///@}
  /// The same by walking from the segment of t0 to neighbouring segments
  /// while the nearest point found is a segment end that is not a true
  /// minimum (wrapping around a closed curve, stopping at an open curve's
  /// ends, visiting at most one segment more than there are): a local
  /// minimum of the distance, found faster from a nearby t0. Where the
  /// tangent vanishes at such an end the walk moves on too; every move keeps
  /// the neighbour's point only when it is strictly nearer. In Traced T and
  /// out differentiate in q (and the geometry, through scale) on the segment
  /// the walk ended on; at a segment end T is held (zero derivative).
  ///@{
  Real closestPoint(Point const& q, Real const& t0, Point& out, Tag& tag) const;
  Real closestPoint(Point const& q, Real const& t0, Point& out) const;
  ///@}

  /// About n points along the whole curve, each segment sampled in
  /// proportion to its chord (at least 3 samples per segment), shared
  /// segment ends emitted once, both curve ends included.
  std::vector<Point> polyline(unsigned n) const;
  /// Multiplies the segments' geometry by s; the data points, knots and
  /// chord sums are unchanged.
  void scale(Real const& s);

 protected:
  /// Fills the control points of every segment through bezierControlPoints_.
  /// paddedChords are the chord lengths: open [0, c1, ..., c(N-1), 0];
  /// closed [cN, c1, ..., c(N-1), cN, c1] with cN the closing chord. They
  /// are in length units times one power of two that brings the longest
  /// into [0.5, 1): exact, so the curves, which depend only on the chords'
  /// ratios, keep every bit, and their powers and products with
  /// coordinates cannot overflow.
  virtual void computeBezierControlPoints_(std::vector<double> const& paddedChords) = 0;
  /// Stores the control points (constants in Traced).
  void bezierControlPoints_(std::vector<double> const& values);
  /// Rebuilds knots, control points, derived arrays and segment views.
  void computeBezierCurves_();
  /// One view per segment of other on this spline's own arrays, each
  /// recomputing its derived arrays.
  void copyBezierCurves_(InterpolatingSpline const& other);

 private:
  template <class, template <class> class>
  friend class InterpolatingSpline;

  /// The traced-or-numeric arrays the segment views point into.
  struct Arrays {
    std::vector<Real> knots;
    std::vector<Real> knotSpacings;
    std::vector<Real> controlPoints;
    std::array<std::vector<Real>, 4> derivPoints;
    std::vector<Real> dotCoeffs;
    std::vector<Real> elevatedDerivPoints;
  };

  void validate_(std::vector<DataPoint> const& points, bool closed) const;
  /// Sizes the derived arrays for the segments.
  void sizeDerivedArrays_(std::size_t segments);
  /// Views on a_ for the given number of segments.
  void buildViews_(std::size_t segments, bool compute);
  void evaluateFrom_(InterpolatingSpline<Traced, Vec> const& traced, BindingSet const& bindings);
  /// A power of two near the reciprocal of the curve's length. The normal
  /// formulas are homogeneous of degree 0 in T and its derivatives: fed
  /// scaled ones they give the same bits, and s^7 stays in range.
  double derivativeScale_() const;
  /// normal(T, T1) from Ts and T1s, T and T1 times one positive factor,
  /// guarded with the unscaled T.
  static Point guardedNormal_(Point const& Ts, Point const& T1s, Point const& T);
  /// Count points of a segment's slice of values at the tag (zeros if none).
  Point castel_(std::vector<Real> const& values, unsigned count, Tag const& tag) const;

  unsigned order_ = 3;
  std::vector<DataPoint> dataPoints_;
  bool isClosed_ = false;
  std::vector<double> chordLengthSum_;
  Arrays a_;
  std::vector<std::shared_ptr<Curve>> curves_;
};

extern template class InterpolatingSpline<Numeric, math3d::Vector2_T>;
extern template class InterpolatingSpline<Numeric, math3d::Vector3_T>;
extern template class InterpolatingSpline<Traced, math3d::Vector2_T>;
extern template class InterpolatingSpline<Traced, math3d::Vector3_T>;

}  // namespace vela::math

#pragma GCC visibility pop
