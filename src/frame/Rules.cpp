#include "frame/Rules.hpp"

#include <algorithm>

#include "vela/math/dense_kernels.hpp"

namespace vela::math::frame {

ct::TracedArray leading(ct::TracedInt const& size, ct::TracedArray w) {
  auto n = static_cast<unsigned>(w.size());
  int s = 0;
  if (size.getConstant(s)) {
    std::fill(w.begin() + std::clamp<long long>(s, 0, n), w.end(), ct::TracedDouble());
    return w;
  }
  ct::TracedArray zeros(n), out(n);
  vectorAddDynamicSize(n, size, w.data(), zeros.data(), out.data());
  return out;
}

}  // namespace vela::math::frame
