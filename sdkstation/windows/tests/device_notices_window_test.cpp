// Device notices in the second program's window on the bench, on the
// station's manual clock: START disabled from the first notice until the
// rescan, one rescan for a burst, and the automatic start after a plug-in
// only when the listing found every start condition met.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include <filesystem>
#include <string>

#include "platform/clock.h"
#include "sdkstation/windows/tests/sdk_window_fixture.h"

namespace sdkstation {
namespace {

using station::testing::Ini;

constexpr char kStartsUnplugged[] = "plug_at_ms = 4000000000\n";
constexpr char kLate[] = "[product late]\nchip = 29\nserial = 5LATE\n";

class SdkNoticesWindow : public testing::SdkWindowTest {
 protected:
  bool StartEnabled() const { return Button("ExecuteBtn")->isEnabled(); }
  int Listings(testing::DebugLines& debug) const {
    int n = 0;
    for (const std::string& line : debug.Take("RD Debug: EnumUSBDevice enter")) n += !line.empty();
    return n;
  }

  platform::ScopedManualClock manual_;
};

TEST_F(SdkNoticesWindow, StartIsDisabledFromTheNoticeUntilTheRescanAndABurstRescansOnce) {
  Bench(testing::Products(29, 1) + kLate + kStartsUnplugged);
  WriteIni(Ini(""));
  TMainForm& form = Start();
  ASSERT_EQ(form.DeviceCount(), 1);
  ASSERT_TRUE(StartEnabled());
  testing::DebugLines debug;
  bench_->FindByName("late")->Plug();
  Deliver();
  EXPECT_FALSE(StartEnabled());
  Elapse(1000);
  // A pull and a plug again restart the delay: still one rescan.
  bench_->FindByName("late")->Unplug();
  Deliver();
  bench_->FindByName("late")->Plug();
  Deliver();
  Elapse(1000);
  EXPECT_FALSE(StartEnabled());
  EXPECT_EQ(Listings(debug), 0);
  Elapse(500);
  EXPECT_EQ(Listings(debug), 1);
  EXPECT_EQ(form.DeviceCount(), 2);
  EXPECT_TRUE(StartEnabled());
  Elapse(5000);
  EXPECT_EQ(Listings(debug), 0);
}

TEST_F(SdkNoticesWindow, AutoRunAfterAPlugInOnlyWhenTheListingAllowsIt) {
  const struct {
    const char* what;
    const char* setting;
    bool starts;
  } cases[] = {
      {"auto-run", "MPAutorun=1", true},
      {"bar-code mode", "EnBarcodeMode=1", false},
      {"neither", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bench(testing::Products(29, 1) + kLate + kStartsUnplugged);
    WriteIni(Ini(c.setting, "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n"));
    TMainForm& form = Start();
    FillIdentity("00A0");
    std::filesystem::remove(form.DayLogPath());  // the last case's
    const int32_t tested = form.Settings().TotalTestCount;
    Elapse(5000);
    EXPECT_FALSE(std::filesystem::exists(form.DayLogPath()));
    bench_->FindByName("late")->Plug();
    Deliver();
    Elapse(1500);
    EXPECT_EQ(form.DeviceCount(), 2);
    EXPECT_FALSE(form.RunActive());
    EXPECT_EQ(std::filesystem::exists(form.DayLogPath()), c.starts);
    EXPECT_EQ(form.Settings().TotalTestCount - tested, c.starts ? 2 : 0);
    Close();
  }
}

}  // namespace
}  // namespace sdkstation
