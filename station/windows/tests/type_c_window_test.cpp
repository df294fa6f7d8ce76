// The Type-C rounds in the real window on the bench's power fixture: three
// passes (CC1 firmware update, CC1 test, CC2 test) on one product, the
// round's block in the day log and the yield counted in its first and last
// pass; with two products no worker starts and CC1 fails in red.
#include <QLabel>
#include <QTest>

#include "platform/window_messages.h"
#include "sim/bench_config.h"
#include "station/windows/tests/pass_window_fixture.h"

namespace station {
namespace {

using testing::Ini;
using testing::PassWindowTest;

constexpr char kDutSerial[] = "0000000000D7";

sim::ProductConfig Product(const std::string& name, uint8_t chip, const std::string& serial, uint32_t port) {
  sim::ProductConfig p;
  p.name = name;
  p.chipType = chip;
  p.usbSerial = serial;
  p.disk.sectors = 512 * 1024;
  p.placement.port = port;
  return p;
}

// Lets RescanTimer fall due at the first row rebuild where `when` holds.
class RescanWhen : public QObject {
 public:
  RescanWhen(TMainForm& form, std::function<bool()> when) : form_(form), when_(std::move(when)) {
    form.installEventFilter(this);
  }
  ~RescanWhen() override { form_.removeEventFilter(this); }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == static_cast<QEvent::Type>(kWmPortUpdate) && !done && when_()) {
      done = true;
      static_cast<void>(
          form_.Dispatch({.message = platform::kWmTimer, .wParam = TMainForm::RescanTimer, .broadcast = nullptr}));
    }
    return false;
  }
  bool done = false;

 private:
  TMainForm& form_;
  std::function<bool()> when_;
};

class TypeCWindowTest : public PassWindowTest {
 public:
  void FixtureBench(bool secondProduct) {
    sim::BenchConfig config;
    config.products = {Product("epp", 6, "6A3E41649001", 1), Product("dut", 26, kDutSerial, 2)};
    if (secondProduct) config.products.push_back(Product("extra", 26, "0000000000E8", 4));
    config.typeCFixtures.push_back({"epp", "dut", 3});
    backend_.reset();
    bench_ = std::make_shared<sim::Bench>(config);
    backend_ = std::make_unique<platform::ScopedBackend>(bench_);
  }
  std::string TypeCIni() {
    return QuickIni("EnEPPTypeC=1\r\nEPPPowerOnDelay=3000\r\nEPPPowerOffDelay=300",
                    std::string("[QVEEPROM]\r\nString3=") + kDutSerial + "\r\n");
  }
  QLabel* Label(const char* name) const { return Find<QLabel>(name); }
  static QColor TextColour(const QLabel* label) { return label->palette().color(QPalette::WindowText); }
};

TEST_F(TypeCWindowTest, ThreePassesOnOneProduct) {
  WriteIni(TypeCIni());
  FixtureBench(false);
  TMainForm& form = Start();
  ASSERT_EQ(form.Pass().EppPowered, 1);
  // The product the fixture switched on is there now.
  QTest::mouseClick(Button("RefreshBtn"), Qt::LeftButton);
  ASSERT_TRUE(Button("ExecuteBtn")->isEnabled()) << ::testing::PrintToString(Messages());
  // The fixture's own notices leave a rescan due; when it falls due after
  // the CC1 test switched the power to CC2, it must not switch it back.
  RescanWhen rescan(form, [&] {
    const auto& records = form.Pass().ports.records;
    return form.Pass().EppPassIndex == 1 &&
           std::any_of(records.begin(), records.end(), [](const auto& r) { return r.result == 1; });
  });
  QTest::mouseClick(Button("ExecuteBtn"), Qt::LeftButton);
  Pump();
  EXPECT_TRUE(Messages().empty()) << ::testing::PrintToString(Messages());
  EXPECT_TRUE(rescan.done);
  EXPECT_EQ(form.Pass().EppPassIndex, 2);
  EXPECT_EQ(Label("CCLabel")->text(), "Pass");
  EXPECT_EQ(Label("StatusLabel")->text(), "Pass");
  EXPECT_EQ(TextColour(Label("StatusLabel")), QColor(0, 0, 0xFF));
  EXPECT_EQ(Edit("YieldEdit")->text(), "1 / 1");
  EXPECT_FALSE(Button("ExecuteBtn")->isEnabled());  // the next refresh decides

  const std::string log = Log();
  const size_t block = log.find("---EPP Pass------------\r\n");
  ASSERT_NE(block, std::string::npos) << log;
  const std::string rows = log.substr(block);
  const size_t cc1FwUp = rows.find("\tCC1-FwUp\r\n");
  const size_t cc1Test = rows.find("\tCC1-Test\r\n");
  const size_t cc2Test = rows.find("\tCC2-Test\r\n");
  EXPECT_TRUE(cc1FwUp < cc1Test && cc1Test < cc2Test && cc2Test != std::string::npos) << rows;
  // The three rows share the round's number; the first pass has no speeds.
  EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 4);
  for (size_t at = rows.find('\n') + 1; at < rows.size(); at = rows.find('\n', at) + 1)
    EXPECT_EQ(rows.substr(at, 7), "000001\t");
  EXPECT_NE(rows.find("\t--/--\t"), std::string::npos);
}

TEST_F(TypeCWindowTest, TwoProductsStartNoWorkerAndFailCc1) {
  WriteIni(TypeCIni());
  FixtureBench(true);
  TMainForm& form = Start();
  ASSERT_EQ(form.Pass().EppPowered, 1);
  QTest::mouseClick(Button("RefreshBtn"), Qt::LeftButton);
  ASSERT_TRUE(Button("ExecuteBtn")->isEnabled());
  WriteFile(form.DayLogPath().substr(folder_.size() + 1), std::string(kDayLogHeader));
  QTest::mouseClick(Button("ExecuteBtn"), Qt::LeftButton);
  Pump();
  EXPECT_EQ(form.Pass().PresentDeviceCount.load(), 2);
  EXPECT_EQ(Label("CCLabel")->text(), "CC1");
  EXPECT_EQ(Label("StatusLabel")->text(), "Fail");
  EXPECT_EQ(TextColour(Label("CCLabel")), QColor(0xFF, 0, 0));
  EXPECT_EQ(TextColour(Label("StatusLabel")), QColor(0xFF, 0, 0));
  EXPECT_EQ(Edit("YieldEdit")->text(), "0 / 0");
  const std::string log = Log();
  EXPECT_EQ(log.find("CC1-FwUp"), std::string::npos);  // no pass row
  const size_t block = log.find("---EPP Fail------------\r\n");
  ASSERT_NE(block, std::string::npos) << log;
  EXPECT_NE(log.find("\t---CC1 Firmware Update : Device not found. ------\r\n", block), std::string::npos);
  EXPECT_NE(log.find("\t---CC2 Test : Because the previous test item failed, bypassing following test items. ------\r\n",
                     block),
            std::string::npos);
}

// START refused before any pass (the firmware update on, no file named):
// the round's block still goes to the day log, and it is a failed one.
TEST_F(TypeCWindowTest, ARefusedStartLogsAFailedRound) {
  std::string ini = TypeCIni();
  ini.replace(ini.find("EnVenderCheck=1"), 15, "EnVenderCheck=1\r\nEnFWUpdate=1");
  WriteIni(ini);
  FixtureBench(false);
  TMainForm& form = Start();
  QTest::mouseClick(Button("RefreshBtn"), Qt::LeftButton);
  ASSERT_TRUE(Box("FWUpdateCheckBox")->isChecked());
  ASSERT_TRUE(Button("ExecuteBtn")->isEnabled()) << ::testing::PrintToString(Messages());
  WriteFile(form.DayLogPath().substr(folder_.size() + 1), std::string(kDayLogHeader));
  boxes_.clear();
  QTest::mouseClick(Button("ExecuteBtn"), Qt::LeftButton);
  Pump();
  EXPECT_EQ(Messages(), std::vector<std::string>{"Please make sure the correct firmware filename!"});
  const std::string log = Log().substr(std::string(kDayLogHeader).size());
  EXPECT_EQ(log.find("---EPP Pass"), std::string::npos) << log;
  ASSERT_EQ(log.rfind("---EPP Fail------------\r\n", 0), 0u) << log;
  EXPECT_NE(log.find("\t---CC1 Firmware Update : Device not found. ------\r\n"), std::string::npos) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4) << log;
}

// A round whose log was never made: the block has nowhere to go and says so.
TEST_F(TypeCWindowTest, BlockWithoutADayLogIsReported) {
  WriteIni(TypeCIni());
  FixtureBench(true);
  TMainForm& form = Start();
  QTest::mouseClick(Button("RefreshBtn"), Qt::LeftButton);
  QTest::mouseClick(Button("ExecuteBtn"), Qt::LeftButton);
  Pump();
  EXPECT_EQ(Messages(), std::vector<std::string>{"Open log file Fail !!"});
  EXPECT_FALSE(std::filesystem::exists(form.DayLogPath()));
}

}  // namespace
}  // namespace station
