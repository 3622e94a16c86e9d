#include "support/HeapCounter.hpp"

#include <atomic>
#include <cstddef>
#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's allocator interface (its header is not always
// installed).
extern "C" {
std::size_t __sanitizer_get_current_allocated_bytes(void);
int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, std::size_t),
                                              void (*)(const volatile void*));
}
#define VELA_TEST_HEAP_HOOKS 1
#else
#include <malloc.h>
#endif

namespace vela::test {

#if defined(VELA_TEST_HEAP_HOOKS)
namespace {
std::atomic<std::size_t>& allocations() {
  static std::atomic<std::size_t> count{0};
  return count;
}
void onMalloc(const volatile void*, std::size_t) {
  allocations().fetch_add(1, std::memory_order_relaxed);
}
void onFree(const volatile void*) {}
}  // namespace

std::size_t heapInUse() { return __sanitizer_get_current_allocated_bytes(); }
bool heapCounted() { return true; }
std::size_t allocationCount() {
  static std::once_flag installed;
  std::call_once(installed, [] { __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree); });
  return allocations().load();
}
bool allocationsCounted() { return true; }
#else
std::size_t heapInUse() { return mallinfo2().uordblks; }
bool heapCounted() { return true; }
std::size_t allocationCount() { return 0; }
bool allocationsCounted() { return false; }
#endif

}  // namespace vela::test
