#include "curves/CasteljauInterpolationOp.hpp"

#include <algorithm>

#include "frame/TracedCall.hpp"
#include "vela/math/dynamic_sizes.hpp"
#include "zeph_core/ckernels.h"

namespace vela::math {
namespace {

/// Index clamped to [0, segments - 1]; segments >= 1.
int clampIndex(int index, unsigned segments) {
  return std::clamp(index, 0, static_cast<int>(std::min(segments - 1, 0x7fffffffu)));
}

}  // namespace

void CasteljauInterpolation::compute(frame::Args& args) const {
  double* out = args.output(static_cast<int>(dimension));
  double const* initial = args.doubles(3);
  std::copy(initial, initial + std::min<std::size_t>(args.count(3), dimension), out);
  // Fewer values than the field says (a node built over other inputs) count
  // as that many.
  unsigned available = static_cast<unsigned>(std::min<std::size_t>(valueCount, args.count(0)));
  unsigned whole = stride() == 0 ? 0 : available / stride();
  if (whole == 0) {
    zeph_core_math_castelEval(0, dimension, nullptr, out, args.scalar(2));
    return;
  }
  int index = clampIndex(args.size(1), whole);
  zeph_core_math_castelEval(degree + 1, dimension, args.doubles(0) + index * stride(), out,
                            args.scalar(2));
}

void CasteljauInterpolation::code(frame::Code& code) const {
  std::string out = code.inPlace(3, dimension, frame::Code::decimal(dimension));
  if (segments() == 0) {
    // No whole segment: the call reads nothing and writes zeros.
    code.call("zeph_core_math_castelEval",
              {"0", frame::Code::decimal(dimension), code.array(0), out, code.size(2)});
    return;
  }
  code.call("zeph_core_math_castelEval",
            {frame::Code::decimal(degree + 1), frame::Code::decimal(dimension),
             code.array(0) + "+" + frame::Code::decimal(stride()) + "*" + code.size(1), out,
             code.size(2)});
}

void castelInterpolate(unsigned valueCount, unsigned degree, unsigned dimension,
                       double const* values, int index, double t, double* out) {
  CasteljauInterpolation kernel{valueCount, degree, dimension};
  unsigned segments = kernel.segments();
  if (segments == 0) {
    zeph_core_math_castelEval(0, dimension, nullptr, out, t);
    return;
  }
  zeph_core_math_castelEval(degree + 1, dimension,
                            values + clampIndex(index, segments) * kernel.stride(), out, t);
}

void castelInterpolate(unsigned valueCount, unsigned degree, unsigned dimension,
                       ct::TracedDouble const* values, ct::TracedInt const& index,
                       ct::TracedDouble const& t, ct::TracedDouble* out) {
  CasteljauInterpolation kernel{valueCount, degree, dimension};
  unsigned segments = kernel.segments();
  frame::TracedCall<CasteljauInterpolationOp> call(kernel);
  call.array(values, valueCount, valueCount).neverFold();
  // Recorded clamped: its raw code in the generated line is then in range.
  call.size(clampSize(index, segments == 0 ? 0u : segments - 1));
  call.scalar(t);
  call.array(out, dimension, dimension);
  call.output(out, dimension, dimension);
  call.run();
}

}  // namespace vela::math
