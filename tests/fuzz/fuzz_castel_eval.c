/* zeph_core_math_castelEval: bounds, the fixed cases (t = 0, t = 1, one
   point, too many points), agreement with a plain evaluation, finiteness,
   and the same bits when out overlaps points. */
#include "fuzz_common.h"
#include "zeph_core/ckernels.h"

/* Bernstein-free reference: the triangle of linear interpolations in long
   double, for the tolerance check only. */
static long double reference(unsigned n, unsigned dim, const double* p, unsigned k, double t) {
  long double w[128];
  for (unsigned i = 0; i < n; ++i) w[i] = p[(size_t)i * dim + k];
  for (unsigned level = n; level > 1; --level)
    for (unsigned i = 0; i + 1 < level; ++i) w[i] = (1.0L - t) * w[i] + t * w[i + 1];
  return w[0];
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = {data, size};
  unsigned mode = fz_byte(&in);
  unsigned n = (unsigned)fz_range(&in, 0, 110);
  unsigned dim = (unsigned)fz_range(&in, 0, 12);
  int moderate = mode & 1;
  double t;
  switch (mode >> 1 & 7) {
    case 0: t = 0.0; break;
    case 1: t = 1.0; break;
    case 2: t = -0.0; break;
    case 3: t = fz_moderate(&in) / 32.0; break;
    default: t = fz_double(&in);
  }
  size_t count = (size_t)n * dim;
  double* points = fz_alloc((ptrdiff_t)count);
  fz_fill(&in, points, (ptrdiff_t)count, moderate);
  double* out = fz_alloc(dim);

  zeph_core_math_castelEval(n, dim, points, out, t);

  if (dim == 0) goto done; /* a zero-byte out: ASan saw any write */
  FZ_CHECK(fz_noCanary(out, dim), "out not written: n=%u dim=%u", n, dim);
  if (n == 0 || (unsigned long long)(n - 1) * dim > 100) {
    for (unsigned k = 0; k < dim; ++k)
      FZ_CHECK(out[k] == 0.0 && !signbit(out[k]), "expected +0 at %u, got %g", k, out[k]);
    goto done;
  }
  if (t == 0.0)
    FZ_CHECK(fz_identical(out, points, dim), "t = 0 must give the first point");
  else if (t == 1.0 || n == 1)
    FZ_CHECK(fz_identical(out, points + (size_t)(n - 1) * dim, dim),
             "t = 1 or n = 1 must give the last point");

  /* De Casteljau grows values by at most (|1 - t| + |t|) per level. */
  double pmax = fz_maxAbs(points, (ptrdiff_t)count);
  if (fz_allFinite(points, (ptrdiff_t)count) && t >= -2.0 && t <= 3.0 &&
      pmax * pow(5.0, (double)n) < 1e300) {
    for (unsigned k = 0; k < dim; ++k) {
      FZ_CHECK(isfinite(out[k]), "finite points at t=%g gave %g (n=%u dim=%u)", t, out[k], n, dim);
      long double r = reference(n, dim, points, k, t);
      double growth = pow(fabs(t) + fabs(1.0 - t), (double)n);
      double scale = pmax * growth;
      /* Near the subnormals each step can lose up to the smallest double in
         absolute terms, and extrapolation grows that too. */
      long double underflow = 4.9406564584124654e-324L * n * growth;
      FZ_CHECK(fabsl((long double)out[k] - r) <= 1e-13L * n * scale + 1e-300L + underflow,
               "n=%u dim=%u t=%.17g k=%u: got %.17g, expected %.17Lg", n, dim, t, k, out[k], r);
    }
  }

  /* Overlap: out at the start, and (when it fits) at the end of points. */
  if (count >= dim) {
    double* alias = fz_copy(points, (ptrdiff_t)count);
    size_t at = (mode & 0x40) ? count - dim : 0;
    zeph_core_math_castelEval(n, dim, alias, alias + at, t);
    FZ_CHECK(fz_sameArray(alias + at, out, dim), "overlapping out changed the result");
    free(alias);
  }
done:
  free(points);
  free(out);
  return 0;
}
