// The identity configuration image of the other flash family (64 KB at
// flash 0): where its USB ids, string descriptors and INQUIRY texts stand,
// how a bridge reads its identity out of it at power-on, and how a factory
// image carries the identity a bench product starts with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

// Offsets into the image; numbers little-endian.
struct IdentityLayout {
  static constexpr uint32_t kImageSize = 0x10000;
  static constexpr uint32_t kVid = 0x4008;
  static constexpr uint32_t kPid = 0x400A;
  static constexpr uint32_t kSerialFlag = 0x4010;  // 3: a serial string, 5: none
  static constexpr uint32_t kManufacturer = 0x40A0;
  static constexpr uint32_t kProduct = 0x40E0;
  static constexpr uint32_t kSerial = 0x4120;
  static constexpr uint32_t kDescriptorSlot = 64;
  static constexpr uint32_t kInquiry = 0x4160;    // vendor 8 + product 16, space-filled
  static constexpr uint32_t kInquiry2 = 0x417C;
  static constexpr uint32_t kInquiryField = 24;
  static constexpr uint32_t kInquiryVendor = 8;
  static constexpr uint8_t kWithSerial = 3;
  static constexpr uint8_t kWithoutSerial = 5;
};

// What a bridge presents on the bus: its device and string descriptors
// and its INQUIRY texts. An empty serial: the device has no serial string.
struct DeviceIdentity {
  uint16_t vid = 0;
  uint16_t pid = 0;
  std::string manufacturer;
  std::string product;
  std::string serial;
  std::string inquiryVendor;    // INQUIRY bytes 8-15, trailing spaces dropped
  std::string inquiryProduct;   // bytes 16-31
  std::string inquiryRevision;  // bytes 32-35: the firmware's, not in the image

  bool operator==(const DeviceIdentity&) const = default;
};

// The identity a bridge reads from `image` (at least kImageSize bytes are
// looked at when there; a shorter image has no identity). Each field that
// the image does not hold in a usable form (erased VID, a slot that is not a
// string descriptor, an erased INQUIRY field) keeps the value of `fallback`,
// as a firmware keeps its built-in default.
DeviceIdentity DecodeIdentityImage(const uint8_t* image, size_t size,
                                   const DeviceIdentity& fallback);

// Writes `identity` into the fields of an image of at least kImageSize bytes
// (texts cut to their slots: 31 characters, 8 + 16 INQUIRY characters);
// both INQUIRY fields get the same texts. Other bytes stay as they are.
void EncodeIdentityImage(const DeviceIdentity& identity, uint8_t* image, size_t size);

}  // namespace sim
