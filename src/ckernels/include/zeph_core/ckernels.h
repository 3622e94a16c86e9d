/* C kernels of vela::math, C linkage. They work in fixed stack storage,
   never allocate and never fail. Generated code calls them by name. */
#ifndef ZEPH_CORE_CKERNELS_H
#define ZEPH_CORE_CKERNELS_H

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when v[i] is +-infinity for some i < n (scanning from 0, stopping at the
   first hit), else 0; 0 for n = 0. */
int zeph_core_math_anyIsInf(unsigned int n, const double* v);

/* 1 when v[i] is a NaN for some i < n, else 0; 0 for n = 0. */
int zeph_core_math_anyIsNaN(unsigned int n, const double* v);

/* Writes, in increasing order, the positions i < n with flags[i] != 0 to
   indices[0], indices[1], ...; entries after the last one written are left
   as they are. */
void zeph_core_math_computeIndicesNonzeroElements(unsigned int n, const int* flags, int* indices);

/* ---- Plane fitting and normals ---- */

#include <stddef.h>

/* Least-squares plane through count points xyz (x, y, z triples): writes
   their centroid to point[0..3) and the unit normal to normal[0..3) and
   returns 1. The normal's component along the best-conditioned axis is
   positive. Returns 0 on failure: with fewer than 3 points nothing is
   written; otherwise point holds the centroid and normal is untouched
   (coincident points, points on a line along a coordinate axis, or
   rounding that leaves the scatter matrix exactly singular). */
int zeph_core_math_bestFitPlane3D(size_t count, const double* xyz, double* point, double* normal);

/* Guards a curve normal of dim values: when its length is below 1e-14 it is
   replaced by a vector perpendicular to tangent; a longer one (or one of NaN
   length) stays as it is. dim 2 gives (-t1, t0); any other dim takes the
   3-D rule, tangent x the unit axis of the tangent's smallest-magnitude
   component (the lower index on a tie), not normalised, and then normal and
   tangent must hold 3 values. normal and tangent may share storage. */
void zeph_core_math_validNormal(double* normal, const double* tangent, int dim);

/* ---- Knot interval lookup ---- */

/* Binary search over n ascending knots: n - 1 when x > knots[n - 1], -1 when
   x < knots[0] (and for n = 0); otherwise the index i of the interval
   [knots[i], knots[i + 1]) that holds x, where x equal to an interior knot
   gives that knot's index and x equal to the last knot gives n - 2. A NaN x
   ends at 0. No allocation, no recursion. */
int zeph_core_math_indexOfLowerBound(unsigned int n, const double* knots, double x);

/* ---- Bezier curves ---- */

/* The point at t of the Bezier curve with n control points points[0..n*dim)
   (point after point), written to out[0..dim), by de Casteljau. t = 0 gives
   the first point and t = 1 (or n = 1) the last, bit for bit; any other t,
   outside [0, 1] or NaN included, runs de Casteljau, so the curve is
   extrapolated, not clamped. The work storage holds 100 values: calls with
   (n - 1) * dim > 100, and calls with n = 0, read no point and write dim
   zeros; dim = 0 writes nothing. out may overlap points. */
void zeph_core_math_castelEval(unsigned int n, unsigned int dim, const double* points, double* out,
                               double t);

#ifdef __cplusplus
}
#endif

#endif
