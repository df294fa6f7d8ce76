// The second program's world for a test: a program folder of its own that
// holds the device library (the real QVFWUpdateDll.so, bound through the
// platform's loader as the program binds it), a bench of the test's
// choosing, the operator's message boxes recorded, the debug output
// collected, and a fast station clock.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/message_box.h"
#include "platform/program_folder.h"
#include "sdkstation/device_sdk.h"
#include "sim/bench.h"

namespace sdkstation::testing {

inline std::string MakeTempFolder() {
  char pattern[] = "/tmp/kestrova_sdk.XXXXXX";
  const char* made = ::mkdtemp(pattern);
  return made ? made : "";
}

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void Spit(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Collects the debug output of this process (the library's traces among it).
class DebugLines {
 public:
  DebugLines() {
    platform::SetDebugSink([this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    });
  }
  ~DebugLines() { platform::SetDebugSink({}); }
  DebugLines(const DebugLines&) = delete;
  DebugLines& operator=(const DebugLines&) = delete;

  std::vector<std::string> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(lines_, {});
  }
  // The lines that begin with `prefix`, taken.
  std::vector<std::string> Take(std::string_view prefix) {
    std::vector<std::string> kept;
    for (std::string& line : Take())
      if (line.starts_with(prefix)) kept.push_back(std::move(line));
    return kept;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

// `count` products of one chip type on the default root hub, serials and
// disk serials told apart by their number.
inline std::string Products(int chipType, int count, const std::string& keys = "") {
  std::string text;
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    text += "[product c" + std::to_string(chipType) + "_" + n + "]\nchip = " + std::to_string(chipType) +
            "\nserial = 5" + std::to_string(chipType * 100 + i) + "\ndisk.serial = D" + n + "\n" + keys;
  }
  return text;
}

class SdkTest : public ::testing::Test {
 public:
  SdkTest() : folder_(MakeTempFolder()), programFolder_(folder_), boxScope_(&boxes_), clock_(1000) {
    std::filesystem::copy_file(QVFW_LIBRARY, Path("QVFWUpdateDll.so"));
  }
  ~SdkTest() override {
    if (module_) {
      EXPECT_TRUE(UnbindDeviceSdk(module_));
    }
    backend_.reset();
    std::filesystem::remove_all(folder_);
  }

  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  void WriteFile(const std::string& name, const std::string& text) const { Spit(Path(name), text); }

  // Installs the bench described by `text` (empty: nothing attached).
  void Bench(const std::string& text) {
    std::string error;
    backend_.reset();
    bench_ = sim::Bench::FromText(text, &error);
    ASSERT_TRUE(bench_) << error;
    backend_ = std::make_unique<platform::ScopedBackend>(bench_);
  }

  // Binds the library of the program folder, as the program does.
  void Bind() {
    if (!bench_) Bench("");
    module_ = BindDeviceSdk();
    ASSERT_NE(module_, nullptr);
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& box : boxes_.boxes()) texts.push_back(box.text);
    return texts;
  }

  std::string folder_;
  platform::ScopedProgramFolder programFolder_;
  platform::RecordingMessageBoxSink boxes_;
  platform::ScopedMessageBoxSink boxScope_;
  platform::ScopedClockScale clock_;
  std::shared_ptr<sim::Bench> bench_;
  std::unique_ptr<platform::ScopedBackend> backend_;
  platform::Module module_ = nullptr;
};

}  // namespace sdkstation::testing
