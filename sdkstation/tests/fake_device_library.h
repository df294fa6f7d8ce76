// A device library in the test's hands: products with a path, a hub
// location, a serial and a disk, every call logged by name, and failures
// injected per entry (always, or the first n calls). A reset takes the
// product off its path and brings it back under a new one, as a real
// re-enumeration does. It fills the process's DeviceSdkTable slots and
// empties them again when it goes.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sdkstation/device_sdk.h"

namespace sdkstation::testing {

struct FakeProduct {
  std::string serial = "0042";
  int hubPort = 1;
  std::string rootHub = "ROOT_HUB30#1";
  int runningMode = qvfw::kModeFirmware;
  int usbSpeed = qvfw::kSpeedGen1;
  bool qvs87x = false;
  int tableIndex = -1;  // -1: no setting-table entry
  bool ufs = false;               // answers the UFS state query
  uint8_t ufsState = qvfw::kUfsEnabled;
  bool ufsEnablesAtOnce = false;   // the enable command enables the unit
  bool ufsEnablesOnReset = false;  // ... or the reset after it does
  int writeProtected = 0;
  char driveLetter = 'E';
  bool comesBack = true;  // a reset that leaves it off the bus
  // Identity as read from the system and the flash.
  uint16_t vid = 0x13FE, pid = 0x6300;
  std::string manufacturer = "Maker", product = "Disk";
  float readSpeed = 120, writeSpeed = 80;
  int resets = 0;
  bool present = true;
  std::string Path(size_t index) const { return "\\\\?\\usbstor#dev" + std::to_string(index) + "&r" + std::to_string(resets); }
};

class FakeDeviceLibrary {
 public:
  FakeDeviceLibrary();
  ~FakeDeviceLibrary();
  FakeDeviceLibrary(const FakeDeviceLibrary&) = delete;
  FakeDeviceLibrary& operator=(const FakeDeviceLibrary&) = delete;

  // Product i answers to Path(i) of its present generation.
  size_t Add(FakeProduct product);
  std::string PathOf(size_t i);
  FakeProduct Product(size_t i);

  // `entry` fails its next `times` calls (-1: every call).
  void Fail(const std::string& entry, int times = -1);
  // The names of the calls made, in order, for one product (by index) or all.
  std::vector<std::string> Calls(size_t product);
  std::vector<std::string> AllCalls();
  int CallCount(const std::string& entry);
  // Set-device-path calls: table index -> path.
  std::map<int, std::string> TablePaths();

  // ---- Used by the entries.
  static FakeDeviceLibrary& Current();
  std::mutex mutex;
  // Logs the call; false when the entry is to fail. `index` is the product
  // the path names, or -1 (an unknown path fails).
  bool Enter(const char* entry, const char* path, int* index);
  std::vector<FakeProduct> products;
  std::map<std::string, int> failures;
  std::vector<std::pair<int, std::string>> calls;
  std::map<int, std::string> tablePaths;
};

}  // namespace sdkstation::testing
