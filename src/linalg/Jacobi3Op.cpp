#include "linalg/Jacobi3Op.hpp"

#include "frame/TracedCall.hpp"
#include "kelm_math/lin_alg.h"

namespace vela::math {

void Jacobi3::compute(frame::Args& args) const {
  double* w = args.output(3);
  double* V = args.output(9);
  kelm_math_lin_alg_jacobi3(args.doubles(0), args.doubles(1), w, V);
}

void Jacobi3::code(frame::Code& code) const {
  std::string w = code.output(ct::ScalarType::Double, 3);
  std::string V = code.output(ct::ScalarType::Double, 9);
  code.call("kelm_math_lin_alg_jacobi3", {code.array(0), code.array(1), w, V});
}

void jacobi3(ct::TracedDouble const* d, ct::TracedDouble const* o, ct::TracedDouble* w,
             ct::TracedDouble* V) {
  frame::TracedCall<Jacobi3Op> call(Jacobi3{});
  call.array(d, 3, 3).array(o, 3, 3).output(w, 3, 3).output(V, 9, 9);
  call.run();
}

}  // namespace vela::math
