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
/* Dense solvers for the small systems of the engine (orders 3 to 30 are the
   common case): hand-written unblocked loops, LAPACK only for Cholesky
   factorizations above order 64. Matrices are column-major with leading
   dimension equal to their row count. Nothing allocates on the heap, for
   any size; the pivoted QR keeps its reference column norms in 64 stack
   doubles and, with more columns, recomputes partial norms at every step
   instead. Singular or non-finite input gives infinities or NaN as IEEE
   arithmetic does, never a trap. */

/* x = A^{-1} b for a 2 by 2 matrix A, by Gaussian elimination with row
   pivoting. x may be b itself. */
void kelm_math_lin_alg_geSolve2x2(const double* A, const double* b, double* x);

/* Cholesky factorization A = L L^T in place. Reads the lower triangle of A
   (diagonal included) only. On return the lower triangle holds L, and the
   strict upper triangle holds the mirrored strict lower triangle of the
   input, i.e. the off-diagonal entries of the matrix that was factored
   (kelm_math_lin_alg_conditionReciprocal reads them there). Returns 0 on
   success, else k + 1 where the k-th pivot was not positive (or NaN); the
   columns from k on are then partly updated. */
int kelm_math_lin_alg_choleskyFactor(double* A, int n);

/* Reciprocal condition number estimate 1 / (|A|_1 |A^{-1}|_1) of the
   symmetric positive definite A whose factor F choleskyFactor left: L in the
   lower triangle, A's off-diagonal entries in the strict upper one. |A|_1 is
   exact (the diagonal recomputed from L); |A^{-1}|_1 is estimated from
   below by one solve A v = e, the signs e_k = +-1 chosen to make the
   forward substitution grow, as the larger of |v|_inf and the power-step
   Rayleigh quotient v^T v / e^T A^{-1} e. So the result is at least the
   true reciprocal condition number (up to rounding), and in practice
   within a small factor of it (below 20 on random tests up to order 30). `norm` names the norm: 1 for the 1-norm; as the 1- and
   infinity norms of a symmetric matrix agree, every value gives this same
   estimate. work: n doubles. Overflow gives 0, a NaN factor NaN; n <= 0
   gives 1. */
double kelm_math_lin_alg_conditionReciprocal(const double* factor, int n, int norm, double* work);

/* x = A^{-1} b for A = L L^T, L the lower triangle of factor. x may be b
   itself. work: room for n doubles (this implementation needs none). */
void kelm_math_lin_alg_choleskySolve(const double* factor, const double* b, int n, double* x,
                                     double* work);

/* Householder QR with column pivoting of the rows by columns matrix A in
   place: A P = Q R. R is left in the upper triangle (trapezoid), the
   reflectors H_k = I - tau[k] v v^T below it (v[0] = 1 implicit), so that
   Q = H_0 H_1 ... H_{s-1}, s = min(rows, columns); tau holds s entries.
   Pivoting picks the column of largest remaining norm, the first on ties,
   so |R_kk| does not increase along the diagonal. piv (one per column)
   follows LAPACK dgeqp3: entries are zero on entry (free columns; a nonzero
   entry marks a column moved to the front and factored without pivoting);
   on return piv[j] = k means column j of A P is column k - 1 of A.
   work: `columns` doubles (the partial column norms). */
void kelm_math_lin_alg_qrFactor(int rows, int columns, double* A, double* tau, int* piv,
                                double* work);

/* Rank decision of the two QR solves: with s = min(rows, columns) of the
   factored matrix, the rank r is the number of leading diagonal entries of
   R with |R_kk| > tolerance * |R_00|, counted up to the first that fails.
   A zero, infinite or NaN R_00 gives rank 0, as does a NaN tolerance; a
   negative tolerance keeps every nonzero entry. Both solves return r. */

/* Least-squares solve of min |A x - b| from the factors of qrFactor(rows,
   columns, ...): x holds b (rows entries) on entry and the solution
   (columns entries) on return, so it needs room for max(rows, columns).
   Columns beyond the rank r get 0 before unpivoting (the basic solution,
   which for full rank is the least-squares solution). */
int kelm_math_lin_alg_qrSolveTall(int rows, int columns, const double* QR, const double* tau,
                                  const int* piv, double* x, double tolerance);

/* Minimum-norm solution x (n entries) of the m by n system A x = b from the
   factors of A^T, i.e. of qrFactor(n, m, ...) applied to the n by m array
   holding A^T (A^T P = Q R). With y = Q^T x the system reads
   R^T y = P^T b; the first r of those equations are solved for y[0..r),
   y[r..n) = 0, and x = Q y, so that x is the minimum-norm solution of the
   r independent (pivoted) equations; the other m - r equations are not
   used (for m > n and full rank this is not a least-squares fit). m = 0
   gives x = 0. x must not overlap b; it needs n entries. */
int kelm_math_lin_alg_qrSolveWide(int m, int n, const double* QR, const double* tau, const int* piv,
                                  const double* b, double tolerance, double* x);

/* The bodies of the solver kernels (vela::math and the generated-code
   runtime both call them, so that the two agree bit for bit). */

/* n = 0: 0; n = 1: 1 when A[0] <= 0 (a NaN passes), A unchanged; n >= 2:
   choleskyFactor in place, 1 when it fails or when the squared reciprocal
   condition estimate is not above 1e-15. work: n doubles. */
int kelm_math_lin_alg_factorSymmetricPosDef(double* A, int n, double* work);

/* X = A^{-1} B for the n by m right-hand sides B (column after column),
   L from factorSymmetricPosDef; n = 1 divides by L[0]. work: n doubles. */
void kelm_math_lin_alg_solveSymmetricPosDef(const double* L, const double* B, int n, int m,
                                            double* X, double* work);

/* x = A^{-1} b for symmetric A: Cholesky when it succeeds with a squared
   reciprocal condition estimate above 1e-14, else the pivoted QR of the
   saved A and qrSolveTall with tolerance 1e-12 (A then holds those
   factors). n = 1: x = b / A, or 0 when A is 0. tau, piv: n entries; work:
   n + n * n doubles. */
void kelm_math_lin_alg_factorAndSolveSymmetric(double* A, int n, double* tau, int* piv,
                                               const double* b, double* x, double* work);

/* Minimum-norm solution x of the m by n system whose transpose A holds
   (n by m, destroyed): piv zeroed, qrFactor(n, m, ...), qrSolveWide. tau,
   piv, work: m entries; x: max(m, n). */
void kelm_math_lin_alg_factorAndSolveWide(int m, int n, double* A, double* tau, double* work,
                                          int* piv, const double* b, double tolerance, double* x);

/* ---- Eigen and singular value decompositions ---- */

/* ---- Symmetric 3-by-3 eigenproblem and tridiagonal systems ---- */

#ifdef __cplusplus
}
#endif

#endif
