// GPT disks and UFS media on the bench's volume system: a protective MBR
// hands the layout to the GPT behind it, and a UFS unit that comes or goes
// brings or takes its volumes.
#include <algorithm>

#include "platform/byte_order.h"
#include "platform/disk_ioctl.h"
#include "sim/volume_system.h"

namespace sim {
namespace {

constexpr uint8_t kProtectiveType = 0xEE;

}  // namespace

bool VolumeSystem::HasProtectiveEntry(const Mbr& mbr) {
  return std::any_of(mbr.entries.begin(), mbr.entries.end(),
                     [](const MbrEntry& e) { return e.type == kProtectiveType; });
}

void VolumeSystem::ReadGptLayout(Product& p, int drive, const DiskShape& shape, Mbr* mbr) {
  // A protective MBR without a good GPT behind it gives no partitions.
  mbr->entries = {};
  GptTable table;
  const SectorReader read = [&](uint64_t lba, uint64_t count, uint8_t* out) {
    return ReadSectors(p, drive, lba, count, out);
  };
  if (!ParseGpt(read, shape.sectors, shape.sectorSize, &table)) return;
  size_t used = 0;
  for (const GptPartition& part : table.partitions) {
    if (used == mbr->entries.size()) break;
    const uint64_t sectors = part.last - part.first + 1;
    if (part.first > 0xFFFFFFFFu || sectors > 0xFFFFFFFFu) continue;  // beyond what a volume here spans
    mbr->entries[used++] = {0, platform::kPartitionIfs, static_cast<uint32_t>(part.first),
                            static_cast<uint32_t>(sectors)};
  }
  mbr->table = {};
  std::copy(table.diskId.begin(), table.diskId.end(), mbr->table.begin());
  platform::PutLittleEndian32(&mbr->table[16], table.headerCrc);
  platform::PutLittleEndian32(&mbr->table[20], table.arrayCrc);
  mbr->gpt = true;
  mbr->gptTable = std::move(table);
}

void VolumeSystem::FirstLook(Product& p, int drive) {
  EnsureMbr(p, drive);
  if (!drives_[{p.index(), drive}].seenValid) KeepLayout(p, drive);
}

void VolumeSystem::FollowMedium(Product& p, int drive) {
  DriveState& ds = drives_[{p.index(), drive}];
  const bool present = Shape(p, drive).present;
  if (ds.mediumKnown && ds.mediumPresent == present) return;
  const bool first = !ds.mediumKnown;
  ds.mediumKnown = true;
  ds.mediumPresent = present;
  // A unit present from the start keeps the volumes the bench file gave.
  if (first && present) return;
  LayoutChanged(p, drive);
  // The system saw the medium come when it came, not when it was next asked.
  const uint64_t changedAt = p.WithBridge([&](EmulatedBridge& b) { return b.MediumChangedAt(drive); });
  if (changedAt != 0) ds.arrivalDue = changedAt + system_.config.volumeArrivalMs;
}

}  // namespace sim
