#pragma once

// Generated C compiled at run time with the system C compiler into a shared
// object in a fresh temporary folder, loaded with dlopen, and removed again
// with the object. The target needs the VELA_BENCH_* definitions that
// bench/CMakeLists.txt gives the programs which compile C.

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "kelm_math/comp_trace/GenerateCFunction.hpp"

class CompiledC {
 public:
  using Function = void (*)(double const*, double*);
  using WorkFunction = void (*)(double const*, double*, void*);

  CompiledC(kelm_math::comp_trace::GeneratedCode const& code, std::string const& name) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vela_bench_XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("no temporary folder");
    dir_ = pattern;
    std::string base = dir_ + "/" + name;
    std::ofstream(base + ".c") << code.text;
    std::string command =
        std::string(VELA_BENCH_C_COMPILER) +
        " -std=c99 -O2 -ffp-contract=off -fPIC -shared " VELA_BENCH_RUNTIME_INCLUDE " " + base +
        ".c " VELA_BENCH_RUNTIME_LIBS " -lm -o " + base + ".so > " + base + ".log 2>&1";
    auto start = std::chrono::steady_clock::now();
    int status = std::system(command.c_str());
    compileSeconds_ =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status != 0) {
      std::stringstream log;
      log << std::ifstream(base + ".log").rdbuf();
      throw std::runtime_error("generated C does not compile: " + log.str());
    }
    handle_ = ::dlopen((base + ".so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(std::string("dlopen: ") + ::dlerror());
    void* symbol = ::dlsym(handle_, name.c_str());
    if (!symbol) throw std::runtime_error("no symbol " + name);
    if (code.workBytes == 0) {
      function_ = reinterpret_cast<Function>(symbol);
    } else {
      work_.resize((code.workBytes + sizeof(double) - 1) / sizeof(double));
      workFunction_ = reinterpret_cast<WorkFunction>(symbol);
    }
  }
  ~CompiledC() {
    if (handle_) ::dlclose(handle_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  CompiledC(CompiledC const&) = delete;
  CompiledC& operator=(CompiledC const&) = delete;

  void operator()(double const* in, double* out) {
    if (function_)
      function_(in, out);
    else
      workFunction_(in, out, work_.data());
  }

  /// Wall time of the compile and link command.
  double compileSeconds() const { return compileSeconds_; }
  bool usesWorkArray() const { return workFunction_ != nullptr; }

 private:
  std::string dir_;
  void* handle_ = nullptr;
  Function function_ = nullptr;
  WorkFunction workFunction_ = nullptr;
  std::vector<double> work_;
  double compileSeconds_ = 0.0;
};
