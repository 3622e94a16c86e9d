#include "linalg/ValidNormal.hpp"

#include "frame/TracedCall.hpp"
#include "kelm_math/comp_trace/Functions.hpp"
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

// The rules differentiate the branch the node took, tested as the kernel
// tests it: the normal's length below 1e-14 (a NaN length keeps it).

namespace {

using ct::TracedArray;
using ct::TracedDouble;

ct::TracedBool keeps_(TracedArray const& normal) {
  TracedDouble sum(0.0);
  for (auto const& v : normal) sum = sum + v * v;
  return !(ct::sqrt(sum) < 1e-14);
}

// Which of the three replacements (tangent x unit axis e) the kernel takes.
struct Axis_ {
  ct::TracedBool e1, e2;  // e is 2 when e2, else 1 when e1, else 0
  explicit Axis_(TracedArray const& t) {
    TracedDouble a0 = ct::abs(t[0]), a1 = ct::abs(t[1]), a2 = ct::abs(t[2]);
    e1 = a0 > a1;
    e2 = ct::ternary(e1, a1, a0) > a2;
  }
  TracedDouble choose(TracedDouble const& if0, TracedDouble const& if1,
                      TracedDouble const& if2) const {
    return ct::ternary(e2, if2, ct::ternary(e1, if1, if0));
  }
};

}  // namespace

void ValidNormal::jvp(ct::ForwardArgs& d) const {
  if ((dim != 2 && dim != 3) || (d.isZero(0) && d.isZero(1))) return;
  auto n = static_cast<unsigned>(dim);
  ct::TracedBool keep = keeps_(d.array(1));
  TracedArray out(n), replaced(n);
  if (!d.isZero(0)) {
    TracedArray dt = d.tangent(0);
    if (n == 2) {
      replaced = {-dt[1], dt[0]};
    } else {
      Axis_ axis(d.array(0));
      TracedDouble zero(0.0);
      replaced = {axis.choose(zero, -dt[2], dt[1]), axis.choose(dt[2], zero, -dt[0]),
                  axis.choose(-dt[1], dt[0], zero)};
    }
  }
  TracedArray kept = d.isZero(1) ? TracedArray(n) : d.tangent(1);
  for (unsigned k = 0; k < n; ++k) out[k] = ct::ternary(keep, kept[k], replaced[k]);
  d.setOutputTangent(0, out);
}

void ValidNormal::vjp(ct::ReverseArgs& d) const {
  if ((dim != 2 && dim != 3) || d.isZeroCotangent(0)) return;
  auto n = static_cast<unsigned>(dim);
  ct::TracedBool keep = keeps_(d.array(1));
  TracedArray w = d.cotangent(0, n), toNormal(n), toTangent(n);
  TracedDouble zero(0.0);
  for (unsigned k = 0; k < n; ++k) {
    toNormal[k] = ct::ternary(keep, w[k], zero);
    w[k] = ct::ternary(keep, zero, w[k]);
  }
  if (n == 2) {
    toTangent = {w[1], -w[0]};
  } else {
    Axis_ axis(d.array(0));
    toTangent = {axis.choose(zero, w[2], -w[1]), axis.choose(-w[2], zero, w[0]),
                 axis.choose(w[1], -w[0], zero)};
  }
  d.add(0, toTangent);
  d.add(1, toNormal);
}

}  // namespace vela::math
