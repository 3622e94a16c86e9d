#include "frame/Args.hpp"

#include <stdexcept>

namespace vela::math::frame {

double const* Args::doubles(std::size_t i) const {
  Array const& a = arrays_.at(i);
  if (a.type != ct::ScalarType::Double)
    throw std::logic_error("frame: array input is not of doubles");
  return static_cast<double const*>(a.data);
}

int const* Args::ints(std::size_t i) const {
  Array const& a = arrays_.at(i);
  if (a.type == ct::ScalarType::Double) throw std::logic_error("frame: array input is not of ints");
  return static_cast<int const*>(a.data);
}

double* Args::output(int count) {
  resultTypes_.push_back(ct::ScalarType::Double);
  doubleResults_.emplace_back(count > 0 ? static_cast<std::size_t>(count) : 0u, 0.0);
  intResults_.emplace_back();
  return doubleResults_.back().data();
}

int* Args::intOutput(int count) {
  resultTypes_.push_back(ct::ScalarType::Int);
  doubleResults_.emplace_back();
  intResults_.emplace_back(count > 0 ? static_cast<std::size_t>(count) : 0u, 0);
  return intResults_.back().data();
}

int* Args::boolOutput(int count) {
  int* values = intOutput(count);
  resultTypes_.back() = ct::ScalarType::Bool;
  return values;
}

double* Args::outputCopy(std::size_t i) {
  double const* source = doubles(i);
  double* copy = output(static_cast<int>(arrays_[i].count));
  std::copy(source, source + arrays_[i].count, copy);
  return copy;
}

void Args::reserve_(std::size_t i) {
  if (scalars_.size() <= i) scalars_.resize(i + 1);
  if (arrays_.size() <= i) arrays_.resize(i + 1);
}

void Args::setScalar(std::size_t i, ct::ScalarValue value) {
  reserve_(i);
  scalars_[i] = value;
}

void Args::setArray(std::size_t i, std::vector<double> const& buffer) {
  reserve_(i);
  arrays_[i] = {ct::ScalarType::Double, buffer.data(), buffer.size()};
}

void Args::setArray(std::size_t i, std::vector<int> const& buffer) {
  reserve_(i);
  arrays_[i] = {ct::ScalarType::Int, buffer.data(), buffer.size()};
}

Args Args::fromInputs(ct::EvaluateVisitor const& visitor, ct::Operation const& node) {
  Args args;
  args.reserve_(node.inputCount() ? node.inputCount() - 1 : 0);
  for (std::size_t i = 0; i < node.inputCount(); ++i) {
    ct::Operation const& in = *node.input(i);
    if (in.isScalar()) {
      args.scalars_[i] = visitor.scalarValue(in);
      continue;
    }
    ct::VectorValue const& v = visitor.vectorValues(in).at(0);
    if (v.type() == ct::ScalarType::Double)
      args.arrays_[i] = {v.type(), v.doubleValues().data(), v.size()};
    else
      args.arrays_[i] = {ct::ScalarType::Int, v.intValues().data(), v.size()};
  }
  return args;
}

std::vector<ct::VectorValue> Args::takeResults() {
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
