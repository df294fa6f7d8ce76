// The FF 04 family: requests to the bridge firmware (SPI flash access,
// status, configuration block, reset). Byte 2 is the sub-operation.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "bridge/cdb.h"
#include "bridge/vendor_commands.h"

namespace bridge {
namespace {

using cdb::Cdb12;
using cdb::Fits;
using cdb::PutBigEndian;

constexpr Cdb12 Request(uint8_t subOperation) {
  return {0xFF, 0x04, subOperation, 0, 0, 0, 0, 0, 0, 0, 0, 0};
}

constexpr Cdb12 kReadFlashBusy = Request(0x00);
constexpr Cdb12 kFlashCmd01 = Request(0x01);
constexpr Cdb12 kFlashCmd05 = Request(0x05);
constexpr Cdb12 kFlashReadStatus = Request(0x12);
constexpr Cdb12 kFlashEraseChip = Request(0x13);
constexpr Cdb12 kReadFlashJedecId = {0xFF, 0x04, 0x15, 0x04};
constexpr Cdb12 kReadFlashTypeCode = {0xFF, 0x04, 0x23, 0x04};
constexpr Cdb12 kSendVendorCmd25 = Request(0x25);
constexpr Cdb12 kResetBridge = {0xFF, 0x04, 0x26, 'Q', 'V'};
constexpr Cdb12 kReadBridgeBlock30 = {0xFF, 0x04, 0x30, 0x08};
constexpr Cdb12 kSendVendorKeyCommand = {0xFF, 0x04, 'Q', 'V', 'U'};

constexpr uint8_t kReadFlash = 0x10;
constexpr uint8_t kWriteFlash = 0x11;
constexpr uint8_t kEraseBlock = 0x14;
constexpr uint8_t kQueryFlashParam = 0x15;
constexpr uint8_t kSpiBytes = 0x20;
constexpr uint8_t kReadData21 = 0x21;
constexpr uint8_t kSpiData = 0x22;
constexpr uint8_t kFlashOpcodes = 0x24;
constexpr uint8_t kFlashOption25 = 0x25;
constexpr uint8_t kSpiOpcodeTable = 0x0F;
constexpr uint8_t kStandbyTimer = 0xA3;
constexpr uint8_t kConfigBlock = 0xA0;
constexpr uint8_t kBridgeStatus = 0xC8;

constexpr uint8_t kWideQuery = 0x03;
constexpr uint8_t kBusy = 1;

// Command sequences of the flash families; 0 and 2 share theirs.
constexpr uint8_t kUnlockFamily02[9] = {0x55, 0x55, 0xAA, 0x2A, 0x55, 0x55, 0xAA, 0x55, 0xA0};
constexpr uint8_t kUnlockFamily1[9] = {0x55, 0x05, 0xAA, 0x02, 0x55, 0x05, 0xAA, 0x55, 0xA0};

using TypeBlock = std::array<uint8_t, 18>;
constexpr TypeBlock kSetTypeFamily02 = {0x55, 0x55, 0xAA, 0x2A, 0x55, 0x55, 0x55, 0x55, 0xAA,
                                        0x2A, 0x55, 0x55, 0xAA, 0x55, 0x80, 0xAA, 0x55, 0x10};
constexpr TypeBlock kSetTypeFamily1 = {0x55, 0x05, 0xAA, 0x02, 0x55, 0x05, 0x55, 0x05, 0xAA,
                                       0x02, 0x55, 0x05, 0xAA, 0x55, 0x80, 0xAA, 0x55, 0x10};
constexpr TypeBlock kSetTypeOther = {};

const uint8_t* UnlockSequence(int family) {
  switch (family) {
    case kFlashFamily0:
    case kFlashFamily2:
      return kUnlockFamily02;
    case kFlashFamily1:
      return kUnlockFamily1;
    default:
      return nullptr;
  }
}

const TypeBlock& SetTypeBlock(int family) {
  switch (family) {
    case kFlashFamily0:
    case kFlashFamily2:
      return kSetTypeFamily02;
    case kFlashFamily1:
      return kSetTypeFamily1;
    default:
      return kSetTypeOther;
  }
}

// FF 04 op with a 24-bit big-endian address in bytes 3..5.
Cdb12 AddressedRequest(uint8_t subOperation, uint32_t address) {
  Cdb12 cdb = Request(subOperation);
  PutBigEndian(cdb, 3, address, 3);
  return cdb;
}

Cdb12 FlashParamQuery(uint8_t width, uint8_t value, bool wide) {
  Cdb12 cdb = {0xFF,  0x04,  kQueryFlashParam,
               width, value, static_cast<uint8_t>(wide ? kWideQuery : 0)};
  return cdb;
}

int ReadBridgeStatus(const char* devicePath, uint8_t which, uint8_t* status) {
  const Cdb12 cdb = {0xFF, 0x04, kBridgeStatus, which};
  return cdb::SendIn(devicePath, cdb, status, 1);
}

}  // namespace

int ReadFlashBusy(const char* devicePath) {
  uint8_t state = kBusy;
  return cdb::SendIn(devicePath, kReadFlashBusy, &state, 1) && state != kBusy ? 0 : 1;
}

int FlashCmd01(const char* devicePath) { return cdb::SendNoData(devicePath, kFlashCmd01); }
int FlashCmd05(const char* devicePath) { return cdb::SendNoData(devicePath, kFlashCmd05); }

int FlashUnlockWrite(const char* devicePath, const uint8_t* data, uint32_t length, int family) {
  Cdb12 cdb = Request(0x02);
  if (const uint8_t* sequence = UnlockSequence(family))
    std::memcpy(cdb.data() + 3, sequence, sizeof(kUnlockFamily02));
  return cdb::SendOut(devicePath, cdb, data, length);
}

int FlashSetType(const char* devicePath, int family) {
  const TypeBlock& block = SetTypeBlock(family);
  return cdb::SendOut(devicePath, Request(0x04), block.data(), static_cast<uint32_t>(block.size()));
}

int FlashRead32(const char* devicePath, uint32_t address, uint8_t* buffer, uint32_t length) {
  Cdb12 cdb = Request(0x03);
  for (size_t i = 0; i < 4; ++i) cdb[3 + i] = static_cast<uint8_t>(address >> (8 * i));
  return cdb::SendIn(devicePath, cdb, buffer, length);
}

int FlashRead(const char* devicePath, uint32_t address, uint8_t* buffer, uint32_t length) {
  if (!Fits(address, 24)) return 0;
  return cdb::SendIn(devicePath, AddressedRequest(kReadFlash, address), buffer, length);
}

int FlashWrite(const char* devicePath, uint32_t address, const uint8_t* data, uint32_t length) {
  if (!Fits(address, 24)) return 0;
  return cdb::SendOut(devicePath, AddressedRequest(kWriteFlash, address), data, length);
}

int FlashReadStatus(const char* devicePath, uint8_t* status) {
  return cdb::SendIn(devicePath, kFlashReadStatus, status, 1);
}

int FlashEraseChip(const char* devicePath) { return cdb::SendNoData(devicePath, kFlashEraseChip); }

int FlashEraseBlock(const char* devicePath, uint32_t address) {
  if (!Fits(address, 24)) return 0;
  return cdb::SendNoData(devicePath, AddressedRequest(kEraseBlock, address));
}

int ReadFlashJedecId(const char* devicePath, uint8_t* id) {
  return cdb::SendIn(devicePath, kReadFlashJedecId, id, 4);
}

int QueryFlashParam3(const char* devicePath, uint8_t value, bool wide, uint8_t* reply) {
  return cdb::SendIn(devicePath, FlashParamQuery(0x03, value, wide), reply, 3);
}

int QueryFlashParam4(const char* devicePath, uint8_t value, bool wide, uint8_t* reply) {
  return cdb::SendIn(devicePath, FlashParamQuery(0x04, value, wide), reply, 4);
}

int SendSpiBytes(const char* devicePath, const SpiByteRecord& record, const uint8_t* data,
                 uint32_t length) {
  Cdb12 cdb = Request(kSpiBytes);
  std::memcpy(cdb.data() + 3, &record, sizeof(record));
  return cdb::SendOut(devicePath, cdb, data, length);
}

int QuerySpiFlash(const char* devicePath, uint8_t opcode, uint8_t* buffer, uint32_t length) {
  SpiByteRecord record;
  record.count = 1;
  record.dataPhase = 1;
  record.bytes[0] = opcode;
  return SendSpiBytes(devicePath, record, nullptr, 0) &&
         ReadBridgeData21(devicePath, buffer, length);
}

int ReadBridgeData21(const char* devicePath, uint8_t* buffer, uint32_t length) {
  if (!Fits(length, 16)) return 0;
  Cdb12 cdb = Request(kReadData21);
  PutBigEndian(cdb, 7, length, 2);
  return cdb::SendIn(devicePath, cdb, buffer, length);
}

int WriteSpiData(const char* devicePath, const uint8_t* data, uint32_t length) {
  if (length > kMaxSpiDataLength) return 0;
  Cdb12 cdb = Request(kSpiData);
  cdb[8] = static_cast<uint8_t>(length);
  return cdb::SendOut(devicePath, cdb, data, length);
}

int ReadFlashTypeCode(const char* devicePath, uint8_t* reply) {
  return cdb::SendIn(devicePath, kReadFlashTypeCode, reply, 4);
}

int SetFlashOpcodes(const char* devicePath, const FlashOpcodes& opcodes) {
  const Cdb12 cdb = {0xFF,
                     0x04,
                     kFlashOpcodes,
                     0x02,
                     opcodes.chipErase,
                     opcodes.blockErase,
                     opcodes.program,
                     opcodes.flashCode,
                     0x01};
  uint8_t reply[2] = {};
  return cdb::SendIn(devicePath, cdb, reply, sizeof(reply));
}

int SendFlashOption25(const char* devicePath, uint32_t value) {
  if (!Fits(value / 4, 8)) return 0;
  const Cdb12 cdb = {0xFF, 0x04, kFlashOption25, 0x02, static_cast<uint8_t>(value / 4)};
  uint8_t reply[2] = {};
  return cdb::SendIn(devicePath, cdb, reply, sizeof(reply));
}

int SendVendorCmd25(const char* devicePath) {
  return cdb::SendNoData(devicePath, kSendVendorCmd25);
}

int SetSpiOpcodeTable(const char* devicePath, const uint8_t (&opcodes)[4], uint16_t parameter) {
  Cdb12 cdb = {0xFF, 0x04, kSpiOpcodeTable, opcodes[0], opcodes[1], opcodes[2], opcodes[3]};
  PutBigEndian(cdb, 7, parameter, 2);
  return cdb::SendNoData(devicePath, cdb);
}

int ResetBridge(const char* devicePath) {
  return cdb::SendIn(devicePath, kResetBridge, nullptr, 0);
}

int SetBridgeStatus5(const char* devicePath, uint8_t value) {
  const Cdb12 cdb = {0xFF, 0x04, kBridgeStatus, 0x05, value};
  return cdb::SendIn(devicePath, cdb, nullptr, 0);
}

int SetStandbyTimerVendor(const char* devicePath, uint32_t minutes, bool enabled) {
  constexpr uint64_t kTicksPerMinute = 600;  // 100 ms units
  // A timer longer than the 32-bit tick field holds is sent as the longest.
  const uint64_t ticks = std::min<uint64_t>(minutes, UINT32_MAX / kTicksPerMinute) * kTicksPerMinute;
  Cdb12 cdb = Request(kStandbyTimer);
  cdb[3] = enabled && ticks != 0 ? 1 : 0;
  PutBigEndian(cdb, 4, ticks, 4);
  return cdb::SendIn(devicePath, cdb, nullptr, 0);
}

int ReadBridgeBlock30(const char* devicePath, uint8_t* buffer, uint32_t length) {
  return cdb::SendIn(devicePath, kReadBridgeBlock30, buffer, length);
}

int ReadConfigBlock(const char* devicePath, uint8_t* buffer, uint32_t length) {
  if (!Fits(length, 8)) return 0;
  const Cdb12 cdb = {0xFF, 0x04, kConfigBlock, static_cast<uint8_t>(length)};
  return cdb::SendIn(devicePath, cdb, buffer, length);
}

int ReadBridgeStatus0(const char* devicePath, uint8_t* status) {
  return ReadBridgeStatus(devicePath, 0x00, status);
}
int ReadBridgeStatus1(const char* devicePath, uint8_t* status) {
  return ReadBridgeStatus(devicePath, 0x01, status);
}
int ReadBridgeStatus2(const char* devicePath, uint8_t* status) {
  return ReadBridgeStatus(devicePath, 0x02, status);
}
int ReadBridgeStatus3(const char* devicePath, uint8_t* status) {
  return ReadBridgeStatus(devicePath, 0x03, status);
}

int SendVendorKeyCommand(const char* devicePath) {
  return cdb::SendNoData(devicePath, kSendVendorKeyCommand);
}

}  // namespace bridge
