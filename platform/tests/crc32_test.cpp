#include "platform/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace platform {
namespace {

TEST(Crc32, CheckValue) {
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32("", 0), 0u);
}

// Every length around the eight-byte steps, at every alignment, whole and
// continued from a split at each point, against zlib.
TEST(Crc32, AgreesWithZlibAtEveryLengthAlignmentAndSplit) {
  std::mt19937 random(7);
  std::vector<uint8_t> data(16384 + 16);
  for (uint8_t& b : data) b = static_cast<uint8_t>(random());
  for (const size_t length : {size_t{1}, size_t{7}, size_t{8}, size_t{9}, size_t{15}, size_t{16},
                              size_t{17}, size_t{92}, size_t{511}, size_t{16384}}) {
    for (size_t offset = 0; offset < 8; ++offset) {
      const uint8_t* at = data.data() + offset;
      const auto expected = static_cast<uint32_t>(crc32(0L, at, static_cast<uInt>(length)));
      EXPECT_EQ(Crc32(at, length), expected) << length << " at " << offset;
      for (size_t split = 0; split <= std::min<size_t>(length, 17); ++split)
        EXPECT_EQ(Crc32(at + split, length - split, Crc32(at, split)), expected)
            << length << " at " << offset << " split " << split;
    }
  }
}

}  // namespace
}  // namespace platform
