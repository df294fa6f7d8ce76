// The string descriptor writer: its header and both character forms, how
// much it clears, and that it never writes outside the buffer it is given.
#include "station/usb_string_descriptor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace station {
namespace {

constexpr uint8_t kFill = 0xEE;

// A buffer of `size` bytes inside a larger one, so writes past its end show.
struct Guarded {
  explicit Guarded(size_t size) : bytes(size + 64, kFill), size(size) {}
  std::span<uint8_t> span() { return {bytes.data(), size}; }
  bool GuardIntact() const {
    for (size_t i = size; i < bytes.size(); ++i)
      if (bytes[i] != kFill) return false;
    return true;
  }
  std::vector<uint8_t> bytes;
  size_t size;
};

TEST(PutUsbStringDescriptor, HeaderAndCharactersInBothForms) {
  struct Case {
    std::string text;
    int32_t maxChars;
    int eightBit;
    int32_t tableType;
    std::vector<uint8_t> expected;  // from the offset on
  } const cases[] = {
      {"AB", 30, 0, 1, {6, 3, 'A', 0, 'B', 0, kFill}},
      {"AB", 30, 1, 1, {6, 3, 'A', 'B', kFill}},
      {"AB", 30, 0, 3, {6, 3, 'A', 'B', kFill}},   // EEPROM type 3 is 8-bit too
      {"", 30, 0, 1, {0, 3, kFill}},
      {"ABCD", 2, 1, 3, {6, 3, 'A', 'B', kFill}},  // cut to the maximum
      {"ABCD", 0, 1, 3, {0, 3, kFill}},
      {"ABCD", -4, 0, 1, {0, 3, kFill}},
  };
  for (const Case& c : cases) {
    Guarded buffer(128);
    PutUsbStringDescriptor(c.text, c.maxChars, buffer.span(), 12, 0, c.eightBit, c.tableType);
    const std::vector<uint8_t> got(buffer.bytes.begin() + 12,
                                   buffer.bytes.begin() + 12 + static_cast<long>(c.expected.size()));
    EXPECT_EQ(got, c.expected) << c.text << " max " << c.maxChars << " type " << c.tableType;
    EXPECT_EQ(buffer.bytes[11], kFill);
  }
}

TEST(PutUsbStringDescriptor, FortyCharactersWithAMaximumOfThirty) {
  Guarded page(256);
  const std::string text = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcd";
  PutUsbStringDescriptor(text, 30, page.span(), 12, 30, 0, 3);
  EXPECT_EQ(page.bytes[12], 62);
  EXPECT_EQ(page.bytes[13], 3);
  EXPECT_EQ(std::string(page.bytes.begin() + 14, page.bytes.begin() + 44), text.substr(0, 30));
  EXPECT_EQ(page.bytes[44], kFill);
}

// The caller passes the text's length (doubled for UTF-16) as the count to
// clear; a long text must not clear past its descriptor's room.
TEST(PutUsbStringDescriptor, ClearsAtMostTheMaximumCharacters) {
  struct Case {
    int32_t clearBytes, maxChars, eightBit;
    size_t clearedUpTo;  // bytes after the header that end up zero
  } const cases[] = {
      {138, 16, 0, 32},  // 69 characters doubled, room for 16 UTF-16 characters
      {69, 16, 1, 16},
      {3, 16, 1, 3},
      {0, 16, 0, 0},
      {-8, 16, 0, 0},
  };
  for (const Case& c : cases) {
    Guarded block(128);
    PutUsbStringDescriptor("", c.maxChars, block.span(), 40, c.clearBytes, c.eightBit, 1);
    for (size_t i = 0; i < c.clearedUpTo; ++i) ASSERT_EQ(block.bytes[42 + i], 0) << i;
    EXPECT_EQ(block.bytes[42 + c.clearedUpTo], kFill) << c.clearBytes;
  }
}

TEST(PutUsbStringDescriptor, NothingOutsideTheBuffer) {
  const std::string long69(69, 'S');
  struct Case {
    int32_t offset, maxChars, clearBytes, eightBit;
    uint8_t lengthByte;  // 0xEE: nothing written at all
  } const cases[] = {
      {0, 69, 138, 0, kFill},      // offset 0: the chip has no descriptor
      {-2, 69, 138, 0, kFill},
      {127, 69, 138, 0, kFill},    // no room for the header
      {128, 69, 138, 0, kFill},
      {126, 69, 138, 0, 0},        // the header only
      {124, 69, 138, 0, 4},        // one UTF-16 character fits
      {124, 69, 138, 1, 6},        // two 8-bit characters fit
      {60, 69, 138, 0, 2 * 33 + 2},
      {0x7FFFFFFF, 69, 138, 1, kFill},
  };
  for (const Case& c : cases) {
    Guarded block(128);
    PutUsbStringDescriptor(long69, c.maxChars, block.span(), c.offset, c.clearBytes, c.eightBit, 1);
    EXPECT_TRUE(block.GuardIntact()) << c.offset;
    if (c.offset >= 0 && c.offset < 128) {
      EXPECT_EQ(block.bytes[static_cast<size_t>(c.offset)], c.lengthByte) << c.offset;
    }
    if (c.lengthByte == kFill) {
      for (size_t i = 0; i < 128; ++i) ASSERT_EQ(block.bytes[i], kFill) << c.offset << " @" << i;
    }
  }
}

TEST(PutUsbStringDescriptor, TheLengthByteNeverWraps) {
  Guarded page(512);
  PutUsbStringDescriptor(std::string(200, 'x'), 200, page.span(), 2, 0, 1, 1);
  EXPECT_EQ(page.bytes[2], 254);  // 126 characters, the most a length byte can say
  EXPECT_EQ(page.bytes[4 + 125], 'x');
  EXPECT_EQ(page.bytes[4 + 126], kFill);
}

}  // namespace
}  // namespace station
