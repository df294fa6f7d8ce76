#include "platform/backend.h"

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
uint32_t Backend::LogicalDrives() { return 0; }
bool Backend::GetVolume(char, VolumeInfo*) { return false; }
char Backend::SystemDriveLetter() { return 'C'; }

void Backend::GetOsVersion(uint32_t* major, uint32_t* minor, uint16_t* servicePackMajor) {
  *major = 10;
  *minor = 0;
  *servicePackMajor = 0;
}

}  // namespace platform
