// The disk behind a bridge: a sparse image file with the drive's visible
// capacity plus reserved sectors past it, and the ATA IDENTIFY data the
// drive answers. A temp image has no name in the file system (path() is
// the process's descriptor of it), so it goes with the object or the
// process, however that ends; a configured path is kept. Every image ends
// in the bench's mark, past the sectors the drive reaches; an existing file
// without it is never written.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "sim/product_config.h"

namespace sim {

class DiskImage {
 public:
  // Throws std::runtime_error (with the path and why) when the image cannot
  // be made or opened, or a file of that name is not a bench image.
  explicit DiskImage(const DiskConfig& config);
  ~DiskImage();
  DiskImage(const DiskImage&) = delete;
  DiskImage& operator=(const DiskImage&) = delete;

  // A drive is attached and its image is open.
  bool present() const { return fd_ >= 0; }
  bool packetDevice() const { return config_.packetDevice; }
  uint64_t sectors() const { return config_.sectors; }  // visible capacity
  uint64_t totalSectors() const { return config_.sectors + config_.reservedSectors; }
  uint32_t sectorSize() const { return config_.sectorSize; }
  const std::string& path() const { return path_; }

  // Sector I/O over the visible and the reserved sectors; false when the
  // range leaves them or the file fails. Unwritten sectors read as zeros.
  bool Read(uint64_t lba, uint64_t count, uint8_t* out) const;
  bool Write(uint64_t lba, uint64_t count, const uint8_t* in);

  // IDENTIFY DEVICE (ATA drive) or IDENTIFY PACKET DEVICE (packet device).
  std::array<uint8_t, 512> Identify() const;

  // Bytes the image occupies on the host disk (sparse check).
  uint64_t AllocatedBytes() const;

 private:
  void OpenNamed();
  [[noreturn]] void Fail(const char* what, int error);

  DiskConfig config_;
  std::string path_;
  int fd_ = -1;
};

}  // namespace sim
