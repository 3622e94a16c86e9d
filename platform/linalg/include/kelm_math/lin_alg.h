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

/* out[i] = scale * a[i] for i < n. out may be a itself. */
void kelm_math_lin_alg_vectorScale(int n, double scale, const double* a, double* out);

/* out[i] = -a[i] for i < n. out may be a itself. */
void kelm_math_lin_alg_vectorNegate(int n, const double* a, double* out);

/* out (n by m) = transpose of a (m by n). out must not overlap a. */
void kelm_math_lin_alg_transposeColMajor(int m, int n, const double* a, double* out);

/* out = a + transpose(a), resp. a - transpose(a), for an n by n matrix a.
   out may be a itself (each symmetric pair is read before it is written). */
void kelm_math_lin_alg_matrixTransposeAdd(int n, const double* a, double* out);
void kelm_math_lin_alg_matrixTransposeSubtract(int n, const double* a, double* out);

/* The last k columns of the m by n matrix a become the m by k matrix out:
   m * k elements from element m * (n - k) on, offsets and counts in 32-bit
   unsigned arithmetic. Nothing is copied when k <= 0 or k > n. */
void kelm_math_lin_alg_shiftColumns(int m, int n, int k, const double* a, double* out);

/* out (m by n) = a with column j multiplied by s[j] (scaleColumns), divided
   by s[j] (inverseScaleColumns), or row i multiplied by s[i] (scaleRows),
   divided by s[i] (inverseScaleRows). A zero factor divides as IEEE does
   (infinities, NaN). out may be a itself but must not overlap s. */
void kelm_math_lin_alg_scaleColumns(int m, int n, const double* a, const double* s, double* out);
void kelm_math_lin_alg_inverseScaleColumns(int m, int n, const double* a, const double* s,
                                           double* out);
void kelm_math_lin_alg_scaleRows(int m, int n, const double* a, const double* s, double* out);
void kelm_math_lin_alg_inverseScaleRows(int m, int n, const double* a, const double* s,
                                        double* out);

/* In place: row i of the m by n matrix a becomes +0.0 wherever flags[i] is
   nonzero (i < m); other rows keep their bits. */
void kelm_math_lin_alg_zeroMajor(int m, int n, const int* flags, double* a);

/* In place: for j = 0, 1, ..., k - 1 in turn, column j of the m by n matrix
   a becomes a copy of column indices[j] as it is at that moment, so that
   strictly increasing indices keep those k columns, compacted to the front.
   An index outside [0, n) leaves column j as it is; columns k to n - 1 keep
   their values. Nothing happens when k <= 0 or k > n. */
void kelm_math_lin_alg_reduceMatrix(int m, int n, int k, const int* indices, double* a);

/* In place, the inverse of a compaction: entry i < n of v moves to position
   indices[i] of the nMax vector v, every other position becomes +0.0.
   Indices are meant strictly increasing in [0, nMax); walking from the last
   entry down, an entry whose index is out of range or not below the index
   taken after it is dropped. Nothing happens when n < 0 or n > nMax. */
void kelm_math_lin_alg_expandVector(int nMax, int n, const int* indices, double* v);

/* dst[dstStride * j + i] = src[srcStride * j + i] for i < rows, j < cols:
   a rows by cols block between matrices of leading dimensions srcStride and
   dstStride. src and dst must not overlap. */
void kelm_math_lin_alg_matrixAssignStrided(int rows, int cols, int srcStride, int dstStride,
                                           const double* src, double* dst);

/* ---- Products ---- */
/* Products of column-major arrays. The result must not overlap a factor.
   A result element sums its terms in inner-index order, starting from the
   first product; an inner dimension of 0 gives zeros. Dot products and the
   products with a transposed matrix and a vector reduce along columns in
   four interleaved partial sums (exact order in products.c). No function
   allocates; a result dimension of 0 or below writes nothing. */

#include "kelm_math/dot_order.h"

/* out (m by n) = A (m by k) B (k by n). */
void kelm_math_lin_alg_matrixMultiply(int m, int k, int n, const double* A, const double* B,
                                      double* out);

/* out (m by n) = A^T B with A k by m and B k by n. */
void kelm_math_lin_alg_matrixTransposeMultiply(int k, int m, int n, const double* A,
                                               const double* B, double* out);

/* out (m by n) = A B^T with A m by k and B n by k. */
void kelm_math_lin_alg_matrixMultiplyTranspose(int m, int k, int n, const double* A,
                                               const double* B, double* out);

/* out (m by n, element (i, j) at i + j * ldc) = A B with A(i, p) at
   i + p * lda and B(p, j) at p + j * ldb. Elements of out between the
   columns (rows m to ldc - 1) are left as they are. */
void kelm_math_lin_alg_matrixMultiplyStrided(int m, int k, int n, int lda, int ldb, int ldc,
                                             const double* A, const double* B, double* out);

/* out (m) = A x with A m by n; n = 0 gives zeros. */
void kelm_math_lin_alg_matrixVectorMultiply(int m, int n, const double* A, const double* x,
                                            double* out);

/* out (n) = A^T x with A m by n, x of m; m = 0 gives zeros. */
void kelm_math_lin_alg_matrixTransposeVectorMultiply(int m, int n, const double* A, const double* x,
                                                     double* out);

/* y (m) = y + A x, resp. y - A x, with A m by n; A x is summed exactly as by
   matrixVectorMultiply and then added. y must not overlap A or x. */
void kelm_math_lin_alg_addMatrixVectorProduct(int m, int n, const double* A, const double* x,
                                              double* y);
void kelm_math_lin_alg_subtractMatrixVectorProduct(int m, int n, const double* A, const double* x,
                                                   double* y);

/* y (n) = y + A^T x, resp. y - A^T x, with A m by n, x of m; A^T x as by
   matrixTransposeVectorMultiply. y must not overlap A or x. */
void kelm_math_lin_alg_addMatrixTransposeVectorProduct(int m, int n, const double* A,
                                                       const double* x, double* y);
void kelm_math_lin_alg_subtractMatrixTransposeVectorProduct(int m, int n, const double* A,
                                                            const double* x, double* y);

/* The sum of a[i] b[i] over i < n; 0 for n <= 0. Its body,
   kelm_math_lin_alg_dotOrder, is inline in kelm_math/dot_order.h. */
double kelm_math_lin_alg_dotProduct(int n, const double* a, const double* b);

/* The quadratic (bilinear) term a^T M b = sum over i of a[i] (M b)[i] for M
   n by n, with (M b)[i] summed as by matrixVectorMultiply and the outer sum
   taken in order of i; 0 for n <= 0. */
double kelm_math_lin_alg_computeQuadraticTerm(int n, const double* M, const double* a,
                                              const double* b);

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

/* ---- Linear solvers ---- */

/* ---- Eigen and singular value decompositions ---- */

/* ---- Symmetric 3-by-3 eigenproblem and tridiagonal systems ---- */

/* Eigenvalues w (3) and eigenvectors V (9) of the symmetric 3-by-3 matrix
   with diagonal d (xx, yy, zz) and off-diagonal o (yz, zx, xy: term i
   couples the two axes other than i), by cyclic Jacobi rotations.
   - Sweeps rotate the planes (x, y), (x, z), (y, z) in turn, each rotation
     zeroing its coupling term exactly. A term is dropped without rotating
     once it is at most 2^-54 times both diagonal entries of its plane; the
     iteration ends after the first sweep that rotates nothing, and after 32
     sweeps at most (random matrices need 3 or 4 sweeps that rotate).
   - Accuracy: A V - V diag(w) and V^T V - I are a few ulps of max |w|.
   - Order and signs: w is not sorted; w[k] is the diagonal entry k the
     rotations end with, so a diagonal input gives w = d and V = I. V is
     stored column by column (the layout Matrix3x3_T(V, false) reads),
     column k being the unit eigenvector of w[k]; as a product of plane
     rotations V is a proper rotation (determinant +1).
   - Non-finite input is not checked: NaN and infinities pass into w and V,
     and the iteration stops once an off-diagonal term is non-finite after
     the first sweep. It always terminates. */
void kelm_math_lin_alg_jacobi3(const double* d, const double* o, double* w, double* V);

/* Solves the symmetric tridiagonal system T x = rhs in place: x replaces
   rhs. T has diagonal diag (n) and off-diagonal offdiag (n - 1), entry i
   coupling variables i and i + 1. diag and offdiag are overwritten by the
   factors of T = L D L^T, computed without pivoting, so T should be
   diagonally dominant or definite. Returns 0 on success, or k (1 <= k <= n)
   when the k-th pivot of D is exactly zero; rhs is then partly overwritten.
   n <= 0 does nothing and returns 0; n = 1 divides by diag[0]. */
int kelm_math_lin_alg_solveTriDiagSymm(double* diag, double* offdiag, double* rhs, int n);

/* The periodic variant: as solveTriDiagSymm, with `corner` also coupling
   variables 0 and n - 1, so row i reads offdiag[i-1] x[i-1] + diag[i] x[i]
   + offdiag[i] x[i+1] with indices taken cyclically and offdiag[n-1] =
   corner. Thus n = 2 couples the two variables by offdiag[0] + corner, and
   n = 1 solves (diag[0] + 2 corner) x = rhs. For n >= 3 the corner is
   removed by a rank-one (Sherman-Morrison) correction, which needs the n
   doubles of work; their contents on entry are not read. Returns 0 on
   success, k (1 <= k <= n) for a zero pivot of the modified tridiagonal
   factorization, or n + 1 when the correction is singular. */
int kelm_math_lin_alg_solveTriDiagSymmPer(double* diag, double* offdiag, double* rhs, int n,
                                          double corner, double* work);

#ifdef __cplusplus
}
#endif

#endif
