// The identity as the product's flash stores it, which a write changes at
// once and the system shows only after the next reset: a QVS87x product's
// buffer 1 and INQUIRY page C3, the identity image of the family that keeps
// one, the configuration page of the families that keep one beside their
// firmware, the configuration block of the older families.
#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "bridge/chip_identification.h"
#include "bridge/firmware_update.h"
#include "bridge/identity_config.h"
#include "bridge/vendor_commands.h"
#include "platform/byte_order.h"
#include "platform/text.h"
#include "qvfw/device_call.h"
#include "qvfw/device_registry.h"
#include "qvfw/entry_trace.h"
#include "qvfw/qvfw_api.h"
#include "qvfw/update_settings.h"

namespace qvfw {
namespace {

struct FlashIdentity {
  uint16_t vid = 0;
  uint16_t pid = 0;
  std::string manufacturer, product, serial;
};

constexpr size_t kConfigBlockSize = 128;
constexpr size_t kConfigPageSize = 256;
constexpr uint32_t kDfImageConfigAddress = 0xC000;   // 19, 20: the page behind the CRC-sealed image
constexpr uint32_t kFlash48KConfigAddress = 0x8000;  // the 48 KB flash layout
constexpr uint8_t kStringDescriptorType = 3;
constexpr char kErased = '\xFF';

// A fixed-width field of a QVS87x product: erased flash (a field never
// written) holds no text, and the padding to the field is no part of it.
std::string StoredText(std::string_view field) {
  return std::string(platform::TrimBlanks(field.substr(0, field.find(kErased))));
}

// A string descriptor of a configuration: length byte 2n + 2, type 3, the
// characters as single bytes or UTF-16LE; at most `maxChars` of them, cut
// at a NUL (an unset string has the length byte 4 and no character).
std::string DescriptorText(std::span<const uint8_t> config, int32_t offset, int32_t maxChars,
                           bool singleByte) {
  if (offset <= 0 || static_cast<size_t>(offset) + 2 > config.size()) return {};
  const uint8_t* slot = config.data() + offset;
  if (slot[1] != kStringDescriptorType || slot[0] < 2) return {};
  const size_t width = singleByte ? 1 : 2;
  const size_t room = (config.size() - static_cast<size_t>(offset) - 2) / width;
  const size_t n = std::min({size_t{slot[0]} / 2 - 1, static_cast<size_t>(maxChars), room});
  std::string text;
  for (size_t i = 0; i < n && slot[2 + i * width] != 0; ++i) text.push_back(static_cast<char>(slot[2 + i * width]));
  return text;
}

// The maker's signature closes every configuration the chip takes (the
// last two bytes of the block or the page); without it nothing was ever
// configured there.
bool Signed(std::span<const uint8_t> config) {
  return config.size() >= 2 && config[config.size() - 2] == 'Q' && config.back() == 'V';
}

// The layout a configuration block is in, by the marks its defaults leave:
// a device descriptor at its start (Type 1), or byte 125 of Type 2 / Type 3.
const station::EepromLayout& LayoutOf(std::span<const uint8_t, kConfigBlockSize> block,
                                      bridge::ChipType chipType) {
  constexpr uint8_t kType2Mark = 0xB6;
  constexpr uint8_t kType3Mark = 0xC0;
  int32_t item = -1;
  if (block[0] == 0x12 && block[1] == 0x01) item = 0;
  if (block[125] == kType2Mark) item = 1;
  if (block[125] == kType3Mark) item = 2;
  const station::EepromLayout* layout =
      item < 0 ? nullptr : station::FindEepromLayout(station::LayoutFamily::kStandard, item);
  return layout ? *layout : LibraryLayout(chipType);
}

FlashIdentity DecodeConfig(std::span<const uint8_t> config, const station::EepromLayout& layout) {
  const auto& at = layout.offsets;
  const bool single = layout.singleByteText;
  FlashIdentity identity;
  identity.vid = platform::GetLittleEndian16(config.data() + at[station::kVidOffset]);
  identity.pid = platform::GetLittleEndian16(config.data() + at[station::kPidOffset]);
  identity.manufacturer =
      DescriptorText(config, at[station::kStringAOffset], at[station::kStringAMax], single);
  identity.product = DescriptorText(config, at[station::kStringBOffset], at[station::kStringBMax], single);
  identity.serial = DescriptorText(config, at[station::kSerialOffset], at[station::kSerialMax], single);
  return identity;
}

// The 256-byte configuration page of the families that keep one in their
// flash, beside the firmware, in the 8-bit layout.
std::optional<FlashIdentity> ReadConfigPage(const char* path, bridge::ChipType chipType) {
  uint32_t address = bridge::kQvs891ConfigAddress;
  if (chipType == 19 || chipType == 20) address = kDfImageConfigAddress;
  if (chipType == 25 || chipType == 26) address = bridge::kQvs887ConfigAddress;
  uint8_t page[kConfigPageSize] = {};
  if (!bridge::ReadBridgeFlash(path, address, page, sizeof page) || !Signed(page)) return std::nullopt;
  return DecodeConfig(page, LibraryLayout(chipType));
}

// The 128-byte configuration block of the older families: at the head of
// the flash for those that keep it beside their image; for the others in
// the 48 KB flash layout (behind the firmware) or else in the
// configuration EEPROM.
std::optional<FlashIdentity> ReadConfigBlock(const char* path, bridge::ChipType chipType) {
  uint8_t block[kConfigBlockSize] = {};
  const auto decoded = [&]() -> std::optional<FlashIdentity> {
    if (!Signed(block)) return std::nullopt;
    return DecodeConfig(block, LayoutOf(block, chipType));
  };
  if (!KeepsBlockAtFlashHead(chipType) && bridge::FlashRead(path, kFlash48KConfigAddress, block, sizeof block)) {
    if (auto identity = decoded()) return identity;
  }
  if (!bridge::ReadBridgeFlash(path, 0, block, sizeof block)) return std::nullopt;
  return decoded();
}

std::optional<FlashIdentity> ReadStoredIdentity(const char* path, bridge::ChipType chipType) {
  if (IsQvs87x(chipType)) {
    auto settings = std::make_unique<station::SettingsBlock>(station::ZeroedSettingsBlock());
    station::Qvs87xSources sources;
    if (!station::ReadQvs87xIdentity(path, *settings, sources)) return std::nullopt;
    FlashIdentity identity;
    identity.vid = settings->VidValue;
    identity.pid = settings->PidValue;
    identity.manufacturer = StoredText(station::FieldText(settings->StringCText));
    identity.product = StoredText(station::FieldText(settings->StringBText));
    identity.serial = StoredText(station::FieldText(settings->SerialText));
    return identity;
  }
  if (KeepsIdentityImage(chipType)) {
    bridge::StoredIdentity stored;
    if (!bridge::ReadStoredIdentity(path, &stored)) return std::nullopt;
    return FlashIdentity{stored.vid, stored.pid, stored.manufacturer, stored.product,
                         stored.serial};
  }
  if (KeepsConfigPage(chipType)) return ReadConfigPage(path, chipType);
  if (TakesIdentity(chipType)) return ReadConfigBlock(path, chipType);
  return std::nullopt;
}

// What the product will present after its next reset. A product that holds
// no identity of its own (nothing was ever configured, an internal build,
// a chip that keeps none) presents its firmware's, which the system shows.
std::optional<FlashIdentity> ReadFlashIdentity(const ListedDevice& device) {
  const bridge::ChipType chipType = bridge::IdentifyChipType(device.path.c_str());
  if (chipType == bridge::kChipTypeNone) return std::nullopt;
  if (auto stored = ReadStoredIdentity(device.path.c_str(), chipType)) return stored;
  const std::optional<SystemView> view = ReadSystemView(device);
  if (!view) return std::nullopt;
  return FlashIdentity{view->vid, view->pid, view->manufacturer, view->product, view->serial};
}

int FlashId(const char* path, uint16_t* out, uint16_t FlashIdentity::*field) {
  if (out == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    const std::optional<FlashIdentity> identity = ReadFlashIdentity(d);
    if (!identity) return 0;
    *out = (*identity).*field;
    return 1;
  });
}

int FlashText(const char* path, char* out, std::string FlashIdentity::*field) {
  if (out == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    const std::optional<FlashIdentity> identity = ReadFlashIdentity(d);
    return identity && PutText(out, kTextCapacity, (*identity).*field) ? 1 : 0;
  });
}

}  // namespace
}  // namespace qvfw

extern "C" {

int QV_GetVIDfromFlash(const char* path, uint16_t* vid) {
  QV_TRACE(path, vid);
  return qvfw::FlashId(path, vid, &qvfw::FlashIdentity::vid);
}
int QV_GetPIDfromFlash(const char* path, uint16_t* pid) {
  QV_TRACE(path, pid);
  return qvfw::FlashId(path, pid, &qvfw::FlashIdentity::pid);
}
int QV_GetSNfromFlash(const char* path, char* text) {
  QV_TRACE(path, text);
  return qvfw::FlashText(path, text, &qvfw::FlashIdentity::serial);
}
int QV_GetManuStrfromFlash(const char* path, char* text) {
  QV_TRACE(path, text);
  return qvfw::FlashText(path, text, &qvfw::FlashIdentity::manufacturer);
}
int QV_GetProdStrfromFlash(const char* path, char* text) {
  QV_TRACE(path, text);
  return qvfw::FlashText(path, text, &qvfw::FlashIdentity::product);
}

}  // extern "C"
