#include "platform/backend.h"

#include "platform/disk_ioctl.h"

namespace platform {

bool Backend::ListDeviceInterfaces(const Guid&, std::vector<DeviceInterfaceEntry>* out) {
  out->clear();
  return true;
}

bool Backend::ListClassDevices(const Guid&, std::vector<DevInst>* out) {
  out->clear();
  return true;
}

DevInst Backend::RootNode() { return 0; }
bool Backend::GetNode(DevInst, DeviceNodeInfo*) { return false; }
uint32_t Backend::RemoveSubTree(DevInst, bool, uint32_t*, std::string*) { return kCrInvalidDevNode; }
uint32_t Backend::LogicalDrives() { return 0; }
bool Backend::GetVolume(char, VolumeInfo*) { return false; }
char Backend::SystemDriveLetter() { return 'C'; }

void Backend::GetOsVersion(uint32_t* major, uint32_t* minor, uint16_t* servicePackMajor) {
  *major = 10;
  *minor = 0;
  *servicePackMajor = 0;
}

}  // namespace platform

namespace platform {

Handle Backend::OpenDeviceFile(const char* path, uint32_t access, uint32_t share, uint32_t,
                               uint32_t* error) {
  return OpenDevice(path, access, share, error);
}

bool Backend::ReadDevice(Handle, uint64_t, void*, uint32_t, uint32_t* done, uint32_t* error) {
  *done = 0;
  *error = kErrorInvalidFunction;
  return false;
}

bool Backend::WriteDevice(Handle, uint64_t, const void*, uint32_t, uint32_t* done,
                          uint32_t* error) {
  *done = 0;
  *error = kErrorInvalidFunction;
  return false;
}

bool Backend::SetVolumeLabel(char, const std::string&, uint32_t* error) {
  *error = kErrorPathNotFound;
  return false;
}

bool Backend::GetDriveFolder(char, DriveFolder*, uint32_t* error) {
  *error = kErrorPathNotFound;
  return false;
}

bool Backend::TransferDriveFile(DriveFileTransfer&, uint32_t*) { return true; }

std::string Backend::TempPath() { return {}; }

bool Backend::ShellExecute(const ShellExecuteInfo&, Handle* process, uint32_t* error) {
  *process = kInvalidHandle;
  *error = kErrorFileNotFound;
  return false;
}

uint32_t Backend::WaitProcess(Handle, uint32_t) { return kWaitFailed; }
bool Backend::ProcessExitCode(Handle, uint32_t*) { return false; }
bool Backend::TerminateProcess(Handle, uint32_t) { return false; }
bool Backend::HasModule(const char*, const char*) { return true; }

void Backend::FormatEx(const char16_t*, uint32_t, const char16_t*, const char16_t*, bool, uint32_t,
                       FmifsCallback callback) {
  uint8_t success = 0;
  if (callback) callback(kFmifsDone, 0, &success);
}

void Backend::ListWindows(std::vector<WindowEntry>* out) { out->clear(); }

bool Backend::PostWindowMessage(WindowId, uint32_t, uintptr_t, intptr_t, uint32_t* error) {
  *error = kErrorInvalidWindowHandle;
  return false;
}

}  // namespace platform
