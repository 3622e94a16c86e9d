#include <stddef.h>
#include <string.h>

#include "kelm_math/lin_alg.h"

/* Matrix and vector products for the small sizes this engine lives on.

   Every product is built from one register block: up to 4 by 4 elements of
   a matrix product, or 16 of a matrix-vector product, held in local
   accumulators while the inner dimension runs.
   Instantiated with constant sizes, the block unrolls completely and its
   rows become vector operations, with no call, allocation or alias check
   per element. Each element sums its terms in inner-index order starting
   from the first product, so blocking never changes a result: the numbers
   depend on the sizes only, not on the block shapes or the optimizer
   (contraction to FMA stays off). Wide matrix products (both result
   dimensions from SWAP_MIN) pack B first and use blocks whose lanes run
   along diagonals (see swapBlock), with the same order per element.
   Reductions along a contiguous column (dot products) use four
   interleaved partial sums instead; see kelm_math/dot_order.h. */

/* The blocks rely on complete unrolling of their short constant loops,
   which -O3 does on its own and -O2 only when asked. */
#if defined(__GNUC__)
#define KELM_ALWAYS_INLINE static inline __attribute__((always_inline))
#define KELM_NOINLINE __attribute__((noinline))
#define KELM_PRAGMA(text) _Pragma(#text)
#define KELM_UNROLL_ROWS KELM_PRAGMA(GCC unroll 8)
#define KELM_UNROLL_COLUMNS KELM_PRAGMA(GCC unroll 4)
#else
#define KELM_ALWAYS_INLINE static inline
#define KELM_NOINLINE
#define KELM_UNROLL_ROWS
#define KELM_UNROLL_COLUMNS
#endif

/* Blocks of a matrix product are up to 4 by 4 (eight pairs of accumulators
   and room for the factors in sixteen registers); a matrix-vector block has
   up to 16 rows, enough independent sums to hide the latency of the adds. */
enum { MAX_ROWS = 16, MAX_COLS = 4, PRODUCT_ROWS = 4, VECTOR_ROWS = 16, PANEL_DEPTH = 256 };
/* Up to this many columns of B a transposed factor is read in place; wider
   products copy it into row order first (measured: in place is faster up
   to n = 12, copying from about n = 30). */
enum { GATHER_COLUMNS = 16 };
enum { START = 0, CONTINUE = 1 };     /* accumulators from the first product, or from c */
enum { STORE = 0, ADD = 1, SUB = 2 }; /* what the block does with c at the end */

/* Two doubles side by side: the vector registers of every 64-bit target
   (a plain pair elsewhere). Both lanes compute exactly what scalar code
   would; there is no cross-lane arithmetic but where stated. */
#if defined(__GNUC__)
typedef double pair __attribute__((vector_size(16)));
static inline pair pairLoad(const double* p) {
  pair v;
  memcpy(&v, p, sizeof v);
  return v;
}
static inline void pairStore(double* p, pair v) { memcpy(p, &v, sizeof v); }
static inline pair pairSplat(double x) {
  pair v = {x, x};
  return v;
}
static inline pair pairAdd(pair x, pair y) { return x + y; }
static inline pair pairSub(pair x, pair y) { return x - y; }
static inline pair pairMul(pair x, pair y) { return x * y; }
static inline double pairLow(pair v) { return v[0]; }
static inline double pairHigh(pair v) { return v[1]; }
#else
typedef struct {
  double lo, hi;
} pair;
static inline pair pairLoad(const double* p) {
  pair v = {p[0], p[1]};
  return v;
}
static inline void pairStore(double* p, pair v) {
  p[0] = v.lo;
  p[1] = v.hi;
}
static inline pair pairSplat(double x) {
  pair v = {x, x};
  return v;
}
static inline pair pairAdd(pair x, pair y) {
  pair v = {x.lo + y.lo, x.hi + y.hi};
  return v;
}
static inline pair pairSub(pair x, pair y) {
  pair v = {x.lo - y.lo, x.hi - y.hi};
  return v;
}
static inline pair pairMul(pair x, pair y) {
  pair v = {x.lo * y.lo, x.hi * y.hi};
  return v;
}
static inline double pairLow(pair v) { return v.lo; }
static inline double pairHigh(pair v) { return v.hi; }
#endif

static inline pair pairUpdate(pair old, pair sum, int mode) {
  return mode == ADD ? pairAdd(old, sum) : mode == SUB ? pairSub(old, sum) : sum;
}
static inline double scalarUpdate(double old, double sum, int mode) {
  return mode == ADD ? old + sum : mode == SUB ? old - sum : sum;
}

/* Rows r and r + 1 of a factor whose rows lie `ar` apart (contiguous when
   ar is 1). */
KELM_ALWAYS_INLINE pair rowPair(const double* a, int contiguous, ptrdiff_t ar) {
  pair v;
  if (contiguous) return pairLoad(a);
  v = pairSplat(a[0]);
#if defined(__GNUC__)
  v[1] = a[ar];
#else
  v.hi = a[ar];
#endif
  return v;
}

/* One R by S block: acc(r, s) = sum over p < k of a[p * sa + r * ar] * b[p * bp + s * bs],
   then c[r + s * ldc] = acc, c + acc or c - acc. k >= 1. Rows go in pairs,
   an odd last row on its own; `contiguous` (a constant) says ar is 1. */
KELM_ALWAYS_INLINE void block(int R, int S, int k, const double* a, ptrdiff_t sa, int contiguous,
                              ptrdiff_t ar, const double* b, ptrdiff_t bp, ptrdiff_t bs, double* c,
                              ptrdiff_t ldc, int init, int mode) {
  pair acc[MAX_COLS][MAX_ROWS / 2];
  double last[MAX_COLS];
  const int H = R / 2, odd = R & 1;
  int p = 0, h, s;
  if (init == START) {
    KELM_UNROLL_COLUMNS
    for (s = 0; s < S; ++s) {
      double bv = b[s * bs];
      KELM_UNROLL_ROWS
      for (h = 0; h < H; ++h)
        acc[s][h] = pairMul(rowPair(a + 2 * h * ar, contiguous, ar), pairSplat(bv));
      if (odd) last[s] = a[(R - 1) * ar] * bv;
    }
    p = 1;
  } else {
    KELM_UNROLL_COLUMNS
    for (s = 0; s < S; ++s) {
      KELM_UNROLL_ROWS
      for (h = 0; h < H; ++h) acc[s][h] = pairLoad(c + s * ldc + 2 * h);
      if (odd) last[s] = c[s * ldc + R - 1];
    }
  }
  for (; p < k; ++p) {
    const double* ap = a + p * sa;
    const double* bq = b + p * bp;
    KELM_UNROLL_COLUMNS
    for (s = 0; s < S; ++s) {
      double bv = bq[s * bs];
      KELM_UNROLL_ROWS
      for (h = 0; h < H; ++h)
        acc[s][h] =
            pairAdd(acc[s][h], pairMul(rowPair(ap + 2 * h * ar, contiguous, ar), pairSplat(bv)));
      if (odd) last[s] += ap[(R - 1) * ar] * bv;
    }
  }
  KELM_UNROLL_COLUMNS
  for (s = 0; s < S; ++s) {
    double* cs = c + s * ldc;
    KELM_UNROLL_ROWS
    for (h = 0; h < H; ++h)
      pairStore(cs + 2 * h, pairUpdate(pairLoad(cs + 2 * h), acc[s][h], mode));
    if (odd) cs[R - 1] = scalarUpdate(cs[R - 1], last[s], mode);
  }
}

/* The product block for R and S in 1..4, each shape compiled on its own,
   for rows of A that are contiguous (ar = 1) or lie ar apart. */
static void productBlock(int R, int S, int k, const double* a, ptrdiff_t sa, ptrdiff_t ar,
                         const double* b, ptrdiff_t bp, ptrdiff_t bs, double* c, ptrdiff_t ldc,
                         int init) {
#define KELM_BLOCK(RR, SS, CONTIGUOUS)                                       \
  case RR * 4 + SS - 5:                                                      \
    block(RR, SS, k, a, sa, CONTIGUOUS, ar, b, bp, bs, c, ldc, init, STORE); \
    return;
#define KELM_BLOCK_ROW(RR, CONTIGUOUS) \
  KELM_BLOCK(RR, 1, CONTIGUOUS)        \
  KELM_BLOCK(RR, 2, CONTIGUOUS) KELM_BLOCK(RR, 3, CONTIGUOUS) KELM_BLOCK(RR, 4, CONTIGUOUS)
  if (ar == 1) {
    switch (R * 4 + S - 5) {
      KELM_BLOCK_ROW(1, 1)
      KELM_BLOCK_ROW(2, 1)
      KELM_BLOCK_ROW(3, 1)
      KELM_BLOCK_ROW(4, 1)
      default: return;
    }
  }
  switch (R * 4 + S - 5) {
    KELM_BLOCK_ROW(1, 0)
    KELM_BLOCK_ROW(2, 0)
    KELM_BLOCK_ROW(3, 0)
    KELM_BLOCK_ROW(4, 0)
    default: return;
  }
#undef KELM_BLOCK_ROW
#undef KELM_BLOCK
}

/* c (R, 1 to 16) = A x, c + A x or c - A x for A R by n with leading
   dimension lda. */
static void vectorBlock(int R, int n, const double* a, ptrdiff_t lda, const double* x, double* c,
                        int mode) {
#define KELM_BLOCK(RR)                                         \
  case RR:                                                     \
    block(RR, 1, n, a, lda, 1, 1, x, 1, 0, c, 0, START, mode); \
    return;
#define KELM_BLOCKS_FROM(RR) KELM_BLOCK(RR) KELM_BLOCK(RR + 1) KELM_BLOCK(RR + 2) KELM_BLOCK(RR + 3)
  switch (R) {
    KELM_BLOCKS_FROM(1)
    KELM_BLOCKS_FROM(5)
    KELM_BLOCKS_FROM(9)
    KELM_BLOCKS_FROM(13)
    default: return;
  }
#undef KELM_BLOCKS_FROM
#undef KELM_BLOCK
}

static void zeroColumns(int m, int n, double* c, int ldc) {
  int i, j;
  for (j = 0; j < n; ++j)
    for (i = 0; i < m; ++i) c[i + (ptrdiff_t)j * ldc] = 0.0;
}

/* Height of the next row block: `rows`, or what remains (three rows stay
   one block rather than two and one). */
static int blockRows(int remaining, int rows) { return remaining < rows ? remaining : rows; }

/* c (m by n, leading dimension ldc) = A B with A(i, p) = a[i * ar + p * ap]
   and B(p, j) = b[p * bp + j * bs]. */
static void multiplyPlainStrided(int m, int k, int n, const double* a, ptrdiff_t ar, ptrdiff_t ap,
                                 const double* b, ptrdiff_t bp, ptrdiff_t bs, double* c, int ldc) {
  int i, j;
  if (m <= 0 || n <= 0) return;
  if (k <= 0) {
    zeroColumns(m, n, c, ldc);
    return;
  }
  for (j = 0; j < n; j += MAX_COLS) {
    int S = n - j < MAX_COLS ? n - j : MAX_COLS;
    for (i = 0; i < m; i += PRODUCT_ROWS) {
      int R = blockRows(m - i, PRODUCT_ROWS);
      productBlock(R, S, k, a + i * ar, ap, ar, b + j * bs, bp, bs, c + i + (ptrdiff_t)j * ldc, ldc,
                   START);
    }
  }
}

/* Wide products avoid broadcasting elements of B, which costs a shuffle
   per element and block. Instead, for two rows (i, i + 1) and two columns
   (j, j + 1), one pair multiplies {A(i, p), A(i + 1, p)} by {B(p, j),
   B(p, j + 1)} (the diagonal: C(i, j) and C(i + 1, j + 1)) and by the
   swapped {B(p, j + 1), B(p, j)} (the anti-diagonal: C(i, j + 1) and
   C(i + 1, j)). Each lane still sums one element in order of p. B is first
   packed, pair and swapped pair for each p, a strip of columns at a time. */
enum { SWAP_ROWS = 32, SWAP_COLUMNS = 8, SWAP_DEPTH = 64, SWAP_MIN = 16 };

/* {low of x, low of y} and {high of x, high of y} */
static inline pair pairLows(pair x, pair y) {
  pair w = {pairLow(x), pairLow(y)};
  return w;
}
static inline pair pairHighs(pair x, pair y) {
  pair w = {pairHigh(x), pairHigh(y)};
  return w;
}
/* {low of x, high of y} */
static inline pair pairBlend(pair x, pair y) {
  pair w = {pairLow(x), pairHigh(y)};
  return w;
}

/* One R by S block (R, S in {2, 4}, both even): acc over p < k of the rows
   a + p * sa (contiguous pairs) times the packed columns bk + p * 2 * S,
   stored to c (START) or continuing from c (CONTINUE). */
KELM_ALWAYS_INLINE void swapBlock(int R, int S, int k, const double* a, ptrdiff_t sa,
                                  const double* bk, double* c, ptrdiff_t ldc, int init) {
  pair diag[MAX_COLS / 2][PRODUCT_ROWS / 2], anti[MAX_COLS / 2][PRODUCT_ROWS / 2];
  const int H = R / 2, T = S / 2;
  int p = 0, h, t;
  if (init == START) {
    KELM_UNROLL_COLUMNS
    for (t = 0; t < T; ++t) {
      pair b = pairLoad(bk + 4 * t), bs = pairLoad(bk + 4 * t + 2);
      KELM_UNROLL_ROWS
      for (h = 0; h < H; ++h) {
        pair av = pairLoad(a + 2 * h);
        diag[t][h] = pairMul(av, b);
        anti[t][h] = pairMul(av, bs);
      }
    }
    p = 1;
  } else {
    KELM_UNROLL_COLUMNS
    for (t = 0; t < T; ++t) {
      const double* c0 = c + 2 * t * ldc;
      KELM_UNROLL_ROWS
      for (h = 0; h < H; ++h) {
        pair col0 = pairLoad(c0 + 2 * h), col1 = pairLoad(c0 + ldc + 2 * h);
        diag[t][h] = pairBlend(col0, col1);
        anti[t][h] = pairBlend(col1, col0);
      }
    }
  }
  for (; p < k; ++p) {
    const double* ap = a + p * sa;
    const double* bq = bk + p * 2 * S;
    KELM_UNROLL_COLUMNS
    for (t = 0; t < T; ++t) {
      pair b = pairLoad(bq + 4 * t), bs = pairLoad(bq + 4 * t + 2);
      KELM_UNROLL_ROWS
      for (h = 0; h < H; ++h) {
        pair av = pairLoad(ap + 2 * h);
        diag[t][h] = pairAdd(diag[t][h], pairMul(av, b));
        anti[t][h] = pairAdd(anti[t][h], pairMul(av, bs));
      }
    }
  }
  KELM_UNROLL_COLUMNS
  for (t = 0; t < T; ++t) {
    double* c0 = c + 2 * t * ldc;
    KELM_UNROLL_ROWS
    for (h = 0; h < H; ++h) {
      pairStore(c0 + 2 * h, pairBlend(diag[t][h], anti[t][h]));
      pairStore(c0 + ldc + 2 * h, pairBlend(anti[t][h], diag[t][h]));
    }
  }
}

static void swapProductBlock(int R, int S, int k, const double* a, ptrdiff_t sa, const double* bk,
                             double* c, ptrdiff_t ldc, int init) {
  if (R == 4 && S == 4)
    swapBlock(4, 4, k, a, sa, bk, c, ldc, init);
  else if (R == 4)
    swapBlock(4, 2, k, a, sa, bk, c, ldc, init);
  else if (S == 4)
    swapBlock(2, 4, k, a, sa, bk, c, ldc, init);
  else
    swapBlock(2, 2, k, a, sa, bk, c, ldc, init);
}

/* Packs `depth` rows of the (even) `cols` columns B(p, j) = b[p * bp + j * bs]
   in strips of up to four: per p, {B(p, j), B(p, j + 1)}, {B(p, j + 1),
   B(p, j)} for each pair of the strip. */
static void packSwapColumns(int cols, int depth, const double* b, ptrdiff_t bp, ptrdiff_t bs,
                            double* out) {
  int j, p, t;
  for (j = 0; j < cols; j += MAX_COLS) {
    int S = cols - j < MAX_COLS ? cols - j : MAX_COLS;
    for (t = 0; t < S; t += 2) {
      const double* x = b + (j + t) * bs;
      const double* y = x + bs;
      double* o = out + 2 * t;
      p = 0;
      if (bp == 1) /* two rows at once from contiguous columns */
        for (; p + 2 <= depth; p += 2) {
          pair u = pairLoad(x + p), v = pairLoad(y + p);
          pairStore(o + p * 2 * S, pairLows(u, v));
          pairStore(o + p * 2 * S + 2, pairLows(v, u));
          pairStore(o + (p + 1) * 2 * S, pairHighs(u, v));
          pairStore(o + (p + 1) * 2 * S + 2, pairHighs(v, u));
        }
      for (; p < depth; ++p) {
        o[p * 2 * S] = o[p * 2 * S + 3] = x[p * bp];
        o[p * 2 * S + 1] = o[p * 2 * S + 2] = y[p * bp];
      }
    }
    out += 2 * S * depth;
  }
}

/* panel[p * R + r] = rows[r * ar + p * ap] for r < R (even), p < depth: R
   rows of A side by side, p after p. */
KELM_ALWAYS_INLINE void gatherRows(int R, int depth, const double* rows, ptrdiff_t ar, ptrdiff_t ap,
                                   double* panel) {
  int p = 0, r;
  if (ap == 1) /* two elements at once along contiguous rows */
    for (; p + 2 <= depth; p += 2) {
      KELM_UNROLL_COLUMNS
      for (r = 0; r < R; r += 2) {
        pair u = pairLoad(rows + r * ar + p), v = pairLoad(rows + (r + 1) * ar + p);
        pairStore(panel + p * R + r, pairLows(u, v));
        pairStore(panel + (p + 1) * R + r, pairHighs(u, v));
      }
    }
  for (; p < depth; ++p) {
    KELM_UNROLL_COLUMNS
    for (r = 0; r < R; ++r) panel[p * R + r] = rows[r * ar + p * ap];
  }
}

/* c = A B as multiplyPlainStrided for even m and n. Rows of A lie ar
   apart: in place when ar is 1, else up to SWAP_ROWS of them are gathered
   into row order first, for all of B's columns. */
static KELM_NOINLINE void multiplySwapped(int m, int k, int n, const double* a, ptrdiff_t ar,
                                          ptrdiff_t ap, const double* b, ptrdiff_t bp, ptrdiff_t bs,
                                          double* c, int ldc) {
  double packed[2 * SWAP_COLUMNS * SWAP_DEPTH], panel[SWAP_ROWS * SWAP_DEPTH];
  int chunk = ar == 1 ? m : SWAP_ROWS;
  int i, i0, j, j0, p0;
  for (i0 = 0; i0 < m; i0 += chunk) {
    int rows = m - i0 < chunk ? m - i0 : chunk;
    for (p0 = 0; p0 < k; p0 += SWAP_DEPTH) {
      int depth = k - p0 < SWAP_DEPTH ? k - p0 : SWAP_DEPTH;
      int init = p0 == 0 ? START : CONTINUE;
      const double* a0 = a + i0 * ar + p0 * ap;
      if (ar != 1)
        for (i = 0; i < rows; i += PRODUCT_ROWS) {
          if (rows - i >= PRODUCT_ROWS)
            gatherRows(PRODUCT_ROWS, depth, a0 + i * ar, ar, ap, panel + i * depth);
          else
            gatherRows(2, depth, a0 + i * ar, ar, ap, panel + i * depth);
        }
      for (j0 = 0; j0 < n; j0 += SWAP_COLUMNS) {
        int cols = n - j0 < SWAP_COLUMNS ? n - j0 : SWAP_COLUMNS;
        packSwapColumns(cols, depth, b + p0 * bp + j0 * bs, bp, bs, packed);
        for (i = 0; i < rows; i += PRODUCT_ROWS) {
          int R = rows - i < PRODUCT_ROWS ? rows - i : PRODUCT_ROWS;
          const double* block = ar == 1 ? a0 + i : panel + i * depth;
          ptrdiff_t sa = ar == 1 ? ap : R;
          for (j = 0; j < cols; j += MAX_COLS) {
            int S = cols - j < MAX_COLS ? cols - j : MAX_COLS;
            swapProductBlock(R, S, depth, block, sa, packed + 2 * j * depth,
                             c + i0 + i + (ptrdiff_t)(j0 + j) * ldc, ldc, init);
          }
        }
      }
    }
  }
}

/* multiplyPlainStrided for m, n >= SWAP_MIN and k >= 1: the even part
   through the swapped blocks, an odd last row and column by the plain
   blocks. Kept out of line, so that small products do not pay for its
   stack frame. */
static KELM_NOINLINE void multiplyWide(int m, int k, int n, const double* a, ptrdiff_t ar,
                                       ptrdiff_t ap, const double* b, ptrdiff_t bp, ptrdiff_t bs,
                                       double* c, int ldc) {
  int me = m & ~1, ne = n & ~1;
  multiplySwapped(me, k, ne, a, ar, ap, b, bp, bs, c, ldc);
  if (ne < n)
    multiplyPlainStrided(me, k, 1, a, ar, ap, b + ne * bs, bp, bs, c + (ptrdiff_t)ne * ldc, ldc);
  if (me < m) multiplyPlainStrided(1, k, n, a + me * ar, ar, ap, b, bp, bs, c + me, ldc);
}

/* Products wide enough to pack B for the swapped blocks. */
static int isWide(int m, int k, int n) { return m >= SWAP_MIN && n >= SWAP_MIN && k >= 1; }

static void multiplyPlain(int m, int k, int n, const double* a, int lda, const double* b,
                          ptrdiff_t bp, ptrdiff_t bs, double* c, int ldc) {
  if (isWide(m, k, n))
    multiplyWide(m, k, n, a, 1, lda, b, bp, bs, c, ldc);
  else
    multiplyPlainStrided(m, k, n, a, 1, lda, b, bp, bs, c, ldc);
}

void kelm_math_lin_alg_matrixMultiplyStrided(int m, int k, int n, int lda, int ldb, int ldc,
                                             const double* A, const double* B, double* out) {
  multiplyPlain(m, k, n, A, lda, B, 1, ldb, out, ldc);
}

void kelm_math_lin_alg_matrixMultiply(int m, int k, int n, const double* A, const double* B,
                                      double* out) {
  multiplyPlain(m, k, n, A, m, B, 1, k, out, m);
}

void kelm_math_lin_alg_matrixMultiplyTranspose(int m, int k, int n, const double* A,
                                               const double* B, double* out) {
  /* B is n by k: B(j, p) = B[j + p * n], so the transposed factor runs
     along p with stride n. */
  multiplyPlain(m, k, n, A, m, B, n, 1, out, m);
}

/* out = A^T B (A k by m, B k by n, both m and n above GATHER_COLUMNS)
   through a panel of up to four columns of A, PANEL_DEPTH deep, copied
   into row order on the stack and reused across all columns of B. Deeper
   products continue from the stored partial sums. */
static KELM_NOINLINE void transposeMultiplyPanel(int k, int m, int n, const double* A,
                                                 const double* B, double* out) {
  double panel[PRODUCT_ROWS * PANEL_DEPTH];
  int i, j, p0, p, r;
  for (i = 0; i < m; i += PRODUCT_ROWS) {
    int R = blockRows(m - i, PRODUCT_ROWS);
    for (p0 = 0; p0 < k; p0 += PANEL_DEPTH) {
      int depth = k - p0 < PANEL_DEPTH ? k - p0 : PANEL_DEPTH;
      for (r = 0; r < R; ++r) {
        const double* column = A + (ptrdiff_t)(i + r) * k + p0;
        for (p = 0; p < depth; ++p) panel[p * R + r] = column[p];
      }
      for (j = 0; j < n; j += MAX_COLS) {
        int S = n - j < MAX_COLS ? n - j : MAX_COLS;
        productBlock(R, S, depth, panel, R, 1, B + (ptrdiff_t)j * k + p0, 1, k,
                     out + i + (ptrdiff_t)j * m, m, p0 == 0 ? START : CONTINUE);
      }
    }
  }
}

void kelm_math_lin_alg_matrixTransposeMultiply(int k, int m, int n, const double* A,
                                               const double* B, double* out) {
  /* Columns of A are the rows of the result. Wide products go through the
     swapped blocks, which gather the columns into row order; with few
     columns of B the block reads them straight from A; otherwise a panel
     of them is copied. Each element sums in order of p. Panels live in
     functions of their own, so that small products do not pay for the
     large stack frame. */
  if (m <= 0 || n <= 0) return;
  if (k <= 0) {
    zeroColumns(m, n, out, m);
    return;
  }
  if (isWide(m, k, n))
    multiplyWide(m, k, n, A, k, 1, B, 1, k, out, m);
  else if (n <= GATHER_COLUMNS)
    multiplyPlainStrided(m, k, n, A, k, 1, B, 1, k, out, m);
  else
    transposeMultiplyPanel(k, m, n, A, B, out);
}

/* y (m) = A x, y + A x or y - A x for A m by n; each row block keeps its
   whole sum in registers. */
static void matrixVector(int m, int n, const double* A, const double* x, double* y, int mode) {
  int i;
  if (m <= 0) return;
  if (n <= 0) {
    if (mode == STORE)
      for (i = 0; i < m; ++i) y[i] = 0.0;
    return;
  }
  for (i = 0; i < m; i += VECTOR_ROWS)
    vectorBlock(blockRows(m - i, VECTOR_ROWS), n, A + i, m, x, y + i, mode);
}

/* y (n) = A^T x, y + A^T x or y - A^T x for A m by n: one column's dot
   product per element. */
static void matrixTransposeVector(int m, int n, const double* A, const double* x, double* y,
                                  int mode) {
  int j;
  if (n <= 0 || (m <= 0 && mode != STORE)) return;
  for (j = 0; j < n; ++j) {
    double d = kelm_math_lin_alg_dotOrder(m, A + (ptrdiff_t)j * m, x);
    y[j] = scalarUpdate(y[j], d, mode);
  }
}

void kelm_math_lin_alg_matrixVectorMultiply(int m, int n, const double* A, const double* x,
                                            double* out) {
  matrixVector(m, n, A, x, out, STORE);
}

void kelm_math_lin_alg_matrixTransposeVectorMultiply(int m, int n, const double* A, const double* x,
                                                     double* out) {
  matrixTransposeVector(m, n, A, x, out, STORE);
}

void kelm_math_lin_alg_addMatrixVectorProduct(int m, int n, const double* A, const double* x,
                                              double* y) {
  matrixVector(m, n, A, x, y, ADD);
}

void kelm_math_lin_alg_addMatrixTransposeVectorProduct(int m, int n, const double* A,
                                                       const double* x, double* y) {
  matrixTransposeVector(m, n, A, x, y, ADD);
}

void kelm_math_lin_alg_subtractMatrixVectorProduct(int m, int n, const double* A, const double* x,
                                                   double* y) {
  matrixVector(m, n, A, x, y, SUB);
}

void kelm_math_lin_alg_subtractMatrixTransposeVectorProduct(int m, int n, const double* A,
                                                            const double* x, double* y) {
  matrixTransposeVector(m, n, A, x, y, SUB);
}

double kelm_math_lin_alg_dotProduct(int n, const double* a, const double* b) {
  return kelm_math_lin_alg_dotOrder(n, a, b);
}

double kelm_math_lin_alg_computeQuadraticTerm(int n, const double* M, const double* a,
                                              const double* b) {
  /* t = M b a row block at a time, each block folded into the sum at once. */
  double t[VECTOR_ROWS], sum = 0.0;
  int i, r;
  if (n <= 0) return 0.0;
  for (i = 0; i < n; i += VECTOR_ROWS) {
    int R = blockRows(n - i, VECTOR_ROWS);
    vectorBlock(R, n, M + i, n, b, t, STORE);
    r = 0;
    if (i == 0) sum = a[0] * t[r++];
    for (; r < R; ++r) sum += a[i + r] * t[r];
  }
  return sum;
}
