// The SCSI vendor and product texts handed over with an identity reach the
// configuration the chip presents: INQUIRY shows them after the reset.
#include <string>

#include <gtest/gtest.h>

#include "qvfw/tests/library_bench.h"
#include "sdkstation/device_listing.h"
#include "sdkstation/identity_handover.h"

namespace qvfw {
namespace {

using testing::LibraryBench;

struct InquiryCase {
  const char* name;
  uint8_t chipType;
  bool deviceString;  // UpdateDeviceStringChk: the texts are to be written
  const char* vendor;
  const char* product;
};

void PrintTo(const InquiryCase& c, std::ostream* os) { *os << c.name; }

class InquiryTexts : public ::testing::TestWithParam<InquiryCase> {};

TEST_P(InquiryTexts, ShowAfterTheReset) {
  const InquiryCase& c = GetParam();
  sim::ProductConfig config;
  config.name = c.name;
  config.chipType = c.chipType;
  config.disk.sectors = 65536;
  LibraryBench lib({config});
  ASSERT_TRUE(lib.bound());
  sdkstation::DeviceList list;
  sdkstation::SdkPassState pass;
  int32_t attached = 0;
  int64_t freeSpace = 1;
  const int count = sdkstation::ListAttachedDevices(list, pass.ports, attached, freeSpace).count;
  ASSERT_EQ(count, 1);
  sdkstation::IdentityControls controls;
  controls.updateDeviceString = c.deviceString;
  controls.vendorId = "1D6B";  // the ids the edits show, not switched on
  controls.productId = "0100";
  controls.vendorStr = "ORVANTA";
  controls.prodStr = "FIELD DISK";
  controls.serialNumber = "00A9";
  controls.standbyTimer = -1;
  sdkstation::HandOverIdentity(list, count, controls, pass);
  ASSERT_EQ(pass.identityHandedOver[0], 1);
  std::string path = list[0];
  ASSERT_EQ(lib.sdk().QV_UpdateCustomizedSetting(path.c_str()), 1);

  const auto where = lib.LocationOf(path);
  ASSERT_TRUE(where);
  ASSERT_EQ(lib.sdk().QV_ChipReset(path.c_str()), 1);
  const auto again = lib.Refind(*where);
  ASSERT_TRUE(again);
  uint8_t inquiry[40] = {};
  int available = 0;
  ASSERT_GT(lib.sdk().QV_Inquiry(again->c_str(), inquiry, sizeof inquiry, &available), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry) + 8, 8), c.vendor);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry) + 16, 16), c.product);
}

INSTANTIATE_TEST_SUITE_P(
    Chips, InquiryTexts,
    ::testing::Values(InquiryCase{"ChipType25", 25, true, "ORVANTA ", "FIELD DISK      "},
                      InquiryCase{"ChipType29", 29, true, "ORVANTA ", "FIELD DISK      "},
                      InquiryCase{"ChipType25Unchanged", 25, false, "KESTROVA", "SIM BRIDGE      "},
                      InquiryCase{"ChipType29Unchanged", 29, false, "KESTROVA", "SIM BRIDGE      "}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvfw
