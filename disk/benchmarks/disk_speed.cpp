#include "disk/benchmarks/disk_speed.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <vector>

namespace disk::benchmarks {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kChunk = 1 << 20;
// Reads of the probe are as large as the files the contenders read whole.
constexpr size_t kProbeRead = 4 << 20;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

void EachFile(const fs::path& path, void (*f)(const fs::path&)) {
  if (fs::is_regular_file(path)) {
    f(path);
    return;
  }
  for (const auto& entry : fs::recursive_directory_iterator(path)) {
    if (entry.is_regular_file()) f(entry.path());
  }
}

void SyncAndEvictFile(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // dirty pages stay cached; clean ones can be dropped
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

uint64_t ReadFile(const fs::path& file, std::vector<char>& buffer) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  uint64_t total = 0;
  for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;) total += static_cast<uint64_t>(n);
  ::close(fd);
  return total;
}

}  // namespace

DiskSpeed MeasureDiskSpeed(const fs::path& folder, uint64_t bytes) {
  DiskSpeed speed;
  const fs::path scratch = folder / "speed_probe.bin";
  std::vector<uint64_t> data(kChunk / sizeof(uint64_t));
  std::mt19937_64 random(3);
  for (uint64_t& word : data) word = random();
  const int fd = ::open(scratch.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return speed;
  auto start = Clock::now();
  bool ok = true;
  for (uint64_t done = 0; ok && done < bytes; done += kChunk) {
    data[0] = done;  // no two chunks alike
    ok = ::write(fd, data.data(), kChunk) == static_cast<ssize_t>(kChunk);
  }
  ok = ok && ::fsync(fd) == 0;
  speed.write = ok ? static_cast<double>(bytes) / Seconds(start) : 0;
  ::close(fd);

  // The best of a few passes each, as the host's load comes and goes: first
  // from the cache the writes filled (as the compared trees are cached when
  // they were just written), then from the disk.
  std::vector<char> buffer(kProbeRead);
  const auto best = [&](bool evict, int passes) {
    double fastest = 0;
    for (int pass = 0; pass < passes; ++pass) {
      if (evict) SyncAndEvictFile(scratch);
      const auto begin = Clock::now();
      const uint64_t got = ReadFile(scratch, buffer);
      fastest = std::max(fastest, static_cast<double>(got) / Seconds(begin));
    }
    return fastest;
  };
  speed.cachedRead = best(false, 8);
  speed.read = best(true, 3);
  fs::remove(scratch);
  return speed;
}

std::map<std::string, Moved>& MovedByBenchmark() {
  static std::map<std::string, Moved> moved;
  return moved;
}

uint64_t LimitBytes(const Moved& moved) { return moved.written != 0 ? moved.written : moved.bytes; }

double LimitMilliseconds(const Moved& moved, const DiskSpeed& speed) {
  const double bandwidth = moved.traffic == Traffic::kWrite  ? speed.write
                           : moved.traffic == Traffic::kRead ? speed.read
                                                             : speed.cachedRead;
  return bandwidth > 0 ? 1000.0 * static_cast<double>(LimitBytes(moved)) / bandwidth : 0;
}

const char* TrafficName(Traffic traffic) {
  switch (traffic) {
    case Traffic::kWrite: return "written";
    case Traffic::kRead: return "read from disk";
    case Traffic::kCachedRead: return "read from cache";
  }
  return "";
}

void SyncAndEvict(const fs::path& path) { EachFile(path, SyncAndEvictFile); }

void ReadThrough(const fs::path& path) {
  EachFile(path, [](const fs::path& file) {
    static thread_local std::vector<char> buffer(kChunk);
    ReadFile(file, buffer);
  });
}

namespace {

// The "wchar" count of a process's I/O record: bytes its write calls
// handed to the system, whatever became of them.
uint64_t WrittenBy(const std::string& process) {
  std::ifstream io("/proc/" + process + "/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value)
    if (key == "wchar:") return value;
  return 0;
}

}  // namespace

uint64_t WrittenSoFar() { return WrittenBy("self"); }

std::optional<uint64_t> RunCountingWrites(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return std::nullopt;
  // The record is read while the ended child still waits to be reaped.
  siginfo_t info{};
  const bool ended = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) == 0;
  const uint64_t written = WrittenBy(std::to_string(pid));
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return written;
}

bool RunQuietly(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace disk::benchmarks
