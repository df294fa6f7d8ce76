// The port rows of the second program: a pass started from START on the
// bench through the library, the cells of its rows, the yield that takes
// each final result once, and the redraws that many updates make.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sdkstation/windows/tests/sdk_window_fixture.h"
#include "station/tests/csv_reader.h"
#include "station/windows/pass_form.h"

namespace sdkstation {
namespace {

using station::testing::Ini;

// Runs `seen` when the watched window is shown.
class RowsAtShow : public QObject {
 public:
  explicit RowsAtShow(std::function<void()> seen) : seen_(std::move(seen)) {}
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Show) seen_();
    return false;
  }

 private:
  std::function<void()> seen_;
};

class SdkPortRows : public testing::SdkWindowTest {
 public:
  QTreeWidget* List() const { return Find<QTreeWidget>("ListView1"); }
  std::string Cell(int row, int column) const {
    return List()->topLevelItem(row)->text(column).toStdString();
  }
  std::string Yield() const { return Edit("YieldEdit")->text().toStdString(); }
  int LogRows() const {
    std::istringstream log(station::testing::Slurp(form_->DayLogPath()));
    int rows = 0;
    for (std::string line; std::getline(log, line);) rows += line.find("2024/01/31") != std::string::npos;
    return rows;
  }
};

TEST_F(SdkPortRows, StartFillsTheRowsThePassWindowTheLogAndTheYield) {
  Bench(testing::Products(29, 3));
  WriteIni(Ini("MPPassLabel=0", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n"));
  TMainForm& form = Start();
  station::TPassForm passForm(&form);
  form.SetPassForm(&passForm);
  ASSERT_EQ(form.DeviceCount(), 3);
  FillIdentity("00A0");
  Button("ResetYieldBtn")->click();
  // The rows as the operator sees them beside the result: every device's
  // identity written.
  std::vector<std::string> identityCells;
  RowsAtShow rowsAtShow([&] {
    for (int row = 0; row < List()->topLevelItemCount(); ++row) identityCells.push_back(Cell(row, 8));  // EEPROM
  });
  passForm.installEventFilter(&rowsAtShow);
  Button("ExecuteBtn")->click();
  Pump();
  EXPECT_THAT(Messages(), ::testing::IsEmpty());
  EXPECT_THAT(identityCells, ::testing::ElementsAre("Pass", "Pass", "Pass"));
  // Listed again after the pass: one row per device, identities upper-cased.
  ASSERT_EQ(List()->topLevelItemCount(), 3);
  for (int row = 0; row < 3; ++row) EXPECT_THAT(Cell(row, 2), ::testing::StartsWith("1D6B / 0100 / 529"));
  EXPECT_TRUE(passForm.isVisible());
  EXPECT_EQ(Yield(), "3/3");
  EXPECT_EQ(LogRows(), 3) << station::testing::Slurp(form.DayLogPath());
  // Every later update finds the results taken already.
  for (int i = 0; i < 50; ++i) {
    form.PostPortUpdate();
    Pump();
  }
  EXPECT_EQ(Yield(), "3/3");
  form.SetPassForm(nullptr);
}

TEST_F(SdkPortRows, AResetYieldNumbersTheNextRowsFromTheStartAgain) {
  // The third device stops at the maximum serial: logged, not counted. After
  // the reset the rows follow the new count, not the rows logged before it.
  Bench(testing::Products(29, 3));
  WriteIni(Ini("MPPassLabel=1\r\nCheckMaxSn=1",
               "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n[QVEEPROM]\r\nStringMaxSn=00A1\r\n"));
  TMainForm& form = Start();
  form.show();
  ASSERT_EQ(form.DeviceCount(), 3);
  FillIdentity("00A0");
  Check(Box("Str3AutoInc"), true);
  QTest::mouseClick(Button("ResetYieldBtn"), Qt::LeftButton);
  QTest::mouseClick(Button("ExecuteBtn"), Qt::LeftButton);
  Pump();
  EXPECT_EQ(Messages(), std::vector<std::string>{kMaxSerialReached});
  EXPECT_EQ(Yield(), "2/2");
  QTest::mouseClick(Button("ResetYieldBtn"), Qt::LeftButton);
  EXPECT_EQ(Yield(), "0/0");
  Type(Edit("SerialNumberEdit"), "00A0");
  QTest::mouseClick(Button("ExecuteBtn"), Qt::LeftButton);
  Pump();
  EXPECT_EQ(Yield(), "2/2");
  const auto rows = station::testing::ReadTabRowsWithPython(form.DayLogPath(), folder_);
  std::vector<std::string> numbers;
  for (size_t i = 1; i < rows.size(); ++i) numbers.push_back(rows[i][0]);
  EXPECT_EQ(numbers, (std::vector<std::string>{"000000", "000001", "000002", "000000", "000001", "000002"}));
}

TEST_F(SdkPortRows, CellsOfARecord) {
  Bench("[product a]\nchip = 29\nserial = 5a0001\nvid = 0x152d\npid = 0x0a78\n");
  WriteIni(Ini(""));
  TMainForm& form = Start();
  ASSERT_EQ(form.DeviceCount(), 1);
  SdkPortRecord& r = form.Pass().ports[0];
  r.readSpeed = 56.78f;
  r.writeSpeed = 12.34f;
  struct Case {
    int32_t showRwPerf;
    int32_t status;
    const char* cell;
  };
  const Case cases[] = {
      {1, 1, "Pass (56.8 12.3)"}, {0, 1, "Pass"}, {1, -1, "Fail"}, {1, 2, "Running"},
      {1, 3, "N/A"},              {1, 4, "Unmatched"}, {1, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cell);
    form.Settings().ShowRWPerf = c.showRwPerf;
    r.readWriteStatus = c.status;
    form.PostPortUpdate();
    Pump();
    EXPECT_EQ(Cell(0, 11), c.cell);
  }
  // The identities upper-cased, four hex digits each.
  EXPECT_EQ(Cell(0, 2), "152D / 0A78 / 5A0001");
  // The connection: "YES" but for the QVS87x series, which shows its speed.
  r.qvs87x = 1;
  for (const auto& [speed, text] : {std::pair{2, "2.0"}, std::pair{3, "3.0"}, std::pair{4, "3.0"}}) {
    r.usbSpeed = speed;
    form.PostPortUpdate();
    Pump();
    EXPECT_EQ(Cell(0, 1), text);
  }
}

TEST_F(SdkPortRows, ManyUpdatesInOneTurnRedrawOnceAndCountEachResultOnce) {
  Bench(testing::Products(29, 2));
  WriteIni(Ini(""));
  TMainForm& form = Start();
  form.ResetYieldBtnClick();
  Pump();  // the start-up's own rows
  const int redraws = form.PortRowRedraws();
  form.Pass().ports[0].finalResult = 1;
  form.Pass().ports[1].finalResult = -1;
  for (int i = 0; i < 200; ++i) form.PostPortUpdate();
  Pump();
  Pump();
  EXPECT_EQ(form.PortRowRedraws(), redraws + 1);
  EXPECT_EQ(Yield(), "1/2");
  EXPECT_EQ(form.Pass().ports[0].finalResult.load(), 0);
}

}  // namespace
}  // namespace sdkstation
