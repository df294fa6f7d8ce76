#include "station/step_helpers.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace station
