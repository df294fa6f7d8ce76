// Whole path-form commands (open, pass-through, close) through the platform
// layer into the simulated bench, on one product and on sixteen at once with
// one thread per product. The bench's modelled device time is a sleep on
// the station clock; the clock runs at a scale that makes those sleeps cost
// nothing, so what is measured is the host's own work, except where the
// thread scaling is measured with device time as well.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bridge/scsi_pass_through.h"
#include "bridge/vendor_commands.h"
#include "platform/backend.h"
#include "platform/clock.h"
#include "sim/bench.h"

namespace {

constexpr size_t kProducts = 16;

std::vector<std::string>& Paths() {
  static std::vector<std::string> paths;
  return paths;
}

void InstallBench() {
  std::vector<sim::ProductConfig> configs;
  for (size_t i = 0; i < kProducts; ++i) {
    sim::ProductConfig config;
    config.name = "bench" + std::to_string(i);
    config.usbSerial = "BENCH" + std::to_string(1000 + i);
    config.disk.sectors = 8192;
    configs.push_back(config);
  }
  auto bench = std::make_shared<sim::Bench>(configs);
  for (size_t i = 0; i < kProducts; ++i) Paths().push_back(bench->product(i).path());
  platform::InstallBackend(bench);
}

const char* ThreadPath(const benchmark::State& state) {
  return Paths()[static_cast<size_t>(state.thread_index()) % kProducts].c_str();
}

void ReadFlashBusy(benchmark::State& state) {
  const char* path = ThreadPath(state);
  for (auto _ : state) {
    if (bridge::ReadFlashBusy(path) != 0) state.SkipWithError("flash busy or command failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ReadFlashBusy)->UseRealTime();
BENCHMARK(ReadFlashBusy)->UseRealTime()->Threads(kProducts);

void ReadBridgeRegister64(benchmark::State& state) {
  const char* path = ThreadPath(state);
  uint8_t buffer[64];
  for (auto _ : state) {
    if (!bridge::ReadBridgeRegister(path, 0x4000, buffer, sizeof buffer))
      state.SkipWithError("command failed");
    benchmark::DoNotOptimize(buffer);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ReadBridgeRegister64)->UseRealTime();
BENCHMARK(ReadBridgeRegister64)->UseRealTime()->Threads(kProducts);

// The same register read on a device kept open: the pass-through alone,
// without open, close and the aligned buffers.
void ReadBridgeRegister64Handle(benchmark::State& state) {
  platform::ScopedDevice device(ThreadPath(state), platform::kAccessRead | platform::kAccessWrite,
                                platform::kShareRead | platform::kShareWrite);
  const uint8_t cdb[12] = {0xDF, 0x10, 0x00, 0x00, 0x40, 0x00, 0x40, 0x00, 0, 0, 0, 0xFD};
  uint8_t buffer[64];
  for (auto _ : state) {
    if (!bridge::ScsiPassThroughInHandle(device.get(), cdb, 12, buffer, sizeof buffer, nullptr))
      state.SkipWithError("command failed");
    benchmark::DoNotOptimize(buffer);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ReadBridgeRegister64Handle)->UseRealTime();
BENCHMARK(ReadBridgeRegister64Handle)->UseRealTime()->Threads(kProducts);

double ProcessCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Throughput {
  double perSecond = 0;  // commands per second of real time
  double cpuNs = 0;      // CPU time each command cost the process
};

// The same command from 1 and from 16 threads, one product each, measured
// in one run: the speed-up the bench allows (goal: 10 or more; no more than
// the cores the machine gives the process), and the CPU time per command,
// which stays flat when the threads share nothing.
Throughput Commands(size_t threads, int perThread) {
  std::atomic<bool> failed{false};
  const double cpuStart = ProcessCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  for (size_t t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      uint8_t buffer[64];
      const char* path = Paths()[t % kProducts].c_str();
      for (int i = 0; i < perThread; ++i)
        if (!bridge::ReadBridgeRegister(path, 0x4000, buffer, sizeof buffer)) failed = true;
    });
  }
  for (std::thread& w : workers) w.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double commands = static_cast<double>(threads) * perThread;
  if (failed) return {};
  return {commands / seconds, (ProcessCpuSeconds() - cpuStart) * 1e9 / commands};
}

// Host work alone (the scale makes device time free), then with each
// command's modelled round trip slept in real time as on hardware, where
// sixteen products' device time overlaps.
void ThreadScaling(benchmark::State& state, double scale, int perThread) {
  const platform::ScopedClockScale clock(scale);
  for (auto _ : state) {
    const Throughput one = Commands(1, perThread);
    const Throughput sixteen = Commands(kProducts, perThread);
    if (one.perSecond == 0 || sixteen.perSecond == 0) return state.SkipWithError("a command failed");
    state.counters["one_thread_per_s"] = one.perSecond;
    state.counters["sixteen_threads_per_s"] = sixteen.perSecond;
    state.counters["speedup"] = sixteen.perSecond / one.perSecond;
    state.counters["cpu_ns_one"] = one.cpuNs;
    state.counters["cpu_ns_sixteen"] = sixteen.cpuNs;
    state.counters["cores"] = std::thread::hardware_concurrency();
  }
}
BENCHMARK_CAPTURE(ThreadScaling, HostWork, 1e9, 50000)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ThreadScaling, WithDeviceTime, 1.0, 2000)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  platform::SetClockScale(1e9);
  InstallBench();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
