#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace kelm_math::comp_trace::detail {

/// An array of trivially copyable entries kept in one realloc'ed block: the
/// walks' stacks, as deep as the graph, and a plan's steps. A vector copies
/// its entries at each doubling and again to shrink, into pages the process
/// has never touched; realloc mostly grows a block in place (a large one by
/// remapping its pages) and shrinks it in place. Copying a walk's stack was a
/// sixth of planning a long chain, and the steps' copies were most of the
/// pages a fresh process faults in to build a tape.
template <class T>
class PodArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  PodArray() = default;
  PodArray(PodArray const&) = delete;
  PodArray& operator=(PodArray const&) = delete;
  ~PodArray() { std::free(data_); }

  void swap(PodArray& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
  }

  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  T* data() { return data_; }
  T const* data() const { return data_; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  T const* begin() const { return data_; }
  T const* end() const { return data_ + size_; }
  T& back() { return data_[size_ - 1]; }
  T& operator[](std::size_t i) { return data_[i]; }
  T const& operator[](std::size_t i) const { return data_[i]; }

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
  /// Appends the entries of [first, last), which must lie outside this array.
  void append(T const* first, T const* last) {
    auto const n = static_cast<std::size_t>(last - first);
    if (n == 0) return;
    while (capacity_ - size_ < n) grow_();
    std::memcpy(static_cast<void*>(data_ + size_), first, n * sizeof(T));
    size_ += n;
  }
  void pop() { --size_; }
  /// Drops the entries from n on (n at most size()).
  void truncate(std::size_t n) { size_ = n; }
  void clear() { size_ = 0; }
  /// Gives back the unused end of the block, in place.
  void shrinkToFit() {
    if (size_ == capacity_) return;
    if (size_ == 0) return release();
    if (void* kept = std::realloc(static_cast<void*>(data_), size_ * sizeof(T))) {
      data_ = static_cast<T*>(kept);
      capacity_ = size_;
    }
  }
  /// Empties the array and frees its block.
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
