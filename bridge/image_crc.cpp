#include "bridge/image_crc.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"

namespace bridge {

using platform::PutBigEndian32;

namespace {

// Fills the field, then copies the text cut to the field with its
// terminating zero when that still falls inside the field.
void PutText(uint8_t* field, size_t width, uint8_t fill, std::string_view text) {
  std::memset(field, fill, width);
  const size_t n = std::min(text.size(), width);
  std::memcpy(field, text.data(), n);
  if (n < width) field[n] = 0;
}

void PutString(uint8_t* field, std::string_view text) {
  std::memset(field, 0, kBankStringFieldSize);
  const size_t n = std::min(text.size(), kMaxBankStringLength);
  field[0] = static_cast<uint8_t>(2 * n + 2);
  field[1] = kStringDescriptorType;
  std::memcpy(field + 2, text.data(), n);
}

}  // namespace

uint32_t ImageCrc32(const uint8_t* data, size_t length) {
  constexpr uint32_t kPolynomial = 0x04C11DB7;
  uint32_t crc = 0xFFFFFFFF;
  for (size_t group = 0; group + 4 <= length; group += 4) {
    for (size_t k = 4; k-- > 0;) {
      const uint8_t byte = data[group + k];
      for (int bit = 0; bit < 8; ++bit) {
        const uint32_t feedback = ((byte >> bit) & 1u) ^ (crc >> 31);
        crc <<= 1;
        if (feedback != 0) crc ^= kPolynomial;
      }
    }
  }
  return crc;
}

void StampBankHeaders(uint8_t* image) {
  for (size_t bank = 0; bank < kBankCount; ++bank) {
    uint8_t* b = image + bank * kBankSize;
    std::memcpy(b + kBankHeaderMark, kBankHeaderMarkBytes, sizeof kBankHeaderMarkBytes);
    std::memset(b + kBankHeaderZero, 0, 4);
    std::memmove(b + kBankHeaderChecksumCopy, b + kBankChecksum, 4);
    PutBigEndian32(b + kBankHeaderCrc, ImageCrc32(b, kBankHeaderCrc));
  }
}

void FillImageIdentity(uint8_t* image, std::string_view text8, std::string_view text16,
                       std::string_view firstString, std::string_view secondString,
                       int firstFlag, int secondFlag, bool firstBankOnly) {
  const size_t banks = firstBankOnly ? 1 : kBankCount;
  for (size_t bank = 0; bank < banks; ++bank) {
    uint8_t* b = image + bank * kBankSize;
    const uint8_t fill = bank == 0 ? 0x00 : 0x20;
    b[kBankOptionByte] = static_cast<uint8_t>(2 * (firstFlag != 0) + (secondFlag != 0));
    PutText(b + kBankText8, kBankText16 - kBankText8, fill, text8);
    PutText(b + kBankText16, kBankFirstString - kBankText16, fill, text16);
    PutString(b + kBankFirstString, firstString);
    PutString(b + kBankSecondString, secondString);
    PutBigEndian32(b + kBankIdentityCrc,
                   ImageCrc32(b + kBankIdentityCrcStart, kBankIdentityCrc - kBankIdentityCrcStart));
    PutBigEndian32(b + kBankChecksum, ImageCrc32(b, kBankChecksum));
  }
}

}  // namespace bridge
