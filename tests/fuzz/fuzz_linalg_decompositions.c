/* The kelm_math_lin_alg_* decompositions on fuzzed sizes and values, work
   arrays of exactly the sizes the size functions give: eig fails with NaN
   everywhere on non-finite input and pairs its complex values; the
   orthonormalization reads only the lower triangle of B and leaves V after
   a failure; svd writes sorted values and orthonormal factors; svdSolve is
   svd and the solve from its factors, under the rank rule; jacobi3 keeps a
   diagonal matrix and decomposes the others. */
#include "../linalg/LinalgReference.h"
#include "fuzz_common.h"
#include "kelm_math/lin_alg.h"

/* max |Q^T Q - I| for Q rows by cols. */
static double orthonormalityError(int rows, int cols, const double* Q) {
  double worst = 0.0;
  for (int a = 0; a < cols; ++a)
    for (int b = 0; b < cols; ++b) {
      double s =
          ref_sequential(rows, Q + (ptrdiff_t)a * rows, 1, Q + (ptrdiff_t)b * rows, 1) - (a == b);
      if (!(fabs(s) <= worst)) worst = fabs(s);
    }
  return worst;
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = {data, size};
  unsigned kernel = fz_byte(&in) % 5, full = fz_byte(&in) & 3;
  int moderate = fz_byte(&in) & 1, m = fz_range(&in, -1, 12), n = fz_range(&in, -1, 12);
  int mm = m > 0 ? m : 0, nn = n > 0 ? n : 0, k = mm < nn ? mm : nn, neg = m < 0 || n < 0;
  double tol = (fz_byte(&in) & 1) ? 1e-10 : fz_double(&in);
  double *A = fz_alloc((ptrdiff_t)mm * nn), *B = fz_alloc((ptrdiff_t)nn * nn),
         *C = fz_alloc((ptrdiff_t)nn * nn);
  fz_fill(&in, A, (ptrdiff_t)mm * nn, moderate);
  for (int j = 0; j < nn; ++j) /* B symmetric, diagonally dominant when moderate */
    for (int i = j; i < nn; ++i) B[i + j * nn] = B[j + i * nn] = fz_value(&in, moderate);
  for (int i = 0; i < nn && moderate; ++i) B[i * (nn + 1)] = 2.0 * ref_norm1(nn, nn, B) + 1.0;
  fz_fill(&in, C, (ptrdiff_t)nn * nn, moderate);
  double *S = fz_alloc(k + 3), *U = fz_alloc((ptrdiff_t)mm * mm + 9),
         *V = fz_alloc((ptrdiff_t)nn * nn + 9);
  double *x = fz_alloc(nn), *y = fz_alloc(nn), *W = fz_copy(C, (ptrdiff_t)nn * nn);
  if (kernel == 0) { /* eig of the n by n pencil (C, B), into S, S + n, U and V */
    double* work = fz_alloc(kelm_math_lin_alg_eigReqdRealWorkSize(n));
    int* iwork = fz_allocInt(kelm_math_lin_alg_eigReqdInt32WorkSize(n));
    double *re = fz_alloc(nn), *im = fz_alloc(nn), *vre = fz_alloc((ptrdiff_t)nn * nn),
           *vim = fz_alloc((ptrdiff_t)nn * nn);
    int ok = kelm_math_lin_alg_eig(n, C, B, re, im, vre, vim, work, iwork);
    int finite = fz_allFinite(C, (ptrdiff_t)nn * nn) && fz_allFinite(B, (ptrdiff_t)nn * nn);
    FZ_CHECK(n > 0 ? finite || !ok : ok == 1, "eig(%d) returned %d", n, ok);
    for (int j = 0; j < nn; ++j) {
      FZ_CHECK(ok || (re[j] != re[j] && vim[j * nn] != vim[j * nn]), "failure: value %d not NaN",
               j);
      FZ_CHECK(
          !ok || !(im[j] > 0.0) || (j + 1 < nn && im[j + 1] == -im[j] && fz_same(re[j + 1], re[j])),
          "pair %d", j);
    }
    free(work), free(iwork), free(re), free(im), free(vre), free(vim);
  } else if (kernel == 1) { /* with NaN in the upper triangle of B: the same */
    double* work = fz_alloc(3 * (ptrdiff_t)nn * nn);
    int ok = kelm_math_lin_alg_orthonormalizeRealEigenvectorsWrtSpdB(n, B, W, work);
    for (int j = 1; j < nn; ++j)
      for (int i = 0; i < j; ++i) B[i + j * nn] = NAN;
    double* W2 = fz_copy(C, (ptrdiff_t)nn * nn);
    FZ_CHECK(ok == kelm_math_lin_alg_orthonormalizeRealEigenvectorsWrtSpdB(n, B, W2, work) &&
                 fz_sameArray(W, W2, (ptrdiff_t)nn * nn),
             "B's upper triangle read");
    FZ_CHECK(ok || fz_identical(W, C, (ptrdiff_t)nn * nn), "a failure changed V");
    FZ_CHECK(n > 0 || ok, "n = %d returned %d", n, ok);
    free(work), free(W2);
  } else if (kernel == 2) { /* svd of A, thin or full */
    double* work = fz_alloc(kelm_math_lin_alg_svdReqdWorkSize(m, n, (unsigned char)full));
    kelm_math_lin_alg_svd(m, n, A, (unsigned char)full, S, U, V, work);
    int uc = full ? mm : k, vc = full ? nn : k;
    FZ_CHECK(neg || (fz_noCanary(S, k) && fz_noCanary(U, (ptrdiff_t)mm * uc) &&
                     fz_noCanary(V, (ptrdiff_t)nn * vc)),
             "unwritten");
    FZ_CHECK(fz_isCanary(S[k]) && fz_isCanary(U[(ptrdiff_t)mm * uc]) &&
                 fz_isCanary(V[(ptrdiff_t)nn * vc]),
             "written past");
    for (int j = 0; j < k && !neg && fz_allFinite(A, (ptrdiff_t)mm * nn); ++j) {
      FZ_CHECK(S[j] >= 0.0 && (j == 0 || S[j] <= S[j - 1]), "S[%d] = %g", j, S[j]);
      FZ_CHECK(orthonormalityError(mm, uc, U) <= 1e-12 * (mm + 1) &&
                   orthonormalityError(nn, vc, V) <= 1e-12 * (nn + 1),
               "not orthonormal");
    }
    free(work);
  } else if (kernel == 3) { /* svdSolve as svd and the solve from the thin factors */
    double* work = fz_alloc(kelm_math_lin_alg_svdSolveReqdWorkSize(m, n));
    double* w2 = fz_alloc(kelm_math_lin_alg_svdReqdWorkSize(m, n, 0) +
                          kelm_math_lin_alg_svdSolveFromFactorizationReqdWorkSize(m, n));
    double* b = fz_alloc(mm);
    fz_fill(&in, b, mm, moderate);
    kelm_math_lin_alg_svdSolve(m, n, A, b, tol, x, work);
    kelm_math_lin_alg_svd(m, n, A, 0, S, U, V, w2);
    int all = kelm_math_lin_alg_svdSolveFromFactorization(m, n, S, U, V, b, tol, y, w2);
    int rank = kelm_math_lin_alg_svdComputeRank(m, n, S, tol), kept = 0;
    for (int i = 0; i < k; ++i) kept += S[i] > tol && S[i] > 0.0;
    FZ_CHECK(rank == kept && all == (k > 0 && kept == k), "rank %d, %d of %d kept, flag %d", rank,
             kept, k, all);
    FZ_CHECK(m <= 0 || n <= 0 || fz_sameArray(x, y, nn),
             "svdSolve differs from its factors' solve");
    for (int i = 0; i < nn && m == 0; ++i) FZ_CHECK(x[i] == 0.0, "m = 0: x[%d] = %g", i, x[i]);
    free(work), free(w2), free(b);
  } else { /* jacobi3 of a diagonal and couplings from A */
    if (mm * nn < 6) goto done;
    double d[3] = {A[0], A[1], A[2]}, o[3] = {A[3], A[4], A[5]}, w[3], R[9];
    if (full == 0) o[0] = o[1] = o[2] = 0.0;
    kelm_math_lin_alg_jacobi3(d, o, w, R);
    FZ_CHECK(full || (fz_identical(w, d, 3) && R[0] == 1 && R[4] == 1 && R[8] == 1 && R[1] == 0),
             "diagonal input");
    if (moderate) FZ_CHECK(orthonormalityError(3, 3, R) <= 1e-14, "V not orthonormal");
  }
done:
  free(A), free(B), free(C), free(S), free(U), free(V), free(x), free(y), free(W);
  return 0;
}
