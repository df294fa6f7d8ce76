#include "bridge/standby_timer.h"

#include <cstring>

#include "platform/byte_order.h"

namespace bridge {

using platform::PutBigEndian32;
using platform::PutLittleEndian16;

namespace {

uint16_t Reverse16(uint16_t value) {
  uint16_t out = 0;
  for (int bit = 0; bit < 16; ++bit) out = static_cast<uint16_t>(out | (((value >> bit) & 1u) << (15 - bit)));
  return out;
}

}  // namespace

uint16_t StandbyCrc16(const uint8_t* data, size_t length) {
  if (length == 0) return 0;
  uint16_t reg = 0xFFFF;
  for (size_t i = 0; i < length; ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      const unsigned in = (data[i] >> bit) & 1u;
      reg = (reg & 1u) != in ? static_cast<uint16_t>((reg >> 1) ^ 0xD008) : static_cast<uint16_t>(reg >> 1);
    }
  }
  return Reverse16(reg);
}

void BuildStandbyPacket(uint8_t* packet, int64_t minutes, bool enabled) {
  std::memcpy(packet, kStandbyPacketMagic, sizeof kStandbyPacketMagic);
  packet[kStandbyPacketTypeOffset] = kStandbyPacketType;
  uint32_t ticks = StandbyTicks(minutes);
  packet[kStandbyPacketEnable] = enabled && ticks > 0 ? 1 : 0;
  if (ticks == 0) ticks = kStandbyTicksPerMinute;
  PutBigEndian32(packet + kStandbyPacketTime, ticks);
  PutLittleEndian16(packet + kStandbyPacketBodyCrc, StandbyCrc16(packet + 12, 12));
  PutLittleEndian16(packet + kStandbyPacketHeaderCrc, StandbyCrc16(packet, 10));
}

void BuildPowerConditionPage(uint8_t (&page)[kPowerConditionPageSize], int64_t minutes,
                             bool enabled) {
  std::memset(page, 0, sizeof page);
  page[8] = 0x1A;
  page[9] = 0x26;
  const uint32_t ticks = StandbyTicks(minutes);
  if (enabled && ticks != 0) {
    page[kPowerPageStandbyFlag] = 1;
    PutBigEndian32(page + kPowerPageStandbyTimer, ticks);
  }
}

int ModeSelectPowerCondition(const char* devicePath, int64_t minutes, bool enabled) {
  uint8_t page[kPowerConditionPageSize];
  BuildPowerConditionPage(page, minutes, enabled);
  return ModeSelectPowerCondition(devicePath, page);
}

int ReadStandbyTimer(const char* devicePath, StandbyReading* reading) {
  uint8_t page[kPowerConditionPageSize] = {};
  if (ModeSensePowerCondition(devicePath, page, sizeof page) == 0) return 0;
  reading->enabled = page[kPowerPageStandbyFlag] != 0;
  const uint32_t ticks = uint32_t{page[16]} << 24 | uint32_t{page[17]} << 16 |
                         uint32_t{page[18]} << 8 | page[19];
  reading->minutes = ticks / kStandbyTicksPerMinute;
  return 1;
}

}  // namespace bridge
