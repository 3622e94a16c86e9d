/* zeph_core_math_findClosestPointOnBezier, findClosestPointOnSpline and
   zeph_core_FuncMinSearch1D. Curves are built here from their control
   points (the Bernstein data of (B - q).B' and B'), or left arbitrary for
   the bounds and sanitizer checks. The point found must be on the curve,
   no farther from q than the ends and than a dense sampling of the curve;
   the minimization must return the best value it evaluated. */
#include "fuzz_common.h"
#include "zeph_core/ckernels.h"

enum { MAX_N = ZEPH_CLOSEST_MAX_DEGREE, MAX_DIM = ZEPH_CLOSEST_MAX_DIM };

static double binomial(unsigned n, unsigned k) {
  double b = 1.0;
  for (unsigned i = 1; i <= k; ++i) b = b * (n + 1 - i) / i;
  return b;
}

/* B(t) of degree n, straightforward Bernstein sum in long double. */
static void evaluate(unsigned n, unsigned dim, const double* p, double t, double* out) {
  for (unsigned c = 0; c < dim; ++c) {
    long double s = 0.0L;
    for (unsigned i = 0; i <= n; ++i)
      s += binomial(n, i) * powl(t, i) * powl(1.0L - t, n - i) * p[i * dim + c];
    out[c] = (double)s;
  }
}

static double dist(unsigned dim, const double* a, const double* b) {
  long double s = 0.0L;
  for (unsigned c = 0; c < dim; ++c) s += ((long double)a[c] - b[c]) * ((long double)a[c] - b[c]);
  return (double)sqrtl(s);
}

/* The first derivative's points, and the coefficients of B.B' and of B'
   raised to degree 2n - 1. */
static void curveData(unsigned n, unsigned dim, const double* p, double* d, double* dot,
                      double* elevated) {
  for (unsigned i = 0; i < n * dim; ++i) d[i] = n * (p[i + dim] - p[i]);
  for (unsigned k = 0; k < 2 * n; ++k) {
    double s = 0.0;
    for (unsigned c = 0; c < dim; ++c) elevated[k * dim + c] = 0.0;
    for (unsigned i = 0; i <= n && i <= k; ++i) {
      unsigned j = k - i;
      if (j > n - 1) continue;
      double w = binomial(n, i) * binomial(n - 1, j) / binomial(2 * n - 1, k);
      double pd = 0.0;
      for (unsigned c = 0; c < dim; ++c) pd += p[i * dim + c] * d[j * dim + c];
      s += w * pd;
      for (unsigned c = 0; c < dim; ++c) elevated[k * dim + c] += w * d[j * dim + c];
    }
    dot[k] = s;
  }
}

/* Smallest distance from q over a dense sampling of the curve. */
static double sampledMinimum(unsigned n, unsigned dim, const double* p, const double* q) {
  double best = INFINITY, pt[MAX_DIM];
  for (int s = 0; s <= 400; ++s) {
    evaluate(n, dim, p, s / 400.0, pt);
    double d = dist(dim, pt, q);
    if (d < best) best = d;
  }
  return best;
}

static void bezier(FuzzInput* in, unsigned mode) {
  unsigned n = (unsigned)fz_range(in, 0, MAX_N + 1), dim = (unsigned)fz_range(in, 0, MAX_DIM + 1);
  int consistent = (mode & 1) == 0, inside = n <= MAX_N && dim >= 1 && dim <= MAX_DIM;
  unsigned np = inside ? n : 0, dd = inside ? dim : 0; /* outside, nothing may be read */
  double* p = fz_alloc((ptrdiff_t)(np + (inside ? 1 : 0)) * dd);
  double* d = fz_alloc((ptrdiff_t)np * dd);
  double* dot = fz_alloc(2 * (ptrdiff_t)np);
  double* elevated = fz_alloc(2 * (ptrdiff_t)np * dd);
  double* q = fz_alloc(dd);
  double* out = fz_alloc(dim <= MAX_DIM ? dim : 0);
  if (inside) {
    fz_fill(in, p, (ptrdiff_t)(n + 1) * dim, consistent);
    fz_fill(in, q, dim, consistent);
    if (consistent) {
      curveData(n, dim, p, d, dot, elevated);
    } else {
      fz_fill(in, dot, 2 * n, 0);
      fz_fill(in, elevated, 2 * (ptrdiff_t)n * dim, 0);
    }
  }
  double t = zeph_core_math_findClosestPointOnBezier(n, dim, p, dot, elevated, q, out);
  if (!inside) {
    FZ_CHECK(t == 0.0, "outside the contract (n=%u dim=%u) returned %g", n, dim, t);
    for (unsigned c = 0; c < (dim <= MAX_DIM ? dim : 0); ++c)
      FZ_CHECK(out[c] == 0.0, "outside the contract: out[%u] = %g", c, out[c]);
    goto done;
  }
  FZ_CHECK(t >= 0.0 && t <= 1.0, "t = %g outside [0, 1]", t);
  FZ_CHECK(fz_noCanary(out, dim), "out unwritten");
  if (n == 0) /* one point */
    FZ_CHECK(t == 0.0 && memcmp(out, p, dim * sizeof(double)) == 0, "one point: t = %g", t);
  if (consistent) {
    double pt[MAX_DIM], scale = fz_maxAbs(p, (ptrdiff_t)(n + 1) * dim) + fz_maxAbs(q, dim);
    evaluate(n, dim, p, t, pt);
    FZ_CHECK(dist(dim, pt, out) <= 1e-12 * scale, "out is %g from B(t=%.17g)", dist(dim, pt, out),
             t);
    double got = dist(dim, out, q);
    double ends = fmin(dist(dim, p, q), dist(dim, p + n * dim, q));
    FZ_CHECK(got <= ends + 1e-12 * scale, "distance %.17g, an end is at %.17g", got, ends);
    double sampled = sampledMinimum(n, dim, p, q);
    FZ_CHECK(got <= sampled + 1e-9 * scale,
             "n=%u dim=%u: distance %.17g at t=%.17g, a sample is at %.17g", n, dim, got, t,
             sampled);
  }
done:
  free(p);
  free(d);
  free(dot);
  free(elevated);
  free(q);
  free(out);
}

static void spline(FuzzInput* in, unsigned mode) {
  unsigned n = (unsigned)fz_range(in, 1, MAX_N), dim = (unsigned)fz_range(in, 1, 3);
  unsigned segments = (unsigned)fz_range(in, 1, 5), start = (unsigned)fz_range(in, 0, 7);
  int closed = (mode >> 1) & 1, consistent = (mode & 1) == 0;
  size_t pts = (size_t)(n + 1) * dim;
  double* knots = fz_alloc(segments + 1);
  double* p = fz_alloc((ptrdiff_t)(segments * pts));
  double* d = fz_alloc((ptrdiff_t)segments * n * dim);
  double* dot = fz_alloc((ptrdiff_t)segments * 2 * n);
  double* elevated = fz_alloc((ptrdiff_t)segments * 2 * n * dim);
  double* q = fz_alloc(dim);
  double* out = fz_alloc(dim);
  knots[0] = fz_moderate(in);
  for (unsigned s = 1; s <= segments; ++s) knots[s] = knots[s - 1] + 0.25 + fabs(fz_moderate(in));
  fz_fill(in, p, (ptrdiff_t)(segments * pts), consistent);
  fz_fill(in, q, dim, consistent);
  if (consistent) {
    /* A continuous curve: each segment starts where the previous ends. */
    for (unsigned s = 1; s < segments; ++s)
      memcpy(p + s * pts, p + s * pts - dim, dim * sizeof(double));
    if (closed) memcpy(p + segments * pts - dim, p, dim * sizeof(double));
    for (unsigned s = 0; s < segments; ++s)
      curveData(n, dim, p + s * pts, d + s * n * dim, dot + s * 2 * n, elevated + s * 2 * n * dim);
  } else {
    fz_fill(in, d, (ptrdiff_t)segments * n * dim, 0);
    fz_fill(in, dot, (ptrdiff_t)segments * 2 * n, 0);
    fz_fill(in, elevated, (ptrdiff_t)segments * 2 * n * dim, 0);
  }
  double u = zeph_core_math_findClosestPointOnSpline(n, dim, segments, closed, start, knots, p, d,
                                                     dot, elevated, q, out);
  FZ_CHECK(fz_noCanary(out, dim), "out unwritten");
  /* knots[s] + t (knots[s+1] - knots[s]) may round an ulp past a knot. */
  double slack = 4.0 * DBL_EPSILON * fz_maxAbs(knots, segments + 1);
  FZ_CHECK(u >= knots[0] - slack && u <= knots[segments] + slack,
           "parameter %.17g outside [%g, %g]", u, knots[0], knots[segments]);
  if (consistent) {
    double scale = fz_maxAbs(p, (ptrdiff_t)(segments * pts)) + fz_maxAbs(q, dim);
    /* out lies on the segment the parameter names (or its neighbour at a
       shared knot). */
    double best = INFINITY, pt[MAX_DIM];
    for (unsigned s = 0; s < segments; ++s) {
      if (u < knots[s] - slack || u > knots[s + 1] + slack) continue;
      double local = fmin(fmax((u - knots[s]) / (knots[s + 1] - knots[s]), 0.0), 1.0);
      evaluate(n, dim, p + s * pts, local, pt);
      best = fmin(best, dist(dim, pt, out));
    }
    FZ_CHECK(best <= 1e-9 * scale, "out is %g from the curve at %.17g", best, u);
    /* No farther than the nearest point of the segment the walk starts on. */
    unsigned first = start < segments ? start : segments - 1;
    double sampled = sampledMinimum(n, dim, p + first * pts, q);
    FZ_CHECK(dist(dim, out, q) <= sampled + 1e-9 * scale,
             "distance %.17g, segment %u reaches %.17g", dist(dim, out, q), first, sampled);
  }
  free(knots);
  free(p);
  free(d);
  free(dot);
  free(elevated);
  free(q);
  free(out);
}

/* The function minimized: a polynomial of degree up to 4 with an optional
   NaN hole, and a record of the calls. */
static double gCoeff[5], gHoleLo, gHoleHi;
static int gCalls;
static double gBest, gFirst, gMaxF;

static double objective(double x) {
  ++gCalls;
  double v = (x >= gHoleLo && x <= gHoleHi)
                 ? NAN
                 : (((gCoeff[4] * x + gCoeff[3]) * x + gCoeff[2]) * x + gCoeff[1]) * x + gCoeff[0];
  if (gCalls == 1) gFirst = v;
  if (!(fabs(v) <= gMaxF) && v == v) gMaxF = fabs(v);
  if (v < gBest || (gBest != gBest && v == v)) gBest = v;
  return v;
}

static void minSearch(FuzzInput* in, unsigned mode) {
  for (int i = 0; i < 5; ++i) gCoeff[i] = (mode & 1) ? fz_double(in) : fz_moderate(in);
  double a = fz_value(in, !(mode & 4)),
         b = a + ((mode & 8) ? fz_double(in) : fabs(fz_moderate(in)) + 1e-3);
  gHoleLo = (mode & 2) ? fz_moderate(in) : INFINITY;
  gHoleHi = gHoleLo + fabs(fz_moderate(in));
  gCalls = 0;
  gBest = NAN;
  gMaxF = 0.0;
  int quadratic = !(mode & 3) && (mode & 16);
  double c = 0.0;
  if (quadratic) { /* (x - c)^2 with c inside [a, b] */
    c = a + (b - a) * (fz_byte(in) / 255.0);
    gCoeff[4] = gCoeff[3] = 0.0;
    gCoeff[2] = 1.0;
    gCoeff[1] = -2.0 * c;
    gCoeff[0] = c * c;
  }
  zeph_core_MinSearchResult r = zeph_core_FuncMinSearch1D(objective, a, b);
  FZ_CHECK(gCalls <= 101, "f called %d times", gCalls);
  if (!(a < b) || !isfinite(a) || !isfinite(b)) return; /* outside the contract */
  /* With a range or values near the overflow threshold the parabolic step
     overflows and x can end past b (known, reported); below, x stays in. */
  if (fmax(fabs(a), fabs(b)) <= 1e100 && gMaxF <= 1e100)
    FZ_CHECK(r.x >= a && r.x <= b, "x = %.17g outside [%g, %g]", r.x, a, b);
  /* A NaN at b, where the search starts, is kept (reported, not decided
     here): no finite value compares below it. */
  if (gBest == gBest && gFirst == gFirst) {
    /* Equal, not the same bits: of 0 and -0 the search keeps the later. */
    FZ_CHECK(r.fx == gBest, "fx = %.17g, but f reached %.17g", r.fx, gBest);
    double saved = gBest;
    int calls = gCalls;
    double again = objective(r.x);
    gBest = saved;
    gCalls = calls;
    FZ_CHECK(fz_same(again, r.fx), "f(x) = %.17g, fx = %.17g", again, r.fx);
  }
  if (quadratic && b - a < 1e6 && fabs(c) < 1e6)
    FZ_CHECK(fabs(r.x - c) <= 1e-4 * (fabs(c) + (b - a)) + 1e-8,
             "minimum of (x - %.17g)^2 on [%g, %g] found at %.17g", c, a, b, r.x);
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = {data, size};
  unsigned kernel = fz_byte(&in), mode = fz_byte(&in);
  switch (kernel % 3) {
    case 0: bezier(&in, mode); break;
    case 1: spline(&in, mode); break;
    default: minSearch(&in, mode);
  }
  return 0;
}
