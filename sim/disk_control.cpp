#include "sim/disk_control.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/device_io.h"
#include "platform/disk_ioctl.h"
#include "sim/disk_request.h"

namespace sim {

bool NeedBytes(uint32_t size, uint32_t needed, uint32_t* error) {
  if (size >= needed) return true;
  *error = platform::kErrorInsufficientBuffer;
  return false;
}

bool DiskRequest::Unknown() {
  *error = platform::kErrorInvalidParameter;
  return false;
}

bool DiskRequest::Geometry() {
  if (!NeedBytes(outSize, sizeof(platform::DiskGeometry), error)) return false;
  platform::DiskGeometry g{};
  g.TracksPerCylinder = 255;
  g.SectorsPerTrack = 63;
  g.BytesPerSector = bps;
  g.Cylinders = static_cast<int64_t>(shape.sectors / (255 * 63));
  const uint32_t type = p.config().volume.driveType;
  g.MediaType = type == platform::kDriveRemovable ? platform::kMediaRemovable : platform::kMediaFixed;
  std::memcpy(out, &g, sizeof g);
  *returned = sizeof g;
  return true;
}

bool DiskRequest::LengthInfo() {
  if (!NeedBytes(outSize, sizeof(platform::GetLengthInformation), error)) return false;
  platform::GetLengthInformation length{};
  VolumeSystem::MbrEntry part{};
  if (volume && !volumes.PartitionOf(p, drive, h.partition, &part)) {
    *error = platform::kErrorNotReady;
    return false;
  }
  length.Length = static_cast<int64_t>((volume ? part.sectors : shape.sectors) * bps);
  std::memcpy(out, &length, sizeof length);
  *returned = sizeof length;
  return true;
}

bool DiskRequest::UpdateProperties() {
  volumes.Reread(p, drive);
  return true;
}

bool DiskRequest::Verify() {
  if (in == nullptr || inSize < 12) {
    *error = platform::kErrorInvalidParameter;
    return false;
  }
  platform::VerifyInformation request{};
  std::memcpy(&request, in, std::min<uint32_t>(inSize, sizeof request));
  uint64_t limit = shape.sectors * bps;
  VolumeSystem::MbrEntry part{};
  if (volume && volumes.PartitionOf(p, drive, h.partition, &part)) limit = uint64_t{part.sectors} * bps;
  // Offsets on a volume handle count from the partition's start.
  if (request.StartingOffset < 0 || static_cast<uint64_t>(request.StartingOffset) + request.Length > limit) {
    *error = platform::kErrorInvalidParameter;
    return false;
  }
  if (Fault(SystemOp::Verify, platform::kErrorCrc)) return false;
  return true;
}

bool DiskRequest::Lock() {
  if (!volume) {
    *error = platform::kErrorInvalidFunction;
    return false;
  }
  // The locking handle counts itself only when it may move data.
  const int own = (h.access & (platform::kAccessRead | platform::kAccessWrite)) != 0 ? 1 : 0;
  const bool others = v->openHandles > own || (v->pins && v->pins.use_count() > 1) ||
                      (v->lockedBy != nullptr && v->lockedBy != &h);
  if (others) {
    *error = platform::kErrorAccessDenied;
    return false;
  }
  if (Fault(SystemOp::Lock, platform::kErrorAccessDenied)) return false;
  v->lockedBy = &h;
  return true;
}

bool DiskRequest::Unlock() {
  if (!volume) {
    *error = platform::kErrorInvalidFunction;
    return false;
  }
  if (v->lockedBy != &h) {
    *error = platform::kErrorNotLocked;
    return false;
  }
  if (Fault(SystemOp::Unlock, platform::kErrorAccessDenied)) return false;
  v->lockedBy = nullptr;
  if (v->dismounted) volumes.Mount(p, drive, h.partition, *v);
  return true;
}

bool DiskRequest::Dismount() {
  if (!volume) {
    *error = platform::kErrorInvalidFunction;
    return false;
  }
  if (Fault(SystemOp::Dismount, platform::kErrorAccessDenied)) return false;
  v->configured = false;
  v->dismounted = true;
  // Mounted again at the next use after the lock is gone.
  if (v->lockedBy == nullptr) {
    // Nothing holds it: the next request mounts (VolumeOf does it).
  }
  return true;
}

namespace {

// Requests any storage handle takes, before its disk is looked at.
using HandleRequest = bool (*)(BenchHandle& h, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                               uint32_t* returned, uint32_t* error);

bool PassThrough(BenchHandle& h, const void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t* returned,
                 uint32_t* error) {
  // Windows semantics: the request needs read and write access.
  if ((h.access & (platform::kAccessRead | platform::kAccessWrite)) !=
      (platform::kAccessRead | platform::kAccessWrite)) {
    *error = platform::kErrorAccessDenied;
    return false;
  }
  if (in == nullptr || out == nullptr || inSize < sizeof(platform::ScsiPassThroughDirect) ||
      outSize < sizeof(platform::ScsiPassThroughDirect)) {
    *error = platform::kErrorInvalidParameter;
    return false;
  }
  platform::ScsiPassThroughDirect request;
  std::memcpy(&request, in, sizeof request);
  if (request.Length != platform::kScsiPassThroughDirectLength) {
    *error = platform::kErrorInvalidParameter;
    return false;
  }
  bool ok = true;
  if (h.product != nullptr) {
    ok = h.product->PassThrough(request, error, h.unit);
  } else {
    // The system's own disk takes no bridge commands.
    request.ScsiStatus = platform::kScsiStatusCheckCondition;
    request.DataTransferLength = 0;
  }
  if (ok) {
    std::memcpy(out, &request, sizeof request);
    *returned = sizeof request;
  }
  return ok;
}

bool DeviceNumber(BenchHandle& h, const void*, uint32_t, void* out, uint32_t outSize, uint32_t* returned,
                  uint32_t* error) {
  if (out == nullptr || outSize < sizeof(platform::StorageDeviceNumber)) {
    *error = platform::kErrorInsufficientBuffer;
    return false;
  }
  platform::StorageDeviceNumber number{};
  number.DeviceType = platform::kFileDeviceDisk;
  if (h.product != nullptr) {
    uint32_t openError = 0;
    if (!h.product->CanOpen(&openError)) {
      *error = platform::kErrorDeviceNotConnected;
      return false;
    }
    if (h.product->config().placement.cdrom) number.DeviceType = platform::kFileDeviceCdRom;
    number.DeviceNumber = h.product->deviceNumber();
  }
  number.PartitionNumber = h.partition;
  std::memcpy(out, &number, sizeof number);
  *returned = sizeof number;
  return true;
}

struct HandleRoute {
  uint32_t code;
  HandleRequest handler;
};
constexpr HandleRoute kHandleRoutes[] = {
    {platform::kIoctlScsiPassThroughDirect, PassThrough},
    {platform::kIoctlStorageGetDeviceNumber, DeviceNumber},
};

struct DiskRoute {
  uint32_t code;
  bool (DiskRequest::*handler)();
};
constexpr DiskRoute kDiskRoutes[] = {
    {platform::kIoctlDiskGetDriveGeometry, &DiskRequest::Geometry},
    {platform::kIoctlDiskGetLengthInfo, &DiskRequest::LengthInfo},
    {platform::kIoctlDiskGetDriveLayout, &DiskRequest::GetLayout},
    {platform::kIoctlDiskGetDriveLayoutEx, &DiskRequest::GetLayout},
    {platform::kIoctlDiskSetDriveLayout, &DiskRequest::SetLayout},
    {platform::kIoctlDiskSetDriveLayoutEx, &DiskRequest::SetLayout},
    {platform::kIoctlDiskCreateDisk, &DiskRequest::CreateDisk},
    {platform::kIoctlDiskUpdateProperties, &DiskRequest::UpdateProperties},
    {platform::kIoctlDiskGetPartitionInfo, &DiskRequest::GetPartitionInfo},
    {platform::kIoctlDiskGetPartitionInfoEx, &DiskRequest::GetPartitionInfo},
    {platform::kIoctlDiskSetPartitionInfo, &DiskRequest::SetPartitionInfo},
    {platform::kIoctlDiskSetPartitionInfoEx, &DiskRequest::SetPartitionInfo},
    {platform::kIoctlDiskVerify, &DiskRequest::Verify},
    {platform::kFsctlLockVolume, &DiskRequest::Lock},
    {platform::kFsctlUnlockVolume, &DiskRequest::Unlock},
    {platform::kFsctlDismountVolume, &DiskRequest::Dismount},
};

}  // namespace

bool StorageControl(VolumeSystem& volumes, BenchHandle& h, uint32_t code, const void* in, uint32_t inSize,
                    void* out, uint32_t outSize, uint32_t* returned, uint32_t* error) {
  *returned = 0;
  // A handle from before a re-enumeration under a new path reaches nothing.
  if (h.product != nullptr && h.generation != h.product->Generation()) {
    *error = platform::kErrorDeviceNotConnected;
    return false;
  }
  for (const HandleRoute& route : kHandleRoutes)
    if (route.code == code) return route.handler(h, in, inSize, out, outSize, returned, error);

  using Kind = BenchHandle::Kind;
  std::lock_guard lock(volumes.mutex());
  if (h.product == nullptr || (h.what != Kind::Interface && h.what != Kind::Volume) ||
      h.product->config().placement.cdrom) {
    *error = platform::kErrorInvalidFunction;
    return false;
  }
  Product& p = *h.product;
  uint32_t openError = 0;
  if (!p.CanOpen(&openError)) {
    *error = platform::kErrorDeviceNotConnected;
    return false;
  }
  const bool volume = h.what == Kind::Volume;
  const int drive = volume ? h.unit : 0;
  const VolumeSystem::DiskShape shape = volumes.Shape(p, drive);
  if (!shape.present) {
    *error = platform::kErrorNotReady;
    return false;
  }
  VolumeSystem::Volume* v = nullptr;
  if (volume) {
    v = volumes.VolumeOfHandle(h, error);
    if (v == nullptr) return false;
  }
  DiskRequest request{volumes, h,     p,     code,  in,    inSize,          out, outSize,
                      returned, error, volume, drive, shape, shape.sectorSize, v};
  for (const DiskRoute& route : kDiskRoutes)
    if (route.code == code) return (request.*route.handler)();
  return request.Unknown();
}

}  // namespace sim
