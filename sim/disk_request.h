// One disk or volume control request on a product's drive, as the bench's
// handlers see it. Private to the bench's disk control files.
#pragma once

#include <cstdint>

#include "platform/disk_ioctl.h"

#include "sim/bench_handle.h"
#include "sim/volume_system.h"

namespace sim {

// False (and ERROR_INSUFFICIENT_BUFFER) when `size` is short of `needed`.
bool NeedBytes(uint32_t size, uint32_t needed, uint32_t* error);

// The extended partition record of a GPT volume (`number` from 1; 0 and
// the whole disk for a disk handle's `part`).
void GptPartitionInfo(const VolumeSystem::Mbr& mbr, uint32_t number,
                      const VolumeSystem::MbrEntry& part, uint32_t bps,
                      platform::PartitionInformationEx* out);

// One disk or volume request on a product's drive, under the volume
// system's lock; each handler answers one code (or its Ex twin).
struct DiskRequest {
  VolumeSystem& volumes;
  BenchHandle& h;
  Product& p;
  uint32_t code;
  const void* in;
  uint32_t inSize;
  void* out;
  uint32_t outSize;
  uint32_t* returned;
  uint32_t* error;
  bool volume;  // a volume handle (else the whole disk)
  int drive;
  VolumeSystem::DiskShape shape;
  uint32_t bps;
  VolumeSystem::Volume* v;  // volume handles: the volume it reaches

  // An armed system fault takes the request: its error, or `fallback`.
  bool Fault(SystemOp op, uint32_t fallback) {
    uint32_t e = 0;
    if (!volumes.faults().Take(op, p.config().name, &e)) return false;
    *error = e ? e : fallback;
    return true;
  }

  bool Geometry();
  bool LengthInfo();
  bool GetLayout();
  bool GetGptLayout(const VolumeSystem::Mbr& mbr);  // disk_gpt_requests.cpp
  bool SetLayout();
  bool CreateDisk();
  bool UpdateProperties();
  bool GetPartitionInfo();
  bool SetPartitionInfo();
  bool Verify();
  bool Lock();
  bool Unlock();
  bool Dismount();
  bool Unknown();
};

}  // namespace sim
