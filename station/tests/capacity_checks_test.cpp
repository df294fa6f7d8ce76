// The capacity tolerance and the free-space window: their arithmetic at the
// edges, and the free-space check against a bench volume.
#include "station/capacity_checks.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "bridge/tests/usb_bench_fixture.h"

namespace station {
namespace {

TEST(IsWithinTenPercent, ScalesToDecimalGigabytesAndComparesTheWholeDifference) {
  // 953869 MB x 0.00105 = 1001.56: a difference of d whole GB passes while
  // d / 1001.56 < 0.1, i.e. up to 100.
  struct Case {
    int32_t capacityMB, expectedGB;
    int result;
  } const cases[] = {
      {953869, 1000, 1},   {953869, 901, 1},    {953869, 900, 0},
      {953869, 1101, 1},   {953869, 1102, 1},   {953869, 1112, 0},
      {15258, 16, 1},      {15258, 18, 1},      {15258, 15, 1},   {15258, 14, 0},
      {0, 0, 0},           {0, 16, 0},          // no capacity: no match, and no division
      {-5, 0, 0},          {1, INT_MIN, 0},     {INT_MAX, INT_MIN, 0},
      {INT_MAX, INT_MAX, 0}, {INT_MAX, 2254857, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsWithinTenPercent(c.capacityMB, c.expectedGB), c.result)
        << c.capacityMB << " MB against " << c.expectedGB << " GB";
}

TEST(IsFreeSpaceInRange, InclusiveWindowWithoutOverflow) {
  struct Case {
    uint64_t free;
    int64_t expected, deviation;
    int result;
  } const cases[] = {
      {1000, 1000, 0, 1},   {1000, 1001, 0, 0},   {1000, 999, 0, 0},
      {1000, 900, 100, 1},  {1000, 899, 100, 0},  {1000, 1100, 100, 1}, {1000, 1101, 100, 0},
      {1000, 1000, -1, 0},  // a negative deviation leaves no window
      {UINT64_MAX - 1, INT64_MAX, INT64_MAX, 1},  // free - deviation is exactly INT64_MAX
      {UINT64_MAX, INT64_MAX, INT64_MAX, 0},
      {UINT64_MAX, INT64_MAX, 0, 0},
      {0, INT64_MIN, INT64_MAX, 0},
      {0, -INT64_MAX, INT64_MAX, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsFreeSpaceInRange(c.free, c.expected, c.deviation), c.result)
        << c.free << " " << c.expected << " " << c.deviation;
}

class FreeSpaceCheckTest : public bridge::testing::UsbBenchTest {
 protected:
  void SetUp() override {
    Load(R"(
[product disk]
chip = 21
letters = E
volume.free = 123456789
)");
    path_ = bench_->product(0).path();
  }
  std::string path_;
};

TEST_F(FreeSpaceCheckTest, OffPassesAnythingAndOnComparesTheVolumesFreeBytes) {
  StationOptions options;
  options.FreeSpaceCheck = 0;
  EXPECT_EQ(CheckFreeSpaceRange(options, path_.c_str(), 5, 0), 1);
  options.FreeSpaceCheck = 1;
  EXPECT_EQ(CheckFreeSpaceRange(options, path_.c_str(), 123456789, 0), 1);
  EXPECT_EQ(CheckFreeSpaceRange(options, path_.c_str(), 123456790, 0), 0);
  EXPECT_EQ(CheckFreeSpaceRange(options, path_.c_str(), 123456790, 1), 1);
  bench_->product(0).Unplug();  // no volume: no free bytes
  EXPECT_EQ(CheckFreeSpaceRange(options, path_.c_str(), 123456789, 0), 0);
  EXPECT_EQ(CheckFreeSpaceRange(options, path_.c_str(), 0, 0), 1);
}

}  // namespace
}  // namespace station
