// Formats and labels as the system's format and label services write them:
// a FAT32 volume gets its boot sectors, FSInfo, FATs and root folder; NTFS
// and exFAT a boot sector, their label kept by the bench.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/disk_ioctl.h"
#include "platform/text.h"
#include "sim/device_notices.h"
#include "sim/volume_system.h"

namespace sim {
namespace {

using platform::EqualNoCase;
using platform::PutLittleEndian16;
using platform::PutLittleEndian32;

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool FatLabelChar(char c) {
  return static_cast<unsigned char>(c) >= 0x20 && std::strchr("*?.,;:/\\|+=<>[]\"", c) == nullptr;
}

// 0 when the label suits the file system, else the last-error code.
uint32_t CheckLabel(const std::string& fileSystem, const std::string& label) {
  const bool fat = EqualNoCase(fileSystem, "FAT32") || EqualNoCase(fileSystem, "FAT");
  const size_t limit = EqualNoCase(fileSystem, "NTFS") ? 32 : 11;
  if (label.size() > limit) return platform::kErrorLabelTooLong;
  for (char c : label) {
    if (fat ? !FatLabelChar(c) : (static_cast<unsigned char>(c) < 0x20 || std::strchr("*?/\\|<>\"", c) != nullptr))
      return platform::kErrorInvalidLabel;
  }
  return 0;
}

}  // namespace

bool VolumeSystem::SetLabel(char letter, const std::string& label, uint32_t* error) {
  Product* p = nullptr;
  int drive = 0;
  uint32_t partition = 0;
  Volume* v = UsableVolumeOfLetter(letter, &p, &drive, &partition, error);
  if (v == nullptr) return false;
  if (const uint32_t bad = CheckLabel(v->fileSystem, label)) {
    *error = bad;
    return false;
  }
  uint32_t faultError = 0;
  if (faults_.Take(SystemOp::SetLabel, p->config().name, &faultError)) {
    *error = faultError ? faultError : platform::kErrorAccessDenied;
    return false;
  }
  const std::string text = v->fat ? platform::AsciiUpper(label) : label;
  if (!v->configured && v->fat && v->labelSector != 0) {
    // FAT32 keeps it as the root folder's label entry and in the boot sector.
    const uint32_t bps = v->sectorSize;
    std::vector<uint8_t> dir(bps);
    if (!ReadSectors(*p, drive, v->labelSector, 1, dir.data())) {
      *error = platform::kErrorIoDevice;
      return false;
    }
    uint32_t slot = bps;
    for (uint32_t off = 0; off + 32 <= bps; off += 32) {
      const uint8_t* e = &dir[off];
      if (e[0] != 0 && e[0] != 0xE5 && e[11] != 0x0F && (e[11] & 0x08) && !(e[11] & 0x10)) {
        slot = off;
        break;
      }
      if ((e[0] == 0 || e[0] == 0xE5) && slot == bps) slot = off;
      if (e[0] == 0) break;
    }
    if (slot < bps) {
      uint8_t* e = &dir[slot];
      if (text.empty()) {
        if (e[11] & 0x08) e[0] = 0xE5;
      } else {
        std::memset(e, 0, 32);
        std::memset(e, ' ', 11);
        std::memcpy(e, text.data(), text.size());
        e[11] = 0x08;
      }
      WriteSectors(*p, drive, v->labelSector, 1, dir.data());
    }
    std::vector<uint8_t> bs(bps);
    for (uint64_t copy : {uint64_t{0}, uint64_t{6}}) {
      if (!ReadSectors(*p, drive, v->partStart + copy, 1, bs.data())) continue;
      std::memset(&bs[71], ' ', 11);
      std::memcpy(&bs[71], text.empty() ? "NO NAME" : text.c_str(), text.empty() ? 7 : text.size());
      WriteSectors(*p, drive, v->partStart + copy, 1, bs.data());
    }
  } else if (!v->configured) {
    recordedLabels_[{p->index(), drive, v->serial}] = text;
  }
  v->label = text;
  return true;
}

bool VolumeSystem::SetVolumeLabel(char letter, const std::string& label, uint32_t* error) {
  std::lock_guard lock(mutex_);
  return SetLabel(letter, label, error);
}

int VolumeSystem::FormatVolume(char letter, const std::string& fileSystem, const std::string& label,
                               uint32_t clusterBytes, bool force, std::string* message) {
  Product* p = nullptr;
  int drive = 0;
  uint32_t partition = 0;
  Volume* v = VolumeOfLetter(letter, &p, &drive, &partition);
  if (v == nullptr) {
    *message = "The system cannot find the drive specified.";
    return 4;
  }
  if (v->lockedBy != nullptr || (!force && (v->openHandles > 0 || v->pins.use_count() > 1))) {
    *message = "Format cannot run because the volume is in use by another process.";
    return 4;
  }
  const bool fat32 = EqualNoCase(fileSystem, "FAT32");
  const bool ntfs = EqualNoCase(fileSystem, "NTFS");
  const bool exfat = EqualNoCase(fileSystem, "exFAT");
  if (!fat32 && !ntfs && !exfat) {
    *message = "The file system does not exist or is not supported.";
    return 1;
  }
  MbrEntry part{};
  if (!PartitionOf(*p, drive, partition, &part)) {
    *message = "The volume does not contain a recognized partition.";
    return 4;
  }
  const DiskShape shape = Shape(*p, drive);
  const uint32_t bps = shape.sectorSize;
  const uint64_t bytes = uint64_t{part.sectors} * bps;
  if (clusterBytes == 0) {
    if (ntfs) clusterBytes = 4096;
    else if (fat32)
      clusterBytes = bytes <= (64ull << 20) ? 512 : bytes <= (128ull << 20) ? 1024 : bytes <= (256ull << 20) ? 2048
                   : bytes <= (8ull << 30) ? 4096 : bytes <= (16ull << 30) ? 8192 : 16384;
    else clusterBytes = bytes <= (256ull << 20) ? 4096 : 32768;
    clusterBytes = std::max(clusterBytes, bps);
  }
  if (!IsPowerOfTwo(clusterBytes) || clusterBytes < bps || clusterBytes > 65536) {
    *message = "The specified cluster size is invalid.";
    return 4;
  }
  if (fat32 && bytes > (32ull << 30)) {
    *message = "The volume is too big for FAT32.";
    return 4;
  }
  if (CheckLabel(fileSystem, label) != 0) {
    *message = "The volume label is not valid.";
    return 4;
  }
  uint32_t faultError = 0;
  if (faults_.Take(SystemOp::Format, p->config().name, &faultError)) {
    *message = "The format failed.";
    return 4;
  }
  const uint32_t spc = clusterBytes / bps;
  uint32_t serial = 0;
  do {
    serial = static_cast<uint32_t>(NowMs() * 2654435761u) ^ (++serialCounter_ * 0x9E3779B9u) ^ v->serial;
  } while (serial == 0 || serial == v->serial);
  std::vector<uint8_t> bs(bps, 0);
  const std::string text = fat32 ? platform::AsciiUpper(label) : label;
  uint8_t type = platform::kPartitionIfs;
  if (fat32) {
    const uint32_t total = part.sectors;
    const uint32_t reserved = 32;
    uint32_t fatSize = 1;
    uint64_t clusters = 0;
    for (;;) {
      clusters = (total - reserved - 2ull * fatSize) / spc;
      const uint64_t need = ((clusters + 2) * 4 + bps - 1) / bps;
      if (need <= fatSize) break;
      fatSize = static_cast<uint32_t>(need);
    }
    if (clusters < 65525) {
      *message = "The volume is too small for FAT32.";
      return 4;
    }
    bs[0] = 0xEB; bs[1] = 0x58; bs[2] = 0x90;
    std::memcpy(&bs[3], "MSDOS5.0", 8);
    PutLittleEndian16(&bs[11], static_cast<uint16_t>(bps));
    bs[13] = static_cast<uint8_t>(spc);
    PutLittleEndian16(&bs[14], static_cast<uint16_t>(reserved));
    bs[16] = 2;
    bs[21] = 0xF8;
    PutLittleEndian16(&bs[24], 63);
    PutLittleEndian16(&bs[26], 255);
    PutLittleEndian32(&bs[28], part.start);
    PutLittleEndian32(&bs[32], total);
    PutLittleEndian32(&bs[36], fatSize);
    PutLittleEndian32(&bs[44], 2);
    PutLittleEndian16(&bs[48], 1);
    PutLittleEndian16(&bs[50], 6);
    bs[64] = 0x80;
    bs[66] = 0x29;
    PutLittleEndian32(&bs[67], serial);
    std::memset(&bs[71], ' ', 11);
    std::memcpy(&bs[71], text.empty() ? "NO NAME" : text.c_str(), text.empty() ? 7 : text.size());
    std::memcpy(&bs[82], "FAT32   ", 8);
    bs[510] = 0x55; bs[511] = 0xAA;
    std::vector<uint8_t> info(bps, 0);
    PutLittleEndian32(&info[0], 0x41615252);
    PutLittleEndian32(&info[484], 0x61417272);
    PutLittleEndian32(&info[488], static_cast<uint32_t>(clusters - 1));
    PutLittleEndian32(&info[492], 3);
    PutLittleEndian32(&info[508], 0xAA550000);
    // The FATs (as far as they reach the first MiB each) and the root cluster.
    const uint64_t fatSectors = std::min<uint64_t>(fatSize, std::max<uint64_t>(1, (1u << 20) / bps));
    std::vector<uint8_t> zeros(fatSectors * bps, 0);
    std::vector<uint8_t> fat(zeros);
    PutLittleEndian32(&fat[0], 0x0FFFFFF8);
    PutLittleEndian32(&fat[4], 0x0FFFFFFF);
    PutLittleEndian32(&fat[8], 0x0FFFFFFF);
    std::vector<uint8_t> root(clusterBytes, 0);
    if (!text.empty()) {
      std::memset(&root[0], ' ', 11);
      std::memcpy(&root[0], text.data(), text.size());
      root[11] = 0x08;
    }
    const uint64_t s0 = part.start;
    bool ok = WriteSectors(*p, drive, s0, 1, bs.data()) && WriteSectors(*p, drive, s0 + 6, 1, bs.data()) &&
              WriteSectors(*p, drive, s0 + 1, 1, info.data()) && WriteSectors(*p, drive, s0 + 7, 1, info.data());
    for (uint32_t f = 0; f < 2 && ok; ++f)
      ok = WriteSectors(*p, drive, s0 + reserved + uint64_t{f} * fatSize, fatSectors, fat.data());
    ok = ok && WriteSectors(*p, drive, s0 + reserved + 2ull * fatSize, spc, root.data());
    if (!ok) {
      *message = "A disk write failed.";
      return 4;
    }
    type = platform::kPartitionFat32Xint13;
  } else {
    bs[0] = 0xEB; bs[1] = ntfs ? 0x52 : 0x76; bs[2] = 0x90;
    std::memcpy(&bs[3], ntfs ? "NTFS    " : "EXFAT   ", 8);
    if (ntfs) {
      PutLittleEndian16(&bs[11], static_cast<uint16_t>(bps));
      bs[13] = static_cast<uint8_t>(spc);
      PutLittleEndian32(&bs[0x48], serial);
    } else {
      PutLittleEndian32(&bs[100], serial);
    }
    bs[510] = 0x55; bs[511] = 0xAA;
    if (!WriteSectors(*p, drive, part.start, 1, bs.data())) {
      *message = "A disk write failed.";
      return 4;
    }
    recordedLabels_[{p->index(), drive, serial}] = text;
  }
  // The format sets the partition's type as well.
  Mbr mbr;
  if (ReadMbr(*p, drive, &mbr) && mbr.valid) {
    uint32_t k = 0;
    for (auto& e : mbr.entries)
      if (e.type != 0 && e.sectors != 0 && ++k == partition) e.type = type;
    WriteMbrTable(*p, drive, mbr.entries, mbr.signature, true);
    KeepLayout(*p, drive);
  }
  v->configured = false;
  Mount(*p, drive, partition, *v);
  // The system mounts the new file system afresh: the volume goes and comes.
  const uint32_t mask = 1u << (std::toupper(static_cast<unsigned char>(letter)) - 'A');
  AnnounceVolumes(mask, false);
  AnnounceVolumes(mask, true);
  return v->mounted ? 0 : 4;
}

}  // namespace sim
