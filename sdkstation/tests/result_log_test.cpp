// The second program's day log rows: header, numbering, identity sources,
// verify columns, and the file's roll-over, read back by Python's csv module.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/local_time.h"
#include "sdkstation/device_sdk.h"
#include "sdkstation/result_log.h"
#include "sdkstation/tests/sdk_fixture.h"
#include "station/tests/csv_reader.h"

namespace sdkstation {
namespace {

using testing::Slurp;
using testing::Spit;

// Identity texts of the fake library, by path ("p0", "p1", ...).
std::string g_manufacturer;
std::string g_product;

int CopyText(const std::string& text, char* out) {
  std::memcpy(out, text.data(), std::min(text.size(), qvfw::kTextCapacity - 1));
  return 1;
}

class SdkResultLog : public ::testing::Test {
 public:
  SdkResultLog() : folder_(testing::MakeTempFolder()) {
    platform::SetLocalTime(1706695200000);
    const platform::LocalTime t = platform::GetLocalTime();
    char text[32];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d", t.year, t.month, t.day);
    date_ = text;
    log_.name = station::MakeDayLogName(folder_, 2024, 1, 31);
    log_.path = log_.name.Path(0);
    DeviceSdkTable& sdk = DeviceSdk();
    sdk.QV_GetVIDfromOS = [](const char*, uint16_t* v) { *v = 0x1A2B; return 1; };
    sdk.QV_GetPIDfromOS = [](const char*, uint16_t* v) { *v = 0x00C4; return 1; };
    sdk.QV_GetSNfromOS = [](const char* path, char* out) { return CopyText(std::string("OS-") + path, out); };
    sdk.QV_GetManuStrfromOS = [](const char*, char* out) { return CopyText(g_manufacturer, out); };
    sdk.QV_GetProdStrfromOS = [](const char*, char* out) { return CopyText(g_product, out); };
    sdk.QV_GetVIDfromFlash = [](const char*, uint16_t* v) { *v = 0xBEEF; return 1; };
    sdk.QV_GetPIDfromFlash = [](const char*, uint16_t*) { return 0; };
    sdk.QV_GetSNfromFlash = [](const char* path, char* out) { return CopyText(std::string("FL-") + path, out); };
    sdk.QV_GetManuStrfromFlash = [](const char*, char* out) { return CopyText("flash maker", out); };
    sdk.QV_GetProdStrfromFlash = [](const char*, char*) { return 0; };
    sdk.QV_GetDiskInfo = [](const char*, uint8_t*) { return 0; };
    for (int i = 0; i < kSdkPortCount; ++i)
      std::snprintf(ports_[static_cast<size_t>(i)].devicePath, kSdkPathSize, "p%d", i);
  }
  ~SdkResultLog() override {
    DeviceSdk() = DeviceSdkTable{};
    std::filesystem::remove_all(folder_);
  }

  std::vector<std::vector<std::string>> Rows(const std::string& path) {
    return station::testing::ReadTabRowsWithPython(path, folder_);
  }

  std::string folder_;
  std::string date_;
  platform::ScopedManualClock clock_;
  station::DayLog log_;
  SdkPortTable ports_;
  SdkSettingsBlock settings_ = ZeroedSdkSettingsBlock();
  StationOptions options_;
  ResultLogControls controls_;
};

TEST_F(SdkResultLog, NewFileHeaderNumberingAndConfiguredSerials) {
  settings_.EnEEPROMUpdate = 1;
  options_.MPEEPROMToLog = 1;
  controls_ = {.vendorId = "13FE", .productId = "6300", .serialNumber = "0009", .stringB = "Disk",
               .stringC = "Maker", .autoIncrement = true};
  ports_[0].result = 1;
  ports_[1].result = -1;
  ports_[2].readSpeed = 41.25F;
  ports_[2].writeSpeed = 7.0F;
  // The yield counted 100 products before this pass.
  ASSERT_TRUE(WriteResultLog(log_, ports_, 3, 100, settings_, options_, controls_));

  const std::string text = Slurp(log_.path);
  ASSERT_EQ(text.substr(0, kSdkDayLogHeader.size()), kSdkDayLogHeader);
  const auto rows = Rows(log_.path);
  ASSERT_EQ(rows.size(), 4U);
  for (const auto& row : rows) EXPECT_EQ(row.size(), 22U);
  EXPECT_EQ(rows[0][0], "No.   ");
  const char* numbers[] = {"000100", "000101", "000102"};
  const char* serials[] = {"0009", "000A", "000B"};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rows[i + 1][0], numbers[i]);
    EXPECT_EQ(rows[i + 1][1], date_);
    EXPECT_EQ(rows[i + 1][3], std::string("13FE / 6300 / Maker / Disk / ") + serials[i] + " ");
  }
  EXPECT_EQ(rows[1][21], "Pass");
  EXPECT_EQ(rows[2][21], "Fail");
  EXPECT_EQ(rows[3][18], "41.2/7.0");
  EXPECT_EQ(rows[3][21], "----");
  EXPECT_TRUE(text.ends_with("----\r\n"));

  // Without auto-increment every row carries the edit's serial.
  controls_.autoIncrement = false;
  ASSERT_TRUE(WriteResultLog(log_, ports_, 3, 103, settings_, options_, controls_));
  const auto again = Rows(log_.path);
  ASSERT_EQ(again.size(), 7U);
  EXPECT_EQ(again[6][3], "13FE / 6300 / Maker / Disk / 0009 ");
}

TEST_F(SdkResultLog, IdentityCutToItsColumnsAndWithoutSeparators) {
  // A QVS87x device answers from the system's view, others from their flash;
  // a failing read leaves its field empty (or 0000). Manufacturer and
  // product keep 49 characters, the serial 19.
  g_manufacturer = std::string(79, 'M');
  g_product = "two\tcolumns\r\nand lines";
  ports_[0].qvs87x = 1;
  ports_[1].qvs87x = 0;
  std::snprintf(ports_[1].devicePath, kSdkPathSize, "p1-with-a-long-path");
  ASSERT_TRUE(WriteResultLog(log_, ports_, 2, 0, settings_, options_, controls_));
  auto rows = Rows(log_.path);
  ASSERT_EQ(rows.size(), 3U);
  EXPECT_EQ(rows[1].size(), 22U);
  EXPECT_EQ(rows[1][3], "1A2B / 00C4 / " + std::string(49, 'M') + " / two columns  and lines / OS-p0 ");
  EXPECT_EQ(rows[2][3], "BEEF / 0000 / flash maker /  / FL-p1-with-a-long-p ");

  // The configured identity is cut the same way.
  settings_.EnEEPROMUpdate = 1;
  options_.MPEEPROMToLog = 1;
  controls_ = {.vendorId = "13FE", .productId = "6300", .serialNumber = std::string(25, '9'),
               .stringB = std::string(60, 'B'), .stringC = std::string(50, 'C')};
  ASSERT_TRUE(WriteResultLog(log_, ports_, 1, 2, settings_, options_, controls_));
  rows = Rows(log_.path);
  ASSERT_EQ(rows.size(), 4U);
  EXPECT_EQ(rows[3][3], "13FE / 6300 / " + std::string(49, 'C') + " / " + std::string(49, 'B') + " / " +
                            std::string(19, '9') + " ");
}

TEST_F(SdkResultLog, VerifyColumnsFollowTheirOwnSwitches) {
  struct Case {
    int32_t vid, pid, manuf, prod, diskName, volLabel, fwRev;
    bool fwRevUsable;
    int32_t verifyStatus;
    int32_t flags;
    std::array<int32_t, 6> expected;
  };
  const Case cases[] = {
      // The VID/PID column follows the vendor ID's switch alone.
      {1, 0, 0, 0, 0, 0, 0, false, 1, 0, {1, 0, 0, 0, 0, 0}},
      {1, 1, 0, 0, 0, 0, 0, false, -1, 0x01, {-1, 0, 0, 0, 0, 0}},
      {0, 1, 0, 0, 0, 0, 0, false, -1, 0x01, {0, 0, 0, 0, 0, 0}},
      {0, 0, 1, 1, 1, 0, 0, false, -1, 0x04, {0, 1, -1, 1, 0, 0}},
      // A missing drive letter fails the label as a mismatch does.
      {0, 0, 0, 0, 0, 1, 0, false, -1, 0x20, {0, 0, 0, 0, -1, 0}},
      {0, 0, 0, 0, 0, 1, 0, false, -1, 0x10, {0, 0, 0, 0, -1, 0}},
      {0, 0, 0, 0, 0, 1, 1, true, 1, 0, {0, 0, 0, 0, 1, 1}},
      {0, 0, 0, 0, 0, 0, 1, true, -1, 0x80, {0, 0, 0, 0, 0, -1}},
      {0, 0, 0, 0, 0, 0, 1, false, -1, 0x80, {0, 0, 0, 0, 0, 0}},
      // A verification that never ran (no worker reached it) shows nothing.
      {1, 1, 1, 1, 1, 1, 1, true, 0, 0, {0, 0, 0, 0, 0, 0}},
  };
  settings_.EnVenderCheck = 1;
  for (const Case& c : cases) {
    settings_.EnCheckVID = c.vid;
    settings_.EnCheckPID = c.pid;
    settings_.EnCheckManufString = c.manuf;
    settings_.EnCheckUSBProdString = c.prod;
    settings_.EnCheckDiskName = c.diskName;
    settings_.EnCheckVolLabel = c.volLabel;
    settings_.EnCheckHDDFwRev = c.fwRev;
    controls_.hddFwRevUsable = c.fwRevUsable;
    ports_[0].verifyStatus = c.verifyStatus;
    ports_[0].verifyFlags = c.flags;
    EXPECT_EQ(SdkVerifyColumns(ports_[0], settings_, controls_), c.expected)
        << c.vid << c.pid << c.manuf << c.prod << c.diskName << c.volLabel << c.fwRev << " flags " << c.flags;
  }
  settings_.EnVenderCheck = 0;
  ports_[0].verifyStatus = 1;
  EXPECT_EQ(SdkVerifyColumns(ports_[0], settings_, controls_), (std::array<int32_t, 6>{}));
}

TEST_F(SdkResultLog, RollOverKeepsEveryRow) {
  // The day's file is full and the next number already holds rows: this
  // pass's rows go after them, nothing is lost and no header is repeated.
  const std::string earlier = "000007\tan earlier row\r\n";
  Spit(log_.name.Path(1), earlier);
  log_.rollOverSize = 1000;
  Spit(log_.path, std::string(kSdkDayLogHeader) + std::string(1000, 'x') + "\r\n");
  ASSERT_TRUE(WriteResultLog(log_, ports_, 2, 0, settings_, options_, controls_));
  EXPECT_EQ(log_.number, 1);
  const std::string next = Slurp(log_.name.Path(1));
  ASSERT_TRUE(next.starts_with(earlier));
  EXPECT_EQ(next.find("No.   "), std::string::npos);
  EXPECT_EQ(Rows(log_.name.Path(1)).size(), 3U);

  // Full too: a third file is made, with this program's header.
  log_.rollOverSize = static_cast<int64_t>(next.size());
  ASSERT_TRUE(WriteResultLog(log_, ports_, 1, 2, settings_, options_, controls_));
  EXPECT_EQ(log_.number, 2);
  EXPECT_TRUE(Slurp(log_.name.Path(2)).starts_with(kSdkDayLogHeader));
}

TEST_F(SdkResultLog, NoFileNoRows) {
  log_.path = folder_ + "/missing/20240131_000.txt";
  EXPECT_FALSE(WriteResultLog(log_, ports_, 1, 0, settings_, options_, controls_));
  EXPECT_FALSE(std::filesystem::exists(log_.path));
}

}  // namespace
}  // namespace sdkstation
