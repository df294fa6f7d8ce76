// The identity as the product's flash stores it, which a write changes at
// once and the system shows only after the next reset: a QVS87x product's
// buffer 1 and INQUIRY page C3, the identity image of the family that keeps
// one. Other families have no route here and answer 0.
#include <string>

#include "bridge/chip_identification.h"
#include "bridge/identity_config.h"
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
    identity.manufacturer = station::FieldText(settings->StringCText);
    identity.product = station::FieldText(settings->StringBText);
    identity.serial = station::FieldText(settings->SerialText);
    return identity;
  }
  if (KeepsIdentityImage(chipType)) {
    bridge::StoredIdentity stored;
    if (!bridge::ReadStoredIdentity(path, &stored)) return std::nullopt;
    return FlashIdentity{stored.vid, stored.pid, stored.manufacturer, stored.product,
                         stored.serial};
  }
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
