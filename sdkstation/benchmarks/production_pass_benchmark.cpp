// A whole pass of the second program through the bound library on the
// bench: identity written, products reset and re-found, partitioned,
// formatted, tested, the software image copied and compared. Sixteen
// products against one, in the same run: with the workers in parallel the
// sixteen take the slowest port plus what the locks serialise. Also the
// user-interface thread's CPU time while it waits for the workers.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/message_queue.h"
#include "platform/program_folder.h"
#include "sdkstation/device_listing.h"
#include "sdkstation/identity_handover.h"
#include "sdkstation/sdk_production_pass.h"
#include "sdkstation/tests/full_pass_settings.h"
#include "sim/bench.h"
#include "station/station_messages.h"

namespace {

double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

class Host : public sdkstation::SdkPassHost {
 public:
  void BeginWait(bool) override {}
  sdkstation::SdkPassControls Controls() override { return controls; }
  void WaitUntil(const std::function<bool()>& done) override {
    const double start = ThreadCpuMs();
    while (!done()) {
      queue->Wait();
      queue->Dispatch();
    }
    waitCpuMs += ThreadCpuMs() - start;
  }
  void EndWait() override {}
  void ShowResult(bool) override {}
  void SafeRemoveAll(const std::vector<std::string>&) override {}

  std::shared_ptr<platform::MessageQueue> queue = std::make_shared<platform::MessageQueue>();
  sdkstation::SdkPassControls controls;
  double waitCpuMs = 0;
};

struct PassRun {
  double stationMs = 0;
  double waitCpuMs = 0;
  bool allPass = false;
};

// One pass over `products` fresh products; the station time it took.
PassRun RunPass(const std::string& folder, int products, bool readWriteTest) {
  std::string text;
  for (int i = 0; i < products; ++i)
    text += "[product p" + std::to_string(i) + "]\nchip = 29\nserial = OLD" + std::to_string(1000 + i) +
            "\nport = " + std::to_string(i + 1) + "\nspeed = high\ndisk.sectors = 2097152\ndisk.image = " + folder +
            "/disk" + std::to_string(i) + ".img\nreset_new_path = 1\n";
  std::string error;
  platform::ScopedBackend backend(sim::Bench::FromText(text, &error));
  PassRun run;
  const platform::Module module = sdkstation::BindDeviceSdk();
  if (module == nullptr) return run;
  sdkstation::DeviceList list;
  sdkstation::SdkPassState pass;
  int32_t attached = 0;
  int64_t freeSpace = 0;
  (void)sdkstation::ListAttachedDevices(list, pass.ports, attached, freeSpace);
  (void)sdkstation::DeviceSdk().QV_InitialCustomizedSettingTable();
  const sdkstation::IdentityControls identity = sdkstation::testing::FullIdentity();
  sdkstation::HandOverIdentity(list, attached, identity, pass);

  sdkstation::SdkSettingsBlock s = sdkstation::testing::FullPassSettings();
  // The one step whose library call the locks serialise whole.
  s.EnRWTest = readWriteTest ? 1 : 0;
  Host host;
  host.controls.softwareImagePath = folder + "/image\\*.*";
  host.controls.folderCompareUsable = true;
  sdkstation::SdkLocks locks;
  sdkstation::SdkRun shared;
  station::PatternPages patterns;
  station::DayLog log;
  log.name = station::MakeDayLogName(folder, 2024, 1, 31);
  log.path = log.name.Path(0);
  platform::ManualResetEvent passEvent(false);
  std::array<platform::Handle, sdkstation::kSdkPortCount> threads;
  threads.fill(platform::kInvalidHandle);
  sdkstation::SdkStationPass station{pass,  locks,    s,      attached, log,   passEvent, shared, patterns,
                                     [q = host.queue] { q->Post(station::kWmPortUpdate); }, threads, "", ""};
  const uint64_t start = platform::GetTickCount64();
  run.allPass = sdkstation::RunProductionPass(station, host).allPass;
  run.stationMs = static_cast<double>(platform::GetTickCount64() - start);
  run.waitCpuMs = host.waitCpuMs;
  (void)sdkstation::UnbindDeviceSdk(module);
  for (int i = 0; i < products; ++i) std::filesystem::remove(folder + "/disk" + std::to_string(i) + ".img");
  std::filesystem::remove(log.path);
  return run;
}

void SixteenProductPassAgainstOne(benchmark::State& state) {
  char pattern[] = "/tmp/sdk_pass_benchmark.XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  std::filesystem::copy_file(QVFW_LIBRARY, folder + "/QVFWUpdateDll.so");
  std::filesystem::create_directories(folder + "/image/Drivers");
  std::ofstream(folder + "/image/Setup.exe", std::ios::binary) << std::string(300000, 'S');
  std::ofstream(folder + "/image/Drivers/drv.sys", std::ios::binary) << std::string(4097, 'D');
  const platform::ScopedProgramFolder programFolder(folder);
  // Real time: a scaled clock adds the time every sleeping thread saved, so
  // sixteen workers sleeping at once would count sixteen times.
  const platform::ScopedClockScale clock(1.0);
  const bool readWriteTest = state.range(0) != 0;
  PassRun one;
  PassRun sixteen;
  for (auto _ : state) {
    one = RunPass(folder, 1, readWriteTest);
    sixteen = RunPass(folder, 16, readWriteTest);
    if (!one.allPass || !sixteen.allPass) state.SkipWithError("a pass failed");
  }
  state.counters["one_station_ms"] = one.stationMs;
  state.counters["sixteen_station_ms"] = sixteen.stationMs;
  state.counters["ratio"] = one.stationMs > 0 ? sixteen.stationMs / one.stationMs : 0;
  state.counters["ui_wait_cpu_ms"] = sixteen.waitCpuMs;
  std::filesystem::remove_all(folder);
}
BENCHMARK(SixteenProductPassAgainstOne)->ArgName("rw_test")->Arg(1)->Arg(0)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
