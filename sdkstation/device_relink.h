// Finding a device again after it went off the bus (a reset, new firmware,
// a new identity): by its hub location or by its serial number, through
// the device library's list. On success the port's record holds the path
// the device came back under and the library's setting-table entry points
// to it. Each routine answers true when the device was found: no caller
// turns a 0-for-success code around.
#pragma once

#include <cstdint>

#include "sdkstation/relink_meeting.h"
#include "sdkstation/sdk_pass_state.h"
#include "sdkstation/sdk_settings_block.h"

namespace sdkstation {

inline constexpr char kRelinkEnterTrace[] = "RD Debug: QV_RelinkEx enter";
inline constexpr char kNoTableIndexTrace[] = "RD Debug: CustomizedSettingTableIndex == -1";

// What one worker's relinks work with.
struct RelinkContext {
  SdkPortTable& ports;
  int port = 0;                 // this worker's record
  const SdkSettingsBlock& settings;  // the worker's copy: MPResetWait
  SdkLocks& locks;              // RefindLock, RelinkStageLock
  RelinkMeeting& meeting;
  StageCounter& stages;
  const char* updateSerial = "";  // the serial the identity hand-over gave this device

  SdkPortRecord& record() const { return ports[static_cast<size_t>(port)]; }
};

// No reset: waits 500 ms, finds the device at its record's hub location and
// points setting-table entry `tableIndex` to it (an index of -1, a device
// without an entry, points nothing and still finds).
[[nodiscard]] bool RefindDevice(const RelinkContext& context, int tableIndex);

// Resets the device (stages 1 and 2: one chip reset; stage 3: up to 20
// firmware activations), counts the stage, meets the other workers, then
// finds the device at the hub location it had before the reset.
[[nodiscard]] bool ResetAndRefindDevice(const RelinkContext& context, int stage);

// The same reset and meeting, then finds the device by its serial number:
// the one the hand-over gave it (`byNewSerial`) or the one it had before
// the reset. Among several matches (identical serials) the one at the old
// hub location wins; a path another worker took is never taken; an empty
// serial matches nothing.
[[nodiscard]] bool QV_RelinkEx(const RelinkContext& context, int stage, bool byNewSerial);

// Whether a reset device could be found again by its hub location: the
// settings allow a search and the device tells where it is plugged in.
[[nodiscard]] bool CanRefindByHub(const char* path, const SdkSettingsBlock& settings);

}  // namespace sdkstation
