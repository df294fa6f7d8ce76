// The partition layout on a disk image, as the system reads and writes it,
// and what the system has seen of it.
#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/disk_ioctl.h"
#include "platform/text.h"
#include "platform/window_messages.h"
#include "sim/disk_image.h"
#include "sim/device_notices.h"
#include "sim/volume_system.h"

namespace sim {
namespace {

using platform::GetLittleEndian32;
using platform::PutLittleEndian32;

// CHS of an LBA in the 255-head, 63-sector translation, capped as the
// table does past its reach.
void PutChs(uint8_t* p, uint64_t lba) {
  uint64_t c = lba / (255 * 63), h = (lba / 63) % 255, s = lba % 63 + 1;
  if (c > 1023) {
    c = 1023;
    h = 254;
    s = 63;
  }
  p[0] = static_cast<uint8_t>(h);
  p[1] = static_cast<uint8_t>(s | ((c >> 2) & 0xC0));
  p[2] = static_cast<uint8_t>(c & 0xFF);
}

}  // namespace

bool VolumeSystem::ReadSectors(Product& p, int drive, uint64_t lba, uint64_t count, uint8_t* out) {
  return p.WithBridge([&](EmulatedBridge& b) {
    DiskImage& d = drive == 0 ? b.disk() : b.disk2();
    return b.MediumPresent(drive) && d.Read(lba, count, out);
  });
}

bool VolumeSystem::WriteSectors(Product& p, int drive, uint64_t lba, uint64_t count, const uint8_t* in) {
  return p.WithBridge([&](EmulatedBridge& b) {
    DiskImage& d = drive == 0 ? b.disk() : b.disk2();
    return b.MediumWritable(drive) && d.Write(lba, count, in);
  });
}

VolumeSystem::DiskShape VolumeSystem::Shape(Product& p, int drive) {
  return p.WithBridge([&](EmulatedBridge& b) {
    DiskImage& d = drive == 0 ? b.disk() : b.disk2();
    return DiskShape{b.MediumPresent(drive), d.sectors(), d.sectorSize()};
  });
}

bool VolumeSystem::ReadMbr(Product& p, int drive, Mbr* mbr) {
  const DiskShape shape = Shape(p, drive);
  if (!shape.present) return false;
  std::vector<uint8_t> sector(shape.sectorSize);
  if (!ReadSectors(p, drive, 0, 1, sector.data())) return false;
  mbr->valid = sector[510] == 0x55 && sector[511] == 0xAA;
  mbr->signature = GetLittleEndian32(&sector[0x1B8]);
  std::memcpy(mbr->table.data(), &sector[0x1BE], 64);
  for (int i = 0; i < 4; ++i) {
    const uint8_t* e = &sector[0x1BE + 16 * i];
    mbr->entries[i] = {e[0], e[4], GetLittleEndian32(e + 8), GetLittleEndian32(e + 12)};
  }
  mbr->gpt = false;
  mbr->gptTable = GptTable{};
  if (mbr->valid && HasProtectiveEntry(*mbr)) ReadGptLayout(p, drive, shape, mbr);
  return true;
}

// The partitions a valid MBR gives, in table order (entries with a type and
// a length).
std::vector<VolumeSystem::MbrEntry> VolumeSystem::UsedEntries(const Mbr& mbr) {
  std::vector<MbrEntry> used;
  if (!mbr.valid) return used;
  for (const MbrEntry& e : mbr.entries)
    if (e.type != 0 && e.sectors != 0) used.push_back(e);
  return used;
}

bool VolumeSystem::WriteMbrTable(Product& p, int drive, const std::array<MbrEntry, 4>& entries,
                                   uint32_t signature, bool keepBootCode) {
  const DiskShape shape = Shape(p, drive);
  std::vector<uint8_t> sector(shape.sectorSize, 0);
  if (keepBootCode && !ReadSectors(p, drive, 0, 1, sector.data())) return false;
  PutLittleEndian32(&sector[0x1B8], signature);
  for (int i = 0; i < 4; ++i) {
    uint8_t* e = &sector[0x1BE + 16 * i];
    std::memset(e, 0, 16);
    const MbrEntry& m = entries[i];
    if (m.type == 0 && m.sectors == 0) continue;
    e[0] = m.boot;
    PutChs(e + 1, m.start);
    e[4] = m.type;
    PutChs(e + 5, m.start + (m.sectors ? m.sectors - 1 : 0));
    PutLittleEndian32(e + 8, m.start);
    PutLittleEndian32(e + 12, m.sectors);
  }
  sector[510] = 0x55;
  sector[511] = 0xAA;
  return WriteSectors(p, drive, 0, 1, sector.data());
}

// A drive that still has only the bench file's volumes gets an MBR that
// says what those volumes are, the first time the layout matters.
void VolumeSystem::EnsureMbr(Product& p, int drive) {
  Mbr mbr;
  if (!ReadMbr(p, drive, &mbr) || mbr.valid) return;
  const uint32_t letters = p.Letters(drive);
  const int n = std::min(std::popcount(letters), 4);
  if (n == 0) return;
  const DiskShape shape = Shape(p, drive);
  std::array<MbrEntry, 4> entries{};
  const uint64_t part = shape.sectors / static_cast<uint64_t>(n);
  const std::string& fsName = p.config().volume.fileSystem;
  const uint8_t type = platform::EqualNoCase(fsName, "FAT32") ? platform::kPartitionFat32Xint13 : platform::kPartitionIfs;
  for (int k = 0; k < n; ++k) {
    const uint64_t start = k == 0 ? 63 : part * static_cast<uint64_t>(k);
    const uint64_t end = k == n - 1 ? shape.sectors : part * static_cast<uint64_t>(k + 1);
    if (end <= start) continue;
    entries[k] = {0, type, static_cast<uint32_t>(start), static_cast<uint32_t>(std::min<uint64_t>(end - start, 0xFFFFFFFFu))};
  }
  WriteMbrTable(p, drive, entries, 0x4B535631u + static_cast<uint32_t>(p.index()), false);
  ReadMbr(p, drive, &mbr);
  DriveState& ds = drives_[{p.index(), drive}];
  ds.seenTable = mbr.table;
  ds.seenValid = true;
}

// Called under the bench-wide lock for every transfer on a volume handle:
// the table (and the GPT behind it, checksums and all) is read once unless
// it has to be written first.
bool VolumeSystem::PartitionOf(Product& p, int drive, uint32_t partition, MbrEntry* out) {
  Mbr mbr;
  if (!ReadMbr(p, drive, &mbr)) return false;
  if (!mbr.valid) {
    EnsureMbr(p, drive);
    if (!ReadMbr(p, drive, &mbr)) return false;
  }
  const std::vector<MbrEntry> used = UsedEntries(mbr);
  if (partition == 0 || partition > used.size()) return false;
  *out = used[partition - 1];
  return true;
}

// The old volumes of the drive go at once; the new ones show after the
// arrival delay, under the letters the drive had.
void VolumeSystem::LayoutChanged(Product& p, int drive) {
  DriveState& ds = drives_[{p.index(), drive}];
  ++ds.epoch;
  const uint32_t previous = p.Letters(drive);
  if (previous != 0) ds.lettersBefore = previous;
  p.SetLetters(drive, 0);
  for (auto it = volumes_.begin(); it != volumes_.end();) {
    if (std::get<0>(it->first) == p.index() && std::get<1>(it->first) == drive) {
      RemoveFolder(it->second);
      it = volumes_.erase(it);
    } else {
      ++it;
    }
  }
  Mbr mbr;
  ReadMbr(p, drive, &mbr);
  ds.seenTable = mbr.table;
  ds.seenValid = true;
  ds.arrivalCount = static_cast<int>(UsedEntries(mbr).size());
  ds.arrivalPending = ds.arrivalCount > 0;
  ds.arrivalDue = NowMs() + system_.config.volumeArrivalMs;
  AnnounceVolumes(previous, false);
  if (ds.arrivalPending) platform::ScheduleSystemWork(ds.arrivalDue, this, [this] { Settle(); });
}

void VolumeSystem::Reread(Product& p, int drive) {
  Mbr mbr;
  if (!ReadMbr(p, drive, &mbr)) return;
  DriveState& ds = drives_[{p.index(), drive}];
  if (!ds.seenValid) {
    // First look: the drive's present volumes are what the table says.
    ds.seenTable = mbr.table;
    ds.seenValid = true;
    return;
  }
  if (mbr.table != ds.seenTable) LayoutChanged(p, drive);
}

void VolumeSystem::KeepLayout(Product& p, int drive) {
  Mbr mbr;
  ReadMbr(p, drive, &mbr);
  DriveState& ds = drives_[{p.index(), drive}];
  ds.seenTable = mbr.table;
  ds.seenValid = true;
}

void VolumeSystem::Rescan() {
  for (auto& product : products_) {
    Product& p = *product;
    p.SetDiskPending(false);
    if (!p.Online()) continue;
    for (int drive = 0; drive < 2; ++drive)
      if (Shape(p, drive).present) Reread(p, drive);
  }
}

}  // namespace sim
