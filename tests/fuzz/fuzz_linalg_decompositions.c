/* The kelm_math_lin_alg_* decompositions: eig with its work sizes,
   orthonormalizeRealEigenvectorsWrtSpdB, svd, svdComputeRank,
   svdSolveFromFactorization, svdSolve (with their work sizes) and jacobi3.
   The first byte picks the kernel. Work arrays get exactly the size the
   size functions give; the checks are the structure and accuracy the
   header promises. */
#include "fuzz_common.h"
#include "kelm_math/lin_alg.h"

static double* square(FuzzInput* in, int n, int moderate) {
  double* A = fz_alloc((ptrdiff_t)n * n);
  fz_fill(in, A, (ptrdiff_t)n * n, moderate);
  return A;
}

/* A diagonally dominant SPD matrix (lower triangle and upper alike). */
static void fillSpd(FuzzInput* in, int n, double* B) {
  for (int j = 0; j < n; ++j)
    for (int i = j + 1; i < n; ++i) B[i + j * n] = B[j + i * n] = fz_moderate(in);
  for (int i = 0; i < n; ++i) {
    double row = 0.0;
    for (int j = 0; j < n; ++j)
      if (j != i) row += fabs(B[i + j * n]);
    B[i + i * n] = 2.0 * row + 1.0 + fabs(fz_moderate(in));
  }
}

/* b = -a, a not zero. */
static int conjugates(int n, const double* a, const double* b) {
  int nonzero = 0;
  for (int i = 0; i < n; ++i) {
    if (b[i] != -a[i]) return 0;
    nonzero |= a[i] != 0.0;
  }
  return nonzero;
}

static void eig(FuzzInput* in, unsigned mode) {
  int n = fz_range(in, -1, 12), nn = n > 0 ? n : 0;
  int lwork = kelm_math_lin_alg_eigReqdRealWorkSize(n);
  int liwork = kelm_math_lin_alg_eigReqdInt32WorkSize(n);
  FZ_CHECK(lwork == (n < 1 ? 1 : 2 * n * n + 12 * n), "eigReqdRealWorkSize(%d) = %d", n, lwork);
  FZ_CHECK(liwork == 1, "eigReqdInt32WorkSize(%d) = %d", n, liwork);
  int moderate = mode & 1;
  double* A = square(in, nn, moderate);
  double* B = fz_alloc((ptrdiff_t)nn * nn);
  if (mode & 2)
    fillSpd(in, nn, B);
  else
    fz_fill(in, B, (ptrdiff_t)nn * nn, moderate);
  double* savedA = fz_copy(A, (ptrdiff_t)nn * nn);
  double* savedB = fz_copy(B, (ptrdiff_t)nn * nn);
  double* re = fz_alloc(nn);
  double* im = fz_alloc(nn);
  double* vre = fz_alloc((ptrdiff_t)nn * nn);
  double* vim = fz_alloc((ptrdiff_t)nn * nn);
  double* work = fz_alloc(lwork);
  int* iwork = fz_allocInt(liwork);
  int ok = kelm_math_lin_alg_eig(n, A, B, re, im, vre, vim, work, iwork);
  FZ_CHECK(
      fz_identical(A, savedA, (ptrdiff_t)nn * nn) && fz_identical(B, savedB, (ptrdiff_t)nn * nn),
      "eig changed A or B");
  int finite = fz_allFinite(A, (ptrdiff_t)nn * nn) && fz_allFinite(B, (ptrdiff_t)nn * nn);
  if (n <= 0) {
    FZ_CHECK(ok == 1, "eig(%d) returned %d", n, ok);
    goto done;
  }
  if (!finite) FZ_CHECK(ok == 0, "non-finite input accepted");
  if (!ok) {
    for (int j = 0; j < nn; ++j) FZ_CHECK(isnan(re[j]) && isnan(im[j]), "failure: value %d", j);
    for (ptrdiff_t i = 0; i < (ptrdiff_t)nn * nn; ++i)
      FZ_CHECK(isnan(vre[i]) && isnan(vim[i]), "failure: vector entry %td not NaN", i);
    goto done;
  }
  FZ_CHECK(fz_noCanary(re, n) && fz_noCanary(im, n), "eigenvalues unwritten");
  FZ_CHECK(fz_noCanary(vre, (ptrdiff_t)n * n) && fz_noCanary(vim, (ptrdiff_t)n * n),
           "eigenvectors unwritten");
  double na = 0.0, nb = 0.0;
  for (int j = 0; j < n; ++j) {
    double sa = 0.0, sb = 0.0;
    for (int i = 0; i < n; ++i) sa += fabs(A[i + j * n]), sb += fabs(B[i + j * n]);
    if (sa > na) na = sa;
    if (sb > nb) nb = sb;
  }
  for (int j = 0; j < n; ++j) {
    const double *vr = vre + (ptrdiff_t)j * n, *vi = vim + (ptrdiff_t)j * n;
    FZ_CHECK(!(im[j] < 0.0) || (j > 0 && im[j - 1] > 0.0), "im[%d] < 0 opens no pair", j);
    /* A pair whose imaginary part underflows in alpha / beta keeps its
       complex vectors with im = +-0 (known, left as it is): one of the
       neighbouring columns is then the conjugate. */
    int underflowedPair =
        im[j] == 0.0 && ((j + 1 < n && im[j + 1] == 0.0 && conjugates(n, vi, vi + n)) ||
                         (j > 0 && im[j - 1] == 0.0 && conjugates(n, vi - n, vi)));
    if (im[j] == 0.0 && !underflowedPair)
      for (int i = 0; i < n; ++i)
        FZ_CHECK(vi[i] == 0.0, "real value %d, vim[%d] = %g", j, i, vi[i]);
    if (im[j] > 0.0) {
      FZ_CHECK(j + 1 < n && fz_same(re[j + 1], re[j]) && im[j + 1] == -im[j],
               "value %d: conjugate missing", j);
      for (int i = 0; i < n; ++i)
        FZ_CHECK(fz_same(vr[n + i], vr[i]) && vi[n + i] == -vi[i], "vector %d: not conjugated", j);
    }
    /* Largest component of |re| + |im| 1 (tiny vectors stay as they are). */
    double big = 0.0;
    for (int i = 0; i < n; ++i)
      if (fabs(vr[i]) + fabs(vi[i]) > big) big = fabs(vr[i]) + fabs(vi[i]);
    FZ_CHECK(!(big > 1.0 + 1e-12), "vector %d has a component of size %.17g", j, big);
    if (big >= DBL_MIN / DBL_EPSILON)
      FZ_CHECK(big >= 1.0 - 1e-12, "vector %d not normalised (%.17g)", j, big);
    /* Residual of A v = lambda B v for finite eigenvalues of a pencil of
       moderate entries. */
    if (moderate && isfinite(re[j]) && isfinite(im[j]) && big >= 1e-100) {
      double worst = 0.0, lam = hypot(re[j], im[j]);
      for (int i = 0; i < n; ++i) {
        double ar = 0.0, ai = 0.0, br = 0.0, bi = 0.0;
        for (int k = 0; k < n; ++k) {
          ar += A[i + k * n] * vr[k], ai += A[i + k * n] * vi[k];
          br += B[i + k * n] * vr[k], bi += B[i + k * n] * vi[k];
        }
        double rr = ar - (re[j] * br - im[j] * bi), ri = ai - (re[j] * bi + im[j] * br);
        if (hypot(rr, ri) > worst) worst = hypot(rr, ri);
      }
      FZ_CHECK(worst <= 1e-10 * n * (na + lam * nb),
               "eig residual %g for value %g%+gi (|A| %g |B| %g)", worst, re[j], im[j], na, nb);
    }
  }
done:
  free(A);
  free(B);
  free(savedA);
  free(savedB);
  free(re);
  free(im);
  free(vre);
  free(vim);
  free(work);
  free(iwork);
}

static void orthonormalize(FuzzInput* in, unsigned mode) {
  int n = fz_range(in, -1, 12), nn = n > 0 ? n : 0;
  double* B = fz_alloc((ptrdiff_t)nn * nn);
  int spd = mode & 2;
  if (spd)
    fillSpd(in, nn, B);
  else
    fz_fill(in, B, (ptrdiff_t)nn * nn, mode & 1);
  double* V = square(in, nn, mode & 1);
  double* savedV = fz_copy(V, (ptrdiff_t)nn * nn);
  double* work = fz_alloc(3 * (ptrdiff_t)nn * nn);
  /* The same call with garbage in the strict upper triangle of B. */
  double* upper = fz_copy(B, (ptrdiff_t)nn * nn);
  for (int j = 1; j < nn; ++j)
    for (int i = 0; i < j; ++i) upper[i + j * nn] = NAN;
  double* V2 = fz_copy(V, (ptrdiff_t)nn * nn);
  double* work2 = fz_alloc(3 * (ptrdiff_t)nn * nn);
  int ok = kelm_math_lin_alg_orthonormalizeRealEigenvectorsWrtSpdB(n, B, V, work);
  int ok2 = kelm_math_lin_alg_orthonormalizeRealEigenvectorsWrtSpdB(n, upper, V2, work2);
  FZ_CHECK(ok == ok2 && fz_sameArray(V, V2, (ptrdiff_t)nn * nn),
           "the upper triangle of B was read");
  if (n <= 0) FZ_CHECK(ok == 1, "n = %d returned %d", n, ok);
  if (!ok) {
    FZ_CHECK(fz_identical(V, savedV, (ptrdiff_t)nn * nn), "failure changed V");
  } else if (spd && fz_allFinite(savedV, (ptrdiff_t)nn * nn)) {
    /* V^T B V = I. */
    for (int a = 0; a < n; ++a)
      for (int b = 0; b < n; ++b) {
        double s = 0.0;
        for (int i = 0; i < n; ++i)
          for (int k = 0; k < n; ++k) s += V[i + a * n] * B[i + k * n] * V[k + b * n];
        FZ_CHECK(fabs(s - (a == b)) <= 1e-8, "(V^T B V)(%d, %d) = %.17g", a, b, s);
      }
  }
  free(B);
  free(V);
  free(savedV);
  free(work);
  free(upper);
  free(V2);
  free(work2);
}

/* Columns of Q (rows by cols) orthonormal. */
static void checkOrthonormal(const char* what, int rows, int cols, const double* Q) {
  for (int a = 0; a < cols; ++a)
    for (int b = a; b < cols; ++b) {
      double s = 0.0;
      for (int i = 0; i < rows; ++i) s += Q[i + (ptrdiff_t)a * rows] * Q[i + (ptrdiff_t)b * rows];
      FZ_CHECK(fabs(s - (a == b)) <= 1e-12 * (rows + 1), "%s: columns %d, %d give %.17g", what, a,
               b, s);
    }
}

static void svd(FuzzInput* in, unsigned mode) {
  int m = fz_range(in, -1, 12), n = fz_range(in, -1, 12);
  unsigned char full = (unsigned char)(fz_byte(in) & 3); /* any nonzero means full */
  int mm = m > 0 ? m : 0, nn = n > 0 ? n : 0, k = mm < nn ? mm : nn;
  int lwork = kelm_math_lin_alg_svdReqdWorkSize(m, n, full);
  FZ_CHECK(lwork == (k > 1 ? k : 1), "svdReqdWorkSize(%d, %d) = %d", m, n, lwork);
  int uc = full ? mm : k, vc = full ? nn : k;
  int negative = m < 0 || n < 0;
  double* A = fz_alloc((ptrdiff_t)mm * nn);
  fz_fill(in, A, (ptrdiff_t)mm * nn, mode & 1);
  if (mode & 2) /* repeated columns: rank deficiency */
    for (int j = 1; j < nn; j += 2)
      memcpy(A + (ptrdiff_t)j * mm, A + (ptrdiff_t)(j - 1) * mm, (size_t)mm * sizeof(double));
  double* saved = fz_copy(A, (ptrdiff_t)mm * nn);
  double* S = fz_alloc(negative ? 0 : k);
  double* U = fz_alloc(negative ? 0 : (ptrdiff_t)mm * uc);
  double* V = fz_alloc(negative ? 0 : (ptrdiff_t)nn * vc);
  double* work = fz_alloc(lwork);
  kelm_math_lin_alg_svd(m, n, A, full, S, U, V, work);
  FZ_CHECK(fz_identical(A, saved, (ptrdiff_t)mm * nn), "svd changed A");
  if (negative) goto done; /* zero-byte outputs: ASan saw any write */
  FZ_CHECK(
      fz_noCanary(S, k) && fz_noCanary(U, (ptrdiff_t)mm * uc) && fz_noCanary(V, (ptrdiff_t)nn * vc),
      "svd(%d, %d, full %d) left outputs unwritten", m, n, full);
  if (!fz_allFinite(A, (ptrdiff_t)mm * nn)) goto done;
  for (int j = 0; j < k; ++j) {
    FZ_CHECK(S[j] >= 0.0, "S[%d] = %g", j, S[j]);
    FZ_CHECK(j == 0 || S[j] <= S[j - 1], "S not descending at %d", j);
  }
  checkOrthonormal("U", mm, uc, U);
  checkOrthonormal("V", nn, vc, V);
  /* Signs: the first entry of largest magnitude of v_j (m >= n), else of
     u_j, is positive. */
  for (int j = 0; j < k; ++j) {
    const double* w = m >= n ? V + (ptrdiff_t)j * nn : U + (ptrdiff_t)j * mm;
    int len = m >= n ? nn : mm, best = 0;
    for (int i = 1; i < len; ++i)
      if (fabs(w[i]) > fabs(w[best])) best = i;
    FZ_CHECK(w[best] > 0.0, "pair %d: leading entry %g", j, w[best]);
  }
  /* A = U diag(S) V^T; subnormal singular values carry absolute rounding. */
  double amax = fz_maxAbs(A, (ptrdiff_t)mm * nn);
  if (amax < 1e300) {
    for (int j = 0; j < nn; ++j)
      for (int i = 0; i < mm; ++i) {
        double s = 0.0;
        for (int l = 0; l < k; ++l) s += U[i + (ptrdiff_t)l * mm] * S[l] * V[j + (ptrdiff_t)l * nn];
        FZ_CHECK(fabs(s - A[i + j * mm]) <= 1e-12 * (mm + nn) * amax + 8 * (k + 1) * 0x1p-1074,
                 "(U S V^T)(%d, %d) = %.17g, A has %.17g", i, j, s, A[i + j * mm]);
      }
  }
done:
  free(A);
  free(saved);
  free(S);
  free(U);
  free(V);
  free(work);
}

static int rankRule(int k, const double* s, double tol) {
  int r = 0;
  for (int i = 0; i < k; ++i) r += s[i] > tol && s[i] > 0.0;
  return r;
}

static void svdSolves(FuzzInput* in, unsigned mode) {
  int m = fz_range(in, -1, 12), n = fz_range(in, -1, 12);
  int mm = m > 0 ? m : 0, nn = n > 0 ? n : 0, k = mm < nn ? mm : nn;
  double tol = (mode & 4) ? fz_double(in) : 1e-10 * (fz_byte(in) & 3);
  double* A = fz_alloc((ptrdiff_t)mm * nn);
  fz_fill(in, A, (ptrdiff_t)mm * nn, mode & 1);
  double* b = fz_alloc(mm);
  fz_fill(in, b, mm, mode & 1);

  /* The rank alone, on arbitrary values. */
  double* s = fz_alloc(k);
  fz_fill(in, s, k, 0);
  int rank = kelm_math_lin_alg_svdComputeRank(m, n, s, tol);
  FZ_CHECK(rank == rankRule(k, s, tol), "svdComputeRank %d, expected %d", rank,
           rankRule(k, s, tol));
  free(s);

  int solveWork = kelm_math_lin_alg_svdSolveReqdWorkSize(m, n);
  int fromWork = kelm_math_lin_alg_svdSolveFromFactorizationReqdWorkSize(m, n);
  int svdWork = kelm_math_lin_alg_svdReqdWorkSize(m, n, 0);
  FZ_CHECK(fromWork == (k > 1 ? k : 1), "svdSolveFromFactorizationReqdWorkSize %d", fromWork);
  FZ_CHECK(solveWork == (k < 1 ? 1 : k * (mm + nn + 1) + svdWork + fromWork),
           "svdSolveReqdWorkSize(%d, %d) = %d", m, n, solveWork);

  double* x = fz_alloc(nn);
  double* work = fz_alloc(solveWork);
  kelm_math_lin_alg_svdSolve(m, n, A, b, tol, x, work);
  if (m == 0 && n > 0)
    for (int i = 0; i < nn; ++i) FZ_CHECK(fz_same(x[i], 0.0), "m = 0: x[%d] = %g", i, x[i]);
  if (m <= 0 || n <= 0) {
    if (!(m == 0 && n > 0)) FZ_CHECK(fz_allCanary(x, nn), "svdSolve(%d, %d) wrote x", m, n);
    free(x);
    free(work);
    free(A);
    free(b);
    return;
  }
  FZ_CHECK(fz_noCanary(x, nn), "svdSolve left x unwritten");

  /* The documented route: thin svd, then the solve from the factors. */
  double* S = fz_alloc(k);
  double* U = fz_alloc((ptrdiff_t)mm * k);
  double* V = fz_alloc((ptrdiff_t)nn * k);
  double* w1 = fz_alloc(svdWork);
  kelm_math_lin_alg_svd(m, n, A, 0, S, U, V, w1);
  double* x2 = fz_alloc(nn);
  double* w2 = fz_alloc(fromWork);
  int all = kelm_math_lin_alg_svdSolveFromFactorization(m, n, S, U, V, b, tol, x2, w2);
  FZ_CHECK(fz_sameArray(x, x2, nn), "svdSolve differs from svd + svdSolveFromFactorization");
  int kept = rankRule(k, S, tol);
  FZ_CHECK(all == (kept == k), "svdSolveFromFactorization returned %d with %d of %d kept", all,
           kept, k);
  /* x against the formula, in long double. */
  if (fz_allFinite(A, (ptrdiff_t)mm * nn) && fz_allFinite(b, mm) && (mode & 1)) {
    for (int i = 0; i < nn; ++i) {
      long double sum = 0.0L, scale = 0.0L;
      for (int j = 0; j < k; ++j) {
        if (!(S[j] > tol && S[j] > 0.0)) continue;
        long double ub = 0.0L, ua = 0.0L;
        for (int r = 0; r < mm; ++r) {
          ub += (long double)U[r + (ptrdiff_t)j * mm] * b[r];
          ua += fabsl((long double)U[r + (ptrdiff_t)j * mm] * b[r]);
        }
        sum += V[i + (ptrdiff_t)j * nn] * ub / S[j];
        scale += fabsl(V[i + (ptrdiff_t)j * nn] * ua / S[j]);
      }
      FZ_CHECK(fabsl(x[i] - sum) <= 1e-12L * (mm + k) * scale + 1e-300L,
               "x[%d] = %.17g, the formula gives %.17Lg", i, x[i], sum);
    }
  }
  free(S);
  free(U);
  free(V);
  free(w1);
  free(x2);
  free(w2);
  free(x);
  free(work);
  free(A);
  free(b);
}

static void jacobi3(FuzzInput* in, unsigned mode) {
  double* d = fz_alloc(3);
  double* o = fz_alloc(3);
  int moderate = mode & 1;
  fz_fill(in, d, 3, moderate);
  if (mode & 2)
    for (int i = 0; i < 3; ++i) o[i] = (fz_byte(in) & 1) ? -0.0 : 0.0;
  else
    fz_fill(in, o, 3, moderate);
  double* w = fz_alloc(3);
  double* V = fz_alloc(9);
  kelm_math_lin_alg_jacobi3(d, o, w, V);
  FZ_CHECK(fz_noCanary(w, 3) && fz_noCanary(V, 9), "jacobi3 left outputs unwritten");
  if (o[0] == 0.0 && o[1] == 0.0 && o[2] == 0.0) {
    FZ_CHECK(fz_identical(w, d, 3), "diagonal input: w differs from d");
    for (int i = 0; i < 9; ++i) FZ_CHECK(V[i] == (i % 4 == 0), "diagonal input: V is not I");
  }
  double big = fmax(fz_maxAbs(d, 3), fz_maxAbs(o, 3));
  if (!fz_allFinite(d, 3) || !fz_allFinite(o, 3) || big > 1e150) goto done;
  /* The matrix, o[r] coupling the two axes other than r. */
  double M[3][3] = {{d[0], o[2], o[1]}, {o[2], d[1], o[0]}, {o[1], o[0], d[2]}};
  double wmax = fz_maxAbs(w, 3);
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 3; ++i) {
      double s = -w[c] * V[i + 3 * c];
      for (int k = 0; k < 3; ++k) s += M[i][k] * V[k + 3 * c];
      FZ_CHECK(fabs(s) <= 1e-14 * wmax + 1e-300, "(A V - V w)(%d, %d) = %g of %g", i, c, s, wmax);
    }
  checkOrthonormal("jacobi3 V", 3, 3, V);
  double det = V[0] * (V[4] * V[8] - V[7] * V[5]) - V[3] * (V[1] * V[8] - V[7] * V[2]) +
               V[6] * (V[1] * V[5] - V[4] * V[2]);
  FZ_CHECK(fabs(det - 1.0) <= 1e-13, "det V = %.17g", det);
done:
  free(d);
  free(o);
  free(w);
  free(V);
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in = {data, size};
  unsigned kernel = fz_byte(&in), mode = fz_byte(&in);
  switch (kernel % 5) {
    case 0: eig(&in, mode); break;
    case 1: orthonormalize(&in, mode); break;
    case 2: svd(&in, mode); break;
    case 3: svdSolves(&in, mode); break;
    default: jacobi3(&in, mode);
  }
  return 0;
}
