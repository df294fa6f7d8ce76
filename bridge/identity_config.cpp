#include "bridge/identity_config.h"

#include <algorithm>
#include <cstring>

#include "bridge/ff04_flash_programming.h"
#include "bridge/vendor_commands.h"
#include "platform/byte_order.h"
#include "platform/heap_buffer.h"

namespace bridge {

using platform::HeapBuffer;
using platform::PutLittleEndian16;

namespace {

constexpr uint8_t kStringDescriptorType = 3;
constexpr uint32_t kConfigTypeOffset = 8;

template <size_t N>
std::string_view FieldText(const char (&field)[N]) {
  return {field, strnlen(field, N)};
}

std::string_view WithoutLeadingBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The identity fields that move between images, with their sizes.
struct IdentityField {
  uint32_t offset;
  uint32_t size;
};
constexpr IdentityField kIdentityFields[] = {
    {kImageVendorId, 2},
    {kImageProductId, 2},
    {kImageSerialMark, 1},
    {kImageManufacturerString, kStringSlotSize},
    {kImageProductString, kStringSlotSize},
    {kImageSerialString, kStringSlotSize},
    {kImageInquiry1, kInquiryFieldSize},
    {kImageInquiry2, kInquiryFieldSize},
};

void WriteIdentity(uint8_t* image, const IdentityRecord& identity, uint16_t vid, uint16_t pid) {
  PutLittleEndian16(image + kImageVendorId, vid);
  PutLittleEndian16(image + kImageProductId, pid);
  const std::string_view serial = FieldText(identity.serial);
  image[kImageSerialMark] = serial.empty() ? kSerialMarkAbsent : kSerialMarkPresent;

  const std::string_view manufacturer = FieldText(identity.manufacturer);
  std::string_view product = FieldText(identity.product);
  if (product.empty()) product = kDefaultProductString;
  BuildStringDescriptor(image + kImageManufacturerString,
                        identity.makerStrings ? kMakerManufacturer : manufacturer);
  BuildStringDescriptor(image + kImageProductString, product);
  BuildStringDescriptor(image + kImageSerialString, serial);
  if (identity.makerStrings) {
    BuildInquiryField(image + kImageInquiry1, manufacturer, kInquiryFieldSize);
    BuildInquiryField(image + kImageInquiry2, manufacturer, kInquiryFieldSize);
  }
}

bool AllEqual(const uint8_t* a, const uint8_t* b, size_t length) {
  return std::memcmp(a, b, length) == 0;
}

}  // namespace

void BuildStringDescriptor(uint8_t* slot, std::string_view text) {
  std::memset(slot, 0, kStringSlotSize);
  const size_t n = std::min(text.size(), kStringMaxCharacters);
  slot[0] = static_cast<uint8_t>(2 * n + 2);
  slot[1] = kStringDescriptorType;
  for (size_t i = 0; i < n; ++i) slot[2 + 2 * i] = static_cast<uint8_t>(text[i]);
}

void BuildInquiryField(uint8_t* field, std::string_view text, size_t fieldLength) {
  std::memset(field, ' ', fieldLength);
  text = WithoutLeadingBlanks(text);
  text = text.substr(0, fieldLength);
  const size_t space = text.find(' ');
  const std::string_view vendor =
      text.substr(0, space == std::string_view::npos ? kInquiryVendorSize : space + 1);
  std::copy_n(vendor.begin(), std::min({vendor.size(), kInquiryVendorSize, fieldLength}), field);
  if (space == std::string_view::npos || fieldLength <= kInquiryVendorSize) return;
  const std::string_view product =
      WithoutLeadingBlanks(text.substr(space + 1)).substr(0, kInquiryProductSize);
  std::copy_n(product.begin(), std::min(product.size(), fieldLength - kInquiryVendorSize),
              field + kInquiryVendorSize);
}

int IsBlank(const uint8_t* bytes, size_t length) {
  return std::all_of(bytes, bytes + length, [](uint8_t b) { return b == 0xFF; }) ? 1 : 0;
}

int ReadConfigTypeByte(const char* devicePath, uint8_t* record, uint32_t length) {
  if (length <= kConfigTypeOffset || !ReadConfigBlock(devicePath, record, length)) return 0;
  return record[kConfigTypeOffset];
}

bool ParseHexId(std::string_view text, uint16_t* value) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  if (text.empty()) return false;
  // Leading zeros are allowed; a value past 16 bits is refused, never cut.
  uint32_t parsed = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    parsed = parsed * 16 + static_cast<uint32_t>(digit);
    if (parsed > 0xFFFF) return false;
  }
  *value = static_cast<uint16_t>(parsed);
  return true;
}

namespace {

std::string DescriptorText(const uint8_t* slot) {
  if (slot[1] != kStringDescriptorType || slot[0] < 2 || slot[0] > kStringSlotSize) return {};
  std::string text;
  for (size_t i = 2; i + 1 < slot[0]; i += 2) text.push_back(static_cast<char>(slot[i]));
  return text;
}

}  // namespace

int ReadStoredIdentity(const char* devicePath, StoredIdentity* identity) {
  if (identity == nullptr) return 0;
  HeapBuffer image(kIdentityImageSize);
  if (!image.valid() || !FlashCmd05(devicePath) ||
      !FlashRead32(devicePath, 0, image.data(), kIdentityImageSize) ||
      IsBlank(image.data(), kIdentityImageSize)) {
    return 0;
  }
  const uint8_t* data = image.data();
  identity->vid = platform::GetLittleEndian16(data + kImageVendorId);
  identity->pid = platform::GetLittleEndian16(data + kImageProductId);
  identity->manufacturer = DescriptorText(data + kImageManufacturerString);
  identity->product = DescriptorText(data + kImageProductString);
  identity->serial = data[kImageSerialMark] == kSerialMarkPresent
                         ? DescriptorText(data + kImageSerialString)
                         : std::string();
  return 1;
}

int ProgramIdentityConfig(const char* devicePath, bool identityGiven, bool useLoadedImage,
                          const IdentityRecord& identity, int flashFamily,
                          const LoadedImage& image) {
  uint16_t vid = 0;
  uint16_t pid = 0;
  if (identityGiven &&
      (!ParseHexId(FieldText(identity.vid), &vid) || !ParseHexId(FieldText(identity.pid), &pid)))
    return 0;
  if (useLoadedImage && !image.loaded()) return 0;
  const int family = FlashFamilyOf(flashFamily);

  HeapBuffer newImage(kIdentityImageSize);
  HeapBuffer device(kIdentityImageSize);
  if (!newImage.valid() || !device.valid()) return 0;
  if (!FlashCmd05(devicePath)) return 0;
  // The device's image is read whatever the source: it supplies the identity
  // or the whole image, and nothing is erased before it is in hand.
  if (!FlashRead32(devicePath, 0, device.data(), kIdentityImageSize)) return 0;
  const bool deviceBlank = IsBlank(device.data(), kIdentityImageSize);

  if (useLoadedImage) {
    std::memset(newImage.data(), 0xFF, kIdentityImageSize);
    std::memcpy(newImage.data(), image.data, std::min(image.length, kIdentityImageSize));
  } else {
    std::memcpy(newImage.data(), device.data(), kIdentityImageSize);
  }
  if (identityGiven) {
    WriteIdentity(newImage.data(), identity, vid, pid);
  } else if (!deviceBlank) {
    for (const IdentityField& field : kIdentityFields)
      std::memcpy(newImage.data() + field.offset, device.data() + field.offset, field.size);
  }

  if (!FlashSetType(devicePath, family) || !FlashCmd01(devicePath)) return 0;
  if (!WaitFlashIdle(devicePath) || !WaitFlashIdle(devicePath)) return 0;
  std::memset(device.data(), 0, kIdentityImageSize);
  if (!FlashRead32(devicePath, 0, device.data(), kIdentityImageSize) ||
      !IsBlank(device.data(), kIdentityImageSize))
    return 0;

  if (!FlashUnlockWrite(devicePath, newImage.data(), kIdentityImageSize, family) ||
      !WaitFlashIdle(devicePath))
    return 0;
  std::memset(device.data(), 0, kIdentityImageSize);
  if (!FlashRead32(devicePath, 0, device.data(), kIdentityImageSize)) return 0;
  return AllEqual(device.data(), newImage.data(), kIdentityImageSize) ? 1 : 0;
}

}  // namespace bridge
