#include "bridge/usb_tree.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "bridge/chip_identification.h"
#include "platform/debug.h"
#include "platform/device_setup.h"
#include "platform/message_box.h"
#include "platform/os_version.h"
#include "platform/text.h"

namespace bridge {
namespace {

using platform::Handle;

constexpr uint32_t kMbTaskModal = 0x2000;
constexpr uint32_t kErrorMoreData = 234;

// String descriptor requests.
constexpr uint8_t kRequestDeviceToHost = 0x80;
constexpr uint8_t kGetDescriptor = 6;
constexpr uint16_t kStringDescriptorType = 0x03;
constexpr uint16_t kLanguageTableLength = 4;
constexpr uint16_t kStringRequestLength = 255;

// Bounds of what a hub may ask us to allocate or a tree walk may visit.
constexpr uint32_t kMaxDriverKeyRecord = 4096;
constexpr uint32_t kMaxNodeInformation = 4096;
constexpr uint32_t kMaxTreeSteps = 1u << 16;
constexpr uint32_t kDeviceIdBufferSize = 512;

constexpr size_t kNameRecordHeader = 2 * sizeof(uint32_t);  // port number, length

struct DevInfoDeleter {
  void operator()(platform::DeviceInfoSet* set) const { platform::DestroyDeviceInfoList(set); }
};
using DevInfoList = std::unique_ptr<platform::DeviceInfoSet, DevInfoDeleter>;

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// UTF-16LE characters from `bytes`, up to the first NUL, converted to 8-bit.
std::string WideBytesToAnsi(const uint8_t* bytes, size_t byteCount) {
  std::u16string wide;
  for (size_t i = 0; i + 1 < byteCount; i += 2) {
    const char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (c == u'\0') break;
    wide.push_back(c);
  }
  return platform::WideToAnsi(wide);
}

void StoreText(char* text, size_t textSize, std::string_view value) {
  if (!text || textSize == 0) return;
  std::memset(text, 0, textSize);
  const size_t n = value.size() < textSize - 1 ? value.size() : textSize - 1;
  if (n != 0) std::memcpy(text, value.data(), n);
}

bool IsRootHubPath(const char* path) {
  for (std::string_view name : kRootHubNames) {
    if (ContainsText(path, std::string(name).c_str())) return true;
  }
  return false;
}

bool IsWindows8OrLater() {
  platform::OsVersionInfo info{};
  info.dwOSVersionInfoSize = platform::kOsVersionInfoExSize;
  if (!platform::GetVersionEx(&info)) return false;
  return info.dwMajorVersion > 6 || (info.dwMajorVersion == 6 && info.dwMinorVersion >= 2);
}

// The node information; when the platform asks for more room the record is
// read again into a buffer of that size and its first 76 bytes are used.
bool ReadNodeInformation(Handle hub, platform::UsbNodeInformation* info) {
  *info = platform::UsbNodeInformation{};
  uint32_t returned = 0;
  if (platform::DeviceIoControl(hub, platform::kIoctlUsbGetNodeInformation, info, sizeof *info,
                                info, sizeof *info, &returned)) {
    return true;
  }
  const uint32_t error = platform::GetLastError();
  if ((error != platform::kErrorInsufficientBuffer && error != kErrorMoreData) ||
      returned <= sizeof *info || returned > kMaxNodeInformation) {
    return false;
  }
  std::vector<uint8_t> buffer(returned, 0);
  uint32_t again = 0;
  if (!platform::DeviceIoControl(hub, platform::kIoctlUsbGetNodeInformation, buffer.data(), returned,
                                 buffer.data(), returned, &again) ||
      again < sizeof *info) {
    return false;
  }
  std::memcpy(info, buffer.data(), sizeof *info);
  return true;
}

bool ReadConnection(Handle hub, uint32_t port, platform::UsbNodeConnectionInformation* info) {
  *info = platform::UsbNodeConnectionInformation{};
  info->ConnectionIndex = port;
  uint32_t returned = 0;
  return platform::DeviceIoControl(hub, platform::kIoctlUsbGetNodeConnectionInformation, info,
                                   sizeof *info, info, sizeof *info, &returned);
}

// The first query of a connection-name record (port, the length the whole
// record needs, the name) for `port`; that length, none when it fails.
template <typename Record>
std::optional<uint32_t> QueryNameRecord(Handle hub, uint32_t code, uint32_t port, Record* record,
                                        uint32_t* returned) {
  *record = Record{};
  record->ConnectionIndex = port;
  if (!platform::DeviceIoControl(hub, code, record, sizeof *record, record, sizeof *record,
                                 returned)) {
    return std::nullopt;
  }
  uint32_t actual = 0;
  std::memcpy(&actual, reinterpret_cast<const uint8_t*>(record) + sizeof(uint32_t), sizeof actual);
  return actual;
}

// The name in a record of which `got` bytes came back and the whole would
// take `actual`; none when not one character came.
std::optional<std::string> NameInRecord(const uint8_t* record, uint32_t actual, uint32_t got) {
  const uint32_t limit = actual < got ? actual : got;
  if (limit <= kNameRecordHeader) return std::nullopt;
  return WideBytesToAnsi(record + kNameRecordHeader, limit - kNameRecordHeader);
}

// "\\.\" and the name of the hub on `port`; none when it cannot be had whole.
std::optional<std::string> DownstreamHubName(Handle hub, uint32_t port) {
  platform::UsbNodeConnectionName record;
  uint32_t returned = 0;
  const std::optional<uint32_t> actual =
      QueryNameRecord(hub, platform::kIoctlUsbGetNodeConnectionName, port, &record, &returned);
  // A name longer than the record comes back cut; a cut name opens nothing.
  if (!actual || *actual > sizeof record) return std::nullopt;
  const std::optional<std::string> name =
      NameInRecord(reinterpret_cast<const uint8_t*>(&record), *actual, returned);
  if (!name || name->empty()) return std::nullopt;
  std::string path = "\\\\.\\" + *name;
  if (path.size() >= kRecordPathSize) return std::nullopt;
  return path;
}

// The lowest slot not in use; kPortCount + 1 when all are.
int LowestFreeSlot(const PortTable& table) {
  int n = 1;
  while (n <= kPortCount && table.records[static_cast<size_t>(n - 1)].inUse) ++n;
  return n;
}

void WalkDownstreamHub(UsbWalk& walk, Handle hub, uint32_t port, int depth, int* slotNumber) {
  if (depth + 1 > kMaxHubDepth) {
    platform::DebugTrace("GetPortData: hub on port %u below depth %d not walked\n", port, depth);
    return;
  }
  const std::optional<std::string> name = DownstreamHubName(hub, port);
  if (!name) {
    platform::DebugTrace("GetPortData: no usable name for the hub on port %u\n", port);
    return;
  }
  platform::ScopedDevice child(name->c_str(), platform::kAccessWrite, platform::kShareWrite);
  if (!child.valid()) return;
  platform::UsbNodeInformation info{};
  if (!ReadNodeInformation(child.get(), &info)) return;
  GetPortData(walk, child.get(), info.HubDescriptor.bNumberOfPorts, depth + 1, name->c_str(),
              slotNumber);
}

// Decides whether a filled slot stays: the "?" serial, the power-control
// device and a bridge of unknown chip give it back.
void KeepOrGiveBack(UsbWalk& walk, PortRecord& slot, const std::string& instanceId) {
  const std::string_view serial = FieldText(slot.usbSerial);
  if (serial == "?") {
    slot = PortRecord{};
    return;
  }
  if (walk.options.EnEPPTypeC != 0 && serial.substr(0, kEppSerialPrefix.size()) == kEppSerialPrefix) {
    if (walk.eppDevice) *walk.eppDevice = slot;
    slot = PortRecord{};
    return;
  }
  for (int e = 0; walk.entries && e < walk.entryCount; ++e) {
    const StorageDeviceEntry& entry = walk.entries[e];
    if (!InstanceIdMatches(instanceId, entry.parentId)) continue;
    if (IdentifyChipType(DevicePath(entry)) == kChipTypeNone) slot = PortRecord{};
    return;
  }
}

std::optional<std::string> DriverKeyOf(platform::DevInst node) {
  std::array<char, 256> key{};
  uint32_t size = static_cast<uint32_t>(key.size());
  uint32_t result = platform::GetDriverKey(node, key.data(), &size);
  if (result == platform::kCrSuccess) return std::string(key.data(), ::strnlen(key.data(), key.size()));
  if (result != platform::kCrBufferSmall || size == 0 || size > kMaxDriverKeyRecord) return std::nullopt;
  std::vector<char> longer(size, '\0');
  result = platform::GetDriverKey(node, longer.data(), &size);
  if (result != platform::kCrSuccess) return std::nullopt;
  return std::string(longer.data(), ::strnlen(longer.data(), longer.size()));
}

void ShowUsbInformationFailure() {
  platform::MessageBox("Failed to acquire USB information.", "Error",
                       platform::kMbOk | platform::kMbIconError | kMbTaskModal);
}

}  // namespace

bool InstanceIdMatches(std::string_view instanceId, const char* parentId) {
  if (instanceId.empty() || !parentId || parentId[0] == '\0') return false;
  return EqualNoCase(instanceId, parentId);
}

std::optional<std::string> ReadDriverKeyName(Handle hub, uint32_t port) {
  platform::UsbNodeConnectionDriverKeyName first;
  uint32_t returned = 0;
  const std::optional<uint32_t> actual = QueryNameRecord(
      hub, platform::kIoctlUsbGetNodeConnectionDriverKeyName, port, &first, &returned);
  if (!actual) return std::nullopt;
  std::optional<std::string> name;
  if (*actual > sizeof first) {
    if (*actual > kMaxDriverKeyRecord) return std::nullopt;
    std::vector<uint8_t> record(*actual, 0);
    std::memcpy(record.data(), &port, sizeof port);
    uint32_t again = 0;
    if (!platform::DeviceIoControl(hub, platform::kIoctlUsbGetNodeConnectionDriverKeyName,
                                   record.data(), *actual, record.data(), *actual, &again)) {
      return std::nullopt;
    }
    name = NameInRecord(record.data(), *actual, again);
  } else {
    name = NameInRecord(reinterpret_cast<const uint8_t*>(&first), *actual, returned);
  }
  if (!name || name->empty()) return std::nullopt;
  return name;
}

std::optional<std::string> FindDeviceIdByDriverKey(const char* driverKey) {
  if (!driverKey || driverKey[0] == '\0') return std::nullopt;
  platform::DevInst node = 0;
  if (platform::LocateRootNode(&node) != platform::kCrSuccess || node == 0) return std::nullopt;
  for (uint32_t steps = 0; steps < kMaxTreeSteps; ++steps) {
    const std::optional<std::string> key = DriverKeyOf(node);
    if (key && EqualNoCase(*key, driverKey)) {
      std::array<char, kDeviceIdBufferSize> id{};
      if (platform::GetDeviceId(node, id.data(), kDeviceIdBufferSize) != platform::kCrSuccess) {
        return std::nullopt;
      }
      return std::string(id.data(), ::strnlen(id.data(), id.size()));
    }
    platform::DevInst next = 0;
    if (platform::GetChild(&next, node) == platform::kCrSuccess && next != 0) {
      node = next;
      continue;
    }
    // No child: the next sibling, else that of the first ancestor with one.
    for (;; ++steps) {
      if (steps >= kMaxTreeSteps) return std::nullopt;
      if (platform::GetSibling(&next, node) == platform::kCrSuccess && next != 0) break;
      platform::DevInst parent = 0;
      if (platform::GetParent(&parent, node) != platform::kCrSuccess || parent == 0) {
        return std::nullopt;
      }
      node = parent;
    }
    node = next;
  }
  return std::nullopt;
}

uint16_t GetStringDescriptorText(Handle hub, uint32_t port, uint16_t languageId, uint8_t index,
                                 char* text, size_t textSize) {
  StoreText(text, textSize, {});
  auto ask = [&](uint8_t descriptorIndex, uint16_t wIndex, uint16_t length,
                 std::vector<uint8_t>* descriptor) {
    platform::UsbDescriptorRequest request{};
    request.ConnectionIndex = port;
    request.SetupPacket.bmRequest = kRequestDeviceToHost;
    request.SetupPacket.bRequest = kGetDescriptor;
    request.SetupPacket.wValue = static_cast<uint16_t>(kStringDescriptorType << 8 | descriptorIndex);
    request.SetupPacket.wIndex = wIndex;
    request.SetupPacket.wLength = length;
    uint32_t returned = 0;
    if (!platform::DeviceIoControl(hub, platform::kIoctlUsbGetDescriptorFromNodeConnection, &request,
                                   sizeof request, &request, sizeof request, &returned) ||
        returned < platform::kUsbDescriptorRequestHeader + 2) {
      return false;
    }
    // Bounded by what came back, what the descriptor says and what we asked.
    size_t bytes = returned - platform::kUsbDescriptorRequestHeader;
    if (bytes > sizeof request.Data) bytes = sizeof request.Data;
    if (request.Data[0] < bytes) bytes = request.Data[0];
    if (length < bytes) bytes = length;
    if (bytes < 2 || request.Data[1] != kStringDescriptorType) return false;
    descriptor->assign(request.Data, request.Data + bytes);
    return true;
  };
  std::vector<uint8_t> descriptor;
  if (languageId == 0 && ask(0, 0, kLanguageTableLength, &descriptor) && descriptor.size() >= 4) {
    languageId = static_cast<uint16_t>(descriptor[2] | (descriptor[3] << 8));
  }
  if (ask(index, languageId, kStringRequestLength, &descriptor)) {
    StoreText(text, textSize, WideBytesToAnsi(descriptor.data() + 2, descriptor.size() - 2));
  }
  return languageId;
}

uint16_t DisplayStringDescriptor(Handle hub, uint32_t port, uint16_t languageId, uint8_t index) {
  char text[kRecordTextSize];
  languageId = GetStringDescriptorText(hub, port, languageId, index, text, sizeof text);
  platform::DebugTrace("port %u string %u (language %04X): %s\n", port, index, languageId, text);
  return languageId;
}

uint16_t DisplayDeviceDescriptor(PortTable& table, Handle hub, uint32_t port, int slotNumber,
                                 uint16_t languageId,
                                 const platform::UsbDeviceDescriptor& descriptor) {
  PortRecord* slot = table.slot(slotNumber);
  if (!slot) return languageId;
  // Read first, then stored at once: a re-find runs while the window reads
  // the slot, which must never see a string half read.
  char manufacturer[kRecordTextSize];
  char product[kRecordTextSize];
  char serial[kRecordTextSize];
  languageId = GetStringDescriptorText(hub, port, languageId, descriptor.iManufacturer, manufacturer,
                                       sizeof manufacturer);
  languageId = GetStringDescriptorText(hub, port, languageId, descriptor.iProduct, product, sizeof product);
  languageId = GetStringDescriptorText(hub, port, languageId, descriptor.iSerialNumber, serial, sizeof serial);
  {
    std::lock_guard lock(slot->identityLock);
    slot->vid = descriptor.idVendor;
    slot->pid = descriptor.idProduct;
    std::memcpy(slot->manufacturer, manufacturer, sizeof manufacturer);
    std::memcpy(slot->product, product, sizeof product);
    std::memcpy(slot->usbSerial, serial, sizeof serial);
  }
  platform::DebugTrace("slot %d: VID %04X PID %04X \"%s\" \"%s\" \"%s\"\n", slotNumber, descriptor.idVendor,
                       descriptor.idProduct, manufacturer, product, serial);
  return languageId;
}

void GetPortData(UsbWalk& walk, Handle hub, uint32_t portCount, int depth, const char* hubName,
                 int* slotNumber) {
  for (uint32_t port = 1; port <= portCount; ++port) {
    platform::UsbNodeConnectionInformation info{};
    if (!ReadConnection(hub, port, &info) || info.ConnectionStatus != platform::kUsbDeviceConnected) {
      continue;
    }
    const int n = LowestFreeSlot(walk.table);
    if (n > kPortCount) {
      walk.portIndexExceeded = true;
      if (!walk.quiet) platform::MessageBox(kPortIndexExceeded, "Error", platform::kMbOk | platform::kMbIconError);
      return;
    }
    if (slotNumber) *slotNumber = n;
    if (info.DeviceIsHub) {
      WalkDownstreamHub(walk, hub, port, depth, slotNumber);
      continue;
    }
    const std::optional<std::string> driverKey = ReadDriverKeyName(hub, port);
    if (!driverKey) continue;
    const std::string instanceId = LowerCase(FindDeviceIdByDriverKey(driverKey->c_str()).value_or(""));
    PortRecord& slot = *walk.table.slot(n);
    SetFieldText(slot.driverKey, *driverKey);
    SetFieldText(slot.instanceId, instanceId);
    slot.inUse = 1;
    slot.hubHandle = hub;
    SetFieldText(slot.hubName, hubName ? hubName : "");
    slot.walkIndex = n;
    slot.hubPort = static_cast<int32_t>(port);
    DisplayDeviceDescriptor(walk.table, hub, port, n, 0, info.DeviceDescriptor);
    KeepOrGiveBack(walk, slot, instanceId);
  }
}

uint32_t OpenRootHub(UsbWalk& walk, const char* hubPath, int* slotNumber) {
  platform::ScopedDevice hub(hubPath, platform::kAccessWrite, platform::kShareWrite);
  auto failure = [] {
    const uint32_t error = platform::GetLastError();
    return error != platform::kErrorSuccess ? error : platform::kErrorGenFailure;
  };
  if (!hub.valid()) return failure();
  platform::UsbNodeInformation info{};
  if (!ReadNodeInformation(hub.get(), &info)) return failure();
  GetPortData(walk, hub.get(), info.HubDescriptor.bNumberOfPorts, 0, hubPath, slotNumber);
  return 0;
}

int EnumerateRootHubs(UsbWalk& walk) {
  DevInfoList set(platform::GetClassDevices(
      platform::kGuidDevInterfaceUsbHub, platform::kDigcfPresent | platform::kDigcfDeviceInterface));
  if (!set) return 0;
  int slotNumber = 0;
  int handled = 0;
  std::vector<uint32_t> buffer(kHubInterfaceDetailSize / sizeof(uint32_t), 0);
  for (uint32_t index = 0; index < kMaxHubInterfaces; ++index) {
    platform::DeviceInterfaceData data{};
    data.cbSize = sizeof data;
    if (!platform::EnumDeviceInterfaces(set.get(), platform::kGuidDevInterfaceUsbHub, index, &data)) {
      break;
    }
    std::fill(buffer.begin(), buffer.end(), 0u);
    auto* detail = reinterpret_cast<platform::DeviceInterfaceDetail*>(buffer.data());
    detail->cbSize = platform::kDeviceInterfaceDetailSize;
    uint32_t required = 0;
    if (!platform::GetDeviceInterfaceDetail(set.get(), &data, detail, kHubInterfaceDetailSize,
                                            &required, nullptr)) {
      if (platform::GetLastError() != platform::kErrorInsufficientBuffer) break;
      platform::DebugTrace("EnumerateRootHubs: hub interface %u path too long, skipped\n", index);
      continue;
    }
    ++handled;
    const char* pathBytes = reinterpret_cast<const char*>(buffer.data()) + sizeof(uint32_t);
    const std::string path(pathBytes, ::strnlen(pathBytes, kHubInterfaceDetailSize - sizeof(uint32_t)));
    // The hub name of a slot holds 255 characters; a cut path opens nothing.
    if (path.size() < kRecordPathSize && IsRootHubPath(path.c_str())) {
      // A hub that cannot be opened adds no slots; the walk goes on.
      (void)OpenRootHub(walk, path.c_str(), &slotNumber);
    }
    if (index == kMaxHubInterfaces - 1) {
      char text[96];
      std::snprintf(text, sizeof text, "Warning: Root device count exceeds maximum device count:%d.",
                    kMaxHubInterfaces);
      if (walk.quiet) platform::DebugTrace("%s\n", text);
      else platform::MessageBox(text, "WARNING", platform::kMbOk | platform::kMbIconWarning);
    }
  }
  return handled;
}

int GetOnePortData(PortTable& table, const char* hubName, uint32_t port, PortRecord& record,
                   int slotNumber) {
  platform::ScopedDevice hub(hubName, platform::kAccessWrite, platform::kShareWrite);
  if (!hub.valid()) return 0;
  platform::UsbNodeConnectionInformation info{};
  if (!ReadConnection(hub.get(), port, &info) ||
      info.ConnectionStatus != platform::kUsbDeviceConnected || info.DeviceIsHub) {
    return 0;
  }
  const std::optional<std::string> driverKey = ReadDriverKeyName(hub.get(), port);
  if (!driverKey) return 0;
  const std::optional<std::string> instanceId = FindDeviceIdByDriverKey(driverKey->c_str());
  if (instanceId) {
    SetFieldText(record.driverKey, *driverKey);
    SetFieldText(record.instanceId, LowerCase(*instanceId));
  } else {
    platform::DebugTrace(
        "Corwen in GetOnePortData: Error - deviceDesc = NULL driverKeyName=%s nCurrentIdx=%d.",
        driverKey->c_str(), slotNumber);
  }
  record.inUse = 1;
  record.hubHandle = hub.get();
  SetFieldText(record.hubName, hubName);
  DisplayDeviceDescriptor(table, hub.get(), port, slotNumber, 0, info.DeviceDescriptor);
  return 1;
}

int32_t GetPortSpeed(const char* hubName, uint32_t port) {
  platform::ScopedDevice hub(hubName, platform::kAccessWrite, platform::kShareWrite);
  int32_t code = kUsbSpeedUnknown;
  platform::UsbNodeConnectionInformationEx ex{};
  ex.ConnectionIndex = port;
  uint32_t returned = 0;
  if (hub.valid() && platform::DeviceIoControl(hub.get(), platform::kIoctlUsbGetNodeConnectionInformationEx,
                                               &ex, sizeof ex, &ex, sizeof ex, &returned)) {
    code = ex.Speed;
  } else {
    ShowUsbInformationFailure();
  }
  if (IsWindows8OrLater() || code == kUsbSpeedSuper) {
    platform::UsbNodeConnectionInformationExV2 v2{};
    v2.ConnectionIndex = port;
    v2.Length = sizeof v2;
    v2.SupportedUsbProtocols = platform::kUsbProtocol300;
    if (hub.valid() && platform::DeviceIoControl(hub.get(),
                                                 platform::kIoctlUsbGetNodeConnectionInformationExV2,
                                                 &v2, sizeof v2, &v2, sizeof v2, &returned)) {
      if (v2.Flags & platform::kUsbDeviceIsOperatingAtSuperSpeedPlusOrHigher) {
        code = kUsbSpeedSuperPlus;
      } else if (v2.Flags & platform::kUsbDeviceIsOperatingAtSuperSpeedOrHigher) {
        code = kUsbSpeedSuper;
      } else if (code == kUsbSpeedSuper) {
        code = kUsbSpeedHigh;
      }
      // Otherwise the first answer stands: a low- or full-speed device stays
      // so, and a failed first query stays unknown.
    } else if (code != kUsbSpeedSuper) {
      ShowUsbInformationFailure();
    }
  }
  return code;
}

int FindStorageEntryOfPort(const PortRecord& record, const StorageDeviceEntry* entries, int count) {
  if (!entries || !record.inUse) return -1;
  std::string id;
  const std::string_view key = FieldText(record.driverKey);
  if (!key.empty()) id = FindDeviceIdByDriverKey(std::string(key).c_str()).value_or("");
  // The stored id is good as it stands only when it was not cut.
  const std::string_view stored = FieldText(record.instanceId);
  if (id.empty() && stored.size() < sizeof record.instanceId - 1) id = stored;
  for (int e = 0; e < count; ++e) {
    if (InstanceIdMatches(id, entries[e].parentId)) return e;
  }
  return -1;
}

}  // namespace bridge
