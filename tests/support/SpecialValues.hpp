#pragma once

// Values many test files need. They live here rather than in each file: the
// files of one test program may be compiled together as one unit.

#include <limits>

namespace vela::test {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

}  // namespace vela::test
