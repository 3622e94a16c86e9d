#pragma once

#include <string>

namespace kelm_math::comp_trace::detail {

/// Throws InvalidFunctionName unless name can name a generated C function:
/// a C identifier that is no C keyword, no name of the C library or of the
/// generated code's runtime, and not reserved to either.
void checkFunctionName(std::string const& name);

}  // namespace kelm_math::comp_trace::detail
