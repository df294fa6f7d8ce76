// Mounting: what a volume's first sector says (FAT, NTFS, exFAT or raw),
// the volume records and their host folders.
#include <algorithm>
#include <filesystem>

#include "platform/byte_order.h"
#include "platform/disk_ioctl.h"
#include "platform/text.h"
#include "sim/bench_handle.h"
#include "sim/volume_system.h"

namespace sim {
namespace {

namespace fs = std::filesystem;
using platform::GetLittleEndian16;
using platform::GetLittleEndian32;

std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

void VolumeSystem::RemoveFolder(Volume& v) {
  if (v.folder.empty()) return;
  std::error_code ignored;
  fs::remove_all(v.folder, ignored);
  v.folder.clear();
}

bool VolumeSystem::FreshFolder(Volume& v) {
  RemoveFolder(v);
  const std::string& r = Root();
  if (r.empty()) return false;
  v.folder = r + "/volume-" + std::to_string(++folderCounter_);
  std::error_code error;
  fs::create_directories(v.folder, error);
  return !error;
}

// What a FAT boot sector says, when the system would take it.
bool VolumeSystem::ReadFat(Product& p, int drive, const MbrEntry& part, uint32_t bps, Volume& v) {
  std::vector<uint8_t> bs(bps);
  if (!ReadSectors(p, drive, part.start, 1, bs.data())) return false;
  if (bs[510] != 0x55 || bs[511] != 0xAA || (bs[0] != 0xEB && bs[0] != 0xE9)) return false;
  const uint32_t bytesPerSector = GetLittleEndian16(&bs[11]);
  const uint32_t spc = bs[13];
  const uint32_t reserved = GetLittleEndian16(&bs[14]);
  const uint32_t fats = bs[16];
  const uint32_t rootEntries = GetLittleEndian16(&bs[17]);
  const uint32_t total = GetLittleEndian16(&bs[19]) ? GetLittleEndian16(&bs[19]) : GetLittleEndian32(&bs[32]);
  const uint32_t fatSize = GetLittleEndian16(&bs[22]) ? GetLittleEndian16(&bs[22]) : GetLittleEndian32(&bs[36]);
  if (bytesPerSector != bps || !IsPowerOfTwo(spc) || spc > 128 || reserved == 0 || fats == 0 ||
      fatSize == 0 || total == 0 || total > part.sectors)
    return false;
  const uint32_t rootSectors = (rootEntries * 32 + bps - 1) / bps;
  const uint64_t system = reserved + static_cast<uint64_t>(fats) * fatSize + rootSectors;
  if (system >= total) return false;
  const uint64_t clusters = (total - system) / spc;
  const bool fat32 = clusters >= 65525;
  // The FAT must have an entry for every cluster and the two reserved ones.
  const uint64_t entries = static_cast<uint64_t>(fatSize) * bps * 8 / (fat32 ? 32 : clusters >= 4085 ? 16 : 12);
  if (entries < clusters + 2) return false;
  if (fat32 && (GetLittleEndian16(&bs[22]) != 0 || rootEntries != 0 || GetLittleEndian32(&bs[44]) < 2)) return false;
  if (!fat32 && GetLittleEndian16(&bs[22]) == 0) return false;
  const uint32_t clusterBytes = spc * bps;
  v.mounted = true;
  v.fileSystem = fat32 ? "FAT32" : "FAT";
  v.fat = true;
  v.serial = GetLittleEndian32(&bs[fat32 ? 67 : 39]);
  v.clusterBytes = clusterBytes;
  v.totalBytes = clusters * clusterBytes;
  v.label.clear();
  // Free clusters: the FSInfo count when it is believable.
  uint64_t freeClusters = clusters - 1;
  if (fat32) {
    std::vector<uint8_t> info(bps);
    const uint32_t infoSector = GetLittleEndian16(&bs[48]);
    if (infoSector != 0 && infoSector < reserved && ReadSectors(p, drive, part.start + infoSector, 1, info.data()) &&
        GetLittleEndian32(&info[0]) == 0x41615252 && GetLittleEndian32(&info[484]) == 0x61417272 && GetLittleEndian32(&info[488]) <= clusters)
      freeClusters = GetLittleEndian32(&info[488]);
    // The label is the root folder's label entry (the boot sector's copy
    // is not what the system shows).
    const uint64_t rootSector = part.start + system + (static_cast<uint64_t>(GetLittleEndian32(&bs[44])) - 2) * spc;
    v.labelSector = rootSector;
    std::vector<uint8_t> dir(clusterBytes);
    if (ReadSectors(p, drive, rootSector, spc, dir.data())) {
      for (uint32_t off = 0; off + 32 <= clusterBytes; off += 32) {
        const uint8_t* e = &dir[off];
        if (e[0] == 0) break;
        if (e[0] == 0xE5 || e[11] == 0x0F) continue;
        if ((e[11] & 0x08) && !(e[11] & 0x10)) {
          v.label = Trim(std::string(reinterpret_cast<const char*>(e), 11));
          break;
        }
      }
    }
  } else {
    v.labelSector = 0;
    const std::string bpbLabel = Trim(std::string(reinterpret_cast<const char*>(&bs[43]), 11));
    v.label = bpbLabel == "NO NAME" ? "" : bpbLabel;
  }
  v.fsFreeBytes = freeClusters * clusterBytes;
  return true;
}

void VolumeSystem::Mount(Product& p, int drive, uint32_t partition, Volume& v) {
  const uint32_t oldSerial = v.mounted ? v.serial : v.folderSerial;
  v.dismounted = false;
  v.mounted = false;
  v.fat = false;
  v.fileSystem.clear();
  MbrEntry part{};
  const DiskShape shape = Shape(p, drive);
  if (shape.present && PartitionOf(p, drive, partition, &part)) {
    v.partStart = part.start;
    v.partSectors = part.sectors;
    v.sectorSize = shape.sectorSize;
    if (!ReadFat(p, drive, part, shape.sectorSize, v)) {
      std::vector<uint8_t> bs(shape.sectorSize);
      if (ReadSectors(p, drive, part.start, 1, bs.data()) && bs[510] == 0x55 && bs[511] == 0xAA) {
        const std::string oem(reinterpret_cast<const char*>(&bs[3]), 8);
        if (oem == "NTFS    " || oem == "EXFAT   ") {
          v.mounted = true;
          v.fileSystem = oem == "NTFS    " ? "NTFS" : "exFAT";
          v.serial = GetLittleEndian32(&bs[oem == "NTFS    " ? 0x48 : 100]);
          v.clusterBytes = 4096;
          v.totalBytes = part.sectors * static_cast<uint64_t>(shape.sectorSize);
          v.fsFreeBytes = v.totalBytes / 100 * 99;
          const auto it = recordedLabels_.find({p.index(), drive, v.serial});
          v.label = it == recordedLabels_.end() ? std::string() : it->second;
        }
      }
    }
  }
  if (!v.mounted) {
    RemoveFolder(v);
    v.folderSerial = 0;
    return;
  }
  // A new file system is an empty folder; the same one keeps its files.
  if (v.folder.empty() || v.serial != oldSerial) FreshFolder(v);
  v.folderSerial = v.serial;
}

// The record of a volume; a volume still on the bench file's settings gets
// its record (and its folder) on first use.
VolumeSystem::Volume& VolumeSystem::VolumeOf(Product& p, int drive, uint32_t partition) {
  auto [it, added] = volumes_.try_emplace({p.index(), drive, partition});
  Volume& v = it->second;
  if (added) {
    v.configured = true;
    v.epoch = drives_[{p.index(), drive}].epoch;
    platform::VolumeInfo info;
    const char letter = LetterOf(p, drive, partition);
    ConfiguredVolume(p, drive, letter, &info);
    v.mounted = info.mounted;
    v.fileSystem = info.fileSystem;
    v.label = info.label;
    v.serial = info.serialNumber;
    v.totalBytes = info.totalBytes;
    v.fsFreeBytes = info.freeBytes;
    v.fat = platform::EqualNoCase(v.fileSystem, "FAT32") || platform::EqualNoCase(v.fileSystem, "FAT");
    v.sectorSize = Shape(p, drive).sectorSize;
    if (v.mounted) {
      FreshFolder(v);
      v.folderSerial = v.serial;
    }
  }
  if (v.dismounted && v.lockedBy == nullptr) Mount(p, drive, partition, v);
  return v;
}

char VolumeSystem::LetterOf(Product& p, int drive, uint32_t partition) {
  const uint32_t letters = p.Letters(drive);
  uint32_t k = 0;
  for (int bit = 0; bit < 26; ++bit)
    if (letters & (1u << bit))
      if (++k == partition) return static_cast<char>('A' + bit);
  return 0;
}

uint64_t VolumeSystem::FolderBytes(const Volume& v) {
  if (v.folder.empty()) return 0;
  uint64_t used = 0;
  const uint64_t cluster = std::max<uint32_t>(v.clusterBytes, 512);
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(v.folder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    std::error_code e2;
    const uint64_t size = it->is_regular_file(e2) ? it->file_size(e2) : cluster;
    used += (size + cluster - 1) / cluster * cluster;
  }
  return used;
}

VolumeSystem::Volume* VolumeSystem::VolumeOfHandle(BenchHandle& h, uint32_t* error) {
  auto it = volumes_.find({h.product->index(), h.unit, h.partition});
  if (it == volumes_.end() || it->second.epoch != h.epoch) {
    *error = platform::kErrorNotReady;
    return nullptr;
  }
  return &it->second;
}

VolumeSystem::Volume* VolumeSystem::VolumeOfLetter(char letter, Product** product, int* drive,
                                                   uint32_t* partition) {
  SettleLocked();
  Product* p = ProductOfLetterLocked(letter, drive, partition);
  if (p == nullptr) return nullptr;
  *product = p;
  return &VolumeOf(*p, *drive, *partition);
}

VolumeSystem::Volume* VolumeSystem::UsableVolumeOfLetter(char letter, Product** product, int* drive,
                                                         uint32_t* partition, uint32_t* error) {
  Volume* v = VolumeOfLetter(letter, product, drive, partition);
  if (v == nullptr) {
    *error = platform::kErrorPathNotFound;
    return nullptr;
  }
  if (v->lockedBy != nullptr) {
    *error = platform::kErrorAccessDenied;
    return nullptr;
  }
  if (!v->mounted) {
    *error = platform::kErrorUnrecognizedVolume;
    return nullptr;
  }
  return v;
}

}  // namespace sim
