// The frame of an entry that talks to one device: arguments checked, the
// device found, its lock held for the whole sequence, nothing thrown out.
#pragma once

#include <optional>

#include "qvfw/device_registry.h"
#include "qvfw/entry_guard.h"

namespace qvfw {

// 0 without touching a device when the path is bad or no listing knows it;
// otherwise body(device) under the device's lock.
template <class Body>
int OnDevice(const char* path, Body&& body) {
  return Guarded([&]() -> int {
    if (!IsPathArgument(path)) return 0;
    const std::optional<ListedDevice> device = FindDevice(path);
    if (!device) return 0;
    const auto lock = LockDevice(device->path);
    return body(*device);
  });
}

}  // namespace qvfw
