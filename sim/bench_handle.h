// The bench's handle objects: devices it opened and processes it started.
// Shared by the bench's source files only.
#pragma once

#include <cstdint>
#include <string>

#include "platform/process.h"
#include "sim/product.h"

namespace sim {

struct UsbHub;

// A bench device: what it reached and how it was opened.
struct BenchHandle final : platform::HandleObject {
  enum class Kind : uint8_t { Interface, Volume, Hub, SystemDisk, SystemVolume };
  BenchHandle(platform::Backend* owner, Kind what, uint32_t access)
      : HandleObject(owner), what(what), access(access) {}
  Kind what;
  uint32_t access;
  uint32_t flags = 0;  // CreateFile flags (unbuffered)
  Product* product = nullptr;
  uint32_t generation = 0;  // of the product's path when opened
  uint32_t partition = 0;   // volumes: 1-based
  uint8_t unit = 0;         // volumes of the second drive reach its own unit
  uint64_t epoch = 0;       // volumes: the drive's layout epoch when opened
  char letter = 0;          // volumes: the letter opened
  const UsbHub* hub = nullptr;
};

// An emulated program that was started.
struct BenchProcess final : platform::ProcessObject {
  explicit BenchProcess(platform::Backend* owner) : ProcessObject(owner, platform::HandleKind::Process) {}
  std::string commandLine;
  uint64_t endsAt = 0;         // station ms; kNever: waits for input that never comes
  uint32_t exitCode = 0;
  bool terminated = false;     // guarded by the programs' process mutex
  static constexpr uint64_t kNever = ~0ull;
};

}  // namespace sim
