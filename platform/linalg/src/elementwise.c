#include <string.h>

#include "kelm_math/lin_alg.h"

/* Loops run down contiguous columns so that the compiler vectorizes them.
   Where out may be the input itself, each element is read before it is
   written, so the loops carry no dependence. */

void kelm_math_lin_alg_vectorScale(int n, double scale, const double* a, double* out) {
#pragma GCC ivdep
  for (int i = 0; i < n; ++i) out[i] = scale * a[i];
}

void kelm_math_lin_alg_vectorNegate(int n, const double* a, double* out) {
#pragma GCC ivdep
  for (int i = 0; i < n; ++i) out[i] = -a[i];
}

void kelm_math_lin_alg_transposeColMajor(int m, int n, const double* a, double* out) {
  if (m <= 0 || n <= 0) return;
  /* Write contiguously: column i of out is row i of a. */
  for (int i = 0; i < m; ++i) {
    double* column = out + (long)n * i;
    for (int j = 0; j < n; ++j) column[j] = a[(long)m * j + i];
  }
}

/* Each pair (i, j), (j, i) is read before either is written, so out may be
   a itself. */
static void transposeCombine(int n, const double* a, double* out, double sign) {
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i <= j; ++i) {
      double upper = a[(long)n * j + i], lower = a[(long)n * i + j];
      out[(long)n * j + i] = upper + sign * lower;
      out[(long)n * i + j] = lower + sign * upper;
    }
  }
}

void kelm_math_lin_alg_matrixTransposeAdd(int n, const double* a, double* out) {
  transposeCombine(n, a, out, 1.0);
}

void kelm_math_lin_alg_matrixTransposeSubtract(int n, const double* a, double* out) {
  transposeCombine(n, a, out, -1.0);
}

void kelm_math_lin_alg_shiftColumns(int m, int n, int k, const double* a, double* out) {
  if (m <= 0 || k <= 0 || k > n) return;
  /* Offsets and counts in 32-bit unsigned arithmetic, as the block may hold
     more elements than an int counts. */
  unsigned first = (unsigned)m * (unsigned)(n - k), count = (unsigned)m * (unsigned)k;
  memmove(out, a + first, (size_t)count * sizeof(double));
}

void kelm_math_lin_alg_scaleColumns(int m, int n, const double* a, const double* s, double* out) {
  for (int j = 0; j < n; ++j) {
    const double* column = a + (long)m * j;
    double* result = out + (long)m * j;
    double f = s[j];
#pragma GCC ivdep
    for (int i = 0; i < m; ++i) result[i] = column[i] * f;
  }
}

void kelm_math_lin_alg_inverseScaleColumns(int m, int n, const double* a, const double* s,
                                           double* out) {
  for (int j = 0; j < n; ++j) {
    const double* column = a + (long)m * j;
    double* result = out + (long)m * j;
    double f = s[j];
#pragma GCC ivdep
    for (int i = 0; i < m; ++i) result[i] = column[i] / f;
  }
}

void kelm_math_lin_alg_scaleRows(int m, int n, const double* a, const double* s, double* out) {
  for (int j = 0; j < n; ++j) {
    const double* column = a + (long)m * j;
    double* result = out + (long)m * j;
#pragma GCC ivdep
    for (int i = 0; i < m; ++i) result[i] = column[i] * s[i];
  }
}

void kelm_math_lin_alg_inverseScaleRows(int m, int n, const double* a, const double* s,
                                        double* out) {
  for (int j = 0; j < n; ++j) {
    const double* column = a + (long)m * j;
    double* result = out + (long)m * j;
#pragma GCC ivdep
    for (int i = 0; i < m; ++i) result[i] = column[i] / s[i];
  }
}

void kelm_math_lin_alg_zeroMajor(int m, int n, const int* flags, double* a) {
  for (int j = 0; j < n; ++j) {
    double* column = a + (long)m * j;
    /* A select rather than a branch keeps the loop vectorizable. */
#pragma GCC ivdep
    for (int i = 0; i < m; ++i) column[i] = flags[i] != 0 ? 0.0 : column[i];
  }
}

void kelm_math_lin_alg_reduceMatrix(int m, int n, int k, const int* indices, double* a) {
  if (m <= 0 || k <= 0 || k > n) return;
  for (int j = 0; j < k; ++j) {
    int from = indices[j];
    if (from < 0 || from >= n || from == j) continue;
    /* memmove: the matrix is compacted within its own storage. */
    memmove(a + (long)m * j, a + (long)m * from, (size_t)m * sizeof(double));
  }
}

void kelm_math_lin_alg_expandVector(int nMax, int n, const int* indices, double* v) {
  if (n < 0 || n > nMax) return;
  /* Backwards, so that each entry is read before a later target covers it
     (a target lies at or above its entry's position). `end` is the lowest
     position written so far; everything from a target up to it is zeroed. */
  int end = nMax;
  for (int i = n - 1; i >= 0; --i) {
    int to = indices[i];
    if (to < 0 || to >= end) continue;
    double value = v[i];
    for (int p = to + 1; p < end; ++p) v[p] = 0.0;
    v[to] = value;
    end = to;
  }
  for (int p = 0; p < end; ++p) v[p] = 0.0;
}

void kelm_math_lin_alg_matrixAssignStrided(int rows, int cols, int srcStride, int dstStride,
                                           const double* src, double* dst) {
  if (rows <= 0) return;
  for (int j = 0; j < cols; ++j) {
    const double* from = src + (long)srcStride * j;
    double* to = dst + (long)dstStride * j;
#pragma GCC ivdep
    for (int i = 0; i < rows; ++i) to[i] = from[i];
  }
}
