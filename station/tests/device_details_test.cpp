// The detail window's texts: the disk name from exactly the INQUIRY's own
// bytes, the flash vendors at the table's edges, and, while a pass or a
// removal owns the devices, the record alone with no command sent.
#include "station/device_details.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/backend.h"
#include "sim/bench.h"

namespace station {
namespace {

std::string DiskName(const std::string& vendor8, const std::string& product16, const std::string& revision4) {
  uint8_t inquiry[40] = {};
  std::memcpy(inquiry + 8, vendor8.data(), vendor8.size());
  std::memcpy(inquiry + 16, product16.data(), product16.size());
  std::memcpy(inquiry + 32, revision4.data(), revision4.size());
  return DiskNameText(inquiry);
}

TEST(DeviceDetails, TheDiskNameTakesExactlyTheVendorAndProductBytes) {
  // Fields filled to their last byte run on into the next field if read as
  // NUL-terminated text; they must end where the field ends.
  EXPECT_EQ(DiskName("ABCDEFGH", "0123456789ABCDEF", "0100"), "ABCDEFGH 0123456789ABCDEF");
  EXPECT_EQ(DiskName("KV      ", "SIM DISK        ", "0100"), "KV SIM DISK");
  EXPECT_EQ(DiskName(std::string("AB\0DEFGH", 8), "X               ", "0100"), "AB X");
  EXPECT_EQ(DiskName("        ", "                ", "    "), " ");
}

// The series names stand in for the digits of three families; the others,
// and a type beyond the table, are "QV41" and their digits.
TEST(DeviceDetails, ChipNamesAndSeries) {
  const uint8_t block876[32] = {};
  uint8_t block877[32] = {};
  block877[8] = 1;
  const struct {
    bridge::ChipType chipType;
    const uint8_t* configBlock;
    const char* name;
  } cases[] = {
      {0, nullptr, "QV41No"},          {1, nullptr, "QV41645"},        {12, nullptr, "QV41666"},
      {13, nullptr, "QVS857/843 Series"}, {19, nullptr, "QVS843B Series"}, {20, nullptr, "QVS878/877/876 Series"},
      {20, block876, "QVS876 Series"}, {20, block877, "QVS877/878 Series"}, {34, nullptr, "QV41646"},
      {35, nullptr, "QV41No"},
  };
  for (const auto& c : cases) EXPECT_EQ(ChipIdText(c.chipType, c.configBlock), c.name) << int{c.chipType};
}

TEST(DeviceDetails, FlashVendorsAtTheTablesEdges) {
  const std::pair<int, const char*> cases[] = {
      {0, "Unknown"}, {2, "Unknown"}, {3, "PMC/ISSI"}, {8, "WINBOND"}, {15, "PMC/ISSI"},
      {20, "PUYA"},   {21, "Unknown"}, {255, "Unknown"},
  };
  for (const auto& [type, name] : cases)
    EXPECT_EQ(SpiFlashVendor(static_cast<bridge::SpiFlashType>(type)), name) << type;
}

// While the devices are the workers', the window asks them nothing: the
// fields come from the record, the queried ones stay empty.
TEST(DeviceDetails, WithoutAskingTheDeviceOnlyTheRecordIsShown) {
  std::string error;
  auto bench = sim::Bench::FromText("[product q]\nchip = 20\n[product r]\nchip = 22\n", &error);
  ASSERT_TRUE(bench) << error;
  platform::ScopedBackend installed(bench);
  bridge::PortTable ports;
  const auto fill = [&](int slot, const char* name, uint8_t chipType) {
    bridge::PortRecord& r = ports.records[static_cast<size_t>(slot)];
    r.present = 1;
    r.chipType = chipType;
    r.spiFlashType = 8;
    r.capacityMB = 512;
    r.firmwareAccepted = 1;
    static_cast<void>(bridge::SetFieldText(r.firmwareVersion, "1.02"));
    static_cast<void>(bridge::SetFieldText(r.devicePath, bench->FindByName(name)->path()));
  };
  fill(0, "q", 20);
  fill(1, "r", 22);
  sim::Product& q = *bench->FindByName("q");
  q.EnableTrace(true);
  const DeviceDetails d = CollectDeviceDetails(ports, 0, 'G', false);
  EXPECT_TRUE(q.TakeTrace().empty());
  EXPECT_EQ(d.chipId, "QVS878/877/876 Series");
  EXPECT_EQ(d.diskName, "");
  EXPECT_EQ(d.diskFirmware, "");
  EXPECT_EQ(d.flashType, "WINBOND");
  EXPECT_EQ(d.firmwareVersion, "1.02");
  EXPECT_EQ(d.capacity, "512 MB");
  EXPECT_EQ(d.driveLetter, "G");
  EXPECT_FALSE(d.diskFirmwareEnabled);  // a QVS87x is present
  // Asked, it answers.
  const DeviceDetails asked = CollectDeviceDetails(ports, 0, 'G', true);
  EXPECT_FALSE(q.TakeTrace().empty());
  EXPECT_NE(asked.diskName, "");
  EXPECT_EQ(CollectDeviceDetails(ports, 16, 0, true).chipId, "");
}

}  // namespace
}  // namespace station
