// The disk library against the host's own tools, each ratio from one run:
// after the runs, every benchmark's time per round beside its physical limit
// (the bytes it must move over the bandwidth the disk showed at the start),
// then our time over each tool's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "disk/benchmarks/disk_benchmarks.h"
#include "disk/benchmarks/disk_speed.h"

namespace disk::benchmarks {

std::vector<Ratio>& Ratios() {
  static std::vector<Ratio> ratios;
  return ratios;
}

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kSpeedProbeBytes = 512ull << 20;
constexpr double kMiB = 1048576.0;

// Keeps each benchmark's real time per round, by its registered name.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        milliseconds[run.run_name.function_name] =
            run.GetAdjustedRealTime() * benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
            benchmark::GetTimeUnitMultiplier(run.time_unit);
      }
    }
  }
  std::map<std::string, double> milliseconds;
};

// A side's limit: its bytes at the bandwidth its limit's benchmark showed
// for its own bytes, or at the disk speed probe's.
double Limit(const RatioReporter& reporter, const Moved& moved, const DiskSpeed& speed) {
  const auto from = MovedByBenchmark().find(moved.limitFrom);
  const auto ms = reporter.milliseconds.find(moved.limitFrom);
  if (from == MovedByBenchmark().end() || ms == reporter.milliseconds.end() || LimitBytes(from->second) == 0)
    return LimitMilliseconds(moved, speed);
  return ms->second * static_cast<double>(LimitBytes(moved)) / static_cast<double>(LimitBytes(from->second));
}

void PrintLimits(const RatioReporter& reporter, const DiskSpeed& speed) {
  std::printf("\n%-36s %12s %12s  %s\n", "per round", "time ms", "limit ms", "moved");
  for (const auto& [name, ms] : reporter.milliseconds) {
    const auto moved = MovedByBenchmark().find(name);
    if (moved == MovedByBenchmark().end()) continue;
    const Moved& m = moved->second;
    std::printf("%-36s %12.1f %12.1f  %.1f MiB %s", name.c_str(), ms, Limit(reporter, m, speed),
                static_cast<double>(m.bytes) / kMiB, TrafficName(m.traffic));
    if (m.written != 0) std::printf("; %llu bytes counted", static_cast<unsigned long long>(m.written));
    if (m.limitFrom == name) std::printf("; the limit of its group");
    std::printf("\n");
  }
  // A side of a group that wrote fewer bytes than another did less work
  // (the group's limit is no side).
  const auto side = [&](const std::string& name, const Moved& m) {
    return !m.group.empty() && m.written != 0 && m.limitFrom != name && reporter.milliseconds.contains(name);
  };
  for (const auto& [name, m] : MovedByBenchmark()) {
    for (const auto& [other, o] : MovedByBenchmark()) {
      if (!side(name, m) || !side(other, o) || m.group != o.group || o.written <= m.written) continue;
      std::printf("note: %s writes %llu bytes (%.3f %%) fewer than %s\n", name.c_str(),
                  static_cast<unsigned long long>(o.written - m.written),
                  100.0 * static_cast<double>(o.written - m.written) / static_cast<double>(o.written), other.c_str());
    }
  }
}

void PrintRatios(const RatioReporter& reporter) {
  std::printf("\n");
  for (const Ratio& ratio : Ratios()) {
    const auto a = reporter.milliseconds.find(ratio.ours);
    const auto b = reporter.milliseconds.find(ratio.tool);
    if (a == reporter.milliseconds.end() || b == reporter.milliseconds.end() || b->second <= 0) {
      continue;
    }
    std::printf("%-36s / %-36s = %6.3f  %s\n", ratio.ours.c_str(), ratio.tool.c_str(),
                a->second / b->second, ratio.goal.c_str());
  }
}

}  // namespace
}  // namespace disk::benchmarks

int main(int argc, char** argv) {
  namespace db = disk::benchmarks;
  benchmark::Initialize(&argc, argv);
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("kv_disk_bench_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const db::DiskSpeed speed = db::MeasureDiskSpeed(folder, db::kSpeedProbeBytes);
  std::printf("disk: %.0f MiB/s written and synced, %.0f MiB/s read, %.0f MiB/s from cache\n",
              speed.write / db::kMiB, speed.read / db::kMiB, speed.cachedRead / db::kMiB);

  db::RegisterFormatBenchmarks(folder);
  db::RegisterCompareBenchmarks(folder);
  db::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  db::PrintLimits(reporter, speed);
  db::PrintRatios(reporter);

  db::ReleaseFormatTarget();
  std::filesystem::remove_all(folder);
  benchmark::Shutdown();
  return 0;
}
