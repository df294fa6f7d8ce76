// Device interface lists and the device tree: which storage, CD-ROM and hub
// interfaces are present, their paths, and the device nodes behind them with
// their ids, driver keys and parents.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
  friend bool operator==(const Guid&, const Guid&) = default;
};

// Interface classes.
inline constexpr Guid kGuidDevInterfaceDisk = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr Guid kGuidDevInterfaceCdRom = {0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr Guid kGuidDevInterfaceUsbHub = {0xF18A0E88, 0xC30C, 0x11D0, {0x88, 0x15, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0xD8}};
// Device (setup) classes.
inline constexpr Guid kGuidDevClassDiskDrive = {0x4D36E967, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
inline constexpr Guid kGuidDevClassCdRom = {0x4D36E965, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// A device node of the tree; 0 is no node.
using DevInst = uint32_t;

// ---- Lists of present devices of a class (a snapshot taken when made).
struct DeviceInfoSet;
using DevInfoHandle = DeviceInfoSet*;
inline constexpr DevInfoHandle kInvalidDevInfo = nullptr;

inline constexpr uint32_t kDigcfPresent = 0x02;
inline constexpr uint32_t kDigcfDeviceInterface = 0x10;

inline constexpr uint32_t kErrorNoMoreItems = 259;
inline constexpr uint32_t kErrorInvalidUserBuffer = 1784;  // a record whose cbSize is wrong

struct DeviceInterfaceData {
  uint32_t cbSize;  // sizeof(DeviceInterfaceData)
  Guid interfaceClass;
  uint32_t flags;
  uintptr_t reserved;  // which entry of the set
};

struct DevInfoData {
  uint32_t cbSize;  // sizeof(DevInfoData)
  Guid classGuid;
  DevInst devInst;
  uintptr_t reserved;
};

// The interface detail record: a size word, then the device path text. The
// caller sets cbSize to kDeviceInterfaceDetailSize and gives a buffer of the
// size the first call reported.
struct DeviceInterfaceDetail {
  uint32_t cbSize;
  char DevicePath[1];
};
inline constexpr uint32_t kDeviceInterfaceDetailSize = 5;
// Bytes a detail record needs for a path of n characters (with its NUL).
constexpr uint32_t DeviceInterfaceDetailBytes(size_t n) {
  return static_cast<uint32_t>(sizeof(uint32_t) + n + 1);
}

// With kDigcfDeviceInterface the set lists interfaces of `classGuid`,
// otherwise devices of that setup class. Returns kInvalidDevInfo on failure.
DevInfoHandle GetClassDevices(const Guid& classGuid, uint32_t flags);
void DestroyDeviceInfoList(DevInfoHandle set);
// False with kErrorNoMoreItems past the end.
[[nodiscard]] bool EnumDeviceInterfaces(DevInfoHandle set, const Guid& interfaceClass,
                                        uint32_t index, DeviceInterfaceData* data);
// Windows semantics: with a null or short detail buffer it fails with
// kErrorInsufficientBuffer and reports the size needed in *requiredSize;
// `info` (may be null) receives the device node of the interface.
[[nodiscard]] bool GetDeviceInterfaceDetail(DevInfoHandle set, const DeviceInterfaceData* data,
                                            DeviceInterfaceDetail* detail, uint32_t detailSize,
                                            uint32_t* requiredSize, DevInfoData* info);
[[nodiscard]] bool EnumDeviceInfo(DevInfoHandle set, uint32_t index, DevInfoData* data);

// ---- The device tree (configuration-manager calls). Each returns kCrSuccess
// or a kCr* failure code.
inline constexpr uint32_t kCrSuccess = 0x00;
inline constexpr uint32_t kCrInvalidPointer = 0x03;
inline constexpr uint32_t kCrInvalidDevNode = 0x05;
inline constexpr uint32_t kCrNoSuchDevNode = 0x0D;
inline constexpr uint32_t kCrBufferSmall = 0x1A;
inline constexpr uint32_t kCrNoSuchValue = 0x25;

[[nodiscard]] uint32_t LocateRootNode(DevInst* root);
[[nodiscard]] uint32_t GetChild(DevInst* child, DevInst node);
[[nodiscard]] uint32_t GetSibling(DevInst* sibling, DevInst node);
[[nodiscard]] uint32_t GetParent(DevInst* parent, DevInst node);
// The instance id ("USB\VID_1D6B&PID_0871\0001"), NUL-terminated in `size` bytes
// (a buffer too small gets as much as fits, terminated, and kCrBufferSmall).
[[nodiscard]] uint32_t GetDeviceId(DevInst node, char* buffer, uint32_t size);
// The driver key property ("{36fc9e60-...}\0007"); *size in: buffer bytes,
// out: bytes needed (with NUL).
[[nodiscard]] uint32_t GetDriverKey(DevInst node, char* buffer, uint32_t* size);

// ---- Removal of a device node with everything below it (safe removal).
inline constexpr uint32_t kCrRemoveVetoed = 0x17;
// Flags of the query-and-remove call: the device stays off until it is
// plugged in again.
inline constexpr uint32_t kCmRemoveNoRestart = 0x02;
// Why a removal was refused.
inline constexpr uint32_t kPnpVetoTypeUnknown = 0;
inline constexpr uint32_t kPnpVetoOutstandingOpen = 5;  // a program holds it open

// Ask everything below `node` whether it may go and, when nothing objects,
// take it off. kCrSuccess when removed; kCrRemoveVetoed with the veto type
// and the vetoing name (cut to `vetoNameLength` with its NUL) when refused.
// `vetoType` and `vetoName` may be null.
uint32_t QueryAndRemoveSubTree(DevInst node, uint32_t* vetoType, char* vetoName,
                               uint32_t vetoNameLength, uint32_t flags);
// The same as the eject request a user makes.
uint32_t RequestDeviceEject(DevInst node, uint32_t* vetoType, char* vetoName,
                            uint32_t vetoNameLength, uint32_t flags);

// ---- What a backend reports, in plain form.
struct DeviceInterfaceEntry {
  std::string path;
  DevInst node = 0;
};

struct DeviceNodeInfo {
  DevInst parent = 0;
  DevInst child = 0;    // first child
  DevInst sibling = 0;  // next sibling
  std::string deviceId;
  std::string driverKey;  // empty: the node has none
};

}  // namespace platform
