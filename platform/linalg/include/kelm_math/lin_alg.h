/** \file
   Dense linear-algebra kernels, C linkage. Arrays are caller-owned and
   contiguous; matrices are column-major. No function allocates or fails:
   a size of 0 (or below) does nothing. */
#ifndef KELM_MATH_LIN_ALG_H
#define KELM_MATH_LIN_ALG_H

/* Declarations here are the shared libraries' API; all else is hidden. */
#pragma GCC visibility push(default)

#ifdef __cplusplus
extern "C" {
#endif

/** out[i] = a[i] + b[i] for i < n. out may be a or b itself, but not overlap
   either partially. */
void kelm_math_lin_alg_vectorAdd(int n, const double* a, const double* b, double* out);

/** out[i] = a[i] - b[i] for i < n; the same aliasing rule. */
void kelm_math_lin_alg_vectorSubtract(int n, const double* a, const double* b, double* out);

/* ---- Elementwise and layout kernels ---- */

/** out[i] = scale * a[i] for i < n. out may be a itself. */
void kelm_math_lin_alg_vectorScale(int n, double scale, const double* a, double* out);

/** out[i] = -a[i] for i < n. out may be a itself. */
void kelm_math_lin_alg_vectorNegate(int n, const double* a, double* out);

/** out (n by m) = transpose of a (m by n). out must not overlap a. */
void kelm_math_lin_alg_transposeColMajor(int m, int n, const double* a, double* out);

/** out = a + transpose(a), resp. a - transpose(a), for an n by n matrix a.
   out may be a itself (each symmetric pair is read before it is written).
   @{ */
void kelm_math_lin_alg_matrixTransposeAdd(int n, const double* a, double* out);
void kelm_math_lin_alg_matrixTransposeSubtract(int n, const double* a, double* out);
/** @} */

/** The last k columns of the m by n matrix a become the m by k matrix out:
   m * k elements from element m * (n - k) on, offsets and counts in 32-bit
   unsigned arithmetic. Nothing is copied when k <= 0 or k > n. */
void kelm_math_lin_alg_shiftColumns(int m, int n, int k, const double* a, double* out);

/** out (m by n) = a with column j multiplied by s[j] (scaleColumns), divided
   by s[j] (inverseScaleColumns), or row i multiplied by s[i] (scaleRows),
   divided by s[i] (inverseScaleRows). A zero factor divides as IEEE does
   (infinities, NaN). out may be a itself but must not overlap s.
   @{ */
void kelm_math_lin_alg_scaleColumns(int m, int n, const double* a, const double* s, double* out);
void kelm_math_lin_alg_inverseScaleColumns(int m, int n, const double* a, const double* s,
                                           double* out);
void kelm_math_lin_alg_scaleRows(int m, int n, const double* a, const double* s, double* out);
void kelm_math_lin_alg_inverseScaleRows(int m, int n, const double* a, const double* s,
                                        double* out);
/** @} */

/** In place: row i of the m by n matrix a becomes +0.0 wherever flags[i] is
   nonzero (i < m); other rows keep their bits. */
void kelm_math_lin_alg_zeroMajor(int m, int n, const int* flags, double* a);

/** In place: for j = 0, 1, ..., k - 1 in turn, column j of the m by n matrix
   a becomes a copy of column indices[j] as it is at that moment, so that
   strictly increasing indices keep those k columns, compacted to the front.
   An index outside [0, n) leaves column j as it is; columns k to n - 1 keep
   their values. Nothing happens when k <= 0 or k > n. */
void kelm_math_lin_alg_reduceMatrix(int m, int n, int k, const int* indices, double* a);

/** In place, the inverse of a compaction: entry i < n of v moves to position
   indices[i] of the nMax vector v, every other position becomes +0.0.
   Indices are meant strictly increasing in [0, nMax); walking from the last
   entry down, an entry whose index is out of range or not below the index
   taken after it is dropped. Nothing happens when n < 0 or n > nMax. */
void kelm_math_lin_alg_expandVector(int nMax, int n, const int* indices, double* v);

/** dst[dstStride * j + i] = src[srcStride * j + i] for i < rows, j < cols:
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

/** out (m by n) = A (m by k) B (k by n). */
void kelm_math_lin_alg_matrixMultiply(int m, int k, int n, const double* A, const double* B,
                                      double* out);

/** out (m by n) = A^T B with A k by m and B k by n. */
void kelm_math_lin_alg_matrixTransposeMultiply(int k, int m, int n, const double* A,
                                               const double* B, double* out);

/** out (m by n) = A B^T with A m by k and B n by k. */
void kelm_math_lin_alg_matrixMultiplyTranspose(int m, int k, int n, const double* A,
                                               const double* B, double* out);

/** out (m by n, element (i, j) at i + j * ldc) = A B with A(i, p) at
   i + p * lda and B(p, j) at p + j * ldb. Elements of out between the
   columns (rows m to ldc - 1) are left as they are. */
void kelm_math_lin_alg_matrixMultiplyStrided(int m, int k, int n, int lda, int ldb, int ldc,
                                             const double* A, const double* B, double* out);

/** out (m) = A x with A m by n; n = 0 gives zeros. */
void kelm_math_lin_alg_matrixVectorMultiply(int m, int n, const double* A, const double* x,
                                            double* out);

/** out (n) = A^T x with A m by n, x of m; m = 0 gives zeros. */
void kelm_math_lin_alg_matrixTransposeVectorMultiply(int m, int n, const double* A, const double* x,
                                                     double* out);

/** y (m) = y + A x, resp. y - A x, with A m by n; A x is summed exactly as by
   matrixVectorMultiply and then added. y must not overlap A or x.
   @{ */
void kelm_math_lin_alg_addMatrixVectorProduct(int m, int n, const double* A, const double* x,
                                              double* y);
void kelm_math_lin_alg_subtractMatrixVectorProduct(int m, int n, const double* A, const double* x,
                                                   double* y);
/** @} */

/** y (n) = y + A^T x, resp. y - A^T x, with A m by n, x of m; A^T x as by
   matrixTransposeVectorMultiply. y must not overlap A or x.
   @{ */
void kelm_math_lin_alg_addMatrixTransposeVectorProduct(int m, int n, const double* A,
                                                       const double* x, double* y);
void kelm_math_lin_alg_subtractMatrixTransposeVectorProduct(int m, int n, const double* A,
                                                            const double* x, double* y);
/** @} */

/** The sum of a[i] b[i] over i < n; 0 for n <= 0. Its body,
   kelm_math_lin_alg_dotOrder, is inline in kelm_math/dot_order.h. */
double kelm_math_lin_alg_dotProduct(int n, const double* a, const double* b);

/** The quadratic (bilinear) term a^T M b = sum over i of a[i] (M b)[i] for M
   n by n, with (M b)[i] summed as by matrixVectorMultiply and the outer sum
   taken in order of i; 0 for n <= 0. */
double kelm_math_lin_alg_computeQuadraticTerm(int n, const double* M, const double* a,
                                              const double* b);

/* ---- Predicates ---- */

/** 1 when the m rows of the m by n matrix A are pairwise distinct, else 0.
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

/** x = A^{-1} b for a 2 by 2 matrix A, by Gaussian elimination with row
   pivoting. x may be b itself. */
void kelm_math_lin_alg_geSolve2x2(const double* A, const double* b, double* x);

/** Cholesky factorization A = L L^T in place. Reads the lower triangle of A
   (diagonal included) only. On return the lower triangle holds L, and the
   strict upper triangle holds the mirrored strict lower triangle of the
   input, i.e. the off-diagonal entries of the matrix that was factored
   (kelm_math_lin_alg_conditionReciprocal reads them there). Returns 0 on
   success, else k + 1 where the k-th pivot was not positive (or NaN); the
   columns from k on are then partly updated. */
int kelm_math_lin_alg_choleskyFactor(double* A, int n);

/** Reciprocal condition number estimate 1 / (|A|_1 |A^{-1}|_1) of the
   symmetric positive definite A whose factor F choleskyFactor left: L in the
   lower triangle, A's off-diagonal entries in the strict upper one. |A|_1 is
   exact (the diagonal recomputed from L); |A^{-1}|_1 is estimated from
   below by one solve A v = e, the signs e_k = +-1 chosen to make the
   forward substitution grow, as the larger of |v|_inf and the power-step
   Rayleigh quotient v^T v / e^T A^{-1} e. So the result is at least the
   true reciprocal condition number (up to rounding), and in practice
   within a small factor of it (below 20 on random tests up to order 30).
   `norm` names the norm: 1 for the 1-norm; as the 1- and infinity norms of
   a symmetric matrix agree, every value gives this same estimate. work: n
   doubles. Overflow gives 0, a NaN factor NaN; n <= 0 gives 1. */
double kelm_math_lin_alg_conditionReciprocal(const double* factor, int n, int norm, double* work);

/** x = A^{-1} b for A = L L^T, L the lower triangle of factor. x may be b
   itself. work: room for n doubles (this implementation needs none). */
void kelm_math_lin_alg_choleskySolve(const double* factor, const double* b, int n, double* x,
                                     double* work);

/** Householder QR with column pivoting of the rows by columns matrix A in
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

/** \name Least-squares and minimum-norm QR solves
   Rank decision of the two QR solves: with s = min(rows, columns) of the
   factored matrix, the rank r is the number of leading diagonal entries of
   R with |R_kk| > tolerance * |R_00|, counted up to the first that fails.
   A zero, infinite or NaN R_00 gives rank 0, as does a NaN tolerance; a
   negative tolerance keeps every nonzero entry. Both solves return r.
   @{ */
/** Least-squares solve of min |A x - b| from the factors of qrFactor(rows,
   columns, ...): x holds b (rows entries) on entry and the solution
   (columns entries) on return, so it needs room for max(rows, columns).
   Columns beyond the rank r get 0 before unpivoting (the basic solution,
   which for full rank is the least-squares solution). */
int kelm_math_lin_alg_qrSolveTall(int rows, int columns, const double* QR, const double* tau,
                                  const int* piv, double* x, double tolerance);

/** Minimum-norm solution x (n entries) of the m by n system A x = b from the
   factors of A^T, i.e. of qrFactor(n, m, ...) applied to the n by m array
   holding A^T (A^T P = Q R). With y = Q^T x the system reads
   R^T y = P^T b; the first r of those equations are solved for y[0..r),
   y[r..n) = 0, and x = Q y, so that x is the minimum-norm solution of the
   r independent (pivoted) equations; the other m - r equations are not
   used (for m > n and full rank this is not a least-squares fit). m = 0
   gives x = 0. x must not overlap b; it needs n entries. */
int kelm_math_lin_alg_qrSolveWide(int m, int n, const double* QR, const double* tau, const int* piv,
                                  const double* b, double tolerance, double* x);
/** @} */

/* The bodies of the solver kernels (vela::math and the generated-code
   runtime both call them, so that the two agree bit for bit). */

/** n = 0: 0; n = 1: 1 when A[0] <= 0 (a NaN passes), A unchanged; n >= 2:
   choleskyFactor in place, 1 when it fails or when the squared reciprocal
   condition estimate is not above 1e-15. work: n doubles. */
int kelm_math_lin_alg_factorSymmetricPosDef(double* A, int n, double* work);

/** X = A^{-1} B for the n by m right-hand sides B (column after column),
   L from factorSymmetricPosDef; n = 1 divides by L[0]. work: n doubles. */
void kelm_math_lin_alg_solveSymmetricPosDef(const double* L, const double* B, int n, int m,
                                            double* X, double* work);

/** x = A^{-1} b for symmetric A: Cholesky when it succeeds with a squared
   reciprocal condition estimate above 1e-14, else the pivoted QR of the
   saved A and qrSolveTall with tolerance 1e-12 (A then holds those
   factors). n = 1: x = b / A, or 0 when A is 0. tau, piv: n entries; work:
   n + n * n doubles. */
void kelm_math_lin_alg_factorAndSolveSymmetric(double* A, int n, double* tau, int* piv,
                                               const double* b, double* x, double* work);

/** Minimum-norm solution x of the m by n system whose transpose A holds
   (n by m, destroyed): piv zeroed, qrFactor(n, m, ...), qrSolveWide. tau,
   piv, work: m entries; x: max(m, n). */
void kelm_math_lin_alg_factorAndSolveWide(int m, int n, double* A, double* tau, double* work,
                                          int* piv, const double* b, double tolerance, double* x);

/* ---- Eigen and singular value decompositions ---- */

/** Generalized eigenproblem A v = lambda B v of n by n matrices (LAPACK's QZ
   stages on copies, as its driver runs them; A and B are not changed). Eigenvalue j is
   re[j] + i im[j] and its right eigenvector is column j of vre + i vim
   (both n by n). Eigenvalues come in the driver's order, unsorted; a
   complex conjugate pair occupies neighbouring positions, the one with
   positive imaginary part first, and the second eigenvalue and vector are
   the exact conjugates of the first. Real eigenvalues have im[j] = 0 and a zero column in vim. Each
   vector is scaled so that its largest component has |re| + |im| = 1.
   An infinite eigenvalue (B singular, beta = 0) has re[j] = +INFINITY or
   -INFINITY by the sign of its alpha, NaN when alpha is 0 too (a singular
   pencil), and im[j] = 0. Returns 1 on success; 0 when an entry of A or B is
   not finite or the QZ iteration fails, and then every output is NaN.
   work: kelm_math_lin_alg_eigReqdRealWorkSize(n) doubles; iwork:
   kelm_math_lin_alg_eigReqdInt32WorkSize(n) ints (not read by this
   algorithm). n <= 0 does nothing and returns 1. */
int kelm_math_lin_alg_eig(int n, const double* A, const double* B, double* re, double* im,
                          double* vre, double* vim, double* work, int* iwork);
/** 2 n^2 + 3 n + 9 n doubles (1 for n < 1). */
int kelm_math_lin_alg_eigReqdRealWorkSize(int n);
/** 1 int. */
int kelm_math_lin_alg_eigReqdInt32WorkSize(int n);

/** Makes the n columns of V (n by n, real eigenvectors of a pencil with
   symmetric positive definite B) orthonormal in the B inner product, so
   that V^T B V = I on return: modified Gram-Schmidt, applied twice, in the
   coordinates L^T V of the Cholesky factor B = L L^T. Column j keeps the
   direction of the part of column j that is B-orthogonal to columns 0..j-1,
   so vectors of distinct eigenvalues of a symmetric pencil (already
   B-orthogonal) are only rescaled. Only the lower triangle of B is read. Returns 1 on success; 0,
   with V unchanged, when B is not positive definite (a Cholesky pivot not > 0, NaN included) or a
   column is (numerically) a combination of the ones before it (its
   B-orthogonal part is below 1e3 n eps of its B-norm). Complex eigenvectors
   are not handled: every column is treated as a real vector.
   work: 3 n^2 doubles. n <= 0 does nothing and returns 1. */
int kelm_math_lin_alg_orthonormalizeRealEigenvectorsWrtSpdB(int n, const double* B, double* V,
                                                            double* work);

/** Singular value decomposition A = U diag(S) V^T of the m by n matrix A
   (not changed), k = min(m, n), by one-sided Jacobi rotations. S: k values,
   non-negative and in descending order. U: m by k (full = 0) or m by m
   (full != 0); V: n by k or n by n, V itself, not V^T. Columns of U and V are
   orthonormal; column j of each belongs to S[j], and the extra columns of
   a full factor (and the vectors of zero singular values) complete an
   orthonormal basis. Signs: each pair (u_j, v_j) is turned so that the
   first entry of largest magnitude of v_j (when m >= n), resp. of u_j (when
   m < n), is positive. NaN or infinite entries give unspecified
   (NaN-carrying) results after a bounded number of sweeps. work:
   kelm_math_lin_alg_svdReqdWorkSize(m, n, full) doubles. A negative size
   does nothing; with m or n = 0 there are no singular values, and a full
   factorization sets U and V to identities. */
void kelm_math_lin_alg_svd(int m, int n, const double* A, unsigned char full, double* S, double* U,
                           double* V, double* work);
/** max(1, min(m, n)) doubles. */
int kelm_math_lin_alg_svdReqdWorkSize(int m, int n, unsigned char full);

/** Number of the first min(m, n) values of s (singular values) above the
   absolute tolerance tol and above 0: s[i] > tol && s[i] > 0. A NaN
   tolerance gives 0. */
int kelm_math_lin_alg_svdComputeRank(int m, int n, const double* s, double tol);

/** Minimum-norm least-squares solution x (n) of A x = b (A m by n, b m)
   through the thin factorization of kelm_math_lin_alg_svd and
   kelm_math_lin_alg_svdSolveFromFactorization with the same tol.
   work: kelm_math_lin_alg_svdSolveReqdWorkSize(m, n) doubles. m = 0 < n
   gives x = 0 (no equations); otherwise m or n <= 0 does nothing. */
void kelm_math_lin_alg_svdSolve(int m, int n, const double* A, const double* b, double tol,
                                double* x, double* work);
/** min(m, n) (m + n + 1) + the work of svd and of the solve from factors. */
int kelm_math_lin_alg_svdSolveReqdWorkSize(int m, int n);

/** x (n) = sum over kept j of v_j (u_j . b) / S[j], from S (k), U (m by k),
   V (n by k), k = min(m, n): singular value j is kept when
   S[j] > tol && S[j] > 0 (tol is absolute); the others count as zero, which
   gives the minimum-norm least-squares solution. Returns 1 when all k were
   kept (A of full rank k), 0 otherwise. m = 0 < n gives x = 0 and 0;
   otherwise m or n <= 0 does nothing and returns 0. work:
   kelm_math_lin_alg_svdSolveFromFactorizationReqdWorkSize doubles. */
int kelm_math_lin_alg_svdSolveFromFactorization(int m, int n, const double* S, const double* U,
                                                const double* V, const double* b, double tol,
                                                double* x, double* work);
/** max(1, min(m, n)) doubles. */
int kelm_math_lin_alg_svdSolveFromFactorizationReqdWorkSize(int m, int n);

/* ---- Symmetric 3-by-3 eigenproblem and tridiagonal systems ---- */

/** Eigenvalues w (3) and eigenvectors V (9) of the symmetric 3-by-3 matrix
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

/** Solves the symmetric tridiagonal system T x = rhs in place: x replaces
   rhs. T has diagonal diag (n) and off-diagonal offdiag (n - 1), entry i
   coupling variables i and i + 1. diag and offdiag are overwritten by the
   factors of T = L D L^T, computed without pivoting, so T should be
   diagonally dominant or definite. Returns 0 on success, or k (1 <= k <= n)
   when the k-th pivot of D is exactly zero; rhs is then partly overwritten.
   n <= 0 does nothing and returns 0; n = 1 divides by diag[0]. */
int kelm_math_lin_alg_solveTriDiagSymm(double* diag, double* offdiag, double* rhs, int n);

/** The periodic variant: as solveTriDiagSymm, with `corner` also coupling
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

#pragma GCC visibility pop

#endif
