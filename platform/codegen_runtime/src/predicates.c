#include "kelm_math/lin_alg.h"
#include "vela/codegen_runtime.h"

/* Generated code stores the answer in a bool slot, which holds 0 or 1. */
int hasUniqueRows(int m, int n, const double* A, double* work) {
  return kelm_math_lin_alg_hasUniqueRows(m, n, A, work) != 0;
}
