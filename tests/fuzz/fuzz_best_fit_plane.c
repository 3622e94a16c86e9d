/* zeph_core_math_bestFitPlane3D: what is written on success and failure,
   a unit normal on finite input, and the plane of coplanar points. */
#include "fuzz_common.h"
#include "zeph_core/ckernels.h"

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = {data, size};
  unsigned mode = fz_byte(&in);
  size_t count = (size_t)fz_range(&in, 0, 24);
  double* xyz = fz_alloc((ptrdiff_t)(3 * count));
  double u[3], v[3], origin[3];
  int coplanar = (mode & 3) == 0, spread = 0;
  if (coplanar) {
    /* origin + a u + b v with small integers: the points lie exactly on the
       plane with normal u x v. */
    for (int i = 0; i < 3; ++i) origin[i] = fz_range(&in, -8, 8);
    for (int i = 0; i < 3; ++i) u[i] = fz_range(&in, -4, 4);
    for (int i = 0; i < 3; ++i) v[i] = fz_range(&in, -4, 4);
    double sa = 0.0, sb = 0.0, saa = 0.0, sab = 0.0, sbb = 0.0;
    for (size_t c = 0; c < count; ++c) {
      double a = fz_range(&in, -6, 6), b = fz_range(&in, -6, 6);
      for (int i = 0; i < 3; ++i) xyz[3 * c + i] = origin[i] + a * u[i] + b * v[i];
      sa += a, sb += b, saa += a * a, sab += a * b, sbb += b * b;
    }
    /* The plane is determined, and well conditioned, only when the (a, b)
       spread over both directions and u, v are far from parallel. */
    if (count >= 3) {
      double k = (double)count, caa = saa - sa * sa / k, cbb = sbb - sb * sb / k;
      double cab = sab - sa * sb / k, tr = caa + cbb, det = caa * cbb - cab * cab;
      double w[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                     u[0] * v[1] - u[1] * v[0]};
      double uu = u[0] * u[0] + u[1] * u[1] + u[2] * u[2];
      double vv = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
      double ww = w[0] * w[0] + w[1] * w[1] + w[2] * w[2];
      spread = det > 1e-2 * tr * tr && ww > 1e-2 * uu * vv;
    }
  } else {
    fz_fill(&in, xyz, (ptrdiff_t)(3 * count), (mode & 3) == 1);
  }
  double* saved = fz_copy(xyz, (ptrdiff_t)(3 * count));
  double* point = fz_alloc(3);
  double* normal = fz_alloc(3);

  int ok = zeph_core_math_bestFitPlane3D(count, xyz, point, normal);

  FZ_CHECK(fz_identical(xyz, saved, (ptrdiff_t)(3 * count)), "points changed");
  FZ_CHECK(ok == 0 || ok == 1, "returned %d", ok);
  if (count < 3) {
    FZ_CHECK(ok == 0, "fewer than 3 points gave %d", ok);
    FZ_CHECK(fz_allCanary(point, 3) && fz_allCanary(normal, 3), "written with < 3 points");
    goto done;
  }
  FZ_CHECK(fz_noCanary(point, 3), "centroid not written");
  if (!ok) {
    FZ_CHECK(fz_allCanary(normal, 3), "normal written on failure");
    goto done;
  }
  FZ_CHECK(fz_noCanary(normal, 3), "normal not written on success");
  if (fz_allFinite(xyz, (ptrdiff_t)(3 * count)) && fz_allFinite(point, 3) &&
      fz_maxAbs(xyz, (ptrdiff_t)(3 * count)) < 1e100) {
    double len = sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    FZ_CHECK(fabs(len - 1.0) <= 1e-12, "normal length %.17g (%g %g %g)", len, normal[0], normal[1],
             normal[2]);
    FZ_CHECK(normal[0] > 0.0 || normal[1] > 0.0 || normal[2] > 0.0, "no positive component");
  }
  if (coplanar) {
    double w[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    double wn = sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
    if (spread) {
      double cross[3] = {normal[1] * w[2] - normal[2] * w[1], normal[2] * w[0] - normal[0] * w[2],
                         normal[0] * w[1] - normal[1] * w[0]};
      double off = sqrt(cross[0] * cross[0] + cross[1] * cross[1] + cross[2] * cross[2]) / wn;
      FZ_CHECK(off <= 1e-9, "coplanar points: normal (%g %g %g) not along (%g %g %g)", normal[0],
               normal[1], normal[2], w[0], w[1], w[2]);
    }
  }
done:
  free(xyz);
  free(saved);
  free(point);
  free(normal);
  return 0;
}
