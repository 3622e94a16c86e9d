/* zeph_core_math_indexOfLowerBound on ascending knots (duplicates and
   infinities included): the returned index locates x as the header says. */
#include "fuzz_common.h"
#include "zeph_core/ckernels.h"

static int ascending(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = {data, size};
  unsigned mode = fz_byte(&in);
  unsigned n = (unsigned)fz_range(&in, 0, 40);
  double* knots = fz_alloc(n);
  for (unsigned i = 0; i < n; ++i) {
    double v = (mode & 1) ? fz_moderate(&in) : fz_double(&in);
    knots[i] = v != v ? 0.0 : v; /* ascending excludes NaN */
  }
  qsort(knots, n, sizeof(double), ascending);
  double x;
  if ((mode & 6) == 0 && n > 0)
    x = knots[fz_byte(&in) % n]; /* exactly on a knot */
  else
    x = (mode & 1) ? fz_moderate(&in) : fz_double(&in);
  double* saved = fz_copy(knots, n);

  int r = zeph_core_math_indexOfLowerBound(n, knots, x);

  FZ_CHECK(fz_identical(knots, saved, n), "knots changed");
  FZ_CHECK(r >= -1 && r <= (int)n - 1, "index %d outside [-1, %u]", r, n - 1);
  if (n == 0) {
    FZ_CHECK(r == -1, "n = 0 gave %d", r);
  } else if (x != x) {
    FZ_CHECK(r == 0, "NaN x gave %d", r);
  } else if (x > knots[n - 1]) {
    FZ_CHECK(r == (int)n - 1, "x above the last knot gave %d", r);
  } else if (x < knots[0]) {
    FZ_CHECK(r == -1, "x below the first knot gave %d", r);
  } else if (n >= 2) {
    /* knots[r] <= x < knots[r + 1]; x may equal knots[r + 1] only as the
       last knot or as a repeated one. */
    FZ_CHECK(r >= 0 && r <= (int)n - 2, "x=%.17g inside gave %d (n=%u)", x, r, n);
    FZ_CHECK(knots[r] <= x && x <= knots[r + 1], "x=%.17g not in [%.17g, %.17g] (r=%d)", x,
             knots[r], knots[r + 1], r);
    if (x == knots[r + 1])
      FZ_CHECK(r + 1 == (int)n - 1 || knots[r] == knots[r + 1],
               "x=%.17g equal to interior knot %d gave %d", x, r + 1, r);
  }
  free(knots);
  free(saved);
  return 0;
}
