// Report builder: TextIndex, the lookup of a table entry by its key text.
//
// May use: the standard library only (no Qt).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace kordel::report {

// A hash of a short text, cheap for the keys of the report tables (a few bytes each).
inline std::uint64_t hashText(std::string_view text) {
  std::uint64_t h = 0x9E3779B97F4A7C15ull ^ text.size();
  const char* p = text.data();
  std::size_t n = text.size();
  while (n > 0) {
    std::uint64_t word = 0;
    const std::size_t take = n < 8 ? n : 8;
    std::memcpy(&word, p, take);
    h = (h ^ word) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
    p += take;
    n -= take;
  }
  return h ^ (h >> 29);
}

// Maps key texts to entries. The keys are views: their text must live as long as the index
// (the entries' own key members). Open addressing, so a lookup costs one hash and, mostly,
// one comparison.
template <typename T>
class TextIndex {
 public:
  void clear() {
    slots_.clear();
    used_ = 0;
  }

  T* find(std::string_view key) const {
    if (slots_.empty()) return nullptr;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hashText(key) & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.value == nullptr) return nullptr;
      if (slot.key == key) return slot.value;
    }
  }

  // REQUIRES: `key` is not in the index yet and `value` is not null.
  void insert(std::string_view key, T* value) {
    if ((used_ + 1) * 2 > slots_.size()) grow();
    place(key, value);
    ++used_;
  }

  std::size_t size() const { return used_; }

 private:
  struct Slot {
    std::string_view key;
    T* value = nullptr;
  };

  void place(std::string_view key, T* value) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hashText(key) & mask;
    while (slots_[i].value != nullptr) i = (i + 1) & mask;
    slots_[i] = Slot{key, value};
  }

  void grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
    for (const Slot& slot : old) {
      if (slot.value != nullptr) place(slot.key, slot.value);
    }
  }

  std::vector<Slot> slots_;  // a power of two in size, at most half full
  std::size_t used_ = 0;
};

}  // namespace kordel::report
