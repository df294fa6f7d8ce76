// Logical drives and volumes: which letters exist, what kind of drive each
// is, its label, file system and free space, and the system's own folders.
#pragma once

#include <cstdint>

namespace platform {

// Drive types.
inline constexpr uint32_t kDriveUnknown = 0;
inline constexpr uint32_t kDriveNoRootDir = 1;
inline constexpr uint32_t kDriveRemovable = 2;
inline constexpr uint32_t kDriveFixed = 3;
inline constexpr uint32_t kDriveRemote = 4;
inline constexpr uint32_t kDriveCdRom = 5;

// Last-error codes of the volume queries.
inline constexpr uint32_t kErrorPathNotFound = 3;          // no drive of that letter
inline constexpr uint32_t kErrorUnrecognizedVolume = 1005;  // a drive without a file system
inline constexpr uint32_t kErrorLabelTooLong = 154;         // longer than the file system takes
inline constexpr uint32_t kErrorInvalidLabel = 123;         // a character the file system refuses

// Bit 0 = A: ... bit 25 = Z:.
[[nodiscard]] uint32_t GetLogicalDrives();
// root: "X:\" (or "X:").
[[nodiscard]] uint32_t GetDriveType(const char* root);
// Any out pointer may be null. Fails (last-error set) for a letter without a
// volume, or a volume without a recognised file system.
[[nodiscard]] bool GetVolumeInformation(const char* root, char* label, uint32_t labelSize,
                                        uint32_t* serialNumber, uint32_t* maxComponentLength,
                                        uint32_t* fileSystemFlags, char* fileSystemName,
                                        uint32_t fileSystemNameSize);
[[nodiscard]] bool GetDiskFreeSpaceEx(const char* root, uint64_t* freeBytesAvailableToCaller,
                                      uint64_t* totalBytes, uint64_t* totalFreeBytes);
// Sets (or, with an empty or null label, removes) the volume's label.
// kErrorLabelTooLong past 11 characters on FAT, 32 on NTFS and exFAT.
[[nodiscard]] bool SetVolumeLabel(const char* root, const char* label);

// The wide forms the format routes use; the same answers.
[[nodiscard]] uint32_t GetDriveType(const char16_t* root);
[[nodiscard]] bool GetVolumeInformation(const char16_t* root, char16_t* label, uint32_t labelSize,
                                        uint32_t* serialNumber, uint32_t* maxComponentLength,
                                        uint32_t* fileSystemFlags, char16_t* fileSystemName,
                                        uint32_t fileSystemNameSize);
[[nodiscard]] bool GetDiskFreeSpaceEx(const char16_t* root, uint64_t* freeBytesAvailableToCaller,
                                      uint64_t* totalBytes, uint64_t* totalFreeBytes);
[[nodiscard]] bool SetVolumeLabel(const char16_t* root, const char16_t* label);

// "C:\Windows" style; returns the length, or the size needed when too small.
[[nodiscard]] uint32_t GetWindowsDirectory(char* buffer, uint32_t size);
[[nodiscard]] uint32_t GetSystemDirectory(char* buffer, uint32_t size);

// What a backend reports about one drive letter.
struct VolumeInfo {
  uint32_t driveType = kDriveNoRootDir;
  bool mounted = false;           // a file system is recognised
  char label[33] = {};
  char fileSystem[16] = {};
  uint32_t serialNumber = 0;
  uint64_t totalBytes = 0;
  uint64_t freeBytes = 0;
  uint32_t queryError = 0;  // not mounted: why (0: no file system recognised)
};

}  // namespace platform
