// Disk re-scan: "diskpart.exe /s" with a script file of its own per run.
#include "disk/disk_rescan.h"

#include <cstdio>
#include <string>

#include "disk/device_lock.h"
#include "platform/debug.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/volumes.h"

namespace disk {
namespace {

// Removes the script whatever way the run ends.
class ScriptFile {
 public:
  ScriptFile() = default;
  ~ScriptFile() {
    // The run's answer is decided by now; a script left behind is harmless.
    if (!path_.empty()) (void)platform::DeleteFile(path_.c_str());
  }
  ScriptFile(const ScriptFile&) = delete;
  ScriptFile& operator=(const ScriptFile&) = delete;

  // A fresh name in the temporary folder, taken exclusively, holding the
  // script.
  bool Create(const std::string& tempFolder) {
    char name[platform::kMaxPath] = {};
    if (platform::GetTempFileName(tempFolder.c_str(), kRescanScriptPrefix, 0, name) != 0) {
      path_ = name;
      return Write(platform::kCreateAlways);
    }
    // The fixed name is shared by every worker: only one may hold it.
    path_ = tempFolder + kRescanFallbackName;
    if (path_.size() >= platform::kMaxPath || !Write(platform::kCreateNew)) {
      path_.clear();
      return false;
    }
    return true;
  }
  const std::string& path() const { return path_; }

 private:
  bool Write(uint32_t disposition) {
    const platform::Handle file =
        platform::CreateFile(path_.c_str(), platform::kAccessWrite, 0, disposition,
                             platform::kFileAttributeNormal);
    if (file == platform::kInvalidHandle) return false;
    uint32_t written = 0;
    const uint32_t size = sizeof(kRescanScript) - 1;
    const bool ok = platform::WriteFile(file, kRescanScript, size, &written) && written == size;
    platform::CloseHandle(file);
    return ok;
  }
  std::string path_;
};

// One run of the tool under the device lock; true when it started, ended
// within the wait and exited with 0.
bool RunOnce(const std::string& tempFolder, platform::CriticalSection& lock) {
  ScriptFile script;
  if (!script.Create(tempFolder)) return false;
  // Quoted: the temporary folder may hold spaces.
  const std::string parameters = "/c diskpart.exe /s \"" + script.path() + "\" > nul";
  platform::ShellExecuteInfo info;
  info.fMask = platform::kSeeMaskNoCloseProcess;
  info.lpFile = "cmd.exe";
  info.lpParameters = parameters.c_str();
  info.nShow = platform::kSwHide;

  uint32_t exitCode = 1;
  {
    DeviceLockHolder held(lock);
    if (!platform::ShellExecuteEx(&info) || info.hProcess == platform::kInvalidHandle) {
      return false;
    }
    if (platform::WaitForSingleObject(info.hProcess, kRescanWaitMs) != platform::kWaitObject0) {
      platform::DebugTrace("diskpart.exe did not end within %u ms", kRescanWaitMs);
      // The re-scan has failed already; ending the program is all that is left.
      (void)platform::TerminateProcess(info.hProcess, 1);
      (void)platform::WaitForSingleObject(info.hProcess, platform::kInfinite);
      platform::CloseHandle(info.hProcess);
      return false;
    }
  }
  const bool read = platform::GetExitCodeProcess(info.hProcess, &exitCode);
  platform::CloseHandle(info.hProcess);
  return read && exitCode == 0;
}

}  // namespace

int IsExistingFile(const char* path) {
  const uint32_t attributes = platform::GetFileAttributes(path);
  return attributes != platform::kInvalidFileAttributes &&
                 (attributes & platform::kFileAttributeDirectory) == 0
             ? 1
             : 0;
}

int RunDiskpartRescan() { return RunDiskpartRescan(DeviceLock(), nullptr, nullptr); }

int RunDiskpartRescan(platform::CriticalSection& lock, const char* enter, const char* exit) {
  if (enter) platform::OutputDebugString(enter);
  char systemFolder[platform::kMaxPath] = {};
  const uint32_t systemLength = platform::GetSystemDirectory(systemFolder, sizeof(systemFolder));
  if (systemLength == 0 || systemLength >= sizeof(systemFolder)) return 0;
  const std::string tool = std::string(systemFolder) + "\\diskpart.exe";
  if (!IsExistingFile(tool.c_str())) return 0;

  char tempFolder[platform::kMaxPath] = {};
  const uint32_t tempLength = platform::GetTempPath(sizeof(tempFolder), tempFolder);
  if (tempLength == 0 || tempLength >= sizeof(tempFolder)) return 0;

  if (!RunOnce(tempFolder, lock) || !RunOnce(tempFolder, lock)) return 0;
  if (exit) platform::OutputDebugString(exit);
  return 1;
}

}  // namespace disk
