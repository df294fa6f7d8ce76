// What a pass gives out and counts is never lost: the serial numbers reach
// the settings file before any product holds one, the yield reaches its
// file before the products leave, a station that cannot keep them starts
// no further pass, the serial stops at its last value rather than wrap, and
// a full disk under the day log is reported and leaves no torn row. The
// files are read by Python's configparser and csv modules.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "station/settings_engine.h"
#include "station/tests/configparser_reader.h"
#include "station/tests/file_size_limit.h"
#include "station/tests/pass_fixture.h"

namespace station {
namespace {

namespace fs = std::filesystem;
using testing::FileSizeLimit;
using testing::PassBench;
using testing::ReadIniWithPython;
using testing::ReadTabRowsWithPython;
using testing::Slurp;
using testing::Spit;

constexpr char kMaxSerialBox[] = "Error: Serial number reach the max setting number ";

std::string Products(int count) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += "[product p" + std::to_string(i) + "]\nchip = 12\nserial = 58000000000" + std::to_string(i) + "\n";
  return text;
}

// The configuration update with the serial advanced from port to port, and
// the configured identity in the day log's rows.
void GiveSerials(PassBench& b, const char* first) {
  SettingsBlock& s = b.settings();
  s.EnEEPROMUpdate = 1;
  s.String3Inc = 1;
  s.StringAInc = 1;
  SetFieldText(s.String3, first);
  SetFieldText(s.StringA, "A0");
  b.options().MPEEPROMToLog = 1;
}

// The serial of each logged row: the last part of its identity column.
std::vector<std::string> LoggedSerials(PassBench& b) {
  std::vector<std::string> serials;
  const auto rows = ReadTabRowsWithPython(b.dayLog().path, b.Path(""));
  for (size_t i = 1; i < rows.size(); ++i) {
    const std::string& identity = rows[i].size() > 3 ? rows[i][3] : "";
    serials.push_back(identity.substr(identity.rfind(" / ") + 3));
  }
  return serials;
}

std::string Box(const char* text, const std::string& path) {
  std::string box = std::string("Error: ") + text;
  return box.replace(box.find("%s"), 2, path);
}

TEST(PassRecords, TheSerialsAndTheYieldReachTheirFilesBeforeTheProductsLeave) {
  PassBench b(Products(3));
  GiveSerials(b, "000000000101");
  Spit(b.Path("Kestrova.ini"), "[setting]\r\nMPResetWait=10\r\n[QVEEPROM]\r\nString3=000000000101\r\n");
  testing::IniEntries whileWorking, atResult;
  b.host().onWaitBegins = [&] { whileWorking = ReadIniWithPython(b.Path("Kestrova.ini"), b.Path("")); };
  b.host().onResult = [&] { atResult = ReadIniWithPython(b.Path("log/QV4164x.log"), b.Path("")); };
  const PassSummary summary = b.Run();
  EXPECT_EQ(summary.started, 3);
  EXPECT_TRUE(summary.allPass);
  EXPECT_TRUE(b.Messages().empty());
  // Kept before any worker ran: the number the next pass starts from.
  EXPECT_EQ((whileWorking[{"QVEEPROM", "String3"}]), "000000000104");
  EXPECT_EQ((whileWorking[{"QVEEPROM", "StringA"}]), "A3");
  EXPECT_EQ((whileWorking[{"setting", "MPResetWait"}]), "10");  // the file's other lines stay
  EXPECT_EQ((atResult[{"TestRecord", "TotalTestCount"}]), "3");
  EXPECT_EQ((atResult[{"TestRecord", "NumberOfPass"}]), "3");
  EXPECT_EQ(LoggedSerials(b), (std::vector<std::string>{"000000000101", "000000000102", "000000000103"}));
}

// Nothing a product could hold is given out while the settings file cannot
// keep the next number: no worker starts, no number is used up, and once
// the file can take it the pass runs.
TEST(PassRecords, AStationThatCannotKeepTheSerialsStartsNoWorker) {
  const struct {
    const char* name;
    std::function<void(const std::string&)> spoil;
  } cases[] = {
      {"missing", [](const std::string& ini) { fs::remove(ini); }},
      {"read only", [](const std::string& ini) { ::chmod(ini.c_str(), 0444); }},
      {"a folder", [](const std::string& ini) { fs::remove(ini), fs::create_directory(ini); }},
      {"a pipe", [](const std::string& ini) { fs::remove(ini), ::mkfifo(ini.c_str(), 0600); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PassBench b(Products(2));
    GiveSerials(b, "000000000101");
    const std::string ini = b.Path("Kestrova.ini");
    c.spoil(ini);
    const PassSummary summary = b.Run();
    EXPECT_EQ(summary.started, 0);
    EXPECT_FALSE(summary.kept);
    EXPECT_TRUE(b.members().unkept);
    EXPECT_EQ(b.Messages(), std::vector<std::string>{Box(kSerialNotKept, ini)});
    EXPECT_EQ(FieldText(b.settings().String3), "000000000101");
    EXPECT_EQ(FieldText(b.settings().StringA), "A0");
    for (const bridge::PortRecord& r : b.pass().ports.records) EXPECT_EQ(r.configurationStatus, 0);
    EXPECT_FALSE(fs::exists(b.dayLog().path));
    EXPECT_TRUE(b.host().results.empty());

    fs::remove_all(ini);
    Spit(ini, "");
    EXPECT_EQ(b.Run().started, 2);
    EXPECT_EQ((ReadIniWithPython(ini, b.Path(""))[{"QVEEPROM", "String3"}]), "000000000103");
    EXPECT_EQ(LoggedSerials(b), (std::vector<std::string>{"000000000101", "000000000102"}));
  }
}

// A yield that cannot be kept is reported; the pass it was counted in keeps
// its rows, but no further pass starts until the yield reaches its file.
TEST(PassRecords, AYieldThatCannotBeKeptHoldsTheNextPass) {
  PassBench b(Products(2));
  const std::string yield = b.Path("log/QV4164x.log");
  fs::create_directory(yield);
  const std::string box = Box(kYieldNotKept, yield);
  PassSummary summary = b.Run();
  EXPECT_EQ(summary.started, 2);
  EXPECT_FALSE(summary.kept);
  EXPECT_TRUE(b.members().unkept);
  EXPECT_EQ(b.Messages(), std::vector<std::string>{box});
  EXPECT_EQ(b.host().results, std::vector<bool>{true});
  EXPECT_EQ(LoggedSerials(b).size(), 2u);

  summary = b.Run();
  EXPECT_EQ(summary.started, 0);
  EXPECT_FALSE(summary.kept);
  EXPECT_EQ(b.Messages(), (std::vector<std::string>{box, box}));
  EXPECT_EQ(LoggedSerials(b).size(), 2u);

  fs::remove(yield);
  summary = b.Run();
  EXPECT_EQ(summary.started, 2);
  EXPECT_TRUE(summary.kept);
  EXPECT_FALSE(b.members().unkept);
  const auto kept = ReadIniWithPython(yield, b.Path(""));
  EXPECT_EQ((kept.at({"TestRecord", "TotalTestCount"})), "4");
  EXPECT_EQ((kept.at({"TestRecord", "NumberOfPass"})), "4");
}

// Past FFFFFFFFFFFF the counter would start again at numbers given out
// before: it stops there with the maximum's message, in this pass and the
// next, and the file keeps the last value.
TEST(PassRecords, TheSerialStopsAtItsLastValue) {
  PassBench b(Products(3));
  GiveSerials(b, "FFFFFFFFFFFE");
  const PassSummary summary = b.Run();
  EXPECT_EQ(summary.started, 1);
  EXPECT_EQ(b.Messages(), std::vector<std::string>{kMaxSerialBox});
  EXPECT_EQ((ReadIniWithPython(b.Path("Kestrova.ini"), b.Path(""))[{"QVEEPROM", "String3"}]), "FFFFFFFFFFFF");
  const auto rows = ReadTabRowsWithPython(b.dayLog().path, b.Path(""));
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(LoggedSerials(b)[0], "FFFFFFFFFFFE");
  EXPECT_EQ(rows[2][12], "Fail");  // the port that met the last value
  EXPECT_EQ(b.Run().started, 0);
  EXPECT_EQ(b.Messages(), (std::vector<std::string>{kMaxSerialBox, kMaxSerialBox}));
}

// The disk fills once the workers are done, while the rows are written: the
// operator is told as of a log that cannot be opened, the pass is not shown
// as passed, and the file keeps no part of a row or a header; the next pass
// writes whole rows under the header again.
TEST(PassRecords, AFullDiskUnderTheDayLogIsReportedAndLeavesNoTornRow) {
  const struct {
    const char* name;
    bool logThere;  // an earlier pass made the file
    int64_t room;   // bytes past the file's size the disk still takes
  } cases[] = {{"within a row", true, 100}, {"within the header", false, 100}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PassBench b(Products(2));
    if (c.logThere) {
      ASSERT_TRUE(b.Run().logged);
    }
    const std::string before = fs::exists(b.dayLog().path) ? Slurp(b.dayLog().path) : "";
    {
      FileSizeLimit disk;
      b.host().onWaitEnds = [&] { disk.Apply(before.size() + static_cast<uint64_t>(c.room)); };
      const PassSummary summary = b.Run();
      b.host().onWaitEnds = nullptr;
      EXPECT_FALSE(summary.logged);
      EXPECT_EQ(summary.started, 2);
    }
    EXPECT_EQ(b.Messages(), std::vector<std::string>{"Error: Fail to open/create log file!"});
    EXPECT_EQ(b.host().results, c.logThere ? std::vector<bool>{true} : std::vector<bool>{});
    EXPECT_EQ(b.members().lastPassFailed, 1);
    if (c.logThere) {
      EXPECT_EQ(Slurp(b.dayLog().path), before);
    } else {
      EXPECT_FALSE(fs::exists(b.dayLog().path));
    }

    ASSERT_TRUE(b.Run().logged);
    const auto rows = ReadTabRowsWithPython(b.dayLog().path, b.Path(""));
    ASSERT_EQ(rows.size(), c.logThere ? 5u : 3u);
    EXPECT_EQ(rows[0][0], "No.");
    for (size_t i = 1; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].size(), 22u) << i;
      EXPECT_EQ(rows[i].back(), "Pass") << i;
    }
  }
}

}  // namespace
}  // namespace station
