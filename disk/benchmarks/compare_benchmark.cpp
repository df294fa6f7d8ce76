// The folder compare (content on, as the tools compare content) against
// diff -rq and one cmp per file, on two trees: 1 GiB of large files in a few
// folders, and 8,000 small files in one folder. Each pair runs the same
// number of rounds, once with the files in the page cache and once with
// them dropped from it before every round (folder entries stay cached).
#include <benchmark/benchmark.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "disk/benchmarks/disk_benchmarks.h"
#include "disk/benchmarks/disk_speed.h"
#include "disk/folder_compare.h"

namespace disk::benchmarks {
namespace {

namespace fs = std::filesystem;

struct Tree {
  const char* name;
  int folders;  // 0: the files lie in the tree's own folder
  int filesPerFolder;
  size_t fileBytes;
  int rounds;
  const char* goal;  // against diff -rq
};

constexpr Tree kTrees[] = {
    {"Large", 8, 32, 4u << 20, 3, ""},
    {"Flat8000", 0, 8000, 4096, 3, "goal: within 2x"},
};

uint64_t TreeBytes(const Tree& tree) {
  return uint64_t{tree.fileBytes} * static_cast<uint64_t>(std::max(tree.folders, 1)) *
         static_cast<uint64_t>(tree.filesPerFolder);
}

fs::path& Folder() {
  static fs::path folder;
  return folder;
}

fs::path Source(const Tree& tree) { return Folder() / tree.name / "src"; }
fs::path Destination(const Tree& tree) { return Folder() / tree.name / "dst"; }

// Random files, and a copy that keeps their times; made once per tree.
bool MakeTree(const Tree& tree) {
  if (fs::exists(Destination(tree))) return true;
  std::mt19937_64 random(1);
  std::vector<uint64_t> data(tree.fileBytes / sizeof(uint64_t));
  for (int f = 0; f < std::max(tree.folders, 1); ++f) {
    const fs::path folder =
        tree.folders == 0 ? Source(tree) : Source(tree) / ("folder" + std::to_string(f));
    fs::create_directories(folder);
    for (int i = 0; i < tree.filesPerFolder; ++i) {
      for (uint64_t& word : data) word = random();
      std::ofstream(folder / ("file" + std::to_string(i) + ".bin"), std::ios::binary)
          .write(reinterpret_cast<const char*>(data.data()),
                 static_cast<std::streamsize>(tree.fileBytes));
    }
  }
  return RunQuietly("cp -a " + Source(tree).string() + " " + Destination(tree).string());
}

enum class Cache { kWarm, kCold };

using Compare = bool (*)(const Tree&);

bool Ours(const Tree& tree) {
  static FolderCounts counted[std::size(kTrees)];
  FolderCounts& source = counted[&tree - kTrees];
  if (source == FolderCounts{}) (void)CompareFolderTree(Source(tree).c_str(), "", 0, 0, source);
  FolderCounts counts = source;
  return VerifyCopiedFolder(Source(tree).c_str(), Destination(tree).c_str(), 1, counts) == 1;
}

bool DiffRq(const Tree& tree) {
  return RunQuietly("diff -rq " + Source(tree).string() + " " + Destination(tree).string());
}

bool Cmp(const Tree& tree) {
  // xargs fails when any cmp does; find -exec would not.
  return RunQuietly("cd " + Source(tree).string() +
                    " && find . -type f -print0 | xargs -0 -I{} cmp -s {} " +
                    Destination(tree).string() + "/{}");
}

void Run(benchmark::State& state, const Tree* tree, Cache cache, Compare compare,
         std::string name) {
  if (!MakeTree(*tree)) return state.SkipWithError("trees not made");
  Moved& moved = MovedByBenchmark()[name];
  moved.bytes = 2 * TreeBytes(*tree);
  moved.traffic = cache == Cache::kCold ? Traffic::kRead : Traffic::kCachedRead;
  for (auto _ : state) {
    state.PauseTiming();
    for (const fs::path& side : {Source(*tree), Destination(*tree)}) {
      if (cache == Cache::kCold) {
        SyncAndEvict(side);
      } else {
        ReadThrough(side);
      }
    }
    state.ResumeTiming();
    if (!compare(*tree)) return state.SkipWithError("the trees compared unequal");
  }
}

}  // namespace

void RegisterCompareBenchmarks(const fs::path& folder) {
  Folder() = folder;
  for (const Tree& tree : kTrees) {
    const struct {
      const char* name;
      Cache cache;
    } caches[] = {{"Warm", Cache::kWarm}, {"Cold", Cache::kCold}};
    const struct {
      const char* name;
      Compare compare;
    } tools[] = {{"Ours", Ours}, {"DiffRq", DiffRq}, {"Cmp", Cmp}};
    for (const auto& [cacheName, cache] : caches) {
      const std::string base = std::string("BM_Compare/") + tree.name + "/" + cacheName + "/";
      for (const auto& [toolName, compare] : tools) {
        const std::string name = base + toolName;
        benchmark::RegisterBenchmark(name.c_str(), Run, &tree, cache, compare, name)
            ->Iterations(tree.rounds)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
      }
      Ratios().push_back({base + "Ours", base + "DiffRq", tree.goal});
      Ratios().push_back({base + "Ours", base + "Cmp", ""});
    }
  }
}

}  // namespace disk::benchmarks
