#include "vela/Exception.hpp"
#include "vela/stdStringify.hpp"

namespace vela {

const char* Exception::what() const noexcept { return "vela Exception"; }

std::string stdStringify(unsigned long long value) { return std::to_string(value); }

}  // namespace vela
