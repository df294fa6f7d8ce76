// The register and IDENTIFY probes against bench bridges: the bit each one
// reads, and what a failing command gives.
#include "station/bridge_probes.h"

#include <gtest/gtest.h>

#include <vector>

#include "bridge/tests/bench_fixture.h"

namespace station {
namespace {

using bridge::testing::Always;
using bridge::testing::BenchTest;
using bridge::testing::TestProduct;

class ProbeTest : public BenchTest {
 protected:
  ProbeTest() : BenchTest(Products()) {}
  static std::vector<sim::ProductConfig> Products() {
    sim::ProductConfig product = TestProduct("probe");
    product.chipType = 17;
    product.disk.sectorSize = 4096;
    product.disk.sectors = 4096;
    return {product};
  }
  void SetRegister(uint16_t address, uint8_t value) {
    product().WithBridge([&](sim::EmulatedBridge& b) { return b.registers()[address] = value; });
  }
};

TEST_F(ProbeTest, RegisterProbesReadTheirBit) {
  struct Case {
    uint16_t address;
    uint8_t value;
    int (*probe)(const char*);
    int result;
  } const cases[] = {
      {kUsbModeRegister, 0x04, IsUsb3Enabled, 1},       {kUsbModeRegister, 0xFB, IsUsb3Enabled, 0},
      {kRegister70C8, 0x08, IsRegister70C8Bit3Set, 1},  {kRegister70C8, 0xF7, IsRegister70C8Bit3Set, 0},
  };
  for (const Case& c : cases) {
    SetRegister(c.address, c.value);
    EXPECT_EQ(c.probe(path()), c.result) << std::hex << c.address << " = " << int{c.value};
  }
}

TEST_F(ProbeTest, ModeByteTakesTheLowThreeBitsOf703B) {
  const uint8_t cases[][2] = {{0x00, 0x89}, {0x01, 0x99}, {0x07, 0xF9}, {0xF8, 0x89}, {0xFD, 0xD9}};
  for (const auto& c : cases) {
    SetRegister(kModeRegister703B, c[0]);
    EXPECT_EQ(ReadRegister703BMode(path()), c[1]) << int{c[0]};
  }
}

TEST_F(ProbeTest, AFailedRegisterReadAnswersZero) {
  SetRegister(kUsbModeRegister, 0xFF);
  SetRegister(kRegister70C8, 0xFF);
  SetRegister(kModeRegister703B, 0x07);
  product().AddFault(Always(sim::Fault::Kind::CheckCondition, {}));
  EXPECT_EQ(IsUsb3Enabled(path()), 0);
  EXPECT_EQ(IsRegister70C8Bit3Set(path()), 0);
  EXPECT_EQ(ReadRegister703BMode(path()), 0);
}

TEST_F(ProbeTest, IdentifyBitFollowsTheDrivesLogicalSectorSize) {
  EXPECT_EQ(IsIdentifyBitSet(path(), 0), 1);  // 4096-byte sectors: word 106 bit 12
  EXPECT_EQ(IsIdentifyBitSet(path(), 1), 0);  // no drive on port 1
  Trace();
  EXPECT_EQ(IsIdentifyBitSet(path(), 2), 0);
  EXPECT_EQ(IsIdentifyBitSet(path(), -1), 0);
  EXPECT_TRUE(Trace().empty());
  product().AddFault(Always(sim::Fault::Kind::CheckCondition, {}));
  EXPECT_EQ(IsIdentifyBitSet(path(), 0), 0);
}

TEST(IdentifyBit, ClearForA512ByteSectorDrive) {
  sim::ProductConfig config = TestProduct("plain");
  config.chipType = 8;
  bridge::testing::OneProduct one(config);
  EXPECT_EQ(IsIdentifyBitSet(one.path(), 0), 0);
}

}  // namespace
}  // namespace station
