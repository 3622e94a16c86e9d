#include "kelm_math/lin_alg.h"

void kelm_math_lin_alg_vectorAdd(int n, const double* a, const double* b, double* out) {
  for (int i = 0; i < n; ++i) out[i] = a[i] + b[i];
}

void kelm_math_lin_alg_vectorSubtract(int n, const double* a, const double* b, double* out) {
  for (int i = 0; i < n; ++i) out[i] = a[i] - b[i];
}
