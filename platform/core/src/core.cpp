#include <charconv>
#include <system_error>

#include "vela/Exception.hpp"
#include "vela/NumberText.hpp"
#include "vela/stdStringify.hpp"

namespace vela {

const char* Exception::what() const noexcept { return "vela Exception"; }

namespace {
template <class T>
std::string charsOf(T value) {
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}
}  // namespace

std::string decimalText(long long value) { return charsOf(value); }
std::string decimalText(unsigned long long value) { return charsOf(value); }

std::string roundTripText(double x) {
  char buffer[40];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::general, 17);
  return std::string(buffer, result.ptr);
}

std::string stdStringify(unsigned long long value) { return decimalText(value); }

}  // namespace vela
