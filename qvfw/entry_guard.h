// What every entry point does at the boundary: nothing escapes as an
// exception, bad arguments are refused before any work, and texts are
// written within the capacity the contract names.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace qvfw {

// Runs the entry's body; anything thrown becomes a failure.
template <class Body>
int Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return 0;
  }
}

// A NUL-terminated text of at most capacity - 1 characters; false for null
// and for a text that does not end within the capacity.
inline bool FitsCapacity(const char* text, size_t capacity) {
  return text != nullptr && ::strnlen(text, capacity) < capacity;
}

// A device path: not empty and shorter than kPathCapacity.
bool IsPathArgument(const char* path);

// Writes `text` NUL-terminated into `out` (capacity bytes); a longer text is
// cut. False (nothing written) for a null buffer.
bool PutText(char* out, size_t capacity, std::string_view text);

}  // namespace qvfw
