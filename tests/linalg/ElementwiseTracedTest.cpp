// Folding versus recording of the traced elementwise and layout kernels,
// the nodes they record, and the nodes' fields, texts and copies.

#include <gtest/gtest.h>

#include "linalg/InPlaceOps.hpp"
#include "linalg/ScaleVectorsOp.hpp"
#include "linalg/TransposeOp.hpp"
#include "linalg/VectorScaleOp.hpp"
#include "support/TracedNodes.hpp"
#include "vela/math.hpp"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using ct::TracedDouble;
using ct::TracedInt;

namespace {

using namespace vela::test;

std::vector<TracedInt> intConstants(std::vector<int> const& values) {
  return std::vector<TracedInt>(values.begin(), values.end());
}

// Elements [0, n) are the constants expected; elements from n on hold `rest`.
void expectFolded(std::vector<TracedDouble> const& out, std::vector<double> const& expected,
                  std::size_t n, double rest) {
  for (std::size_t i = 0; i < out.size(); ++i) {
    double v = 0.0;
    ASSERT_TRUE(out[i].getConstant(v)) << "element " << i << " is not constant";
    EXPECT_EQ(v, i < n ? expected.at(i) : rest) << "element " << i;
  }
}

ct::ScalarType collectType(ct::Operation const& node, std::size_t i) {
  return dynamic_cast<ct::CollectOp const&>(*node.input(i)).elementType();
}

ct::OperationPtr anySize() { return TracedInt(1).operation(); }

}  // namespace

TEST(ElementwiseTraced, ScaleAndNegate) {
  std::vector<double> a = {1.0, -2.0, 0.5};
  std::vector<TracedDouble> ta = constants(a), out(3);
  vm::vectorScale(3, TracedDouble(2.0), ta.data(), out.data());
  expectFolded(out, {2.0, -4.0, 1.0}, 3, 0.0);
  vm::vectorNegate(3, ta.data(), out.data());
  expectFolded(out, {-1.0, 2.0, -0.5}, 3, 0.0);

  // A traced scale records; the node keeps its own copy of the scale node.
  TracedDouble s = TracedDouble::input("s");
  vm::vectorScale(3, s, ta.data(), out.data());
  auto const* scale = nodeOf<vm::VectorScaleOp>(out[0]);
  ASSERT_TRUE(allRead(out, scale));
  ASSERT_EQ(scale->inputCount(), 2u);
  EXPECT_NE(scale->input(0), s.operation());
  EXPECT_EQ(collectSize(*scale, 1), 3u);
  expectClone(*scale, "VectorScale");

  ta[2] = TracedDouble::input("x");
  std::vector<TracedDouble> negated(3);
  vm::vectorNegate(3, ta.data(), negated.data());
  auto const* negate = nodeOf<vm::VectorNegateOp>(negated[1]);
  ASSERT_TRUE(allRead(negated, negate));
  expectClone(*negate, "VectorNegate");

  ct::OperationPtr const a3 = negate->input(0);
  expectOrdered(vm::VectorScaleOp(2, anySize(), a3), vm::VectorScaleOp(3, anySize(), a3));
  expectOrdered(vm::VectorNegateOp(2, a3), vm::VectorNegateOp(7, a3));
  EXPECT_EQ(vm::VectorNegateOp(3, a3).compare_(*negate), 0);
  EXPECT_THROW(negate->compare_(*scale), std::bad_cast);
}

TEST(ElementwiseTraced, TransposesAndShift) {
  // 2 by 3 actual within 4 by 3 maxima: only the first six elements count.
  std::vector<TracedDouble> A = constants({1, 2, 3, 4, 5, 6, -1, -1, -1, -1, -1, -1});
  A[8] = TracedDouble::input("beyond");
  std::vector<TracedDouble> out(12, TracedDouble(9.0));
  vm::transposeColMajorDynamicSize(4, 3, TracedInt(2), TracedInt(3), A.data(), out.data());
  expectFolded(out, {1, 3, 5, 2, 4, 6}, 6, 9.0);

  A[5] = TracedDouble::input("inside");
  vm::transposeColMajorDynamicSize(4, 3, TracedInt(2), TracedInt(3), A.data(), out.data());
  auto const* t = nodeOf<vm::TransposeColMajorOp>(out[0]);
  ASSERT_TRUE(allRead(out, t));
  ASSERT_EQ(t->inputCount(), 3u);
  EXPECT_TRUE(scalarInput(*t, 0).equalConstant(2));
  EXPECT_TRUE(scalarInput(*t, 1).equalConstant(3));
  EXPECT_EQ(collectSize(*t, 2), 12u);
  EXPECT_EQ(t->kernel().count, 12u);
  expectClone(*t, "TransposeColMajor");

  std::vector<TracedDouble> sq = constants({1, 2, 3, 4}), sum(4);
  vm::matrixTransposeSubtract(2, sq.data(), sum.data());
  expectFolded(sum, {0, -1, 1, 0}, 4, 0.0);
  sq[3] = TracedDouble::input("x");
  vm::matrixTransposeAdd(2, sq.data(), sum.data());
  auto const* add = nodeOf<vm::TransposeOp>(sum[3]);
  ASSERT_TRUE(allRead(sum, add));
  expectClone(*add, "TransposeAdd");
  vm::matrixTransposeSubtract(2, sq.data(), sum.data());
  expectClone(*nodeOf<vm::TransposeOp>(sum[0]), "TransposeSubtract");
  ct::OperationPtr const a = t->input(2);
  expectOrdered(vm::TransposeOp(0, 3, a), vm::TransposeOp(1, 3, a));  // add before subtract
  expectOrdered(vm::TransposeOp(0, 9, a), vm::TransposeOp(1, 2, a));  // kind decides first
  expectOrdered(vm::TransposeOp(1, 2, a), vm::TransposeOp(1, 3, a));
  expectOrdered(vm::TransposeColMajorOp(4, anySize(), anySize(), a),
                vm::TransposeColMajorOp(12, anySize(), anySize(), a));

  // Shift: a constant k folds m * k elements, a traced k records.
  std::vector<TracedDouble> B = constants({1, 2, 3, 4, 5, 6}), shifted(6, TracedDouble(9.0));
  vm::shiftColumns(2, 3, TracedInt(1), B.data(), shifted.data());
  expectFolded(shifted, {5, 6}, 2, 9.0);
  vm::shiftColumns(2, 3, TracedInt(0), B.data(), shifted.data());
  expectFolded(shifted, {5, 6}, 2, 9.0);  // k = 0 writes nothing
  vm::shiftColumns(2, 3, TracedInt::input("k"), B.data(), shifted.data());
  auto const* shift = nodeOf<vm::ShiftColumnsOp>(shifted[5]);
  ASSERT_TRUE(allRead(shifted, shift));
  ASSERT_EQ(shift->inputCount(), 4u);
  EXPECT_EQ(collectSize(*shift, 3), 6u);
  expectClone(*shift, "ShiftColumns");
  expectOrdered(vm::ShiftColumnsOp(5, anySize(), anySize(), anySize(), a),
                vm::ShiftColumnsOp(6, anySize(), anySize(), anySize(), a));
}

TEST(ElementwiseTraced, Scalings) {
  // 2 by 2 actual within 3 by 4 maxima; factors past the actual count may be traced.
  std::vector<TracedDouble> A = constants({1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0});
  A[6] = TracedDouble::input("beyond");
  std::vector<TracedDouble> s = constants({2, 4, 8, 16}), out(12, TracedDouble(9.0));
  s[2] = TracedDouble::input("factor");
  TracedInt m(2), n(2);
  vm::scaleColumnsDynamicSize(3, 4, m, n, A.data(), s.data(), out.data());
  expectFolded(out, {2, 4, 12, 16}, 4, 9.0);
  vm::inverseScaleRowsDynamicSize(3, 4, m, n, A.data(), s.data(), out.data());
  expectFolded(out, {0.5, 0.5, 1.5, 1.0}, 4, 9.0);

  // A traced size records; rows collect mMax factors, columns nMax.
  TracedInt traced = TracedInt::input("m");
  using Scaling = void (*)(unsigned, unsigned, TracedInt const&, TracedInt const&,
                           TracedDouble const*, TracedDouble const*, TracedDouble*);
  struct Expect {
    Scaling run;
    bool columns, inverse;
    char const* description;
    unsigned factors;
  };
  Expect const kinds[] = {
      {vm::scaleColumnsDynamicSize, true, false, "ScaleVectors [columns, non-inverse]", 4},
      {vm::inverseScaleColumnsDynamicSize, true, true, "ScaleVectors [columns, inverse]", 4},
      {vm::scaleRowsDynamicSize, false, false, "ScaleVectors [rows, non-inverse]", 3},
      {vm::inverseScaleRowsDynamicSize, false, true, "ScaleVectors [rows, inverse]", 3}};
  for (Expect const& kind : kinds) {
    kind.run(3, 4, traced, n, A.data(), s.data(), out.data());
    auto const* node = nodeOf<vm::ScaleVectorsOp>(out[11]);
    ASSERT_TRUE(allRead(out, node));
    EXPECT_EQ(node->kernel().columns, kind.columns);
    EXPECT_EQ(node->kernel().inverse, kind.inverse);
    EXPECT_EQ(node->kernel().count, 12u);
    EXPECT_EQ(collectSize(*node, 2), 12u);
    EXPECT_EQ(collectSize(*node, 3), kind.factors);
    expectClone(*node, kind.description);
  }
  auto a = anySize();  // any input will do for comparisons
  auto op = [&](bool columns, bool inverse, unsigned count) {
    return vm::ScaleVectorsOp(columns, inverse, count, a, a, a, a);
  };
  expectOrdered(op(false, true, 9), op(true, false, 1));  // columns first, false before true
  expectOrdered(op(true, false, 9), op(true, true, 1));
  expectOrdered(op(true, true, 1), op(true, true, 2));
}

TEST(ElementwiseTraced, ZeroMajor) {
  std::vector<TracedInt> flags = intConstants({0, 1});
  std::vector<TracedDouble> A = constants({1, 2, 3, 4, 5, 6});
  vm::zeroMajor(2, 3, flags.data(), A.data());
  expectFolded(A, {1, 0, 3, 0, 5, 0}, 6, 0.0);

  flags[0] = TracedInt::input("flag");
  vm::zeroMajor(2, 3, flags.data(), A.data());
  auto const* node = nodeOf<vm::ZeroMajorOp>(A[0]);
  ASSERT_TRUE(allRead(A, node));
  ASSERT_EQ(node->inputCount(), 2u);
  EXPECT_EQ(collectType(*node, 0), ct::ScalarType::Int);
  EXPECT_EQ(collectSize(*node, 0), 2u);
  EXPECT_EQ(collectSize(*node, 1), 6u);
  expectClone(*node, "ZeroMajor");
  auto a = node->input(1);
  expectOrdered(vm::ZeroMajorOp(2, 9, a, a), vm::ZeroMajorOp(3, 1, a, a));  // m, then n
  expectOrdered(vm::ZeroMajorOp(3, 1, a, a), vm::ZeroMajorOp(3, 2, a, a));
}

TEST(ElementwiseTraced, ReduceAndExpand) {
  // 2 by 3 actual within 3 by 4 maxima; a fold writes the first six elements.
  std::vector<TracedInt> indices = intConstants({0, 2, 0, 0});
  indices[3] = TracedInt::input("unused");
  std::vector<TracedDouble> A = constants({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  A[9] = TracedDouble::input("beyond");
  std::vector<TracedDouble> before = A;
  vm::reduceMatrixDynamicSize(3, 4, TracedInt(2), TracedInt(3), TracedInt(2), indices.data(),
                              A.data());
  for (std::size_t i = 0; i < 6; ++i)
    EXPECT_TRUE(A[i].equalConstant(std::vector<double>{1, 2, 5, 6, 5, 6}[i])) << i;
  for (std::size_t i = 6; i < 12; ++i) EXPECT_TRUE(A[i].isOperationallyEqual(before[i])) << i;

  // A traced k records, and all maximum elements read the node.
  vm::reduceMatrix(3, 4, TracedInt::input("k"), indices.data(), A.data());
  auto const* reduce = nodeOf<vm::ReduceMatrixOp>(A[11]);
  ASSERT_TRUE(allRead(A, reduce));
  ASSERT_EQ(reduce->inputCount(), 5u);
  EXPECT_TRUE(scalarInput(*reduce, 0).equalConstant(3));
  EXPECT_EQ(collectType(*reduce, 3), ct::ScalarType::Int);
  EXPECT_EQ(collectSize(*reduce, 3), 4u);
  EXPECT_EQ(collectSize(*reduce, 4), 12u);
  expectClone(*reduce, "ReduceMatrix");

  // Expansion of a constant count folds all nMax elements: untargeted ones become zero.
  std::vector<TracedDouble> v = constants({7, 8, 9, 9});
  v[3] = TracedDouble::input("beyond");
  std::vector<TracedInt> targets = intConstants({1, 3, 0, 0});
  vm::expandVector(4, TracedInt(2), targets.data(), v.data());
  expectFolded(v, {0, 7, 0, 8}, 4, 0.0);
  vm::expandVector(4, TracedInt::input("n"), targets.data(), v.data());
  auto const* expand = nodeOf<vm::ExpandVectorOp>(v[0]);
  ASSERT_TRUE(allRead(v, expand));
  EXPECT_EQ(collectSize(*expand, 1), 4u);
  expectClone(*expand, "ExpandVector");

  auto a = anySize();
  expectOrdered(vm::ReduceMatrixOp(4, a, a, a, a, a), vm::ReduceMatrixOp(12, a, a, a, a, a));
  expectOrdered(vm::ExpandVectorOp(3, a, a, a), vm::ExpandVectorOp(4, a, a, a));
}

TEST(ElementwiseTraced, SubmatrixAssign) {
  // A 2 by 2 block from row 1 of a 3-row source into row 0 of a 2-row destination.
  std::vector<TracedDouble> src = constants({1, 2, 3, 4, 5, 6});
  std::vector<TracedDouble> dst = constants({0, 0, 0, 0, -1, -1});
  dst[5] = TracedDouble::input("beyond");
  vm::submatrixAssignDynamicSize(6, 6, TracedInt(2), TracedInt(2), TracedInt(1), TracedInt(3),
                                 TracedInt(0), TracedInt(2), src.data(), dst.data());
  for (std::size_t i = 0; i < 4; ++i)
    EXPECT_TRUE(dst[i].equalConstant(std::vector<double>{2, 3, 5, 6}[i])) << i;
  EXPECT_TRUE(dst[4].equalConstant(-1.0));

  // One traced offset, all else constant: recorded, and all dstMax elements replaced.
  TracedInt offset = TracedInt::input("offset");
  vm::submatrixAssignDynamicSize(6, 6, TracedInt(2), TracedInt(2), offset, TracedInt(3),
                                 TracedInt(0), TracedInt(2), src.data(), dst.data());
  auto const* node = nodeOf<vm::SubmatrixAssignOp>(dst[0]);
  ASSERT_TRUE(allRead(dst, node));
  ASSERT_EQ(node->inputCount(), 8u);
  // The node reads the values clamped to [0, maximum], and all 0 when the
  // block would still reach past an array.
  for (auto const& [bound, expected] : std::vector<std::pair<int, std::vector<int>>>{
           {1, {2, 2, 1, 3, 0, 2}}, {4, {0, 0, 0, 0, 0, 0}}, {-3, {2, 2, 0, 3, 0, 2}}}) {
    ct::BindingSet bindings;
    bindings.bind("offset", bound);
    for (std::size_t i = 0; i < 6; ++i)
      EXPECT_EQ(scalarInput(*node, i).evaluate(bindings), expected[i]) << bound << ", " << i;
  }
  EXPECT_EQ(collectSize(*node, 6), 6u);
  EXPECT_EQ(collectSize(*node, 7), 6u);
  EXPECT_EQ(node->kernel().count, 6u);
  expectClone(*node, "SubmatrixAssign");

  // Fixed sizes take stride * cols elements as maxima.
  std::vector<TracedDouble> into = constants({0, 0, 0, 0});
  src[0] = TracedDouble::input("x");
  vm::submatrixAssign(1, 2, 0, 3, 1, 2, src.data(), into.data());
  auto const* fixed = nodeOf<vm::SubmatrixAssignOp>(into[3]);
  ASSERT_TRUE(allRead(into, fixed));
  EXPECT_EQ(collectSize(*fixed, 6), 6u);
  EXPECT_EQ(fixed->kernel().count, 4u);

  auto a = anySize();
  expectOrdered(vm::SubmatrixAssignOp(4, a, a, a, a, a, a, a, a),
                vm::SubmatrixAssignOp(6, a, a, a, a, a, a, a, a));
}
