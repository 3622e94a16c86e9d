#include <stddef.h>

#include "kelm_math/lin_alg.h"

/* Up to this many rows, comparing every pair costs less than copying and
   sorting. */
#define PAIRWISE_ROWS 8

/* Rows of A at column stride m are equal when every pair of entries is. */
static int equalRowsStrided(const double* a, const double* b, ptrdiff_t stride, int n) {
  for (int j = 0; j < n; ++j)
    if (!(a[j * stride] == b[j * stride])) return 0;
  return 1;
}

static int uniquePairwise(int m, int n, const double* A) {
  for (int i = 1; i < m; ++i)
    for (int k = 0; k < i; ++k)
      if (equalRowsStrided(A + i, A + k, m, n)) return 0;
  return 1;
}

/* A total preorder on entries: numbers in ascending order (-0 and +0 tie),
   then every NaN, NaNs tying among themselves. Rows that are equal under ==
   tie under it, so sorting makes them neighbours. */
static int compareEntries(double a, double b) {
  if (a < b) return -1;
  if (a > b) return 1;
  if (a == b) return 0;
  return (a != a) - (b != b);
}

static int compareRows(const double* a, const double* b, int n) {
  for (int j = 0; j < n; ++j) {
    int c = compareEntries(a[j], b[j]);
    if (c != 0) return c;
  }
  return 0;
}

static int equalRows(const double* a, const double* b, int n) {
  for (int j = 0; j < n; ++j)
    if (!(a[j] == b[j])) return 0;
  return 1;
}

/* Rows stored row by row. Without `order` position p holds row p and
   sorting moves whole rows; with it position p holds row order[p] and
   sorting moves only the row numbers (exact in a double below 2^53). */
typedef struct {
  double* rows;
  double* order;
  int n;
} RowSort;

static const double* rowAt(const RowSort* s, int p) {
  ptrdiff_t row = s->order ? (ptrdiff_t)s->order[p] : p;
  return s->rows + row * s->n;
}

static int rowLess(const RowSort* s, int p, int q) {
  return compareRows(rowAt(s, p), rowAt(s, q), s->n) < 0;
}

static void swapPositions(const RowSort* s, int p, int q) {
  if (s->order) {
    double t = s->order[p];
    s->order[p] = s->order[q];
    s->order[q] = t;
    return;
  }
  double* a = s->rows + (ptrdiff_t)p * s->n;
  double* b = s->rows + (ptrdiff_t)q * s->n;
  for (int j = 0; j < s->n; ++j) {
    double t = a[j];
    a[j] = b[j];
    b[j] = t;
  }
}

static void siftDown(const RowSort* s, int root, int end) {
  for (;;) {
    int child = 2 * root + 1;
    if (child >= end) return;
    if (child + 1 < end && rowLess(s, child, child + 1)) ++child;
    if (!rowLess(s, root, child)) return;
    swapPositions(s, root, child);
    root = child;
  }
}

/* Heap sort: no recursion and no storage beyond the rows themselves. */
static void sortRows(const RowSort* s, int m) {
  for (int p = m / 2 - 1; p >= 0; --p) siftDown(s, p, m);
  for (int end = m - 1; end > 0; --end) {
    swapPositions(s, 0, end);
    siftDown(s, 0, end);
  }
}

int kelm_math_lin_alg_hasUniqueRows(int m, int n, const double* A, double* work) {
  if (m <= 1) return 1;
  if (n <= 0) return 0;
  if (m <= PAIRWISE_ROWS) return uniquePairwise(m, n, A);

  RowSort s = {work, NULL, n};
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) work[(ptrdiff_t)i * n + j] = A[(ptrdiff_t)j * m + i];
  if (n >= 4) {
    s.order = work + (ptrdiff_t)m * n;
    for (int i = 0; i < m; ++i) s.order[i] = (double)i;
  }
  sortRows(&s, m);
  for (int p = 1; p < m; ++p)
    if (equalRows(rowAt(&s, p - 1), rowAt(&s, p), n)) return 0;
  return 1;
}
