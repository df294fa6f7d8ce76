// The other vendor commands and the standard SCSI and SAT commands the
// library wraps.
#include "bridge/cdb.h"
#include "bridge/vendor_commands.h"

namespace bridge {
namespace {

using cdb::Cdb10;
using cdb::Cdb12;
using cdb::Cdb16;
using cdb::Fits;
using cdb::PutBigEndian;

constexpr Cdb12 kReadChipInfo = {0xE0, 0xF4, 0xE7};
// ATA PASS-THROUGH(12) to device A0.
constexpr Cdb12 kSatIdentifyDevice = {0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC};
constexpr Cdb12 kFlushCacheExt = {0xA1, 0x06, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xEA};
constexpr Cdb10 kModeSensePowerCondition = {0x5A, 0x08, 0x1A};
constexpr Cdb10 kModeSelectPowerCondition = {0x55, 0x01, 0, 0, 0, 0, 0, 0, 0x30, 0x00};
constexpr Cdb12 kWriteIdentityRecord = {0xC3, 0x30, 0, 0, 0, 0, 0, 0, 0x00, 0x48};

constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kInquiryEvpd = 0x01;
constexpr uint8_t kVendorPageC3 = 0xC3;

// ATA PASS-THROUGH(16) READ/WRITE DMA EXT: protocol and direction bytes, the
// device byte and the command, and where each LBA byte goes.
struct DmaExtLayout {
  uint8_t protocol;
  uint8_t flags;
  uint8_t command;
};
constexpr DmaExtLayout kReadDmaExt = {0x15, 0x0B, 0x25};
constexpr DmaExtLayout kWriteDmaExt = {0x17, 0x03, 0x35};
constexpr uint8_t kDmaExtDevice = 0x60;
constexpr size_t kSectorCount = 5;  // c-hi c-lo
// LBA byte positions 7..12: bits 31:24, 7:0, 39:32, 15:8, 47:40, 23:16.
constexpr unsigned kLbaShiftAt[6] = {24, 0, 32, 8, 40, 16};
constexpr size_t kLbaFirst = 7;

// Builds the 16-byte CDB; false when the transfer cannot be expressed.
bool DmaExtCdb(const DmaExtLayout& layout, uint64_t lba, uint32_t byteCount, uint32_t sectorSize,
               Cdb16* out) {
  if (sectorSize == 0 || !Fits(lba, 48)) return false;
  const uint32_t sectors = byteCount / sectorSize;
  if (!Fits(sectors, 16)) return false;
  Cdb16 cdb = {0x85, layout.protocol, layout.flags};
  PutBigEndian(cdb, kSectorCount, sectors, 2);
  for (size_t i = 0; i < 6; ++i) cdb[kLbaFirst + i] = static_cast<uint8_t>(lba >> kLbaShiftAt[i]);
  cdb[13] = kDmaExtDevice;
  cdb[14] = layout.command;
  *out = cdb;
  return true;
}

Cdb10 BufferCdb(uint8_t opcode, BufferMode mode, BufferId bufferId, uint32_t offset,
                uint32_t length) {
  Cdb10 cdb = {opcode, static_cast<uint8_t>(mode), static_cast<uint8_t>(bufferId)};
  PutBigEndian(cdb, 3, offset, 3);
  PutBigEndian(cdb, 6, length, 3);
  return cdb;
}

}  // namespace

int ReadChipInfo(const char* devicePath, uint8_t* buffer, uint32_t length) {
  return cdb::SendIn(devicePath, kReadChipInfo, buffer, length);
}

int Inquiry(const char* devicePath, uint8_t* buffer, uint32_t length) {
  if (!Fits(length, 8)) return 0;
  const Cdb12 cdb = {kInquiry, 0x00, 0x00, 0x00, static_cast<uint8_t>(length)};
  return cdb::SendIn(devicePath, cdb, buffer, length);
}

int InquiryPageC3(const char* devicePath, uint8_t* buffer, uint32_t length) {
  if (!Fits(length, 8)) return 0;
  const Cdb12 cdb = {kInquiry, kInquiryEvpd, kVendorPageC3, 0x00, static_cast<uint8_t>(length)};
  return cdb::SendIn(devicePath, cdb, buffer, length);
}

int SatIdentifyDevice(const char* devicePath, uint8_t* buffer) {
  return cdb::SendIn(devicePath, kSatIdentifyDevice, buffer, kIdentifyDataSize);
}

int FlushCacheExt(const char* devicePath) { return cdb::SendNoData(devicePath, kFlushCacheExt); }

int AtaReadDmaExt(const char* devicePath, uint64_t lba, uint8_t* buffer, uint32_t byteCount,
                  uint32_t sectorSize) {
  Cdb16 cdb;
  if (!DmaExtCdb(kReadDmaExt, lba, byteCount, sectorSize, &cdb)) return 0;
  return cdb::SendIn(devicePath, cdb, buffer, byteCount);
}

int AtaWriteDmaExt(const char* devicePath, uint64_t lba, const uint8_t* data, uint32_t byteCount,
                   uint32_t sectorSize) {
  Cdb16 cdb;
  if (!DmaExtCdb(kWriteDmaExt, lba, byteCount, sectorSize, &cdb)) return 0;
  return cdb::SendOut(devicePath, cdb, data, byteCount);
}

int ScsiReadBuffer(const char* devicePath, BufferMode mode, BufferId bufferId, uint32_t offset,
                   uint8_t* buffer, uint32_t length) {
  if (!Fits(offset, 24) || !Fits(length, 24)) return 0;
  return cdb::SendIn(devicePath, BufferCdb(0x3C, mode, bufferId, offset, length), buffer, length);
}

int ScsiWriteBuffer(const char* devicePath, BufferId bufferId, BufferMode mode, uint32_t offset,
                    const uint8_t* data, uint32_t length) {
  // The reset carries nothing: no length in the CDB and no data phase, so a
  // caller's buffer never reaches the bridge with it.
  if (mode == kWriteBufferActivateMode) {
    return cdb::SendNoData(devicePath, Cdb10{0x3B, static_cast<uint8_t>(mode)});
  }
  if (!Fits(offset, 24) || !Fits(length, 24)) return 0;
  return cdb::SendOut(devicePath, BufferCdb(0x3B, mode, bufferId, offset, length), data, length);
}

int ModeSensePowerCondition(const char* devicePath, uint8_t* buffer, uint32_t length) {
  if (!Fits(length, 16)) return 0;
  Cdb10 cdb = kModeSensePowerCondition;
  PutBigEndian(cdb, 7, length, 2);
  return cdb::SendIn(devicePath, cdb, buffer, length);
}

int ModeSelectPowerCondition(const char* devicePath, const uint8_t* page) {
  return cdb::SendOut(devicePath, kModeSelectPowerCondition, page, kPowerConditionPageSize);
}

int WriteIdentityRecord(const char* devicePath, uint16_t x, uint16_t y, const uint8_t* record) {
  Cdb12 cdb = kWriteIdentityRecord;
  PutBigEndian(cdb, 4, x, 2);
  PutBigEndian(cdb, 6, y, 2);
  return cdb::SendOut(devicePath, cdb, record, kIdentityRecordSize);
}

}  // namespace bridge
