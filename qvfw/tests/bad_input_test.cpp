// Arguments the contract does not allow: every entry answers 0, touches no
// device and writes nothing past a buffer (buffers here are exactly the
// contract's capacity, so AddressSanitizer sees any byte beyond).
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qvfw/tests/library_bench.h"

namespace qvfw {
namespace {

using testing::LibraryBench;

sim::ProductConfig Product() {
  sim::ProductConfig config;
  config.name = "bad";
  config.chipType = 25;
  config.disk.sectors = 65536;
  return config;
}

TEST(BadInput, PathsThatAreNoListedDeviceTouchNothing) {
  LibraryBench lib({Product()});
  ASSERT_TRUE(lib.bound());
  const std::string listed = lib.List().at(0);
  const std::string longPath = listed + std::string(300 - listed.size(), 'x');
  const std::string unterminated(256, 'p');  // no NUL within the 256 a path may take
  struct Path {
    const char* what;
    const char* path;
  };
  const Path paths[] = {
      {"null", nullptr},
      {"empty", ""},
      {"unknown", "\\\\?\\usbstor#disk&ven_none#0&1#{53f56307-b6bf-11d0-94f2-00a0c91efbff}"},
      {"300 characters starting with a listed path", longPath.c_str()},
      {"256 characters without an end", unterminated.c_str()},
  };
  const auto& sdk = lib.sdk();
  // An unknown path may be one the product took after a reset: it gets a
  // listing, and nothing but the listing's queries may reach a product.
  lib.product(0).EnableTrace(true);
  (void)lib.List();
  std::set<std::vector<uint8_t>> listing;
  for (const sim::TraceEntry& e : lib.product(0).TakeTrace()) listing.insert(e.cdb);
  for (const Path& p : paths) {
    SCOPED_TRACE(p.what);
    int n = 7;
    uint16_t id = 7;
    uint8_t state = 7;
    uint64_t mb = 7;
    char text[80] = {};
    char letter[8] = {};
    char name[48] = {};
    uint8_t identify[512] = {};
    const std::vector<std::pair<const char*, std::function<int()>>> calls = {
        {"GetChipType", [&] { return sdk.QV_GetChipType(p.path, &n); }},
        {"GetChipTypeName", [&] { return sdk.QV_GetChipTypeName(p.path, name); }},
        {"GetRunningCodeMode", [&] { return sdk.QV_GetRunningCodeMode(p.path, &n); }},
        {"GetFWVersion", [&] { return sdk.QV_GetFWVersion(p.path, text); }},
        {"GetUSBSpeed", [&] { return sdk.QV_GetUSBSpeed(p.path, &n); }},
        {"GetHubPortIndex", [&] { return sdk.QV_GetHubPortIndex(p.path, &n); }},
        {"GetVIDfromOS", [&] { return sdk.QV_GetVIDfromOS(p.path, &id); }},
        {"GetSNfromFlash", [&] { return sdk.QV_GetSNfromFlash(p.path, text); }},
        {"GetDiskCapacity", [&] { return sdk.QV_GetDiskCapacity(p.path, &mb); }},
        {"GetDiskInfo", [&] { return sdk.QV_GetDiskInfo(p.path, identify); }},
        {"GetMappingLetter", [&] { return sdk.QV_GetMappingLetter(p.path, letter); }},
        {"GetUFSStatus", [&] { return sdk.QV_GetUFSStatus(p.path, &state); }},
        {"SerialFlashErase", [&] { return sdk.QV_SerialFlashErase(p.path); }},
        {"ChipReset", [&] { return sdk.QV_ChipReset(p.path); }},
        {"FormatUnit", [&] { return sdk.QV_FormatUnit(p.path); }},
        {"DiskPartition", [&] { return sdk.QV_DiskPartition(p.path, 1, 1); }},
        {"UpdateCustomizedSetting", [&] { return sdk.QV_UpdateCustomizedSetting(p.path); }},
        {"EnableUpdateVID", [&] { return sdk.QV_EnableUpdateVID(p.path, 1); }},
        {"SetVIDValue", [&] { return sdk.QV_SetVIDValue(p.path, "1D6B"); }},
        {"SetDevicePath", [&] { return sdk.QV_SetDevicePath(0, p.path); }},
        {"IsQVS87xSeries", [&] { return sdk.QV_IsQVS87xSeries(p.path); }},
    };
    for (const auto& [name_, call] : calls) EXPECT_EQ(call(), 0) << name_;
    EXPECT_EQ(sdk.QV_GetCustomizedSettingTableIndex(p.path), -1);
    EXPECT_EQ(n, 7);
    EXPECT_EQ(id, 7);
    EXPECT_EQ(mb, 7u);
    EXPECT_EQ(text[0], '\0');
  }
  for (const sim::TraceEntry& e : lib.product(0).TakeTrace()) {
    EXPECT_TRUE(listing.count(e.cdb)) << "command " << std::hex << int(e.cdb[0]) << " reached the product";
  }
}

TEST(BadInput, ValuesAndIndexesOutsideTheContract) {
  LibraryBench lib({Product()});
  const std::string path = lib.List().at(0);
  const char* p = path.c_str();
  const auto& sdk = lib.sdk();
  ASSERT_NE(sdk.QV_InitialCustomizedSettingTable(), 0);
  const std::string text80(80, 'T');  // one past the 79 characters of a text
  struct Case {
    const char* what;
    std::function<int()> call;
  };
  const Case cases[] = {
      {"null outputs", [&] { return sdk.QV_GetChipType(p, nullptr) | sdk.QV_GetFWVersion(p, nullptr) |
                                    sdk.QV_GetRootHubName(p, nullptr) |
                                    sdk.QV_GetDeviceList(nullptr, nullptr); }},
      {"a flag of 2", [&] { return sdk.QV_EnableUpdateVID(p, 2); }},
      {"a flag of -1", [&] { return sdk.QV_SetCloneProduct(-1); }},
      {"an empty id", [&] { return sdk.QV_SetVIDValue(p, ""); }},
      {"five hex digits", [&] { return sdk.QV_SetVIDValue(p, "1D6B0"); }},
      {"a letter that is no hex digit", [&] { return sdk.QV_SetPIDValue(p, "01G0"); }},
      {"a 0x prefix", [&] { return sdk.QV_SetPIDValue(p, "0x10"); }},
      {"a null text", [&] { return sdk.QV_SetManuStr(p, nullptr); }},
      {"a text of 80 characters", [&] { return sdk.QV_SetSerialNumStr(p, text80.c_str()); }},
      {"index -1", [&] { return sdk.QV_SetDevicePath(-1, p); }},
      {"index 256", [&] { return sdk.QV_SetDevicePath(256, p); }},
      {"an index not in use", [&] { return sdk.QV_SetDevicePath(5, p); }},
      {"a preserve buffer one byte short",
       [&] {
         std::vector<uint8_t> buffer(262143);
         return sdk.QV_87xPreserveCustomizedSettingEx(p, buffer.data(), 262143);
       }},
      {"a read/write test of 0 MB",
       [&] {
         float r = 0, w = 0;
         return sdk.QV_DiskRWTest(p, &r, &w, 0, nullptr);
       }},
      {"a file system index of 3",
       [&] { return sdk.QV_Format_LBA(p, "LABEL", 3, 4096, 1, 1); }},
      {"a standby timer below 0", [&] { return sdk.QV_Update87xStandbyTimer(p, -1); }},
      {"a time-out of 0", [&] { return sdk.QV_SetSCSITimeOut(0); }},
  };
  for (const Case& c : cases) EXPECT_EQ(c.call(), 0) << c.what;
  EXPECT_EQ(sdk.QV_GetCustomizedSettingTableIndex(p), -1) << "no refused call made an entry";

  // A text output always ends within its capacity.
  char version[80];
  std::memset(version, 0x55, sizeof version);
  ASSERT_NE(sdk.QV_GetFWVersion(p, version), 0);
  EXPECT_NE(std::memchr(version, '\0', sizeof version), nullptr);
}

}  // namespace
}  // namespace qvfw
