#include "platform/process.h"

#include "platform/backend.h"

namespace platform {

bool ShellExecuteEx(ShellExecuteInfo* info) {
  if (info == nullptr || info->cbSize != sizeof(ShellExecuteInfo) || info->lpFile == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  info->hProcess = kInvalidHandle;
  info->hInstApp = 0;
  uint32_t error = kErrorSuccess;
  Handle process = kInvalidHandle;
  if (!CurrentBackend().ShellExecute(*info, &process, &error)) {
    SetLastError(error ? error : kErrorFileNotFound);
    info->hInstApp = error == kErrorFileNotFound ? 2 : 31;  // SE_ERR_FNF / SE_ERR_NOASSOC
    return false;
  }
  info->hInstApp = 42;
  if (info->fMask & kSeeMaskNoCloseProcess)
    info->hProcess = process;
  else if (process != kInvalidHandle)
    CloseDevice(process);
  SetLastError(kErrorSuccess);
  return true;
}

namespace {
bool IsProcess(Handle process) {
  if (process == kInvalidHandle || process->kind != HandleKind::Process || process->owner == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  return true;
}
}  // namespace

uint32_t WaitForSingleObject(Handle process, uint32_t milliseconds) {
  if (!IsProcess(process)) return kWaitFailed;
  return process->owner->WaitProcess(process, milliseconds);
}

bool GetExitCodeProcess(Handle process, uint32_t* exitCode) {
  if (!IsProcess(process) || exitCode == nullptr) return false;
  return process->owner->ProcessExitCode(process, exitCode);
}

bool TerminateProcess(Handle process, uint32_t exitCode) {
  if (!IsProcess(process)) return false;
  return process->owner->TerminateProcess(process, exitCode);
}

}  // namespace platform
