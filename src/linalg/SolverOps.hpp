#pragma once

#include <string>
#include <tuple>

#include "frame/KernelOp.hpp"

namespace vela::math {

/// x = A^{-1} b, 2 by 2. Inputs: collect of A (4), collect of b (2); one
/// output of 2 doubles.
struct GeSolve2x2 {
  auto fields() const { return std::tie(); }
  std::string description() const { return "GeSolve2x2"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class GeSolve2x2Op final : public frame::KernelOp<GeSolve2x2Op, GeSolve2x2> {
 public:
  using KernelOp::KernelOp;
  GeSolve2x2Op(ct::OperationPtr const& A, ct::OperationPtr const& b) : KernelOp({}, {A, b}) {}
};

/// Cholesky factor with a conditioning test. Input: collect of A (n * n).
/// Outputs: the failure flag (1 int), the factor (n * n, over A's storage
/// when it may be overwritten).
struct FactorSymmetricPosDef {
  unsigned long n;

  auto fields() const { return std::tie(n); }
  std::string description() const { return "FactorSymmetric"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class FactorSymmetricPosDefOp final
    : public frame::KernelOp<FactorSymmetricPosDefOp, FactorSymmetricPosDef> {
 public:
  using KernelOp::KernelOp;
  FactorSymmetricPosDefOp(unsigned long n, ct::OperationPtr const& A) : KernelOp({n}, {A}) {}
};

/// X = A^{-1} B from the factor L. Inputs: collect of L (n * n), collect of
/// B (n * m); one output of n * m doubles.
struct SolveSymmetricPosDef {
  unsigned long n;
  unsigned long m;

  auto fields() const { return std::tie(n, m); }
  std::string description() const { return "SolveSymmetric"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class SolveSymmetricPosDefOp final
    : public frame::KernelOp<SolveSymmetricPosDefOp, SolveSymmetricPosDef> {
 public:
  using KernelOp::KernelOp;
  SolveSymmetricPosDefOp(unsigned long n, unsigned long m, ct::OperationPtr const& L,
                         ct::OperationPtr const& B)
      : KernelOp({n, m}, {L, B}) {}
};

/// Robust symmetric solve. Inputs: collect of A (n * n), collect of b (n);
/// one output of n doubles.
struct FactorAndSolveSymmetric {
  unsigned long n;

  auto fields() const { return std::tie(n); }
  std::string description() const { return "FactorAndSolveSymmetric"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class FactorAndSolveSymmetricOp final
    : public frame::KernelOp<FactorAndSolveSymmetricOp, FactorAndSolveSymmetric> {
 public:
  using KernelOp::KernelOp;
  FactorAndSolveSymmetricOp(unsigned long n, ct::OperationPtr const& A, ct::OperationPtr const& b)
      : KernelOp({n}, {A, b}) {}
};

/// Minimum-norm solve of m equations in n unknowns. Inputs: collect of A
/// (m * n), collect of b (m), the tolerance (scalar); one output of n
/// doubles, max(m, n) reserved in code.
struct FactorAndSolveWide {
  unsigned long m;
  unsigned long n;

  auto fields() const { return std::tie(m, n); }
  std::string description() const { return "FactorAndSolveWide"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class FactorAndSolveWideOp final
    : public frame::KernelOp<FactorAndSolveWideOp, FactorAndSolveWide> {
 public:
  using KernelOp::KernelOp;
  FactorAndSolveWideOp(unsigned long m, unsigned long n, ct::OperationPtr const& A,
                       ct::OperationPtr const& b, ct::OperationPtr const& tolerance)
      : KernelOp({m, n}, {A, b, tolerance}) {}
};

}  // namespace vela::math
