// Sixteen products formatted at once by the station's FAT32 formatter
// against one alone, measured in one run. Each disk's sectors move under
// that disk's own lock, so sixteen formats should take no more than twice
// one (the goal printed beside the ratio). The bench's modelled device time
// is a sleep on the station clock, run at a scale that makes it cost no
// real time, so the host's own work is what is measured; the second run
// sleeps it in real time.
#include <benchmark/benchmark.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "disk/device_lock.h"
#include "disk/fat32_format.h"
#include "disk/partition_layout.h"
#include "platform/backend.h"
#include "platform/clock.h"
#include "sim/bench.h"

namespace disk::benchmarks {
namespace {

constexpr size_t kProducts = 16;
constexpr uint64_t kSectors = 8ull << 20;  // 4 GiB: 8 MiB of FATs to write

struct Station {
  platform::ScopedClockScale freeDeviceTime{1e9};
  std::shared_ptr<sim::Bench> bench;
  std::unique_ptr<platform::ScopedBackend> installed;
  std::vector<char> letters;
};

std::unique_ptr<Station> LaidOut() {
  auto s = std::make_unique<Station>();
  std::vector<sim::ProductConfig> products;
  for (size_t i = 0; i < kProducts; ++i) {
    sim::ProductConfig p;
    p.name = "fmt" + std::to_string(i);
    p.usbSerial = "FMT" + std::to_string(100 + i);
    p.disk.sectors = kSectors;
    p.volume.fileSystem = "";
    products.push_back(p);
  }
  s->bench = std::make_shared<sim::Bench>(products);
  s->installed = std::make_unique<platform::ScopedBackend>(s->bench);
  for (size_t i = 0; i < kProducts; ++i) {
    const std::string path = s->bench->product(i).path();
    char letter = 0;
    if (CreateDiskLayout(path.c_str()) != 1) return nullptr;
    for (int tries = 0; tries < 101 && !FindDriveLetter(path.c_str(), &letter); ++tries) platform::Sleep(1000);
    if (letter == 0) return nullptr;
    s->letters.push_back(letter);
  }
  return s;
}

double ProcessCpuMs() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct Round {
  double realMs = -1;  // -1: a format failed
  double cpuMsEach = 0;
};

// Formats the first `count` volumes at once: the real time it took, and the
// CPU time each format cost (flat when the formats share nothing).
Round FormatAtOnce(const Station& s, size_t count) {
  Fat32FormatRequest request;
  request.clusterSizeBytes = 4096;
  request.label = "BENCH";
  std::atomic<bool> failed{false};
  const double cpuStart = ProcessCpuMs();
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  for (size_t i = 0; i < count; ++i)
    workers.emplace_back([&, i] {
      if (FormatFat32(s.letters[i], request, 1) != 1) failed = true;
    });
  for (std::thread& w : workers) w.join();
  if (failed) return {};
  const double realMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return {realMs, (ProcessCpuMs() - cpuStart) / static_cast<double>(count)};
}

// Host work alone, then with the disks' modelled transfer times slept in
// real time as on hardware, where sixteen products' device time overlaps.
void SixteenFormatsAgainstOne(benchmark::State& state, double scale) {
  const std::unique_ptr<Station> station = LaidOut();
  if (!station) return state.SkipWithError("the disks could not be laid out");
  g_nHDDAccessRetry.store(5 * static_cast<int>(kProducts));
  const platform::ScopedClockScale clock(scale);
  for (auto _ : state) {
    const Round one = FormatAtOnce(*station, 1);
    const Round sixteen = FormatAtOnce(*station, kProducts);
    if (one.realMs < 0 || sixteen.realMs < 0) return state.SkipWithError("a format failed");
    state.counters["one_ms"] = one.realMs;
    state.counters["sixteen_ms"] = sixteen.realMs;
    state.counters["ratio"] = sixteen.realMs / one.realMs;
    state.counters["cpu_ms_one"] = one.cpuMsEach;
    state.counters["cpu_ms_each_of_sixteen"] = sixteen.cpuMsEach;
    state.counters["goal_ratio_at_most"] = 2;
    state.counters["cores"] = std::thread::hardware_concurrency();
  }
}
BENCHMARK_CAPTURE(SixteenFormatsAgainstOne, HostWork, 1e9)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SixteenFormatsAgainstOne, WithDeviceTime, 1.0)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace disk::benchmarks
