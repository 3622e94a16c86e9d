#include "curves/CasteljauInterpolationOp.hpp"

#include <algorithm>

#include "frame/TracedCall.hpp"
#include "linalg/MatrixMultiplyOp.hpp"
#include "vela/math/dense_kernels.hpp"
#include "vela/math/dynamic_sizes.hpp"
#include "zeph_core/ckernels.h"

namespace vela::math {
namespace {

/// Index clamped to [0, segments - 1]; segments >= 1.
int clampIndex(int index, unsigned segments) {
  return std::clamp(index, 0, static_cast<int>(std::min(segments - 1, 0x7fffffffu)));
}

}  // namespace

void CasteljauInterpolation::compute(frame::Args& args) const {
  double* out = args.output(static_cast<int>(dimension));
  double const* initial = args.doubles(3);
  std::copy(initial, initial + std::min<std::size_t>(args.count(3), dimension), out);
  // Fewer values than the field says (a node built over other inputs) count
  // as that many.
  unsigned available = static_cast<unsigned>(std::min<std::size_t>(valueCount, args.count(0)));
  unsigned whole = stride() == 0 ? 0 : available / stride();
  if (whole == 0) {
    zeph_core_math_castelEval(0, dimension, nullptr, out, args.scalar(2));
    return;
  }
  int index = clampIndex(args.size(1), whole);
  zeph_core_math_castelEval(degree + 1, dimension, args.doubles(0) + index * stride(), out,
                            args.scalar(2));
}

void CasteljauInterpolation::code(frame::Code& code) const {
  std::string out = code.inPlace(3, dimension, frame::Code::decimal(dimension));
  if (segments() == 0) {
    // No whole segment: the call reads nothing and writes zeros.
    code.call("zeph_core_math_castelEval",
              {"0", frame::Code::decimal(dimension), code.array(0), out, code.size(2)});
    return;
  }
  code.call("zeph_core_math_castelEval",
            {frame::Code::decimal(degree + 1), frame::Code::decimal(dimension),
             code.array(0) + "+" + frame::Code::decimal(stride()) + "*" + code.size(1), out,
             code.size(2)});
}

void castelInterpolate(unsigned valueCount, unsigned degree, unsigned dimension,
                       double const* values, int index, double t, double* out) {
  CasteljauInterpolation kernel{valueCount, degree, dimension};
  unsigned segments = kernel.segments();
  if (segments == 0) {
    zeph_core_math_castelEval(0, dimension, nullptr, out, t);
    return;
  }
  zeph_core_math_castelEval(degree + 1, dimension,
                            values + clampIndex(index, segments) * kernel.stride(), out, t);
}

void castelInterpolate(unsigned valueCount, unsigned degree, unsigned dimension,
                       ct::TracedDouble const* values, ct::TracedInt const& index,
                       ct::TracedDouble const& t, ct::TracedDouble* out) {
  CasteljauInterpolation kernel{valueCount, degree, dimension};
  unsigned segments = kernel.segments();
  frame::TracedCall<CasteljauInterpolationOp> call(kernel);
  call.array(values, valueCount, valueCount).neverFold();
  // Recorded clamped: its raw code in the generated line is then in range.
  call.size(clampSize(index, segments == 0 ? 0u : segments - 1));
  call.scalar(t);
  call.array(out, dimension, dimension);
  call.output(out, dimension, dimension);
  call.run();
}

// ---------------------------------------------------------------------------
// Derivative rules
// ---------------------------------------------------------------------------

namespace {

// One node of kernel over values, at a segment index already in range.
ct::TracedArray interpolate(CasteljauInterpolation const& kernel, ct::TracedArray const& values,
                            ct::TracedInt const& index, ct::TracedDouble const& t) {
  frame::TracedCall<CasteljauInterpolationOp> call(kernel);
  call.array(values.data(), kernel.valueCount, kernel.valueCount).neverFold();
  call.size(index);
  call.scalar(t);
  ct::TracedArray out(kernel.dimension);
  call.array(out.data(), kernel.dimension, kernel.dimension);
  call.output(out.data(), kernel.dimension, kernel.dimension);
  call.run();
  return out;
}

// The segments the node reads (none when its result is zeros), and its index
// clamped to them as evaluation clamps it.
struct Reach {
  unsigned segments;
  ct::TracedInt index;
};
Reach reach(CasteljauInterpolation const& k, ct::RuleArgs const& d) {
  auto available = std::min<std::size_t>(k.valueCount, d.array(0).size());
  unsigned whole = k.stride() == 0 ? 0 : static_cast<unsigned>(available) / k.stride();
  if (whole == 0 || static_cast<unsigned long long>(k.degree) * k.dimension > 100) return {0, {}};
  return {whole, clampSize(d.size(1), whole - 1)};
}

// The hodograph's point at t without the factor degree: the differences of
// consecutive control points, interpolated with one degree less.
ct::TracedArray hodograph(CasteljauInterpolation const& k, Reach const& r, ct::RuleArgs const& d) {
  ct::TracedArray P = d.array(0), D(r.segments * k.stride() - k.dimension);
  vectorSubtract(static_cast<unsigned>(D.size()), P.data() + k.dimension, P.data(), D.data());
  unsigned width = k.degree * k.dimension;
  ct::TracedArray H;
  for (unsigned s = 0; s < r.segments; ++s)
    H.insert(H.end(), D.begin() + s * k.stride(), D.begin() + s * k.stride() + width);
  return interpolate({r.segments * width, k.degree - 1, k.dimension}, H, r.index, d.scalar(2));
}

// The Bernstein weights of the degree at t, by the kernel itself on unit
// control points, as many coordinates at a time as its work storage takes.
ct::TracedArray bernstein(unsigned degree, ct::TracedDouble const& t) {
  if (degree == 0) return {ct::TracedDouble(1.0)};
  unsigned chunk = std::max(1u, 100 / degree), points = degree + 1;
  ct::TracedArray b;
  for (unsigned first = 0; first < points; first += chunk) {
    unsigned width = std::min(chunk, points - first);
    ct::TracedArray unit(points * width);
    for (unsigned q = 0; q < width; ++q) unit[(first + q) * width + q] = 1.0;
    ct::TracedArray part = interpolate({points * width, degree, width}, unit, 0, t);
    b.insert(b.end(), part.begin(), part.end());
  }
  return b;
}

}  // namespace

void CasteljauInterpolation::jvp(ct::ForwardArgs& d) const {
  Reach r = reach(*this, d);
  bool values = !d.isZero(0), t = degree > 0 && !d.isZero(2);
  if (r.segments == 0 || (!values && !t)) return;
  ct::TracedArray out(dimension);
  if (values) out = interpolate(*this, d.tangent(0), r.index, d.scalar(2));
  if (t) {
    ct::TracedDouble dt = d.tangent(2)[0] * static_cast<double>(degree);
    ct::TracedArray h = hodograph(*this, r, d);
    for (unsigned k = 0; k < dimension; ++k) out[k] = values ? out[k] + dt * h[k] : dt * h[k];
  }
  d.setOutputTangent(0, out);
}

void CasteljauInterpolation::vjp(ct::ReverseArgs& d) const {
  Reach r = reach(*this, d);
  if (r.segments == 0 || d.isZeroCotangent(0)) return;
  ct::TracedArray w = d.cotangent(0, dimension);
  if (varies(d.array(0))) {
    // w b^T as dimension by degree + 1: the selected segment's cotangent.
    ct::TracedInt dim(static_cast<int>(dimension)), one(1), points(static_cast<int>(degree + 1));
    ct::TracedArray g =
        multiplyArrays(2, stride(), dim, one, points, w, bernstein(degree, d.scalar(2)));
    ct::TracedArray dv(r.segments * stride());
    int index = 0;
    bool constant = r.index.getConstant(index);
    for (unsigned s = 0; s < r.segments; ++s) {
      if (constant && index != static_cast<int>(s)) continue;
      ct::TracedBool selected = r.index == static_cast<int>(s);
      for (unsigned j = 0; j < stride(); ++j)
        dv[s * stride() + j] = constant ? g[j] : ct::ternary(selected, g[j], ct::TracedDouble());
    }
    d.add(0, dv);
  }
  if (degree > 0 && !d.scalar(2).isConstant()) {
    ct::TracedArray h = hodograph(*this, r, d);
    d.add(2, {dotProduct(dimension, w.data(), h.data()) * static_cast<double>(degree)});
  }
}

}  // namespace vela::math
