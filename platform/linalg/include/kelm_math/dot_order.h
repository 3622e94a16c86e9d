/** \file
   The one body of the dot product, inline so that C++ callers of the
   Numeric kernel avoid a call per short reduction. The exported
   kelm_math_lin_alg_dotProduct and the column reductions of products.c
   run this very function, so every path sums in the same order.
   Self-contained C99 (no standard headers): it may be included inside an
   extern "C" block. */
#ifndef KELM_MATH_DOT_ORDER_H
#define KELM_MATH_DOT_ORDER_H

/** 1 when a caller compiled with the current options is bound to get the
   same bits as the library: no fused multiply-add the compiler could
   contract to, no excess precision, no value-changing optimisations.
   Elsewhere callers go through the exported function instead. */
#if defined(__GNUC__) && !defined(__FP_FAST_FMA) && !defined(__FAST_MATH__) && \
    defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ == 0
#define KELM_MATH_LIN_ALG_DOT_INLINE 1
#else
#define KELM_MATH_LIN_ALG_DOT_INLINE 0
#endif

#if defined(__GNUC__)
typedef double kelm_math_lin_alg_dotPair __attribute__((vector_size(16)));

/** a[0..1] * b[0..1], lane by lane (unaligned loads). */
static inline kelm_math_lin_alg_dotPair kelm_math_lin_alg_dotPairProduct(const double* a,
                                                                         const double* b) {
  kelm_math_lin_alg_dotPair x, y;
  __builtin_memcpy(&x, a, sizeof x);
  __builtin_memcpy(&y, b, sizeof y);
  return x * y;
}
#endif

/** The sum of a[p] * b[p] over p < n in the order every reduction along a
   column uses: below four terms one after the other; otherwise four
   interleaved partial sums s[l] over p = l mod 4 up to the last multiple
   of four, where two or three terms remain the next two taken into s0 and
   s1, combined as (s0 + s2) + (s1 + s3), then a last odd term added. 0 for
   n <= 0. */
static inline double kelm_math_lin_alg_dotOrder(int n, const double* a, const double* b) {
  double sum;
  int p;
  if (n <= 0) return 0.0;
  if (n < 4) {
    sum = a[0] * b[0];
    for (p = 1; p < n; ++p) sum += a[p] * b[p];
    return sum;
  }
  {
#if defined(__GNUC__)
    /* s01 holds s0 and s1 side by side, s23 holds s2 and s3. */
    kelm_math_lin_alg_dotPair s01 = kelm_math_lin_alg_dotPairProduct(a, b);
    kelm_math_lin_alg_dotPair s23 = kelm_math_lin_alg_dotPairProduct(a + 2, b + 2);
    const int n4 = n & ~3;
    for (p = 4; p < n4; p += 4) {
      s01 += kelm_math_lin_alg_dotPairProduct(a + p, b + p);
      s23 += kelm_math_lin_alg_dotPairProduct(a + p + 2, b + p + 2);
    }
    if (n & 2) {
      s01 += kelm_math_lin_alg_dotPairProduct(a + p, b + p);
      p += 2;
    }
    s01 += s23;
    sum = s01[0] + s01[1];
#else
    double s0 = a[0] * b[0], s1 = a[1] * b[1], s2 = a[2] * b[2], s3 = a[3] * b[3];
    for (p = 4; p + 4 <= n; p += 4) {
      s0 += a[p] * b[p];
      s1 += a[p + 1] * b[p + 1];
      s2 += a[p + 2] * b[p + 2];
      s3 += a[p + 3] * b[p + 3];
    }
    if (p + 2 <= n) {
      s0 += a[p] * b[p];
      s1 += a[p + 1] * b[p + 1];
      p += 2;
    }
    sum = (s0 + s2) + (s1 + s3);
#endif
  }
  /* At most one term is left. */
  if (p < n) sum += a[p] * b[p];
  return sum;
}

#endif
