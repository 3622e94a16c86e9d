#include "frame/Rules.hpp"

#include <algorithm>

#include "kelm_math/comp_trace/Functions.hpp"

namespace vela::math::frame {

ct::TracedArray leading(ct::TracedInt const& size, ct::TracedArray w) {
  int s = 0;
  if (size.getConstant(s)) {
    std::fill(w.begin() + std::clamp<long long>(s, 0, static_cast<long long>(w.size())), w.end(),
              ct::TracedDouble());
    return w;
  }
  // One selection per element: a kernel's generated C leaves elements past
  // its actual size unwritten, so a masking kernel would not do.
  for (std::size_t k = 0; k < w.size(); ++k)
    if (!ct::isStructuralZero(w[k]))
      w[k] = ct::ternary(ct::TracedInt(static_cast<int>(k)) < size, w[k], ct::TracedDouble());
  return w;
}

}  // namespace vela::math::frame
