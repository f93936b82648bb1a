// Report builder: TStrList_rep, the ordered list of owned entries behind the report tables.
//
// May use: the standard library only (no Qt).
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace kordel::report {

// An ordered list of owned entries: count, add at the end, get by index, exchange, clear,
// capacity and a sort by a comparison function. Clearing or destroying the list releases the
// entries. Indexes must be below count().
template <typename T>
class TStrList_rep {
 public:
  std::size_t count() const { return items_.size(); }
  bool empty() const { return items_.empty(); }

  // Takes ownership; returns the new entry.
  T& add(std::unique_ptr<T> item) {
    items_.push_back(std::move(item));
    return *items_.back();
  }

  T& get(std::size_t index) { return *items_[index]; }
  const T& get(std::size_t index) const { return *items_[index]; }

  void exchange(std::size_t a, std::size_t b) { std::swap(items_[a], items_[b]); }
  void clear() { items_.clear(); }
  void setCapacity(std::size_t capacity) { items_.reserve(capacity); }
  std::size_t capacity() const { return items_.capacity(); }

  // Orders the entries by `compare(a, b)` (< 0: a before b). Entries that compare equal keep
  // their relative order.
  template <typename Compare>
  void sort(Compare compare) {
    std::stable_sort(items_.begin(), items_.end(),
                     [&](const std::unique_ptr<T>& a, const std::unique_ptr<T>& b) {
                       return compare(*a, *b) < 0;
                     });
  }

  // Reorders the entries so that position i receives the entry that stood at order[i].
  // `order` must be a permutation of 0..count()-1.
  void permute(const std::vector<std::size_t>& order) {
    std::vector<std::unique_ptr<T>> next;
    next.reserve(items_.size());
    for (std::size_t from : order) next.push_back(std::move(items_[from]));
    items_ = std::move(next);
  }

  void swap(TStrList_rep& other) noexcept { items_.swap(other.items_); }

 private:
  std::vector<std::unique_ptr<T>> items_;
};

// The list for many entries that are never reordered (the calls of a data file): the entries
// are kept by value in blocks of kBlockSize, so a million calls cost no million heap blocks,
// adding never moves an entry, and separate threads can fill separate blocks.
template <typename T>
class TValueList_rep {
 public:
  static constexpr std::size_t kBlockBits = 16;
  static constexpr std::size_t kBlockSize = std::size_t{1} << kBlockBits;

  std::size_t count() const { return count_; }
  bool empty() const { return count_ == 0; }

  T& add(T&& item) {
    if (blocks_.empty() || blocks_.back().size() == kBlockSize) {
      blocks_.emplace_back();
      blocks_.back().reserve(kBlockSize);
    }
    blocks_.back().push_back(std::move(item));
    ++count_;
    return blocks_.back().back();
  }

  // Appends a block made elsewhere. REQUIRES: every block before it is full, and it holds at
  // most kBlockSize entries.
  void appendBlock(std::vector<T>&& block) {
    count_ += block.size();
    blocks_.push_back(std::move(block));
  }

  T& get(std::size_t index) { return blocks_[index >> kBlockBits][index & (kBlockSize - 1)]; }
  const T& get(std::size_t index) const {
    return blocks_[index >> kBlockBits][index & (kBlockSize - 1)];
  }

  void clear() {
    blocks_.clear();
    count_ = 0;
  }
  // Room for the block table; the blocks themselves are made as entries arrive.
  void setCapacity(std::size_t capacity) {
    blocks_.reserve((capacity + kBlockSize - 1) / kBlockSize);
  }

  void swap(TValueList_rep& other) noexcept {
    blocks_.swap(other.blocks_);
    std::swap(count_, other.count_);
  }

 private:
  std::vector<std::vector<T>> blocks_;
  std::size_t count_ = 0;
};

}  // namespace kordel::report
