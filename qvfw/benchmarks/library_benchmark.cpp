// The device library bound as the second program binds it, on sixteen bench
// products: what one device list costs (one storage enumeration and one hub
// walk for all sixteen, so a re-find scan does not walk the hubs per
// device), and a library-level pass (identity update, reset, re-find,
// partition, own FAT32 format, read/write test) on sixteen products in
// sixteen threads against one product alone. Device time is a sleep on the
// station clock, run at a scale that makes it cost no real time, so the
// host's own work is what is measured; with fewer cores than products the
// ideal ratio is products / cores, and the goal is 1.2 times that.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/program_folder.h"
#include "sdkstation/device_sdk.h"
#include "sim/bench.h"

namespace qvfw::benchmarks {
namespace {

constexpr size_t kProducts = 16;

struct Station {
  explicit Station(const std::vector<sim::ProductConfig>& products)
      : bench(std::make_shared<sim::Bench>(products)), installed(bench) {
    module = sdkstation::BindDeviceSdk();
  }
  ~Station() { (void)sdkstation::UnbindDeviceSdk(module); }
  platform::ScopedClockScale freeDeviceTime{1e9};
  platform::ScopedProgramFolder folder{std::filesystem::path(QVFW_LIBRARY).parent_path().string()};
  std::shared_ptr<sim::Bench> bench;
  platform::ScopedBackend installed;
  platform::Module module = nullptr;
  const sdkstation::DeviceSdkTable& sdk() const { return sdkstation::DeviceSdk(); }

  std::vector<std::string> List() const {
    sdkstation::DeviceList list;
    int count = 0;
    (void)sdk().QV_GetDeviceList(list.buffers(), &count);
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) paths.emplace_back(list[i]);
    return paths;
  }
};

std::vector<sim::ProductConfig> Products() {
  std::vector<sim::ProductConfig> products;
  for (size_t i = 0; i < kProducts; ++i) {
    sim::ProductConfig p;
    p.name = "lib" + std::to_string(i);
    p.chipType = 29;
    p.usbSerial = "LIB" + std::to_string(100 + i);
    p.disk.sectors = 2ull << 20;  // 1 GiB
    p.placement.resetNewPath = true;
    products.push_back(p);
  }
  return products;
}

void ListSixteenProducts(benchmark::State& state) {
  Station s(Products());
  if (s.module == nullptr) return state.SkipWithError("the library did not bind");
  for (sim::Product* p : {&s.bench->product(0)}) p->EnableTrace(true);
  size_t listed = 0;
  for (auto _ : state) listed = s.List().size();
  if (listed != kProducts) return state.SkipWithError("not every product was listed");
  // Commands one listing sends to one product: the same for 1 or 16.
  s.bench->product(0).TakeTrace();
  (void)s.List();
  state.counters["commands_per_product_per_list"] =
      static_cast<double>(s.bench->product(0).TakeTrace().size());
  state.counters["products"] = kProducts;
}
BENCHMARK(ListSixteenProducts)->UseRealTime()->Unit(benchmark::kMillisecond);

// The pass of one product: false on any failing call.
bool Pass(const Station& s, std::string path, const std::string& serial) {
  const auto& sdk = s.sdk();
  int port = -2;
  char hub[256] = {};
  const int index = sdk.QV_GetCustomizedSettingTableIndex(path.c_str());
  if (index < 0 || !sdk.QV_GetHubPortIndex(path.c_str(), &port) ||
      !sdk.QV_GetRootHubName(path.c_str(), hub) || !sdk.QV_SetSerialNumStr(path.c_str(), serial.c_str()) ||
      !sdk.QV_UpdateCustomizedSetting(path.c_str()) || !sdk.QV_ChipReset(path.c_str())) {
    return false;
  }
  bool found = false;
  for (int attempt = 0; attempt < 60 && !found; ++attempt) {
    platform::Sleep(500);
    for (const std::string& listed : s.List()) {
      int p = -2;
      char h[256] = {};
      if (sdk.QV_GetHubPortIndex(listed.c_str(), &p) && sdk.QV_GetRootHubName(listed.c_str(), h) &&
          p == port && std::string(h) == hub) {
        path = listed;
        found = true;
        break;
      }
    }
  }
  float read = 0, write = 0;
  return found && sdk.QV_SetDevicePath(index, path.c_str()) &&
         sdk.QV_Partition_LBA_Format_LBA(path.c_str(), 1, "KV", 1, 4096, 1, 1, 1) &&
         sdk.QV_DiskRWTest(path.c_str(), &read, &write, 8, nullptr);
}

double ProcessCpuMs() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct Round {
  double realMs = -1;  // -1: a pass failed
  double cpuMsEach = 0;
};

Round PassesAtOnce(const Station& s, size_t count, int round) {
  const std::vector<std::string> paths = s.List();
  if (paths.size() < count) return {};
  const auto& sdk = s.sdk();
  (void)sdk.QV_InitialCustomizedSettingTable();
  for (size_t i = 0; i < count; ++i) {
    if (!sdk.QV_EnableUpdateSN(paths[i].c_str(), 1)) return {};
  }
  std::atomic<bool> failed{false};
  const double cpuStart = ProcessCpuMs();
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  for (size_t i = 0; i < count; ++i) {
    workers.emplace_back([&, i] {
      if (!Pass(s, paths[i], "R" + std::to_string(round) + "P" + std::to_string(i))) failed = true;
    });
  }
  for (std::thread& w : workers) w.join();
  if (failed) return {};
  const double realMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return {realMs, (ProcessCpuMs() - cpuStart) / static_cast<double>(count)};
}

void SixteenPassesAgainstOne(benchmark::State& state) {
  Station s(Products());
  if (s.module == nullptr) return state.SkipWithError("the library did not bind");
  int round = 0;
  for (auto _ : state) {
    const Round one = PassesAtOnce(s, 1, ++round);
    const Round sixteen = PassesAtOnce(s, kProducts, ++round);
    if (one.realMs < 0 || sixteen.realMs < 0) return state.SkipWithError("a pass failed");
    const double cores = std::max(1u, std::thread::hardware_concurrency());
    const double ideal = std::max(1.0, static_cast<double>(kProducts) / cores);
    state.counters["one_ms"] = one.realMs;
    state.counters["sixteen_ms"] = sixteen.realMs;
    state.counters["ratio"] = sixteen.realMs / one.realMs;
    // Flat when the passes share nothing but the cores.
    state.counters["cpu_ms_one"] = one.cpuMsEach;
    state.counters["cpu_ms_each_of_sixteen"] = sixteen.cpuMsEach;
    state.counters["ideal_ratio"] = ideal;
    state.counters["goal_ratio_at_most"] = 1.2 * ideal;
    state.counters["cores"] = cores;
  }
}
BENCHMARK(SixteenPassesAgainstOne)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qvfw::benchmarks

BENCHMARK_MAIN();
