#pragma once

// Nodes of the kernels that update one of their arrays in place: each
// computes on a copy of that input and, in generated code, writes over the
// input's storage when it is the last reader (else after a memcpy).

#include <array>
#include <cstddef>
#include <string>
#include <tuple>

#include "frame/KernelOp.hpp"

namespace vela::math {

/// Zeroes the flagged rows of an m by n matrix. Inputs: collect of flags
/// (m ints), collect of A (m * n); m * n outputs.
struct ZeroMajor {
  std::size_t m;
  std::size_t n;

  auto fields() const { return std::tie(m, n); }
  std::string description() const { return "ZeroMajor"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class ZeroMajorOp final : public frame::KernelOp<ZeroMajorOp, ZeroMajor> {
 public:
  using KernelOp::KernelOp;
  ZeroMajorOp(std::size_t m, std::size_t n, ct::OperationPtr const& flags,
              ct::OperationPtr const& A)
      : KernelOp({m, n}, {flags, A}) {}
};

/// Keeps k indexed columns of an m by n matrix at its front. Inputs: m, n,
/// k, collect of indices (nMax ints), collect of A (count); count outputs.
struct ReduceMatrix {
  unsigned count;  // mMax * nMax

  auto fields() const { return std::tie(count); }
  std::string description() const { return "ReduceMatrix"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class ReduceMatrixOp final : public frame::KernelOp<ReduceMatrixOp, ReduceMatrix> {
 public:
  using KernelOp::KernelOp;
  ReduceMatrixOp(unsigned count, ct::OperationPtr const& m, ct::OperationPtr const& n,
                 ct::OperationPtr const& k, ct::OperationPtr const& indices,
                 ct::OperationPtr const& A)
      : KernelOp({count}, {m, n, k, indices, A}) {}
};

/// Scatters the first size entries of v to their indexed positions. Inputs:
/// size, collect of indices (n ints), collect of v (n); n outputs.
struct ExpandVector {
  unsigned n;  // nMax

  auto fields() const { return std::tie(n); }
  std::string description() const { return "ExpandVector"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class ExpandVectorOp final : public frame::KernelOp<ExpandVectorOp, ExpandVector> {
 public:
  using KernelOp::KernelOp;
  ExpandVectorOp(unsigned n, ct::OperationPtr const& size, ct::OperationPtr const& indices,
                 ct::OperationPtr const& v)
      : KernelOp({n}, {size, indices, v}) {}
};

/// Copies a strided block of src into dst. Inputs: rows, cols, srcOffset,
/// srcStride, dstOffset, dstStride, collect of src (srcMax), collect of dst
/// (count); count outputs.
struct SubmatrixAssign {
  unsigned count;  // dstMax

  auto fields() const { return std::tie(count); }
  std::string description() const { return "SubmatrixAssign"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class SubmatrixAssignOp final : public frame::KernelOp<SubmatrixAssignOp, SubmatrixAssign> {
 public:
  using KernelOp::KernelOp;
  SubmatrixAssignOp(unsigned count, ct::OperationPtr const& rows, ct::OperationPtr const& cols,
                    ct::OperationPtr const& srcOffset, ct::OperationPtr const& srcStride,
                    ct::OperationPtr const& dstOffset, ct::OperationPtr const& dstStride,
                    ct::OperationPtr const& src, ct::OperationPtr const& dst)
      : KernelOp({count}, {rows, cols, srcOffset, srcStride, dstOffset, dstStride, src, dst}) {}
};

/// Traced submatrixAssign of rows, cols, srcOffset, srcStride, dstOffset,
/// dstStride that already fit srcMax and dstMax elements (no clamp: the
/// values of a derivative rule, made from a node's clamped ones).
void assignFittingBlock(unsigned srcMax, unsigned dstMax, std::array<ct::TracedInt, 6> const& v,
                        ct::TracedDouble const* src, ct::TracedDouble* dst);

}  // namespace vela::math
