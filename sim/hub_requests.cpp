// Hub requests on a hub handle: node and port information, descriptors
// from the device on a port, connection and driver-key names.
#include <algorithm>
#include <cstring>

#include "platform/usb_ioctl.h"
#include "sim/usb_topology.h"

namespace sim {
namespace {

// UTF-8 (bench files) to the UTF-16 of string descriptors; a bad byte is U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<uint8_t>(text[i]);
    uint32_t cp = 0xFFFD;
    size_t n = 1;
    if (b < 0x80) cp = b;
    else if ((b & 0xE0) == 0xC0) n = 2, cp = b & 0x1F;
    else if ((b & 0xF0) == 0xE0) n = 3, cp = b & 0x0F;
    else if ((b & 0xF8) == 0xF0) n = 4, cp = b & 0x07;
    if (n > 1) {
      if (i + n > text.size()) n = 1, cp = 0xFFFD;
      for (size_t k = 1; k < n; ++k) {
        const auto c = static_cast<uint8_t>(text[i + k]);
        if ((c & 0xC0) != 0x80) {
          n = k;
          cp = 0xFFFD;
          break;
        }
        cp = (cp << 6) | (c & 0x3F);
      }
    }
    i += n;
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp > 0xFFFF ? 0xFFFD : cp));
    }
  }
  return out;
}

// What a port shows, gathered for one request.
struct PortView {
  bool connected = false;
  bool isHub = false;
  UsbSpeed speed = UsbSpeed::Full;
  UsbSpeed maxSpeed = UsbSpeed::Full;
  uint16_t address = 0;
  platform::UsbDeviceDescriptor descriptor{};
  const std::vector<uint16_t>* languages = nullptr;
  std::string strings[4];  // by string index 1-3
  std::string driverKey;
  std::string connectionName;
  uint32_t openPipes = 0;
};

platform::UsbDeviceDescriptor MakeDescriptor(uint16_t vid, uint16_t pid, uint8_t deviceClass,
                                             UsbSpeed speed, UsbSpeed maxSpeed,
                                             const std::string strings[4]) {
  platform::UsbDeviceDescriptor d{};
  d.bLength = sizeof d;
  d.bDescriptorType = 1;
  d.bcdUSB = maxSpeed >= UsbSpeed::Super
                 ? (speed == UsbSpeed::SuperPlus ? 0x0320 : speed == UsbSpeed::Super ? 0x0300 : 0x0210)
                 : (maxSpeed == UsbSpeed::High ? 0x0200 : 0x0110);
  d.bDeviceClass = deviceClass;
  d.bMaxPacketSize0 = speed >= UsbSpeed::Super ? 9 : speed == UsbSpeed::Low ? 8 : 64;
  d.idVendor = vid;
  d.idProduct = pid;
  d.bcdDevice = 0x0100;
  d.iManufacturer = strings[1].empty() ? 0 : 1;
  d.iProduct = strings[2].empty() ? 0 : 2;
  d.iSerialNumber = strings[3].empty() ? 0 : 3;
  d.bNumConfigurations = 1;
  return d;
}

const std::vector<uint16_t> kHubLanguages = {0x0409};

// Writes a UTF-16 name record (connection name, driver key name): the port,
// the bytes the whole record needs, then the name when it fits; a buffer too
// small for it gets the header and an empty name, as the hub driver does.
bool NameReply(uint32_t port, const std::string& name, void* out, uint32_t outSize,
               uint32_t* returned, uint32_t* error) {
  constexpr uint32_t kHeader = 8, kMinimum = 10;
  if (out == nullptr || outSize < kMinimum) {
    *error = platform::kErrorInsufficientBuffer;
    return false;
  }
  const std::u16string wide = Utf8ToUtf16(name);
  const auto needed = static_cast<uint32_t>(kHeader + (wide.size() + 1) * sizeof(char16_t));
  auto* bytes = static_cast<uint8_t*>(out);
  std::memcpy(bytes, &port, 4);
  std::memcpy(bytes + 4, &needed, 4);
  if (outSize >= needed) {
    std::memcpy(bytes + kHeader, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
    *returned = needed;
  } else {
    std::memset(bytes + kHeader, 0, 2);
    *returned = kMinimum;
  }
  return true;
}

}  // namespace

bool UsbTopology::HubRequest(const UsbHub& hub, uint32_t code, const void* in, uint32_t inSize, void* out,
                       uint32_t outSize, uint32_t* returned, uint32_t* error) const {
  using namespace platform;
  if (code == kIoctlUsbGetNodeInformation) {
    if (out == nullptr || outSize < sizeof(UsbNodeInformation)) {
      *error = kErrorInsufficientBuffer;
      return false;
    }
    UsbNodeInformation info{};
    info.NodeType = 0;
    info.HubDescriptor.bDescriptorLength = 9;
    info.HubDescriptor.bDescriptorType = hub.cap >= UsbSpeed::Super ? 0x2A : 0x29;
    info.HubDescriptor.bNumberOfPorts = static_cast<uint8_t>(hub.ports.size());
    info.HubDescriptor.wHubCharacteristics = 0x0009;
    info.HubDescriptor.bPowerOnToPowerGood = 50;
    info.HubIsBusPowered = 0;
    std::memcpy(out, &info, sizeof info);
    *returned = sizeof info;
    return true;
  }
  const bool known = code == kIoctlUsbGetNodeConnectionInformation ||
                     code == kIoctlUsbGetNodeConnectionInformationEx ||
                     code == kIoctlUsbGetDescriptorFromNodeConnection ||
                     code == kIoctlUsbGetNodeConnectionName ||
                     code == kIoctlUsbGetNodeConnectionDriverKeyName ||
                     code == kIoctlUsbGetNodeConnectionInformationExV2;
  if (!known) {
    *error = kErrorInvalidParameter;
    return false;
  }
  if (code == kIoctlUsbGetNodeConnectionInformationExV2 && !system_.AtLeast(6, 2)) {
    *error = kErrorNotSupported;  // the request came with Windows 8
    return false;
  }
  uint32_t port = 0;
  if (in == nullptr || inSize < sizeof port) {
    *error = kErrorInvalidParameter;
    return false;
  }
  std::memcpy(&port, in, sizeof port);
  if (port < 1 || port > hub.ports.size()) {
    *error = kErrorInvalidParameter;
    return false;
  }

  const PortSlot& slot = hub.ports[port - 1];
  PortView v;
  v.address = slot.address;
  switch (slot.kind) {
    case Attached::Product: {
      Product& p = *products_[slot.index];
      v.connected = p.Online() && p.ShowsOn(port);
      v.speed = p.speed();
      v.maxSpeed = p.maxSpeed();
      v.languages = &p.config().placement.languages;
      const DeviceIdentity identity = p.PresentedIdentity();
      v.strings[1] = identity.manufacturer;
      v.strings[2] = identity.product;
      v.strings[3] = identity.serial;
      v.descriptor = MakeDescriptor(identity.vid, identity.pid, 0, v.speed, v.maxSpeed, v.strings);
      v.driverKey = tree_[p.usbNode()].driverKey;
      v.openPipes = 2;
      break;
    }
    case Attached::Device: {
      const UsbDevice& d = *devices_[slot.index];
      v.connected = d.Online();
      v.speed = d.speed();
      v.maxSpeed = d.speed();
      v.languages = &d.config().languages;
      v.strings[1] = d.config().manufacturer;
      v.strings[2] = d.config().product;
      v.strings[3] = d.config().serial;
      v.descriptor = MakeDescriptor(d.config().vid, d.config().pid, d.config().deviceClass, v.speed,
                                    v.maxSpeed, v.strings);
      v.driverKey = tree_[d.node()].driverKey;
      v.openPipes = 1;
      break;
    }
    case Attached::Hub: {
      const UsbHub& child = *hubs_[slot.index];
      v.connected = true;
      v.isHub = true;
      v.speed = v.maxSpeed = child.cap;
      v.languages = &kHubLanguages;
      v.strings[1] = "Kestrova Sim";
      v.strings[2] = "USB Hub";
      v.descriptor = MakeDescriptor(child.config.vid, child.config.pid, 9, v.speed, v.maxSpeed, v.strings);
      v.driverKey = child.driverKey;
      v.connectionName = child.connectionName;
      v.openPipes = 1;
      break;
    }
    case Attached::None:
      break;
  }
  switch (code) {
    case kIoctlUsbGetNodeConnectionInformation:
    case kIoctlUsbGetNodeConnectionInformationEx: {
      const bool ex = code == kIoctlUsbGetNodeConnectionInformationEx;
      const uint32_t size = ex ? sizeof(UsbNodeConnectionInformationEx) : sizeof(UsbNodeConnectionInformation);
      if (out == nullptr || outSize < size) {
        *error = kErrorInsufficientBuffer;
        return false;
      }
      UsbNodeConnectionInformationEx info{};  // the two share their layout up to the pipes
      info.ConnectionIndex = port;
      if (v.connected) {
        info.DeviceDescriptor = v.descriptor;
        info.CurrentConfigurationValue = 1;
        info.Speed = ex ? static_cast<uint8_t>(std::min(v.speed, UsbSpeed::Super))
                        : static_cast<uint8_t>(v.speed == UsbSpeed::Low);
        info.DeviceIsHub = v.isHub;
        info.DeviceAddress = v.address;
        info.NumberOfOpenPipes = v.openPipes;
        info.ConnectionStatus = kUsbDeviceConnected;
      } else {
        info.ConnectionStatus = kUsbNoDeviceConnected;
      }
      std::memset(out, 0, size);
      std::memcpy(out, &info, std::min<size_t>(size, sizeof info));
      *returned = size;
      return true;
    }
    case kIoctlUsbGetNodeConnectionInformationExV2: {
      UsbNodeConnectionInformationExV2 request{};
      if (inSize < sizeof request || out == nullptr || outSize < sizeof request) {
        *error = kErrorInsufficientBuffer;
        return false;
      }
      std::memcpy(&request, in, sizeof request);
      if (request.Length < sizeof request) {
        *error = kErrorInvalidParameter;
        return false;
      }
      const uint32_t asked = request.SupportedUsbProtocols;
      request.SupportedUsbProtocols = hub.cap >= UsbSpeed::Super
                                          ? (kUsbProtocol110 | kUsbProtocol200 | kUsbProtocol300)
                                          : (hub.cap == UsbSpeed::High ? (kUsbProtocol110 | kUsbProtocol200)
                                                                       : kUsbProtocol110);
      request.Flags = 0;
      if (v.connected && (asked & kUsbProtocol300)) {
        if (v.speed >= UsbSpeed::Super) request.Flags |= kUsbDeviceIsOperatingAtSuperSpeedOrHigher;
        if (v.maxSpeed >= UsbSpeed::Super) request.Flags |= kUsbDeviceIsSuperSpeedCapableOrHigher;
        if (v.speed == UsbSpeed::SuperPlus) request.Flags |= kUsbDeviceIsOperatingAtSuperSpeedPlusOrHigher;
        if (v.maxSpeed == UsbSpeed::SuperPlus) request.Flags |= kUsbDeviceIsSuperSpeedPlusCapableOrHigher;
      }
      std::memcpy(out, &request, sizeof request);
      *returned = sizeof request;
      return true;
    }
    case kIoctlUsbGetDescriptorFromNodeConnection: {
      if (inSize < kUsbDescriptorRequestHeader || out == nullptr || outSize < kUsbDescriptorRequestHeader) {
        *error = kErrorInsufficientBuffer;
        return false;
      }
      if (!v.connected) {
        *error = kErrorDeviceNotConnected;
        return false;
      }
      UsbSetupPacket setup{};
      std::memcpy(&setup, static_cast<const uint8_t*>(in) + 4, sizeof setup);
      const uint8_t type = static_cast<uint8_t>(setup.wValue >> 8), index = static_cast<uint8_t>(setup.wValue);
      std::vector<uint8_t> descriptor;
      if (setup.bmRequest != 0x80 || setup.bRequest != 6) {
        *error = kErrorGenFailure;  // the device stalls other requests
        return false;
      }
      if (type == 1 && index == 0) {
        const auto* d = reinterpret_cast<const uint8_t*>(&v.descriptor);
        descriptor.assign(d, d + sizeof v.descriptor);
      } else if (type == 3 && index == 0) {
        descriptor = {static_cast<uint8_t>(2 + 2 * std::min<size_t>(v.languages->size(), 126)), 3};
        for (size_t i = 0; i < v.languages->size() && i < 126; ++i) {
          descriptor.push_back(static_cast<uint8_t>((*v.languages)[i]));
          descriptor.push_back(static_cast<uint8_t>((*v.languages)[i] >> 8));
        }
      } else if (type == 3 && index <= 3 && !v.strings[index].empty()) {
        std::u16string text = Utf8ToUtf16(v.strings[index]);
        text.resize(std::min<size_t>(text.size(), 126));  // bLength is one byte
        descriptor = {static_cast<uint8_t>(2 + 2 * text.size()), 3};
        for (char16_t c : text) {
          descriptor.push_back(static_cast<uint8_t>(c));
          descriptor.push_back(static_cast<uint8_t>(c >> 8));
        }
      } else {
        *error = kErrorGenFailure;  // no such descriptor: the device stalls
        return false;
      }
      const size_t n = std::min<size_t>({descriptor.size(), setup.wLength, outSize - kUsbDescriptorRequestHeader});
      auto* bytes = static_cast<uint8_t*>(out);
      std::memmove(bytes, in, kUsbDescriptorRequestHeader);  // in and out are often one buffer
      std::memcpy(bytes + kUsbDescriptorRequestHeader, descriptor.data(), n);
      *returned = static_cast<uint32_t>(kUsbDescriptorRequestHeader + n);
      return true;
    }
    case kIoctlUsbGetNodeConnectionName:
      if (!v.connected || !v.isHub) {
        *error = kErrorInvalidParameter;
        return false;
      }
      return NameReply(port, v.connectionName, out, outSize, returned, error);
    case kIoctlUsbGetNodeConnectionDriverKeyName:
      if (!v.connected) {
        *error = kErrorDeviceNotConnected;
        return false;
      }
      return NameReply(port, v.driverKey, out, outSize, returned, error);
    default:
      *error = kErrorInvalidParameter;
      return false;
  }
}

}  // namespace sim
