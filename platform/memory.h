// Heap allocation that can be made to fail, so the callers' out-of-memory
// paths are tested rather than assumed.
#pragma once

#include <cstddef>

namespace platform {

// Zeroed memory, or null when the heap refuses.
void* HeapAllocZeroed(size_t size);
void HeapFree(void* pointer);

// Makes the allocation after `skip` more allocations on this thread fail
// (-1 switches the fault off). Per thread, so tests running beside each
// other do not see each other's faults.
void FailAllocationAfter(int skip);

}  // namespace platform
