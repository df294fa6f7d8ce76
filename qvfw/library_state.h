// The library's process-wide state: the location cache, the device locks,
// the CustomizedSettingTable, the preserved 87x identities and the settings
// handed over without a device. One mutex guards all of it; it is never held
// while a device is spoken to.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "qvfw/device_registry.h"
#include "qvfw/setting_table.h"
#include "qvfw/update_settings.h"

namespace qvfw {

struct LibraryState {
  std::mutex mutex;
  std::unordered_map<std::string, ListedDevice> devices;  // by folded path
  std::unordered_map<std::string, std::shared_ptr<std::mutex>> deviceLocks;
  std::array<SettingEntry, kSettingTableCapacity> settings;
  // Identities kept for a clone firmware write, by hub location ("hub#port"),
  // which a path change after the erase and reset does not touch.
  std::map<std::string, PreservedIdentity> preserved;
  std::string firmwareFile;
  bool cloneProduct = false;
};

LibraryState& State();

}  // namespace qvfw
