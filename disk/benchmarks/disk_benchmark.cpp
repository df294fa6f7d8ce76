// Formatting a 64 GiB volume with the station's FAT32 formatter against
// mkfs.fat on an image of the same size, and comparing two 1 GiB folder
// trees with the folder compare against cmp and diff -rq. Each pair's
// ratio (ours / the tool's) is printed after the runs.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "disk/device_lock.h"
#include "disk/fat32_format.h"
#include "disk/folder_compare.h"
#include "disk/partition_layout.h"
#include "platform/backend.h"
#include "platform/clock.h"
#include "sim/bench.h"

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kVolumeBytes = 64ull << 30;
constexpr uint32_t kSectorSize = 512;
constexpr uint64_t kTreeBytes = 1ull << 30;
constexpr int kTreeFolders = 8;
constexpr int kFilesPerFolder = 32;  // 256 files of 4 MiB

fs::path WorkFolder() {
  static const fs::path folder = [] {
    fs::path p = fs::temp_directory_path() / ("kv_disk_bench_" + std::to_string(::getpid()));
    fs::create_directories(p);
    return p;
  }();
  return folder;
}

int Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// The product's disk: 63 sectors, then the 64 GiB partition.
struct FormatTarget {
  std::shared_ptr<sim::Bench> bench;
  std::unique_ptr<platform::ScopedBackend> installed;
  char letter = 0;
  bool ready = false;
};

FormatTarget& Target() {
  static FormatTarget target = [] {
    FormatTarget t;
    sim::BenchConfig config;
    sim::ProductConfig product;
    product.name = "bench";
    product.disk.sectors = kVolumeBytes / kSectorSize + 63 + 2 * 16065;
    product.disk.sectorSize = kSectorSize;
    product.disk.imagePath = (WorkFolder() / "ours.img").string();
    product.volume.autoLetter = false;
    product.volume.letters = "E";
    product.volume.fileSystem = "";
    config.products.push_back(product);
    t.bench = std::make_shared<sim::Bench>(config);
    t.installed = std::make_unique<platform::ScopedBackend>(t.bench);
    const std::string path = t.bench->product(0).path();
    t.ready = disk::CreateDiskLayout(path.c_str()) == 1;
    // The new volume arrives a little after the layout change.
    platform::Sleep(3000);
    for (int i = 0; t.ready && i < 101; ++i) {
      if (disk::FindDriveLetter(path.c_str(), &t.letter)) break;
      platform::Sleep(1000);
    }
    t.ready = t.ready && t.letter != 0;
    return t;
  }();
  return target;
}

void BM_FormatFat32_Ours(benchmark::State& state) {
  FormatTarget& target = Target();
  if (!target.ready) {
    state.SkipWithError("layout failed");
    return;
  }
  g_nHDDAccessRetry.store(5);
  disk::Fat32FormatRequest request;
  request.label = "BENCH";
  for (auto _ : state) {
    if (disk::FormatFat32(target.letter, request, 1) != 1) {
      state.SkipWithError("format failed");
      return;
    }
  }
}
BENCHMARK(BM_FormatFat32_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FormatFat32_MkfsFat(benchmark::State& state) {
  const std::string image = (WorkFolder() / "mkfs.img").string();
  // The same partition size and cluster size (64 sectors) as ours.
  const std::string command = "truncate -s " + std::to_string(kVolumeBytes) + " " + image +
                              " && mkfs.fat -F 32 -s 64 -S 512 -n BENCH " + image;
  for (auto _ : state) {
    if (Run(command) != 0) {
      state.SkipWithError("mkfs.fat failed");
      return;
    }
  }
}
BENCHMARK(BM_FormatFat32_MkfsFat)->Unit(benchmark::kMillisecond)->UseRealTime();

// Two equal trees of random data, made once.
bool MakeTrees() {
  static const bool made = [] {
    const fs::path source = WorkFolder() / "src";
    std::mt19937_64 random(1);
    const size_t fileBytes = kTreeBytes / (kTreeFolders * kFilesPerFolder);
    std::vector<uint64_t> data(fileBytes / sizeof(uint64_t));
    for (int f = 0; f < kTreeFolders; ++f) {
      const fs::path folder = source / ("folder" + std::to_string(f));
      fs::create_directories(folder);
      for (int i = 0; i < kFilesPerFolder; ++i) {
        for (uint64_t& word : data) word = random();
        std::ofstream(folder / ("file" + std::to_string(i) + ".bin"), std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()),
                   static_cast<std::streamsize>(fileBytes));
      }
    }
    return Run("cp -a " + source.string() + " " + (WorkFolder() / "dst").string()) == 0;
  }();
  return made;
}

void BM_CompareTrees_Ours(benchmark::State& state) {
  if (!MakeTrees()) {
    state.SkipWithError("trees not made");
    return;
  }
  const std::string source = (WorkFolder() / "src").string();
  const std::string destination = (WorkFolder() / "dst").string();
  disk::FolderCounts counted;
  disk::CompareFolderTree(source.c_str(), "", 0, 0, counted);
  for (auto _ : state) {
    disk::FolderCounts counts = counted;
    if (disk::VerifyCopiedFolder(source.c_str(), destination.c_str(), 1, counts) != 1) {
      state.SkipWithError("compare failed");
      return;
    }
  }
}
BENCHMARK(BM_CompareTrees_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CompareTrees_DiffRq(benchmark::State& state) {
  if (!MakeTrees()) {
    state.SkipWithError("trees not made");
    return;
  }
  const std::string command =
      "diff -rq " + (WorkFolder() / "src").string() + " " + (WorkFolder() / "dst").string();
  for (auto _ : state) {
    if (Run(command) != 0) {
      state.SkipWithError("diff failed");
      return;
    }
  }
}
BENCHMARK(BM_CompareTrees_DiffRq)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CompareTrees_Cmp(benchmark::State& state) {
  if (!MakeTrees()) {
    state.SkipWithError("trees not made");
    return;
  }
  const fs::path source = WorkFolder() / "src";
  const fs::path destination = WorkFolder() / "dst";
  const std::string command = "cd " + source.string() +
                              " && find . -type f -exec cmp -s {} " + destination.string() +
                              "/{} \\;";
  for (auto _ : state) {
    if (Run(command) != 0) {
      state.SkipWithError("cmp failed");
      return;
    }
  }
}
BENCHMARK(BM_CompareTrees_Cmp)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each run's real time per iteration so the ratios can be printed.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        times[run.benchmark_name()] = run.GetAdjustedRealTime();
      }
    }
  }
  std::map<std::string, double> times;
};

void PrintRatio(const RatioReporter& reporter, const std::string& ours, const std::string& tool) {
  const auto a = reporter.times.find(ours);
  const auto b = reporter.times.find(tool);
  if (a == reporter.times.end() || b == reporter.times.end() || b->second <= 0) return;
  std::printf("%-28s / %-28s = %.3f\n", ours.c_str(), tool.c_str(), a->second / b->second);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintRatio(reporter, "BM_FormatFat32_Ours/real_time", "BM_FormatFat32_MkfsFat/real_time");
  PrintRatio(reporter, "BM_CompareTrees_Ours/real_time", "BM_CompareTrees_DiffRq/real_time");
  PrintRatio(reporter, "BM_CompareTrees_Ours/real_time", "BM_CompareTrees_Cmp/real_time");
  Target() = FormatTarget{};
  fs::remove_all(WorkFolder());
  benchmark::Shutdown();
  return 0;
}
