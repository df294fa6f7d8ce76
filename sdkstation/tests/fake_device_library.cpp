#include "sdkstation/tests/fake_device_library.h"

#include <cstring>

namespace sdkstation::testing {
namespace {

FakeDeviceLibrary* g_current = nullptr;

FakeDeviceLibrary& F() { return FakeDeviceLibrary::Current(); }

int CopyOut(const std::string& text, char* out, size_t capacity) {
  std::memset(out, 0, capacity);
  std::memcpy(out, text.data(), std::min(text.size(), capacity - 1));
  return 1;
}

// Calls on one product: logged, failed on request, then `body` under the
// library's lock with the product.
template <class Body>
int OnProduct(const char* entry, const char* path, Body body) {
  int index = -1;
  if (!F().Enter(entry, path, &index)) return 0;
  std::lock_guard lock(F().mutex);
  return body(F().products[static_cast<size_t>(index)]);
}

// A reset takes the product off its path; it comes back under the next.
int Reset(const char* entry, const char* path) {
  return OnProduct(entry, path, [](FakeProduct& p) {
    ++p.resets;
    p.present = p.comesBack;
    if (p.ufsEnablesOnReset) p.ufsState = qvfw::kUfsEnabled;
    return 1;
  });
}

// Entries whose effect the tests only read from the call log.
#define QV_PLAIN(name, ...) \
  sdk.name = [](const char* path, ##__VA_ARGS__) { return OnProduct(#name, path, [](FakeProduct&) { return 1; }); };

}  // namespace

FakeDeviceLibrary& FakeDeviceLibrary::Current() { return *g_current; }

bool FakeDeviceLibrary::Enter(const char* entry, const char* path, int* index) {
  std::lock_guard lock(mutex);
  *index = -1;
  for (size_t i = 0; i < products.size(); ++i)
    if (products[i].present && path && products[i].Path(i) == path) *index = static_cast<int>(i);
  calls.emplace_back(*index, entry);
  if (*index < 0) return false;
  auto failing = failures.find(entry);
  if (failing == failures.end() || failing->second == 0) return true;
  if (failing->second > 0) --failing->second;
  return false;
}

FakeDeviceLibrary::FakeDeviceLibrary() {
  g_current = this;
  DeviceSdkTable& sdk = DeviceSdk();
  sdk = DeviceSdkTable{};
  sdk.QV_GetDeviceList = [](char** list, int* count) {
    std::lock_guard lock(F().mutex);
    F().calls.emplace_back(-1, "QV_GetDeviceList");
    int n = 0;
    for (size_t i = 0; i < F().products.size() && n < qvfw::kMaxDevices; ++i)
      if (F().products[i].present) CopyOut(F().products[i].Path(i), list[n++], qvfw::kPathCapacity);
    *count = n;
    return 1;
  };
  sdk.QV_GetHubPortIndex = [](const char* path, int* port) {
    return OnProduct("QV_GetHubPortIndex", path, [port](FakeProduct& p) { *port = p.hubPort; return 1; });
  };
  sdk.QV_GetRootHubName = [](const char* path, char* name) {
    return OnProduct("QV_GetRootHubName", path,
                     [name](FakeProduct& p) { return CopyOut(p.rootHub, name, qvfw::kPathCapacity); });
  };
  sdk.QV_IsQVS87xSeries = [](const char* path) {
    return OnProduct("QV_IsQVS87xSeries", path, [](FakeProduct& p) { return p.qvs87x ? 1 : 0; });
  };
  sdk.QV_GetSNfromOS = [](const char* path, char* out) {
    return OnProduct("QV_GetSNfromOS", path, [out](FakeProduct& p) { return CopyOut(p.serial, out, qvfw::kTextCapacity); });
  };
  sdk.QV_GetSNfromFlash = [](const char* path, char* out) {
    return OnProduct("QV_GetSNfromFlash", path,
                     [out](FakeProduct& p) { return CopyOut(p.serial, out, qvfw::kTextCapacity); });
  };
  sdk.QV_GetVIDfromOS = [](const char* path, uint16_t* v) {
    return OnProduct("QV_GetVIDfromOS", path, [v](FakeProduct& p) { *v = p.vid; return 1; });
  };
  sdk.QV_GetPIDfromOS = [](const char* path, uint16_t* v) {
    return OnProduct("QV_GetPIDfromOS", path, [v](FakeProduct& p) { *v = p.pid; return 1; });
  };
  sdk.QV_GetManuStrfromOS = [](const char* path, char* out) {
    return OnProduct("QV_GetManuStrfromOS", path,
                     [out](FakeProduct& p) { return CopyOut(p.manufacturer, out, qvfw::kTextCapacity); });
  };
  sdk.QV_GetProdStrfromOS = [](const char* path, char* out) {
    return OnProduct("QV_GetProdStrfromOS", path,
                     [out](FakeProduct& p) { return CopyOut(p.product, out, qvfw::kTextCapacity); });
  };
  sdk.QV_GetVIDfromFlash = [](const char* path, uint16_t* v) {
    return OnProduct("QV_GetVIDfromFlash", path, [v](FakeProduct& p) { *v = p.vid; return 1; });
  };
  sdk.QV_GetPIDfromFlash = [](const char* path, uint16_t* v) {
    return OnProduct("QV_GetPIDfromFlash", path, [v](FakeProduct& p) { *v = p.pid; return 1; });
  };
  sdk.QV_GetManuStrfromFlash = [](const char* path, char* out) {
    return OnProduct("QV_GetManuStrfromFlash", path,
                     [out](FakeProduct& p) { return CopyOut(p.manufacturer, out, qvfw::kTextCapacity); });
  };
  sdk.QV_GetProdStrfromFlash = [](const char* path, char* out) {
    return OnProduct("QV_GetProdStrfromFlash", path,
                     [out](FakeProduct& p) { return CopyOut(p.product, out, qvfw::kTextCapacity); });
  };
  sdk.QV_GetDiskInfo = [](const char* path, uint8_t*) {
    return OnProduct("QV_GetDiskInfo", path, [](FakeProduct&) { return 0; });
  };
  sdk.QV_CheckLoadBinFileMatch = [](const char*, const char*) {
    std::lock_guard lock(F().mutex);
    F().calls.emplace_back(-1, "QV_CheckLoadBinFileMatch");
    return 1;
  };
  sdk.QV_GetCustomizedSettingTableIndex = [](const char* path) {
    int index = -1;
    if (!F().Enter("QV_GetCustomizedSettingTableIndex", path, &index)) return -1;
    std::lock_guard lock(F().mutex);
    return F().products[static_cast<size_t>(index)].tableIndex;
  };
  sdk.QV_SetDevicePath = [](int table, const char* path) {
    std::lock_guard lock(F().mutex);
    F().calls.emplace_back(-1, "QV_SetDevicePath");
    F().tablePaths[table] = path;
    return 1;
  };
  sdk.QV_ChipReset = [](const char* path) { return Reset("QV_ChipReset", path); };
  sdk.QV_ActiveFirmware = [](const char* path) { return Reset("QV_ActiveFirmware", path); };
  sdk.QV_GetUSBSpeed = [](const char* path, int* speed) {
    return OnProduct("QV_GetUSBSpeed", path, [speed](FakeProduct& p) { *speed = p.usbSpeed; return 1; });
  };
  sdk.QV_GetMappingLetter = [](const char* path, char* letter) {
    return OnProduct("QV_GetMappingLetter", path, [letter](FakeProduct& p) {
      std::memset(letter, 0, qvfw::kLetterCapacity);
      letter[0] = p.driveLetter;
      return p.driveLetter ? 1 : 0;
    });
  };
  sdk.QV_Get87xStandbyTimerbySCSICmd = [](const char* path, int* minutes) {
    return OnProduct("QV_Get87xStandbyTimerbySCSICmd", path, [minutes](FakeProduct&) { *minutes = 33; return 1; });
  };
  sdk.QV_Update87xStandbyTimer = [](const char* path, int minutes) {
    return OnProduct("QV_Update87xStandbyTimer", path, [minutes](FakeProduct&) {
      F().calls.back().second += "(" + std::to_string(minutes) + ")";
      return 1;
    });
  };
  sdk.QV_GetUFSStatus = [](const char* path, uint8_t* state) {
    return OnProduct("QV_GetUFSStatus", path, [state](FakeProduct& p) {
      *state = p.ufsState;
      return p.ufs ? 1 : 0;
    });
  };
  sdk.QV_EnableUFSLun = [](const char* path, uint8_t* state) {
    return OnProduct("QV_EnableUFSLun", path, [state](FakeProduct& p) {
      if (p.ufsEnablesAtOnce) p.ufsState = qvfw::kUfsEnabled;
      *state = p.ufsState;
      return 1;
    });
  };
  sdk.QV_CheckWriteProtect = [](const char* path, int* wp) {
    return OnProduct("QV_CheckWriteProtect", path, [wp](FakeProduct& p) { *wp = p.writeProtected; return 1; });
  };
  sdk.QV_DiskRWTest = [](const char* path, float* r, float* w, int size, const uint8_t*) {
    return OnProduct("QV_DiskRWTest", path, [=](FakeProduct& p) {
      F().calls.back().second += "(" + std::to_string(size) + ")";
      *r = p.readSpeed;
      *w = p.writeSpeed;
      return 1;
    });
  };
  sdk.QV_87xPreserveCustomizedSettingEx = [](const char* path, uint8_t*, int) {
    return OnProduct("QV_87xPreserveCustomizedSettingEx", path, [](FakeProduct&) { return 1; });
  };
  sdk.QV_87x_Clone_UpdateCustomizedSetting = [](const char* path, const uint8_t*, int) {
    return OnProduct("QV_87x_Clone_UpdateCustomizedSetting", path, [](FakeProduct&) { return 1; });
  };
  sdk.QV_CheckChipFW = [](const char* path, const char*) {
    return OnProduct("QV_CheckChipFW", path, [](FakeProduct&) { return 1; });
  };
  sdk.QV_Inquiry = [](const char* path, uint8_t* buffer, int, int*) {
    return OnProduct("QV_Inquiry", path, [buffer](FakeProduct&) {
      std::memcpy(buffer + 8, "Vendor  Product         ", 24);
      return 36;
    });
  };
  sdk.QV_GetDiskFWRevbySCSICmd = [](const char* path, char* out) {
    return OnProduct("QV_GetDiskFWRevbySCSICmd", path, [out](FakeProduct&) { return CopyOut("1.02", out, 20); });
  };
  QV_PLAIN(QV_SerialFlashErase)
  QV_PLAIN(QV_87xPreserveCustomizedSetting)
  QV_PLAIN(QV_87x_Clone_FWUpdateProgrammingNoCustomizedSetting)
  QV_PLAIN(QV_87x_Clone_FWUpdateProgrammingEX)
  QV_PLAIN(QV_UpdateMFGOnly)
  QV_PLAIN(QV_FWUpdateProgrammingNoCustomizedSetting)
  QV_PLAIN(QV_FWUpdateProgrammingEX)
  QV_PLAIN(QV_UpdateCustomizedSetting)
  QV_PLAIN(QV_FormatUnit)
  QV_PLAIN(QV_DiskPartition, int, int)
  QV_PLAIN(QV_DiskFormat, int, const char*, int)
  QV_PLAIN(QV_Partition_LBA, int, int, int)
  QV_PLAIN(QV_Format_LBA, const char*, int, int, int, int)
  QV_PLAIN(QV_Format_FormatCOM, const char*, int, int, int, int)
  QV_PLAIN(QV_Format_WindowsAPI, const char*, int, int, int, int)
  QV_PLAIN(QV_Partition_LBA_Format_LBA, int, const char*, int, int, int, int, int)
  QV_PLAIN(QV_Partition_LBA_Format_FormatCOM, int, const char*, int, int, int, int, int, int)
  QV_PLAIN(QV_Partition_LBA_Format_WindowsAPI, int, const char*, int, int, int, int, int, int)
}

FakeDeviceLibrary::~FakeDeviceLibrary() {
  DeviceSdk() = DeviceSdkTable{};
  g_current = nullptr;
}

size_t FakeDeviceLibrary::Add(FakeProduct product) {
  std::lock_guard lock(mutex);
  products.push_back(std::move(product));
  return products.size() - 1;
}

std::string FakeDeviceLibrary::PathOf(size_t i) {
  std::lock_guard lock(mutex);
  return products[i].Path(i);
}

FakeProduct FakeDeviceLibrary::Product(size_t i) {
  std::lock_guard lock(mutex);
  return products[i];
}

void FakeDeviceLibrary::Fail(const std::string& entry, int times) {
  std::lock_guard lock(mutex);
  failures[entry] = times;
}

std::vector<std::string> FakeDeviceLibrary::Calls(size_t product) {
  std::lock_guard lock(mutex);
  std::vector<std::string> names;
  for (const auto& [index, name] : calls)
    if (index == static_cast<int>(product)) names.push_back(name);
  return names;
}

std::vector<std::string> FakeDeviceLibrary::AllCalls() {
  std::lock_guard lock(mutex);
  std::vector<std::string> names;
  for (const auto& call : calls) names.push_back(call.second);
  return names;
}

int FakeDeviceLibrary::CallCount(const std::string& entry) {
  std::lock_guard lock(mutex);
  int n = 0;
  for (const auto& call : calls) n += call.second.starts_with(entry) ? 1 : 0;
  return n;
}

std::map<int, std::string> FakeDeviceLibrary::TablePaths() {
  std::lock_guard lock(mutex);
  return tablePaths;
}

}  // namespace sdkstation::testing
