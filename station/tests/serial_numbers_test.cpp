#include "station/serial_numbers.h"

#include <gtest/gtest.h>

#include <string>

#include "station/settings_block.h"

namespace station {
namespace {

TEST(SerialNumbersTest, IncrementHexSerial) {
  struct Case {
    std::string text, expected;
  };
  const Case cases[] = {
      {"0009", "000A"}, {"00FF", "0100"}, {"FFFF", "0000"}, {"12G", "120"},
      {"00ab", "00aC"},  // only what the carry reaches is upper-cased
      {"0ff", "100"},
      {"1F\n99", "20\n99"},  // the line ends at the line feed
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    IncrementHexSerial(std::span<char>(text.data(), text.size()));
    EXPECT_EQ(text, c.expected) << c.text;
  }
}

// A serial that fills its field has no terminator: the advance stays inside
// the field and wraps a field of 'F's to '0's.
TEST(SerialNumbersTest, FullFieldWrapsInPlace) {
  SettingsBlock block = ZeroedSettingsBlock();
  ASSERT_TRUE(SetFixedText(block.String3, std::string(sizeof block.String3, 'F')));
  block.StringC[0] = 'X';  // the field after it
  IncrementHexSerial(block.String3);
  EXPECT_EQ(FieldText(block.String3), std::string(sizeof block.String3, '0'));
  EXPECT_EQ(block.StringC[0], 'X');
}

TEST(SerialNumbersTest, CompareSerial) {
  struct Case {
    std::string a, b;
    int sign;
  };
  const Case cases[] = {
      {"00123", "99", 1},
      {"0099", "100", -1},
      {"ABC", "ABD", -1},
      {"000", "", 0},
      {"0A", "A", 0},
      // Past 30 significant digits the whole text still counts.
      {std::string(40, '1') + "2", std::string(40, '1') + "1", 1},
      {std::string(70, 'F'), std::string(69, 'F'), 1},
      {"\xE9", "A", 1},  // 8-bit text compares unsigned
  };
  for (const Case& c : cases) {
    const int r = CompareSerial(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
  }
}

TEST(SerialNumbersTest, StripLeadingZerosAndLineLength) {
  char target[8];
  const std::string text = "000123\n4";
  EXPECT_EQ(StripLeadingZeros(std::span(text.data(), text.size()), target), 3u);
  EXPECT_EQ(std::string(target, 3), "123");
  EXPECT_EQ(target[3], '\0');
  const std::string longer = "0123456789AB";
  EXPECT_EQ(StripLeadingZeros(std::span(longer.data(), longer.size()), target), sizeof target);
  EXPECT_EQ(std::string(target, sizeof target), "12345678");
  EXPECT_EQ(LineLength(std::string_view("AB\0C", 4)), 2u);
  EXPECT_EQ(LineLength(std::string_view("ABC")), 3u);
}

}  // namespace
}  // namespace station
