#include "vela/Matrix"

#include <algorithm>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

namespace vela {
namespace {

// rows * cols, or bad_alloc when it cannot be stored: a vector would throw
// length_error instead, and the product may wrap around.
template <class Element>
std::size_t elementCount(std::size_t rows, std::size_t cols) {
  std::size_t limit = std::vector<Element>().max_size();
  if (cols != 0 && rows > limit / cols) throw std::bad_alloc();
  return rows * cols;
}

bool sameElement(double a, double b) { return a == b; }
bool sameElement(math::TracedValue<double> const& a, math::TracedValue<double> const& b) {
  return a.isOperationallyEqual(b);
}

}  // namespace

math::InvalidIndexError::~InvalidIndexError() = default;

template <class T>
Matrix<T>::Matrix() : dims_{0, 0} {}

template <class T>
Matrix<T>::Matrix(std::size_t rows, std::size_t cols)
    : dims_{rows, cols}, data_(elementCount<Element>(rows, cols), Element()) {}

template <class T>
Matrix<T>::Matrix(std::size_t rows, std::size_t cols, Element const* values) : Matrix(rows, cols) {
  this->values(values);
}

template <class T>
std::size_t Matrix<T>::index_(std::size_t i, std::size_t j) const {
  if (i >= dims_[0] || j >= dims_[1]) throw InvalidIndex();
  return dims_[0] * j + i;
}

template <class T>
typename Matrix<T>::Element Matrix<T>::element(std::size_t i, std::size_t j) const {
  return data_[index_(i, j)];
}

template <class T>
void Matrix<T>::element(std::size_t i, std::size_t j, Element value) {
  data_[index_(i, j)] = std::move(value);
}

template <class T>
typename Matrix<T>::Element const* Matrix<T>::values() const {
  return data_.empty() ? nullptr : data_.data();
}

template <class T>
void Matrix<T>::values(Element const* p) {
  std::copy(p, p + data_.size(), data_.begin());
}

template <class T>
Matrix<T> Matrix<T>::transpose() const {
  Matrix result(dims_[1], dims_[0]);
  for (std::size_t j = 0; j < dims_[1]; ++j)
    for (std::size_t i = 0; i < dims_[0]; ++i)
      result.data_[dims_[1] * i + j] = data_[dims_[0] * j + i];
  return result;
}

template <class T>
math::Boolean<T> Matrix<T>::operator==(Matrix const& other) const {
  if (dims_ != other.dims_) return math::Boolean<T>(false);
  if constexpr (std::is_same_v<T, math::Traced>) {
    math::TracedValue<bool> equal(true);
    for (std::size_t k = 0; k < data_.size(); ++k) equal &= data_[k] == other.data_[k];
    return equal;
  } else {
    for (std::size_t k = 0; k < data_.size(); ++k)
      if (!(data_[k] == other.data_[k])) return false;
    return true;
  }
}

template <class T>
math::Boolean<T> Matrix<T>::operator!=(Matrix const& other) const {
  return !(*this == other);
}

template <class T>
bool Matrix<T>::isOperationallyEqual(Matrix const& other) const {
  if (dims_ != other.dims_ || data_.size() != other.data_.size()) return false;
  for (std::size_t k = 0; k < data_.size(); ++k)
    if (!sameElement(data_[k], other.data_[k])) return false;
  return true;
}

template class Matrix<math::Numeric>;
template class Matrix<math::Traced>;

}  // namespace vela
