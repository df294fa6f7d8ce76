// Settings between the window and the files: the collection of the
// controls, Save INI and Load INI through their dialogs, and what another
// INI reader makes of a saved file.
#include <QGroupBox>
#include <QTest>

#include <cstring>
#include <filesystem>
#include <variant>

#include "platform/ini_file.h"
#include "platform/program_folder.h"
#include "station/eeprom_layout.h"
#include "station/tests/configparser_reader.h"
#include "station/windows/tests/window_fixture.h"

namespace station {
namespace {

using testing::Ini;
using testing::Products;
using testing::SelectEepromType;
using testing::WindowTest;

constexpr char kEeprom[] = "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n";

TEST_F(WindowTest, CollectionEdgeCases) {
  WriteIni(Ini("", kEeprom));
  Bench(Products(21, 1));
  TMainForm& form = Start();
  SettingsBlock& s = form.Settings();

  // FAT32: the formatter's own cluster size, whatever the choice shows.
  Combo("FmtTypeComboBox")->setCurrentIndex(kFileSystemFat32);
  Combo("FmtSecPerClusCbox")->setCurrentIndex(2);
  // Checked but disabled, checked but hidden: off.
  Box("SWCopyChkBox")->setChecked(true);
  Box("SWCopyChkBox")->setEnabled(false);
  Box("enU31Gen2CheckBox")->setChecked(true);
  Box("enU31Gen2CheckBox")->hide();
  // Five hexadecimal digits: four kept, the value's low 16 bits.
  Edit("VendorIDEdit")->setText("12345");
  ASSERT_EQ(form.CollectSettingsFromForm(), CollectError::kNone);
  EXPECT_EQ(s.FmtSecPerClus, 0);
  EXPECT_EQ(s.DiskFormat, kFileSystemFat32);
  EXPECT_EQ(s.EnSWCopy, 0);
  EXPECT_EQ(s.EnUSB31Gen2Check, 0);
  EXPECT_EQ(FieldText(s.VenderID), "1234");
  EXPECT_EQ(s.VidValue, 0x2345);
  EXPECT_EQ(s.OptionBlock[s.OptionOffsets[kVidOffset]], 0x34);

  // Without the EEPROM update the identity stays as it was.
  Box("EEPROMCheckBox")->setChecked(false);
  Edit("StringBEdit")->setText("Other");
  Edit("VendorIDEdit")->setText("FFFF");
  ASSERT_EQ(form.CollectSettingsFromForm(), CollectError::kNone);
  EXPECT_EQ(FieldText(s.VenderID), "1234");
  EXPECT_EQ(FieldText(s.StringB), "USB");
}

TEST_F(WindowTest, Qvs646FamilyCollectsItsPositionsAndFlashType) {
  WriteIni(Ini("", kEeprom));
  Bench(Products(29, 2));
  TMainForm& form = Start();
  Combo("Q646FlashComboBox")->setCurrentIndex(2);
  SelectEepromType(form, Combo("EEPROMType"), 0);
  ASSERT_EQ(form.CollectSettingsFromForm(), CollectError::kNone);
  const SettingsBlock& s = form.Settings();
  const int32_t normal[] = {8, 10, 14, 15, 16};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(s.OptionOffsets[i], normal[i]) << i;
  EXPECT_EQ(s.OptionOffsets[kStringAOffset], 24);
  EXPECT_EQ(s.OptionOffsets[kSerialMax], 22);
  EXPECT_EQ(form.Options().FlashType, 2);
}

// A VID, PID or ODD size that cannot be converted: a message naming the
// field, the collection reports it, and Save INI writes nothing.
TEST_F(WindowTest, UnconvertibleFieldsStopSaveIni) {
  struct Case {
    const char* edit;
    const char* text;
    CollectError error;
    const char* message;
  };
  const Case cases[] = {
      {"VendorIDEdit", "12G4", CollectError::kVendorId, "Vendor ID: '12G4' is not a hexadecimal number."},
      {"ProductIDEdit", "", CollectError::kProductId, "Product ID: '' is not a hexadecimal number."},
      {"OddSizeEdit", "4x", CollectError::kOddSize, "ODD Size: '4x' is not a decimal number."},
  };
  for (const Case& c : cases) {
    form_.reset();
    WriteIni(Ini("", kEeprom));
    Bench(Products(13, 1));
    TMainForm& form = Start();
    const std::string before = testing::Slurp(Path(kSettingsFileName));
    Edit(c.edit)->setText(c.text);
    boxes_.clear();
    EXPECT_EQ(form.CollectSettingsFromForm(), c.error) << c.edit;
    files_.recorded.QueueAnswer(Path(kSettingsFileName));
    form.INISaveBtnClick();
    EXPECT_TRUE(files_.recorded.requests().empty()) << c.edit;
    EXPECT_EQ(testing::Slurp(Path(kSettingsFileName)), before) << c.edit;
    EXPECT_EQ(Messages(), (std::vector<std::string>{c.message, c.message})) << c.edit;
    files_.recorded.clear();
  }
}

TEST_F(WindowTest, CancelledDialogsChangeNothing) {
  WriteIni(Ini("", kEeprom));
  Bench(Products(13, 1));
  TMainForm& form = Start();
  const int updates = portUpdates_.count;
  form.INILoadBtnClick();  // no answer queued: cancelled
  Pump();
  EXPECT_EQ(form.IniPath(), Path(kSettingsFileName));
  EXPECT_EQ(portUpdates_.count, updates);

  Edit("StringBEdit")->setText("Collected");
  form.INISaveBtnClick();
  EXPECT_EQ(FieldText(form.Settings().StringB), "Collected");
  EXPECT_FALSE(std::filesystem::exists(Path("other.ini")));
  const auto requests = files_.recorded.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].kind, platform::FileDialogKind::kOpen);
  EXPECT_EQ(requests[1].kind, platform::FileDialogKind::kSave);
  for (const auto& r : requests) {
    EXPECT_EQ(r.filter, "EEPROM INI file|*.ini");
    EXPECT_EQ(r.defaultExtension, ".ini");
    EXPECT_EQ(r.initialFolder, folder_);
  }
  EXPECT_TRUE(requests[1].overwritePrompt);
  EXPECT_TRUE(requests[1].hideReadOnly);
}

std::string Render(const FieldRef& field) {
  if (const auto* text = std::get_if<std::span<char>>(&field))
    return std::string(text->data(), ::strnlen(text->data(), text->size()));
  return std::visit(
      [](auto value) -> std::string {
        if constexpr (std::is_same_v<decltype(value), std::span<char>>) return {};
        else return std::to_string(+*value);
      },
      field);
}

// Saved by the window and loaded back by it: every key that is both written
// and read comes back as it was; Python's configparser reads the file.
TEST_F(WindowTest, SaveThenLoadGivesTheSameSettings) {
  WriteIni(Ini("MPVersion=0", std::string(kEeprom) +
                                  "EnFormat=1\r\nDiskLabel=KV DISK\r\nFmtSecPerClus=4096\r\nCapacity=80\r\n"
                                  "[QVEEPROM]\r\nStringA=Maker Co\r\nString3=ABC123\r\n"));
  Bench(Products(13, 1));
  TMainForm& form = Start();
  Type(Edit("StringBEdit"), "Product 7");
  Type(Edit("VendorIDEdit"), "1d6b");
  Box("RWTestCheckBox")->setChecked(true);
  files_.recorded.QueueAnswer(Path("saved.ini"));
  form.INISaveBtnClick();
  EXPECT_EQ(form.IniPath(), Path("saved.ini"));
  const SettingsBlock saved = form.Settings();
  const StationOptions savedOptions = form.Options();

  files_.recorded.QueueAnswer(Path("saved.ini"));
  form.INILoadBtnClick();
  SettingsBlock loaded = form.Settings();
  StationOptions loadedOptions = form.Options();
  SettingsBlock expected = saved;
  StationOptions expectedOptions = savedOptions;
  for (const SettingsKey& key : SettingsKeys()) {
    if (key.write == WriteForm::kNone || key.type == ValueType::kNone) continue;
    EXPECT_EQ(Render(key.field(loaded, loadedOptions)), Render(key.field(expected, expectedOptions)))
        << key.section << "/" << key.name;
  }
  EXPECT_EQ(FieldText(loaded.StringB), "Product 7");
  EXPECT_EQ(FieldText(loaded.VenderID), "1D6B");
  EXPECT_EQ(loaded.EnRWTest, 1);

  if (!testing::HavePythonConfigParser()) GTEST_SKIP() << "python3 with configparser is not available";
  const testing::IniEntries python = testing::ReadIniWithPython(Path("saved.ini"), folder_);
  EXPECT_EQ((python.at({"QVEEPROM", "StringB"})), "Product 7");
  EXPECT_EQ((python.at({"QVEEPROM", "VenderID"})), "1D6B");
  EXPECT_EQ((python.at({"QVEXECUTE", "EnRWTest"})), "1");
  EXPECT_EQ((python.at({"QVEXECUTE", "FmtSecPerClus"})), "4096");
  EXPECT_EQ((python.at({"QVEXECUTE", "DiskLabel"})), "KV DISK");
}

// A FreeSpace of 0 takes the first device's free space for the checks; Save
// INI and the save at exit keep the value the checks use.
TEST_F(WindowTest, LearnedFreeSpaceIsSaved) {
  WriteIni(Ini("", "[QVEXECUTE]\r\nFreeSpace=0\r\n"));
  Bench(Products(13, 1, "volume.free = 1G\n"));
  TMainForm& form = Start();
  EXPECT_EQ(form.Settings().FreeSpace, int64_t{1} << 30);
  files_.recorded.QueueAnswer(Path("saved.ini"));
  QTest::mouseClick(Button("INISaveBtn"), Qt::LeftButton);
  EXPECT_EQ(platform::IniFile(Path("saved.ini")).Read("QVEXECUTE", "FreeSpace"), "1073741824");
  form_.reset();  // the exit saves saved.ini and the bare Kestrova.ini
  for (const std::string& file : {Path("saved.ini"), platform::ResolveInWindowsFolder(kSettingsFileName)}) {
    const testing::IniEntries python = testing::ReadIniWithPython(file, folder_);
    EXPECT_EQ((python.at({"QVEXECUTE", "FreeSpace"})), "1073741824") << file;
  }
}

// A free space that is no number: the load says so and goes on with 0;
// neither that 0 nor a free space learned from the device replaces the
// operator's text, at Save INI or at exit.
TEST_F(WindowTest, AFreeSpaceThatIsNoNumberIsReportedAndKeptInTheFile) {
  WriteIni(Ini("", "[QVEXECUTE]\r\nFreeSpace=abc\r\nFreeSpaceRange=1e400\r\nEnPartition=1\r\n"));
  Bench(Products(13, 1, "volume.free = 1G\n"));
  TMainForm& form = Start();
  EXPECT_EQ(Messages(), (std::vector<std::string>{"'abc' is not a valid floating point value",
                                                  "'1e400' is not a valid floating point value"}));
  EXPECT_EQ(form.Settings().FreeSpaceRange, 0);
  EXPECT_EQ(form.Settings().EnPartition, 1);  // the load went on
  files_.recorded.QueueAnswer(Path("saved.ini"));
  QTest::mouseClick(Button("INISaveBtn"), Qt::LeftButton);
  ASSERT_EQ(form.IniPath(), Path("saved.ini"));
  std::filesystem::copy_file(Path("saved.ini"), Path("saved_by_button.ini"));
  form_.reset();  // the exit saves saved.ini and the bare Kestrova.ini
  for (const std::string& file :
       {Path("saved_by_button.ini"), Path("saved.ini"), platform::ResolveInWindowsFolder(kSettingsFileName)}) {
    const testing::IniEntries python = testing::ReadIniWithPython(file, folder_);
    EXPECT_EQ((python.at({"QVEXECUTE", "FreeSpace"})), "abc") << file;
    EXPECT_EQ((python.at({"QVEXECUTE", "FreeSpaceRange"})), "1e400") << file;
    EXPECT_EQ((python.at({"QVEXECUTE", "EnPartition"})), "1") << file;
  }
}

// With only QVS646-family products the EEPROM type shows "Type 3"; the
// collection keeps that layout's positions, so the VID stays at 0 and the
// serial descriptor at 84 of the block the edits built, rather than going
// to 8 (Type 3's serial index byte) and 88 (inside that descriptor).
TEST_F(WindowTest, Qvs646Type3CollectsTheLayoutItShows) {
  WriteIni(Ini("", kEeprom));
  Bench(Products(29, 1));
  TMainForm& form = Start();
  ASSERT_EQ(Combo("EEPROMType")->currentText(), "Type 3");
  Type(Edit("VendorIDEdit"), "1D6B");
  Type(Edit("String3Edit"), "00AB12");
  files_.recorded.QueueAnswer(Path("saved.ini"));
  QTest::mouseClick(Button("INISaveBtn"), Qt::LeftButton);
  const SettingsBlock& s = form.Settings();
  EXPECT_EQ(s.OptionOffsets[kVidOffset], 0);
  EXPECT_EQ(s.OptionOffsets[kSerialOffset], 84);
  const uint8_t* b = s.OptionBlock;
  EXPECT_EQ(b[0] | b[1] << 8, 0x1D6B);
  EXPECT_EQ(b[8], 0x03) << "the serial's string-index byte";
  EXPECT_EQ(b[84], 2 * 6 + 2);
  EXPECT_EQ(b[85], 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 86), 6), "00AB12");
}

TEST_F(WindowTest, LoadIniTakesTheFileAndRescans) {
  WriteIni(Ini(""));
  WriteFile("barcode.ini", Ini("EnBarcodeMode=1\r\nMPVersion=1", "[QVEEPROM]\r\nBarcodeLength=12\r\n"));
  Bench(Products(13, 1));
  TMainForm& form = Start();
  Find<QWidget>("Panel5")->setEnabled(false);
  const int updates = portUpdates_.count;
  files_.recorded.QueueAnswer(Path("barcode.ini"));
  form.INILoadBtnClick();
  Pump();
  EXPECT_EQ(form.IniPath(), Path("barcode.ini"));
  EXPECT_TRUE(Enabled("Panel5"));
  EXPECT_EQ(Button("ExecuteBtn")->text(), "BarCode");
  EXPECT_EQ(Edit("String3Edit")->maxLength(), 12);
  EXPECT_EQ(portUpdates_.count, updates + 1);
}

}  // namespace
}  // namespace station
