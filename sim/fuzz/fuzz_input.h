// What the fuzz targets share: a check that stops the run where it fails,
// and the fuzz input read front to back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim::fuzz {

inline void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Zeros once the input is used up.
struct Input {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  bool Done() const { return at >= size; }
};

}  // namespace sim::fuzz
