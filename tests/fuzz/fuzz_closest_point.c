/* zeph_core_math_findClosestPointOnBezier, findClosestPointOnSpline and
   zeph_core_FuncMinSearch1D against their step-by-step description
   (curve_reference.h), bit for bit, on arbitrary data; outside the
   contract they write zeros and read nothing. */
#include "curve_reference.h"
#include "fuzz_common.h"

enum { MAX_N = ZEPH_CLOSEST_MAX_DEGREE, MAX_DIM = ZEPH_CLOSEST_MAX_DIM };

static void bezier(FuzzInput* in, int moderate) {
  unsigned n = (unsigned)fz_range(in, 0, MAX_N + 1), dim = (unsigned)fz_range(in, 0, MAX_DIM + 1);
  int inside = n <= MAX_N && dim >= 1 && dim <= MAX_DIM;
  ptrdiff_t np = inside ? n : 0, dd = inside ? dim : 0; /* outside, nothing may be read */
  double *p = fz_filled(in, (np + inside) * dd, moderate), *dot = fz_filled(in, 2 * np, moderate),
         *elevated = fz_filled(in, 2 * np * dd, moderate), *q = fz_filled(in, dd, moderate),
         *out = fz_alloc(dim <= MAX_DIM ? dim : 0), expected[MAX_DIM];
  double t = zeph_core_math_findClosestPointOnBezier(n, dim, p, dot, elevated, q, out);
  if (!inside) {
    FZ_CHECK(t == 0.0, "outside the contract (n=%u dim=%u) returned %g", n, dim, t);
    for (unsigned c = 0; c < (dim <= MAX_DIM ? dim : 0); ++c)
      FZ_CHECK(out[c] == 0.0, "outside the contract: out[%u] = %g", c, out[c]);
  } else if (n == 0) {
    FZ_CHECK(t == 0.0 && fz_identical(out, p, dim), "one point: t = %g", t);
  } else {
    double r = ref_closestOnBezier(n, dim, p, dot, elevated, q, expected);
    FZ_CHECK(fz_same(t, r) && fz_sameArray(out, expected, dim), "n=%u dim=%u: t = %.17g, not %.17g",
             n, dim, t, r);
  }
  free(p), free(dot), free(elevated), free(q), free(out);
}

static void spline(FuzzInput* in, int moderate, int closed) {
  unsigned n = (unsigned)fz_range(in, 1, MAX_N), dim = (unsigned)fz_range(in, 1, 3);
  unsigned segments = (unsigned)fz_range(in, 1, 5), start = (unsigned)fz_range(in, 0, 7);
  ptrdiff_t s = segments;
  double* knots = fz_alloc(s + 1);
  knots[0] = fz_moderate(in);
  for (unsigned k = 1; k <= segments; ++k) knots[k] = knots[k - 1] + 0.25 + fabs(fz_moderate(in));
  double *p = fz_filled(in, s * (n + 1) * dim, moderate),
         *d1 = fz_filled(in, s * n * dim, moderate);
  double *dot = fz_filled(in, s * 2 * n, moderate),
         *elevated = fz_filled(in, s * 2 * n * dim, moderate);
  double *q = fz_filled(in, dim, moderate), *out = fz_alloc(dim), expected[MAX_DIM];
  double u = zeph_core_math_findClosestPointOnSpline(n, dim, segments, closed, start, knots, p, d1,
                                                     dot, elevated, q, out);
  double r = ref_walk(n, dim, segments, closed, start < segments ? start : segments - 1, knots, p,
                      d1, dot, elevated, q, expected);
  FZ_CHECK(fz_same(u, r) && fz_sameArray(out, expected, dim), "walk: %.17g, not %.17g", u, r);
  free(knots), free(p), free(d1), free(dot), free(elevated), free(q), free(out);
}

/* A polynomial of degree up to 4 with an optional NaN hole; calls counted. */
static double gCoeff[5], gHoleLo, gHoleHi;
static int gCalls;

static double objective(double x) {
  ++gCalls;
  if (x >= gHoleLo && x <= gHoleHi) return NAN;
  return (((gCoeff[4] * x + gCoeff[3]) * x + gCoeff[2]) * x + gCoeff[1]) * x + gCoeff[0];
}

static void minSearch(FuzzInput* in, unsigned mode) {
  for (int i = 0; i < 5; ++i) gCoeff[i] = fz_value(in, !(mode & 1));
  double a = fz_value(in, !(mode & 4));
  double b = a + ((mode & 8) ? fz_double(in) : fabs(fz_moderate(in)) + 1e-3);
  gHoleLo = (mode & 2) ? fz_moderate(in) : INFINITY;
  gHoleHi = gHoleLo + fabs(fz_moderate(in));
  gCalls = 0;
  zeph_core_MinSearchResult r = zeph_core_FuncMinSearch1D(objective, a, b);
  int calls = gCalls;
  gCalls = 0;
  zeph_core_MinSearchResult e = ref_minSearch(objective, a, b);
  FZ_CHECK(calls <= 101 && calls == gCalls && fz_same(r.x, e.x) && fz_same(r.fx, e.fx),
           "[%g, %g]: %d calls to (%.17g, %.17g), expected %d to (%.17g, %.17g)", a, b, calls, r.x,
           r.fx, gCalls, e.x, e.fx);
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = {data, size};
  unsigned kernel = fz_byte(&in), mode = fz_byte(&in);
  switch (kernel % 3) {
    case 0: bezier(&in, mode & 1); break;
    case 1: spline(&in, mode & 1, (mode >> 1) & 1); break;
    default: minSearch(&in, mode);
  }
  return 0;
}
