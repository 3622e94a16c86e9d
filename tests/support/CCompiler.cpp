#include "support/CCompiler.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vela::test {
namespace {

std::string uniqueBase() {
  static std::atomic<int> counter{0};
  std::filesystem::create_directories(VELA_TEST_WORK_DIR);
  return std::string(VELA_TEST_WORK_DIR) + "/case_" + std::to_string(::getpid()) + "_" +
         std::to_string(counter++);
}

std::string readFile(std::string const& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

CompiledFunction::CompiledFunction(std::string const& source, std::string const& functionName)
    : base_(uniqueBase()) {
  std::ofstream(base_ + ".c") << source;
  std::string command = std::string(VELA_TEST_C_COMPILER) +
                        " -std=c99 -O2 -Wall -Wextra -Werror -ffp-contract=off -fPIC -shared"
#ifdef VELA_TEST_SANITIZE
                        " -fsanitize=address,undefined -fno-sanitize-recover=all"
#endif
                        " " VELA_TEST_RUNTIME_INCLUDE " " +
                        base_ + ".c " VELA_TEST_RUNTIME_LIBS " -lm -o " + base_ + ".so > " + base_ +
                        ".log 2>&1";
  if (std::system(command.c_str()) != 0)
    throw std::runtime_error("generated C does not compile:\n" + readFile(base_ + ".log") +
                             "\n--- source ---\n" + source);
  handle_ = ::dlopen((base_ + ".so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) throw std::runtime_error(std::string("dlopen failed: ") + ::dlerror());
  function_ = reinterpret_cast<Function>(::dlsym(handle_, functionName.c_str()));
  if (!function_) throw std::runtime_error("generated function not found: " + functionName);
}

CompiledFunction::~CompiledFunction() {
  if (handle_) ::dlclose(handle_);
  for (char const* ext : {".c", ".so", ".log"}) std::remove((base_ + ext).c_str());
}

}  // namespace vela::test
