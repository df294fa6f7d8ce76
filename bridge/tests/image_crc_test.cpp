#include "bridge/image_crc.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace bridge {
namespace {

uint32_t ReverseBits(uint32_t value) {
  uint32_t out = 0;
  for (int bit = 0; bit < 32; ++bit) out |= ((value >> bit) & 1u) << (31 - bit);
  return out;
}

// The image CRC by zlib: a left-shifting register fed least significant bit
// first is zlib's reflected CRC-32 with the register mirrored; zlib's final
// XOR is undone, and each 4-byte group is handed over in the order 3, 2, 1, 0.
uint32_t ZlibImageCrc(const uint8_t* data, size_t length) {
  std::vector<uint8_t> swapped;
  for (size_t group = 0; group + 4 <= length; group += 4)
    for (size_t k = 4; k-- > 0;) swapped.push_back(data[group + k]);
  const uLong crc = crc32(0L, swapped.data(), static_cast<uInt>(swapped.size()));
  return ReverseBits(static_cast<uint32_t>(crc) ^ 0xFFFFFFFFu);
}

uint32_t BigEndianAt(const std::vector<uint8_t>& image, size_t offset) {
  return uint32_t{image[offset]} << 24 | uint32_t{image[offset + 1]} << 16 |
         uint32_t{image[offset + 2]} << 8 | image[offset + 3];
}

TEST(ImageCrc32, WorkedValuesAndTail) {
  const auto* abcd = reinterpret_cast<const uint8_t*>("abcd");
  EXPECT_EQ(ImageCrc32(abcd, 4), 0xA4B608B2u);
  EXPECT_EQ(ImageCrc32(abcd, 0), 0xFFFFFFFFu);
  EXPECT_EQ(ImageCrc32(abcd, 3), 0xFFFFFFFFu);  // a partial group counts for nothing
  std::vector<uint8_t> data(1023);
  std::mt19937 random(7);
  for (auto& b : data) b = static_cast<uint8_t>(random());
  EXPECT_EQ(ImageCrc32(data.data(), 1023), ImageCrc32(data.data(), 1020));
}

TEST(ImageCrc32, AgreesWithZlib) {
  std::mt19937 random(11);
  for (size_t length : {4u, 8u, 12u, 100u, 1020u, 0x1FFFCu}) {
    std::vector<uint8_t> data(length);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    EXPECT_EQ(ImageCrc32(data.data(), length), ZlibImageCrc(data.data(), length)) << length;
  }
  const auto* abcd = reinterpret_cast<const uint8_t*>("abcd");
  EXPECT_EQ(ZlibImageCrc(abcd, 4), 0xA4B608B2u);  // the reference itself is right
}

TEST(StampBankHeaders, AllOnesImage) {
  std::vector<uint8_t> image(kDualBankImageSize, 0xFF);
  StampBankHeaders(image.data());
  const uint8_t expected[12] = {0x5A, 0xC3, 0x69, 0xE1, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  for (size_t bank : {size_t{0}, kBankSize}) {
    EXPECT_EQ(std::memcmp(image.data() + bank + 0x200, expected, sizeof expected), 0);
    EXPECT_EQ(BigEndianAt(image, bank + 0x3FC), ZlibImageCrc(image.data() + bank, 0x3FC));
  }
}

// Identity first, then the header: the header carries the fresh checksum and
// both bank CRCs check out against the reference.
TEST(FillImageIdentity, BothBanksSealedInOrder) {
  std::vector<uint8_t> image(kDualBankImageSize);
  std::mt19937 random(3);
  for (auto& b : image) b = static_cast<uint8_t>(random());
  FillImageIdentity(image.data(), "SN123", "PRODUCT", "Maker", "Drive", 7, 1, false);
  // The bank checksum is that of the bank before its header is stamped.
  std::vector<uint32_t> sums;
  for (size_t bank : {size_t{0}, kBankSize})
    sums.push_back(ZlibImageCrc(image.data() + bank, 0x1FFFC));
  StampBankHeaders(image.data());
  for (size_t bank : {size_t{0}, kBankSize}) {
    const uint8_t* b = image.data() + bank;
    EXPECT_EQ(b[0x600], 3);
    EXPECT_EQ(b[0x628], 12);  // 2 x 5 + 2
    EXPECT_EQ(b[0x629], 3);
    EXPECT_EQ(std::memcmp(b + 0x62A, "Maker", 5), 0);
    EXPECT_EQ(BigEndianAt(image, bank + 0x7FC), ZlibImageCrc(b + 0x400, 0x3FC));
    EXPECT_EQ(BigEndianAt(image, bank + 0x1FFFC), sums[bank / kBankSize]);
    EXPECT_EQ(BigEndianAt(image, bank + 0x208), sums[bank / kBankSize]);
    EXPECT_EQ(BigEndianAt(image, bank + 0x3FC), ZlibImageCrc(b, 0x3FC));
  }
  // Bank 0 fills with zeros, bank 1 with spaces; the text's zero stays.
  const uint8_t bank0[8] = {'S', 'N', '1', '2', '3', 0, 0, 0};
  const uint8_t bank1[8] = {'S', 'N', '1', '2', '3', 0, ' ', ' '};
  EXPECT_EQ(std::memcmp(image.data() + 0x610, bank0, 8), 0);
  EXPECT_EQ(std::memcmp(image.data() + kBankSize + 0x610, bank1, 8), 0);
}

TEST(FillImageIdentity, FirstBankOnlyLeavesBankOneAlone) {
  std::vector<uint8_t> image(kDualBankImageSize, 0x5C);
  const std::vector<uint8_t> before(image);
  FillImageIdentity(image.data(), "A", "B", "C", "D", 0, 0, true);
  EXPECT_TRUE(std::equal(image.begin() + kBankSize, image.end(), before.begin() + kBankSize));
  EXPECT_NE(image[0x610], before[0x610]);
}

// Texts that fill or overflow their field stay inside it; strings are cut to
// 29 characters so their zero stays inside the 32-byte field. Under the
// address sanitizer an over-long copy would be caught at the image's end.
TEST(FillImageIdentity, LongTextsStayInTheirFields) {
  std::vector<uint8_t> image(kDualBankImageSize, 0xEE);
  const std::string longText(64, 'X');
  FillImageIdentity(image.data(), "12345678", "ABCDEFGHIJKLMNOP", longText, longText, 0, 1, false);
  for (size_t bank : {size_t{0}, kBankSize}) {
    const uint8_t* b = image.data() + bank;
    EXPECT_EQ(std::memcmp(b + 0x610, "12345678ABCDEFGHIJKLMNOP", 24), 0);
    EXPECT_EQ(b[0x628], 2 * 29 + 2);
    EXPECT_EQ(b[0x62A + 28], 'X');
    EXPECT_EQ(b[0x62A + 29], 0);  // the last byte of the field
    EXPECT_EQ(b[0x647], 0);
    EXPECT_EQ(b[0x668 - 1], 0);
    EXPECT_EQ(b[0x668], 0xEE);  // the byte after the second string is untouched
    EXPECT_EQ(b[0x600], 1);
  }
  FillImageIdentity(image.data(), "12345678901", longText, "", "", -5, 0, false);
  EXPECT_EQ(std::memcmp(image.data() + 0x610, "12345678", 8), 0);
  EXPECT_EQ(std::memcmp(image.data() + 0x618, std::string(16, 'X').data(), 16), 0);
  EXPECT_EQ(image[0x628], 2);
  EXPECT_EQ(image[0x600], 2);  // a nonzero flag counts as 1
}

}  // namespace
}  // namespace bridge
