#pragma once

#include <string>
#include <tuple>

#include "frame/KernelOp.hpp"

namespace vela::math {

/// Eigenvalues w (3) and eigenvectors V (9, column by column) of the
/// symmetric 3-by-3 matrix given by its diagonal and off-diagonal terms
/// (inputs: collects of 3 values each), by kelm_math_lin_alg_jacobi3.
/// Derivatives by first-order perturbation: dw_k = v_k^T dA v_k and
/// dv_j = sum over i != j of v_i (v_i^T dA v_j) / (w_j - w_i), a pair of
/// exactly equal eigenvalues contributing nothing (the vectors' derivative
/// is not defined there; the values' stays).
struct Jacobi3 {
  auto fields() const { return std::tie(); }
  std::string description() const { return "Jacobi3"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class Jacobi3Op final : public frame::KernelOp<Jacobi3Op, Jacobi3> {
 public:
  using KernelOp::KernelOp;
  Jacobi3Op(ct::OperationPtr const& d, ct::OperationPtr const& o) : KernelOp({}, {d, o}) {}
};

/// Traced kelm_math_lin_alg_jacobi3: folds constant d and o, else records one
/// Jacobi3Op whose outputs w (3) and V (9) read.
void jacobi3(ct::TracedDouble const* d, ct::TracedDouble const* o, ct::TracedDouble* w,
             ct::TracedDouble* V);

}  // namespace vela::math
