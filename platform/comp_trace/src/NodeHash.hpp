#pragma once

#include <cstddef>
#include <typeinfo>

#include "kelm_math/comp_trace/Operation.hpp"

namespace kelm_math::comp_trace::detail {

/// Combines value into a running hash.
inline std::size_t mixHash(std::size_t seed, std::size_t value) {
  return seed ^ (value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2));
}

/// Hash of a node's class and of the fields that tell the trace library's
/// own many-per-input nodes apart (element reads, constants, inputs,
/// functions); other nodes of a class share a value and are told apart by
/// compare_. Equal nodes give equal hashes.
std::size_t fieldHash(Operation const& op);

/// True when a and b are of one class: the library's own classes are told
/// apart by their kind, others by their type.
inline bool sameClass(Operation const& a, Operation const& b) {
  if (a.ownKind() != b.ownKind()) return false;
  return a.ownKind() != OwnKind::Other || typeid(a) == typeid(b);
}

}  // namespace kelm_math::comp_trace::detail
