// UFS products through the library: the unit's state, an enable that takes
// effect at once or after the next reset, write protection, the reference
// clock, and the ATA
// product that is no UFS device.
#include <string>

#include <gtest/gtest.h>

#include "qvfw/tests/library_bench.h"

namespace qvfw {
namespace {

using testing::LibraryBench;

struct UfsCase {
  const char* name;
  bool ufs, enabled, enableAfterReset, writeProtected;
  int status;            // QV_GetUFSStatus: -1 refused, else the state
  int enabledAfterCall;  // the state QV_EnableUFSLun leaves (-1: refused)
  bool needsReset;       // the unit shows only after QV_ChipReset
  int writeProtect;      // QV_CheckWriteProtect's answer once enabled
};

void PrintTo(const UfsCase& c, std::ostream* os) { *os << c.name; }

const UfsCase kCases[] = {
    {"Disabled", true, false, false, false, 0, 1, false, 0},
    {"DisabledUntilTheReset", true, false, true, false, 0, 0, true, 0},
    {"Enabled", true, true, false, false, 1, 1, false, 0},
    {"WriteProtected", true, true, false, true, 1, 1, false, 1},
    {"AtaDrive", false, true, false, false, -1, -1, false, 0},
};

class UfsUnit : public ::testing::TestWithParam<UfsCase> {};

TEST_P(UfsUnit, StateEnableResetAndWriteProtect) {
  const UfsCase& c = GetParam();
  sim::ProductConfig config;
  config.name = c.name;
  config.chipType = 28;
  config.disk.sectors = 65536;
  config.placement.resetNewPath = true;
  config.ufs.present = c.ufs;
  config.ufs.enabled = c.enabled;
  config.ufs.enableAfterReset = c.enableAfterReset;
  config.ufs.writeProtected = c.writeProtected;
  LibraryBench lib({config});
  ASSERT_TRUE(lib.bound());
  const auto& sdk = lib.sdk();
  std::string path = lib.List().at(0);
  uint8_t identify[512];
  EXPECT_EQ(sdk.QV_GetDiskInfo(path.c_str(), identify) != 0, !c.ufs) << "IDENTIFY only on ATA";

  uint8_t state = 7;
  EXPECT_EQ(sdk.QV_GetUFSStatus(path.c_str(), &state) != 0, c.status >= 0);
  if (c.status < 0) {
    EXPECT_EQ(sdk.QV_EnableUFSLun(path.c_str(), &state), 0);
    EXPECT_EQ(state, 7) << "nothing written on failure";
    return;
  }
  EXPECT_EQ(state, c.status);
  uint64_t mb = 0;
  EXPECT_EQ(sdk.QV_GetUFSCapacity(path.c_str(), &mb) != 0, c.status == 1);

  ASSERT_NE(sdk.QV_EnableUFSLun(path.c_str(), &state), 0);
  EXPECT_EQ(state, c.enabledAfterCall);
  if (c.needsReset) {
    const auto where = lib.LocationOf(path);
    ASSERT_TRUE(where);
    ASSERT_NE(sdk.QV_ChipReset(path.c_str()), 0);
    const auto again = lib.Refind(*where);
    ASSERT_TRUE(again);
    path = *again;
    ASSERT_NE(sdk.QV_GetUFSStatus(path.c_str(), &state), 0);
    EXPECT_EQ(state, 1);
  }
  ASSERT_NE(sdk.QV_GetUFSCapacity(path.c_str(), &mb), 0);
  EXPECT_EQ(mb, 32u);
  int wp = -1;
  ASSERT_NE(sdk.QV_CheckWriteProtect(path.c_str(), &wp), 0);
  EXPECT_EQ(wp, c.writeProtect);

  int clock = -1;
  ASSERT_NE(sdk.QV_GetUFSBGARefClkFreq(path.c_str(), &clock), 0);
  EXPECT_EQ(clock, 1);
  ASSERT_NE(sdk.QV_SetUFSBGARefClkFreq(path.c_str(), 3), 0);
  EXPECT_EQ(sdk.QV_SetUFSBGARefClkFreq(path.c_str(), 4), 0) << "no such clock";
  ASSERT_NE(sdk.QV_GetUFSBGARefClkFreq(path.c_str(), &clock), 0);
  EXPECT_EQ(clock, 3);
}

INSTANTIATE_TEST_SUITE_P(Products, UfsUnit, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvfw
