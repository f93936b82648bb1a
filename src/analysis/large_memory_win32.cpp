// Large blocks on Windows: committed virtual memory (large pages need a privilege that an
// ordinary user lacks, so the system's normal pages are used).
#include <windows.h>

#include "analysis/large_memory.h"

namespace kordel::analysis {

void* allocateLarge(std::size_t bytes) {
  return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void releaseLarge(void* block, std::size_t) { VirtualFree(block, 0, MEM_RELEASE); }

}  // namespace kordel::analysis
