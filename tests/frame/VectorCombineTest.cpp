// The kernel pattern on its simplest kernels: vectorAdd, vectorSubtract and
// their node VectorCombineOp.
#include <gtest/gtest.h>

#include "linalg/VectorCombineOp.hpp"
#include "support/TracedNodes.hpp"
#include "vela/math.hpp"

namespace {

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using ct::TracedDouble;
using ct::TracedInt;
using vela::test::nodeOf;
using vm::VectorCombineOp;

}  // namespace

TEST(VectorCombine, FoldsOnlyWhenSizeAndCoveredElementsAreConstant) {
  TracedDouble ta[4] = {1.0, 2.0, 3.0, TracedDouble::input("x")}, tb[4] = {10.0, 20.0, 30.0, 40.0};
  TracedDouble tout[4] = {-1.0, -1.0, -1.0, -1.0}, untouched[1] = {-3.0};
  // A constant size below the maximum covers only the constant elements.
  vm::vectorAddDynamicSize(4, TracedInt(2), ta, tb, tout);
  EXPECT_TRUE(tout[0].equalConstant(11.0) && tout[1].equalConstant(22.0) &&
              tout[2].equalConstant(-1.0));  // left as it was
  // Size 0 folds and writes nothing, with or without a maximum; so does a
  // traced size with maximum 0, over empty collects.
  vm::vectorSubtractDynamicSize(0, TracedInt(0), nullptr, nullptr, untouched);
  vm::vectorAddDynamicSize(4, TracedInt(0), ta, tb, untouched);
  vm::vectorAddDynamicSize(0, TracedInt::input("n"), nullptr, nullptr, untouched);
  EXPECT_TRUE(untouched[0].equalConstant(-3.0));
  // A traced element inside the covered range records, though the size is constant.
  vm::vectorAdd(4, ta, tb, tout);
  VectorCombineOp const* node = nodeOf<VectorCombineOp>(tout[0]);
  ASSERT_TRUE(vela::test::allRead(std::vector<TracedDouble>(tout, tout + 4), node));
  vela::test::expectClone(*node, "VectorCombine [add]");
  EXPECT_TRUE(vela::test::scalarInput(*node, 0).equalConstant(4) &&
              vela::test::collectSize(*node, 1) == 4 &&
              dynamic_cast<ct::CollectOp const&>(*node->input(2)).name().empty());
  // A traced size records over collects of the maximum, clamped to [0, nMax],
  // and the node keeps its own copy of the size.
  TracedInt n = TracedInt::input("n");
  vm::vectorSubtractDynamicSize(3, n, tb, tb, tout);
  node = nodeOf<VectorCombineOp>(tout[2]);
  ASSERT_NE(node, nullptr);
  vela::test::expectClone(*node, "VectorCombine [subtract]");
  EXPECT_TRUE(node->input(0) != n.operation() && vela::test::collectSize(*node, 2) == 3 &&
              vela::test::scalarInput(*node, 0).isOperationallyEqual(vm::clampSize(n, 3)));
  // compare_: fields only, kind before n; another class is refused.
  ct::OperationPtr size = TracedInt(3).operation(), collect = node->input(1);
  VectorCombineOp add3(0, 3, size, collect, collect), add4(0, 4, size, collect, size);
  EXPECT_EQ(add3.compare_(VectorCombineOp(0, 3, size, size, size)), 0);
  vela::test::expectOrdered(add3, add4);
  vela::test::expectOrdered(add4, *node);  // subtract 3
  EXPECT_THROW(add3.compare_(*collect), std::bad_cast);
}
