#include "sim/device_notices.h"

#include <algorithm>

#include "platform/device_notifications.h"
#include "sim/product.h"
#include "sim/usb_device.h"

namespace sim {
namespace {

constexpr const char* kUsbDeviceInterfaceSuffix = "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
constexpr const char* kVolumeInterfaceSuffix = "#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";

// "USB\VID_1D6B&PID_0871\57..." as the interface path the system gives it.
std::string UsbInterfacePath(std::string instanceId) {
  std::replace(instanceId.begin(), instanceId.end(), '\\', '#');
  return "\\\\?\\" + instanceId + kUsbDeviceInterfaceSuffix;
}

std::string VolumeInterfacePath(char letter) {
  return std::string("\\\\?\\STORAGE#Volume#{kestrova-volume}#") + letter + kVolumeInterfaceSuffix;
}

void TreeChanged() { platform::BroadcastDeviceChange(platform::kDbtDevNodesChanged, nullptr); }

void Interface(uint32_t event, const platform::Guid& cls, const std::string& path) {
  platform::DeviceBroadcast b;
  b.deviceType = platform::kDbtDevtypDeviceInterface;
  b.classGuid = cls;
  b.name = path;
  platform::BroadcastDeviceChange(event, &b);
}

void Volume(uint32_t event, char letter) {
  platform::DeviceBroadcast b;
  b.deviceType = platform::kDbtDevtypVolume;
  b.unitMask = 1u << (letter - 'A');
  platform::BroadcastDeviceChange(event, &b);
}

std::vector<char> LettersOf(uint32_t mask) {
  std::vector<char> letters;
  for (int bit = 0; bit < 26; ++bit)
    if (mask & (1u << bit)) letters.push_back(static_cast<char>('A' + bit));
  return letters;
}

}  // namespace

ProductPresence PresenceOf(const Product& product) {
  ProductPresence presence;
  presence.usbPath = UsbInterfacePath(product.usbInstanceId());
  if (!product.DiskPending()) {
    presence.storagePath = product.path();
    presence.storageClass = product.config().placement.cdrom ? platform::kGuidDevInterfaceCdRom
                                                             : platform::kGuidDevInterfaceDisk;
    presence.letters = product.Letters(0) | product.Letters(1);
  }
  return presence;
}

void AnnounceArrival(const ProductPresence& presence) {
  TreeChanged();
  Interface(platform::kDbtDeviceArrival, platform::kGuidDevInterfaceUsbDevice, presence.usbPath);
  if (presence.storagePath.empty()) return;
  TreeChanged();
  Interface(platform::kDbtDeviceArrival, presence.storageClass, presence.storagePath);
  AnnounceVolumes(presence.letters, true);
}

void AnnounceDeparture(const ProductPresence& presence) {
  if (!presence.storagePath.empty()) {
    AnnounceVolumes(presence.letters, false);
    Interface(platform::kDbtDeviceRemoveComplete, presence.storageClass, presence.storagePath);
    TreeChanged();
  }
  Interface(platform::kDbtDeviceRemoveComplete, platform::kGuidDevInterfaceUsbDevice, presence.usbPath);
  TreeChanged();
}

void AnnounceUsbDevice(const UsbDevice& device, bool arrived) {
  TreeChanged();
  Interface(arrived ? platform::kDbtDeviceArrival : platform::kDbtDeviceRemoveComplete,
            platform::kGuidDevInterfaceUsbDevice, UsbInterfacePath(device.instanceId()));
}

void AnnounceVolumes(uint32_t letters, bool arrived) {
  if (letters == 0) return;
  const uint32_t event = arrived ? platform::kDbtDeviceArrival : platform::kDbtDeviceRemoveComplete;
  if (arrived) TreeChanged();
  for (const char letter : LettersOf(letters)) {
    Interface(event, platform::kGuidDevInterfaceVolume, VolumeInterfacePath(letter));
    Volume(event, letter);
  }
  if (!arrived) TreeChanged();
}

}  // namespace sim
