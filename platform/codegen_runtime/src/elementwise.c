#include "kelm_math/lin_alg.h"
#include "vela/codegen_runtime.h"

void vectorScale(int n, double scale, const double* a, double* out) {
  kelm_math_lin_alg_vectorScale(n, scale, a, out);
}

void vectorNegate(int n, const double* a, double* out) {
  kelm_math_lin_alg_vectorNegate(n, a, out);
}

void transposeColMajor(int m, int n, const double* a, double* out) {
  kelm_math_lin_alg_transposeColMajor(m, n, a, out);
}

void matrixTransposeAdd(int n, const double* a, double* out) {
  kelm_math_lin_alg_matrixTransposeAdd(n, a, out);
}

void matrixTransposeSubtract(int n, const double* a, double* out) {
  kelm_math_lin_alg_matrixTransposeSubtract(n, a, out);
}

void shiftColumns(int m, int n, int k, const double* a, double* out) {
  kelm_math_lin_alg_shiftColumns(m, n, k, a, out);
}

void scaleColumns(int m, int n, const double* a, const double* s, double* out) {
  kelm_math_lin_alg_scaleColumns(m, n, a, s, out);
}

void inverseScaleColumns(int m, int n, const double* a, const double* s, double* out) {
  kelm_math_lin_alg_inverseScaleColumns(m, n, a, s, out);
}

void scaleRows(int m, int n, const double* a, const double* s, double* out) {
  kelm_math_lin_alg_scaleRows(m, n, a, s, out);
}

void inverseScaleRows(int m, int n, const double* a, const double* s, double* out) {
  kelm_math_lin_alg_inverseScaleRows(m, n, a, s, out);
}

void zeroMajor(int m, int n, const int* flags, double* a) {
  kelm_math_lin_alg_zeroMajor(m, n, flags, a);
}

void reduceMatrix(int m, int n, int k, const int* indices, double* a) {
  kelm_math_lin_alg_reduceMatrix(m, n, k, indices, a);
}

void expandVector(int nMax, int n, const int* indices, double* v) {
  kelm_math_lin_alg_expandVector(nMax, n, indices, v);
}

void submatrixAssign(int rows, int cols, int srcOffset, int srcStride, int dstOffset, int dstStride,
                     const double* src, double* dst) {
  if (rows < 0 || cols < 0 || srcOffset < 0 || srcStride < 0 || dstOffset < 0 || dstStride < 0)
    return;
  kelm_math_lin_alg_matrixAssignStrided(rows, cols, srcStride, dstStride, src + srcOffset,
                                        dst + dstOffset);
}
