/* The kelm_math_lin_alg_* solvers on fuzzed sizes and values, arrays of
   exactly the documented sizes: the symmetric driver as its documented
   sequence of calls, the condition estimate whatever the norm, the tall QR
   solve zero beyond its rank. */
#include "../linalg/LinalgReference.h"
#include "fuzz_common.h"
#include "kelm_math/lin_alg.h"

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput in = {data, size};
  unsigned kernel = fz_byte(&in) % 2;
  int moderate = fz_byte(&in) & 1, flag = fz_byte(&in) & 1;
  int n = fz_range(&in, -1, 12), m = fz_range(&in, -1, 12), nn = n > 0 ? n : 0, mm = m > 0 ? m : 0;
  double tol = flag ? 1e-12 : fz_double(&in);
  ptrdiff_t sb = (ptrdiff_t)nn * mm + nn + mm;
  double *A = fz_alloc((ptrdiff_t)nn * nn), *B, *x = fz_alloc(nn + mm);
  for (int j = 0; j < nn; ++j) /* symmetric, positive definite when moderate */
    for (int i = j; i < nn; ++i) A[i + j * nn] = A[j + i * nn] = fz_value(&in, moderate);
  for (int i = 0; i < nn && moderate; ++i) A[i * (nn + 1)] = 2.0 * ref_norm1(nn, nn, A) + 1.0;
  B = fz_filled(&in, sb, moderate);
  double *F = fz_copy(A, (ptrdiff_t)nn * nn), *G = fz_copy(A, (ptrdiff_t)nn * nn),
         *y = fz_copy(B, nn);
  double *tau = fz_alloc(nn + mm), *tau2 = fz_alloc(nn),
         *w = fz_alloc(nn + mm + (ptrdiff_t)nn * nn);
  int *piv = fz_allocInt(nn + mm), *piv2 = fz_allocInt(nn + mm);
  memset(piv2, 0, (size_t)(nn + mm) * sizeof(int));
  if (kernel == 0) { /* factorAndSolveSymmetric, into x or in place, as documented */
    kelm_math_lin_alg_factorAndSolveSymmetric(F, n, tau, piv, B, flag ? B : x, w);
    int info = n >= 2 ? kelm_math_lin_alg_choleskyFactor(G, n) : 1;
    double rc = info == 0 ? kelm_math_lin_alg_conditionReciprocal(G, n, m, tau) : NAN;
    FZ_CHECK(info != 0 || fz_same(rc, kelm_math_lin_alg_conditionReciprocal(G, n, 1, tau)), "norm");
    FZ_CHECK(!(rc < 0.0 || rc > 1.0 + 1e-12) || !fz_allFinite(G, (ptrdiff_t)nn * nn), "rc %g", rc);
    if (n == 1) y[0] = A[0] == 0.0 ? 0.0 : y[0] / A[0];
    if (rc * rc > 1e-14) kelm_math_lin_alg_choleskySolve(G, y, n, y, w);
    if (n >= 2 && !(rc * rc > 1e-14)) {
      memcpy(G, A, (size_t)n * n * sizeof(double));
      kelm_math_lin_alg_qrFactor(n, n, G, tau2, piv2, w);
      kelm_math_lin_alg_qrSolveTall(n, n, G, tau2, piv2, y, 1e-12);
    }
    FZ_CHECK(fz_sameArray(F, G, (ptrdiff_t)nn * nn), "A holds other factors");
    FZ_CHECK(fz_sameArray(flag ? B : x, y, nn), "x differs from the documented sequence");
    double scale = ref_norm1(nn, nn, A) * ref_maxAbs(x, nn) + ref_maxAbs(B, nn);
    FZ_CHECK(!moderate || flag || n < 2 || ref_residual(n, n, A, x, B) <= 1e-12 * (n + 1) * scale,
             "residual");
  } else if (kernel == 1 && nn && mm) { /* pivoted QR of B's first n by m, the tall solve */
    kelm_math_lin_alg_qrFactor(n, m, B, tau, piv2, w);
    memcpy(x, B + (ptrdiff_t)nn * mm, (size_t)nn * sizeof(double));
    int r = kelm_math_lin_alg_qrSolveTall(n, m, B, tau, piv2, x, tol);
    FZ_CHECK(r >= 0 && r <= (nn < mm ? nn : mm), "qrSolveTall rank %d", r);
    for (int j = r; j < mm; ++j) FZ_CHECK(x[piv2[j] - 1] == 0.0, "basic solution beyond the rank");
  }
  free(A), free(B), free(x), free(F), free(G), free(y), free(tau), free(tau2), free(w), free(piv),
      free(piv2);
  return 0;
}
