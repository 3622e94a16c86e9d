#pragma once

#include <cstddef>
#include <string>
#include <tuple>

#include "frame/KernelOp.hpp"

namespace vela::math {

/// Doubles of scratch storage that hasUniqueRows needs for an m by n matrix.
std::size_t hasUniqueRowsWorkSize(unsigned m, unsigned n);

/// Does any of n values hold an infinity. Input: collect of the values.
struct AnyIsInf {
  unsigned n;

  auto fields() const { return std::tie(n); }
  std::string description() const { return "AnyIsInf"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  static constexpr bool zeroDerivative = true;
};

/// Does any of n values hold a NaN. Input: collect of the values.
struct AnyIsNaN {
  unsigned n;

  auto fields() const { return std::tie(n); }
  std::string description() const { return "AnyIsNaN"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  static constexpr bool zeroDerivative = true;
};

/// Are the rows of an m by n matrix distinct. Input: collect of its m*n
/// values; code reserves the scratch storage as a temporary.
struct HasUniqueRows {
  unsigned m;
  unsigned n;

  auto fields() const { return std::tie(m, n); }
  std::string description() const { return "HasUniqueRows"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  static constexpr bool zeroDerivative = true;
};

/// Positions of the nonzero entries among n int flags. Input: int collect
/// of the flags; one output of n ints.
struct ComputeIndicesNonzeroElements {
  unsigned n;

  auto fields() const { return std::tie(n); }
  std::string description() const { return "ComputeIndicesNonzeroElements"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  static constexpr bool zeroDerivative = true;
};

class AnyIsInfOp final : public frame::ScalarKernelOp<AnyIsInfOp, AnyIsInf, bool> {
 public:
  using ScalarKernelOp::ScalarKernelOp;
  AnyIsInfOp(unsigned n, ct::OperationPtr const& values) : ScalarKernelOp({n}, {values}) {}
};

class AnyIsNaNOp final : public frame::ScalarKernelOp<AnyIsNaNOp, AnyIsNaN, bool> {
 public:
  using ScalarKernelOp::ScalarKernelOp;
  AnyIsNaNOp(unsigned n, ct::OperationPtr const& values) : ScalarKernelOp({n}, {values}) {}
};

class HasUniqueRowsOp final : public frame::ScalarKernelOp<HasUniqueRowsOp, HasUniqueRows, bool> {
 public:
  using ScalarKernelOp::ScalarKernelOp;
  HasUniqueRowsOp(unsigned m, unsigned n, ct::OperationPtr const& values)
      : ScalarKernelOp({m, n}, {values}) {}
};

class ComputeIndicesNonzeroElementsOp final
    : public frame::KernelOp<ComputeIndicesNonzeroElementsOp, ComputeIndicesNonzeroElements> {
 public:
  using KernelOp::KernelOp;
  ComputeIndicesNonzeroElementsOp(unsigned n, ct::OperationPtr const& flags)
      : KernelOp({n}, {flags}) {}
};

}  // namespace vela::math
