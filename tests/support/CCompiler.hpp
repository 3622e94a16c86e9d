#pragma once

#include <memory>
#include <string>

namespace vela::test {

/// A generated C function compiled with the system C compiler into a shared
/// object and loaded; unloaded and deleted on destruction.
class CompiledFunction {
 public:
  using Function = void (*)(double const*, double*);

  /// Compiles `source` (defining functionName) with
  /// cc -std=c99 -O2 -Wall -Wextra -Werror -ffp-contract=off against the
  /// runtime of generated code. Throws std::runtime_error with the
  /// compiler's output when compiling or loading fails.
  CompiledFunction(std::string const& source, std::string const& functionName);
  ~CompiledFunction();
  CompiledFunction(CompiledFunction const&) = delete;
  CompiledFunction& operator=(CompiledFunction const&) = delete;

  /// Runs the function on a stack whose free part was first filled with a
  /// pattern of 0xA5 bytes, so that scratch it reads before writing holds
  /// that pattern rather than whatever zeros happened to be there.
  void operator()(double const* in, double* out) const;

 private:
  std::string base_;
  void* handle_ = nullptr;
  Function function_ = nullptr;
};

}  // namespace vela::test
