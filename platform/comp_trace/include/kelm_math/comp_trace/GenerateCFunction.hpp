#pragma once

#include <string>
#include <vector>

#include "kelm_math/comp_trace/TracedValue.hpp"

namespace kelm_math::comp_trace {

/// One C99 translation unit defining
///   void functionName(const double* in, double* out)
/// that computes the outputs: in[i] is the input named inputNames[i] (an int
/// input reads (int)in[i], a bool input in[i] != 0), out[j] receives
/// outputs[j]. The unit includes only <vela/codegen_runtime.h> and C standard
/// headers. Equal nodes are written once; the same graph gives the same text.
/// Throws UnboundInput for an input missing from inputNames and
/// std::invalid_argument for an empty or repeated name or a function name
/// that is not a C identifier.
std::string generateCFunction(std::string const& functionName,
                              std::vector<std::string> const& inputNames,
                              std::vector<TracedDouble> const& outputs);

}  // namespace kelm_math::comp_trace
