/* Singular value decomposition by one-sided Jacobi rotations, and the
   solves and rank built on it. At the sizes this library meets (up to a few
   dozen) the rotations cost less than a bidiagonalization through LAPACK,
   need no workspace query and give orthogonal factors to working precision. */
#include <float.h>
#include <math.h>
#include <stddef.h>
#include <string.h>

#include "kelm_math/lin_alg.h"

/* Enough for convergence from any start at these sizes; caps the work on
   NaN input, which never converges. */
#define MAX_SWEEPS 40

/* 2^-400: columns this short after the rotations are treated as zero. */
#define TINY_COLUMN 3.872591914849318e-121

/* Four partial sums let the compiler keep the loop in registers without
   reassociating. */
static double dot(int n, const double* a, const double* b) {
  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    s0 += a[i] * b[i];
    s1 += a[i + 1] * b[i + 1];
    s2 += a[i + 2] * b[i + 2];
    s3 += a[i + 3] * b[i + 3];
  }
  for (; i < n; ++i) s0 += a[i] * b[i];
  return (s0 + s1) + (s2 + s3);
}

/* (x, y) <- (c x - s y, s x + c y) */
static void rotate(int n, double* x, double* y, double c, double s) {
  for (int i = 0; i < n; ++i) {
    double xi = x[i], yi = y[i];
    x[i] = c * xi - s * yi;
    y[i] = s * xi + c * yi;
  }
}

static void swapColumns(int rows, double* a, double* b) {
  for (int i = 0; i < rows; ++i) {
    double t = a[i];
    a[i] = b[i];
    b[i] = t;
  }
}

/* Rotates pairs of the c columns of W (r by c) until they are mutually
   orthogonal, applying each rotation to the columns of Z (c by c) too. nrm
   receives the squared column norms. */
static void orthogonalizeColumns(int r, int c, double* W, double* Z, double* nrm) {
  for (int sweep = 0; sweep < MAX_SWEEPS; ++sweep) {
    int rotated = 0;
    /* Norms are updated along the sweep; refresh them against drift. */
    for (int j = 0; j < c; ++j) nrm[j] = dot(r, W + (ptrdiff_t)j * r, W + (ptrdiff_t)j * r);
    for (int p = 0; p + 1 < c; ++p) {
      double* wp = W + (ptrdiff_t)p * r;
      for (int q = p + 1; q < c; ++q) {
        double* wq = W + (ptrdiff_t)q * r;
        double apq = dot(r, wp, wq);
        /* Not squared: eps^2 |w_p|^2 |w_q|^2 underflows once two columns are
           small, and the pair would pass as orthogonal. */
        if (!(fabs(apq) > DBL_EPSILON * sqrt(fabs(nrm[p])) * sqrt(fabs(nrm[q])))) continue;
        double zeta = (nrm[q] - nrm[p]) / (2.0 * apq);
        double t = fabs(zeta) > 1e150
                       ? 0.5 / zeta
                       : copysign(1.0, zeta) / (fabs(zeta) + sqrt(1.0 + zeta * zeta));
        double cs = 1.0 / sqrt(1.0 + t * t);
        double sn = cs * t;
        rotate(r, wp, wq, cs, sn);
        rotate(c, Z + (ptrdiff_t)p * c, Z + (ptrdiff_t)q * c, cs, sn);
        nrm[p] -= t * apq;
        nrm[q] += t * apq;
        rotated = 1;
      }
    }
    if (!rotated) break;
  }
}

/* Makes columns from..to-1 of Q (r rows) orthonormal to all columns before
   them, starting each from the unit vector least covered so far. */
static void completeBasis(int r, int from, int to, double* Q) {
  for (int j = from; j < to; ++j) {
    double* q = Q + (ptrdiff_t)j * r;
    int best = 0;
    double bestRest = -1.0;
    for (int i = 0; i < r; ++i) {
      double covered = 0.0;
      for (int k = 0; k < j; ++k) covered += Q[(ptrdiff_t)k * r + i] * Q[(ptrdiff_t)k * r + i];
      if (1.0 - covered > bestRest) {
        bestRest = 1.0 - covered;
        best = i;
      }
    }
    for (int i = 0; i < r; ++i) q[i] = i == best ? 1.0 : 0.0;
    for (int pass = 0; pass < 2; ++pass)
      for (int k = 0; k < j; ++k) {
        double* qk = Q + (ptrdiff_t)k * r;
        double d = dot(r, qk, q);
        for (int i = 0; i < r; ++i) q[i] -= d * qk[i];
      }
    double norm = sqrt(dot(r, q, q));
    for (int i = 0; i < r; ++i) q[i] /= norm;
  }
}

/* The factorization of an r by c matrix (r >= c) held in W, scaled so that
   its largest entry is below 1 in magnitude: on return S holds the singular
   values (descending, unscaled by 2^shift), W the left vectors (wcols
   columns) and Z the right vectors (c by c). work: c doubles. */
static void svdTall(int r, int c, int wcols, int shift, double* W, double* Z, double* S,
                    double* work) {
  for (int j = 0; j < c; ++j)
    for (int i = 0; i < c; ++i) Z[(ptrdiff_t)j * c + i] = i == j ? 1.0 : 0.0;
  orthogonalizeColumns(r, c, W, Z, work);
  for (int j = 0; j < c; ++j) {
    double* w = W + (ptrdiff_t)j * r;
    S[j] = sqrt(dot(r, w, w));
    /* Far below the rounding of the scaled entries (largest below 1) a
       column is residue of cancellation, too small for its dot products to
       be orthogonalized: it counts as zero and is completed below. */
    if (S[j] < TINY_COLUMN) {
      S[j] = 0.0;
      for (int i = 0; i < r; ++i) w[i] = 0.0;
    }
  }
  /* Selection sort keeps equal values in their order. */
  for (int j = 0; j + 1 < c; ++j) {
    int best = j;
    for (int i = j + 1; i < c; ++i)
      if (S[i] > S[best]) best = i;
    if (best == j) continue;
    double t = S[j];
    S[j] = S[best];
    S[best] = t;
    swapColumns(r, W + (ptrdiff_t)j * r, W + (ptrdiff_t)best * r);
    swapColumns(c, Z + (ptrdiff_t)j * c, Z + (ptrdiff_t)best * c);
  }
  int rank = 0;
  while (rank < c && S[rank] > 0.0) ++rank;
  for (int j = 0; j < rank; ++j) {
    double* w = W + (ptrdiff_t)j * r;
    for (int i = 0; i < r; ++i) w[i] /= S[j];
  }
  completeBasis(r, rank, wcols, W);
  /* Signs: the largest entry of each right vector is positive. */
  for (int j = 0; j < c; ++j) {
    double* z = Z + (ptrdiff_t)j * c;
    int big = 0;
    for (int i = 1; i < c; ++i)
      if (fabs(z[i]) > fabs(z[big])) big = i;
    if (z[big] < 0.0) {
      for (int i = 0; i < c; ++i) z[i] = -z[i];
      double* w = W + (ptrdiff_t)j * r;
      for (int i = 0; i < r; ++i) w[i] = -w[i];
    }
  }
  for (int j = 0; j < c; ++j) S[j] = ldexp(S[j], shift);
}

static void setIdentity(int r, double* Q) {
  for (ptrdiff_t i = 0; i < (ptrdiff_t)r * r; ++i) Q[i] = 0.0;
  for (int i = 0; i < r; ++i) Q[(ptrdiff_t)i * r + i] = 1.0;
}

static void setZero(int n, double* x) {
  for (int i = 0; i < n; ++i) x[i] = 0.0;
}

int kelm_math_lin_alg_svdReqdWorkSize(int m, int n, unsigned char full) {
  (void)full;
  int k = m < n ? m : n;
  return k > 1 ? k : 1;
}

void kelm_math_lin_alg_svd(int m, int n, const double* A, unsigned char full, double* S, double* U,
                           double* V, double* work) {
  if (m < 0 || n < 0) return;
  if (m == 0 || n == 0) {
    /* The bases of a full factorization exist even without singular values. */
    if (full) {
      setIdentity(m, U);
      setIdentity(n, V);
    }
    return;
  }
  double amax = 0.0;
  for (ptrdiff_t i = 0; i < (ptrdiff_t)m * n; ++i)
    if (!(fabs(A[i]) <= amax)) amax = fabs(A[i]);
  /* A power-of-two scale is exact and keeps squared norms in range. */
  int shift = 0;
  if (amax > 0.0 && amax <= DBL_MAX) frexp(amax, &shift);
  if (m >= n) {
    for (ptrdiff_t i = 0; i < (ptrdiff_t)m * n; ++i) U[i] = ldexp(A[i], -shift);
    svdTall(m, n, full ? m : n, shift, U, V, S, work);
  } else {
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < m; ++i) V[(ptrdiff_t)i * n + j] = ldexp(A[(ptrdiff_t)j * m + i], -shift);
    svdTall(n, m, full ? n : m, shift, V, U, S, work);
  }
}

int kelm_math_lin_alg_svdComputeRank(int m, int n, const double* s, double tol) {
  int k = m < n ? m : n, rank = 0;
  for (int i = 0; i < k; ++i)
    if (s[i] > tol && s[i] > 0.0) ++rank;
  return rank;
}

int kelm_math_lin_alg_svdSolveFromFactorizationReqdWorkSize(int m, int n) {
  int k = m < n ? m : n;
  return k > 1 ? k : 1;
}

int kelm_math_lin_alg_svdSolveFromFactorization(int m, int n, const double* S, const double* U,
                                                const double* V, const double* b, double tol,
                                                double* x, double* work) {
  if (m == 0 && n > 0) setZero(n, x);
  if (m <= 0 || n <= 0) return 0;
  int k = m < n ? m : n, kept = 0;
  for (int j = 0; j < k; ++j) {
    int keep = S[j] > tol && S[j] > 0.0;
    work[j] = keep ? dot(m, U + (ptrdiff_t)j * m, b) / S[j] : 0.0;
    kept += keep;
  }
  setZero(n, x);
  for (int j = 0; j < k; ++j) {
    const double* v = V + (ptrdiff_t)j * n;
    for (int i = 0; i < n; ++i) x[i] += work[j] * v[i];
  }
  return kept == k;
}

int kelm_math_lin_alg_svdSolveReqdWorkSize(int m, int n) {
  int k = m < n ? m : n;
  if (k < 1) return 1;
  return k * (m + n + 1) + kelm_math_lin_alg_svdReqdWorkSize(m, n, 0) +
         kelm_math_lin_alg_svdSolveFromFactorizationReqdWorkSize(m, n);
}

void kelm_math_lin_alg_svdSolve(int m, int n, const double* A, const double* b, double tol,
                                double* x, double* work) {
  if (m == 0 && n > 0) setZero(n, x);
  if (m <= 0 || n <= 0) return;
  int k = m < n ? m : n;
  double* S = work;
  double* U = S + k;
  double* V = U + (ptrdiff_t)m * k;
  double* rest = V + (ptrdiff_t)n * k;
  kelm_math_lin_alg_svd(m, n, A, 0, S, U, V, rest);
  kelm_math_lin_alg_svdSolveFromFactorization(m, n, S, U, V, b, tol, x,
                                              rest + kelm_math_lin_alg_svdReqdWorkSize(m, n, 0));
}
