// The vendor command of our UFS bridges: the state of the UFS device's
// logical unit (enabled, an enable waiting for the next reset, write
// protect, reference clock) and its changes. ATA bridges refuse it.
//
// CDB (12 bytes): E6, sub-operation, argument. Sub-operations:
//   01 read the state: 8 bytes in: unit enabled (0/1), enable pending until
//      the next reset (0/1), write protected (0/1), reference clock code;
//      the rest reserved
//   02 enable the unit: no data; the unit is enabled at once or after the
//      next reset, as the device is built
//   04 set the reference clock: argument = code 0..3 (19.2, 26, 38.4,
//      52 MHz), no data
#pragma once

#include <cstdint>

namespace bridge {

inline constexpr uint8_t kUfsUnitCommand = 0xE6;
inline constexpr uint8_t kUfsReadState = 0x01;
inline constexpr uint8_t kUfsEnableUnit = 0x02;
inline constexpr uint8_t kUfsSetReferenceClock = 0x04;
inline constexpr uint32_t kUfsStateLength = 8;
inline constexpr uint8_t kUfsLastReferenceClock = 3;

struct UfsState {
  bool enabled = false;
  bool enablePending = false;
  bool writeProtected = false;
  uint8_t referenceClock = 0;
};

// 1 and the state; 0 when the bridge refuses (no UFS device behind it).
[[nodiscard]] int ReadUfsState(const char* devicePath, UfsState* state);
[[nodiscard]] int EnableUfsUnit(const char* devicePath);
// Codes above kUfsLastReferenceClock are refused before anything is sent.
[[nodiscard]] int SetUfsReferenceClock(const char* devicePath, uint8_t code);

}  // namespace bridge
