#pragma once

#include <string>

namespace vela::test {

/// Makes the glibc locale `name` (such as "de_DE.UTF-8") available to this
/// process, compiling it with localedef into the test work folder on first
/// use and pointing LOCPATH there. Returns an empty string on success, else
/// why it is unavailable (for a skip message).
std::string provideLocale(std::string const& name);

}  // namespace vela::test
