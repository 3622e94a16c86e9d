/* zeph_core_math_anyIsInf, anyIsNaN and computeIndicesNonzeroElements
   against plain scans; indices gets exactly as many entries as flags are
   set (or n, with the tail checked), so any extra write is seen. */
#include <limits.h>

#include "fuzz_common.h"
#include "zeph_core/ckernels.h"

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = {data, size};
  unsigned mode = fz_byte(&in);
  unsigned n = (unsigned)fz_range(&in, 0, 64);
  if ((mode & 3) < 2) {
    double* v = fz_alloc(n);
    fz_fill(&in, v, n, 0);
    int expected = 0;
    for (unsigned i = 0; i < n; ++i)
      if ((mode & 3) == 0 ? isinf(v[i]) : isnan(v[i])) expected = 1;
    int got = (mode & 3) == 0 ? zeph_core_math_anyIsInf(n, v) : zeph_core_math_anyIsNaN(n, v);
    FZ_CHECK(got == expected, "%s: got %d, expected %d (n=%u)",
             (mode & 3) == 0 ? "anyIsInf" : "anyIsNaN", got, expected, n);
    free(v);
    return 0;
  }
  int* flags = fz_allocInt(n);
  unsigned set = 0;
  for (unsigned i = 0; i < n; ++i) {
    unsigned b = fz_byte(&in);
    flags[i] = (b & 3) == 0 ? 0 : (b & 3) == 1 ? INT_MIN : (b & 3) == 2 ? 1 : (int)(b << 20);
    set += flags[i] != 0;
  }
  unsigned room = (mode & 4) ? n : set;
  int* indices = fz_allocInt(room);
  zeph_core_math_computeIndicesNonzeroElements(n, flags, indices);
  unsigned next = 0;
  for (unsigned i = 0; i < n; ++i)
    if (flags[i] != 0) {
      FZ_CHECK(indices[next] == (int)i, "indices[%u] = %d, expected %u", next, indices[next], i);
      ++next;
    }
  for (unsigned k = set; k < room; ++k)
    FZ_CHECK(indices[k] == kCanaryInt, "indices[%u] written beyond the count %u", k, set);
  free(flags);
  free(indices);
  return 0;
}
