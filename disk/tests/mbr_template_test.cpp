// The master boot record template, byte for byte where the layout fixes it.
#include "disk/mbr_template.h"

#include <gtest/gtest.h>

#include <cstring>

namespace disk {
namespace {

TEST(MbrTemplate, TextsOffsetsSignatureTableAndEndMark) {
  const auto& mbr = kMbrTemplate;
  EXPECT_STREQ(reinterpret_cast<const char*>(&mbr[0x12C]), "Invalid partition table");
  EXPECT_STREQ(reinterpret_cast<const char*>(&mbr[0x144]), "Error loading operating system");
  EXPECT_STREQ(reinterpret_cast<const char*>(&mbr[0x163]), "Missing operating system");
  EXPECT_EQ(mbr[0x1B5], 0x2C);
  EXPECT_EQ(mbr[0x1B6], 0x44);
  EXPECT_EQ(mbr[0x1B7], 0x63);
  EXPECT_EQ(std::memcmp(&mbr[0x1B8], "\x49\x2E\x73\xB1", 4), 0);
  EXPECT_EQ(mbr[0x1BC] | mbr[0x1BD], 0);
  for (size_t i = 0x1BE; i < 0x1FE; ++i) EXPECT_EQ(mbr[i], 0) << i;
  EXPECT_EQ(mbr[0x1FE], 0x55);
  EXPECT_EQ(mbr[0x1FF], 0xAA);
  // The stub ends before the first text.
  EXPECT_LT(sizeof(kMbrBootStub), 0x12Cu);
  EXPECT_EQ(mbr[0], 0xFA);
}

}  // namespace
}  // namespace disk
