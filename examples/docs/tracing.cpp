// One computation written over the mode, computed at once, recorded,
// evaluated, taped, turned into C and differentiated.
#include <cstdio>
#include <string>
#include <vela/math.hpp>

namespace vm = vela::math;

template <class Mode>
vm::Scalar<Mode> height(vm::Scalar<Mode> const& x, vm::Scalar<Mode> const& y) {
  return vm::sin(x) * y + 0.5 * y * y;
}

int main() {
  double const now = height<vm::Numeric>(0.3, 2.0);

  vm::TracedDouble x = vm::TracedDouble::input("x"), y = vm::TracedDouble::input("y");
  vm::TracedDouble h = height<vm::Traced>(x, y);
  vm::BindingSet bindings;
  bindings.bind("x", 0.3);
  bindings.bind("y", 2.0);
  double const later = h.evaluate(bindings);  // the same bits as now

  std::vector<vm::TracedDouble> g = vm::gradient(h, {x, y});  // dh/dx, dh/dy
  vm::Tape tape({"x", "y"}, {h, g[0], g[1]});
  double const in[2] = {0.3, 2.0};
  double out[3];
  tape(in, out);  // h and its gradient, the same bits again

  std::string const c = vm::generateCFunction("height", {"x", "y"}, {h, g[0], g[1]});
  std::printf("h = %.17g, dh/dx = %.17g, dh/dy = %.17g; %zu characters of C\n", out[0], out[1],
              out[2], c.size());
  return now == later && later == out[0] ? 0 : 1;
}
