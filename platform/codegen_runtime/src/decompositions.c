#include "kelm_math/lin_alg.h"
#include "vela/codegen_runtime.h"

void eig(int n, const double* A, const double* B, double* re, double* im, double* vre, double* vim,
         double* work, int* iwork) {
  kelm_math_lin_alg_eig(n, A, B, re, im, vre, vim, work, iwork);
}

/* The flag lands in an int slot that the trace reads as 0 or 1. */
int orthonormalizeRealEigenvectorsWrtSpdB(int n, const double* B, double* V, double* work) {
  return kelm_math_lin_alg_orthonormalizeRealEigenvectorsWrtSpdB(n, B, V, work) != 0;
}

void svd(int m, int n, const double* A, unsigned char full, double* S, double* U, double* V,
         double* work) {
  kelm_math_lin_alg_svd(m, n, A, full, S, U, V, work);
}

void svdSolve(int m, int n, const double* A, const double* b, double tol, double* x, double* work) {
  kelm_math_lin_alg_svdSolve(m, n, A, b, tol, x, work);
}

int svdSolveFromFactorization(int m, int n, const double* S, const double* U, const double* V,
                              const double* b, double tol, double* x, double* work) {
  return kelm_math_lin_alg_svdSolveFromFactorization(m, n, S, U, V, b, tol, x, work);
}

int svdComputeRank(int m, int n, const double* s, double tol) {
  return kelm_math_lin_alg_svdComputeRank(m, n, s, tol);
}
