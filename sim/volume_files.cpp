// The host folders behind the bench's drives: the system drive's folder
// (the Windows folder with its programs, the temporary folder) and each
// mounted volume's file view, all under one temporary root removed with
// the bench, or by the next bench when its process was killed.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/disk_ioctl.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/window_messages.h"
#include "sim/volume_system.h"

namespace sim {

namespace fs = std::filesystem;

VolumeSystem::VolumeSystem(const SystemState& system, Products& products, DesktopWindows& windows,
                           SystemFaults& faults)
    : system_(system), products_(products), windows_(windows), faults_(faults) {}

VolumeSystem::~VolumeSystem() {
  platform::CancelSystemWork(this);
  if (root_.empty()) return;
  std::error_code ignored;
  fs::remove_all(root_, ignored);
  if (rootLock_ >= 0) ::close(rootLock_);
}

namespace {

constexpr std::string_view kRootPrefix = "kestrova-bench-";

// The roots of benches whose processes were killed: named after a process
// that is gone, and held by nobody (a live bench holds a lock on its root,
// which also covers a process this one cannot see).
void RemoveStaleRoots(const std::string& folder) {
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kRootPrefix, 0) != 0) continue;
    const std::string_view rest = std::string_view(name).substr(kRootPrefix.size());
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
    if (error != std::errc() || end == rest.data() || *end != '-' || pid <= 0) continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
    const int fd = ::open(entry.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) fs::remove_all(entry.path(), ec);
    ::close(fd);
  }
}

}  // namespace

const std::string& VolumeSystem::Root() {
  if (!root_.empty()) return root_;
  const char* dir = std::getenv("TMPDIR");
  const std::string folder = dir != nullptr && *dir != '\0' ? dir : "/tmp";
  // What a killed bench left goes when the next one starts.
  RemoveStaleRoots(folder);
  std::string pattern = folder + "/" + std::string(kRootPrefix) + std::to_string(::getpid()) + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data()) == nullptr) return root_;
  root_ = name.data();
  rootLock_ = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (rootLock_ >= 0) static_cast<void>(::flock(rootLock_, LOCK_SH | LOCK_NB));
  return root_;
}

std::string VolumeSystem::SystemFolder() {
  const SystemConfig& system = system_.config;
  const std::string& r = Root();
  if (r.empty()) return {};
  const std::string folder = r + "/system";
  if (!systemMade_) {
    std::error_code ignored;
    fs::create_directories(folder + "/Windows/system32", ignored);
    for (const char* program : {"cmd.exe", "diskpart.exe", "format.com", "label.exe"}) {
      const bool missing = std::any_of(system.missingPrograms.begin(), system.missingPrograms.end(),
                                       [&](const std::string& m) { return platform::EqualNoCase(m, program); });
      if (missing) continue;
      if (FILE* f = std::fopen((folder + "/Windows/system32/" + program).c_str(), "wb")) {
        std::fputs("MZ", f);
        std::fclose(f);
      }
    }
    if (!system.tempPath.empty() && system.tempPath.size() > 2 && system.tempPath[1] == ':') {
      std::string rest = system.tempPath.substr(2);
      std::replace(rest.begin(), rest.end(), '\\', '/');
      fs::create_directories(folder + rest, ignored);
    }
    systemMade_ = true;
  }
  return folder;
}

std::string VolumeSystem::TempPath() {
  std::lock_guard lock(mutex_);
  if (system_.config.tempPath.empty()) return {};
  if (SystemFolder().empty()) return {};
  return system_.config.tempPath;
}

bool VolumeSystem::GetDriveFolder(char letter, platform::Backend::DriveFolder* out, uint32_t* error) {
  std::lock_guard lock(mutex_);
  letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (letter == system_.config.windowsDrive) {
    out->hostPath = SystemFolder();
    out->fatRules = false;
    out->pin.reset();
    if (out->hostPath.empty()) *error = platform::kErrorPathNotFound;
    return !out->hostPath.empty();
  }
  Product* p = nullptr;
  int drive = 0;
  uint32_t partition = 0;
  Volume* v = UsableVolumeOfLetter(letter, &p, &drive, &partition, error);
  if (v == nullptr) return false;
  if (v->folder.empty() && !FreshFolder(*v)) {
    *error = platform::kErrorPathNotFound;
    return false;
  }
  out->hostPath = v->folder;
  out->fatRules = v->fat;
  out->sectorSize = v->sectorSize;
  out->pin = v->pins;
  return true;
}

bool VolumeSystem::TransferFile(platform::Backend::DriveFileTransfer& transfer, uint32_t* error) {
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(transfer.letter)));
  if (letter == system_.config.windowsDrive) return true;  // the system's own disk is no product's
  Product* p = nullptr;
  int drive = 0;
  {
    std::lock_guard lock(mutex_);
    uint32_t partition = 0;
    Volume* v = VolumeOfLetter(letter, &p, &drive, &partition);
    if (v == nullptr || !v->mounted || v->lockedBy != nullptr) {
      *error = platform::kErrorDeviceNotConnected;  // the volume under the open file is gone
      return false;
    }
    if (transfer.write && !TakeSpace(*v, transfer.bytes)) {
      *error = platform::kErrorDiskFull;
      return false;
    }
  }
  platform::SleepNanoseconds(p->CommandNs() + p->TransferNs(drive, transfer.write, transfer.bytes));
  return true;
}

bool VolumeSystem::TakeSpace(Volume& v, uint64_t bytes) {
  const uint64_t cluster = std::max<uint32_t>(v.clusterBytes, 512);
  const uint64_t need = (bytes + cluster - 1) / cluster * cluster;
  if (!v.usedKnown || v.usedBytes + need > v.fsFreeBytes) {
    v.usedBytes = FolderBytes(v);
    v.usedKnown = true;
  }
  if (v.usedBytes + need > v.fsFreeBytes) return false;
  v.usedBytes += need;
  return true;
}

std::string VolumeSystem::HostPathOf(const std::string& path) {
  std::lock_guard lock(mutex_);
  return HostPathOfLocked(path);
}

// Joins a '/'-separated tail to a host folder, taking each name without
// case when the exact one is not there (the system's file systems do).
std::string VolumeSystem::MatchPathNoCase(const std::string& host, const std::string& tail) {
  std::string out = host;
  size_t start = 0;
  while (start <= tail.size()) {
    size_t end = tail.find('/', start);
    if (end == std::string::npos) end = tail.size();
    std::string part = tail.substr(start, end - start);
    start = end + 1;
    if (part.empty()) {
      if (out.empty()) out = "/";
      continue;
    }
    const std::string folder = out.empty() ? "." : out;
    std::error_code error;
    if (!fs::exists(folder + "/" + part, error)) {
      for (auto it = fs::directory_iterator(folder, error); !error && it != fs::directory_iterator(); it.increment(error))
        if (platform::EqualNoCase(it->path().filename().string(), part)) {
          part = it->path().filename().string();
          break;
        }
    }
    out += (out.empty() || out.back() == '/') ? part : "/" + part;
  }
  return out;
}

std::string VolumeSystem::HostPathOfLocked(const std::string& path) {
  std::string host;
  size_t rest = 0;
  if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    if (letter == system_.config.windowsDrive) {
      host = SystemFolder();
    } else {
      Product* p = nullptr;
      int drive = 0;
      uint32_t partition = 0;
      Volume* v = VolumeOfLetter(letter, &p, &drive, &partition);
      if (v == nullptr || !v->mounted || v->lockedBy != nullptr) return {};
      if (v->folder.empty()) FreshFolder(*v);
      host = v->folder;
    }
    if (host.empty()) return {};
    rest = 2;
  }
  std::string tail = path.substr(rest);
  std::replace(tail.begin(), tail.end(), '\\', '/');
  if (!host.empty() && !tail.empty() && tail[0] != '/') tail = "/" + tail;
  return MatchPathNoCase(host, tail);
}

}  // namespace sim
