/** \file
   Runtime of generated code (C99, C linkage).

   Generated functions include this header only. It defines the routines
   that generated lines call, with the semantics of the library's Numeric
   kernels, as static inline wrappers over the prefixed library functions
   (kelm_math_lin_alg_*, zeph_core_*). So no short routine name (svd,
   dotProduct, ...) is an external symbol: a user's own function of the same
   name can neither clash with the model at link time nor be called by it.
   The scalar helpers are in vela/codegen_runtime_scalar.h. */
#ifndef VELA_CODEGEN_RUNTIME_H
#define VELA_CODEGEN_RUNTIME_H

#include <string.h>

#include "kelm_math/lin_alg.h"
#include "vela/codegen_runtime_scalar.h"
#include "zeph_core/ckernels.h"

/** Keeps the parts of a long generated function out of line: compilers
   inline a static function called once, and the function that results is
   as slow to compile as the one the parts replace. */
#if defined(__GNUC__)
#define VELA_RT_NOINLINE __attribute__((noinline))
#elif defined(_MSC_VER)
#define VELA_RT_NOINLINE __declspec(noinline)
#else
#define VELA_RT_NOINLINE
#endif

/** Declares the scratch pointers of the parts of a long generated function
   the only way to their arrays: compilers then keep values in registers
   across stores to out, as they do for the scratch array of one body. */
#if defined(__cplusplus) && (defined(__GNUC__) || defined(_MSC_VER))
#define VELA_RT_RESTRICT __restrict
#elif !defined(__cplusplus) && defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L
#define VELA_RT_RESTRICT restrict
#else
#define VELA_RT_RESTRICT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** out[i] = a[i] + b[i] for i < n. */
static inline void vectorAdd(int n, const double* a, const double* b, double* out) {
  kelm_math_lin_alg_vectorAdd(n, a, b, out);
}

/** out[i] = a[i] - b[i] for i < n. */
static inline void vectorSubtract(int n, const double* a, const double* b, double* out) {
  kelm_math_lin_alg_vectorSubtract(n, a, b, out);
}

/* ---- Elementwise and layout kernels ---- */

/** The linear-algebra kernels of the same names (kelm_math_lin_alg_*)
   with their argument orders; see there.
   @{ */
static inline void vectorScale(int n, double scale, const double* a, double* out) {
  kelm_math_lin_alg_vectorScale(n, scale, a, out);
}
static inline void vectorNegate(int n, const double* a, double* out) {
  kelm_math_lin_alg_vectorNegate(n, a, out);
}
static inline void transposeColMajor(int m, int n, const double* a, double* out) {
  kelm_math_lin_alg_transposeColMajor(m, n, a, out);
}
static inline void matrixTransposeAdd(int n, const double* a, double* out) {
  kelm_math_lin_alg_matrixTransposeAdd(n, a, out);
}
static inline void matrixTransposeSubtract(int n, const double* a, double* out) {
  kelm_math_lin_alg_matrixTransposeSubtract(n, a, out);
}
/** @} */
/** The last k columns of the m by n matrix a as the m by k matrix out. The
   node's output is fresh storage of m * n elements: what the copy leaves
   (all of it for k outside [1, n]) becomes 0, as in evaluation. */
static inline void shiftColumns(int m, int n, int k, const double* a, double* out) {
  unsigned copied = m > 0 && k > 0 && k <= n ? (unsigned)m * (unsigned)k : 0u;
  kelm_math_lin_alg_shiftColumns(m, n, k, a, out);
  if (m > 0 && n > 0)
    memset(out + copied, 0, (size_t)((unsigned)m * (unsigned)n - copied) * sizeof(double));
}
/** The linear-algebra kernels of the same names, with their argument orders.
   @{ */
static inline void scaleColumns(int m, int n, const double* a, const double* s, double* out) {
  kelm_math_lin_alg_scaleColumns(m, n, a, s, out);
}
static inline void inverseScaleColumns(int m, int n, const double* a, const double* s,
                                       double* out) {
  kelm_math_lin_alg_inverseScaleColumns(m, n, a, s, out);
}
static inline void scaleRows(int m, int n, const double* a, const double* s, double* out) {
  kelm_math_lin_alg_scaleRows(m, n, a, s, out);
}
static inline void inverseScaleRows(int m, int n, const double* a, const double* s, double* out) {
  kelm_math_lin_alg_inverseScaleRows(m, n, a, s, out);
}
/** @} */
/** The linear-algebra kernels of the same names, in place on a, resp. v.
   @{ */
static inline void zeroMajor(int m, int n, const int* flags, double* a) {
  kelm_math_lin_alg_zeroMajor(m, n, flags, a);
}
static inline void reduceMatrix(int m, int n, int k, const int* indices, double* a) {
  kelm_math_lin_alg_reduceMatrix(m, n, k, indices, a);
}
static inline void expandVector(int nMax, int n, const int* indices, double* v) {
  kelm_math_lin_alg_expandVector(nMax, n, indices, v);
}
/** @} */
/** Copies the rows by cols block at src + srcOffset (leading dimension
   srcStride) to dst + dstOffset (leading dimension dstStride); a negative
   value does nothing. */
static inline void submatrixAssign(int rows, int cols, int srcOffset, int srcStride, int dstOffset,
                                   int dstStride, const double* src, double* dst) {
  if (rows < 0 || cols < 0 || srcOffset < 0 || srcStride < 0 || dstOffset < 0 || dstStride < 0)
    return;
  kelm_math_lin_alg_matrixAssignStrided(rows, cols, srcStride, dstStride, src + srcOffset,
                                        dst + dstOffset);
}

/* ---- Products ---- */
/* Column-major products with the semantics of kelm_math/lin_alg.h (the
   result must not overlap a factor; a result dimension of 0 writes nothing,
   an inner one of 0 gives zeros). */

/** out (s0 by s2) = A (s0 by s1) B (s1 by s2). */
static inline void matrixMultiply(int s0, int s1, int s2, const double* A, const double* B,
                                  double* out) {
  kelm_math_lin_alg_matrixMultiply(s0, s1, s2, A, B, out);
}

/** out (s1 by s2) = A^T B with A s0 by s1 and B s0 by s2. */
static inline void matrixTransposeMultiply(int s0, int s1, int s2, const double* A, const double* B,
                                           double* out) {
  kelm_math_lin_alg_matrixTransposeMultiply(s0, s1, s2, A, B, out);
}

/** out (s0 by s2) = A B^T with A s0 by s1 and B s2 by s1. */
static inline void matrixMultiplyTranspose(int s0, int s1, int s2, const double* A, const double* B,
                                           double* out) {
  kelm_math_lin_alg_matrixMultiplyTranspose(s0, s1, s2, A, B, out);
}

/** out (element (i, j) at i + j * ldc, m by n) = A B with A(i, p) at
   i + p * lda and B(p, j) at p + j * ldb. */
static inline void matrixMultiplyStrided(int m, int k, int n, int lda, int ldb, int ldc,
                                         const double* A, const double* B, double* out) {
  /* The node's output is fresh storage: the elements between the columns
     become 0, as in the zeroed result evaluation starts from, also when m is
     0 and the kernel writes nothing. */
  if (m >= 0 && ldc > m)
    for (int j = 0; j + 1 < n; ++j)
      memset(out + (long)j * ldc + m, 0, (size_t)(ldc - m) * sizeof(double));
  kelm_math_lin_alg_matrixMultiplyStrided(m, k, n, lda, ldb, ldc, A, B, out);
}

/** out (m) = A x, resp. out (n) = A^T x, with A m by n.
   @{ */
static inline void matrixVectorMultiply(int m, int n, const double* A, const double* x,
                                        double* out) {
  kelm_math_lin_alg_matrixVectorMultiply(m, n, A, x, out);
}
static inline void matrixTransposeVectorMultiply(int m, int n, const double* A, const double* x,
                                                 double* out) {
  kelm_math_lin_alg_matrixTransposeVectorMultiply(m, n, A, x, out);
}
/** @} */

/** y += A x, y += A^T x, y -= A x, y -= A^T x with A m by n.
   @{ */
static inline void addMatrixVectorProduct(int m, int n, const double* A, const double* x,
                                          double* y) {
  kelm_math_lin_alg_addMatrixVectorProduct(m, n, A, x, y);
}
static inline void addMatrixTransposeVectorProduct(int m, int n, const double* A, const double* x,
                                                   double* y) {
  kelm_math_lin_alg_addMatrixTransposeVectorProduct(m, n, A, x, y);
}
static inline void subtractMatrixVectorProduct(int m, int n, const double* A, const double* x,
                                               double* y) {
  kelm_math_lin_alg_subtractMatrixVectorProduct(m, n, A, x, y);
}
static inline void subtractMatrixTransposeVectorProduct(int m, int n, const double* A,
                                                        const double* x, double* y) {
  kelm_math_lin_alg_subtractMatrixTransposeVectorProduct(m, n, A, x, y);
}
/** @} */

/** The sum of a[i] b[i] over i < n. */
static inline double dotProduct(int n, const double* a, const double* b) {
  return kelm_math_lin_alg_dotProduct(n, a, b);
}

/** a^T M b for M n by n. */
static inline double computeQuadraticTerm(int n, const double* M, const double* a,
                                          const double* b) {
  return kelm_math_lin_alg_computeQuadraticTerm(n, M, a, b);
}

/* ---- Predicates ---- */

/** 1 when the m rows of the column-major m by n matrix A are pairwise
   distinct, else 0 (kelm_math_lin_alg_hasUniqueRows: exact comparison, NaN
   rows distinct). work: m*n doubles for n <= 3, m*(n + 1) for n >= 4. */
static inline int hasUniqueRows(int m, int n, const double* A, double* work) {
  return kelm_math_lin_alg_hasUniqueRows(m, n, A, work) != 0;
}

/* ---- Linear solvers ---- */
/* The solver kernels of vela::math with their argument orders; the bodies
   are kelm_math_lin_alg_* of the same names (see kelm_math/lin_alg.h). */

/** x = A^{-1} b for a 2 by 2 matrix A. */
static inline void geSolve2x2(const double* A, const double* b, double* x) {
  kelm_math_lin_alg_geSolve2x2(A, b, x);
}

/** Cholesky factor of A in place with a conditioning test; nonzero when A is
   not positive definite or too ill-conditioned. work: n doubles. */
static inline int factorSymmetricPosDef(double* A, int n, double* work) {
  return kelm_math_lin_alg_factorSymmetricPosDef(A, n, work);
}

/** X (n by m) = A^{-1} B from the factor L of factorSymmetricPosDef. */
static inline void solveSymmetricPosDef(const double* L, const double* B, int n, int m, double* X,
                                        double* work) {
  kelm_math_lin_alg_solveSymmetricPosDef(L, B, n, m, X, work);
}

/** x = A^{-1} b for symmetric A (destroyed): Cholesky, else pivoted QR.
   tau, piv: n; work: n + n * n. */
static inline void factorAndSolveSymmetric(double* A, int n, double* tau, int* piv, const double* b,
                                           double* x, double* work) {
  kelm_math_lin_alg_factorAndSolveSymmetric(A, n, tau, piv, b, x, work);
}

/** Minimum-norm solution x (n; room for max(m, n)) of m equations whose
   transpose A holds (n by m, destroyed). tau, work, piv: m. */
static inline void factorAndSolveWide(int m, int n, double* A, double* tau, double* work, int* piv,
                                      const double* b, double tol, double* x) {
  kelm_math_lin_alg_factorAndSolveWide(m, n, A, tau, work, piv, b, tol, x);
}

/* ---- Eigen and singular value decompositions ---- */

/** The flag values generated code passes (svd's `full`), 1 and 0; a
   definition the including code made first is kept.
   @{ */
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
/** @} */

/** The kelm_math_lin_alg_ routines of the same names (see kelm_math/lin_alg.h
   for outputs, conventions and work sizes); results as int 0 or 1, resp.
   the rank.
   @{ */
static inline void eig(int n, const double* A, const double* B, double* re, double* im, double* vre,
                       double* vim, double* work, int* iwork) {
  kelm_math_lin_alg_eig(n, A, B, re, im, vre, vim, work, iwork);
}
static inline int orthonormalizeRealEigenvectorsWrtSpdB(int n, const double* B, double* V,
                                                        double* work) {
  return kelm_math_lin_alg_orthonormalizeRealEigenvectorsWrtSpdB(n, B, V, work) != 0;
}
static inline void svd(int m, int n, const double* A, unsigned char full, double* S, double* U,
                       double* V, double* work) {
  kelm_math_lin_alg_svd(m, n, A, full, S, U, V, work);
}
static inline void svdSolve(int m, int n, const double* A, const double* b, double tol, double* x,
                            double* work) {
  kelm_math_lin_alg_svdSolve(m, n, A, b, tol, x, work);
}
static inline int svdSolveFromFactorization(int m, int n, const double* S, const double* U,
                                            const double* V, const double* b, double tol, double* x,
                                            double* work) {
  return kelm_math_lin_alg_svdSolveFromFactorization(m, n, S, U, V, b, tol, x, work);
}
static inline int svdComputeRank(int m, int n, const double* s, double tol) {
  return kelm_math_lin_alg_svdComputeRank(m, n, s, tol);
}
/** @} */

#ifdef __cplusplus
}
#endif

#endif
