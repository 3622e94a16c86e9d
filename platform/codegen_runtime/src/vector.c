#include "kelm_math/lin_alg.h"
#include "vela/codegen_runtime.h"

void vectorAdd(int n, const double* a, const double* b, double* out) {
  kelm_math_lin_alg_vectorAdd(n, a, b, out);
}

void vectorSubtract(int n, const double* a, const double* b, double* out) {
  kelm_math_lin_alg_vectorSubtract(n, a, b, out);
}
