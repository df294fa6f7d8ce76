// The QVS87x standby timer, in its three encodings: the 24-byte packet the
// manufacturing firmware takes inside the configuration block of a download,
// the power condition mode page 1Ah of MODE SELECT(10), and the vendor
// command (SetStandbyTimerVendor, vendor_commands.h). Times travel in 100 ms
// units; a negative minute count means 0 (off), and the largest count is the
// one whose tick count still fits 32 bits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bridge/vendor_commands.h"

namespace bridge {

inline constexpr uint32_t kStandbyTicksPerMinute = 600;
inline constexpr uint32_t kMaxStandbyMinutes = UINT32_MAX / kStandbyTicksPerMinute;

// The minute count as sent: below 0 is 0, above kMaxStandbyMinutes is that.
constexpr uint32_t StandbyMinutes(int64_t minutes) {
  if (minutes < 0) return 0;
  return minutes > kMaxStandbyMinutes ? kMaxStandbyMinutes : static_cast<uint32_t>(minutes);
}
constexpr uint32_t StandbyTicks(int64_t minutes) {
  return static_cast<uint32_t>(uint64_t{StandbyMinutes(minutes)} * kStandbyTicksPerMinute);
}

// CRC-16 of the packet: polynomial 0x100B, register 0xFFFF shifting right
// (0xD008 is the polynomial reversed), bytes least significant bit first, the
// result bit-reversed, no final XOR. "abc" gives 0x3BD6; an empty input 0.
[[nodiscard]] uint16_t StandbyCrc16(const uint8_t* data, size_t length);

inline constexpr size_t kStandbyPacketSize = 24;
inline constexpr uint8_t kStandbyPacketMagic[4] = {'I', 'U', 'P', '0'};
inline constexpr size_t kStandbyPacketTypeOffset = 7;
inline constexpr uint8_t kStandbyPacketType = 0x0C;
inline constexpr size_t kStandbyPacketBodyCrc = 8;     // CRC of bytes 12..23
inline constexpr size_t kStandbyPacketHeaderCrc = 10;  // CRC of bytes 0..9
inline constexpr size_t kStandbyPacketEnable = 16;
inline constexpr size_t kStandbyPacketTime = 20;

// Fills the packet in place; bytes 4..6, 12..15 and 17..19 keep what the
// buffer holds. A disabled timer (setting off, or 0 minutes) still carries a
// time; for 0 minutes that is one minute.
void BuildStandbyPacket(uint8_t* packet, int64_t minutes, bool enabled);

// The 48-byte MODE SELECT parameter list with page 1Ah: the STANDBY_Z bit and
// its timer only when enabled and the time is not 0.
inline constexpr size_t kPowerPageStandbyFlag = 11;
inline constexpr size_t kPowerPageStandbyTimer = 16;
void BuildPowerConditionPage(uint8_t (&page)[kPowerConditionPageSize], int64_t minutes,
                             bool enabled);
[[nodiscard]] int ModeSelectPowerCondition(const char* devicePath, int64_t minutes, bool enabled);

// What MODE SENSE of page 1Ah reports: the STANDBY_Z bit and the minutes.
struct StandbyReading {
  bool enabled = false;
  uint32_t minutes = 0;
};
[[nodiscard]] int ReadStandbyTimer(const char* devicePath, StandbyReading* reading);

}  // namespace bridge
