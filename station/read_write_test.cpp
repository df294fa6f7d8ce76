#include "station/read_write_test.h"

#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/files.h"
#include "platform/heap_buffer.h"
#include "platform/message_box.h"

namespace station {
namespace {

constexpr char kTestFile[] = "c:\\targetTestFile.mas";

bool Exists(const char* path) { return platform::GetFileAttributes(path) != platform::kInvalidFileAttributes; }

void Tell(const char* text) { platform::MessageBox(text, nullptr, platform::kMbOk); }

// Moves `chunks` whole chunks through `file`; false at the first transfer
// that fails or moves less than a chunk.
template <bool kWrite>
bool MoveChunks(platform::Handle file, uint8_t* buffer, uint32_t chunks) {
  for (uint32_t i = 0; i < chunks; ++i) {
    uint32_t moved = 0;
    const bool ok = kWrite ? platform::WriteFile(file, buffer, kReadWriteChunkSize, &moved)
                           : platform::ReadFile(file, buffer, kReadWriteChunkSize, &moved);
    if (!ok || moved != kReadWriteChunkSize) {
      platform::DebugTrace("RunReadWriteSpeedTest: chunk %u %s %u of %u bytes, error %u\n", i,
                           kWrite ? "wrote" : "read", moved, kReadWriteChunkSize, platform::GetLastError());
      return false;
    }
  }
  return true;
}

// MB per second of `sizeMB` moved in `ticks` of the performance counter.
double Speed(uint32_t sizeMB, int64_t ticks, int64_t frequency) {
  const double seconds = static_cast<double>(std::max<int64_t>(ticks, 1)) / static_cast<double>(frequency);
  return static_cast<double>(sizeMB) / seconds * 1.0;
}

}  // namespace

uint32_t ReadWriteTestSizeMB(int32_t requestedMB) {
  if (requestedMB < 0 || requestedMB > kMaxReadWriteTestMB) return 0;
  const uint32_t rounded = (static_cast<uint32_t>(requestedMB) + kReadWriteChunkMB - 1) & ~(kReadWriteChunkMB - 1);
  return rounded ? rounded : kReadWriteChunkMB;
}

int RunReadWriteSpeedTest(char driveLetter, int32_t sizeMB,
                          std::span<const uint8_t, bridge::kHexPageSize> pattern, float* readSpeed,
                          float* writeSpeed) {
  const uint32_t testMB = ReadWriteTestSizeMB(sizeMB);
  if (testMB == 0) {
    platform::DebugTrace("RunReadWriteSpeedTest: a test size of %d MB is out of range\n", sizeMB);
    return 0;
  }
  const uint32_t chunks = testMB / kReadWriteChunkMB;
  char path[sizeof kTestFile];
  std::memcpy(path, kTestFile, sizeof kTestFile);
  path[0] = driveLetter;

  // Unbuffered transfers want page-aligned buffers.
  platform::HeapBuffer written(kReadWriteChunkSize, platform::kPageSize);
  if (!written.valid()) {
    Tell("Failed to allocate memory for data write!");
    return 0;
  }
  platform::HeapBuffer read(kReadWriteChunkSize, platform::kPageSize);
  if (!read.valid()) {
    Tell("Failed to allocate memory for data read!");
    return 0;
  }
  for (uint32_t at = 0; at < kReadWriteChunkSize; at += bridge::kHexPageSize)
    std::memcpy(written.data() + at, pattern.data(), bridge::kHexPageSize);

  double writeMBs = 0, readMBs = 0;
  const int64_t frequency = platform::QueryPerformanceFrequency();
  if (Exists(path)) (void)platform::DeleteFile(path);  // one that stays fails the create below

  platform::Handle file = platform::CreateFile(path, platform::kAccessWrite, 0, platform::kCreateNew,
                                               platform::kFileFlagNoBuffering);
  if (file == platform::kInvalidHandle) {
    Tell(" Create write target file fail");
    return 0;
  }
  int64_t start = platform::QueryPerformanceCounter();
  const bool writeOk = MoveChunks<true>(file, written.data(), chunks);
  writeMBs = Speed(testMB, platform::QueryPerformanceCounter() - start, frequency);
  platform::CloseHandle(file);

  bool readOk = false;
  if (writeOk) {
    file = platform::CreateFile(path, platform::kAccessRead, 0, platform::kOpenExisting,
                                platform::kFileFlagNoBuffering);
    if (file == platform::kInvalidHandle) {
      // The test has failed; the file it wrote is still removed below.
      Tell(" Create read target file fail");
    } else {
      start = platform::QueryPerformanceCounter();
      readOk = MoveChunks<false>(file, read.data(), chunks);
      readMBs = Speed(testMB, platform::QueryPerformanceCounter() - start, frequency);
      platform::CloseHandle(file);
    }
  }
  int result = writeOk && readOk &&
               std::memcmp(read.data(), written.data(), kReadWriteCompareSize) == 0;
  if (writeOk && readOk && !result) platform::DebugTrace("RunReadWriteSpeedTest: the data read back differ\n");

  if (!Exists(path)) {
    Tell("R/W test file disappear\n");
    result = 0;
  } else {
    for (int attempt = 1; Exists(path); ++attempt) {
      if (!platform::DeleteFile(path) && platform::GetLastError() == platform::kErrorFileNotFound) break;
      if (attempt >= kDeleteAttempts) break;
      platform::Sleep(kDeletePauseMs);
    }
  }
  if (readSpeed) *readSpeed = static_cast<float>(readMBs);
  if (writeSpeed) *writeSpeed = static_cast<float>(writeMBs);
  if (Exists(path)) {
    Tell("Delete the RW temp file fail");
    result = 0;
  }
  return result;
}

}  // namespace station
