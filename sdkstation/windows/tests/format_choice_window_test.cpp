// The format choice of the second program's window: the cluster size each
// file system writes, the cluster choice shown for NTFS only, and a FAT32
// label cut to 11 characters with its message.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>

#include <string>
#include <vector>

#include "sdkstation/windows/tests/sdk_window_fixture.h"

namespace sdkstation {
namespace {

using station::testing::Ini;

constexpr char kFat32Message[] = "FAT32 only support Volume label 11 characters!";

class SdkFormatChoice : public testing::SdkWindowTest {};

TEST_F(SdkFormatChoice, EachFileSystemWritesItsClusterSize) {
  WriteIni(Ini("", "[QVEXECUTE]\r\nEnFormat=1\r\nFmtSecPerClus=512\r\n"));
  TMainForm& form = Start();
  QComboBox* fileSystem = Combo("FmtTypeComboBox");
  Type(Edit("VolumeLabeledEdit"), "LABEL");
  struct Case {
    const char* name;
    int32_t cluster;
    bool choiceShown;
  };
  std::vector<Case> cases = {{"FAT32", 32768, false}, {"NTFS", 4096, true}};
  if (fileSystem->count() > 2) cases.push_back({"exFAT", 0x20000, false});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Choose(fileSystem, fileSystem->findText(c.name));
    EXPECT_EQ(form.Settings().FmtSecPerClus, c.cluster);
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
