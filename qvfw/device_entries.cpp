// The device list and what the library answers about one device: chip,
// running mode, firmware version, flash maker, speed, hub location and the
// identity the system shows.
#include <cstdio>
#include <cstring>
#include <memory>

#include "bridge/chip_identification.h"
#include "bridge/device_queries.h"
#include "bridge/flash_detection.h"
#include "bridge/manufacturing_download.h"
#include "bridge/port_table.h"
#include "bridge/scsi_pass_through.h"
#include "bridge/usb_tree.h"
#include "qvfw/device_call.h"
#include "qvfw/entry_trace.h"
#include "qvfw/qvfw_api.h"
#include "qvfw/update_settings.h"

namespace qvfw {
namespace {

template <class Field>
int SystemId(const char* path, uint16_t* out, Field field) {
  if (out == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    const std::optional<SystemView> view = ReadSystemView(d);
    if (!view) return 0;
    *out = (*view).*field;
    return 1;
  });
}

int SystemText(const char* path, char* out, std::string SystemView::*field) {
  if (out == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    const std::optional<SystemView> view = ReadSystemView(d);
    return view && PutText(out, kTextCapacity, (*view).*field) ? 1 : 0;
  });
}

// 1: the chip runs code that is no product firmware (boot code or boot ROM).
int RunningMode(const char* path, bridge::ChipType chipType) {
  if (chipType >= bridge::kBootCodeChipTypeBase && chipType < bridge::kBootCodeChipTypeBase + 4) {
    return kModeInternalCode;
  }
  if (chipType >= 21 && chipType <= 28) {
    bridge::BufferDescriptor descriptor;
    if (!bridge::ReadBufferDescriptor(path, bridge::kBuffer0, &descriptor)) return 0;
    return descriptor.state == bridge::kStateBootRom ? kModeInternalCode : kModeFirmware;
  }
  return kModeFirmware;
}

}  // namespace
}  // namespace qvfw

using qvfw::ListedDevice;
using qvfw::OnDevice;

extern "C" {

int QV_GetDeviceList(char** list, int* count) {
  QV_TRACE(list, count);
  return qvfw::Guarded([&] {
    if (list == nullptr || count == nullptr) return 0;
    bool overfull = false;
    const std::vector<ListedDevice> devices = qvfw::ListDevices(&overfull);
    int n = 0;
    for (const ListedDevice& d : devices) {
      if (list[n] == nullptr) break;
      qvfw::PutText(list[n], qvfw::kPathCapacity, d.path);
      ++n;
    }
    *count = n;
    return overfull ? qvfw::kListOverfull : 1;
  });
}

int QV_SetSCSITimeOut(int seconds) {
  QV_TRACE(seconds);
  return qvfw::Guarded([&] {
    if (seconds <= 0) return 0;
    bridge::SetSCSITimeout(seconds);
    return 1;
  });
}

int QV_GetChipType(const char* path, int* chipType) {
  QV_TRACE(path, chipType);
  if (chipType == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    const bridge::ChipType type = bridge::IdentifyChipType(d.path.c_str());
    if (type == bridge::kChipTypeNone) return 0;
    *chipType = type;
    return 1;
  });
}

int QV_GetChipTypeName(const char* path, char* name) {
  QV_TRACE(path, name);
  if (name == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    const bridge::ChipType type = bridge::IdentifyChipType(d.path.c_str());
    if (type == bridge::kChipTypeNone) return 0;
    return qvfw::PutText(name, qvfw::kChipNameCapacity,
                         "QV41" + std::string(bridge::ChipModelDigits(type)))
               ? 1
               : 0;
  });
}

int QV_GetRunningCodeMode(const char* path, int* mode) {
  QV_TRACE(path, mode);
  if (mode == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    const bridge::ChipType type = bridge::IdentifyChipType(d.path.c_str());
    if (type == bridge::kChipTypeNone) return 0;
    const int m = qvfw::RunningMode(d.path.c_str(), type);
    if (m == 0) return 0;
    *mode = m;
    return 1;
  });
}

int QV_GetFWVersion(const char* path, char* version) {
  QV_TRACE(path, version);
  if (version == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    const bridge::ChipType type = bridge::IdentifyChipType(d.path.c_str());
    char text[bridge::kFirmwareVersionSize] = {};
    if (type == bridge::kChipTypeNone || !bridge::FormatFirmwareVersion(type, d.path.c_str(), text) ||
        text[0] == '\0') {
      return 0;
    }
    return qvfw::PutText(version, qvfw::kTextCapacity, text) ? 1 : 0;
  });
}

int QV_GetFlashString(const char* path, char* text) {
  QV_TRACE(path, text);
  if (text == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    const bridge::ChipType type = bridge::IdentifyChipType(d.path.c_str());
    if (type == bridge::kChipTypeNone) return 0;
    const bridge::SpiFlashType flash = bridge::FlashVendorUnasked(type)
                                           ? bridge::kSpiFlashTypeUnknown
                                           : bridge::GetSpiFlashType(type, d.path.c_str());
    return qvfw::PutText(text, qvfw::kTextCapacity, bridge::SpiFlashVendorName(flash)) ? 1 : 0;
  });
}

int QV_IsQVS87xSeries(const char* path) {
  QV_TRACE(path);
  return OnDevice(path, [&](const ListedDevice& d) {
    return qvfw::IsQvs87x(bridge::IdentifyChipType(d.path.c_str())) ? 1 : 0;
  });
}

int QV_IsUASPdevice(const char* path) {
  QV_TRACE(path);
  return qvfw::Guarded([&] {
    if (!qvfw::IsPathArgument(path)) return 0;
    const std::optional<ListedDevice> d = qvfw::FindDevice(path);
    return d && d->uas ? 1 : 0;
  });
}

int QV_GetUSBSpeed(const char* path, int* speed) {
  QV_TRACE(path, speed);
  if (speed == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    if (d.hubPort <= 0) return 0;
    const int32_t code = bridge::GetPortSpeed(d.hubName.c_str(), static_cast<uint32_t>(d.hubPort));
    if (code < bridge::kUsbSpeedLow || code > bridge::kUsbSpeedSuperPlus) return 0;
    *speed = code;
    return 1;
  });
}

int QV_GetHubPortIndex(const char* path, int* port) {
  QV_TRACE(path, port);
  return qvfw::Guarded([&] {
    if (port == nullptr || !qvfw::IsPathArgument(path)) return 0;
    const std::optional<ListedDevice> d = qvfw::FindDevice(path);
    if (!d) return 0;
    *port = d->hubPort;
    return 1;
  });
}

int QV_GetRootHubName(const char* path, char* name) {
  QV_TRACE(path, name);
  return qvfw::Guarded([&] {
    if (name == nullptr || !qvfw::IsPathArgument(path)) return 0;
    const std::optional<ListedDevice> d = qvfw::FindDevice(path);
    return d && qvfw::PutText(name, qvfw::kPathCapacity, d->hubName) ? 1 : 0;
  });
}

int QV_GetVIDfromOS(const char* path, uint16_t* vid) {
  QV_TRACE(path, vid);
  return qvfw::SystemId(path, vid, &qvfw::SystemView::vid);
}
int QV_GetPIDfromOS(const char* path, uint16_t* pid) {
  QV_TRACE(path, pid);
  return qvfw::SystemId(path, pid, &qvfw::SystemView::pid);
}
int QV_GetSNfromOS(const char* path, char* text) {
  QV_TRACE(path, text);
  return qvfw::SystemText(path, text, &qvfw::SystemView::serial);
}
int QV_GetManuStrfromOS(const char* path, char* text) {
  QV_TRACE(path, text);
  return qvfw::SystemText(path, text, &qvfw::SystemView::manufacturer);
}
int QV_GetProdStrfromOS(const char* path, char* text) {
  QV_TRACE(path, text);
  return qvfw::SystemText(path, text, &qvfw::SystemView::product);
}

}  // extern "C"
