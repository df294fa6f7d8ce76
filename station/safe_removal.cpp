#include "station/safe_removal.h"

#include "platform/clock.h"
#include "platform/debug.h"

namespace station {

uint32_t SafeRemoveThread(platform::DevInst device) {
  for (int attempt = 0; attempt < kSafeRemoveTries; ++attempt) {
    uint32_t vetoType = platform::kPnpVetoTypeUnknown;
    char vetoName[kVetoNameChars] = {};
    uint32_t result =
        platform::QueryAndRemoveSubTree(device, &vetoType, vetoName, kVetoNameChars, platform::kCmRemoveNoRestart);
    if (result != platform::kCrSuccess)
      result = platform::RequestDeviceEject(device, &vetoType, vetoName, kVetoNameChars, 0);
    // An eject of the try before may already have taken it.
    if (result == platform::kCrNoSuchDevNode) return 0;
    if (result == platform::kCrSuccess && vetoType == platform::kPnpVetoTypeUnknown) return 0;
    platform::DebugTrace("Safe removal of node %u refused (%u), veto %u by %s\n", device, result, vetoType, vetoName);
    platform::Sleep(kSafeRemoveRetryMs);
    static_cast<void>(platform::RequestDeviceEject(device, &vetoType, vetoName, kVetoNameChars, 0));
  }
  return 0;
}

}  // namespace station
