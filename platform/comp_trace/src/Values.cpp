#include "kelm_math/comp_trace/Values.hpp"

#include <stdexcept>

namespace kelm_math::comp_trace {

double ScalarValue::doubleValue() const {
  if (type_ != ScalarType::Double) throw std::logic_error("comp_trace: scalar is not a double");
  return double_;
}

int ScalarValue::intValue() const {
  if (type_ == ScalarType::Double) throw std::logic_error("comp_trace: scalar is not an int");
  return int_;
}

bool ScalarValue::boolValue() const {
  if (type_ != ScalarType::Bool) throw std::logic_error("comp_trace: scalar is not a bool");
  return int_ != 0;
}

VectorValue::VectorValue(std::vector<double> values)
    : type_(ScalarType::Double), doubles_(std::move(values)) {}

VectorValue::VectorValue(std::vector<int> values)
    : type_(ScalarType::Int), ints_(std::move(values)) {}

VectorValue::VectorValue(std::vector<bool> const& values)
    : type_(ScalarType::Bool), ints_(values.begin(), values.end()) {}

VectorValue::VectorValue(std::size_t n, double const* values)
    : type_(ScalarType::Double), doubles_(values, values + n) {}

std::size_t VectorValue::size() const {
  return type_ == ScalarType::Double ? doubles_.size() : ints_.size();
}

std::vector<double> const& VectorValue::doubleValues() const {
  if (type_ != ScalarType::Double) throw std::logic_error("comp_trace: vector is not of doubles");
  return doubles_;
}

std::vector<int> const& VectorValue::intValues() const {
  if (type_ == ScalarType::Double) throw std::logic_error("comp_trace: vector is not of ints");
  return ints_;
}

ScalarValue VectorValue::element(std::size_t i) const {
  switch (type_) {
    case ScalarType::Double:
      return i < doubles_.size() ? ScalarValue(doubles_[i]) : ScalarValue(0.0);
    case ScalarType::Int: return i < ints_.size() ? ScalarValue(ints_[i]) : ScalarValue(0);
    case ScalarType::Bool: return ScalarValue(i < ints_.size() && ints_[i] != 0);
  }
  return ScalarValue();
}

}  // namespace kelm_math::comp_trace
