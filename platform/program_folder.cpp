#include "platform/program_folder.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace platform {
namespace {

struct FolderState {
  std::mutex mutex;
  std::string override;  // empty: the executable's own folder
};

FolderState& State() {
  static FolderState state;
  return state;
}

std::string ExecutableFolder() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  std::string path(buffer, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  path.resize(slash);
  return path;
}

}  // namespace

std::string ProgramFolder() {
  FolderState& s = State();
  {
    std::lock_guard lock(s.mutex);
    if (!s.override.empty()) return s.override;
  }
  static const std::string folder = ExecutableFolder();
  return folder;
}

bool IsAbsolutePath(std::string_view path) { return !path.empty() && path.front() == '/'; }

std::string ResolveInProgramFolder(std::string_view path) {
  if (IsAbsolutePath(path)) return std::string(path);
  std::string folder = ProgramFolder();
  if (folder.empty() || folder.back() != '/') folder += '/';
  folder.append(path);
  return folder;
}

std::string WindowsFolder() {
  std::string base;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
    base = config;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    base = std::string(home) + "/.config";
  } else {
    return {};
  }
  std::error_code ignored;
  const std::string folder = base + "/kestrova/Windows";
  std::filesystem::create_directories(folder, ignored);
  return std::filesystem::is_directory(folder, ignored) ? folder : std::string();
}

std::string ResolveInWindowsFolder(std::string_view name) {
  const std::string folder = WindowsFolder();
  return folder.empty() ? folder : folder + "/" + std::string(name);
}

ScopedProgramFolder::ScopedProgramFolder(std::string folder) {
  FolderState& s = State();
  std::lock_guard lock(s.mutex);
  previous_ = s.override;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  s.override = std::move(folder);
}

ScopedProgramFolder::~ScopedProgramFolder() {
  FolderState& s = State();
  std::lock_guard lock(s.mutex);
  s.override = previous_;
}

}  // namespace platform
