#include <float.h>
#include <math.h>
#include <stddef.h>

#include "kelm_math/dot_order.h"
#include "kelm_math/lin_alg.h"

/* Up to this many columns the reference norms of the pivoting live on the
   stack; beyond, partial norms are recomputed at every step instead. */
#define QR_STACK_COLUMNS 64

/* The 2-norm of v, without overflow or underflow of the squares. */
static double norm2(int n, const double* v) {
  double s = kelm_math_lin_alg_dotOrder(n, v, v);
  if (s >= DBL_MIN && s <= DBL_MAX) return sqrt(s);
  if (s != s) return s;
  double scale = 0.0;
  for (int i = 0; i < n; ++i)
    if (fabs(v[i]) > scale) scale = fabs(v[i]);
  if (scale == 0.0 || scale > DBL_MAX) return scale;
  s = 0.0;
  for (int i = 0; i < n; ++i) s += (v[i] / scale) * (v[i] / scale);
  return scale * sqrt(s);
}

static double pairNorm(double a, double b) {
  double v[2] = {a, b};
  return norm2(2, v);
}

/* Turns x[0..n) into beta and the reflector's tail v[1..n) (v[0] = 1 is
   implicit) with (I - tau v v^T) x = (beta, 0, ..., 0); returns tau. */
static double makeReflector(int n, double* x) {
  double tailNorm = norm2(n - 1, x + 1);
  if (tailNorm == 0.0) return 0.0;
  double alpha = x[0];
  double beta = -copysign(pairNorm(alpha, tailNorm), alpha);
  double scale = 1.0 / (alpha - beta);
  for (int i = 1; i < n; ++i) x[i] *= scale;
  x[0] = beta;
  return (beta - alpha) / beta;
}

/* y[0..n) <- (I - tau v v^T) y with v = (1, tail[0..n-1)). */
static void applyReflector(int n, const double* tail, double tau, double* y) {
  double w = (y[0] + kelm_math_lin_alg_dotOrder(n - 1, tail, y + 1)) * tau;
  y[0] -= w;
  for (int i = 1; i < n; ++i) y[i] -= w * tail[i - 1];
}

static void swapColumns(double* A, int rows, int j, int k) {
  double* a = A + (ptrdiff_t)rows * j;
  double* b = A + (ptrdiff_t)rows * k;
  for (int i = 0; i < rows; ++i) {
    double t = a[i];
    a[i] = b[i];
    b[i] = t;
  }
}

/* Columns with a nonzero pivot entry move to the front, in order; every
   entry becomes the 1-based column it holds. Returns their count. */
static int placeFixedColumns(double* A, int rows, int columns, int* piv) {
  int fixed = 0;
  for (int j = 0; j < columns; ++j) {
    if (piv[j] == 0) {
      piv[j] = j + 1;
      continue;
    }
    if (j != fixed) {
      swapColumns(A, rows, j, fixed);
      piv[j] = piv[fixed];
      piv[fixed] = j + 1;
    } else {
      piv[j] = j + 1;
    }
    ++fixed;
  }
  return fixed;
}

/* Downdates the partial norm of column j after step k, recomputing it where
   cancellation would leave too few digits (or when no reference is kept). */
static void downdateNorm(const double* cj, int rows, int k, double* vn1, double* vn2) {
  if (*vn1 == 0.0) return;
  if (vn2 != NULL) {
    double t = fabs(cj[k]) / *vn1;
    t = 1.0 - t * t;
    if (t < 0.0) t = 0.0;
    double ratio = *vn1 / *vn2;
    if (t * ratio * ratio > 1.4901161193847656e-08) { /* sqrt(eps) */
      *vn1 *= sqrt(t);
      return;
    }
  }
  *vn1 = norm2(rows - k - 1, cj + k + 1);
  if (vn2 != NULL) *vn2 = *vn1;
}

void kelm_math_lin_alg_qrFactor(int rows, int columns, double* A, double* tau, int* piv,
                                double* work) {
  if (rows <= 0 || columns <= 0) return;
  double reference[QR_STACK_COLUMNS];
  int keepReference = columns <= QR_STACK_COLUMNS;
  int fixed = placeFixedColumns(A, rows, columns, piv);
  for (int j = 0; j < columns; ++j) {
    work[j] = norm2(rows, A + (ptrdiff_t)rows * j);
    if (keepReference) reference[j] = work[j];
  }
  int steps = rows < columns ? rows : columns;
  for (int k = 0; k < steps; ++k) {
    if (k >= fixed) {
      int p = k;
      for (int j = k + 1; j < columns; ++j)
        if (work[j] > work[p]) p = j;
      if (p != k) {
        swapColumns(A, rows, p, k);
        int t = piv[p];
        piv[p] = piv[k];
        piv[k] = t;
        work[p] = work[k];
        if (keepReference) reference[p] = reference[k];
      }
    }
    double* ck = A + k + (ptrdiff_t)rows * k;
    tau[k] = makeReflector(rows - k, ck);
    for (int j = k + 1; j < columns; ++j) {
      double* cj = A + (ptrdiff_t)rows * j;
      if (tau[k] != 0.0) applyReflector(rows - k, ck + 1, tau[k], cj + k);
      downdateNorm(cj, rows, k, &work[j], keepReference ? &reference[j] : NULL);
    }
  }
}

/* Leading diagonal entries of R kept: |R_kk| > tol |R_00| and nonzero, up
   to the first that is not. A negative limit alone would keep zeros (a
   division by zero in the solve) and an infinite R_00. */
static int qrRank(const double* QR, int rows, int steps, double tol) {
  if (steps <= 0) return 0;
  double r00 = fabs(QR[0]);
  if (!(r00 > 0.0 && r00 <= DBL_MAX)) return 0;
  double limit = tol * r00;
  int r = 0;
  while (r < steps) {
    double d = fabs(QR[r + (ptrdiff_t)rows * r]);
    if (!(d > limit && d > 0.0)) break;
    ++r;
  }
  return r;
}

/* x[piv[j] - 1] <- x[j] for j < n, following each cycle of the permutation
   from its smallest position. */
static void scatterByPivots(int n, const int* piv, double* x) {
  for (int s = 0; s < n; ++s) {
    int j = piv[s] - 1, steps = 0;
    while (j > s && steps++ < n) j = piv[j] - 1;
    if (j != s) continue;
    double carry = x[s];
    j = s;
    do {
      int next = piv[j] - 1;
      double t = x[next];
      x[next] = carry;
      carry = t;
      j = next;
    } while (j != s);
  }
}

int kelm_math_lin_alg_qrSolveTall(int rows, int columns, const double* QR, const double* tau,
                                  const int* piv, double* x, double tol) {
  if (rows <= 0 || columns <= 0) return 0;
  int steps = rows < columns ? rows : columns;
  for (int k = 0; k < steps; ++k)
    if (tau[k] != 0.0) applyReflector(rows - k, QR + k + 1 + (ptrdiff_t)rows * k, tau[k], x + k);
  int r = qrRank(QR, rows, steps, tol);
  for (int j = r - 1; j >= 0; --j) {
    const double* cj = QR + (ptrdiff_t)rows * j;
    double xj = x[j] / cj[j];
    x[j] = xj;
    for (int i = 0; i < j; ++i) x[i] -= cj[i] * xj;
  }
  for (int j = r; j < columns; ++j) x[j] = 0.0;
  scatterByPivots(columns, piv, x);
  return r;
}

int kelm_math_lin_alg_qrSolveWide(int m, int n, const double* QR, const double* tau, const int* piv,
                                  const double* b, double tol, double* x) {
  if (n <= 0) return 0;
  int steps = m < n ? m : n;
  int r = m > 0 ? qrRank(QR, n, steps, tol) : 0;
  /* R^T y = P^T b on the kept rows, by columns of R. */
  for (int j = 0; j < r; ++j) {
    const double* cj = QR + (ptrdiff_t)n * j;
    x[j] = (b[piv[j] - 1] - kelm_math_lin_alg_dotOrder(j, cj, x)) / cj[j];
  }
  for (int j = r; j < n; ++j) x[j] = 0.0;
  /* x = Q y; reflectors from r on meet only zeros. */
  for (int k = r - 1; k >= 0; --k)
    if (tau[k] != 0.0) applyReflector(n - k, QR + k + 1 + (ptrdiff_t)n * k, tau[k], x + k);
  return r;
}
