#include <gtest/gtest.h>

#include "CodeGenerator.hpp"
#include "kelm_math/comp_trace.hpp"

namespace ct = kelm_math::comp_trace;

TEST(SlotPool, FirstFitCoalescesAndGrowsAtTheTop) {
  ct::detail::SlotPool pool;
  EXPECT_EQ(pool.allocate(3), 0u);
  EXPECT_EQ(pool.allocate(2), 3u);
  EXPECT_EQ(pool.allocate(4), 5u);
  EXPECT_EQ(pool.size(), 9u);
  pool.release(0, 3);
  pool.release(3, 2);               // joins the run before it: 0..5 free
  EXPECT_EQ(pool.allocate(5), 0u);  // fits only if coalesced
  pool.release(5, 4);
  EXPECT_EQ(pool.allocate(6), 5u);  // the free top run is reused and extended
  EXPECT_EQ(pool.size(), 11u);
  EXPECT_EQ(pool.allocate(0), 11u);
}

namespace {
// Uses a temporary of four elements to compute the sum of its input's squares.
class SquareSumOp final : public ct::ScalarOperation {
 public:
  explicit SquareSumOp(ct::OperationPtr values)
      : ct::ScalarOperation(ct::ScalarType::Double, std::move(values)) {}
  ct::ScalarOperationPtr cloneScalar() const override {
    return std::make_shared<SquareSumOp>(*this);
  }
  std::string description() const override { return "SquareSum"; }
  ct::ScalarValue evaluateScalar(ct::NodeValues& values) const override {
    ct::ArrayRef in = values.array(0);
    double sum = 0.0;
    for (std::size_t i = 0; i < in.count; ++i) sum += in.doubles()[i] * in.doubles()[i];
    return sum;
  }
  std::string generateCode(ct::GenerateCodeVisitor& visitor) const override {
    ct::Slot in = visitor.outputSlot(input(0), 0);
    std::string code;
    {
      ct::TemporaryStorage squares =
          visitor.reserveTemporarySlots(ct::ScalarType::Double, in.count);
      for (unsigned i = 0; i < in.count; ++i)
        code += visitor.codeLine(visitor.scratchpadAccess(squares.baseSlot(), i) + " = " +
                                 visitor.scratchpadAccess(in, i) + " * " +
                                 visitor.scratchpadAccess(in, i) + ";");
      std::string sum = visitor.scratchpadAccess(squares.baseSlot(), 0);
      for (unsigned i = 1; i < in.count; ++i)
        sum = "(" + sum + " + " + visitor.scratchpadAccess(squares.baseSlot(), i) + ")";
      ct::Slot out = visitor.reserveOutputVector(*this, ct::ScalarType::Double, 1);
      code += visitor.codeLine(visitor.scratchpadAccess(out) + " = " + sum + ";");
    }
    return code;
  }
};
}  // namespace

TEST(SlotPool, TemporariesAreReleasedWhenTheirScopeEnds) {
  std::vector<ct::TracedDouble> x;
  for (int i = 0; i < 4; ++i) x.push_back(ct::TracedDouble::input("x" + std::to_string(i)));
  ct::TracedDouble total(0.0);
  for (int round = 0; round < 3; ++round) {
    auto collect = std::make_shared<ct::CollectOp>(4, x.data(), std::to_string(round));
    total =
        total + ct::TracedDouble(ct::ScalarOperationPtr(std::make_shared<SquareSumOp>(collect)));
  }
  std::string code = ct::generateCFunction("squares", {"x0", "x1", "x2", "x3"}, {total});
  // Each round needs its collect (4), temporaries (4) and results: without
  // release the scratchpad would grow with every round.
  EXPECT_NE(code.find("double spd[10];"), std::string::npos) << code;
  ct::BindingSet bindings;
  for (int i = 0; i < 4; ++i) bindings.bind("x" + std::to_string(i), i + 0.5);
  EXPECT_EQ(total.evaluate(bindings), 3 * (0.25 + 2.25 + 6.25 + 12.25));
}
