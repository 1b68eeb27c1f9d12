// A growable array of trivially copyable values for the engine's largest
// tables. A big block is mapped from the system on 2 MiB pages
// (graph/large_pages.hpp) and grows by remapping its pages instead of
// copying them (the path store is written once, in order,
// and can run to gigabytes; through realloc, the library's copies of blocks
// below its own mapping threshold took a sixth of the time of a problem
// with 2.6 million paths). A table that is about to be written in full can
// be sized without being zeroed first.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "graph/large_pages.hpp"

template <class T>
class growBuffer {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  growBuffer() = default;
  growBuffer(const growBuffer& other) { *this = other; }
  growBuffer(growBuffer&& other) noexcept { swap(other); }
  growBuffer& operator=(const growBuffer& other) {
    if (this != &other) {
      size_ = 0;
      reserve(other.size_);
      if (other.size_ != 0) std::memcpy(data_, other.data_, other.size_ * sizeof(T));
      size_ = other.size_;
    }
    return *this;
  }
  growBuffer& operator=(growBuffer&& other) noexcept {
    swap(other);
    return *this;
  }
  ~growBuffer() { release(); }

  std::size_t size() const { return size_; }
  const T* data() const { return data_; }
  T* data() { return data_; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  T& operator[](std::size_t i) { return data_[i]; }

  // Sets the size to `count`; values beyond the old size are left unset for
  // the caller to write.
  void resizeForOverwrite(std::size_t count) {
    reserve(count);
    size_ = count;
  }

  void push_back(const T& value) {
    if (size_ == capacity_) reserve(capacity_ < 16 ? 16 : 2 * capacity_);
    data_[size_++] = value;
  }
  void append(const T* values, std::size_t count) {
    if (size_ + count > capacity_) {
      std::size_t want = capacity_ < 16 ? 16 : 2 * capacity_;
      while (want < size_ + count)
        want *= 2;
      reserve(want);
    }
    std::memcpy(data_ + size_, values, count * sizeof(T));
    size_ += count;
  }

 private:
  void reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    if (capacity > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    const std::size_t bytes = capacity * sizeof(T);
#if defined(__linux__) && defined(MREMAP_MAYMOVE)
    if (bytes >= largePages::kMapFrom) {
      const std::size_t mapBytes = largePages::mappedLength(bytes);
      // Grown in place where the addresses after the block are free, which
      // keeps its alignment; otherwise its pages move, without being
      // copied, to the start of a fresh aligned mapping, or, under an
      // address-space limit that leaves no room for both blocks at once,
      // to wherever the kernel finds room.
      void* grown = mapped_ ? mremap(data_, mappedBytes_, mapBytes, 0) : MAP_FAILED;
      if (grown == MAP_FAILED) {
        grown = largePages::map(bytes);
        if (grown == nullptr && mapped_) {
          grown = mremap(data_, mappedBytes_, mapBytes, MREMAP_MAYMOVE);
          if (grown == MAP_FAILED) throw std::bad_alloc();
        } else if (grown == nullptr) {
          throw std::bad_alloc();
        } else if (mapped_) {
          if (mremap(data_, mappedBytes_, mappedBytes_, MREMAP_MAYMOVE | MREMAP_FIXED, grown) ==
              MAP_FAILED) {
            std::memcpy(grown, data_, size_ * sizeof(T));
            munmap(data_, mappedBytes_);
          }
        } else {
          if (size_ != 0) std::memcpy(grown, data_, size_ * sizeof(T));
          std::free(data_);
        }
      }
      data_ = static_cast<T*>(grown);
      mapped_ = true;
      mappedBytes_ = mapBytes;
      capacity_ = mapBytes / sizeof(T);
      return;
    }
#endif
    void* grown = std::realloc(data_, bytes);
    if (grown == nullptr) throw std::bad_alloc();
    data_ = static_cast<T*>(grown);
    capacity_ = capacity;
  }
  void release() {
#if defined(__linux__) && defined(MREMAP_MAYMOVE)
    if (mapped_) {
      munmap(data_, mappedBytes_);
      return;
    }
#endif
    std::free(data_);
  }
  void swap(growBuffer& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    std::swap(mapped_, other.mapped_);
    std::swap(mappedBytes_, other.mappedBytes_);
  }

  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  bool mapped_ = false;  // data_ came from mmap, mappedBytes_ long
  std::size_t mappedBytes_ = 0;
};
