/* The kelm_math_lin_alg_* products on fuzzed sizes (of any sign) and values,
   arrays of exactly the documented sizes: the plain loops in the documented
   orders, bit for bit, and nothing written past a result. */
#include "../linalg/LinalgReference.h"
#include "fuzz_common.h"
#include "kelm_math/lin_alg.h"

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput in = {data, size};
  unsigned kernel = fz_byte(&in) % 10;
  int moderate = fz_byte(&in) & 1;
  int m = fz_range(&in, -1, 12), k = fz_range(&in, -1, 12), n = fz_range(&in, -1, 12);
  int mm = m > 0 ? m : 0, kk = k > 0 ? k : 0, nn = n > 0 ? n : 0, rows = kernel > 6 ? nn : mm;
  if (kernel == 6) { /* the dot product */
    double *a = fz_filled(&in, kk, moderate), *b = fz_filled(&in, kk, moderate);
    double got = kelm_math_lin_alg_dotProduct(k, a, b), want = ref_interleaved(k, a, b);
    FZ_CHECK(fz_same(got, want), "dotProduct(%d): %.17g, expected %.17g", k, got, want);
    free(a), free(b);
    return 0;
  }
  /* A m by k (k by m transposed, n by k for A B^T and m by n for A^T x) */
  ptrdiff_t sa = kernel > 6 ? (ptrdiff_t)mm * nn : (ptrdiff_t)mm * kk;
  ptrdiff_t sb = kernel < 3 ? (ptrdiff_t)kk * nn : kernel < 7 ? kk : mm;
  ptrdiff_t sc = kernel < 3 ? (ptrdiff_t)mm * nn : kernel < 7 ? mm : nn;
  double *A = fz_filled(&in, sa, moderate), *B = fz_filled(&in, sb, moderate);
  double *out = fz_alloc(sc + 1), *want;
  if (kernel == 4 || kernel == 5 || kernel == 8 || kernel == 9) fz_fill(&in, out, sc, moderate);
  want = fz_copy(out, sc + 1);
  for (int j = 0; j < (kernel < 3 ? nn : 1); ++j)
    for (int i = 0; i < rows; ++i) {
      double s = kernel == 0   ? ref_sequential(kk, A + i, mm, B + j * kk, 1)
                 : kernel == 1 ? ref_sequential(kk, A + i * kk, 1, B + j * kk, 1)
                 : kernel == 2 ? ref_sequential(kk, A + i, mm, B + j, nn)
                 : kernel < 7  ? ref_sequential(kk, A + i, mm, B, 1)
                               : ref_interleaved(mm, A + (ptrdiff_t)i * mm, B);
      double *w = &want[i + (ptrdiff_t)j * mm];
      *w = kernel == 4 || kernel == 8 ? *w + s : kernel == 5 || kernel == 9 ? *w - s : s;
    }
  switch (kernel) {
    case 0: kelm_math_lin_alg_matrixMultiply(m, k, n, A, B, out); break;
    case 1: kelm_math_lin_alg_matrixTransposeMultiply(k, m, n, A, B, out); break;
    case 2: kelm_math_lin_alg_matrixMultiplyTranspose(m, k, n, A, B, out); break;
    case 3: kelm_math_lin_alg_matrixVectorMultiply(m, k, A, B, out); break;
    case 4: kelm_math_lin_alg_addMatrixVectorProduct(m, k, A, B, out); break;
    case 5: kelm_math_lin_alg_subtractMatrixVectorProduct(m, k, A, B, out); break;
    case 7: kelm_math_lin_alg_matrixTransposeVectorMultiply(m, n, A, B, out); break;
    case 8: kelm_math_lin_alg_addMatrixTransposeVectorProduct(m, n, A, B, out); break;
    default: kelm_math_lin_alg_subtractMatrixTransposeVectorProduct(m, n, A, B, out);
  }
  /* Equal as numbers (accumulating no terms may keep -0), or both NaN. */
  for (ptrdiff_t i = 0; i <= sc; ++i)
    FZ_CHECK(out[i] == want[i] || (out[i] != out[i] && want[i] != want[i]),
             "kernel %u (%d, %d, %d): entry %td is %.17g, expected %.17g", kernel, m, k, n, i,
             out[i], want[i]);
  free(A), free(B), free(out), free(want);
  return 0;
}
