#include "curves/ClosestPointOps.hpp"

#include <algorithm>

#include "frame/TracedCall.hpp"
#include "vela/math/dynamic_sizes.hpp"
#include "zeph_core/ckernels.h"

namespace vela::math {
namespace {

/// True when every array input holds at least the given counts.
bool holds(frame::Args const& args, std::initializer_list<std::size_t> counts) {
  std::size_t i = 0;
  for (std::size_t count : counts)
    if (args.count(i++) < count) return false;
  return true;
}

}  // namespace

void ClosestPointOnBezier::compute(frame::Args& args) const {
  double* t = args.output(1);
  double* point = args.output(static_cast<int>(dimension));
  std::size_t n = degree, dim = dimension;
  if (!holds(args, {(n + 1) * dim, 2 * n, 2 * n * dim, dim})) return;
  *t = zeph_core_math_findClosestPointOnBezier(degree, dimension, args.doubles(0), args.doubles(1),
                                               args.doubles(2), args.doubles(3), point);
}

void ClosestPointOnBezier::code(frame::Code& code) const {
  std::string t = code.outputValue(ct::ScalarType::Double);
  std::string point = code.inPlace(4, dimension, frame::Code::decimal(dimension));
  code.assignCall(t, "zeph_core_math_findClosestPointOnBezier",
                  {frame::Code::decimal(degree), frame::Code::decimal(dimension), code.array(0),
                   code.array(1), code.array(2), code.array(3), point});
}

void ClosestPointOnSpline::compute(frame::Args& args) const {
  double* parameter = args.output(1);
  double* point = args.output(static_cast<int>(dimension));
  std::size_t n = degree, dim = dimension, s = segments;
  // Input 0 is the start index: array counts start at input 1.
  bool complete = args.count(1) >= s + 1 && args.count(2) >= s * (n + 1) * dim &&
                  args.count(3) >= s * n * dim && args.count(4) >= s * 2 * n &&
                  args.count(5) >= s * 2 * n * dim && args.count(6) >= dim;
  if (!complete) return;
  *parameter = zeph_core_math_findClosestPointOnSpline(
      degree, dimension, segments, closed ? 1 : 0, static_cast<unsigned>(args.size(0)),
      args.doubles(1), args.doubles(2), args.doubles(3), args.doubles(4), args.doubles(5),
      args.doubles(6), point);
}

void ClosestPointOnSpline::code(frame::Code& code) const {
  std::string parameter = code.outputValue(ct::ScalarType::Double);
  std::string point = code.inPlace(7, dimension, frame::Code::decimal(dimension));
  // Recorded clamped to a segment, so the conversion keeps its value.
  std::string startIndex = "(unsigned int)(" + code.size(0) + ")";
  code.assignCall(
      parameter, "zeph_core_math_findClosestPointOnSpline",
      {frame::Code::decimal(degree), frame::Code::decimal(dimension),
       frame::Code::decimal(segments), closed ? "1" : "0", startIndex, code.array(1), code.array(2),
       code.array(3), code.array(4), code.array(5), code.array(6), point});
}

double closestPointOnBezier(unsigned degree, unsigned dimension, double const* controlPoints,
                            double const* dotCoeffs, double const* elevatedDerivPoints,
                            double const* q, double* out) {
  return zeph_core_math_findClosestPointOnBezier(degree, dimension, controlPoints, dotCoeffs,
                                                 elevatedDerivPoints, q, out);
}

ct::TracedDouble closestPointOnBezier(unsigned degree, unsigned dimension,
                                      ct::TracedDouble const* controlPoints,
                                      ct::TracedDouble const* dotCoeffs,
                                      ct::TracedDouble const* elevatedDerivPoints,
                                      ct::TracedDouble const* q, ct::TracedDouble* out) {
  unsigned points = (degree + 1) * dimension, coeffs = 2 * degree;
  ct::TracedDouble t;
  frame::TracedCall<ClosestPointOnBezierOp> call(ClosestPointOnBezier{degree, dimension});
  call.array(controlPoints, points, points).neverFold();
  call.array(dotCoeffs, coeffs, coeffs)
      .array(elevatedDerivPoints, coeffs * dimension, coeffs * dimension);
  call.array(q, dimension, dimension).array(out, dimension, dimension);
  call.output(&t, 1, 1).output(out, dimension, dimension);
  call.run();
  return t;
}

double closestPointOnSpline(unsigned degree, unsigned dimension, unsigned segments, bool closed,
                            int start, SplineArrays<double> const& arrays, double const* q,
                            double* out) {
  // The traced form's clamp: negative to 0, past the end to the last segment.
  unsigned first = start < 0 ? 0u : clampSize(static_cast<unsigned>(start), segments - 1);
  return zeph_core_math_findClosestPointOnSpline(
      degree, dimension, segments, closed ? 1 : 0, segments == 0 ? 0u : first, arrays.knots,
      arrays.controlPoints, arrays.derivPoints1, arrays.dotCoeffs, arrays.elevatedDerivPoints, q,
      out);
}

ct::TracedDouble closestPointOnSpline(unsigned degree, unsigned dimension, unsigned segments,
                                      bool closed, ct::TracedInt const& start,
                                      SplineArrays<ct::TracedDouble> const& arrays,
                                      ct::TracedDouble const* q, ct::TracedDouble* out) {
  unsigned n = degree, dim = dimension, s = segments;
  ct::TracedDouble parameter;
  frame::TracedCall<ClosestPointOnSplineOp> call(ClosestPointOnSpline{n, dim, s, closed});
  call.neverFold();
  // Recorded clamped, so the call in generated C starts on a segment.
  call.size(clampSize(start, s == 0 ? 0u : s - 1));
  call.array(arrays.knots, s + 1, s + 1);
  call.array(arrays.controlPoints, s * (n + 1) * dim, s * (n + 1) * dim);
  call.array(arrays.derivPoints1, s * n * dim, s * n * dim);
  call.array(arrays.dotCoeffs, s * 2 * n, s * 2 * n);
  call.array(arrays.elevatedDerivPoints, s * 2 * n * dim, s * 2 * n * dim);
  call.array(q, dim, dim).array(out, dim, dim);
  call.output(&parameter, 1, 1).output(out, dim, dim);
  call.run();
  return parameter;
}

}  // namespace vela::math
