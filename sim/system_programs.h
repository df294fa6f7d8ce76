// Starting the system's programs and documents, their process handles, and
// the format service, on the bench's volumes.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "sim/program_run.h"

namespace sim {

class VolumeSystem;

class SystemPrograms {
 public:
  // `owner` owns the process handles made; `openHandles` counts them.
  SystemPrograms(platform::Backend& owner, VolumeSystem& volumes, std::atomic<int>& openHandles)
      : owner_(owner), volumes_(volumes), openHandles_(openHandles) {}

  bool ShellExecute(const platform::ShellExecuteInfo& info, platform::Handle* process, uint32_t* error);
  uint32_t WaitProcess(platform::Handle process, uint32_t milliseconds);
  bool ProcessExitCode(platform::Handle process, uint32_t* exitCode);
  bool TerminateProcess(platform::Handle process, uint32_t exitCode);
  bool HasModule(const char* module, const char* entry) const;
  void FormatEx(const char16_t* driveRoot, const char16_t* fileSystemName, const char16_t* label, bool quick,
                uint32_t clusterSize, platform::FmifsCallback callback);
  // Every command the emulated shell ran, in order.
  std::vector<std::string> Commands() const { return log_.Lines(); }

 private:
  platform::Backend& owner_;
  VolumeSystem& volumes_;
  std::atomic<int>& openHandles_;
  CommandLog log_;
  std::mutex processMutex_;  // guards the processes' ends (a termination)
};

}  // namespace sim
