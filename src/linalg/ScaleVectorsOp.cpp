#include "linalg/ScaleVectorsOp.hpp"

#include <algorithm>

#include "frame/Rules.hpp"
#include "frame/Sizes.hpp"
#include "frame/TracedCall.hpp"
#include "vela/math/dense_kernels.hpp"

namespace vela::math {

namespace {
using Scaling = void (*)(unsigned, unsigned, double const*, double const*, double*);

Scaling numericScaling(bool columns, bool inverse) {
  if (columns) return inverse ? Scaling(inverseScaleColumns) : Scaling(scaleColumns);
  return inverse ? Scaling(inverseScaleRows) : Scaling(scaleRows);
}
}  // namespace

std::string ScaleVectors::description() const {
  return std::string("ScaleVectors [") + (columns ? "columns" : "rows") + ", " +
         (inverse ? "inverse" : "non-inverse") + "]";
}

void ScaleVectors::compute(frame::Args& args) const {
  int m = args.size(0), n = args.size(1);
  double* out = args.output(static_cast<int>(count));
  int factors = columns ? n : m;
  if (frame::fitsIn(m, n, args.count(2)) && frame::fitsIn(m, n, count) &&
      frame::fitsIn(factors, 1, args.count(3)))
    numericScaling(columns, inverse)(static_cast<unsigned>(m), static_cast<unsigned>(n),
                                     args.doubles(2), args.doubles(3), out);
}

void ScaleVectors::code(frame::Code& code) const {
  std::string name =
      std::string(inverse ? "inverseScale" : "scale") + (columns ? "Columns" : "Rows");
  code.call(name, {code.size(0), code.size(1), code.array(2), code.array(3),
                   code.output(ct::ScalarType::Double, count)});
}

namespace {
void scaleBlock(ScaleVectors kernel, TracedValue<int> const& m, TracedValue<int> const& n,
                TracedValue<double> const* A, TracedValue<double> const* s, unsigned factors,
                TracedValue<double>* out) {
  frame::TracedCall<ScaleVectorsOp> call(kernel);
  long long rows = call.size(m), cols = call.size(n);
  call.array(A, kernel.count, rows * cols);
  call.array(s, factors, kernel.columns ? cols : rows);
  call.output(out, kernel.count, rows * cols);
  call.run();
}

void scale(bool columns, bool inverse, unsigned mMax, unsigned nMax, TracedValue<int> const& m,
           TracedValue<int> const& n, TracedValue<double> const* A, TracedValue<double> const* s,
           TracedValue<double>* out) {
  scaleBlock({columns, inverse, mMax * nMax}, clampSize(m, mMax), clampSize(n, nMax), A, s,
             columns ? nMax : mMax, out);
}

// The sums of P (m by n) over each column (P^T 1, columns) or row (P 1).
ct::TracedArray sumsOver(bool columns, unsigned count, unsigned factors, ct::TracedInt const& m,
                         ct::TracedInt const& n, ct::TracedArray const& P) {
  ct::TracedArray sums(factors);
  if (factors == 0) return sums;
  unsigned others = count / factors;
  ct::TracedArray ones(others, 1.0);
  if (columns)
    matrixTransposeMultiplyDynamicSize(others, factors, 1, m, n, 1, P.data(), ones.data(),
                                       sums.data());
  else
    matrixVectorMultiplyDynamicSize(factors, others, m, n, P.data(), ones.data(), sums.data());
  return frame::leading(columns ? n : m, sums);
}

bool constants(ct::TracedArray const& values) {
  return std::all_of(values.begin(), values.end(),
                     [](ct::TracedDouble const& v) { return v.isConstant(); });
}
}  // namespace

// d(A s) = dA s + A ds; d(A / s) = (dA - (A / s) ds) / s.
void ScaleVectors::jvp(ct::ForwardArgs& d) const {
  bool fixedA = d.isZero(2), fixedS = d.isZero(3);
  if (fixedA && fixedS) return;
  ct::TracedInt m = d.size(0), n = d.size(1);
  ct::TracedArray s = d.array(3), dA = d.tangent(2), t(count);
  auto factors = static_cast<unsigned>(s.size());
  TracedValue<double>* out = d.outputTangent(0, count);
  if (!fixedS) {  // t = (A or A / s) scaled by ds
    ct::TracedArray by = inverse ? d.output(0, count) : d.array(2), ds = d.tangent(3);
    scaleBlock({columns, false, count}, m, n, by.data(), ds.data(), factors, t.data());
  }
  if (!inverse) {
    if (fixedA) {
      std::copy(t.begin(), t.end(), out);
      return;
    }
    scaleBlock(*this, m, n, dA.data(), s.data(), factors, fixedS ? out : dA.data());
    if (!fixedS) vectorAdd(count, dA.data(), t.data(), out);
    return;
  }
  if (fixedS)
    t = dA;
  else if (fixedA)
    vectorNegate(count, t.data(), t.data());
  else
    vectorSubtract(count, dA.data(), t.data(), t.data());
  scaleBlock(*this, m, n, t.data(), s.data(), factors, out);
}

// Cotangents: of A, w scaled as A is; of s, the sums of A w (resp. of
// -(A / s) w / s) over each column or row.
void ScaleVectors::vjp(ct::ReverseArgs& d) const {
  ct::TracedInt m = d.size(0), n = d.size(1);
  ct::TracedArray w = d.cotangent(0, count), A = d.array(2), s = d.array(3);
  auto factors = static_cast<unsigned>(s.size());
  if (!constants(A)) {
    ct::TracedArray g(count);
    scaleBlock(*this, m, n, w.data(), s.data(), factors, g.data());
    d.add(2, frame::leading(m * n, g));
  }
  if (constants(s)) return;
  ct::TracedArray P(count), by = inverse ? d.output(0, count) : A;
  scaleBlock({false, false, count}, m * n, 1, by.data(), w.data(), count, P.data());
  if (inverse) scaleBlock(*this, m, n, P.data(), s.data(), factors, P.data());
  ct::TracedArray sums = sumsOver(columns, count, factors, m, n, P);
  if (inverse) vectorNegate(factors, sums.data(), sums.data());
  d.add(3, sums);
}

void scaleColumns(unsigned m, unsigned n, TracedValue<double> const* A,
                  TracedValue<double> const* s, TracedValue<double>* out) {
  scaleColumnsDynamicSize(m, n, frame::constantSize(m), frame::constantSize(n), A, s, out);
}

void inverseScaleColumns(unsigned m, unsigned n, TracedValue<double> const* A,
                         TracedValue<double> const* s, TracedValue<double>* out) {
  inverseScaleColumnsDynamicSize(m, n, frame::constantSize(m), frame::constantSize(n), A, s, out);
}

void scaleRows(unsigned m, unsigned n, TracedValue<double> const* A, TracedValue<double> const* s,
               TracedValue<double>* out) {
  scaleRowsDynamicSize(m, n, frame::constantSize(m), frame::constantSize(n), A, s, out);
}

void inverseScaleRows(unsigned m, unsigned n, TracedValue<double> const* A,
                      TracedValue<double> const* s, TracedValue<double>* out) {
  inverseScaleRowsDynamicSize(m, n, frame::constantSize(m), frame::constantSize(n), A, s, out);
}

void scaleColumnsDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                             TracedValue<int> const& n, TracedValue<double> const* A,
                             TracedValue<double> const* s, TracedValue<double>* out) {
  scale(true, false, mMax, nMax, m, n, A, s, out);
}

void inverseScaleColumnsDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                                    TracedValue<int> const& n, TracedValue<double> const* A,
                                    TracedValue<double> const* s, TracedValue<double>* out) {
  scale(true, true, mMax, nMax, m, n, A, s, out);
}

void scaleRowsDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                          TracedValue<int> const& n, TracedValue<double> const* A,
                          TracedValue<double> const* s, TracedValue<double>* out) {
  scale(false, false, mMax, nMax, m, n, A, s, out);
}

void inverseScaleRowsDynamicSize(unsigned mMax, unsigned nMax, TracedValue<int> const& m,
                                 TracedValue<int> const& n, TracedValue<double> const* A,
                                 TracedValue<double> const* s, TracedValue<double>* out) {
  scale(false, true, mMax, nMax, m, n, A, s, out);
}

}  // namespace vela::math
