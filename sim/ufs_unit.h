// The UFS device of a UFS product, as far as the bench tells it apart from
// an ATA drive: its logical unit enabled or not (disabled: no medium), an
// enable that waits for the next power-on, write protect, the reference
// clock, and the unit command E6 that reads and changes them. The medium
// itself is the product's disk image, reached by the bridge's block
// commands once this unit lets them through.
#pragma once

#include <cstdint>
#include <optional>

#include "sim/bridge_command.h"
#include "sim/product_config.h"

namespace sim {

class UfsUnit {
 public:
  explicit UfsUnit(const UfsConfig& config);

  // The answer to a command this device settles itself (the unit command,
  // a medium command it refuses, MODE SENSE, TEST UNIT READY, the ATA
  // tunnels it has no drive for); none for what the bridge carries on to the
  // medium or answers itself.
  std::optional<CommandResult> Execute(const uint8_t* cdb, uint8_t cdbLength, bool dataIn,
                                       uint8_t* data, uint32_t length);

  // A power-on applies an enable that waited for it; the unit is back at
  // station millisecond `at` (now without it).
  void PowerOn(uint64_t at);
  void PowerOn();

  bool enabled() const { return enabled_; }
  bool writeProtected() const { return writeProtected_; }
  uint8_t referenceClock() const { return referenceClock_; }
  // Station time of the last change between enabled and disabled.
  uint64_t changedAt() const { return changedAt_; }

 private:
  bool enableAfterReset_;
  bool enabled_;
  bool enablePending_ = false;
  bool writeProtected_;
  uint8_t referenceClock_;
  uint64_t changedAt_ = 0;
};

}  // namespace sim
