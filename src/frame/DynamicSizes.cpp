#include "vela/math/dynamic_sizes.hpp"

namespace vela::math {

namespace ct = kelm_math::comp_trace;

ct::TracedInt clampSize(ct::TracedInt const& n, unsigned max) {
  return clampSize(n, detail::boundAsTraced(max));
}

ct::TracedInt clampSize(ct::TracedInt const& n, ct::TracedInt const& max) {
  return ct::min(ct::max(n, ct::TracedInt(0)), max);
}

}  // namespace vela::math
