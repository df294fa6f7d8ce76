// The UFS logical unit behind our UFS bridges: its state, enabling it, its
// capacity and its reference clock.
#include "bridge/block_commands.h"
#include "bridge/ufs_commands.h"
#include "qvfw/device_call.h"
#include "qvfw/entry_trace.h"
#include "qvfw/qvfw_api.h"

using qvfw::ListedDevice;
using qvfw::OnDevice;

extern "C" {

int QV_GetUFSStatus(const char* path, uint8_t* state) {
  QV_TRACE(path, state);
  if (state == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    bridge::UfsState ufs;
    if (!bridge::ReadUfsState(d.path.c_str(), &ufs)) return 0;
    *state = ufs.enabled ? qvfw::kUfsEnabled : qvfw::kUfsDisabled;
    return 1;
  });
}

// *state reads disabled afterwards while the enable waits for a reset.
int QV_EnableUFSLun(const char* path, uint8_t* state) {
  QV_TRACE(path, state);
  if (state == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    bridge::UfsState ufs;
    if (!bridge::EnableUfsUnit(d.path.c_str()) || !bridge::ReadUfsState(d.path.c_str(), &ufs)) {
      return 0;
    }
    *state = ufs.enabled ? qvfw::kUfsEnabled : qvfw::kUfsDisabled;
    return 1;
  });
}

int QV_GetUFSCapacity(const char* path, uint64_t* megabytes) {
  QV_TRACE(path, megabytes);
  if (megabytes == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    bridge::UfsState ufs;
    if (!bridge::ReadUfsState(d.path.c_str(), &ufs) || !ufs.enabled) return 0;
    uint8_t reply[32] = {};
    if (!bridge::ReadCapacity16Data(d.path.c_str(), reply, sizeof reply)) return 0;
    uint64_t lastLba = 0;
    for (int i = 0; i < 8; ++i) lastLba = lastLba << 8 | reply[i];
    const uint64_t blockLength = uint64_t{reply[8]} << 24 | uint64_t{reply[9]} << 16 |
                                 uint64_t{reply[10]} << 8 | reply[11];
    *megabytes = (lastLba + 1) * blockLength / (1024 * 1024);
    return 1;
  });
}

int QV_SetUFSBGARefClkFreq(const char* path, int code) {
  QV_TRACE(path, code);
  if (code < 0 || code > bridge::kUfsLastReferenceClock) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    return bridge::SetUfsReferenceClock(d.path.c_str(), static_cast<uint8_t>(code));
  });
}

int QV_GetUFSBGARefClkFreq(const char* path, int* code) {
  QV_TRACE(path, code);
  if (code == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    bridge::UfsState ufs;
    if (!bridge::ReadUfsState(d.path.c_str(), &ufs)) return 0;
    *code = ufs.referenceClock;
    return 1;
  });
}

}  // extern "C"
