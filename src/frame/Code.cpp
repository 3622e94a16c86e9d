#include "frame/Code.hpp"

#include <algorithm>
#include <list>
#include <stdexcept>

#include "frame/Args.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"
#include "vela/NumberText.hpp"

namespace vela::math::frame {
namespace {
// The value of a scalar int input when it is a constant.
std::optional<int> constantOf(ct::OperationPtr const& in) {
  auto node = std::static_pointer_cast<ct::ScalarOperation const>(in);
  int value = 0;
  if (node->scalarType() == ct::ScalarType::Int && ct::TracedInt(node).getConstant(value))
    return value;
  return std::nullopt;
}
}  // namespace

std::string Code::size(std::size_t i) const { return visitor_.rawOpCode(node_.scalarInputRef(i)); }

std::string Code::count(std::size_t i) const {
  std::string text = size(i);
  bool constant = text.find_first_not_of("0123456789") == std::string::npos;
  return (constant ? "(" : "(size_t)(") + text + ")";
}

std::string Code::array(std::size_t i) const {
  return visitor_.scratchpadPointerAccess(visitor_.outputSlot(node_.input(i), 0));
}

std::string Code::output(ct::ScalarType type, unsigned count) {
  std::size_t const j = outputs_++;
  std::string out =
      visitor_.scratchpadPointerAccess(visitor_.reserveOutputVector(node_, type, count));
  bool filled = counts_ && j < counts_->size() && (*counts_)[j] >= count;
  if (count > 0 && !filled) {
    char const* element = type == ct::ScalarType::Double ? "double" : "int";
    line("memset(" + out + ", 0, " + decimal(count) + " * sizeof(" + element + "));");
  }
  return out;
}

std::string Code::inPlace(std::size_t i, unsigned count, std::string const& countText) {
  return inPlace_(i, count, countText).first;
}

std::pair<std::string, bool> Code::inPlace_(std::size_t i, unsigned count,
                                            std::string const& countText) {
  ct::OperationPtr const& in = node_.input(i);
  ++outputs_;
  if (visitor_.canOverwriteVector(in)) {
    ct::Slot slot = visitor_.reserveOverwriteOutputVector(node_, visitor_.outputSlot(in, 0), count);
    return {visitor_.scratchpadPointerAccess(slot), false};
  }
  // Not output(): the copy writes the elements, so no zeros go first.
  std::string out = visitor_.scratchpadPointerAccess(
      visitor_.reserveOutputVector(node_, ct::ScalarType::Double, count));
  line("memcpy(" + out + ", " + array(i) + ", " + countText + " * sizeof(double));");
  return {out, true};
}

std::string Code::inPlace(std::size_t i, unsigned count, std::initializer_list<std::size_t> sizes) {
  std::string copied;
  unsigned long long constant = 1;
  bool known = true;
  for (std::size_t k : sizes) {
    copied += (copied.empty() ? "" : " * ") + this->count(k);
    std::optional<int> value = constantOf(node_.input(k));
    known = known && value;
    constant *= static_cast<unsigned long long>(std::max(value.value_or(0), 0));
  }
  auto [out, fresh] = inPlace_(i, count, copied);
  if (fresh && (!known || constant < count))
    line("memcpy(" + out + " + " + copied + ", " + array(i) + " + " + copied + ", (" +
         decimal(count) + " - " + copied + ") * sizeof(double));");
  return out;
}

std::string Code::outputValue(ct::ScalarType type) {
  ++outputs_;
  return visitor_.scratchpadAccess(visitor_.reserveOutputVector(node_, type, 1));
}

std::string Code::scalarResult() {
  if (!node_.isScalar()) throw std::logic_error("frame: scalarResult of a vector node");
  return outputValue(static_cast<ct::ScalarOperation const&>(node_).scalarType());
}

std::string Code::temporary(ct::ScalarType type, unsigned count) {
  temporaries_.push_back(visitor_.reserveTemporarySlots(type, count));
  return visitor_.scratchpadPointerAccess(temporaries_.back().baseSlot());
}

void Code::line(std::string const& text) { text_ += visitor_.codeLine(text); }

std::string Code::callText_(std::string const& name, std::initializer_list<std::string> args) {
  std::string text = name + "(";
  bool first = true;
  for (auto const& arg : args) {
    if (!first) text += ", ";
    text += arg;
    first = false;
  }
  return text + ")";
}

void Code::call(std::string const& name, std::initializer_list<std::string> args) {
  line(callText_(name, args) + ";");
}

void Code::assignCall(std::string const& name, std::initializer_list<std::string> args) {
  std::string call = callText_(name, args);
  line(scalarResult() + " = " + call + ";");
}

void Code::assignCall(std::string const& result, std::string const& name,
                      std::initializer_list<std::string> args) {
  line(result + " = " + callText_(name, args) + ";");
}

std::string Code::decimal(unsigned long long value) { return vela::decimalText(value); }

std::optional<std::vector<std::size_t>> outputCounts(ct::GenerateCodeVisitor const& visitor,
                                                     ct::Operation const& node,
                                                     void (*compute)(void const* kernel, Args&),
                                                     void const* kernel) {
  ConstantValues values;
  std::list<std::vector<double>> doubles;
  std::list<std::vector<int>> ints;
  for (std::size_t i = 0; i < node.inputCount(); ++i) {
    ct::OperationPtr const& in = node.input(i);
    if (!in->isScalar()) {
      ct::Slot slot = visitor.outputSlot(in, 0);
      if (slot.type == ct::ScalarType::Double)
        values.setArray(i, doubles.emplace_back(slot.count, 0.0));
      else
        values.setArray(i, ints.emplace_back(slot.count, 0));
      continue;
    }
    auto const& scalar = static_cast<ct::ScalarOperation const&>(*in);
    if (scalar.scalarType() == ct::ScalarType::Double) {
      values.setScalar(i, 0.0);
      continue;
    }
    std::optional<int> value = constantOf(in);  // none for a bool: taken as unknown
    if (!value) return std::nullopt;
    values.setScalar(i, *value);
  }
  Args args(values);
  compute(kernel, args);  // kernels report by result: zeros are inputs like any other
  std::vector<std::size_t> counts;
  for (ct::VectorValue const& result : values.takeResults()) counts.push_back(result.size());
  return counts;
}

}  // namespace vela::math::frame
