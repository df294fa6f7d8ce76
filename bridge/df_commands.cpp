// The DF family: bridge register and configuration memory access, and the ATA
// task file tunnelled to the drive. Byte 1 is the direction, byte 11 the
// sub-command or, in the task form, the ATA command.
#include "bridge/cdb.h"
#include "bridge/vendor_commands.h"

namespace bridge {
namespace {

using cdb::Cdb12;
using cdb::Fits;
using cdb::PutBigEndian;

constexpr uint8_t kDfOpcode = 0xDF;
constexpr uint8_t kFromDevice = 0x10;
constexpr uint8_t kToDevice = 0x00;

constexpr uint8_t kSubReadId = 0xFF;
constexpr uint8_t kSubReadFlash = 0xFA;
constexpr uint8_t kSubWriteFlash = 0xFB;
constexpr uint8_t kSubReadRegister = 0xFD;
constexpr uint8_t kSubWriteRegister = 0xFE;

constexpr uint8_t kEraseTypeMask = 0x87;

// Field positions.
constexpr size_t kLength16 = 3;  // n-hi n-lo
constexpr size_t kLength24 = 2;  // task form: 24-bit length
constexpr size_t kRegister = 6;  // r-hi r-lo
constexpr size_t kAddress = 8;   // a[23:16] a[15:8] a[7:0]
constexpr size_t kTaskFile = 5;  // feature count lba-low lba-mid lba-high device command

constexpr Cdb12 Template(uint8_t direction, uint8_t subCommand) {
  return {kDfOpcode, direction, 0, 0, 0, 0, 0, 0, 0, 0, 0, subCommand};
}

constexpr Cdb12 kReadBridgeId = {kDfOpcode, kFromDevice, 0x00, 0x00, 0x02, 0,
                                 0,         0,           0,    0,    0,    kSubReadId};
constexpr uint32_t kBridgeIdSize = 2;

Cdb12 FlashCdb(uint8_t direction, uint8_t subCommand, uint32_t address, uint32_t length) {
  Cdb12 cdb = Template(direction, subCommand);
  PutBigEndian(cdb, kLength16, length, 2);
  PutBigEndian(cdb, kAddress, address, 3);
  return cdb;
}

Cdb12 RegisterCdb(uint8_t direction, uint8_t subCommand, uint16_t address, uint32_t length) {
  Cdb12 cdb = Template(direction, subCommand);
  PutBigEndian(cdb, kLength16, length, 2);
  PutBigEndian(cdb, kRegister, address, 2);
  return cdb;
}

constexpr uint8_t Low(uint16_t slot) { return static_cast<uint8_t>(slot); }

// SMART RETURN STATUS: feature DA, LBA mid/high 4F C2, command B0; a good
// drive answers C2 in LBA high.
constexpr AtaTaskRecord kSmartReturnStatus = {
    .direction = 1,
    .transferLength = 1,
    .feature = 0xDA,
    .sectorCount = 0,
    .lbaLow = 0,
    .lbaMid = 0x4F,
    .lbaHigh = 0xC2,
    .device = kAtaDeviceMaster,
    .command = 0xB0,
};
constexpr uint8_t kSmartGoodSignature = 0xC2;

}  // namespace

int ReadBridgeId(const char* devicePath, uint8_t* id) {
  return cdb::SendIn(devicePath, kReadBridgeId, id, kBridgeIdSize);
}

int ReadBridgeFlash(const char* devicePath, uint32_t address, uint8_t* buffer, uint32_t length) {
  if (!Fits(address, 24) || !Fits(length, 16)) return 0;
  return cdb::SendIn(devicePath, FlashCdb(kFromDevice, kSubReadFlash, address, length), buffer,
                     length);
}

int WriteBridgeFlash(const char* devicePath, uint32_t address, const uint8_t* data, uint32_t length,
                     uint8_t eraseType) {
  if (!Fits(address, 24) || !Fits(length, 16)) return 0;
  const uint8_t direction = eraseType & kEraseTypeMask;
  return cdb::SendOut(devicePath, FlashCdb(direction, kSubWriteFlash, address, length), data,
                      length);
}

int ReadBridgeFlashHead(const char* devicePath, uint8_t* buffer, uint32_t length) {
  return ReadBridgeFlash(devicePath, 0, buffer, length);
}

int WriteBridgeFlashHead(const char* devicePath, const uint8_t* data, uint32_t length) {
  return WriteBridgeFlash(devicePath, 0, data, length, 0);
}

int ReadBridgeRegister(const char* devicePath, uint16_t address, uint8_t* buffer, uint32_t length) {
  if (!Fits(length, 16)) return 0;
  return cdb::SendIn(devicePath, RegisterCdb(kFromDevice, kSubReadRegister, address, length),
                     buffer, length);
}

int WriteBridgeRegister(const char* devicePath, uint16_t address, const uint8_t* data,
                        uint32_t length) {
  if (!Fits(length, 16)) return 0;
  return cdb::SendOut(devicePath, RegisterCdb(kToDevice, kSubWriteRegister, address, length), data,
                      length);
}

int BridgeAtaTask(const char* devicePath, const AtaTaskRecord& task, uint8_t* data) {
  if (!Fits(task.transferLength, 24)) return 0;
  Cdb12 cdb = {kDfOpcode, task.direction ? kFromDevice : kToDevice};
  PutBigEndian(cdb, kLength24, task.transferLength, 3);
  const uint8_t taskFile[] = {Low(task.feature), Low(task.sectorCount), Low(task.lbaLow),
                              Low(task.lbaMid),  Low(task.lbaHigh),     task.device,
                              task.command};
  for (size_t i = 0; i < sizeof(taskFile); ++i) cdb[kTaskFile + i] = taskFile[i];
  return task.direction ? cdb::SendIn(devicePath, cdb, data, task.transferLength)
                        : cdb::SendOut(devicePath, cdb, data, task.transferLength);
}

int SmartReturnStatus(const char* devicePath) {
  uint8_t lbaHigh = 0;
  return BridgeAtaTask(devicePath, kSmartReturnStatus, &lbaHigh) && lbaHigh == kSmartGoodSignature
             ? 1
             : 0;
}

int BridgeIdentifyDevice(const char* devicePath, uint8_t device, uint8_t command, uint8_t* buffer) {
  AtaTaskRecord task;
  task.direction = 1;
  task.transferLength = kIdentifyDataSize;
  task.device = device;
  task.command = command;
  return BridgeAtaTask(devicePath, task, buffer);
}

}  // namespace bridge
