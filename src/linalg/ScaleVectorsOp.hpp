#pragma once

#include <string>
#include <tuple>

#include "frame/KernelOp.hpp"

namespace vela::math {

/// out = A (m by n) with each column (columns) or row scaled by, or divided
/// by (inverse), its factor in s. Inputs: m, n, collect of A (count),
/// collect of s (nMax or mMax); count outputs.
struct ScaleVectors {
  bool columns;
  bool inverse;
  unsigned count;  // mMax * nMax

  auto fields() const { return std::tie(columns, inverse, count); }
  std::string description() const;
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  void jvp(ct::ForwardArgs& d) const;
  void vjp(ct::ReverseArgs& d) const;
};

class ScaleVectorsOp final : public frame::KernelOp<ScaleVectorsOp, ScaleVectors> {
 public:
  using KernelOp::KernelOp;
  ScaleVectorsOp(bool columns, bool inverse, unsigned count, ct::OperationPtr const& m,
                 ct::OperationPtr const& n, ct::OperationPtr const& A, ct::OperationPtr const& s)
      : KernelOp({columns, inverse, count}, {m, n, A, s}) {}
};

}  // namespace vela::math
