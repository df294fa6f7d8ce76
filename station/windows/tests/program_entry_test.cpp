// The program entry: the application's exception box for what escapes an
// event handler, and the end of the program with its main window whatever
// else shows, the settings and the yield saved then.
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "station/tests/configparser_reader.h"
#include "station/windows/detail_form.h"
#include "station/windows/program_entry.h"
#include "station/windows/tests/pass_window_fixture.h"
#include "station/windows/tests/program_run.h"

namespace station {
namespace {

using testing::DuringPass;
using testing::QtFramesUnwound;
using testing::PassWindowTest;
using testing::Child;
using testing::Showing;
using testing::StepProducts;

// What an event handler throws reaches the application's box, and the next
// event is handled as usual: a click, a posted call, a thrown non-exception.
TEST(ApplicationObject, AnExceptionLeavingAnEventHandlerIsShownAndTheLoopGoesOn) {
  const QtFramesUnwound unwound;  // the button's guards among them
  platform::RecordingMessageBoxSink boxes;
  const platform::ScopedMessageBoxSink scope(&boxes);
  QPushButton button("Go");
  button.resize(80, 30);
  int clicks = 0;
  QObject::connect(&button, &QPushButton::clicked, [&] {
    if (++clicks == 1) throw std::runtime_error("Disk full.");
  });
  QTest::mouseClick(&button, Qt::LeftButton);
  QMetaObject::invokeMethod(&button, [] { throw 42; }, Qt::QueuedConnection);
  QMetaObject::invokeMethod(&button, [] { throw std::out_of_range("Port 17"); }, Qt::QueuedConnection);
  QCoreApplication::processEvents();
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_EQ(clicks, 2);
  const auto shown = boxes.boxes();
  ASSERT_EQ(shown.size(), 3u);
  const char* texts[] = {"Disk full.", "Unknown exception", "Port 17"};
  for (size_t i = 0; i < shown.size(); ++i) {
    EXPECT_EQ(shown[i].text, texts[i]);
    EXPECT_EQ(shown[i].caption, kApplicationTitle);
    EXPECT_EQ(shown[i].flags, platform::kMbOk | platform::kMbIconError);
  }
}

// The program ends when its main window closes, with the result window or
// the detail window still showing, and when the close came during a pass;
// the settings and the session's yield are on disk then.
TEST_F(PassWindowTest, TheProgramEndsWithItsMainWindow) {
  for (const testing::ProgramEndCase& c : testing::kProgramEndCases) {
    SCOPED_TRACE(c.name);
    const char* showing = c.detailWindow ? "station::TDetailForm" : "station::TPassForm";
    std::filesystem::remove_all(Path("log"));
    WriteIni(QuickIni(c.setting));  // no MPVersion: RD Version stays checked
    Bench(StepProducts(1));
    const std::optional<int> status = testing::RunProgramWindows<TMainForm>([&](TMainForm& form) {
      QPushButton* close = Child<QPushButton>(form, "CloseBtn");
      Type(Child<QLineEdit>(form, "DstISOEdit"), "Saved At Exit");
      std::unique_ptr<DuringPass> during;
      if (c.closeDuringPass)
        during = std::make_unique<DuringPass>(form, *bench_, [] { return true; },
                                              [close] { QTest::mouseClick(close, Qt::LeftButton); });
      QTest::mouseClick(Child<QPushButton>(form, "ExecuteBtn"), Qt::LeftButton);
      if (!c.closeDuringPass) {
        auto* tree = Child<QTreeWidget>(form, "TreeView1");
        const auto& records = form.Pass().ports.records;
        const auto present = std::find_if(records.begin(), records.end(), [](const auto& r) { return r.present; });
        ASSERT_NE(present, records.end());
        const QRect item = tree->visualItemRect(tree->topLevelItem(static_cast<int>(present - records.begin())));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, item.center());
        if (c.detailWindow)
          QTest::mouseClick(Child<QPushButton>(form, "DblClickBtn"), Qt::LeftButton);
        ASSERT_TRUE(Showing(showing));
        QTest::mouseClick(close, Qt::LeftButton);
      }
      ASSERT_TRUE(!c.closeDuringPass || (during->done && form.isVisible()));
      ASSERT_TRUE(Showing(showing));
    });
    EXPECT_EQ(status, 0);
    const auto yield = testing::ReadIniWithPython(Path("log/QV4164x.log"), folder_);
    EXPECT_EQ(yield.at({"TestRecord", "TotalTestCount"}), "1");
    EXPECT_EQ(yield.at({"TestRecord", "NumberOfPass"}), "1");
    const auto settings = testing::ReadIniWithPython(Path(kSettingsFileName), folder_);
    EXPECT_EQ(settings.at({"QVEXECUTE", "SwDstFolder"}), "Saved At Exit");
  }
}

// An exception that leaves START (here from the box of a refused run) is
// shown, and the run it left is over: the window still closes and the
// program ends.
TEST_F(PassWindowTest, ARunLeftByAnExceptionStillLetsTheProgramEnd) {
  const QtFramesUnwound unwound;
  WriteIni(testing::Ini("", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n[QVEEPROM]\r\nString3=\r\n"));
  Bench(StepProducts(1));
  testing::ThrowingOnceBox throwing(boxes_);
  const std::optional<int> status = testing::RunProgramWindows<TMainForm>([&](TMainForm& form) {
    platform::SetMessageBoxSink(&throwing);
    QTest::mouseClick(Child<QPushButton>(form, "ExecuteBtn"), Qt::LeftButton);
    platform::SetMessageBoxSink(&boxes_);
    ASSERT_TRUE(throwing.thrown);
    EXPECT_FALSE(form.RunActive());
    QTest::mouseClick(Child<QPushButton>(form, "CloseBtn"), Qt::LeftButton);
  });
  EXPECT_EQ(status, 0);
  const std::vector<std::string> messages = Messages();
  EXPECT_NE(std::find(messages.begin(), messages.end(), "Out of memory."), messages.end());
}

}  // namespace
}  // namespace station
