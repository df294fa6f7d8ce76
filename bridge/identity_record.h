// The 72-byte identity record of the QVS87x series (WriteIdentityRecord):
// two tokens made of the time and a random byte, and a text of the settings.
// Up to sixteen workers build records at the same time; the random byte
// comes from one generator behind a lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "bridge/vendor_commands.h"

namespace bridge {

inline constexpr size_t kIdentityTokenOffset1 = 4;
inline constexpr size_t kIdentityTokenOffset2 = 12;
inline constexpr size_t kIdentityTextOffset = 52;
inline constexpr size_t kIdentityTextSize = 20;

// Local day of the week (0-6), second (0-59) and millisecond, and the random
// byte (1-255) of one record.
struct IdentityStamp {
  int weekday = 0;
  int second = 0;
  int millisecond = 0;
  uint8_t random = 1;
};
IdentityStamp CurrentIdentityStamp();
// 1..255, from the process's generator (seeded from the time at first use).
[[nodiscard]] uint8_t IdentityRandomByte();

// 'B' at 0; 'P', the six digits "%01d%02d%03d" and r at 4; the same with
// r + 1 (mod 256) at 12; at 52 the text, at most `textLength` (at most 20)
// characters, over 20 spaces; the rest zero.
void BuildIdentityRecord(uint8_t (&record)[kIdentityRecordSize], std::string_view text,
                         int textLength, const IdentityStamp& stamp);

}  // namespace bridge
