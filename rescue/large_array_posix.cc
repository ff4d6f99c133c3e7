// Large arrays on POSIX: aligned to a large page and marked for large pages where the system
// knows the hint (Linux's transparent huge pages, which Debian gives to the memory that asks).
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include "rescue/large_array.h"

namespace quillon::rescue {
namespace {
constexpr size_t kLargePage = size_t{2} << 20;
}

void* AllocateLarge(size_t bytes) {
  // Whole large pages, so the hint covers this array and nothing else.
  const size_t rounded = (bytes + kLargePage - 1) & ~(kLargePage - 1);
  void* memory = nullptr;
  if (rounded < bytes || posix_memalign(&memory, kLargePage, rounded) != 0) return nullptr;
#ifdef MADV_HUGEPAGE
  madvise(memory, rounded, MADV_HUGEPAGE);
#endif
  return memory;
}

void FreeLarge(void* memory, size_t) { free(memory); }

void DiscardLarge(void* memory, size_t bytes) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(memory) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(memory) + bytes) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

}  // namespace quillon::rescue
