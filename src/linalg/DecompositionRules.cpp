// Derivative rules of the eigen and singular value decompositions and their
// solves. They compute on the capacities' shapes: the actual problem, packed
// at the arrays' starts, spread out and padded with zeros (or with the
// identity where a matrix must stay regular), so that traced actual sizes
// need no shapes of their own; sizes equal to the capacities pick elements
// without any node. Singular values are taken as distinct and, where
// divided by, nonzero: the factors' terms of a pair of equal values, and
// those divided by a zero value, are zero.

#include <algorithm>
#include <string>

#include "frame/Rules.hpp"
#include "kelm_math/comp_trace/Derivatives.hpp"
#include "kelm_math/comp_trace/Functions.hpp"
#include "linalg/DecompositionOps.hpp"
#include "linalg/MatrixMultiplyOp.hpp"
#include "vela/math/dense_kernels.hpp"

namespace vela::math {

namespace {

using Array = ct::TracedArray;
using ct::TracedDouble;

using ct::TracedInt;

// The rows by cols block src holds with leading dimension ldFrom, laid out
// with leading dimension ldTo in count elements, zeros elsewhere: picked
// for constant sizes, else one SubmatrixAssignOp.
Array block(Array const& src, TracedInt const& rows, TracedInt const& cols, TracedInt const& ldFrom,
            TracedInt const& ldTo, unsigned count) {
  int r = 0, c = 0, from = 0, to = 0;
  if (rows.getConstant(r) && cols.getConstant(c) && ldFrom.getConstant(from) &&
      ldTo.getConstant(to))
    return relayout(src, rows, cols, ldFrom, ldTo, count);
  Array out(count, TracedDouble(0.0));
  submatrixAssignDynamicSize(static_cast<unsigned>(src.size()), count, rows, cols, TracedInt(0),
                             ldFrom, TracedInt(0), ldTo, src.data(), out.data());
  return out;
}

// The packed rows by cols matrix spread out to leading dimension Rows
// (Rows * Cols elements), and back to count packed elements.
Array spread(Array const& packed, TracedInt const& rows, TracedInt const& cols, unsigned Rows,
             unsigned Cols) {
  return block(packed, rows, cols, rows, TracedInt(static_cast<int>(Rows)), Rows * Cols);
}
Array pack(Array const& spreadOut, TracedInt const& rows, TracedInt const& cols, unsigned Rows,
           unsigned count) {
  return block(spreadOut, rows, cols, TracedInt(static_cast<int>(Rows)), rows, count);
}

// Ones on the padded part of the N by N diagonal (from n on).
Array withIdentity(Array A, TracedInt const& n, unsigned N) {
  for (unsigned i = 0; i < N; ++i) {
    TracedInt at(static_cast<int>(i));
    A[i + N * i] = ct::ternary(at < n, A[i + N * i], TracedDouble(1.0));
  }
  return A;
}

// False when constant sizes show rows <= k; a traced size may exceed it.
bool mayExceed(TracedInt const& rows, TracedInt const& k) {
  int r = 0, c = 0;
  return !(rows.getConstant(r) && k.getConstant(c) && r <= c);
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

// 1 / (s_j^2 - s_i^2), zero on the diagonal and at ties.
TracedDouble gap(Array const& s, unsigned i, unsigned j) {
  return i == j ? TracedDouble(0.0)
                : ct::guardedDivide(TracedDouble(1.0), s[j] * s[j] - s[i] * s[i]);
}

}  // namespace

// P = U^T dA V; dS = diag P; dU = U (F o (P S + S P^T)) + (I - U U^T) dA V S^-1,
// dV = V (F o (S P + P^T S)) + (I - V V^T) dA^T U S^-1 (thin parts; the extra
// columns of full factors, a basis of the complement, get zero derivatives).
void Svd::jvp(ct::ForwardArgs& d) const {
  if (d.isZero(2)) return;
  TracedInt m = d.size(0), n = d.size(1), k = ct::min(m, n);
  unsigned K = this->k();
  Array s = frame::leading(k, d.output(0, K)), U = spread(d.output(1, uCount()), m, k, M, K),
        V = spread(d.output(2, vCount()), n, k, N, K), dA = spread(d.tangent(2), m, n, M, N);
  Array T = multiplyConstant(0, M, N, K, dA, V), P = multiplyConstant(1, M, K, K, U, T);
  Array Q = multiplyConstant(1, M, N, K, dA, U);  // dA^T U
  Array C(K * K), D(K * K), dS(K);
  for (unsigned j = 0; j < K; ++j) {
    dS[j] = P[j + K * j];
    for (unsigned i = 0; i < K; ++i) {
      TracedDouble Pij = P[i + K * j], Pji = P[j + K * i], f = gap(s, i, j);
      C[i + K * j] = f * (Pij * s[j] + s[i] * Pji);
      D[i + K * j] = f * (s[i] * Pij + Pji * s[j]);
    }
  }
  d.setOutputTangent(0, dS);
  // The complement's part: R - U (U^T R) for R = dA V S^-1 (and likewise V).
  auto factor = [&](Array const& W, unsigned rows, bool complement, Array const& inner,
                    Array const& R) {
    Array out = multiplyConstant(0, rows, K, K, W, inner);
    if (complement) {
      Array scaled = perColumn(R, rows, s);
      out = sum(out,
                difference(scaled, multiplyConstant(0, rows, K, K, W,
                                                    multiplyConstant(1, rows, K, K, W, scaled))));
    }
    return out;
  };
  d.setOutputTangent(1, pack(factor(U, M, mayExceed(m, k), C, T), m, k, M, uCount()));
  d.setOutputTangent(2, pack(factor(V, N, mayExceed(n, k), D, Q), n, k, N, vCount()));
}

// A^ = U [(F o (J - J^T)) S + diag(S^) + S (F o (K - K^T))] V^T
//      + (U^ - U J) S^-1 V^T + U S^-1 (V^ - V K)^T, J = U^T U^, K = V^T V^.
void Svd::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(0) && d.isZeroCotangent(1) && d.isZeroCotangent(2)) return;
  TracedInt m = d.size(0), n = d.size(1), k = ct::min(m, n);
  unsigned K = this->k();
  Array s = frame::leading(k, d.output(0, K)), U = spread(d.output(1, uCount()), m, k, M, K),
        V = spread(d.output(2, vCount()), n, k, N, K);
  Array sBar = frame::leading(k, d.cotangent(0, K)),
        UBar = spread(d.cotangent(1, uCount()), m, k, M, K),
        VBar = spread(d.cotangent(2, vCount()), n, k, N, K);
  Array J = multiplyConstant(1, M, K, K, U, UBar), Kt = multiplyConstant(1, N, K, K, V, VBar);
  Array X(K * K);
  for (unsigned j = 0; j < K; ++j)
    for (unsigned i = 0; i < K; ++i) {
      TracedDouble f = gap(s, i, j);
      X[i + K * j] = i == j ? sBar[i]
                            : f * (J[i + K * j] - J[j + K * i]) * s[j] +
                                  s[i] * f * (Kt[i + K * j] - Kt[j + K * i]);
    }
  Array left = sum(multiplyConstant(0, M, K, K, U, X),
                   perColumn(difference(UBar, multiplyConstant(0, M, K, K, U, J)), M, s));
  Array right = perColumn(difference(VBar, multiplyConstant(0, N, K, K, V, Kt)), N, s);
  Array Abar = sum(multiplyConstant(2, M, K, N, left, V), multiplyConstant(2, M, K, N, U, right));
  d.add(2, pack(Abar, m, n, M, M * N));
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
  TracedInt m, n;
  unsigned M, N;
  Array A, At, b, x;
  TracedDouble tol;

  SolveParts(ct::RuleArgs const& d, unsigned rows, unsigned cols)
      : m(d.size(0)), n(d.size(1)), M(rows), N(cols), tol(d.scalar(4)) {
    A = spread(d.array(2), m, n, M, N);
    At = transposed(A, M, N);
    b = frame::leading(m, head(d.array(3), M));
    x = frame::leading(n, head(d.output(0, N), N));
  }
  Array times(Array const& v) const { return multiplyConstant(0, M, N, 1, A, v); }   // A v
  Array timesT(Array const& v) const { return multiplyConstant(1, M, N, 1, A, v); }  // A^T v
  Array solve(Array const& v) const { return pseudoSolve(M, N, A, v, tol); }         // A^+ v
  Array solveT(Array const& v) const { return pseudoSolve(N, M, At, v, tol); }       // A^+T v
};

}  // namespace

void SvdSolve::jvp(ct::ForwardArgs& d) const {
  if (d.isZero(2) && d.isZero(3)) return;
  SolveParts p(d, M, N);
  Array rhs = frame::leading(p.m, head(d.tangent(3), M)), dAz;
  if (!d.isZero(2)) {
    Array dA = spread(d.tangent(2), p.m, p.n, M, N), r = difference(p.b, p.times(p.x));
    dAz = multiplyConstant(0, N, M, 1, transposed(dA, M, N), p.solveT(p.x));
    rhs = difference(rhs, multiplyConstant(0, M, N, 1, dA, p.x));
    rhs = sum(rhs, p.solveT(multiplyConstant(1, M, N, 1, dA, r)));
    rhs = difference(rhs, p.times(dAz));
  }
  Array dx = p.solve(rhs);
  d.setOutputTangent(0, frame::leading(p.n, dAz.empty() ? dx : sum(dx, dAz)));
}

// b^ = mu = A^+T x^; A^ = -mu x^T + r nu^T + z (x^ - A^T mu)^T, nu = A^+ mu.
void SvdSolve::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(0)) return;
  SolveParts p(d, M, N);
  Array w = frame::leading(p.n, d.cotangent(0, N)), mu = p.solveT(w);
  d.add(3, frame::leading(p.m, mu));
  if (!varies(d.array(2))) return;
  Array r = difference(p.b, p.times(p.x)), z = p.solveT(p.x), nu = p.solve(mu);
  Array minusMu = difference(Array(M, TracedDouble(0.0)), mu);
  Array Abar =
      sum(sum(multiplyConstant(0, M, 1, N, minusMu, p.x), multiplyConstant(0, M, 1, N, r, nu)),
          multiplyConstant(0, M, 1, N, z, difference(w, p.timesT(mu))));
  d.add(2, pack(Abar, p.m, p.n, M, M * N));
}

// x = sum over kept j of c_j v_j (u_j . b), c_j = 1 / S_j (0 when dropped).
namespace {

struct FactorParts {
  TracedInt m, n, k;
  unsigned M, N, K;
  Array S, U, V, b, c;

  FactorParts(ct::RuleArgs const& d, unsigned rows, unsigned cols)
      : m(d.size(0)), n(d.size(1)), k(ct::min(m, n)), M(rows), N(cols), K(std::min(M, N)) {
    S = frame::leading(k, head(d.array(2), K));
    U = spread(d.array(3), m, k, M, K);
    V = spread(d.array(4), n, k, N, K);
    b = frame::leading(m, head(d.array(5), M));
    TracedDouble tol = d.scalar(6);
    for (unsigned j = 0; j < K; ++j)
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
  FactorParts p(d, M, N);
  Array tS = frame::leading(p.k, head(d.tangent(2), p.K)),
        tU = spread(d.tangent(3), p.m, p.k, M, p.K), tV = spread(d.tangent(4), p.n, p.k, N, p.K),
        tb = frame::leading(p.m, head(d.tangent(5), M));
  Array dx(N, TracedDouble(0.0));
  for (unsigned j = 0; j < p.K; ++j) {
    TracedDouble beta = p.dot(p.U, M * j, p.b), dBeta(0.0);
    if (dU) dBeta = dBeta + p.dot(tU, M * j, p.b);
    if (db) dBeta = dBeta + p.dot(p.U, M * j, tb);
    TracedDouble along = p.c[j] * (dS ? dBeta - beta * p.c[j] * tS[j] : dBeta);
    for (unsigned i = 0; i < N; ++i) {
      TracedDouble term = p.V[N * j + i] * along;
      if (dV) term = term + tV[N * j + i] * (p.c[j] * beta);
      dx[i] = dx[i] + term;
    }
  }
  d.setOutputTangent(1, frame::leading(p.n, dx));
}

void SvdSolveFromFactorization::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(1)) return;
  FactorParts p(d, M, N);
  Array w = frame::leading(p.n, d.cotangent(1, N)), Sbar(p.K), Ubar(M * p.K), Vbar(N * p.K),
        bbar(M, TracedDouble(0.0));
  for (unsigned j = 0; j < p.K; ++j) {
    TracedDouble beta = p.dot(p.U, M * j, p.b), gamma = p.dot(p.V, N * j, w);
    Sbar[j] = -(p.c[j] * p.c[j] * beta * gamma);
    for (unsigned i = 0; i < N; ++i) Vbar[N * j + i] = p.c[j] * beta * w[i];
    for (unsigned i = 0; i < M; ++i) {
      Ubar[M * j + i] = p.c[j] * gamma * p.b[i];
      bbar[i] = bbar[i] + p.c[j] * gamma * p.U[M * j + i];
    }
  }
  d.add(2, frame::leading(p.k, Sbar));
  d.add(3, pack(Ubar, p.m, p.k, M, p.K * M));
  d.add(4, pack(Vbar, p.n, p.k, N, p.K * N));
  d.add(5, frame::leading(p.m, bbar));
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
  TracedInt n;
  unsigned N, K;
  Array A, B, re, im, vr, vi;

  EigParts(ct::RuleArgs const& d, unsigned capacity) : n(d.size(0)), N(capacity), K(2 * N + 2) {
    // The identity on A's padding keeps each pair's system regular there.
    A = withIdentity(spread(d.array(1), n, n, N, N), n, N);
    B = spread(d.array(2), n, n, N, N);
    re = frame::leading(n, d.output(0, N));
    im = frame::leading(n, d.output(1, N));
    vr = spread(d.output(2, N * N), n, n, N, N);
    vi = spread(d.output(3, N * N), n, n, N, N);
  }
  Array column(Array const& V, unsigned j) const {
    return Array(V.begin() + N * j, V.begin() + N * (j + 1));
  }
  Array times(Array const& M, Array const& v) const { return multiplyConstant(0, N, N, 1, M, v); }
  // Pairs 0 up to n (all N when n is traced: those past it are masked).
  unsigned pairs() const {
    int count = 0;
    return n.getConstant(count) ? static_cast<unsigned>(std::clamp(count, 0, int(N))) : N;
  }

  // The bordered matrix of pair j (K by K, column-major).
  Array system(unsigned j) const {
    Array S(K * K, TracedDouble(0.0));
    Array x = column(vr, j), y = column(vi, j), Bx = times(B, x), By = times(B, y);
    TracedDouble lr = re[j], li = im[j];
    auto at = [&](unsigned r, unsigned c) -> TracedDouble& { return S[r + K * c]; };
    for (unsigned c = 0; c < N; ++c)
      for (unsigned r = 0; r < N; ++r) {
        TracedDouble Crc = A[r + N * c] - lr * B[r + N * c], liB = li * B[r + N * c];
        at(r, c) = Crc;
        at(N + r, N + c) = Crc;
        at(r, N + c) = liB;
        at(N + r, c) = -liB;
      }
    for (unsigned r = 0; r < N; ++r) {
      at(r, 2 * N) = -Bx[r];
      at(r, 2 * N + 1) = By[r];
      at(N + r, 2 * N) = -By[r];
      at(N + r, 2 * N + 1) = -Bx[r];
    }
    Array score(N);
    for (unsigned i = 0; i < N; ++i) score[i] = -(ct::abs(x[i]) + ct::abs(y[i]));
    TracedInt p = ct::indexOfMin(score.data(), static_cast<int>(N));
    for (unsigned i = 0; i < N; ++i) {
      TracedDouble e = ct::ternary(p == static_cast<int>(i), TracedDouble(1.0), TracedDouble(0.0));
      at(2 * N, i) = e;
      at(2 * N + 1, N + i) = e;
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
  Array tA = spread(d.tangent(1), e.n, e.n, N, N), tB = spread(d.tangent(2), e.n, e.n, N, N);
  Array tre(N, TracedDouble(0.0)), tim = tre, tvr(N * N, TracedDouble(0.0)), tvi = tvr;
  for (unsigned j = 0; j < e.pairs(); ++j) {
    Array x = e.column(e.vr, j), y = e.column(e.vi, j), rhs(e.K, TracedDouble(0.0));
    Array Ax = dA ? e.times(tA, x) : Array(N, TracedDouble(0.0)), Ay = dA ? e.times(tA, y) : Ax;
    Array Bx = dB ? e.times(tB, x) : Array(N, TracedDouble(0.0)), By = dB ? e.times(tB, y) : Bx;
    for (unsigned r = 0; r < N; ++r) {
      rhs[r] = -((Ax[r] - e.re[j] * Bx[r]) + e.im[j] * By[r]);
      rhs[N + r] = -((Ay[r] - e.re[j] * By[r]) - e.im[j] * Bx[r]);
    }
    Array t = e.solve(e.system(j), rhs);
    tre[j] = t[2 * N];
    tim[j] = t[2 * N + 1];
    std::copy_n(t.begin(), N, tvr.begin() + N * j);
    std::copy_n(t.begin() + N, N, tvi.begin() + N * j);
  }
  d.setOutputTangent(0, frame::leading(e.n, tre));
  d.setOutputTangent(1, frame::leading(e.n, tim));
  d.setOutputTangent(2, pack(tvr, e.n, e.n, N, N * N));
  d.setOutputTangent(3, pack(tvi, e.n, e.n, N, N * N));
}

// With w = S^-T t^ for pair j's cotangents t^: A^ -= w1 vr^T + w2 vi^T,
// B^ += w1 (lr vr - li vi)^T + w2 (lr vi + li vr)^T.
void Eig::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(0) && d.isZeroCotangent(1) && d.isZeroCotangent(2) && d.isZeroCotangent(3))
    return;
  EigParts e(d, N);
  Array cre = frame::leading(e.n, d.cotangent(0, N)), cim = frame::leading(e.n, d.cotangent(1, N)),
        cvr = spread(d.cotangent(2, N * N), e.n, e.n, N, N),
        cvi = spread(d.cotangent(3, N * N), e.n, e.n, N, N);
  Array Abar(N * N, TracedDouble(0.0)), Bbar = Abar;
  for (unsigned j = 0; j < e.pairs(); ++j) {
    Array t(cvr.begin() + N * j, cvr.begin() + N * (j + 1));
    t.insert(t.end(), cvi.begin() + N * j, cvi.begin() + N * (j + 1));
    t.push_back(cre[j]);
    t.push_back(cim[j]);
    Array w = e.solve(transposed(e.system(j), e.K, e.K), t);
    Array w1(w.begin(), w.begin() + N), w2(w.begin() + N, w.begin() + 2 * N);
    Array x = e.column(e.vr, j), y = e.column(e.vi, j), bx(N), by(N);
    for (unsigned i = 0; i < N; ++i) {
      bx[i] = e.re[j] * x[i] - e.im[j] * y[i];
      by[i] = e.re[j] * y[i] + e.im[j] * x[i];
    }
    Abar = difference(
        Abar, sum(multiplyConstant(0, N, 1, N, w1, x), multiplyConstant(0, N, 1, N, w2, y)));
    Bbar =
        sum(Bbar, sum(multiplyConstant(0, N, 1, N, w1, bx), multiplyConstant(0, N, 1, N, w2, by)));
  }
  d.add(1, pack(Abar, e.n, e.n, N, N * N));
  d.add(2, pack(Bbar, e.n, e.n, N, N * N));
}

// The orthonormalized V is Q = V R^-1, R = Q^T B V upper triangular with a
// positive diagonal (the Gram-Schmidt process in the B inner product), so
// dQ = W - Q Phi(Q^T B W + W^T B Q + Q^T dB Q) with W = dV R^-1, Phi taking
// the upper triangle and half the diagonal. R^-1 is applied by square solves
// of the wide kernel. B is read from its lower triangle. A failed
// orthonormalization's derivatives mean nothing.
namespace {

struct OrthoParts {
  TracedInt n;
  unsigned N;
  Array B, V, Q, R;

  // The identity on the padding keeps V, Q and R regular there.
  OrthoParts(ct::RuleArgs const& d, unsigned capacity) : n(d.size(0)), N(capacity) {
    B = withIdentity(symmetricFromLower(spread(d.array(1), n, n, N, N), N), n, N);
    V = withIdentity(spread(d.array(2), n, n, N, N), n, N);
    Q = withIdentity(spread(d.output(1, N * N), n, n, N, N), n, N);
    R = multiplyConstant(1, N, N, N, Q, multiplyConstant(0, N, N, N, B, V));
  }
  // Rows of X times R^-1 (transposed: R^T z = row), or R^-T (R z = row).
  Array rowsOver(Array const& X, bool transpose) const {
    Array out(N * N), system = transpose ? transposed(R, N, N) : R, row(N), z(N);
    for (unsigned i = 0; i < N; ++i) {
      for (unsigned j = 0; j < N; ++j) row[j] = X[i + N * j];
      Array copy = system;
      factorAndSolveWide(N, N, copy.data(), nullptr, nullptr, nullptr, row.data(),
                         TracedDouble(0.0), z.data());
      for (unsigned j = 0; j < N; ++j) out[i + N * j] = z[j];
    }
    return out;
  }
  // The upper triangle of P with half its diagonal.
  Array upperHalf(Array P) const {
    for (unsigned j = 0; j < N; ++j)
      for (unsigned i = 0; i < N; ++i)
        P[i + N * j] = i > j ? TracedDouble(0.0) : i == j ? 0.5 * P[i + N * j] : P[i + N * j];
    return P;
  }
  // The packed result over N * N elements, those past n * n passed through
  // from `rest` (the node copies them from its input V).
  Array packed(Array const& X, Array const& rest) const {
    Array out = pack(X, n, n, N, N * N);
    TracedInt nn = n * n;
    int count = 0;
    bool constant = nn.getConstant(count);
    for (unsigned e = 0; e < N * N; ++e) {
      if (constant && static_cast<int>(e) < count) continue;
      TracedInt at(static_cast<int>(e));
      out[e] = constant ? rest[e] : ct::ternary(at < nn, out[e], rest[e]);
    }
    return out;
  }
};

}  // namespace

void OrthonormalizeRealEigWrtSpdB::jvp(ct::ForwardArgs& d) const {
  bool dB = !d.isZero(1), dV = !d.isZero(2);
  if (!dB && !dV) return;
  OrthoParts o(d, N);
  Array Y(N * N, TracedDouble(0.0)), W = Y;
  if (dV) {
    W = o.rowsOver(spread(d.tangent(2), o.n, o.n, N, N), false);
    Array X = multiplyConstant(1, N, N, N, o.Q, multiplyConstant(0, N, N, N, o.B, W));
    Y = sum(X, transposed(X, N, N));
  }
  if (dB) {
    Array tB = symmetricFromLower(spread(d.tangent(1), o.n, o.n, N, N), N);
    Y = sum(Y, multiplyConstant(1, N, N, N, o.Q, multiplyConstant(0, N, N, N, tB, o.Q)));
  }
  Array dQ = difference(W, multiplyConstant(0, N, N, N, o.Q, o.upperHalf(Y)));
  d.setOutputTangent(1, o.packed(dQ, d.tangent(2)));
}

// G = Phi(Q^T Q^): W^ = Q^ - B Q (G + G^T), V^ = W^ R^-T, B^ = -Q G Q^T.
void OrthonormalizeRealEigWrtSpdB::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(1)) return;
  OrthoParts o(d, N);
  Array cotangent = d.cotangent(1, N * N), Qbar = spread(cotangent, o.n, o.n, N, N);
  Array G = o.upperHalf(multiplyConstant(1, N, N, N, o.Q, Qbar));
  Array BQ = multiplyConstant(0, N, N, N, o.B, o.Q);
  Array Wbar = difference(Qbar, multiplyConstant(0, N, N, N, BQ, sum(G, transposed(G, N, N))));
  d.add(2, o.packed(o.rowsOver(Wbar, true), cotangent));
  Array QGQt = multiplyConstant(2, N, N, N, multiplyConstant(0, N, N, N, o.Q, G), o.Q);
  d.add(1, pack(foldOntoLower(difference(Array(N * N, TracedDouble(0.0)), QGQt), N), o.n, o.n, N,
                N * N));
}

}  // namespace vela::math
