// A symmetric positive definite system solved by Cholesky, in both modes.
#include <cstdio>
#include <vela/math.hpp>

namespace vm = vela::math;

template <class Mode>
std::vector<vm::Scalar<Mode>> solve(std::vector<vm::Scalar<Mode>> A,
                                    std::vector<vm::Scalar<Mode>> const& b) {
  // Column-major 2 by 2; the lower triangle is read.
  std::vector<vm::Scalar<Mode>> x(2), work(2);
  auto failed = vm::factorSymmetricPosDef(A.data(), 2, work.data());
  (void)failed;  // a flag: 1 when A is not (numerically) positive definite
  vm::solveSymmetricPosDef(A.data(), b.data(), 2, 1, x.data(), work.data());
  return x;
}

int main() {
  std::vector<double> x = solve<vm::Numeric>({4.0, 1.0, 1.0, 3.0}, {1.0, 2.0});
  vm::TracedDouble a = vm::TracedDouble::input("a");
  std::vector<vm::TracedDouble> traced = solve<vm::Traced>({a, 1.0, 1.0, 3.0}, {1.0, 2.0});
  vm::BindingSet bindings;
  bindings.bind("a", 4.0);
  double const x0 = traced[0].evaluate(bindings), x1 = traced[1].evaluate(bindings);
  std::printf("x = (%.17g, %.17g)\n", x[0], x[1]);
  return x0 == x[0] && x1 == x[1] ? 0 : 1;
}
