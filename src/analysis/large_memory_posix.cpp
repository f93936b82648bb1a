// Large blocks on POSIX systems: anonymous mappings aligned to 2 MiB and, on Linux, marked for
// transparent huge pages.
#include <sys/mman.h>

#include <cstdint>

#include "analysis/large_memory.h"

namespace kordel::analysis {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}

void* allocateLarge(std::size_t bytes) {
  // Map more than asked and cut the mapping to a 2 MiB boundary, so that every huge page of
  // the block can be a huge page.
  const std::size_t mapped = bytes + kHugePage;
  void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1);
  const std::size_t head = aligned - start;
  const std::size_t tail = mapped - head - bytes;
  if (head > 0) munmap(raw, head);
  if (tail > 0) munmap(reinterpret_cast<void*>(aligned + bytes), tail);
  void* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  madvise(block, bytes, MADV_HUGEPAGE);  // advice only: without huge pages the block still works
#endif
  return block;
}

void releaseLarge(void* block, std::size_t bytes) { munmap(block, bytes); }

}  // namespace kordel::analysis
