/** \file
   Scalar helpers of generated code (C99, also valid C++).

   Small inline functions that give scalar operations one meaning in trace
   evaluation and in generated C alike. Every name starts with vela_rt_, so
   the header can be included anywhere without taking a user's names:

   - vela_rt_d2i: double to int truncates toward zero; NaN gives 0; values
     beyond the int range saturate to INT_MIN / INT_MAX.
   - integer +, -, * wrap around modulo 2^32 (no undefined overflow);
     integer / and % truncate toward zero, a zero divisor gives 0, and
     INT_MIN / -1 gives INT_MIN (INT_MIN % -1 gives 0).
   - vela_rt_min / vela_rt_max: a NaN operand gives NaN; of equal operands
     (+0 and -0 among them) the second is returned.
   - vela_rt_sgn: 1 for positive, -1 for negative; 0, -0 and NaN are
     returned as they are.
   - vela_rt_guarded_divide(a, b): 0 when b == 0 (either sign), else a / b.
   - vela_rt_guarded_atan2(y, x): 0 when y == 0 and x == 0, else atan2(y, x).
   - vela_rt_pow(x, y): x * x for y == 2, 1 / x for y == -1, 1 for y == 0
     or x == 1, else pow(x, y): the values C compilers substitute for these
     operands, whatever the C library's pow returns, taken on every path.
   - vela_rt_access_*: element index of an array of n; an index outside
     [0, n) gives 0. */
#ifndef VELA_CODEGEN_RUNTIME_SCALAR_H
#define VELA_CODEGEN_RUNTIME_SCALAR_H

#include <limits.h>
#include <math.h>

#ifdef __cplusplus
extern "C" {
#endif

/** x truncated toward zero; NaN gives 0, values beyond the int range
   INT_MIN or INT_MAX. */
static inline int vela_rt_d2i(double x) {
  if (x != x) return 0;
  if (x >= 2147483647.0) return INT_MAX;
  if (x <= -2147483648.0) return INT_MIN;
  return (int)x;
}

/** The int whose bits u holds (u modulo 2^32 into [INT_MIN, INT_MAX]),
   without the implementation-defined conversion. */
static inline int vela_rt_wrap(unsigned u) {
  return u > (unsigned)INT_MAX ? (int)(u - (unsigned)INT_MAX - 1u) + INT_MIN : (int)u;
}

/** a + b, a - b, a * b and -a modulo 2^32: wrap around, never overflow.
   @{ */
static inline int vela_rt_iadd(int a, int b) { return vela_rt_wrap((unsigned)a + (unsigned)b); }
static inline int vela_rt_isub(int a, int b) { return vela_rt_wrap((unsigned)a - (unsigned)b); }
static inline int vela_rt_imul(int a, int b) { return vela_rt_wrap((unsigned)a * (unsigned)b); }
static inline int vela_rt_ineg(int a) { return vela_rt_wrap(0u - (unsigned)a); }
/** @} */

/** a / b truncated toward zero; 0 for b == 0, INT_MIN for INT_MIN / -1. */
static inline int vela_rt_idiv(int a, int b) {
  if (b == 0) return 0;
  if (b == -1) return vela_rt_ineg(a);
  return a / b;
}

/** a % b with the sign of a; 0 for b == 0 and for b == -1. */
static inline int vela_rt_imod(int a, int b) {
  if (b == 0 || b == -1) return 0;
  return a % b;
}

/** The smaller, resp. larger, of a and b: NaN when either is NaN; b when
   they compare equal (+0 and -0 among them).
   @{ */
static inline double vela_rt_min(double a, double b) {
  if (a != a) return a;
  return a < b ? a : b;
}

static inline double vela_rt_max(double a, double b) {
  if (a != a) return a;
  return a > b ? a : b;
}
/** @} */

/** The smaller, resp. larger, of two ints.
   @{ */
static inline int vela_rt_imin(int a, int b) { return a < b ? a : b; }
static inline int vela_rt_imax(int a, int b) { return a > b ? a : b; }
/** @} */

/** 1 for positive x, -1 for negative x; 0, -0 and NaN as they are. */
static inline double vela_rt_sgn(double x) { return x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : x); }

/** a / b, or 0 when b is zero (either sign). */
static inline double vela_rt_guarded_divide(double a, double b) { return b == 0.0 ? 0.0 : a / b; }

/** atan2(y, x), or 0 when y and x are both zero. */
static inline double vela_rt_guarded_atan2(double y, double x) {
  return (y == 0.0 && x == 0.0) ? 0.0 : atan2(y, x);
}

/** pow(x, y) with the values compilers substitute taken on every path:
   x * x for y == 2, 1 / x for y == -1, 1 for y == 0 or x == 1. */
static inline double vela_rt_pow(double x, double y) {
  if (y == 2.0) return x * x;
  if (y == -1.0) return 1.0 / x;
  if (y == 0.0 || x == 1.0) return 1.0;
  return pow(x, y);
}

/** Element i of the n elements of v, or 0 for i outside [0, n).
   @{ */
static inline double vela_rt_access_d(int n, const double* v, int i) {
  return (i >= 0 && i < n) ? v[i] : 0.0;
}

static inline int vela_rt_access_i(int n, const int* v, int i) {
  return (i >= 0 && i < n) ? v[i] : 0;
}
/** @} */

#ifdef __cplusplus
}
#endif

#endif
