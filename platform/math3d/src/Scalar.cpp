#include "math3d/Scalar.hpp"

#include <vector>

namespace math3d::detail {

ct::TracedInt lookup(int const* table, int n, ct::TracedInt const& k) {
  std::vector<ct::TracedInt> values(table, table + n);
  return ct::arrayAccess(values.data(), n, k);
}

ct::TracedDouble lookup(double const* table, int n, ct::TracedInt const& k) {
  std::vector<ct::TracedDouble> values(table, table + n);
  return ct::arrayAccess(values.data(), n, k);
}

}  // namespace math3d::detail
