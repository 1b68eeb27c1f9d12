// Large arrays on huge pages, where the system offers them.
//
// A sweep's levels are arrays of megabytes to gigabytes, each page of which
// is touched first when a state lands on it. Every first touch of a small
// page is a fault: on the virtual machines we measure on, 13 to 15 us each.
// The states' own arrays of 2 MiB or more (the tables' arenas, which fill
// from the front) are therefore aligned to 2 MiB and marked for transparent
// huge pages (madvise), which the kernel then fills a huge page at a time,
// and which also spare the TLB. Where the kernel has no huge page at hand it
// falls back to small pages: the same as without the mark. Arrays written
// in full up to their size (the arenas, the double masses of a level and
// the threaded sweep's number -> place map) take huge pages too. Arrays
// reserved far ahead of their use or written at random (the slots) stay on
// small pages: the kernel may fill a marked huge page around a single
// touched page, which there would add a fifth to a sweep's peak memory
// beyond what its bound counts. Smaller arrays, and systems without the
// call, take the plain allocator.
//
// The search's tables map their pages afresh (graph/large_pages.hpp); here
// the blocks come from the heap, aligned, because a solve makes and drops
// many tables (the pilots', the screens', the sweep's), and a block the heap
// hands out again has its pages already: eon19 at D = 7 took 11.8k faults
// with fresh mappings, 7.6k with these.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace frontier {

namespace detail {
constexpr std::size_t kHugePage = std::size_t{2} << 20;

inline void* allocateLarge(std::size_t bytes) {
  if (bytes < kHugePage) return ::operator new(bytes);
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = ::operator new (rounded, std::align_val_t{kHugePage});
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  madvise(p, rounded, MADV_HUGEPAGE);  // a hint: refused, the pages stay small
#endif
  return p;
}

inline void freeLarge(void* p, std::size_t bytes) noexcept {
  if (bytes < kHugePage)
    ::operator delete(p);
  else
    ::operator delete (p, std::align_val_t{kHugePage});
}
}  // namespace detail

// std::allocator, but for arrays of 2 MiB or more, huge pages.
template <class T>
struct LargeAllocator {
  using value_type = T;
  LargeAllocator() = default;
  template <class U>
  LargeAllocator(const LargeAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(detail::allocateLarge(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { detail::freeLarge(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const LargeAllocator<U>&) const noexcept {
    return true;
  }
};

// LargeAllocator, but a vector's resize leaves the new values unset: for
// arrays that are sized first and then written in full by several threads,
// so that no one thread zeroes, and faults in, every page beforehand.
template <class T>
struct UnsetLargeAllocator : LargeAllocator<T> {
  template <class U>
  struct rebind {
    using other = UnsetLargeAllocator<U>;
  };
  UnsetLargeAllocator() = default;
  template <class U>
  UnsetLargeAllocator(const UnsetLargeAllocator<U>&) noexcept {}
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    if constexpr (sizeof...(Args) == 0)
      ::new (static_cast<void*>(p)) U;
    else
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

}  // namespace frontier
