#include "bridge/standby_timer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "bridge/tests/bench_fixture.h"

namespace bridge {
namespace {

// A textbook CRC (width 16, polynomial 0x100B, initial 0xFFFF, input
// reflected, output not reflected, no final XOR), written the other way
// round: a left-shifting register fed with each byte mirrored.
uint16_t ReferenceCrc16(const uint8_t* data, size_t length) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < length; ++i) {
    uint8_t mirrored = 0;
    for (int bit = 0; bit < 8; ++bit) mirrored |= static_cast<uint8_t>(((data[i] >> bit) & 1) << (7 - bit));
    crc ^= static_cast<uint16_t>(mirrored << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x100B) : static_cast<uint16_t>(crc << 1);
  }
  return crc;
}

TEST(StandbyCrc16, WorkedValueAndReference) {
  const auto* abc = reinterpret_cast<const uint8_t*>("abc");
  EXPECT_EQ(StandbyCrc16(abc, 3), 0x3BD6);
  EXPECT_EQ(ReferenceCrc16(abc, 3), 0x3BD6);
  EXPECT_EQ(StandbyCrc16(abc, 0), 0);
  const auto* text = reinterpret_cast<const uint8_t*>("IUP0 standby packet body 0123456789");
  for (size_t n = 1; n <= 35; ++n) EXPECT_EQ(StandbyCrc16(text, n), ReferenceCrc16(text, n)) << n;
}

uint32_t TimeOf(const uint8_t* packet) {
  return uint32_t{packet[20]} << 24 | uint32_t{packet[21]} << 16 | uint32_t{packet[22]} << 8 | packet[23];
}

TEST(BuildStandbyPacket, Layout) {
  uint8_t packet[kStandbyPacketSize];
  std::memset(packet, 0xA5, sizeof packet);
  BuildStandbyPacket(packet, 10, true);
  EXPECT_EQ(std::memcmp(packet, "IUP0", 4), 0);
  EXPECT_EQ(packet[4], 0xA5);  // the caller's bytes stay
  EXPECT_EQ(packet[7], 0x0C);
  EXPECT_EQ(packet[16], 1);
  const uint8_t time[4] = {0x00, 0x00, 0x17, 0x70};
  EXPECT_EQ(std::memcmp(packet + 20, time, 4), 0);
  const uint16_t body = ReferenceCrc16(packet + 12, 12);
  EXPECT_EQ(packet[8], body & 0xFF);
  EXPECT_EQ(packet[9], body >> 8);
  const uint16_t head = ReferenceCrc16(packet, 10);
  EXPECT_EQ(packet[10], head & 0xFF);
  EXPECT_EQ(packet[11], head >> 8);
}

struct PacketCase {
  int64_t minutes;
  bool enabled;
  uint8_t enable;
  uint32_t time;
};

TEST(BuildStandbyPacket, EnableAndTime) {
  const PacketCase cases[] = {
      {0, true, 0, 600},    {10, true, 1, 6000},  {10, false, 0, 6000},
      {-3, true, 0, 600},   {0, false, 0, 600},
      {int64_t{1} << 40, true, 1, kMaxStandbyMinutes * 600},  // clamped, never wrapped
      {7158279, true, 1, kMaxStandbyMinutes * 600},
  };
  for (const PacketCase& c : cases) {
    uint8_t packet[kStandbyPacketSize] = {};
    BuildStandbyPacket(packet, c.minutes, c.enabled);
    EXPECT_EQ(packet[16], c.enable) << c.minutes;
    EXPECT_EQ(TimeOf(packet), c.time) << c.minutes;
  }
}

TEST(BuildStandbyPacket, CrcCoverage) {
  uint8_t base[kStandbyPacketSize] = {};
  BuildStandbyPacket(base, 5, true);
  uint8_t changed12[kStandbyPacketSize] = {};
  changed12[12] = 1;
  BuildStandbyPacket(changed12, 5, true);
  EXPECT_NE(std::memcmp(base + 8, changed12 + 8, 2), 0);
  EXPECT_NE(std::memcmp(base + 10, changed12 + 10, 2), 0);
  // Byte 0 is rewritten by the builder, so its effect shows on the header
  // CRC computed over a changed copy alone.
  uint8_t changed0[kStandbyPacketSize];
  std::memcpy(changed0, base, sizeof base);
  changed0[0] ^= 1;
  EXPECT_EQ(StandbyCrc16(changed0 + 12, 12), StandbyCrc16(base + 12, 12));
  EXPECT_NE(StandbyCrc16(changed0, 10), StandbyCrc16(base, 10));
}

TEST(PowerConditionPage, Layout) {
  uint8_t page[kPowerConditionPageSize];
  BuildPowerConditionPage(page, 10, true);
  uint8_t expected[kPowerConditionPageSize] = {};
  expected[8] = 0x1A;
  expected[9] = 0x26;
  expected[11] = 1;
  expected[18] = 0x17;
  expected[19] = 0x70;
  EXPECT_EQ(std::memcmp(page, expected, sizeof page), 0);
  for (const auto& [minutes, enabled] : {std::pair<int64_t, bool>{0, true}, {10, false}, {-1, true}}) {
    BuildPowerConditionPage(page, minutes, enabled);
    expected[11] = expected[18] = expected[19] = 0;
    EXPECT_EQ(std::memcmp(page, expected, sizeof page), 0) << minutes;
  }
}

class StandbyOnBench : public testing::BenchTest {
 protected:
  StandbyOnBench() : BenchTest({[] {
      sim::ProductConfig config = testing::TestProduct("standby");
      config.chipType = 21;
      return config;
    }()}) {}
};

// Every form sends 00 00 17 70 for 10 minutes, and 0 minutes sends no timer.
TEST_F(StandbyOnBench, WireBytes) {
  ASSERT_EQ(ModeSelectPowerCondition(path(), 10, true), 1);
  ASSERT_EQ(SetStandbyTimerVendor(path(), StandbyMinutes(10), true), 1);
  ASSERT_EQ(SetStandbyTimerVendor(path(), StandbyMinutes(-5), true), 1);
  const std::vector<sim::TraceEntry> trace = Trace();
  ASSERT_EQ(trace.size(), 3u);
  const std::vector<uint8_t> select = {0x55, 0x01, 0, 0, 0, 0, 0, 0, 0x30, 0};
  EXPECT_EQ(trace[0].cdb, select);
  ASSERT_EQ(trace[0].dataOut.size(), kPowerConditionPageSize);
  EXPECT_EQ(trace[0].dataOut[11], 1);
  EXPECT_EQ(std::vector<uint8_t>(trace[0].dataOut.begin() + 16, trace[0].dataOut.begin() + 20),
            (std::vector<uint8_t>{0, 0, 0x17, 0x70}));
  EXPECT_EQ(std::vector<uint8_t>(trace[1].cdb.begin(), trace[1].cdb.begin() + 8),
            (std::vector<uint8_t>{0xFF, 0x04, 0xA3, 1, 0, 0, 0x17, 0x70}));
  EXPECT_EQ(std::vector<uint8_t>(trace[2].cdb.begin(), trace[2].cdb.begin() + 8),
            (std::vector<uint8_t>{0xFF, 0x04, 0xA3, 0, 0, 0, 0, 0}));
}

// What MODE SELECT set, MODE SENSE reads back.
TEST_F(StandbyOnBench, ReadBack) {
  ASSERT_EQ(ModeSelectPowerCondition(path(), 25, true), 1);
  StandbyReading reading;
  ASSERT_EQ(ReadStandbyTimer(path(), &reading), 1);
  EXPECT_TRUE(reading.enabled);
  EXPECT_EQ(reading.minutes, 25u);
}

}  // namespace
}  // namespace bridge
