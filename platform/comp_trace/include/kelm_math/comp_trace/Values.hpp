#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// The scalar types of a trace and the values that evaluation produces.

#include <cstddef>
#include <vector>

namespace kelm_math::comp_trace {

/// Type of a traced scalar; the numeric values are part of the interface.
enum class ScalarType : int { Bool = 0, Int = 1, Double = 2 };

/// One evaluated scalar. Accessors check the type: doubleValue() needs a
/// double, intValue() an int or a bool (0 or 1), boolValue() a bool; a
/// mismatch throws std::logic_error.
class ScalarValue {
 public:
  /// The double 0.0.
  ScalarValue() = default;
  /// A value of the argument's type; a bool is held as 0 or 1.
  ///@{
  ScalarValue(double value) : type_(ScalarType::Double), double_(value) {}
  ScalarValue(int value) : type_(ScalarType::Int), int_(value) {}
  ScalarValue(bool value) : type_(ScalarType::Bool), int_(value ? 1 : 0) {}
  ///@}

  /// The type the value was made with.
  ScalarType type() const { return type_; }
  /// The value as a double, an int or a bool; std::logic_error when the
  /// type does not allow it (see the class).
  ///@{
  double doubleValue() const;
  int intValue() const;
  bool boolValue() const;
  ///@}

 private:
  ScalarType type_ = ScalarType::Double;
  union {
    double double_ = 0.0;
    int int_;
  };
};

/// The evaluated elements of one output of a node. Bools are held as int 0/1.
class VectorValue {
 public:
  /// An empty double output.
  VectorValue() = default;
  /// An output of the elements' type holding them (bools as 0 or 1); the
  /// last form copies the n doubles at values.
  ///@{
  VectorValue(std::vector<double> values);
  VectorValue(std::vector<int> values);
  VectorValue(std::vector<bool> const& values);
  VectorValue(std::size_t n, double const* values);
  ///@}

  /// Type of the elements.
  ScalarType type() const { return type_; }
  /// Number of elements held.
  std::size_t size() const;
  /// The elements of a double output; std::logic_error for another type.
  std::vector<double> const& doubleValues() const;
  /// The elements of an int or bool output; std::logic_error for doubles.
  std::vector<int> const& intValues() const;
  /// Element i; past the end (a dynamic size below its maximum) it is zero.
  ScalarValue element(std::size_t i) const;

 private:
  ScalarType type_ = ScalarType::Double;
  std::vector<double> doubles_;
  std::vector<int> ints_;
};

}  // namespace kelm_math::comp_trace

#pragma GCC visibility pop
