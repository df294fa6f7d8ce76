// The benchmark groups of the disk library and the ratios they ask the
// report to print.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace disk::benchmarks {

// One line of the report: our time over a tool's time, measured in the same
// run.
struct Ratio {
  std::string ours;
  std::string tool;
  std::string goal;  // printed beside the ratio, if any
};
std::vector<Ratio>& Ratios();

// Each group makes what it needs below `folder` when its first round runs.
void RegisterFormatBenchmarks(const std::filesystem::path& folder);
void RegisterCompareBenchmarks(const std::filesystem::path& folder);
// Closes the bench and its disk image before the folder goes.
void ReleaseFormatTarget();

}  // namespace disk::benchmarks
