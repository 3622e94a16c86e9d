/* Runtime of generated code (C99, C linkage).

   Generated functions include this header only. It declares the kernel
   routines that generated lines call, with the semantics of the library's
   Numeric kernels, and defines the small inline helpers that give scalar
   operations one meaning in trace evaluation and in generated C alike:

   - vela_rt_d2i: double to int truncates toward zero; NaN gives 0; values
     beyond the int range saturate to INT_MIN / INT_MAX.
   - integer +, -, * wrap around modulo 2^32 (no undefined overflow);
     integer / and % truncate toward zero, a zero divisor gives 0, and
     INT_MIN / -1 gives INT_MIN (INT_MIN % -1 gives 0).
   - vela_rt_min / vela_rt_max: a NaN operand gives NaN; of equal operands
     (+0 and -0 among them) the second is returned.
   - vela_rt_sgn: 1 for positive, -1 for negative; 0, -0 and NaN are
     returned as they are.
   - vela_rt_guarded_divide(a, b): 0 when b == 0 (either sign), else a / b.
   - vela_rt_guarded_atan2(y, x): 0 when y == 0 and x == 0, else atan2(y, x).
   - vela_rt_access_*: element index of an array of n; an index outside
     [0, n) gives 0. */
#ifndef VELA_CODEGEN_RUNTIME_H
#define VELA_CODEGEN_RUNTIME_H

#include <limits.h>
#include <math.h>
#include <string.h>

#include "kelm_math/lin_alg.h"
#include "zeph_core/ckernels.h"

#ifdef __cplusplus
extern "C" {
#endif

static inline int vela_rt_d2i(double x) {
  if (x != x) return 0;
  if (x >= 2147483647.0) return INT_MAX;
  if (x <= -2147483648.0) return INT_MIN;
  return (int)x;
}

static inline int vela_rt_wrap(unsigned u) {
  return u > (unsigned)INT_MAX ? (int)(u - (unsigned)INT_MAX - 1u) + INT_MIN : (int)u;
}

static inline int vela_rt_iadd(int a, int b) { return vela_rt_wrap((unsigned)a + (unsigned)b); }
static inline int vela_rt_isub(int a, int b) { return vela_rt_wrap((unsigned)a - (unsigned)b); }
static inline int vela_rt_imul(int a, int b) { return vela_rt_wrap((unsigned)a * (unsigned)b); }
static inline int vela_rt_ineg(int a) { return vela_rt_wrap(0u - (unsigned)a); }

static inline int vela_rt_idiv(int a, int b) {
  if (b == 0) return 0;
  if (b == -1) return vela_rt_ineg(a);
  return a / b;
}

static inline int vela_rt_imod(int a, int b) {
  if (b == 0 || b == -1) return 0;
  return a % b;
}

static inline double vela_rt_min(double a, double b) {
  if (a != a) return a;
  return a < b ? a : b;
}

static inline double vela_rt_max(double a, double b) {
  if (a != a) return a;
  return a > b ? a : b;
}

static inline int vela_rt_imin(int a, int b) { return a < b ? a : b; }
static inline int vela_rt_imax(int a, int b) { return a > b ? a : b; }

static inline double vela_rt_sgn(double x) { return x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : x); }

static inline double vela_rt_guarded_divide(double a, double b) { return b == 0.0 ? 0.0 : a / b; }

static inline double vela_rt_guarded_atan2(double y, double x) {
  return (y == 0.0 && x == 0.0) ? 0.0 : atan2(y, x);
}

static inline double vela_rt_access_d(int n, const double* v, int i) {
  return (i >= 0 && i < n) ? v[i] : 0.0;
}

static inline int vela_rt_access_i(int n, const int* v, int i) {
  return (i >= 0 && i < n) ? v[i] : 0;
}

/* out[i] = a[i] + b[i] for i < n. */
void vectorAdd(int n, const double* a, const double* b, double* out);

/* out[i] = a[i] - b[i] for i < n. */
void vectorSubtract(int n, const double* a, const double* b, double* out);

/* ---- Elementwise and layout kernels ---- */

/* The routines below are the linear-algebra kernels of the same names
   (kelm_math_lin_alg_*) with their argument orders; see there. */
void vectorScale(int n, double scale, const double* a, double* out);
void vectorNegate(int n, const double* a, double* out);
void transposeColMajor(int m, int n, const double* a, double* out);
void matrixTransposeAdd(int n, const double* a, double* out);
void matrixTransposeSubtract(int n, const double* a, double* out);
/* The last k columns of the m by n matrix a as the m by k matrix out. */
void shiftColumns(int m, int n, int k, const double* a, double* out);
void scaleColumns(int m, int n, const double* a, const double* s, double* out);
void inverseScaleColumns(int m, int n, const double* a, const double* s, double* out);
void scaleRows(int m, int n, const double* a, const double* s, double* out);
void inverseScaleRows(int m, int n, const double* a, const double* s, double* out);
/* In place on a, resp. v. */
void zeroMajor(int m, int n, const int* flags, double* a);
void reduceMatrix(int m, int n, int k, const int* indices, double* a);
void expandVector(int nMax, int n, const int* indices, double* v);
/* Copies the rows by cols block at src + srcOffset (leading dimension
   srcStride) to dst + dstOffset (leading dimension dstStride); a negative
   value does nothing. */
void submatrixAssign(int rows, int cols, int srcOffset, int srcStride, int dstOffset, int dstStride,
                     const double* src, double* dst);

/* ---- Products ---- */
/* Column-major products with the semantics of kelm_math/lin_alg.h (the
   result must not overlap a factor; a result dimension of 0 writes nothing,
   an inner one of 0 gives zeros). */

/* out (s0 by s2) = A (s0 by s1) B (s1 by s2). */
void matrixMultiply(int s0, int s1, int s2, const double* A, const double* B, double* out);

/* out (s1 by s2) = A^T B with A s0 by s1 and B s0 by s2. */
void matrixTransposeMultiply(int s0, int s1, int s2, const double* A, const double* B, double* out);

/* out (s0 by s2) = A B^T with A s0 by s1 and B s2 by s1. */
void matrixMultiplyTranspose(int s0, int s1, int s2, const double* A, const double* B, double* out);

/* out (element (i, j) at i + j * ldc, m by n) = A B with A(i, p) at
   i + p * lda and B(p, j) at p + j * ldb. */
void matrixMultiplyStrided(int m, int k, int n, int lda, int ldb, int ldc, const double* A,
                           const double* B, double* out);

/* out (m) = A x, resp. out (n) = A^T x, with A m by n. */
void matrixVectorMultiply(int m, int n, const double* A, const double* x, double* out);
void matrixTransposeVectorMultiply(int m, int n, const double* A, const double* x, double* out);

/* y += A x, y += A^T x, y -= A x, y -= A^T x with A m by n. */
void addMatrixVectorProduct(int m, int n, const double* A, const double* x, double* y);
void addMatrixTransposeVectorProduct(int m, int n, const double* A, const double* x, double* y);
void subtractMatrixVectorProduct(int m, int n, const double* A, const double* x, double* y);
void subtractMatrixTransposeVectorProduct(int m, int n, const double* A, const double* x,
                                          double* y);

/* The sum of a[i] b[i] over i < n. */
double dotProduct(int n, const double* a, const double* b);

/* a^T M b for M n by n. */
double computeQuadraticTerm(int n, const double* M, const double* a, const double* b);

/* ---- Predicates ---- */

/* 1 when the m rows of the column-major m by n matrix A are pairwise
   distinct, else 0 (kelm_math_lin_alg_hasUniqueRows: exact comparison, NaN
   rows distinct). work: m*n doubles for n <= 3, m*(n + 1) for n >= 4. */
int hasUniqueRows(int m, int n, const double* A, double* work);

/* ---- Linear solvers ---- */
/* The solver kernels of vela::math with their argument orders; the bodies
   are kelm_math_lin_alg_* of the same names (see kelm_math/lin_alg.h). */

/* x = A^{-1} b for a 2 by 2 matrix A. */
void geSolve2x2(const double* A, const double* b, double* x);

/* Cholesky factor of A in place with a conditioning test; nonzero when A is
   not positive definite or too ill-conditioned. work: n doubles. */
int factorSymmetricPosDef(double* A, int n, double* work);

/* X (n by m) = A^{-1} B from the factor L of factorSymmetricPosDef. */
void solveSymmetricPosDef(const double* L, const double* B, int n, int m, double* X, double* work);

/* x = A^{-1} b for symmetric A (destroyed): Cholesky, else pivoted QR.
   tau, piv: n; work: n + n * n. */
void factorAndSolveSymmetric(double* A, int n, double* tau, int* piv, const double* b, double* x,
                             double* work);

/* Minimum-norm solution x (n; room for max(m, n)) of m equations whose
   transpose A holds (n by m, destroyed). tau, work, piv: m. */
void factorAndSolveWide(int m, int n, double* A, double* tau, double* work, int* piv,
                        const double* b, double tol, double* x);

/* ---- Eigen and singular value decompositions ---- */

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* The kelm_math_lin_alg_ routines of the same names (see kelm_math/lin_alg.h
   for outputs, conventions and work sizes); results as int 0 or 1, resp.
   the rank. */
void eig(int n, const double* A, const double* B, double* re, double* im, double* vre, double* vim,
         double* work, int* iwork);
int orthonormalizeRealEigenvectorsWrtSpdB(int n, const double* B, double* V, double* work);
void svd(int m, int n, const double* A, unsigned char full, double* S, double* U, double* V,
         double* work);
void svdSolve(int m, int n, const double* A, const double* b, double tol, double* x, double* work);
int svdSolveFromFactorization(int m, int n, const double* S, const double* U, const double* V,
                              const double* b, double tol, double* x, double* work);
int svdComputeRank(int m, int n, const double* s, double tol);

#ifdef __cplusplus
}
#endif

#endif
