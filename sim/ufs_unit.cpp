#include "sim/ufs_unit.h"

#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "sim/bridge_commands.h"

namespace sim {
namespace {

constexpr uint8_t kUnitCommand = 0xE6;
constexpr uint8_t kReadState = 0x01;
constexpr uint8_t kEnable = 0x02;
constexpr uint8_t kSetClock = 0x04;
constexpr uint8_t kLastClock = 3;
constexpr uint32_t kStateLength = 8;

constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kFormatUnit = 0x04;
constexpr uint8_t kReadCapacity10 = 0x25;
constexpr uint8_t kRead10 = 0x28;
constexpr uint8_t kWrite10 = 0x2A;
constexpr uint8_t kSynchronizeCache10 = 0x35;
constexpr uint8_t kModeSense10 = 0x5A;
constexpr uint8_t kServiceActionIn16 = 0x9E;
constexpr uint8_t kAtaPassThrough12 = 0xA1;
constexpr uint8_t kAtaPassThrough16 = 0x85;
constexpr uint8_t kWriteProtectBit = 0x80;

using commands::Check;
using commands::Good;

bool NeedsMedium(uint8_t opcode) {
  return opcode == kTestUnitReady || opcode == kFormatUnit || opcode == kReadCapacity10 ||
         opcode == kRead10 || opcode == kWrite10 || opcode == kSynchronizeCache10 ||
         opcode == kServiceActionIn16;
}

bool Writes(uint8_t opcode) { return opcode == kWrite10 || opcode == kFormatUnit; }

}  // namespace

UfsUnit::UfsUnit(const UfsConfig& config)
    : enableAfterReset_(config.enableAfterReset),
      enabled_(config.enabled),
      writeProtected_(config.writeProtected),
      referenceClock_(std::min(config.referenceClock, kLastClock)) {}

void UfsUnit::PowerOn() { PowerOn(platform::GetTickCount64()); }

void UfsUnit::PowerOn(uint64_t at) {
  if (enablePending_) {
    enabled_ = true;
    changedAt_ = at;
  }
  enablePending_ = false;
}

std::optional<CommandResult> UfsUnit::Execute(const uint8_t* cdb, uint8_t cdbLength, bool dataIn,
                                              uint8_t* data, uint32_t length) {
  const uint8_t opcode = cdb[0];
  if (opcode == kUnitCommand) {
    if (cdbLength < 12) return Check();
    switch (cdb[1]) {
      case kReadState: {
        if (!dataIn || length < kStateLength) return Check();
        std::memset(data, 0, length);
        data[0] = enabled_ ? 1 : 0;
        data[1] = enablePending_ ? 1 : 0;
        data[2] = writeProtected_ ? 1 : 0;
        data[3] = referenceClock_;
        return Good(kStateLength);
      }
      case kEnable:
        if (length != 0) return Check();
        if (!enabled_) {
          if (enableAfterReset_) {
            enablePending_ = true;
          } else {
            enabled_ = true;
            changedAt_ = platform::GetTickCount64();
          }
        }
        return Good();
      case kSetClock:
        if (length != 0 || cdb[2] > kLastClock) return Check();
        referenceClock_ = cdb[2];
        return Good();
      default:
        return Check();
    }
  }
  // No ATA drive: nothing answers IDENTIFY or ATA transfers.
  if (opcode == kAtaPassThrough12 || opcode == kAtaPassThrough16) return Check();
  if (NeedsMedium(opcode) && !enabled_) return Check();  // NOT READY, medium not present
  if (Writes(opcode) && writeProtected_) return Check();  // DATA PROTECT
  if (opcode == kTestUnitReady) return Good();
  if (opcode == kModeSense10) {
    // The header alone: no block descriptors, no pages; WP in byte 3.
    if (cdbLength < 10 || !dataIn) return Check();
    uint8_t header[8] = {0, 6, 0, static_cast<uint8_t>(writeProtected_ ? kWriteProtectBit : 0)};
    const uint32_t n = std::min<uint32_t>({length, sizeof header, uint32_t{cdb[7]} << 8 | cdb[8]});
    if (n > 0) std::memcpy(data, header, n);
    return Good(n);
  }
  return std::nullopt;
}

}  // namespace sim
