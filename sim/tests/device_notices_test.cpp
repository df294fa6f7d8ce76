// What a window registered for disk interfaces hears from the bench: the
// system's bursts of notices when a product is plugged or pulled, leaves
// for its reset and comes back, is powered through the Type-C fixture, and
// when a bench file plugs and pulls products at set times. The clock is
// manual: the time a test sees is the time it slept.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/device_io.h"
#include "sim/bench.h"
#include "sim/tests/notice_window.h"

namespace {

using sim::testing::NoticeWindow;
using Notices = std::vector<std::string>;

// One command to the product, so that a fixture watching it sees its
// registers; FF 04 26 "QV" resets the bridge.
bool SendCommand(const std::string& path, std::initializer_list<uint8_t> cdb, uint32_t length = 36) {
  platform::ScopedDevice device(path.c_str(), platform::kAccessRead | platform::kAccessWrite, 3);
  if (device.get() == platform::kInvalidHandle) return false;
  uint8_t data[36] = {};
  platform::ScsiPassThroughDirect r{};
  r.Length = platform::kScsiPassThroughDirectLength;
  r.CdbLength = 12;
  r.DataIn = platform::kScsiDataIn;
  r.TimeOutValue = 10;
  r.DataTransferLength = length;
  r.DataBuffer = length ? data : nullptr;
  std::copy(cdb.begin(), cdb.end(), r.Cdb);
  uint32_t returned = 0;
  return platform::DeviceIoControl(device.get(), platform::kIoctlScsiPassThroughDirect, &r, sizeof r, &r, sizeof r,
                                   &returned);
}
constexpr std::initializer_list<uint8_t> kInquiry = {0x12, 0, 0, 0, 36};
constexpr std::initializer_list<uint8_t> kReset = {0xFF, 0x04, 0x26, 0x51, 0x56};

Notices Arrival(const std::string& path, const std::string& letters) {
  Notices n = {"tree", "tree", "+disk " + path};
  if (!letters.empty()) n.push_back("tree");
  for (char l : letters) n.push_back(std::string("+volume ") + l);
  return n;
}
Notices Departure(const std::string& path, const std::string& letters) {
  Notices n;
  for (char l : letters) n.push_back(std::string("-volume ") + l);
  if (!letters.empty()) n.push_back("tree");
  n.insert(n.end(), {"-disk " + path, "tree", "tree"});
  return n;
}

class BenchNotices : public ::testing::Test {
 protected:
  void Make(const std::string& text) {
    std::string error;
    installed_.reset();
    bench_ = sim::Bench::FromText(text, &error);
    ASSERT_TRUE(bench_) << error;
    installed_ = std::make_unique<platform::ScopedBackend>(bench_);
  }
  sim::Product& Named(const char* name) { return *bench_->FindByName(name); }

  platform::ScopedManualClock clock_;
  std::shared_ptr<sim::Bench> bench_;
  std::unique_ptr<platform::ScopedBackend> installed_;
};

TEST_F(BenchNotices, PullingAndPluggingSendTheirBurstsOnce) {
  Make("[product a]\nletters = EF\n[product b]\nletters = -\n[device mouse]\n");
  NoticeWindow window;
  sim::Product& a = Named("a");
  sim::Product& b = Named("b");
  a.Unplug();
  EXPECT_EQ(window.Take(), Departure(a.path(), "EF"));
  a.Unplug();
  EXPECT_EQ(window.Take(), Notices{});
  a.Plug();
  EXPECT_EQ(window.Take(), Arrival(a.path(), "EF"));
  b.Unplug();
  b.Plug();
  Notices both = Departure(b.path(), "");
  const Notices back = Arrival(b.path(), "");
  both.insert(both.end(), back.begin(), back.end());
  EXPECT_EQ(window.Take(), both);
  // A mouse announces only its USB device, which this window did not ask for.
  bench_->FindDevice("mouse")->Unplug();
  EXPECT_EQ(window.Take(), Notices{"tree"});
}

// A reset: the product leaves at once and arrives again, under its new path,
// when its reset delay has passed, not before.
TEST_F(BenchNotices, AResetLeavesAtOnceAndReturnsWhenItsDelayEnds) {
  Make("[product a]\nletters = E\nreset_delay_ms = 2000\nreset_new_path = 1\n");
  NoticeWindow window;
  sim::Product& a = Named("a");
  const std::string before = a.path();
  ASSERT_TRUE(SendCommand(before, kReset, 0));
  EXPECT_EQ(window.Take(), Departure(before, "E"));
  const uint64_t back = a.OnlineAgainAt();
  EXPECT_EQ(window.window().NextDueIn(), static_cast<int64_t>(back - platform::GetTickCount64()));
  platform::Sleep(static_cast<uint32_t>(back - platform::GetTickCount64() - 1));
  EXPECT_EQ(window.Take(), Notices{});
  platform::Sleep(1);
  ASSERT_NE(a.path(), before);
  EXPECT_EQ(window.Take(), Arrival(a.path(), "E"));
}

// A product pulled while inside its reset window never announces a return.
TEST_F(BenchNotices, APulledProductDoesNotReturnFromItsReset) {
  Make("[product a]\nletters = E\nreset_delay_ms = 2000\n");
  NoticeWindow window;
  sim::Product& a = Named("a");
  ASSERT_TRUE(SendCommand(a.path(), kReset, 0));
  EXPECT_EQ(window.Take(), Departure(a.path(), "E"));
  a.Unplug();
  platform::Sleep(3000);
  EXPECT_EQ(window.Take(), Notices{});
  EXPECT_EQ(window.window().NextDueIn(), -1);
}

// The fixture's register powers the product through CC1, moves it to CC2
// (it leaves one port and arrives on the other) and takes it off the bus.
TEST_F(BenchNotices, TypeCPowerSwitchingBringsAndTakesTheProduct) {
  sim::ProductConfig fixture;
  fixture.name = "epp";
  fixture.chipType = 6;
  fixture.usbSerial = "6A3E41649001";
  fixture.volume.letters = "-";
  fixture.volume.autoLetter = false;
  fixture.placement.port = 1;
  sim::ProductConfig dut;
  dut.name = "dut";
  dut.chipType = 26;
  dut.usbSerial = "0000000000D7";
  dut.volume.letters = "E";
  dut.volume.autoLetter = false;
  dut.placement.port = 2;
  sim::BenchConfig config;
  config.products = {fixture, dut};
  config.typeCFixtures.push_back({"epp", "dut", 3});
  installed_.reset();
  bench_ = std::make_shared<sim::Bench>(config);
  installed_ = std::make_unique<platform::ScopedBackend>(bench_);
  NoticeWindow window;
  sim::Product& epp = Named("epp");
  sim::Product& product = Named("dut");
  const auto power = [&](uint8_t bits) {
    epp.WithBridge([bits](sim::EmulatedBridge& b) {
      b.registers()[0x7059] = bits;
      return 0;
    });
    return SendCommand(epp.path(), kInquiry);
  };
  ASSERT_TRUE(power(0x08));
  EXPECT_EQ(window.Take(), Arrival(product.path(), "E"));
  ASSERT_TRUE(power(0x10));
  Notices moved = Departure(product.path(), "E");
  const Notices there = Arrival(product.path(), "E");
  moved.insert(moved.end(), there.begin(), there.end());
  EXPECT_EQ(window.Take(), moved);
  ASSERT_TRUE(power(0x10));
  EXPECT_EQ(window.Take(), Notices{});
  ASSERT_TRUE(power(0x00));
  EXPECT_EQ(window.Take(), Departure(product.path(), "E"));
}

// A bench file plugs one product in and pulls another out at set times
// after the bench was made; a product whose first event is a plug starts
// off the bus.
TEST_F(BenchNotices, ABenchFilePlugsAndPullsAtItsTimes) {
  Make("[product late]\nletters = E\nplug_at_ms = 5000\npull_at_ms = 9000\n"
       "[product early]\nletters = F\npull_at_ms = 3000\n");
  NoticeWindow window;
  sim::Product& late = Named("late");
  sim::Product& early = Named("early");
  EXPECT_FALSE(late.Online());
  EXPECT_TRUE(early.Online());
  platform::Sleep(2999);
  EXPECT_EQ(window.Take(), Notices{});
  platform::Sleep(1);
  EXPECT_EQ(window.Take(), Departure(early.path(), "F"));
  EXPECT_FALSE(early.Online());
  platform::Sleep(2000);
  EXPECT_EQ(window.Take(), Arrival(late.path(), "E"));
  EXPECT_TRUE(late.Online());
  platform::Sleep(4000);
  EXPECT_EQ(window.Take(), Departure(late.path(), "E"));
  EXPECT_EQ(window.window().NextDueIn(), -1);
}

TEST_F(BenchNotices, ABenchFileWithABadTimeIsRefused) {
  std::string error;
  EXPECT_EQ(sim::Bench::FromText("[product a]\nplug_at_ms = soon\n", &error), nullptr);
  EXPECT_NE(error.find("plug_at_ms"), std::string::npos) << error;
}

}  // namespace
