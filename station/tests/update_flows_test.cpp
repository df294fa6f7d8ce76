// The chip flows on one bench product: what reaches the flash and the wire.
#include "station/update_flows.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bridge/df_flash_programming.h"
#include "bridge/firmware_update.h"
#include "bridge/tests/bench_fixture.h"
#include "bridge/vendor_commands.h"
#include "disk/tests/tool_check.h"
#include "platform/byte_order.h"
#include "sim/bench.h"
#include "station/tests/worker_bench.h"

namespace station {
namespace {

using testing::Pattern;

using bridge::testing::Always;
using bridge::testing::MakeFault;

sim::ProductConfig Product(uint8_t chipType) {
  sim::ProductConfig config = bridge::testing::TestProduct("flow" + std::to_string(chipType));
  config.chipType = chipType;
  return config;
}

class FlowBench {
 public:
  explicit FlowBench(sim::ProductConfig config)
      : bench_(std::make_shared<sim::Bench>(std::vector<sim::ProductConfig>{std::move(config)})),
        installed_(bench_),
        path_(bench_->product(0).path()) {
    product().EnableTrace(true);
  }
  sim::Product& product() { return bench_->product(0); }
  const char* path() const { return path_.c_str(); }
  std::vector<uint8_t> Flash(uint32_t from, uint32_t length) {
    return product().WithBridge([&](sim::EmulatedBridge& b) {
      const auto& memory = b.flash().memory();
      return std::vector<uint8_t>(memory.begin() + from, memory.begin() + from + length);
    });
  }
  std::vector<sim::TraceEntry> Trace() { return product().TakeTrace(); }

 private:
  std::shared_ptr<sim::Bench> bench_;
  platform::ScopedBackend installed_;
  platform::ScopedClockScale fast_{2000.0};
  std::string path_;
};

struct FlashWrite {
  uint32_t address;
  uint32_t length;
};

// The DF flash writes (erase type 1) of a trace.
std::vector<FlashWrite> SectorWrites(const std::vector<sim::TraceEntry>& trace) {
  std::vector<FlashWrite> writes;
  for (const sim::TraceEntry& e : trace) {
    if (e.cdb.size() == 12 && e.cdb[0] == 0xDF && e.cdb[1] == 0x01 && e.cdb[11] == 0xFB) {
      writes.push_back({static_cast<uint32_t>(e.cdb[8] << 16 | e.cdb[9] << 8 | e.cdb[10]),
                        static_cast<uint32_t>(e.cdb[3] << 8 | e.cdb[4])});
    }
  }
  return writes;
}

int Count(const std::vector<sim::TraceEntry>& trace, std::initializer_list<uint8_t> prefix) {
  int n = 0;
  for (const sim::TraceEntry& e : trace) {
    n += e.cdb.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), e.cdb.begin());
  }
  return n;
}

// ---- ChipType 26, large image: the second bank.

struct SecondBankCase {
  const char* name;
  uint8_t spiFlashType;
  uint32_t chunk;  // expected write size
};

void PrintTo(const SecondBankCase& c, std::ostream* os) { *os << c.name; }

class Qvs884SecondBank : public ::testing::TestWithParam<SecondBankCase> {};

TEST_P(Qvs884SecondBank, WritesItsSixteenKilobytesInChunksThatStayInside) {
  const SecondBankCase& c = GetParam();
  FlowBench bench(Product(26));
  const std::vector<uint8_t> file = Pattern(bridge::kQvs884LargeImageSize, 26);
  ConfigImage config;
  SettingsBlock settings = ZeroedSettingsBlock();
  settings.StandbyTimer = -1;
  const StationOptions options;
  const UpdateTarget target{
      bench.path(), 26, true, false, {file.data(), static_cast<uint32_t>(file.size())}};
  ASSERT_EQ(UpdateQvs884(target, config, settings, options, 2, c.spiFlashType, false), 1);

  const auto writes = SectorWrites(bench.Trace());
  uint32_t next = 0x10000;
  for (const FlashWrite& w : writes) {
    if (w.address < 0x10000) continue;
    EXPECT_EQ(w.address, next);
    EXPECT_EQ(w.length, std::min<uint32_t>(c.chunk, 0x14000 - next));
    next += w.length;
  }
  EXPECT_EQ(next, 0x14000u) << "the bank ends where its 16 KB end";
  const auto bank = bench.Flash(0x10000, 0x4000);
  EXPECT_TRUE(std::equal(bank.begin(), bank.end(), file.begin() + 0xC600));
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, Qvs884SecondBank,
                         ::testing::Values(SecondBankCase{"FourKilobyteSectors", 0, 0x1000},
                                           SecondBankCase{"ThirtyTwoKilobyteSectors", 5, 0x4000},
                                           SecondBankCase{"UnknownFlash", 255, 0x1000}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- ChipType 26, large image: the bridge must report ready first.

class Qvs884Ready : public ::testing::Test {
 protected:
  int Update() {
    const UpdateTarget target{
        bench_.path(), 26, true, false, {file_.data(), static_cast<uint32_t>(file_.size())}};
    ConfigImage config;
    SettingsBlock settings = ZeroedSettingsBlock();
    return UpdateQvs884(target, config, settings, StationOptions{}, 2, 0, false);
  }
  FlowBench bench_{Product(26)};
  std::vector<uint8_t> file_ = Pattern(bridge::kQvs884LargeImageSize, 884);
};

TEST_F(Qvs884Ready, FiftyAnswersOtherThanReadyFailTheStep) {
  sim::Fault notReady = Always(sim::Fault::Kind::CorruptData, {0xFF, 0x04, 0xC8, 0x03});
  notReady.offset = 0;
  notReady.xorMask = 0x06;  // 1 reads as 7, 0 as 6: never 1
  bench_.product().AddFault(notReady);
  EXPECT_EQ(Update(), 0);
  const auto trace = bench_.Trace();
  EXPECT_EQ(Count(trace, {0xFF, 0x04, 0xC8, 0x03}), 50);
  EXPECT_EQ(Count(trace, {0x3B}), 0) << "nothing is downloaded to a bridge that is not ready";
}

TEST_F(Qvs884Ready, AFailingStatusQueryFailsAtOnce) {
  bench_.product().AddFault(MakeFault(sim::Fault::Kind::CheckCondition, {0xFF, 0x04, 0xC8, 0x03}));
  EXPECT_EQ(Update(), 0);
  EXPECT_EQ(Count(bench_.Trace(), {0xFF, 0x04, 0xC8, 0x03}), 1);
}

// ---- ChipTypes 21-24.

class Qvs87xFlow : public ::testing::Test {
 protected:
  Qvs87xFlow() {
    settings_.StandbyTimer = 10;
    hooks_.relink = [this] {
      (void)bridge::ResetBridge(bench_.path());
      platform::Sleep(3000);
      return bench_.product().Online();
    };
  }
  FlowResult Update(bool fw, bool cfg, bool clone) {
    const UpdateTarget target{
        bench_.path(), 21, fw, cfg, {file_.data(), static_cast<uint32_t>(file_.size())}};
    copy_ = file_;
    return UpdateQvs87x(target, copy_, settings_, clone, hooks_, standby_);
  }
  FlowBench bench_{Product(21)};
  std::vector<uint8_t> file_ = Pattern(kWorkingCopySize, 871);
  std::vector<uint8_t> copy_;
  SettingsBlock settings_ = ZeroedSettingsBlock();
  Qvs87xHooks hooks_;
  StandbyQuery standby_;
};

// The CLONE firmware-only update asks the product for its standby state
// before it erases it; only an answered query is written back afterwards.
class Qvs87xStandby : public Qvs87xFlow, public ::testing::WithParamInterface<bool> {};

TEST_P(Qvs87xStandby, CountsAsQueriedOnlyWhenTheQueryAnswered) {
  const bool answers = GetParam();
  // A product whose flash holds its firmware: the erase sends it to its boot ROM.
  ASSERT_EQ(Update(true, false, false), FlowResult::Done);
  if (!answers) bench_.product().AddFault(MakeFault(sim::Fault::Kind::CheckCondition, {0x5A}));
  ASSERT_EQ(Update(true, false, true), FlowResult::Done);
  EXPECT_EQ(standby_.queried, answers);
  (void)bench_.Trace();
  EXPECT_EQ(RestoreStandby(bench_.path(), false, false, 0, standby_), 1);
  EXPECT_EQ(Count(bench_.Trace(), {0x55}), answers ? 1 : 0)
      << "a state nobody read is not written back";
}

INSTANTIATE_TEST_SUITE_P(Query, Qvs87xStandby, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Answered" : "Refused"; });

TEST_F(Qvs87xFlow, TheIdentityRecordHoldsAtMostTwentySerialBytes) {
  SetFixedText(settings_.SerialText, "ABCDEFGHIJKLMNOPQRST");  // as the device reports it
  settings_.SerialLength = 70;  // claims more than the field holds
  settings_.VidValue = 0x6A3E;
  settings_.PidValue = 0x4649;
  ASSERT_EQ(Update(true, true, false), FlowResult::Done);
  int records = 0;
  for (const sim::TraceEntry& e : bench_.Trace()) {
    if (e.cdb.empty() || e.cdb[0] != 0xC3) continue;
    ++records;
    ASSERT_EQ(e.dataOut.size(), bridge::kIdentityRecordSize);
    EXPECT_EQ(std::string(e.dataOut.begin() + 52, e.dataOut.end()), "ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(e.cdb[4] << 8 | e.cdb[5], 0x6A3E);
    EXPECT_EQ(e.cdb[6] << 8 | e.cdb[7], 0x4649);
  }
  EXPECT_EQ(records, 1);
}

}  // namespace
}  // namespace station
