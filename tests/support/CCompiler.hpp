#pragma once

#include <cstddef>
#include <string>

namespace vela::test {

/// A generated C function compiled with the system C compiler into a shared
/// object and loaded; unloaded and deleted on destruction.
class CompiledFunction {
 public:
  using Function = void (*)(double const*, double*);
  using WorkFunction = void (*)(double const*, double*, void*);

  /// Compiles `source` (defining functionName) with cc -std=c99 -O2 -Wall
  /// -Wextra -pedantic -Werror -ffp-contract=off against the runtime, and
  /// checks it with clang -Weverything where clang exists; throws
  /// std::runtime_error with the compilers' output on failure. sanitize
  /// false leaves out the sanitizers and clang (for huge functions).
  CompiledFunction(std::string const& source, std::string const& functionName,
                   bool sanitize = true);
  ~CompiledFunction();
  CompiledFunction(CompiledFunction const&) = delete;
  CompiledFunction& operator=(CompiledFunction const&) = delete;

  /// Runs the function on scratch (the stack, or a fresh heap work array of
  /// NAME_work_size() bytes) filled with 0xA5 bytes, so that scratch read
  /// before it is written holds no lucky zeros.
  void operator()(double const* in, double* out) const;

 private:
  std::string base_;
  void* handle_ = nullptr;
  Function function_ = nullptr;
  WorkFunction workFunction_ = nullptr;
  std::size_t workBytes_ = 0;
};

}  // namespace vela::test
