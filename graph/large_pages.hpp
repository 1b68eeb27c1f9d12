// Big tables on 2 MiB pages.
//
// On the virtual machines we measure on, the first touch of a 4 KiB page
// costs about 10 us (a table of 32 MB: 80 ms), that of a 2 MiB page 0.1 to
// 1 ms (the zero-filling of the page): a twentieth to a fortieth per byte.
// The kernel maps a 2 MiB page only where the mapping covers the whole aligned
// 2 MiB range and is advised so (transparent huge pages in "madvise" mode):
// a block mapped at an unaligned address keeps its first and last ranges on
// 4 KiB pages, up to a thousand faults. Blocks of at least kMapFrom bytes
// are therefore mapped 2 MiB-aligned, their length rounded up to 2 MiB, and
// advised; smaller ones come from the heap.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <new>

namespace largePages {

inline constexpr std::size_t kHuge = std::size_t{2} << 20;
inline constexpr std::size_t kMapFrom = std::size_t{1} << 20;

inline std::size_t mappedLength(std::size_t bytes) {
  return (bytes + kHuge - 1) & ~(kHuge - 1);
}

// A zero-filled, 2 MiB-aligned mapping of mappedLength(bytes) bytes, or
// null when the system refuses it.
inline void* map(std::size_t bytes) {
#if defined(__linux__)
  const std::size_t length = mappedLength(bytes);
  if (length < bytes || length + kHuge < length) return nullptr;
  void* raw =
      mmap(nullptr, length + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (at + kHuge - 1) & ~(std::uintptr_t{kHuge} - 1);
  if (aligned != at) munmap(raw, aligned - at);
  const std::uintptr_t end = at + length + kHuge;
  if (end != aligned + length)
    munmap(reinterpret_cast<void*>(aligned + length), end - aligned - length);
#ifdef MADV_HUGEPAGE
  madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<void*>(aligned);
#else
  (void)bytes;
  return nullptr;
#endif
}

inline void unmap(void* block, std::size_t bytes) {
#if defined(__linux__)
  munmap(block, mappedLength(bytes));
#else
  (void)block;
  (void)bytes;
#endif
}

// Makes room for `count` elements in an empty standard vector whose
// allocator is not ours and advises the room onto 2 MiB pages before
// anything touches it. The block's ends, where they do not cover a whole
// aligned 2 MiB range, stay on 4 KiB pages.
template <class Vector>
void reserveAdvised(Vector& v, std::size_t count) {
  v.reserve(count);
  const std::size_t bytes = v.capacity() * sizeof(typename Vector::value_type);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (bytes < kMapFrom) return;
  constexpr std::uintptr_t kPage = 4096;
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(v.data());
  const std::uintptr_t lo = (at + kPage - 1) & ~(kPage - 1);
  const std::uintptr_t hi = (at + bytes) & ~(kPage - 1);
  if (lo < hi) madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_HUGEPAGE);
#else
  (void)bytes;
#endif
}

// A standard allocator that puts blocks of kMapFrom bytes or more on
// aligned, advised mappings (zero-filled by the system, like any fresh
// memory) and the rest on the heap.
template <class T>
struct allocator {
  static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
  using value_type = T;
  allocator() = default;
  template <class U>
  allocator(const allocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = n * sizeof(T);
#if defined(__linux__)
    if (bytes >= kMapFrom) {
      void* block = map(bytes);
      if (block == nullptr) throw std::bad_alloc();
      return static_cast<T*>(block);
    }
#endif
    return static_cast<T*>(::operator new(bytes));
  }
  void deallocate(T* p, std::size_t n) noexcept {
    const std::size_t bytes = n * sizeof(T);
#if defined(__linux__)
    if (bytes >= kMapFrom) {
      unmap(p, bytes);
      return;
    }
#endif
    ::operator delete(p);
  }
  template <class U>
  bool operator==(const allocator<U>&) const noexcept {
    return true;
  }
};

// A fixed block of `count` values left unset, from the allocator above (on
// 2 MiB pages when big): for tables written as they are used, whose pages
// a run reaches only in part.
template <class T>
class block {
 public:
  explicit block(std::size_t count) : count_(count), at_(allocator<T>().allocate(count)) {}
  ~block() { allocator<T>().deallocate(at_, count_); }
  block(const block&) = delete;
  block& operator=(const block&) = delete;
  T* get() const { return at_; }

 private:
  std::size_t count_;
  T* at_;
};

}  // namespace largePages
