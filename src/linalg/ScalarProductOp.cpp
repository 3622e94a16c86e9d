#include "linalg/ScalarProductOp.hpp"

#include "frame/TracedCall.hpp"
#include "vela/math/dense_kernels.hpp"

namespace vela::math {

void DotProduct::compute(frame::Args& args) const {
  double* value = args.output(1);
  if (args.count(0) >= n && args.count(1) >= n)
    *value = dotProduct(n, args.doubles(0), args.doubles(1));
}

void DotProduct::code(frame::Code& code) const {
  code.assignCall("dotProduct", {frame::Code::decimal(n), code.array(0), code.array(1)});
}

void ComputeQuadraticTerm::compute(frame::Args& args) const {
  double* value = args.output(1);
  if (args.count(0) >= std::size_t{n} * n && args.count(1) >= n && args.count(2) >= n)
    *value = computeQuadraticTerm(n, args.doubles(0), args.doubles(1), args.doubles(2));
}

void ComputeQuadraticTerm::code(frame::Code& code) const {
  code.assignCall("computeQuadraticTerm",
                  {frame::Code::decimal(n), code.array(0), code.array(1), code.array(2)});
}

TracedValue<double> dotProduct(unsigned n, TracedValue<double> const* a,
                               TracedValue<double> const* b) {
  frame::TracedCall<DotProductOp> call(DotProduct{n});
  call.array(a, n, n).array(b, n, n);
  return call.runScalar();
}

TracedValue<double> computeQuadraticTerm(unsigned n, TracedValue<double> const* M,
                                         TracedValue<double> const* a,
                                         TracedValue<double> const* b) {
  frame::TracedCall<ComputeQuadraticTermOp> call(ComputeQuadraticTerm{n});
  call.array(M, n * n, std::size_t{n} * n).array(a, n, n).array(b, n, n);
  return call.runScalar();
}

}  // namespace vela::math
