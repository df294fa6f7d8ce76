// Starting programs (the shell's execute call), waiting for them and
// reading their exit codes. On the bench the system's programs are
// emulated: "cmd.exe" with "/c", pipes, "&&" and "> nul"; "diskpart.exe
// /s <script>"; "format.com"; "label"; batch files (".bat") run by the
// same shell.
#pragma once

#include <cstdint>

#include "platform/device_io.h"

namespace platform {

// fMask bits.
inline constexpr uint32_t kSeeMaskNoCloseProcess = 0x00000040;
inline constexpr uint32_t kSeeMaskNoAsync = 0x00000100;
inline constexpr uint32_t kSeeMaskFlagNoUi = 0x00000400;

// nShow values.
inline constexpr int kSwHide = 0;
inline constexpr int kSwShowNormal = 1;

// Wait results and limits.
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;
inline constexpr uint32_t kWaitObject0 = 0;
inline constexpr uint32_t kWaitTimeout = 0x102;
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;
inline constexpr uint32_t kStillActive = 259;

// Last-error codes of a start.
inline constexpr uint32_t kErrorBadExeFormat = 193;
inline constexpr uint32_t kErrorCancelled = 1223;  // the elevation prompt was refused

struct ShellExecuteInfo {
  uint32_t cbSize = sizeof(ShellExecuteInfo);
  uint32_t fMask = 0;
  const void* hwnd = nullptr;
  const char* lpVerb = nullptr;        // null or "open": the default; "runas": elevated
  const char* lpFile = nullptr;        // a program or a document (".bat")
  const char* lpParameters = nullptr;  // the command line after the program
  const char* lpDirectory = nullptr;
  int nShow = kSwShowNormal;
  uintptr_t hInstApp = 0;  // > 32 after a start
  Handle hProcess = kInvalidHandle;  // with kSeeMaskNoCloseProcess; close with CloseHandle
};

// True when the program started; the last error says why not.
[[nodiscard]] bool ShellExecuteEx(ShellExecuteInfo* info);
// kWaitObject0 when the process has ended, kWaitTimeout when it has not
// within `milliseconds` (station clock), kWaitFailed for a bad handle.
[[nodiscard]] uint32_t WaitForSingleObject(Handle process, uint32_t milliseconds);
// kStillActive while it runs.
[[nodiscard]] bool GetExitCodeProcess(Handle process, uint32_t* exitCode);
// Ends a process that still runs (a wait that ran out); it exits with `exitCode`.
[[nodiscard]] bool TerminateProcess(Handle process, uint32_t exitCode);

// A started process as a backend reports it; the handle object the
// backend makes derives from this.
struct ProcessObject : HandleObject {
  using HandleObject::HandleObject;
};

}  // namespace platform
