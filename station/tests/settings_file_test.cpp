#include "station/settings_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>

#include "platform/ini_file.h"
#include "station/tests/settings_fixture.h"

namespace station {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Slurp;
using testing::Spit;
using testing::TestData;

using SettingsLoad = testing::SettingsFileTest;
using SettingsSave = testing::SettingsFileTest;

const ControlEffect* Find(const LoadResult& r, std::string_view control, Effect effect) {
  const ControlEffect* found = nullptr;
  for (const ControlEffect& e : r.effects)
    if (e.control == control && e.effect == effect) found = &e;  // the last one counts
  return found;
}

// Any field as text, a text field with all its bytes.
std::string Render(const FieldRef& field) {
  return std::visit(
      [](auto p) -> std::string {
        if constexpr (std::is_same_v<decltype(p), std::span<char>>) return std::string(p.begin(), p.end());
        else if constexpr (std::is_same_v<decltype(p), float*>) {
          char text[32];
          std::snprintf(text, sizeof text, "%a", static_cast<double>(*p));
          return text;
        }
        else return std::to_string(*p);
      },
      field);
}

size_t Position(const LoadResult& r, std::string_view control, Effect effect) {
  for (size_t i = 0; i < r.effects.size(); ++i)
    if (r.effects[i].control == control && r.effects[i].effect == effect) return i;
  ADD_FAILURE() << "no effect on " << control;
  return 0;
}

TEST(SettingsKeys, WritingOrderCoversEveryWrittenKeyOnce) {
  std::vector<int> ranks;
  std::set<std::string> names;
  for (const SettingsKey& key : SettingsKeys()) {
    EXPECT_TRUE(names.insert(std::string(key.section) + "/" + std::string(key.name)).second)
        << key.name;
    EXPECT_EQ(key.write == WriteForm::kNone, key.writeRank < 0) << key.name;
    if (key.writeRank >= 0) ranks.push_back(key.writeRank);
  }
  std::sort(ranks.begin(), ranks.end());
  ASSERT_EQ(ranks.size(), 84u);
  for (size_t i = 0; i < ranks.size(); ++i) EXPECT_EQ(ranks[i], static_cast<int>(i));
}

// --- One table per value type -----------------------------------------------

struct ValueCase {
  const char* value;  // nullptr: the key is missing
  const char* expected;
};

// Loads `key=value` into `section` and gives the stored field as text.
template <typename Read>
void CheckValues(testing::SettingsFileTest& t, const char* section, const char* key,
                 std::initializer_list<ValueCase> cases, Read read) {
  for (const ValueCase& c : cases) {
    std::string text = std::string("[") + section + "]\r\n";
    if (c.value) text += std::string(key) + "=" + c.value + "\r\n";
    t.LoadFresh(text);
    EXPECT_EQ(read(), c.expected) << key << "=" << (c.value ? c.value : "(missing)");
  }
}

TEST_F(SettingsLoad, IntegerValues) {
  CheckValues(*this, "setting", "WRLoop",
              {{nullptr, "7"},
               {"", "7"},
               {"abc", "7"},
               {"0x10", "16"},
               {"0x", "7"},
               {"+5", "5"},
               {"-0x10", "7"},
               {"-3", "-3"},
               {"4294967296", "7"},
               {"0x1FFFFFFFF", "7"},
               {"'12'", "12"},
               {"\"0x20\"", "32"},
               {"  9  ", "9"}},
              [&] { return std::to_string(block_.WRLoop); });
}

TEST_F(SettingsLoad, TextValues) {
  const std::string tooLong(100, 'L');
  CheckValues(*this, "QVEXECUTE", "DiskLabel",
              {{nullptr, "USB Disk"},
               {"", ""},
               {"abc", "abc"},
               {"0x10", "0x10"},
               {"0x", "0x"},
               {"+5", "+5"},
               {"-0x10", "-0x10"},
               {tooLong.c_str(), std::string(79, 'L').c_str()},  // and its terminator
               {"' two  words '", " two  words "},
               {"\"My Disk\"", "My Disk"},
               {"''", ""}},
              [&] { return std::string(FieldText(block_.DiskLabel)); });
}

TEST_F(SettingsLoad, FloatValues) {
  CheckValues(*this, "setting", "PerfShift",
              {{nullptr, "1.000"},
               {"", "1.000"},
               {"abc", "1.000"},
               {"0x10", "1.000"},
               {"0x", "1.000"},
               {"+5", "5.000"},
               {"-0x10", "1.000"},
               {"0.875", "0.875"},
               {"1e39", "1.000"},
               {"'1.5'", "1.500"},
               {"\"2\"", "2.000"}},
              [&] {
                char text[32];
                std::snprintf(text, sizeof text, "%.3f", static_cast<double>(block_.PerfShift));
                return std::string(text);
              });
}

TEST_F(SettingsLoad, DecimalTextValuesNeverEndTheLoad) {
  // An empty or malformed FreeSpace takes 0 like any other key, and the keys
  // after it are still read.
  CheckValues(*this, "QVEXECUTE", "FreeSpace",
              {{nullptr, "0"},
               {"", "0"},
               {"abc", "0"},
               {"0x10", "0"},
               {"0x", "0"},
               {"+5", "5"},
               {"-0x10", "0"},
               {"12.9", "12"},
               {"-12.9", "-12"},
               {"1.5e10", "15000000000"},
               {"1e30", "0"},
               {"'123'", "123"},
               {"\"9007199254740992\"", "9007199254740992"}},
              [&] { return std::to_string(block_.FreeSpace); });

  // Each is kept for the window to report and for a save to write back as
  // the file had it.
  const LoadResult result = LoadFresh("[QVEXECUTE]\r\nFreeSpace=lots\r\nFreeSpaceRange=\r\nEnPartition=1\r\n"
                                      "[QVEEPROM]\r\nVenderID=ABCD\r\n");
  EXPECT_EQ(block_.FreeSpace, 0);
  EXPECT_EQ(block_.FreeSpaceRange, 0);
  EXPECT_EQ(block_.EnPartition, 1);
  EXPECT_EQ(FieldText(block_.VenderID), "ABCD");
  ASSERT_EQ(result.unreadValues, (std::vector<UnreadValue>{{"QVEXECUTE", "FreeSpace", "lots"},
                                                           {"QVEXECUTE", "FreeSpaceRange", ""}}));
  EXPECT_EQ(ConversionError(result.unreadValues[0]), "'lots' is not a valid floating point value");
  ASSERT_EQ(SaveSettingsToIni(kSettingsFileName, block_, options_, result.unreadValues), 1);
  const platform::IniFile saved(Path(kSettingsFileName));
  EXPECT_EQ(saved.Read("QVEXECUTE", "FreeSpace"), "lots");
  EXPECT_EQ(saved.Read("QVEXECUTE", "FreeSpaceRange"), "");
  EXPECT_EQ(saved.Read("QVEXECUTE", "EnPartition"), "1");
  EXPECT_THAT(LoadFresh("[QVEXECUTE]\r\nFreeSpace=12\r\n").unreadValues, ::testing::IsEmpty());
}

// --- Rules of the load ---------------------------------------------------------

TEST_F(SettingsLoad, ClampsAndRules) {
  LoadFresh(
      "[setting]\r\nRWDataSize=0\r\nMPAutorun=-5\r\nMPDevCount=-1\r\nEPPPowerGPIODelay=-3\r\n"
      "EPPPowerOnDelay=-4\r\nEPPPowerOffDelay=-2000000000\r\n"
      "[QVEXECUTE]\r\nDiskFormat=7\r\nFmtSecPerClus=1024\r\n"
      "[QVEEPROM]\r\nStringAInc=5\r\nMapToHDName=-1\r\nTableType=1\r\nFlashType=300\r\n");
  EXPECT_EQ(block_.RWDataSize, 2);
  EXPECT_EQ(options_.MPAutorun, 0);
  EXPECT_EQ(options_.MPDevCount, 0);
  EXPECT_EQ(block_.EPPPowerGPIODelay, 0);
  EXPECT_EQ(block_.EPPPowerOnDelay, -4);  // a count of tries, not a pause
  EXPECT_EQ(block_.EPPPowerOffDelay, 0);
  EXPECT_EQ(block_.DiskFormat, 0);
  EXPECT_EQ(block_.FmtSecPerClus, 0);
  EXPECT_EQ(block_.ClusterChoiceShown, 1);
  EXPECT_EQ(options_.ClusterChoice, 1);
  EXPECT_EQ(block_.StringAInc, 1);
  EXPECT_EQ(block_.MapToHDName, 1);
  EXPECT_EQ(block_.TableType, 3);
  EXPECT_EQ(options_.FlashType, 0);  // 300 is no 8-bit value: the default
  EXPECT_EQ(options_.EnQVS871StandbyTime, 1);  // its default when missing
  EXPECT_EQ(options_.SCSITimeout, 10);
}

TEST_F(SettingsLoad, AValueItsFieldCannotHoldTakesTheDefault) {
  CheckValues(*this, "QVEEPROM", "FlashType",
              {{"231", "231"},
               {"255", "255"},
               {"-1", "255"},  // as the save writes 255
               {"-128", "128"},
               {"999", "0"},
               {"256", "0"},
               {"-129", "0"}},
              [&] { return std::to_string(options_.FlashType); });
  CheckValues(*this, "setting", "SCSITimeout",
              {{"25", "25"}, {"0", "0"}, {"-1", "10"}, {"-2147483648", "10"}},
              [&] { return std::to_string(options_.SCSITimeout); });
}

TEST_F(SettingsLoad, ClusterChoice) {
  LoadFresh("[QVEXECUTE]\r\nFmtSecPerClus=4096\r\nDiskFormat=1\r\n");
  EXPECT_EQ(block_.FmtSecPerClus, 0);
  EXPECT_EQ(block_.ClusterChoiceShown, 1);

  LoadResult r = LoadFresh("[QVEXECUTE]\r\nFmtSecPerClus=4096\r\n");
  EXPECT_EQ(block_.FmtSecPerClus, 4096);
  EXPECT_EQ(Find(r, "FmtSecPerClusCbox", Effect::kItemIndex)->value, 2);
  EXPECT_EQ(Find(r, "FmtSecPerClusCbox", Effect::kVisible)->value, 1);

  r = LoadFresh("[QVEXECUTE]\r\n");
  EXPECT_EQ(block_.FmtSecPerClus, 0);
  EXPECT_EQ(block_.ClusterChoiceShown, 0);
  EXPECT_EQ(options_.ClusterChoice, 0);
  EXPECT_EQ(Find(r, "FmtSecPerClusCbox", Effect::kVisible)->value, 0);
  ASSERT_EQ(SaveSettingsToIni("saved.ini", block_, options_), 1);
  EXPECT_EQ(platform::IniFile(Path("saved.ini")).ReadInteger("QVEXECUTE", "FmtSecPerClus", 0), -1);
}

TEST_F(SettingsLoad, BarcodeModeStopsAutorun) {
  LoadResult r = LoadFresh("[setting]\r\nEnBarcodeMode=1\r\nMPAutorun=1\r\n"
                           "[QVEEPROM]\r\nBarcodeLength=12\r\n");
  EXPECT_EQ(options_.MPAutorun, 0);
  EXPECT_EQ(Find(r, "ExecuteBtn", Effect::kCaption)->text, "BarCode");
  EXPECT_EQ(Find(r, "Str3AutoInc", Effect::kEnabled)->value, 0);
  EXPECT_EQ(Find(r, "String3Edit", Effect::kMaxLength)->value, 12);

  r = LoadFresh("[setting]\r\nMPAutorun=3\r\n");
  EXPECT_EQ(Find(r, "ExecuteBtn", Effect::kCaption)->text, "AUTO");
  EXPECT_EQ(Find(r, "String3Edit", Effect::kMaxLength), nullptr);
  r = LoadFresh("[setting]\r\n");
  EXPECT_EQ(Find(r, "ExecuteBtn", Effect::kCaption)->text, "START");
}

TEST_F(SettingsLoad, DiskSerialBoxIsShownAndCheckedAsItsValue) {
  struct Case {
    const char* value;
    int32_t shownAndChecked;
  } const cases[] = {{nullptr, 0}, {"0", 0}, {"1", 1}, {"5", 1}};
  for (const Case& c : cases) {
    std::string text = "[QVEEPROM]\r\n";
    if (c.value) text += std::string("StrBFromHDSN=") + c.value + "\r\n";
    const LoadResult r = LoadFresh(text);
    EXPECT_EQ(block_.StrBFromHDSN, c.shownAndChecked) << (c.value ? c.value : "(missing)");
    EXPECT_EQ(Find(r, "StrBFromDiskSNChk", Effect::kVisible)->value, c.shownAndChecked);
    EXPECT_EQ(Find(r, "StrBFromDiskSNChk", Effect::kChecked)->value, c.shownAndChecked);
  }
}

TEST_F(SettingsLoad, AFileCanSetTheLockButNotClearIt) {
  WriteIni("[setting]\r\nMPVersion=1\r\n", "locked.ini");
  WriteIni("[setting]\r\nMPVersion=0\r\n", "open.ini");
  Load("locked.ini");
  const LoadResult r = Load("open.ini");
  EXPECT_EQ(block_.MPVersion, 1);
  EXPECT_EQ(Find(r, "RDCheck", Effect::kVisible)->value, 1);
}

TEST_F(SettingsLoad, EppModeFlagSurvivesALaterLoad) {
  WriteIni("[setting]\r\nEnEPPTypeC=1\r\n", "epp.ini");
  WriteIni("[setting]\r\nEnEPPTypeC=0\r\n", "plain.ini");
  Load("epp.ini");
  EXPECT_EQ(options_.KeepEppDevice, 1);
  const LoadResult r = Load("plain.ini");
  EXPECT_EQ(options_.KeepEppDevice, 1);
  EXPECT_EQ(Find(r, "Timer_EPP", Effect::kEnabled)->value, 0);
}

TEST_F(SettingsLoad, ProductModelQvRoundTrips) {
  LoadResult r = LoadFresh("[setting]\r\nProductModel=QV\r\n");
  EXPECT_EQ(FieldText(block_.ProductModel), "QV");
  EXPECT_EQ(Find(r, "ProdModalPanel", Effect::kVisible)->value, 0);
  ASSERT_EQ(SaveSettingsToIni(kSettingsFileName, block_, options_), 1);
  EXPECT_EQ(platform::IniFile(Path(kSettingsFileName)).Read("setting", "ProductModel"), "QV");

  r = LoadFresh("[setting]\r\nProductModel=QV4164x-B\r\n");
  EXPECT_EQ(Find(r, "ProdModalPanel", Effect::kVisible)->value, 1);
  EXPECT_EQ(Find(r, "ProdModalPanel", Effect::kCaption)->text, "QV4164x-B");
}

// --- Messages --------------------------------------------------------------

TEST_F(SettingsLoad, AMissingFileIsReportedAndNoKeyIsRead) {
  const LoadResult r = Load("absent.ini");
  EXPECT_EQ(r.settingsRead, 0);
  const auto boxes = sink_.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Please make sure the file " + Path("absent.ini") + " exist!\n");
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_EQ(boxes[0].flags, platform::kMbIconError);
  EXPECT_EQ(block_.RWDataSize, 0);
  EXPECT_EQ(FieldText(block_.DiskLabel), "");
  EXPECT_EQ(options_.SCSITimeout, 10);
  ASSERT_EQ(r.effects.size(), 1u);  // the yield counters only
  EXPECT_EQ(r.effects[0].control, "YieldEdit");
}

// A pipe would hold the load for ever, a device or a huge file would fill
// memory: such a settings or yield file is reported and read as none.
TEST_F(SettingsLoad, ASettingsOrYieldFileThatIsNoRegularFileOfItsSizeIsNotRead) {
  const std::string ini = Path(kSettingsFileName), yield = Path("log/QV4164x.log");
  const struct {
    const char* name;
    std::function<void()> make;
    std::string box;
  } cases[] = {
      {"a pipe", [&] { ::mkfifo(ini.c_str(), 0600); }, "Unable to read " + ini + ": it is not a regular file"},
      {"a device", [&] { ::symlink("/dev/zero", ini.c_str()); }, "Unable to read " + ini + ": it is not a regular file"},
      {"too large", [&] { Spit(ini, "[setting]\r\nRWDataSize=5\r\n" + std::string(1 << 20, ';')); },
       "Unable to read " + ini + ": it is larger than 1048576 bytes"},
      {"a pipe as the yield file",
       [&] {
         Spit(ini, "[setting]\r\nWriteFileName=pattern.txt\r\nRWDataSize=5\r\n");
         std::filesystem::create_directories(Path("log"));
         ::mkfifo(yield.c_str(), 0600);
       },
       "Unable to read " + yield + ": it is not a regular file"},
  };
  Spit(Path("pattern.txt"), "00");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(ini);
    std::filesystem::remove(yield);
    c.make();
    block_ = ZeroedSettingsBlock();
    options_ = StationOptions();
    const LoadResult r = Load();
    ASSERT_FALSE(Messages().empty());
    EXPECT_EQ(Messages().front(), c.box);
    const bool settingsRead = c.box.find(ini) == std::string::npos;
    EXPECT_EQ(r.settingsRead, settingsRead ? 1 : 0);
    EXPECT_EQ(block_.RWDataSize, settingsRead ? 5 : 0);
  }
}

TEST_F(SettingsLoad, TestFileMessages) {
  const std::string folderOnly = folder_ + "/";
  LoadFresh("[setting]\r\nWriteFileName=\r\n");
  EXPECT_THAT(Messages(), ElementsAre("Please set write file name in the INI file",
                                      "Unable to find the test file : " + folderOnly));

  // A relative name, with or without folders, lies below the program folder.
  std::filesystem::create_directory(Path("data"));
  Spit(Path("data/pattern.txt"), "00 11\r\n");
  LoadFresh("[setting]\r\nWriteFileName=data/pattern.txt\r\n");
  EXPECT_THAT(Messages(), IsEmpty());
  EXPECT_EQ(FieldText(block_.WriteFileName), Path("data/pattern.txt"));

  LoadFresh("[setting]\r\nWriteFileName=/nowhere/pattern.txt\r\n");
  EXPECT_THAT(Messages(), ElementsAre("Unable to find the test file : /nowhere/pattern.txt"));
  EXPECT_EQ(FieldText(block_.WriteFileName), "/nowhere/pattern.txt");
  EXPECT_EQ(sink_.boxes()[0].caption, "Error");
}

// A test file name longer than its field is cut to 159 characters and its
// terminator; a text key is cut alike.
TEST_F(SettingsLoad, TextsLongerThanTheirFieldAreCut) {
  const std::string name(150, 'p');  // fits alone, not with the folder
  const std::string cut = Path(name).substr(0, 159);
  LoadFresh("[setting]\r\nWriteFileName=" + name + "\r\n");
  EXPECT_THAT(Messages(), ElementsAre("Unable to find the test file : " + cut));
  EXPECT_EQ(FieldText(block_.WriteFileName), cut);

  const std::string exact = "/" + std::string(159, 'e');  // the field's width
  LoadFresh("[setting]\r\nWriteFileName=" + exact + "\r\n");
  EXPECT_EQ(FieldText(block_.WriteFileName), exact.substr(0, 159));
  EXPECT_EQ(block_.WriteFileName[159], '\0');

  LoadFresh("[QVEEPROM]\r\nVenderID=0123456789\r\nProductID=012345678\r\n");
  EXPECT_EQ(FieldText(block_.VenderID), "012345678");
  EXPECT_EQ(FieldText(block_.ProductID), "012345678");
}

TEST_F(SettingsLoad, ALogFolderThatCannotBeMadeEndsTheLoad) {
  Spit(Path("log"), "a file where the folder should be");
  const LoadResult r = LoadFresh("[setting]\r\nRWDataSize=5\r\n");
  EXPECT_EQ(r.error, "Cannot create log directory.");
  EXPECT_THAT(Messages(), ElementsAre("Cannot create log directory."));
  EXPECT_EQ(block_.RWDataSize, 0);
  EXPECT_EQ(r.settingsRead, 0);
}

// --- The yield file ------------------------------------------------------------

TEST_F(SettingsLoad, YieldCountsMadeSinceStartUpSurviveLoadIni) {
  std::filesystem::create_directory(Path("log"));
  Spit(Path("log/QV4164x.log"), "[TestRecord]\r\nTotalTestCount=7\r\nNumberOfPass=5\r\n");
  WriteIni("[setting]\r\n");
  LoadResult r = Load();
  EXPECT_EQ(block_.TotalTestCount, 7);
  EXPECT_EQ(block_.NumberOfPass, 5);
  EXPECT_EQ(Find(r, "YieldEdit", Effect::kText)->text, "5 / 7");

  block_.TotalTestCount = 9;  // two more products, one passed
  block_.NumberOfPass = 6;
  r = Load();
  EXPECT_EQ(block_.TotalTestCount, 9);
  EXPECT_EQ(block_.NumberOfPass, 6);
  const platform::IniFile yield(Path("log/QV4164x.log"));
  EXPECT_EQ(yield.ReadInteger("TestRecord", "TotalTestCount", 0), 9);
  EXPECT_EQ(yield.ReadInteger("TestRecord", "NumberOfPass", 0), 6);

  // A yield file that cannot be written keeps the counters in memory.
  ASSERT_EQ(::chmod(Path("log/QV4164x.log").c_str(), 0444), 0);
  block_.TotalTestCount = 10;
  Load();
  EXPECT_EQ(block_.TotalTestCount, 10);
  EXPECT_THAT(Messages(), Contains("Unable to write to " + Path("log/QV4164x.log")));
}

// --- Control effects ------------------------------------------------------------

TEST_F(SettingsLoad, ControlEffectsComeInTheWindowsOrder) {
  const LoadResult r = LoadFresh(
      "[setting]\r\nProductModel=X\r\n"
      "[QVEXECUTE]\r\nCapacity=250\r\nEnFreeSpaceCheck=1\r\nFreeSpace=1000\r\nEnFormat=1\r\n"
      "EnPartition=0\r\nEnFWUpdate=1\r\nEnFWCheck=1\r\n"
      "[QVEEPROM]\r\nMapToHDName=1\r\nStringA=ORVANTA QV4164x Bridge  X\r\n");
  const Effect kChk = Effect::kChecked;
  // Boxes tied together by their handlers: the later one set wins.
  EXPECT_LT(Position(r, "PartitionCheckBox", kChk), Position(r, "FormatCheckBox", kChk));
  EXPECT_LT(Position(r, "FWUpdateCheckBox", kChk), Position(r, "FWCheckBox", kChk));
  const size_t sequence[] = {
      Position(r, "YieldEdit", Effect::kText),
      Position(r, "ProdModalPanel", Effect::kCaption),
      Position(r, "ExecuteBtn", Effect::kCaption),
      Position(r, "CapChkCmbx", Effect::kItemIndex),
      Position(r, "cbCloneProduct", Effect::kClickHandler),
      Position(r, "FmtSecPerClusCbox", Effect::kVisible),
      Position(r, "bAdvCompareChk", kChk),
      Position(r, "EEPROMType", Effect::kItemIndex),
      Position(r, "StrA2DiskStrChk", kChk),
      Position(r, "ManuProdSosctlchk", Effect::kClickHandler),
      Position(r, "EEPROMType", Effect::kChangeHandler),
      Position(r, "VendorIDEdit", Effect::kText),
      Position(r, "VendorStrEdit", Effect::kText),
      Position(r, "EEVerifyGroup", Effect::kVisible),
      Position(r, "enU31Gen2CheckBox", kChk),
  };
  EXPECT_TRUE(std::is_sorted(std::begin(sequence), std::end(sequence)));
  EXPECT_EQ(r.effects.back().control, "enU31Gen2CheckBox");
  EXPECT_EQ(Find(r, "CapChkCmbx", Effect::kItemIndex)->value, 5);
  EXPECT_EQ(Find(r, "FreeSpaceEdit", Effect::kText)->text, "1000");
  EXPECT_EQ(Find(r, "VendorStrEdit", Effect::kText)->text, "ORVANTA ");
  EXPECT_EQ(Find(r, "ProdStrEdit", Effect::kText)->text, "QV4164x Bridge  ");
  EXPECT_EQ(Find(r, "StringAEdit", Effect::kText), nullptr);
  EXPECT_EQ(options_.FreeSpaceCheck, 1);

  const LoadResult plain = LoadFresh("[QVEXECUTE]\r\nCapacity=300\r\nFreeSpace=1000\r\n");
  EXPECT_EQ(Find(plain, "CapChkCmbx", Effect::kItemIndex)->value, -1);
  EXPECT_EQ(Find(plain, "FreeSpaceEdit", Effect::kText)->text, "Don't Care");
  EXPECT_EQ(Find(plain, "StringAEdit", Effect::kText)->text, "Orvanta");
  EXPECT_EQ(Find(plain, "maxSNEdit", Effect::kVisible)->value, 0);
}

// --- The save ----------------------------------------------------------------------

TEST_F(SettingsSave, ANewFileHasTheWritingOrder) {
  LoadFresh("[setting]\r\nWriteFileName=/opt/kestrova/pattern.txt\r\n");
  ASSERT_EQ(SaveSettingsToIni("new.ini", block_, options_), 1);
  EXPECT_EQ(Slurp(Path("new.ini")), Slurp(TestData("new_file.ini")));
}

TEST_F(SettingsSave, KeepsForeignLinesCommentsAndKeyOrderByteForByte) {
  Spit(Path(kSettingsFileName), Slurp(TestData("foreign.ini")));
  Load();
  EXPECT_EQ(options_.MPAutorun, 0);
  EXPECT_EQ(FieldText(block_.DiskLabel), "My Disk");
  EXPECT_EQ(FieldText(block_.StringA), "spaced");
  EXPECT_EQ(block_.FreeSpace, 1500000000);
  ASSERT_EQ(SaveSettingsToIni(kSettingsFileName, block_, options_), 1);
  EXPECT_EQ(Slurp(Path(kSettingsFileName)), Slurp(TestData("foreign_saved.ini")));
}

TEST_F(SettingsSave, PathsAndReadOnlyFiles) {
  LoadFresh("[setting]\r\n");
  // Relative: below the program folder, whatever the working directory.
  ASSERT_EQ(SaveSettingsToIni("sub.ini", block_, options_), 1);
  EXPECT_TRUE(std::filesystem::exists(Path("sub.ini")));
  // Absolute: as given, with or without a drive-like part.
  const std::string absolute = Path("abs.ini");
  ASSERT_EQ(SaveSettingsToIni(absolute, block_, options_), 1);
  EXPECT_TRUE(std::filesystem::exists(absolute));

  WriteIni("[setting]\r\nWRLoop=3\r\n", "ro.ini");
  ASSERT_EQ(::chmod(Path("ro.ini").c_str(), 0444), 0);
  EXPECT_TRUE(platform::IsReadOnlyFile(Path("ro.ini")));
  sink_.clear();
  EXPECT_EQ(SaveSettingsToIni("ro.ini", block_, options_), 0);
  EXPECT_THAT(Messages(), ElementsAre("Unable to write to " + Path("ro.ini")));
  EXPECT_EQ(Slurp(Path("ro.ini")), "[setting]\r\nWRLoop=3\r\n");
}

// Every key both written and read comes back with its value.
TEST_F(SettingsSave, ASavedFileLoadsBackTheSameValues) {
  LoadFresh(
      "[setting]\r\nUSBWritePerformance=31\r\nUSBReadPerformance=62\r\nShowRWPerf=1\r\n"
      "WriteFileName=/opt/p.txt\r\nProductModel=M-1\r\nWRLoop=3\r\nRWDataSize=64\r\n"
      "EEPROMOnly=1\r\nSupportODD=1\r\nCheckMaxSn=1\r\nMPVersion=2\r\nMPSafeRemove=1\r\n"
      "MPEEPROMToLog=1\r\nPerfShift=0.9\r\nMPPassLabel=2\r\nMPAutorun=4\r\n"
      "EnKey0SafeRemove=1\r\nMPResetWait=45\r\nMPSnAToZ=1\r\nMPPortReset=1\r\nEnEPPTypeC=1\r\n"
      "[QVEXECUTE]\r\nCapacityCustomize=77\r\nCapacity=1\r\nEnFreeSpaceCheck=1\r\n"
      "FreeSpace=123456789012\r\nFreeSpaceRange=1000000\r\nEnPartition=1\r\n"
      "EnCloneProduct=1\r\nEnFormat=1\r\nEnRWTest=1\r\nEnEEPROMUpdate=1\r\nEnFWUpdate=1\r\n"
      "EnSWCopy=1\r\nEnVenderCheck=1\r\nEnUSB30Check=1\r\nEnUSB31Gen2Check=1\r\nEnFWCheck=1\r\n"
      "EnFolderCompare=1\r\nbAdvenceCompare=1\r\nDiskLabel=Lbl\r\nDiskFormat=2\r\n"
      "FmtSecPerClus=32768\r\nFwFileName=/opt/fw.bin\r\nSwImgPath=/opt/img\r\nSwDstFolder=Dst\r\n"
      "[QVEEPROM]\r\nVenderID=1D6B\r\nProductID=0105\r\nStringA=Maker\r\nStringB=Prod\r\n"
      "String3=00FF\r\nStringC=Cee\r\nStringAInc=1\r\nStringBInc=1\r\nString3Inc=1\r\n"
      "StandbyTimer=9\r\nProductRevsion=0102\r\nODDSize=650\r\nFlashType=-1\r\nEEPROMRetry=4\r\n"
      "MapToHDName=1\r\nStrBFromHDSN=1\r\nStringMaxSn=FFFF\r\nQVB819WDHDD=1\r\n"
      "EnOver2TBMulLun=1\r\nEnMultiSec=1\r\nQV843PWMode=1\r\nQVB819REU=1\r\n"
      "EnManuProdStrSourceCtl=1\r\nEnInquiryStrSourceCtl=1\r\nEnQVS871StandbyTime=0\r\n"
      "EnSNfromHDDSN=1\r\nBarcodeLength=20\r\n"
      "[QVEEPROMVERIFY]\r\nVenderID=AAAA\r\nProductID=BBBB\r\nStringA=VA\r\nStringB=VB\r\n"
      "DiskName=DN\r\nVolumeLabel=VL\r\nHDDFwRev=FW1\r\nEnCheckDiskName=1\r\n"
      "EnCheckVolLabel=1\r\nEnCheckHDDFwRev=1\r\n");
  const SettingsBlock first = block_;
  const StationOptions firstOptions = options_;
  EXPECT_EQ(firstOptions.FlashType, 255);
  EXPECT_EQ(first.PerfShift, 0.9f);
  ASSERT_EQ(SaveSettingsToIni("copy.ini", block_, options_), 1);

  block_ = ZeroedSettingsBlock();
  options_ = StationOptions();
  Load("copy.ini");
  // Field by field, through the table, so that no key is left out.
  for (const SettingsKey& key : SettingsKeys()) {
    if (key.write == WriteForm::kNone || key.type == ValueType::kNone) continue;
    SettingsBlock a = first;
    StationOptions ao = firstOptions;
    EXPECT_EQ(Render(key.field(block_, options_)), Render(key.field(a, ao)))
        << key.section << "/" << key.name;
  }
  EXPECT_EQ(std::memcmp(&first.OptionBlock, &block_.OptionBlock, sizeof first.OptionBlock), 0);
}

TEST_F(SettingsSave, TheCallersRecordIsNotTouched) {
  LoadFresh("[setting]\r\n");
  const SettingsBlock before = block_;
  ASSERT_EQ(SaveSettingsToIni("x.ini", block_, options_), 1);
  EXPECT_EQ(std::memcmp(&before, &block_, sizeof before), 0);
}

// --- The second program's files -----------------------------------------------------

TEST_F(SettingsLoad, ReadsAFileWrittenByTheSecondProgram) {
  Spit(Path(kSettingsFileName), Slurp(TestData("second_program.ini")));
  Load();
  EXPECT_EQ(FieldText(block_.ProductModel), "QV4164x-B");
  EXPECT_EQ(block_.PerfShift, 1.1f);
  EXPECT_EQ(options_.SCSITimeout, 25);
  EXPECT_EQ(options_.MPAutorun, 2);
  EXPECT_EQ(block_.FreeSpace, 2000000000);
  EXPECT_EQ(FieldText(block_.DiskLabel), " Backup ");
  EXPECT_EQ(block_.DiskFormat, 2);
  EXPECT_EQ(block_.FmtSecPerClus, 32768);
  EXPECT_EQ(FieldText(block_.StringA), "Acme    ");  // vendor part padded, product empty
  EXPECT_EQ(FieldText(block_.StringB), "Box 3");
  EXPECT_EQ(FieldText(block_.StringC), " Cfg");
  EXPECT_EQ(FieldText(block_.String3), "00A0");
  EXPECT_EQ(FieldText(block_.VerifyStringA), "Acme    ");
  EXPECT_EQ(FieldText(block_.DiskName), "ACME BOX");
  EXPECT_EQ(FieldText(block_.VolumeLabel), " Backup ");
  EXPECT_EQ(FieldText(block_.HDDFwRev), "  1.0 ");
  EXPECT_EQ(block_.EEPROMRetry, 3);
  EXPECT_EQ(block_.WRLoop, 7);          // not in its key set: the default
  EXPECT_EQ(FieldText(block_.ProductRevsion), "0000");

  // Our save keeps the second program's own keys.
  ASSERT_EQ(SaveSettingsToIni(kSettingsFileName, block_, options_), 1);
  const platform::IniFile saved(Path(kSettingsFileName));
  EXPECT_EQ(saved.Read("setting", "EnCapacityErrorRange"), "12");
  EXPECT_EQ(saved.Read("QVEXECUTE", "nPartitionTblFmt"), "1");
  EXPECT_EQ(saved.Read("QVEEPROMVERIFY", "EnCheckVID"), "1");
  EXPECT_EQ(saved.Read("setting", "SCSITimeout"), "25");
}

}  // namespace
}  // namespace station
