// The CustomizedSettingTable entries: emptying, finding and re-pointing an
// entry, and the enable and set calls that fill it.
#include <atomic>

#include "bridge/chip_identification.h"
#include "disk/device_lock.h"
#include "qvfw/device_registry.h"
#include "qvfw/entry_guard.h"
#include "qvfw/entry_trace.h"
#include "qvfw/library_state.h"
#include "qvfw/qvfw_api.h"
#include "qvfw/setting_table.h"
#include "qvfw/update_settings.h"

namespace qvfw {
namespace {

// Format retries per listed device, as the first program's pass allows.
constexpr int kFormatRetriesPerDevice = 5;

// A flag argument is 0 or 1.
bool IsFlag(int value) { return value == 0 || value == 1; }

// Entries are made only for devices a listing knows.
bool IsKnownDevice(const char* path) { return IsPathArgument(path) && FindDevice(path).has_value(); }

// ... and only for chips that keep an identity: a hand-over to one that
// keeps none fails at once rather than at its update.
bool CanHoldEntry(const char* path) {
  if (!IsPathArgument(path)) return false;
  const std::optional<ListedDevice> device = FindDevice(path);
  if (!device) return false;
  const auto lock = LockDevice(device->path);
  return TakesIdentity(bridge::IdentifyChipType(device->path.c_str()));
}

int EnableItem(const char* path, int on, Item item) {
  return Guarded([&] {
    if (!IsFlag(on) || !CanHoldEntry(path)) return 0;
    return ChangeSetting(path, [&](SettingEntry& e) { e.items[static_cast<size_t>(item)] = on != 0; })
               ? 1
               : 0;
  });
}

int SetText(const char* path, const char* text, Text which) {
  return Guarded([&] {
    if (!FitsCapacity(text, kTextCapacity) || !CanHoldEntry(path)) return 0;
    return ChangeSetting(path, [&](SettingEntry& e) { e.texts[static_cast<size_t>(which)] = text; })
               ? 1
               : 0;
  });
}

int SetId(const char* path, const char* hex, std::optional<uint16_t> SettingEntry::*field) {
  return Guarded([&] {
    uint16_t value = 0;
    if (!FitsCapacity(hex, kTextCapacity) || !ParseHexDigits(hex, &value) || !CanHoldEntry(path)) {
      return 0;
    }
    return ChangeSetting(path, [&](SettingEntry& e) { e.*field = value; }) ? 1 : 0;
  });
}

}  // namespace
}  // namespace qvfw

using qvfw::Item;
using qvfw::Text;

extern "C" {

int QV_InitialCustomizedSettingTable(void) {
  QV_TRACE();
  return qvfw::Guarded([] {
    qvfw::ClearSettingTable();
    size_t listed = 0;
    {
      qvfw::LibraryState& state = qvfw::State();
      std::lock_guard lock(state.mutex);
      listed = state.devices.size();
    }
    if (listed == 0) listed = qvfw::ListDevices().size();
    g_nHDDAccessRetry.store(qvfw::kFormatRetriesPerDevice * static_cast<int>(listed));
    return 1;
  });
}

int QV_GetCustomizedSettingTableIndex(const char* path) {
  QV_TRACE(path);
  const int index = qvfw::Guarded([&] {
    // Shifted by one so that the guard's failure (0) reads as "none".
    return qvfw::IsPathArgument(path) ? qvfw::SettingIndexOf(path) + 1 : 0;
  });
  return index - 1;
}

int QV_SetDevicePath(int index, const char* path) {
  QV_TRACE(index, path);
  return qvfw::Guarded([&] {
    if (!qvfw::IsKnownDevice(path)) return 0;
    return qvfw::SetSettingPath(index, path) ? 1 : 0;
  });
}

int QV_EnableUpdateVID(const char* path, int on) {
  QV_TRACE(path, on);
  return qvfw::EnableItem(path, on, Item::Vid);
}
int QV_EnableUpdatePID(const char* path, int on) {
  QV_TRACE(path, on);
  return qvfw::EnableItem(path, on, Item::Pid);
}
int QV_EnableUpdateManuStr(const char* path, int on) {
  QV_TRACE(path, on);
  return qvfw::EnableItem(path, on, Item::ManufacturerString);
}
int QV_EnableUpdateSN(const char* path, int on) {
  QV_TRACE(path, on);
  return qvfw::EnableItem(path, on, Item::Serial);
}
int QV_EnableUpdateProdStr(const char* path, int on) {
  QV_TRACE(path, on);
  return qvfw::EnableItem(path, on, Item::ProductString);
}
int QV_EnableMapToHDDStr(const char* path, int on) {
  QV_TRACE(path, on);
  return qvfw::EnableItem(path, on, Item::MapToDiskString);
}
int QV_EnableUpdateDisplayHDDStrSetting(const char* path, int on) {
  QV_TRACE(path, on);
  return qvfw::EnableItem(path, on, Item::DisplayDiskString);
}
int QV_EnableUpdatePretendSuperSetting(const char* path, int on) {
  QV_TRACE(path, on);
  return qvfw::EnableItem(path, on, Item::PretendSuper);
}
int QV_EnableUpdateManuProdCtl(const char* path, int on) {
  QV_TRACE(path, on);
  return qvfw::EnableItem(path, on, Item::ManuProdControl);
}
int QV_EnableUpdateInquiryCtl(const char* path, int on) {
  QV_TRACE(path, on);
  return qvfw::EnableItem(path, on, Item::InquiryControl);
}
int QV_EnableUpdateStandbyTimer(const char* path, int on) {
  QV_TRACE(path, on);
  return qvfw::EnableItem(path, on, Item::StandbyTimer);
}
int QV_SetSNFromNVRAMTable(const char* path, int on) {
  QV_TRACE(path, on);
  return qvfw::EnableItem(path, on, Item::SerialFromNvram);
}
int QV_SetManuProdCtl(const char* path, int on) {
  QV_TRACE(path, on);
  return qvfw::EnableItem(path, on, Item::ManuProdSource);
}
int QV_SetInquiryCtl(const char* path, int on) {
  QV_TRACE(path, on);
  return qvfw::EnableItem(path, on, Item::InquirySource);
}
int QV_SetEnableMultiSector(const char* path, int on) {
  QV_TRACE(path, on);
  return qvfw::EnableItem(path, on, Item::MultiSector);
}

int QV_SetVIDValue(const char* path, const char* hex) {
  QV_TRACE(path, hex);
  return qvfw::SetId(path, hex, &qvfw::SettingEntry::vid);
}
int QV_SetPIDValue(const char* path, const char* hex) {
  QV_TRACE(path, hex);
  return qvfw::SetId(path, hex, &qvfw::SettingEntry::pid);
}
int QV_SetManuStr(const char* path, const char* text) {
  QV_TRACE(path, text);
  return qvfw::SetText(path, text, Text::Manufacturer);
}
int QV_SetSerialNumStr(const char* path, const char* text) {
  QV_TRACE(path, text);
  return qvfw::SetText(path, text, Text::Serial);
}
int QV_SetProdString(const char* path, const char* text) {
  QV_TRACE(path, text);
  return qvfw::SetText(path, text, Text::Product);
}
int QV_SetScsiVidString(const char* path, const char* text) {
  QV_TRACE(path, text);
  return qvfw::SetText(path, text, Text::ScsiVendor);
}
int QV_SetScsiPidString(const char* path, const char* text) {
  QV_TRACE(path, text);
  return qvfw::SetText(path, text, Text::ScsiProduct);
}
int QV_SetUsbManuString(const char* path, const char* text) {
  QV_TRACE(path, text);
  return qvfw::SetText(path, text, Text::UsbManufacturer);
}
int QV_SetUsbProdString(const char* path, const char* text) {
  QV_TRACE(path, text);
  return qvfw::SetText(path, text, Text::UsbProduct);
}

// A negative timer (the station's "not set") keeps the device's own.
int QV_SetStandbyTimer(const char* path, int minutes) {
  QV_TRACE(path, minutes);
  return qvfw::Guarded([&] {
    if (!qvfw::CanHoldEntry(path)) return 0;
    return qvfw::ChangeSetting(path,
                               [&](qvfw::SettingEntry& e) {
                                 e.standbyMinutes = minutes >= 0 ? std::optional<int>(minutes)
                                                                 : std::nullopt;
                               })
               ? 1
               : 0;
  });
}

}  // extern "C"
