#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

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
  ScalarValue() = default;
  ScalarValue(double value) : type_(ScalarType::Double), double_(value) {}
  ScalarValue(int value) : type_(ScalarType::Int), int_(value) {}
  ScalarValue(bool value) : type_(ScalarType::Bool), int_(value ? 1 : 0) {}

  ScalarType type() const { return type_; }
  double doubleValue() const;
  int intValue() const;
  bool boolValue() const;

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
  VectorValue() = default;
  VectorValue(std::vector<double> values);
  VectorValue(std::vector<int> values);
  VectorValue(std::vector<bool> const& values);
  VectorValue(std::size_t n, double const* values);

  ScalarType type() const { return type_; }
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
