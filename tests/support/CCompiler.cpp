#include "support/CCompiler.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace vela::test {
namespace {

std::string uniqueBase() {
  static std::atomic<int> counter{0};
  std::filesystem::create_directories(VELA_TEST_WORK_DIR);
  return std::string(VELA_TEST_WORK_DIR) + "/case_" + std::to_string(::getpid()) + "_" +
         std::to_string(counter++);
}

// Fills 256 KiB of stack below its caller with 0xA5 bytes: far more than
// any generated function's frame here.
__attribute__((noinline)) void soilStack() {
  unsigned char bytes[1 << 18];
  std::memset(bytes, 0xA5, sizeof bytes);
  asm volatile("" : : "r"(bytes) : "memory");  // the stores must happen
}

// Called right after soilStack from the same frame, f's frame lies inside
// the filled bytes, past soilStack's return address and redzones.
__attribute__((noinline)) void callBelow(CompiledFunction::Function f, double const* in,
                                         double* out) {
  unsigned char skipped[4096];
  asm volatile("" : : "r"(skipped) : "memory");
  f(in, out);
}

}  // namespace

CompiledFunction::CompiledFunction(std::string const& source, std::string const& functionName,
                                   bool sanitize)
    : base_(uniqueBase()) {
  std::ofstream(base_ + ".c") << source;
  std::string command =
      std::string(VELA_TEST_C_COMPILER) +
      " -std=c99 -O2 -Wall -Wextra -pedantic -Werror -ffp-contract=off -fPIC -shared";
#ifdef VELA_TEST_SANITIZE
  if (sanitize) command += " -fsanitize=address,undefined -fno-sanitize-recover=all";
#else
  (void)sanitize;
#endif
  command += " " VELA_TEST_RUNTIME_INCLUDE " " + base_ + ".c " VELA_TEST_RUNTIME_LIBS " -lm -o " +
             base_ + ".so > " + base_ + ".log 2>&1";
#ifdef VELA_TEST_CLANG
  // And under clang's every warning but two that only concern style.
  if (sanitize)
    command += " && " VELA_TEST_CLANG
               " -std=c99 -fsyntax-only -Weverything -Werror -Wno-float-equal "
               "-Wno-bad-function-cast " VELA_TEST_RUNTIME_INCLUDE " " +
               base_ + ".c >> " + base_ + ".log 2>&1";
#endif
  if (std::system(command.c_str()) != 0) {
    std::stringstream log;
    log << std::ifstream(base_ + ".log").rdbuf();
    throw std::runtime_error("generated C does not compile:\n" + log.str() + "\n---\n" + source);
  }
  handle_ = ::dlopen((base_ + ".so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) throw std::runtime_error(std::string("dlopen failed: ") + ::dlerror());
  void* symbol = ::dlsym(handle_, functionName.c_str());
  if (!symbol) throw std::runtime_error("generated function not found: " + functionName);
  using WorkSize = std::size_t (*)();
  if (auto workSize =
          reinterpret_cast<WorkSize>(::dlsym(handle_, (functionName + "_work_size").c_str()))) {
    workBytes_ = workSize();
    workFunction_ = reinterpret_cast<WorkFunction>(symbol);
  } else {
    function_ = reinterpret_cast<Function>(symbol);
  }
}

void CompiledFunction::operator()(double const* in, double* out) const {
  if (function_) {
    soilStack();
    callBelow(function_, in, out);
    return;
  }
  std::vector<double> work((workBytes_ + sizeof(double) - 1) / sizeof(double));
  std::memset(work.data(), 0xA5, work.size() * sizeof(double));
  workFunction_(in, out, work.data());
}

CompiledFunction::~CompiledFunction() {
  if (handle_) ::dlclose(handle_);
  for (char const* ext : {".c", ".so", ".log"}) std::remove((base_ + ext).c_str());
}

}  // namespace vela::test
