#include <string.h>

#include "zeph_core/ckernels.h"

#define CASTEL_WORK 100

void zeph_core_math_castelEval(unsigned int n, unsigned int dim, const double* points, double* out,
                               double t) {
  double work[CASTEL_WORK];
  unsigned int count, level, i, k;
  if (dim == 0) return;
  /* No points, or more than the work storage holds: generated code may pass
     anything, so write a defined value and read nothing. */
  if (n == 0 || n - 1 > CASTEL_WORK / dim) {
    memset(out, 0, dim * sizeof(double));
    return;
  }
  if (t == 0.0) {
    memcpy(out, points, dim * sizeof(double));
    return;
  }
  if (t == 1.0 || n == 1) {
    memcpy(out, points + (n - 1) * dim, dim * sizeof(double));
    return;
  }
  count = n - 1;
  for (i = 0; i < count * dim; ++i) work[i] = (1.0 - t) * points[i] + t * points[i + dim];
  for (level = count; level > 1; --level)
    for (i = 0; i + 1 < level; ++i)
      for (k = 0; k < dim; ++k)
        work[i * dim + k] = (1.0 - t) * work[i * dim + k] + t * work[(i + 1) * dim + k];
  memcpy(out, work, dim * sizeof(double));
}
