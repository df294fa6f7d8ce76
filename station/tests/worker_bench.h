// Port workers on the simulated bench: products on one root hub, the pass
// state filled as a pass fills it before it starts its workers, and jobs run
// on threads of their own with every WM_PORT_UPDATE counted.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/block_commands.h"
#include "bridge/chip_identification.h"
#include "bridge/device_queries.h"
#include "bridge/flash_detection.h"
#include "bridge/usb_tree.h"
#include "disk/device_lock.h"
#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/tests/hooked_bench.h"
#include "sim/bench.h"
#include "station/device_enumeration.h"
#include "station/pass_state.h"
#include "station/port_worker.h"
#include "station/worker_job.h"

namespace station::testing {

// Bytes that differ everywhere from those of another seed (xorshift).
inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    b = static_cast<uint8_t>(seed);
  }
  return bytes;
}

// A path in the temporary folder of this process's own: test processes of
// other checkouts run at the same time and use the same names.
inline std::filesystem::path ScratchPath(const std::string& name) {
  return std::filesystem::temp_directory_path() /
         ("kestrova-" + name + "-" + std::to_string(::getpid()));
}

// A small software image for the copy step, in a scratch folder of its
// own: Setup.exe and Drivers\drv.sys (one folder, two files).
inline std::filesystem::path SmallSoftwareImage(const std::string& name) {
  const std::filesystem::path image = ScratchPath(name);
  std::filesystem::remove_all(image);
  std::filesystem::create_directories(image / "Drivers");
  std::ofstream(image / "Setup.exe", std::ios::binary) << std::string(40000, 'S');
  std::ofstream(image / "Drivers" / "drv.sys", std::ios::binary) << std::string(3000, 'D');
  return image;
}

inline sim::ProductConfig WorkerProduct(const std::string& name, uint8_t chipType) {
  sim::ProductConfig config;
  config.name = name;
  config.chipType = chipType;
  config.usbSerial = "SN" + name;
  config.disk.sectors = 2 * 1024 * 1024;  // 1 GiB: room for the SuperSpeed read/write test
  config.disk.serial = "DSK" + name;
  config.resetDelayMs = 1500;
  return config;
}

// Message boxes are recorded and answered with their first button.
class RecordingBoxes : public platform::MessageBoxSink {
 public:
  int Show(const std::string& text, const std::string& caption, uint32_t flags) override {
    std::lock_guard lock(mutex_);
    shown_.push_back(caption + ": " + text);
    return platform::DefaultAnswer(flags);
  }
  std::vector<std::string> shown() {
    std::lock_guard lock(mutex_);
    return shown_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> shown_;
};

class WorkerBench {
 public:
  explicit WorkerBench(std::vector<sim::ProductConfig> products, double clockScale = 5000.0)
      : WorkerBench(sim::BenchConfig{sim::SystemConfig{}, {}, std::move(products), {}},
                    clockScale) {}
  explicit WorkerBench(const sim::BenchConfig& config, double clockScale = 5000.0)
      : bench_(std::make_shared<platform::testing::HookedBench>(config)),
        installed_(bench_),
        fast_(clockScale),
        boxes_(&recorder_),
        pass_(std::make_unique<PassState>()) {}

  // Drive file transfers pass its hook and are counted.
  platform::testing::HookedBench& bench() { return *bench_; }
  sim::Product& product(size_t i) { return bench_->product(i); }
  PassState& pass() { return *pass_; }
  RecordingBoxes& boxes() { return recorder_; }

  // The enumeration and matching a pass makes before it starts workers;
  // sets both relink counters. Returns the number of present ports. In the
  // Type-C mode the power-control device (ChipType 6) is not a port.
  int Prepare(bool typeC = false) {
    PassState& p = *pass_;
    p.FirstChipTypeRev = 0;
    int count = 0;
    (void)EnumerateDevices(0, p.ports, p.storageEntries.data(), &count, {}, nullptr);
    p.storageEntryCount = count;
    int present = 0;
    for (bridge::PortRecord& r : p.ports.records) {
      if (!r.inUse) continue;
      const int e = bridge::FindStorageEntryOfPort(r, p.storageEntries.data(), count);
      if (e < 0) continue;
      const bridge::StorageDeviceEntry& entry = p.storageEntries[static_cast<size_t>(e)];
      bridge::SetFieldText(r.devicePath, bridge::FieldText(entry.detail.DevicePath));
      r.deviceInstance = entry.devInst;
      r.parentInstance = entry.parentDevInst;
      const bridge::ChipType type = bridge::IdentifyChipType(r.devicePath);
      r.chipType = type;
      if (type == 0 || (typeC && type == 6)) continue;
      r.present = 1;
      r.capacityMB = static_cast<int32_t>(bridge::GetDiskCapacityMB(r.devicePath, type));
      char version[bridge::kFirmwareVersionSize] = {};
      (void)bridge::FormatFirmwareVersion(type, r.devicePath, version);
      bridge::SetFieldText(r.firmwareVersion, bridge::FieldText(version));
      r.firmwareAccepted = bridge::CheckFirmwareVersion(r.devicePath, type, version);
      r.spiFlashType = static_cast<uint8_t>(bridge::GetSpiFlashType(type, r.devicePath));
      if (p.FirstChipTypeRev == 0)
        p.FirstChipTypeRev = bridge::IdentifyChipTypeAndRevision(r.devicePath);
      ++present;
    }
    p.PresentDeviceCount = present;
    p.RelinkIdleCount = present;
    g_nHDDAccessRetry = 5 * present;
    return present;
  }

  // The slot of the product with the given USB serial; -1 when none.
  int SlotOf(const sim::Product& product) const {
    const std::string serial = product.config().usbSerial;
    for (int s = 0; s < bridge::kPortCount; ++s) {
      const bridge::PortRecord& r = pass_->ports.records[static_cast<size_t>(s)];
      if (r.present && bridge::FieldText(r.usbSerial) == serial) return s;
    }
    return -1;
  }
  bridge::PortRecord& record(int slot) { return pass_->ports.records[static_cast<size_t>(slot)]; }

  // A job for `slot` with every step switched off.
  std::unique_ptr<WorkerJob> Job(int slot) {
    auto job = std::make_unique<WorkerJob>();
    job->pass = pass_.get();
    job->slot = slot;
    job->postPortUpdate = [this, slot] {
      posts_[static_cast<size_t>(slot)].fetch_add(1);
      std::lock_guard lock(progressMutex_);
      progressSeen_[static_cast<size_t>(slot)].push_back(record(slot).progress);
    };
    job->settings.MPResetWait = 10;
    job->settings.PerfShift = 1.0f;
    job->settings.RWDataSize = 1;
    job->settings.EEPROMRetry = 1;
    job->settings.TableType = 3;
    return job;
  }

  // Runs one worker per job at once and waits for all of them.
  void Run(std::vector<std::unique_ptr<WorkerJob>> jobs) {
    std::vector<std::thread> threads;
    for (auto& job : jobs) {
      threads.emplace_back(
          [j = std::move(job)]() mutable { (void)PortWorkerThread(std::move(j)); });
    }
    for (auto& t : threads) t.join();
  }

  void RunOne(std::unique_ptr<WorkerJob> job) {
    std::vector<std::unique_ptr<WorkerJob>> jobs;
    jobs.push_back(std::move(job));
    Run(std::move(jobs));
  }

  int posts(int slot) const { return posts_[static_cast<size_t>(slot)].load(); }
  // The highest progress a post showed before the final 100.
  int32_t ProgressBeforeEnd(int slot) {
    std::lock_guard lock(progressMutex_);
    int32_t best = 0;
    for (const int32_t p : progressSeen_[static_cast<size_t>(slot)]) {
      if (p < kProgressDone) best = std::max(best, p);
    }
    return best;
  }

 private:
  std::shared_ptr<platform::testing::HookedBench> bench_;
  platform::ScopedBackend installed_;
  platform::ScopedClockScale fast_;
  RecordingBoxes recorder_;
  platform::ScopedMessageBoxSink boxes_;
  std::unique_ptr<PassState> pass_;
  std::array<std::atomic<int>, bridge::kPortCount> posts_{};
  std::mutex progressMutex_;
  std::array<std::vector<int32_t>, bridge::kPortCount> progressSeen_;
};

// Every visible and enabled step box, checked.
inline ControlSnapshot AllBoxesUsable() {
  const ControlState on{true, true, true};
  ControlSnapshot c;
  c.PartitionCheckBox = on;
  c.FormatCheckBox = on;
  c.RWTestCheckBox = on;
  c.SWCopyChkBox = on;
  c.enFolderCPChk = on;
  c.vfVolLabelChk = on;
  c.vfHDDFWRevChk = on;
  return c;
}

}  // namespace station::testing
