/* Dense linear-algebra kernels, C linkage. Arrays are caller-owned and
   contiguous; matrices are column-major. No function allocates or fails:
   a size of 0 (or below) does nothing. */
#ifndef KELM_MATH_LIN_ALG_H
#define KELM_MATH_LIN_ALG_H

#ifdef __cplusplus
extern "C" {
#endif

/* out[i] = a[i] + b[i] for i < n. out may be a or b itself, but not overlap
   either partially. */
void kelm_math_lin_alg_vectorAdd(int n, const double* a, const double* b, double* out);

/* out[i] = a[i] - b[i] for i < n; the same aliasing rule. */
void kelm_math_lin_alg_vectorSubtract(int n, const double* a, const double* b, double* out);

/* ---- Elementwise and layout kernels ---- */


/* ---- Products ---- */


/* ---- Predicates ---- */

/* 1 when the m rows of the m by n matrix A are pairwise distinct, else 0.
   Rows compare exactly, entry by entry with ==: -0 equals +0, and a NaN
   equals nothing, so a row holding a NaN is distinct from every row (two
   rows of NaNs included). m <= 1 gives 1; for m >= 2 and n <= 0 the rows
   are empty and equal, giving 0.
   work holds m*n doubles when n <= 3 and m*(n + 1) when n >= 4 (it is not
   read before it is written). Above a few rows, the rows are copied there
   row by row and sorted lexicographically, so that equal rows become
   neighbours: narrow rows are sorted in place, wider ones through a
   permutation of row numbers kept in the last m entries. A is not changed. */
int kelm_math_lin_alg_hasUniqueRows(int m, int n, const double* A, double* work);

#ifdef __cplusplus
}
#endif

#endif
