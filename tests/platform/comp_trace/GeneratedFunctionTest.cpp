// The shape of the generated function: names it accepts, and the work-array
// form for scratch too large for the stack.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/CCompiler.hpp"
#include "vela/math.hpp"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using ct::TracedDouble;

namespace {

TEST(GeneratedFunction, RejectsNamesThatCannotNameAFunction) {
  TracedDouble y = TracedDouble::input("a") * 2.0;
  for (char const* name : {"",
                           "2f",
                           "a-b",
                           "f g",
                           "int",
                           "for",
                           "while",
                           "bool",
                           "typeof",
                           "main",
                           "sqrt",
                           "sqrtf",
                           "atan2l",
                           "memcpy",
                           "printf",
                           "malloc",
                           "INFINITY",
                           "NAN",
                           "INT_MAX",
                           "isnan",
                           "vectorAdd",
                           "svd",
                           "dotProduct",
                           "TRUE",
                           "_x",
                           "__f",
                           "_Model",
                           "vela_rt_d2i",
                           "VELA_RT_NOINLINE",
                           "kelm_math_lin_alg_x",
                           "zeph_core_f",
                           "kelmf_is_nan",
                           "model_part0",
                           "f_part12",
                           "model_work_size"}) {
    try {
      ct::generateCFunction(name, {"a"}, {y});
      ADD_FAILURE() << "accepted \"" << name << "\"";
    } catch (ct::InvalidFunctionName const& e) {
      EXPECT_NE(std::string(e.what()).find("\"" + std::string(name) + "\""), std::string::npos)
          << e.what();
    }
  }
  EXPECT_THROW(ct::generateCFunction("f", {"a"}, {y + TracedDouble::input("b")}), ct::UnboundInput);
  EXPECT_THROW(ct::generateCFunction("f", {"a", "a"}, {y}), std::invalid_argument);
  EXPECT_THROW(ct::generateCFunction("f", {""}, {y}), std::invalid_argument);

  for (char const* name : {"model", "rigidBody_2", "stepDynamics", "Svd", "sqrt2", "m", "f_part",
                           "f_partA", "work_size"})
    vela::test::CompiledFunction(ct::generateCFunction(name, {"a"}, {y}), name);
}

// Every routine the runtime defines must be refused, or a model named after
// one would not compile.
TEST(GeneratedFunction, RejectsEveryRuntimeRoutine) {
  std::ifstream header(VELA_TEST_RUNTIME_HEADER);
  std::stringstream text;
  text << header.rdbuf();
  std::string const source = text.str();
  int routines = 0;
  std::string const marker = "static inline ";
  for (auto at = source.find(marker); at != std::string::npos; at = source.find(marker, at + 1)) {
    // "static inline TYPE NAME(": the word before the parenthesis.
    auto open = source.find('(', at);
    auto start = source.rfind(' ', open) + 1;
    std::string name = source.substr(start, open - start);
    ++routines;
    EXPECT_THROW(ct::generateCFunction(name, {}, {}), ct::InvalidFunctionName) << name;
  }
  EXPECT_GT(routines, 30);
}

// A solve whose scratch is larger than the stack limit.
std::vector<TracedDouble> solve(unsigned n, std::vector<TracedDouble>& inputs) {
  std::vector<TracedDouble> A(n * n), b(n), x(n), tau(n), work(n + n * n);
  std::vector<ct::TracedInt> piv(n);
  for (unsigned i = 0; i < n; ++i) {
    b[i] = inputs[i % inputs.size()];
    for (unsigned j = 0; j < n; ++j)
      A[i + n * j] = i == j ? inputs[0] * 4.0 + double(n) : 1.0 / (1.0 + i + j);
  }
  vm::factorAndSolveSymmetric(A.data(), n, tau.data(), piv.data(), b.data(), x.data(), work.data());
  return x;
}

void* runCompiled(void* arg) {
  auto* job = static_cast<std::pair<vela::test::CompiledFunction const*, double*>*>(arg);
  double in[2] = {1.5, -0.25};
  (*job->first)(in, job->second);
  return nullptr;
}

TEST(GeneratedFunction, LargeScratchComesFromTheCallerNotTheStack) {
  constexpr unsigned n = 64;
  std::vector<TracedDouble> inputs = {TracedDouble::input("p"), TracedDouble::input("q")};
  std::vector<TracedDouble> x = solve(n, inputs);
  // The flag of a second solve is never read, yet stored.
  std::vector<TracedDouble> L(4, inputs[0] + 3.0), work(2);
  vm::factorSymmetricPosDef(L.data(), 2, work.data());
  x.push_back(L[0]);
  ct::GeneratedCode code = ct::generateCFunctionCode("solve64", {"p", "q"}, x);
  ASSERT_GT(code.workBytes, ct::kStackScratchLimitBytes);
  EXPECT_NE(code.text.find("void solve64(const double* in, double* out, void* work)"),
            std::string::npos);
  EXPECT_EQ(code.text.find("double spd["), std::string::npos) << "scratch on the stack";
  vela::test::CompiledFunction compiled(code.text, "solve64");
  EXPECT_EQ(compiled.workBytes(), code.workBytes);

  // A thread stack smaller than the scratch: the stack form would crash.
  std::vector<double> out(n + 1);
  std::pair<vela::test::CompiledFunction const*, double*> job(&compiled, out.data());
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 64 * 1024);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attributes, runCompiled, &job), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);

  ct::BindingSet bindings;
  bindings.bind("p", 1.5);
  bindings.bind("q", -0.25);
  for (unsigned i = 0; i <= n; ++i) EXPECT_EQ(out[i], x[i].evaluate(bindings)) << i;
}

TEST(GeneratedFunction, BothFormsComputeTheSame) {
  TracedDouble p = TracedDouble::input("p");
  std::vector<TracedDouble> v(6);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = p * double(i + 1);
  std::vector<TracedDouble> sum(6);
  vm::vectorAdd(6u, v.data(), v.data(), sum.data());
  ct::TracedInt k = ct::toInt(p);  // an int slot too
  sum.push_back(TracedDouble(k * 3));

  ct::GeneratedCode onStack = ct::generateCFunctionCode("small", {"p"}, sum);
  ct::GeneratedCode withWork = ct::generateCFunctionCode("small", {"p"}, sum, 0);
  EXPECT_EQ(onStack.workBytes, 0u);
  EXPECT_EQ(onStack.text, ct::generateCFunction("small", {"p"}, sum));
  EXPECT_GT(withWork.workBytes, 6 * sizeof(double));
  EXPECT_NE(withWork.text.find("size_t small_work_size(void)"), std::string::npos);
  vela::test::CompiledFunction a(onStack.text, "small"), b(withWork.text, "small");
  for (double value : {2.5, -1e300, 0.0}) {
    double in[] = {value}, outA[7], outB[7];
    a(in, outA);
    b(in, outB);
    for (int j = 0; j < 7; ++j) EXPECT_EQ(std::memcmp(&outA[j], &outB[j], sizeof(double)), 0) << j;
  }
}

}  // namespace
