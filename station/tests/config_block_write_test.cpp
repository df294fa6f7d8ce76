// The configuration block write with its read-back on a bench bridge: the
// tries, the answer of a failing write, and a read-back that fails or
// differs.
#include "station/config_block_write.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "bridge/tests/bench_fixture.h"

namespace station {
namespace {

using bridge::testing::Always;
using bridge::testing::MakeFault;

const std::vector<uint8_t> kWrite = {0xDF, 0x00};
const std::vector<uint8_t> kRead = {0xDF, 0x10};

class WriteAndVerifyBlockTest : public bridge::testing::BenchTest {
 protected:
  WriteAndVerifyBlockTest() {
    for (size_t i = 0; i < block_.size(); ++i) block_[i] = static_cast<uint8_t>(0x80 ^ (i * 5));
  }
  std::vector<uint8_t> Memory() {
    return product().WithBridge([](sim::EmulatedBridge& b) {
      return std::vector<uint8_t>(b.configMemory().begin(), b.configMemory().begin() + 128);
    });
  }
  int Writes() {
    int writes = 0;
    for (const sim::TraceEntry& e : Trace()) writes += e.cdb[0] == 0xDF && e.cdb[1] == 0x00;
    return writes;
  }
  std::array<uint8_t, 128> block_;
};

TEST_F(WriteAndVerifyBlockTest, WritesTheBlockAtTheStartAndReadsItBack) {
  EXPECT_EQ(WriteAndVerifyBlock(path(), block_, 3), 1);
  EXPECT_EQ(Memory(), std::vector<uint8_t>(block_.begin(), block_.end()));
  EXPECT_EQ(Writes(), 1);
}

TEST_F(WriteAndVerifyBlockTest, TriesUntilAWriteAnswersAndBelowOneTriesOnce) {
  struct Case {
    int32_t tries;
    int failingWrites;  // -1: every write fails
    int result, writes;
  } const cases[] = {
      {3, 2, 1, 3}, {3, -1, 0, 3}, {1, -1, 0, 1}, {0, -1, 0, 1}, {-5, -1, 0, 1}, {0, 0, 1, 1},
  };
  for (const Case& c : cases) {
    product().ClearFaults();
    sim::Fault fault = MakeFault(sim::Fault::Kind::CheckCondition, kWrite);
    fault.count = c.failingWrites;
    if (c.failingWrites) product().AddFault(fault);
    Trace();
    EXPECT_EQ(WriteAndVerifyBlock(path(), block_, c.tries), c.result) << c.tries << " " << c.failingWrites;
    EXPECT_EQ(Writes(), c.writes) << c.tries << " " << c.failingWrites;
  }
}

TEST_F(WriteAndVerifyBlockTest, AReadBackThatFailsOrDiffersFails) {
  sim::Fault corrupt = Always(MakeFault(sim::Fault::Kind::CorruptData, kRead));
  corrupt.offset = 127;
  corrupt.xorMask = 0x40;
  product().AddFault(corrupt);
  EXPECT_EQ(WriteAndVerifyBlock(path(), block_, 1), 0);
  product().ClearFaults();
  product().AddFault(Always(sim::Fault::Kind::CheckCondition, kRead));
  EXPECT_EQ(WriteAndVerifyBlock(path(), block_, 1), 0);
  EXPECT_EQ(Memory(), std::vector<uint8_t>(block_.begin(), block_.end())) << "the write itself went through";
}

}  // namespace
}  // namespace station
