// Code written with vela::math names only: the overloads brought together
// keep their types, and the trace library's entry points are reachable.
#include <gtest/gtest.h>

#include <type_traits>

#include "vela/math.hpp"

namespace {

namespace vm = vela::math;
using V3 = vm::Vector3_T<vm::Numeric>;

static_assert(std::is_same_v<decltype(vm::min(1, 2)), int>);
static_assert(std::is_same_v<decltype(vm::max(1.0, 2.0)), double>);
static_assert(std::is_same_v<decltype(vm::pow(vm::TracedDouble(), 2.0)), vm::TracedDouble>);
static_assert(std::is_same_v<decltype(vm::ternary(true, V3(), V3())), V3>);
static_assert(std::is_same_v<decltype(vm::ternary(vm::TracedBool(), 1.0, vm::TracedDouble())),
                             vm::TracedDouble>);

}  // namespace

TEST(VelaMathNames, TheTraceLibrarysEntryPointsAreReachable) {
  vm::Vector3_T<vm::Traced> p(vm::TracedDouble::input("r"), 1.0, 2.0);
  vm::TracedDouble r = vm::pow(vm::hypot(p.x(), vm::abs(p.y())), 3.0);
  EXPECT_EQ(vm::stringify(r), "pow(hypot(r, 1), 3)");
  vm::BindingSet bindings;
  EXPECT_THROW(r.evaluate(bindings), vm::UnboundInput);
  bindings.bind("r", 0.0);
  EXPECT_EQ(r.evaluate(bindings), 1.0);
  EXPECT_NE(vm::generateCFunction("f", {"r"}, {r}).find("hypot("), std::string::npos);
}
