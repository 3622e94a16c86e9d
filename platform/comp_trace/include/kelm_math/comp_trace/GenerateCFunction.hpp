#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// Generation of a complete C function from traced outputs.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "kelm_math/comp_trace/TracedValue.hpp"

namespace kelm_math::comp_trace {

/// Thrown for a function name that generated C cannot use: not a C
/// identifier, a C keyword, a name of the C library or of the runtime
/// (vectorAdd, svd, ...), or beginning with '_' or a prefix the runtime and
/// its libraries use (vela_, VELA_, kelm_, kelmf_, zeph_). what() names it.
class InvalidFunctionName : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

/// Scratch, in bytes, that a generated function may keep on the stack.
/// Above it the function takes a work array from its caller instead.
constexpr std::size_t kStackScratchLimitBytes = 64 * 1024;

/// Lines of body a generated function holds at most before it is divided:
/// compilers take time more than linear in the length of one function, and
/// fail on very long ones. See generateCFunctionCode.
constexpr std::size_t kBodyLineLimit = 500;

/// A generated C translation unit and the form of its function.
struct GeneratedCode {
  std::string text;  ///< The C source of the translation unit.
  /// 0 for the stack form, void NAME(const double* in, double* out).
  /// Otherwise the work form, void NAME(const double* in, double* out,
  /// void* work): work must hold this many bytes, aligned for double (as
  /// malloc returns), and the unit also defines size_t NAME_work_size(void)
  /// returning the same number. One work array serves one call at a time,
  /// and it must not overlap in or out.
  std::size_t workBytes = 0;
};

/// One C99 translation unit defining the function functionName that
/// computes the outputs: in[i] is the input named inputNames[i] (an int input
/// reads vela_rt_d2i(in[i]), the conversion evaluation uses; a bool input
/// in[i] != 0), out[j] receives outputs[j]; in and out must not overlap
/// (outputs are written while inputs are still read; a Tape allows it). The
/// unit includes only
/// <vela/codegen_runtime.h>, which brings the C standard headers it needs.
/// Numbers are written the same under every locale. Equal nodes are written
/// once; the same graph gives the same text. The function keeps its scratch
/// on the stack when it needs at most stackLimitBytes, else it takes a work
/// array (see GeneratedCode).
/// A body of more than bodyLineLimit lines (0: no limit) is written as
/// static functions NAME_part0, NAME_part1, ... defined before the function
/// and kept out of line (VELA_RT_NOINLINE), each of at most bodyLineLimit
/// lines (unless a single node writes more) and sharing its scratch
/// through pointers declared VELA_RT_RESTRICT, which the function calls in
/// order. The function keeps its signature, and the results their bits.
/// Throws UnboundInput for an input missing from inputNames,
/// std::invalid_argument for an empty or repeated input name and
/// InvalidFunctionName for an unusable function name.
GeneratedCode generateCFunctionCode(std::string const& functionName,
                                    std::vector<std::string> const& inputNames,
                                    std::vector<TracedDouble> const& outputs,
                                    std::size_t stackLimitBytes = kStackScratchLimitBytes,
                                    std::size_t bodyLineLimit = kBodyLineLimit);

/// The text of generateCFunctionCode with the default limits.
std::string generateCFunction(std::string const& functionName,
                              std::vector<std::string> const& inputNames,
                              std::vector<TracedDouble> const& outputs);

}  // namespace kelm_math::comp_trace

#pragma GCC visibility pop
