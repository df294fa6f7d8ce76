// The disk re-scan through the system's partitioning tool, and the file
// test the system-program lookups use.
#pragma once

#include <cstdint>

#include "platform/critical_section.h"

namespace disk {

// 1 when the path's attributes can be read and it is not a folder.
[[nodiscard]] int IsExistingFile(const char* path);

inline constexpr char kRescanScript[] = "rescan\r\n";
inline constexpr char kRescanScriptPrefix[] = "qvs";
inline constexpr char kRescanFallbackName[] = "qvpart.txt";
// How long one run of the tool may take before it is ended and the re-scan
// fails (station clock).
inline constexpr uint32_t kRescanWaitMs = 120000;

// Runs "diskpart.exe /s <script>" with the one-line "rescan" script, and
// once more after a clean first run. 1 when every run started and exited
// with 0; 0 when the tool is missing, the temporary folder or the script
// cannot be used, a start fails, a run exits non-zero or outlasts the wait.
// The device lock is held across each run of the tool.
[[nodiscard]] int RunDiskpartRescan();

// The same with another lock held across each run of the tool (entered and
// left once per start, also when the start fails), and two traces: `enter`
// when it starts, `exit` when it returns 1; either may be null.
int RunDiskpartRescan(platform::CriticalSection& lock, const char* enter, const char* exit);

}  // namespace disk
