// The start-up of the main window: the settings file and its control
// effects before the first refresh, the caption, the lock, the log folder
// and the day log's running number.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <stdexcept>

#include "station/windows/tests/window_fixture.h"

namespace station {
namespace {

using testing::Ini;
using testing::Products;
using testing::WindowTest;

TEST_F(WindowTest, LoadedSettingsAreInPlaceForTheFirstRefresh) {
  // The capacity and the firmware box come from the file; the first refresh
  // already measures against them.
  WriteIni(Ini("", "[QVEXECUTE]\r\nCapacity=120\r\nEnFWUpdate=1\r\n"));
  Bench(Products(21, 1) + Products(13, 1));
  TMainForm& form = Start();
  EXPECT_EQ(Combo("CapChkCmbx")->currentIndex(), 3);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Check the Capacity check setting!!",
                                                  "Multiple devices must be of the same Chip model!"}));
  EXPECT_FALSE(Box("FWUpdateCheckBox")->isChecked());
  EXPECT_FALSE(Button("ExecuteBtn")->isEnabled());
  EXPECT_EQ(form.IniPath(), Path(kSettingsFileName));
}

TEST_F(WindowTest, MissingSettingsFileKeepsTheDesign) {
  TMainForm& form = Start();
  EXPECT_EQ(Messages(), std::vector<std::string>{"Please make sure the file " + Path(kSettingsFileName) +
                                                 " exist!\n"});
  EXPECT_EQ(Edit("VendorIDEdit")->text(), "6A3E");
  EXPECT_EQ(Button("ExecuteBtn")->text(), "START");
  EXPECT_EQ(form.Settings().MPVersion, 0);
  // No lock without MPVersion: the box is checked and nothing is disabled.
  EXPECT_TRUE(Box("RDCheck")->isChecked());
  EXPECT_TRUE(Enabled("GroupBox1"));
  EXPECT_TRUE(input_.recorded.requests().empty());
}

// A pipe where the settings file or the firmware file is expected would
// hold the start-up before any window shows: each is reported and the
// window starts.
TEST_F(WindowTest, APipeWhereAFileIsExpectedHoldsNoStartUp) {
  const struct {
    const char* name;
    std::string pipe;  // the file made a pipe
    std::vector<std::string> boxes;
  } cases[] = {
      {"settings file", Path(kSettingsFileName),
       {"Unable to read " + Path(kSettingsFileName) + ": it is not a regular file"}},
      {"firmware file", Path("fw.bin"), {"Open Firmware File Error!!", "Firmware File not support all chips!"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    form_.reset();
    boxes_.clear();
    std::filesystem::remove(Path(kSettingsFileName));
    WriteIni(Ini("", "[QVEXECUTE]\r\nEnFWUpdate=1\r\nFwFileName=" + Path("fw.bin") + "\r\n"));
    std::filesystem::remove(c.pipe);
    ASSERT_EQ(::mkfifo(c.pipe.c_str(), 0600), 0);
    Bench(Products(21, 1));
    TMainForm& form = Start();
    EXPECT_EQ(Messages(), c.boxes);
    EXPECT_EQ(form.DeviceCount(), 1);
    std::filesystem::remove(c.pipe);
  }
}

TEST_F(WindowTest, ReadOnlySettingsFileIsStillRead) {
  WriteIni(Ini("ProductModel=KV-200"));
  ::chmod(Path(kSettingsFileName).c_str(), 0444);
  Start();
  EXPECT_TRUE(Shown("ProdModalPanel"));
  EXPECT_EQ(Find<QLabel>("ProdModalPanel")->text(), "KV-200");
}

TEST_F(WindowTest, CaptionLockAndModeFromTheFile) {
  WriteIni(Ini("MPVersion=1\r\nMPPellmarCustomer=1\r\nEnBarcodeMode=1"));
  Start();
  EXPECT_TRUE(form_->windowTitle().endsWith(" for Pellmar On-board Customers"));
  EXPECT_EQ(Button("ExecuteBtn")->text(), "BarCode");
  EXPECT_TRUE(Shown("RDCheck"));
  EXPECT_FALSE(Box("RDCheck")->isChecked());
  EXPECT_FALSE(Enabled("GroupBox1"));
  EXPECT_FALSE(Enabled("INISaveBtn"));
  EXPECT_TRUE(Enabled("Panel5"));  // bar-code mode: the serial entry stays usable
}

TEST_F(WindowTest, DayLogTakesTheLastNumberBeforeTheFirstGap) {
  std::filesystem::create_directories(Path("log"));
  for (const char* n : {"000", "001", "003"}) WriteFile(std::string("log/20240131_") + n + ".txt", "x");
  TMainForm& form = Start();
  EXPECT_EQ(form.DayLogPath(), Path("log/20240131_001.txt"));
}

TEST_F(WindowTest, DayLogAtTheRollOverSizeStartsTheNextNumber) {
  std::filesystem::create_directories(Path("log"));
  WriteFile("log/20240131_000.txt", std::string(kDayLogRollOverSize, 'x'));
  TMainForm& form = Start();
  EXPECT_EQ(form.DayLogPath(), Path("log/20240131_001.txt"));
}

TEST_F(WindowTest, LogFolderThatCannotBeMadeEndsTheStartUp) {
  WriteFile("log", "a file where the folder should be");
  Bench("");
  try {
    TMainForm form;
    ADD_FAILURE() << "the start-up went on";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Cannot create log directory.");
  }
  EXPECT_TRUE(Showed("Cannot create log directory."));
}

// Values a hand-edited file may hold: out-of-range choices, the null marker,
// texts longer than any descriptor, an ID that is not hexadecimal. The
// window starts, says what it cannot take, and writes only inside the block.
TEST_F(WindowTest, BadFileValues) {
  const std::string long69(69, 'L');
  WriteIni(Ini("", "[QVEXECUTE]\r\nCapacity=999\r\nDiskFormat=7\r\nFmtSecPerClus=1024\r\nEnEEPROMUpdate=1\r\n"
                   "[QVEEPROM]\r\nFlashType=9\r\nVenderID=XYZ1\r\nStringA=<<<< NULL >>>>\r\nStringB=" +
                       long69 + "\r\nString3=" + std::string(69, 'A') + "\r\n"));
  Bench(Products(13, 1));
  TMainForm& form = Start();
  EXPECT_TRUE(Showed("Vendor ID: 'XYZ1' is not a hexadecimal number."));
  EXPECT_EQ(Combo("CapChkCmbx")->currentIndex(), -1);
  EXPECT_EQ(Combo("Q646FlashComboBox")->currentIndex(), -1);
  EXPECT_EQ(Combo("FmtTypeComboBox")->currentIndex(), 0);
  const SettingsBlock& s = form.Settings();
  EXPECT_EQ(s.TableType, 3);
  EXPECT_EQ(s.OptionBlock[12], 4);  // string A unset
  EXPECT_EQ(Edit("StringBEdit")->text().size(), 30);
  EXPECT_EQ(s.OptionBlock[48], 62);
  EXPECT_EQ(s.OptionBlock[84], 62);
  EXPECT_EQ(s.OptionBlock[126], 'Q');
  EXPECT_EQ(s.OptionBlock[127], 'V');
  EXPECT_EQ(form.CollectSettingsFromForm(), CollectError::kVendorId);
  EXPECT_EQ(s.Capacity, 0);
}

// The first program's caption and the title of its plain messages.
TEST_F(WindowTest, PlainMessagesAreToldApartFromCaptionedBoxes) {
  Bench(Products(29, 1) + Products(21, 1, "disk.sectors = 156250000\n"));
  WriteIni(Ini("", "[QVEXECUTE]\r\nCapacity=120\r\n"));
  Start();
  const auto boxes = boxes_.boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].caption, "Message");
  EXPECT_EQ(boxes[0].flags & platform::kMbPlainMessage, 0u);
  EXPECT_EQ(boxes[1].text, "Check the Capacity check setting!!");
  EXPECT_NE(boxes[1].flags & platform::kMbPlainMessage, 0u);
  EXPECT_EQ(boxes[1].caption, "");
  EXPECT_EQ(boxes[2].caption, "Error");
}

}  // namespace
}  // namespace station
