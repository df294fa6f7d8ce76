// A bench with one product whose disk lives in a sparse image the test
// names, so the host's tools can read what the station wrote; the station
// clock runs fast, so the fixed sleeps and the volume's arrival cost no
// real time.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "disk/device_lock.h"
#include "disk/partition_layout.h"
#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/device_io.h"
#include "platform/disk_ioctl.h"
#include "sim/bench.h"

namespace disk::testing {

class ScopedHddAccessRetry {
 public:
  explicit ScopedHddAccessRetry(int count) : previous_(g_nHDDAccessRetry.load()) {
    g_nHDDAccessRetry.store(count);
  }
  ~ScopedHddAccessRetry() { g_nHDDAccessRetry.store(previous_); }
  ScopedHddAccessRetry(const ScopedHddAccessRetry&) = delete;
  ScopedHddAccessRetry& operator=(const ScopedHddAccessRetry&) = delete;

 private:
  int previous_;
};

inline std::string TempImagePath(const std::string& tag) {
  static std::atomic<int> counter{0};
  return (std::filesystem::temp_directory_path() /
          ("kv_disk_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + "_" + tag +
           ".img"))
      .string();
}

struct DiskBenchOptions {
  uint64_t sectors = 2 * 1024 * 1024;  // 1 GiB of 512-byte sectors
  uint32_t sectorSize = 512;
  std::string letters = "E";
  std::string fileSystem = "NTFS";
  uint32_t osMajor = 10, osMinor = 0;
  std::vector<std::string> missingPrograms;
  bool formatService = true;
  std::string tempPath = "C:\\Users\\Station User\\AppData\\Local\\Temp\\";
  bool systemDisk = false;
  uint32_t driveType = 0;  // platform kDrive*; 0: fixed
};

class DiskBench {
 public:
  using MakeBench = std::function<std::shared_ptr<sim::Bench>(const sim::BenchConfig&)>;
  static std::shared_ptr<sim::Bench> PlainBench(const sim::BenchConfig& config) {
    return std::make_shared<sim::Bench>(config);
  }

  explicit DiskBench(const DiskBenchOptions& options = {}, const MakeBench& make = PlainBench)
      : imagePath_(TempImagePath(std::to_string(options.sectors) + "x" +
                                 std::to_string(options.sectorSize))) {
    sim::BenchConfig config;
    config.system.osMajor = options.osMajor;
    config.system.osMinor = options.osMinor;
    config.system.missingPrograms = options.missingPrograms;
    config.system.formatService = options.formatService;
    config.system.tempPath = options.tempPath;
    config.system.systemDisk = options.systemDisk;
    sim::ProductConfig product;
    product.name = "disk0";
    product.disk.sectors = options.sectors;
    product.disk.sectorSize = options.sectorSize;
    product.disk.imagePath = imagePath_;
    product.volume.autoLetter = options.letters.empty();
    product.volume.letters = options.letters;
    product.volume.fileSystem = options.fileSystem;
    product.volume.driveType = options.driveType;
    config.products.push_back(product);
    bench_ = make(config);
    installed_ = std::make_unique<platform::ScopedBackend>(bench_);
    // As the pass sets it: five tries per present port.
    retry_ = std::make_unique<ScopedHddAccessRetry>(5 * static_cast<int>(bench_->size()));
  }
  ~DiskBench() {
    retry_.reset();
    installed_.reset();
    bench_.reset();
    std::filesystem::remove(imagePath_);
  }
  DiskBench(const DiskBench&) = delete;
  DiskBench& operator=(const DiskBench&) = delete;

  sim::Bench& bench() { return *bench_; }
  sim::Product& product() { return bench_->product(0); }
  std::string path() { return product().path(); }
  const std::string& imagePath() const { return imagePath_; }

  platform::DiskGeometry Geometry() {
    platform::ScopedDevice device(path().c_str(), platform::kAccessNone,
                                  platform::kShareRead | platform::kShareWrite);
    platform::DiskGeometry geometry = {};
    EXPECT_TRUE(platform::DeviceIoControl(device.get(), platform::kIoctlDiskGetDriveGeometry,
                                          nullptr, 0, &geometry, sizeof(geometry), nullptr));
    return geometry;
  }

  // The volume's letter once the system has mounted it again, polled as the
  // worker does (every second, up to 101 tries).
  char WaitForLetter() {
    for (int attempt = 0; attempt < 101; ++attempt) {
      char letter = 0;
      if (FindDriveLetter(path().c_str(), &letter)) return letter;
      platform::Sleep(1000);
    }
    return 0;
  }

  // Replaces the first partition's length (whole sectors from 63), so a test
  // can reach an exact partition size whatever the geometry rounds to.
  bool SetPartitionSectors(uint64_t sectors) {
    platform::ScopedDevice device(path().c_str(), platform::kAccessRead | platform::kAccessWrite,
                                  platform::kShareRead | platform::kShareWrite);
    alignas(platform::DriveLayoutInformationEx) uint8_t buffer[kExtendedLayoutBytes] = {};
    auto* layout = reinterpret_cast<platform::DriveLayoutInformationEx*>(buffer);
    if (!platform::DeviceIoControl(device.get(), platform::kIoctlDiskGetDriveLayoutEx, nullptr, 0,
                                   buffer, sizeof(buffer), nullptr)) {
      return false;
    }
    layout->PartitionEntry[0].PartitionLength =
        static_cast<int64_t>(sectors * Geometry().BytesPerSector);
    layout->PartitionEntry[0].RewritePartition = 1;
    return platform::DeviceIoControl(device.get(), platform::kIoctlDiskSetDriveLayoutEx, buffer,
                                     sizeof(buffer), nullptr, 0, nullptr);
  }

 private:
  std::string imagePath_;
  platform::ScopedClockScale fastClock_{1000.0};
  std::shared_ptr<sim::Bench> bench_;
  std::unique_ptr<platform::ScopedBackend> installed_;
  std::unique_ptr<ScopedHddAccessRetry> retry_;
};

}  // namespace disk::testing
