// Large arrays on POSIX: aligned to a large page and marked for large pages where the system
// knows the hint (Linux's transparent huge pages, which Debian gives to the memory that asks).
#include <stdlib.h>
#include <sys/mman.h>

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

}  // namespace quillon::rescue
