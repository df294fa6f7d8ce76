#include "station/step_helpers.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <string>

namespace station {
namespace {

TEST(CheckSectorSize, KeepsOnlyOfferedSizesOutsideFat32) {
  struct Case {
    int32_t fileSystem, size, expected;
  } const cases[] = {
      {kFileSystemNtfs, 512, 512},     {kFileSystemNtfs, 4096, 4096},
      {kFileSystemExfat, 32768, 32768}, {kFileSystemNtfs, 0, 0},
      {kFileSystemNtfs, 1024, 0},       {kFileSystemExfat, 1024, 0},
      {kFileSystemFat32, 4096, 0},      {kFileSystemFat32, 512, 0},
      {kFileSystemNtfs, -1, 0},         {7, 4096, 4096},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CheckSectorSize(c.fileSystem, c.size), c.expected) << c.fileSystem << " " << c.size;
}

TEST(IndexOfValue, FindsTheFirstEqualEntry) {
  const int32_t values[] = {0, 1, 80, 1, 2000};
  EXPECT_EQ(IndexOfValue(values, 5, 0), 0);
  EXPECT_EQ(IndexOfValue(values, 5, 1), 1);
  EXPECT_EQ(IndexOfValue(values, 5, 2000), 4);
  EXPECT_EQ(IndexOfValue(values, 5, 300), -1);
  EXPECT_EQ(IndexOfValue(values, 4, 2000), -1);  // only the first `count` entries
  EXPECT_EQ(IndexOfValue(values, 0, 0), -1);
  EXPECT_EQ(IndexOfValue(values, -3, 0), -1);
  EXPECT_EQ(IndexOfValue(nullptr, 5, 0), -1);
}

TEST(IsNullText, EmptyAndTheMarkerOnly) {
  EXPECT_EQ(IsNullText(""), 1);
  EXPECT_EQ(IsNullText("<<<< NULL >>>>"), 1);
  EXPECT_EQ(IsNullText("<<<< NULL >>>> "), 0);
  EXPECT_EQ(IsNullText("<<<< null >>>>"), 0);
  EXPECT_EQ(IsNullText(" "), 0);
  EXPECT_EQ(IsNullText("USB DISK"), 0);
}

TEST(IsStringUnset, TextOrOptionByteAndNeverOutsideTheBlock) {
  std::array<uint8_t, kOptionBlockSize> block{};
  block[5] = kOptionStringUnset;
  block[127] = kOptionStringUnset;
  block[6] = 1;
  const std::string full69(69, 'S');
  struct Case {
    std::string_view text;
    int32_t position;
    int expected;
  } const cases[] = {
      {"", 6, 1},                // empty counts even when the byte is not 2
      {"<<<< NULL >>>>", 6, 1},
      {"Maker", 5, 1},
      {"Maker", 6, 0},
      {"Maker", 127, 1},         // the block's last byte
      {"Maker", 128, 0},         // past the block: only the text decides
      {"Maker", -1, 0},
      {"Maker", INT32_MAX, 0},
      {full69, 6, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsStringUnset(c.text, c.position, block), c.expected) << c.text << " @" << c.position;
}

TEST(AbsValue, IncludingTheMostNegativeInt) {
  const int cases[][2] = {{0, 0}, {5, 5}, {-5, 5}, {INT_MAX, INT_MAX}, {-INT_MAX, INT_MAX},
                          {INT_MIN, INT_MAX}};
  for (const auto& c : cases) EXPECT_EQ(AbsValue(c[0]), c[1]) << c[0];
}

}  // namespace
}  // namespace station
