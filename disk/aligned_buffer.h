// A zeroed, page-aligned block from the platform heap for unbuffered volume
// I/O; !valid() when the heap refused it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/memory.h"

namespace disk {

inline constexpr size_t kPageSize = 4096;

class AlignedBuffer {
 public:
  explicit AlignedBuffer(size_t size)
      : raw_(size ? platform::HeapAllocZeroed(size + kPageSize) : nullptr),
        size_(raw_ ? size : 0) {}
  ~AlignedBuffer() { platform::HeapFree(raw_); }
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;

  bool valid() const { return raw_ != nullptr; }
  uint8_t* data() const {
    const uintptr_t p = reinterpret_cast<uintptr_t>(raw_);
    return raw_ ? reinterpret_cast<uint8_t*>((p + kPageSize - 1) & ~uintptr_t{kPageSize - 1})
                : nullptr;
  }
  size_t size() const { return size_; }

 private:
  void* raw_;
  size_t size_;
};

}  // namespace disk
