/* The kelm_math_lin_alg_* products and hasUniqueRows. The header fixes the
   order of every sum, so results are compared bit for bit (NaN with NaN)
   against plain loops in that order; strided outputs keep their gaps and no
   result dimension of 0 or below writes anything. */
#include "fuzz_common.h"
#include "kelm_math/lin_alg.h"

/* Sum of a[p * sa] * b[p * sb] over p < k in order, from the first product;
   0 for k = 0. */
static double sequential(int k, const double* a, ptrdiff_t sa, const double* b, ptrdiff_t sb) {
  if (k <= 0) return 0.0;
  double s = a[0] * b[0];
  for (int p = 1; p < k; ++p) s += a[p * sa] * b[p * sb];
  return s;
}

/* The interleaved order of dot products: one after the other below four
   terms, else four partial sums over p mod 4 up to the last multiple of
   four, the next two terms (when two or three remain) into s0 and s1,
   combined as (s0 + s2) + (s1 + s3), then a last odd term. */
static double interleaved(int n, const double* a, const double* b) {
  if (n <= 0) return 0.0;
  if (n < 4) return sequential(n, a, 1, b, 1);
  int p = n / 4 * 4;
  double s[4];
  for (int l = 0; l < 4; ++l) {
    s[l] = a[l] * b[l];
    for (int q = l + 4; q < p; q += 4) s[l] += a[q] * b[q];
  }
  if (n - p >= 2) {
    s[0] += a[p] * b[p];
    s[1] += a[p + 1] * b[p + 1];
    p += 2;
  }
  double sum = (s[0] + s[2]) + (s[1] + s[3]);
  if (p < n) sum += a[p] * b[p];
  return sum;
}

/* Equal as numbers (so +0 and -0 agree), or both NaN. */
static int sameValue(double a, double b) { return a == b || (a != a && b != b); }

static void checkOut(const char* what, const double* got, const double* want, int count,
                     int signOfZero) {
  for (int i = 0; i < count; ++i)
    FZ_CHECK(signOfZero ? fz_same(got[i], want[i]) : sameValue(got[i], want[i]),
             "%s: entry %d is %.17g, expected %.17g", what, i, got[i], want[i]);
}

static void products(FuzzInput* in, unsigned kernel, int moderate) {
  int m = fz_range(in, -1, 12), k = fz_range(in, 0, 12), n = fz_range(in, -1, 12);
  int mm = m > 0 ? m : 0, nn = n > 0 ? n : 0;
  double *A = NULL, *B = NULL, *out = NULL, *want = NULL;
  const char* what = "";
  switch (kernel) {
    case 0: /* A m by k, B k by n */
    case 1: /* A^T B: A k by m, B k by n */
    case 2: /* A B^T: A m by k, B n by k */
      A = fz_alloc((ptrdiff_t)mm * k);
      B = fz_alloc((ptrdiff_t)k * nn);
      fz_fill(in, A, (ptrdiff_t)mm * k, moderate);
      fz_fill(in, B, (ptrdiff_t)k * nn, moderate);
      out = fz_alloc((ptrdiff_t)mm * nn);
      want = fz_alloc((ptrdiff_t)mm * nn);
      for (int j = 0; j < nn; ++j)
        for (int i = 0; i < mm; ++i)
          want[i + j * mm] = kernel == 0   ? sequential(k, A + i, mm, B + j * k, 1)
                             : kernel == 1 ? sequential(k, A + i * k, 1, B + j * k, 1)
                                           : sequential(k, A + i, mm, B + j, nn);
      if (kernel == 0) {
        what = "matrixMultiply";
        kelm_math_lin_alg_matrixMultiply(m, k, n, A, B, out);
      } else if (kernel == 1) {
        what = "matrixTransposeMultiply";
        kelm_math_lin_alg_matrixTransposeMultiply(k, m, n, A, B, out);
      } else {
        what = "matrixMultiplyTranspose";
        kelm_math_lin_alg_matrixMultiplyTranspose(m, k, n, A, B, out);
      }
      checkOut(what, out, want, mm * nn, 1);
      break;
    case 3: { /* strided: the arrays end at the last element used */
      int lda = mm + fz_range(in, 0, 3), ldb = k + fz_range(in, 0, 3);
      int ldc = mm + fz_range(in, 0, 3);
      ptrdiff_t sizeA = k > 0 && mm > 0 ? (ptrdiff_t)lda * (k - 1) + mm : 0;
      ptrdiff_t sizeB = nn > 0 && k > 0 ? (ptrdiff_t)ldb * (nn - 1) + k : 0;
      ptrdiff_t sizeC = nn > 0 && mm > 0 ? (ptrdiff_t)ldc * (nn - 1) + mm : 0;
      A = fz_alloc(sizeA);
      B = fz_alloc(sizeB);
      fz_fill(in, A, sizeA, moderate);
      fz_fill(in, B, sizeB, moderate);
      out = fz_alloc(sizeC);
      want = fz_alloc(sizeC);
      for (int j = 0; j < nn; ++j)
        for (int i = 0; i < mm; ++i)
          want[i + (ptrdiff_t)j * ldc] = sequential(k, A + i, lda, B + (ptrdiff_t)j * ldb, 1);
      kelm_math_lin_alg_matrixMultiplyStrided(m, k, n, lda, ldb, ldc, A, B, out);
      for (ptrdiff_t i = 0; i < sizeC; ++i) {
        if (i % ldc < mm)
          FZ_CHECK(fz_same(out[i], want[i]), "matrixMultiplyStrided: %td is %.17g, expected %.17g",
                   i, out[i], want[i]);
        else
          FZ_CHECK(fz_isCanary(out[i]), "matrixMultiplyStrided wrote between columns at %td", i);
      }
      break;
    }
    case 4:   /* A x */
    case 5:   /* y + A x */
    case 6: { /* y - A x */
      int cols = k;
      A = fz_alloc((ptrdiff_t)mm * cols);
      B = fz_alloc(cols);
      fz_fill(in, A, (ptrdiff_t)mm * cols, moderate);
      fz_fill(in, B, cols, moderate);
      out = fz_alloc(mm);
      if (kernel != 4) fz_fill(in, out, mm, moderate);
      want = fz_alloc(mm);
      for (int i = 0; i < mm; ++i) {
        double s = sequential(cols, A + i, mm, B, 1);
        want[i] = kernel == 4 ? s : kernel == 5 ? out[i] + s : out[i] - s;
      }
      if (kernel == 4) kelm_math_lin_alg_matrixVectorMultiply(m, cols, A, B, out);
      if (kernel == 5) kelm_math_lin_alg_addMatrixVectorProduct(m, cols, A, B, out);
      if (kernel == 6) kelm_math_lin_alg_subtractMatrixVectorProduct(m, cols, A, B, out);
      /* With no columns the accumulating forms leave y as it is, so -0 + 0
         stays -0 there: accepted, the numbers agree. */
      checkOut("matrixVector", out, want, mm, kernel == 4 || cols > 0);
      break;
    }
    case 7:   /* A^T x, A k by n */
    case 8:   /* y + A^T x */
    case 9: { /* y - A^T x */
      int rows = k;
      A = fz_alloc((ptrdiff_t)rows * nn);
      B = fz_alloc(rows);
      fz_fill(in, A, (ptrdiff_t)rows * nn, moderate);
      fz_fill(in, B, rows, moderate);
      out = fz_alloc(nn);
      if (kernel != 7) fz_fill(in, out, nn, moderate);
      want = fz_alloc(nn);
      for (int j = 0; j < nn; ++j) {
        double s = interleaved(rows, A + (ptrdiff_t)j * rows, B);
        want[j] = kernel == 7 ? s : kernel == 8 ? out[j] + s : out[j] - s;
      }
      if (kernel == 7) kelm_math_lin_alg_matrixTransposeVectorMultiply(rows, n, A, B, out);
      if (kernel == 8) kelm_math_lin_alg_addMatrixTransposeVectorProduct(rows, n, A, B, out);
      if (kernel == 9) kelm_math_lin_alg_subtractMatrixTransposeVectorProduct(rows, n, A, B, out);
      checkOut("matrixTransposeVector", out, want, nn, 0);
      break;
    }
    case 10: { /* dot product; n of any sign */
      int len = fz_range(in, -2, 40), l = len > 0 ? len : 0;
      A = fz_alloc(l);
      B = fz_alloc(l);
      fz_fill(in, A, l, moderate);
      fz_fill(in, B, l, moderate);
      double got = kelm_math_lin_alg_dotProduct(len, A, B), expected = interleaved(len, A, B);
      FZ_CHECK(sameValue(got, expected), "dotProduct(%d): %.17g, expected %.17g", len, got,
               expected);
      break;
    }
    default: { /* a^T M b */
      int order = fz_range(in, -1, 12), o = order > 0 ? order : 0;
      A = fz_alloc((ptrdiff_t)o * o);
      B = fz_alloc(2 * o);
      fz_fill(in, A, (ptrdiff_t)o * o, moderate);
      fz_fill(in, B, 2 * o, moderate);
      double terms[12];
      for (int i = 0; i < o; ++i) terms[i] = sequential(o, A + i, o, B + o, 1);
      double expected = sequential(o, B, 1, terms, 1);
      double got = kelm_math_lin_alg_computeQuadraticTerm(order, A, B, B + o);
      FZ_CHECK(fz_same(got, expected), "computeQuadraticTerm(%d): %.17g, expected %.17g", order,
               got, expected);
    }
  }
  free(A);
  free(B);
  free(out);
  free(want);
}

static void uniqueRows(FuzzInput* in, int moderate) {
  int m = fz_range(in, -1, 24), n = fz_range(in, -1, 6);
  int mm = m > 0 ? m : 0, nn = n > 0 ? n : 0;
  double* A = fz_alloc((ptrdiff_t)mm * nn);
  /* Few distinct values, so that equal rows are common. */
  unsigned pool = fz_byte(in) & 7;
  double values[8];
  fz_fill(in, values, 8, moderate);
  for (ptrdiff_t i = 0; i < (ptrdiff_t)mm * nn; ++i)
    A[i] = pool ? values[fz_byte(in) % (pool + 1)] : fz_value(in, moderate);
  double* saved = fz_copy(A, (ptrdiff_t)mm * nn);
  ptrdiff_t workSize = n <= 3 ? (ptrdiff_t)mm * nn : (ptrdiff_t)mm * (nn + 1);
  double* work = fz_alloc(workSize);
  int expected = 1;
  if (m >= 2 && n <= 0) expected = 0;
  for (int i = 1; i < mm && expected; ++i)
    for (int r = 0; r < i && expected; ++r) {
      int equal = 1;
      for (int j = 0; j < nn; ++j)
        if (!(A[i + j * mm] == A[r + j * mm])) equal = 0;
      if (equal) expected = 0;
    }
  int got = kelm_math_lin_alg_hasUniqueRows(m, n, A, work);
  FZ_CHECK(got == expected, "hasUniqueRows(%d, %d): %d, expected %d", m, n, got, expected);
  FZ_CHECK(fz_identical(A, saved, (ptrdiff_t)mm * nn), "hasUniqueRows changed A");
  free(A);
  free(saved);
  free(work);
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = {data, size};
  unsigned kernel = fz_byte(&in);
  int moderate = kernel & 0x80;
  kernel &= 0x7f;
  if (kernel % 13 == 12)
    uniqueRows(&in, moderate);
  else
    products(&in, kernel % 13, moderate);
  return 0;
}
