// Large arrays on Windows: ordinary pages (large pages there need a privilege users lack), taken
// from the system directly so that unwanted ones can be given back.
#include <windows.h>

#include <cstdint>

#include "rescue/large_array.h"

namespace quillon::rescue {

void* AllocateLarge(size_t bytes) {
  return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreeLarge(void* memory, size_t) { VirtualFree(memory, 0, MEM_RELEASE); }

void DiscardLarge(void* memory, size_t bytes) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const uintptr_t page = info.dwPageSize;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(memory) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(memory) + bytes) & ~(page - 1);
  // MEM_RESET: the pages' contents are no longer wanted; they stay the array's.
  if (end > begin) {
    VirtualAlloc(reinterpret_cast<void*>(begin), end - begin, MEM_RESET, PAGE_READWRITE);
  }
}

}  // namespace quillon::rescue
