// The second program ends with its main window as the first does, through
// the same entry: with the result window or the detail window still
// showing, and after a close that came during a pass; the settings and the
// session's yield are on disk then.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <memory>
#include <string>

#include "sdkstation/windows/detail_form.h"
#include "sdkstation/windows/tests/sdk_window_fixture.h"
#include "station/tests/configparser_reader.h"
#include "station/windows/tests/pass_gate.h"
#include "station/windows/tests/program_run.h"

namespace sdkstation {
namespace {

using station::testing::Child;
using station::testing::Ini;
using station::testing::Showing;

class SdkProgramEnd : public testing::SdkWindowTest {};

TEST_F(SdkProgramEnd, TheProgramEndsWithItsMainWindow) {
  for (const station::testing::ProgramEndCase& c : station::testing::kProgramEndCases) {
    SCOPED_TRACE(c.name);
    const char* showing = c.detailWindow ? "sdkstation::TDetailForm" : "station::TPassForm";
    std::filesystem::remove_all(Path("log"));
    WriteIni(Ini(c.setting, "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n"));  // no MPVersion: RD Version stays checked
    Bench(testing::Products(29, 2));
    const std::optional<int> status = station::testing::RunProgramWindows<TMainForm>([&](TMainForm& form) {
      const std::pair<const char*, const char*> typed[] = {
          {"VendorIDEdit", "13FE"},  {"ProductIDEdit", "6300"}, {"VendorStrEdit", "KESTROVA"},
          {"ProdStrEdit", "STATION"}, {"StringBEdit", "Disk"},   {"StringCEdit", "Maker"},
          {"SerialNumberEdit", "0001"}, {"DstISOEdit", "Saved At Exit"}};
      for (const auto& [name, text] : typed) Type(Child<QLineEdit>(form, name), text);
      // Closed as the window's frame closes it.
      const auto close = [&form] { form.close(); };
      std::unique_ptr<station::testing::PassGate> during;
      if (c.closeDuringPass)
        during = std::make_unique<station::testing::PassGate>(
            form, *bench_, [&form] { form.PostPortUpdate(); }, [&form] { return form.RunActive(); },
            [] { return true; }, close);
      QTest::mouseClick(Child<QPushButton>(form, "ExecuteBtn"), Qt::LeftButton);
      if (!c.closeDuringPass) {
        auto* tree = Child<QTreeWidget>(form, "TreeView1");
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(tree->topLevelItem(0)).center());
        if (c.detailWindow)
          QTest::mouseClick(Child<QPushButton>(form, "DblClickBtn"), Qt::LeftButton);
        ASSERT_TRUE(Showing(showing));
        close();
      }
      ASSERT_TRUE(!c.closeDuringPass || (during->done && form.isVisible()));
      ASSERT_TRUE(Showing(showing));
    });
    EXPECT_EQ(status, 0);
    const auto yield = station::testing::ReadIniWithPython(Path("log/QV4164x.log"), folder_);
    EXPECT_EQ(yield.at({"TestRecord", "TotalTestCount"}), "2");
    EXPECT_EQ(yield.at({"TestRecord", "NumberOfPass"}), "2");
    const auto settings = station::testing::ReadIniWithPython(Path("Kestrova.ini"), folder_);
    EXPECT_EQ(settings.at({"QVEXECUTE", "SwDstFolder"}), "Saved At Exit");
  }
}

// An exception that leaves START (here from the box of a refused run) is
// shown, and the run it left is over: the window still closes and the
// program ends.
TEST_F(SdkProgramEnd, ARunLeftByAnExceptionStillLetsTheProgramEnd) {
  const station::testing::QtFramesUnwound unwound;
  WriteIni(Ini("", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n[QVEEPROM]\r\nString3=\r\n"));
  Bench(testing::Products(29, 1));
  station::testing::ThrowingOnceBox throwing(boxes_);
  const std::optional<int> status = station::testing::RunProgramWindows<TMainForm>([&](TMainForm& form) {
    platform::SetMessageBoxSink(&throwing);
    QTest::mouseClick(Child<QPushButton>(form, "ExecuteBtn"), Qt::LeftButton);
    platform::SetMessageBoxSink(&boxes_);
    ASSERT_TRUE(throwing.thrown);
    EXPECT_FALSE(form.RunActive());
    QTest::mouseClick(Child<QPushButton>(form, "CloseBtn"), Qt::LeftButton);
  });
  EXPECT_EQ(status, 0);
  EXPECT_THAT(Messages(), ::testing::Contains("Out of memory."));
}

}  // namespace
}  // namespace sdkstation
