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
void dggbal_(const char* job, const int* n, double* a, const int* lda, double* b, const int* ldb,
             int* ilo, int* ihi, double* lscale, double* rscale, double* work, int* info,
             size_t jobLength);
void dgeqr2_(const int* m, const int* n, double* a, const int* lda, double* tau, double* work,
             int* info);
void dorm2r_(const char* side, const char* trans, const int* m, const int* n, const int* k,
             const double* a, const int* lda, const double* tau, double* c, const int* ldc,
             double* work, int* info, size_t sideLength, size_t transLength);
void dgghrd_(const char* compq, const char* compz, const int* n, const int* ilo, const int* ihi,
             double* a, const int* lda, double* b, const int* ldb, double* q, const int* ldq,
             double* z, const int* ldz, int* info, size_t compqLength, size_t compzLength);
void dhgeqz_(const char* job, const char* compq, const char* compz, const int* n, const int* ilo,
             const int* ihi, double* h, const int* ldh, double* t, const int* ldt, double* alphar,
             double* alphai, double* beta, double* q, const int* ldq, double* z, const int* ldz,
             double* work, const int* lwork, int* info, size_t jobLength, size_t compqLength,
             size_t compzLength);
void dtgevc_(const char* side, const char* howmny, const int* select, const int* n, const double* s,
             const int* lds, const double* p, const int* ldp, double* vl, const int* ldvl,
             double* vr, const int* ldvr, const int* mm, int* m, double* work, int* info,
             size_t sideLength, size_t howmnyLength);
void dggbak_(const char* job, const char* side, const int* n, const int* ilo, const int* ihi,
             const double* lscale, const double* rscale, const int* m, double* v, const int* ldv,
             int* info, size_t jobLength, size_t sideLength);

/* Room for the driver's minimum and for the stages run one by one. */
static int driverWorkSize(int n) { return 9 * n > 1 ? 9 * n : 1; }

int kelm_math_lin_alg_eigReqdRealWorkSize(int n) {
  if (n < 1) return 1;
  return 2 * n * n + 3 * n + driverWorkSize(n);
}

/* Largest component of each vector to |re| + |im| = 1, as the driver
   does; the driver itself leaves some vectors of tiny pencils unscaled.
   Pairs are taken as kelm_math_lin_alg_eig reads them: by a nonzero
   alphai, whatever its sign (rescaling can leave a pair's signs off). */
static void normalizeVectors(int n, const double* alphai, double* vr) {
  for (int j = 0; j < n; ++j) {
    int pair = alphai[j] != 0.0 && j + 1 < n;
    double* v = vr + (ptrdiff_t)j * n;
    double big = 0.0;
    for (int i = 0; i < n; ++i) {
      double size = fabs(v[i]) + (pair ? fabs(v[n + i]) : 0.0);
      if (size > big) big = size;
    }
    if (big >= DBL_MIN / DBL_EPSILON)
      for (int i = 0; i < (pair ? 2 * n : n); ++i) v[i] /= big;
    j += pair;
  }
}

/* The stages of the QZ driver for right eigenvectors, called directly: at
   small sizes the driver's workspace queries and norm scans cost as much as
   the iteration. Entries must be of moderate magnitude (the driver would
   scale them otherwise). 0 on success. */
static int qzRightVectors(int n, double* a, double* b, double* alphar, double* alphai, double* beta,
                          double* vr, double* work) {
  double* lscale = work;
  double* rscale = lscale + n;
  double* tau = rscale + n;
  double* rest = tau + n;
  int ilo = 1, ihi = n, info = 0, one = 1, found = 0, lwork = 6 * n;
  dggbal_("P", &n, a, &n, b, &n, &ilo, &ihi, lscale, rscale, rest, &info, 1);
  int rows = ihi + 1 - ilo, cols = n + 1 - ilo;
  ptrdiff_t corner = (ptrdiff_t)(ilo - 1) * n + (ilo - 1);
  dgeqr2_(&rows, &cols, b + corner, &n, tau, rest, &info);
  dorm2r_("L", "T", &rows, &cols, &rows, b + corner, &n, tau, a + corner, &n, rest, &info, 1, 1);
  for (ptrdiff_t i = 0; i < (ptrdiff_t)n * n; ++i) vr[i] = 0.0;
  for (int j = 0; j < n; ++j) vr[(ptrdiff_t)j * n + j] = 1.0;
  dgghrd_("N", "V", &n, &ilo, &ihi, a, &n, b, &n, NULL, &one, vr, &n, &info, 1, 1);
  dhgeqz_("S", "N", "V", &n, &ilo, &ihi, a, &n, b, &n, alphar, alphai, beta, NULL, &one, vr, &n,
          rest, &lwork, &info, 1, 1, 1);
  if (info != 0) return info;
  dtgevc_("R", "B", NULL, &n, a, &n, b, &n, NULL, &one, vr, &n, &n, &found, rest, &info, 1, 1);
  if (info != 0) return info;
  dggbak_("P", "R", &n, &ilo, &ihi, lscale, rscale, &n, vr, &n, &info, 1, 1);
  normalizeVectors(n, alphai, vr);
  return 0;
}

/* Largest magnitude of the entries; NaN or infinity when there is one. */
static double maxAbs(ptrdiff_t count, const double* a) {
  double big = 0.0;
  for (ptrdiff_t i = 0; i < count; ++i) {
    if (!(fabs(a[i]) <= DBL_MAX)) return INFINITY;
    if (fabs(a[i]) > big) big = fabs(a[i]);
  }
  return big;
}

int kelm_math_lin_alg_eigReqdInt32WorkSize(int n) {
  (void)n;
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
  double aMax = maxAbs(nn, A), bMax = maxAbs(nn, B);
  if (aMax <= DBL_MAX && bMax <= DBL_MAX) {
    memcpy(a, A, (size_t)nn * sizeof(double));
    memcpy(b, B, (size_t)nn * sizeof(double));
    if (aMax > 1e-100 && aMax < 1e100 && bMax > 1e-100 && bMax < 1e100) {
      info = qzRightVectors(n, a, b, alphar, alphai, beta, vre, driverWork);
    } else {
      dggev_("N", "V", &n, a, &n, b, &n, alphar, alphai, beta, NULL, &one, vre, &n, driverWork,
             &lwork, &info, 1, 1);
      if (info == 0) normalizeVectors(n, alphai, vre);
    }
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
