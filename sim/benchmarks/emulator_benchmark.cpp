// The emulated bridge alone: what one command costs the host, without the
// platform layer or the time model (a command's modelled time is a sleep on
// the station clock, not work).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>

#include "sim/emulated_bridge.h"
#include "sim/spi_flash.h"

namespace {

sim::ProductConfig SstPart() {
  sim::ProductConfig config;
  config.chipType = 1;
  config.flash.jedecId = {0xBF, 0x25, 0x8D};
  config.flash.size = 512 * 1024;
  config.disk.present = false;
  return config;
}

void Spi(sim::EmulatedBridge& bridge, std::initializer_list<uint8_t> bytes) {
  uint8_t cdb[12] = {0xFF, 0x04, 0x20, static_cast<uint8_t>(bytes.size()), 0};
  size_t i = 5;
  for (uint8_t b : bytes) cdb[i++] = b;
  (void)bridge.Execute(cdb, 12, false, nullptr, 0);  // the loop checks the words at the end
}

// Auto-address-increment programming, one raw SPI command per word: the
// commands the SST parts' firmware update sends most of.
void AutoIncrementWord(benchmark::State& state) {
  sim::EmulatedBridge bridge(SstPart());
  Spi(bridge, {0x06});
  Spi(bridge, {0xAD, 0, 0, 0, 0x00, 0x01});
  uint32_t word = 1;
  for (auto _ : state) {
    const uint8_t cdb[12] = {0xFF, 0x04, 0x20, 3, 0, 0xAD, static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
    if (bridge.Execute(cdb, 12, false, nullptr, 0).status != 0) state.SkipWithError("command refused");
    if (++word == 0x40000) {  // the part is full: start again
      state.PauseTiming();
      Spi(bridge, {0x04});
      std::fill(bridge.flash().memory().begin(), bridge.flash().memory().end(), 0xFF);
      Spi(bridge, {0x06});
      Spi(bridge, {0xAD, 0, 0, 0, 0x00, 0x01});
      word = 1;
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(AutoIncrementWord);

}  // namespace

BENCHMARK_MAIN();
