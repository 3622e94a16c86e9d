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
  std::string out = code.inPlace(4, count, {0, 1});
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

namespace {
void reduceColumns(unsigned count, unsigned nMax, TracedValue<int> const& m,
                   TracedValue<int> const& n, TracedValue<int> const& k,
                   TracedValue<int> const* indices, TracedValue<double>* A) {
  frame::TracedCall<ReduceMatrixOp> call(ReduceMatrix{count});
  long long rows = call.size(m), cols = call.size(n), kept = call.size(k);
  call.array(indices, nMax, kept).array(A, count, rows * cols).output(A, count, rows * cols);
  call.run();
}

std::array<ct::TracedInt, 6> blockOf(ct::RuleArgs const& d) {
  return {d.size(0), d.size(1), d.size(2), d.size(3), d.size(4), d.size(5)};
}

bool allConstant(ct::TracedArray const& values) {
  return std::all_of(values.begin(), values.end(),
                     [](ct::TracedDouble const& v) { return v.isConstant(); });
}

// The cotangent of src for the cotangent w of dst: each block element gets
// that of the destination element it ends up in. Strides below rows let
// columns overlap: a source element read twice gathers both, a destination
// element written twice keeps the later column's. Columns then go one by
// one (the rows of all but the last below dstStride), as do traced values.
ct::TracedArray sourceCotangent(unsigned srcMax, unsigned dstMax,
                                std::array<ct::TracedInt, 6> const& v, ct::TracedArray const& w) {
  auto const& [rows, cols, srcOffset, srcStride, dstOffset, dstStride] = v;
  ct::TracedArray g(srcMax);
  int r = 0, c = 0, ss = 0, ds = 0;
  if (rows.getConstant(r) && cols.getConstant(c) && srcStride.getConstant(ss) &&
      dstStride.getConstant(ds) && (c <= 1 || (r <= ss && r <= ds))) {
    assignFittingBlock(dstMax, srcMax, {rows, cols, dstOffset, dstStride, srcOffset, srcStride},
                       w.data(), g.data());
    return g;
  }
  unsigned columns =
      cols.getConstant(c) ? static_cast<unsigned>(std::max(c, 0)) : std::min(srcMax, dstMax);
  for (unsigned j = 0; j < columns; ++j) {
    ct::TracedInt jj(static_cast<int>(j));
    ct::TracedBool in = jj < cols;
    ct::TracedInt kept = ternary(in, ternary(jj == cols - 1, rows, ct::min(rows, dstStride)), 0);
    ct::TracedInt at = ternary(in, jj, 0);
    ct::TracedArray column(srcMax);
    assignFittingBlock(dstMax, srcMax,
                       {kept, 1, dstOffset + dstStride * at, 0, srcOffset + srcStride * at, 0},
                       w.data(), column.data());
    if (j == 0)
      g = column;
    else
      vectorAdd(srcMax, g.data(), column.data(), g.data());
  }
  return g;
}
}  // namespace

void ZeroMajor::jvp(ct::ForwardArgs& d) const {
  if (d.isZero(1)) return;
  std::vector<ct::TracedInt> flags = d.intArray(0);
  ct::TracedArray t = d.tangent(1);
  zeroMajor(static_cast<unsigned>(m), static_cast<unsigned>(n), flags.data(), t.data());
  std::copy(t.begin(), t.end(), d.outputTangent(0, static_cast<unsigned>(m * n)));
}

// Zeroing rows is its own adjoint.
void ZeroMajor::vjp(ct::ReverseArgs& d) const {
  std::vector<ct::TracedInt> flags = d.intArray(0);
  ct::TracedArray w = d.cotangent(0, static_cast<unsigned>(m * n));
  zeroMajor(static_cast<unsigned>(m), static_cast<unsigned>(n), flags.data(), w.data());
  d.add(1, w);
}

void ReduceMatrix::jvp(ct::ForwardArgs& d) const {
  if (d.isZero(4)) return;
  std::vector<ct::TracedInt> indices = d.intArray(3);
  ct::TracedArray t = d.tangent(4);
  reduceColumns(count, static_cast<unsigned>(indices.size()), d.size(0), d.size(1), d.size(2),
                indices.data(), t.data());
  std::copy(t.begin(), t.end(), d.outputTangent(0, count));
}

// The copies undone last to first: copy j (column j from column f) hands
// column j's cotangent on to column f and leaves column j none.
void ReduceMatrix::vjp(ct::ReverseArgs& d) const {
  std::vector<ct::TracedInt> indices = d.intArray(3);
  auto nMax = static_cast<unsigned>(indices.size());
  ct::TracedArray w = d.cotangent(0, count);
  ct::TracedInt m = d.size(0), n = d.size(1), k = d.size(2);
  ct::TracedBool copies = m > 0 && k > 0 && k <= n;
  for (unsigned j = nMax; j-- > 0;) {
    ct::TracedInt jj(static_cast<int>(j)), f = indices[j];
    ct::TracedBool active = copies && jj < k && f >= 0 && f < n && f != jj;
    bool decided = false;
    if (active.getConstant(decided) && !decided) continue;
    unsigned mMax = count / nMax;
    ct::TracedInt rows = ternary(active, m, 0), to = m * jj, from = m * ternary(active, f, 0);
    ct::TracedArray column(mMax), source(mMax), zero(mMax);
    assignFittingBlock(count, mMax, {rows, 1, to, 0, 0, 0}, w.data(), column.data());
    assignFittingBlock(count, mMax, {rows, 1, from, 0, 0, 0}, w.data(), source.data());
    vectorAdd(mMax, source.data(), column.data(), source.data());
    assignFittingBlock(mMax, count, {rows, 1, 0, 0, to, 0}, zero.data(), w.data());
    assignFittingBlock(mMax, count, {rows, 1, 0, 0, from, 0}, source.data(), w.data());
  }
  d.add(4, w);
}

void ExpandVector::jvp(ct::ForwardArgs& d) const {
  if (d.isZero(2)) return;
  std::vector<ct::TracedInt> indices = d.intArray(1);
  ct::TracedArray t = d.tangent(2);
  expandVector(n, d.size(0), indices.data(), t.data());
  std::copy(t.begin(), t.end(), d.outputTangent(0, n));
}

// Entry i gets the cotangent at its target when the kernel's walk from the
// last entry down keeps it (its target below those kept after it); v stays
// as it is for a count outside [0, n].
void ExpandVector::vjp(ct::ReverseArgs& d) const {
  std::vector<ct::TracedInt> indices = d.intArray(1);
  ct::TracedArray w = d.cotangent(0, n), g(n);
  ct::TracedInt size = d.size(0), end(static_cast<int>(n));
  ct::TracedBool scatters = size >= 0 && size <= static_cast<int>(n);
  for (unsigned i = n; i-- > 0;) {
    ct::TracedInt to = indices[i];
    ct::TracedBool kept = ct::TracedInt(static_cast<int>(i)) < size && to >= 0 && to < end;
    end = ternary(kept, to, end);
    g[i] =
        ternary(scatters, ternary(kept, arrayAccess(w.data(), static_cast<int>(n), to), 0.0), w[i]);
  }
  d.add(2, g);
}

void SubmatrixAssign::jvp(ct::ForwardArgs& d) const {
  if (d.isZero(6) && d.isZero(7)) return;
  ct::TracedArray s = d.tangent(6), t = d.tangent(7);
  assignFittingBlock(static_cast<unsigned>(s.size()), count, blockOf(d), s.data(), t.data());
  std::copy(t.begin(), t.end(), d.outputTangent(0, count));
}

void SubmatrixAssign::vjp(ct::ReverseArgs& d) const {
  std::array<ct::TracedInt, 6> v = blockOf(d);
  ct::TracedArray src = d.array(6), w = d.cotangent(0, count), zero(src.size());
  auto srcMax = static_cast<unsigned>(src.size());
  if (!allConstant(src)) d.add(6, sourceCotangent(srcMax, count, v, w));
  if (allConstant(d.array(7))) return;
  // The block's old values of dst are gone.
  assignFittingBlock(srcMax, count, v, zero.data(), w.data());
  d.add(7, w);
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
  // k needs no clamp: the kernel does nothing for k outside [1, n].
  reduceColumns(mMax * nMax, nMax, clampSize(m, mMax), clampSize(n, nMax), k, indices, A);
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
  assignFittingBlock(srcMax, dstMax,
                     {block.v[0], block.v[1], block.v[2], block.v[3], block.v[4], block.v[5]}, src,
                     dst);
}

void assignFittingBlock(unsigned srcMax, unsigned dstMax, std::array<ct::TracedInt, 6> const& v,
                        ct::TracedDouble const* src, ct::TracedDouble* dst) {
  frame::TracedCall<SubmatrixAssignOp> call(SubmatrixAssign{dstMax});
  long long c[6];
  for (int i = 0; i < 6; ++i) c[i] = call.size(v[i]);
  // A fold reads and writes stride * cols elements, and on to the block's
  // end where an offset takes it further.
  long long srcEnd = std::max(c[3] * c[1], blockEnd(c[0], c[1], c[2], c[3])),
            dstEnd = std::max(c[5] * c[1], blockEnd(c[0], c[1], c[4], c[5]));
  call.array(src, srcMax, srcEnd).array(dst, dstMax, dstEnd).output(dst, dstMax, dstEnd);
  call.run();
}

}  // namespace vela::math
