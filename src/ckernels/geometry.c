#include <math.h>

#include "kelmf/foundation.h"
#include "zeph_core/ckernels.h"

/* Condition ratio of the symmetric 2-by-2 block [a b; b d]: the larger over
   the smaller magnitude of its eigenvalues (times two), or the largest real
   when the block is singular. */
static double blockRatio(double a, double b, double d) {
  double s = a + d;
  double r = sqrt((a - d) * (a - d) + 4.0 * b * b);
  double x = fabs(s - r);
  double y = fabs(s + r);
  double hi = x > y ? x : y;
  double lo = x > y ? y : x;
  return lo == 0.0 ? kelmf_get_real_max() : hi / lo;
}

static void centroid(size_t count, const double* xyz, double* point) {
  size_t c;
  int i;
  point[0] = point[1] = point[2] = 0.0;
  for (c = 0; c < count; ++c)
    for (i = 0; i < 3; ++i) point[i] += xyz[3 * c + i];
  for (i = 0; i < 3; ++i) point[i] /= (double)count;
}

/* Sums (not means) of the products of the deviations from the centroid. */
static void scatter(size_t count, const double* xyz, const double* point, double m[3][3]) {
  size_t c;
  int i, j;
  for (i = 0; i < 3; ++i)
    for (j = 0; j < 3; ++j) m[i][j] = 0.0;
  for (c = 0; c < count; ++c) {
    double d[3];
    for (i = 0; i < 3; ++i) d[i] = xyz[3 * c + i] - point[i];
    for (i = 0; i < 3; ++i)
      for (j = 0; j < 3; ++j) m[i][j] += d[i] * d[j];
  }
}

/* The axis whose complementary block is best conditioned (the earlier axis
   wins a tie), or -1 when every block is singular. */
static int bestAxis(double m[3][3]) {
  double best = kelmf_get_real_max();
  int axis, k = -1;
  for (axis = 0; axis < 3; ++axis) {
    int i = (axis + 1) % 3, j = (axis + 2) % 3;
    double ratio = blockRatio(m[i][i], m[i][j], m[j][j]);
    if (ratio < best) {
      best = ratio;
      k = axis;
    }
  }
  return k;
}

/* Solves the normal equations for the two other components with component k
   fixed to 1; 0 on a zero pivot or Schur complement. */
static int normalWithComponentFixed(double m[3][3], int k, double* n) {
  int i = (k + 1) % 3, j = (k + 2) % 3;
  int p = m[j][j] > m[i][i] ? j : i;
  int q = p == i ? j : i;
  double f, schur;
  if (m[p][p] == 0.0) return 0;
  f = m[p][q] / m[p][p];
  schur = m[q][q] - m[p][q] * f;
  if (schur == 0.0) return 0;
  n[q] = -(m[q][k] - f * m[p][k]) / schur;
  n[p] = (-m[p][k] - m[p][q] * n[q]) / m[p][p];
  n[k] = 1.0;
  return 1;
}

int zeph_core_math_bestFitPlane3D(size_t count, const double* xyz, double* point, double* normal) {
  double m[3][3], n[3], length, big;
  int i, k, e;

  if (count < 3) return 0;
  centroid(count, xyz, point);
  scatter(count, xyz, point, m);
  k = bestAxis(m);
  if (k < 0 || !normalWithComponentFixed(m, k, n)) return 0;
  /* Nearly axis-aligned points can give components whose squares overflow;
     a power-of-two scale keeps the bits of every other case. */
  big = 1.0;
  for (i = 0; i < 3; ++i)
    if (fabs(n[i]) > big) big = fabs(n[i]);
  if (big > 0x1p500 && big <= kelmf_get_real_max()) {
    frexp(big, &e);
    for (i = 0; i < 3; ++i) n[i] = ldexp(n[i], -e);
  }
  length = sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  for (i = 0; i < 3; ++i) normal[i] = n[i] / length;
  return 1;
}

void zeph_core_math_validNormal(double* normal, const double* tangent, int dim) {
  double t[3], u[3] = {0.0, 0.0, 0.0};
  int i, e;

  if (dim != 0) {
    double sum = 0.0;
    for (i = 0; i < dim; ++i) sum += normal[i] * normal[i];
    if (!(sqrt(sum) < 1e-14)) return;
  }
  /* The tangent is read in full before the normal is written, so that the
     two may share storage. */
  if (dim == 2) {
    t[0] = tangent[0];
    t[1] = tangent[1];
    normal[0] = -t[1];
    normal[1] = t[0];
    return;
  }
  for (i = 0; i < 3; ++i) t[i] = tangent[i];
  e = fabs(t[0]) > fabs(t[1]) ? 1 : 0;
  if (fabs(t[e]) > fabs(t[2])) e = 2;
  u[e] = 1.0;
  normal[0] = t[1] * u[2] - t[2] * u[1];
  normal[1] = t[2] * u[0] - t[0] * u[2];
  normal[2] = t[0] * u[1] - t[1] * u[0];
}
