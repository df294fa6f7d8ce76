// Whole path-form commands (open, pass-through, close) through the platform
// layer into the simulated bench, on one product and on sixteen at once with
// one thread per product.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bridge/scsi_pass_through.h"
#include "bridge/vendor_commands.h"
#include "platform/backend.h"
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

}  // namespace

int main(int argc, char** argv) {
  InstallBench();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
