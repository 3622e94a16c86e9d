// Derivative rules of the singular value decomposition and its solves, for
// constant actual sizes (the packed layouts are then known when the rule is
// recorded). Singular values are taken as distinct and, where divided by,
// nonzero: the factors' terms of a pair of equal values, and those divided
// by a zero value, are zero.

#include <algorithm>
#include <string>

#include "kelm_math/comp_trace/Derivatives.hpp"
#include "kelm_math/comp_trace/Functions.hpp"
#include "linalg/DecompositionOps.hpp"
#include "linalg/MatrixMultiplyOp.hpp"
#include "vela/math/dense_kernels.hpp"

namespace vela::math {

namespace {

using Array = ct::TracedArray;
using ct::TracedDouble;

unsigned constantSize(ct::RuleArgs const& d, std::size_t i) {
  int size = 0;
  if (!d.size(i).getConstant(size))
    throw ct::DerivativeError(d.node().description() + ": derivatives need constant actual sizes");
  return static_cast<unsigned>(std::max(size, 0));
}

// The s0 by s2 product of `kind` (0: A B, 1: A^T B, 2: A B^T) of constant sizes.
Array product(int kind, unsigned s0, unsigned s1, unsigned s2, Array const& A, Array const& B) {
  unsigned count = kind == 1 ? s1 * s2 : s0 * s2;
  return multiplyArrays(kind, count, ct::TracedInt(static_cast<int>(s0)),
                        ct::TracedInt(static_cast<int>(s1)), ct::TracedInt(static_cast<int>(s2)), A,
                        B);
}

Array head(Array const& a, std::size_t n) { return Array(a.begin(), a.begin() + n); }

// Column j of the rows by columns X divided by s[j] (zero where s[j] is).
Array perColumn(Array X, unsigned rows, Array const& s) {
  for (std::size_t k = 0; k < X.size(); ++k) X[k] = ct::guardedDivide(X[k], s[k / rows]);
  return X;
}

Array transposed(Array const& a, unsigned rows, unsigned columns) {
  Array t(a.size());
  for (unsigned j = 0; j < columns; ++j)
    for (unsigned i = 0; i < rows; ++i) t[j + columns * i] = a[i + rows * j];
  return t;
}

void write(ct::ForwardArgs& d, unsigned j, Array const& t) {
  std::copy(t.begin(), t.end(), d.outputTangent(j, static_cast<unsigned>(t.size())));
}

// 1 / (s_j^2 - s_i^2), zero on the diagonal and at ties.
TracedDouble gap(Array const& s, unsigned i, unsigned j) {
  return i == j ? TracedDouble(0.0)
                : ct::guardedDivide(TracedDouble(1.0), s[j] * s[j] - s[i] * s[i]);
}

struct SvdShape {
  unsigned m, n, k;
};

}  // namespace

// P = U^T dA V; dS = diag P; dU = U (F o (P S + S P^T)) + (I - U U^T) dA V S^-1,
// dV = V (F o (S P + P^T S)) + (I - V V^T) dA^T U S^-1 (thin parts; the extra
// columns of full factors, a basis of the complement, get zero derivatives).
void Svd::jvp(ct::ForwardArgs& d) const {
  if (d.isZero(2)) return;
  SvdShape z{constantSize(d, 0), constantSize(d, 1), 0};
  z.k = std::min(z.m, z.n);
  if (z.k == 0) return;
  Array s = d.output(0, z.k), U = head(d.output(1, uCount()), z.m * z.k),
        V = head(d.output(2, vCount()), z.n * z.k), dA = head(d.tangent(2), z.m * z.n);
  Array T = product(0, z.m, z.n, z.k, dA, V), P = product(1, z.m, z.k, z.k, U, T);
  Array Q = product(1, z.m, z.n, z.k, dA, U);  // dA^T U
  Array C(z.k * z.k), D(z.k * z.k), dS(z.k);
  for (unsigned j = 0; j < z.k; ++j) {
    dS[j] = P[j + z.k * j];
    for (unsigned i = 0; i < z.k; ++i) {
      TracedDouble Pij = P[i + z.k * j], Pji = P[j + z.k * i], f = gap(s, i, j);
      C[i + z.k * j] = f * (Pij * s[j] + s[i] * Pji);
      D[i + z.k * j] = f * (s[i] * Pij + Pji * s[j]);
    }
  }
  write(d, 0, dS);
  // The complement's part: R - U (U^T R) for R = dA V S^-1 (and likewise V).
  auto factor = [&](Array const& W, unsigned rows, Array const& inner, Array const& R) {
    Array out = product(0, rows, z.k, z.k, W, inner);
    if (rows > z.k) {
      Array scaled = perColumn(R, rows, s);
      out = sum(out, difference(scaled, product(0, rows, z.k, z.k, W,
                                                product(1, rows, z.k, z.k, W, scaled))));
    }
    return out;
  };
  write(d, 1, factor(U, z.m, C, T));
  write(d, 2, factor(V, z.n, D, Q));
}

// A^ = U [(F o (J - J^T)) S + diag(S^) + S (F o (K - K^T))] V^T
//      + (U^ - U J) S^-1 V^T + U S^-1 (V^ - V K)^T, J = U^T U^, K = V^T V^.
void Svd::vjp(ct::ReverseArgs& d) const {
  SvdShape z{constantSize(d, 0), constantSize(d, 1), 0};
  z.k = std::min(z.m, z.n);
  if (z.k == 0 || (d.isZeroCotangent(0) && d.isZeroCotangent(1) && d.isZeroCotangent(2))) return;
  Array s = d.output(0, z.k), U = head(d.output(1, uCount()), z.m * z.k),
        V = head(d.output(2, vCount()), z.n * z.k);
  Array sBar = d.cotangent(0, z.k), UBar = head(d.cotangent(1, uCount()), z.m * z.k),
        VBar = head(d.cotangent(2, vCount()), z.n * z.k);
  Array J = product(1, z.m, z.k, z.k, U, UBar), K = product(1, z.n, z.k, z.k, V, VBar);
  Array X(z.k * z.k);
  for (unsigned j = 0; j < z.k; ++j)
    for (unsigned i = 0; i < z.k; ++i) {
      TracedDouble f = gap(s, i, j);
      X[i + z.k * j] = i == j ? sBar[i]
                              : f * (J[i + z.k * j] - J[j + z.k * i]) * s[j] +
                                    s[i] * f * (K[i + z.k * j] - K[j + z.k * i]);
    }
  Array left = sum(product(0, z.m, z.k, z.k, U, X),
                   perColumn(difference(UBar, product(0, z.m, z.k, z.k, U, J)), z.m, s));
  Array right = perColumn(difference(VBar, product(0, z.n, z.k, z.k, V, K)), z.n, s);
  Array Abar = sum(product(2, z.m, z.k, z.n, left, V), product(2, z.m, z.k, z.n, U, right));
  d.add(2, Abar);
}

// x = A^+ b at full rank: dx = A^+ (db - dA x + A^+T dA^T r - A dA^T z) + dA^T z
// with r = b - A x and z = A^+T x, A^+ applied by the kernel itself (A^+T
// through the transpose). The tolerance has zero derivative.
namespace {

Array pseudoSolve(unsigned m, unsigned n, Array const& A, Array const& b, TracedDouble const& tol) {
  Array x(n);
  svdSolve(m, n, A.data(), b.data(), tol, x.data(), nullptr);
  return x;
}

struct SolveParts {
  unsigned m, n;
  Array A, At, b, x;
  TracedDouble tol;

  SolveParts(ct::RuleArgs const& d, unsigned N)
      : m(constantSize(d, 0)), n(constantSize(d, 1)), tol(d.scalar(4)) {
    A = head(d.array(2), m * n);
    At = transposed(A, m, n);
    b = head(d.array(3), m);
    x = head(d.output(0, N), n);
  }
  Array times(Array const& v) const { return product(0, m, n, 1, A, v); }       // A v
  Array timesT(Array const& v) const { return product(1, m, n, 1, A, v); }      // A^T v
  Array solve(Array const& v) const { return pseudoSolve(m, n, A, v, tol); }    // A^+ v
  Array solveT(Array const& v) const { return pseudoSolve(n, m, At, v, tol); }  // A^+T v
};

}  // namespace

void SvdSolve::jvp(ct::ForwardArgs& d) const {
  if (d.isZero(2) && d.isZero(3)) return;
  SolveParts p(d, N);
  if (p.m == 0 || p.n == 0) return;
  Array rhs = head(d.tangent(3), p.m), dAz;
  if (!d.isZero(2)) {
    Array dA = head(d.tangent(2), p.m * p.n), r = difference(p.b, p.times(p.x));
    dAz = product(0, p.n, p.m, 1, transposed(dA, p.m, p.n), p.solveT(p.x));
    rhs = difference(rhs, product(0, p.m, p.n, 1, dA, p.x));
    rhs = sum(rhs, p.solveT(product(1, p.m, p.n, 1, dA, r)));
    rhs = difference(rhs, p.times(dAz));
  }
  Array dx = p.solve(rhs);
  write(d, 0, dAz.empty() ? dx : sum(dx, dAz));
}

// b^ = mu = A^+T x^; A^ = -mu x^T + r nu^T + z (x^ - A^T mu)^T, nu = A^+ mu.
void SvdSolve::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(0)) return;
  SolveParts p(d, N);
  if (p.m == 0 || p.n == 0) return;
  Array w = d.cotangent(0, p.n), mu = p.solveT(w);
  d.add(3, mu);
  if (!varies(p.A)) return;
  Array r = difference(p.b, p.times(p.x)), z = p.solveT(p.x), nu = p.solve(mu);
  Array minusMu = difference(Array(p.m, TracedDouble(0.0)), mu);
  Array Abar = sum(sum(product(0, p.m, 1, p.n, minusMu, p.x), product(0, p.m, 1, p.n, r, nu)),
                   product(0, p.m, 1, p.n, z, difference(w, p.timesT(mu))));
  d.add(2, Abar);
}

// x = sum over kept j of c_j v_j (u_j . b), c_j = 1 / S_j (0 when dropped).
namespace {

struct FactorParts {
  unsigned m, n, k;
  Array S, U, V, b, c;

  explicit FactorParts(ct::RuleArgs const& d)
      : m(constantSize(d, 0)), n(constantSize(d, 1)), k(std::min(m, n)) {
    S = head(d.array(2), k);
    U = head(d.array(3), m * k);
    V = head(d.array(4), n * k);
    b = head(d.array(5), m);
    TracedDouble tol = d.scalar(6);
    for (unsigned j = 0; j < k; ++j)
      c.push_back(ct::ternary(S[j] > tol && S[j] > 0.0, 1.0 / S[j], TracedDouble(0.0)));
  }
  TracedDouble dot(Array const& a, unsigned offset, Array const& v) const {
    TracedDouble sum(0.0);
    for (std::size_t i = 0; i < v.size(); ++i) sum = sum + a[offset + i] * v[i];
    return sum;
  }
};

}  // namespace

void SvdSolveFromFactorization::jvp(ct::ForwardArgs& d) const {
  bool dS = !d.isZero(2), dU = !d.isZero(3), dV = !d.isZero(4), db = !d.isZero(5);
  if (!dS && !dU && !dV && !db) return;
  FactorParts p(d);
  if (p.k == 0) return;
  Array tS = d.tangent(2), tU = d.tangent(3), tV = d.tangent(4), tb = head(d.tangent(5), p.m);
  Array dx(p.n, TracedDouble(0.0));
  for (unsigned j = 0; j < p.k; ++j) {
    TracedDouble beta = p.dot(p.U, p.m * j, p.b), dBeta(0.0);
    if (dU) dBeta = dBeta + p.dot(tU, p.m * j, p.b);
    if (db) dBeta = dBeta + p.dot(p.U, p.m * j, tb);
    TracedDouble along = p.c[j] * (dS ? dBeta - beta * p.c[j] * tS[j] : dBeta);
    for (unsigned i = 0; i < p.n; ++i) {
      TracedDouble term = p.V[p.n * j + i] * along;
      if (dV) term = term + tV[p.n * j + i] * (p.c[j] * beta);
      dx[i] = dx[i] + term;
    }
  }
  write(d, 1, dx);
}

void SvdSolveFromFactorization::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(1)) return;
  FactorParts p(d);
  if (p.k == 0) return;
  Array w = d.cotangent(1, p.n), Sbar(p.k), Ubar(p.m * p.k), Vbar(p.n * p.k),
        bbar(p.m, TracedDouble(0.0));
  for (unsigned j = 0; j < p.k; ++j) {
    TracedDouble beta = p.dot(p.U, p.m * j, p.b), gamma = p.dot(p.V, p.n * j, w);
    Sbar[j] = -(p.c[j] * p.c[j] * beta * gamma);
    for (unsigned i = 0; i < p.n; ++i) Vbar[p.n * j + i] = p.c[j] * beta * w[i];
    for (unsigned i = 0; i < p.m; ++i) {
      Ubar[p.m * j + i] = p.c[j] * gamma * p.b[i];
      bbar[i] = bbar[i] + p.c[j] * gamma * p.U[p.m * j + i];
    }
  }
  d.add(2, Sbar);
  d.add(3, Ubar);
  d.add(4, Vbar);
  d.add(5, bbar);
}

// Eigenpair j of A v = lambda B v, in real form (v = vr + i vi, lambda =
// lr + i li, C = A - lr B): the differentiated equations
//   C dvr + li B dvi - dlr B vr + dli B vi = -((dA - lr dB) vr + li dB vi)
//   -li B dvr + C dvi - dlr B vi - dli B vr = -((dA - lr dB) vi - li dB vr)
// bordered by dvr_p = dvi_p = 0, p the component the kernel scales to
// |re| + |im| = 1: a real vector's derivative is then the kernel's exactly;
// a complex one's phase, which the kernel leaves to the algorithm, is held
// at component p. One square solve per pair and sweep (a real pair gives
// dvi = 0 and dli = 0).
namespace {

struct EigParts {
  unsigned n, K;
  Array A, B, re, im, vr, vi;

  EigParts(ct::RuleArgs const& d, unsigned N) : n(constantSize(d, 0)), K(2 * n + 2) {
    A = head(d.array(1), n * n);
    B = head(d.array(2), n * n);
    re = head(d.output(0, N), n);
    im = head(d.output(1, N), n);
    vr = head(d.output(2, N * N), n * n);
    vi = head(d.output(3, N * N), n * n);
  }
  Array column(Array const& V, unsigned j) const {
    return Array(V.begin() + n * j, V.begin() + n * (j + 1));
  }
  Array times(Array const& M, Array const& v) const { return product(0, n, n, 1, M, v); }

  // The bordered matrix of pair j (K by K, column-major).
  Array system(unsigned j) const {
    Array S(K * K, TracedDouble(0.0));
    Array x = column(vr, j), y = column(vi, j), Bx = times(B, x), By = times(B, y);
    TracedDouble lr = re[j], li = im[j];
    auto at = [&](unsigned r, unsigned c) -> TracedDouble& { return S[r + K * c]; };
    for (unsigned c = 0; c < n; ++c)
      for (unsigned r = 0; r < n; ++r) {
        TracedDouble Crc = A[r + n * c] - lr * B[r + n * c], liB = li * B[r + n * c];
        at(r, c) = Crc;
        at(n + r, n + c) = Crc;
        at(r, n + c) = liB;
        at(n + r, c) = -liB;
      }
    for (unsigned r = 0; r < n; ++r) {
      at(r, 2 * n) = -Bx[r];
      at(r, 2 * n + 1) = By[r];
      at(n + r, 2 * n) = -By[r];
      at(n + r, 2 * n + 1) = -Bx[r];
    }
    Array score(n);
    for (unsigned i = 0; i < n; ++i) score[i] = -(ct::abs(x[i]) + ct::abs(y[i]));
    ct::TracedInt p = ct::indexOfMin(score.data(), static_cast<int>(n));
    for (unsigned i = 0; i < n; ++i) {
      TracedDouble e = ct::ternary(p == static_cast<int>(i), TracedDouble(1.0), TracedDouble(0.0));
      at(2 * n, i) = e;
      at(2 * n + 1, n + i) = e;
    }
    return S;
  }

  Array solve(Array const& S, Array const& rhs) const {
    return pseudoSolve(K, K, S, rhs, TracedDouble(0.0));
  }
};

}  // namespace

void Eig::jvp(ct::ForwardArgs& d) const {
  bool dA = !d.isZero(1), dB = !d.isZero(2);
  if (!dA && !dB) return;
  EigParts e(d, N);
  Array tA = head(d.tangent(1), e.n * e.n), tB = head(d.tangent(2), e.n * e.n);
  TracedDouble *tre = d.outputTangent(0, N), *tim = d.outputTangent(1, N),
               *tvr = d.outputTangent(2, N * N), *tvi = d.outputTangent(3, N * N);
  for (unsigned j = 0; j < e.n; ++j) {
    Array x = e.column(e.vr, j), y = e.column(e.vi, j), rhs(e.K, TracedDouble(0.0));
    Array Ax = dA ? e.times(tA, x) : Array(e.n, TracedDouble(0.0)), Ay = dA ? e.times(tA, y) : Ax;
    Array Bx = dB ? e.times(tB, x) : Array(e.n, TracedDouble(0.0)), By = dB ? e.times(tB, y) : Bx;
    for (unsigned r = 0; r < e.n; ++r) {
      rhs[r] = -((Ax[r] - e.re[j] * Bx[r]) + e.im[j] * By[r]);
      rhs[e.n + r] = -((Ay[r] - e.re[j] * By[r]) - e.im[j] * Bx[r]);
    }
    Array t = e.solve(e.system(j), rhs);
    tre[j] = t[2 * e.n];
    tim[j] = t[2 * e.n + 1];
    std::copy_n(t.begin(), e.n, tvr + e.n * j);
    std::copy_n(t.begin() + e.n, e.n, tvi + e.n * j);
  }
}

// With w = S^-T t^ for pair j's cotangents t^: A^ -= w1 vr^T + w2 vi^T,
// B^ += w1 (lr vr - li vi)^T + w2 (lr vi + li vr)^T.
void Eig::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(0) && d.isZeroCotangent(1) && d.isZeroCotangent(2) && d.isZeroCotangent(3))
    return;
  EigParts e(d, N);
  if (e.n == 0) return;
  Array cre = d.cotangent(0, N), cim = d.cotangent(1, N), cvr = d.cotangent(2, N * N),
        cvi = d.cotangent(3, N * N);
  Array Abar(e.n * e.n, TracedDouble(0.0)), Bbar = Abar;
  for (unsigned j = 0; j < e.n; ++j) {
    Array t(cvr.begin() + e.n * j, cvr.begin() + e.n * (j + 1));
    t.insert(t.end(), cvi.begin() + e.n * j, cvi.begin() + e.n * (j + 1));
    t.push_back(cre[j]);
    t.push_back(cim[j]);
    Array w = e.solve(transposed(e.system(j), e.K, e.K), t);
    Array w1(w.begin(), w.begin() + e.n), w2(w.begin() + e.n, w.begin() + 2 * e.n);
    Array x = e.column(e.vr, j), y = e.column(e.vi, j), bx(e.n), by(e.n);
    for (unsigned i = 0; i < e.n; ++i) {
      bx[i] = e.re[j] * x[i] - e.im[j] * y[i];
      by[i] = e.re[j] * y[i] + e.im[j] * x[i];
    }
    Abar = difference(Abar, sum(product(0, e.n, 1, e.n, w1, x), product(0, e.n, 1, e.n, w2, y)));
    Bbar = sum(Bbar, sum(product(0, e.n, 1, e.n, w1, bx), product(0, e.n, 1, e.n, w2, by)));
  }
  d.add(1, Abar);
  d.add(2, Bbar);
}

// The orthonormalized V is Q = V R^-1, R = Q^T B V upper triangular with a
// positive diagonal (the Gram-Schmidt process in the B inner product), so
// dQ = W - Q Phi(Q^T B W + W^T B Q + Q^T dB Q) with W = dV R^-1, Phi taking
// the upper triangle and half the diagonal. R^-1 is applied by square solves
// of the wide kernel. B is read from its lower triangle. A failed
// orthonormalization's derivatives mean nothing.
namespace {

struct OrthoParts {
  unsigned n;
  Array B, V, Q, R;

  OrthoParts(ct::RuleArgs const& d, unsigned N) : n(constantSize(d, 0)) {
    B = symmetricFromLower(head(d.array(1), n * n), n);
    V = head(d.array(2), n * n);
    Q = head(d.output(1, N * N), n * n);
    R = product(1, n, n, n, Q, product(0, n, n, n, B, V));
  }
  // Rows of X times R^-1 (transposed: R^T z = row), or R^-T (R z = row).
  Array rowsOver(Array const& X, bool transpose) const {
    Array out(n * n), system = transpose ? transposed(R, n, n) : R, row(n), z(n);
    for (unsigned i = 0; i < n; ++i) {
      for (unsigned j = 0; j < n; ++j) row[j] = X[i + n * j];
      Array copy = system;
      factorAndSolveWide(n, n, copy.data(), nullptr, nullptr, nullptr, row.data(),
                         TracedDouble(0.0), z.data());
      for (unsigned j = 0; j < n; ++j) out[i + n * j] = z[j];
    }
    return out;
  }
  // The upper triangle of P with half its diagonal.
  Array upperHalf(Array P) const {
    for (unsigned j = 0; j < n; ++j)
      for (unsigned i = 0; i < n; ++i)
        P[i + n * j] = i > j ? TracedDouble(0.0) : i == j ? 0.5 * P[i + n * j] : P[i + n * j];
    return P;
  }
};

}  // namespace

void OrthonormalizeRealEigWrtSpdB::jvp(ct::ForwardArgs& d) const {
  bool dB = !d.isZero(1), dV = !d.isZero(2);
  if (!dB && !dV) return;
  OrthoParts o(d, N);
  if (o.n == 0) return;
  unsigned n = o.n;
  Array Y(n * n, TracedDouble(0.0)), W = Y;
  if (dV) {
    W = o.rowsOver(head(d.tangent(2), n * n), false);
    Array X = product(1, n, n, n, o.Q, product(0, n, n, n, o.B, W));
    Y = sum(X, transposed(X, n, n));
  }
  if (dB) {
    Array tB = symmetricFromLower(head(d.tangent(1), n * n), n);
    Y = sum(Y, product(1, n, n, n, o.Q, product(0, n, n, n, tB, o.Q)));
  }
  Array dQ = difference(W, product(0, n, n, n, o.Q, o.upperHalf(Y)));
  std::copy(dQ.begin(), dQ.end(), d.outputTangent(1, n * n));
}

// G = Phi(Q^T Q^): W^ = Q^ - B Q (G + G^T), V^ = W^ R^-T, B^ = -Q G Q^T.
void OrthonormalizeRealEigWrtSpdB::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(1)) return;
  OrthoParts o(d, N);
  if (o.n == 0) return;
  unsigned n = o.n;
  Array Qbar = head(d.cotangent(1, N * N), n * n);
  Array G = o.upperHalf(product(1, n, n, n, o.Q, Qbar));
  Array BQ = product(0, n, n, n, o.B, o.Q);
  Array Wbar = difference(Qbar, product(0, n, n, n, BQ, sum(G, transposed(G, n, n))));
  d.add(2, o.rowsOver(Wbar, true));
  Array QGQt = product(2, n, n, n, product(0, n, n, n, o.Q, G), o.Q);
  d.add(1, foldOntoLower(difference(Array(n * n, TracedDouble(0.0)), QGQt), n));
}

}  // namespace vela::math
