// Large arrays on Windows: ordinary memory (large pages there need a privilege users lack).
#include <new>

#include "rescue/large_array.h"

namespace quillon::rescue {

void* AllocateLarge(size_t bytes) { return ::operator new(bytes, std::nothrow); }

void FreeLarge(void* memory, size_t) { ::operator delete(memory); }

}  // namespace quillon::rescue
