/* Plain-loop references of the dense kernels, shared by the tests and the
   fuzz targets (C). Matrices are column-major. */
#ifndef VELA_TEST_LINALG_REFERENCE_H
#define VELA_TEST_LINALG_REFERENCE_H

#include <math.h>
#include <stddef.h>

/* Sum of a[p * sa] * b[p * sb] over p < k in order, from the first product;
   0 for k <= 0. */
static inline double ref_sequential(int k, const double* a, ptrdiff_t sa, const double* b,
                                    ptrdiff_t sb) {
  if (k <= 0) return 0.0;
  double s = a[0] * b[0];
  for (int p = 1; p < k; ++p) s += a[p * sa] * b[p * sb];
  return s;
}

/* The order of dot products that kelm_math/lin_alg.h documents. */
static inline double ref_interleaved(int n, const double* a, const double* b) {
  if (n < 4) return ref_sequential(n, a, 1, b, 1);
  int p = n / 4 * 4;
  double s[4];
  for (int l = 0; l < 4; ++l) {
    s[l] = a[l] * b[l];
    for (int q = l + 4; q < p; q += 4) s[l] += a[q] * b[q];
  }
  if (n - p >= 2) {
    s[0] += a[p] * b[p];
    s[1] += a[p + 1] * b[p + 1];
    p += 2;
  }
  double sum = (s[0] + s[2]) + (s[1] + s[3]);
  return p < n ? sum + a[p] * b[p] : sum;
}

/* max |A x - b| for A rows by cols (b NULL: max |A x|). */
static inline double ref_residual(int rows, int cols, const double* A, const double* x,
                                  const double* b) {
  double worst = 0.0;
  for (int i = 0; i < rows; ++i) {
    double s = b ? -b[i] : 0.0;
    for (int j = 0; j < cols; ++j) s += A[i + (ptrdiff_t)j * rows] * x[j];
    if (!(fabs(s) <= worst)) worst = fabs(s);
  }
  return worst;
}

/* The largest column sum of |A| for A rows by cols. */
static inline double ref_norm1(int rows, int cols, const double* A) {
  double best = 0.0;
  for (int j = 0; j < cols; ++j) {
    double s = 0.0;
    for (int i = 0; i < rows; ++i) s += fabs(A[i + (ptrdiff_t)j * rows]);
    if (s > best) best = s;
  }
  return best;
}

/* max |a[i]|, NaN when one is NaN. */
static inline double ref_maxAbs(const double* a, ptrdiff_t count) {
  double m = 0.0;
  for (ptrdiff_t i = 0; i < count; ++i)
    if (!(fabs(a[i]) <= m)) m = fabs(a[i]);
  return m;
}

#endif
