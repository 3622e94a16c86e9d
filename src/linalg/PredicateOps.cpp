#include "linalg/PredicateOps.hpp"

#include <vector>

#include "frame/TracedCall.hpp"
#include "kelm_math/lin_alg.h"
#include "vela/math/dense_kernels.hpp"
#include "zeph_core/ckernels.h"

namespace vela::math {

std::size_t hasUniqueRowsWorkSize(unsigned m, unsigned n) {
  // Rows of four or more entries are sorted through a column of row numbers.
  return static_cast<std::size_t>(m) * (n >= 4 ? std::size_t(n) + 1 : n);
}

bool anyIsInf(unsigned n, double const* v) { return zeph_core_math_anyIsInf(n, v) != 0; }

bool anyIsNaN(unsigned n, double const* v) { return zeph_core_math_anyIsNaN(n, v) != 0; }

bool hasUniqueRows(unsigned m, unsigned n, double const* A, double* work) {
  return kelm_math_lin_alg_hasUniqueRows(static_cast<int>(m), static_cast<int>(n), A, work) != 0;
}

void computeIndicesNonzeroElements(unsigned n, int const* flags, int* indices) {
  zeph_core_math_computeIndicesNonzeroElements(n, flags, indices);
}

void AnyIsInf::compute(frame::Args& args) const {
  args.intOutput(1)[0] = anyIsInf(n, args.doubles(0)) ? 1 : 0;
}

void AnyIsInf::code(frame::Code& code) const {
  code.assignCall("zeph_core_math_anyIsInf", {frame::Code::decimal(n), code.array(0)});
}

void AnyIsNaN::compute(frame::Args& args) const {
  args.intOutput(1)[0] = anyIsNaN(n, args.doubles(0)) ? 1 : 0;
}

void AnyIsNaN::code(frame::Code& code) const {
  code.assignCall("zeph_core_math_anyIsNaN", {frame::Code::decimal(n), code.array(0)});
}

void HasUniqueRows::compute(frame::Args& args) const {
  std::vector<double> work(hasUniqueRowsWorkSize(m, n), 0.0);
  args.intOutput(1)[0] = hasUniqueRows(m, n, args.doubles(0), work.data()) ? 1 : 0;
}

void HasUniqueRows::code(frame::Code& code) const {
  std::string result = code.scalarResult();
  auto workSize = static_cast<unsigned>(hasUniqueRowsWorkSize(m, n));
  std::string work = code.temporary(ct::ScalarType::Double, workSize);
  code.line(result + " = hasUniqueRows(" + frame::Code::decimal(m) + ", " +
            frame::Code::decimal(n) + ", " + code.array(0) + ", " + work + ");");
}

void ComputeIndicesNonzeroElements::compute(frame::Args& args) const {
  int* indices = args.intOutput(static_cast<int>(n));
  computeIndicesNonzeroElements(n, args.ints(0), indices);
}

void ComputeIndicesNonzeroElements::code(frame::Code& code) const {
  // The kernel leaves the entries past the last position as they are; in
  // evaluation they are zeros, so they are zeroed here too.
  std::string indices = code.output(ct::ScalarType::Int, n);
  code.line("memset(" + indices + ", 0, " + frame::Code::decimal(n) + " * sizeof(int));");
  code.call("zeph_core_math_computeIndicesNonzeroElements",
            {frame::Code::decimal(n), code.array(0), indices});
}

TracedValue<bool> anyIsInf(unsigned n, TracedValue<double> const* v) {
  frame::TracedCall<AnyIsInfOp> call(AnyIsInf{n});
  call.array(v, n, n);
  return call.runScalar();
}

TracedValue<bool> anyIsNaN(unsigned n, TracedValue<double> const* v) {
  frame::TracedCall<AnyIsNaNOp> call(AnyIsNaN{n});
  call.array(v, n, n);
  return call.runScalar();
}

TracedValue<bool> hasUniqueRows(unsigned m, unsigned n, TracedValue<double> const* A,
                                TracedValue<double>* /*work*/) {
  frame::TracedCall<HasUniqueRowsOp> call(HasUniqueRows{m, n});
  call.array(A, m * n, static_cast<long long>(m) * n);
  return call.runScalar();
}

void computeIndicesNonzeroElements(unsigned n, TracedValue<int> const* flags,
                                   TracedValue<int>* indices) {
  frame::TracedCall<ComputeIndicesNonzeroElementsOp> call(ComputeIndicesNonzeroElements{n});
  call.array(flags, n, n).output(indices, n, n);
  call.run();
}

}  // namespace vela::math
