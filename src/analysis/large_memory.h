// Call analysis: memory for the large tables of the analysis (the calls, the duplicate test,
// the text pools), asked for in large pages where the system offers them.
//
// Tables of tens or hundreds of megabytes that are read at random cost a page-table walk for
// almost every access when they are mapped in small pages; large pages keep those walks off.
// One file per platform supplies allocateLarge and releaseLarge (large_memory_posix.cpp,
// large_memory_win32.cpp).
#pragma once

#include <cstddef>
#include <new>

namespace kordel::analysis {

// Blocks of at least this many bytes go to allocateLarge; smaller ones to operator new.
inline constexpr std::size_t kLargeBlock = std::size_t{2} << 20;

// Zero-filled memory of `bytes` (at least kLargeBlock), or nullptr.
void* allocateLarge(std::size_t bytes);
void releaseLarge(void* block, std::size_t bytes);

// An allocator for std::vector that takes large blocks through allocateLarge.
template <typename T>
struct LargeAllocator {
  using value_type = T;
  LargeAllocator() = default;
  template <typename U>
  LargeAllocator(const LargeAllocator<U>&) {}  // NOLINT: converting, as allocators do

  T* allocate(std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes >= kLargeBlock) {
      if (void* block = allocateLarge(bytes)) return static_cast<T*>(block);
      throw std::bad_alloc();
    }
    return static_cast<T*>(::operator new(bytes));
  }
  void deallocate(T* p, std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes >= kLargeBlock) {
      releaseLarge(p, bytes);
    } else {
      ::operator delete(p);
    }
  }
  template <typename U>
  bool operator==(const LargeAllocator<U>&) const {
    return true;
  }
};

}  // namespace kordel::analysis
