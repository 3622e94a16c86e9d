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

/* The helpers below are inlined into bodies specialised for the smallest
   orders, where unrolled loops keep the vectors in registers; the
   operations and their order do not change, so neither do the bits. */
#if defined(__GNUC__)
#define SOLVER_INLINE inline __attribute__((always_inline))
#else
#define SOLVER_INLINE inline
#endif

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
static SOLVER_INLINE void mirrorLower(double* A, int n) {
  for (int j = 0; j < n; ++j)
    for (int i = j + 1; i < n; ++i) A[j + (ptrdiff_t)n * i] = A[i + (ptrdiff_t)n * j];
}

/* The loops over rows [from, to) below start their vectorized part at an
   even row: a pair loaded from a column must lie within a pair stored to
   it shortly before, or the load waits for the stores to drain (a failed
   store forward). Odd starts take one row on its own first. */

/* y[i] -= c[i] l for i in [from, to). */
static SOLVER_INLINE void subtractColumn(int from, int to, double* restrict y,
                                         const double* restrict c, double l) {
  if ((from & 1) && from < to) {
    y[from] -= c[from] * l;
    ++from;
  }
  for (int i = from; i < to; ++i) y[i] -= c[i] * l;
}

/* subtractColumn on y with l and on x with m, loading c once. */
static SOLVER_INLINE void subtractColumnTwice(int from, int to, double* restrict y,
                                              double* restrict x, const double* restrict c,
                                              double l, double m) {
  if ((from & 1) && from < to) {
    y[from] -= c[from] * l;
    x[from] -= c[from] * m;
    ++from;
  }
  for (int i = from; i < to; ++i) {
    double ci = c[i];
    y[i] -= ci * l;
    x[i] -= ci * m;
  }
}

/* y0[i] -= sum c_k[i] l[k] and y1[i] -= sum c_k[i] m[k] over k < 4, in
   order, loading each c_k[i] once for both columns; i in [from, to). */
static SOLVER_INLINE void subtractColumns4x2(int from, int to, double* restrict y0,
                                             double* restrict y1, const double* restrict c0,
                                             const double* restrict c1, const double* restrict c2,
                                             const double* restrict c3, const double* l,
                                             const double* m) {
  double l0 = l[0], l1 = l[1], l2 = l[2], l3 = l[3], m0 = m[0], m1 = m[1], m2 = m[2], m3 = m[3];
  int i = from;
  if ((i & 1) && i < to) {
    double a = c0[i], b = c1[i], c = c2[i], d = c3[i];
    y0[i] = y0[i] - a * l0 - b * l1 - c * l2 - d * l3;
    y1[i] = y1[i] - a * m0 - b * m1 - c * m2 - d * m3;
    ++i;
  }
  for (; i < to; ++i) {
    double a = c0[i], b = c1[i], c = c2[i], d = c3[i];
    y0[i] = y0[i] - a * l0 - b * l1 - c * l2 - d * l3;
    y1[i] = y1[i] - a * m0 - b * m1 - c * m2 - d * m3;
  }
}

/* The same over two columns c0, c1. */
static SOLVER_INLINE void subtractColumns2x2(int from, int to, double* restrict y0,
                                             double* restrict y1, const double* restrict c0,
                                             const double* restrict c1, const double* l,
                                             const double* m) {
  double l0 = l[0], l1 = l[1], m0 = m[0], m1 = m[1];
  int i = from;
  if ((i & 1) && i < to) {
    double a = c0[i], b = c1[i];
    y0[i] = y0[i] - a * l0 - b * l1;
    y1[i] = y1[i] - a * m0 - b * m1;
    ++i;
  }
  for (; i < to; ++i) {
    double a = c0[i], b = c1[i];
    y0[i] = y0[i] - a * l0 - b * l1;
    y1[i] = y1[i] - a * m0 - b * m1;
  }
}

/* Column j of the factor from its updated entries: 0, or j + 1 when the
   pivot is not positive. recip[j] = 1 / L_jj. */
static SOLVER_INLINE int finishColumn(double* cj, int n, int j, double* recip) {
  double d = cj[j];
  if (!(d > 0.0)) return j + 1;
  double ljj = sqrt(d);
  double inv = 1.0 / ljj;
  cj[j] = ljj;
  recip[j] = inv;
  int i = j + 1;
  if ((i & 1) && i < n) cj[i++] *= inv;
  for (; i < n; ++i) cj[i] *= inv;
  return 0;
}

/* Left-looking, two columns at a time: columns j and j + 1 take off their
   products with the finished columns (four at a time, each finished
   column read once for both), then j is finished and taken off j + 1. */
static SOLVER_INLINE int choleskyUnblocked(double* A, int n, double* recip) {
  int j = 0;
  for (; j + 1 < n; j += 2) {
    double* cj = A + (ptrdiff_t)n * j;
    double* cj1 = cj + n;
    int k = 0;
    for (; k + 4 <= j; k += 4) {
      const double* c0 = A + (ptrdiff_t)n * k;
      double l[4] = {c0[j], c0[n + j], c0[2 * n + j], c0[3 * n + j]};
      double m[4] = {c0[j + 1], c0[n + j + 1], c0[2 * n + j + 1], c0[3 * n + j + 1]};
      cj[j] = cj[j] - l[0] * l[0] - l[1] * l[1] - l[2] * l[2] - l[3] * l[3];
      subtractColumns4x2(j + 1, n, cj, cj1, c0, c0 + n, c0 + 2 * n, c0 + 3 * n, l, m);
    }
    if (k < j) { /* j is even: two columns are left */
      const double* c0 = A + (ptrdiff_t)n * k;
      double l[2] = {c0[j], c0[n + j]}, m[2] = {c0[j + 1], c0[n + j + 1]};
      cj[j] = cj[j] - l[0] * l[0] - l[1] * l[1];
      subtractColumns2x2(j + 1, n, cj, cj1, c0, c0 + n, l, m);
    }
    int failed = finishColumn(cj, n, j, recip);
    if (failed) return failed;
    subtractColumn(j + 1, n, cj1, cj, cj[j + 1]);
    failed = finishColumn(cj1, n, j + 1, recip);
    if (failed) return failed;
  }
  if (j < n) { /* the last column of an odd order */
    double* cj = A + (ptrdiff_t)n * j;
    for (int k = 0; k < j; ++k) {
      const double* ck = A + (ptrdiff_t)n * k;
      subtractColumn(j, n, cj, ck, ck[j]);
    }
    return finishColumn(cj, n, j, recip);
  }
  return 0;
}

static SOLVER_INLINE int choleskyInPlace(double* A, int n, double* recip) {
  mirrorLower(A, n);
  if (n <= CHOLESKY_LAPACK_ORDER) return choleskyUnblocked(A, n, recip);
  int info = 0;
  dpotrf_("L", &n, A, &n, &info, 1);
  return info;
}

int kelm_math_lin_alg_choleskyFactor(double* A, int n) {
  double recip[CHOLESKY_LAPACK_ORDER];
  if (n <= 0) return 0;
  return choleskyInPlace(A, n, recip);
}

/* Solves multiply by the reciprocals of the pivots, which factorizations of
   order up to CHOLESKY_LAPACK_ORDER keep; larger ones (recip NULL) divide. */
static SOLVER_INLINE double byPivot(double x, const double* F, int n, const double* recip, int j) {
  return recip != NULL ? x * recip[j] : x / F[j + (ptrdiff_t)n * j];
}

static SOLVER_INLINE const double* pivotReciprocals(const double* F, int n, double* recip) {
  if (n > CHOLESKY_LAPACK_ORDER) return NULL;
  for (int j = 0; j < n; ++j) recip[j] = 1.0 / F[j + (ptrdiff_t)n * j];
  return recip;
}

/* x <- L^{-1} x, L the lower triangle of F. */
static SOLVER_INLINE void forwardSolve(const double* restrict F, int n, const double* recip,
                                       double* restrict x) {
  for (int j = 0; j < n; ++j) {
    const double* cj = F + (ptrdiff_t)n * j;
    double xj = byPivot(x[j], F, n, recip, j);
    x[j] = xj;
    subtractColumn(j + 1, n, x, cj, xj);
  }
}

/* The sums below run four rows (or columns) side by side, each in its own
   order: four independent chains instead of one long one. */

/* d[j] = sum over k <= j of L_jk^2 (the diagonal of A), in order of k. */
static SOLVER_INLINE void factoredDiagonal(const double* restrict F, int n, double* restrict d) {
  int j = 0;
  for (; j + 4 <= n; j += 4) {
    double d0 = 0.0, d1 = 0.0, d2 = 0.0, d3 = 0.0;
    for (int k = 0; k <= j; ++k) {
      const double* p = F + j + (ptrdiff_t)n * k;
      d0 += p[0] * p[0];
      d1 += p[1] * p[1];
      d2 += p[2] * p[2];
      d3 += p[3] * p[3];
    }
    const double* p = F + j + (ptrdiff_t)n * (j + 1);
    d1 += p[1] * p[1];
    d2 += p[2] * p[2];
    d3 += p[3] * p[3];
    p += n;
    d2 += p[2] * p[2];
    d3 += p[3] * p[3];
    d3 += p[n + 3] * p[n + 3];
    d[j] = d0;
    d[j + 1] = d1;
    d[j + 2] = d2;
    d[j + 3] = d3;
  }
  for (; j < n; ++j) {
    double dj = 0.0;
    for (int k = 0; k <= j; ++k) dj += F[j + (ptrdiff_t)n * k] * F[j + (ptrdiff_t)n * k];
    d[j] = dj;
  }
}

/* sums[j] += sum over i < j of |A_ij| (column j of the strict upper
   triangle), in order of i. */
static SOLVER_INLINE void addUpperColumnSums(const double* restrict F, int n,
                                             double* restrict sums) {
  int j = 1;
  for (; j + 4 <= n; j += 4) {
    const double *c0 = F + (ptrdiff_t)n * j, *c1 = c0 + n, *c2 = c1 + n, *c3 = c2 + n;
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (int i = 0; i < j; ++i) {
      s0 += fabs(c0[i]);
      s1 += fabs(c1[i]);
      s2 += fabs(c2[i]);
      s3 += fabs(c3[i]);
    }
    s1 += fabs(c1[j]);
    s2 += fabs(c2[j]);
    s2 += fabs(c2[j + 1]);
    s3 += fabs(c3[j]);
    s3 += fabs(c3[j + 1]);
    s3 += fabs(c3[j + 2]);
    sums[j] += s0;
    sums[j + 1] += s1;
    sums[j + 2] += s2;
    sums[j + 3] += s3;
  }
  for (; j < n; ++j) {
    const double* cj = F + (ptrdiff_t)n * j;
    double s = 0.0;
    for (int i = 0; i < j; ++i) s += fabs(cj[i]);
    sums[j] += s;
  }
}

/* sums[i] += |A_ij| for j > i (row i of the strict upper triangle), in
   order of j. */
static SOLVER_INLINE void addUpperRowSums(const double* restrict F, int n, double* restrict sums) {
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const double* p = F + i;
    double r0 = sums[i], r1 = sums[i + 1], r2 = sums[i + 2], r3 = sums[i + 3];
    r0 += fabs(p[(ptrdiff_t)n * (i + 1)]);
    r0 += fabs(p[(ptrdiff_t)n * (i + 2)]);
    r0 += fabs(p[(ptrdiff_t)n * (i + 3)]);
    r1 += fabs(p[(ptrdiff_t)n * (i + 2) + 1]);
    r1 += fabs(p[(ptrdiff_t)n * (i + 3) + 1]);
    r2 += fabs(p[(ptrdiff_t)n * (i + 3) + 2]);
    for (int j = i + 4; j < n; ++j) {
      const double* q = p + (ptrdiff_t)n * j;
      r0 += fabs(q[0]);
      r1 += fabs(q[1]);
      r2 += fabs(q[2]);
      r3 += fabs(q[3]);
    }
    sums[i] = r0;
    sums[i + 1] = r1;
    sums[i + 2] = r2;
    sums[i + 3] = r3;
  }
  for (; i < n; ++i) {
    double r = sums[i];
    for (int j = i + 1; j < n; ++j) r += fabs(F[i + (ptrdiff_t)n * j]);
    sums[i] = r;
  }
}

/* The 1-norm of A = L L^T: its diagonal from the rows of L, its
   off-diagonal entries from the strict upper triangle. Row i of |A| sums as
   L_i0^2 + ... + L_ii^2, then the upper column i, then the upper row i. */
static SOLVER_INLINE double factoredNorm1(const double* restrict F, int n, double* restrict sums) {
  factoredDiagonal(F, n, sums);
  addUpperColumnSums(F, n, sums);
  addUpperRowSums(F, n, sums);
  double norm = 0.0;
  for (int j = 0; j < n; ++j)
    if (!(sums[j] <= norm)) norm = sums[j]; /* a NaN sum wins */
  return norm;
}

/* x <- L^{-T} x and, when x2 is not NULL, x2 <- L^{-T} x2 alike. Each
   finished x_j is taken off the entries above it at once (row j of L,
   strided), not gathered by a dot product per entry: the chain from one
   x_j to the next is then one multiply and one subtraction long. */
static SOLVER_INLINE void backwardSolve2(const double* restrict F, int n, const double* recip,
                                         double* restrict x, double* restrict x2) {
  for (int j = n - 1; j >= 0; --j) {
    const double* rj = F + j;
    double xj = byPivot(x[j], F, n, recip, j);
    x[j] = xj;
    if (x2 == NULL) {
      for (int i = 0; i < j; ++i) x[i] -= rj[(ptrdiff_t)n * i] * xj;
      continue;
    }
    double x2j = byPivot(x2[j], F, n, recip, j);
    x2[j] = x2j;
    for (int i = 0; i < j; ++i) { /* both from one load of L_ji */
      double r = rj[(ptrdiff_t)n * i];
      x[i] -= r * xj;
      x2[i] -= r * x2j;
    }
  }
}

/* x <- L^{-T} x. */
static SOLVER_INLINE void backwardSolve(const double* restrict F, int n, const double* recip,
                                        double* restrict x) {
  backwardSolve2(F, n, recip, x, NULL);
}

/* A lower bound of the 1-norm of A^{-1}, which bounds its 2-norm from
   above (A is symmetric). With signs e_k = +-1 chosen while solving
   L w = e so that each w_k grows, v = L^{-T} w = A^{-1} e gives two lower
   bounds: |v|_inf (as |e|_inf = 1) and the power-step Rayleigh quotient
   v^T v / w^T w = e^T A^{-2} e / e^T A^{-1} e. When x is not NULL, the
   solve carries x <- A^{-1} x along (its latency hides behind the
   estimate's at small orders) with the bits of choleskySolve. */
static SOLVER_INLINE double inverseNorm1Estimate(const double* restrict F, int n,
                                                 const double* recip, double* restrict y,
                                                 double* restrict x) {
  for (int i = 0; i < n; ++i) y[i] = 0.0;
  for (int k = 0; k < n; ++k) {
    const double* ck = F + (ptrdiff_t)n * k;
    double p = y[k];
    double wk = byPivot((p > 0.0 ? -1.0 : 1.0) - p, F, n, recip, k);
    y[k] = wk;
    if (x == NULL) {
      subtractColumn(k + 1, n, y, ck, -wk);
      continue;
    }
    double xk = byPivot(x[k], F, n, recip, k);
    x[k] = xk;
    subtractColumnTwice(k + 1, n, y, x, ck, -wk, xk);
  }
  double w2 = 0.0;
  for (int i = 0; i < n; ++i) w2 += y[i] * y[i];
  backwardSolve2(F, n, recip, y, x);
  double vInf = 0.0, v2 = 0.0;
  for (int i = 0; i < n; ++i) {
    v2 += y[i] * y[i];
    if (!(fabs(y[i]) <= vInf)) vInf = fabs(y[i]);
  }
  double estimate = vInf;
  if (w2 > 0.0 && v2 / w2 > estimate) estimate = v2 / w2;
  return estimate;
}

/* 1 / (|A|_1 |A^{-1}|_1), carrying the solve of x along (see above). */
static SOLVER_INLINE double reciprocalCondition(const double* F, int n, const double* recip,
                                                double* work, double* x) {
  double anorm = factoredNorm1(F, n, work);
  return 1.0 / (anorm * inverseNorm1Estimate(F, n, recip, work, x));
}

double kelm_math_lin_alg_conditionReciprocal(const double* factor, int n, int norm, double* work) {
  double recip[CHOLESKY_LAPACK_ORDER];
  (void)norm; /* one estimate serves both: the 1- and infinity norms of A agree */
  if (n <= 0) return 1.0;
  return reciprocalCondition(factor, n, pivotReciprocals(factor, n, recip), work, NULL);
}

static SOLVER_INLINE void solveFactored(const double* F, int n, const double* recip,
                                        const double* b, double* x) {
  if (x != b) memcpy(x, b, (size_t)n * sizeof(double));
  forwardSolve(F, n, recip, x);
  backwardSolve(F, n, recip, x);
}

void kelm_math_lin_alg_choleskySolve(const double* factor, const double* b, int n, double* x,
                                     double* work) {
  double recip[CHOLESKY_LAPACK_ORDER];
  (void)work;
  if (n <= 0) return;
  solveFactored(factor, n, pivotReciprocals(factor, n, recip), b, x);
}

/* Cholesky in place and the reciprocal condition estimate, x <- A^{-1} x
   riding along when x is not NULL; NaN when the factorization fails. */
static SOLVER_INLINE double factorAndEstimate(double* A, int n, double* work, double* x) {
  double recip[CHOLESKY_LAPACK_ORDER];
  if (choleskyInPlace(A, n, recip) != 0) return NAN;
  return reciprocalCondition(A, n, n <= CHOLESKY_LAPACK_ORDER ? recip : NULL, work, x);
}

/* At small orders vectorized loops are mostly prologue and epilogue, and
   their pairs still straddle entries that scalar stores have just written
   (the mirrored triangle, the pivots): scalar code is faster there. The
   bits do not depend on it. */
#if defined(__GNUC__) && !defined(__clang__)
#define SOLVER_SCALAR __attribute__((optimize("no-tree-vectorize", "no-tree-slp-vectorize")))
#else
#define SOLVER_SCALAR
#endif

/* Up to this order the scalar body wins. */
#define SOLVER_SCALAR_ORDER 8

static SOLVER_SCALAR double factorAndEstimateSmall(double* A, int n, double* work, double* x) {
  switch (n) {
    case 2: return factorAndEstimate(A, 2, work, x);
    case 3: return factorAndEstimate(A, 3, work, x);
    case 4: return factorAndEstimate(A, 4, work, x);
    case 5: return factorAndEstimate(A, 5, work, x);
    case 6: return factorAndEstimate(A, 6, work, x);
    default: return factorAndEstimate(A, n, work, x);
  }
}

static double factorAndEstimateAnyOrder(double* A, int n, double* work, double* x) {
  if (n <= SOLVER_SCALAR_ORDER) return factorAndEstimateSmall(A, n, work, x);
  return factorAndEstimate(A, n, work, x);
}

int kelm_math_lin_alg_factorSymmetricPosDef(double* A, int n, double* work) {
  if (n <= 0) return 0;
  if (n == 1) return A[0] <= 0.0;
  double rc = factorAndEstimateAnyOrder(A, n, work, NULL);
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
  /* choleskyFactor, conditionReciprocal and choleskySolve in one pass (the
     same bits as the three calls); the solve runs along, unless x is b. */
  int carry = x != b;
  if (carry) memcpy(x, b, (size_t)n * sizeof(double));
  double rc = factorAndEstimateAnyOrder(A, n, work, carry ? x : NULL);
  if (rc * rc > 1e-14) {
    if (!carry) kelm_math_lin_alg_choleskySolve(A, b, n, x, work);
    return;
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
