// The identity as the product's flash stores it, which a write changes at
// once and the system shows only after the next reset: a QVS87x product's
// buffer 1 and INQUIRY page C3, the identity image of the family that keeps
// one, the configuration area of the 1 KB families. Other families have no
// route here and answer 0.
#include <algorithm>
#include <cstring>
#include <string>

#include "bridge/chip_identification.h"
#include "bridge/firmware_update.h"
#include "bridge/identity_config.h"
#include "bridge/vendor_commands.h"
#include "platform/byte_order.h"
#include "platform/text.h"
#include "qvfw/device_call.h"
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

constexpr uint32_t kConfigAreaSize = 256;
constexpr uint8_t kStringDescriptorType = 3;
constexpr char kErased = '\xFF';

// A fixed-width field of a QVS87x product: erased flash (a field never
// written) holds no text, and the padding to the field is no part of it.
std::string StoredText(std::string_view field) {
  return std::string(platform::TrimBlanks(field.substr(0, field.find(kErased))));
}

// An 8-bit string descriptor of the area: length byte 2n + 2, type 3, the
// characters; at most `maxChars` of them, cut at a NUL.
std::string AreaDescriptorText(const uint8_t* area, int32_t offset, int32_t maxChars) {
  if (offset <= 0 || offset + 2 > static_cast<int32_t>(kConfigAreaSize)) return {};
  const uint8_t* slot = area + offset;
  if (slot[1] != kStringDescriptorType || slot[0] < 2) return {};
  const size_t room = kConfigAreaSize - static_cast<size_t>(offset) - 2;
  const size_t n = std::min({size_t{slot[0]} / 2 - 1, static_cast<size_t>(maxChars), room});
  const auto* text = reinterpret_cast<const char*>(slot + 2);
  return std::string(text, strnlen(text, n));
}

// The configuration area at the family's address; none without the maker's
// signature in its last two bytes (nothing was ever configured there).
std::optional<FlashIdentity> ReadConfigArea(const char* path, bridge::ChipType chipType) {
  const uint32_t address =
      chipType <= 26 ? bridge::kQvs887ConfigAddress : bridge::kQvs891ConfigAddress;
  uint8_t area[kConfigAreaSize] = {};
  if (!bridge::ReadBridgeFlash(path, address, area, sizeof area) ||
      area[kConfigAreaSize - 2] != 'Q' || area[kConfigAreaSize - 1] != 'V') {
    return std::nullopt;
  }
  const auto& at = LibraryLayout(chipType).offsets;
  FlashIdentity identity;
  identity.vid = platform::GetLittleEndian16(area + at[station::kVidOffset]);
  identity.pid = platform::GetLittleEndian16(area + at[station::kPidOffset]);
  identity.manufacturer =
      AreaDescriptorText(area, at[station::kStringAOffset], at[station::kStringAMax]);
  identity.product = AreaDescriptorText(area, at[station::kStringBOffset], at[station::kStringBMax]);
  identity.serial = AreaDescriptorText(area, at[station::kSerialOffset], at[station::kSerialMax]);
  return identity;
}

std::optional<FlashIdentity> ReadFlashIdentity(const ListedDevice& device) {
  const char* path = device.path.c_str();
  const bridge::ChipType chipType = bridge::IdentifyChipType(path);
  FlashIdentity identity;
  if (IsQvs87x(chipType)) {
    auto settings = std::make_unique<station::SettingsBlock>(station::ZeroedSettingsBlock());
    station::Qvs87xSources sources;
    if (!station::ReadQvs87xIdentity(path, *settings, sources)) return std::nullopt;
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
  if (KeepsConfigArea(chipType)) return ReadConfigArea(path, chipType);
  return std::nullopt;
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
