#include "frame/TracedCall.hpp"

#include <algorithm>

#include "kelm_math/comp_trace/CollectOp.hpp"
#include "vela/math/dynamic_sizes.hpp"

namespace vela::math::frame {
namespace {
unsigned clampCount(long long covered, unsigned max) {
  return static_cast<unsigned>(std::clamp<long long>(covered, 0, max));
}
}  // namespace

int TracedCallBase::size(ct::TracedInt const& value) {
  inputs_.push_back({ct::ScalarType::Int, false, value, {}, nullptr, 0, 0});
  int constant = 0;
  if (!value.getConstant(constant)) foldable_ = false;
  return constant;
}

int TracedCallBase::size(ct::TracedInt const& value, unsigned max) {
  return size(clampSize(value, max));
}

double TracedCallBase::scalar(ct::TracedDouble const& value) {
  inputs_.push_back({ct::ScalarType::Double, false, {}, value, nullptr, 0, 0});
  double constant = 0.0;
  if (!value.getConstant(constant)) foldable_ = false;
  return constant;
}

TracedCallBase& TracedCallBase::array(ct::TracedDouble const* values, unsigned max,
                                      long long covered) {
  inputs_.push_back({ct::ScalarType::Double, true, {}, {}, values, max, clampCount(covered, max)});
  return *this;
}

TracedCallBase& TracedCallBase::array(ct::TracedInt const* values, unsigned max,
                                      long long covered) {
  inputs_.push_back({ct::ScalarType::Int, true, {}, {}, values, max, clampCount(covered, max)});
  return *this;
}

TracedCallBase& TracedCallBase::output(ct::TracedDouble* out, unsigned max, long long covered) {
  outputs_.push_back({ct::ScalarType::Double, out, max, clampCount(covered, max)});
  return *this;
}

TracedCallBase& TracedCallBase::output(ct::TracedInt* out, unsigned max, long long covered) {
  outputs_.push_back({ct::ScalarType::Int, out, max, clampCount(covered, max)});
  return *this;
}

TracedCallBase& TracedCallBase::output(ct::TracedBool* out, unsigned max, long long covered) {
  outputs_.push_back({ct::ScalarType::Bool, out, max, clampCount(covered, max)});
  return *this;
}

TracedCallBase& TracedCallBase::neverFold() {
  foldable_ = false;
  return *this;
}

bool TracedCallBase::constantArgs_(ConstantValues& args) {
  if (!foldable_) return false;
  // Buffers of the maximum length, zero past the covered elements.
  for (std::size_t i = 0; i < inputs_.size(); ++i) {
    Input const& in = inputs_[i];
    if (!in.isArray) {
      int n = 0;
      double x = 0.0;
      if (in.type == ct::ScalarType::Int ? !in.size.getConstant(n) : !in.scalar.getConstant(x))
        return false;
      args.setScalar(i, in.type == ct::ScalarType::Int ? ct::ScalarValue(n) : ct::ScalarValue(x));
    } else if (in.type == ct::ScalarType::Double) {
      auto& buffer = doubleBuffers_.emplace_back(in.max, 0.0);
      if (!ct::getConstants(static_cast<ct::TracedDouble const*>(in.values), in.covered,
                            buffer.data()))
        return false;
      args.setArray(i, buffer);
    } else {
      auto& buffer = intBuffers_.emplace_back(in.max, 0);
      if (!ct::getConstants(static_cast<ct::TracedInt const*>(in.values), in.covered,
                            buffer.data()))
        return false;
      args.setArray(i, buffer);
    }
  }
  return true;
}

void TracedCallBase::writeConstants_(std::vector<ct::VectorValue> const& results) const {
  for (std::size_t j = 0; j < outputs_.size(); ++j) {
    Output const& o = outputs_[j];
    ct::VectorValue const& r = results.at(j);
    unsigned n = std::min<unsigned>(o.covered, static_cast<unsigned>(r.size()));
    if (o.type == ct::ScalarType::Double) {
      auto* out = static_cast<ct::TracedDouble*>(o.out);
      for (unsigned i = 0; i < n; ++i) out[i] = ct::TracedDouble(r.doubleValues()[i]);
    } else if (o.type == ct::ScalarType::Bool) {
      auto* out = static_cast<ct::TracedBool*>(o.out);
      for (unsigned i = 0; i < n; ++i) out[i] = ct::TracedBool(r.intValues()[i] != 0);
    } else {
      auto* out = static_cast<ct::TracedInt*>(o.out);
      for (unsigned i = 0; i < n; ++i) out[i] = ct::TracedInt(r.intValues()[i]);
    }
  }
}

std::vector<ct::OperationPtr> TracedCallBase::nodeInputs_() const {
  std::vector<ct::OperationPtr> nodes;
  nodes.reserve(inputs_.size());
  for (Input const& in : inputs_) {
    if (!in.isArray) {
      // The node keeps its own copy of each scalar node.
      ct::ScalarOperationPtr op =
          in.type == ct::ScalarType::Int ? in.size.operation() : in.scalar.operation();
      bool constant =
          in.type == ct::ScalarType::Int ? in.size.isConstant() : in.scalar.isConstant();
      nodes.push_back(constant ? ct::OperationPtr(op) : op->clone());
    } else if (in.type == ct::ScalarType::Double) {
      nodes.push_back(std::make_shared<ct::CollectOp>(
          in.max, static_cast<ct::TracedDouble const*>(in.values), ""));
    } else {
      nodes.push_back(std::make_shared<ct::CollectOp>(
          in.max, static_cast<ct::TracedInt const*>(in.values), ""));
    }
  }
  return nodes;
}

void TracedCallBase::readOutputs_(ct::OperationPtr const& node) const {
  for (std::size_t j = 0; j < outputs_.size(); ++j) {
    Output const& o = outputs_[j];
    auto output = static_cast<unsigned>(j);
    if (o.type == ct::ScalarType::Double)
      ct::TracedDouble::accessElements(node, output, o.max, static_cast<ct::TracedDouble*>(o.out));
    else if (o.type == ct::ScalarType::Bool)
      ct::TracedBool::accessElements(node, output, o.max, static_cast<ct::TracedBool*>(o.out));
    else
      ct::TracedInt::accessElements(node, output, o.max, static_cast<ct::TracedInt*>(o.out));
  }
}

}  // namespace vela::math::frame
