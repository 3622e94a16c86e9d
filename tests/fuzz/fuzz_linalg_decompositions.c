/* The kelm_math_lin_alg_* singular value kernels on fuzzed sizes and
   values, work arrays of exactly the sizes the size functions give: svd
   writes sorted values and nothing past its factors; svdSolve is svd and
   the solve from its factors, under the rank rule. */
#include "../linalg/LinalgReference.h"
#include "fuzz_common.h"
#include "kelm_math/lin_alg.h"

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = {data, size};
  unsigned kernel = fz_byte(&in) % 2, full = fz_byte(&in) & 3;
  int moderate = fz_byte(&in) & 1, m = fz_range(&in, -1, 12), n = fz_range(&in, -1, 12);
  int mm = m > 0 ? m : 0, nn = n > 0 ? n : 0, k = mm < nn ? mm : nn, finite = 1, kept = 0;
  double tol = (fz_byte(&in) & 1) ? 1e-10 : fz_double(&in);
  double *A = fz_filled(&in, (ptrdiff_t)mm * nn, moderate), *b = fz_filled(&in, mm, moderate);
  double *S = fz_alloc(k + 1), *U = fz_alloc((ptrdiff_t)mm * mm + 1),
         *V = fz_alloc((ptrdiff_t)nn * nn + 1);
  double *x = fz_alloc(nn), *y = fz_alloc(nn);
  for (ptrdiff_t i = 0; i < (ptrdiff_t)mm * nn; ++i) finite &= isfinite(A[i]) != 0;
  if (kernel == 0) { /* svd, thin or full */
    double* work = fz_alloc(kelm_math_lin_alg_svdReqdWorkSize(m, n, (unsigned char)full));
    int uc = full ? mm : k, vc = full ? nn : k, written = m >= 0 && n >= 0;
    kelm_math_lin_alg_svd(m, n, A, (unsigned char)full, S, U, V, work);
    FZ_CHECK(!written || (fz_noCanary(S, k) && fz_noCanary(U, (ptrdiff_t)mm * uc) &&
                          fz_noCanary(V, (ptrdiff_t)nn * vc)),
             "svd left outputs unwritten");
    FZ_CHECK(fz_isCanary(S[k]) && fz_isCanary(U[mm * uc]) && fz_isCanary(V[nn * vc]), "past");
    for (int j = 1; j < k && finite; ++j) FZ_CHECK(S[j] >= 0.0 && S[j] <= S[j - 1], "S[%d]", j);
    free(work);
  } else { /* svdSolve, and the solve from the thin factors */
    double* work = fz_alloc(kelm_math_lin_alg_svdSolveReqdWorkSize(m, n));
    double* w2 = fz_alloc(kelm_math_lin_alg_svdReqdWorkSize(m, n, 0) +
                          kelm_math_lin_alg_svdSolveFromFactorizationReqdWorkSize(m, n));
    kelm_math_lin_alg_svdSolve(m, n, A, b, tol, x, work);
    kelm_math_lin_alg_svd(m, n, A, 0, S, U, V, w2);
    int all = kelm_math_lin_alg_svdSolveFromFactorization(m, n, S, U, V, b, tol, y, w2);
    for (int i = 0; i < k; ++i) kept += S[i] > tol && S[i] > 0.0;
    FZ_CHECK(kelm_math_lin_alg_svdComputeRank(m, n, S, tol) == kept, "rank");
    FZ_CHECK(all == (k > 0 && kept == k) && fz_sameArray(x, y, nn), "svdSolve and its factors");
    for (int i = 0; i < nn && m == 0; ++i) FZ_CHECK(x[i] == 0.0, "m = 0: x[%d] = %g", i, x[i]);
    free(work), free(w2);
  }
  free(A), free(b), free(S), free(U), free(V), free(x), free(y);
  return 0;
}
