#include "linalg/Jacobi3Op.hpp"

#include <algorithm>
#include <array>

#include "frame/TracedCall.hpp"
#include "kelm_math/comp_trace/Functions.hpp"
#include "kelm_math/lin_alg.h"

namespace vela::math {

void Jacobi3::compute(frame::Args& args) const {
  double* w = args.output(3);
  double* V = args.output(9);
  kelm_math_lin_alg_jacobi3(args.doubles(0), args.doubles(1), w, V);
}

void Jacobi3::code(frame::Code& code) const {
  std::string w = code.output(ct::ScalarType::Double, 3);
  std::string V = code.output(ct::ScalarType::Double, 9);
  code.call("kelm_math_lin_alg_jacobi3", {code.array(0), code.array(1), w, V});
}

void jacobi3(ct::TracedDouble const* d, ct::TracedDouble const* o, ct::TracedDouble* w,
             ct::TracedDouble* V) {
  frame::TracedCall<Jacobi3Op> call(Jacobi3{});
  call.array(d, 3, 3).array(o, 3, 3).output(w, 3, 3).output(V, 9, 9);
  call.run();
}

// ---------------------------------------------------------------------------
// Derivative rules
// ---------------------------------------------------------------------------

namespace {

using Matrix = std::array<ct::TracedDouble, 9>;  // 3 by 3, column-major

// Off-diagonal term i couples the two axes other than i.
constexpr int kFirst[3] = {1, 0, 0}, kSecond[3] = {2, 2, 1};

Matrix symmetric(ct::TracedArray const& d, ct::TracedArray const& o) {
  Matrix A;
  for (int k = 0; k < 3; ++k) {
    A[k + 3 * k] = d[k];
    A[kFirst[k] + 3 * kSecond[k]] = A[kSecond[k] + 3 * kFirst[k]] = o[k];
  }
  return A;
}

// A B, A^T B or A B^T.
Matrix multiply(Matrix const& A, Matrix const& B, bool transposeA, bool transposeB) {
  Matrix C;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      ct::TracedDouble sum(0.0);
      for (int k = 0; k < 3; ++k)
        sum = sum + A[transposeA ? k + 3 * i : i + 3 * k] * B[transposeB ? j + 3 * k : k + 3 * j];
      C[i + 3 * j] = sum;
    }
  return C;
}

// P with its off-diagonal (i, j) divided by w_j - w_i (0 at a tie) and its
// diagonal zeroed.
Matrix byGaps(Matrix P, ct::TracedArray const& w) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      P[i + 3 * j] = i == j ? ct::TracedDouble(0.0) : ct::guardedDivide(P[i + 3 * j], w[j] - w[i]);
  return P;
}

Matrix fromArray(ct::TracedArray const& a) {
  Matrix M;
  std::copy(a.begin(), a.end(), M.begin());
  return M;
}

}  // namespace

void Jacobi3::jvp(ct::ForwardArgs& d) const {
  if (d.isZero(0) && d.isZero(1)) return;
  ct::TracedArray w = d.output(0, 3);
  Matrix V = fromArray(d.output(1, 9));
  Matrix P =
      multiply(V, multiply(symmetric(d.tangent(0), d.tangent(1)), V, false, false), true, false);
  ct::TracedDouble* dw = d.outputTangent(0, 3);
  for (int k = 0; k < 3; ++k) dw[k] = P[k + 3 * k];
  Matrix dV = multiply(V, byGaps(P, w), false, false);
  std::copy(dV.begin(), dV.end(), d.outputTangent(1, 9));
}

// A^ = V (diag(w^) + gaps o (V^T V^)) V^T, folded onto the six terms.
void Jacobi3::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(0) && d.isZeroCotangent(1)) return;
  ct::TracedArray w = d.output(0, 3), wBar = d.cotangent(0, 3);
  Matrix V = fromArray(d.output(1, 9));
  Matrix inner = byGaps(multiply(V, fromArray(d.cotangent(1, 9)), true, false), w);
  for (int k = 0; k < 3; ++k) inner[k + 3 * k] = wBar[k];
  Matrix G = multiply(multiply(V, inner, false, false), V, false, true);
  ct::TracedArray dBar(3), oBar(3);
  for (int k = 0; k < 3; ++k) {
    dBar[k] = G[k + 3 * k];
    oBar[k] = G[kFirst[k] + 3 * kSecond[k]] + G[kSecond[k] + 3 * kFirst[k]];
  }
  d.add(0, dBar);
  d.add(1, oBar);
}

}  // namespace vela::math
