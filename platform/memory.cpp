#include "platform/memory.h"

#include <cstdlib>

namespace platform {
namespace {
thread_local int t_failAfter = -1;
}

void FailAllocationAfter(int skip) { t_failAfter = skip; }

void* HeapAllocZeroed(size_t size) {
  if (t_failAfter >= 0 && t_failAfter-- == 0) return nullptr;
  return std::calloc(1, size == 0 ? 1 : size);
}

void HeapFree(void* pointer) { std::free(pointer); }

}  // namespace platform
