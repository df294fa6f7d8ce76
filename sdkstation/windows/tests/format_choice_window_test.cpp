// The format choice of the second program's window: the allocation unit
// each file system hands to the library's formats, the cluster choice shown
// for NTFS only, and a FAT32 label cut to 11 characters with its message.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>

#include <mutex>
#include <string>
#include <vector>

#include "sdkstation/windows/tests/sdk_window_fixture.h"

namespace sdkstation {
namespace {

using station::testing::Ini;

constexpr char kFat32Message[] = "FAT32 only support Volume label 11 characters!";

class SdkFormatChoice : public testing::SdkWindowTest {};

TEST_F(SdkFormatChoice, EachFileSystemSetsItsAllocationUnit) {
  WriteIni(Ini("", "[QVEXECUTE]\r\nEnFormat=1\r\nFmtSecPerClus=512\r\n"));
  TMainForm& form = Start();
  QComboBox* fileSystem = Combo("FmtTypeComboBox");
  Type(Edit("VolumeLabeledEdit"), "LABEL");
  struct Case {
    const char* name;
    int32_t unit;
    bool choiceShown;
  };
  std::vector<Case> cases = {{"FAT32", 32768, false}, {"NTFS", 4096, true}};
  if (fileSystem->count() > 2) cases.push_back({"exFAT", 0x20000, false});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Choose(fileSystem, fileSystem->findText(c.name));
    EXPECT_EQ(form.Settings().AllocationUnitSize, c.unit);
    // The cluster choice of the system's format is not the choice's to set.
    EXPECT_EQ(form.Settings().FmtSecPerClus, 512);
    EXPECT_EQ(Shown("FmtSecPerClusCbox"), c.choiceShown);
  }
  // NTFS's own choice, then FAT32, which has none.
  Choose(fileSystem, fileSystem->findText("NTFS"));
  Choose(Combo("FmtSecPerClusCbox"), 1);
  EXPECT_EQ(form.Settings().FmtSecPerClus, 512);
  Choose(fileSystem, fileSystem->findText("FAT32"));
  Choose(Combo("FmtSecPerClusCbox"), 1);
  EXPECT_EQ(form.Settings().FmtSecPerClus, 0);
  EXPECT_THAT(Messages(), ::testing::IsEmpty());
}

// What the library's combined partition and format receives after START;
// the workers call it at the same time, without a lock of the station's.
struct CombinedFormatCall {
  static inline QV_Partition_LBA_Format_LBA_t real = nullptr;
  static inline std::mutex mutex;
  static inline std::vector<int> units;
  static int Record(const char* path, int gpt, const char* label, int fileSystem, int unit, int quick, int gpt2,
                    int own) {
    {
      const std::lock_guard lock(mutex);
      units.push_back(unit);
    }
    return real(path, gpt, label, fileSystem, unit, quick, gpt2, own);
  }
};

TEST_F(SdkFormatChoice, StartHandsTheChosenAllocationUnitToTheLibrary) {
  Bench(testing::Products(29, 2));
  WriteIni(Ini("MPPassLabel=1", "[QVEXECUTE]\r\nEnPartition=1\r\nEnFormat=1\r\n"));
  TMainForm& form = Start();
  CombinedFormatCall::units.clear();
  CombinedFormatCall::real = DeviceSdk().QV_Partition_LBA_Format_LBA;
  DeviceSdk().QV_Partition_LBA_Format_LBA = &CombinedFormatCall::Record;
  QComboBox* fileSystem = Combo("FmtTypeComboBox");
  Choose(fileSystem, fileSystem->findText("FAT32"));
  QTest::mouseClick(Button("ExecuteBtn"), Qt::LeftButton);
  Pump();
  EXPECT_EQ(CombinedFormatCall::units, (std::vector<int>{32768, 32768}));
  EXPECT_EQ(form.Settings().NumberOfPass, 2);
}

TEST_F(SdkFormatChoice, AFat32LabelIsCutToElevenWithItsMessage) {
  WriteIni(Ini("", "[QVEXECUTE]\r\nEnFormat=1\r\n"));
  Start();
  QComboBox* fileSystem = Combo("FmtTypeComboBox");
  Type(Edit("VolumeLabeledEdit"), "TWELVE_CHARS");
  EXPECT_THAT(Messages(), ::testing::IsEmpty());  // NTFS takes it
  Choose(fileSystem, fileSystem->findText("FAT32"));
  EXPECT_EQ(Edit("VolumeLabeledEdit")->text(), "TWELVE_CHAR");
  EXPECT_EQ(Messages(), std::vector<std::string>{kFat32Message});
  // Typed on with FAT32 chosen: cut again.
  boxes_.clear();
  QTest::keyClick(Edit("VolumeLabeledEdit"), Qt::Key_X);
  EXPECT_EQ(Edit("VolumeLabeledEdit")->text(), "TWELVE_CHAR");
  EXPECT_EQ(Messages(), std::vector<std::string>{kFat32Message});
}

}  // namespace
}  // namespace sdkstation
