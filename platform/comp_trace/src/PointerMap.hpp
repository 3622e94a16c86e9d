#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelm_math::comp_trace::detail {

/// A map from node addresses to small values, open addressing with linear
/// probing: one allocation per growth instead of one per entry, which is
/// what planning a large graph spends its time on otherwise.
template <class Value>
class PointerMap {
 public:
  Value const* find(void const* key) const {
    if (slots_.empty()) return nullptr;
    for (std::size_t i = home_(key);; i = (i + 1) & mask_) {
      Slot const& s = slots_[i];
      if (s.key == key) return &s.value;
      if (!s.key) return nullptr;
    }
  }

  Value* find(void const* key) {
    return const_cast<Value*>(static_cast<PointerMap const&>(*this).find(key));
  }

  /// Inserts key (not yet present).
  void insert(void const* key, Value value) { findOrInsert(key, value); }

  /// The value stored for key; `value`, stored now, when key is new. One
  /// probe sequence for both.
  Value findOrInsert(void const* key, Value value) {
    // Up to three quarters full: linear probing stays short, and a large
    // graph's maps take half the fresh pages they would at one half.
    if ((size_ + 1) * 4 > slots_.size() * 3) grow_();
    for (std::size_t i = home_(key);; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (s.key == key) return s.value;
      if (!s.key) {
        s = {key, value};
        ++size_;
        return value;
      }
    }
  }

  std::size_t size() const { return size_; }

  /// Empties the map and frees its slots.
  void release() {
    std::vector<Slot>().swap(slots_);
    mask_ = 0;
    shift_ = 64;
    size_ = 0;
  }

  /// A hash as a key: hashes of nodes key the map as addresses do; the low
  /// bit keeps them off null.
  static void const* hashKey(std::size_t hash) {
    return reinterpret_cast<void const*>(static_cast<std::uintptr_t>(hash | 1u));
  }

 private:
  struct Slot {
    void const* key = nullptr;
    Value value{};
  };

  // Fibonacci hashing: the product's top bits, which depend on every bit
  // of the key. Middle bits clustered the keys, and probes grew long.
  std::size_t home_(void const* key) const {
    auto bits = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key));
    return static_cast<std::size_t>((bits * 0x9e3779b97f4a7c15ull) >> shift_);
  }

  void grow_() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
    mask_ = slots_.size() - 1;
    shift_ = 64;
    for (std::size_t n = slots_.size(); n > 1; n >>= 1) --shift_;
    size_ = 0;
    for (Slot const& s : old)
      if (s.key) insert(s.key, s.value);
  }

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  unsigned shift_ = 64;
  std::size_t size_ = 0;
};

}  // namespace kelm_math::comp_trace::detail
