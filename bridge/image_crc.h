// The QVS87x product image (ChipTypes 21-24): two 128 KB banks, each sealed
// with CRC-32 checksums that the bridge checks before it runs a bank, and
// carrying the product's identity texts. Everything here works in memory on
// the image buffer; all stored values are big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace bridge {

inline constexpr size_t kBankSize = 0x20000;
inline constexpr size_t kBankCount = 2;
inline constexpr size_t kDualBankImageSize = kBankSize * kBankCount;

// Offsets inside one bank.
inline constexpr size_t kBankHeaderMark = 0x200;
inline constexpr size_t kBankHeaderZero = 0x204;
inline constexpr size_t kBankHeaderChecksumCopy = 0x208;
inline constexpr size_t kBankHeaderCrc = 0x3FC;
inline constexpr size_t kBankOptionByte = 0x600;
inline constexpr size_t kBankText8 = 0x610;
inline constexpr size_t kBankText16 = 0x618;
inline constexpr size_t kBankFirstString = 0x628;
inline constexpr size_t kBankSecondString = 0x648;
inline constexpr size_t kBankIdentityCrcStart = 0x400;
inline constexpr size_t kBankIdentityCrc = 0x7FC;
inline constexpr size_t kBankChecksum = 0x1FFFC;

inline constexpr uint8_t kBankHeaderMarkBytes[4] = {0x5A, 0xC3, 0x69, 0xE1};
inline constexpr size_t kBankStringFieldSize = 32;
// The string's terminating zero stays inside its 32-byte field.
inline constexpr size_t kMaxBankStringLength = 29;
inline constexpr uint8_t kStringDescriptorType = 3;

// CRC-32 over whole 4-byte groups of data[0..length) (a shorter tail is
// ignored): polynomial 0x04C11DB7, register 0xFFFFFFFF shifting left, no final
// XOR; each group read as a little-endian word and fed from its most
// significant byte, each byte least significant bit first. "abcd" gives
// 0xA4B608B2; an empty input gives 0xFFFFFFFF.
[[nodiscard]] uint32_t ImageCrc32(const uint8_t* data, size_t length);

// Header mark, zero word, copy of the bank checksum and the header CRC of
// both banks of a kDualBankImageSize image.
void StampBankHeaders(uint8_t* image);

// The identity fields of bank 0 and, unless firstBankOnly (the CLONE
// product), of bank 1, then the identity CRC and the bank checksum of each
// bank written. Texts longer than their field are cut to it (the strings to
// kMaxBankStringLength); the flags count as 0 or 1. Call it before
// StampBankHeaders, which copies the fresh bank checksum into the header.
void FillImageIdentity(uint8_t* image, std::string_view text8, std::string_view text16,
                       std::string_view firstString, std::string_view secondString,
                       int firstFlag, int secondFlag, bool firstBankOnly);

}  // namespace bridge
