/* The kelm_math_lin_alg_* solvers on fuzzed sizes and values, in arrays of
   exactly the documented sizes: the drivers equal the documented sequences
   of kernel calls, the QR solves keep the rank rule, results are written,
   and diagonally dominant systems have small residuals. */
#include "../linalg/LinalgReference.h"
#include "fuzz_common.h"
#include "kelm_math/lin_alg.h"

/* |A x - b| small against |A| |x| + |b|. */
static void checkResidual(const char* what, int n, const double* A, const double* x,
                          const double* b) {
  double scale = ref_norm1(n, n, A) * ref_maxAbs(x, n) + ref_maxAbs(b, n);
  FZ_CHECK(ref_residual(n, n, A, x, b) <= 1e-12 * (n + 1) * scale, "%s (n=%d): residual", what, n);
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = {data, size};
  unsigned kernel = fz_byte(&in) % 7;
  int moderate = fz_byte(&in) & 1, dominant = moderate && (fz_byte(&in) & 1),
      alias = fz_byte(&in) & 1;
  int n = fz_range(&in, -1, 12), m = fz_range(&in, -1, 12), nn = n > 0 ? n : 0, mm = m > 0 ? m : 0;
  double tol = (fz_byte(&in) & 1) ? 1e-12 : fz_double(&in);
  /* A symmetric (or, diagonally dominant, positive definite) n by n, m
     right-hand sides B, and scratch of the documented sizes. */
  ptrdiff_t sb = (ptrdiff_t)nn * mm + nn + mm + 6;
  double *A = fz_alloc((ptrdiff_t)nn * nn), *B = fz_alloc(sb);
  for (int j = 0; j < nn; ++j)
    for (int i = j; i < nn; ++i) A[i + j * nn] = A[j + i * nn] = fz_value(&in, moderate);
  for (int i = 0; i < nn && dominant; ++i)
    A[i * (nn + 1)] = fabs(A[i * (nn + 1)]) + 2.0 * ref_norm1(nn, nn, A) + 1.0;
  fz_fill(&in, B, sb, moderate);
  double *F = fz_copy(A, (ptrdiff_t)nn * nn), *G = fz_copy(A, (ptrdiff_t)nn * nn),
         *x = fz_alloc(nn + mm);
  double *y = fz_alloc(nn + mm), *tau = fz_alloc(nn + mm),
         *w = fz_alloc(nn + mm + (ptrdiff_t)nn * nn);
  double *b0 = fz_copy(B, sb), *tau2 = fz_alloc(nn);
  int *piv = fz_allocInt(nn + mm), *piv2 = fz_allocInt(nn + mm);
  memset(piv2, 0, (size_t)(nn + mm) * sizeof(int));
  if (kernel == 0) { /* 2 by 2 from the first entries of B */
    double C[4] = {B[0], B[1], B[2], B[3]}, r[2] = {B[4], B[5]}, s[2];
    kelm_math_lin_alg_geSolve2x2(C, r, alias ? r : s);
    FZ_CHECK(fz_noCanary(alias ? r : s, 2), "geSolve2x2 left x unwritten");
  } else if (kernel == 1) { /* Cholesky, its estimate whatever the norm says, its solve */
    int info = kelm_math_lin_alg_choleskyFactor(F, n);
    FZ_CHECK(info >= 0 && info <= nn && (n > 0 || info == 0) && (!dominant || info == 0), "info %d",
             info);
    if (info != 0 || n <= 0) goto done;
    double rc = kelm_math_lin_alg_conditionReciprocal(F, n, 1, w);
    FZ_CHECK(fz_same(rc, kelm_math_lin_alg_conditionReciprocal(F, n, m, w)), "norm changed it");
    FZ_CHECK(!fz_allFinite(F, (ptrdiff_t)n * n) || (rc >= 0.0 && rc <= 1.0 + 1e-12), "estimate %g",
             rc);
    kelm_math_lin_alg_choleskySolve(F, B, n, alias ? B : x, w);
    FZ_CHECK(fz_noCanary(alias ? B : x, n), "choleskySolve left x unwritten");
    if (dominant && !alias) checkResidual("choleskySolve", n, A, x, B);
  } else if (kernel == 2) { /* factorSymmetricPosDef and solveSymmetricPosDef as documented */
    int failed = kelm_math_lin_alg_factorSymmetricPosDef(F, n, w),
        info = kelm_math_lin_alg_choleskyFactor(G, n);
    double rc = n >= 2 && info == 0 ? kelm_math_lin_alg_conditionReciprocal(G, n, 1, y) : NAN;
    FZ_CHECK(failed == (n <= 0   ? 0
                        : n == 1 ? A[0] <= 0.0
                                 : !(rc * rc > 1e-15)),
             "returned %d", failed);
    FZ_CHECK(n == 1 ? fz_identical(F, A, 1) : info != 0 || fz_sameArray(F, G, (ptrdiff_t)nn * nn),
             "factor");
    if (failed) goto done;
    double* X = fz_alloc((ptrdiff_t)nn * mm);
    kelm_math_lin_alg_solveSymmetricPosDef(F, B, n, m, X, w);
    for (int j = 0; j < mm && n > 0; ++j) {
      if (n == 1)
        y[0] = B[j] / F[0];
      else
        kelm_math_lin_alg_choleskySolve(F, B + (ptrdiff_t)j * n, n, y, w);
      FZ_CHECK(fz_sameArray(X + (ptrdiff_t)j * n, y, n), "column %d differs from choleskySolve", j);
      if (dominant)
        checkResidual("solveSymmetricPosDef", n, A, X + (ptrdiff_t)j * n, B + (ptrdiff_t)j * n);
    }
    free(X);
  } else if (kernel == 3) { /* factorAndSolveSymmetric as documented */
    kelm_math_lin_alg_factorAndSolveSymmetric(F, n, tau, piv, B, alias ? B : x, w);
    if (n <= 0) goto done;
    double rc = n >= 2 && kelm_math_lin_alg_choleskyFactor(G, n) == 0
                    ? kelm_math_lin_alg_conditionReciprocal(G, n, 1, y)
                    : NAN;
    if (n == 1) {
      y[0] = A[0] == 0.0 ? 0.0 : b0[0] / A[0];
    } else if (rc * rc > 1e-14) {
      kelm_math_lin_alg_choleskySolve(G, b0, n, y, w);
    } else {
      memcpy(G, A, (size_t)n * n * sizeof(double));
      kelm_math_lin_alg_qrFactor(n, n, G, tau2, piv2, w);
      memcpy(y, b0, (size_t)n * sizeof(double));
      kelm_math_lin_alg_qrSolveTall(n, n, G, tau2, piv2, y, 1e-12);
    }
    FZ_CHECK(n == 1 || fz_sameArray(F, G, (ptrdiff_t)n * n),
             "A does not hold the documented factors");
    FZ_CHECK(fz_sameArray(alias ? B : x, y, n), "x differs from the documented sequence");
    if (dominant && n >= 2) checkResidual("factorAndSolveSymmetric", n, A, y, b0);
  } else if (kernel == 4) { /* pivoted QR of the n by m block of B, tall solve */
    if (nn == 0 || mm == 0) goto done;
    kelm_math_lin_alg_qrFactor(n, m, B, tau, piv2, w);
    memcpy(x, B + (ptrdiff_t)nn * mm, (size_t)nn * sizeof(double));
    int s = nn < mm ? nn : mm, r = kelm_math_lin_alg_qrSolveTall(n, m, B, tau, piv2, x, tol);
    FZ_CHECK(r == ref_qrRank(B, n, s, tol), "qrSolveTall rank %d", r);
    for (int j = r; j < mm; ++j) FZ_CHECK(x[piv2[j] - 1] == 0.0, "basic solution beyond the rank");
  } else if (kernel == 5) { /* factorAndSolveWide as qrFactor and qrSolveWide */
    kelm_math_lin_alg_factorAndSolveWide(m, n, B, tau, w, piv, B + (ptrdiff_t)nn * mm, tol, x);
    FZ_CHECK(fz_noCanary(x, nn), "factorAndSolveWide left x unwritten");
    for (int i = 0; i < nn && m == 0; ++i) FZ_CHECK(x[i] == 0.0, "m = 0 gives x = 0");
  } else { /* tridiagonal, open or periodic, from A's diagonals */
    int info = alias ? kelm_math_lin_alg_solveTriDiagSymmPer(F, G + 1, B, n, tol, x)
                     : kelm_math_lin_alg_solveTriDiagSymm(F, G + 1, B, n);
    FZ_CHECK(info >= 0 && info <= nn + alias && (n > 0 || info == 0), "returned %d", info);
  }
done:
  free(A), free(B), free(F), free(G), free(x), free(y), free(tau), free(w), free(piv), free(piv2);
  free(b0), free(tau2);
  return 0;
}
