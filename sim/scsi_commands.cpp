// The standard commands a bridge answers for its drive: INQUIRY, the ATA
// pass-throughs and the DF-tunnelled task file, MODE SENSE/SELECT of the
// power condition page, the identity record, and the block commands.
#include <algorithm>
#include <array>
#include <cstring>

#include "platform/byte_order.h"
#include "sim/bridge_commands.h"
#include "sim/chip_models.h"
#include "sim/disk_image.h"
#include "sim/identity_image.h"
#include "sim/product_config.h"
#include "sim/standby_state.h"

namespace sim::commands {

namespace {

using platform::GetBigEndian16;
using platform::GetBigEndian24;
using platform::GetBigEndian32;
using platform::PutBigEndian32;
using platform::PutBigEndian64;

constexpr uint32_t kInquiryLength = 96;
constexpr uint32_t kPageC3Length = 84;
constexpr uint32_t kIdentityRecordLength = 72;
constexpr uint32_t kModeHeaderLength = 8;

// The drive a task file reaches: the port its device byte names (0xA0
// master, 0xB0 slave), or on the port-1 unit that drive alone. Null when
// no drive is there.
DiskImage* DriveAt(Context& c, uint8_t device) {
  DiskImage& drive = (c.unit == 1 || (device & 0x10) != 0) ? c.disk2 : c.disk;
  if (&drive == &c.disk && c.config.ufs.present) return nullptr;  // a UFS device is no ATA drive
  return drive.present() ? &drive : nullptr;
}

// The drive the unit's SCSI commands address.
DiskImage& UnitDrive(Context& c) { return c.unit == 1 ? c.disk2 : c.disk; }

// Block transfer in sectors over the given range; `limit` is the last
// sector + 1 the command may reach.
CommandResult BlockTransfer(DiskImage& disk, const Request& r, bool in, uint64_t lba,
                            uint64_t count, uint64_t limit) {
  const uint32_t ss = disk.sectorSize();
  if (!disk.present() || disk.packetDevice()) return Check();
  if (lba > limit || count > limit - lba) return Check();
  const uint64_t bytes = count * ss;
  if (r.dataIn != in && r.length > 0) return Check();
  // Whole sectors only, and the buffer must hold them.
  if (r.length % ss != 0 || r.length < bytes) return Check();
  if (!in && r.length != bytes) return Check();
  if (count == 0) return Good();
  const bool ok = in ? disk.Read(lba, count, r.data) : disk.Write(lba, count, r.data);
  if (!ok) return Check();
  return Good(static_cast<uint32_t>(bytes));
}

}  // namespace

CommandResult AtaTask(Context& c, const Request& r) {
  const uint8_t* cdb = r.cdb;
  if (cdb[1] != 0x10 && cdb[1] != 0x00) return Check();
  const bool in = cdb[1] == 0x10;
  const uint32_t n = GetBigEndian24(cdb + 2);
  const uint8_t feature = cdb[5], count = cdb[6], lbaLow = cdb[7], lbaMid = cdb[8],
                lbaHigh = cdb[9], device = cdb[10], command = cdb[11];
  if (in != r.dataIn && r.length > 0) return Check();
  DiskImage* drive = DriveAt(c, device);
  if (drive == nullptr) return Check();
  switch (command) {
    case 0xEC:
    case 0xA1: {
      // A drive answers only the IDENTIFY of its own kind.
      if ((command == 0xA1) != drive->packetDevice()) return Check();
      if (!in || n != 512 || !Fits(r, true, n)) return Check();
      const auto id = drive->Identify();
      std::memcpy(r.data, id.data(), id.size());
      return Good(512);
    }
    case 0xB0: {
      if (feature != 0xDA || lbaMid != 0x4F || lbaHigh != 0xC2) return Check();
      if (drive->packetDevice() || !in || n != 1 || !Fits(r, true, n)) return Check();
      r.data[0] = 0xC2;  // LBA high of a drive that reports no threshold exceeded
      return Good(1);
    }
    case 0x25:
    case 0x35: {
      // The tunnel carries LBA28: LBA low/mid/high and the device register's
      // low nibble; a count of 0 means 256 sectors.
      if (in != (command == 0x25)) return Check();
      const uint64_t lba = lbaLow | (uint32_t{lbaMid} << 8) | (uint32_t{lbaHigh} << 16) |
                           (uint32_t{device & 0x0Fu} << 24);
      const uint64_t sectors = count == 0 ? 256 : count;
      if (n != sectors * drive->sectorSize() || r.length < n) return Check();
      const Request exact{r.cdb, r.cdbLength, r.dataIn, r.data, in ? r.length : n};
      return BlockTransfer(*drive, exact, in, lba, sectors, drive->totalSectors());
    }
    case 0xE7:
    case 0xEA:
      return n == 0 && NoData(r) ? Good() : Check();
    default:
      return Check();
  }
}

CommandResult Inquiry(Context& c, const Request& r) {
  if (r.cdbLength < 6) return Check();
  const uint8_t* cdb = r.cdb;
  const uint32_t allocation = GetBigEndian16(cdb + 3);
  if (cdb[1] & 0x01) {
    if (cdb[2] != 0xC3) return Check();
    std::array<uint8_t, kPageC3Length> page{};
    page[1] = 0xC3;
    page[3] = kPageC3Length - 4;
    page[8] = static_cast<uint8_t>(c.identity.vid >> 8);
    page[9] = static_cast<uint8_t>(c.identity.vid);
    page[10] = static_cast<uint8_t>(c.identity.pid >> 8);
    page[11] = static_cast<uint8_t>(c.identity.pid);
    PutText(page.data() + 64, 20, c.identity.serial, ' ');
    return Reply(r, page.data(), page.size(), allocation);
  }
  if (cdb[2] != 0) return Check();
  std::array<uint8_t, kInquiryLength> data{};
  data[0] = UnitDrive(c).packetDevice() ? 0x05 : 0x00;
  data[2] = 0x06;
  data[3] = 0x02;
  data[4] = kInquiryLength - 5;
  PutText(data.data() + 8, 8, c.identity.inquiryVendor, ' ');
  PutText(data.data() + 16, 16, c.identity.inquiryProduct, ' ');
  PutText(data.data() + 32, 4, c.identity.inquiryRevision, ' ');
  if (!c.bootCode && c.config.chipCodeInInquiry && !c.config.foreignBridge &&
      !c.model.inquiryCode.empty())
    PutText(data.data() + 36, 4, std::string(c.model.inquiryCode), ' ');
  return Reply(r, data.data(), data.size(), allocation);
}

CommandResult SatCommand(Context& c, const Request& r) {
  if (r.cdbLength < 12 || c.bootCode) return Check();
  const uint8_t device = r.cdb[8];
  const uint8_t command = r.cdb[9];
  DiskImage* drive = DriveAt(c, device);
  if (drive == nullptr) return Check();
  switch (command) {
    case 0xEC:
    case 0xA1: {
      if ((command == 0xA1) != drive->packetDevice() || !Fits(r, true, 512)) return Check();
      const auto id = drive->Identify();
      std::memcpy(r.data, id.data(), id.size());
      return Good(512);
    }
    case 0xE7:
    case 0xEA:
      return NoData(r) ? Good() : Check();
    default:
      return Check();
  }
}

CommandResult AtaPassThrough16(Context& c, const Request& r) {
  if (r.cdbLength < 16 || c.bootCode) return Check();
  const uint8_t* cdb = r.cdb;
  const uint8_t command = cdb[14];
  if (command != 0x25 && command != 0x35) return Check();
  DiskImage* drive = DriveAt(c, cdb[13]);
  if (drive == nullptr) return Check();
  const uint64_t count = GetBigEndian16(cdb + 5);
  const uint64_t lba = (uint64_t{cdb[11]} << 40) | (uint64_t{cdb[9]} << 32) |
                       (uint64_t{cdb[7]} << 24) | (uint64_t{cdb[12]} << 16) |
                       (uint64_t{cdb[10]} << 8) | cdb[8];
  return BlockTransfer(*drive, r, command == 0x25, lba, count == 0 ? 65536 : count,
                       drive->totalSectors());
}

CommandResult ModeSense(Context& c, const Request& r) {
  if (r.cdbLength < 10 || (r.cdb[2] & 0x3F) != 0x1A) return Check();
  std::array<uint8_t, kModeHeaderLength + kPowerPageLength> data{};
  data[1] = static_cast<uint8_t>(data.size() - 2);  // mode data length; no block descriptors
  std::copy(c.vendor.powerCondition.begin(), c.vendor.powerCondition.end(),
            data.begin() + kModeHeaderLength);
  return Reply(r, data.data(), data.size(), GetBigEndian16(r.cdb + 7));
}

CommandResult ModeSelect(Context& c, const Request& r) {
  if (r.cdbLength < 10) return Check();
  const uint32_t n = GetBigEndian16(r.cdb + 7);
  if (!Fits(r, false, n) || n < kModeHeaderLength) return Check();
  const uint32_t pageAt = kModeHeaderLength + GetBigEndian16(r.data + 6);  // after block descriptors
  if (uint64_t{pageAt} + kPowerPageLength > n) return Check();
  const uint8_t* page = r.data + pageAt;
  if ((page[0] & 0x3F) != 0x1A || page[1] != kPowerPageLength - 2) return Check();
  std::copy_n(page, kPowerPageLength, c.vendor.powerCondition.begin());
  c.vendor.powerCondition[0] &= 0x7F;
  StandbyFromPage(c.vendor);
  return Good(n);
}

CommandResult IdentityRecord(Context& c, const Request& r) {
  if (r.cdbLength < 12 || r.cdb[1] != 0x30) return Check();
  if (c.model.family != ChipFamily::kBuffer4K && c.model.family != ChipFamily::kBuffer1K)
    return Check();
  if (GetBigEndian16(r.cdb + 8) != kIdentityRecordLength || !Fits(r, false, kIdentityRecordLength))
    return Check();
  c.vendor.identityRecord.assign(r.data, r.data + kIdentityRecordLength);
  c.vendor.identityValue1 = static_cast<uint16_t>(GetBigEndian16(r.cdb + 4));
  c.vendor.identityValue2 = static_cast<uint16_t>(GetBigEndian16(r.cdb + 6));
  return Good(kIdentityRecordLength);
}

CommandResult DiskCommand(Context& c, const Request& r) {
  DiskImage& disk = UnitDrive(c);
  if (c.bootCode || !disk.present() || disk.packetDevice()) return Check();
  const uint8_t* cdb = r.cdb;
  const uint64_t sectors = disk.sectors();
  const uint32_t ss = disk.sectorSize();
  switch (cdb[0]) {
    case 0x25: {
      if (r.cdbLength < 10) return Check();
      uint8_t data[8];
      PutBigEndian32(data, sectors == 0 ? 0 : static_cast<uint32_t>(std::min<uint64_t>(sectors - 1, 0xFFFFFFFF)));
      PutBigEndian32(data + 4, ss);
      return Reply(r, data, sizeof data);
    }
    case 0x9E: {
      if (r.cdbLength < 16 || (cdb[1] & 0x1F) != 0x10) return Check();
      uint8_t data[32] = {};
      PutBigEndian64(data, sectors == 0 ? 0 : sectors - 1);
      PutBigEndian32(data + 8, ss);
      return Reply(r, data, sizeof data, GetBigEndian32(cdb + 10));
    }
    case 0x28:
    case 0x2A:
      if (r.cdbLength < 10) return Check();
      return BlockTransfer(disk, r, cdb[0] == 0x28, GetBigEndian32(cdb + 2), GetBigEndian16(cdb + 7), sectors);
    case 0x35:  // SYNCHRONIZE CACHE(10): nothing is cached
    case 0x04:  // FORMAT UNIT without a parameter list: the medium keeps its sectors
      return NoData(r) ? Good() : Check();
    default:
      return Check();
  }
}

}  // namespace sim::commands
