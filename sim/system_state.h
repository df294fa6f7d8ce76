// The machine the bench stands for, as the station sees it: its version
// (tests change it at run time), its system and network drives, and the
// rest of its configuration.
#pragma once

#include <atomic>
#include <cstdint>

#include "sim/bench_config.h"

namespace sim {

struct SystemState {
  SystemState(const SystemConfig& system, uint32_t networkMask);

  // At least this version (Vista is 6.0, Windows 7 6.1, Windows 8 6.2).
  bool AtLeast(uint32_t major, uint32_t minor) const;
  // Letters no product can have: the system drive's and the network's.
  uint32_t FixedLetters() const;

  SystemConfig config;  // windowsDrive in upper case
  std::atomic<uint32_t> osMajor, osMinor, servicePack;
  std::atomic<uint32_t> networkLetters;
};

}  // namespace sim
