#include "frame/Code.hpp"

#include <stdexcept>

#include "vela/NumberText.hpp"

namespace vela::math::frame {

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
  return visitor_.scratchpadPointerAccess(visitor_.reserveOutputVector(node_, type, count));
}

std::string Code::inPlace(std::size_t i, unsigned count, std::string const& countText) {
  ct::OperationPtr const& in = node_.input(i);
  if (visitor_.canOverwriteVector(in)) {
    ct::Slot slot = visitor_.reserveOverwriteOutputVector(node_, visitor_.outputSlot(in, 0), count);
    return visitor_.scratchpadPointerAccess(slot);
  }
  std::string out = output(ct::ScalarType::Double, count);
  line("memcpy(" + out + ", " + array(i) + ", " + countText + " * sizeof(double));");
  return out;
}

std::string Code::outputValue(ct::ScalarType type) {
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

}  // namespace vela::math::frame
