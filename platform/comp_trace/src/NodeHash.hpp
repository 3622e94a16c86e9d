#pragma once

#include <cstddef>
#include <cstdint>
#include <typeinfo>

#include "kelm_math/comp_trace/Operation.hpp"

namespace kelm_math::comp_trace::detail {

/// Combines value into a running hash with one multiplication (as FxHash
/// does): nodes differ mostly in small integers (register or node numbers),
/// which an add-and-shift combination mapped onto few distinct high bits,
/// and merging tables index by those.
inline std::size_t mixHash(std::size_t seed, std::size_t value) {
  std::uint64_t const rotated = (seed << 5) | (static_cast<std::uint64_t>(seed) >> 59);
  return static_cast<std::size_t>((rotated ^ value) * 0x517cc1b727220a95ull);
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
