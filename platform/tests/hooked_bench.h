// The bench with a test's hook on the transfers of its drives' files: each
// transfer is recorded, then given to the hook (or to the bench); and a
// product whose one FAT32 volume is drive E.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/backend.h"
#include "sim/bench.h"

namespace platform::testing {

inline sim::ProductConfig ProductWithFatVolumeE(uint64_t sectors) {
  sim::ProductConfig p;
  p.name = "p";
  p.disk.sectors = sectors;
  p.volume.letters = "E";
  p.volume.autoLetter = false;
  p.volume.fileSystem = "FAT32";
  return p;
}

class HookedBench : public sim::Bench {
 public:
  using sim::Bench::Bench;
  struct Seen {
    char letter;
    bool write;
    uint32_t bytes;
    uint64_t offset;
  };
  using Hook = std::function<bool(DriveFileTransfer&, uint32_t*)>;

  bool TransferDriveFile(DriveFileTransfer& transfer, uint32_t* error) override {
    Hook hook;
    {
      std::lock_guard lock(mutex_);
      seen_.push_back({transfer.letter, transfer.write, transfer.bytes, transfer.offset});
      hook = hook_;
    }
    return hook ? hook(transfer, error) : sim::Bench::TransferDriveFile(transfer, error);
  }
  void SetHook(Hook hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
  }
  std::vector<Seen> seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
  }
  // Bytes written (or read) through the drive's files so far.
  uint64_t Moved(char letter, bool write) const {
    std::lock_guard lock(mutex_);
    uint64_t total = 0;
    for (const Seen& s : seen_)
      if (s.letter == letter && s.write == write) total += s.bytes;
    return total;
  }

 private:
  mutable std::mutex mutex_;
  Hook hook_;
  std::vector<Seen> seen_;
};

// A bench of that one product, hooked.
inline std::shared_ptr<HookedBench> HookedBenchWithFatVolumeE(uint64_t sectors) {
  return std::make_shared<HookedBench>(std::vector<sim::ProductConfig>{ProductWithFatVolumeE(sectors)});
}

}  // namespace platform::testing
