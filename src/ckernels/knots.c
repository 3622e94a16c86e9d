#include "zeph_core/ckernels.h"

int zeph_core_math_indexOfLowerBound(unsigned int n, const double* knots, double x) {
  unsigned int lo = 0, hi, mid;
  if (n == 0) return -1;
  if (x > knots[n - 1]) return (int)(n - 1);
  if (knots[0] > x) return -1;
  hi = n - 1;
  for (;;) {
    mid = lo + (hi - lo) / 2;
    if (mid == lo || x == knots[mid]) return (int)mid;
    if (x > knots[mid])
      lo = mid;
    else
      hi = mid;
  }
}
