#pragma once

#include <string>
#include <tuple>

#include "frame/KernelOp.hpp"

namespace vela::math {

/// out (n by m) = transpose of A (m by n). Inputs: m, n, collect of A
/// (count); count outputs.
struct TransposeColMajor {
  unsigned count;  // mMax * nMax

  auto fields() const { return std::tie(count); }
  std::string description() const { return "TransposeColMajor"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class TransposeColMajorOp final : public frame::KernelOp<TransposeColMajorOp, TransposeColMajor> {
 public:
  using KernelOp::KernelOp;
  TransposeColMajorOp(unsigned count, ct::OperationPtr const& m, ct::OperationPtr const& n,
                      ct::OperationPtr const& A)
      : KernelOp({count}, {m, n, A}) {}
};

/// out = A + transpose(A) (kind 0) or A - transpose(A) (kind 1) of an n by
/// n matrix. Inputs: collect of A (n * n); n * n outputs.
struct Transpose {
  int kind;    // 0 add, 1 subtract
  unsigned n;  // the matrix order

  auto fields() const { return std::tie(kind, n); }
  std::string description() const { return kind == 0 ? "TransposeAdd" : "TransposeSubtract"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class TransposeOp final : public frame::KernelOp<TransposeOp, Transpose> {
 public:
  using KernelOp::KernelOp;
  TransposeOp(int kind, unsigned n, ct::OperationPtr const& A) : KernelOp({kind, n}, {A}) {}
};

/// out = the last k columns of the m by n matrix A. Inputs: m, n, k,
/// collect of A (count); count outputs.
struct ShiftColumns {
  unsigned count;  // mMax * nMax

  auto fields() const { return std::tie(count); }
  std::string description() const { return "ShiftColumns"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class ShiftColumnsOp final : public frame::KernelOp<ShiftColumnsOp, ShiftColumns> {
 public:
  using KernelOp::KernelOp;
  ShiftColumnsOp(unsigned count, ct::OperationPtr const& m, ct::OperationPtr const& n,
                 ct::OperationPtr const& k, ct::OperationPtr const& A)
      : KernelOp({count}, {m, n, k, A}) {}
};

}  // namespace vela::math
