// START in the real window on the bench: every step on four products, the
// rows as they change, the day log read by Python's csv module, the yield
// file by configparser, each product's programmed serial; failing ports,
// loops, Stop, StopOnFail and the bar-code start.
#include <QProgressBar>
#include <QStatusBar>
#include <QTreeWidget>

#include <set>

#include "sim/emulated_bridge.h"
#include "sim/identity_image.h"
#include "sim/spi_flash.h"
#include "station/windows/control_events.h"
#include "station/tests/configparser_reader.h"
#include "station/tests/csv_reader.h"
#include "station/windows/tests/pass_window_fixture.h"

namespace station {
namespace {

using testing::DuringPass;
using testing::PassWindowTest;
using testing::StepProducts;

constexpr int kRwColumn = 11;

bool IsRed(const QTreeWidgetItem* item, int column) {
  return item->foreground(column).color() == QColor(0xFF, 0, 0) && item->font(column).bold();
}
bool IsBlue(const QTreeWidgetItem* item, int column) {
  return item->foreground(column).color() == QColor(0, 0, 0xFF) && item->font(column).bold();
}

TEST_F(PassWindowTest, StartRunsEveryStepOnFourProducts) {
  WriteIni(EveryStepIni());
  Bench(StepProducts(4));
  TMainForm& form = StartWithResultWindow();
  ASSERT_TRUE(Button("ExecuteBtn")->isEnabled()) << ::testing::PrintToString(Messages());

  // While the pass waits, the wait panel shows and the rows are drawn.
  QWidget* waitPanel = Find<QWidget>("WaitPanel");
  bool waitPanelShown = false;
  bool rowsDrawn = false;
  DuringPass watch(form, *bench_, [&] {
    waitPanelShown = waitPanelShown || OwnVisibleFlag(waitPanel);
    rowsDrawn = rowsDrawn || Cell(3, 2).startsWith("1D6B / 0100 / 5B");
    return false;
  }, [] {});
  Button("ExecuteBtn")->click();
  Pump();

  EXPECT_TRUE(waitPanelShown);
  EXPECT_FALSE(OwnVisibleFlag(waitPanel));
  EXPECT_TRUE(rowsDrawn);
  EXPECT_TRUE(Messages().empty()) << ::testing::PrintToString(Messages());
  for (int row = 0; row < 4; ++row) {
    const QTreeWidgetItem* item = List()->topLevelItem(row);
    EXPECT_EQ(item->text(5), "");  // the identity check is not offered with the update
    for (int column = 6; column <= 13; ++column) {
      const QString text = item->text(column);
      EXPECT_TRUE(text.startsWith("Pass")) << row << "/" << column << " " << text.toStdString();
      EXPECT_TRUE(IsBlue(item, column)) << row << "/" << column;
    }
    EXPECT_EQ(item->text(1), "YES");
  }
  EXPECT_EQ(Cell(4, 0), "");
  EXPECT_EQ(Find<QProgressBar>("ProgressBar1")->value(), 100);
  EXPECT_EQ(Find<QLabel>("StatusBar1Panel2")->text(), "100%");
  ASSERT_TRUE(passForm_->isVisible());
  EXPECT_TRUE(passForm_->findChild<QLabel*>("passLabel")->isVisible());
  EXPECT_EQ(Edit("YieldEdit")->text(), "4 / 4");
  EXPECT_FALSE(form.RunActive());
  EXPECT_TRUE(Find<QWidget>("Panel3")->isEnabled());
  EXPECT_EQ(Edit("String3Edit")->text(), "000000000105");

  // The day log as another program reads it.
  const auto rows = testing::ReadTabRowsWithPython(form.DayLogPath(), folder_);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(testing::Slurp(form.DayLogPath()).substr(0, 216), kDayLogHeader);
  for (size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 22u);
    EXPECT_EQ(rows[i][0], "00000" + std::to_string(i));
    for (size_t c = 10; c <= 21; ++c) {
      if (c == 18) continue;
      // No separate firmware check; no relink needed after the update.
      EXPECT_EQ(rows[i][c], c == 13 || c == 14 ? "----" : "Pass") << i << "/" << c;
    }
    EXPECT_EQ(rows[i][3].substr(0, 39), "1D6B / 0887 / Orvanta / Station Disk / ");
  }

  // Each product's flash holds its own serial number in its configuration
  // (8-bit text after the serial descriptor's header), none twice.
  std::set<std::string> serials;
  for (size_t i = 0; i < bench_->size(); ++i) {
    char text[12] = {};
    bench_->product(i).WithBridge([&](sim::EmulatedBridge& b) {
      b.flash().Read(testing::kQvs887ConfigAddress + testing::kType3SerialDescriptor + 2,
                     reinterpret_cast<uint8_t*>(text), sizeof text);
      return 0;
    });
    serials.insert(std::string(text, sizeof text));
  }
  EXPECT_EQ(serials, (std::set<std::string>{"000000000101", "000000000102", "000000000103", "000000000104"}));

  // The yield file, as configparser reads it, after the window closes.
  form_.reset();
  const auto yield = testing::ReadIniWithPython(Path("log/QV4164x.log"), folder_);
  EXPECT_EQ(yield.at({"TestRecord", "TotalTestCount"}), "4");
  EXPECT_EQ(yield.at({"TestRecord", "NumberOfPass"}), "4");
}

// A product whose maker string is not the verified one fails its identity
// check: its row shows it red and bold, the other ports pass; with
// StopOnFail the loop ends after the failing pass, without it runs on.
TEST_F(PassWindowTest, FailingPortIsRedAndStopOnFailEndsTheLoop) {
  for (const bool stopOnFail : {true, false}) {
    SCOPED_TRACE(stopOnFail);
    form_.reset();
    WriteIni(QuickIni("MPPassLabel=1", "[LoopDebug]\r\nEnLoopDebug=1\r\n"));
    Bench(StepProducts(1) + "[product odd]\nchip = 25\nspeed = super\nserial = 5B0000000999\n"
                            "manufacturer = Someone Else\n");
    std::filesystem::remove_all(Path("log"));
    TMainForm& form = Start();
    Box("cbStopOnFailure")->setChecked(stopOnFail);
    Edit("lbTestLoopCnt")->setText("3");
    Button("btnStartTest2")->click();
    Pump();
    const int oddRow = Cell(0, 2).endsWith("999") ? 0 : 1;
    const QTreeWidgetItem* odd = List()->topLevelItem(oddRow);
    EXPECT_EQ(odd->text(5), "Fail");
    EXPECT_TRUE(IsRed(odd, 5));
    EXPECT_EQ(List()->topLevelItem(1 - oddRow)->text(5), "Pass");
    EXPECT_TRUE(IsBlue(List()->topLevelItem(1 - oddRow), 5));
    EXPECT_EQ(StatusText(), "Fail");
    EXPECT_TRUE(Shown("StatusLabel"));
    EXPECT_EQ(form.PassRecords().lastPassFailed, 1);
    // Two rows a pass, under the header.
    EXPECT_EQ(LogLines(), stopOnFail ? 3u : 7u);
    EXPECT_EQ(Edit("YieldEdit")->text(), stopOnFail ? "1 / 2" : "3 / 6");
  }
}

}  // namespace
}  // namespace station
