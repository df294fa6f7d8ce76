// Our written files read by an independent INI reader: Python's configparser
// (raw, not strict, no interpolation, names with their case).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <utility>

#include "platform/ini_file.h"
#include "station/settings_file.h"
#include "station/tests/configparser_reader.h"
#include "station/tests/settings_fixture.h"

namespace station {
namespace {

using testing::Slurp;
using testing::Spit;
using testing::TestData;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

using Entries = testing::IniEntries;

class ConfigParserReading : public testing::SettingsFileTest {
 public:
  void SetUp() override {
    if (!testing::HavePythonConfigParser()) GTEST_SKIP() << "python3 with configparser is not available";
  }

  // What configparser makes of the file, or an empty map after a failure.
  Entries ReadWithPython(const std::string& file, const char* encoding = "latin-1",
                         const char* strictness = "lenient") {
    return testing::ReadIniWithPython(file, folder_, encoding, strictness);
  }

  // Both readers agree on every entry, and every written key is there.
  void ExpectSameReading(const std::string& file, const char* encoding = "latin-1",
                         const char* strictness = "lenient") {
    const Entries python = ReadWithPython(file, encoding, strictness);
    const platform::IniFile ours(file);
    for (const auto& [name, value] : python)
      EXPECT_EQ(ours.Read(name.first, name.second), value) << name.first << "/" << name.second;
    for (const SettingsKey& key : SettingsKeys()) {
      if (key.write == WriteForm::kNone) continue;
      const bool found = std::any_of(python.begin(), python.end(), [&](const auto& entry) {
        return entry.first.first == key.section && Lower(entry.first.second) == Lower(key.name);
      });
      EXPECT_TRUE(found) << key.section << "/" << key.name;
    }
  }
};

TEST_F(ConfigParserReading, ANewlyWrittenFile) {
  LoadFresh(
      "[setting]\r\nWriteFileName=/opt/kestrova/pattern 1.txt\r\nProductModel=50% ; model #2\r\n"
      "PerfShift=0.3\r\n"
      "[QVEXECUTE]\r\nDiskLabel=Label: a=b\r\nFwFileName=/opt/fw [v2].bin\r\nFreeSpace=-7\r\n"
      "FmtSecPerClus=512\r\n"
      "[QVEEPROM]\r\nStringA=Orvanta QV Bridge\r\nFlashType=255\r\n");
  ASSERT_EQ(SaveSettingsToIni("written.ini", block_, options_), 1);
  ExpectSameReading(Path("written.ini"));

  const Entries python = ReadWithPython(Path("written.ini"));
  EXPECT_EQ((python.at({"setting", "ProductModel"})), "50% ; model #2");
  EXPECT_EQ((python.at({"setting", "PerfShift"})), "0.300000011920929");
  EXPECT_EQ((python.at({"QVEXECUTE", "DiskLabel"})), "Label: a=b");
  EXPECT_EQ((python.at({"QVEXECUTE", "FreeSpace"})), "-7");
  EXPECT_EQ((python.at({"QVEXECUTE", "FmtSecPerClus"})), "512");
  EXPECT_EQ((python.at({"QVEEPROM", "FlashType"})), "-1");
  EXPECT_EQ((python.at({"QVEEPROM", "TableType"})), "3");
}

TEST_F(ConfigParserReading, AFileSavedOverHandEditedLines) {
  Spit(Path(kSettingsFileName), Slurp(TestData("foreign.ini")));
  Load();
  ASSERT_EQ(SaveSettingsToIni(kSettingsFileName, block_, options_), 1);
  ExpectSameReading(Path(kSettingsFileName));
  const Entries python = ReadWithPython(Path(kSettingsFileName));
  EXPECT_EQ((python.at({"Operator", "Name"})), "Night shift");
  EXPECT_EQ((python.at({"setting", "usbwriteperformance"})), "30");
}

// A file the station wrote, then edited by hand: saved with a byte-order
// mark in front, its lines ended every way editors end them.
TEST_F(ConfigParserReading, AMarkedFileWithEveryLineEndLoadsAndSavesByteForByte) {
  const std::string written = Slurp(TestData("new_file.ini"));
  std::string edited = "\xEF\xBB\xBF";
  const char* ends[] = {"\r\n", "\n", "\r", "\r\r\n"};
  size_t line = 0;
  for (size_t at = 0; at < written.size();) {
    const size_t end = written.find("\r\n", at);
    edited += written.substr(at, end - at) + ends[line++ % 4];
    at = end + 2;
  }
  const auto change = [&](const std::string& from, const std::string& to) {
    const size_t at = edited.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    edited.replace(at, from.size(), to);
  };
  change("USBWritePerformance=0", "USBWritePerformance=31");  // the first key of all
  change("WRLoop=7", "WRLoop=9");
  change("StandbyTimer=0", "StandbyTimer=12");
  Spit(Path(kSettingsFileName), edited);

  Load();
  EXPECT_EQ(block_.USBWritePerformance, 31);
  EXPECT_EQ(block_.WRLoop, 9);
  EXPECT_EQ(block_.StandbyTimer, 12);
  ASSERT_EQ(SaveSettingsToIni(kSettingsFileName, block_, options_), 1);
  // Nothing added, nothing lost: no second copy of the first section.
  EXPECT_EQ(Slurp(Path(kSettingsFileName)), edited);
  ExpectSameReading(Path(kSettingsFileName), "utf-8-sig", "strict");
  EXPECT_EQ((ReadWithPython(Path(kSettingsFileName), "utf-8-sig", "strict")
                 .at({"setting", "USBWritePerformance"})),
            "31");
}

TEST_F(ConfigParserReading, TheYieldFile) {
  block_.TotalTestCount = 12;
  block_.NumberOfPass = 11;
  ASSERT_EQ(SaveYieldCounters(block_), 1);
  const Entries python = ReadWithPython(YieldFilePath());
  EXPECT_EQ((python.at({"TestRecord", "TotalTestCount"})), "12");
  EXPECT_EQ((python.at({"TestRecord", "NumberOfPass"})), "11");
  EXPECT_EQ(YieldFilePath(), Path("log/QV4164x.log"));
}

}  // namespace
}  // namespace station
