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
/* Products of column-major arrays. The result must not overlap a factor.
   A result element sums its terms in inner-index order, starting from the
   first product; an inner dimension of 0 gives zeros. Dot products and the
   products with a transposed matrix and a vector reduce along columns in
   four interleaved partial sums (exact order in products.c). No function
   allocates; a result dimension of 0 or below writes nothing. */

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
void kelm_math_lin_alg_matrixTransposeVectorMultiply(int m, int n, const double* A,
                                                     const double* x, double* out);

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

/* The sum of a[i] b[i] over i < n; 0 for n <= 0. */
double kelm_math_lin_alg_dotProduct(int n, const double* a, const double* b);

/* The quadratic (bilinear) term a^T M b = sum over i of a[i] (M b)[i] for M
   n by n, with (M b)[i] summed as by matrixVectorMultiply and the outer sum
   taken in order of i; 0 for n <= 0. */
double kelm_math_lin_alg_computeQuadraticTerm(int n, const double* M, const double* a,
                                              const double* b);


/* ---- Predicates ---- */


#ifdef __cplusplus
}
#endif

#endif
