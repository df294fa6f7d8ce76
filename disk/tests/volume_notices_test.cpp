// The volume notices the system sends while a disk is prepared: a new
// layout takes the old volume away at once and announces the new one when
// it is mounted; a format mounts the volume afresh.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "disk/format_route_table.h"
#include "disk/format_routes.h"
#include "disk/partition_layout.h"
#include "disk/tests/disk_bench_fixture.h"
#include "platform/clock.h"
#include "sim/tests/notice_window.h"

namespace disk {
namespace {

using Notices = std::vector<std::string>;

TEST(VolumeNotices, ALayoutTakesTheVolumeAwayAndItsMountBringsItBack) {
  platform::ScopedManualClock clock;
  testing::DiskBench disk;
  sim::testing::NoticeWindow window;
  ASSERT_EQ(CreateDiskLayout(disk.path().c_str()), 1);
  EXPECT_EQ(window.Take(), (Notices{"-volume E", "tree"}));
  // The system mounts the new volume 2 s after the layout.
  platform::Sleep(1990);
  EXPECT_EQ(window.Take(), Notices{});
  platform::Sleep(10);
  EXPECT_EQ(window.Take(), (Notices{"tree", "+volume E"}));
}

TEST(VolumeNotices, AFormatMountsTheVolumeAfresh) {
  platform::ScopedManualClock clock;
  testing::DiskBench disk;
  sim::testing::NoticeWindow window;
  ASSERT_EQ(FormatVolume("E:\\", 1, "DATA", kFileSystemExFat, 0), kFormatOk);
  EXPECT_EQ(window.Take(), (Notices{"-volume E", "tree", "tree", "+volume E"}));
}

}  // namespace
}  // namespace disk
