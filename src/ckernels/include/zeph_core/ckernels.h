/** \file
   C kernels of vela::math, C linkage. They work in fixed stack storage,
   never allocate and never fail. Generated code calls them by name. */
#ifndef ZEPH_CORE_CKERNELS_H
#define ZEPH_CORE_CKERNELS_H

/* Declarations here are the shared libraries' API; all else is hidden. */
#pragma GCC visibility push(default)

#ifdef __cplusplus
extern "C" {
#endif

/** 1 when v[i] is +-infinity for some i < n (scanning from 0, stopping at the
   first hit), else 0; 0 for n = 0. */
int zeph_core_math_anyIsInf(unsigned int n, const double* v);

/** 1 when v[i] is a NaN for some i < n, else 0; 0 for n = 0. */
int zeph_core_math_anyIsNaN(unsigned int n, const double* v);

/** Writes, in increasing order, the positions i < n with flags[i] != 0 to
   indices[0], indices[1], ...; entries after the last one written are left
   as they are. */
void zeph_core_math_computeIndicesNonzeroElements(unsigned int n, const int* flags, int* indices);

/* ---- Plane fitting and normals ---- */

#include <stddef.h>

/** Least-squares plane through count points xyz (x, y, z triples): writes
   their centroid to point[0..3) and the unit normal to normal[0..3) and
   returns 1. The normal's component along the best-conditioned axis is
   positive. Returns 0 on failure: with fewer than 3 points nothing is
   written; otherwise point holds the centroid and normal is untouched
   (coincident points, points on a line along a coordinate axis, or
   rounding that leaves the scatter matrix exactly singular). */
int zeph_core_math_bestFitPlane3D(size_t count, const double* xyz, double* point, double* normal);

/** Guards a curve normal of dim values: when its length is below 1e-14 it is
   replaced by a vector perpendicular to tangent; a longer one (or one of NaN
   length) stays as it is. dim 2 gives (-t1, t0); any other dim takes the
   3-D rule, tangent x the unit axis of the tangent's smallest-magnitude
   component (the lower index on a tie), not normalised, and then normal and
   tangent must hold 3 values. normal and tangent may share storage. */
void zeph_core_math_validNormal(double* normal, const double* tangent, int dim);

/* ---- Knot interval lookup ---- */

/** Binary search over n ascending knots: n - 1 when x > knots[n - 1], -1 when
   x < knots[0] (and for n = 0); otherwise the index i of the interval
   [knots[i], knots[i + 1]) that holds x, where x equal to an interior knot
   gives that knot's index and x equal to the last knot gives n - 2. A NaN x
   ends at 0. No allocation, no recursion. */
int zeph_core_math_indexOfLowerBound(unsigned int n, const double* knots, double x);

/* ---- Bezier curves ---- */

/** The point at t of the Bezier curve with n control points points[0..n*dim)
   (point after point), written to out[0..dim), by de Casteljau. t = 0 gives
   the first point and t = 1 (or n = 1) the last, bit for bit; any other t,
   outside [0, 1] or NaN included, runs de Casteljau, so the curve is
   extrapolated, not clamped. The work storage holds 100 values: calls with
   (n - 1) * dim > 100, and calls with n = 0, read no point and write dim
   zeros; dim = 0 writes nothing. out may overlap points. */
void zeph_core_math_castelEval(unsigned int n, unsigned int dim, const double* points, double* out,
                               double t);

/* ---- Closest points and 1-D minimization ---- */

/** Largest curve degree and dimension the closest-point searches take. Calls
   outside them (and dim = 0, and n = 0 for a spline) read nothing, write
   dim zeros (none for dim = 0 or dim above the limit) and return 0.
   @{ */
#define ZEPH_CLOSEST_MAX_DEGREE 6
#define ZEPH_CLOSEST_MAX_DIM 16
/** @} */

/** The parameter t in [0, 1] of the point of a Bezier curve nearest to q, and
   that point in out (dim values). The curve has degree n (n + 1 control
   points of dim coordinates), dotCoeffs (2n) and elevatedDerivPoints (2n
   points) its Bernstein data of B.B' and B' (see BezierCurve). The roots of
   (B(t) - q).B'(t) are isolated by subdivision and refined by Newton; the
   candidates are t = 0, t = 1 and the roots, and the first nearest one wins
   (ties keep t = 0 over t = 1 over roots). n = 0 is one point: t = 0 and
   that point. A root exactly at a subdivision midpoint is taken whatever
   its multiplicity, and a Newton step drawn onto an interval end where the
   polynomial vanishes is not taken as the interval's root (the sign change
   lies inside; subdivision goes on). The subdivision stops at depth 64,
   below the resolution of a double, where isolated roots have all been
   separated: an interval still holding sign changes there (a cluster, a
   multiple root) gives its midpoint as a candidate. At most 18 roots are
   kept, which bounds the work even for coefficients that are rounding
   noise around zero. NaN in the data never hangs it: a NaN distance loses
   to any other. Coordinates whose squares overflow or underflow (beyond
   about 1e150, below about 1e-150) lose the interior roots and, when the
   distances overflow, compare all candidates equal: the answer may then be
   an end where an inner point is nearer. */
double zeph_core_math_findClosestPointOnBezier(unsigned int n, unsigned int dim,
                                               const double* controlPoints, const double* dotCoeffs,
                                               const double* elevatedDerivPoints, const double* q,
                                               double* out);

/** The closest point to q found by walking a spline's segments from segment
   start (clamped to the last segment): while the nearest point of a segment
   is one of its ends, and that end is not a true minimum, move on to the
   neighbour (wrapping around when closed, stopping at an open end), visiting
   at most segments + 1 segments. An end is a true minimum at distance below
   1e-12 or where |(q - p).B'| < 1e-12; where that test cannot tell, because
   |q - p| |B'| is itself below 1e-12 (a vanishing tangent), the walk moves
   on. Every move keeps the neighbour's point only when it is strictly nearer
   (a number nearer than a NaN); otherwise the walk ends at the earlier point.
   Writes the point to out and returns the global parameter knots[s] +
   t (knots[s+1] - knots[s]) of the segment s that gave it. The arrays hold
   every segment's data, segment after segment: knots segments + 1 values,
   the others as for findClosestPointOnBezier and n dim first-derivative
   values per segment. segments = 0 and n = 0 are outside the contract. */
double zeph_core_math_findClosestPointOnSpline(
    unsigned int n, unsigned int dim, unsigned int segments, int closed, unsigned int start,
    const double* knots, const double* controlPoints, const double* derivPoints1,
    const double* dotCoeffs, const double* elevatedDerivPoints, const double* q, double* out);

/** Where a one-variable function is smallest and its value there. */
typedef struct zeph_core_MinSearchResult {
  double x;  /**< The point of the smallest value found. */
  double fx; /**< f(x), as f returned it there. */
} zeph_core_MinSearchResult;

/** Brent's minimization of f on [a, b] (a < b) by golden sections and
   parabolic steps, starting at b, at most 100 iterations, to a relative
   tolerance of 1e-10 (absolute 2.5e-11 near 0). f is called at most 101
   times; a NaN value of f is never taken as a new minimum. */
zeph_core_MinSearchResult zeph_core_FuncMinSearch1D(double (*f)(double), double a, double b);

#ifdef __cplusplus
}
#endif

#pragma GCC visibility pop

#endif
