// What one bridge command gives back, and the vendor state the station's
// commands leave in a bridge: shared by the bridge and its firmware paths.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace sim {

// What the station's commands left in the bridge besides its memories, for
// checks by tests and the bench.
struct VendorState {
  bool standbyEnabled = false;      // FF 04 A3
  uint32_t standbyTime = 0;         // 100 ms units
  uint32_t standbyPackets = 0;         // accepted from a download's configuration block
  uint32_t refusedStandbyPackets = 0;  // marked as packets, with a wrong checksum
  std::array<uint8_t, 40> powerCondition{};  // mode page 1A as last selected
  std::vector<uint8_t> identityRecord;       // C3 30: the 72 bytes, empty until written
  uint16_t identityValue1 = 0;
  uint16_t identityValue2 = 0;
  std::array<uint8_t, 4> flashOpcodes{};     // chip erase, block erase, program, sector erase
  uint8_t flashCode = 0xFF;                  // type byte of FF 04 24
  uint16_t opcodeParameter = 0;              // FF 04 0F
  uint8_t flashOption = 0;                   // FF 04 25 02 v
  bool vendorCmd25 = false;                  // FF 04 25 without data
  uint8_t status5 = 0;                       // FF 04 C8 05 v
  bool keyCommand = false;                   // FF 04 51 56 55
  bool flashMode = false;                    // FF 04 05
  std::array<uint8_t, 18> flashTypeBlock{};  // FF 04 04
};

struct CommandResult {
  uint8_t status = 0;          // SCSI status: 0 GOOD, 2 CHECK CONDITION
  uint32_t transferred = 0;    // bytes moved
  bool resetRequested = false; // the bridge leaves the bus after this command
};

}  // namespace sim
