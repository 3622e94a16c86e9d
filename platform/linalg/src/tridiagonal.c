#include <string.h>

#include "kelm_math/lin_alg.h"

/* Hand-written L D L^T: at the sizes splines use, the LAPACK call and its
   argument checks cost more than the elimination itself, and dptsv would
   reject the indefinite (but diagonally dominant) systems of open splines. */

/* Factors in place: diag[i] becomes 1 / pivot i, offdiag[i] the multiplier
   l_i of L. Returns 0, or the 1-based index of the first zero pivot. */
static int factor(double* diag, double* offdiag, int n) {
  for (int i = 0; i + 1 < n; ++i) {
    if (diag[i] == 0.0) return i + 1;
    double r = 1.0 / diag[i];
    double e = offdiag[i];
    double l = e * r;
    diag[i] = r;
    offdiag[i] = l;
    diag[i + 1] -= l * e;
  }
  if (diag[n - 1] == 0.0) return n;
  diag[n - 1] = 1.0 / diag[n - 1];
  return 0;
}

/* Solves L D L^T x = b in place with the factors of factor(). */
static void substitute(const double* recip, const double* l, double* x, int n) {
  for (int i = 1; i < n; ++i) x[i] -= l[i - 1] * x[i - 1];
  x[n - 1] *= recip[n - 1];
  for (int i = n - 2; i >= 0; --i) x[i] = x[i] * recip[i] - l[i] * x[i + 1];
}

int kelm_math_lin_alg_solveTriDiagSymm(double* diag, double* offdiag, double* rhs, int n) {
  if (n <= 0) return 0;
  int flag = factor(diag, offdiag, n);
  if (flag != 0) return flag;
  substitute(diag, offdiag, rhs, n);
  return 0;
}

int kelm_math_lin_alg_solveTriDiagSymmPer(double* diag, double* offdiag, double* rhs, int n,
                                          double corner, double* work) {
  if (n <= 0) return 0;
  if (n == 1) {
    diag[0] += 2.0 * corner;
    return kelm_math_lin_alg_solveTriDiagSymm(diag, offdiag, rhs, 1);
  }
  if (n == 2) {
    offdiag[0] += corner;
    return kelm_math_lin_alg_solveTriDiagSymm(diag, offdiag, rhs, 2);
  }
  if (corner == 0.0) return kelm_math_lin_alg_solveTriDiagSymm(diag, offdiag, rhs, n);

  /* A = T' + u v^T with u = (gamma, 0, ..., corner), v = (1, 0, ...,
     corner / gamma); gamma = -diag[0] keeps the first pivot away from 0. */
  double gamma = diag[0] != 0.0 ? -diag[0] : -corner;
  double ratio = corner / gamma;
  diag[0] -= gamma;
  diag[n - 1] -= corner * ratio;
  int flag = factor(diag, offdiag, n);
  if (flag != 0) return flag;
  substitute(diag, offdiag, rhs, n);

  memset(work, 0, (size_t)n * sizeof(double));
  work[0] = gamma;
  work[n - 1] = corner;
  substitute(diag, offdiag, work, n);
  double denominator = 1.0 + work[0] + ratio * work[n - 1];
  if (denominator == 0.0) return n + 1;
  double scale = (rhs[0] + ratio * rhs[n - 1]) / denominator;
  for (int i = 0; i < n; ++i) rhs[i] -= scale * work[i];
  return 0;
}
