// One station per program folder. Two stations on one settings file would
// give every serial number twice and count one yield over the other, so a
// station holds a lock file beside its settings file for the life of its
// process; the kernel drops it however the process ends.
#pragma once

#include <memory>

#include "platform/instance_lock.h"

namespace station {

inline constexpr char kStationLockFileName[] = "Kestrova.lock";
inline constexpr char kStationRunsAlready[] =
    "Another station program is already running in %s.\nClose it first: two stations on one settings file "
    "would give the same serial numbers twice.";

// The program folder's lock, or null once the operator has been told (a
// box, and standard error) that another station holds it.
std::unique_ptr<platform::InstanceLock> LockProgramFolder();

}  // namespace station
