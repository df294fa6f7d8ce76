// The station's FAT32 formatter against mkfs.fat on one 64 GiB sparse disk
// image: the same partition, the same cluster size, both written through the
// page cache into the image and synced by the same fsync of it before the
// clock stops. Before every round the partition's system area is filled with
// old data and dropped from the cache, so each format must write every byte
// of it. The limit is measured the same way: the system area's bytes alone,
// written in place in the same image and synced. Each side's written bytes
// are counted by the kernel (its write calls) and printed beside the limit,
// which is reckoned on them.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "disk/benchmarks/disk_benchmarks.h"
#include "disk/benchmarks/disk_speed.h"
#include "disk/device_lock.h"
#include "disk/fat32_format.h"
#include "disk/fat32_layout.h"
#include "disk/partition_layout.h"
#include "platform/backend.h"
#include "platform/clock.h"
#include "sim/bench.h"

namespace disk::benchmarks {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kVolumeBytes = 64ull << 30;
constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kClusterBytes = 32 * 1024;  // what the station takes for 64 GiB
constexpr int kRounds = 3;
constexpr char kOursName[] = "BM_FormatFat32/Ours";
constexpr char kToolName[] = "BM_FormatFat32/MkfsFat";
constexpr char kLimitName[] = "BM_FormatFat32/WriteAndSync";
constexpr char kGroup[] = "FAT32 format";
constexpr size_t kChunk = 1 << 20;

// The product's disk as the station laid it out, and where its partition is.
struct FormatTarget {
  std::string image;
  platform::ScopedClockScale fastClock{1000.0};  // the volume's arrival costs no real time
  std::shared_ptr<sim::Bench> bench;
  std::unique_ptr<platform::ScopedBackend> installed;
  char letter = 0;
  uint64_t partitionStart = 0;    // sectors
  uint64_t partitionSectors = 0;
  uint64_t systemAreaBytes = 0;   // what a format of it must write
  std::array<uint8_t, kSectorSize> mbr = {};
  bool ready = false;
};

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }

std::unique_ptr<FormatTarget> MakeTarget(const fs::path& folder) {
  auto t = std::make_unique<FormatTarget>();
  t->image = (folder / "disk.img").string();
  sim::BenchConfig config;
  sim::ProductConfig product;
  product.name = "bench";
  product.disk.sectors = kVolumeBytes / kSectorSize + 63 + 2 * 16065;
  product.disk.sectorSize = kSectorSize;
  product.disk.imagePath = t->image;
  product.volume.autoLetter = false;
  product.volume.letters = "E";
  product.volume.fileSystem = "";
  config.products.push_back(product);
  t->bench = std::make_shared<sim::Bench>(config);
  t->installed = std::make_unique<platform::ScopedBackend>(t->bench);
  const std::string path = t->bench->product(0).path();
  if (CreateDiskLayout(path.c_str()) != 1) return t;
  for (int i = 0; i < 101 && !FindDriveLetter(path.c_str(), &t->letter); ++i) {
    platform::Sleep(1000);
  }
  const int fd = ::open(t->image.c_str(), O_RDONLY | O_CLOEXEC);
  const bool read = fd >= 0 && ::pread(fd, t->mbr.data(), kSectorSize, 0) == kSectorSize;
  if (fd >= 0) ::close(fd);
  t->partitionStart = Le32(&t->mbr[446 + 8]);
  t->partitionSectors = Le32(&t->mbr[446 + 12]);
  Fat32Layout layout;
  layout.bytesPerSector = kSectorSize;
  layout.sectorsPerCluster = kClusterBytes / kSectorSize;
  const bool planned = PlanFat32(t->partitionSectors, &layout) == Fat32PlanResult::Ok;
  t->systemAreaBytes = uint64_t{layout.systemAreaSectors()} * kSectorSize;
  t->ready = read && planned && t->letter != 0 && t->partitionStart != 0;
  return t;
}

std::unique_ptr<FormatTarget>& TargetSlot() {
  static std::unique_ptr<FormatTarget> target;
  return target;
}

fs::path& TargetFolder() {
  static fs::path folder;
  return folder;
}

// Made at the first round that needs it, so a filtered run pays nothing.
FormatTarget& Target() {
  if (!TargetSlot()) TargetSlot() = MakeTarget(TargetFolder());
  return *TargetSlot();
}

// The partition's system area as a disk that held data leaves it, out of
// the cache; the partition table as the station wrote it.
// Writes `byte` over the partition's system area, in place.
bool FillSystemArea(int fd, const FormatTarget& t, uint8_t byte) {
  const std::vector<uint8_t> data(kChunk, byte);
  const uint64_t start = t.partitionStart * kSectorSize;
  bool ok = true;
  for (uint64_t done = 0; ok && done < t.systemAreaBytes; done += kChunk) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, t.systemAreaBytes - done));
    ok = ::pwrite(fd, data.data(), n, static_cast<off_t>(start + done)) == static_cast<ssize_t>(n);
  }
  return ok;
}

bool Dirty(const FormatTarget& t) {
  const int fd = ::open(t.image.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::pwrite(fd, t.mbr.data(), kSectorSize, 0) == kSectorSize;
  ok = ok && FillSystemArea(fd, t, 0xA5);
  ok = ok && ::fsync(fd) == 0;
  ::close(fd);
  SyncAndEvict(t.image);
  return ok;
}

bool SyncImage(const FormatTarget& t) {
  const int fd = ::open(t.image.c_str(), O_RDONLY | O_CLOEXEC);
  const bool ok = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  return ok;
}

// The rounds of one side: the image dirtied outside the clock, then
// `format`, which answers the bytes its round wrote (nothing: it failed),
// and the image's fsync.
template <class Format>
void Rounds(benchmark::State& state, const char* name, Format format) {
  FormatTarget& t = Target();
  if (!t.ready) return state.SkipWithError("the disk could not be laid out");
  Moved& moved = MovedByBenchmark()[name];
  moved = {t.systemAreaBytes, Traffic::kWrite, 0, kLimitName, kGroup};
  for (auto _ : state) {
    state.PauseTiming();
    if (!Dirty(t)) return state.SkipWithError("the image could not be prepared");
    state.ResumeTiming();
    const std::optional<uint64_t> written = format(t);
    if (!written || !SyncImage(t)) return state.SkipWithError("the format failed");
    moved.written = *written;
  }
}

void FormatOurs(benchmark::State& state, const char* name) {
  g_nHDDAccessRetry.store(5);
  Fat32FormatRequest request;
  request.clusterSizeBytes = kClusterBytes;
  request.label = "BENCH";
  Rounds(state, name, [&](const FormatTarget& t) -> std::optional<uint64_t> {
    const uint64_t before = WrittenSoFar();
    if (FormatFat32(t.letter, request, 1) != 1) return std::nullopt;
    return WrittenSoFar() - before;
  });
}

void FormatMkfsFat(benchmark::State& state, const char* name) {
  // Our layout: 32 reserved sectors unaligned, two FATs, the partition's
  // start as hidden sectors, no partition table of its own.
  Rounds(state, name, [](const FormatTarget& t) {
    return RunCountingWrites({"mkfs.fat", "-F", "32", "-S", "512", "-s", std::to_string(kClusterBytes / kSectorSize),
                              "-R", "32", "-f", "2", "-a", "-h", std::to_string(t.partitionStart), "--mbr=n",
                              "--offset=" + std::to_string(t.partitionStart), "-n", "BENCH", t.image,
                              std::to_string(t.partitionSectors * kSectorSize / 1024)});
  });
}

// The limit: the system area's bytes alone, in 1 MiB writes.
void WriteAndSync(benchmark::State& state, const char* name) {
  Rounds(state, name, [](const FormatTarget& t) -> std::optional<uint64_t> {
    const int fd = ::open(t.image.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    const uint64_t before = WrittenSoFar();
    const bool ok = FillSystemArea(fd, t, 0);
    const uint64_t written = WrittenSoFar() - before;
    ::close(fd);
    return ok ? std::optional<uint64_t>(written) : std::nullopt;
  });
}

}  // namespace

void RegisterFormatBenchmarks(const fs::path& folder) {
  TargetFolder() = folder;
  const struct {
    const char* name;
    void (*run)(benchmark::State&, const char*);
  } formats[] = {{kLimitName, WriteAndSync}, {kOursName, FormatOurs}, {kToolName, FormatMkfsFat}};
  for (const auto& [name, run] : formats) {
    benchmark::RegisterBenchmark(name, run, name)
        ->Iterations(kRounds)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  Ratios().push_back({kOursName, kToolName, ""});
}

void ReleaseFormatTarget() { TargetSlot().reset(); }

}  // namespace disk::benchmarks
