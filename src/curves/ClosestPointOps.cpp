#include "curves/ClosestPointOps.hpp"

#include <algorithm>

#include "curves/CasteljauInterpolationOp.hpp"
#include "frame/TracedCall.hpp"
#include "vela/math/dense_kernels.hpp"
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

bool holds(ct::RuleArgs const& d, std::initializer_list<std::size_t> counts) {
  std::size_t i = 0;
  for (std::size_t count : counts)
    if (d.array(i++).size() < count) return false;
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

// ---------------------------------------------------------------------------
// Derivative rules
// ---------------------------------------------------------------------------

namespace {

using ct::TracedArray;
using ct::TracedDouble;

TracedArray first_(TracedArray a, std::size_t n) {
  a.resize(n);
  return a;
}

// The Bernstein weights of the degree at t, by the kernel itself on unit
// control points, as many coordinates at a time as its work storage takes.
TracedArray bernstein_(unsigned degree, TracedDouble const& t) {
  if (degree == 0) return {TracedDouble(1.0)};
  unsigned chunk = std::max(1u, 100 / degree), points = degree + 1;
  TracedArray b;
  for (unsigned from = 0; from < points; from += chunk) {
    unsigned width = std::min(chunk, points - from);
    TracedArray unit(points * width), part(width);
    for (unsigned k = 0; k < width; ++k) unit[(from + k) * width + k] = 1.0;
    castelInterpolate(points * width, degree, width, unit.data(), 0, t, part.data());
    b.insert(b.end(), part.begin(), part.end());
  }
  return b;
}

// A (rows by cols, column-major) times v.
TracedArray times_(unsigned rows, unsigned cols, TracedArray const& A, TracedArray const& v) {
  TracedArray out(rows);
  matrixVectorMultiply(rows, cols, A.data(), v.data(), out.data());
  return out;
}

// a b^T.
TracedArray outer_(TracedArray const& a, TracedArray const& b) {
  TracedArray out(a.size() * b.size());
  matrixMultiply(static_cast<unsigned>(a.size()), 1, static_cast<unsigned>(b.size()), a.data(),
                 b.data(), out.data());
  return out;
}

TracedArray scaled_(TracedDouble const& s, TracedArray const& a) {
  TracedArray out(a.size());
  vectorScale(static_cast<unsigned>(a.size()), s, a.data(), out.data());
  return out;
}

// One Bezier segment (degree n >= 1) at the t its search gave, and the
// factors of its rules there. t is the root of w = c - E^T q (Bernstein
// coefficients of (B - q).B') unless it is an end: dt = gain dw(t), with
// gain = -1 / w'(t) at a strict interior minimum and 0 elsewhere.
struct Segment_ {
  unsigned n, dim;
  TracedArray P, c, E, q;
  TracedArray bn, bw;    // weights of degrees n and 2n - 1 at t
  TracedArray velocity;  // B'(t)
  TracedDouble gain;

  Segment_(unsigned degree, unsigned dimension, TracedArray P_, TracedArray c_, TracedArray E_,
           TracedArray q_, TracedDouble const& t, ct::TracedBool const& interior)
      : n(degree),
        dim(dimension),
        P(std::move(P_)),
        c(std::move(c_)),
        E(std::move(E_)),
        q(std::move(q_)) {
    unsigned m = 2 * n;
    bn = bernstein_(n, t);
    bw = bernstein_(m - 1, t);
    TracedArray hodograph(n * dim);
    vectorSubtract(n * dim, P.data() + dim, P.data(), hodograph.data());
    velocity = TracedArray(dim);
    castelInterpolate(n * dim, n - 1, dim, hodograph.data(), 0, t, velocity.data());
    velocity = scaled_(static_cast<double>(n), velocity);
    TracedArray w(m), Eq(m), dw(m - 1);
    matrixTransposeVectorMultiply(dim, m, E.data(), q.data(), Eq.data());
    vectorSubtract(m, c.data(), Eq.data(), w.data());
    vectorSubtract(m - 1, w.data() + 1, w.data(), dw.data());
    TracedDouble slope;
    castelInterpolate(m - 1, m - 2, 1, dw.data(), 0, t, &slope);
    slope = slope * static_cast<double>(m - 1);
    // Not a strict minimum (w' <= 0, NaN): t is taken as locally constant.
    ct::TracedBool strict = interior && slope > 0.0;
    gain = ct::ternary(strict, -1.0 / ct::ternary(strict, slope, TracedDouble(1.0)),
                       TracedDouble(0.0));
  }

  // dt and the point's tangent from the tangents of P, c, E, q (empty: zero).
  std::pair<TracedDouble, TracedArray> forward(TracedArray const& dP, TracedArray const& dc,
                                               TracedArray const& dE, TracedArray const& dq,
                                               bool& moves) const {
    TracedDouble dw;
    moves = false;
    auto add = [&](TracedDouble const& term) {
      dw = moves ? dw + term : term;
      moves = true;
    };
    if (!dc.empty()) add(dotProduct(2 * n, dc.data(), bw.data()));
    if (!dE.empty()) add(-dotProduct(dim, times_(dim, 2 * n, dE, bw).data(), q.data()));
    if (!dq.empty()) add(-dotProduct(dim, times_(dim, 2 * n, E, bw).data(), dq.data()));
    TracedDouble dt = moves ? gain * dw : TracedDouble(0.0);
    TracedArray point(dim);
    if (!dP.empty()) point = times_(dim, n + 1, dP, bn);
    for (unsigned k = 0; moves && k < dim; ++k)
      point[k] = dP.empty() ? velocity[k] * dt : point[k] + velocity[k] * dt;
    return {dt, point};
  }

  // Cotangents of P, c, E, q from those of t (tBar, unless !hasT) and of the
  // point (empty: zero). Results left empty are zero.
  struct Cotangents {
    TracedArray P, c, E, q;
  };
  Cotangents reverse(TracedDouble tBar, bool hasT, TracedArray const& pointBar) const {
    Cotangents out;
    if (!pointBar.empty()) {
      out.P = outer_(pointBar, bn);
      TracedDouble along = dotProduct(dim, pointBar.data(), velocity.data());
      tBar = hasT ? tBar + along : along;
      hasT = true;
    }
    if (!hasT) return out;
    TracedDouble g = gain * tBar;
    out.c = scaled_(g, bw);
    out.E = outer_(scaled_(-g, q), bw);
    out.q = scaled_(-g, times_(dim, 2 * n, E, bw));
    return out;
  }
};

TracedArray tangentOrEmpty_(ct::ForwardArgs const& d, std::size_t i, std::size_t n) {
  return d.isZero(i) ? TracedArray() : first_(d.tangent(i), n);
}

}  // namespace

void ClosestPointOnBezier::jvp(ct::ForwardArgs& d) const {
  unsigned n = degree, dim = dimension, m = 2 * n;
  bool contract = n <= ZEPH_CLOSEST_MAX_DEGREE && dim != 0 && dim <= ZEPH_CLOSEST_MAX_DIM;
  if (!contract || !holds(d, {(n + 1) * dim, m, m * dim, dim})) return;
  if (n == 0) {  // one point
    if (!d.isZero(0)) {
      TracedArray dP = d.tangent(0);
      std::copy(dP.begin(), dP.begin() + dim, d.outputTangent(1, dim));
    }
    return;
  }
  TracedDouble t = d.output(0, 1)[0];
  Segment_ s(n, dim, first_(d.array(0), (n + 1) * dim), first_(d.array(1), m),
             first_(d.array(2), m * dim), first_(d.array(3), dim), t, t > 0.0 && t < 1.0);
  bool moves = false;
  auto [dt, point] = s.forward(tangentOrEmpty_(d, 0, (n + 1) * dim), tangentOrEmpty_(d, 1, m),
                               tangentOrEmpty_(d, 2, m * dim), tangentOrEmpty_(d, 3, dim), moves);
  if (moves) *d.outputTangent(0, 1) = dt;
  std::copy(point.begin(), point.end(), d.outputTangent(1, dim));
}

void ClosestPointOnBezier::vjp(ct::ReverseArgs& d) const {
  unsigned n = degree, dim = dimension, m = 2 * n;
  bool contract = n <= ZEPH_CLOSEST_MAX_DEGREE && dim != 0 && dim <= ZEPH_CLOSEST_MAX_DIM;
  if (!contract || !holds(d, {(n + 1) * dim, m, m * dim, dim})) return;
  bool hasT = !d.isZeroCotangent(0), hasPoint = !d.isZeroCotangent(1);
  if (!hasT && !hasPoint) return;
  if (n == 0) {
    if (hasPoint) d.add(0, d.cotangent(1, dim));
    return;
  }
  TracedDouble t = d.output(0, 1)[0];
  Segment_ s(n, dim, first_(d.array(0), (n + 1) * dim), first_(d.array(1), m),
             first_(d.array(2), m * dim), first_(d.array(3), dim), t, t > 0.0 && t < 1.0);
  auto bar = s.reverse(hasT ? d.cotangent(0, 1)[0] : TracedDouble(), hasT,
                       hasPoint ? d.cotangent(1, dim) : TracedArray());
  if (!bar.P.empty()) d.add(0, bar.P);
  if (!bar.c.empty()) d.add(1, bar.c);
  if (!bar.E.empty()) d.add(2, bar.E);
  if (!bar.q.empty()) d.add(3, bar.q);
}

namespace {

// The segment of a spline's closest point, recovered from the parameter p:
// the last segment whose first knot p reaches (the first when none), over
// increasing knots. The search's t there, exactly 0 or 1 where p is the
// knot expression the kernel returns for an end.
struct SplinePick_ {
  unsigned segments;
  ct::TracedInt index;
  TracedDouble k0, k1, t;
  ct::TracedBool interior;

  SplinePick_(unsigned s, TracedArray const& knots, TracedDouble const& p) : segments(s) {
    index = 0;
    for (unsigned j = 1; j < s; ++j)
      index = ct::ternary(p >= knots[j], ct::TracedInt(int(j)), index);
    k0 = pick(knots, 1, 0);
    k1 = pick(knots, 1, 1);
    TracedDouble h = k1 - k0;
    ct::TracedBool atStart = p == k0, atEnd = p == k0 + h;
    TracedDouble inside = (p - k0) / ct::ternary(h == 0.0, TracedDouble(1.0), h);
    t = ct::ternary(atStart, TracedDouble(0.0), ct::ternary(atEnd, TracedDouble(1.0), inside));
    interior = !atStart && !atEnd && t > 0.0 && t < 1.0;
  }

  ct::TracedBool is(unsigned j) const { return index == int(j); }

  // Element e of the selected segment's block of `stride` values.
  TracedDouble pick(TracedArray const& a, unsigned stride, unsigned e) const {
    TracedDouble v = a[e];
    for (unsigned j = 1; j < segments; ++j) v = ct::ternary(is(j), a[j * stride + e], v);
    return v;
  }
  TracedArray block(TracedArray const& a, unsigned stride) const {
    TracedArray out(stride);
    for (unsigned e = 0; e < stride; ++e) out[e] = pick(a, stride, e);
    return out;
  }
  // The selected segment's cotangent g placed among zeros.
  TracedArray scatter(TracedArray const& g) const {
    auto stride = static_cast<unsigned>(g.size());
    TracedArray out(segments * stride);
    for (unsigned j = 0; j < segments; ++j)
      for (unsigned e = 0; e < stride; ++e)
        out[j * stride + e] = segments == 1 ? g[e] : ct::ternary(is(j), g[e], TracedDouble(0.0));
    return out;
  }
};

bool splineComplete_(ClosestPointOnSpline const& k, ct::RuleArgs const& d) {
  std::size_t n = k.degree, dim = k.dimension, s = k.segments;
  bool contract =
      n != 0 && n <= ZEPH_CLOSEST_MAX_DEGREE && dim != 0 && dim <= ZEPH_CLOSEST_MAX_DIM && s != 0;
  return contract && d.array(1).size() >= s + 1 && d.array(2).size() >= s * (n + 1) * dim &&
         d.array(3).size() >= s * n * dim && d.array(4).size() >= s * 2 * n &&
         d.array(5).size() >= s * 2 * n * dim && d.array(6).size() >= dim;
}

}  // namespace

void ClosestPointOnSpline::jvp(ct::ForwardArgs& d) const {
  if (!splineComplete_(*this, d)) return;
  unsigned n = degree, dim = dimension, s = segments, m = 2 * n, stride = (n + 1) * dim;
  SplinePick_ pick(s, first_(d.array(1), s + 1), d.output(0, 1)[0]);
  Segment_ seg(n, dim, pick.block(d.array(2), stride), pick.block(d.array(4), m),
               pick.block(d.array(5), m * dim), first_(d.array(6), dim), pick.t, pick.interior);
  auto blockOf = [&](std::size_t i, unsigned width) {
    return d.isZero(i) ? TracedArray() : pick.block(d.tangent(i), width);
  };
  bool moves = false;
  auto [dt, point] = seg.forward(blockOf(2, stride), blockOf(4, m), blockOf(5, m * dim),
                                 tangentOrEmpty_(d, 6, dim), moves);
  // p = k0 + t (k1 - k0).
  TracedDouble dp;
  bool any = moves;
  if (moves) dp = (pick.k1 - pick.k0) * dt;
  if (!d.isZero(1)) {
    TracedArray dk = d.tangent(1);
    TracedDouble dk0 = pick.pick(dk, 1, 0), dk1 = pick.pick(dk, 1, 1);
    TracedDouble term = dk0 + pick.t * (dk1 - dk0);
    dp = any ? dp + term : term;
    any = true;
  }
  if (any) *d.outputTangent(0, 1) = dp;
  std::copy(point.begin(), point.end(), d.outputTangent(1, dim));
}

void ClosestPointOnSpline::vjp(ct::ReverseArgs& d) const {
  if (!splineComplete_(*this, d)) return;
  bool hasP = !d.isZeroCotangent(0), hasPoint = !d.isZeroCotangent(1);
  if (!hasP && !hasPoint) return;
  unsigned n = degree, dim = dimension, s = segments, m = 2 * n, stride = (n + 1) * dim;
  SplinePick_ pick(s, first_(d.array(1), s + 1), d.output(0, 1)[0]);
  Segment_ seg(n, dim, pick.block(d.array(2), stride), pick.block(d.array(4), m),
               pick.block(d.array(5), m * dim), first_(d.array(6), dim), pick.t, pick.interior);
  TracedDouble pBar = hasP ? d.cotangent(0, 1)[0] : TracedDouble();
  auto bar =
      seg.reverse(pBar * (pick.k1 - pick.k0), hasP, hasPoint ? d.cotangent(1, dim) : TracedArray());
  if (hasP) {
    TracedArray knots(s + 1);
    TracedDouble at0 = pBar * (1.0 - pick.t), at1 = pBar * pick.t;
    for (unsigned j = 0; j <= s; ++j) {
      TracedDouble zero(0.0);
      TracedDouble from0 = j < s ? ct::ternary(pick.is(j), at0, zero) : zero;
      TracedDouble from1 = j > 0 ? ct::ternary(pick.is(j - 1), at1, zero) : zero;
      knots[j] = from0 + from1;
    }
    d.add(1, knots);
  }
  if (!bar.P.empty()) d.add(2, pick.scatter(bar.P));
  if (!bar.c.empty()) d.add(4, pick.scatter(bar.c));
  if (!bar.E.empty()) d.add(5, pick.scatter(bar.E));
  if (!bar.q.empty()) d.add(6, bar.q);
}

}  // namespace vela::math
