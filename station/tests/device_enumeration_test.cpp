// The scan behind the device list and the pass: a cleared table, the
// interface count with and without CD-ROMs, and a system that cannot list
// its interfaces.
#include "station/device_enumeration.h"

#include <gtest/gtest.h>

#include <memory>

#include "bridge/tests/usb_bench_fixture.h"

namespace station {
namespace {

constexpr char kBench[] = R"(
[hub root]
ports = 8

[product first]
chip = 21
serial = FIRST001
letters = E

[product uas]
chip = 25
serial = UAS00001
uas = 1
letters = F

[product optical]
chip = 1
serial = ODD00001
cdrom = 1
letters = J

[device mouse]
serial = MOUSE001
)";

class EnumerateDevicesTest : public bridge::testing::UsbBenchTest {
 protected:
  void SetUp() override { Load(kBench); }
};

TEST_F(EnumerateDevicesTest, ClearsTheTableThenCountsDisksAndOnRequestCdroms) {
  // Leftovers of an earlier pass that must not survive the scan.
  for (bridge::PortRecord& record : table_.records) {
    record.formatStatus = bridge::kStepFail;
    record.result = 1;
    record.present = 1;
  }
  int count = -1;
  EXPECT_EQ(EnumerateDevices(0, table_, entries_.data(), &count, {}, &epp_), 2);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(SlotsWithSerial("FIRST001").size(), 1u);
  EXPECT_EQ(SlotsWithSerial("UAS00001").size(), 1u);
  for (const bridge::PortRecord& record : table_.records) {
    EXPECT_EQ(record.formatStatus, 0);
    EXPECT_EQ(record.result, 0);
    EXPECT_EQ(record.present, 0);
  }

  EXPECT_EQ(EnumerateDevices(1, table_, entries_.data(), &count, {}, &epp_), 3);
  EXPECT_EQ(count, 3);
  EXPECT_NE(bridge::DevicePath(entries_[2]), std::string());
  EXPECT_EQ(SlotsWithSerial("ODD00001").size(), 1u);
}

// A system whose interface lists cannot be had.
class NoInterfaceList : public platform::Backend {
 public:
  bool ListDeviceInterfaces(const platform::Guid&, std::vector<platform::DeviceInterfaceEntry>*) override {
    return false;
  }
  platform::Handle OpenDevice(const char*, uint32_t, uint32_t, uint32_t* error) override {
    *error = platform::kErrorFileNotFound;
    return platform::kInvalidHandle;
  }
  void CloseDevice(platform::Handle) override {}
  bool DeviceIoControl(platform::Handle, uint32_t, const void*, uint32_t, void*, uint32_t,
                       uint32_t* returned, uint32_t* error) override {
    *returned = 0;
    *error = platform::kErrorNotSupported;
    return false;
  }
};

TEST(EnumerateDevices, AScanThatCannotListCountsZeroAndStillClearsTheTable) {
  platform::ScopedBackend installed(std::make_shared<NoInterfaceList>());
  bridge::PortTable table;
  table.records[3].inUse = 1;
  table.records[3].readWriteStatus = 1;
  std::vector<bridge::StorageDeviceEntry> entries(bridge::kMaxStorageEntries);
  int count = 7;
  EXPECT_EQ(EnumerateDevices(1, table, entries.data(), &count, {}, nullptr), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(table.records[3].inUse, 0);
  EXPECT_EQ(table.records[3].readWriteStatus, 0);
}

}  // namespace
}  // namespace station
