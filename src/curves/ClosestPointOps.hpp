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
double closestPointOnSpline(unsigned degree, unsigned dimension, unsigned segments, bool closed,
                            int start, SplineArrays<double> const& arrays, double const* q,
                            double* out);
ct::TracedDouble closestPointOnSpline(unsigned degree, unsigned dimension, unsigned segments,
                                      bool closed, ct::TracedInt const& start,
                                      SplineArrays<ct::TracedDouble> const& arrays,
                                      ct::TracedDouble const* q, ct::TracedDouble* out);

}  // namespace vela::math
