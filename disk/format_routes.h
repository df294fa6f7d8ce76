// Formatting a product's volume by one of three routes (the station's own
// FAT32 formatter, the system's format command through "qvfmt.bat", the
// format service of "fmifs.dll"), followed by the label and the volume
// queries; and closing the shell's prompt for a new volume.
#pragma once

#include <cstdint>

#include "disk/format_route_table.h"

namespace disk {

// Results of FormatVolume.
inline constexpr int kFormatOk = 0;
inline constexpr int kFormatFailed = -1;
inline constexpr int kFormatLabelTooLong = -2;  // error 154 on the FAT32 route
inline constexpr int kFormatVolumeInfoFailed = -4;
inline constexpr int kFormatFreeSpaceFailed = -5;
inline constexpr int kFormatSecondVolumeInfoFailed = -6;

inline constexpr uint32_t kFormatRetryMs = 1000;
inline constexpr uint32_t kMaxFileSystemNameChars = 10;
inline constexpr uint32_t kMaxLabelChars = 80;

// `driveRoot`: "X:\" (only the letter is used). `fileSystemIndex`: 0 NTFS,
// 1 FAT32, 2 exFAT; anything else is refused with -1. `clusterSize` in
// bytes, 0 for the route's default. The device lock is held across the
// whole call on the format-command and format-service routes and released on
// every exit; the FAT32 route takes none.
[[nodiscard]] int FormatVolume(const char* driveRoot, int quick, const char* label,
                               int fileSystemIndex, uint32_t clusterSize);

// The same by one route, whatever the table would choose: the station's
// FAT32 formatter (FAT32 only), the format command or the format service.
// -1 when the route cannot run here (its program or module is missing, or
// the file system is not the FAT32 formatter's).
[[nodiscard]] int FormatVolumeByRoute(const char* driveRoot, FormatRoute route, int quick, const char* label,
                        int fileSystemIndex, uint32_t clusterSize);

// 1 when a top-level "#32770" window titled "Microsoft Windows" was found
// and WM_CLOSE posted to it.
[[nodiscard]] int CloseFormatPrompt();

// Binds "FormatEx" and "EnableVolumeCompression" of "fmifs.dll" (found
// loaded or loaded now, never released). 1 when both resolve.
[[nodiscard]] int BindFmifs();

// The format service's callback: progress, done (a failure sets the
// route's failure flag) and text output. Always TRUE.
[[nodiscard]] uint8_t FormatExCallback(int command, uint32_t subAction, void* actionInfo);

// "<caption>: <the system's text for the code>\n" on the diagnostic output.
void ReportSystemError(const char* caption, uint32_t errorCode);
// The system's text for an error code.
const char* SystemErrorText(uint32_t errorCode);

}  // namespace disk
