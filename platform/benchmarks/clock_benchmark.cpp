// Sixteen port workers sleep at once on a scaled station clock: their sleeps
// must overlap, so the station time of the whole stays near one sleep and
// not sixteen. How near depends on how fast the machine makes threads, so
// it is measured here and never asserted in a test.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <latch>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace {

void SixteenConcurrentSleeps(benchmark::State& state) {
  platform::ScopedClockScale fast(1000.0);
  uint64_t stationTotal = 0;
  for (auto _ : state) {
    const uint64_t before = platform::GetTickCount64();
    std::latch start(16);
    std::vector<std::thread> sleepers;
    for (int i = 0; i < 16; ++i) sleepers.emplace_back([&start] {
      start.arrive_and_wait();
      platform::Sleep(1000);
    });
    for (std::thread& t : sleepers) t.join();
    stationTotal += platform::GetTickCount64() - before;
  }
  // One sleep is 1000 station ms; sixteen in a row would be 16000.
  state.counters["station_ms"] = static_cast<double>(stationTotal) / static_cast<double>(state.iterations());
}
BENCHMARK(SixteenConcurrentSleeps)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
