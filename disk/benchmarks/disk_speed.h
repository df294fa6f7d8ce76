// What the host's disk can do, measured once per run, and what each
// benchmark moves: together they give the physical limit printed beside each
// time (the bytes over the bandwidth they need).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace disk::benchmarks {

// Bytes per second.
struct DiskSpeed {
  double write = 0;       // written and synced
  double read = 0;        // read from the disk, nothing cached
  double cachedRead = 0;  // read from the page cache
};

// Writes, syncs and reads back a scratch file of `bytes` in `folder`.
DiskSpeed MeasureDiskSpeed(const std::filesystem::path& folder, uint64_t bytes);

enum class Traffic { kWrite, kRead, kCachedRead };

// What one round of a benchmark moves, by the benchmark's name.
struct Moved {
  uint64_t bytes = 0;
  Traffic traffic = Traffic::kRead;
  // Writes: the bytes a round's write calls handed to the system, as the
  // kernel counted them (0: not counted). The limit is reckoned on these.
  uint64_t written = 0;
  // The benchmark whose time for its own bytes gives the bandwidth of this
  // one's limit (empty: the disk speed probe's), and the group whose sides'
  // written bytes are compared.
  std::string limitFrom;
  std::string group;
};
std::map<std::string, Moved>& MovedByBenchmark();

// The bytes the limit is reckoned on: those written where they were
// counted, else those the round must move.
uint64_t LimitBytes(const Moved& moved);
// The least time `moved` can take at `speed`, in milliseconds.
double LimitMilliseconds(const Moved& moved, const DiskSpeed& speed);
const char* TrafficName(Traffic traffic);

// The bytes this process's write calls have handed to the system so far.
uint64_t WrittenSoFar();
// Runs a program found on the PATH with its output going nowhere; the bytes
// its write calls handed to the system, or nothing when it fails.
std::optional<uint64_t> RunCountingWrites(const std::vector<std::string>& arguments);

// Page cache control for whole trees and single files: flushed and dropped
// (the next read goes to the disk), or read once (the next read is cached).
void SyncAndEvict(const std::filesystem::path& path);
void ReadThrough(const std::filesystem::path& path);

// Runs a shell command quietly; true when it exits with 0.
bool RunQuietly(const std::string& command);

}  // namespace disk::benchmarks
