#include "linalg/ScaleVectorsOp.hpp"

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
void scale(bool columns, bool inverse, unsigned mMax, unsigned nMax, TracedValue<int> const& m,
           TracedValue<int> const& n, TracedValue<double> const* A, TracedValue<double> const* s,
           TracedValue<double>* out) {
  unsigned count = mMax * nMax;
  frame::TracedCall<ScaleVectorsOp> call(ScaleVectors{columns, inverse, count});
  long long rows = call.size(m, mMax), cols = call.size(n, nMax);
  call.array(A, count, rows * cols);
  call.array(s, columns ? nMax : mMax, columns ? cols : rows);
  call.output(out, count, rows * cols);
  call.run();
}

}  // namespace

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
