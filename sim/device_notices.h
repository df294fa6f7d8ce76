// The device-change notices the system sends as devices and volumes come and
// go, in the bursts a real system sends them: a product's arrival announces
// its USB device, then its disk, then each volume, every step with a notice
// that the device tree changed; its departure takes them back in the
// reverse order. Windows registered for the disk interface class see the
// disk's notices; every window sees the volume and tree notices.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/device_setup.h"

namespace sim {

class Product;
class UsbDevice;

// What the system announces of a product on the bus.
struct ProductPresence {
  std::string usbPath;       // its USB device interface
  std::string storagePath;   // its disk (or CD-ROM) interface; empty while the disk is pending
  platform::Guid storageClass = {};
  uint32_t letters = 0;      // its volumes (bit 0 = A:)
};

// As the product shows now, whether or not it is on the bus.
ProductPresence PresenceOf(const Product& product);

void AnnounceArrival(const ProductPresence& presence);
void AnnounceDeparture(const ProductPresence& presence);
// A device that is not storage: its USB device interface alone.
void AnnounceUsbDevice(const UsbDevice& device, bool arrived);
// Volumes that went (`arrived` false) or came, one notice per letter.
void AnnounceVolumes(uint32_t letters, bool arrived);

}  // namespace sim
