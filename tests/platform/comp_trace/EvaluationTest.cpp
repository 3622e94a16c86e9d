#include <gtest/gtest.h>

#include <algorithm>

#include "kelm_math/comp_trace.hpp"
#include "vela/Exception.hpp"

namespace ct = kelm_math::comp_trace;
using ct::TracedDouble;

namespace {

// A vector node that counts its evaluations and yields n copies of its input.
class CountingOp final : public ct::VectorOperation {
 public:
  CountingOp(unsigned n, ct::OperationPtr in, int* count)
      : ct::VectorOperation(std::move(in)), n_(n), count_(count) {}
  ct::OperationPtr clone() const override { return std::make_shared<CountingOp>(*this); }
  std::string description() const override { return "Counting"; }
  std::string generateCode(ct::GenerateCodeVisitor&) const override { return {}; }
  void evaluate(ct::NodeValues& values) const override {
    ++*count_;
    double x = values.scalar(0).doubleValue();
    auto* out = static_cast<double*>(values.output(ct::ScalarType::Double, n_));
    std::fill(out, out + n_, x);
  }

 private:
  unsigned n_;
  int* count_;
};

}  // namespace

TEST(Evaluation, UnboundInputNamesTheInput) {
  TracedDouble y = TracedDouble::input("speed") * 2.0;
  ct::BindingSet bindings;
  bindings.bind("other", 1.0);
  try {
    y.evaluate(bindings);
    FAIL() << "no exception";
  } catch (vela::Exception const& e) {
    EXPECT_STREQ(e.what(), "comp_trace UnboundInput: speed");
    EXPECT_EQ(dynamic_cast<ct::UnboundInput const&>(e).name(), "speed");
  }
}

TEST(Evaluation, BindingsConvertAndRebindingDropsTheMemo) {
  TracedDouble x = TracedDouble::input("x");
  ct::TracedInt k = ct::TracedInt::input("k");
  TracedDouble y = x * 2.0 + k;
  ct::BindingSet bindings;
  bindings.bind("x", 1.5);
  bindings.bind("k", 2.9);  // an int input reads a double truncated
  EXPECT_EQ(y.evaluate(bindings), 5.0);
  bindings.bind("x", 4);
  EXPECT_EQ(y.evaluate(bindings), 10.0);
  bindings.bind("k", true);
  EXPECT_EQ(y.evaluate(bindings), 9.0);
  ct::BindingSet copy = bindings;
  EXPECT_EQ(y.evaluate(copy), 9.0);
}

TEST(Evaluation, AllElementsOfANodeCostOneEvaluation) {
  int count = 0;
  TracedDouble x = TracedDouble::input("x");
  auto node = std::make_shared<CountingOp>(1000, x.operation(), &count);
  std::vector<TracedDouble> elements(1000);
  TracedDouble::accessElements(node, 0, 1000, elements.data());
  ct::BindingSet bindings;
  bindings.bind("x", 0.5);
  double sum = 0.0;
  for (auto const& e : elements) sum += e.evaluate(bindings);
  EXPECT_EQ(sum, 500.0);
  EXPECT_EQ(count, 1);
  bindings.bind("x", 1.0);
  EXPECT_EQ(elements[999].evaluate(bindings), 1.0);
  EXPECT_EQ(count, 2);
}

// A graph of several thousand steps runs in batches: values planned in one
// batch (and in an earlier evaluation) are read by later ones, through
// registers that are reused as soon as their one reader is planned.
TEST(Evaluation, LongGraphsRunInBatchesAndKeepEarlierValues) {
  int count = 0;
  TracedDouble x = TracedDouble::input("x"), y = TracedDouble::input("y");
  double xv = 0.75, yv = -1.25;
  TracedDouble t = x, mid;
  double tv = xv, midv = 0.0;
  for (int k = 0; k < 3000; ++k) {
    t = t * 0.999 + y;
    tv = tv * 0.999 + yv;
    if (k % 500 == 499) {  // a kernel-like node between batches
      auto node = std::make_shared<CountingOp>(3, t.operation(), &count);
      TracedDouble e[3];
      TracedDouble::accessElements(node, 0, 3, e);
      t = t + e[1] - e[2] * 0.5;
      tv = tv + tv - tv * 0.5;
    }
    if (k == 1500) {
      mid = t;
      midv = tv;
    }
  }
  ct::BindingSet bindings;
  bindings.bind("x", xv);
  bindings.bind("y", yv);
  EXPECT_EQ(mid.evaluate(bindings), midv);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(t.evaluate(bindings), tv);
  EXPECT_EQ(count, 6);  // the first three kept their values
  EXPECT_EQ(mid.evaluate(bindings), midv);
  EXPECT_EQ(count, 6);

  ct::Tape tape({"x", "y"}, {mid, t});
  double in[] = {xv, yv}, out[2];
  tape(in, out);
  EXPECT_EQ(out[0], midv);
  EXPECT_EQ(out[1], tv);
}
