// The second program's device list over sixteen products: one list call to
// the device library (bound from a program folder as the program binds it)
// and one pass of queries per device, as EnumUSBDevice makes them. Measured
// twice: with the bench's modelled device time (the station clock at its
// own pace) and with that time made free (a fast clock), which leaves the
// host's own work.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/program_folder.h"
#include "sdkstation/device_listing.h"
#include "sim/bench.h"

namespace {

constexpr int kProducts = 16;

struct Station {
  Station() {
    char pattern[] = "/tmp/sdk_listing_benchmark.XXXXXX";
    folder = ::mkdtemp(pattern);
    std::filesystem::copy_file(QVFW_LIBRARY, folder + "/QVFWUpdateDll.so");
    programFolder = std::make_unique<platform::ScopedProgramFolder>(folder);
    std::string text;
    for (int i = 0; i < kProducts; ++i)
      text += "[product p" + std::to_string(i) + "]\nchip = 25\nserial = 4B" + std::to_string(1000 + i) + "\n";
    std::string error;
    platform::InstallBackend(sim::Bench::FromText(text, &error));
    module = sdkstation::BindDeviceSdk();
  }
  ~Station() {
    static_cast<void>(sdkstation::UnbindDeviceSdk(module));
    programFolder.reset();
    std::filesystem::remove_all(folder);
  }
  std::string folder;
  std::unique_ptr<platform::ScopedProgramFolder> programFolder;
  platform::Module module = nullptr;
  sdkstation::DeviceList list;
  sdkstation::SdkPortTable ports;
};

void EnumerateSixteenProducts(benchmark::State& state) {
  static Station station;
  if (station.module == nullptr) {
    state.SkipWithError("the device library did not bind");
    return;
  }
  const platform::ScopedClockScale clock(state.range(0) != 0 ? 1.0 : 1e9);
  for (auto _ : state) {
    int32_t attached = 0;
    int64_t freeSpace = 0;
    const sdkstation::DeviceListing listing =
        sdkstation::ListAttachedDevices(station.list, station.ports, attached, freeSpace);
    if (listing.count != kProducts) state.SkipWithError("not every product was listed");
  }
  state.SetItemsProcessed(state.iterations() * kProducts);
}
BENCHMARK(EnumerateSixteenProducts)->ArgName("modelled")->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
