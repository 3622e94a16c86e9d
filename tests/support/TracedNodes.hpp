#pragma once

// Inspection of the nodes that traced kernels record.

#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <vector>

#include "vela/math.hpp"

namespace vela::test {

namespace ct = kelm_math::comp_trace;

/// The node an output element of an array kernel reads, as Op (null for a
/// constant or a node of another class).
template <class Op = ct::Operation, class T>
Op const* nodeOf(ct::TracedValue<T> const& element) {
  if (element.isConstant() || element.operation()->inputCount() == 0) return nullptr;
  return dynamic_cast<Op const*>(element.operation()->input(0).get());
}

/// The node of a kernel with one scalar result: the value's own operation.
template <class Op, class T>
Op const* scalarNodeOf(ct::TracedValue<T> const& value) {
  return value.isConstant() ? nullptr : dynamic_cast<Op const*>(value.operation().get());
}

/// True when node is not null and every element reads it.
template <class Op, class T>
bool allRead(std::vector<ct::TracedValue<T>> const& v, Op const* node) {
  for (auto const& e : v)
    if (node == nullptr || nodeOf<Op>(e) != node) return false;
  return true;
}

/// Element count of the collect at input i of a node.
inline std::size_t collectSize(ct::Operation const& node, std::size_t i) {
  return dynamic_cast<ct::CollectOp const&>(*node.input(i)).size();
}

/// Scalar input i of a node, as a traced int.
inline ct::TracedInt scalarInput(ct::Operation const& node, std::size_t i) {
  return ct::TracedInt(std::static_pointer_cast<ct::ScalarOperation const>(node.input(i)));
}

/// A clone keeps the class, the fields (it compares equal) and the shared
/// inputs; a description, when given, is the node's text.
inline void expectClone(ct::Operation const& node, std::string const& description = "") {
  if (!description.empty()) {
    EXPECT_EQ(node.description(), description);
  }
  ct::OperationPtr copy = node.clone();
  EXPECT_EQ(typeid(*copy), typeid(node));
  EXPECT_NE(copy.get(), &node);
  EXPECT_EQ(copy->compare_(node), 0) << node.description();
  ASSERT_EQ(copy->inputCount(), node.inputCount());
  for (std::size_t i = 0; i < node.inputCount(); ++i) EXPECT_EQ(copy->input(i), node.input(i));
}

/// a sorts strictly before b, and b after a.
inline void expectOrdered(ct::Operation const& a, ct::Operation const& b) {
  EXPECT_EQ(a.compare_(b), -1) << a.description() << " / " << b.description();
  EXPECT_EQ(b.compare_(a), 1) << b.description() << " / " << a.description();
}

}  // namespace vela::test
