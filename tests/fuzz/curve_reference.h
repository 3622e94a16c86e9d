/* The closest-point search and the one-variable minimization written out
   from their description, step by step, for bit-for-bit comparison with the
   kernels (tests/curves and the fuzz targets). C, header only. */
#ifndef VELA_CURVE_REFERENCE_H
#define VELA_CURVE_REFERENCE_H

#include <math.h>
#include <string.h>

#include "zeph_core/ckernels.h"

static inline double ref_castel1(const double* c, unsigned m, double u) {
  double r = 0.0;
  zeph_core_math_castelEval(m, 1, c, &r, u);
  return r;
}

/* Newton on m Bernstein coefficients; -1 on failure. */
static inline double ref_newton(const double* c, unsigned m) {
  double e[16], u = c[0] * c[m - 1] < 0.0 ? c[0] / (c[0] - c[m - 1]) : 0.5, step = 0.0;
  for (unsigned i = 0; i + 1 < m; ++i) e[i] = (double)(m - 1) * (c[i + 1] - c[i]);
  for (int it = 0; it <= 50; ++it) {
    if (it > 0) {
      if (fabs(step) <= 1e-14) return u;
      u -= step;
      if (u < -1.0 || u > 2.0) return -1.0;
    }
    double f = ref_castel1(c, m, u), g = ref_castel1(e, m - 1, u);
    if (fabs(f) > 2.0 * fabs(g)) return -1.0;
    step = f / g;
  }
  return -1.0;
}

/* Roots in [a, b] of the m coefficients c (destroyed); their number. */
static inline unsigned ref_roots(double* c, unsigned m, int depth, double a, double b,
                                 double* roots, unsigned room) {
  double right[16], mid = (a + b) * 0.5;
  unsigned changes = 0, r = 0, r1, r2;
  if (m < 2 || room == 0) return 0;
  for (unsigned i = 1; i < m; ++i)
    if (c[i] != 0.0) changes += c[i] * c[r] < 0.0, r = i;
  if (changes == 0) return 0;
  if (changes == 1 && depth >= 4) {
    double u = ref_newton(c, m);
    int drawn = (c[m - 1] == 0.0 && u > 1.0 - 1e-8) || (c[0] == 0.0 && u < 1e-8);
    if (u >= 0.0 && u <= 1.0 && !drawn) return roots[0] = a + (b - a) * u, 1;
    if (depth > 16) return 0;
  }
  if (depth >= 64) return roots[0] = mid, 1;
  right[m - 1] = c[m - 1];
  for (unsigned k = 1; k < m; ++k) {
    for (unsigned i = m - 1; i >= k; --i) c[i] = 0.5 * c[i - 1] + 0.5 * c[i];
    right[m - 1 - k] = c[m - 1];
  }
  r1 = ref_roots(c, m, depth + 1, a, mid, roots, room);
  if (r1 >= changes) return r1;
  r2 = ref_roots(right, m, depth + 1, mid, b, roots + r1, room - r1);
  if (r1 + r2 >= changes) return r1 + r2;
  if (fabs(right[0]) < 1e-14 && r1 + r2 < room) return roots[r1 + r2] = mid, r1 + r2 + 1;
  return r1 + r2;
}

static inline double ref_distance(unsigned dim, const double* a, const double* b) {
  double sum = 0.0;
  for (unsigned k = 0; k < dim; ++k) sum += (a[k] - b[k]) * (a[k] - b[k]);
  return sqrt(sum);
}

/* Strictly nearer, and any number nearer than a NaN. */
static inline int ref_nearer(double a, double b) { return a < b || (isnan(b) && !isnan(a)); }

/* Inside the contract only: 1 <= n <= 6, 1 <= dim <= ZEPH_CLOSEST_MAX_DIM. */
static inline double ref_closestOnBezier(unsigned n, unsigned dim, const double* p,
                                         const double* dot, const double* elevated, const double* q,
                                         double* out) {
  double w[16], t[20] = {0.0, 1.0}, at[ZEPH_CLOSEST_MAX_DIM], best = 0.0, bestT = 0.0;
  for (unsigned k = 0; k < 2 * n; ++k) {
    double s = 0.0;
    for (unsigned d = 0; d < dim; ++d) s += elevated[k * dim + d] * q[d];
    w[k] = dot[k] - s;
  }
  unsigned count = 2 + ref_roots(w, 2 * n, 0, 0.0, 1.0, t + 2, 18);
  for (unsigned i = 0; i < count; ++i) {
    zeph_core_math_castelEval(n + 1, dim, p, at, t[i]);
    if (i == 0 || ref_nearer(ref_distance(dim, at, q), best))
      best = ref_distance(dim, at, q), bestT = t[i], memcpy(out, at, dim * sizeof(double));
  }
  return bestT;
}

/* The walk over segments from start (< segments). */
static inline double ref_walk(unsigned n, unsigned dim, unsigned segments, int closed, unsigned s,
                              const double* knots, const double* p, const double* d1,
                              const double* dot, const double* elevated, const double* q,
                              double* out) {
  double at[ZEPH_CLOSEST_MAX_DIM], der[ZEPH_CLOSEST_MAX_DIM], bestT = 0.0, best = 0.0;
  unsigned bestS = s;
  for (unsigned visits = 0;;) {
    double t = ref_closestOnBezier(n, dim, p + s * (n + 1) * dim, dot + s * 2 * n,
                                   elevated + s * 2 * n * dim, q, at);
    double gap = ref_distance(dim, q, at), along = 0.0, length = 0.0;
    if (visits++ > 0 && !ref_nearer(gap, best)) break;
    bestT = t, bestS = s, best = gap, memcpy(out, at, dim * sizeof(double));
    if ((t != 0.0 && t != 1.0) || gap < 1e-12) break;
    zeph_core_math_castelEval(n, dim, d1 + s * n * dim, der, t);
    for (unsigned k = 0; k < dim; ++k) along += (q[k] - at[k]) * der[k], length += der[k] * der[k];
    if (fabs(along) < 1e-12 && !(gap * sqrt(length) < 1e-12)) break;
    if (segments < visits) break;
    if (!closed && (t == 0.0 ? s == 0 : s + 1 == segments)) break;
    s = t == 0.0 ? (s == 0 ? segments - 1 : s - 1) : (s + 1 == segments ? 0 : s + 1);
  }
  return knots[bestS] + bestT * (knots[bestS + 1] - knots[bestS]);
}

static inline double ref_sign(double m, double s) { return s >= 0.0 ? m : -m; }

/* Brent's search on [a, b] from b. */
static inline zeph_core_MinSearchResult ref_minSearch(double (*f)(double), double a, double b) {
  double x = b, w = b, v = b, fx = f(b), fw = fx, fv = fx, d = 0.0, e = 0.0;
  for (int it = 0; it < 100; ++it) {
    double xm = (a + b) / 2.0, tol1 = 1e-10 * fabs(x) + 2.5e-11, tol2 = 2.0 * tol1, u, fu;
    int parabolic = 0;
    if (fabs(x - xm) <= tol2 - (b - a) / 2.0) break;
    if (fabs(e) > tol1) {
      double r = (x - w) * (fx - fv), q = (x - v) * (fx - fw), p = (x - v) * q - (x - w) * r;
      double old = e;
      q = 2.0 * (q - r);
      if (q > 0.0) p = -p;
      q = fabs(q);
      e = d;
      if (fabs(p) < fabs(q * old / 2.0) && p > q * (a - x) && p < q * (b - x)) {
        parabolic = 1;
        d = p / q;
        if (x + d - a < tol2 || b - (x + d) < tol2) d = ref_sign(tol1, xm - x);
      }
    }
    if (!parabolic) e = x >= xm ? a - x : b - x, d = 0.381966 * e;
    u = fabs(d) >= tol1 ? x + d : x + ref_sign(tol1, d);
    fu = f(u);
    if (fu <= fx) {
      *(u >= x ? &a : &b) = x;
      v = w, fv = fw, w = x, fw = fx, x = u, fx = fu;
    } else {
      *(u < x ? &a : &b) = u;
      if (fu <= fw || w == x)
        v = w, fv = fw, w = u, fw = fu;
      else if (fu <= fv || v == x || v == w)
        v = u, fv = fu;
    }
  }
  zeph_core_MinSearchResult result = {x, fx};
  return result;
}

#endif
