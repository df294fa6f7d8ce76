// The firmware and identity writes: the file and clone setting for the
// following calls, the file checks, erase, the manufacturing image, the
// updates with and without the customized setting, the clone variants with
// their preserved identity, reset and activation, and the standby timer.
#include <cstring>
#include <memory>
#include <string>

#include "bridge/chip_identification.h"
#include "bridge/firmware_file_check.h"
#include "bridge/firmware_verification.h"
#include "bridge/manufacturing_download.h"
#include "bridge/port_table.h"
#include "bridge/standby_timer.h"
#include "bridge/vendor_commands.h"
#include "platform/files.h"
#include "qvfw/device_call.h"
#include "qvfw/entry_trace.h"
#include "qvfw/library_state.h"
#include "qvfw/qvfw_api.h"
#include "qvfw/update_run.h"
#include "qvfw/update_settings.h"
#include "station/firmware_file_load.h"
#include "station/update_flows.h"

namespace qvfw {
namespace {

constexpr uint8_t kEraseWholeFlash = 3;

bool IsFlag(int value) { return value == 0 || value == 1; }

struct FileSetting {
  std::string file;
  bool clone = false;
};

FileSetting CurrentFile() {
  LibraryState& state = State();
  std::lock_guard lock(state.mutex);
  return {state.firmwareFile, state.cloneProduct};
}

int Update(const char* path, UpdateRequest request) {
  return OnDevice(path, [&](const ListedDevice& d) { return RunUpdate(d, request); });
}

// A write on a QVS87x product only.
int Qvs87xUpdate(const char* path, const std::function<int(const ListedDevice&)>& body) {
  return OnDevice(path, [&](const ListedDevice& d) {
    return IsQvs87x(bridge::IdentifyChipType(d.path.c_str())) ? body(d) : 0;
  });
}

// The bridge leaves the bus on a reset, often before it answers: a reset
// counts when it was accepted or when the product has gone from the list.
// The list is taken after the device's lock is left: a listing speaks to
// every product.
int Reset(const char* path, const std::function<int(const char*)>& send) {
  constexpr int kUnanswered = 2;
  std::string sent;
  const int result = OnDevice(path, [&](const ListedDevice& d) {
    sent = d.path;
    const int accepted = send(d.path.c_str());
    ForgetDevice(d.path);
    return accepted ? 1 : kUnanswered;
  });
  if (result != kUnanswered) return result;
  return Guarded([&] {
    for (const ListedDevice& listed : ListDevices())
      if (FoldPath(listed.path) == FoldPath(sent)) return 0;
    return 1;
  });
}

}  // namespace
}  // namespace qvfw

using qvfw::ListedDevice;
using qvfw::OnDevice;

extern "C" {

// An empty text forgets the file; 1 when the file opens as a regular file.
int QV_SetFWBinFilePath(const char* file) {
  QV_TRACE(file);
  return qvfw::Guarded([&] {
    if (!qvfw::FitsCapacity(file, qvfw::kPathCapacity)) return 0;
    {
      qvfw::LibraryState& state = qvfw::State();
      std::lock_guard lock(state.mutex);
      state.firmwareFile = file;
    }
    if (file[0] == '\0') return 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> opened(platform::OpenRegularFileForReading(file),
                                                           &std::fclose);
    return opened ? 1 : 0;
  });
}

int QV_SetCloneProduct(int clone) {
  QV_TRACE(clone);
  return qvfw::Guarded([&] {
    if (!qvfw::IsFlag(clone)) return 0;
    qvfw::LibraryState& state = qvfw::State();
    std::lock_guard lock(state.mutex);
    state.cloneProduct = clone != 0;
    return 1;
  });
}

// The file loads, fits the clone setting, and suits the chip of every
// listed product.
int QV_CheckLoadBinFileMatch(const char* path, const char* file) {
  QV_TRACE(path, file);
  return qvfw::Guarded([&] {
    if (!qvfw::IsPathArgument(path) || !qvfw::FitsCapacity(file, qvfw::kPathCapacity) ||
        !qvfw::FindDevice(path)) {
      return 0;
    }
    station::FirmwareImage image;
    if (station::LoadFirmwareFile(file, qvfw::CurrentFile().clone, image) !=
        station::FirmwareLoad::kLoaded) {
      return 0;
    }
    const std::vector<ListedDevice> devices = qvfw::ListDevices();
    auto ports = std::make_unique<bridge::PortTable>();
    std::vector<uint16_t> identifications;
    for (size_t i = 0; i < devices.size(); ++i) {
      const auto lock = qvfw::LockDevice(devices[i].path);
      const uint16_t identification = bridge::IdentifyChipTypeAndRevision(devices[i].path.c_str());
      if ((identification & 0xFF) == bridge::kChipTypeNone) return 0;
      identifications.push_back(identification);
      bridge::PortRecord& r = ports->records[i];
      r.inUse = 1;
      r.present = 1;
      r.chipType = identification & 0xFF;
      bridge::SetFieldText(r.devicePath, devices[i].path);
    }
    if (identifications.empty()) return 0;
    for (const uint16_t identification : identifications)
      if (!bridge::CheckFirmwareFile(file, identification, *ports)) return 0;
    return 1;
  });
}

int QV_CheckChipFW(const char* path, const char* file) {
  QV_TRACE(path, file);
  if (!qvfw::FitsCapacity(file, qvfw::kPathCapacity)) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    const uint16_t identification = bridge::IdentifyChipTypeAndRevision(d.path.c_str());
    return bridge::VerifyFirmwareWithFile(d.path.c_str(), file, identification & 0xFF,
                                          bridge::RevisionOf(identification),
                                          qvfw::CurrentFile().clone);
  });
}

int QV_SerialFlashErase(const char* path) {
  QV_TRACE(path);
  return OnDevice(path, [&](const ListedDevice& d) {
    return bridge::WriteBridgeFlash(d.path.c_str(), 0, nullptr, 0, qvfw::kEraseWholeFlash) ? 1 : 0;
  });
}

int QV_UpdateMFGOnly(const char* path) {
  QV_TRACE(path);
  return OnDevice(path, [&](const ListedDevice& d) {
    const uint16_t identification = bridge::IdentifyChipTypeAndRevision(d.path.c_str());
    if (!bridge::StartManufacturingFirmware(d.path.c_str(), identification & 0xFF,
                                            bridge::RevisionOf(identification))) {
      return 0;
    }
    qvfw::ForgetDevice(d.path);  // it comes back running the MFG image
    return 1;
  });
}

int QV_FWUpdateProgrammingEX(const char* path) {
  QV_TRACE(path);
  return qvfw::Update(path, {.firmware = true, .identity = true});
}
int QV_FWUpdateProgrammingNoCustomizedSetting(const char* path) {
  QV_TRACE(path);
  return qvfw::Update(path, {.firmware = true});
}
int QV_UpdateCustomizedSetting(const char* path) {
  QV_TRACE(path);
  return qvfw::Update(path, {.identity = true});
}

int QV_87x_Clone_FWUpdateProgrammingEX(const char* path) {
  QV_TRACE(path);
  return qvfw::Qvs87xUpdate(path, [](const ListedDevice& d) {
    return qvfw::RunUpdate(d, {.firmware = true, .identity = true, .clone = true});
  });
}

// The identity preserved before the erase goes back with the new firmware.
int QV_87x_Clone_FWUpdateProgrammingNoCustomizedSetting(const char* path) {
  QV_TRACE(path);
  return qvfw::Qvs87xUpdate(path, [](const ListedDevice& d) {
    std::optional<qvfw::PreservedIdentity> preserved;
    {
      qvfw::LibraryState& state = qvfw::State();
      std::lock_guard lock(state.mutex);
      const auto found = state.preserved.find(qvfw::HubLocation(d));
      if (found != state.preserved.end()) preserved = found->second;
    }
    if (!preserved) return 0;
    const qvfw::UpdateSettings settings = qvfw::SettingsForPreserved(*preserved);
    return qvfw::RunUpdate(
        d, {.firmware = true, .identity = true, .clone = true, .settings = &settings});
  });
}

// Kept by hub location: the erase and reset before the clone write give the
// product a new path, not a new port.
int QV_87xPreserveCustomizedSetting(const char* path) {
  QV_TRACE(path);
  return qvfw::Qvs87xUpdate(path, [](const ListedDevice& d) {
    qvfw::PreservedIdentity preserved;
    if (!station::ReadQvs87xIdentity(d.path.c_str(), preserved.settings, preserved.sources)) {
      return 0;
    }
    qvfw::LibraryState& state = qvfw::State();
    std::lock_guard lock(state.mutex);
    state.preserved[qvfw::HubLocation(d)] = preserved;
    return 1;
  });
}

// The whole firmware image the product holds, identity included.
int QV_87xPreserveCustomizedSettingEx(const char* path, uint8_t* buffer, int size) {
  QV_TRACE(path, buffer, size);
  if (buffer == nullptr || size != static_cast<int>(qvfw::kPreserveBufferSize)) return 0;
  return qvfw::Qvs87xUpdate(path, [&](const ListedDevice& d) {
    auto image = std::make_unique<uint8_t[]>(qvfw::kPreserveBufferSize);
    if (!station::ReadQvs87xFirmware(d.path.c_str(), qvfw::CurrentFile().clone,
                                     std::span<uint8_t>(image.get(), qvfw::kPreserveBufferSize))) {
      return 0;
    }
    std::memcpy(buffer, image.get(), qvfw::kPreserveBufferSize);
    return 1;
  });
}

// The preserved image goes back with the entry's identity laid over it.
int QV_87x_Clone_UpdateCustomizedSetting(const char* path, const uint8_t* buffer, int size) {
  QV_TRACE(path, buffer, size);
  if (buffer == nullptr || size != static_cast<int>(qvfw::kPreserveBufferSize)) return 0;
  return qvfw::Qvs87xUpdate(path, [&](const ListedDevice& d) {
    return qvfw::RunUpdate(d, {.firmware = true,
                               .identity = true,
                               .clone = true,
                               .image = std::span<const uint8_t>(buffer, qvfw::kPreserveBufferSize)});
  });
}

int QV_ChipReset(const char* path) {
  QV_TRACE(path);
  return qvfw::Reset(path, [](const char* p) { return bridge::ResetBridge(p); });
}

int QV_ActiveFirmware(const char* path) {
  QV_TRACE(path);
  return qvfw::Reset(path, [](const char* p) {
    return bridge::ScsiWriteBuffer(p, bridge::BufferId{0}, bridge::kWriteBufferActivateMode, 0,
                                   nullptr, 0);
  });
}

int QV_Get87xStandbyTimerbySCSICmd(const char* path, int* minutes) {
  QV_TRACE(path, minutes);
  if (minutes == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    const std::optional<int> read = qvfw::ReadStandbyMinutes(d.path.c_str());
    if (!read) return 0;
    *minutes = *read;
    return 1;
  });
}

// 0 minutes switches standby off.
int QV_Update87xStandbyTimer(const char* path, int minutes) {
  QV_TRACE(path, minutes);
  if (minutes < 0 || static_cast<uint32_t>(minutes) > bridge::kMaxStandbyMinutes) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    return bridge::ModeSelectPowerCondition(d.path.c_str(), minutes, minutes > 0);
  });
}

}  // extern "C"
