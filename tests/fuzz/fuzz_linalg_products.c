/* The kelm_math_lin_alg_* products and hasUniqueRows on fuzzed sizes (of
   any sign) and values, in arrays of exactly the documented sizes: bit for
   bit (NaN with NaN) against the plain loops in the documented orders;
   nothing is written past a result or between the columns of a strided
   one. */
#include "../linalg/LinalgReference.h"
#include "fuzz_common.h"
#include "kelm_math/lin_alg.h"

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = {data, size};
  unsigned kernel = fz_byte(&in) % 13;
  int moderate = fz_byte(&in) & 1;
  int m = fz_range(&in, -1, 12), k = fz_range(&in, -1, 12), n = fz_range(&in, -1, 12);
  int mm = m > 0 ? m : 0, kk = k > 0 ? k : 0, nn = n > 0 ? n : 0;
  int lda = mm + fz_range(&in, 0, 3), ldb = kk + fz_range(&in, 0, 3),
      ldc = mm + fz_range(&in, 0, 3);
  /* Exact sizes of A, B (or x) and the result. */
  ptrdiff_t sa = (ptrdiff_t)mm * kk, sb = (ptrdiff_t)kk * nn, sc = (ptrdiff_t)mm * nn;
  if (kernel == 3) {
    sa = kk && mm ? (ptrdiff_t)lda * (kk - 1) + mm : 0;
    sb = nn && kk ? (ptrdiff_t)ldb * (nn - 1) + kk : 0;
    sc = nn && mm ? (ptrdiff_t)ldc * (nn - 1) + mm : 0;
  }
  if (kernel >= 4 && kernel <= 6) sb = kk, sc = mm;
  if (kernel >= 7 && kernel <= 9) sa = (ptrdiff_t)mm * nn, sb = mm, sc = nn;
  if (kernel == 10) sa = sb = kk, sc = 1;
  if (kernel == 11) sa = (ptrdiff_t)nn * nn, sb = 2 * nn, sc = 1;
  if (kernel == 12) sb = 8, sc = 0;
  double *A = fz_alloc(sa), *B = fz_alloc(sb), *out = fz_alloc(sc), *want;
  fz_fill(&in, A, sa, moderate);
  fz_fill(&in, B, sb, moderate);
  if (kernel == 5 || kernel == 6 || kernel == 8 || kernel == 9) fz_fill(&in, out, sc, moderate);
  want = fz_copy(out, sc);
  for (int j = 0; j < (kernel <= 3 ? nn : kernel <= 9); ++j)
    for (int i = 0; i < (kernel <= 6 ? mm : kernel <= 9 ? nn : 1); ++i) {
      double* w = &want[kernel == 3 ? i + (ptrdiff_t)j * ldc : i + (ptrdiff_t)j * mm];
      double s = kernel == 0   ? ref_sequential(kk, A + i, mm, B + j * kk, 1)     /* A B */
                 : kernel == 1 ? ref_sequential(kk, A + i * kk, 1, B + j * kk, 1) /* A^T B */
                 : kernel == 2 ? ref_sequential(kk, A + i, mm, B + j, nn)         /* A B^T */
                 : kernel == 3 ? ref_sequential(kk, A + i, lda, B + (ptrdiff_t)j * ldb, 1)
                 : kernel <= 6 ? ref_sequential(kk, A + i, mm, B, 1)           /* A x */
                 : kernel <= 9 ? ref_interleaved(mm, A + (ptrdiff_t)i * mm, B) /* A^T x */
                               : 0.0;
      *w = kernel == 5 || kernel == 8 ? *w + s : kernel == 6 || kernel == 9 ? *w - s : s;
    }
  switch (kernel) {
    case 0: kelm_math_lin_alg_matrixMultiply(m, k, n, A, B, out); break;
    case 1: kelm_math_lin_alg_matrixTransposeMultiply(k, m, n, A, B, out); break;
    case 2: kelm_math_lin_alg_matrixMultiplyTranspose(m, k, n, A, B, out); break;
    case 3: kelm_math_lin_alg_matrixMultiplyStrided(m, k, n, lda, ldb, ldc, A, B, out); break;
    case 4: kelm_math_lin_alg_matrixVectorMultiply(m, k, A, B, out); break;
    case 5: kelm_math_lin_alg_addMatrixVectorProduct(m, k, A, B, out); break;
    case 6: kelm_math_lin_alg_subtractMatrixVectorProduct(m, k, A, B, out); break;
    case 7: kelm_math_lin_alg_matrixTransposeVectorMultiply(m, n, A, B, out); break;
    case 8: kelm_math_lin_alg_addMatrixTransposeVectorProduct(m, n, A, B, out); break;
    case 9: kelm_math_lin_alg_subtractMatrixTransposeVectorProduct(m, n, A, B, out); break;
    case 10:
      want[0] = ref_interleaved(k, A, B);
      out[0] = kelm_math_lin_alg_dotProduct(k, A, B);
      break;
    case 11: { /* a^T (M b), M n by n */
      double t[12];
      for (int i = 0; i < nn; ++i) t[i] = ref_sequential(nn, A + i, nn, B + nn, 1);
      want[0] = ref_sequential(nn, B, 1, t, 1);
      out[0] = kelm_math_lin_alg_computeQuadraticTerm(n, A, B, B + nn);
      break;
    }
    default: { /* rows of few distinct values, so that equal ones are common */
      for (ptrdiff_t i = 0; i < sa; ++i) A[i] = B[fz_byte(&in) % 8];
      double* work = fz_alloc(kk <= 3 ? sa : (ptrdiff_t)mm * (kk + 1));
      int unique = !(m >= 2 && k <= 0);
      for (int i = 1; i < mm; ++i)
        for (int r = 0; r < i; ++r) {
          int equal = 1;
          for (int j = 0; j < kk; ++j) equal &= A[i + j * mm] == A[r + j * mm];
          unique &= !equal;
        }
      FZ_CHECK(kelm_math_lin_alg_hasUniqueRows(m, k, A, work) == unique, "hasUniqueRows(%d, %d)", m,
               k);
      free(work);
    }
  }
  /* Equal as numbers (accumulating over no terms may turn -0 into +0), or
     both NaN (canaries included); the dot product's order is exact. */
  for (ptrdiff_t i = 0; i < sc; ++i)
    FZ_CHECK(kernel >= 10 ? fz_same(out[i], want[i])
                          : out[i] == want[i] || (out[i] != out[i] && want[i] != want[i]),
             "kernel %u (%d, %d, %d): entry %td is %.17g, expected %.17g", kernel, m, k, n, i,
             out[i], want[i]);
  free(A);
  free(B);
  free(out);
  free(want);
  return 0;
}
