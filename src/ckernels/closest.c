#include <math.h>
#include <string.h>

#include "zeph_core/ckernels.h"

/* Coefficients of (B - q).B' for degree 6: 2n = 12, stored in 13. */
#define ROOT_COEFFS 13
/* Room for t = 0, t = 1 and the roots. */
#define CANDIDATES 20
/* Deeper than a double resolves [0, 1]: isolated roots separate before.
   With the room for roots this also bounds the work when rounding noise
   gives sign changes everywhere. */
#define MAX_ROOT_DEPTH 64

static int outsideContract(unsigned int n, unsigned int dim) {
  return n > ZEPH_CLOSEST_MAX_DEGREE || dim == 0 || dim > ZEPH_CLOSEST_MAX_DIM;
}

static void zeroOut(unsigned int dim, double* out) {
  if (dim != 0 && dim <= ZEPH_CLOSEST_MAX_DIM) memset(out, 0, dim * sizeof(double));
}

static double distance(unsigned int dim, const double* a, const double* b) {
  double sum = 0.0;
  unsigned int k;
  for (k = 0; k < dim; ++k) sum += (a[k] - b[k]) * (a[k] - b[k]);
  return sqrt(sum);
}

/* a is nearer than b: strictly, and any number is nearer than a NaN. */
static int nearer(double a, double b) { return a < b || (isnan(b) && !isnan(a)); }

/* Sign changes of the coefficients, exact zeros skipped. */
static unsigned int signChanges(const double* c, unsigned int m) {
  unsigned int i, changes = 0;
  double reference = c[0];
  for (i = 1; i < m; ++i) {
    if (c[i] == 0.0) continue;
    if (c[i] * reference < 0.0) ++changes;
    reference = c[i];
  }
  return changes;
}

/* castelEval of m values of dimension 1, the same operations in the same
   order, inline: Newton calls it in its inner loop. m <= ROOT_COEFFS. */
static double castel1(const double* c, unsigned int m, double u) {
  double work[ROOT_COEFFS];
  double s = 1.0 - u;
  unsigned int level, i;
  if (u == 0.0) return c[0];
  if (u == 1.0 || m == 1) return c[m - 1];
  for (i = 0; i + 1 < m; ++i) work[i] = s * c[i] + u * c[i + 1];
  for (level = m - 1; level > 1; --level)
    for (i = 0; i + 1 < level; ++i) work[i] = s * work[i] + u * work[i + 1];
  return work[0];
}

/* The root of a polynomial of degree m - 1 in Bernstein form on [0, 1] by
   Newton's method, or -1 when the iteration fails. */
static double newton(const double* c, unsigned int m, double tol) {
  double e[ROOT_COEFFS];
  double u = c[0] * c[m - 1] < 0.0 ? c[0] / (c[0] - c[m - 1]) : 0.5;
  double f, g, step;
  unsigned int i, iteration;
  for (i = 0; i + 1 < m; ++i) e[i] = (double)(m - 1) * (c[i + 1] - c[i]);
  f = castel1(c, m, u);
  g = castel1(e, m - 1, u);
  if (fabs(f) > 2.0 * fabs(g)) return -1.0;
  step = f / g;
  for (iteration = 0; iteration < 50; ++iteration) {
    if (fabs(step) <= tol) return u;
    u -= step;
    if (u < -1.0 || u > 2.0) return -1.0;
    f = castel1(c, m, u);
    g = castel1(e, m - 1, u);
    if (fabs(f) > 2.0 * fabs(g)) return -1.0;
    step = f / g;
  }
  return -1.0;
}

/* c becomes its left half over [0, 0.5], right its right half. Level k of
   de Casteljau is kept in c[k..m-1], so c[k] ends as the left half's k-th
   coefficient. */
static void splitHalf(double* c, unsigned int m, double* right) {
  unsigned int i, k;
  right[m - 1] = c[m - 1];
  for (k = 1; k < m; ++k) {
    for (i = m - 1; i >= k; --i) c[i] = 0.5 * c[i - 1] + 0.5 * c[i];
    right[m - 1 - k] = c[m - 1];
  }
}

/* Roots in [a, b] of the polynomial with Bernstein coefficients c (m of
   them, destroyed), at most room of them written to roots; their number. */
static unsigned int findRoots(double* c, unsigned int m, unsigned int depth, double a, double b,
                              double tol, double* roots, unsigned int room) {
  double right[ROOT_COEFFS];
  double mid;
  unsigned int changes, r1, r2;
  if (m < 2 || room == 0) return 0;
  changes = signChanges(c, m);
  if (changes == 0) return 0;
  if (changes == 1 && depth >= 4) {
    double u = newton(c, m, tol);
    /* The one sign change lies inside; a zero at an end (a multiple root of
       the curve's end, say) can draw Newton there instead. */
    int drawnToZeroEnd = (c[m - 1] == 0.0 && u > 1.0 - 1e-8) || (c[0] == 0.0 && u < 1e-8);
    if (u >= 0.0 && u <= 1.0 && !drawnToZeroEnd) {
      if (room == 0) return 0;
      roots[0] = a + (b - a) * u;
      return 1;
    }
    if (depth > 16) return 0;
  }
  /* Roots still clustered at this width: the interval is one candidate. */
  if (depth >= MAX_ROOT_DEPTH) {
    roots[0] = (a + b) * 0.5;
    return 1;
  }
  splitHalf(c, m, right);
  mid = (a + b) * 0.5;
  r1 = findRoots(c, m, depth + 1, a, mid, tol, roots, room);
  if (r1 >= changes) return r1;
  r2 = findRoots(right, m, depth + 1, mid, b, tol, roots + r1, room - r1);
  if (r1 + r2 >= changes) return r1 + r2;
  /* A root exactly at mid has no sign change on either side. A multiple one
     (flat there) counts too: of odd multiplicity it can be the minimum. */
  if (fabs(right[0]) < tol && r1 + r2 < room) {
    roots[r1 + r2] = mid;
    return r1 + r2 + 1;
  }
  return r1 + r2;
}

double zeph_core_math_findClosestPointOnBezier(unsigned int n, unsigned int dim,
                                               const double* controlPoints, const double* dotCoeffs,
                                               const double* elevatedDerivPoints, const double* q,
                                               double* out) {
  double w[ROOT_COEFFS], candidates[CANDIDATES], point[ZEPH_CLOSEST_MAX_DIM];
  double bestT, bestDistance;
  unsigned int k, d, count, i;
  if (outsideContract(n, dim)) {
    zeroOut(dim, out);
    return 0.0;
  }
  if (n == 0) { /* one point */
    memcpy(out, controlPoints, dim * sizeof(double));
    return 0.0;
  }
  for (k = 0; k < 2 * n; ++k) {
    double dot = 0.0;
    for (d = 0; d < dim; ++d) dot += elevatedDerivPoints[k * dim + d] * q[d];
    w[k] = dotCoeffs[k] - dot;
  }
  candidates[0] = 0.0;
  candidates[1] = 1.0;
  count = 2 + findRoots(w, 2 * n, 0, 0.0, 1.0, 1e-14, candidates + 2, CANDIDATES - 2);

  zeph_core_math_castelEval(n + 1, dim, controlPoints, out, 0.0);
  bestT = 0.0;
  bestDistance = distance(dim, out, q);
  for (i = 1; i < count; ++i) {
    double current;
    zeph_core_math_castelEval(n + 1, dim, controlPoints, point, candidates[i]);
    current = distance(dim, point, q);
    if (nearer(current, bestDistance)) {
      bestDistance = current;
      bestT = candidates[i];
      memcpy(out, point, dim * sizeof(double));
    }
  }
  return bestT;
}

/* Whether the end t (0 or 1) of a segment, at p, is a minimum of the
   distance along the curve: 1 when it is (distance 0, or (q - p).B' = 0 for
   a B' that tells), 0 when the distance falls beyond it, -1 when B' is too
   short to tell (|q - p| |B'| below the threshold: a vanishing tangent). */
static int endIsMinimum(unsigned int n, unsigned int dim, const double* derivPoints1,
                        const double* q, const double* p, double t) {
  double derivative[ZEPH_CLOSEST_MAX_DIM], along = 0.0, length = 0.0;
  double gap = distance(dim, q, p);
  unsigned int k;
  if (gap < 1e-12) return 1;
  zeph_core_math_castelEval(n, dim, derivPoints1, derivative, t);
  for (k = 0; k < dim; ++k) {
    along += (q[k] - p[k]) * derivative[k];
    length += derivative[k] * derivative[k];
  }
  if (!(fabs(along) < 1e-12)) return 0;
  return gap * sqrt(length) < 1e-12 ? -1 : 1;
}

double zeph_core_math_findClosestPointOnSpline(
    unsigned int n, unsigned int dim, unsigned int segments, int closed, unsigned int start,
    const double* knots, const double* controlPoints, const double* derivPoints1,
    const double* dotCoeffs, const double* elevatedDerivPoints, const double* q, double* out) {
  double point[ZEPH_CLOSEST_MAX_DIM], best[ZEPH_CLOSEST_MAX_DIM];
  double t, bestT = 0.0, bestDistance = 0.0;
  unsigned int s = start < segments ? start : segments - 1, bestS = s;
  unsigned long long visits = 0;
  if (outsideContract(n, dim) || n == 0 || segments == 0) {
    zeroOut(dim, out);
    return 0.0;
  }
  for (;;) {
    double current;
    t = zeph_core_math_findClosestPointOnBezier(
        n, dim, controlPoints + (size_t)s * (n + 1) * dim, dotCoeffs + (size_t)s * 2 * n,
        elevatedDerivPoints + (size_t)s * 2 * n * dim, q, point);
    current = distance(dim, q, point);
    /* A move pays only when it comes strictly nearer: this ends the walk at
       the earlier point where a vanishing tangent let it on, and no two
       segments can hand the walk back and forth. */
    if (visits > 0 && !nearer(current, bestDistance)) break;
    ++visits;
    bestT = t;
    bestS = s;
    bestDistance = current;
    memcpy(best, point, dim * sizeof(double));
    if (t != 0.0 && t != 1.0) break;
    if (endIsMinimum(n, dim, derivPoints1 + (size_t)s * n * dim, q, point, t) == 1) break;
    if (segments < visits) break;
    if (t == 0.0) {
      if (s == 0 && !closed) break;
      s = s == 0 ? segments - 1 : s - 1;
    } else {
      if (s + 1 == segments && !closed) break;
      s = s + 1 == segments ? 0 : s + 1;
    }
  }
  memcpy(out, best, dim * sizeof(double));
  return knots[bestS] + bestT * (knots[bestS + 1] - knots[bestS]);
}
