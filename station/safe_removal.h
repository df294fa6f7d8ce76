// Safe removal of one product: the system is asked to stop its USB device
// and everything below it, so that no volume is cut off while mounted.
#pragma once

#include <cstdint>

#include "platform/device_setup.h"

namespace station {

inline constexpr int kSafeRemoveTries = 5;
inline constexpr uint32_t kSafeRemoveRetryMs = 500;
inline constexpr uint32_t kVetoNameChars = 520;
inline constexpr char kUnableToRemoveAll[] = "Unable to remove all device!";

// The thread body for one product: up to five tries of query-and-remove
// (no restart), else an eject; after a refusal or a veto it waits 500 ms
// and asks for an eject once more. A node that is gone counts as removed.
// Returns 0.
uint32_t SafeRemoveThread(platform::DevInst device);

}  // namespace station
