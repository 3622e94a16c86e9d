#include "linalg/ValidNormal.hpp"

#include "frame/TracedCall.hpp"
#include "linalg/PlaneFitOps.hpp"
#include "zeph_core/ckernels.h"

namespace vela::math {
namespace {

template <class Vec>
void guardNumeric(Vec const& tangent, Vec& normal) {
  constexpr int dim = Vec::dimension;
  double buffer[dim];
  normal.getValues(buffer);
  zeph_core_math_validNormal(buffer, tangent.values(), dim);
  normal.values(buffer);
}

template <class Vec>
void guardTraced(Vec const& tangent, Vec& normal) {
  constexpr unsigned dim = Vec::dimension;
  frame::TracedCall<ValidNormalOp> call(ValidNormal{dim});
  call.array(tangent.values(), dim, dim).array(normal.values(), dim, dim);
  call.output(normal.values(), dim, dim).neverFold();
  call.run();
}

}  // namespace

void validNormal(math3d::Vector2_T<Numeric> const& tangent, math3d::Vector2_T<Numeric>& normal) {
  guardNumeric(tangent, normal);
}

void validNormal(math3d::Vector3_T<Numeric> const& tangent, math3d::Vector3_T<Numeric>& normal) {
  guardNumeric(tangent, normal);
}

void validNormal(math3d::Vector2_T<Traced> const& tangent, math3d::Vector2_T<Traced>& normal) {
  guardTraced(tangent, normal);
}

void validNormal(math3d::Vector3_T<Traced> const& tangent, math3d::Vector3_T<Traced>& normal) {
  guardTraced(tangent, normal);
}

void ValidNormal::compute(frame::Args& args) const {
  double* out = args.outputCopy(1);
  if (dim == 2) {
    math3d::Vector2_T<Numeric> normal(out);
    validNormal(math3d::Vector2_T<Numeric>(args.doubles(0)), normal);
    normal.getValues(out);
  } else if (dim == 3) {
    math3d::Vector3_T<Numeric> normal(out);
    validNormal(math3d::Vector3_T<Numeric>(args.doubles(0)), normal);
    normal.getValues(out);
  }
}

void ValidNormal::code(frame::Code& code) const {
  std::string dimText = frame::Code::decimal(dim);
  std::string out = code.inPlace(1, static_cast<unsigned>(dim), dimText);
  code.line("zeph_core_math_validNormal(" + out + ", " + code.array(0) + "," + dimText + ");");
}

}  // namespace vela::math
