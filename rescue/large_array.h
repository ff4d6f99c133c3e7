// Memory for the rescue's few large arrays (one entry per block of the file: tens of MiB for a
// large mailbox). Where the system offers it, such memory is asked for in large pages: touching
// 32 MiB page by page cost a quarter of a second on the machines measured, in large pages a
// twentieth. The platform part lives in large_array_posix.cc / large_array_win32.cc.
#ifndef QUILLON_RESCUE_LARGE_ARRAY_H_
#define QUILLON_RESCUE_LARGE_ARRAY_H_

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace quillon::rescue {

// At least `bytes` bytes, or null. Large pages are a hint; the memory is the same either way.
void* AllocateLarge(size_t bytes);
void FreeLarge(void* memory, size_t bytes);
// The whole pages within [memory, memory + bytes) of a large array hold nothing wanted: the
// system may take them back (they read as anything when touched again).
void DiscardLarge(void* memory, size_t bytes);

// An allocator for std::vector that takes arrays of kLargeBytes or more from AllocateLarge.
inline constexpr size_t kLargeBytes = size_t{4} << 20;
template <typename T>
struct LargeAllocator {
  using value_type = T;
  LargeAllocator() = default;
  template <typename U>
  LargeAllocator(const LargeAllocator<U>&) {}  // NOLINT: converting, as allocators are
  T* allocate(size_t n) {
    const size_t bytes = n * sizeof(T);
    void* p = bytes >= kLargeBytes ? AllocateLarge(bytes) : ::operator new(bytes);
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t n) {
    const size_t bytes = n * sizeof(T);
    if (bytes >= kLargeBytes) {
      FreeLarge(p, bytes);
    } else {
      ::operator delete(p);
    }
  }
  // An element made without a value is left as it is, not zeroed: an array sized up front to be
  // written over (the scan's two halves) touches no page it does not fill.
  template <typename U>
  void construct(U* p) {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <typename U>
  bool operator==(const LargeAllocator<U>&) const {
    return true;
  }
  template <typename U>
  bool operator!=(const LargeAllocator<U>&) const {
    return false;
  }
};

template <typename T>
using LargeVector = std::vector<T, LargeAllocator<T>>;

}  // namespace quillon::rescue

#endif  // QUILLON_RESCUE_LARGE_ARRAY_H_
