// The standby timer of the QVS87x bridges as the device keeps it: one state
// (enabled, time in 100 ms units) that the vendor command FF 04 A3, MODE
// SELECT of the power condition page 1Ah and the 24-byte packet in a
// download's configuration block all set, and MODE SENSE reads back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

struct VendorState;

inline constexpr size_t kStandbyPacketLength = 24;

enum class StandbyPacketCheck : uint8_t {
  kNoPacket,  // no "IUP0" mark or packet type: the block carries no timer
  kAccepted,
  kBadChecksum,  // marked as a packet, but a checksum field does not match
};

struct StandbyPacket {
  StandbyPacketCheck check = StandbyPacketCheck::kNoPacket;
  bool enabled = false;
  uint32_t time = 0;  // 100 ms units
};

// CRC-16 of the packet fields: polynomial 0x100B taken bit-reversed (0xD008),
// register 0xFFFF, bits least significant first, result bit-reversed; no
// bytes give 0.
uint16_t StandbyChecksum(const uint8_t* data, size_t length);

// Reads the packet at the start of a configuration block of `length` bytes;
// a block shorter than a packet holds none.
StandbyPacket ParseStandbyPacket(const uint8_t* data, size_t length);

// Sets the one standby state and the page 1Ah fields that mirror it
// (STANDBY_Z bit in page byte 3, its timer in page bytes 8..11).
void SetStandby(VendorState& state, bool enabled, uint32_t time);
// After MODE SELECT stored a page: the state follows the page.
void StandbyFromPage(VendorState& state);

}  // namespace sim
