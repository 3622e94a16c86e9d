// The frame's scalar path on kernels with a double and a bool result
// (record, copy, compare; the family tables fold them), and the overload
// sets that code written with vela::math names sees.
#include <gtest/gtest.h>

#include "linalg/PredicateOps.hpp"
#include "linalg/ScalarProductOp.hpp"
#include "support/TracedNodes.hpp"
#include "vela/math.hpp"

namespace {

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using V3 = vm::Vector3_T<vm::Numeric>;

}  // namespace

TEST(ScalarKernel, RecordsCopiesAndCompares) {
  ct::TracedDouble c[] = {1.0, -2.0, 3.0, -2.0}, t[] = {ct::TracedDouble::input("x"), 1, 2, 3};
  ct::TracedBool unique = vm::hasUniqueRows(2, 2, t, t);
  ct::TracedDouble product = vm::dotProduct(4, t, c);
  auto const* node = vela::test::scalarNodeOf<vm::HasUniqueRowsOp>(unique);
  ASSERT_NE(node, nullptr);
  vela::test::expectClone(*node, "HasUniqueRows");
  vela::test::expectOrdered(vm::HasUniqueRowsOp(1, 3, node->input(0)), *node);  // m before n
  vela::test::expectOrdered(vm::HasUniqueRowsOp(2, 1, node->input(0)), *node);
  auto const* dot = vela::test::scalarNodeOf<vm::DotProductOp>(product);
  ASSERT_NE(dot, nullptr);
  vela::test::expectClone(*dot, "DotProduct");
  vela::test::expectOrdered(vm::DotProductOp(3, dot->input(0), dot->input(1)), *dot);
}

// The overloads brought together under vela::math keep their types.
static_assert(std::is_same_v<decltype(vm::min(1, 2)), int>);
static_assert(std::is_same_v<decltype(vm::max(1.0, 2.0)), double>);
static_assert(std::is_same_v<decltype(vm::pow(vm::TracedDouble(), 2.0)), vm::TracedDouble>);
static_assert(std::is_same_v<decltype(vm::ternary(true, V3(), V3())), V3>);
static_assert(std::is_same_v<decltype(vm::ternary(vm::TracedBool(), 1.0, vm::TracedDouble())),
                             vm::TracedDouble>);
