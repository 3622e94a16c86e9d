/* zeph_core_math_castelEval: exactly the levels (1 - t) a + t b, the end
   points as given at t = 0 and t = 1, zeros and nothing read outside the
   work storage, the same result when out overlaps points. */
#include "fuzz_common.h"
#include "zeph_core/ckernels.h"

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = {data, size};
  unsigned mode = fz_byte(&in), n = (unsigned)fz_range(&in, 0, 110);
  unsigned dim = (unsigned)fz_range(&in, 0, 12);
  double t, w[128];
  switch (mode >> 1 & 7) {
    case 0: t = 0.0; break;
    case 1: t = 1.0; break;
    case 2: t = -0.0; break;
    case 3: t = fz_moderate(&in) / 32.0; break;
    default: t = fz_double(&in);
  }
  size_t count = (size_t)n * dim;
  double* points = fz_filled(&in, (ptrdiff_t)count, mode & 1);
  double* out = fz_alloc(dim);

  zeph_core_math_castelEval(n, dim, points, out, t);

  if (dim == 0) goto done; /* a zero-byte out: ASan saw any write */
  FZ_CHECK(fz_noCanary(out, dim), "out not written: n=%u dim=%u", n, dim);
  if (n == 0 || (unsigned long long)(n - 1) * dim > 100) {
    for (unsigned k = 0; k < dim; ++k)
      FZ_CHECK(out[k] == 0.0 && !signbit(out[k]), "expected +0 at %u, got %g", k, out[k]);
    goto done;
  }
  for (unsigned k = 0; k < dim; ++k) {
    const double* end = t == 0.0 ? points : points + (size_t)(n - 1) * dim;
    for (unsigned i = 0; i < n; ++i) w[i] = points[(size_t)i * dim + k];
    for (unsigned level = n - 1; level > 0; --level)
      for (unsigned i = 0; i < level; ++i) w[i] = (1.0 - t) * w[i] + t * w[i + 1];
    if (t == 0.0 || t == 1.0 || n == 1)
      FZ_CHECK(fz_identical(out + k, end + k, 1), "t = %g: not the end point at %u", t, k);
    else
      FZ_CHECK(fz_same(out[k], w[0]), "n=%u dim=%u t=%.17g k=%u: got %.17g, the levels %.17g", n,
               dim, t, k, out[k], w[0]);
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
