#include "sdkstation/identity_handover.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "bridge/device_queries.h"
#include "station/serial_numbers.h"

namespace sdkstation {
namespace {

// IDENTIFY words 10-19: the disk's serial number.
constexpr size_t kIdentitySerialOffset = 20;
constexpr size_t kIdentitySerialLength = 20;

// The calls of one device: each is made only while every one before it
// succeeded.
class DeviceCalls {
 public:
  explicit DeviceCalls(const char* path) : path_(path) {}

  template <class Entry, class... Args>
  bool Call(Entry entry, Args... args) {
    if (ok_) ok_ = entry(path_, args...) != 0;
    return ok_;
  }
  bool ok() const { return ok_; }

 private:
  const char* path_;
  bool ok_ = true;
};

int Flag(bool on) { return on ? 1 : 0; }

}  // namespace

std::string DiskSerialText(const char* devicePath) {
  std::array<uint8_t, qvfw::kIdentifySize> identify{};
  if (DeviceSdk().QV_GetDiskInfo(devicePath, identify.data()) == 0) return {};
  char text[kIdentitySerialLength + 1] = {};
  bridge::CopyIdentifyString(identify.data(), text, kIdentitySerialOffset, kIdentitySerialLength);
  return text;
}

void HandOverIdentity(const DeviceList& list, int count, const IdentityControls& c, SdkPassState& state) {
  const DeviceSdkTable& sdk = DeviceSdk();
  std::array<char, kUpdateSnSize> serial{};
  std::memcpy(serial.data(), c.serialNumber.data(), std::min(c.serialNumber.size(), serial.size() - 1));

  for (int i = 0; i < ClampDeviceCount(count); ++i) {
    const auto port = static_cast<size_t>(i);
    const char* path = list[i];
    const bool series = sdk.QV_IsQVS87xSeries(path) != 0;
    DeviceCalls calls(path);

    calls.Call(sdk.QV_EnableUpdateVID, Flag(c.updateVid));
    calls.Call(sdk.QV_EnableUpdatePID, Flag(c.updatePid));
    calls.Call(sdk.QV_EnableUpdateSN, Flag(!c.serialNumber.empty()));
    calls.Call(sdk.QV_EnableUpdateStandbyTimer, 1);
    if (series) {
      calls.Call(sdk.QV_EnableUpdateManuProdCtl, Flag(c.updateManufString));
      calls.Call(sdk.QV_EnableUpdateInquiryCtl, Flag(c.updateUsbProdString));
    } else {
      calls.Call(sdk.QV_EnableUpdateDisplayHDDStrSetting, Flag(c.updateDeviceString));
      calls.Call(sdk.QV_EnableUpdateManuStr, Flag(c.updateManufString));
      calls.Call(sdk.QV_EnableUpdateProdStr, Flag(c.updateUsbProdString));
    }
    calls.Call(sdk.QV_SetVIDValue, c.vendorId.c_str());
    calls.Call(sdk.QV_SetPIDValue, c.productId.c_str());
    if (calls.Call(sdk.QV_SetSerialNumStr, static_cast<const char*>(serial.data()))) state.m_UpdateSN[port] = serial;
    calls.Call(sdk.QV_SetScsiVidString, c.vendorStr.c_str());
    calls.Call(sdk.QV_SetScsiPidString, c.prodStr.c_str());
    if (series) {
      if (c.qvs871StandbyTime) calls.Call(sdk.QV_SetStandbyTimer, c.standbyTimer);
      calls.Call(sdk.QV_SetManuProdCtl, Flag(c.manuProdCtl));
      calls.Call(sdk.QV_SetInquiryCtl, Flag(c.inquiryCtl));
      calls.Call(sdk.QV_SetUsbProdString, c.stringB.c_str());
      calls.Call(sdk.QV_SetUsbManuString, c.stringC.c_str());
    } else {
      calls.Call(sdk.QV_SetStandbyTimer, c.standbyTimer);
      calls.Call(sdk.QV_EnableMapToHDDStr, Flag(c.mapToHddName));
      calls.Call(sdk.QV_SetSNFromNVRAMTable, 1);
      calls.Call(sdk.QV_SetManuStr, c.stringC.c_str());
      if (calls.ok()) {
        // The device's own disk: every product carries its own serial.
        const std::string product = c.productFromDiskSerial ? DiskSerialText(path) : c.stringB;
        calls.Call(sdk.QV_SetProdString, product.c_str());
      }
      calls.Call(sdk.QV_EnableUpdatePretendSuperSetting, 1);
      calls.Call(sdk.QV_SetEnableMultiSector, Flag(c.multiSector));
    }
    state.identityHandedOver[port] = calls.ok() ? 1 : 0;
    if (c.autoIncrement) station::IncrementHexSerial(std::span<char>(serial.data(), serial.size() - 1));
  }
}

}  // namespace sdkstation
