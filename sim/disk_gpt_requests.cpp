// The extended layout requests on a GPT disk: the drive layout with its
// GPT records, and a GPT volume's partition record.
#include <cstring>

#include "sim/disk_request.h"

namespace sim {

void GptPartitionInfo(const VolumeSystem::Mbr& mbr, uint32_t number,
                      const VolumeSystem::MbrEntry& part, uint32_t bps,
                      platform::PartitionInformationEx* out) {
  *out = platform::PartitionInformationEx{};
  out->PartitionStyle = platform::kPartitionStyleGpt;
  out->StartingOffset = static_cast<int64_t>(uint64_t{part.start} * bps);
  out->PartitionLength = static_cast<int64_t>(uint64_t{part.sectors} * bps);
  out->PartitionNumber = number;
  if (number == 0 || number > mbr.gptTable.partitions.size()) return;
  const GptPartition& g = mbr.gptTable.partitions[number - 1];
  std::memcpy(out->Gpt.PartitionType, g.type.data(), 16);
  std::memcpy(out->Gpt.PartitionId, g.id.data(), 16);
  out->Gpt.Attributes = g.attributes;
  for (size_t i = 0; i < g.name.size() && i < 36; ++i) out->Gpt.Name[i] = g.name[i];
}

bool DiskRequest::GetGptLayout(const VolumeSystem::Mbr& mbr) {
  const GptTable& t = mbr.gptTable;
  const uint32_t count = static_cast<uint32_t>(t.partitions.size());
  const uint32_t bytes = platform::DriveLayoutExBytes(count > 0 ? count : 1);
  if (!NeedBytes(outSize, bytes, error)) return false;
  std::memset(out, 0, bytes);
  auto* layout = static_cast<platform::DriveLayoutInformationEx*>(out);
  layout->PartitionStyle = platform::kPartitionStyleGpt;
  layout->PartitionCount = count;
  std::memcpy(layout->Gpt.DiskId, t.diskId.data(), 16);
  layout->Gpt.StartingUsableOffset = static_cast<int64_t>(t.firstUsable * bps);
  layout->Gpt.UsableLength = static_cast<int64_t>((t.lastUsable - t.firstUsable + 1) * bps);
  layout->Gpt.MaxPartitionCount = 128;
  for (uint32_t i = 0; i < count; ++i) {
    const GptPartition& g = t.partitions[i];
    const VolumeSystem::MbrEntry whole{0, 0, 0, 0};
    platform::PartitionInformationEx& pi = layout->PartitionEntry[i];
    GptPartitionInfo(mbr, i + 1, whole, bps, &pi);
    pi.StartingOffset = static_cast<int64_t>(g.first * bps);
    pi.PartitionLength = static_cast<int64_t>((g.last - g.first + 1) * bps);
  }
  *returned = bytes;
  return true;
}

}  // namespace sim
