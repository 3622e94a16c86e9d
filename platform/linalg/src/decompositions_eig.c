/* Generalized eigenproblem of a matrix pair through LAPACK's QZ driver, and
   the orthonormalization of real eigenvectors against an SPD matrix. */
#include <float.h>
#include <math.h>
#include <stddef.h>
#include <string.h>

#include "kelm_math/lin_alg.h"

void dggev_(const char* jobvl, const char* jobvr, const int* n, double* a, const int* lda,
            double* b, const int* ldb, double* alphar, double* alphai, double* beta, double* vl,
            const int* ldvl, double* vr, const int* ldvr, double* work, const int* lwork, int* info,
            size_t jobvlLength, size_t jobvrLength);

/* The driver's minimum; its blocked paths start above the sizes met here. */
static int driverWorkSize(int n) { return 8 * n > 1 ? 8 * n : 1; }

int kelm_math_lin_alg_eigReqdRealWorkSize(int n) {
  if (n < 1) return 1;
  return 2 * n * n + 3 * n + driverWorkSize(n);
}

int kelm_math_lin_alg_eigReqdInt32WorkSize(int n) {
  (void)n;
  return 1;
}

static int allFinite(ptrdiff_t count, const double* a) {
  for (ptrdiff_t i = 0; i < count; ++i)
    if (!(fabs(a[i]) <= DBL_MAX)) return 0;
  return 1;
}

/* alpha / beta, an infinity of alpha's sign when beta is 0 (NaN for 0 / 0). */
static double ratio(double alpha, double beta) {
  if (beta != 0.0) return alpha / beta;
  return alpha > 0.0 ? INFINITY : alpha < 0.0 ? -INFINITY : NAN;
}

int kelm_math_lin_alg_eig(int n, const double* A, const double* B, double* re, double* im,
                          double* vre, double* vim, double* work, int* iwork) {
  (void)iwork;
  if (n <= 0) return 1;
  ptrdiff_t nn = (ptrdiff_t)n * n;
  double* a = work;
  double* b = a + nn;
  double* alphar = b + nn;
  double* alphai = alphar + n;
  double* beta = alphai + n;
  double* driverWork = beta + n;
  int lwork = driverWorkSize(n), info = -1, one = 1;
  if (allFinite(nn, A) && allFinite(nn, B)) {
    memcpy(a, A, (size_t)nn * sizeof(double));
    memcpy(b, B, (size_t)nn * sizeof(double));
    dggev_("N", "V", &n, a, &n, b, &n, alphar, alphai, beta, NULL, &one, vre, &n, driverWork,
           &lwork, &info, 1, 1);
  }
  if (info != 0) {
    for (int j = 0; j < n; ++j) re[j] = im[j] = NAN;
    for (ptrdiff_t i = 0; i < nn; ++i) vre[i] = vim[i] = NAN;
    return 0;
  }
  for (int j = 0; j < n; ++j) {
    double* vr = vre + (ptrdiff_t)j * n;
    double* vi = vim + (ptrdiff_t)j * n;
    re[j] = ratio(alphar[j], beta[j]);
    if (alphai[j] == 0.0 || j + 1 == n) {
      im[j] = 0.0;
      for (int i = 0; i < n; ++i) vi[i] = 0.0;
      continue;
    }
    /* A conjugate pair: the driver stores the real and imaginary parts of
       the first vector in columns j and j + 1. */
    im[j] = ratio(alphai[j], beta[j]);
    re[j + 1] = re[j];
    im[j + 1] = -im[j];
    for (int i = 0; i < n; ++i) {
      vi[i] = vr[n + i];
      vr[n + i] = vr[i];
      vi[n + i] = -vi[i];
    }
    ++j;
  }
  return 1;
}

/* Lower Cholesky factor of B in L; 0 when B is not positive definite. */
static int cholesky(int n, const double* B, double* L) {
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) L[(ptrdiff_t)j * n + i] = i < j ? 0.0 : B[(ptrdiff_t)j * n + i];
    for (int k = 0; k < j; ++k) {
      double ljk = L[(ptrdiff_t)k * n + j];
      for (int i = j; i < n; ++i) L[(ptrdiff_t)j * n + i] -= L[(ptrdiff_t)k * n + i] * ljk;
    }
    double d = L[(ptrdiff_t)j * n + j];
    if (!(d > 0.0)) return 0;
    d = sqrt(d);
    for (int i = j; i < n; ++i) L[(ptrdiff_t)j * n + i] /= d;
  }
  return 1;
}

static double dotColumns(int n, const double* a, const double* b) {
  double s = 0.0;
  for (int i = 0; i < n; ++i) s += a[i] * b[i];
  return s;
}

int kelm_math_lin_alg_orthonormalizeRealEigenvectorsWrtSpdB(int n, const double* B, double* V,
                                                            double* work) {
  if (n <= 0) return 1;
  ptrdiff_t nn = (ptrdiff_t)n * n;
  double* L = work;
  double* W = work + nn;
  if (!cholesky(n, B, L)) return 0;
  /* In W = L^T V the B inner product is the plain one. */
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      double s = 0.0;
      for (int k = i; k < n; ++k) s += L[(ptrdiff_t)i * n + k] * V[(ptrdiff_t)j * n + k];
      W[(ptrdiff_t)j * n + i] = s;
    }
  /* Modified Gram-Schmidt, twice, so that the result is orthonormal to
     working precision even for nearly parallel columns. */
  for (int j = 0; j < n; ++j) {
    double* w = W + (ptrdiff_t)j * n;
    double before = sqrt(dotColumns(n, w, w));
    for (int pass = 0; pass < 2; ++pass)
      for (int k = 0; k < j; ++k) {
        double* wk = W + (ptrdiff_t)k * n;
        double d = dotColumns(n, wk, w);
        for (int i = 0; i < n; ++i) w[i] -= d * wk[i];
      }
    double after = sqrt(dotColumns(n, w, w));
    if (!(after > 1e3 * n * DBL_EPSILON * before)) return 0;
    for (int i = 0; i < n; ++i) w[i] /= after;
  }
  /* V = L^-T W by back substitution. */
  for (int j = 0; j < n; ++j) {
    double* v = V + (ptrdiff_t)j * n;
    const double* w = W + (ptrdiff_t)j * n;
    for (int i = n - 1; i >= 0; --i) {
      double s = w[i];
      for (int k = i + 1; k < n; ++k) s -= L[(ptrdiff_t)i * n + k] * v[k];
      v[i] = s / L[(ptrdiff_t)i * n + i];
    }
  }
  return 1;
}
