#pragma once

#include <cstddef>

namespace vela::test {

/// Bytes of heap in use now, as the allocator counts them (the requested
/// sizes under AddressSanitizer, malloc's own count otherwise).
std::size_t heapInUse();
/// True when heapInUse() counts every allocation of this process.
bool heapCounted();

/// Allocations made so far by this process, where the allocator lets us
/// count them (under AddressSanitizer); allocationsCounted() says whether.
std::size_t allocationCount();
bool allocationsCounted();

}  // namespace vela::test
