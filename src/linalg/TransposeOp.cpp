#include "linalg/TransposeOp.hpp"

#include "frame/Rules.hpp"
#include "frame/Sizes.hpp"
#include "frame/TracedCall.hpp"
#include "linalg/InPlaceOps.hpp"
#include "vela/math/dense_kernels.hpp"

namespace vela::math {

void TransposeColMajor::compute(frame::Args& args) const {
  int m = args.size(0), n = args.size(1);
  double* out = args.output(static_cast<int>(count));
  if (frame::fitsIn(m, n, args.count(2)) && frame::fitsIn(m, n, count))
    transposeColMajor(static_cast<unsigned>(m), static_cast<unsigned>(n), args.doubles(2), out);
}

void TransposeColMajor::code(frame::Code& code) const {
  code.call("transposeColMajor", {code.size(0), code.size(1), code.array(2),
                                  code.output(ct::ScalarType::Double, count)});
}

void Transpose::compute(frame::Args& args) const {
  double* out = args.output(static_cast<int>(n * n));
  if (kind == 0)
    matrixTransposeAdd(n, args.doubles(0), out);
  else
    matrixTransposeSubtract(n, args.doubles(0), out);
}

void Transpose::code(frame::Code& code) const {
  code.call(kind == 0 ? "matrixTransposeAdd" : "matrixTransposeSubtract",
            {frame::Code::decimal(n), code.array(0), code.output(ct::ScalarType::Double, n * n)});
}

void ShiftColumns::compute(frame::Args& args) const {
  int m = args.size(0), n = args.size(1), k = args.size(2);
  double* out = args.output(static_cast<int>(count));
  // The copied block is the last k of n columns, so k <= n keeps it inside A and out.
  if (k >= 0 && k <= n && frame::fitsIn(m, n, args.count(3)) && frame::fitsIn(m, n, count))
    shiftColumns(static_cast<unsigned>(m), static_cast<unsigned>(n), static_cast<unsigned>(k),
                 args.doubles(3), out);
}

void ShiftColumns::code(frame::Code& code) const {
  code.call("shiftColumns", {code.size(0), code.size(1), code.size(2), code.array(3),
                             code.output(ct::ScalarType::Double, count)});
}

namespace {
void transposeBlock(unsigned count, TracedValue<int> const& m, TracedValue<int> const& n,
                    TracedValue<double> const* A, TracedValue<double>* out) {
  frame::TracedCall<TransposeColMajorOp> call(TransposeColMajor{count});
  long long elements = static_cast<long long>(call.size(m)) * call.size(n);
  call.array(A, count, elements).output(out, count, elements);
  call.run();
}

void transposeCombine(int kind, unsigned n, TracedValue<double> const* A,
                      TracedValue<double>* out) {
  frame::TracedCall<TransposeOp> call(Transpose{kind, n});
  call.array(A, n * n, n * n).output(out, n * n, n * n);
  call.run();
}

void shiftBlock(unsigned count, TracedValue<int> const& m, TracedValue<int> const& n,
                TracedValue<int> const& k, TracedValue<double> const* A, TracedValue<double>* out) {
  frame::TracedCall<ShiftColumnsOp> call(ShiftColumns{count});
  long long rows = call.size(m), columns = call.size(n), shifted = call.size(k);
  call.array(A, count, rows * columns).output(out, count, rows * shifted);
  call.run();
}
}  // namespace

void TransposeColMajor::jvp(ct::ForwardArgs& d) const {
  if (d.isZero(2)) return;
  transposeBlock(count, d.size(0), d.size(1), d.tangent(2).data(), d.outputTangent(0, count));
}

void TransposeColMajor::vjp(ct::ReverseArgs& d) const {
  ct::TracedArray w = d.cotangent(0, count), g(count);
  transposeBlock(count, d.size(1), d.size(0), w.data(), g.data());
  d.add(2, frame::leading(d.size(0) * d.size(1), g));
}

// A -> A +- A^T is its own adjoint.
void Transpose::jvp(ct::ForwardArgs& d) const {
  if (!d.isZero(0)) transposeCombine(kind, n, d.tangent(0).data(), d.outputTangent(0, n * n));
}

void Transpose::vjp(ct::ReverseArgs& d) const {
  ct::TracedArray w = d.cotangent(0, n * n);
  transposeCombine(kind, n, w.data(), w.data());
  d.add(0, w);
}

void ShiftColumns::jvp(ct::ForwardArgs& d) const {
  if (d.isZero(3)) return;
  shiftBlock(count, d.size(0), d.size(1), d.size(2), d.tangent(3).data(),
             d.outputTangent(0, count));
}

// The first m * k cotangents go back to the last k columns.
void ShiftColumns::vjp(ct::ReverseArgs& d) const {
  ct::TracedInt m = d.size(0), n = d.size(1), k = d.size(2);
  ct::TracedInt copied = ternary(k > 0 && k <= n, k, 0);
  ct::TracedArray w = d.cotangent(0, count), g(count);
  assignFittingBlock(count, count, {m * copied, 1, 0, 0, m * (n - copied), 0}, w.data(), g.data());
  d.add(3, g);
}

void transposeColMajor(unsigned m, unsigned n, TracedValue<double> const* A,
                       TracedValue<double>* out) {
  transposeColMajorDynamicSize(m, n, frame::constantSize(m), frame::constantSize(n), A, out);
}

void transposeColMajorDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                                  TracedValue<int> const& n, TracedValue<double> const* A,
                                  TracedValue<double>* out) {
  transposeBlock(mMax * nMax, clampSize(m, mMax), clampSize(n, nMax), A, out);
}

void matrixTransposeAdd(unsigned n, TracedValue<double> const* A, TracedValue<double>* out) {
  transposeCombine(0, n, A, out);
}

void matrixTransposeSubtract(unsigned n, TracedValue<double> const* A, TracedValue<double>* out) {
  transposeCombine(1, n, A, out);
}

void shiftColumns(unsigned m, unsigned n, TracedValue<int> const& k, TracedValue<double> const* A,
                  TracedValue<double>* out) {
  shiftColumnsDynamicSize(m, n, frame::constantSize(m), frame::constantSize(n), k, A, out);
}

void shiftColumnsDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                             TracedValue<int> const& n, TracedValue<int> const& k,
                             TracedValue<double> const* A, TracedValue<double>* out) {
  // k needs no clamp: the kernel copies nothing for k outside [1, n].
  shiftBlock(mMax * nMax, clampSize(m, mMax), clampSize(n, nMax), k, A, out);
}

}  // namespace vela::math
