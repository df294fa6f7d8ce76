#include "qvfw/device_registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <unordered_map>

#include "bridge/port_table.h"
#include "bridge/storage_enumeration.h"
#include "bridge/usb_tree.h"
#include "platform/debug.h"
#include "qvfw/library_state.h"
#include "qvfw/qvfw_api.h"

namespace qvfw {

std::string FoldPath(std::string_view path) {
  std::string folded(path);
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

std::vector<ListedDevice> ListDevices(bool* overfull) {
  auto entries = std::make_unique<bridge::StorageDeviceEntry[]>(bridge::kMaxStorageEntries);
  auto table = std::make_unique<bridge::PortTable>();
  std::vector<ListedDevice> listed;
  // The scan holds the USB access mutex itself; the walk runs outside it, as
  // every station's walk does. Held across the walk as well it would only
  // keep other threads' scans waiting: the entries are this call's own, and
  // no lock stops a product re-enumerating between the scan and the walk.
  int count = bridge::kMaxStorageEntries;
  if (!bridge::EnumerateStorageDevices(entries.get(), &count)) count = 0;
  bridge::UsbWalk walk{*table, entries.get(), count, {}, nullptr};
  walk.quiet = true;
  (void)bridge::EnumerateRootHubs(walk);  // what counts is the slots it filled
  if (walk.portIndexExceeded) platform::OutputDebugString(bridge::kPortIndexExceeded);
  if (overfull) *overfull = walk.portIndexExceeded;
  for (const bridge::PortRecord& slot : table->records) {
    if (listed.size() == static_cast<size_t>(kMaxDevices)) break;
    if (!slot.inUse) continue;
    const int e = bridge::FindStorageEntryOfPort(slot, entries.get(), count);
    if (e < 0) continue;
    const bridge::StorageDeviceEntry& entry = entries[static_cast<size_t>(e)];
    const char* path = bridge::DevicePath(entry);
    const size_t length = ::strnlen(path, sizeof entry.detail.DevicePath);
    if (length == 0 || length >= kPathCapacity) continue;  // never handed out cut
    ListedDevice device;
    device.path.assign(path, length);
    device.hubName = std::string(bridge::FieldText(slot.hubName));
    device.hubPort = slot.hubPort;
    device.uas = entry.isScsi != 0;
    device.diskNode = entry.devInst;
    device.usbNode = entry.parentDevInst;
    listed.push_back(std::move(device));
  }
  LibraryState& state = State();
  std::lock_guard lock(state.mutex);
  state.devices.clear();
  for (const ListedDevice& device : listed) state.devices[FoldPath(device.path)] = device;
  return listed;
}

std::optional<ListedDevice> FindDevice(const char* path) {
  if (path == nullptr) return std::nullopt;
  const std::string key = FoldPath(path);
  LibraryState& state = State();
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt == 1) ListDevices();
    std::lock_guard lock(state.mutex);
    const auto found = state.devices.find(key);
    if (found != state.devices.end()) return found->second;
  }
  return std::nullopt;
}

std::optional<SystemView> ReadSystemView(const ListedDevice& device) {
  auto table = std::make_unique<bridge::PortTable>();
  bridge::PortRecord& record = table->records[0];
  if (device.hubPort <= 0 ||
      !bridge::GetOnePortData(*table, device.hubName.c_str(), static_cast<uint32_t>(device.hubPort),
                              record, 1)) {
    return std::nullopt;
  }
  SystemView view;
  view.vid = record.vid;
  view.pid = record.pid;
  view.manufacturer = bridge::FieldText(record.manufacturer);
  view.product = bridge::FieldText(record.product);
  view.serial = bridge::FieldText(record.usbSerial);
  return view;
}

void ForgetDevice(const std::string& path) {
  LibraryState& state = State();
  std::lock_guard lock(state.mutex);
  state.devices.erase(FoldPath(path));
}

std::string HubLocation(const ListedDevice& device) {
  return FoldPath(device.hubName) + "#" + std::to_string(device.hubPort);
}

std::unique_lock<std::mutex> LockDevice(const std::string& path) {
  std::shared_ptr<std::mutex> device;
  {
    LibraryState& state = State();
    std::lock_guard lock(state.mutex);
    std::shared_ptr<std::mutex>& slot = state.deviceLocks[FoldPath(path)];
    if (!slot) slot = std::make_shared<std::mutex>();
    device = slot;
  }
  // The map keeps every lock it made for the life of the process, so the
  // mutex outlives this holder.
  return std::unique_lock<std::mutex>(*device);
}

}  // namespace qvfw
