#include <math.h>
#include <stddef.h>
#include <string.h>

#include "kelm_math/lin_alg.h"

/* Above this order the blocked LAPACK factorization beats the unblocked
   loops below; under it, the call and its checks cost more than the work. */
#define CHOLESKY_LAPACK_ORDER 64

/* Reference LAPACK (gfortran passes the length of a character argument
   last, by value). */
void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info, size_t uploLen);

void kelm_math_lin_alg_geSolve2x2(const double* A, const double* b, double* x) {
  double a00 = A[0], a10 = A[1], a01 = A[2], a11 = A[3], b0 = b[0], b1 = b[1];
  if (fabs(a10) > fabs(a00)) { /* row pivoting keeps the multiplier within 1 */
    double t = a00;
    a00 = a10;
    a10 = t;
    t = a01;
    a01 = a11;
    a11 = t;
    t = b0;
    b0 = b1;
    b1 = t;
  }
  double l = a10 / a00;
  double x1 = (b1 - l * b0) / (a11 - l * a01);
  x[0] = (b0 - a01 * x1) / a00;
  x[1] = x1;
}

/* The strict lower triangle mirrored into the strict upper one. */
static void mirrorLower(double* A, int n) {
  for (int j = 0; j < n; ++j)
    for (int i = j + 1; i < n; ++i) A[j + (ptrdiff_t)n * i] = A[i + (ptrdiff_t)n * j];
}

/* Left-looking: column j takes off its products with the finished columns
   (contiguous updates the compiler vectorizes), then is scaled. */
static int choleskyUnblocked(double* A, int n) {
  for (int j = 0; j < n; ++j) {
    double* cj = A + (ptrdiff_t)n * j;
    for (int k = 0; k < j; ++k) {
      const double* ck = A + (ptrdiff_t)n * k;
      double ljk = ck[j];
      for (int i = j; i < n; ++i) cj[i] -= ck[i] * ljk;
    }
    double d = cj[j];
    if (!(d > 0.0)) return j + 1;
    double ljj = sqrt(d);
    double inv = 1.0 / ljj;
    cj[j] = ljj;
    for (int i = j + 1; i < n; ++i) cj[i] *= inv;
  }
  return 0;
}

int kelm_math_lin_alg_choleskyFactor(double* A, int n) {
  if (n <= 0) return 0;
  mirrorLower(A, n);
  if (n <= CHOLESKY_LAPACK_ORDER) return choleskyUnblocked(A, n);
  int info = 0;
  dpotrf_("L", &n, A, &n, &info, 1);
  return info;
}

/* x <- L^{-1} x, L the lower triangle of the factor. */
static void forwardSolve(const double* L, int n, double* x) {
  for (int j = 0; j < n; ++j) {
    const double* cj = L + (ptrdiff_t)n * j;
    double xj = x[j] / cj[j];
    x[j] = xj;
    for (int i = j + 1; i < n; ++i) x[i] -= cj[i] * xj;
  }
}

/* x <- L^{-T} x. */
static void backwardSolve(const double* L, int n, double* x) {
  for (int j = n - 1; j >= 0; --j) {
    const double* cj = L + (ptrdiff_t)n * j;
    double s = x[j];
    for (int i = j + 1; i < n; ++i) s -= cj[i] * x[i];
    x[j] = s / cj[j];
  }
}

/* The 1-norm of A = L L^T: its diagonal from the rows of L, its
   off-diagonal entries from the strict upper triangle. */
static double factoredNorm1(const double* F, int n, double* sums) {
  for (int j = 0; j < n; ++j) {
    double d = 0.0;
    for (int k = 0; k <= j; ++k) d += F[j + (ptrdiff_t)n * k] * F[j + (ptrdiff_t)n * k];
    sums[j] = d;
  }
  for (int j = 1; j < n; ++j) {
    const double* cj = F + (ptrdiff_t)n * j;
    for (int i = 0; i < j; ++i) {
      double a = fabs(cj[i]);
      sums[j] += a;
      sums[i] += a;
    }
  }
  double norm = 0.0;
  for (int j = 0; j < n; ++j)
    if (!(sums[j] <= norm)) norm = sums[j]; /* a NaN sum wins */
  return norm;
}

/* A lower bound of the 1-norm of A^{-1} (= its infinity norm, A being
   symmetric). y = A^{-1} e with signs e_k = +-1 chosen while solving
   L w = e so that each w_k grows; then one power step z = A^{-1} y. */
static double inverseNorm1Estimate(const double* F, int n, double* y) {
  for (int i = 0; i < n; ++i) y[i] = 0.0;
  for (int k = 0; k < n; ++k) {
    const double* ck = F + (ptrdiff_t)n * k;
    double p = y[k];
    double wk = ((p > 0.0 ? -1.0 : 1.0) - p) / ck[k];
    y[k] = wk;
    for (int i = k + 1; i < n; ++i) y[i] += ck[i] * wk;
  }
  backwardSolve(F, n, y);
  double yInf = 0.0;
  for (int i = 0; i < n; ++i)
    if (!(fabs(y[i]) <= yInf)) yInf = fabs(y[i]);
  double estimate = yInf;
  if (!(yInf > 0.0 && yInf <= 1.79769313486231570e308)) return estimate;
  double y1 = 0.0;
  for (int i = 0; i < n; ++i) {
    y[i] /= yInf;
    y1 += fabs(y[i]);
  }
  forwardSolve(F, n, y);
  backwardSolve(F, n, y);
  double z1 = 0.0, zInf = 0.0;
  for (int i = 0; i < n; ++i) {
    z1 += fabs(y[i]);
    if (!(fabs(y[i]) <= zInf)) zInf = fabs(y[i]);
  }
  if (zInf > estimate) estimate = zInf;
  if (z1 / y1 > estimate) estimate = z1 / y1;
  return estimate;
}

double kelm_math_lin_alg_conditionReciprocal(const double* factor, int n, int norm, double* work) {
  (void)norm; /* one estimate serves both: the 1- and infinity norms of A agree */
  if (n <= 0) return 1.0;
  double anorm = factoredNorm1(factor, n, work);
  double ainvnorm = inverseNorm1Estimate(factor, n, work);
  return 1.0 / (anorm * ainvnorm);
}

void kelm_math_lin_alg_choleskySolve(const double* factor, const double* b, int n, double* x,
                                     double* work) {
  (void)work;
  if (n <= 0) return;
  if (x != b) memcpy(x, b, (size_t)n * sizeof(double));
  forwardSolve(factor, n, x);
  backwardSolve(factor, n, x);
}

int kelm_math_lin_alg_factorSymmetricPosDef(double* A, int n, double* work) {
  if (n <= 0) return 0;
  if (n == 1) return A[0] <= 0.0;
  if (kelm_math_lin_alg_choleskyFactor(A, n) != 0) return 1;
  double rc = kelm_math_lin_alg_conditionReciprocal(A, n, 1, work);
  return !(rc * rc > 1e-15);
}

void kelm_math_lin_alg_solveSymmetricPosDef(const double* L, const double* B, int n, int m,
                                            double* X, double* work) {
  if (n <= 0 || m <= 0) return;
  if (n == 1) {
    for (int i = 0; i < m; ++i) X[i] = B[i] / L[0];
    return;
  }
  for (int j = 0; j < m; ++j)
    kelm_math_lin_alg_choleskySolve(L, B + (ptrdiff_t)n * j, n, X + (ptrdiff_t)n * j, work);
}

void kelm_math_lin_alg_factorAndSolveSymmetric(double* A, int n, double* tau, int* piv,
                                               const double* b, double* x, double* work) {
  if (n <= 0) return;
  if (n == 1) {
    x[0] = A[0] == 0.0 ? 0.0 : b[0] / A[0];
    return;
  }
  size_t count = (size_t)n * (size_t)n;
  double* saved = work + n;
  memcpy(saved, A, count * sizeof(double));
  if (kelm_math_lin_alg_choleskyFactor(A, n) == 0) {
    double rc = kelm_math_lin_alg_conditionReciprocal(A, n, 1, work);
    if (rc * rc > 1e-14) {
      kelm_math_lin_alg_choleskySolve(A, b, n, x, work);
      return;
    }
  }
  memcpy(A, saved, count * sizeof(double));
  memset(piv, 0, (size_t)n * sizeof(int));
  kelm_math_lin_alg_qrFactor(n, n, A, tau, piv, work);
  memcpy(x, b, (size_t)n * sizeof(double));
  kelm_math_lin_alg_qrSolveTall(n, n, A, tau, piv, x, 1e-12);
}

void kelm_math_lin_alg_factorAndSolveWide(int m, int n, double* A, double* tau, double* work,
                                          int* piv, const double* b, double tol, double* x) {
  if (m > 0) memset(piv, 0, (size_t)m * sizeof(int));
  kelm_math_lin_alg_qrFactor(n, m, A, tau, piv, work);
  kelm_math_lin_alg_qrSolveWide(m, n, A, tau, piv, b, tol, x);
}
