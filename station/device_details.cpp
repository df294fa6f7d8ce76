#include "station/device_details.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "bridge/device_queries.h"
#include "bridge/storage_enumeration.h"
#include "bridge/vendor_commands.h"

namespace station {
namespace {

struct FlashVendor {
  bridge::SpiFlashType type;
  std::string_view name;
};

constexpr std::array<FlashVendor, 18> kFlashVendors = {{
    {3, "PMC/ISSI"},
    {4, "SST"},
    {5, "ST/EON/MXIC/ISSI/FUDAN/BERG"},
    {6, "ATMEL"},
    {7, "MXIC/KH"},
    {8, "WINBOND"},
    {9, "AMIC"},
    {10, "EON"},
    {11, "ESMT"},
    {12, "SANYO"},
    {13, "GIGADEVICE"},
    {14, "VPOWERWINS/SHANGHAI FUDAN"},
    {15, "PMC/ISSI"},
    {16, "BOYA/BERG"},
    {17, "BERG"},
    {18, "ACE/BOHONG"},
    {19, "XTX"},
    {20, "PUYA"},
}};

constexpr std::string_view kUnknownFlash = "Unknown";
// ChipType 20's family when the configuration block does not tell which.
constexpr std::string_view kQvs879Family = "QVS878/877/876 Series";
constexpr size_t kConfigBlockLength = 32;
constexpr size_t kConfigModelByte = 8;
constexpr size_t kIdentifyLength = 512;
constexpr size_t kIdentifyRevisionOffset = 46;
constexpr size_t kIdentifyRevisionLength = 8;

// ChipTypes 8 and 17 have no flash to ask about.
constexpr bool HasNoFlashQuery(bridge::ChipType chipType) { return chipType == 8 || chipType == 17; }
constexpr bool IsQvs87x(bridge::ChipType chipType) { return chipType >= 21 && chipType <= 24; }

// `length` bytes as text up to a NUL, trailing blanks removed.
std::string FieldOf(const uint8_t* bytes, size_t length) {
  std::string text(reinterpret_cast<const char*>(bytes), length);
  text.resize(std::strlen(text.c_str()));
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

std::string Hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

}  // namespace

std::string ChipIdText(bridge::ChipType chipType, const uint8_t* configBlock) {
  switch (chipType) {
    case 13: return "QVS857/843 Series";
    case 19: return "QVS843B Series";
    case 20:
      if (configBlock == nullptr) return std::string(kQvs879Family);
      return configBlock[kConfigModelByte] == 1 ? "QVS877/878 Series" : "QVS876 Series";
    default: return "QV41" + std::string(bridge::ChipModelDigits(chipType));
  }
}

std::string_view SpiFlashVendor(bridge::SpiFlashType type) {
  for (const FlashVendor& vendor : kFlashVendors)
    if (vendor.type == type) return vendor.name;
  return kUnknownFlash;
}

std::string DiskNameText(const uint8_t* inquiry) {
  return FieldOf(inquiry + 8, 8) + " " + FieldOf(inquiry + 16, 16);
}

DeviceDetails CollectDeviceDetails(const bridge::PortTable& ports, int slot, char driveLetter, bool askDevice) {
  DeviceDetails d;
  if (slot < 0 || slot >= bridge::kPortCount) return d;
  const bridge::PortRecord& r = ports.records[static_cast<size_t>(slot)];
  // The record as one state (a worker's re-find may be rewriting it); the
  // device is asked afterwards, without the lock.
  std::unique_lock lock(r.identityLock);
  const bridge::ChipType chipType = r.chipType;
  const std::string path(bridge::FieldText(r.devicePath));
  d.serialNumber = bridge::FieldText(r.usbSerial);
  d.vendorId = Hex4(r.vid);
  d.productId = Hex4(r.pid);
  d.capacity = std::to_string(r.capacityMB.load()) + " MB";
  d.firmwareVersion = r.firmwareAccepted ? std::string(bridge::FieldText(r.firmwareVersion)) : "Internal code";
  d.manufacturer = bridge::FieldText(r.manufacturer);
  d.product = bridge::FieldText(r.product);
  lock.unlock();

  uint8_t config[kConfigBlockLength] = {};
  const bool configRead =
      chipType == 20 && askDevice && bridge::ReadConfigBlock(path.c_str(), config, sizeof config) != 0;
  d.chipId = ChipIdText(chipType, configRead ? config : nullptr);

  // A query that fails leaves its field empty: never another port's text.
  uint8_t inquiry[bridge::kInquiryIdentifyLength] = {};
  if (askDevice && bridge::Inquiry(path.c_str(), inquiry, sizeof inquiry)) d.diskName = DiskNameText(inquiry);

  if (driveLetter != 0) d.driveLetter = std::string(1, driveLetter);

  uint8_t identify[kIdentifyLength] = {};
  if (askDevice && bridge::IdentifyDevice(path.c_str(), identify, bridge::UsesSatIdentify(chipType) ? 1 : 0)) {
    char revision[kIdentifyRevisionLength + 1] = {};
    bridge::CopyIdentifyString(identify, revision, kIdentifyRevisionOffset, kIdentifyRevisionLength);
    d.diskFirmware = revision;
  }

  if (HasNoFlashQuery(chipType)) d.flashType = kUnknownFlash;
  else if (askDevice) d.flashType = SpiFlashVendor(bridge::GetSpiFlashType(chipType, path.c_str()));
  else d.flashType = SpiFlashVendor(r.spiFlashType);
  d.deviceType = r.uasp ? "UASP" : "USB";

  for (const bridge::PortRecord& other : ports.records)
    if (other.present && IsQvs87x(other.chipType)) d.diskFirmwareEnabled = false;
  return d;
}

}  // namespace station
