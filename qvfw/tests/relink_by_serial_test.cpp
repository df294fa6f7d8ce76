// A relink by serial number for one product of every family whose identity
// the library writes into its configuration: the second program's identity
// hand-over, the library's write, then the reset and the search through the
// library's list, by the serial the product had and by the one it was given.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qvfw/tests/library_bench.h"
#include "sdkstation/device_listing.h"
#include "sdkstation/device_relink.h"
#include "sdkstation/identity_handover.h"

namespace qvfw {
namespace {

using testing::LibraryBench;

struct Family {
  const char* name;
  uint8_t chipType;
  bool internalCode = false;  // the maker's internal build runs
  bool takesIdentity = true;
};

void PrintTo(const Family& f, std::ostream* os) { *os << f.name; }

sim::ProductConfig Product(const Family& f, const std::string& name, const std::string& serial) {
  sim::ProductConfig config;
  config.name = name;
  config.chipType = f.chipType;
  config.internalCode = f.internalCode;
  config.usbSerial = serial;
  config.disk.sectors = 65536;
  return config;
}

// The station around one worker's relinks: the records as the device list
// fills them, the meeting of one worker.
class RelinkBySerial : public ::testing::TestWithParam<Family> {
 protected:
  RelinkBySerial()
      : lib_({Product(GetParam(), "subject", "OLD00001"), Product(GetParam(), "other", "OLD00002")}) {
    settings_.MPResetWait = 10;
    int32_t attached = 0;
    int64_t freeSpace = 1;
    count_ = sdkstation::ListAttachedDevices(list_, pass_.ports, attached, freeSpace).count;
    meeting_.Reset(1);
  }

  // The identity START hands over: new ids, strings and serials from 00A9.
  void HandOver() {
    sdkstation::IdentityControls c;
    c.updateVid = c.updatePid = c.updateManufString = c.updateUsbProdString = true;
    c.vendorId = "6A3E";
    c.productId = "4649";
    c.serialNumber = "00A9";
    c.stringB = "New Bridge";
    c.stringC = "Orvanta";
    c.autoIncrement = true;
    c.standbyTimer = -1;
    sdkstation::HandOverIdentity(list_, count_, c, pass_);
  }

  bool Relink(int stage, bool byNewSerial) {
    sdkstation::StageCounter stages(meeting_, locks_.RelinkStageLock);
    const sdkstation::RelinkContext context{pass_.ports, 0, settings_, locks_, meeting_, stages,
                                            pass_.m_UpdateSN[0].data()};
    return sdkstation::QV_RelinkEx(context, stage, byNewSerial);
  }

  std::string Path() const { return pass_.ports[0].devicePath; }
  std::string Serial(bool fromFlash) {
    char text[kTextCapacity] = {};
    const int ok = fromFlash ? lib_.sdk().QV_GetSNfromFlash(Path().c_str(), text)
                             : lib_.sdk().QV_GetSNfromOS(Path().c_str(), text);
    return ok ? text : "(failed)";
  }

  LibraryBench lib_;
  sdkstation::DeviceList list_;
  int count_ = 0;
  sdkstation::SdkPassState pass_;
  sdkstation::SdkSettingsBlock settings_ = sdkstation::ZeroedSdkSettingsBlock();
  sdkstation::SdkLocks locks_;
  sdkstation::RelinkMeeting meeting_;
};

TEST_P(RelinkBySerial, ByTheOldSerialAndByTheNewOne) {
  ASSERT_TRUE(lib_.bound());
  ASSERT_EQ(count_, 2);
  HandOver();
  if (!GetParam().takesIdentity) {
    // A chip that keeps no identity refuses it; its relink has no serial to
    // look for and fails before any reset.
    EXPECT_EQ(pass_.identityHandedOver[0], 0);
    EXPECT_EQ(lib_.sdk().QV_UpdateCustomizedSetting(Path().c_str()), 0);
    EXPECT_FALSE(Relink(sdkstation::kStageIdentity, true));
    EXPECT_EQ(lib_.product(0).ResetCount(), 0);
    return;
  }
  ASSERT_EQ(pass_.identityHandedOver[0], 1);
  EXPECT_EQ(Serial(true), "OLD00001") << "the identity it runs with";

  // A reset without a new identity: found again by the serial it had.
  ASSERT_TRUE(Relink(sdkstation::kStageIdentity, false));
  EXPECT_EQ(Serial(false), "OLD00001");
  EXPECT_EQ(lib_.product(0).ResetCount(), 1);

  const std::string before = Path();
  ASSERT_EQ(lib_.sdk().QV_UpdateCustomizedSetting(Path().c_str()), 1);
  EXPECT_EQ(Serial(true), "00A9") << "the flash holds it at once";
  EXPECT_EQ(Serial(false), "OLD00001") << "the system shows it after the reset";

  meeting_.Reset(1);
  ASSERT_TRUE(Relink(sdkstation::kStageIdentity, true));
  EXPECT_NE(Path(), before) << "it enumerates under its new serial";
  EXPECT_EQ(Serial(false), "00A9");
  EXPECT_EQ(Serial(true), "00A9");
  uint16_t vid = 0, pid = 0;
  EXPECT_EQ(lib_.sdk().QV_GetVIDfromOS(Path().c_str(), &vid), 1);
  EXPECT_EQ(lib_.sdk().QV_GetPIDfromOS(Path().c_str(), &pid), 1);
  EXPECT_EQ(vid, 0x6A3E);
  EXPECT_EQ(pid, 0x4649);
  char text[kTextCapacity] = {};
  EXPECT_EQ(lib_.sdk().QV_GetProdStrfromOS(Path().c_str(), text), 1);
  EXPECT_STREQ(text, "New Bridge");
  EXPECT_GE(lib_.sdk().QV_GetCustomizedSettingTableIndex(Path().c_str()), 0);
  EXPECT_EQ(lib_.product(1).ResetCount(), 0) << "the other product was never taken";
}

INSTANTIATE_TEST_SUITE_P(
    Families, RelinkBySerial,
    ::testing::Values(Family{"ChipType1", 1}, Family{"ChipType4", 4}, Family{"ChipType8", 8},
                      Family{"ChipType9", 9}, Family{"ChipType13", 13}, Family{"ChipType17", 17},
                      Family{"ChipType19", 19}, Family{"ChipType20", 20},
                      Family{"ChipType26InternalBuild", 26, true},
                      Family{"ChipType30", 30, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvfw
