// The layout requests on a disk or volume handle: the drive layout, a new
// disk, and one partition's information.
#include <algorithm>
#include <array>
#include <cstring>

#include "platform/disk_ioctl.h"
#include "sim/disk_request.h"

namespace sim {
namespace {

bool KnownType(uint8_t type) { return type != 0 && type != 0x05 && type != 0x0F && type != 0x85; }

}  // namespace

bool DiskRequest::GetLayout() {
  const bool ex = code == platform::kIoctlDiskGetDriveLayoutEx;
  volumes.EnsureMbr(p, drive);
  VolumeSystem::Mbr mbr;
  if (!volumes.ReadMbr(p, drive, &mbr)) {
    *error = platform::kErrorIoDevice;
    return false;
  }
  if (ex && mbr.gpt) return GetGptLayout(mbr);
  const uint32_t entries = mbr.valid ? platform::kMbrLayoutEntries : 0;
  const uint32_t bytes = ex ? platform::DriveLayoutExBytes(std::max(entries, 1u))
                            : platform::DriveLayoutBytes(std::max(entries, 1u));
  if (!NeedBytes(outSize, bytes, error)) return false;
  std::memset(out, 0, bytes);
  uint32_t number = 0;
  if (ex) {
    auto* layout = static_cast<platform::DriveLayoutInformationEx*>(out);
    layout->PartitionStyle = mbr.valid ? platform::kPartitionStyleMbr : platform::kPartitionStyleRaw;
    layout->PartitionCount = entries;
    layout->Mbr.Signature = mbr.signature;
    for (uint32_t i = 0; i < entries; ++i) {
      const VolumeSystem::MbrEntry& e = mbr.entries[i];
      platform::PartitionInformationEx& pi = layout->PartitionEntry[i];
      pi.PartitionStyle = platform::kPartitionStyleMbr;
      if (e.type == 0 || e.sectors == 0) continue;
      pi.StartingOffset = static_cast<int64_t>(uint64_t{e.start} * bps);
      pi.PartitionLength = static_cast<int64_t>(uint64_t{e.sectors} * bps);
      pi.PartitionNumber = ++number;
      pi.Mbr.PartitionType = e.type;
      pi.Mbr.BootIndicator = e.boot == 0x80;
      pi.Mbr.RecognizedPartition = KnownType(e.type);
      pi.Mbr.HiddenSectors = e.start;
    }
  } else {
    auto* layout = static_cast<platform::DriveLayoutInformation*>(out);
    layout->PartitionCount = entries;
    layout->Signature = mbr.signature;
    for (uint32_t i = 0; i < entries; ++i) {
      const VolumeSystem::MbrEntry& e = mbr.entries[i];
      platform::PartitionInformation& pi = layout->PartitionEntry[i];
      if (e.type == 0 || e.sectors == 0) continue;
      pi.StartingOffset = static_cast<int64_t>(uint64_t{e.start} * bps);
      pi.PartitionLength = static_cast<int64_t>(uint64_t{e.sectors} * bps);
      pi.HiddenSectors = e.start;
      pi.PartitionNumber = ++number;
      pi.PartitionType = e.type;
      pi.BootIndicator = e.boot == 0x80;
      pi.RecognizedPartition = KnownType(e.type);
    }
  }
  *returned = bytes;
  return true;
}

bool DiskRequest::SetLayout() {
  const bool ex = code == platform::kIoctlDiskSetDriveLayoutEx;
  if (in == nullptr || inSize < (ex ? 48u : 8u)) {
    *error = platform::kErrorInvalidParameter;
    return false;
  }
  uint32_t count = 0, signature = 0;
  if (ex) {
    platform::DriveLayoutInformationEx head;
    std::memcpy(&head, in, 48);
    if (head.PartitionStyle != platform::kPartitionStyleMbr) {
      *error = head.PartitionStyle == platform::kPartitionStyleGpt ? platform::kErrorNotSupported
                                                                   : platform::kErrorInvalidParameter;
      return false;
    }
    count = head.PartitionCount;
    signature = head.Mbr.Signature;
    if (count > 128 || inSize < platform::DriveLayoutExBytes(count)) {
      *error = platform::kErrorInvalidParameter;
      return false;
    }
  } else {
    std::memcpy(&count, in, 4);
    std::memcpy(&signature, static_cast<const uint8_t*>(in) + 4, 4);
    if (count > 128 || inSize < platform::DriveLayoutBytes(count)) {
      *error = platform::kErrorInvalidParameter;
      return false;
    }
  }
  VolumeSystem::Mbr old;
  if (!volumes.ReadMbr(p, drive, &old)) {
    *error = platform::kErrorIoDevice;
    return false;
  }
  std::array<VolumeSystem::MbrEntry, 4> table{};
  if (old.valid) table = old.entries;
  for (uint32_t i = 0; i < count; ++i) {
    int64_t start = 0, length = 0;
    uint8_t type = 0, boot = 0, rewrite = 0;
    if (ex) {
      platform::PartitionInformationEx pi;
      std::memcpy(&pi, static_cast<const uint8_t*>(in) + 48 + 144 * i, sizeof pi);
      start = pi.StartingOffset;
      length = pi.PartitionLength;
      type = pi.Mbr.PartitionType;
      boot = pi.Mbr.BootIndicator;
      rewrite = pi.RewritePartition;
      if (pi.PartitionStyle != platform::kPartitionStyleMbr) {
        *error = platform::kErrorInvalidParameter;
        return false;
      }
    } else {
      platform::PartitionInformation pi;
      std::memcpy(&pi, static_cast<const uint8_t*>(in) + 8 + 32 * i, sizeof pi);
      start = pi.StartingOffset;
      length = pi.PartitionLength;
      type = pi.PartitionType;
      boot = pi.BootIndicator;
      rewrite = pi.RewritePartition;
    }
    const bool used = type != 0 && length > 0;
    if (i >= 4) {
      if (used) {  // no extended partitions on the bench
        *error = platform::kErrorNotSupported;
        return false;
      }
      continue;
    }
    if (!rewrite && old.valid) continue;  // the entry stays as it is
    if (!used) {
      table[i] = {};
      continue;
    }
    if (start < 0 || start % bps != 0 || length % bps != 0 ||
        static_cast<uint64_t>(start + length) / bps > shape.sectors ||
        static_cast<uint64_t>(start) / bps > 0xFFFFFFFFu || static_cast<uint64_t>(length) / bps > 0xFFFFFFFFu) {
      *error = platform::kErrorInvalidParameter;
      return false;
    }
    table[i] = {static_cast<uint8_t>(boot ? 0x80 : 0), type, static_cast<uint32_t>(start / bps),
                static_cast<uint32_t>(length / bps)};
  }
  // Partitions must not overlap.
  for (int a = 0; a < 4; ++a)
    for (int b = a + 1; b < 4; ++b) {
      const auto& x = table[a];
      const auto& y = table[b];
      if (x.sectors && y.sectors && x.start < uint64_t{y.start} + y.sectors && y.start < uint64_t{x.start} + x.sectors) {
        *error = platform::kErrorInvalidParameter;
        return false;
      }
    }
  if (Fault(SystemOp::Layout, platform::kErrorIoDevice)) return false;
  if (!volumes.WriteMbrTable(p, drive, table, signature, old.valid)) {
    *error = platform::kErrorIoDevice;
    return false;
  }
  volumes.LayoutChanged(p, drive);
  return true;
}

bool DiskRequest::CreateDisk() {
  if (in == nullptr || inSize < sizeof(platform::CreateDisk)) {
    *error = platform::kErrorInvalidParameter;
    return false;
  }
  platform::CreateDisk request;
  std::memcpy(&request, in, sizeof request);
  if (request.PartitionStyle != platform::kPartitionStyleMbr) {
    *error = platform::kErrorNotSupported;
    return false;
  }
  if (Fault(SystemOp::Layout, platform::kErrorIoDevice)) return false;
  if (!volumes.WriteMbrTable(p, drive, {}, request.MbrSignature, false)) {
    *error = platform::kErrorIoDevice;
    return false;
  }
  volumes.LayoutChanged(p, drive);
  return true;
}

bool DiskRequest::GetPartitionInfo() {
  const bool ex = code == platform::kIoctlDiskGetPartitionInfoEx;
  VolumeSystem::MbrEntry part{0, 0, 0, static_cast<uint32_t>(std::min<uint64_t>(shape.sectors, 0xFFFFFFFFu))};
  uint32_t number = 0;
  if (volume) {
    if (!volumes.PartitionOf(p, drive, h.partition, &part)) {
      *error = platform::kErrorNotReady;
      return false;
    }
    number = h.partition;
  }
  const uint64_t sectors = volume ? part.sectors : shape.sectors;
  if (ex) {
    if (!NeedBytes(outSize, sizeof(platform::PartitionInformationEx), error)) return false;
    platform::PartitionInformationEx pi{};
    VolumeSystem::Mbr mbr;
    if (volumes.ReadMbr(p, drive, &mbr) && mbr.gpt) {
      GptPartitionInfo(mbr, volume ? number : 0, part, bps, &pi);
      std::memcpy(out, &pi, sizeof pi);
      *returned = sizeof pi;
      return true;
    }
    pi.PartitionStyle = platform::kPartitionStyleMbr;
    pi.StartingOffset = static_cast<int64_t>(uint64_t{part.start} * bps);
    pi.PartitionLength = static_cast<int64_t>(sectors * bps);
    pi.PartitionNumber = number;
    pi.Mbr.PartitionType = part.type;
    pi.Mbr.BootIndicator = part.boot == 0x80;
    pi.Mbr.RecognizedPartition = KnownType(part.type);
    pi.Mbr.HiddenSectors = part.start;
    std::memcpy(out, &pi, sizeof pi);
    *returned = sizeof pi;
  } else {
    if (!NeedBytes(outSize, sizeof(platform::PartitionInformation), error)) return false;
    platform::PartitionInformation pi{};
    pi.StartingOffset = static_cast<int64_t>(uint64_t{part.start} * bps);
    pi.PartitionLength = static_cast<int64_t>(sectors * bps);
    pi.HiddenSectors = part.start;
    pi.PartitionNumber = number;
    pi.PartitionType = part.type;
    pi.BootIndicator = part.boot == 0x80;
    pi.RecognizedPartition = KnownType(part.type);
    std::memcpy(out, &pi, sizeof pi);
    *returned = sizeof pi;
  }
  return true;
}

bool DiskRequest::SetPartitionInfo() {
  const bool ex = code == platform::kIoctlDiskSetPartitionInfoEx;
  if (!volume || in == nullptr || inSize < (ex ? sizeof(platform::SetPartitionInformationEx) : 1u)) {
    *error = volume ? platform::kErrorInvalidParameter : platform::kErrorInvalidFunction;
    return false;
  }
  uint8_t type = 0;
  if (ex) {
    platform::SetPartitionInformationEx request;
    std::memcpy(&request, in, sizeof request);
    if (request.PartitionStyle != platform::kPartitionStyleMbr) {
      *error = platform::kErrorInvalidParameter;
      return false;
    }
    type = request.MbrPartitionType;
  } else {
    std::memcpy(&type, in, 1);
  }
  if (type == 0) {
    *error = platform::kErrorInvalidParameter;
    return false;
  }
  VolumeSystem::Mbr mbr;
  volumes.EnsureMbr(p, drive);
  if (!volumes.ReadMbr(p, drive, &mbr) || !mbr.valid) {
    *error = platform::kErrorInvalidParameter;
    return false;
  }
  uint32_t k = 0;
  for (auto& e : mbr.entries)
    if (e.type != 0 && e.sectors != 0 && ++k == h.partition) e.type = type;
  if (k < h.partition || !volumes.WriteMbrTable(p, drive, mbr.entries, mbr.signature, true)) {
    *error = platform::kErrorIoDevice;
    return false;
  }
  // A type change is no new layout: the volume stays.
  volumes.KeepLayout(p, drive);
  return true;
}

}  // namespace sim
