// Files and folders as the station sees them: Windows paths ("C:\...",
// "E:\...") and the raw volume path "\\.\X:".
//
// Where the names lead:
// - "\\.\X:" and device interface paths open the device (as OpenDevice).
//   Reads and writes on a volume handle are relative to the partition's
//   start; on a disk interface handle they are disk-absolute; pass-through
//   on either addresses the disk (absolute LBA). Raw transfers and file
//   positions must be whole sectors (the disk's own sector size), else
//   ERROR_INVALID_PARAMETER.
// - "X:\..." for a drive the backend knows (the system drive, a product's
//   mounted volume) goes to the backend's folder for that drive, with the
//   drive's file-system rules (a FAT volume: names without case, write
//   times rounded up to 2 seconds).
// - Anything else is a path of the host, taken as it is ('\' read as '/').
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/device_io.h"

namespace platform {

// CreateFile dispositions.
inline constexpr uint32_t kCreateNew = 1;
inline constexpr uint32_t kCreateAlways = 2;
inline constexpr uint32_t kOpenExisting = 3;
inline constexpr uint32_t kOpenAlways = 4;
inline constexpr uint32_t kTruncateExisting = 5;

// CreateFile flags.
inline constexpr uint32_t kFileAttributeNormal = 0x80;
inline constexpr uint32_t kFileFlagNoBuffering = 0x20000000;
inline constexpr uint32_t kFileFlagWriteThrough = 0x80000000;
inline constexpr uint32_t kShareDelete = 4;

// File attributes (GetFileAttributes and the find record).
inline constexpr uint32_t kFileAttributeReadOnly = 0x01;
inline constexpr uint32_t kFileAttributeHidden = 0x02;
inline constexpr uint32_t kFileAttributeSystem = 0x04;
inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeArchive = 0x20;
inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

// SetFilePointerEx origins.
inline constexpr uint32_t kFileBegin = 0;
inline constexpr uint32_t kFileCurrent = 1;
inline constexpr uint32_t kFileEnd = 2;

// Last-error codes of the file calls.
inline constexpr uint32_t kErrorFileExists = 80;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorNegativeSeek = 131;
inline constexpr uint32_t kErrorInvalidName = 123;
inline constexpr uint32_t kErrorDirNotEmpty = 145;
inline constexpr uint32_t kErrorHandleEof = 38;

inline constexpr uint32_t kMaxPath = 260;

// Opens or creates a file, or opens a device (see above). kInvalidHandle
// and the last error on failure; a host path that is not a regular file (a
// folder, a pipe, a device) is refused with kErrorAccessDenied, without
// waiting for a pipe's other end.
Handle CreateFile(const char* path, uint32_t access, uint32_t share, uint32_t disposition,
                  uint32_t flags);
// A read at the end gives true with *read 0. `read`/`written` may be null.
[[nodiscard]] bool ReadFile(Handle handle, void* buffer, uint32_t size, uint32_t* read);
[[nodiscard]] bool WriteFile(Handle handle, const void* buffer, uint32_t size, uint32_t* written);
// `newPosition` may be null.
[[nodiscard]] bool SetFilePointerEx(Handle handle, int64_t distance, int64_t* newPosition,
                                    uint32_t method);
[[nodiscard]] bool GetFileSizeEx(Handle handle, int64_t* size);
// Ends a file at the handle's position (cuts what lies behind it).
[[nodiscard]] bool SetEndOfFile(Handle handle);
// Sends what the system keeps of a file's data to its disk.
[[nodiscard]] bool FlushFileBuffers(Handle handle);
// Closes any handle: file, device or process. False for an invalid handle.
bool CloseHandle(Handle handle);

[[nodiscard]] bool DeleteFile(const char* path);
[[nodiscard]] bool CreateDirectory(const char* path);
// Creates the folder and every missing folder above it. True when the path
// is a folder at the end (the last error then says kErrorAlreadyExists when
// nothing had to be made).
[[nodiscard]] bool CreateDirectoryTree(const char* path);
[[nodiscard]] bool RemoveDirectory(const char* path);
// Copies a file with its write time (FAT rules at the destination). With
// failIfExists an existing destination fails with kErrorFileExists. A
// source that is not a regular file fails with kErrorAccessDenied.
[[nodiscard]] bool CopyFile(const char* from, const char* to, bool failIfExists);
// kInvalidFileAttributes (and the last error) when the path does not exist.
[[nodiscard]] uint32_t GetFileAttributes(const char* path);

// A host file opened for reading through the C library, only when it is a
// regular file: a device such as /dev/zero or a pipe can give bytes for
// ever, and opening a pipe never waits for a writer. Null otherwise.
std::FILE* OpenRegularFileForReading(const char* path);

// A whole host file, read only when it is a regular file of at most
// `limit` bytes; `bytes` is empty otherwise. Never waits for a pipe's writer.
enum class FileRead : uint8_t { kRead, kMissing, kNotRegular, kTooLarge, kFailed };
[[nodiscard]] FileRead ReadRegularFile(const char* path, size_t limit, std::string* bytes);

// The temporary folder, ending in a backslash. Windows contract: returns
// the length without the NUL, or the size needed (with the NUL) when the
// buffer is too small; 0 on failure.
[[nodiscard]] uint32_t GetTempPath(uint32_t size, char* buffer);
// "<path>\<prefix up to 3 chars><hex>.TMP" in a buffer of kMaxPath. With
// unique 0 the number is chosen and the file is created empty (exclusive:
// two callers never get the same name); otherwise the name is only made.
// Returns the number used, 0 on failure.
[[nodiscard]] uint32_t GetTempFileName(const char* path, const char* prefix, uint32_t unique,
                                       char* out);

// ---- Folder listings with DOS attributes, time and size (the findfirst
// family). The attribute mask selects hidden, system, label and folder
// entries besides the plain ones (the DOS rule): 63 lists everything, 47
// everything but folders.
inline constexpr uint8_t kFaReadOnly = 0x01;
inline constexpr uint8_t kFaHidden = 0x02;
inline constexpr uint8_t kFaSystem = 0x04;
inline constexpr uint8_t kFaLabel = 0x08;
inline constexpr uint8_t kFaDirectory = 0x10;
inline constexpr uint8_t kFaArchive = 0x20;

struct FindData {
  uint8_t attrib = 0;
  uint16_t time = 0;  // DOS packed, local time: hour << 11 | minute << 5 | second / 2
  uint16_t date = 0;  // (year - 1980) << 9 | month << 5 | day
  uint64_t size = 0;
  // The write time the packed fields were cut from (UTC), for callers that
  // must pack it by another rule (FatWriteSeconds).
  int64_t writeSeconds = 0;
  uint32_t writeNanoseconds = 0;
  char name[kMaxPath] = {};
  void* search = nullptr;  // the listing in progress; released by FindClose
};

// The pattern is "<folder>\*.*", "<folder>\name" or "<folder>\*.ext"
// ('*' and '?' as DOS wildcards). 0 when an entry was found, -1 when none
// (the search is then already released).
[[nodiscard]] int FindFirst(const char* pattern, FindData* data, int attributes);
[[nodiscard]] int FindNext(FindData* data);
// Releases a search that was not run to its end; harmless after the end.
void FindClose(FindData* data);

// DOS date and time of a moment (seconds since 1970, UTC) in local time;
// the seconds are cut to the 2-second step.
void UnixTimeToDosDateTime(int64_t seconds, uint16_t* date, uint16_t* time);

// The write time a FAT volume keeps for a file written at that moment: FAT
// holds 2-second steps and rounds up.
[[nodiscard]] int64_t FatWriteSeconds(int64_t seconds, uint32_t nanoseconds);

}  // namespace platform
