// Volume handles ("\\.\X:") and raw transfers on disk and volume handles:
// whole sectors only; since Vista a mounted file system is written only
// through the handle that locked it.
#include "platform/clock.h"
#include "platform/disk_ioctl.h"
#include "sim/bench_handle.h"
#include "sim/disk_image.h"
#include "sim/volume_system.h"

namespace sim {

// One look under the lock: the letter's product, the count of open handles
// and the layout the handle belongs to cannot drift apart between them while
// other products' volumes come and go.
namespace {

bool DataAccess(uint32_t access) { return (access & (platform::kAccessRead | platform::kAccessWrite)) != 0; }

}  // namespace

Product* VolumeSystem::OpenVolume(char letter, uint32_t access, int* drive, uint32_t* partition, uint64_t* epoch,
                                  uint32_t* error) {
  std::lock_guard lock(mutex_);
  SettleLocked();
  Product* product = ProductOfLetterLocked(letter, drive, partition);
  if (product == nullptr) {
    *error = platform::kErrorFileNotFound;
    return nullptr;
  }
  if (!product->CanOpen(error)) return nullptr;
  uint32_t below = 0;
  for (int bit = 0; bit < letter - 'A'; ++bit) below += (product->Letters(*drive) >> bit) & 1;
  Volume& v = VolumeOf(*product, *drive, below + 1);
  if (DataAccess(access)) {
    if (v.lockedBy != nullptr) {
      *error = platform::kErrorAccessDenied;
      return nullptr;
    }
    ++v.openHandles;
  }
  *epoch = drives_[{product->index(), *drive}].epoch;
  return product;
}

void VolumeSystem::HandleClosing(BenchHandle& h) {
  if (h.what != BenchHandle::Kind::Volume) return;
  std::lock_guard lock(mutex_);
  auto it = volumes_.find({h.product->index(), h.unit, h.partition});
  if (it == volumes_.end() || it->second.epoch != h.epoch) return;
  Volume& v = it->second;
  if (DataAccess(h.access) && v.openHandles > 0) --v.openHandles;
  if (v.lockedBy == &h) v.lockedBy = nullptr;  // closing the locking handle unlocks
}

// Only the volume's bookkeeping takes the bench-wide lock; the sectors move
// under the product's own, so transfers to different disks run in parallel.
bool VolumeSystem::Transfer(BenchHandle& h, bool write, uint64_t offset, void* buffer, uint32_t size,
                            uint32_t* done, uint32_t* error) {
  *done = 0;
  if (h.product == nullptr || (h.what != BenchHandle::Kind::Interface && h.what != BenchHandle::Kind::Volume)) {
    *error = platform::kErrorInvalidFunction;
    return false;
  }
  Product& p = *h.product;
  uint32_t openError = 0;
  if (!p.CanOpen(&openError) || h.generation != p.Generation()) {
    *error = platform::kErrorDeviceNotConnected;
    return false;
  }
  if ((h.access & (write ? platform::kAccessWrite : platform::kAccessRead)) == 0) {
    *error = platform::kErrorAccessDenied;
    return false;
  }
  const int drive = h.what == BenchHandle::Kind::Volume ? h.unit : 0;
  const DiskShape shape = Shape(p, drive);
  if (!shape.present) {
    *error = platform::kErrorNotReady;
    return false;
  }
  const uint32_t bps = shape.sectorSize;
  // Raw devices move whole sectors only.
  if (offset % bps != 0 || size % bps != 0) {
    *error = platform::kErrorInvalidParameter;
    return false;
  }
  uint64_t base = 0, limit = shape.sectors;
  if (h.what == BenchHandle::Kind::Volume) {
    std::lock_guard lock(mutex_);
    Volume* v = VolumeOfHandle(h, error);
    if (v == nullptr) return false;
    MbrEntry part{};
    if (!PartitionOf(p, drive, h.partition, &part)) {
      *error = platform::kErrorNotReady;
      return false;
    }
    base = part.start;
    limit = part.sectors;
    // Since Vista a mounted file system's sectors are written only through
    // a handle that locked the volume (or after a dismount).
    if (write && system_.AtLeast(6, 0) && v->mounted && !v->dismounted && v->lockedBy != &h) {
      *error = platform::kErrorAccessDenied;
      return false;
    }
  }
  const uint64_t first = offset / bps, count = size / bps;
  if (first + count > limit) {
    *error = platform::kErrorInvalidParameter;
    return false;
  }
  uint32_t faultError = 0;
  bool vanish = false;
  if (faults_.Take(write ? SystemOp::Write : SystemOp::Read, p.config().name, &faultError, &vanish)) {
    if (vanish) {
      p.Unplug();
      *error = platform::kErrorDeviceNotConnected;
      return false;
    }
    *error = faultError ? faultError : (write ? platform::kErrorWriteFault : platform::kErrorReadFault);
    return false;
  }
  if (count == 0) return true;
  if (write && h.what == BenchHandle::Kind::Interface) FirstLook(p, drive);
  const bool ok = p.WithBridge([&](EmulatedBridge& b) {
    DiskImage& d = drive == 0 ? b.disk() : b.disk2();
    const bool usable = write ? b.MediumWritable(drive) : b.MediumPresent(drive);
    const bool moved = usable && (write ? d.Write(base + first, count, static_cast<const uint8_t*>(buffer))
                                        : d.Read(base + first, count, static_cast<uint8_t*>(buffer)));
    // The disk is busy for the request's round trip and its data.
    platform::SleepNanoseconds(p.CommandNs() + p.TransferNs(drive, write, size));
    return moved;
  });
  if (!ok) {
    *error = platform::kErrorIoDevice;
    return false;
  }
  *done = size;
  return true;
}

}  // namespace sim
