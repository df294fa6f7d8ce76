#include "qvfw/entry_guard.h"

#include "qvfw/qvfw_api.h"

namespace qvfw {

bool IsPathArgument(const char* path) {
  return FitsCapacity(path, kPathCapacity) && path[0] != '\0';
}

bool PutText(char* out, size_t capacity, std::string_view text) {
  if (out == nullptr || capacity == 0) return false;
  const size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
  if (n != 0) std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return true;
}

}  // namespace qvfw
