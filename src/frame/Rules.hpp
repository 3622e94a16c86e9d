#pragma once

// Helpers shared by the kernels' derivative rules.

#include "kelm_math/comp_trace/DerivativeRule.hpp"

namespace vela::math::frame {

namespace ct = kelm_math::comp_trace;

/// w with the elements from `size` on set to exact zeros on every path: what
/// reaches the first size elements of a kernel's array. A traced size
/// selects each element.
ct::TracedArray leading(ct::TracedInt const& size, ct::TracedArray w);

}  // namespace vela::math::frame
