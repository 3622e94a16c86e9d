#include "kelm_math/lin_alg.h"

/* out may be a or b itself: each element is read before it is written, so
   the loops carry no dependence and vectorize without alias checks. */

void kelm_math_lin_alg_vectorAdd(int n, const double* a, const double* b, double* out) {
#pragma GCC ivdep
#pragma GCC unroll 4
  for (int i = 0; i < n; ++i) out[i] = a[i] + b[i];
}

void kelm_math_lin_alg_vectorSubtract(int n, const double* a, const double* b, double* out) {
#pragma GCC ivdep
#pragma GCC unroll 4
  for (int i = 0; i < n; ++i) out[i] = a[i] - b[i];
}
