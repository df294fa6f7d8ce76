// The format driver and its three routes.
#include "disk/format_routes.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <cinttypes>
#include <mutex>
#include <string>

#include "disk/device_lock.h"
#include "disk/disk_rescan.h"
#include "disk/fat32_format.h"
#include "disk/format_batch.h"
#include "disk/format_route_table.h"
#include "disk/os_version_tests.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/volumes.h"
#include "platform/windows.h"

namespace disk {
namespace {

constexpr char kFmifsModule[] = "fmifs.dll";
constexpr uint32_t kVolumeTextChars = 1024;

// Bound by BindFmifs; the module stays loaded for the life of the process.
std::atomic<platform::FormatExFunction> g_formatEx{nullptr};
std::atomic<platform::EnableVolumeCompressionFunction> g_enableCompression{nullptr};
// Set by the callback when a FormatEx call failed; only one call runs at a
// time (device lock).
std::atomic<bool> g_formatExFailed{false};

struct SystemErrorEntry {
  uint32_t code;
  const char* text;
};
constexpr SystemErrorEntry kSystemErrors[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {21, "The device is not ready."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {50, "The request is not supported."},
    {87, "The parameter is incorrect."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {154, "The volume label you entered exceeds the label character limit of the target file "
          "system."},
    {1005, "The volume does not contain a recognized file system."},
    {1117, "The request could not be performed because of an I/O device error."},
    {1167, "The device is not connected."},
};

std::string SystemFolderFile(const char* name) {
  char folder[platform::kMaxPath] = {};
  const uint32_t length = platform::GetSystemDirectory(folder, sizeof(folder));
  if (length == 0 || length >= sizeof(folder)) return {};
  return std::string(folder) + "\\" + name;
}

std::u16string WideCut(const char* text, size_t maxChars) {
  std::string s = text != nullptr ? text : "";
  if (s.size() > maxChars) s.resize(maxChars);
  return platform::AnsiToWide(s);
}

int FormatFat32Route(char letter, int quick, const char* label, uint32_t clusterSize) {
  const int tries = g_nHDDAccessRetry.load();
  Fat32FormatRequest request;
  request.clusterSizeBytes = clusterSize;
  request.label = label;
  for (int attempt = 1; attempt <= tries; ++attempt) {
    if (FormatFat32(letter, request, quick)) return kFormatOk;
    platform::DebugTrace("Retry format for the %dth time, g_nHDDAccessRetry=%d", attempt, tries);
    platform::Sleep(kFormatRetryMs);
  }
  return kFormatFailed;
}

// Removes the batch file whatever way the route ends.
struct BatchFile {
  std::string path;
  ~BatchFile() {
    // The route's answer is decided by now; a batch left behind is harmless.
    if (!path.empty()) (void)platform::DeleteFile(path.c_str());
  }
};

// The volume's serial number and file system, when it has one.
struct VolumeStamp {
  bool mounted = false;
  uint32_t serial = 0;
  std::string fileSystem;
};

VolumeStamp StampOf(const std::u16string& root) {
  VolumeStamp stamp;
  char16_t fileSystem[32] = {};
  stamp.mounted = platform::GetVolumeInformation(root.c_str(), nullptr, 0, &stamp.serial, nullptr,
                                                 nullptr, fileSystem, 32);
  if (stamp.mounted) stamp.fileSystem = platform::WideToAnsi(fileSystem, std::char_traits<char16_t>::length(fileSystem));
  return stamp;
}

bool SameName(const std::string& a, const char* b) {
  return std::equal(a.begin(), a.end(), b, b + std::strlen(b), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

int FormatCommandRoute(char letter, const std::u16string& root, const char* fileSystem,
                       const char* label, uint32_t clusterSize) {
  char temp[platform::kMaxPath] = {};
  const uint32_t tempLength = platform::GetTempPath(sizeof(temp), temp);
  if (tempLength == 0 || tempLength >= sizeof(temp)) return kFormatFailed;
  const std::string path = std::string(temp) + kFormatBatchName;
  const std::string line = FormatBatchLine(letter, fileSystem, clusterSize, label ? label : "");

  const platform::Handle file = platform::CreateFile(path.c_str(), platform::kAccessWrite, 0,
                                                     platform::kCreateAlways,
                                                     platform::kFileAttributeNormal);
  if (file == platform::kInvalidHandle) return kFormatFailed;
  BatchFile batch{path};
  uint32_t written = 0;
  const bool wrote = platform::WriteFile(file, line.data(), static_cast<uint32_t>(line.size()),
                                         &written) &&
                     written == line.size();
  platform::CloseHandle(file);
  if (!wrote) return kFormatFailed;

  platform::ShellExecuteInfo info;
  info.fMask = platform::kSeeMaskNoCloseProcess;
  info.lpVerb = IsVistaOrLater() ? "runas" : nullptr;
  info.lpFile = batch.path.c_str();
  info.nShow = platform::kSwHide;
  const VolumeStamp before = StampOf(root);
  if (!platform::ShellExecuteEx(&info) || info.hProcess == platform::kInvalidHandle) {
    return kFormatFailed;
  }
  // Without a time limit the wait ends when the program has; its exit code
  // is read next.
  (void)platform::WaitForSingleObject(info.hProcess, platform::kInfinite);
  uint32_t exitCode = 1;
  const bool read = platform::GetExitCodeProcess(info.hProcess, &exitCode);
  platform::CloseHandle(info.hProcess);
  if (read && exitCode == 0) return kFormatOk;
  // The batch ends with the label command's code once format.com has
  // succeeded. A volume that now carries the file system under a new serial
  // number was formatted, and a label that could not be set does not fail
  // the route; anything else (an old volume kept) is a failed format.
  const VolumeStamp after = StampOf(root);
  const bool formatted = after.mounted && SameName(after.fileSystem, fileSystem) &&
                         (!before.mounted || before.serial != after.serial);
  platform::DebugTrace("qvfmt.bat exited with %u%s", exitCode,
                       formatted ? " after formatting the volume" : "");
  return formatted ? kFormatOk : kFormatFailed;
}

int FormatServiceRoute(const char* driveRoot, const std::u16string& root, uint32_t media,
                       const std::u16string& fileSystem, const std::u16string& label, int quick,
                       uint32_t clusterSize) {
  const platform::FormatExFunction formatEx = g_formatEx.load();
  if (formatEx == nullptr) return kFormatFailed;
  g_formatExFailed.store(false);
  formatEx(root.c_str(), media, fileSystem.c_str(), label.c_str(), quick, clusterSize,
           FormatExCallback);
  platform::DebugTrace("First Format %s", driveRoot);
  const int tries = g_nHDDAccessRetry.load();
  for (int attempt = 0; attempt < tries && g_formatExFailed.load(); ++attempt) {
    platform::Sleep(kFormatRetryMs);
    g_formatExFailed.store(false);
    formatEx(root.c_str(), media, fileSystem.c_str(), label.c_str(), quick, clusterSize,
             FormatExCallback);
  }
  return g_formatExFailed.load() ? kFormatFailed : kFormatOk;
}

// Runs one route with its device lock, then sets the label and reads the
// volume back.
int FormatOnRoute(const char* driveRoot, FormatRoute route, bool deviceLock, int quick,
                  const char* label, int fileSystemIndex, uint32_t clusterSize) {
  std::unique_lock<platform::CriticalSection> lock(DeviceLock(), std::defer_lock);
  if (deviceLock) lock.lock();

  const char letter = driveRoot[0];
  const char* fileSystem = kFileSystemNames[fileSystemIndex];
  const std::u16string wideFileSystem = WideCut(fileSystem, kMaxFileSystemNameChars);
  const std::u16string wideLabel = WideCut(label, kMaxLabelChars);
  const std::u16string root = {static_cast<char16_t>(static_cast<unsigned char>(letter)), u':',
                               u'\\'};

  uint32_t media = platform::kFmifsHardDisk;
  switch (platform::GetDriveType(root.c_str())) {
    case platform::kDriveFixed:
      media = platform::kFmifsHardDisk;
      break;
    case platform::kDriveRemovable:
      media = platform::kFmifsRemovable;
      break;
    default:
      // Nobody answers at a worker's console: the prompt is shown, never read.
      platform::DebugTrace("Insert a new floppy in drive %c:\nand press Enter when ready...",
                           letter);
      media = platform::kFmifsFloppy;
      break;
  }

  const bool fat32 = fileSystemIndex == kFileSystemFat32;
  int result = kFormatFailed;
  switch (route) {
    case FormatRoute::OwnFat32:
      result = FormatFat32Route(letter, quick, label, clusterSize);
      break;
    case FormatRoute::FormatCommand:
      result = FormatCommandRoute(letter, root, fileSystem, label, clusterSize);
      break;
    case FormatRoute::FormatService:
      result = FormatServiceRoute(driveRoot, root, media, wideFileSystem, wideLabel, quick,
                                  clusterSize);
      break;
    case FormatRoute::None:
      break;
  }
  if (result != kFormatOk) return result;

  platform::DebugTrace("Format complete.\n");
  platform::DebugTrace("Volume Label (11 characters, Enter for none)? ");
  if (!platform::SetVolumeLabel(root.c_str(), wideLabel.c_str())) {
    if (fat32 && platform::GetLastError() == platform::kErrorLabelTooLong) {
      return kFormatLabelTooLong;
    }
    // A label that still could not be set does not fail the route: the
    // worker's label check catches it.
    const int tries = g_nHDDAccessRetry.load();
    for (int attempt = 0; attempt < tries; ++attempt) {
      platform::DebugTrace("%d Label", attempt);
      platform::Sleep(kFormatRetryMs);
      if (platform::SetVolumeLabel(root.c_str(), wideLabel.c_str())) break;
    }
  }

  std::u16string name(kVolumeTextChars, u'\0');
  std::u16string fsName(kVolumeTextChars, u'\0');
  uint32_t serial = 0, maxComponent = 0, flags = 0;
  if (!platform::GetVolumeInformation(root.c_str(), name.data(), kVolumeTextChars, &serial,
                                      &maxComponent, &flags, fsName.data(), kVolumeTextChars)) {
    return kFormatVolumeInfoFailed;
  }
  uint64_t available = 0, total = 0, totalFree = 0;
  if (!platform::GetDiskFreeSpaceEx(root.c_str(), &available, &total, &totalFree)) {
    ReportSystemError("Could not query volume size", platform::GetLastError());
    return kFormatFreeSpaceFailed;
  }
  platform::DebugTrace("\n%" PRIu64 " bytes total disk space.\n", total);
  platform::DebugTrace("%" PRIu64 " bytes available on disk.\n", available);
  if (!platform::GetVolumeInformation(root.c_str(), name.data(), kVolumeTextChars, &serial,
                                      &maxComponent, &flags, fsName.data(), kVolumeTextChars)) {
    ReportSystemError("Could not query volume", platform::GetLastError());
    return kFormatSecondVolumeInfoFailed;
  }
  platform::DebugTrace("\nVolume Serial Number is %04X-%04X\n", serial >> 16, serial & 0xFFFF);
  return kFormatOk;
}

}  // namespace

const char* SystemErrorText(uint32_t errorCode) {
  for (const SystemErrorEntry& entry : kSystemErrors) {
    if (entry.code == errorCode) return entry.text;
  }
  return "Unknown error.";
}

void ReportSystemError(const char* caption, uint32_t errorCode) {
  platform::DebugTrace("%s: %s\n", caption, SystemErrorText(errorCode));
}

uint8_t FormatExCallback(int command, uint32_t /*subAction*/, void* actionInfo) {
  switch (command) {
    case platform::kFmifsProgress:
      if (actionInfo != nullptr) {
        platform::DebugTrace("%u percent completed.\r", *static_cast<const uint32_t*>(actionInfo));
      }
      break;
    case platform::kFmifsDone:
      if (actionInfo != nullptr && *static_cast<const uint8_t*>(actionInfo) == 0) {
        platform::DebugTrace("FormatEx was unable to complete successfully.\n\n");
        g_formatExFailed.store(true);
      }
      break;
    case platform::kFmifsOutput:
      // The library's text is data, never a format.
      if (actionInfo != nullptr) {
        const auto* output = static_cast<const platform::FmifsTextOutput*>(actionInfo);
        if (output->Output != nullptr) platform::DebugTrace("%s", output->Output);
      }
      break;
    default:
      break;
  }
  return 1;
}

int BindFmifs() {
  platform::Module module = platform::GetModuleHandle(kFmifsModule);
  if (module == nullptr) module = platform::LoadLibrary(kFmifsModule);
  if (module == nullptr) return 0;
  const platform::Proc formatEx = platform::GetProcAddress(module, "FormatEx");
  if (formatEx == nullptr) return 0;
  g_formatEx.store(reinterpret_cast<platform::FormatExFunction>(formatEx));
  const platform::Proc compression = platform::GetProcAddress(module, "EnableVolumeCompression");
  if (compression == nullptr) return 0;
  g_enableCompression.store(reinterpret_cast<platform::EnableVolumeCompressionFunction>(compression));
  return 1;
}

int CloseFormatPrompt() {
  const platform::WindowId prompt = platform::FindWindow("#32770", "Microsoft Windows");
  if (prompt == 0) return 0;
  return platform::PostMessage(prompt, platform::kWmClose, 0, 0) ? 1 : 0;
}

int FormatVolume(const char* driveRoot, int quick, const char* label, int fileSystemIndex,
                 uint32_t clusterSize) {
  // The index picks from a table of three names.
  if (fileSystemIndex < 0 || fileSystemIndex >= kFileSystemCount || driveRoot == nullptr ||
      driveRoot[0] == '\0') {
    return kFormatFailed;
  }
  const bool fat32 = fileSystemIndex == kFileSystemFat32;
  const std::string formatCom = SystemFolderFile("format.com");
  const bool formatComPresent = !formatCom.empty() && IsExistingFile(formatCom.c_str());
  const bool fmifs = !fat32 && !formatComPresent && BindFmifs();
  const FormatRouteRow& row = SelectFormatRoute(fat32, formatComPresent, fmifs);
  if (row.route == FormatRoute::None) {
    platform::DebugTrace("Could not located FMIFS entry points.\n\n");
    return kFormatFailed;
  }
  return FormatOnRoute(driveRoot, row.route, row.deviceLock, quick, label, fileSystemIndex,
                       clusterSize);
}

int FormatVolumeByRoute(const char* driveRoot, FormatRoute route, int quick, const char* label,
                        int fileSystemIndex, uint32_t clusterSize) {
  if (fileSystemIndex < 0 || fileSystemIndex >= kFileSystemCount || driveRoot == nullptr ||
      driveRoot[0] == '\0') {
    return kFormatFailed;
  }
  switch (route) {
    case FormatRoute::OwnFat32:
      if (fileSystemIndex != kFileSystemFat32) return kFormatFailed;
      break;
    case FormatRoute::FormatCommand: {
      const std::string formatCom = SystemFolderFile("format.com");
      if (formatCom.empty() || !IsExistingFile(formatCom.c_str())) return kFormatFailed;
      break;
    }
    case FormatRoute::FormatService:
      if (!BindFmifs()) return kFormatFailed;
      break;
    case FormatRoute::None:
      return kFormatFailed;
  }
  return FormatOnRoute(driveRoot, route, route != FormatRoute::OwnFat32, quick, label,
                       fileSystemIndex, clusterSize);
}

}  // namespace disk
