#include "bridge/storage_enumeration.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/scsi_pass_through.h"
#include "bridge/vendor_commands.h"
#include "platform/debug.h"
#include "platform/device_setup.h"
#include "platform/named_mutex.h"
#include "platform/volumes.h"

namespace bridge {

platform::NamedMutex& UsbAccessMutex() {
  static platform::NamedMutex mutex(kUsbAccessMutexName);
  return mutex;
}

namespace {

struct DevInfoDeleter {
  void operator()(platform::DeviceInfoSet* set) const { platform::DestroyDeviceInfoList(set); }
};
using DevInfoList = std::unique_ptr<platform::DeviceInfoSet, DevInfoDeleter>;

DevInfoList PresentInterfaces(const platform::Guid& interfaceClass) {
  return DevInfoList(platform::GetClassDevices(
      interfaceClass, platform::kDigcfPresent | platform::kDigcfDeviceInterface));
}

enum class DetailRead { kOk, kTooLong, kFailed };

// The detail record of interface `index` into `record`: first its size, then
// the record with a size word of 5. A path that does not fit the record is
// reported, not cut: a cut path would name another device.
DetailRead ReadInterfaceDetail(platform::DevInfoHandle set, const platform::Guid& interfaceClass,
                               uint32_t index, InterfaceDetailRecord* record) {
  platform::DeviceInterfaceData data{};
  data.cbSize = sizeof data;
  if (!platform::EnumDeviceInterfaces(set, interfaceClass, index, &data)) return DetailRead::kFailed;
  uint32_t required = 0;
  if (platform::GetDeviceInterfaceDetail(set, &data, nullptr, 0, &required, nullptr) ||
      platform::GetLastError() != platform::kErrorInsufficientBuffer || required == 0) {
    return DetailRead::kFailed;
  }
  if (required > sizeof(InterfaceDetailRecord)) return DetailRead::kTooLong;
  std::vector<uint32_t> buffer((required + sizeof(uint32_t) - 1) / sizeof(uint32_t) + 1, 0);
  auto* detail = reinterpret_cast<platform::DeviceInterfaceDetail*>(buffer.data());
  detail->cbSize = platform::kDeviceInterfaceDetailSize;
  if (!platform::GetDeviceInterfaceDetail(set, &data, detail, required, nullptr, nullptr)) {
    return DetailRead::kFailed;
  }
  const char* path = reinterpret_cast<const char*>(buffer.data()) + sizeof(uint32_t);
  const size_t pathRoom = required - sizeof(uint32_t);
  if (::strnlen(path, pathRoom) >= pathRoom) return DetailRead::kFailed;  // no NUL in the record
  *record = InterfaceDetailRecord{};
  std::memcpy(record, buffer.data(), required);
  return DetailRead::kOk;
}

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Lower(c);
  return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != Lower(prefix[i])) return false;
  }
  return true;
}

template <size_t N>
bool FitsField(const char (&)[N], std::string_view text) {
  return text.size() < N;
}

template <size_t N>
void StoreField(char (&field)[N], std::string_view text) {
  std::memset(field, 0, N);
  const size_t n = text.size() < N ? text.size() : N - 1;
  if (n != 0) std::memcpy(field, text.data(), n);
}

// Device id of a node, or "" when it cannot be had whole.
std::string NodeId(platform::DevInst node) {
  std::array<char, 512> id{};
  if (platform::GetDeviceId(node, id.data(), static_cast<uint32_t>(id.size())) !=
      platform::kCrSuccess) {
    return {};
  }
  return std::string(id.data(), ::strnlen(id.data(), id.size()));
}

struct ClassPrefix {
  std::string_view prefix;  // the id begins with it, then a '\'
};
constexpr std::array<ClassPrefix, 2> kStorageIdPrefixes = {{{"USBSTOR"}, {"SCSI"}}};

int CollectParents(const platform::Guid& deviceClass, ParentRecord* records, int capacity,
                   int* count) {
  int taken = 0;
  DevInfoList set(platform::GetClassDevices(deviceClass, platform::kDigcfPresent));
  for (uint32_t index = 0; set && taken < capacity; ++index) {
    platform::DevInfoData info{};
    info.cbSize = sizeof info;
    if (!platform::EnumDeviceInfo(set.get(), index, &info)) break;
    const std::string id = NodeId(info.devInst);
    std::string tail;
    for (const ClassPrefix& p : kStorageIdPrefixes) {
      if (StartsWithNoCase(id, p.prefix) && id.size() > p.prefix.size() + 1 &&
          id[p.prefix.size()] == '\\') {
        tail = LowerCase(std::string_view(id).substr(p.prefix.size() + 1));
        break;
      }
    }
    if (tail.empty()) continue;
    if (const size_t slash = tail.find('\\'); slash != std::string::npos) tail[slash] = '#';
    for (char& c : tail) {
      if (c == '/') c = '#';
    }
    platform::DevInst parent = 0;
    std::string parentId;
    if (platform::GetParent(&parent, info.devInst) == platform::kCrSuccess) {
      parentId = LowerCase(NodeId(parent));
    }
    ParentRecord& record = records[taken];
    record = ParentRecord{};
    if (!FitsField(record.idTail, tail)) continue;
    StoreField(record.idTail, tail);
    if (FitsField(record.parentId, parentId)) StoreField(record.parentId, parentId);
    record.devInst = info.devInst;
    record.parentDevInst = parent;
    ++taken;
  }
  if (count) *count = taken;
  return 1;
}

// Gives each entry whose path contains a record's id tail that record's parent
// id and device nodes; a later match overwrites an earlier one. A parent id
// that does not fit the entry is not stored cut: a cut id could equal another
// device's.
void MatchParents(StorageDeviceEntry* entries, int count, const ParentRecord* records,
                  int recordCount) {
  for (int e = 0; e < count; ++e) {
    StorageDeviceEntry& entry = entries[e];
    for (int r = 0; r < recordCount; ++r) {
      const ParentRecord& record = records[r];
      const std::string_view parentId(record.parentId, ::strnlen(record.parentId, sizeof record.parentId));
      if (record.idTail[0] == '\0' || !FitsField(entry.parentId, parentId)) continue;
      if (!ContainsText(DevicePath(entry), record.idTail)) continue;
      StoreField(entry.parentId, parentId);
      entry.devInst = record.devInst;
      entry.parentDevInst = record.parentDevInst;
    }
  }
}

void AppendLetter(char (&letters)[kMaxEntryLetters + 1], char letter) {
  const size_t used = ::strnlen(letters, sizeof letters);
  if (used < kMaxEntryLetters) letters[used] = letter;
}

// Which bridge port the volume at `volumePath` lives on.
int PortOfVolume(const StorageDeviceEntry& entry, const char* volumePath) {
  if (entry.port0Present && entry.port1Present) {
    constexpr std::array<uint8_t, 2> kDevices = {kAtaDeviceMaster, kAtaDeviceSlave};
    for (int port = 0; port < 2; ++port) {
      std::array<uint8_t, kIdentifyDataSize> identify{};
      // Both are sent whatever the IDENTIFY answered.
      const int identified =
          BridgeIdentifyDevice(volumePath, kDevices[port], kAtaIdentifyDevice, identify.data());
      const int present = SmartReturnStatus(volumePath);
      if (identified && present &&
          std::memcmp(identify.data(), entry.identify[port], identify.size()) == 0) {
        return port;
      }
    }
    return 0;
  }
  if (entry.port1Present && !entry.port0Present) return 1;
  return 0;
}

void ClearLetters(StorageDeviceEntry* entries, int count) {
  for (int e = 0; e < count; ++e) {
    std::memset(entries[e].port0Letters, 0, sizeof entries[e].port0Letters);
    std::memset(entries[e].port1Letters, 0, sizeof entries[e].port1Letters);
  }
}

void LetterPass(StorageDeviceEntry* entries, int count, uint32_t drives, char windowsLetter) {
  for (int bit = 0; bit < 26; ++bit) {
    if (!(drives & (1u << bit))) continue;
    const char letter = static_cast<char>('A' + bit);
    if (letter == windowsLetter) continue;
    const char root[] = {letter, ':', '\\', '\0'};
    if (platform::GetDriveType(root) == platform::kDriveRemote) continue;
    char volumePath[8];
    std::snprintf(volumePath, sizeof volumePath, "\\\\.\\%c:", letter);
    platform::StorageDeviceNumber number{};
    if (!GetStorageDeviceNumber(volumePath, &number)) continue;
    for (int e = 0; e < count; ++e) {
      StorageDeviceEntry& entry = entries[e];
      // An entry whose number was never read (a CD-ROM entry, a failed
      // query) holds type 0 and belongs to no volume.
      if (entry.deviceNumber.DeviceType == 0) continue;
      if (entry.deviceNumber.DeviceType != number.DeviceType ||
          entry.deviceNumber.DeviceNumber != number.DeviceNumber) {
        continue;
      }
      if (PortOfVolume(entry, volumePath) == 1) {
        AppendLetter(entry.port1Letters, letter);
      } else {
        AppendLetter(entry.port0Letters, letter);
      }
    }
  }
}

}  // namespace

int ContainsText(const char* text, const char* part) {
  if (!text || !part) return 0;
  const std::string_view haystack(text);
  const std::string_view needle(part);
  if (needle.size() > haystack.size()) return 0;
  for (size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
    if (StartsWithNoCase(haystack.substr(i), needle)) return 1;
  }
  return 0;
}

int ReadBridgeRegisterRec(const StorageDeviceEntry& entry, uint16_t address, uint8_t* buffer,
                          uint32_t length) {
  return ReadBridgeRegister(DevicePath(entry), address, buffer, length);
}

int ProbePortsAndIdentify(StorageDeviceEntry& entry) {
  const char* path = DevicePath(entry);
  uint8_t ports = 0;
  if (!ReadBridgeRegisterRec(entry, kPortRegister, &ports, 1)) return 0;
  struct PortBits {
    uint8_t drive;
    uint8_t atapi;
    uint8_t device;
    int32_t StorageDeviceEntry::*present;
    int32_t StorageDeviceEntry::*isAtapi;
  };
  constexpr std::array<PortBits, 2> kPorts = {{
      {kPort0Drive, kPort0Atapi, kAtaDeviceMaster, &StorageDeviceEntry::port0Present,
       &StorageDeviceEntry::port0Atapi},
      {kPort1Drive, kPort1Atapi, kAtaDeviceSlave, &StorageDeviceEntry::port1Present,
       &StorageDeviceEntry::port1Atapi},
  }};
  int result = 0;
  for (size_t port = 0; port < kPorts.size(); ++port) {
    const PortBits& bits = kPorts[port];
    if (!(ports & bits.drive)) continue;
    entry.*bits.present = 1;
    entry.*bits.isAtapi = (ports & bits.atapi) ? 1 : 0;
    AtaTaskRecord task;
    task.direction = 1;
    task.transferLength = kIdentifyDataSize;
    task.device = bits.device;
    task.command = entry.*bits.isAtapi ? kAtaIdentifyPacketDevice : kAtaIdentifyDevice;
    result = BridgeAtaTask(path, task, entry.identify[port]);
  }
  return result;
}

int IdentifyDevice(const char* devicePath, uint8_t* buffer, int useSat) {
  if (useSat) return SatIdentifyDevice(devicePath, buffer);
  uint8_t ports = 0;
  if (!ReadBridgeRegister(devicePath, kPortRegister, &ports, 1)) ports = 0;
  int result = 0;
  if (ports & kPort0Drive) {
    result = BridgeIdentifyDevice(devicePath, kAtaDeviceMaster,
                                  (ports & kPort0Atapi) ? kAtaIdentifyPacketDevice : kAtaIdentifyDevice,
                                  buffer);
  }
  if (ports & kPort1Drive) {
    result = BridgeIdentifyDevice(devicePath, kAtaDeviceSlave,
                                  (ports & kPort1Atapi) ? kAtaIdentifyPacketDevice : kAtaIdentifyDevice,
                                  buffer);
  }
  return result;
}

int CollectDiskParents(ParentRecord* records, int capacity, int* count) {
  return CollectParents(platform::kGuidDevClassDiskDrive, records, capacity, count);
}

int CollectCdromParents(ParentRecord* records, int capacity, int* count) {
  return CollectParents(platform::kGuidDevClassCdRom, records, capacity, count);
}

void AssignDriveLetters(StorageDeviceEntry* entries, int count) {
  if (!entries || count <= 0) return;
  char windows[260] = {};
  const uint32_t length = platform::GetWindowsDirectory(windows, sizeof windows);
  const char windowsLetter =
      length > 0 && length < sizeof windows
          ? static_cast<char>(std::toupper(static_cast<unsigned char>(windows[0])))
          : '\0';
  uint32_t drives = platform::GetLogicalDrives();
  for (int pass = 1;; ++pass) {
    ClearLetters(entries, count);
    LetterPass(entries, count, drives, windowsLetter);
    const uint32_t now = platform::GetLogicalDrives();
    if (now == drives) return;
    if (pass == kMaxDriveLetterPasses) {
      platform::DebugTrace("AssignDriveLetters: drive set still changing after %d passes\n", pass);
      return;
    }
    drives = now;
  }
}

int EnumerateStorageDevices(StorageDeviceEntry* entries, int* count) {
  if (!count) return 0;
  platform::NamedMutexLock lock(UsbAccessMutex());
  const int capacity = entries && *count > 0 ? *count : 0;
  for (int e = 0; e < capacity; ++e) entries[e] = StorageDeviceEntry{};

  DevInfoList set = PresentInterfaces(platform::kGuidDevInterfaceDisk);
  if (!set) return 0;
  int taken = 0;
  for (uint32_t index = 0; taken < capacity; ++index) {
    StorageDeviceEntry& entry = entries[taken];
    const DetailRead read =
        ReadInterfaceDetail(set.get(), platform::kGuidDevInterfaceDisk, index, &entry.detail);
    if (read == DetailRead::kTooLong) {
      platform::DebugTrace("EnumerateStorageDevices: interface %u path too long, skipped\n", index);
      continue;
    }
    if (read == DetailRead::kFailed) {
      entry = StorageDeviceEntry{};
      break;
    }
    const char* path = DevicePath(entry);
    if (ContainsText(path, "usbstor")) {
      entry.isScsi = 0;
    } else if (ContainsText(path, "scsi")) {
      entry.isScsi = 1;
    } else {
      entry = StorageDeviceEntry{};
      continue;
    }
    // What the probe learned is in the entry; a bridge that does not answer
    // is listed all the same.
    (void)ProbePortsAndIdentify(entry);
    if (!GetStorageDeviceNumber(path, &entry.deviceNumber)) entry.deviceNumber = {};
    ++taken;
  }
  *count = taken;
  set.reset();

  if (taken > 0) {
    std::vector<ParentRecord> parents(kMaxParentRecords);
    int parentCount = 0;
    CollectDiskParents(parents.data(), kMaxParentRecords, &parentCount);
    MatchParents(entries, taken, parents.data(), parentCount);
    AssignDriveLetters(entries, taken);
  }
  return 1;
}

int EnumerateCdromDevices(StorageDeviceEntry* entries, int capacity, int firstFree, int* count) {
  if (!entries || !count || firstFree < 0) return 0;
  DevInfoList set = PresentInterfaces(platform::kGuidDevInterfaceCdRom);
  if (!set) return 0;
  int found = 0;
  for (uint32_t index = 0; firstFree + found < capacity; ++index) {
    InterfaceDetailRecord detail{};
    const DetailRead read =
        ReadInterfaceDetail(set.get(), platform::kGuidDevInterfaceCdRom, index, &detail);
    if (read == DetailRead::kTooLong) continue;
    if (read == DetailRead::kFailed) break;
    if (!ContainsText(detail.DevicePath, "usbstor")) continue;
    StorageDeviceEntry& entry = entries[firstFree + found];
    entry = StorageDeviceEntry{};
    entry.detail = detail;
    (void)SendVendorKeyCommand(DevicePath(entry));  // one that refuses is listed all the same
    ++found;
  }
  set.reset();
  *count += found;
  if (found > 0) {
    const int all = firstFree + found;
    std::vector<ParentRecord> parents(kMaxParentRecords);
    int parentCount = 0;
    CollectCdromParents(parents.data(), kMaxParentRecords, &parentCount);
    MatchParents(entries, all, parents.data(), parentCount);
    // Once over every entry, disks included: the letter fields are emptied
    // first, so no disk collects its letters twice.
    AssignDriveLetters(entries, all);
  }
  return 1;
}

}  // namespace bridge
