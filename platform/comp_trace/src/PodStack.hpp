#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>

namespace kelm_math::comp_trace::detail {

/// A stack of trivially copyable entries kept in one realloc'ed block. The
/// walks over a graph hold a stack as deep as the graph: a vector copies it
/// at each doubling, and copying a stack larger than the cache was a sixth
/// of planning a long chain; realloc mostly grows the block in place.
template <class T>
class PodStack {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  PodStack() = default;
  PodStack(PodStack const&) = delete;
  PodStack& operator=(PodStack const&) = delete;
  ~PodStack() { std::free(data_); }

  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  T* data() { return data_; }
  T& back() { return data_[size_ - 1]; }
  T& operator[](std::size_t i) { return data_[i]; }

  T& push(T const& value) {
    T copy = value;  // value may be an entry that growing moves
    if (size_ == capacity_) grow_();
    data_[size_] = copy;
    return data_[size_++];
  }
  /// A new entry at the top, its fields left for the caller to write.
  T& append() {
    if (size_ == capacity_) grow_();
    return data_[size_++];
  }
  void pop() { --size_; }
  /// Drops the entries from n on (n at most size()).
  void truncate(std::size_t n) { size_ = n; }
  /// Empties the stack and frees its block.
  void release() {
    std::free(data_);
    data_ = nullptr;
    size_ = capacity_ = 0;
  }

 private:
  [[gnu::noinline]] void grow_() {
    std::size_t capacity = capacity_ ? 2 * capacity_ : 256;
    void* grown = std::realloc(static_cast<void*>(data_), capacity * sizeof(T));
    if (!grown) throw std::bad_alloc();
    data_ = static_cast<T*>(grown);
    capacity_ = capacity;
  }

  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace kelm_math::comp_trace::detail
