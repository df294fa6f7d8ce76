#include "platform/device_setup.h"

#include <cstring>

#include "platform/backend.h"
#include "platform/device_io.h"

namespace platform {

// A snapshot of a class's interfaces or devices, taken when the set is made.
struct DeviceInfoSet {
  Guid guid{};
  bool interfaces = false;
  std::vector<DeviceInterfaceEntry> entries;  // interfaces (with their nodes) or bare nodes
};

namespace {

bool FillInfo(const DeviceInfoSet& set, DevInst node, DevInfoData* info) {
  if (info == nullptr) return true;
  if (info->cbSize != sizeof(DevInfoData)) {
    SetLastError(kErrorInvalidUserBuffer);
    return false;
  }
  info->classGuid = set.guid;
  info->devInst = node;
  return true;
}

bool ReadNode(DevInst node, DeviceNodeInfo* out) {
  return node != 0 && CurrentBackend().GetNode(node, out);
}

}  // namespace

DevInfoHandle GetClassDevices(const Guid& classGuid, uint32_t flags) {
  auto set = std::make_unique<DeviceInfoSet>();
  set->guid = classGuid;
  set->interfaces = (flags & kDigcfDeviceInterface) != 0;
  Backend& backend = CurrentBackend();
  if (set->interfaces) {
    if (!backend.ListDeviceInterfaces(classGuid, &set->entries)) {
      SetLastError(kErrorInvalidParameter);
      return kInvalidDevInfo;
    }
  } else {
    std::vector<DevInst> nodes;
    if (!backend.ListClassDevices(classGuid, &nodes)) {
      SetLastError(kErrorInvalidParameter);
      return kInvalidDevInfo;
    }
    for (DevInst n : nodes) set->entries.push_back({std::string(), n});
  }
  SetLastError(kErrorSuccess);
  return set.release();
}

void DestroyDeviceInfoList(DevInfoHandle set) { delete set; }

bool EnumDeviceInterfaces(DevInfoHandle set, const Guid& interfaceClass, uint32_t index,
                          DeviceInterfaceData* data) {
  if (set == kInvalidDevInfo) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (data == nullptr || data->cbSize != sizeof(DeviceInterfaceData)) {
    SetLastError(kErrorInvalidUserBuffer);
    return false;
  }
  if (!set->interfaces || !(interfaceClass == set->guid) || index >= set->entries.size()) {
    SetLastError(kErrorNoMoreItems);
    return false;
  }
  data->interfaceClass = interfaceClass;
  data->flags = 0x1;  // active
  data->reserved = index;
  SetLastError(kErrorSuccess);
  return true;
}

bool GetDeviceInterfaceDetail(DevInfoHandle set, const DeviceInterfaceData* data,
                              DeviceInterfaceDetail* detail, uint32_t detailSize,
                              uint32_t* requiredSize, DevInfoData* info) {
  if (set == kInvalidDevInfo) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (data == nullptr || data->cbSize != sizeof(DeviceInterfaceData) || !set->interfaces ||
      data->reserved >= set->entries.size()) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  const DeviceInterfaceEntry& entry = set->entries[data->reserved];
  const uint32_t needed = DeviceInterfaceDetailBytes(entry.path.size());
  if (requiredSize != nullptr) *requiredSize = needed;
  if (detail == nullptr) {
    if (detailSize != 0) {
      SetLastError(kErrorInvalidUserBuffer);
      return false;
    }
    if (!FillInfo(*set, entry.node, info)) return false;
    SetLastError(kErrorInsufficientBuffer);
    return false;
  }
  if (detailSize < sizeof(uint32_t) + 1 || detail->cbSize != kDeviceInterfaceDetailSize) {
    SetLastError(kErrorInvalidUserBuffer);
    return false;
  }
  if (!FillInfo(*set, entry.node, info)) return false;
  if (detailSize < needed) {
    SetLastError(kErrorInsufficientBuffer);
    return false;
  }
  // The path follows the size word; write through the record's bytes, not the
  // one-character array that only names its start.
  std::memcpy(reinterpret_cast<char*>(detail) + sizeof(uint32_t), entry.path.c_str(),
              entry.path.size() + 1);
  SetLastError(kErrorSuccess);
  return true;
}

bool EnumDeviceInfo(DevInfoHandle set, uint32_t index, DevInfoData* data) {
  if (set == kInvalidDevInfo) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (data == nullptr || data->cbSize != sizeof(DevInfoData)) {
    SetLastError(kErrorInvalidUserBuffer);
    return false;
  }
  if (index >= set->entries.size()) {
    SetLastError(kErrorNoMoreItems);
    return false;
  }
  FillInfo(*set, set->entries[index].node, data);
  SetLastError(kErrorSuccess);
  return true;
}

uint32_t LocateRootNode(DevInst* root) {
  if (root == nullptr) return kCrInvalidPointer;
  DeviceNodeInfo info;
  const DevInst node = CurrentBackend().RootNode();
  if (!ReadNode(node, &info)) return kCrNoSuchDevNode;
  *root = node;
  return kCrSuccess;
}

namespace {
uint32_t Related(DevInst* out, DevInst node, DevInst DeviceNodeInfo::*which) {
  if (out == nullptr) return kCrInvalidPointer;
  DeviceNodeInfo info;
  if (!ReadNode(node, &info)) return kCrInvalidDevNode;
  if (info.*which == 0) return kCrNoSuchDevNode;
  *out = info.*which;
  return kCrSuccess;
}
}  // namespace

uint32_t GetChild(DevInst* child, DevInst node) { return Related(child, node, &DeviceNodeInfo::child); }
uint32_t GetSibling(DevInst* sibling, DevInst node) {
  return Related(sibling, node, &DeviceNodeInfo::sibling);
}
uint32_t GetParent(DevInst* parent, DevInst node) {
  return Related(parent, node, &DeviceNodeInfo::parent);
}

uint32_t GetDeviceId(DevInst node, char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return kCrInvalidPointer;
  DeviceNodeInfo info;
  if (!ReadNode(node, &info)) return kCrInvalidDevNode;
  // Too small: as much as fits, still terminated, and the failure code.
  const size_t n = std::min<size_t>(info.deviceId.size(), size - 1);
  std::memcpy(buffer, info.deviceId.data(), n);
  buffer[n] = '\0';
  return n == info.deviceId.size() ? kCrSuccess : kCrBufferSmall;
}

uint32_t GetDriverKey(DevInst node, char* buffer, uint32_t* size) {
  if (size == nullptr || (buffer == nullptr && *size != 0)) return kCrInvalidPointer;
  DeviceNodeInfo info;
  if (!ReadNode(node, &info)) return kCrInvalidDevNode;
  if (info.driverKey.empty()) return kCrNoSuchValue;
  const auto needed = static_cast<uint32_t>(info.driverKey.size() + 1);
  const uint32_t given = *size;
  *size = needed;
  if (given < needed) return kCrBufferSmall;
  std::memcpy(buffer, info.driverKey.c_str(), needed);
  return kCrSuccess;
}

}  // namespace platform
