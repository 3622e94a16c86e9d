#include <gtest/gtest.h>

#include <typeinfo>

#include "linalg/VectorCombineOp.hpp"
#include "support/ThreePaths.hpp"
#include "vela/math.hpp"

namespace ct = kelm_math::comp_trace;
using ct::TracedDouble;
using ct::TracedInt;
using vela::math::VectorCombineOp;

namespace {

// The node that the first element of out reads.
VectorCombineOp const* nodeOf(TracedDouble const& element) {
  if (element.isConstant()) return nullptr;
  return dynamic_cast<VectorCombineOp const*>(element.operation()->input(0).get());
}

// The size input of a node, read as a traced value.
TracedInt sizeOf(VectorCombineOp const& node) {
  return TracedInt(std::static_pointer_cast<ct::ScalarOperation const>(node.input(0)));
}

std::vector<TracedDouble> inputs(char const* prefix, unsigned n) {
  std::vector<TracedDouble> v;
  for (unsigned i = 0; i < n; ++i) v.push_back(TracedDouble::input(prefix + std::to_string(i)));
  return v;
}

}  // namespace

TEST(VectorCombine, NumericAddsAndSubtracts) {
  double a[] = {1.0, -2.0, 0.5, 7.0}, b[] = {0.25, 2.0, -0.5, 1.0}, out[4] = {9, 9, 9, 9};
  vela::math::vectorAdd(3, a, b, out);
  EXPECT_EQ(out[0], 1.25);
  EXPECT_EQ(out[1], 0.0);
  EXPECT_EQ(out[2], 0.0);
  EXPECT_EQ(out[3], 9.0);
  vela::math::vectorSubtractDynamicSize(4, 2, a, b, out);
  EXPECT_EQ(out[0], 0.75);
  EXPECT_EQ(out[1], -4.0);
  EXPECT_EQ(out[2], 0.0);
}

TEST(VectorCombine, FoldsOnlyWhenSizeAndCoveredElementsAreConstant) {
  TracedDouble a[4] = {1.0, 2.0, 3.0, TracedDouble::input("x")};
  TracedDouble b[4] = {10.0, 20.0, 30.0, 40.0};
  TracedDouble out[4] = {-1.0, -1.0, -1.0, -1.0};

  // A constant size below the maximum covers only the constant elements.
  vela::math::vectorAddDynamicSize(4, TracedInt(2), a, b, out);
  double v = 0.0;
  ASSERT_TRUE(out[0].getConstant(v));
  EXPECT_EQ(v, 11.0);
  ASSERT_TRUE(out[1].getConstant(v));
  EXPECT_EQ(v, 22.0);
  ASSERT_TRUE(out[2].getConstant(v));
  EXPECT_EQ(v, -1.0);  // left as it was

  // Size 0 folds and writes nothing, with or without a maximum.
  TracedDouble untouched[1] = {-3.0};
  vela::math::vectorSubtractDynamicSize(0, TracedInt(0), nullptr, nullptr, untouched);
  vela::math::vectorAddDynamicSize(4, TracedInt(0), a, b, out);
  EXPECT_TRUE(untouched[0].equalConstant(-3.0));

  // A traced element inside the covered range records, though the size is constant.
  vela::math::vectorAdd(4, a, b, out);
  for (auto const& e : out) ASSERT_NE(nodeOf(e), nullptr);
  VectorCombineOp const* node = nodeOf(out[0]);
  EXPECT_EQ(node, nodeOf(out[3]));
  EXPECT_EQ(node->description(), "VectorCombine [add]");
  ASSERT_EQ(node->inputCount(), 3u);
  EXPECT_TRUE(sizeOf(*node).equalConstant(4));
  auto const& collect = dynamic_cast<ct::CollectOp const&>(*node->input(1));
  EXPECT_EQ(collect.size(), 4u);
  EXPECT_EQ(collect.name(), "");

  // A traced size records with collects of the maximum, and out gets nMax reads.
  TracedInt n = TracedInt::input("n");
  TracedDouble c[3] = {1.0, 2.0, 3.0}, d[3] = {1.0, 1.0, 1.0}, r[3];
  vela::math::vectorSubtractDynamicSize(3, n, c, d, r);
  node = nodeOf(r[2]);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->description(), "VectorCombine [subtract]");
  EXPECT_NE(node->input(0), n.operation());  // the node keeps its own copy of the size
  // ... clamped to [0, nMax], so a bound value beyond it cannot reach past the arrays.
  EXPECT_TRUE(sizeOf(*node).isOperationallyEqual(vela::math::clampSize(n, 3)));

  // nMax 0 with a traced size: a node over empty collects, no element written.
  TracedDouble none[1] = {5.0};
  vela::math::vectorAddDynamicSize(0, n, nullptr, nullptr, none);
  EXPECT_TRUE(none[0].equalConstant(5.0));
}

TEST(VectorCombine, CompareAndClone) {
  auto size = TracedInt(3).operation();
  std::vector<TracedDouble> a = inputs("a", 3), b = inputs("b", 3);
  auto ca = std::make_shared<ct::CollectOp>(3, a.data(), "");
  auto cb = std::make_shared<ct::CollectOp>(3, b.data(), "");
  VectorCombineOp add3(0, 3, size, ca, cb), add3b(0, 3, size, cb, ca), sub3(1, 3, size, ca, cb),
      add4(0, 4, size, ca, cb);
  EXPECT_EQ(add3.compare_(add3b), 0);  // fields only; inputs are the trace library's business
  EXPECT_EQ(add3.compare_(sub3), -1);  // add sorts before subtract
  EXPECT_EQ(sub3.compare_(add3), 1);
  EXPECT_EQ(add3.compare_(add4), -1);
  EXPECT_EQ(sub3.compare_(add4), 1);  // kind decides before n
  EXPECT_THROW(add3.compare_(*ca), std::bad_cast);

  ct::OperationPtr copy = sub3.clone();
  EXPECT_EQ(typeid(*copy), typeid(VectorCombineOp));
  EXPECT_NE(copy.get(), &sub3);
  EXPECT_EQ(copy->compare_(sub3), 0);
  ASSERT_EQ(copy->inputCount(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(copy->input(i), sub3.input(i));
  EXPECT_EQ(copy->description(), "VectorCombine [subtract]");
}

TEST(VectorCombine, ThreePathsFixedAndDynamicSize) {
  auto combine = [](auto const& in) {
    using S = typename std::decay_t<decltype(in)>::Scalar;
    std::vector<S> a = in.doubles(0, 5), b = in.doubles(5, 5), sum(5), diff(5), again(5);
    vela::math::vectorAdd(5, a.data(), b.data(), sum.data());
    vela::math::vectorSubtract(5, sum.data(), b.data(), diff.data());
    // A traced size below the maximum: only the first n elements are defined.
    vela::math::vectorAddDynamicSize(5, in.i(0), diff.data(), a.data(), again.data());
    std::vector<S> out = sum;
    out.insert(out.end(), diff.begin(), diff.end());
    out.insert(out.end(), again.begin(), again.begin() + 3);
    return out;
  };
  std::vector<vela::test::Case> cases;
  for (unsigned seed = 0; seed < 6; ++seed)
    cases.push_back({vela::test::randomDoubles(10, seed), {3}});
  cases.push_back({{0.0, -0.0, 1e308, -1e308, 5e-324, -0.0, -0.0, 1e308, 1e308, 5e-324}, {4}});
  auto result = vela::test::checkThreePaths(combine, cases);
  EXPECT_NE(result.code.find("vectorAdd(5, "), std::string::npos) << result.code;
  EXPECT_NE(result.code.find("vectorSubtract(5, "), std::string::npos);
  // The traced size, clamped to [0, 4], is a scratch int.
  EXPECT_NE(result.code.find("vela_rt_imax(vela_rt_d2i(in[10]), 0)"), std::string::npos);
  EXPECT_NE(result.code.find("vectorAdd(spi["), std::string::npos);
}

TEST(VectorCombine, RecordedTwiceIsWrittenOnce) {
  std::vector<TracedDouble> a = inputs("a", 3), b = inputs("b", 3), first(3), second(3), sum(3);
  vela::math::vectorAdd(3, a.data(), b.data(), first.data());
  vela::math::vectorAdd(3, a.data(), b.data(), second.data());
  ASSERT_NE(nodeOf(first[0]), nodeOf(second[0]));
  vela::math::vectorSubtract(3, first.data(), second.data(), sum.data());
  std::vector<std::string> names = {"a0", "a1", "a2", "b0", "b1", "b2"};
  std::string code = ct::generateCFunction("twice", names, sum);
  std::size_t adds = 0;
  for (auto at = code.find("vectorAdd("); at != std::string::npos;
       at = code.find("vectorAdd(", at + 1))
    ++adds;
  EXPECT_EQ(adds, 1u) << code;
  // The subtraction reads the add's storage directly, twice: no element copies.
  std::string add = "vectorAdd(3, &spd[0], &spd[3], ";
  auto at = code.find(add);
  ASSERT_NE(at, std::string::npos) << code;
  std::string added = code.substr(at + add.size(), code.find(')', at) - at - add.size());
  EXPECT_NE(code.find("vectorSubtract(3, " + added + ", " + added + ", "), std::string::npos)
      << code;
}
