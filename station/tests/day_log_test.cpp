#include "station/day_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "station/tests/settings_fixture.h"

namespace station {
namespace {

TEST(DayLogTest, RunningNumberIsTheLastBeforeTheFirstGap) {
  struct Case {
    std::vector<int> present;
    int fullNumber;  // a file of this number has reached the roll-over size; -1 none
    int expected;
  };
  const Case cases[] = {
      {{}, -1, 0},
      {{0}, -1, 0},
      {{0, 1, 3}, -1, 1},
      {{0, 1, 3}, 1, 2},
      {{1, 2}, -1, 0},  // no file 000: number 0
  };
  for (const Case& c : cases) {
    // A '%' in the folder must reach the file name as it is.
    const std::string folder = testing::MakeTempFolder() + "/log 100%d";
    std::filesystem::create_directories(folder);
    const DayLogName name = MakeDayLogName(folder, 2024, 1, 31);
    for (int n : c.present)
      std::ofstream(name.Path(n)) << std::string(n == c.fullNumber ? kDayLogRollOverSize : 10, 'x');
    EXPECT_EQ(FindRunningNumber(name), c.expected) << ::testing::PrintToString(c.present);
    EXPECT_EQ(name.Path(7), folder + "/20240131_007.txt");
    std::filesystem::remove_all(std::filesystem::path(folder).parent_path());
  }
}

}  // namespace
}  // namespace station
