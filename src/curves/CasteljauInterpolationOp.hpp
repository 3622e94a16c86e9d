#pragma once

#include <string>
#include <tuple>

#include "frame/KernelOp.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"

namespace vela::math {

/// One point of a Bezier segment (zeph_core_math_castelEval) out of
/// valueCount collected control values, segments of (degree + 1) * dimension
/// values each. Inputs: the collected values, the segment index, t, the
/// collected initial values of the result; one output of dimension doubles.
/// The front end records the index already clamped to the segments, so the
/// generated line never reads outside the values; evaluation clamps again
/// for nodes built by hand. With fewer values than one segment the result is
/// zeros.
struct CasteljauInterpolation {
  unsigned valueCount;
  unsigned degree;
  unsigned dimension;

  auto fields() const { return std::tie(valueCount, degree, dimension); }
  std::string description() const { return "CasteljauInterpolation"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;

  /// (degree + 1) * dimension.
  unsigned stride() const { return (degree + 1) * dimension; }
  /// Whole segments in the values.
  unsigned segments() const { return stride() == 0 ? 0 : valueCount / stride(); }
};

class CasteljauInterpolationOp final
    : public frame::KernelOp<CasteljauInterpolationOp, CasteljauInterpolation> {
 public:
  using KernelOp::KernelOp;
  CasteljauInterpolationOp(unsigned valueCount, unsigned degree, unsigned dimension,
                           ct::OperationPtr const& values, ct::OperationPtr const& index,
                           ct::OperationPtr const& t, ct::OperationPtr const& initial)
      : KernelOp({valueCount, degree, dimension}, {values, index, t, initial}) {}
};

/// The point at t of segment `index` of a run of Bezier segments of one
/// degree: values holds valueCount values, segment after segment, each
/// (degree + 1) points of dimension coordinates; out receives dimension
/// values. An index outside [0, segments - 1] is clamped into it; with fewer
/// values than one segment out is zeros. degree * dimension must not exceed
/// 100 (see zeph_core_math_castelEval), else out is zeros.
void castelInterpolate(unsigned valueCount, unsigned degree, unsigned dimension,
                       double const* values, int index, double t, double* out);
/// Traced form: always records a CasteljauInterpolationOp, even over
/// constants; out's values before the call are the node's initial values,
/// and its elements then read the node.
/// Derivatives: in the values, the same interpolation of their tangents (the
/// selected segment's only); in t, degree times the interpolation at t of the
/// segment's differences P[i + 1] - P[i] (its hodograph). Since the kernel
/// returns the end points exactly at t = 0 and t = 1 and extrapolates outside
/// [0, 1], this is the polynomial's two-sided derivative at every t, there
/// included. The index has none: at a joint of two segments the derivative
/// is that of the segment the (clamped) index selects, one-sided from its
/// side. Where out is zeros (no whole segment, degree * dimension above 100)
/// the derivative is zero; out's initial values never reach it.
void castelInterpolate(unsigned valueCount, unsigned degree, unsigned dimension,
                       ct::TracedDouble const* values, ct::TracedInt const& index,
                       ct::TracedDouble const& t, ct::TracedDouble* out);

}  // namespace vela::math
