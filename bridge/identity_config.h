// The USB identity (vendor and product id, the three USB strings) and the
// INQUIRY texts of the other flash family's bridges, kept in a 64 KB
// configuration image at flash 0: building its fields and rewriting it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bridge/loaded_image.h"

namespace bridge {

inline constexpr uint32_t kIdentityImageSize = 0x10000;

// Identity fields in the image; numbers little-endian.
inline constexpr uint32_t kImageVendorId = 0x4008;
inline constexpr uint32_t kImageProductId = 0x400A;
inline constexpr uint32_t kImageSerialMark = 0x4010;  // 3 with a serial string, else 5
inline constexpr uint32_t kImageManufacturerString = 0x40A0;
inline constexpr uint32_t kImageProductString = 0x40E0;
inline constexpr uint32_t kImageSerialString = 0x4120;
inline constexpr uint32_t kImageInquiry1 = 0x4160;
inline constexpr uint32_t kImageInquiry2 = 0x417C;

inline constexpr uint8_t kSerialMarkPresent = 3;
inline constexpr uint8_t kSerialMarkAbsent = 5;

inline constexpr size_t kStringSlotSize = 64;
inline constexpr size_t kStringMaxCharacters = 31;
inline constexpr size_t kInquiryFieldSize = 24;
inline constexpr size_t kInquiryVendorSize = 8;
inline constexpr size_t kInquiryProductSize = 16;

inline constexpr std::string_view kDefaultProductString = "USB to ATA/ATAPI bridge";
inline constexpr std::string_view kMakerManufacturer = "Orvanta";

// What the port worker hands over; texts are fixed-width and NUL-terminated
// unless they fill their field.
struct IdentityRecord {
  char vid[10] = {};  // hexadecimal, with or without "0x"
  char pid[10] = {};
  char manufacturer[70] = {};
  char product[70] = {};
  char serial[70] = {};
  // The maker's own manufacturer string, and INQUIRY texts from the
  // manufacturer text.
  bool makerStrings = false;
};

// A 64-byte USB string descriptor slot: length 2n + 2, type 3, n UTF-16LE
// characters (n at most 31), the rest 0.
void BuildStringDescriptor(uint8_t* slot, std::string_view text);

// An INQUIRY vendor-and-product field, space-filled: the first word and its
// space (at most 8 characters) at the start, the words after it at byte 8.
void BuildInquiryField(uint8_t* field, std::string_view text, size_t fieldLength);

// 1 when every byte is 0xFF.
[[nodiscard]] int IsBlank(const uint8_t* bytes, size_t length);

// Byte 8 (the configuration type) of the firmware's configuration block,
// read into `record` of `length` bytes; 0 when it cannot be read.
[[nodiscard]] int ReadConfigTypeByte(const char* devicePath, uint8_t* record, uint32_t length);

// VID or PID text as hexadecimal, "0x" optional; false when it is not a
// 16-bit hexadecimal number.
[[nodiscard]] bool ParseHexId(std::string_view text, uint16_t* value);

// Rewrites the 64 KB image: from the loaded image (at most 64 KB of it,
// 0xFF beyond) or from what the device holds, with the given identity or
// the device's own. Nothing is erased before both ids parse and both
// sources are in hand. A family of -1 or 255 is family 0.
[[nodiscard]] int ProgramIdentityConfig(const char* devicePath, bool identityGiven,
                                        bool useLoadedImage, const IdentityRecord& identity,
                                        int flashFamily, const LoadedImage& image);

// The identity the 64 KB image in the product's flash holds, as the
// bridge would present it: ids, and the texts of the three string
// descriptors (a slot that is no string descriptor, and the serial when the
// mark says there is none, read empty).
struct StoredIdentity {
  uint16_t vid = 0;
  uint16_t pid = 0;
  std::string manufacturer;
  std::string product;
  std::string serial;
};
// 0 when the image cannot be read or is blank.
[[nodiscard]] int ReadStoredIdentity(const char* devicePath, StoredIdentity* identity);

}  // namespace bridge
