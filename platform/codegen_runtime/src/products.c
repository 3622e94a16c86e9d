#include "kelm_math/lin_alg.h"
#include "vela/codegen_runtime.h"

/* The very functions the Numeric kernels call, so generated code sums in
   the same order and agrees with them bit for bit. */

void matrixMultiply(int s0, int s1, int s2, const double* A, const double* B, double* out) {
  kelm_math_lin_alg_matrixMultiply(s0, s1, s2, A, B, out);
}

void matrixTransposeMultiply(int s0, int s1, int s2, const double* A, const double* B,
                             double* out) {
  kelm_math_lin_alg_matrixTransposeMultiply(s0, s1, s2, A, B, out);
}

void matrixMultiplyTranspose(int s0, int s1, int s2, const double* A, const double* B,
                             double* out) {
  kelm_math_lin_alg_matrixMultiplyTranspose(s0, s1, s2, A, B, out);
}

void matrixMultiplyStrided(int m, int k, int n, int lda, int ldb, int ldc, const double* A,
                           const double* B, double* out) {
  kelm_math_lin_alg_matrixMultiplyStrided(m, k, n, lda, ldb, ldc, A, B, out);
}

void matrixVectorMultiply(int m, int n, const double* A, const double* x, double* out) {
  kelm_math_lin_alg_matrixVectorMultiply(m, n, A, x, out);
}

void matrixTransposeVectorMultiply(int m, int n, const double* A, const double* x, double* out) {
  kelm_math_lin_alg_matrixTransposeVectorMultiply(m, n, A, x, out);
}

void addMatrixVectorProduct(int m, int n, const double* A, const double* x, double* y) {
  kelm_math_lin_alg_addMatrixVectorProduct(m, n, A, x, y);
}

void addMatrixTransposeVectorProduct(int m, int n, const double* A, const double* x, double* y) {
  kelm_math_lin_alg_addMatrixTransposeVectorProduct(m, n, A, x, y);
}

void subtractMatrixVectorProduct(int m, int n, const double* A, const double* x, double* y) {
  kelm_math_lin_alg_subtractMatrixVectorProduct(m, n, A, x, y);
}

void subtractMatrixTransposeVectorProduct(int m, int n, const double* A, const double* x,
                                          double* y) {
  kelm_math_lin_alg_subtractMatrixTransposeVectorProduct(m, n, A, x, y);
}

double dotProduct(int n, const double* a, const double* b) {
  return kelm_math_lin_alg_dotProduct(n, a, b);
}

double computeQuadraticTerm(int n, const double* M, const double* a, const double* b) {
  return kelm_math_lin_alg_computeQuadraticTerm(n, M, a, b);
}
