// Sixteen products through a whole pass of the second program: the real
// library bound from the program folder, the bench behind it, one worker
// per product. Each product is judged afterwards as the outside world sees
// it: the serial the system shows after the reset, the copied tree by
// diff -r, the FAT32 volume by fsck.fat.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/firmware_update.h"
#include "disk/tests/tool_check.h"
#include "platform/byte_order.h"
#include "platform/clock.h"
#include "platform/message_queue.h"
#include "sdkstation/device_listing.h"
#include "sdkstation/device_serials.h"
#include "sdkstation/identity_handover.h"
#include "sdkstation/sdk_production_pass.h"
#include "sdkstation/sdk_yield.h"
#include "sdkstation/tests/full_pass_settings.h"
#include "sdkstation/tests/sdk_fixture.h"
#include "sim/emulated_bridge.h"
#include "sim/firmware_download.h"
#include "station/station_messages.h"
#include "station/tests/csv_reader.h"
#include "station/tests/worker_bench.h"

namespace sdkstation {
namespace {

namespace fs = std::filesystem;
using disk::testing::ExtractSparse;
using disk::testing::RunTool;
using disk::testing::ShellQuote;
using disk::testing::ToolPresent;

constexpr int kProducts = 16;
constexpr uint64_t kSectors = 2 * 1024 * 1024;  // 1 GiB, sparse

class SdkBenchPass : public testing::SdkTest, public SdkPassHost {
 public:
  void BeginWait(bool) override {}
  SdkPassControls Controls() override { return controls_; }
  void WaitUntil(const std::function<bool()>& done) override {
    while (!done()) {
      queue_->Wait();
      queue_->Dispatch();
    }
  }
  void EndWait() override {}
  void ShowResult(bool allPass) override { shown_ = allPass ? 1 : 0; }
  void SafeRemoveAll(const std::vector<std::string>&) override {}

  std::string Disk(int i) const { return Path("disk" + std::to_string(i) + ".img"); }

  // Lists the bench's products, hands each its identity as START does and
  // runs one pass with `settings`, the yield counted on every port update.
  SdkPassSummary RunPass(SdkSettingsBlock& settings) {
    int64_t freeSpace = 0;
    EXPECT_GT(ListAttachedDevices(list_, pass_.ports, attached_, freeSpace).count, 0);
    EXPECT_NE(DeviceSdk().QV_InitialCustomizedSettingTable(), 0);
    HandOverIdentity(list_, attached_, testing::FullIdentity(), pass_);
    log_.name = station::MakeDayLogName(Path("log"), 2024, 1, 31);
    log_.path = log_.name.Path(0);
    fs::create_directories(Path("log"));
    threads_.fill(platform::kInvalidHandle);
    queue_->SetHandler(station::kWmPortUpdate, [&] { CountSdkResults(pass_.ports, attached_, settings); });
    SdkStationPass station{pass_,    locks_, settings, attached_, log_, passEvent_, run_, patterns_,
                           [q = queue_] { q->Post(station::kWmPortUpdate); }, threads_, Path("Kestrova.ini"), ""};
    const SdkPassSummary summary = RunProductionPass(station, *this);
    queue_->Dispatch();
    return summary;
  }
  const SdkPortRecord& Record(int i) const { return pass_.ports[static_cast<size_t>(i)]; }

  DeviceList list_;
  SdkPassState pass_;
  int32_t attached_ = 0;
  SdkLocks locks_;
  SdkRun run_;
  station::PatternPages patterns_;
  station::DayLog log_;
  platform::ManualResetEvent passEvent_{false};
  std::array<platform::Handle, kSdkPortCount> threads_{};

  std::shared_ptr<platform::MessageQueue> queue_ = std::make_shared<platform::MessageQueue>();
  SdkPassControls controls_;
  int shown_ = -1;
};

// Sixteen products of one chip, the firmware update on or off; each must
// come back after its reset under the serial it was given, relinked by it.
struct WholePass {
  const char* name;
  int chipType;
  // A firmware file of the chip's layout, written into the test's folder and
  // handed to the library as the window's collection does; none: no update.
  std::vector<uint8_t> (*firmware)();
  // Bench keys of every product ("boot_rom = 1\n": no firmware yet, the
  // boot ROM takes the built-in manufacturing image first).
  const char* productKeys = "";
};

// A QVS871 product firmware: both banks of the pattern, the model tag "871",
// the same bank checksum word in both (no clone product).
std::vector<uint8_t> Qvs871Firmware() {
  std::vector<uint8_t> file = station::testing::Pattern(bridge::kQvs87xUpdateLength, 871);
  file[3] = '8';
  file[4] = '7';
  file[5] = '1';
  platform::PutBigEndian32(&file[bridge::kQvs87xUpdateLength / 2 - 4], 0x11111111);
  platform::PutBigEndian32(&file[bridge::kQvs87xUpdateLength - 4], 0x11111111);
  return file;
}

// A QVS891 product firmware: its code and the 512-byte block after it, the
// model tag "891"; the block carries no configuration of its own ("QV" at
// its end is taken out), so the station builds one.
std::vector<uint8_t> Qvs891Firmware() {
  std::vector<uint8_t> file = station::testing::Pattern(bridge::kQvs891UpdateLength + 0x200, 891);
  file[4] = 0x08;
  file[5] = 0x91;
  file[bridge::kQvs891UpdateLength + 0xFE] = 0;
  return file;
}

void PrintTo(const WholePass& c, std::ostream* out) { *out << c.name; }

class SdkWholePass : public SdkBenchPass, public ::testing::WithParamInterface<WholePass> {};

TEST_P(SdkWholePass, SixteenProductsEndToEnd) {
  const WholePass& c = GetParam();
  for (const char* tool : {"sfdisk", "fsck.fat", "diff"})
    if (!ToolPresent(tool)) GTEST_SKIP() << tool << " is installed by scripts/setup";
  std::string text;
  for (int i = 0; i < kProducts; ++i) {
    text += "[product p" + std::to_string(i) + "]\nchip = " + std::to_string(c.chipType) +
            "\nserial = OLD" + std::to_string(1000 + i) + "\nport = " + std::to_string(i + 1) +
            "\nspeed = high\ndisk.sectors = " + std::to_string(kSectors) +
            "\ndisk.image = " + Disk(i) + "\nreset_new_path = 1\n" + c.productKeys;
  }
  Bench(text);
  Bind();
  fs::create_directories(Path("image/Drivers/x64"));
  WriteFile("image/Setup.exe", std::string(300000, 'S'));
  WriteFile("image/Drivers/x64/drv.sys", std::string(4097, '\x7f'));
  WriteFile("image/Drivers/empty.inf", "");
  fs::create_directories(Path("log"));

  SdkSettingsBlock s = testing::FullPassSettings();
  if (c.firmware != nullptr) {
    const std::vector<uint8_t> image = c.firmware();
    WriteFile("firmware.bin", std::string(image.begin(), image.end()));
    s.EnFWUpdate = 1;
    SetFieldText(s.FwFileName, Path("firmware.bin"));
    ASSERT_NE(DeviceSdk().QV_SetFWBinFilePath(s.FwFileName), 0);
    ASSERT_NE(DeviceSdk().QV_SetCloneProduct(0), 0);
  }
  controls_.softwareImagePath = Path("image") + "\\*.*";
  controls_.folderCompareUsable = true;
  controls_.log.serialNumber = "00A0";
  controls_.log.autoIncrement = true;
  // The firmware that runs: the bench's own, the boot ROM, or one that booted
  // from what was written into the flash.
  const auto runs = [&](int i) {
    return bench_->product(static_cast<size_t>(i)).WithBridge([](sim::EmulatedBridge& b) {
      const sim::FirmwareDownload* download = b.firmwareDownload();
      if (download == nullptr) return std::string("other");
      return std::string(download->inBootRom()          ? "boot ROM"
                         : download->bootedFromFlash() ? "from the flash"
                                                        : "the bench's");
    });
  };
  const bool bootRom = std::string_view(c.productKeys).find("boot_rom") != std::string_view::npos;
  if (c.firmware != nullptr) {
    EXPECT_EQ(runs(0), bootRom ? "boot ROM" : "the bench's");
  }
  const SdkPassSummary summary = RunPass(s);

  EXPECT_EQ(summary.started, kProducts);
  EXPECT_TRUE(summary.allPass);
  EXPECT_EQ(shown_, 1);
  EXPECT_EQ(s.TotalTestCount, kProducts);
  EXPECT_EQ(s.NumberOfPass, kProducts);
  for (int i = 0; i < kProducts; ++i) {
    SCOPED_TRACE("product " + std::to_string(i));
    const SdkPortRecord& r = Record(i);
    ASSERT_EQ(pass_.identityHandedOver[static_cast<size_t>(i)], 1);
    EXPECT_EQ(r.firmwareStatus, c.firmware != nullptr ? 1 : 0);
    EXPECT_EQ(r.identityStatus, 1);
    EXPECT_EQ(r.relinkStatus, 1);
    EXPECT_EQ(r.partitionStatus, 1);
    EXPECT_EQ(r.formatStatus, 1);
    EXPECT_EQ(r.readWriteStatus, 1);
    EXPECT_EQ(r.softwareCopyStatus, 1);
    EXPECT_EQ(r.folderCompareStatus, 1);
    EXPECT_EQ(r.result, 1);
    // The product came back under a new path with the serial it was given.
    char serial[qvfw::kTextCapacity + 1] = {};
    ASSERT_NE(DeviceSdk().QV_GetSNfromOS(r.devicePath, serial), 0);
    EXPECT_EQ(std::string(serial), AdvanceSerialNumber("00A0", i, true));
    int hubPort = 0;
    ASSERT_NE(DeviceSdk().QV_GetHubPortIndex(r.devicePath, &hubPort), 0);
    EXPECT_EQ(hubPort, i + 1);
    if (c.firmware != nullptr) {
      EXPECT_EQ(runs(i), "from the flash");
      EXPECT_NE(DeviceSdk().QV_CheckChipFW(r.devicePath, s.FwFileName), 0);
    }
    ASSERT_NE(r.driveLetter[0], '\0');
    const auto diff = RunTool("diff -r " + ShellQuote(Path("image")) + " " +
                              ShellQuote(bench_->HostFolder(r.driveLetter[0]) + "/Product/Image"));
    EXPECT_EQ(diff.exitCode, 0) << diff.output;
  }
  const auto rows = station::testing::ReadTabRowsWithPython(log_.path, folder_);
  ASSERT_EQ(rows.size(), static_cast<size_t>(kProducts + 1));
  EXPECT_EQ(rows[16][0], "000015");
  EXPECT_EQ(rows[16][21], "Pass");
  backend_.reset();
  bench_.reset();

  // Each disk holds one partition with a volume fsck.fat accepts.
  const std::regex entry("start=\\s*(\\d+), size=\\s*(\\d+)");
  for (int i = 0; i < kProducts; ++i) {
    SCOPED_TRACE("disk " + std::to_string(i));
    const auto dump = RunTool("sfdisk --dump " + ShellQuote(Disk(i)));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(dump.output, m, entry)) << dump.output;
    const std::string volume = Path("volume.img");
    ASSERT_TRUE(ExtractSparse(Disk(i), std::stoull(m[1]) * 512, std::stoull(m[2]) * 512, volume));
    const auto fsck = RunTool("fsck.fat -n " + ShellQuote(volume));
    EXPECT_EQ(fsck.exitCode, 0) << fsck.output;
    fs::remove(volume);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Chips, SdkWholePass,
    ::testing::Values(WholePass{"IdentityImageFamily", 29, nullptr},
                      WholePass{"Qvs871WithFirmware", 21, &Qvs871Firmware},
                      WholePass{"Qvs891WithFirmware", 27, &Qvs891Firmware},
                      WholePass{"Qvs871FromBootRom", 21, &Qvs871Firmware, "boot_rom = 1\n"},
                      WholePass{"Qvs891FromBootRom", 27, &Qvs891Firmware, "boot_rom = 1\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SdkBenchPass, AProductThatNeverComesBackFailsAloneAndThePassEnds) {
  // The middle product stays off the bus after its reset far longer than
  // the re-find looks for it. The clock moves only by the station's sleeps.
  const platform::ScopedManualClock clock;
  std::string text;
  for (int i = 0; i < 3; ++i)
    text += "[product p" + std::to_string(i) + "]\nchip = 29\nserial = OLD" + std::to_string(1000 + i) +
            "\nport = " + std::to_string(i + 1) + "\nreset_new_path = 1\n" +
            (i == 1 ? "reset_delay_ms = 600000\n" : "");
  Bench(text);
  Bind();
  SdkSettingsBlock s = testing::FullPassSettings();
  s.EnPartition = s.EnFormat = s.EnRWTest = s.EnSWCopy = s.EnFolderCompare = 0;
  s.MPResetWait = 3;
  const SdkPassSummary summary = RunPass(s);
  EXPECT_EQ(summary.started, 3);
  EXPECT_FALSE(summary.allPass);
  EXPECT_EQ(Record(0).result, 1);
  EXPECT_EQ(Record(1).relinkStatus, -1);
  EXPECT_EQ(Record(1).result, -1);
  EXPECT_EQ(Record(2).result, 1);
  EXPECT_EQ(s.TotalTestCount, 3);
  EXPECT_EQ(s.NumberOfPass, 2);
}

TEST_F(SdkBenchPass, ADeviceStoppedAtTheMaximumSerialIsLoggedButNotCounted) {
  // Three products given 00A0, 00A1 and 00A2 with 00A1 the highest allowed:
  // the third never runs. The yield counts the two that did; the rows go on
  // from the count the pass began with, and the next pass's rows after the
  // stopped product's.
  std::string text;
  for (int i = 0; i < 3; ++i)
    text += "[product p" + std::to_string(i) + "]\nchip = 29\nserial = OLD" + std::to_string(1000 + i) +
            "\nport = " + std::to_string(i + 1) + "\nreset_new_path = 1\n";
  Bench(text);
  Bind();
  SdkSettingsBlock s = testing::FullPassSettings();
  s.EnPartition = s.EnFormat = s.EnRWTest = s.EnSWCopy = s.EnFolderCompare = 0;
  s.CheckMaxSn = 1;
  s.String3Inc = 1;
  SetFieldText(s.String3, "00A0");
  SetFieldText(s.StringMaxSn, "00A1");
  s.TotalTestCount = s.NumberOfPass = 100;
  const SdkPassSummary summary = RunPass(s);
  EXPECT_EQ(summary.started, 2);
  EXPECT_FALSE(summary.allPass);
  EXPECT_EQ(std::vector<std::string>{kMaxSerialReached}, Messages());
  EXPECT_EQ(Record(2).identityStatus, -1);
  EXPECT_EQ(Record(2).result, -1);
  EXPECT_EQ(s.TotalTestCount, 102);
  EXPECT_EQ(s.NumberOfPass, 102);
  const auto rows = station::testing::ReadTabRowsWithPython(log_.path, folder_);
  ASSERT_EQ(rows.size(), 4U);
  const char* numbers[] = {"000100", "000101", "000102"};
  const char* results[] = {"Pass", "Pass", "Fail"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(rows[i + 1][0], numbers[i]) << i;
    EXPECT_EQ(rows[i + 1][21], results[i]) << i;
  }
  EXPECT_EQ(rows[3][12], "Fail");  // the identity column of the stopped product

  // A second pass with the maximum raised: all three run and are counted.
  SetFieldText(s.StringMaxSn, "FFFF");
  const SdkPassSummary second = RunPass(s);
  EXPECT_EQ(second.started, 3);
  EXPECT_TRUE(second.allPass);
  EXPECT_EQ(s.TotalTestCount, 105);
  EXPECT_EQ(s.NumberOfPass, 105);
  const auto both = station::testing::ReadTabRowsWithPython(log_.path, folder_);
  ASSERT_EQ(both.size(), 7U);
  std::vector<std::string> logged;
  for (size_t i = 1; i < both.size(); ++i) logged.push_back(both[i][0]);
  EXPECT_EQ(logged, (std::vector<std::string>{"000100", "000101", "000102", "000103", "000104", "000105"}));
}

}  // namespace
}  // namespace sdkstation
