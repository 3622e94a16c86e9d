#include "frame/Args.hpp"

#include <algorithm>
#include <stdexcept>

namespace vela::math::frame {

double const* Args::doubles(std::size_t i) const {
  ct::ArrayRef a = values_.array(i);
  if (a.type != ct::ScalarType::Double)
    throw std::logic_error("frame: array input is not of doubles");
  return a.doubles();
}

int const* Args::ints(std::size_t i) const {
  ct::ArrayRef a = values_.array(i);
  if (a.type == ct::ScalarType::Double) throw std::logic_error("frame: array input is not of ints");
  return a.ints();
}

void* Args::create_(ct::ScalarType type, int count) {
  std::size_t n = count > 0 ? static_cast<std::size_t>(count) : 0u;
  void* data = values_.output(type, n);
  if (!made_) first_ = {type, data, n};
  made_ = true;
  return data;
}

double* Args::output(int count) {
  return static_cast<double*>(create_(ct::ScalarType::Double, count));
}
int* Args::intOutput(int count) { return static_cast<int*>(create_(ct::ScalarType::Int, count)); }
int* Args::boolOutput(int count) { return static_cast<int*>(create_(ct::ScalarType::Bool, count)); }

double* Args::outputCopy(std::size_t i) {
  ct::ArrayRef source = values_.array(i);
  double const* from = doubles(i);
  double* copy = output(static_cast<int>(source.count));
  std::copy(from, from + source.count, copy);
  return copy;
}

ct::ScalarValue Args::firstResult() const {
  if (!made_ || first_.count == 0) throw std::out_of_range("frame: kernel made no result");
  switch (first_.type) {
    case ct::ScalarType::Double: return first_.doubles()[0];
    case ct::ScalarType::Int: return first_.ints()[0];
    case ct::ScalarType::Bool: return first_.ints()[0] != 0;
  }
  return {};
}

void ConstantValues::reserve_(std::size_t i) {
  if (scalars_.size() <= i) scalars_.resize(i + 1);
  if (arrays_.size() <= i) arrays_.resize(i + 1);
}

void ConstantValues::setScalar(std::size_t i, ct::ScalarValue value) {
  reserve_(i);
  scalars_[i] = value;
}

void ConstantValues::setArray(std::size_t i, std::vector<double> const& buffer) {
  reserve_(i);
  arrays_[i] = {ct::ScalarType::Double, buffer.data(), buffer.size()};
}

void ConstantValues::setArray(std::size_t i, std::vector<int> const& buffer) {
  reserve_(i);
  arrays_[i] = {ct::ScalarType::Int, buffer.data(), buffer.size()};
}

ct::ScalarValue ConstantValues::scalar(std::size_t input) const { return scalars_.at(input); }

ct::ArrayRef ConstantValues::array(std::size_t input, unsigned output) const {
  if (output != 0) throw std::logic_error("frame: a constant array has one output");
  return arrays_.at(input);
}

void* ConstantValues::output(ct::ScalarType type, std::size_t count) {
  resultTypes_.push_back(type);
  bool isDouble = type == ct::ScalarType::Double;
  doubleResults_.emplace_back(isDouble ? count : 0u, 0.0);
  intResults_.emplace_back(isDouble ? 0u : count, 0);
  return isDouble ? static_cast<void*>(doubleResults_.back().data())
                  : static_cast<void*>(intResults_.back().data());
}

std::vector<ct::VectorValue> ConstantValues::takeResults() {
  std::vector<ct::VectorValue> values;
  values.reserve(resultTypes_.size());
  for (std::size_t j = 0; j < resultTypes_.size(); ++j) {
    if (resultTypes_[j] == ct::ScalarType::Double)
      values.emplace_back(std::move(doubleResults_[j]));
    else if (resultTypes_[j] == ct::ScalarType::Bool)
      values.emplace_back(std::vector<bool>(intResults_[j].begin(), intResults_[j].end()));
    else
      values.emplace_back(std::move(intResults_[j]));
  }
  return values;
}

}  // namespace vela::math::frame
