#include "platform/volumes.h"

#include <cctype>
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/backend.h"
#include "platform/device_io.h"
#include "platform/text.h"

namespace platform {
namespace {

// The letter of "X:", "X:\" or "X:/"; 0 for anything else.
char RootLetter(const char* root) {
  if (root == nullptr) return 0;
  const int letter = std::toupper(static_cast<unsigned char>(root[0]));
  if (letter < 'A' || letter > 'Z' || root[1] != ':') return 0;
  if (root[2] != '\0' && !((root[2] == '\\' || root[2] == '/') && root[3] == '\0')) return 0;
  return static_cast<char>(letter);
}

// The volume behind a root that is a present drive; sets the last error when not.
bool PresentVolume(const char* root, VolumeInfo* info) {
  const char letter = RootLetter(root);
  Backend& backend = CurrentBackend();
  if (letter == 0 || !(backend.LogicalDrives() & (1u << (letter - 'A'))) ||
      !backend.GetVolume(letter, info)) {
    SetLastError(kErrorPathNotFound);
    return false;
  }
  return true;
}

// Copies a text into a caller's field; a field too small fails the query
// rather than cutting a name the caller would then trust.
bool PutText(char* out, uint32_t size, const char* text) {
  if (out == nullptr) return true;
  const size_t n = std::strlen(text);
  if (size < n + 1) return false;
  std::memcpy(out, text, n + 1);
  return true;
}

uint32_t PutFolder(char* buffer, uint32_t size, const std::string& folder) {
  const auto needed = static_cast<uint32_t>(folder.size() + 1);
  if (buffer == nullptr || size < needed) return needed;
  std::memcpy(buffer, folder.c_str(), needed);
  return needed - 1;
}

std::string WindowsFolder() { return std::string(1, CurrentBackend().SystemDriveLetter()) + ":\\Windows"; }

}  // namespace

uint32_t GetLogicalDrives() { return CurrentBackend().LogicalDrives() & 0x03FFFFFFu; }

uint32_t GetDriveType(const char* root) {
  const char letter = RootLetter(root);
  if (letter == 0) return kDriveNoRootDir;
  Backend& backend = CurrentBackend();
  VolumeInfo info;
  if (!(backend.LogicalDrives() & (1u << (letter - 'A'))) || !backend.GetVolume(letter, &info))
    return kDriveNoRootDir;
  return info.driveType;
}

bool GetVolumeInformation(const char* root, char* label, uint32_t labelSize,
                          uint32_t* serialNumber, uint32_t* maxComponentLength,
                          uint32_t* fileSystemFlags, char* fileSystemName,
                          uint32_t fileSystemNameSize) {
  VolumeInfo info;
  if (!PresentVolume(root, &info)) return false;
  if (!info.mounted) {
    SetLastError(info.queryError ? info.queryError : kErrorUnrecognizedVolume);
    return false;
  }
  info.label[sizeof info.label - 1] = '\0';
  info.fileSystem[sizeof info.fileSystem - 1] = '\0';
  if (!PutText(label, labelSize, info.label) ||
      !PutText(fileSystemName, fileSystemNameSize, info.fileSystem)) {
    SetLastError(kErrorInsufficientBuffer);
    return false;
  }
  if (serialNumber) *serialNumber = info.serialNumber;
  if (maxComponentLength) *maxComponentLength = 255;
  if (fileSystemFlags) *fileSystemFlags = 0x00000003;  // case-sensitive search, case preserved
  SetLastError(kErrorSuccess);
  return true;
}

bool GetDiskFreeSpaceEx(const char* root, uint64_t* freeBytesAvailableToCaller,
                        uint64_t* totalBytes, uint64_t* totalFreeBytes) {
  VolumeInfo info;
  if (!PresentVolume(root, &info)) return false;
  if (!info.mounted) {
    SetLastError(info.queryError ? info.queryError : kErrorUnrecognizedVolume);
    return false;
  }
  if (freeBytesAvailableToCaller) *freeBytesAvailableToCaller = info.freeBytes;
  if (totalBytes) *totalBytes = info.totalBytes;
  if (totalFreeBytes) *totalFreeBytes = info.freeBytes;
  SetLastError(kErrorSuccess);
  return true;
}

uint32_t GetWindowsDirectory(char* buffer, uint32_t size) { return PutFolder(buffer, size, WindowsFolder()); }

uint32_t GetSystemDirectory(char* buffer, uint32_t size) {
  return PutFolder(buffer, size, WindowsFolder() + "\\system32");
}

}  // namespace platform

namespace platform {
namespace {

std::string Narrow(const char16_t* text) {
  if (text == nullptr) return {};
  size_t n = 0;
  while (text[n] != 0) ++n;
  return WideToAnsi(text, n);
}

bool PutWide(char16_t* out, uint32_t size, const char* text) {
  if (out == nullptr) return true;
  const std::u16string wide = AnsiToWide(text);
  if (size < wide.size() + 1) return false;
  std::copy(wide.begin(), wide.end(), out);
  out[wide.size()] = 0;
  return true;
}

}  // namespace

bool SetVolumeLabel(const char* root, const char* label) {
  VolumeInfo info;
  if (!PresentVolume(root, &info)) return false;
  uint32_t error = kErrorSuccess;
  if (!CurrentBackend().SetVolumeLabel(RootLetter(root), label ? label : "", &error)) {
    SetLastError(error ? error : kErrorGenFailure);
    return false;
  }
  SetLastError(kErrorSuccess);
  return true;
}

uint32_t GetDriveType(const char16_t* root) { return GetDriveType(Narrow(root).c_str()); }

bool GetVolumeInformation(const char16_t* root, char16_t* label, uint32_t labelSize,
                          uint32_t* serialNumber, uint32_t* maxComponentLength,
                          uint32_t* fileSystemFlags, char16_t* fileSystemName,
                          uint32_t fileSystemNameSize) {
  char narrowLabel[256] = {}, narrowFs[64] = {};
  if (!GetVolumeInformation(Narrow(root).c_str(), narrowLabel, sizeof narrowLabel, serialNumber,
                            maxComponentLength, fileSystemFlags, narrowFs, sizeof narrowFs))
    return false;
  if (!PutWide(label, labelSize, narrowLabel) || !PutWide(fileSystemName, fileSystemNameSize, narrowFs)) {
    SetLastError(kErrorInsufficientBuffer);
    return false;
  }
  return true;
}

bool GetDiskFreeSpaceEx(const char16_t* root, uint64_t* freeBytesAvailableToCaller,
                        uint64_t* totalBytes, uint64_t* totalFreeBytes) {
  return GetDiskFreeSpaceEx(Narrow(root).c_str(), freeBytesAvailableToCaller, totalBytes, totalFreeBytes);
}

bool SetVolumeLabel(const char16_t* root, const char16_t* label) {
  const std::string narrow = Narrow(label);
  return SetVolumeLabel(Narrow(root).c_str(), narrow.c_str());
}

}  // namespace platform
