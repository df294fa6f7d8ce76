// USB hub requests, sent with DeviceIoControl on a hub opened by its path.
// The records are packed, byte for byte as the requests carry them.
#pragma once

#include <cstdint>

namespace platform {

inline constexpr uint32_t kIoctlUsbGetNodeInformation = 0x220408;
inline constexpr uint32_t kIoctlUsbGetNodeConnectionInformation = 0x22040C;
inline constexpr uint32_t kIoctlUsbGetDescriptorFromNodeConnection = 0x220410;
inline constexpr uint32_t kIoctlUsbGetNodeConnectionName = 0x220414;
inline constexpr uint32_t kIoctlUsbGetNodeConnectionDriverKeyName = 0x220420;
inline constexpr uint32_t kIoctlUsbGetNodeConnectionInformationEx = 0x220448;
inline constexpr uint32_t kIoctlUsbGetNodeConnectionInformationExV2 = 0x22045C;

// Connection status.
inline constexpr uint32_t kUsbNoDeviceConnected = 0;
inline constexpr uint32_t kUsbDeviceConnected = 1;

// Speed byte of the EX query.
inline constexpr uint8_t kUsbLowSpeed = 0;
inline constexpr uint8_t kUsbFullSpeed = 1;
inline constexpr uint8_t kUsbHighSpeed = 2;
inline constexpr uint8_t kUsbSuperSpeed = 3;

// EX V2: protocols asked for and flags answered.
inline constexpr uint32_t kUsbProtocol110 = 0x1;
inline constexpr uint32_t kUsbProtocol200 = 0x2;
inline constexpr uint32_t kUsbProtocol300 = 0x4;
inline constexpr uint32_t kUsbDeviceIsOperatingAtSuperSpeedOrHigher = 0x1;
inline constexpr uint32_t kUsbDeviceIsSuperSpeedCapableOrHigher = 0x2;
inline constexpr uint32_t kUsbDeviceIsOperatingAtSuperSpeedPlusOrHigher = 0x4;
inline constexpr uint32_t kUsbDeviceIsSuperSpeedPlusCapableOrHigher = 0x8;

#pragma pack(push, 1)

struct UsbDeviceDescriptor {
  uint8_t bLength;
  uint8_t bDescriptorType;
  uint16_t bcdUSB;
  uint8_t bDeviceClass;
  uint8_t bDeviceSubClass;
  uint8_t bDeviceProtocol;
  uint8_t bMaxPacketSize0;
  uint16_t idVendor;
  uint16_t idProduct;
  uint16_t bcdDevice;
  uint8_t iManufacturer;
  uint8_t iProduct;
  uint8_t iSerialNumber;
  uint8_t bNumConfigurations;
};
static_assert(sizeof(UsbDeviceDescriptor) == 18);

struct UsbHubDescriptor {
  uint8_t bDescriptorLength;
  uint8_t bDescriptorType;
  uint8_t bNumberOfPorts;
  uint16_t wHubCharacteristics;
  uint8_t bPowerOnToPowerGood;
  uint8_t bHubControlCurrent;
  uint8_t bRemoveAndPowerMask[64];
};

// 76 bytes; the hub's number of ports is what the walk uses.
struct UsbNodeInformation {
  uint32_t NodeType;  // 0 hub
  UsbHubDescriptor HubDescriptor;
  uint8_t HubIsBusPowered;
};
static_assert(sizeof(UsbNodeInformation) == 76);

// 388 bytes; ConnectionIndex (the port) is filled in by the caller.
struct UsbNodeConnectionInformation {
  uint32_t ConnectionIndex;
  UsbDeviceDescriptor DeviceDescriptor;
  uint8_t CurrentConfigurationValue;
  uint8_t LowSpeed;
  uint8_t DeviceIsHub;
  uint16_t DeviceAddress;
  uint32_t NumberOfOpenPipes;
  uint32_t ConnectionStatus;
  uint8_t PipeList[353];  // open pipes; not read by the station
};
static_assert(sizeof(UsbNodeConnectionInformation) == 388);

// 384 bytes; Speed is one of the kUsb*Speed codes.
struct UsbNodeConnectionInformationEx {
  uint32_t ConnectionIndex;
  UsbDeviceDescriptor DeviceDescriptor;
  uint8_t CurrentConfigurationValue;
  uint8_t Speed;
  uint8_t DeviceIsHub;
  uint16_t DeviceAddress;
  uint32_t NumberOfOpenPipes;
  uint32_t ConnectionStatus;
  uint8_t PipeList[349];
};
static_assert(sizeof(UsbNodeConnectionInformationEx) == 384);

// 16 bytes.
struct UsbNodeConnectionInformationExV2 {
  uint32_t ConnectionIndex;
  uint32_t Length;                 // 16
  uint32_t SupportedUsbProtocols;  // in: the protocols asked about
  uint32_t Flags;                  // out: kUsbDeviceIs* bits
};
static_assert(sizeof(UsbNodeConnectionInformationExV2) == 16);

struct UsbSetupPacket {
  uint8_t bmRequest;
  uint8_t bRequest;
  uint16_t wValue;
  uint16_t wIndex;
  uint16_t wLength;
};

// A 12-byte header, then the descriptor; the request is 2060 bytes.
struct UsbDescriptorRequest {
  uint32_t ConnectionIndex;
  UsbSetupPacket SetupPacket;
  uint8_t Data[2048];
};
static_assert(sizeof(UsbDescriptorRequest) == 2060);
inline constexpr uint32_t kUsbDescriptorRequestHeader = 12;

// 520 bytes: the name of the hub on a port, UTF-16, without "\\.\".
struct UsbNodeConnectionName {
  uint32_t ConnectionIndex;
  uint32_t ActualLength;  // bytes of the whole record the name needs
  char16_t NodeName[256];
};
static_assert(sizeof(UsbNodeConnectionName) == 520);

// The driver key name of the device on a port, UTF-16; ask with the 10-byte
// record, then again with ActualLength bytes.
struct UsbNodeConnectionDriverKeyName {
  uint32_t ConnectionIndex;
  uint32_t ActualLength;
  char16_t DriverKeyName[1];
};
static_assert(sizeof(UsbNodeConnectionDriverKeyName) == 10);

#pragma pack(pop)

}  // namespace platform
