/* zeph_core_math_validNormal: a normal of length >= 1e-14 (or NaN) is left
   alone, a shorter one becomes the documented perpendicular; storage of the
   documented size only, shared storage included. */
#include "fuzz_common.h"
#include "zeph_core/ckernels.h"

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = {data, size};
  unsigned mode = fz_byte(&in);
  int dim = fz_range(&in, -2, 6);
  int shared = mode & 1;
  int normalCount = dim == 2 ? 2 : (dim > 3 ? dim : 3);
  int tangentCount = dim == 2 ? 2 : 3;
  double* normal = fz_alloc(normalCount);
  double scale = (mode & 2) ? 1e-15 : 1.0; /* around the threshold */
  for (int i = 0; i < normalCount; ++i) normal[i] = fz_double(&in) * scale;
  double* tangent = shared ? normal : fz_alloc(tangentCount);
  if (!shared) fz_fill(&in, tangent, tangentCount, 0);
  double* before = fz_copy(normal, normalCount);
  double t[3] = {0.0, 0.0, 0.0};
  for (int i = 0; i < tangentCount; ++i) t[i] = tangent[i];

  zeph_core_math_validNormal(normal, tangent, dim);

  double sum = 0.0;
  for (int i = 0; i < dim; ++i) sum += before[i] * before[i];
  double length = sqrt(sum);
  /* A band around the threshold is left to rounding. */
  if (!(length < 1e-14 * (1.0 + 1e-12))) {
    FZ_CHECK(fz_identical(normal, before, normalCount), "dim=%d length %.17g: normal changed", dim,
             length);
  } else if (length < 1e-14 * (1.0 - 1e-12)) {
    double expected[3];
    if (dim == 2) {
      expected[0] = -t[1];
      expected[1] = t[0];
    } else {
      int e = 0; /* smallest magnitude, lower index on a tie */
      for (int i = 1; i < 3; ++i)
        if (fabs(t[i]) < fabs(t[e])) e = i;
      double a[3] = {0.0, 0.0, 0.0};
      a[e] = 1.0;
      expected[0] = t[1] * a[2] - t[2] * a[1];
      expected[1] = t[2] * a[0] - t[0] * a[2];
      expected[2] = t[0] * a[1] - t[1] * a[0];
    }
    int written = dim == 2 ? 2 : 3;
    for (int i = 0; i < written; ++i)
      FZ_CHECK(fz_same(normal[i], expected[i]) || normal[i] == expected[i],
               "dim=%d: normal[%d] = %.17g, expected %.17g", dim, i, normal[i], expected[i]);
    for (int i = written; i < normalCount; ++i)
      FZ_CHECK(fz_identical(normal + i, before + i, 1), "entry %d beyond the normal written", i);
    if (dim != 2 && isfinite(t[0]) && isfinite(t[1]) && isfinite(t[2]) && fz_maxAbs(t, 3) < 1e150) {
      double dot = normal[0] * t[0] + normal[1] * t[1] + normal[2] * t[2];
      FZ_CHECK(dot == 0.0, "replacement not perpendicular: %g", dot);
    }
  }
  free(normal);
  if (!shared) free(tangent);
  free(before);
  return 0;
}
