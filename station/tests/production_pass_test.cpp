// The production pass on the bench without a window: its day log read by
// Python's csv module, the row numbers over passes, the log's roll-over and
// the files in its way, the ports it cannot start, and the firmware files
// that end it before any worker starts.
#include "station/production_pass.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/threads.h"
#include "station/eeprom_layout.h"
#include "station/settings_file.h"
#include "station/tests/configparser_reader.h"
#include "station/tests/pass_fixture.h"

namespace station {
namespace {

using testing::PassBench;
using testing::ReadTabRowsWithPython;
using testing::Slurp;
using testing::Spit;

std::string Products(int count, const std::string& keys = "") {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += "[product p" + std::to_string(i) + "]\nchip = 21\nserial = 57000000000" + std::to_string(i) +
            "\ndisk.sectors = 524288\n" + keys;
  return text;
}

// The identity checks against the bench's own IDs and strings: they pass.
void CheckIdentity(SettingsBlock& s) {
  s.EnVenderCheck = 1;
  SetFieldText(s.VerifyVenderID, "1D6B");
  SetFieldText(s.VerifyProductID, "0100");
  SetFieldText(s.VerifyStringA, "Kestrova Sim");
  SetFieldText(s.VerifyStringB, "USB Storage Bridge");
}

std::vector<std::string> Column(const std::vector<std::vector<std::string>>& rows, size_t column) {
  std::vector<std::string> values;
  for (size_t i = 1; i < rows.size(); ++i) values.push_back(rows[i].size() > column ? rows[i][column] : "?");
  return values;
}

TEST(ProductionPassTest, DayLogRowsAsCsvReadsThemOverTwoPasses) {
  PassBench b(Products(4));
  CheckIdentity(b.settings());
  b.settings().TotalTestCount = 41;
  b.settings().NumberOfPass = 40;
  for (int pass = 0; pass < 2; ++pass) {
    const PassSummary summary = b.Run();
    EXPECT_EQ(summary.presentCount, 4);
    EXPECT_EQ(summary.started, 4);
    EXPECT_TRUE(summary.allPass);
    EXPECT_TRUE(summary.logged);
  }
  EXPECT_EQ(b.settings().TotalTestCount, 49);
  EXPECT_EQ(b.settings().NumberOfPass, 48);
  EXPECT_EQ(b.host().results, (std::vector<bool>{true, true}));
  EXPECT_TRUE(b.passEnd().IsSet());
  EXPECT_EQ(b.members().lastPassFailed, 0);

  const std::string log = b.dayLog().path;
  EXPECT_EQ(log, b.Path("log/20240131_000.txt"));
  EXPECT_EQ(Slurp(log).substr(0, kDayLogHeader.size()), kDayLogHeader);
  const auto rows = ReadTabRowsWithPython(log, b.Path(""));
  ASSERT_EQ(rows.size(), 9u);
  for (const auto& row : rows) EXPECT_EQ(row.size(), 22u);
  EXPECT_EQ(rows[0][0], "No.");
  EXPECT_EQ(rows[0][21], " Result");
  EXPECT_EQ(Column(rows, 0), (std::vector<std::string>{"000042", "000043", "000044", "000045", "000046", "000047",
                                                       "000048", "000049"}));
  EXPECT_EQ(Column(rows, 1)[0], "2024/01/31");
  // The identity checks ran; the disk name, label and disk firmware checks
  // were off; no step ran but the identity check.
  for (size_t c : {4, 5, 6}) EXPECT_EQ(Column(rows, c), std::vector<std::string>(8, c == 4 ? "Pass" : " Pass")) << c;
  for (size_t c : {7, 8, 9}) EXPECT_EQ(Column(rows, c), std::vector<std::string>(8, " ----")) << c;
  EXPECT_EQ(Column(rows, 18), std::vector<std::string>(8, "0.0/0.0"));
  EXPECT_EQ(Column(rows, 21), std::vector<std::string>(8, "Pass"));
  // Rule 2 of the identity: the record's own IDs and strings.
  EXPECT_EQ(rows[1][3], "1D6B / 0100 / Kestrova Sim / USB Storage Bridge / 570000000000");
}

// A step that ran and passed is logged as passed: with only the erase box
// checked the erase and its relink run, and F/W shows their Pass.
TEST(ProductionPassTest, TheEraseBoxAloneLogsItsErase) {
  for (const bool erase : {true, false}) {
    SCOPED_TRACE(erase);
    PassBench b(Products(1));
    b.host().controls.workers.cbEraseFlash.checked = erase;
    const PassSummary summary = b.Run();
    EXPECT_TRUE(summary.allPass);
    const bridge::PortRecord* r = b.RecordOf("570000000000");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->firmwareStatus, erase ? bridge::kStepPass : bridge::kStepOff);
    const auto rows = ReadTabRowsWithPython(b.dayLog().path, b.Path(""));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][11], erase ? "Pass" : "----") << "F/W";
    EXPECT_EQ(rows[1][12], "----") << "EEPROM";
    EXPECT_EQ(rows[1][21], "Pass");
  }
}

// A ChipType 19 does not take EnMultiSec and EnOver2TBMulLun together: the
// station has both off after its pass, and its save says so; another chip
// leaves them as they are.
TEST(ProductionPassTest, AChip19SwitchesBothLunOptionsOffForTheStation) {
  for (const int chip : {19, 20}) {
    SCOPED_TRACE(chip);
    PassBench b("[product p0]\nchip = " + std::to_string(chip) + "\nserial = 570000000000\ndisk.sectors = 524288\n");
    SettingsBlock& s = b.settings();
    s.EnEEPROMUpdate = 1;
    ApplyLayoutOffsets(s, *FindEepromLayout(LayoutFamily::kStandard, 2), true);
    SetFieldText(s.VenderID, "6A3E");
    SetFieldText(s.ProductID, "4649");
    SetFieldText(s.String3, "000000000001");
    b.options().EnMultiSec = 1;
    b.options().EnOver2TBMulLun = 1;
    const PassSummary summary = b.Run();
    EXPECT_TRUE(summary.allPass) << ::testing::PrintToString(b.Messages());
    const bool off = chip == 19;
    EXPECT_EQ(b.options().EnMultiSec, off ? 0 : 1);
    EXPECT_EQ(b.options().EnOver2TBMulLun, off ? 0 : 1);
    ASSERT_EQ(SaveSettingsToIni(b.Path("Kestrova.ini"), s, b.options()), 1);
    const auto ini = testing::ReadIniWithPython(b.Path("Kestrova.ini"), b.Path(""));
    EXPECT_EQ(ini.at({"QVEEPROM", "EnMultiSec"}), off ? "0" : "1");
    EXPECT_EQ(ini.at({"QVEEPROM", "EnOver2TBMulLun"}), off ? "0" : "1");
  }
}

// A check that never ran shows "----", not "Pass": the identity check is
// skipped after a failed erase; a label check without a drive letter fails.
TEST(ProductionPassTest, VerifyColumnsShowOnlyChecksThatRan) {
  bridge::PortRecord r;
  SettingsBlock s = ZeroedSettingsBlock();
  ControlSnapshot controls;
  controls.vfVolLabelChk = {true, true, true};
  controls.vfHDDFWRevChk = {true, true, true};
  s.EnVenderCheck = 1;
  s.EnCheckDiskName = 1;
  s.EnCheckVolLabel = 1;
  s.EnCheckHDDFwRev = 1;
  struct Case {
    int32_t status, flags;
    std::array<int32_t, 6> columns;
  };
  const Case cases[] = {
      {bridge::kStepPass, 0, {1, 1, 1, 1, 1, 1}},
      {bridge::kStepSkipped, 0, {0, 0, 0, 0, 0, 0}},
      {bridge::kStepOff, 0, {0, 0, 0, 0, 0, 0}},
      {bridge::kStepFail, bridge::kVerifyNoDriveLetter, {1, 1, 1, 1, -1, 1}},
      {bridge::kStepFail, bridge::kVerifyVolumeLabel, {1, 1, 1, 1, -1, 1}},
      // The label is not looked at after an earlier mismatch.
      {bridge::kStepFail, bridge::kVerifyProduct, {1, 1, -1, 1, 0, 1}},
      {bridge::kStepFail, bridge::kVerifyDiskFirmware, {1, 1, 1, 1, 0, -1}},
  };
  for (const Case& c : cases) {
    r.identityCheckStatus = c.status;
    r.verifyFlags = c.flags;
    EXPECT_EQ(VerifyColumns(r, s, controls), c.columns) << c.status << " " << c.flags;
  }
  controls.vfVolLabelChk.visible = false;
  r.identityCheckStatus = bridge::kStepPass;
  r.verifyFlags = 0;
  EXPECT_EQ(VerifyColumns(r, s, controls)[4], 0);
}

struct LogCase {
  const char* name;
  std::function<void(PassBench&)> before;
  std::string expectedLog;  // the file that takes the rows, below the folder
  bool headerThere;         // that file begins with the header
  bool logged;
};

// What lies in the log folder decides where the rows go; a log nobody can
// write costs the rows and the result, and the pass counts as failed. A
// log folder that went is made again where the yield is kept.
TEST(ProductionPassTest, DayLogFilesInTheWay) {
  const auto sized = [](PassBench& b, int number, size_t size) {
    Spit(b.dayLog().name.Path(number), std::string(size, 'x'));
  };
  const LogCase cases[] = {
      {"new", nullptr, "log/20240131_000.txt", true, true},
      {"below roll-over", [&](PassBench& b) { sized(b, 0, 82999); }, "log/20240131_000.txt", false, true},
      {"at roll-over", [&](PassBench& b) { sized(b, 0, 83000); }, "log/20240131_001.txt", true, true},
      {"next number full too",
       [&](PassBench& b) {
         sized(b, 0, 83000);
         sized(b, 1, 90000);
       },
       "log/20240131_002.txt", true, true},
      {"next number has room",
       [&](PassBench& b) {
         sized(b, 0, 83000);
         sized(b, 1, 10);
       },
       "log/20240131_001.txt", false, true},
      {"folder gone", [](PassBench& b) { std::filesystem::remove_all(b.Path("log")); }, "log/20240131_000.txt",
       true, true},
      {"a folder in its place", [](PassBench& b) { std::filesystem::create_directory(b.dayLog().path); }, "",
       false, false},
  };
  for (const LogCase& c : cases) {
    SCOPED_TRACE(c.name);
    PassBench b(Products(2));
    if (c.before) c.before(b);
    const PassSummary summary = b.Run();
    EXPECT_EQ(summary.logged, c.logged);
    EXPECT_EQ(b.host().results, c.logged ? std::vector<bool>{true} : std::vector<bool>{});
    EXPECT_EQ(b.members().lastPassFailed, c.logged ? 0 : 1);
    if (!c.logged) {
      EXPECT_EQ(b.Messages(), std::vector<std::string>{"Error: Fail to open/create log file!"});
      continue;
    }
    EXPECT_EQ(b.dayLog().path, b.Path(c.expectedLog));
    const std::string text = Slurp(b.dayLog().path);
    EXPECT_EQ(text.substr(0, kDayLogHeader.size()) == kDayLogHeader, c.headerThere);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), c.headerThere ? 3 : 2);
    EXPECT_TRUE(b.Messages().empty());
  }
}

// A USB serial with a NUL in it cannot stand in the device's instance id:
// the system knows such a product by its location, and the station lists
// it, with its serial as far as the NUL.
TEST(ProductionPassTest, AProductWhoseSerialHoldsANulIsListed) {
  const std::string bench = "[product n]\nchip = 21\nserial = 57" + std::string(1, '\0') +
                            "01\n[product p]\nchip = 21\nserial = 5702\n";
  PassBench b(bench);
  const PassSummary summary = b.Run();
  EXPECT_EQ(summary.presentCount, 2);
  EXPECT_EQ(summary.started, 2);
  ASSERT_NE(b.RecordOf("57"), nullptr);
  const auto rows = ReadTabRowsWithPython(b.dayLog().path, b.Path(""));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1][3], "1D6B / 0100 / Kestrova Sim / USB Storage Bridge / 57");
}

// Another handle that holds the log for writing keeps the rows out; the
// pass tries again before it gives up, and says so once.
TEST(ProductionPassTest, LogHeldOpenIsRetriedThenReported) {
  PassBench b(Products(2));
  Spit(b.dayLog().path, std::string(kDayLogHeader));
  const platform::Handle holder =
      platform::CreateFile(b.dayLog().path.c_str(), platform::kAccessWrite, platform::kShareRead,
                           platform::kOpenExisting, 0);
  ASSERT_NE(holder, platform::kInvalidHandle);
  const uint64_t before = platform::GetTickCount64();
  const PassSummary summary = b.Run();
  EXPECT_GE(platform::GetTickCount64() - before, 60u);  // six tries, 10 ms apart
  platform::CloseHandle(holder);
  EXPECT_FALSE(summary.logged);
  EXPECT_EQ(b.Messages(), std::vector<std::string>{"Error: Fail to open/create log file!"});
  EXPECT_EQ(Slurp(b.dayLog().path), kDayLogHeader);
  EXPECT_TRUE(b.host().results.empty());  // no result for a pass that went unrecorded
  EXPECT_EQ(b.settings().TotalTestCount, 2);  // the yield still counted
}

// A port whose worker cannot start fails and keeps its row; past the
// highest serial number no worker starts at all, yet every port is logged
// and counted, so the next pass's numbers follow on.
TEST(ProductionPassTest, PortsThePassCannotStart) {
  {
    PassBench b(Products(3));
    {
      platform::ScopedThreadStartFailures refuse(1);
      const PassSummary summary = b.Run();
      EXPECT_EQ(summary.started, 2);
      EXPECT_FALSE(summary.allPass);
    }
    EXPECT_EQ(b.members().lastPassFailed, 1);
    EXPECT_EQ(b.host().results, std::vector<bool>{false});
    const auto rows = ReadTabRowsWithPython(b.dayLog().path, b.Path(""));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(Column(rows, 21), (std::vector<std::string>{"Fail", "Pass", "Pass"}));
    EXPECT_EQ(b.settings().TotalTestCount, 3);
    EXPECT_EQ(b.settings().NumberOfPass, 2);
  }
  {
    PassBench b(Products(3));
    b.options().CheckMaxSn = 1;
    b.settings().EnEEPROMUpdate = 1;
    SetFieldText(b.settings().String3, "000000000100");
    SetFieldText(b.settings().StringMaxSn, "FF");
    const PassSummary summary = b.Run();
    EXPECT_EQ(summary.started, 0);
    EXPECT_EQ(b.Messages(), std::vector<std::string>{"Error: Serial number reach the max setting number "});
    EXPECT_EQ(b.host().results, std::vector<bool>{false});
    b.options().CheckMaxSn = 0;
    b.settings().EnEEPROMUpdate = 0;
    EXPECT_EQ(b.Run().started, 3);
    const auto rows = ReadTabRowsWithPython(b.dayLog().path, b.Path(""));
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(Column(rows, 0), (std::vector<std::string>{"000001", "000002", "000003", "000004", "000005",
                                                         "000006"}));
    // The port that met the limit fails its configuration; the others ran nothing.
    EXPECT_EQ(rows[1][12], "Fail");
    EXPECT_EQ(rows[1][21], "Fail");
    for (size_t c = 10; c < 22; ++c) {
      if (c == 18) continue;  // the speeds
      EXPECT_EQ(rows[2][c], "----") << c;
    }
    EXPECT_EQ(b.settings().TotalTestCount, 6);
    EXPECT_EQ(b.settings().NumberOfPass, 3);
  }
}

// Firmware files the pass refuses end it before any worker starts: the
// image is given back, the pass event set, the device list refreshed.
TEST(ProductionPassTest, RefusedFirmwareFilesEndThePassBeforeItsWorkers) {
  const auto image = [](size_t size, bool clone) {
    std::string bytes(size, '\x11');
    if (size >= 0x40000) {
      bytes.replace(0x1FFFC, 4, "ABCD");
      bytes.replace(0x3FFFC, 4, clone ? "ABCE" : "ABCD");
    }
    return bytes;
  };
  struct Case {
    const char* name;
    std::string bytes;  // empty name: no file
    bool cloneChecked;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"missing", "", false, {}},
      {"empty", std::string(), false, {std::string("Firmware Error: ") + kFirmwareEmpty}},
      {"one byte over 256 KB", image(0x40001, false), false, {std::string("Firmware Error: ") + kFirmwareTooLarge}},
      {"clone file, no clone box", image(0x40000, true), false, {std::string("Firmware Error: ") + kCloneFirmware}},
      {"plain file, clone box", image(0x40000, false), true, {std::string("Firmware Error: ") + kNotCloneFirmware}},
      // Shorter than the marks: the zeroed block makes them equal.
      {"short plain file", image(0x10000, false), true, {std::string("Firmware Error: ") + kNotCloneFirmware}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PassBench b(Products(1));
    b.settings().EnFWUpdate = 1;
    const std::string file = b.Path("fw.bin");
    if (std::string(c.name) != "missing") Spit(file, c.bytes);
    SetFieldText(b.settings().FwFileName, file);
    b.host().controls.cloneProduct = c.cloneChecked;
    const PassSummary summary = b.Run();
    EXPECT_EQ(summary.started, 0);
    EXPECT_EQ(b.Messages(), c.messages);
    EXPECT_EQ(b.host().refreshes, 1);
    EXPECT_EQ(b.host().waitEnds, 1);
    EXPECT_TRUE(b.passEnd().IsSet());
    EXPECT_FALSE(b.pass().firmwareImage.allocated());
    EXPECT_FALSE(std::filesystem::exists(b.dayLog().path));
  }
}

// A Type-C pass drives one product: with two attached it starts nothing
// and logs nothing.
TEST(ProductionPassTest, TypeCWithTwoProductsStartsNoWorker) {
  PassBench b(Products(2));
  b.settings().EnEPPTypeC = 1;
  const PassSummary summary = b.Run();
  EXPECT_EQ(summary.presentCount, 2);
  EXPECT_EQ(summary.started, 0);
  EXPECT_EQ(b.pass().PresentDeviceCount.load(), 2);
  EXPECT_FALSE(std::filesystem::exists(b.dayLog().path));
  EXPECT_TRUE(b.host().results.empty());
  EXPECT_EQ(b.host().waits, 0);
}

// In the Type-C test passes a product without a disk behind it is not
// there: it cannot take the one product's worker. The firmware update pass
// counts it, and so drives nobody.
TEST(ProductionPassTest, TypeCTestPassesLeaveOutAProductWithoutADisk) {
  struct Case {
    int32_t passIndex;
    int32_t present, started;
  };
  for (const Case c : {Case{0, 2, 0}, Case{1, 1, 1}, Case{2, 1, 1}}) {
    SCOPED_TRACE(c.passIndex);
    PassBench b("[product dut]\nchip = 26\nserial = 0000000000D7\ndisk.sectors = 524288\n"
                "[product empty]\nchip = 26\nserial = 0000000000E8\ndisk = 0\n");
    b.settings().EnEPPTypeC = 1;
    SetFieldText(b.settings().String3, "0000000000D7");  // the serial the test passes expect
    b.pass().EppPassIndex = c.passIndex;
    const PassSummary summary = b.Run();
    EXPECT_EQ(summary.presentCount, c.present);
    EXPECT_EQ(summary.started, c.started);
    if (c.started == 1) {
      EXPECT_TRUE(summary.allPass);
      ASSERT_NE(b.RecordOf("0000000000D7"), nullptr);
      EXPECT_EQ(b.RecordOf("0000000000E8"), nullptr);
    }
  }
}

}  // namespace
}  // namespace station

namespace station {
namespace {

// A Type-C pass keeps its row whole for START's block, however long the
// identity makes it: a row cut short would lose its line end and join the
// next entry.
TEST(ProductionPassTest, TypeCRowsAreKeptWhole) {
  const std::string manufacturer(69, 'M'), product(69, 'P');
  PassBench b("[product dut]\nchip = 26\nserial = 0000000000D7\ndisk.sectors = 524288\n");
  SettingsBlock& s = b.settings();
  s.EnEPPTypeC = 1;
  s.EnEEPROMUpdate = 1;
  b.options().MPEEPROMToLog = 1;  // the identity column of the settings' strings
  SetFieldText(s.VenderID, "6A3E");
  SetFieldText(s.ProductID, "4649");
  SetFieldText(s.StringA, manufacturer);
  SetFieldText(s.StringB, product);
  SetFieldText(s.String3, "0000000000D7");
  b.pass().EppPassIndex = 1;
  ASSERT_EQ(b.Run().started, 1);
  const std::string& row = b.members().typeCRows[1];
  EXPECT_GT(row.size(), 259u);
  EXPECT_EQ(row.find("\r\n"), row.size() - 2) << "one line, ending in its CR LF";
  EXPECT_NE(row.find("6A3E / 4649 / " + manufacturer + " / " + product + " / "), std::string::npos);
  EXPECT_EQ(row.substr(row.size() - 11), "\tCC1-Test\r\n");
}

}  // namespace
}  // namespace station
