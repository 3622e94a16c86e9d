#include "linalg/ScalarProductOp.hpp"

#include "frame/TracedCall.hpp"
#include "linalg/MatrixMultiplyOp.hpp"
#include "linalg/MatrixVectorOp.hpp"
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

namespace {

// The terms of a multilinear form whose factor i is replaced by its
// tangent, summed; factors without one are left out.
template <class Form>
void multilinearTangent(ct::ForwardArgs& d, std::size_t factors, Form const& form) {
  ct::TracedDouble t;
  bool any = false;
  for (std::size_t i = 0; i < factors; ++i) {
    if (d.isZero(i)) continue;
    std::vector<ct::TracedArray> f;
    for (std::size_t j = 0; j < factors; ++j) f.push_back(j == i ? d.tangent(j) : d.array(j));
    t = any ? t + form(f) : form(f);
    any = true;
  }
  if (any) *d.outputTangent(0, 1) = t;
}

// w v as one product of v (n by 1) and w (1 by 1).
ct::TracedArray scaled(ct::TracedArray const& v, ct::TracedDouble const& w) {
  ct::TracedInt one(1), n(static_cast<int>(v.size()));
  return multiplyArrays(0, static_cast<unsigned>(v.size()), n, one, one, v, {w});
}

}  // namespace

void DotProduct::jvp(ct::ForwardArgs& d) const {
  multilinearTangent(d, 2, [&](std::vector<ct::TracedArray> const& f) {
    return dotProduct(n, f[0].data(), f[1].data());
  });
}

void DotProduct::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(0)) return;
  ct::TracedDouble w = d.cotangent(0, 1)[0];
  ct::TracedArray a = d.array(0), b = d.array(1);
  if (varies(a)) d.add(0, scaled(b, w));
  if (varies(b)) d.add(1, scaled(a, w));
}

void ComputeQuadraticTerm::jvp(ct::ForwardArgs& d) const {
  multilinearTangent(d, 3, [&](std::vector<ct::TracedArray> const& f) {
    return computeQuadraticTerm(n, f[0].data(), f[1].data(), f[2].data());
  });
}

void ComputeQuadraticTerm::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(0)) return;
  ct::TracedDouble w = d.cotangent(0, 1)[0];
  ct::TracedArray M = d.array(0), a = d.array(1), b = d.array(2);
  ct::TracedArray wa = scaled(a, w), wb = scaled(b, w);
  ct::TracedInt size(static_cast<int>(n)), one(1);
  if (varies(M)) d.add(0, multiplyArrays(2, n * n, size, one, size, wa, b));  // w a b^T
  if (varies(a)) d.add(1, multiplyVectorArrays(false, n, size, size, M, wb));
  if (varies(b)) d.add(2, multiplyVectorArrays(true, n, size, size, M, wa));
}

}  // namespace vela::math
