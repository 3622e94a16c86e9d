#include "curves/IndexOfLowerBoundOp.hpp"

#include "frame/TracedCall.hpp"
#include "zeph_core/ckernels.h"

namespace vela::math {

void IndexOfLowerBound::compute(frame::Args& args) const {
  int* index = args.intOutput(1);
  // Fewer knots than the field says (a node built over other inputs) find nothing.
  *index = args.count(0) >= n ? zeph_core_math_indexOfLowerBound(n, args.doubles(0), args.scalar(1))
                              : -1;
}

void IndexOfLowerBound::code(frame::Code& code) const {
  code.assignCall("zeph_core_math_indexOfLowerBound",
                  {frame::Code::decimal(n), code.array(0), code.size(1)});
}

int indexOfLowerBound(unsigned n, double const* knots, double x) {
  return zeph_core_math_indexOfLowerBound(n, knots, x);
}

ct::TracedInt indexOfLowerBound(unsigned n, ct::TracedDouble const* knots,
                                ct::TracedDouble const& x) {
  frame::TracedCall<IndexOfLowerBoundOp> call(IndexOfLowerBound{n});
  call.array(knots, n, n).neverFold();
  call.scalar(x);
  return call.runScalar();
}

}  // namespace vela::math
