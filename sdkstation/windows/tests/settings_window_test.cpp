// Settings through the second program's window: the collection of the
// controls, what it hands the library, Load INI and Save INI, the time-out
// on the bench, and the saves at exit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/ini_file.h"
#include "sdkstation/windows/tests/sdk_window_fixture.h"
#include "sim/product.h"
#include "station/tests/configparser_reader.h"

namespace sdkstation {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using station::testing::Ini;
using station::testing::Slurp;

std::string StationData(const char* name) { return std::string(KESTROVA_STATION_TEST_DATA) + "/" + name; }

class SdkSettingsWindow : public testing::SdkWindowTest {
 public:
  TMainForm& StartWith(const std::string& setting, const std::string& more = "") {
    WriteIni(Ini(setting, more));
    return Start();
  }
  // Sets an edit's text as a program would, its change handler not run.
  static void SetQuietly(QLineEdit* edit, const std::string& text) {
    const QSignalBlocker quiet(edit);
    edit->setText(QString::fromStdString(text));
  }
};

TEST_F(SdkSettingsWindow, BoxesCollectOnlyWhenTheyMayBeUsed) {
  TMainForm& form = StartWith("");
  struct Case {
    const char* box;
    std::function<int32_t(const SdkSettingsBlock&)> field;
  };
  const Case cases[] = {
      {"PartitionCheckBox", [](const SdkSettingsBlock& s) { return s.EnPartition; }},
      {"FormatCheckBox", [](const SdkSettingsBlock& s) { return s.EnFormat; }},
      {"RWTestCheckBox", [](const SdkSettingsBlock& s) { return s.EnRWTest; }},
      {"SWCopyChkBox", [](const SdkSettingsBlock& s) { return s.EnSWCopy; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box);
    Box(c.box)->setChecked(true);
    Box(c.box)->setEnabled(false);
    ASSERT_TRUE(form.CollectSettingsFromForm());
    EXPECT_EQ(c.field(form.Settings()), 0);
    Box(c.box)->setEnabled(true);
    ASSERT_TRUE(form.CollectSettingsFromForm());
    EXPECT_EQ(c.field(form.Settings()), 1);
  }
  // Shown is what counts for these.
  for (const char* box : {"cbEraseFlash", "cbEraseFlashForDebug", "enU3CheckBox"}) Box(box)->setChecked(true);
  Box("enU3CheckBox")->hide();
  ASSERT_TRUE(form.CollectSettingsFromForm());
  EXPECT_EQ(form.Settings().EraseFlashOnly, 0);
  EXPECT_EQ(form.Settings().EraseFlashForDebug, 0);
  EXPECT_EQ(form.Settings().EnUSB30Check, 0);
  Box("cbEraseFlash")->show();
  Box("enU3CheckBox")->show();
  ASSERT_TRUE(form.CollectSettingsFromForm());
  EXPECT_EQ(form.Settings().EraseFlashOnly, 1);
  EXPECT_EQ(form.Settings().EnUSB30Check, 1);
}

TEST_F(SdkSettingsWindow, IdentityTextsOfTheCollection) {
  TMainForm& form = StartWith("", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n[QVEEPROM]\r\nStringA=Before\r\nVenderID=6A3E\r\n");
  SdkSettingsBlock& s = form.Settings();
  Box("StrA2DiskStrChk")->setChecked(false);
  Type(Edit("VendorStrEdit"), "ABC");
  Type(Edit("ProdStrEdit"), "PROD");
  ASSERT_TRUE(form.CollectSettingsFromForm());
  EXPECT_EQ(FieldText(s.StringA), "Before");  // unchecked: string A stays

  Box("StrA2DiskStrChk")->setChecked(true);
  ASSERT_TRUE(form.CollectSettingsFromForm());
  EXPECT_EQ(FieldText(s.StringA), "ABC     PROD");

  SetQuietly(Edit("VendorIDEdit"), "12345");
  ASSERT_TRUE(form.CollectSettingsFromForm());
  EXPECT_EQ(FieldText(s.VenderID), "1234");
  Type(Edit("VendorIDEdit"), "ABCDE");  // the edit's own handler keeps four
  EXPECT_EQ(Edit("VendorIDEdit")->text(), "ABCD");

  Type(Edit("SerialNumberEdit"), "00A9");
  ASSERT_TRUE(form.CollectSettingsFromForm());
  Box("EEPROMCheckBox")->setChecked(false);
  Type(Edit("SerialNumberEdit"), "0777");
  ASSERT_TRUE(form.CollectSettingsFromForm());
  EXPECT_EQ(FieldText(s.String3), "00A9");  // the update off: the texts stay
}

TEST_F(SdkSettingsWindow, ChoicesWithoutASelectionAndOverLongTextsKeepWithinTheirFields) {
  TMainForm& form = StartWith("", "[QVEXECUTE]\r\nCapacity=250\r\nDiskFormat=0\r\nFmtSecPerClus=4096\r\n");
  SdkSettingsBlock& s = form.Settings();
  Check(Box("FormatCheckBox"), true);  // which opens the file system choice
  Choose(Combo("FmtTypeComboBox"), 1);  // FAT32
  ASSERT_TRUE(form.CollectSettingsFromForm());
  EXPECT_EQ(s.FmtSecPerClus, 0);
  EXPECT_EQ(s.DiskFormat, 1);
  EXPECT_EQ(s.Capacity, 250);

  Choose(Combo("FmtTypeComboBox"), 0);
  Combo("FmtSecPerClusCbox")->setCurrentIndex(3);
  ASSERT_TRUE(form.CollectSettingsFromForm());
  EXPECT_EQ(s.FmtSecPerClus, 32768);

  for (const char* combo : {"CapChkCmbx", "FmtTypeComboBox", "FmtSecPerClusCbox"}) Combo(combo)->setCurrentIndex(-1);
  ASSERT_TRUE(form.CollectSettingsFromForm());
  EXPECT_EQ(s.Capacity, 250);
  EXPECT_EQ(s.DiskFormat, 0);
  EXPECT_EQ(s.FmtSecPerClus, 32768);

  SetQuietly(Edit("VolumeLabeledEdit"), std::string(200, 'L'));
  SetQuietly(Edit("FwFileNameEdit"), std::string(300, 'f'));
  ASSERT_TRUE(form.CollectSettingsFromForm());
  EXPECT_EQ(FieldText(s.DiskLabel), std::string(79, 'L'));
  EXPECT_EQ(FieldText(s.FwFileName), std::string(255, 'f'));
}

TEST_F(SdkSettingsWindow, TheFirmwareFileAndTheCloneChoiceGoToTheLibraryAtEveryCollection) {
  TMainForm& form = StartWith("");
  TraceFirmwareEntries();
  SetQuietly(Edit("FwFileNameEdit"), "/opt/fw/model.bin");
  Box("cbCloneProduct")->setChecked(true);
  testing::DebugLines debug;
  ASSERT_TRUE(form.CollectSettingsFromForm());
  EXPECT_THAT(debug.Take("QV_"),
              ElementsAre("QV_SetFWBinFilePath(\"/opt/fw/model.bin\")", "QV_SetCloneProduct(1)"));

  // Save INI cancelled: collected, handed over, nothing written, the
  // current file unchanged.
  const std::string before = form.IniPath();
  Box("cbCloneProduct")->setChecked(false);
  files_.recorded.QueueAnswer(std::nullopt);
  Button("INISaveBtn")->click();
  EXPECT_EQ(form.IniPath(), before);
  EXPECT_EQ(form.Settings().EnCloneProduct, 0);
  EXPECT_THAT(debug.Take("QV_"),
              ElementsAre("QV_SetFWBinFilePath(\"/opt/fw/model.bin\")", "QV_SetCloneProduct(0)"));
}

// "Load F/W": the chosen file goes into the field and the settings, and the
// start check runs again with it while devices are attached.
TEST_F(SdkSettingsWindow, TheChosenFirmwareFileIsCheckedAgainstTheAttachedChips) {
  Bench(testing::Products(21, 2));
  TMainForm& form = StartWith("", "[QVEXECUTE]\r\nEnFWUpdate=1\r\nEnEEPROMUpdate=1\r\n");
  ASSERT_EQ(form.DeviceCount(), 2);
  ASSERT_TRUE(Enabled("LoadFWButton"));
  WriteFile("other.bin", std::string(64, '\0'));
  boxes_.clear();

  files_.recorded.QueueAnswer(std::nullopt);
  Button("LoadFWButton")->click();
  EXPECT_EQ(Edit("FwFileNameEdit")->text(), "");
  EXPECT_EQ(files_.recorded.requests().back().initialFolder, folder_);

  // A file that is no firmware of these chips: refused, START off.
  files_.recorded.QueueAnswer(Path("other.bin"));
  Button("LoadFWButton")->click();
  EXPECT_EQ(Edit("FwFileNameEdit")->text(), QString::fromStdString(Path("other.bin")));
  EXPECT_EQ(FieldText(form.Settings().FwFileName), Path("other.bin"));
  EXPECT_THAT(Messages(), ElementsAre("Firmware File not support all chips!"));
  EXPECT_FALSE(Enabled("ExecuteBtn"));

  // One the library accepts: START on again, nothing said.
  boxes_.clear();
  DeviceSdk().QV_CheckLoadBinFileMatch = [](const char*, const char* file) {
    return std::string(file).ends_with("fw.bin") ? 1 : 0;
  };
  files_.recorded.QueueAnswer(Path("fw.bin"));
  Button("LoadFWButton")->click();
  EXPECT_EQ(FieldText(form.Settings().FwFileName), Path("fw.bin"));
  EXPECT_THAT(Messages(), IsEmpty());
  EXPECT_TRUE(Enabled("ExecuteBtn"));
}

TEST_F(SdkSettingsWindow, WithoutDevicesTheChosenFirmwareFileIsOnlyKept) {
  TMainForm& form = StartWith("", "[QVEXECUTE]\r\nEnFWUpdate=1\r\n");
  ASSERT_EQ(form.DeviceCount(), 0);
  boxes_.clear();
  files_.recorded.QueueAnswer(Path("other.bin"));
  form.LoadFWButtonClick();
  EXPECT_EQ(FieldText(form.Settings().FwFileName), Path("other.bin"));
  EXPECT_THAT(Messages(), IsEmpty());
}

// A vendor ID that is no number stops the collection with the conversion
// message: Save INI writes nothing, START's preparation unlocks again.
TEST_F(SdkSettingsWindow, AConversionErrorStopsTheActionThatCollected) {
  TMainForm& form = StartWith("", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n");
  TraceFirmwareEntries();
  SetQuietly(Edit("VendorIDEdit"), "XYZ");
  Box("cbCloneProduct")->setChecked(true);
  testing::DebugLines debug;
  files_.recorded.QueueAnswer(Path("other.ini"));
  Button("INISaveBtn")->click();
  EXPECT_THAT(Messages(), ElementsAre("'0xXYZ' is not a valid integer value"));
  EXPECT_FALSE(fs::exists(Path("other.ini")));
  EXPECT_EQ(form.IniPath(), Path("Kestrova.ini"));
  // The CLONE choice is handed over last, so not at all.
  EXPECT_THAT(debug.Take("QV_SetCloneProduct"), IsEmpty());

  boxes_.clear();
  EXPECT_FALSE(form.PrepareRun());
  EXPECT_THAT(Messages(), ElementsAre("'0xXYZ' is not a valid integer value"));
  for (const char* panel : {"Panel1", "Panel2", "Panel3"}) EXPECT_TRUE(Enabled(panel)) << panel;
  SetQuietly(Edit("VendorIDEdit"), "");
  boxes_.clear();
  EXPECT_FALSE(form.PrepareRun());
  EXPECT_THAT(Messages(), ElementsAre("'0x' is not a valid integer value"));

  SetQuietly(Edit("VendorIDEdit"), "1d6b");
  EXPECT_TRUE(form.PrepareRun());
  for (const char* panel : {"Panel1", "Panel2", "Panel3"}) EXPECT_FALSE(Enabled(panel)) << panel;
}

TEST_F(SdkSettingsWindow, AFreeSpaceThatIsNoNumberIsReportedAndKeptInTheFile) {
  // The load goes on with 0 and says what it could not read; neither that 0
  // nor a free space the listing learns replaces the operator's text, at
  // Save INI or at exit.
  Bench(testing::Products(29, 1));
  TMainForm& form = StartWith("", "[QVEXECUTE]\r\nFreeSpace=abc\r\nFreeSpaceRange=1e400\r\nEnPartition=1\r\n");
  EXPECT_THAT(Messages(), ElementsAre("'abc' is not a valid floating point value",
                                      "'1e400' is not a valid floating point value"));
  EXPECT_EQ(form.Settings().FreeSpaceRange, 0);
  EXPECT_EQ(form.Settings().EnPartition, 1);  // the load went on
  form.show();
  files_.recorded.QueueAnswer(Path("saved.ini"));
  QTest::mouseClick(Button("INISaveBtn"), Qt::LeftButton);
  ASSERT_EQ(form.IniPath(), Path("saved.ini"));
  fs::copy_file(Path("saved.ini"), Path("saved_by_button.ini"));
  Close();
  for (const char* file : {"saved_by_button.ini", "saved.ini", "Kestrova.ini"}) {
    SCOPED_TRACE(file);
    const station::testing::IniEntries python = station::testing::ReadIniWithPython(Path(file), folder_);
    EXPECT_EQ((python.at({"QVEXECUTE", "FreeSpace"})), "abc");
    EXPECT_EQ((python.at({"QVEXECUTE", "FreeSpaceRange"})), "1e400");
    EXPECT_EQ((python.at({"QVEXECUTE", "EnPartition"})), "1");
  }
}

TEST_F(SdkSettingsWindow, SaveIniAndLoadIniMakeTheirFileTheCurrentOne) {
  TMainForm& form = StartWith("MPResetWait=33");
  files_.recorded.QueueAnswer(Path("saved.ini"));
  Button("INISaveBtn")->click();
  EXPECT_EQ(form.IniPath(), Path("saved.ini"));
  EXPECT_EQ(platform::IniFile(Path("saved.ini")).Read("setting", "MPResetWait"), "33");

  WriteFile("loaded.ini", "[setting]\r\nWriteFileName=pattern.txt\r\nMPResetWait=44\r\n");
  form.Settings().TotalTestCount = 3;  // counted since start-up
  form.Settings().NumberOfPass = 2;
  testing::DebugLines debug;
  files_.recorded.QueueAnswer(Path("loaded.ini"));
  Button("INILoadBtn")->click();
  EXPECT_EQ(form.IniPath(), Path("loaded.ini"));
  EXPECT_EQ(form.Settings().MPResetWait, 44);
  EXPECT_EQ(form.Settings().TotalTestCount, 3);
  EXPECT_EQ(Edit("YieldEdit")->text(), "2/3");
  // The Refresh handler listed the devices again.
  EXPECT_THAT(debug.Take("RD Debug"), Contains("RD Debug: EnumUSBDevice enter"));
}

TEST_F(SdkSettingsWindow, TheLoadedTimeOutReachesTheLibrarysCommands) {
  struct Case {
    std::string setting;
    uint32_t timeout;
  };
  const Case cases[] = {{"SCSITimeout=7\r\n", 7}, {"", 10}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.timeout);
    Bench(testing::Products(25, 1));
    WriteIni(Ini(c.setting));
    Start();
    bench_->product(0).EnableTrace(true);
    Button("RefreshBtn")->click();
    const std::vector<sim::TraceEntry> trace = bench_->product(0).TakeTrace();
    int dataIn = 0;
    for (const sim::TraceEntry& entry : trace) {
      if (entry.dataIn != 1) continue;
      ++dataIn;
      EXPECT_EQ(entry.timeout, c.timeout);
    }
    EXPECT_GT(dataIn, 0);
    Close();
  }
}

// The window between the load and the save changes nothing: started on a
// file of the second program, the exit writes it back byte for byte. (The
// writer's file has the identity update and its verification both on,
// which the window's boxes exclude: the later one, the verification, is
// turned off here.)
TEST_F(SdkSettingsWindow, StartAndExitGiveTheFileBackByteForByte) {
  std::string file = Slurp(StationData("second_program.ini"));
  file.replace(file.find("EnVenderCheck=1"), 15, "EnVenderCheck=0");
  WriteIni(file);
  Start();
  Close();
  EXPECT_EQ(Slurp(Path("Kestrova.ini")), file);
}

// The bare name "Kestrova.ini" is the Windows folder's: the station's own
// file beside the program keeps what it held, also when there is no
// Windows folder to be had.
TEST_F(SdkSettingsWindow, TheExitSavesToTheCurrentFileAndAsKestrovaIniInTheWindowsFolder) {
  for (const bool windowsFolder : {true, false}) {
    SCOPED_TRACE(windowsFolder ? "Windows folder" : "no Windows folder");
    fs::remove_all(Path("config"));
    WriteFile("no-folder", "a file where the configuration folder would be");
    std::optional<station::testing::ScopedEnvironment> noConfig;
    if (!windowsFolder) noConfig.emplace("XDG_CONFIG_HOME", Path("no-folder"));
    TMainForm& form = StartWith("MPResetWait=33");
    const std::string station = Slurp(Path("Kestrova.ini"));
    WriteFile("line.ini", "[setting]\r\nWriteFileName=pattern.txt\r\nMPResetWait=55\r\n");
    files_.recorded.QueueAnswer(Path("line.ini"));
    QTest::mouseClick(Button("INILoadBtn"), Qt::LeftButton);
    ASSERT_EQ(form.IniPath(), Path("line.ini"));
    boxes_.clear();
    Close();
    EXPECT_THAT(Messages(), IsEmpty());
    EXPECT_EQ(platform::IniFile(Path("line.ini")).Read("setting", "MPResetWait"), "55");
    EXPECT_EQ(Slurp(Path("Kestrova.ini")), station);
    const std::string windowsCopy = Path("config/kestrova/Windows/Kestrova.ini");
    if (windowsFolder) EXPECT_EQ(platform::IniFile(windowsCopy).Read("setting", "MPResetWait"), "55");
    else EXPECT_FALSE(fs::exists(windowsCopy));
  }
}

TEST_F(SdkSettingsWindow, AReadOnlyFileIsNotWrittenTheYieldStillIs) {
  TMainForm& form = StartWith("MPResetWait=33");
  const std::string before = Slurp(Path("Kestrova.ini"));
  ASSERT_EQ(::chmod(Path("Kestrova.ini").c_str(), 0444), 0);
  form.Settings().TotalTestCount = 4;
  form.Settings().NumberOfPass = 4;
  Close();
  EXPECT_EQ(Slurp(Path("Kestrova.ini")), before);
  EXPECT_THAT(Messages(), IsEmpty());
  EXPECT_EQ(platform::IniFile(Path("log/QV4164x.log")).Read("TestRecord", "TotalTestCount"), "4");
}

// At exit a collection that stops at a bad vendor ID and a save that
// cannot be written each stop only themselves.
TEST_F(SdkSettingsWindow, EachSaveAtExitStandsOnItsOwn) {
  TMainForm& form = StartWith("", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n[QVEEPROM]\r\nVenderID=1D6B\r\n");
  WriteFile("other.ini", "[setting]\r\nWriteFileName=pattern.txt\r\n[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n");
  files_.recorded.QueueAnswer(Path("other.ini"));
  Button("INILoadBtn")->click();
  const std::string windowsCopy = Path("config/kestrova/Windows/Kestrova.ini");
  fs::create_directories(fs::path(windowsCopy).parent_path());
  WriteFile("config/kestrova/Windows/Kestrova.ini", "");
  ASSERT_EQ(::chmod(windowsCopy.c_str(), 0444), 0);  // the bare-name save fails
  SetQuietly(Edit("VendorIDEdit"), "XYZ");
  Type(Edit("DstISOEdit"), "Tools");  // collected before the vendor ID
  form.Settings().TotalTestCount = 9;
  boxes_.clear();
  Close();
  EXPECT_THAT(Messages(), ElementsAre("'0xXYZ' is not a valid integer value",
                                      "Unable to write to " + windowsCopy));
  const platform::IniFile other(Path("other.ini"));
  EXPECT_EQ(other.Read("QVEXECUTE", "SwDstFolder"), "Tools");
  EXPECT_EQ(other.Read("QVEEPROM", "VenderID"), "6A3E");  // the bad text never reached the file
  EXPECT_EQ(platform::IniFile(Path("log/QV4164x.log")).Read("TestRecord", "TotalTestCount"), "9");
}

}  // namespace
}  // namespace sdkstation
