// The main window's own events on the bench: products plugged and pulled
// bring one debounced rescan, other notices and other timers do nothing,
// the rescan focuses the serial entry or START, the Type-C reminder comes
// back 10 s after each close, and the create event's caption and places.
// Passes started by auto-run, products pulled during a pass, the detail
// window while workers own the devices.
// The clock is manual: only sleeps move it, so the delays are exact.
#include <QTreeWidget>

#include <cstdlib>
#include <functional>
#include <string>

#include "platform/debug.h"
#include "platform/device_notifications.h"
#include "platform/file_version.h"
#include "station/windows/clock_timer.h"
#include "station/windows/message_pump.h"
#include "station/windows/detail_form.h"
#include "station/windows/pass_form.h"
#include "station/windows/tests/pass_window_fixture.h"

namespace station {
namespace {

using testing::Ini;
using testing::DuringPass;
using testing::PassWindowTest;
using testing::Products;
using testing::StepProducts;

// Never reached: the product starts off the bus until a test plugs it.
constexpr char kStartsUnplugged[] = "plug_at_ms = 4000000000\n";

// A message box the operator keeps open while `whileOpen` runs: the
// window's messages that fall due meanwhile arrive inside it, as inside a
// real box's own loop.
class BoxOpenFor : public platform::MessageBoxSink {
 public:
  explicit BoxOpenFor(std::function<void(const std::string&)> whileOpen)
      : whileOpen_(std::move(whileOpen)), scope_(this) {}
  int Show(const std::string& text, const std::string&, uint32_t) override {
    whileOpen_(text);
    return platform::kIdOk;
  }

 private:
  std::function<void(const std::string&)> whileOpen_;
  platform::ScopedMessageBoxSink scope_;
};

class EventsTest : public PassWindowTest {
 protected:
  EventsTest() {
    platform::SetDebugSink([this](const std::string& text) {
      // One line per product the device walk finds, with its USB serial.
      if (text.rfind("slot ", 0) == 0 && text.find(walkSerial_) != std::string::npos) ++walks_;
    });
  }
  ~EventsTest() override { platform::SetDebugSink({}); }

  // Device walks that found the product with this USB serial since the last
  // call: one per rescan.
  int Rescans() {
    const int n = walks_;
    walks_ = 0;
    return n;
  }
  bool StartEnabled() const { return Button("ExecuteBtn")->isEnabled(); }
  // Whether a rescan is armed (asking disarms it).
  bool RescanArmed() const { return platform::KillTimer(form_->Handle(), TMainForm::RescanTimer); }

  platform::ScopedManualClock manual_;
  std::string walkSerial_ = "\"52100\"";  // the first ChipType 21 product of Products()
  int walks_ = 0;
};

// An arrival, then 100 ms later a removal: one rescan, 200 ms after the
// removal; START stays disabled until it has decided.
TEST_F(EventsTest, AnArrivalThenARemovalGiveOneRescan200MsAfterTheRemoval) {
  Bench(Products(21, 2) + "[product late]\nchip = 21\nserial = 5LATE\n" + kStartsUnplugged);
  Start();
  ASSERT_TRUE(StartEnabled());
  Rescans();
  bench_->FindByName("late")->Plug();
  Deliver();
  EXPECT_FALSE(StartEnabled());
  Elapse(100);
  bench_->FindByName("c21_1")->Unplug();
  Deliver();
  Elapse(199);
  EXPECT_EQ(Rescans(), 0);
  EXPECT_FALSE(StartEnabled());
  Elapse(1);
  EXPECT_EQ(Rescans(), 1);
  EXPECT_EQ(form_->DeviceCount(), 2);  // c21_0 and the late one
  EXPECT_TRUE(StartEnabled());
  Elapse(5000);
  EXPECT_EQ(Rescans(), 0);
}

// Hundreds of notices in a burst restart the delay each time: one rescan,
// 1500 ms after the last arrival.
TEST_F(EventsTest, ABurstOfNoticesGivesOneRescan) {
  Bench(Products(21, 2));
  Start();
  Rescans();
  sim::Product& product = *bench_->FindByName("c21_1");
  for (int i = 0; i < 100; ++i) {
    product.Unplug();
    product.Plug();
    if (i % 10 == 0) Elapse(50);
  }
  Deliver();
  Elapse(1499);
  EXPECT_EQ(Rescans(), 0);
  Elapse(1);
  EXPECT_EQ(Rescans(), 1);
  EXPECT_EQ(form_->DeviceCount(), 2);
  Elapse(10000);
  EXPECT_EQ(Rescans(), 0);
}

// A box of the refresh runs a loop of its own, in which the rescan timer
// still ticks. A rescan there would be overwritten by the refresh it
// interrupted once the box closes, with START decided on products that are
// gone: the rescan waits for the refresh instead, and decides anew.
TEST_F(EventsTest, ARescanDueWhileARefreshWaitsOnItsBoxComesAfterIt) {
  WriteIni(Ini("", "[QVEXECUTE]\r\nCapacity=120\r\n"));
  Bench(Products(13, 1, "disk.sectors = 245760000\n") + "[product small]\nchip = 13\nserial = 5SMALL\n" +
        "disk.sectors = 156250000\n" + kStartsUnplugged);
  walkSerial_ = "\"51300\"";
  Start();
  ASSERT_TRUE(StartEnabled());
  std::vector<int> rescansWhileOpen;
  BoxOpenFor box([&](const std::string& text) {
    EXPECT_EQ(text, "Check the Capacity check setting!!");
    EXPECT_EQ(Rescans(), 1);  // the refresh that shows the box
    // The operator takes the wrong product away before closing the box.
    bench_->FindByName("small")->Unplug();
    Deliver();
    Elapse(5000);
    rescansWhileOpen.push_back(Rescans());
  });
  Rescans();
  bench_->FindByName("small")->Plug();
  Deliver();
  Elapse(1500);
  ASSERT_EQ(rescansWhileOpen, std::vector<int>{0});
  EXPECT_FALSE(StartEnabled());
  Elapse(200);
  EXPECT_EQ(Rescans(), 1);
  EXPECT_EQ(form_->DeviceCount(), 1);
  EXPECT_TRUE(StartEnabled());
  EXPECT_EQ(rescansWhileOpen.size(), 1u);
  Elapse(5000);
  EXPECT_EQ(Rescans(), 0);
}

// The start-up's message boxes run loops of their own before the window is
// complete: products that come and go meanwhile neither rescan a window
// whose settings are not read yet nor draw rows without their status bar.
// Their notices wait for the create event and bring one rescan after it.
TEST_F(EventsTest, ProductsComingDuringTheStartUpsBoxesWaitForTheCreateEvent) {
  // No settings file: the start-up says so in a box before anything else.
  Bench(Products(21, 1) + "[product late]\nchip = 21\nserial = 5LATE\n" + kStartsUnplugged);
  std::vector<int> rescansWhileOpen;
  BoxOpenFor box([&](const std::string&) {
    bench_->FindByName("late")->Plug();
    Deliver();
    Elapse(5000);
    rescansWhileOpen.push_back(Rescans());
  });
  TMainForm& form = Start();
  EXPECT_EQ(rescansWhileOpen, std::vector<int>{0});
  EXPECT_EQ(form.DeviceCount(), 2);  // the start-up's own refresh
  EXPECT_EQ(Rescans(), 1);
  EXPECT_FALSE(StartEnabled());
  Elapse(1500);
  EXPECT_EQ(Rescans(), 1);
  EXPECT_EQ(form.DeviceCount(), 2);
  Elapse(5000);
  EXPECT_EQ(Rescans(), 0);
}

// Notices of other kinds, other events and timers of other ids do nothing.
TEST_F(EventsTest, OtherNoticesAndOtherTimersAreIgnored) {
  Bench(Products(21, 1));
  TMainForm& form = Start();
  Rescans();
  platform::DeviceBroadcast port;
  port.deviceType = platform::kDbtDevtypPort;
  port.name = "COM3";
  platform::DeviceBroadcast volume;
  volume.deviceType = platform::kDbtDevtypVolume;
  volume.unitMask = 1u << 4;
  platform::BroadcastDeviceChange(platform::kDbtDeviceArrival, &port);
  platform::BroadcastDeviceChange(platform::kDbtDevNodesChanged, nullptr);
  platform::BroadcastDeviceChange(platform::kDbtDeviceQueryRemove, &volume);
  platform::BroadcastDeviceChange(platform::kDbtDeviceRemovePending, &volume);
  ASSERT_NE(platform::SetTimer(form.Handle(), 18, 100), 0u);
  form.Dispatch(platform::WindowMessage{.message = platform::kWmTimer, .wParam = 16, .broadcast = nullptr});
  Deliver();
  EXPECT_TRUE(StartEnabled());
  Elapse(5000);
  EXPECT_EQ(Rescans(), 0);
  // The same volume as an arrival is a change.
  platform::BroadcastDeviceChange(platform::kDbtDeviceArrival, &volume);
  Deliver();
  EXPECT_FALSE(StartEnabled());
  Elapse(1500);
  EXPECT_EQ(Rescans(), 1);
}

// After the rescan, bar-code mode gives the emptied serial entry the focus
// and never presses START; otherwise START (or Refresh) takes it.
TEST_F(EventsTest, TheRescanFocusesTheSerialEntryInBarcodeMode) {
  WriteIni(Ini("EnBarcodeMode=1", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n"));
  Bench(Products(13, 2));
  walkSerial_ = "\"51300\"";
  TMainForm& form = Start();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  Button("RefreshBtn")->setFocus();
  Edit("String3Edit")->setText("HALF-SCANNED");
  Rescans();
  bench_->FindByName("c13_1")->Unplug();
  Deliver();
  Elapse(200);
  EXPECT_EQ(Rescans(), 1);
  EXPECT_EQ(QApplication::focusWidget(), Edit("String3Edit"));
  EXPECT_EQ(Edit("String3Edit")->text(), "");
  EXPECT_FALSE(StartEnabled());
}

TEST_F(EventsTest, TheRescanFocusesStartOrRefreshUnlessTheResultShows) {
  Bench(Products(21, 2));
  TMainForm& form = Start();
  TPassForm result(&form);
  form.SetPassForm(&result);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  Edit("String3Edit")->setFocus();
  bench_->FindByName("c21_1")->Unplug();
  Deliver();
  Elapse(200);
  EXPECT_EQ(QApplication::focusWidget(), Button("ExecuteBtn"));
  // A removal leaves the result window up when safe removal is on, an
  // arrival takes it down.
  Edit("String3Edit")->setFocus();
  form.Options().MPSafeRemove = 1;
  result.ShowResult();
  bench_->FindByName("c21_0")->Unplug();
  Deliver();
  EXPECT_TRUE(result.isVisible());
  Elapse(200);
  EXPECT_NE(QApplication::focusWidget(), Button("RefreshBtn"));
  bench_->FindByName("c21_0")->Plug();
  Deliver();
  EXPECT_FALSE(result.isVisible());
}

// The Type-C reminder: every 10 s while the power-control device is not
// powered; the timer stands while its box is open and starts afresh when
// the box is closed.
TEST_F(EventsTest, TheTypeCReminderComesBackTenSecondsAfterEachClose) {
  WriteIni(Ini("EnEPPTypeC=1"));
  Bench(Products(26, 1));
  Start();
  ClockTimer* timer = Find<ClockTimer>("Timer_EPP");
  struct WatchingSink : platform::MessageBoxSink {
    ClockTimer* timer = nullptr;
    std::vector<bool> runningWhileOpen;
    int Show(const std::string& text, const std::string& caption, uint32_t) override {
      EXPECT_EQ(text, "Please plus Control EPP Device !!");
      EXPECT_EQ(caption, "Error");
      runningWhileOpen.push_back(timer->Enabled());
      platform::Sleep(3000);  // the operator reads it for 3 s
      return platform::kIdOk;
    }
  } sink;
  sink.timer = timer;
  platform::ScopedMessageBoxSink watching(&sink);
  Elapse(10000);
  ASSERT_EQ(sink.runningWhileOpen, std::vector<bool>{false});
  EXPECT_TRUE(timer->Enabled());
  Elapse(9999);
  EXPECT_EQ(sink.runningWhileOpen.size(), 1u);
  Elapse(1);
  EXPECT_EQ(sink.runningWhileOpen.size(), 2u);
  // Powered, no reminder.
  form_->Pass().EppPowered = 1;
  Elapse(30000);
  EXPECT_EQ(sink.runningWhileOpen.size(), 2u);
}

// The operator closes the main window while the reminder is open: the
// window closes and gives up its disk notices; nothing else happens.
TEST_F(EventsTest, ClosingTheWindowWhileTheReminderIsOpen) {
  WriteIni(Ini("EnEPPTypeC=1"));
  Bench(Products(26, 1));
  TMainForm& form = Start();
  form.show();
  const platform::DeviceNotifyHandle registration = form.DeviceNotifyHandle;
  ASSERT_NE(registration, 0u);
  int boxes = 0;
  BoxOpenFor box([&](const std::string&) {
    ++boxes;
    EXPECT_TRUE(form.close());
  });
  Elapse(10000);
  EXPECT_EQ(boxes, 1);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.DeviceNotifyHandle, 0u);
  EXPECT_FALSE(platform::UnregisterDeviceNotification(registration));
  form_.reset();
}

TEST_F(EventsTest, NoReminderOutsideTheTypeCMode) {
  WriteIni(Ini(""));
  Bench(Products(26, 1));
  Start();
  EXPECT_FALSE(Find<ClockTimer>("Timer_EPP")->Enabled());
  Elapse(60000);
  EXPECT_TRUE(Messages().empty());
}

// The caption carries the program file's version, zeros for a file without
// one (this test program), and the customer's edition keeps its name after it.
TEST_F(EventsTest, TheCaptionCarriesTheVersionAndTheEditionAfterIt) {
  const struct {
    const char* setting;
    const char* caption;
  } cases[] = {
      {"", "Orvanta 4164x M.P. Tool v0.0.0.0"},
      {"MPPellmarCustomer=1", "Orvanta 4164x M.P. Tool v0.0.0.0 for Pellmar On-board Customers"},
  };
  for (const auto& c : cases) {
    WriteIni(Ini(c.setting));
    Start();
    EXPECT_EQ(form_->windowTitle().toStdString(), c.caption);
    EXPECT_NE(form_->DeviceNotifyHandle, 0u);
  }
}

// After a rescan, auto-run presses START by itself only when the refresh
// found every start condition met; bar-code mode never presses it.
TEST_F(EventsTest, AutoRunStartsAPassOnlyWhenTheRescanAllowsIt) {
  const struct {
    const char* what;
    const char* setting;
    bool starts;
  } cases[] = {
      {"auto-run, every condition met", "MPAutorun=1", true},
      {"auto-run, one product short", "MPAutorun=1\r\nMPDevCount=3", false},
      {"bar-code mode, every condition met", "EnBarcodeMode=1", false},
      {"neither", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteIni(QuickIni(c.setting));
    Bench(StepProducts(1) + "[product late]\nchip = 25\nspeed = super\nserial = 5LATE\n" + kStartsUnplugged);
    TMainForm& form = Start();
    std::filesystem::remove(form.DayLogPath());  // the last case's
    // Nothing starts at start-up: only the rescan after a device change.
    Elapse(5000);
    EXPECT_FALSE(std::filesystem::exists(form.DayLogPath()));
    bench_->FindByName("late")->Plug();
    Deliver();
    Elapse(1500);
    EXPECT_EQ(form.DeviceCount(), 2);
    EXPECT_FALSE(form.RunActive());
    EXPECT_EQ(std::filesystem::exists(form.DayLogPath()), c.starts);
    if (c.starts) {
      EXPECT_EQ(LogLines(), 3u);  // the header and one row per product
    }
    // The pass's own device work arms no rescan after it.
    EXPECT_FALSE(RescanArmed());
  }
}

// Products pulled or plugged while a pass runs arm no rescan: the pass owns
// the devices. Their notices still take the result window down, except a
// removal when safe removal is on.
TEST_F(EventsTest, ProductsPulledOrPluggedDuringAPassArmNoRescan) {
  for (const int safeRemove : {0, 1}) {
    SCOPED_TRACE(safeRemove);
    WriteIni(QuickIni("MPSafeRemove=" + std::to_string(safeRemove)));
    Bench(StepProducts(3));
    walkSerial_ = "\"5B0000000002\"";
    TMainForm& form = StartWithResultWindow();
    bool shownAfterRemoval = false;
    bool shownAfterArrival = true;
    bool armedDuring = true;
    DuringPass during(form, *bench_, [] { return true; }, [&] {
      passForm_->ShowResult();  // a result still up from the last pass of a loop
      bench_->product(2).Unplug();
      Deliver();
      shownAfterRemoval = passForm_->isVisible();
      bench_->product(2).Plug();
      Deliver();
      shownAfterArrival = passForm_->isVisible();
      armedDuring = RescanArmed();
    });
    Button("ExecuteBtn")->click();
    Pump();
    Rescans();  // the pass's own enumeration
    ASSERT_TRUE(during.done);
    EXPECT_EQ(shownAfterRemoval, safeRemove == 1);
    EXPECT_FALSE(shownAfterArrival);
    EXPECT_FALSE(armedDuring);
    // Safe removal at the end of the pass: its own notices arm nothing either.
    EXPECT_FALSE(RescanArmed());
    Elapse(5000);
    EXPECT_EQ(Rescans(), 0);
    EXPECT_EQ(bench_->product(2).Online(), safeRemove == 0);
  }
}

// While a pass runs the workers own the records and the devices: the letter
// found for the detail window stays the window's own, and the window asks
// the devices nothing, so the fields that need a query stay empty. After the
// pass the same double click asks and keeps the letter.
TEST_F(EventsTest, TheDetailWindowDuringAPassAsksNothingAndWritesNoRecord) {
  WriteIni(QuickIni());
  Bench(StepProducts(1, "letters = E\n"));
  TMainForm& form = Start();
  TDetailForm detail(&form);
  form.SetDetailForm(&detail);
  form.SelectedPort = 1;
  bridge::PortRecord& record = form.Pass().ports.records[0];
  const auto field = [&](const char* name) { return detail.findChild<QLineEdit*>(name)->text().toStdString(); };
  std::vector<std::string> during;
  char letterDuring = '?';
  DuringPass pass(form, *bench_, [] { return true; }, [&] {
    record.driveLetter = 0;  // the worker's: no letter yet
    form.DblClickBtnClick();
    letterDuring = record.driveLetter.load();
    during = {field("DiskLetterEdit"), field("ModNumEdit"), field("HDDFWRevEdit"), field("ChipIDEdit")};
  });
  Button("ExecuteBtn")->click();
  Pump();
  ASSERT_TRUE(pass.done);
  EXPECT_TRUE(detail.isVisible());
  EXPECT_EQ(letterDuring, 0);
  EXPECT_EQ(during, (std::vector<std::string>{"E", "", "", "QV41887"}));

  record.driveLetter = 0;
  form.DblClickBtnClick();
  EXPECT_EQ(record.driveLetter.load(), 'E');
  EXPECT_NE(field("ModNumEdit"), "");
  EXPECT_NE(field("HDDFWRevEdit"), "");
  form.SetDetailForm(nullptr);
}

// The program file itself carries the build's version block.
TEST(ProgramVersion, TheStationProgramCarriesTheBuildsVersion) {
  const char* program = KESTROVA_PROGRAM_FILE;
  const uint32_t size = platform::GetFileVersionInfoSize(program);
  ASSERT_GT(size, 0u) << program;
  std::string block(size, '\0');
  ASSERT_TRUE(platform::GetFileVersionInfo(program, size, block.data()));
  const platform::FixedFileInfo* fixed = nullptr;
  ASSERT_TRUE(platform::VerQueryValue(block.data(), "\\", &fixed, nullptr));
  const std::string version = std::to_string(fixed->fileVersionMS >> 16) + "." +
                              std::to_string(fixed->fileVersionMS & 0xFFFF) + "." +
                              std::to_string(fixed->fileVersionLS >> 16) + "." +
                              std::to_string(fixed->fileVersionLS & 0xFFFF);
  EXPECT_EQ(version, KESTROVA_VERSION_TEXT);
}

// Without HDD products string C is not offered: string B takes its place.
// The debug panel comes with the loop debug setting.
TEST_F(EventsTest, CreateEventPlacesStringBAndShowsTheDebugPanel) {
  WriteIni(Ini("", "[LoopDebug]\r\nEnLoopDebug=1\r\n"));
  Bench(Products(13, 1));
  Start();
  EXPECT_FALSE(Shown("StringCEdit"));
  EXPECT_EQ(Edit("StringBEdit")->y(), Edit("StringCEdit")->y() + 15);
  EXPECT_TRUE(Shown("DebugPanel"));
  EXPECT_TRUE(Shown("cbEraseFlash"));

  WriteIni(Ini(""));
  Bench(Products(21, 1));
  Start();
  EXPECT_TRUE(Shown("StringCEdit"));
  EXPECT_EQ(Edit("StringBEdit")->y(), Edit("StringCEdit")->y() + 24);
  EXPECT_FALSE(Shown("DebugPanel"));
}

}  // namespace
}  // namespace station
