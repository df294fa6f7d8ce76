#include "qvfw/volume_rw_test.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/heap_buffer.h"

namespace qvfw {
namespace {

constexpr uint32_t kSectorAlignment = 4096;  // unbuffered transfers start on a sector

class OpenFile {
 public:
  OpenFile(const std::string& path, uint32_t access, uint32_t disposition)
      : handle_(platform::CreateFile(path.c_str(), access, 0, disposition,
                                     platform::kFileFlagNoBuffering |
                                         platform::kFileFlagWriteThrough)) {}
  ~OpenFile() {
    if (valid()) platform::CloseHandle(handle_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  bool valid() const { return handle_ != platform::kInvalidHandle; }
  platform::Handle get() const { return handle_; }

 private:
  platform::Handle handle_;
};

// Removes the test file however the test ends.
struct RemoveOnExit {
  std::string path;
  ~RemoveOnExit() { (void)platform::DeleteFile(path.c_str()); }
};

float MBPerSecond(uint64_t bytes, int64_t counts) {
  const int64_t frequency = platform::QueryPerformanceFrequency();
  if (counts < 1) counts = 1;  // a transfer faster than one tick
  const double seconds = static_cast<double>(counts) / static_cast<double>(frequency);
  return static_cast<float>(static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds);
}

}  // namespace

int RunVolumeRwTest(char driveLetter, uint32_t sizeMB, const uint8_t* pattern, float* readMBs,
                    float* writeMBs) {
  if (sizeMB == 0 || sizeMB > kMaxRwTestMB || readMBs == nullptr || writeMBs == nullptr) return 0;
  const uint64_t total = uint64_t{sizeMB} * 1024 * 1024;
  platform::HeapBuffer written(kRwChunkSize, kSectorAlignment);
  platform::HeapBuffer read(kRwChunkSize, kSectorAlignment);
  if (written.data() == nullptr || read.data() == nullptr) return 0;
  for (uint32_t at = 0; at < kRwChunkSize; at += kPatternSize) {
    if (pattern != nullptr) {
      std::memcpy(written.data() + at, pattern, kPatternSize);
    } else {
      for (uint32_t i = 0; i < kPatternSize; ++i) written.data()[at + i] = static_cast<uint8_t>(i * 7 + at / kPatternSize);
    }
  }
  const RemoveOnExit file{std::string(1, driveLetter) + ":\\" + kRwTestFileName};
  (void)platform::DeleteFile(file.path.c_str());  // a file left by an earlier test

  int64_t start = platform::QueryPerformanceCounter();
  {
    OpenFile out(file.path, platform::kAccessWrite, platform::kCreateNew);
    if (!out.valid()) return 0;
    for (uint64_t done = 0; done < total; done += kRwChunkSize) {
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kRwChunkSize, total - done));
      uint32_t moved = 0;
      if (!platform::WriteFile(out.get(), written.data(), n, &moved) || moved != n) return 0;
    }
  }
  *writeMBs = MBPerSecond(total, platform::QueryPerformanceCounter() - start);

  start = platform::QueryPerformanceCounter();
  OpenFile in(file.path, platform::kAccessRead, platform::kOpenExisting);
  if (!in.valid()) return 0;
  bool same = true;
  for (uint64_t done = 0; done < total; done += kRwChunkSize) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kRwChunkSize, total - done));
    uint32_t moved = 0;
    if (!platform::ReadFile(in.get(), read.data(), n, &moved) || moved != n) return 0;
    same = same && std::memcmp(read.data(), written.data(), n) == 0;
  }
  *readMBs = MBPerSecond(total, platform::QueryPerformanceCounter() - start);
  return same ? 1 : 0;
}

}  // namespace qvfw
