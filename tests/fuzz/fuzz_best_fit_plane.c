/* zeph_core_math_bestFitPlane3D: what is written on success and failure,
   a unit normal on finite input, and the plane of coplanar points. */
#include "fuzz_common.h"
#include "zeph_core/ckernels.h"

static double cross(const double* u, const double* v, double* w) {
  w[0] = u[1] * v[2] - u[2] * v[1], w[1] = u[2] * v[0] - u[0] * v[2];
  w[2] = u[0] * v[1] - u[1] * v[0];
  return sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = {data, size};
  unsigned mode = fz_byte(&in);
  size_t count = (size_t)fz_range(&in, 0, 24);
  double *xyz = fz_alloc((ptrdiff_t)(3 * count)), u[3], v[3], w[3], o[3], off[3];
  int coplanar = (mode & 3) == 0, spread = 0;
  double ww = 0.0;
  if (coplanar) { /* o + a u + b v, small integers: exactly on the plane of normal u x v */
    for (int i = 0; i < 9; ++i)
      (i < 3 ? o : i < 6 ? u : v)[i % 3] = fz_range(&in, i < 3 ? -8 : -4, i < 3 ? 8 : 4);
    double sa = 0.0, sb = 0.0, saa = 0.0, sab = 0.0, sbb = 0.0, k = count ? (double)count : 1.0;
    for (size_t c = 0; c < count; ++c) {
      double a = fz_range(&in, -6, 6), b = fz_range(&in, -6, 6);
      for (int i = 0; i < 3; ++i) xyz[3 * c + i] = o[i] + a * u[i] + b * v[i];
      sa += a, sb += b, saa += a * a, sab += a * b, sbb += b * b;
    }
    /* Well conditioned only when (a, b) spread both ways and u, v are far from parallel. */
    double caa = saa - sa * sa / k, cbb = sbb - sb * sb / k, cab = sab - sa * sb / k;
    double uu = u[0] * u[0] + u[1] * u[1] + u[2] * u[2],
           vv = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
    ww = cross(u, v, w);
    spread = count >= 3 && caa * cbb - cab * cab > 1e-2 * (caa + cbb) * (caa + cbb) &&
             ww * ww > 1e-2 * uu * vv;
  } else {
    fz_fill(&in, xyz, (ptrdiff_t)(3 * count), (mode & 3) == 1);
  }
  double *saved = fz_copy(xyz, (ptrdiff_t)(3 * count)), *point = fz_alloc(3), *normal = fz_alloc(3);
  int ok = zeph_core_math_bestFitPlane3D(count, xyz, point, normal);
  FZ_CHECK(fz_identical(xyz, saved, (ptrdiff_t)(3 * count)), "points changed");
  FZ_CHECK(ok == 0 || (ok == 1 && count >= 3), "returned %d", ok);
  FZ_CHECK(count < 3 ? fz_allCanary(point, 3) : fz_noCanary(point, 3), "centroid written wrongly");
  FZ_CHECK(ok ? fz_noCanary(normal, 3) : fz_allCanary(normal, 3), "normal written wrongly");
  if (ok && fz_allFinite(xyz, (ptrdiff_t)(3 * count)) && fz_allFinite(point, 3) &&
      fz_maxAbs(xyz, (ptrdiff_t)(3 * count)) < 1e100) {
    double len = sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    FZ_CHECK(fabs(len - 1.0) <= 1e-12, "normal length %.17g", len);
    FZ_CHECK(normal[0] > 0.0 || normal[1] > 0.0 || normal[2] > 0.0, "no positive component");
  }
  if (ok && spread)
    FZ_CHECK(cross(normal, w, off) <= 1e-9 * ww, "coplanar points: normal (%g %g %g)", normal[0],
             normal[1], normal[2]);
  free(xyz), free(saved), free(point), free(normal);
  return 0;
}
