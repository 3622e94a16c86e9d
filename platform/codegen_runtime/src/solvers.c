#include "kelm_math/lin_alg.h"
#include "vela/codegen_runtime.h"

/* The very bodies the Numeric kernels run, so that generated code takes the
   same branches and agrees with them bit for bit. */

void geSolve2x2(const double* A, const double* b, double* x) {
  kelm_math_lin_alg_geSolve2x2(A, b, x);
}

int factorSymmetricPosDef(double* A, int n, double* work) {
  return kelm_math_lin_alg_factorSymmetricPosDef(A, n, work);
}

void solveSymmetricPosDef(const double* L, const double* B, int n, int m, double* X, double* work) {
  kelm_math_lin_alg_solveSymmetricPosDef(L, B, n, m, X, work);
}

void factorAndSolveSymmetric(double* A, int n, double* tau, int* piv, const double* b, double* x,
                             double* work) {
  kelm_math_lin_alg_factorAndSolveSymmetric(A, n, tau, piv, b, x, work);
}

void factorAndSolveWide(int m, int n, double* A, double* tau, double* work, int* piv,
                        const double* b, double tol, double* x) {
  kelm_math_lin_alg_factorAndSolveWide(m, n, A, tau, work, piv, b, tol, x);
}
