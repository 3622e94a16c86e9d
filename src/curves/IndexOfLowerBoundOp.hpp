#pragma once

#include <string>
#include <tuple>

#include "frame/KernelOp.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"

namespace vela::math {

/// The knot interval that holds x (zeph_core_math_indexOfLowerBound).
/// Inputs: the collected knots, x; one int result. The knot count is a
/// field that is not compared.
struct IndexOfLowerBound {
  unsigned n;

  auto fields() const { return std::tie(); }
  std::string description() const { return "IndexOfLowerBound"; }
  void compute(frame::Args& args) const;
  void code(frame::Code& code) const;
  static constexpr bool zeroDerivative = true;
};

class IndexOfLowerBoundOp final
    : public frame::ScalarKernelOp<IndexOfLowerBoundOp, IndexOfLowerBound, int> {
 public:
  using ScalarKernelOp::ScalarKernelOp;
  IndexOfLowerBoundOp(unsigned n, ct::OperationPtr const& knots, ct::OperationPtr const& x)
      : ScalarKernelOp({n}, {knots, x}) {}
};

/// The knot interval of x over n ascending knots, in both modes (see
/// zeph_core_math_indexOfLowerBound). The traced form always records an
/// IndexOfLowerBoundOp, even over constants.
int indexOfLowerBound(unsigned n, double const* knots, double x);
ct::TracedInt indexOfLowerBound(unsigned n, ct::TracedDouble const* knots,
                                ct::TracedDouble const& x);

}  // namespace vela::math
