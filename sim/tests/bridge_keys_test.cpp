// Bench-file keys of the bridge's firmware build, its registers and the
// drive on port 1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/bench.h"

namespace sim {
namespace {

TEST(BridgeKeys, FirmwareRegisterAndSecondDriveKeysReachTheProduct) {
  std::vector<ProductConfig> products;
  std::string error;
  ASSERT_TRUE(Bench::ParseText(R"([product two]
chip = 13
info_version = 02 05
internal_code = 1
bank_select = 1
usb3 = 0
inquiry.chip_code = 0
foreign = 1
disk2 = 1
disk2.packet = 1
disk2.sectors = 2M
disk2.sector_size = 4096
disk2.reserved_sectors = 16
disk2.model = "KV SIM DVD"
disk2.serial = DVD0001
disk2.firmware = "2.10"
disk2.image = /tmp/kestrova-disk2.img
[product plain]
)",
                               &products, &error))
      << error;
  ASSERT_EQ(products.size(), 2u);
  const ProductConfig& p = products[0];
  EXPECT_EQ(p.infoVersion, (std::vector<uint8_t>{0x02, 0x05}));
  EXPECT_TRUE(p.internalCode);
  EXPECT_TRUE(p.bankSelect);
  EXPECT_FALSE(p.usb3Enabled);
  EXPECT_FALSE(p.chipCodeInInquiry);
  EXPECT_TRUE(p.foreignBridge);
  EXPECT_TRUE(p.disk2.present);
  EXPECT_TRUE(p.disk2.packetDevice);
  EXPECT_EQ(p.disk2.sectors, 2u * 1024 * 1024);
  EXPECT_EQ(p.disk2.sectorSize, 4096u);
  EXPECT_EQ(p.disk2.reservedSectors, 16u);
  EXPECT_EQ(p.disk2.model, "KV SIM DVD");
  EXPECT_EQ(p.disk2.serial, "DVD0001");
  EXPECT_EQ(p.disk2.firmware, "2.10");
  EXPECT_EQ(p.disk2.imagePath, "/tmp/kestrova-disk2.img");
  EXPECT_TRUE(p.disk.present);  // port 0 keeps its own settings

  // Defaults: a product firmware, no second drive.
  const ProductConfig& plain = products[1];
  EXPECT_FALSE(plain.internalCode);
  EXPECT_TRUE(plain.usb3Enabled);
  EXPECT_TRUE(plain.chipCodeInInquiry);
  EXPECT_FALSE(plain.disk2.present);
  EXPECT_NE(plain.disk2.serial, plain.disk.serial);

  EXPECT_FALSE(Bench::ParseText("[product x]\ndisk2 = 2\n", &products, &error));
  EXPECT_FALSE(Bench::ParseText("[product x]\ninfo_version = 1G\n", &products, &error));
}

}  // namespace
}  // namespace sim
