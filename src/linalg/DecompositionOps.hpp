#pragma once

// Nodes of the eigen and singular value decompositions. Capacities are the
// fields; evaluation sizes its buffers by the evaluated actual sizes.

#include <string>
#include <tuple>

#include "frame/KernelOp.hpp"

namespace vela::math {

/// Inputs: n, collects of A and B (N*N each). Outputs: eigenvalue real and
/// imaginary parts (N each), eigenvector real and imaginary parts (N*N each).
struct Eig {
  unsigned N;

  auto fields() const { return std::tie(N); }
  std::string description() const { return "Eig"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class EigOp final : public frame::KernelOp<EigOp, Eig> {
 public:
  using KernelOp::KernelOp;
  EigOp(unsigned N, ct::OperationPtr const& n, ct::OperationPtr const& A, ct::OperationPtr const& B)
      : KernelOp({N}, {n, A, B}) {}
};

/// Inputs: n, collects of B and V (N*N each). Outputs: the flag (1 int), the
/// updated V (N*N).
struct OrthonormalizeRealEigWrtSpdB {
  unsigned N;

  auto fields() const { return std::tie(N); }
  std::string description() const { return "OrthonormalizeRealEigWrtSpdB"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class OrthonormalizeRealEigWrtSpdBOp final
    : public frame::KernelOp<OrthonormalizeRealEigWrtSpdBOp, OrthonormalizeRealEigWrtSpdB> {
 public:
  using KernelOp::KernelOp;
  OrthonormalizeRealEigWrtSpdBOp(unsigned N, ct::OperationPtr const& n, ct::OperationPtr const& B,
                                 ct::OperationPtr const& V)
      : KernelOp({N}, {n, B, V}) {}
};

/// Inputs: m, n, collect of A (M*N). Outputs: S, U, V of the capacities.
struct Svd {
  unsigned M;
  unsigned N;
  bool full;

  auto fields() const { return std::tie(M, N, full); }
  std::string description() const { return "Svd"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
  unsigned k() const { return M < N ? M : N; }
  unsigned uCount() const { return M * (full ? M : k()); }
  unsigned vCount() const { return N * (full ? N : k()); }
};

class SvdOp final : public frame::KernelOp<SvdOp, Svd> {
 public:
  using KernelOp::KernelOp;
  SvdOp(unsigned M, unsigned N, bool full, ct::OperationPtr const& m, ct::OperationPtr const& n,
        ct::OperationPtr const& A)
      : KernelOp({M, N, full}, {m, n, A}) {}
};

/// Inputs: m, n, collects of A (M*N) and b (M), tol. Output: x (N).
struct SvdSolve {
  unsigned M;
  unsigned N;

  auto fields() const { return std::tie(M, N); }
  std::string description() const { return "SvdSolve"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class SvdSolveOp final : public frame::KernelOp<SvdSolveOp, SvdSolve> {
 public:
  using KernelOp::KernelOp;
  SvdSolveOp(unsigned M, unsigned N, ct::OperationPtr const& m, ct::OperationPtr const& n,
             ct::OperationPtr const& A, ct::OperationPtr const& b, ct::OperationPtr const& tol)
      : KernelOp({M, N}, {m, n, A, b, tol}) {}
};

/// Inputs: m, n, collects of S (k), U (k*M), V (k*N), b (M), tol, with
/// k = min(M, N). Outputs: the flag (1 int), x (N).
struct SvdSolveFromFactorization {
  unsigned M;
  unsigned N;

  auto fields() const { return std::tie(M, N); }
  std::string description() const { return "SvdSolveFromFactorization"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class SvdSolveFromFactorizationOp final
    : public frame::KernelOp<SvdSolveFromFactorizationOp, SvdSolveFromFactorization> {
 public:
  using KernelOp::KernelOp;
  SvdSolveFromFactorizationOp(unsigned M, unsigned N, ct::OperationPtr const& m,
                              ct::OperationPtr const& n, ct::OperationPtr const& S,
                              ct::OperationPtr const& U, ct::OperationPtr const& V,
                              ct::OperationPtr const& b, ct::OperationPtr const& tol)
      : KernelOp({M, N}, {m, n, S, U, V, b, tol}) {}
};

/// Inputs: m, n, collect of s (min(M, N)), tol. Value: the rank.
struct SvdComputeRank {
  auto fields() const { return std::tie(); }
  std::string description() const { return "SvdComputeRank"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  static constexpr bool zeroDerivative = true;
};

class SvdComputeRankOp final : public frame::ScalarKernelOp<SvdComputeRankOp, SvdComputeRank, int> {
 public:
  using ScalarKernelOp::ScalarKernelOp;
  SvdComputeRankOp(ct::OperationPtr const& m, ct::OperationPtr const& n, ct::OperationPtr const& s,
                   ct::OperationPtr const& tol)
      : ScalarKernelOp({}, {m, n, s, tol}) {}
};

}  // namespace vela::math
