#include "linalg/VectorCombineOp.hpp"

#include "frame/Rules.hpp"
#include "frame/Sizes.hpp"
#include "frame/TracedCall.hpp"
#include "vela/math/dense_kernels.hpp"

namespace vela::math {

std::string VectorCombine::description() const {
  return kind == 0 ? "VectorCombine [add]" : "VectorCombine [subtract]";
}

void VectorCombine::compute(frame::Args& args) const {
  int s = args.size(0);
  double* out = args.output(s);
  if (s <= 0) return;
  auto n = static_cast<unsigned>(s);
  if (kind == 0)
    vectorAdd(n, args.doubles(1), args.doubles(2), out);
  else
    vectorSubtract(n, args.doubles(1), args.doubles(2), out);
}

void VectorCombine::code(frame::Code& code) const {
  code.call(kind == 0 ? "vectorAdd" : "vectorSubtract",
            {code.size(0), code.array(1), code.array(2), code.output(ct::ScalarType::Double, n)});
}

namespace {
void combine(int kind, unsigned nMax, TracedValue<int> const& n, TracedValue<double> const* a,
             TracedValue<double> const* b, TracedValue<double>* out);
}  // namespace

void VectorCombine::jvp(ct::ForwardArgs& d) const {
  combine(kind, n, d.size(0), d.tangent(1).data(), d.tangent(2).data(), d.outputTangent(0, n));
}

void VectorCombine::vjp(ct::ReverseArgs& d) const {
  // Only the first size elements of each operand reach the output.
  ct::TracedArray w = frame::leading(d.size(0), d.cotangent(0, n));
  d.add(1, w);
  if (kind == 1) vectorNegate(n, w.data(), w.data());
  d.add(2, w);
}

namespace {
void combine(int kind, unsigned nMax, TracedValue<int> const& n, TracedValue<double> const* a,
             TracedValue<double> const* b, TracedValue<double>* out) {
  frame::TracedCall<VectorCombineOp> call(VectorCombine{kind, nMax});
  int size = call.size(n, nMax);
  call.array(a, nMax, size).array(b, nMax, size).output(out, nMax, size);
  call.run();
}
}  // namespace

void vectorAdd(unsigned n, TracedValue<double> const* a, TracedValue<double> const* b,
               TracedValue<double>* out) {
  vectorAddDynamicSize(n, frame::constantSize(n), a, b, out);
}

void vectorAddDynamicSize(unsigned nMax, TracedValue<int> const& n, TracedValue<double> const* a,
                          TracedValue<double> const* b, TracedValue<double>* out) {
  combine(0, nMax, n, a, b, out);
}

void vectorSubtract(unsigned n, TracedValue<double> const* a, TracedValue<double> const* b,
                    TracedValue<double>* out) {
  vectorSubtractDynamicSize(n, frame::constantSize(n), a, b, out);
}

void vectorSubtractDynamicSize(unsigned nMax, TracedValue<int> const& n,
                               TracedValue<double> const* a, TracedValue<double> const* b,
                               TracedValue<double>* out) {
  combine(1, nMax, n, a, b, out);
}

}  // namespace vela::math
