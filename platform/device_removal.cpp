// The configuration manager's removal calls on the current backend.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/backend.h"
#include "platform/device_setup.h"

namespace platform {
namespace {

uint32_t Remove(DevInst node, bool eject, uint32_t* vetoType, char* vetoName, uint32_t vetoNameLength) {
  if (vetoType) *vetoType = kPnpVetoTypeUnknown;
  if (vetoName && vetoNameLength > 0) vetoName[0] = '\0';
  if (node == 0) return kCrInvalidDevNode;
  uint32_t type = kPnpVetoTypeUnknown;
  std::string name;
  const uint32_t result = CurrentBackend().RemoveSubTree(node, eject, &type, &name);
  if (result == kCrRemoveVetoed) {
    if (vetoType) *vetoType = type;
    if (vetoName && vetoNameLength > 0) {
      const size_t n = std::min<size_t>(name.size(), vetoNameLength - 1);
      std::memcpy(vetoName, name.data(), n);
      vetoName[n] = '\0';
    }
  }
  return result;
}

}  // namespace

uint32_t QueryAndRemoveSubTree(DevInst node, uint32_t* vetoType, char* vetoName,
                               uint32_t vetoNameLength, uint32_t) {
  return Remove(node, false, vetoType, vetoName, vetoNameLength);
}

uint32_t RequestDeviceEject(DevInst node, uint32_t* vetoType, char* vetoName,
                            uint32_t vetoNameLength, uint32_t) {
  return Remove(node, true, vetoType, vetoName, vetoNameLength);
}

}  // namespace platform
