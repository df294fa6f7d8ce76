#include "sim/standby_state.h"

#include <algorithm>
#include <string_view>

#include "sim/bridge_command.h"

namespace sim {

namespace {

constexpr std::string_view kPacketMark = "IUP0";
constexpr uint8_t kPacketType = 0x0C;
constexpr size_t kPageStandbyFlags = 3;
constexpr uint8_t kStandbyZ = 0x01;
constexpr size_t kPageStandbyTimer = 8;

uint16_t Reverse16(uint16_t v) {
  uint16_t r = 0;
  for (int i = 0; i < 16; ++i) r = static_cast<uint16_t>(r | (((v >> i) & 1u) << (15 - i)));
  return r;
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

uint16_t StandbyChecksum(const uint8_t* data, size_t length) {
  if (length == 0) return 0;
  uint16_t reg = 0xFFFF;
  for (size_t i = 0; i < length; ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      const unsigned in = (data[i] >> bit) & 1u;
      reg = (reg & 1u) != in ? static_cast<uint16_t>((reg >> 1) ^ 0xD008)
                             : static_cast<uint16_t>(reg >> 1);
    }
  }
  return Reverse16(reg);
}

StandbyPacket ParseStandbyPacket(const uint8_t* data, size_t length) {
  StandbyPacket packet;
  if (data == nullptr || length < kStandbyPacketLength) return packet;
  if (!std::equal(kPacketMark.begin(), kPacketMark.end(), data) || data[7] != kPacketType)
    return packet;
  if (Le16(data + 8) != StandbyChecksum(data + 12, 12) ||
      Le16(data + 10) != StandbyChecksum(data, 10)) {
    packet.check = StandbyPacketCheck::kBadChecksum;
    return packet;
  }
  packet.check = StandbyPacketCheck::kAccepted;
  packet.enabled = data[16] != 0;
  packet.time = Be32(data + 20);
  return packet;
}

void SetStandby(VendorState& state, bool enabled, uint32_t time) {
  state.standbyEnabled = enabled;
  state.standbyTime = time;
  auto& page = state.powerCondition;
  page[kPageStandbyFlags] = static_cast<uint8_t>(enabled ? page[kPageStandbyFlags] | kStandbyZ
                                                         : page[kPageStandbyFlags] & ~kStandbyZ);
  for (size_t i = 0; i < 4; ++i)
    page[kPageStandbyTimer + i] = static_cast<uint8_t>(time >> (24 - 8 * i));
}

void StandbyFromPage(VendorState& state) {
  const auto& page = state.powerCondition;
  state.standbyEnabled = (page[kPageStandbyFlags] & kStandbyZ) != 0;
  state.standbyTime = Be32(page.data() + kPageStandbyTimer);
}

}  // namespace sim
