#include "kelmf/foundation.h"
#include "zeph_core/ckernels.h"

int zeph_core_math_anyIsInf(unsigned int n, const double* v) {
  for (unsigned int i = 0; i < n; ++i)
    if (kelmf_is_inf(v[i])) return 1;
  return 0;
}

int zeph_core_math_anyIsNaN(unsigned int n, const double* v) {
  for (unsigned int i = 0; i < n; ++i)
    if (kelmf_is_nan(v[i])) return 1;
  return 0;
}

void zeph_core_math_computeIndicesNonzeroElements(unsigned int n, const int* flags, int* indices) {
  unsigned int next = 0;
  for (unsigned int i = 0; i < n; ++i)
    if (flags[i] != 0) indices[next++] = (int)i;
}
