// The device library as the second program uses it: bound by name from a
// program folder of the test's own, every call made through the binding's
// table, on a bench this process installed.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/program_folder.h"
#include "sdkstation/device_sdk.h"
#include "sim/bench.h"

namespace qvfw::testing {

namespace fs = std::filesystem;

// A folder of this process's own: test runs of other checkouts use the
// same names at the same time.
inline fs::path ScratchFolder(const std::string& name) {
  const fs::path folder = fs::temp_directory_path() /
                          ("qvfw-" + name + "-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

// A file of these bytes in `folder`; its path.
inline std::string WriteBytes(const fs::path& folder, const std::string& name,
                              const std::vector<uint8_t>& bytes) {
  const fs::path path = folder / name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

class LibraryBench {
 public:
  explicit LibraryBench(const sim::BenchConfig& config, double clockScale = 2000.0)
      : bench_(std::make_shared<sim::Bench>(config)),
        installed_(bench_),
        fast_(clockScale),
        folder_(ScratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name())),
        program_(folder_.string()) {
    fs::copy_file(QVFW_LIBRARY, folder_ / "QVFWUpdateDll.so");
    module_ = sdkstation::BindDeviceSdk();
  }
  explicit LibraryBench(std::vector<sim::ProductConfig> products, double clockScale = 2000.0)
      : LibraryBench(sim::BenchConfig{sim::SystemConfig{}, {}, std::move(products), {}},
                     clockScale) {}
  ~LibraryBench() {
    (void)sdkstation::UnbindDeviceSdk(module_);
    fs::remove_all(folder_);
  }
  LibraryBench(const LibraryBench&) = delete;
  LibraryBench& operator=(const LibraryBench&) = delete;

  bool bound() const { return module_ != nullptr; }
  const sdkstation::DeviceSdkTable& sdk() const { return sdkstation::DeviceSdk(); }
  sim::Bench& bench() { return *bench_; }
  sim::Product& product(size_t i) { return bench_->product(i); }
  const fs::path& folder() const { return folder_; }

  // The library's device list, as the station asks for it.
  std::vector<std::string> List() {
    sdkstation::DeviceList list;
    int count = -1;
    (void)sdk().QV_GetDeviceList(list.buffers(), &count);
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) paths.emplace_back(list[i]);
    return paths;
  }

  // Where the library says a listed device hangs: hub name and port.
  struct Location {
    std::string hub;
    int port = -2;
    bool operator==(const Location&) const = default;
  };
  std::optional<Location> LocationOf(const std::string& path) {
    Location where;
    char hub[256] = {};
    if (!sdk().QV_GetHubPortIndex(path.c_str(), &where.port) ||
        !sdk().QV_GetRootHubName(path.c_str(), hub)) {
      return std::nullopt;
    }
    where.hub = hub;
    return where;
  }

  // The listed path at a hub location, waiting as a re-find does for a
  // product that is between its reset and its return.
  std::optional<std::string> Refind(const Location& where, int tries = 40) {
    for (int attempt = 0; attempt < tries; ++attempt) {
      for (const std::string& path : List())
        if (LocationOf(path) == where) return path;
      platform::Sleep(500);
    }
    return std::nullopt;
  }

 private:
  std::shared_ptr<sim::Bench> bench_;
  platform::ScopedBackend installed_;
  platform::ScopedClockScale fast_;
  fs::path folder_;
  platform::ScopedProgramFolder program_;
  platform::Module module_ = nullptr;
};

}  // namespace qvfw::testing
