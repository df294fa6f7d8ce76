// A zeroed heap block owned for one operation: the flash flows' working
// copies and read-backs, the transport's request blocks, unbuffered volume
// I/O. It comes from HeapAllocZeroed, so tests can make it fail; a block
// that could not be had (or of size 0) reports !valid() and holds nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/memory.h"

namespace platform {

// The alignment unbuffered file and volume I/O wants.
inline constexpr size_t kPageSize = 4096;

// Rounds `pointer` up to the next multiple of `alignment` (a power of two).
inline void* AlignUp(void* pointer, size_t alignment) {
  const uintptr_t mask = static_cast<uintptr_t>(alignment) - 1;
  return reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(pointer) + mask) & ~mask);
}

class HeapBuffer {
 public:
  // An `alignment` above 1 (a power of two) takes `alignment` more bytes
  // from the heap and starts the block at the first aligned one.
  explicit HeapBuffer(size_t size, size_t alignment = 1)
      : raw_(Allocate(size, alignment)),
        data_(raw_ ? static_cast<uint8_t*>(AlignUp(raw_, alignment)) : nullptr),
        size_(raw_ ? size : 0) {}
  ~HeapBuffer() { HeapFree(raw_); }
  HeapBuffer(const HeapBuffer&) = delete;
  HeapBuffer& operator=(const HeapBuffer&) = delete;

  bool valid() const { return data_ != nullptr; }
  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  static void* Allocate(size_t size, size_t alignment) {
    const size_t extra = alignment > 1 ? alignment : 0;
    if (size == 0 || size > SIZE_MAX - extra) return nullptr;
    return HeapAllocZeroed(size + extra);
  }

  void* raw_;
  uint8_t* data_;
  size_t size_;
};

}  // namespace platform
