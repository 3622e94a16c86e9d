/* zeph_core_math_anyIsInf, anyIsNaN and computeIndicesNonzeroElements
   against plain scans; indices gets exactly as many entries as flags are
   set (or n, with the tail checked), so any extra write is seen. */
#include <limits.h>

#include "fuzz_common.h"
#include "zeph_core/ckernels.h"

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = {data, size};
  unsigned mode = fz_byte(&in), n = (unsigned)fz_range(&in, 0, 64), set = 0, next = 0;
  double* v = fz_filled(&in, n, 0);
  int *flags = fz_allocInt(n), inf = 0, nan = 0;
  for (unsigned i = 0; i < n; ++i) {
    unsigned b = fz_byte(&in);
    flags[i] = (b & 3) == 0 ? 0 : (b & 3) == 1 ? INT_MIN : (b & 3) == 2 ? 1 : (int)(b << 20);
    set += flags[i] != 0, inf |= isinf(v[i]) != 0, nan |= isnan(v[i]) != 0;
  }
  FZ_CHECK(zeph_core_math_anyIsInf(n, v) == inf && zeph_core_math_anyIsNaN(n, v) == nan, "n=%u", n);
  unsigned room = (mode & 1) ? n : set;
  int* indices = fz_allocInt(room);
  zeph_core_math_computeIndicesNonzeroElements(n, flags, indices);
  for (unsigned i = 0; i < n; ++i)
    if (flags[i] != 0) FZ_CHECK(indices[next++] == (int)i, "indices[%u] != %u", next - 1, i);
  for (unsigned k = set; k < room; ++k)
    FZ_CHECK(indices[k] == kCanaryInt, "indices[%u] written beyond the count %u", k, set);
  free(v), free(flags), free(indices);
  return 0;
}
