#pragma once
// Declarations here are the shared libraries' API; all else is hidden.
#pragma GCC visibility push(default)

/// \file
/// vela::Exception, the base class of every exception of the library.

#include <exception>

namespace vela {

/// Base class of every exception the library throws. Derived classes carry no
/// data of their own and override what() with a fixed text.
class Exception : public std::exception {
 public:
  Exception() = default;
  ~Exception() override = default;
  /// A fixed text naming the exception's class.
  const char* what() const noexcept override;
};

}  // namespace vela

#pragma GCC visibility pop
