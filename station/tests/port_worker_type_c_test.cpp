// The Type-C passes of a worker on the bench's power fixture: the CC1 test
// records the hub port, the CC2 test must see the product on another one,
// and the product must leave the bus when the fixture switches it off.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "bridge/chip_identification.h"
#include "bridge/vendor_commands.h"
#include "station/port_worker.h"
#include "station/tests/worker_bench.h"

namespace station {
namespace {

using testing::WorkerBench;
using testing::WorkerProduct;

constexpr char kDutSerial[] = "0000000000D7";

sim::BenchConfig FixtureBench(uint32_t cc2Port, bool wired) {
  sim::ProductConfig fixture = WorkerProduct("epp", 6);
  fixture.usbSerial = "6A3E41649001";
  sim::ProductConfig dut = WorkerProduct("dut", 26);
  dut.usbSerial = kDutSerial;
  sim::BenchConfig config;
  config.products = {fixture, dut};
  config.products[0].placement.port = 1;
  config.products[1].placement.port = 2;
  config.typeCFixtures.push_back({"epp", wired ? "dut" : "", cc2Port});
  return config;
}

// What the device list refresh does when it first sees the fixture: the
// GPIO set-up, then its identification word with bit 11 (CC1 power) as the
// new output word.
void PowerUp(WorkerBench& bench) {
  PassState& pass = bench.pass();
  const std::string path = bench.bench().FindByName("epp")->path();
  uint8_t word[2] = {};
  ASSERT_TRUE(bridge::ReadBridgeRegister(path.c_str(), 0x7054, word, 2));
  word[1] &= static_cast<uint8_t>(~0x18);
  ASSERT_TRUE(bridge::WriteBridgeRegister(path.c_str(), 0x7054, word, 2));
  ASSERT_TRUE(bridge::ReadBridgeId(path.c_str(), word));
  word[1] = static_cast<uint8_t>((word[1] & ~0x18) | 0x08);
  pass.EppGpioShadow = word[1];
  ASSERT_TRUE(bridge::WriteBridgeRegister(path.c_str(), 0x7058, word, 2));
  pass.EppPowered = 1;
  bridge::SetFieldText(pass.EppDevicePath, path);
}

// One Type-C pass over the product under test; its record afterwards.
bridge::PortRecord RunPass(WorkerBench& bench, int32_t passIndex) {
  EXPECT_EQ(bench.Prepare(true), 1) << "pass " << passIndex << ": one product on the bus";
  bench.pass().EppPassIndex = passIndex;
  const int slot = bench.SlotOf(*bench.bench().FindByName("dut"));
  if (slot < 0) return {};
  auto job = bench.Job(slot);
  job->settings.EnEPPTypeC = 1;
  job->settings.EPPPowerOffDelay = 300;
  SetFieldText(job->settings.String3, kDutSerial);
  bench.RunOne(std::move(job));
  return bench.record(slot);
}

struct Cc2Case {
  const char* name;
  uint32_t cc2Port;
  int32_t pass2Result;
  int32_t pass2Firmware;
  size_t boxes;
};

void PrintTo(const Cc2Case& c, std::ostream* os) { *os << c.name; }

class TypeCPasses : public ::testing::TestWithParam<Cc2Case> {};

TEST_P(TypeCPasses, TheCc2TestNeedsAnotherHubPortThanTheCc1Test) {
  const Cc2Case& c = GetParam();
  WorkerBench bench(FixtureBench(c.cc2Port, true));
  sim::Product& dut = *bench.bench().FindByName("dut");
  EXPECT_FALSE(dut.Online()) << "nothing powers the product before the fixture does";
  PowerUp(bench);
  ASSERT_TRUE(dut.Online());

  const bridge::PortRecord cc1 = RunPass(bench, 1);
  EXPECT_EQ(cc1.result, 1);
  EXPECT_EQ(bench.pass().EppCc1Port.load(), 2);
  EXPECT_EQ(bench.pass().EppGpioShadow.load() & 0x18, 0x10) << "CC2 powered after the CC1 test";
  EXPECT_EQ(dut.ResetCount(), 0);

  const bridge::PortRecord cc2 = RunPass(bench, 2);
  EXPECT_EQ(cc2.hubPort, static_cast<int32_t>(c.cc2Port));
  EXPECT_EQ(cc2.result, c.pass2Result);
  EXPECT_EQ(cc2.firmwareStatus, c.pass2Firmware);
  const auto boxes = bench.boxes().shown();
  ASSERT_EQ(boxes.size(), c.boxes);
  if (c.boxes != 0) {
    EXPECT_EQ(boxes[0], "Error: Error: CC1 port number is same as CC2");
  }
}

INSTANTIATE_TEST_SUITE_P(Wiring, TypeCPasses,
                         ::testing::Values(Cc2Case{"Cc2OnItsOwnPort", 4, 1, bridge::kStepOff, 0},
                                           Cc2Case{"BothLinesOnOnePort", 2, -1, bridge::kStepFail,
                                                   1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TypeCFixture, ACc2PortThatIsTakenOrMissingIsRefused) {
  sim::BenchConfig taken = FixtureBench(1, true);  // the fixture's own port
  EXPECT_THROW(sim::Bench{taken}, std::invalid_argument);
  sim::BenchConfig missing = FixtureBench(99, true);
  EXPECT_THROW(sim::Bench{missing}, std::invalid_argument);
  sim::BenchConfig unknown = FixtureBench(4, true);
  unknown.typeCFixtures[0].powered = "nobody";
  EXPECT_THROW(sim::Bench{unknown}, std::invalid_argument);
}

TEST(TypeCPowerOff, AProductThatStillAnswersFailsItsPass) {
  // The fixture's outputs reach nothing: switching them off leaves the product on.
  WorkerBench bench(FixtureBench(4, false));
  PowerUp(bench);
  const bridge::PortRecord cc0 = RunPass(bench, 0);
  EXPECT_EQ(cc0.result, -1);
  EXPECT_EQ(cc0.finalResult, -1);
}

TEST(TypeCPowerOff, PassZeroEndsWithTheProductOnCc1Again) {
  WorkerBench bench(FixtureBench(4, true));
  PowerUp(bench);
  const bridge::PortRecord cc0 = RunPass(bench, 0);
  EXPECT_EQ(cc0.result, 1);
  EXPECT_EQ(bench.pass().EppGpioShadow.load() & 0x18, 0x08);
  EXPECT_TRUE(bench.bench().FindByName("dut")->Online());
  EXPECT_TRUE(bench.bench().FindByName("dut")->ShowsOn(2));
}

}  // namespace
}  // namespace station
