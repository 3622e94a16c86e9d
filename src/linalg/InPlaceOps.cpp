#include "linalg/InPlaceOps.hpp"

#include <algorithm>

#include "frame/Sizes.hpp"
#include "frame/TracedCall.hpp"
#include "vela/math/dense_kernels.hpp"
#include "vela/math/dynamic_sizes.hpp"

namespace vela::math {

namespace {
using frame::Code;

// Elements from the start up to the end of a rows by cols block at offset
// with leading dimension stride (none for an empty block).
long long blockEnd(long long rows, long long cols, long long offset, long long stride) {
  return rows == 0 || cols == 0 ? 0 : offset + stride * (cols - 1) + rows;
}

// True when such a block lies within count elements.
bool blockFits(long long rows, long long cols, long long offset, long long stride,
               std::size_t count) {
  if (rows < 0 || cols < 0 || offset < 0 || stride < 0) return false;
  return blockEnd(rows, cols, offset, stride) <= static_cast<long long>(count);
}

}  // namespace

void ZeroMajor::compute(frame::Args& args) const {
  double* out = args.outputCopy(1);
  if (args.count(0) >= m && args.count(1) >= m * n)
    zeroMajor(static_cast<unsigned>(m), static_cast<unsigned>(n), args.ints(0), out);
}

void ZeroMajor::code(Code& code) const {
  std::string out = code.inPlace(1, static_cast<unsigned>(m * n), Code::decimal(m * n));
  code.call("zeroMajor", {Code::decimal(m), Code::decimal(n), code.array(0), out});
}

void ReduceMatrix::compute(frame::Args& args) const {
  double* out = args.outputCopy(4);
  int m = args.size(0), n = args.size(1), k = args.size(2);
  if (frame::fitsIn(m, n, args.count(4)) && frame::fitsIn(k, 1, args.count(3)))
    reduceMatrix(static_cast<unsigned>(m), static_cast<unsigned>(n), static_cast<unsigned>(k),
                 args.ints(3), out);
}

void ReduceMatrix::code(Code& code) const {
  std::string out = code.inPlace(4, count, code.count(0) + " * " + code.count(1));
  code.call("reduceMatrix", {code.size(0), code.size(1), code.size(2), code.array(3), out});
}

void ExpandVector::compute(frame::Args& args) const {
  double* out = args.outputCopy(2);
  int size = args.size(0);
  if (frame::fitsIn(size, 1, args.count(1)) && args.count(2) >= n)
    expandVector(n, static_cast<unsigned>(size), args.ints(1), out);
}

void ExpandVector::code(Code& code) const {
  std::string out = code.inPlace(2, n, Code::decimal(n));
  code.call("expandVector", {Code::decimal(n), code.size(0), code.array(1), out});
}

void SubmatrixAssign::compute(frame::Args& args) const {
  double* out = args.outputCopy(7);
  int rows = args.size(0), cols = args.size(1), srcOffset = args.size(2), srcStride = args.size(3),
      dstOffset = args.size(4), dstStride = args.size(5);
  if (blockFits(rows, cols, srcOffset, srcStride, args.count(6)) &&
      blockFits(rows, cols, dstOffset, dstStride, args.count(7)))
    submatrixAssign(static_cast<unsigned>(rows), static_cast<unsigned>(cols),
                    static_cast<unsigned>(srcOffset), static_cast<unsigned>(srcStride),
                    static_cast<unsigned>(dstOffset), static_cast<unsigned>(dstStride),
                    args.doubles(6), out);
}

void SubmatrixAssign::code(Code& code) const {
  std::string out = code.inPlace(7, count, Code::decimal(count));
  code.call("submatrixAssign", {code.size(0), code.size(1), code.size(2), code.size(3),
                                code.size(4), code.size(5), code.array(6), out});
}

void zeroMajor(unsigned m, unsigned n, TracedValue<int> const* flags, TracedValue<double>* A) {
  frame::TracedCall<ZeroMajorOp> call(ZeroMajor{m, n});
  call.array(flags, m, m).array(A, m * n, m * n).output(A, m * n, m * n);
  call.run();
}

void reduceMatrix(unsigned m, unsigned n, TracedValue<int> const& k,
                  TracedValue<int> const* indices, TracedValue<double>* A) {
  reduceMatrixDynamicSize(m, n, frame::constantSize(m), frame::constantSize(n), k, indices, A);
}

void reduceMatrixDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                             TracedValue<int> const& n, TracedValue<int> const& k,
                             TracedValue<int> const* indices, TracedValue<double>* A) {
  unsigned count = mMax * nMax;
  frame::TracedCall<ReduceMatrixOp> call(ReduceMatrix{count});
  // k needs no clamp: the kernel does nothing for k outside [1, n].
  long long rows = call.size(m, mMax), cols = call.size(n, nMax), kept = call.size(k);
  call.array(indices, nMax, kept).array(A, count, rows * cols).output(A, count, rows * cols);
  call.run();
}

void expandVector(unsigned nMax, TracedValue<int> const& n, TracedValue<int> const* indices,
                  TracedValue<double>* v) {
  frame::TracedCall<ExpandVectorOp> call(ExpandVector{nMax});
  // n needs no clamp: the kernel does nothing for n outside [0, nMax].
  int size = call.size(n);
  // In range the result depends on the first n entries only, and defines
  // all nMax; outside it is v as it was.
  bool scatters = size >= 0 && static_cast<unsigned>(size) <= nMax;
  call.array(indices, nMax, scatters ? size : 0).array(v, nMax, scatters ? size : nMax);
  call.output(v, nMax, nMax);
  call.run();
}

void submatrixAssign(unsigned rows, unsigned cols, unsigned srcOffset, unsigned srcStride,
                     unsigned dstOffset, unsigned dstStride, TracedValue<double> const* src,
                     TracedValue<double>* dst) {
  submatrixAssignDynamicSize(srcStride * cols, dstStride * cols, frame::constantSize(rows),
                             frame::constantSize(cols), frame::constantSize(srcOffset),
                             frame::constantSize(srcStride), frame::constantSize(dstOffset),
                             frame::constantSize(dstStride), src, dst);
}

void submatrixAssignDynamicSize(unsigned srcMax, unsigned dstMax, TracedValue<int> const& rows,
                                TracedValue<int> const& cols, TracedValue<int> const& srcOffset,
                                TracedValue<int> const& srcStride,
                                TracedValue<int> const& dstOffset,
                                TracedValue<int> const& dstStride, TracedValue<double> const* src,
                                TracedValue<double>* dst) {
  detail::BlockSizes<TracedValue<int>> block =
      detail::clampBlock(srcMax, dstMax, {{rows, cols, srcOffset, srcStride, dstOffset, dstStride}},
                         detail::boundAsTraced(srcMax), detail::boundAsTraced(dstMax));
  frame::TracedCall<SubmatrixAssignOp> call(SubmatrixAssign{dstMax});
  long long v[6];
  for (int i = 0; i < 6; ++i) v[i] = call.size(block.v[i]);
  // A fold reads and writes stride * cols elements, and on to the block's
  // end where an offset takes it further.
  long long srcEnd = std::max(v[3] * v[1], blockEnd(v[0], v[1], v[2], v[3])),
            dstEnd = std::max(v[5] * v[1], blockEnd(v[0], v[1], v[4], v[5]));
  call.array(src, srcMax, srcEnd).array(dst, dstMax, dstEnd).output(dst, dstMax, dstEnd);
  call.run();
}

}  // namespace vela::math
