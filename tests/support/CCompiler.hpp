#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace vela::test {

/// A generated C function compiled with the system C compiler into a shared
/// object and loaded; unloaded and deleted on destruction.
class CompiledFunction {
 public:
  using Function = void (*)(double const*, double*);
  using WorkFunction = void (*)(double const*, double*, void*);

  /// Compiles `source` (defining functionName) with
  /// cc -std=c99 -O2 -Wall -Wextra -Werror -ffp-contract=off against the
  /// runtime of generated code. Throws std::runtime_error with the
  /// compiler's output when compiling or loading fails. A function of the
  /// work form gets a fresh heap work array of NAME_work_size() bytes.
  /// sanitize false leaves out the sanitizers of a sanitized build, for a
  /// function too long to compile instrumented.
  CompiledFunction(std::string const& source, std::string const& functionName,
                   bool sanitize = true);
  ~CompiledFunction();
  CompiledFunction(CompiledFunction const&) = delete;
  CompiledFunction& operator=(CompiledFunction const&) = delete;

  /// Runs the function. Its scratch (the stack, or the work array of the
  /// work form) is first filled with a pattern of 0xA5 bytes, so that
  /// scratch it reads before writing holds that pattern rather than
  /// whatever zeros happened to be there.
  void operator()(double const* in, double* out) const;
  /// Bytes of work array the function takes; 0 for the stack form.
  std::size_t workBytes() const { return workBytes_; }

 private:
  std::string base_;
  void* handle_ = nullptr;
  Function function_ = nullptr;
  WorkFunction workFunction_ = nullptr;
  std::size_t workBytes_ = 0;
};

}  // namespace vela::test
