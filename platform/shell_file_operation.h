// The shell's file operation as the station uses it: copying a list of
// files, folders and wildcard patterns into a folder, without any dialog.
#pragma once

#include <cstdint>

namespace platform {

// Operations.
inline constexpr uint32_t kFoCopy = 2;

// Flags.
inline constexpr uint16_t kFofSilent = 0x0004;          // no progress dialog
inline constexpr uint16_t kFofNoConfirmation = 0x0010;  // "yes to all", folders made as needed
inline constexpr uint16_t kFofNoErrorUi = 0x0400;       // no error dialog

// Error of a copy whose destination lies inside a folder being copied.
inline constexpr uint32_t kShellErrorDestinationInSource = 0x76;

struct ShFileOpStruct {
  uint32_t func = 0;
  // Paths, each ending in a NUL, the list ending in a second NUL. The last
  // part of a path may hold the wildcards '*' and '?'.
  const char* from = nullptr;
  const char* to = nullptr;  // the destination folder
  uint16_t flags = 0;
  bool anyOperationsAborted = false;
};

// Copies every listed file into the destination folder and every listed
// folder (with all it holds) below it, as the folder of that name; a pattern
// takes what it matches in its folder. The destination folder and missing
// folders above it are made; files there are overwritten. Without
// kFofNoConfirmation nothing is made and an existing file is not replaced.
// Returns 0 on success, else the error of the first failing step; the copy
// stops there. Only kFoCopy is offered.
[[nodiscard]] uint32_t SHFileOperation(ShFileOpStruct* operation);

}  // namespace platform
