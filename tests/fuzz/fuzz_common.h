/* Shared pieces of the fuzz targets: a byte decoder that leans towards the
   values kernels mishandle, exact-size heap arrays (so that ASan sees any
   access past the contract), canaries and checks that abort. */
#ifndef VELA_FUZZ_COMMON_H
#define VELA_FUZZ_COMMON_H

#include <float.h>
#include <math.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
  const uint8_t* data;
  size_t size;
} FuzzInput;

static inline unsigned fz_byte(FuzzInput* in) {
  if (in->size == 0) return 0;
  --in->size;
  return *in->data++;
}

/* A size in [lo, hi]. */
static inline int fz_range(FuzzInput* in, int lo, int hi) {
  return lo + (int)(fz_byte(in) % (unsigned)(hi - lo + 1));
}

/* A signalling NaN with a payload no kernel computes. */
static const uint64_t kCanaryBits = 0x7ff4deadbeefcafeULL;
static const int kCanaryInt = 0x5eadbeef;

/* Any double, special values much more often than uniform bits give them. */
static inline double fz_double(FuzzInput* in) {
  unsigned sel = fz_byte(in);
  double sign = (sel & 0x80) ? -1.0 : 1.0, x;
  uint64_t bits = 0;
  switch (sel & 0x1f) {
    case 0: return NAN;
    case 1: return sign * INFINITY;
    case 2: return -0.0;
    case 3: return 0.0;
    case 4: return sign * 0x1p-1074 * (double)(1 + fz_byte(in));
    case 5: return sign * 1e308;
    case 6: return sign * DBL_MAX;
    case 7: return sign * DBL_MIN;
    case 8: return sign * 1e-300;
    case 9: return sign * DBL_EPSILON;
    case 10: return sign * 1e150;
    case 11:
      for (int i = 0; i < 8; ++i) bits = bits << 8 | fz_byte(in);
      /* libFuzzer learns the canary from the comparisons; inputs never hold it. */
      if (bits == kCanaryBits) bits ^= 1;
      memcpy(&x, &bits, sizeof x);
      return x;
    case 12: return sign * ldexp(1.0 + fz_byte(in) / 256.0, fz_range(in, -1074, 1023));
    default: /* small integers and simple fractions */
      return (double)((int)fz_byte(in) - 128) / (double)(1 << (sel >> 5 & 3));
  }
}

/* A finite value of moderate size, for checks that need exact arithmetic
   to stay in range. */
static inline double fz_moderate(FuzzInput* in) {
  unsigned sel = fz_byte(in);
  if ((sel & 7) == 0) return 0.0;
  double v = (double)((int)fz_byte(in) - 128);
  if ((sel & 7) == 1) return v / 64.0 + fz_byte(in) / 65536.0;
  if ((sel & 7) == 2) return v * 1e-3;
  return v / (double)(1 << (sel >> 3 & 3));
}

static inline double fz_value(FuzzInput* in, int moderate) {
  return moderate ? fz_moderate(in) : fz_double(in);
}

#define FZ_CHECK(cond, ...)                                                            \
  do {                                                                                 \
    if (!(cond)) {                                                                     \
      fprintf(stderr, "fuzz check failed (%s:%d): %s\n  ", __FILE__, __LINE__, #cond); \
      fprintf(stderr, __VA_ARGS__);                                                    \
      fprintf(stderr, "\n");                                                           \
      abort();                                                                         \
    }                                                                                  \
  } while (0)

static inline int fz_isCanary(double x) {
  uint64_t b;
  memcpy(&b, &x, sizeof b);
  return b == kCanaryBits;
}

/* Exactly count doubles (count <= 0 gives a zero-byte block), canaries. */
static inline double* fz_alloc(ptrdiff_t count) {
  size_t n = count > 0 ? (size_t)count : 0;
  double* p = (double*)malloc(n * sizeof(double) + (n == 0));
  if (p == NULL) abort();
  for (size_t i = 0; i < n; ++i) memcpy(&p[i], &kCanaryBits, sizeof *p);
  return p;
}

static inline int* fz_allocInt(ptrdiff_t count) {
  size_t n = count > 0 ? (size_t)count : 0;
  int* p = (int*)malloc(n * sizeof(int) + (n == 0));
  if (p == NULL) abort();
  for (size_t i = 0; i < n; ++i) p[i] = kCanaryInt;
  return p;
}

static inline double* fz_copy(const double* a, ptrdiff_t count) {
  double* p = fz_alloc(count);
  if (count > 0) memcpy(p, a, (size_t)count * sizeof(double));
  return p;
}

static inline double* fz_fill(FuzzInput* in, double* a, ptrdiff_t count, int moderate) {
  for (ptrdiff_t i = 0; i < count; ++i) a[i] = fz_value(in, moderate);
  return a;
}

/* Exactly count doubles, read from the input. */
static inline double* fz_filled(FuzzInput* in, ptrdiff_t count, int moderate) {
  return fz_fill(in, fz_alloc(count), count, moderate);
}

static inline int fz_noCanary(const double* a, ptrdiff_t count) {
  for (ptrdiff_t i = 0; i < count; ++i)
    if (fz_isCanary(a[i])) return 0;
  return 1;
}

static inline int fz_allCanary(const double* a, ptrdiff_t count) {
  for (ptrdiff_t i = 0; i < count; ++i)
    if (!fz_isCanary(a[i])) return 0;
  return 1;
}

static inline int fz_allFinite(const double* a, ptrdiff_t count) {
  for (ptrdiff_t i = 0; i < count; ++i)
    if (!isfinite(a[i])) return 0;
  return 1;
}

static inline double fz_maxAbs(const double* a, ptrdiff_t count) {
  double m = 0.0;
  for (ptrdiff_t i = 0; i < count; ++i)
    if (!(fabs(a[i]) <= m)) m = fabs(a[i]);
  return m;
}

/* Equal bits, or both NaN (payloads may legitimately differ). */
static inline int fz_same(double a, double b) {
  return (a != a && b != b) || memcmp(&a, &b, sizeof a) == 0;
}

static inline int fz_sameArray(const double* a, const double* b, ptrdiff_t count) {
  for (ptrdiff_t i = 0; i < count; ++i)
    if (!fz_same(a[i], b[i])) return 0;
  return 1;
}

/* Bits unchanged, NaN payloads included. */
static inline int fz_identical(const double* a, const double* b, ptrdiff_t count) {
  return count <= 0 || memcmp(a, b, (size_t)count * sizeof(double)) == 0;
}

#endif
