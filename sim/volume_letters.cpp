// Drive letters and what the system reports of a volume: volumes arrive a
// while after a layout change, under the letters their drive had.
#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/disk_ioctl.h"
#include "sim/device_ids.h"
#include "sim/device_notices.h"
#include "sim/volume_system.h"

namespace sim {
namespace {

void CopyText(char* out, size_t size, std::string_view text) {
  const size_t n = std::min(size - 1, text.size());
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

}  // namespace

void VolumeSystem::Settle() {
  std::lock_guard lock(mutex_);
  SettleLocked();
}

void VolumeSystem::SettleLocked() {
  for (auto& product : products_)
    if (product->config().ufs.present && product->Online()) FollowMedium(*product, 0);
  const uint64_t now = NowMs();
  for (auto& [key, ds] : drives_) {
    if (!ds.arrivalPending || now < ds.arrivalDue) continue;
    Product& p = *products_[key.first];
    const int drive = key.second;
    ds.arrivalPending = false;
    // Letters: the drive's old ones first, then the lowest free from D.
    uint32_t taken = system_.FixedLetters();
    for (const auto& other : products_) taken |= other->Letters(0) | other->Letters(1);
    uint32_t mask = 0;
    int need = ds.arrivalCount;
    for (int bit = 0; bit < 26 && need > 0; ++bit)
      if ((ds.lettersBefore & (1u << bit)) && !(taken & (1u << bit))) {
        mask |= 1u << bit;
        --need;
      }
    for (int bit = 3; bit < 26 && need > 0; ++bit)
      if (!((taken | mask) & (1u << bit))) {
        mask |= 1u << bit;
        --need;
      }
    p.SetLetters(drive, mask);
    if (p.Online()) AnnounceVolumes(mask, true);
    uint32_t partition = 1;
    for (int bit = 0; bit < 26; ++bit) {
      if (!(mask & (1u << bit))) continue;
      Volume& v = volumes_[{p.index(), drive, partition}];
      v = Volume{};
      v.configured = false;
      v.epoch = ds.epoch;
      Mount(p, drive, partition, v);
      // Windows 7 and later offer to format a volume they cannot read.
      if (!v.mounted && system_.AtLeast(6, 1)) windows_.Add("#32770", "Microsoft Windows");
      ++partition;
    }
  }
}

uint32_t VolumeSystem::LettersNow() {
  std::lock_guard lock(mutex_);
  SettleLocked();
  return LettersLocked();
}

uint32_t VolumeSystem::LettersLocked() const {
  uint32_t mask = system_.FixedLetters();
  for (const auto& p : products_)
    if (p->Online() && !p->DiskPending()) mask |= p->Letters(0) | p->Letters(1);
  return mask;
}

Product* VolumeSystem::ProductOfLetterLocked(char letter, int* drive, uint32_t* partition) const {
  if (letter < 'A' || letter > 'Z') return nullptr;
  const uint32_t bit = 1u << (letter - 'A');
  for (const auto& p : products_) {
    if (!p->Online() || p->DiskPending()) continue;
    const uint32_t first = p->Letters(0), second = p->Letters(1);
    if (!((first | second) & bit)) continue;
    *drive = (first & bit) ? 0 : 1;
    *partition = static_cast<uint32_t>(
        *drive == 0 ? std::popcount(first & (bit - 1)) + 1
                    : std::popcount(first) + std::popcount(second & (bit - 1)) + 1);
    return p.get();
  }
  return nullptr;
}

bool VolumeSystem::GetVolume(char letter, platform::VolumeInfo* out) {
  *out = platform::VolumeInfo{};
  letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (letter < 'A' || letter > 'Z') return false;
  const uint32_t bit = 1u << (letter - 'A');
  // The system's drive and the network's shares are no product's.
  struct Fixed {
    uint32_t driveType;
    const char* label;
    uint32_t serial;
    uint64_t totalBytes, freeBytes;
  };
  const Fixed* fixed = nullptr;
  static constexpr Fixed kWindows{platform::kDriveFixed, "Windows", 0x5A17C0DE, 256ull << 30, 100ull << 30};
  static constexpr Fixed kShare{platform::kDriveRemote, "share", 0x0E7D21E5, 1ull << 40, 1ull << 39};
  if (letter == system_.config.windowsDrive) fixed = &kWindows;
  else if (system_.networkLetters.load() & bit) fixed = &kShare;
  if (fixed != nullptr) {
    out->driveType = fixed->driveType;
    out->mounted = true;
    CopyText(out->label, sizeof out->label, fixed->label);
    CopyText(out->fileSystem, sizeof out->fileSystem, "NTFS");
    out->serialNumber = fixed->serial;
    out->totalBytes = fixed->totalBytes;
    out->freeBytes = fixed->freeBytes;
    return true;
  }
  std::lock_guard lock(mutex_);
  SettleLocked();
  int drive = 0;
  uint32_t partition = 0;
  Product* p = ProductOfLetterLocked(letter, &drive, &partition);
  if (p == nullptr) return false;
  if (ReadVolumeInfo(*p, drive, partition, out)) return true;
  ConfiguredVolume(*p, drive, letter, out);
  // Files written on it since take their room from what the bench file gave.
  if (auto it = volumes_.find({p->index(), drive, partition}); it != volumes_.end() && out->mounted) {
    const uint64_t used = FolderBytes(it->second);
    out->freeBytes = out->freeBytes > used ? out->freeBytes - used : 0;
  }
  return true;
}

// A volume as the bench file describes it (before any layout change,
// dismount or format touched it).
void VolumeSystem::ConfiguredVolume(Product& product, int drive, char letter, platform::VolumeInfo* out) const {
  *out = platform::VolumeInfo{};
  Product* p = &product;
  const ProductConfig& c = p->config();
  const VolumeConfig& v = c.volume;
  out->driveType = v.driveType ? v.driveType
                               : (c.placement.cdrom ? platform::kDriveCdRom : platform::kDriveFixed);
  out->mounted = c.disk.present && !v.fileSystem.empty() && v.fileSystem != "-";
  if (out->mounted) {
    CopyText(out->label, sizeof out->label, v.label);
    CopyText(out->fileSystem, sizeof out->fileSystem, v.fileSystem);
    out->serialNumber = Fnv32(p->usbInstanceId() + static_cast<char>(letter));
    const int volumes = std::popcount(p->Letters(drive));
    out->totalBytes = c.disk.sectors * c.disk.sectorSize / static_cast<uint64_t>(std::max(volumes, 1));
    out->freeBytes = v.freeBytes == ~0ull ? out->totalBytes / 10 * 9 : std::min(v.freeBytes, out->totalBytes);
  }
}

// What the system reports of a volume the bench touched; false for one
// still on the bench file's settings.
bool VolumeSystem::ReadVolumeInfo(Product& product, int drive, uint32_t partition, platform::VolumeInfo* out) {
  auto it = volumes_.find({product.index(), drive, partition});
  if (it == volumes_.end() || it->second.configured) return false;
  Volume& v = VolumeOf(product, drive, partition);
  const ProductConfig& c = product.config();
  out->driveType = c.volume.driveType ? c.volume.driveType
                                      : (c.placement.cdrom ? platform::kDriveCdRom : platform::kDriveFixed);
  if (v.lockedBy != nullptr) {
    out->mounted = false;
    out->queryError = platform::kErrorAccessDenied;
    return true;
  }
  out->mounted = v.mounted;
  if (!v.mounted) return true;
  std::snprintf(out->label, sizeof out->label, "%s", v.label.c_str());
  std::snprintf(out->fileSystem, sizeof out->fileSystem, "%s", v.fileSystem.c_str());
  out->serialNumber = v.serial;
  out->totalBytes = v.totalBytes;
  const uint64_t used = FolderBytes(v);
  out->freeBytes = v.fsFreeBytes > used ? v.fsFreeBytes - used : 0;
  return true;
}

}  // namespace sim
