// The second program's key set: its own keys, the orders, the quoted
// texts, the time-out handed to the library, files shared with the first
// program, and what an independent reader makes of our files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/ini_file.h"
#include "sdkstation/sdk_settings_file.h"
#include "sdkstation/tests/sdk_fixture.h"
#include "station/settings_file.h"
#include "station/tests/configparser_reader.h"

namespace sdkstation {
namespace {

using ::testing::ElementsAre;
using testing::Slurp;
using testing::Spit;

std::string StationData(const char* name) { return std::string(KESTROVA_STATION_TEST_DATA) + "/" + name; }

// The library's time-out entry as a counting stand-in.
struct TimeoutCalls {
  static inline std::vector<int> values;
  static inline int32_t capacityRangeSeen = 0;
  static inline const StationOptions* options = nullptr;
  static int Record(int seconds) {
    values.push_back(seconds);
    capacityRangeSeen = options ? options->EnCapacityErrorRange : 0;
    return 1;
  }
};

class SdkSettings : public testing::SdkTest {
 public:
  SdkSettings() {
    TimeoutCalls::values.clear();
    TimeoutCalls::options = &options_;
    DeviceSdk() = DeviceSdkTable{};
    DeviceSdk().QV_SetSCSITimeOut = &TimeoutCalls::Record;
  }
  ~SdkSettings() override {
    DeviceSdk() = DeviceSdkTable{};
    TimeoutCalls::options = nullptr;
  }

  SdkLoadResult LoadFresh(const std::string& text) {
    block_ = ZeroedSdkSettingsBlock();
    options_ = StationOptions();
    WriteFile(station::kSettingsFileName, text);
    boxes_.clear();
    return LoadSettings(station::kSettingsFileName, block_, options_);
  }
  std::string Saved(const std::string& name = "saved.ini") {
    EXPECT_EQ(SaveSettingsToIni(name, block_, options_), 1);
    return Slurp(Path(name));
  }

  SdkSettingsBlock block_ = ZeroedSdkSettingsBlock();
  StationOptions options_;
};

std::string WithTestFile(const std::string& more) {
  return "[setting]\r\nWriteFileName=pattern.txt\r\n" + more;
}

TEST_F(SdkSettings, TheSecondProgramsOwnKeys) {
  WriteFile("pattern.txt", "00");
  struct Key {
    const char* section;
    const char* name;
    std::function<int64_t(const SdkSettingsBlock&, const StationOptions&)> value;
    int64_t standard;
    bool flag;  // stored as 0 or 1
  };
  const Key keys[] = {
      {"setting", "EnCapacityErrorRange", [](auto&, auto& o) { return o.EnCapacityErrorRange; }, 10, false},
      {"QVEXECUTE", "nPartitionTblFmt", [](auto& b, auto&) { return b.nPartitionTblFmt; }, 0, true},
      {"QVEXECUTE", "EnQuickFormat", [](auto& b, auto&) { return b.EnQuickFormat; }, 1, false},
      {"QVEXECUTE", "EnDiskCompression", [](auto& b, auto&) { return b.EnDiskCompression; }, 1, false},
      {"QVEXECUTE", "EnEraseFlashOnly", [](auto& b, auto&) { return b.EnEraseFlashOnly; }, 0, false},
      {"QVEEPROM", "UpdateVID", [](auto& b, auto&) { return b.UpdateVID; }, 0, true},
      {"QVEEPROM", "UpdatePID", [](auto& b, auto&) { return b.UpdatePID; }, 0, true},
      {"QVEEPROM", "UpdateManufString", [](auto& b, auto&) { return b.UpdateManufString; }, 0, true},
      {"QVEEPROM", "UpdateUSBProdString", [](auto& b, auto&) { return b.UpdateUSBProdString; }, 0, true},
      {"QVEEPROM", "UpdateDeviceString", [](auto& b, auto&) { return b.UpdateDeviceString; }, 0, true},
      {"QVEEPROMVERIFY", "EnCheckVID", [](auto& b, auto&) { return b.EnCheckVID; }, 0, false},
      {"QVEEPROMVERIFY", "EnCheckPID", [](auto& b, auto&) { return b.EnCheckPID; }, 0, false},
      {"QVEEPROMVERIFY", "EnCheckManufString", [](auto& b, auto&) { return b.EnCheckManufString; }, 0, false},
      {"QVEEPROMVERIFY", "EnCheckUSBProdString", [](auto& b, auto&) { return b.EnCheckUSBProdString; }, 0, false},
  };
  for (const Key& key : keys) {
    SCOPED_TRACE(key.name);
    // WithTestFile opens the "setting" section itself.
    const std::string section = key.section == std::string("setting") ? "" : std::string("[") + key.section + "]\r\n";
    const auto load = [&](const std::string& line) {
      LoadFresh(WithTestFile(section + line));
      EXPECT_THAT(Messages(), ::testing::IsEmpty());
      return key.value(block_, options_);
    };
    EXPECT_EQ(load(""), key.standard) << "missing";
    EXPECT_EQ(load(std::string(key.name) + "=\r\n"), key.standard) << "empty";
    EXPECT_EQ(load(std::string(key.name) + "=five\r\n"), key.standard) << "malformed";
    EXPECT_EQ(load(std::string(key.name) + "=5\r\n"), key.flag ? 1 : 5) << "present";
    EXPECT_EQ(load(std::string(key.name) + "=0x0\r\n"), 0) << "hexadecimal";
  }
}

// The golden file of the second program's writer: every key in its
// writing order with its form, nine texts between quotes.
TEST_F(SdkSettings, ASaveOfTheLoadedValuesGivesTheWritersFileByteForByte) {
  WriteFile(station::kSettingsFileName, Slurp(StationData("second_program.ini")));
  LoadSettings(station::kSettingsFileName, block_, options_);
  EXPECT_EQ(FieldText(block_.StringA), "Acme    ");
  EXPECT_EQ(FieldText(block_.HDDFwRev), "  1.0 ");
  EXPECT_EQ(options_.SCSITimeout, 25);
  const SdkSettingsBlock before = block_;
  EXPECT_EQ(Saved("new.ini"), Slurp(StationData("second_program.ini")));
  // The quotes went into the file, never into the window's record.
  EXPECT_EQ(std::memcmp(&before, &block_, sizeof before), 0);
}

TEST_F(SdkSettings, TheTimeOutGoesToTheLibraryOncePerLoadRightAfterItIsRead) {
  WriteFile("pattern.txt", "00");
  struct Case {
    const char* what;
    std::string file;  // empty: no settings file
    std::vector<int> handed;
    int32_t stationTimeout;
  };
  const Case cases[] = {
      {"the key", WithTestFile("SCSITimeout=7\r\nEnCapacityErrorRange=3\r\n"), {7}, 7},
      {"no key", WithTestFile("EnCapacityErrorRange=3\r\n"), {10}, 10},
      {"a negative one", WithTestFile("SCSITimeout=-4\r\nEnCapacityErrorRange=3\r\n"), {10}, 10},
      {"no settings file", "", {}, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(Path(station::kSettingsFileName));
    TimeoutCalls::values.clear();
    TimeoutCalls::capacityRangeSeen = 0;
    block_ = ZeroedSdkSettingsBlock();
    options_ = StationOptions();
    if (!c.file.empty()) WriteFile(station::kSettingsFileName, c.file);
    LoadSettings(station::kSettingsFileName, block_, options_);
    EXPECT_EQ(TimeoutCalls::values, c.handed);
    if (!c.handed.empty()) {
      EXPECT_EQ(TimeoutCalls::capacityRangeSeen, 10);  // its key not read yet
    }
    EXPECT_EQ(options_.SCSITimeout, c.stationTimeout);
    EXPECT_EQ(platform::IniFile::FromText(Saved()).Read("setting", "SCSITimeout"),
              std::to_string(c.stationTimeout));
  }
}

TEST_F(SdkSettings, AMissingFileReadsNoKeyAndTheBlockStaysZero) {
  const SdkLoadResult result = LoadSettings("none.ini", block_, options_);
  EXPECT_THAT(Messages(), ElementsAre("Please make sure the file " + Path("none.ini") + " exist!\n"));
  EXPECT_EQ(result.result, 0);
  EXPECT_EQ(result.settingsRead, 0);
  SdkSettingsBlock zero = ZeroedSdkSettingsBlock();
  EXPECT_EQ(std::memcmp(&zero, &block_, sizeof zero), 0);
  EXPECT_EQ(options_.SCSITimeout, 10);
  EXPECT_THAT(result.effects, ElementsAre(ControlEffect{"YieldEdit", Effect::kText, 0, "0/0"}));
}

TEST_F(SdkSettings, TestFileMessagesAndTheLoadsResult) {
  struct Case {
    const char* what;
    std::string setting;
    std::vector<std::string> messages;
    int result;
  };
  WriteFile("pattern.txt", "00");
  const Case cases[] = {
      {"named and there", "WriteFileName=pattern.txt\r\n", {}, 1},
      {"named, missing", "WriteFileName=gone.txt\r\n", {"Unable to find the test file : " + Path("gone.txt")}, 1},
      {"empty",
       "WriteFileName=\r\n",
       {"Please set write file name in the INI file", "Unable to find the test file : " + folder_ + "/"},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const SdkLoadResult result = LoadFresh("[setting]\r\n" + c.setting + "RWDataSize=0\r\n");
    EXPECT_EQ(Messages(), c.messages);
    EXPECT_EQ(result.result, c.result);
    EXPECT_EQ(block_.RWDataSize, 2);  // the load went on
  }
}

TEST_F(SdkSettings, ValuesTheFileGetsWrongTakeTheirDefaults) {
  // A free space that is no number takes 0 and is reported for the window
  // to show; the load goes on, and a save gives the file its text back.
  WriteFile("pattern.txt", "00");
  for (const char* value : {"", "lots", "1e400", "-1e300", "0x10"}) {
    SCOPED_TRACE(value);
    const SdkLoadResult result =
        LoadFresh(WithTestFile("[QVEXECUTE]\r\nFreeSpace=" + std::string(value) + "\r\nFreeSpaceRange=" + value +
                               "\r\nEnPartition=1\r\nDiskFormat=7\r\n"));
    EXPECT_THAT(Messages(), ::testing::IsEmpty());
    ASSERT_THAT(result.unreadValues, ElementsAre(UnreadValue{"QVEXECUTE", "FreeSpace", value},
                                                 UnreadValue{"QVEXECUTE", "FreeSpaceRange", value}));
    EXPECT_EQ(ConversionError(result.unreadValues[0]), "'" + std::string(value) + "' is not a valid floating point value");
    EXPECT_EQ(block_.FreeSpace, 0);
    EXPECT_EQ(block_.FreeSpaceRange, 0);
    EXPECT_EQ(block_.EnPartition, 1);  // the load did not end at the bad value
    EXPECT_EQ(block_.DiskFormat, 0);
    ASSERT_EQ(SaveSettingsToIni(station::kSettingsFileName, block_, options_, result.unreadValues), 1);
    const auto python = station::testing::ReadIniWithPython(Path(station::kSettingsFileName), folder_);
    EXPECT_EQ((python.at({"QVEXECUTE", "FreeSpace"})), value);
    EXPECT_EQ((python.at({"QVEXECUTE", "FreeSpaceRange"})), value);
    EXPECT_EQ((python.at({"QVEXECUTE", "DiskFormat"})), "0");
  }
  const SdkLoadResult fine = LoadFresh(WithTestFile("[QVEXECUTE]\r\nFreeSpace=1234.9\r\n"));
  EXPECT_EQ(block_.FreeSpace, 1234);
  EXPECT_THAT(fine.unreadValues, ::testing::IsEmpty());
  // A missing key is no error: it takes its default.
  EXPECT_THAT(LoadFresh(WithTestFile("")).unreadValues, ::testing::IsEmpty());
}

TEST_F(SdkSettings, RulesOfTheLoad) {
  WriteFile("pattern.txt", "00");
  LoadFresh(WithTestFile("EnBarcodeMode=1\r\nMPAutorun=3\r\n"));
  EXPECT_EQ(options_.MPAutorun, 0);
  EXPECT_THAT(LoadFresh(WithTestFile("EnBarcodeMode=1\r\nMPAutorun=3\r\n")).effects,
              ::testing::Contains(ControlEffect{"ExecuteBtn", Effect::kCaption, 0, "BarCode"}));
  EXPECT_EQ(platform::IniFile::FromText(Saved()).Read("setting", "MPAutorun"), "0");
  EXPECT_THAT(LoadFresh(WithTestFile("MPAutorun=-5\r\n")).effects,
              ::testing::Contains(ControlEffect{"ExecuteBtn", Effect::kCaption, 0, "START"}));
  EXPECT_EQ(options_.MPAutorun, 0);
  EXPECT_THAT(LoadFresh(WithTestFile("MPAutorun=2\r\n")).effects,
              ::testing::Contains(ControlEffect{"ExecuteBtn", Effect::kCaption, 0, "AUTO"}));

  struct Choice {
    std::string execute;
    int32_t clusterItem;  // -1: no selection
    bool clusterShown;
    int32_t clusterSize;
    const char* written;
    int32_t capacityItem;
  };
  const Choice choices[] = {
      {"Capacity=250\r\n", -2, false, 0, "-1", 5},
      {"Capacity=300\r\nFmtSecPerClus=4096\r\n", 2, true, 4096, "4096", -1},
      {"FmtSecPerClus=4096\r\nDiskFormat=1\r\n", 0, true, 0, "0", 0},
      {"FmtSecPerClus=1024\r\n", 0, true, 0, "0", 0},
  };
  for (const Choice& c : choices) {
    SCOPED_TRACE(c.execute);
    const SdkLoadResult result = LoadFresh(WithTestFile("[QVEXECUTE]\r\n" + c.execute));
    EXPECT_THAT(result.effects, ::testing::Contains(ControlEffect{"CapChkCmbx", Effect::kItemIndex, c.capacityItem, ""}));
    EXPECT_THAT(result.effects,
                ::testing::Contains(ControlEffect{"FmtSecPerClusCbox", Effect::kVisible, c.clusterShown, ""}));
    if (c.clusterItem != -2) {
      EXPECT_THAT(result.effects,
                  ::testing::Contains(ControlEffect{"FmtSecPerClusCbox", Effect::kItemIndex, c.clusterItem, ""}));
    }
    EXPECT_EQ(block_.FmtSecPerClus, c.clusterSize);
    EXPECT_EQ(block_.ClusterChoiceShown, c.clusterShown);
    EXPECT_EQ(platform::IniFile::FromText(Saved()).Read("QVEXECUTE", "FmtSecPerClus"), c.written);
  }
}

// The keys the first program keeps in the file survive our saves, and so
// does every line we do not write, byte for byte; our own values are read
// back as written, leading and trailing blanks of the quoted texts too.
TEST_F(SdkSettings, ARoundTripKeepsTheFirstProgramsKeysAndForeignLines) {
  WriteFile("pattern.txt", "00");
  station::SettingsBlock first = station::ZeroedSettingsBlock();
  station::StationOptions firstOptions;
  WriteFile(station::kSettingsFileName, "; made by hand\r\n[setting]\r\nWriteFileName=pattern.txt\r\n");
  ASSERT_EQ(station::LoadSettings(station::kSettingsFileName, first, firstOptions).settingsRead, 1);
  first.WRLoop = 9;
  station::SetFieldText(first.ProductRevsion, "0207");
  first.ODDSize = 640;
  ASSERT_EQ(station::SaveSettingsToIni(station::kSettingsFileName, first, firstOptions), 1);
  std::string text = Slurp(Path(station::kSettingsFileName));
  text += "[Foreign]\r\nkey = value ; kept\r\n";
  WriteFile(station::kSettingsFileName, text);

  LoadFresh(text);
  ASSERT_TRUE(block_.ProductModel[0] == 'Q');  // "QV" stays stored
  SetFieldText(block_.StringA, "ABC     ");
  SetFieldText(block_.StringC, "  Maker ");
  SetFieldText(block_.DiskLabel, "a \"quoted\" one ");
  block_.UpdatePID = 1;
  block_.nPartitionTblFmt = 1;
  ASSERT_EQ(SaveSettingsToIni(station::kSettingsFileName, block_, options_), 1);

  const std::string saved = Slurp(Path(station::kSettingsFileName));
  for (const char* line : {"; made by hand\r\n", "WRLoop=9\r\n", "ProductRevsion=0207\r\n", "ODDSize=640\r\n",
                           "TableType=3\r\n", "[Foreign]\r\nkey = value ; kept\r\n", "ProductModel=QV\r\n",
                           "StringA='ABC     '\r\n", "UpdatePID=1\r\n", "nPartitionTblFmt=1\r\n"})
    EXPECT_NE(saved.find(line), std::string::npos) << line;

  const SdkSettingsBlock written = block_;
  LoadFresh(saved);
  EXPECT_EQ(FieldText(block_.StringA), "ABC     ");
  EXPECT_EQ(FieldText(block_.StringC), "  Maker ");
  EXPECT_EQ(FieldText(block_.DiskLabel), "a \"quoted\" one ");
  EXPECT_EQ(FieldText(block_.ProductModel), "QV");
  EXPECT_EQ(block_.UpdatePID, 1);
  EXPECT_EQ(block_.nPartitionTblFmt, 1);
  EXPECT_EQ(std::memcmp(&written.StringA, &block_.StringA, sizeof written.StringA), 0);

  // The first program reads its own keys back as it wrote them.
  station::SettingsBlock again = station::ZeroedSettingsBlock();
  station::StationOptions againOptions;
  station::LoadSettings(station::kSettingsFileName, again, againOptions);
  EXPECT_EQ(again.WRLoop, 9);
  EXPECT_EQ(station::FieldText(again.ProductRevsion), "0207");
  EXPECT_EQ(again.ODDSize, 640);
}

TEST_F(SdkSettings, NoValueAddsALine) {
  WriteFile("pattern.txt", "00");
  LoadFresh(WithTestFile(""));
  SetFieldText(block_.StringB, "two\r\nlines");
  SetFieldText(block_.SwImgPath, "a\rb");
  const std::string saved = Saved();
  EXPECT_NE(saved.find("StringB='two'\r\n"), std::string::npos);
  EXPECT_EQ(saved.find("lines"), std::string::npos);
  EXPECT_NE(saved.find("SwImgPath=a\r\n"), std::string::npos);
}

TEST_F(SdkSettings, PythonsConfigParserReadsOurFile) {
  if (!station::testing::HavePythonConfigParser()) GTEST_SKIP() << "python3 with configparser is not available";
  WriteFile(station::kSettingsFileName, Slurp(StationData("second_program.ini")));
  LoadSettings(station::kSettingsFileName, block_, options_);
  SetFieldText(block_.StringB, "Tab\there");
  ASSERT_EQ(SaveSettingsToIni("ours.ini", block_, options_), 1);
  const station::testing::IniEntries python =
      station::testing::ReadIniWithPython(Path("ours.ini"), folder_, "latin-1", "strict");
  const platform::IniFile ours(Path("ours.ini"));
  size_t written = 0;
  for (const SettingsKey& key : SettingsKeys()) {
    if (key.write == station::WriteForm::kNone) continue;
    ++written;
    const auto found = python.find({std::string(key.section), std::string(key.name)});
    ASSERT_NE(found, python.end()) << key.section << "/" << key.name;
    // Python keeps the quotes ours takes off.
    const std::string value = ours.Read(key.section, key.name).value_or("?");
    EXPECT_EQ(found->second, key.write == station::WriteForm::kQuotedText ? "'" + value + "'" : value)
        << key.section << "/" << key.name;
  }
  EXPECT_EQ(python.size(), written);
  EXPECT_EQ(python.at({"QVEEPROM", "StringB"}), "'Tab\there'");
}

}  // namespace
}  // namespace sdkstation
