/* The kelm_math_lin_alg_* solvers: geSolve2x2, Cholesky (factor, condition
   estimate, solve), pivoted QR (factor, tall and wide solves), the
   symmetric and wide drivers and the tridiagonal solves. The first byte
   picks the kernel. Beyond bounds and sanitizers: results where the header
   says they are written, the drivers equal to the documented sequence of
   kernel calls, the QR rank rule, and small residuals on well-conditioned
   finite systems. */
#include "fuzz_common.h"
#include "kelm_math/lin_alg.h"

enum { RANDOM, MODERATE, SPD, INDEFINITE, LOW_RANK, MODES };

/* Column-major n by n; the well-conditioned modes are diagonally dominant
   (SPD: positive diagonal; INDEFINITE: random signs) and symmetric. */
static void fillSquare(FuzzInput* in, int mode, int n, double* A) {
  if (mode == RANDOM || mode == MODERATE || mode == LOW_RANK) {
    fz_fill(in, A, (ptrdiff_t)n * n, mode != RANDOM);
    return;
  }
  for (int j = 0; j < n; ++j)
    for (int i = j + 1; i < n; ++i) A[i + j * n] = A[j + i * n] = fz_moderate(in);
  for (int i = 0; i < n; ++i) {
    double row = 0.0;
    for (int j = 0; j < n; ++j)
      if (j != i) row += fabs(A[i + j * n]);
    double d = 2.0 * row + 1.0 + fabs(fz_moderate(in));
    A[i + i * n] = mode == INDEFINITE && (fz_byte(in) & 1) ? -d : d;
  }
}

static double matNormInf(int rows, int cols, const double* A) {
  double best = 0.0;
  for (int i = 0; i < rows; ++i) {
    double s = 0.0;
    for (int j = 0; j < cols; ++j) s += fabs(A[i + (ptrdiff_t)j * rows]);
    if (s > best) best = s;
  }
  return best;
}

/* |A x - b|_inf for A rows by cols. */
static double residual(int rows, int cols, const double* A, const double* x, const double* b) {
  double worst = 0.0;
  for (int i = 0; i < rows; ++i) {
    double s = -b[i];
    for (int j = 0; j < cols; ++j) s += A[i + (ptrdiff_t)j * rows] * x[j];
    if (!(fabs(s) <= worst)) worst = fabs(s);
  }
  return worst;
}

/* The residual of a backward-stable solve. */
static void checkResidual(const char* what, int n, const double* A, const double* x,
                          const double* b) {
  double r = residual(n, n, A, x, b);
  double scale = matNormInf(n, n, A) * fz_maxAbs(x, n) + fz_maxAbs(b, n);
  FZ_CHECK(r <= 1e-12 * (n + 1) * scale, "%s (n=%d): residual %g of scale %g", what, n, r, scale);
}

/* Symmetric matrix from the lower triangle of A. */
static double* symmetricFromLower(int n, const double* A) {
  double* S = fz_alloc((ptrdiff_t)n * n);
  for (int j = 0; j < n; ++j)
    for (int i = j; i < n; ++i) S[i + j * n] = S[j + i * n] = A[i + j * n];
  return S;
}

static void geSolve(FuzzInput* in, int mode) {
  double* A = fz_alloc(4);
  double* b = fz_alloc(2);
  fz_fill(in, A, 4, mode != RANDOM);
  fz_fill(in, b, 2, mode != RANDOM);
  int alias = fz_byte(in) & 1;
  double* savedA = fz_copy(A, 4);
  double* savedB = fz_copy(b, 2);
  double* x = alias ? b : fz_alloc(2);
  kelm_math_lin_alg_geSolve2x2(A, b, x);
  FZ_CHECK(fz_identical(A, savedA, 4), "geSolve2x2 changed A");
  if (!alias) FZ_CHECK(fz_identical(b, savedB, 2), "geSolve2x2 changed b");
  FZ_CHECK(fz_noCanary(x, 2), "geSolve2x2 left x unwritten");
  double amax = fz_maxAbs(savedA, 4), det = savedA[0] * savedA[3] - savedA[2] * savedA[1];
  if (mode != RANDOM && fabs(det) >= 1e-6 * amax * amax && amax > 0.0)
    checkResidual("geSolve2x2", 2, savedA, x, savedB);
  free(A);
  free(savedA);
  free(savedB);
  free(b);
  if (!alias) free(x);
}

static void cholesky(FuzzInput* in, int mode) {
  int n = fz_range(in, -1, 12), nn = n > 0 ? n : 0;
  double* A = fz_alloc((ptrdiff_t)nn * nn);
  fillSquare(in, mode, nn, A);
  /* Only the lower triangle may be read. */
  if (mode == SPD)
    for (int j = 1; j < nn; ++j)
      for (int i = 0; i < j; ++i) A[i + j * nn] = NAN;
  double* saved = fz_copy(A, (ptrdiff_t)nn * nn);
  int info = kelm_math_lin_alg_choleskyFactor(A, n);
  FZ_CHECK(info >= 0 && info <= nn, "choleskyFactor(%d) returned %d", n, info);
  if (n <= 0 || info != 0) {
    FZ_CHECK(n > 0 || info == 0, "choleskyFactor(%d) returned %d", n, info);
    if (mode == SPD && nn > 0)
      FZ_CHECK(info == 0, "diagonally dominant SPD matrix of order %d failed at %d", n, info);
    goto done;
  }
  for (int j = 0; j < n; ++j)
    for (int i = j + 1; i < n; ++i)
      FZ_CHECK(fz_identical(&A[j + i * n], &saved[i + j * n], 1),
               "upper (%d, %d) does not mirror the input's lower triangle", j, i);
  double* S = symmetricFromLower(n, saved);
  if (mode != RANDOM && fz_allFinite(S, (ptrdiff_t)n * n)) {
    for (int j = 0; j < n; ++j) {
      FZ_CHECK(A[j + j * n] > 0.0, "pivot %d is %g", j, A[j + j * n]);
      for (int i = j; i < n; ++i) {
        double s = 0.0;
        for (int k = 0; k <= j; ++k) s += A[i + k * n] * A[j + k * n];
        double tol = 1e-13 * n * sqrt(fabs(S[i + i * n] * S[j + j * n]));
        FZ_CHECK(fabs(s - S[i + j * n]) <= tol, "(L L^T)(%d, %d) = %.17g, A has %.17g", i, j, s,
                 S[i + j * n]);
      }
    }
  }
  /* The condition estimate: in [0, 1], whatever `norm` says. */
  double* work = fz_alloc(n);
  double rc = kelm_math_lin_alg_conditionReciprocal(A, n, 1, work);
  int otherNorm = (int)fz_byte(in) - 128;
  double rc2 = kelm_math_lin_alg_conditionReciprocal(A, n, otherNorm, work);
  FZ_CHECK(fz_same(rc, rc2), "norm %d changed the estimate: %g vs %g", otherNorm, rc2, rc);
  if (fz_allFinite(A, (ptrdiff_t)n * n))
    FZ_CHECK(rc >= 0.0 && rc <= 1.0 + 1e-12, "conditionReciprocal %g outside [0, 1]", rc);

  /* Solve, into separate storage or in place. */
  double* b = fz_alloc(n);
  fz_fill(in, b, n, mode != RANDOM);
  double* savedB = fz_copy(b, n);
  int alias = fz_byte(in) & 1;
  double* x = alias ? b : fz_alloc(n);
  double* solveWork = fz_alloc(n);
  double* factor = fz_copy(A, (ptrdiff_t)n * n);
  kelm_math_lin_alg_choleskySolve(A, b, n, x, solveWork);
  FZ_CHECK(fz_identical(A, factor, (ptrdiff_t)n * n), "choleskySolve changed the factor");
  FZ_CHECK(fz_noCanary(x, n), "choleskySolve left x unwritten");
  if (mode == SPD) {
    checkResidual("choleskySolve", n, S, x, savedB);
    /* At least the true reciprocal condition number: |A^-1|_1 column by
       column through the solve. */
    double inv = 0.0;
    double* e = fz_alloc(n);
    double* col = fz_alloc(n);
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < n; ++i) e[i] = i == j ? 1.0 : 0.0;
      kelm_math_lin_alg_choleskySolve(A, e, n, col, solveWork);
      double s = 0.0;
      for (int i = 0; i < n; ++i) s += fabs(col[i]);
      if (s > inv) inv = s;
    }
    double truth = 1.0 / (matNormInf(n, n, S) * inv);
    FZ_CHECK(rc >= truth * (1.0 - 1e-9), "estimate %.17g below the true %.17g", rc, truth);
    free(e);
    free(col);
  }
  free(S);
  free(work);
  free(b);
  free(savedB);
  if (!alias) free(x);
  free(solveWork);
  free(factor);
done:
  free(A);
  free(saved);
}

/* The rank rule of the QR solves, from the header. */
static int qrRankRule(const double* QR, int rows, int s, double tol) {
  if (s <= 0) return 0;
  double r00 = fabs(QR[0]);
  if (r00 == 0.0 || !isfinite(r00) || tol != tol) return 0;
  int r = 0;
  while (r < s) {
    double d = fabs(QR[r + (ptrdiff_t)rows * r]);
    int kept = tol < 0.0 ? d != 0.0 && d == d : d > tol * r00;
    if (!kept) break;
    ++r;
  }
  return r;
}

static double decodeTolerance(FuzzInput* in) {
  switch (fz_byte(in) & 7) {
    case 0: return 1e-12;
    case 1: return 0.0;
    case 2: return -1.0;
    case 3: return NAN;
    case 4: return 1e-3;
    default: return fz_double(in);
  }
}

/* Fills A (rows by cols) by mode: LOW_RANK multiplies two small integer
   factors, so that the rank is exact. */
static void fillRect(FuzzInput* in, int mode, int rows, int cols, double* A) {
  if (mode != LOW_RANK) {
    fz_fill(in, A, (ptrdiff_t)rows * cols, mode != RANDOM);
    return;
  }
  int r = fz_range(in, 0, 4);
  double L[12 * 4], R[4 * 12];
  for (int i = 0; i < rows * r; ++i) L[i] = fz_range(in, -3, 3);
  for (int i = 0; i < r * cols; ++i) R[i] = fz_range(in, -3, 3);
  for (int j = 0; j < cols; ++j)
    for (int i = 0; i < rows; ++i) {
      double s = 0.0;
      for (int k = 0; k < r; ++k) s += L[i + k * rows] * R[k + j * r];
      A[i + j * rows] = s;
    }
}

/* Checks the factors of qrFactor against the input: pivots, monotone
   diagonal, and Q R = A P. Returns the number of fixed columns. */
static void checkQrFactors(int rows, int cols, const double* QR, const double* tau, const int* piv,
                           const int* flags, const double* saved, int mode) {
  int s = rows < cols ? rows : cols;
  FZ_CHECK(fz_noCanary(tau, s), "qrFactor left tau unwritten");
  int seen[12] = {0}, fixed = 0;
  for (int j = 0; j < cols; ++j) {
    FZ_CHECK(piv[j] >= 1 && piv[j] <= cols && !seen[piv[j] - 1], "piv[%d] = %d", j, piv[j]);
    seen[piv[j] - 1] = 1;
  }
  for (int j = 0; j < cols; ++j)
    if (flags[j]) {
      FZ_CHECK(piv[fixed] == j + 1, "fixed column %d not at %d (piv %d)", j, fixed, piv[fixed]);
      ++fixed;
    }
  if (mode == RANDOM || !fz_allFinite(saved, (ptrdiff_t)rows * cols)) return;
  for (int k = fixed; k + 1 < s; ++k) {
    double a = fabs(QR[k + (ptrdiff_t)rows * k]), b = fabs(QR[k + 1 + (ptrdiff_t)rows * (k + 1)]);
    FZ_CHECK(b <= a * (1.0 + 1e-6) + 1e-300, "|R| grows on the diagonal at %d: %g, %g", k, a, b);
  }
  /* Q R, the reflectors applied from the last to R's columns. */
  double* C = fz_alloc((ptrdiff_t)rows * cols);
  for (int j = 0; j < cols; ++j)
    for (int i = 0; i < rows; ++i) C[i + j * rows] = i <= j ? QR[i + (ptrdiff_t)j * rows] : 0.0;
  for (int k = s - 1; k >= 0; --k)
    for (int j = 0; j < cols; ++j) {
      double* c = C + (ptrdiff_t)j * rows;
      double w = c[k];
      for (int i = k + 1; i < rows; ++i) w += QR[i + (ptrdiff_t)k * rows] * c[i];
      w *= tau[k];
      c[k] -= w;
      for (int i = k + 1; i < rows; ++i) c[i] -= w * QR[i + (ptrdiff_t)k * rows];
    }
  double amax = fz_maxAbs(saved, (ptrdiff_t)rows * cols);
  for (int j = 0; j < cols; ++j)
    for (int i = 0; i < rows; ++i) {
      double want = saved[i + (ptrdiff_t)(piv[j] - 1) * rows], got = C[i + j * rows];
      FZ_CHECK(fabs(got - want) <= 1e-13 * (rows + cols) * amax,
               "(Q R)(%d, %d) = %.17g, A P has %.17g", i, j, got, want);
    }
  free(C);
}

static void qrTall(FuzzInput* in, int mode) {
  int rows = fz_range(in, 1, 12), cols = fz_range(in, 1, 12);
  int s = rows < cols ? rows : cols, big = rows > cols ? rows : cols;
  double* A = fz_alloc((ptrdiff_t)rows * cols);
  fillRect(in, mode, rows, cols, A);
  double* saved = fz_copy(A, (ptrdiff_t)rows * cols);
  int* piv = fz_allocInt(cols);
  int flags[12];
  unsigned fixMask = (fz_byte(in) & 1) ? fz_byte(in) : 0;
  for (int j = 0; j < cols; ++j) piv[j] = flags[j] = (fixMask >> (j % 8) & 1) ? 7 : 0;
  double* tau = fz_alloc(s);
  double* work = fz_alloc(cols);
  kelm_math_lin_alg_qrFactor(rows, cols, A, tau, piv, work);
  checkQrFactors(rows, cols, A, tau, piv, flags, saved, mode);

  double* x = fz_alloc(big);
  fz_fill(in, x, rows, mode != RANDOM);
  double* b = fz_copy(x, rows);
  double tol = decodeTolerance(in);
  int r = kelm_math_lin_alg_qrSolveTall(rows, cols, A, tau, piv, x, tol);
  int expected = qrRankRule(A, rows, s, tol);
  FZ_CHECK(r == expected, "qrSolveTall rank %d, the rule gives %d (tol %g, R00 %g)", r, expected,
           tol, A[0]);
  FZ_CHECK(fz_noCanary(x, cols), "qrSolveTall left the solution unwritten");
  for (int j = r; j < cols; ++j)
    FZ_CHECK(x[piv[j] - 1] == 0.0, "basic solution: x[%d] = %g beyond the rank", piv[j] - 1,
             x[piv[j] - 1]);
  /* Full column rank, well conditioned: the normal equations hold. */
  if (mode == MODERATE && r == cols && r > 0 &&
      fabs(A[r - 1 + (ptrdiff_t)rows * (r - 1)]) >= 1e-3 * fabs(A[0])) {
    double amax = fz_maxAbs(saved, (ptrdiff_t)rows * cols);
    double scale = amax * (amax * fz_maxAbs(x, cols) * cols + fz_maxAbs(b, rows)) * rows;
    for (int j = 0; j < cols; ++j) {
      double g = 0.0;
      for (int i = 0; i < rows; ++i) {
        double ri = -b[i];
        for (int k = 0; k < cols; ++k) ri += saved[i + (ptrdiff_t)k * rows] * x[k];
        g += saved[i + (ptrdiff_t)j * rows] * ri;
      }
      FZ_CHECK(fabs(g) <= 1e-9 * scale, "A^T (A x - b) at %d is %g (scale %g)", j, g, scale);
    }
  }
  free(A);
  free(saved);
  free(piv);
  free(tau);
  free(work);
  free(x);
  free(b);
}

/* qrSolveWide through factorAndSolveWide, checked against the documented
   sequence of calls and the equations it keeps. */
static void qrWide(FuzzInput* in, int mode) {
  int m = fz_range(in, 0, 12), n = fz_range(in, 1, 12);
  int big = m > n ? m : n, s = m < n ? m : n;
  double* AT = fz_alloc((ptrdiff_t)n * m); /* A^T, n by m */
  fillRect(in, mode, n, m, AT);
  double* saved = fz_copy(AT, (ptrdiff_t)n * m);
  double* b = fz_alloc(m);
  fz_fill(in, b, m, mode != RANDOM);
  double tol = decodeTolerance(in);
  double* tau = fz_alloc(m);
  double* work = fz_alloc(m);
  int* piv = fz_allocInt(m);
  double* x = fz_alloc(big);
  kelm_math_lin_alg_factorAndSolveWide(m, n, AT, tau, work, piv, b, tol, x);
  FZ_CHECK(fz_noCanary(x, n), "factorAndSolveWide left x unwritten");
  if (m == 0)
    for (int i = 0; i < n; ++i) FZ_CHECK(x[i] == 0.0, "m = 0: x[%d] = %g", i, x[i]);

  double* AT2 = fz_copy(saved, (ptrdiff_t)n * m);
  double* tau2 = fz_alloc(s);
  double* work2 = fz_alloc(m);
  int* piv2 = fz_allocInt(m);
  for (int j = 0; j < m; ++j) piv2[j] = 0;
  double* x2 = fz_alloc(n);
  kelm_math_lin_alg_qrFactor(n, m, AT2, tau2, piv2, work2);
  int r = kelm_math_lin_alg_qrSolveWide(m, n, AT2, tau2, piv2, b, tol, x2);
  FZ_CHECK(fz_sameArray(x, x2, n), "factorAndSolveWide differs from qrFactor + qrSolveWide");
  int expected = m > 0 ? qrRankRule(AT2, n, s, tol) : 0;
  FZ_CHECK(r == expected, "qrSolveWide rank %d, the rule gives %d (tol %g)", r, expected, tol);
  if (m > 0) checkQrFactors(n, m, AT2, tau2, piv2, (const int[12]){0}, saved, mode);
  /* The r kept equations hold on a well-conditioned factor. */
  if (mode == MODERATE && r > 0 &&
      fabs(AT2[r - 1 + (ptrdiff_t)n * (r - 1)]) >= 1e-3 * fabs(AT2[0])) {
    double amax = fz_maxAbs(saved, (ptrdiff_t)n * m);
    for (int j = 0; j < r; ++j) {
      int eq = piv2[j] - 1;
      double s2 = -b[eq];
      for (int i = 0; i < n; ++i) s2 += saved[i + (ptrdiff_t)eq * n] * x2[i];
      FZ_CHECK(fabs(s2) <= 1e-10 * (amax * fz_maxAbs(x2, n) * n + fz_maxAbs(b, m)),
               "kept equation %d off by %g", eq, s2);
    }
  }
  free(AT);
  free(saved);
  free(b);
  free(tau);
  free(work);
  free(piv);
  free(x);
  free(AT2);
  free(tau2);
  free(work2);
  free(piv2);
  free(x2);
}

static void positiveDefinite(FuzzInput* in, int mode) {
  int n = fz_range(in, -1, 12), nn = n > 0 ? n : 0, m = fz_range(in, -1, 4), mm = m > 0 ? m : 0;
  double* A = fz_alloc((ptrdiff_t)nn * nn);
  fillSquare(in, mode, nn, A);
  double* saved = fz_copy(A, (ptrdiff_t)nn * nn);
  double* work = fz_alloc(nn);
  int failed = kelm_math_lin_alg_factorSymmetricPosDef(A, n, work);
  if (n <= 0) {
    FZ_CHECK(failed == 0, "factorSymmetricPosDef(%d) returned %d", n, failed);
    goto done;
  }
  if (n == 1) {
    FZ_CHECK(failed == (saved[0] <= 0.0), "n = 1, A = %g: returned %d", saved[0], failed);
    FZ_CHECK(fz_identical(A, saved, 1), "n = 1 changed A");
  } else {
    FZ_CHECK(failed == 0 || failed == 1, "factorSymmetricPosDef returned %d", failed);
    /* choleskyFactor and the squared estimate above 1e-15, nothing else. */
    double* F = fz_copy(saved, (ptrdiff_t)n * n);
    int info = kelm_math_lin_alg_choleskyFactor(F, n);
    if (info == 0) {
      FZ_CHECK(fz_sameArray(A, F, (ptrdiff_t)n * n), "factor differs from choleskyFactor");
      double* w = fz_alloc(n);
      double rc = kelm_math_lin_alg_conditionReciprocal(F, n, 1, w);
      FZ_CHECK(failed == !(rc * rc > 1e-15), "returned %d with estimate %g", failed, rc);
      free(w);
    } else {
      FZ_CHECK(failed == 1, "choleskyFactor fails at %d, factorSymmetricPosDef returned 0", info);
    }
    free(F);
    if (mode == SPD) FZ_CHECK(failed == 0, "diagonally dominant SPD of order %d rejected", n);
  }
  if (failed) goto done;
  double* B = fz_alloc((ptrdiff_t)nn * mm);
  fz_fill(in, B, (ptrdiff_t)nn * mm, mode != RANDOM);
  double* X = fz_alloc((ptrdiff_t)nn * mm);
  double* solveWork = fz_alloc(nn);
  kelm_math_lin_alg_solveSymmetricPosDef(A, B, n, m, X, solveWork);
  FZ_CHECK(fz_noCanary(X, (ptrdiff_t)nn * mm), "solveSymmetricPosDef left X unwritten");
  double* S = symmetricFromLower(n, saved);
  for (int j = 0; j < mm; ++j) {
    double* want = fz_alloc(n);
    if (n == 1)
      want[0] = B[j] / A[0];
    else
      kelm_math_lin_alg_choleskySolve(A, B + (ptrdiff_t)j * n, n, want, solveWork);
    FZ_CHECK(fz_sameArray(X + (ptrdiff_t)j * n, want, n), "column %d differs from choleskySolve",
             j);
    if (mode == SPD) checkResidual("solveSymmetricPosDef", n, S, X + (ptrdiff_t)j * n, B + j * n);
    free(want);
  }
  free(S);
  free(B);
  free(X);
  free(solveWork);
done:
  free(A);
  free(saved);
  free(work);
}

static void symmetricDriver(FuzzInput* in, int mode) {
  int n = fz_range(in, -1, 12), nn = n > 0 ? n : 0;
  double* A = fz_alloc((ptrdiff_t)nn * nn);
  fillSquare(in, mode, nn, A);
  if (mode != SPD && mode != INDEFINITE) /* symmetric, as the contract asks */
    for (int j = 0; j < nn; ++j)
      for (int i = j + 1; i < nn; ++i) A[j + i * nn] = A[i + j * nn];
  double* saved = fz_copy(A, (ptrdiff_t)nn * nn);
  double* b = fz_alloc(nn);
  fz_fill(in, b, nn, mode != RANDOM);
  double* tau = fz_alloc(nn);
  int* piv = fz_allocInt(nn);
  double* x = fz_alloc(nn);
  double* work = fz_alloc(nn + (ptrdiff_t)nn * nn);
  kelm_math_lin_alg_factorAndSolveSymmetric(A, n, tau, piv, b, x, work);
  if (n <= 0) goto done;
  FZ_CHECK(fz_noCanary(x, n), "factorAndSolveSymmetric left x unwritten");
  if (n == 1) {
    double want = saved[0] == 0.0 ? 0.0 : b[0] / saved[0];
    FZ_CHECK(fz_same(x[0], want), "n = 1: x = %g, expected %g", x[0], want);
    goto done;
  }
  { /* The documented sequence: Cholesky and its estimate, else pivoted QR. */
    double* F = fz_copy(saved, (ptrdiff_t)n * n);
    double* w = fz_alloc(n + (ptrdiff_t)n * n);
    double* want = fz_alloc(n);
    int info = kelm_math_lin_alg_choleskyFactor(F, n);
    double rc = info == 0 ? kelm_math_lin_alg_conditionReciprocal(F, n, 1, w) : NAN;
    if (rc * rc > 1e-14) {
      kelm_math_lin_alg_choleskySolve(F, b, n, want, w);
    } else {
      double* t = fz_alloc(n);
      int* p = fz_allocInt(n);
      memcpy(F, saved, (size_t)n * n * sizeof(double));
      for (int j = 0; j < n; ++j) p[j] = 0;
      kelm_math_lin_alg_qrFactor(n, n, F, t, p, w);
      memcpy(want, b, (size_t)n * sizeof(double));
      kelm_math_lin_alg_qrSolveTall(n, n, F, t, p, want, 1e-12);
      FZ_CHECK(fz_sameArray(A, F, (ptrdiff_t)n * n), "A does not hold the QR factors");
      free(t);
      free(p);
    }
    FZ_CHECK(fz_sameArray(x, want, n), "x differs from the documented sequence of solves");
    if (mode == SPD || mode == INDEFINITE) checkResidual("factorAndSolveSymmetric", n, saved, x, b);
    free(F);
    free(w);
    free(want);
  }
done:
  free(A);
  free(saved);
  free(b);
  free(tau);
  free(piv);
  free(x);
  free(work);
}

/* Tridiagonal solves; the periodic one with its corner. */
static void tridiagonal(FuzzInput* in, int mode, int periodic) {
  int n = fz_range(in, -1, 12), nn = n > 0 ? n : 0, ne = nn > 1 ? nn - 1 : 0;
  double* diag = fz_alloc(nn);
  double* off = fz_alloc(ne);
  double* rhs = fz_alloc(nn);
  double corner = periodic ? fz_value(in, mode != RANDOM) : 0.0;
  int dominant = mode == SPD || mode == INDEFINITE;
  fz_fill(in, off, ne, mode != RANDOM);
  fz_fill(in, rhs, nn, mode != RANDOM);
  for (int i = 0; i < nn; ++i) {
    double d = fz_value(in, mode != RANDOM);
    if (dominant) {
      double c = (i > 0 ? fabs(off[i - 1]) : 0.0) + (i + 1 < nn ? fabs(off[i]) : 0.0);
      if (i == 0 || i == nn - 1) c += fabs(corner);
      d = 2.0 * c + 3.0 * fabs(corner) + 1.0 + fabs(d);
      if (mode == INDEFINITE && (fz_byte(in) & 1)) d = -d;
    }
    diag[i] = d;
  }
  double* d0 = fz_copy(diag, nn);
  double* e0 = fz_copy(off, ne);
  double* b0 = fz_copy(rhs, nn);
  double* work = periodic ? fz_alloc(nn) : NULL;
  int info = periodic ? kelm_math_lin_alg_solveTriDiagSymmPer(diag, off, rhs, n, corner, work)
                      : kelm_math_lin_alg_solveTriDiagSymm(diag, off, rhs, n);
  FZ_CHECK(info >= 0 && info <= nn + periodic, "returned %d for n = %d", info, n);
  if (n <= 0) FZ_CHECK(info == 0, "n = %d returned %d", n, info);
  if (info == 0 && nn > 0) {
    FZ_CHECK(fz_noCanary(rhs, nn), "solution unwritten");
    if (dominant) {
      /* The (cyclic) matrix in full. */
      double* T = fz_alloc((ptrdiff_t)nn * nn);
      for (ptrdiff_t i = 0; i < (ptrdiff_t)nn * nn; ++i) T[i] = 0.0;
      for (int i = 0; i < nn; ++i) T[i + i * nn] = d0[i];
      for (int i = 0; i + 1 < nn; ++i) T[i + (i + 1) * nn] = T[i + 1 + i * nn] = e0[i];
      if (periodic && nn == 1) T[0] += 2.0 * corner;
      if (periodic && nn >= 2) {
        T[nn - 1] += corner;
        T[(ptrdiff_t)(nn - 1) * nn] += corner;
      }
      checkResidual(periodic ? "solveTriDiagSymmPer" : "solveTriDiagSymm", nn, T, rhs, b0);
      free(T);
    }
  }
  if (dominant && nn > 0) FZ_CHECK(info == 0, "diagonally dominant system reported %d", info);
  free(diag);
  free(off);
  free(rhs);
  free(d0);
  free(e0);
  free(b0);
  free(work);
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = {data, size};
  unsigned kernel = fz_byte(&in);
  int mode = (int)(fz_byte(&in) % MODES);
  switch (kernel % 8) {
    case 0: geSolve(&in, mode); break;
    case 1: cholesky(&in, mode); break;
    case 2: qrTall(&in, mode); break;
    case 3: qrWide(&in, mode); break;
    case 4: positiveDefinite(&in, mode); break;
    case 5: symmetricDriver(&in, mode); break;
    case 6: tridiagonal(&in, mode, 0); break;
    default: tridiagonal(&in, mode, 1);
  }
  return 0;
}
