#pragma once

// Storage for the nodes one builder makes in a burst (a derivative sweep,
// the elements of a kernel's output), carved from a few large blocks instead
// of one heap allocation each. The blocks go back when the last of their
// nodes is released, on whatever thread that happens: one node kept keeps
// its block.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define VELA_POOL_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#else
#define VELA_POOL_POISON(p, n) ((void)(p), (void)(n))
#endif

namespace kelm_math::comp_trace::detail {

class NodePool {
 public:
  /// A pool held by its builder; the handle's end lets the blocks go once
  /// no node is left in them.
  class Handle {
   public:
    Handle() : Handle(kFirstBlock - kHeader) {}
    /// For a builder that knows what its nodes take (see footprint): the
    /// first block holds `bytes`.
    explicit Handle(std::size_t bytes)
        : pool_(new (checked(std::malloc(sizeof(NodePool)))) NodePool(bytes + kHeader)) {}
    Handle(Handle const&) = delete;
    Handle& operator=(Handle const&) = delete;
    ~Handle() { pool_->close_(); }
    NodePool* get() const { return pool_; }

   private:
    NodePool* pool_;
  };

  /// An allocator over a pool, for std::allocate_shared.
  template <class T>
  struct Allocator {
    using value_type = T;
    NodePool* pool;
    explicit Allocator(NodePool* p) : pool(p) {}
    template <class U>
    Allocator(Allocator<U> const& other) : pool(other.pool) {}  // NOLINT
    T* allocate(std::size_t n) { return static_cast<T*>(pool->allocate_(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) {
      // A released node stays unreadable under the address sanitizer, as
      // one from the heap would be.
      VELA_POOL_POISON(p, n * sizeof(T));
      pool->release_();
    }
    template <class U>
    bool operator==(Allocator<U> const& other) const {
      return pool == other.pool;
    }
    template <class U>
    bool operator!=(Allocator<U> const& other) const {
      return pool != other.pool;
    }
  };

  /// About the bytes a T takes in a pool, with its shared counts.
  template <class T>
  static constexpr std::size_t footprint() {
    return (sizeof(T) + 4 * sizeof(void*) + 15) & ~std::size_t(15);
  }

  /// A T made in the pool, shared-owned.
  template <class T, class... Args>
  std::shared_ptr<T> make(Args&&... args) {
    return std::allocate_shared<T>(Allocator<T>(this), std::forward<Args>(args)...);
  }

 private:
  // While the builder holds the pool, the live count starts from this bias
  // and only releases touch it; the builder settles what it allocated once,
  // at the end, so that making a node needs no atomic operation.
  static constexpr std::uint64_t kOpen = std::uint64_t(1) << 62;
  static constexpr std::size_t kFirstBlock = 4096, kLargestBlock = 65536;
  // A block's link, padded so that the nodes after it keep malloc's
  // 16-byte alignment.
  static constexpr std::size_t kHeader = 16;

  explicit NodePool(std::size_t firstBlock) : blockSize_(firstBlock) {}

  struct Block {
    Block* next;
  };

  static void* checked(void* p) {
    if (!p) throw std::bad_alloc();
    return p;
  }

  void* allocate_(std::size_t bytes) {
    bytes = (bytes + 15) & ~std::size_t(15);
    if (static_cast<std::size_t>(end_ - next_) < bytes) grow_(bytes);
    void* p = next_;
    next_ += bytes;
    ++allocated_;
    return p;
  }

  void grow_(std::size_t bytes) {
    std::size_t size = blockSize_;
    while (size - kHeader < bytes) size *= 2;
    if (blockSize_ < kLargestBlock) blockSize_ *= 2;
    auto* block = static_cast<Block*>(checked(std::malloc(size)));
    block->next = blocks_;
    blocks_ = block;
    next_ = reinterpret_cast<char*>(block) + kHeader;
    end_ = reinterpret_cast<char*>(block) + size;
  }

  void release_() {
    if (live_.fetch_sub(1, std::memory_order_acq_rel) == 1) destroy_();
  }

  void close_() {
    std::uint64_t settle = kOpen - allocated_;
    if (live_.fetch_sub(settle, std::memory_order_acq_rel) == settle) destroy_();
  }

  void destroy_() {
    for (Block* b = blocks_; b;) {
      Block* next = b->next;
      std::free(b);
      b = next;
    }
    this->~NodePool();
    std::free(this);
  }

  std::atomic<std::uint64_t> live_{kOpen};
  std::uint64_t allocated_ = 0;
  char* next_ = nullptr;
  char* end_ = nullptr;
  Block* blocks_ = nullptr;
  std::size_t blockSize_;
};

}  // namespace kelm_math::comp_trace::detail
