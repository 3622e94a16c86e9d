// A guided run through vela::math: one kernel, vectorAdd, computed on plain
// doubles, folded, recorded as a graph, evaluated against bindings, and
// turned into C that is compiled, loaded and run. Exits non-zero when a step
// fails or the results differ in a single bit.

#include <dlfcn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "vela/math.hpp"

namespace {

namespace fs = std::filesystem;
using vela::math::BindingSet;
using TracedDouble = vela::math::TracedValue<double>;

constexpr unsigned kN = 3;
// 0.1 + 0.2 rounds to 0.30000000000000004, so agreement below is bitwise,
// not merely close.
constexpr double kA[kN] = {0.1, 1.5, -2.25};
constexpr double kB[kN] = {0.2, 2.5, 1.0 / 3.0};
char const* const kFunctionName = "tour_vector_add";

void section(char const* title) { std::printf("\n== %s ==\n", title); }

void printVector(char const* label, double const* v) {
  std::printf("  %-8s = [%.17g, %.17g, %.17g]\n", label, v[0], v[1], v[2]);
}

bool sameBits(double const* x, double const* y) {
  return std::memcmp(x, y, kN * sizeof(double)) == 0;
}

char const* yesNo(bool b) { return b ? "yes" : "no"; }

std::vector<std::string> inputNames() { return {"a0", "a1", "a2", "b0", "b1", "b2"}; }

// (b) Every element folds to a constant when every input is one.
bool showFolded(double const* numeric) {
  TracedDouble a[kN], b[kN], sum[kN];
  for (unsigned i = 0; i < kN; ++i) {
    a[i] = kA[i];
    b[i] = kB[i];
  }
  vela::math::vectorAdd(kN, a, b, sum);
  double folded[kN];
  for (unsigned i = 0; i < kN; ++i) {
    if (!sum[i].getConstant(folded[i])) {
      std::printf("  out[%u] is not a constant: a node was recorded\n", i);
      return false;
    }
  }
  printVector("out", folded);
  std::printf("  every out[i].getConstant succeeds: no node recorded\n");
  std::printf("  same bits as Numeric: %s\n", yesNo(sameBits(folded, numeric)));
  return sameBits(folded, numeric);
}

// (c) With inputs, one node is recorded and every element reads it.
bool showRecorded(TracedDouble const* sum) {
  for (unsigned i = 0; i < kN; ++i) {
    if (sum[i].isConstant()) {
      std::printf("  out[%u] folded although its inputs are bound at evaluation\n", i);
      return false;
    }
  }
  auto const& node = sum[0].operation()->input(0);
  bool oneNode = true;
  for (unsigned i = 1; i < kN; ++i) oneNode = oneNode && sum[i].operation()->input(0) == node;
  std::printf("  out[0].operation()->description()           : %s\n",
              sum[0].operation()->description().c_str());
  std::printf("  out[0].operation()->input(0)->description() : %s\n", node->description().c_str());
  std::printf("  out[0], out[1] and out[2] read that one node : %s\n", yesNo(oneNode));
  return oneNode;
}

// (d) One binding set for the three reads, so the node is evaluated once.
void evaluate(TracedDouble const* sum, double* out) {
  BindingSet bindings;
  auto const names = inputNames();
  for (unsigned i = 0; i < kN; ++i) {
    bindings.bind(names[i], kA[i]);
    bindings.bind(names[kN + i], kB[i]);
  }
  for (unsigned i = 0; i < kN; ++i) out[i] = sum[i].evaluate(bindings);
  printVector("out", out);
}

std::string quoted(std::string const& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A fresh directory, removed with its contents at scope exit.
class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::string pattern = (fs::temp_directory_path() / "vela-tour-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  TemporaryDirectory(TemporaryDirectory const&) = delete;
  TemporaryDirectory& operator=(TemporaryDirectory const&) = delete;
  fs::path const& path() const { return path_; }

 private:
  fs::path path_;
};

// (e) Compiles source as a shared object, loads it and calls the function once.
bool compileAndRun(std::string const& source, double const* in, double* out) {
  TemporaryDirectory dir;
  if (dir.path().empty()) {
    std::perror("  mkdtemp");
    return false;
  }
  fs::path const c = dir.path() / (std::string(kFunctionName) + ".c");
  fs::path const so = dir.path() / (std::string(kFunctionName) + ".so");
  if (!(std::ofstream(c) << source)) {
    std::printf("  cannot write %s\n", c.c_str());
    return false;
  }
  std::string const extraFlags =
      *VELA_TOUR_EXTRA_CFLAGS ? std::string(" ") + VELA_TOUR_EXTRA_CFLAGS : std::string();
  std::string const command =
      quoted(VELA_TOUR_CC) + " -std=c99 -O2 -ffp-contract=off -Wall -Wextra -Werror -fPIC -shared" +
      extraFlags + " -I" + quoted(VELA_TOUR_RUNTIME_INCLUDE) + " -I" +
      quoted(VELA_TOUR_CKERNELS_INCLUDE) + " -I" + quoted(VELA_TOUR_LINALG_INCLUDE) + " " +
      quoted(c) + " " + quoted(VELA_TOUR_CKERNELS_ARCHIVE) + " " +
      quoted(VELA_TOUR_LINALG_ARCHIVE) + " " + quoted(VELA_TOUR_FOUNDATION_ARCHIVE) + " " +
      VELA_TOUR_LAPACK_LIBRARIES + " -lm -o " + quoted(so);
  std::printf("  $ %s\n", command.c_str());
  std::fflush(stdout);
  int const status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::printf("  the C compiler failed (status %d)\n", status);
    return false;
  }
  void* library = dlopen(so.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::printf("  dlopen: %s\n", dlerror());
    return false;
  }
  using Function = void (*)(double const*, double*);
  auto function = reinterpret_cast<Function>(dlsym(library, kFunctionName));
  if (function == nullptr) {
    std::printf("  dlsym: %s\n", dlerror());
    dlclose(library);
    return false;
  }
  function(in, out);
  dlclose(library);
  std::printf("  loaded and called %s(in, out)\n", kFunctionName);
  printVector("out", out);
  return true;
}

bool runGeneratedC(TracedDouble const* sum, double* out) {
  std::string const source = kelm_math::comp_trace::generateCFunction(kFunctionName, inputNames(),
                                                                      {sum[0], sum[1], sum[2]});
  std::printf("----- generated C -----\n%s----- end -----\n", source.c_str());
  double in[2 * kN];
  std::copy(kA, kA + kN, in);
  std::copy(kB, kB + kN, in + kN);
  return compileAndRun(source, in, out);
}

bool compare(double const* numeric, double const* evaluated, double const* generated) {
  std::printf("  %-6s  %-24s %-24s %s\n", "", "Numeric", "evaluated", "generated C");
  for (unsigned i = 0; i < kN; ++i)
    std::printf("  out[%u]  %-24.17g %-24.17g %.17g\n", i, numeric[i], evaluated[i], generated[i]);
  bool const agree = sameBits(numeric, evaluated) && sameBits(numeric, generated);
  std::printf("  all three agree bit for bit: %s\n", yesNo(agree));
  return agree;
}

bool runTour() {
  section("(a) Numeric: vectorAdd on plain doubles");
  printVector("a", kA);
  printVector("b", kB);
  double numeric[kN];
  vela::math::vectorAdd(kN, kA, kB, numeric);
  printVector("a + b", numeric);

  section("(b) Traced with constant inputs: folded");
  if (!showFolded(numeric)) return false;

  section("(c) Traced with inputs a0..a2, b0..b2: one node recorded");
  TracedDouble a[kN], b[kN], sum[kN];
  auto const names = inputNames();
  for (unsigned i = 0; i < kN; ++i) {
    a[i] = TracedDouble::input(names[i]);
    b[i] = TracedDouble::input(names[kN + i]);
  }
  vela::math::vectorAdd(kN, a, b, sum);
  if (!showRecorded(sum)) return false;

  section("(d) The graph evaluated with the numbers of (a)");
  double evaluated[kN];
  evaluate(sum, evaluated);

  section("(e) The graph as C: generated, compiled, loaded, run");
  double generated[kN];
  if (!runGeneratedC(sum, generated)) return false;

  section("Results side by side");
  return compare(numeric, evaluated, generated);
}

}  // namespace

int main() {
  try {
    if (runTour()) return 0;
    std::printf("\ntour: FAILED\n");
  } catch (std::exception const& e) {
    std::printf("\ntour: FAILED with exception: %s\n", e.what());
  }
  return 1;
}
