#include <string.h>

#include "zeph_core/ckernels.h"

#define CASTEL_WORK 100

/* The fixed-degree paths below do, per coordinate, exactly the operations of
   the general levels, in the same order: s = 1 - t, each step s*a + t*b.
   They only let the compiler keep the levels in registers. */

static double castel_linear(const double* p, unsigned int dim, double s, double t) {
  return s * p[0] + t * p[dim];
}

static double castel_quadratic(const double* p, unsigned int dim, double s, double t) {
  double a = s * p[0] + t * p[dim];
  double b = s * p[dim] + t * p[2 * dim];
  return s * a + t * b;
}

static double castel_cubic(const double* p, unsigned int dim, double s, double t) {
  double a = s * p[0] + t * p[dim];
  double b = s * p[dim] + t * p[2 * dim];
  double c = s * p[2 * dim] + t * p[3 * dim];
  a = s * a + t * b;
  b = s * b + t * c;
  return s * a + t * b;
}

static void castel_levels(unsigned int n, unsigned int dim, const double* points, double* out,
                          double t) {
  double work[CASTEL_WORK];
  double s = 1.0 - t;
  unsigned int count = n - 1, level, i, k;
  for (i = 0; i < count * dim; ++i) work[i] = s * points[i] + t * points[i + dim];
  for (level = count; level > 1; --level)
    for (i = 0; i + 1 < level; ++i)
      for (k = 0; k < dim; ++k)
        work[i * dim + k] = s * work[i * dim + k] + t * work[(i + 1) * dim + k];
  for (k = 0; k < dim; ++k) out[k] = work[k];
}

void zeph_core_math_castelEval(unsigned int n, unsigned int dim, const double* points, double* out,
                               double t) {
  /* Results go through r, so that out may overlap points. */
  double r[CASTEL_WORK];
  unsigned int k;
  double s = 1.0 - t;
  if (dim == 0) return;
  /* No points, or more than the work storage holds: generated code may pass
     anything, so write a defined value and read nothing. */
  if (n == 0 || (unsigned long long)(n - 1) * dim > CASTEL_WORK) {
    memset(out, 0, dim * sizeof(double));
    return;
  }
  if (t == 0.0) {
    memmove(out, points, dim * sizeof(double));
    return;
  }
  if (t == 1.0 || n == 1) {
    memmove(out, points + (size_t)(n - 1) * dim, dim * sizeof(double));
    return;
  }
  switch (n) {
    case 2:
      for (k = 0; k < dim; ++k) r[k] = castel_linear(points + k, dim, s, t);
      break;
    case 3:
      for (k = 0; k < dim; ++k) r[k] = castel_quadratic(points + k, dim, s, t);
      break;
    case 4:
      /* Spline segments: the plane and space get straight-line code. */
      if (dim == 2) {
        double x = castel_cubic(points, 2, s, t), y = castel_cubic(points + 1, 2, s, t);
        out[0] = x;
        out[1] = y;
        return;
      }
      if (dim == 3) {
        double x = castel_cubic(points, 3, s, t), y = castel_cubic(points + 1, 3, s, t);
        double z = castel_cubic(points + 2, 3, s, t);
        out[0] = x;
        out[1] = y;
        out[2] = z;
        return;
      }
      for (k = 0; k < dim; ++k) r[k] = castel_cubic(points + k, dim, s, t);
      break;
    default: castel_levels(n, dim, points, r, t);
  }
  for (k = 0; k < dim; ++k) out[k] = r[k];
}
