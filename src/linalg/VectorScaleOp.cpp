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

// d(scale a) = scale da + dscale a; the scale's cotangent is a . w.
void VectorScale::jvp(ct::ForwardArgs& d) const {
  ct::TracedArray t(n);
  if (!d.isZero(1)) vectorScale(n, d.scalar(0), d.tangent(1).data(), t.data());
  if (!d.isZero(0)) {
    ct::TracedArray a = d.array(1), u(n);
    vectorScale(n, d.tangent(0)[0], a.data(), u.data());
    if (!d.isZero(1)) vectorAdd(n, t.data(), u.data(), u.data());
    t = u;
  }
  d.setOutputTangent(0, t);
}

void VectorScale::vjp(ct::ReverseArgs& d) const {
  ct::TracedArray w = d.cotangent(0, n), a = d.array(1);
  if (!d.scalar(0).isConstant()) {
    ct::TracedDouble sum = dotProduct(n, a.data(), w.data());
    d.add(0, &sum, 1);
  }
  vectorScale(n, d.scalar(0), w.data(), w.data());
  d.add(1, w);
}

void VectorNegate::jvp(ct::ForwardArgs& d) const {
  if (!d.isZero(0)) vectorNegate(n, d.tangent(0).data(), d.outputTangent(0, n));
}

void VectorNegate::vjp(ct::ReverseArgs& d) const {
  ct::TracedArray w = d.cotangent(0, n);
  vectorNegate(n, w.data(), w.data());
  d.add(0, w);
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
