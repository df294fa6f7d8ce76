// The software copy step end to end on a bench FAT32 volume: the image
// folder's tree arrives whole (diff -r against the source), the destination
// is made with its parents, and a settings text without a terminator or a
// refused write is handled.
#include "station/software_copy.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/debug.h"
#include "platform/files.h"
#include "platform/tests/hooked_bench.h"
#include "station/settings_block.h"

namespace station {
namespace {

namespace fs = std::filesystem;
using platform::testing::HookedBench;

class SoftwareCopyTest : public ::testing::Test {
 protected:
  SoftwareCopyTest() {
    bench_ = platform::testing::HookedBenchWithFatVolumeE(262144);
    installed_ = std::make_unique<platform::ScopedBackend>(bench_);
    image_ = fs::path(bench_->HostFolder('E')).parent_path() / "software image";
    fs::create_directories(image_ / "Drivers" / "x64");
    fs::create_directories(image_ / "Empty Folder");
    Put("Setup.exe", std::string(200000, 'S'));
    Put("readme", "no extension");
    Put("Drivers/x64/drv.sys", std::string(4097, '\x7f'));
    Put("Drivers/empty.inf", "");
  }
  ~SoftwareCopyTest() override {
    std::error_code ignored;
    fs::remove_all(image_, ignored);
  }
  void Put(const std::string& name, const std::string& content) {
    std::ofstream(image_ / name, std::ios::binary) << content;
  }
  std::string Source() { return image_.string() + "\\*.*"; }
  int Diff(const std::string& eTail) {
    return std::system(("diff -r '" + image_.string() + "' '" + bench_->HostFolder('E') + "/" + eTail + "'").c_str());
  }

  std::shared_ptr<HookedBench> bench_;
  std::unique_ptr<platform::ScopedBackend> installed_;
  fs::path image_;
};

TEST_F(SoftwareCopyTest, TheImageTreeArrivesWholeInAFolderMadeWithItsParents) {
  ASSERT_EQ(CopySoftwareImage(Source(), "E:\\Product\\Software\\Image"), 1);
  EXPECT_EQ(Diff("Product/Software/Image"), 0);
  // A second copy over the first replaces what is there.
  Put("readme", "changed");
  ASSERT_EQ(CopySoftwareImage(Source(), "E:\\Product\\Software\\Image"), 1);
  EXPECT_EQ(Diff("Product/Software/Image"), 0);
  // The root of the volume as the destination.
  ASSERT_EQ(CopySoftwareImage(Source(), "E:\\"), 1);
  EXPECT_EQ(std::system(("diff -r '" + image_.string() + "/Drivers' '" + bench_->HostFolder('E') + "/Drivers'").c_str()), 0);
}

TEST_F(SoftwareCopyTest, ASettingsTextThatFillsItsFieldIsCutAtTheField) {
  SettingsBlock settings = ZeroedSettingsBlock();
  const std::string source = Source();
  ASSERT_LT(source.size(), sizeof settings.SwImgPath);
  SetFieldText(settings.SwImgPath, source);
  EXPECT_EQ(ShellCopyFolder(FieldText(settings.SwImgPath), "E:\\FromSettings"), 1);
  EXPECT_EQ(Diff("FromSettings"), 0);
  // A full field has no NUL: the list still ends where the field does.
  std::memset(settings.SwImgPath, 'x', sizeof settings.SwImgPath);
  EXPECT_EQ(ShellCopyFolder(FieldText(settings.SwImgPath), "E:\\Nothing"), 0);
}

TEST_F(SoftwareCopyTest, FailuresAnswerZero) {
  bench_->SetHook([](platform::Backend::DriveFileTransfer& t, uint32_t* error) {
    if (!t.write) return true;
    *error = platform::kErrorDiskFull;  // the volume is full
    return false;
  });
  EXPECT_EQ(CopySoftwareImage(Source(), "E:\\Full"), 0);
  bench_->SetHook(nullptr);
  EXPECT_EQ(CopySoftwareImage(Source(), ""), 0);
  EXPECT_EQ(CopySoftwareImage(Source(), "Q:\\NoDrive"), 0);
  EXPECT_EQ(CopySoftwareImage(image_.string() + "\\missing\\*.*", "E:\\Missing"), 0);
  std::ofstream(bench_->HostFolder('E') + "/AFile") << "x";
  EXPECT_EQ(CopySoftwareImage(Source(), "E:\\AFile\\Below"), 0);
}

// A pipe or a device in the image folder is refused, at once and by name,
// where a copy that opened it would wait for a writer or read for ever.
TEST_F(SoftwareCopyTest, WhatIsNotARegularFileOrFolderIsRefusedByName) {
  std::mutex mutex;
  std::vector<std::string> traces;
  platform::SetDebugSink([&](const std::string& line) {
    std::lock_guard lock(mutex);
    traces.push_back(line);
  });
  for (const char* name : {"pipe", "zeros"}) {
    SCOPED_TRACE(name);
    const fs::path special = image_ / "Drivers" / name;
    if (std::string(name) == "pipe") ASSERT_EQ(::mkfifo(special.c_str(), 0600), 0);
    else ASSERT_EQ(::symlink("/dev/zero", special.c_str()), 0);
    EXPECT_EQ(CopySoftwareImage(Source(), std::string("E:\\With_") + name), 0);
    EXPECT_FALSE(fs::exists(fs::path(bench_->HostFolder('E')) / (std::string("With_") + name) / "Drivers" / name));
    std::lock_guard lock(mutex);
    EXPECT_TRUE(std::any_of(traces.begin(), traces.end(), [&](const std::string& line) {
      return line.find(special.filename().string() + " not copied") != std::string::npos;
    }));
    traces.clear();
    fs::remove(special);
  }
  platform::SetDebugSink({});
  EXPECT_EQ(CopySoftwareImage(Source(), "E:\\Plain"), 1);
  EXPECT_EQ(Diff("Plain"), 0);
}

}  // namespace
}  // namespace station
