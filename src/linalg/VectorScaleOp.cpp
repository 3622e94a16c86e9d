#include "linalg/VectorScaleOp.hpp"

#include "frame/TracedCall.hpp"
#include "vela/math/dense_kernels.hpp"

namespace vela::math {

void VectorScale::compute(frame::Args& args) const {
  vectorScale(n, args.scalar(0), args.doubles(1), args.output(static_cast<int>(n)));
}

void VectorScale::code(frame::Code& code) const {
  code.call("vectorScale", {frame::Code::decimal(n), code.size(0), code.array(1),
                            code.output(ct::ScalarType::Double, n)});
}

void VectorNegate::compute(frame::Args& args) const {
  vectorNegate(n, args.doubles(0), args.output(static_cast<int>(n)));
}

void VectorNegate::code(frame::Code& code) const {
  code.call("vectorNegate",
            {frame::Code::decimal(n), code.array(0), code.output(ct::ScalarType::Double, n)});
}

void vectorScale(unsigned n, TracedValue<double> const& scale, TracedValue<double> const* a,
                 TracedValue<double>* out) {
  frame::TracedCall<VectorScaleOp> call(VectorScale{n});
  call.scalar(scale);
  call.array(a, n, n).output(out, n, n);
  call.run();
}

void vectorNegate(unsigned n, TracedValue<double> const* a, TracedValue<double>* out) {
  frame::TracedCall<VectorNegateOp> call(VectorNegate{n});
  call.array(a, n, n).output(out, n, n);
  call.run();
}

}  // namespace vela::math
