#include "sim/identity_image.h"

#include <algorithm>

namespace sim {

namespace {

using L = IdentityLayout;
constexpr uint8_t kStringDescriptorType = 3;
constexpr uint32_t kMaxCharacters = (L::kDescriptorSlot - 2) / 2;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// A string descriptor in its slot: bLength 2..64 and even, type 3. UTF-16
// units outside 8-bit text read as '?'.
bool DecodeDescriptor(const uint8_t* slot, std::string* out) {
  const uint32_t length = slot[0];
  if (slot[1] != kStringDescriptorType || length < 2 || length > L::kDescriptorSlot ||
      length % 2 != 0)
    return false;
  out->clear();
  for (uint32_t i = 2; i < length; i += 2) {
    const uint16_t unit = Le16(slot + i);
    out->push_back(unit < 0x100 ? static_cast<char>(unit) : '?');
  }
  return true;
}

std::string TrimmedField(const uint8_t* p, size_t n) {
  std::string text(reinterpret_cast<const char*>(p), n);
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  const size_t last = text.find_last_not_of(' ');
  text.resize(last == std::string::npos ? 0 : last + 1);
  return text;
}

bool Erased(const uint8_t* p, size_t n) {
  return std::all_of(p, p + n, [](uint8_t b) { return b == 0xFF; });
}

void EncodeDescriptor(const std::string& text, uint8_t* slot) {
  std::fill(slot, slot + L::kDescriptorSlot, 0);
  const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(text.size()), kMaxCharacters);
  slot[0] = static_cast<uint8_t>(2 * n + 2);
  slot[1] = kStringDescriptorType;
  for (uint32_t i = 0; i < n; ++i) slot[2 + 2 * i] = static_cast<uint8_t>(text[i]);
}

void EncodeInquiry(const DeviceIdentity& id, uint8_t* field) {
  std::fill(field, field + L::kInquiryField, ' ');
  std::copy_n(id.inquiryVendor.begin(), std::min<size_t>(id.inquiryVendor.size(), L::kInquiryVendor),
              field);
  const size_t productWidth = L::kInquiryField - L::kInquiryVendor;
  std::copy_n(id.inquiryProduct.begin(), std::min(id.inquiryProduct.size(), productWidth),
              field + L::kInquiryVendor);
}

}  // namespace

DeviceIdentity DecodeIdentityImage(const uint8_t* image, size_t size,
                                   const DeviceIdentity& fallback) {
  DeviceIdentity id = fallback;
  if (image == nullptr || size < L::kImageSize) return id;
  if (const uint16_t vid = Le16(image + L::kVid); vid != 0xFFFF) id.vid = vid;
  if (const uint16_t pid = Le16(image + L::kPid); pid != 0xFFFF) id.pid = pid;
  std::string text;
  if (DecodeDescriptor(image + L::kManufacturer, &text)) id.manufacturer = text;
  if (DecodeDescriptor(image + L::kProduct, &text)) id.product = text;
  const uint8_t serialFlag = image[L::kSerialFlag];
  if (serialFlag == L::kWithoutSerial)
    id.serial.clear();
  else if (serialFlag == L::kWithSerial && DecodeDescriptor(image + L::kSerial, &text))
    id.serial = text;
  const uint8_t* inquiry = image + L::kInquiry;
  if (!Erased(inquiry, L::kInquiryField)) {
    id.inquiryVendor = TrimmedField(inquiry, L::kInquiryVendor);
    id.inquiryProduct =
        TrimmedField(inquiry + L::kInquiryVendor, L::kInquiryField - L::kInquiryVendor);
  }
  return id;
}

void EncodeIdentityImage(const DeviceIdentity& identity, uint8_t* image, size_t size) {
  if (image == nullptr || size < L::kImageSize) return;
  image[L::kVid] = static_cast<uint8_t>(identity.vid);
  image[L::kVid + 1] = static_cast<uint8_t>(identity.vid >> 8);
  image[L::kPid] = static_cast<uint8_t>(identity.pid);
  image[L::kPid + 1] = static_cast<uint8_t>(identity.pid >> 8);
  image[L::kSerialFlag] = identity.serial.empty() ? L::kWithoutSerial : L::kWithSerial;
  EncodeDescriptor(identity.manufacturer, image + L::kManufacturer);
  EncodeDescriptor(identity.product, image + L::kProduct);
  EncodeDescriptor(identity.serial, image + L::kSerial);
  EncodeInquiry(identity, image + L::kInquiry);
  EncodeInquiry(identity, image + L::kInquiry2);
}

}  // namespace sim
