// Seventeen bridges in front of the second program: each refresh tells the
// operator once that the station holds sixteen.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>

#include <string>

#include "sdkstation/windows/tests/sdk_window_fixture.h"

namespace sdkstation {
namespace {

using station::testing::Ini;

constexpr char kPortIndexExceeded[] = "Error: Port index exceeds maximum value 16.";

class SdkOverfullListWindow : public testing::SdkWindowTest {
 public:
  std::string FirmwareUpdateOn() {
    WriteFile("fw.bin", std::string(0xC400, '\0'));
    return Ini("", "[QVEXECUTE]\r\nEnFWUpdate=1\r\nFwFileName=" + Path("fw.bin") + "\r\n");
  }
  int Shown(const char* text) const {
    int n = 0;
    for (const std::string& message : Messages()) n += message == text ? 1 : 0;
    return n;
  }
};

std::string Bridges(int count) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += "[product p" + std::to_string(i) + "]\nchip = 25\nserial = SN" + std::to_string(100 + i) + "\n";
  return text;
}

// With the firmware update on, a refresh also asks whether the file suits
// the chips, and each of those questions lists the devices again.

TEST_F(SdkOverfullListWindow, EachRefreshShowsThePortLimitOnce) {
  Bench(Bridges(17));
  WriteIni(FirmwareUpdateOn());
  TMainForm& form = Start();
  EXPECT_EQ(form.DeviceCount(), 16);
  EXPECT_EQ(Shown(kPortIndexExceeded), 1) << "the start-up refresh";
  QTest::mouseClick(Button("RefreshBtn"), Qt::LeftButton);
  Pump();
  EXPECT_EQ(Shown(kPortIndexExceeded), 2);
  EXPECT_EQ(form.DeviceCount(), 16);
}

TEST_F(SdkOverfullListWindow, SixteenBridgesShowNothing) {
  Bench(Bridges(16));
  WriteIni(FirmwareUpdateOn());
  TMainForm& form = Start();
  QTest::mouseClick(Button("RefreshBtn"), Qt::LeftButton);
  Pump();
  EXPECT_EQ(form.DeviceCount(), 16);
  EXPECT_EQ(Shown(kPortIndexExceeded), 0);
}

}  // namespace
}  // namespace sdkstation
