// A zeroed heap block for the flash flows' working copies and read-backs.
// It comes from the platform heap, so tests can make it fail; a block that
// could not be had reports !valid() and the flow answers 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/memory.h"

namespace bridge {

class HeapBuffer {
 public:
  explicit HeapBuffer(size_t size)
      : data_(size ? static_cast<uint8_t*>(platform::HeapAllocZeroed(size)) : nullptr),
        size_(data_ ? size : 0) {}
  ~HeapBuffer() { platform::HeapFree(data_); }
  HeapBuffer(const HeapBuffer&) = delete;
  HeapBuffer& operator=(const HeapBuffer&) = delete;

  bool valid() const { return data_ != nullptr; }
  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  uint8_t* data_;
  size_t size_;
};

}  // namespace bridge
