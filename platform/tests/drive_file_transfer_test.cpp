// Files on a product's drive as the backend sees them: unbuffered handles
// move whole sectors only, and every transfer of a drive's file (through
// ReadFile, WriteFile and CopyFile) is offered to the backend, which may
// change what a read returns or refuse a write before it lands.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/files.h"
#include "platform/heap_buffer.h"
#include "platform/tests/hooked_bench.h"
#include "sim/bench.h"

namespace {

using namespace platform;

using platform::testing::HookedBench;

class DriveFileTransferTest : public ::testing::Test {
 protected:
  std::shared_ptr<HookedBench> bench_ = platform::testing::HookedBenchWithFatVolumeE(131072);
  ScopedBackend installed_{bench_};
};

TEST_F(DriveFileTransferTest, UnbufferedHandlesMoveWholeSectorsOnly) {
  HeapBuffer buffer(8192, kPageSize);
  Handle file = CreateFile("E:\\raw.bin", kAccessRead | kAccessWrite, 0, kCreateNew, kFileFlagNoBuffering);
  ASSERT_NE(file, kInvalidHandle);
  struct Case {
    bool write;
    uint32_t size;
    int64_t position;
    bool ok;
  } const cases[] = {
      {true, 4096, 0, true},   {true, 100, 0, false},  {true, 513, 0, false},
      {true, 512, 512, true},  {true, 512, 100, false}, {false, 1024, 0, true},
      {false, 1000, 0, false}, {false, 512, 7, false},  {true, 0, 0, true},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(SetFilePointerEx(file, c.position, nullptr, kFileBegin));
    uint32_t moved = 77;
    const bool ok = c.write ? WriteFile(file, buffer.data(), c.size, &moved)
                            : ReadFile(file, buffer.data(), c.size, &moved);
    EXPECT_EQ(ok, c.ok) << (c.write ? "write " : "read ") << c.size << " at " << c.position;
    if (!c.ok) {
      EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
      EXPECT_EQ(moved, 0u);
    }
  }
  CloseHandle(file);

  // A buffered handle and a host path keep no such rule.
  file = CreateFile("E:\\raw.bin", kAccessWrite, 0, kOpenExisting, 0);
  uint32_t moved = 0;
  EXPECT_TRUE(WriteFile(file, buffer.data(), 100, &moved));
  CloseHandle(file);
  const std::string host = bench_->HostFolder('E') + "/../host_unbuffered.bin";
  file = CreateFile(host.c_str(), kAccessWrite, 0, kCreateAlways, kFileFlagNoBuffering);
  ASSERT_NE(file, kInvalidHandle);
  EXPECT_TRUE(WriteFile(file, buffer.data(), 100, &moved));
  CloseHandle(file);
  EXPECT_TRUE(DeleteFile(host.c_str()));
}

TEST_F(DriveFileTransferTest, TheBackendSeesChangesAndRefusesTransfers) {
  Handle file = CreateFile("E:\\data.bin", kAccessWrite, 0, kCreateNew, 0);
  ASSERT_NE(file, kInvalidHandle);
  const std::string text = "0123456789";
  uint32_t moved = 0;
  ASSERT_TRUE(WriteFile(file, text.data(), 10, &moved));
  bench_->SetHook([](Backend::DriveFileTransfer& t, uint32_t* error) {
    if (!t.write) {
      t.data[0] ^= 0x20;  // a flipped bit on the way back
      return true;
    }
    *error = kErrorDiskFull;
    return false;
  });
  EXPECT_FALSE(WriteFile(file, text.data(), 10, &moved));
  EXPECT_EQ(GetLastError(), kErrorDiskFull);
  EXPECT_EQ(moved, 0u);
  CloseHandle(file);
  EXPECT_EQ(std::ifstream(bench_->HostFolder('E') + "/data.bin", std::ios::ate).tellg(), 10)
      << "a refused write writes nothing";

  file = CreateFile("E:\\data.bin", kAccessRead, 0, kOpenExisting, 0);
  char back[16] = {};
  ASSERT_TRUE(ReadFile(file, back, sizeof back, &moved));
  EXPECT_EQ(std::string(back, moved), "\x10" "123456789");
  CloseHandle(file);

  ASSERT_EQ(bench_->seen().size(), 3u);
  EXPECT_TRUE(bench_->seen()[0].write);
  EXPECT_EQ(bench_->seen()[0].letter, 'E');
  EXPECT_EQ(bench_->seen()[0].bytes, 10u);
  EXPECT_EQ(bench_->seen()[1].offset, 10u);
  EXPECT_FALSE(bench_->seen()[2].write);

  // A copy onto the drive is refused the same way, and leaves no part file.
  const std::string source = bench_->HostFolder('E') + "/../copy_source.bin";
  std::ofstream(source) << "copied";
  EXPECT_FALSE(CopyFile(source.c_str(), "E:\\copy.bin", false));
  EXPECT_EQ(GetLastError(), kErrorDiskFull);
  EXPECT_EQ(GetFileAttributes("E:\\copy.bin"), kInvalidFileAttributes);
  bench_->SetHook(nullptr);
  EXPECT_TRUE(CopyFile(source.c_str(), "E:\\copy.bin", false));
  EXPECT_TRUE(bench_->seen().back().write);
  EXPECT_EQ(bench_->seen().back().bytes, 6u);
  EXPECT_TRUE(DeleteFile(source.c_str()));
}

TEST_F(DriveFileTransferTest, TheBackendMayMoveFewerBytes) {
  bench_->SetHook([](Backend::DriveFileTransfer& t, uint32_t*) {
    t.bytes = t.bytes > 4 ? 4 : t.bytes;  // a device that takes or gives only four
    return true;
  });
  Handle file = CreateFile("E:\\short.bin", kAccessRead | kAccessWrite, 0, kCreateNew, 0);
  ASSERT_NE(file, kInvalidHandle);
  uint32_t moved = 0;
  ASSERT_TRUE(WriteFile(file, "abcdefgh", 8, &moved));
  EXPECT_EQ(moved, 4u);
  bench_->SetHook(nullptr);
  ASSERT_TRUE(WriteFile(file, "ijkl", 4, &moved));
  ASSERT_TRUE(SetFilePointerEx(file, 0, nullptr, kFileBegin));
  bench_->SetHook([](Backend::DriveFileTransfer& t, uint32_t*) {
    t.bytes = 3;
    return true;
  });
  char back[8] = {};
  ASSERT_TRUE(ReadFile(file, back, sizeof back, &moved));
  EXPECT_EQ(std::string(back, moved), "abc");
  CloseHandle(file);
  EXPECT_EQ(std::ifstream(bench_->HostFolder('E') + "/short.bin", std::ios::ate).tellg(), 8);
}

TEST(DriveFileSectors, UnbufferedFilesOnA4KDiskMoveItsSectors) {
  sim::ProductConfig product = platform::testing::ProductWithFatVolumeE(32768);
  product.disk.sectorSize = 4096;
  ScopedBackend installed(std::make_shared<sim::Bench>(std::vector<sim::ProductConfig>{product}));
  HeapBuffer buffer(8192, kPageSize);
  Handle file = CreateFile("E:\\raw4k.bin", kAccessWrite, 0, kCreateNew, kFileFlagNoBuffering);
  ASSERT_NE(file, kInvalidHandle);
  uint32_t moved = 0;
  EXPECT_FALSE(WriteFile(file, buffer.data(), 512, &moved));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_TRUE(WriteFile(file, buffer.data(), 8192, &moved));
  EXPECT_EQ(moved, 8192u);
  CloseHandle(file);
}

}  // namespace
