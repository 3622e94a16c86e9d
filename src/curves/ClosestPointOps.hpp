#pragma once

#include <string>
#include <tuple>

#include "frame/KernelOp.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"

namespace vela::math {

/// The point of one Bezier curve nearest to a query point
/// (zeph_core_math_findClosestPointOnBezier). Inputs: the collected control
/// points, dot coefficients, elevated derivative points, query point and
/// initial values of the result point. Outputs: t (1 double), the point
/// (dimension doubles). Inputs shorter than the fields say give zeros.
struct ClosestPointOnBezier {
  unsigned degree;
  unsigned dimension;

  auto fields() const { return std::tie(degree, dimension); }
  std::string description() const { return "ClosestPointOnBezier"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class ClosestPointOnBezierOp final
    : public frame::KernelOp<ClosestPointOnBezierOp, ClosestPointOnBezier> {
 public:
  using KernelOp::KernelOp;
};

/// The point of a spline nearest to a query point, found by walking from a
/// start segment (zeph_core_math_findClosestPointOnSpline). Inputs: the start
/// segment (int), the collected knots, control points, first-derivative
/// points, dot coefficients, elevated derivative points, query point and
/// initial values of the result point. Outputs: the global parameter, the
/// point. Inputs shorter than the fields say give zeros.
struct ClosestPointOnSpline {
  unsigned degree;
  unsigned dimension;
  unsigned segments;
  bool closed;

  auto fields() const { return std::tie(degree, dimension, segments, closed); }
  std::string description() const { return "ClosestPointOnSpline"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class ClosestPointOnSplineOp final
    : public frame::KernelOp<ClosestPointOnSplineOp, ClosestPointOnSpline> {
 public:
  using KernelOp::KernelOp;
};

/// The nearest point to q on a Bezier curve of the given degree and
/// dimension from its control points, dot coefficients and elevated
/// derivative points (see BezierCurve); returns t, writes the point to out.
/// The traced form always records a ClosestPointOnBezierOp; out's values
/// before the call are the node's initial values.
/// Derivatives, in every double input taken apart: an inner t is the root
/// of w(t) = dotCoeffs(t) - elevatedDerivPoints(t).q (in the Bernstein basis
/// of degree 2n - 1; (B - q).B' for a curve's own data), so dt = -dw(t) /
/// w'(t) by the implicit function theorem, which for consistent data is
/// B'^T dq / (|B'|^2 - (q - B).B'') plus the control points' share through
/// the two arrays. Where w'(t) is not positive (not a strict minimum: q at
/// a center of curvature) and at t = 0 or 1, dt = 0: the point then moves
/// with the curve's end. The point's derivative is B'(t) dt plus the
/// interpolation at t of the control points' tangents. Outside the
/// contract (degree, dimension, short inputs) the derivative is zero.
double closestPointOnBezier(unsigned degree, unsigned dimension, double const* controlPoints,
                            double const* dotCoeffs, double const* elevatedDerivPoints,
                            double const* q, double* out);
ct::TracedDouble closestPointOnBezier(unsigned degree, unsigned dimension,
                                      ct::TracedDouble const* controlPoints,
                                      ct::TracedDouble const* dotCoeffs,
                                      ct::TracedDouble const* elevatedDerivPoints,
                                      ct::TracedDouble const* q, ct::TracedDouble* out);

/// Arrays of a spline's segments for the walk, segment after segment.
template <class Real>
struct SplineArrays {
  Real const* knots;
  Real const* controlPoints;
  Real const* derivPoints1;
  Real const* dotCoeffs;
  Real const* elevatedDerivPoints;
};

/// The nearest point to q found by walking a spline of `segments` segments
/// from segment start (clamped into the segments); returns the global
/// parameter and writes the point to out. The traced form always records a
/// ClosestPointOnSplineOp over the clamped start.
/// Derivatives: those of closestPointOnBezier on the segment that gave the
/// point, recovered from the parameter as the last segment whose first knot
/// it reaches (knots increasing), and of knots[s] + t (knots[s+1] -
/// knots[s]) in t and the two knots. The segment is piecewise constant; a
/// segment end (an open curve's end, a joint where the walk stopped) keeps
/// t: dt = 0. At a parameter exactly on a joint the derivative is taken
/// from the later segment's start, whose control point a spline shares with
/// the earlier segment's end. The first-derivative points only steer the
/// walk: zero derivative; the start index has none.
double closestPointOnSpline(unsigned degree, unsigned dimension, unsigned segments, bool closed,
                            int start, SplineArrays<double> const& arrays, double const* q,
                            double* out);
ct::TracedDouble closestPointOnSpline(unsigned degree, unsigned dimension, unsigned segments,
                                      bool closed, ct::TracedInt const& start,
                                      SplineArrays<ct::TracedDouble> const& arrays,
                                      ct::TracedDouble const* q, ct::TracedDouble* out);

}  // namespace vela::math
