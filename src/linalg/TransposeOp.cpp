#include "linalg/TransposeOp.hpp"

#include "frame/Sizes.hpp"
#include "frame/TracedCall.hpp"
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

void transposeColMajor(unsigned m, unsigned n, TracedValue<double> const* A,
                       TracedValue<double>* out) {
  transposeColMajorDynamicSize(m, n, frame::constantSize(m), frame::constantSize(n), A, out);
}

void transposeColMajorDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                                  TracedValue<int> const& n, TracedValue<double> const* A,
                                  TracedValue<double>* out) {
  unsigned count = mMax * nMax;
  frame::TracedCall<TransposeColMajorOp> call(TransposeColMajor{count});
  long long elements = static_cast<long long>(call.size(m, mMax)) * call.size(n, nMax);
  call.array(A, count, elements).output(out, count, elements);
  call.run();
}

namespace {
void transposeCombine(int kind, unsigned n, TracedValue<double> const* A,
                      TracedValue<double>* out) {
  frame::TracedCall<TransposeOp> call(Transpose{kind, n});
  call.array(A, n * n, n * n).output(out, n * n, n * n);
  call.run();
}
}  // namespace

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
  unsigned count = mMax * nMax;
  frame::TracedCall<ShiftColumnsOp> call(ShiftColumns{count});
  // k needs no clamp: the kernel copies nothing for k outside [1, n].
  long long rows = call.size(m, mMax), columns = call.size(n, nMax), shifted = call.size(k);
  call.array(A, count, rows * columns).output(out, count, rows * shifted);
  call.run();
}

}  // namespace vela::math
