// Process-wide state that the port workers share around disk work: the
// device lock, the speed lock and the retry bound of the format routes.
// Defined once in the disk library, never in a header, so that a library
// that hides its own symbols (the device library) still shares them with
// the program.
#pragma once

#include <atomic>

#include "platform/critical_section.h"

namespace disk {

// The device lock: one worker at a time resets a bridge, makes one re-find
// attempt, runs the disk re-scan or formats a volume through the system's
// format command or format service. A critical section, so the holder may
// take it again.
platform::CriticalSection& DeviceLock();

// The speed lock: one worker at a time runs the timed read/write test.
platform::CriticalSection& SpeedLock();

// Holds a lock for a scope; released on every exit path.
using DeviceLockHolder = platform::CriticalSectionHolder;

}  // namespace disk

// Bound of every retry loop of the format routes and of the FAT32
// formatter. The production pass sets it, before the workers start, to five
// times the number of present ports.
extern std::atomic<int> g_nHDDAccessRetry;
