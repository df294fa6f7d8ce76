// The identity a product firmware of ChipTypes 21-28 presents after a
// power-on, from the bank it runs, its identity record or its configuration
// area, laid out here byte by byte from the formats the station writes.
#include "sim/firmware_identity.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "sim/emulated_bridge.h"
#include "sim/spi_flash.h"
#include "sim/tests/cdb_helpers.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;

const DeviceIdentity kOwn{0x1111, 0x2222, "Own Maker", "Own Product", "OWN1",
                          "OWNVEND",  "OWN DISK", "0100"};

// A descriptor of 8-bit characters: length 2n + 2, type 3.
void PutDescriptor(Bytes& bytes, size_t at, const std::string& text) {
  bytes[at] = static_cast<uint8_t>(2 * text.size() + 2);
  bytes[at + 1] = 3;
  std::memcpy(&bytes[at + 2], text.data(), text.size());
}

void PutText(Bytes& bytes, size_t at, const std::string& text) {
  std::memcpy(&bytes[at], text.data(), text.size());
}

// A bank as the station fills it: option byte, the INQUIRY texts (bank 0:
// NUL-filled) and the two USB strings.
Bytes Bank(uint8_t options) {
  Bytes bank(0x20000, 0x5A);
  bank[0x600] = options;
  std::memset(&bank[0x610], 0, 0x18 + 0x40);
  PutText(bank, 0x610, "NEWVEND");
  PutText(bank, 0x618, "NEW DISK");
  PutDescriptor(bank, 0x628, "New Maker");
  PutDescriptor(bank, 0x648, "New Product");
  return bank;
}

TEST(BankIdentity, TheOptionByteNamesWhatComesFromTheBank) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> change;
    DeviceIdentity expected;
  };
  DeviceIdentity inquiry = kOwn;
  inquiry.inquiryVendor = "NEWVEND";
  inquiry.inquiryProduct = "NEW DISK";
  DeviceIdentity strings = kOwn;
  strings.manufacturer = "New Maker";
  strings.product = "New Product";
  DeviceIdentity both = strings;
  both.inquiryVendor = inquiry.inquiryVendor;
  both.inquiryProduct = inquiry.inquiryProduct;
  DeviceIdentity productOnly = kOwn;
  productOnly.product = "New Product";
  const Case cases[] = {
      {"no source bit", [](Bytes& b) { b[0x600] = 0; }, kOwn},
      {"INQUIRY texts", [](Bytes& b) { b[0x600] = 1; }, inquiry},
      {"USB strings", [](Bytes& b) { b[0x600] = 2; }, strings},
      {"both", [](Bytes& b) { b[0x600] = 3; }, both},
      {"an erased option byte", [](Bytes& b) { b[0x600] = 0xFF; }, kOwn},
      {"a slot that is no string descriptor", [](Bytes& b) { b[0x600] = 2; b[0x629] = 1; },
       productOnly},
      {"an empty string", [](Bytes& b) { b[0x600] = 2; b[0x628] = 2; }, productOnly},
      {"a bank too short", [](Bytes& b) { b.resize(0x640); }, kOwn},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bank = Bank(3);
    c.change(bank);
    EXPECT_EQ(BankIdentity(bank, kOwn), c.expected);
  }
}

TEST(BankIdentity, ASpaceFilledBankAndAFullLengthStringReadWhole) {
  Bytes bank = Bank(3);
  std::memset(&bank[0x610], ' ', 0x18);  // bank 1's fill
  PutText(bank, 0x610, "ABCDEFGH");
  PutText(bank, 0x618, "0123456789ABCDEF");
  std::memset(&bank[0x628], 0, 32);
  const std::string longest(29, 'm');  // its terminating zero stays in the field
  PutDescriptor(bank, 0x628, longest);
  const DeviceIdentity id = BankIdentity(bank, kOwn);
  EXPECT_EQ(id.inquiryVendor, "ABCDEFGH");
  EXPECT_EQ(id.inquiryProduct, "0123456789ABCDEF");
  EXPECT_EQ(id.manufacturer, longest);
}

TEST(RecordIdentity, IdsAndSerialFromAWrittenRecord) {
  Bytes record(72, 0);
  record[0] = 'B';
  std::memset(&record[52], ' ', 20);
  PutText(record, 52, "00A7");
  DeviceIdentity expected = kOwn;
  expected.vid = 0x13FE;
  expected.pid = 0x6300;
  expected.serial = "00A7";
  EXPECT_EQ(RecordIdentity(record, 0x13FE, 0x6300, kOwn), expected);

  Bytes blank = record;
  std::memset(&blank[52], ' ', 20);
  expected.serial = kOwn.serial;
  EXPECT_EQ(RecordIdentity(blank, 0x13FE, 0x6300, kOwn), expected) << "no serial in the record";

  Bytes unmarked = record;
  unmarked[0] = 0;
  EXPECT_EQ(RecordIdentity(unmarked, 0x13FE, 0x6300, kOwn), kOwn);
  EXPECT_EQ(RecordIdentity({}, 0x13FE, 0x6300, kOwn), kOwn) << "none written";
  record.pop_back();
  EXPECT_EQ(RecordIdentity(record, 0x13FE, 0x6300, kOwn), kOwn);
}

// A configuration area as the station builds it for these chips: ids at 0
// and 2, index bytes 0A 0B 03, 8-bit descriptors at 12, 48, 84, "QV" last.
Bytes Area() {
  Bytes area(256, 0);
  area[0] = 0xFE;
  area[1] = 0x13;
  area[2] = 0x00;
  area[3] = 0x63;
  area[6] = 0x0A;
  area[7] = 0x0B;
  area[8] = 0x03;
  PutDescriptor(area, 12, "Maker");
  PutDescriptor(area, 48, "Disk");
  PutDescriptor(area, 84, "00A3");
  area[254] = 'Q';
  area[255] = 'V';
  return area;
}

TEST(ConfigAreaIdentity, IdsAndTheStringsTheIndexBytesName) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> change;
    std::function<void(DeviceIdentity&)> expect;  // applied to the full decode
  };
  const Case cases[] = {
      {"as built", [](Bytes&) {}, [](DeviceIdentity&) {}},
      {"no signature", [](Bytes& a) { a[255] = 0xFF; }, [](DeviceIdentity& e) { e = kOwn; }},
      {"an erased area", [](Bytes& a) { a.assign(256, 0xFF); }, [](DeviceIdentity& e) { e = kOwn; }},
      {"ids never set", [](Bytes& a) { a[0] = a[1] = 0; a[2] = a[3] = 0xFF; },
       [](DeviceIdentity& e) { e.vid = kOwn.vid; e.pid = kOwn.pid; }},
      {"the serial taken from string A", [](Bytes& a) { a[8] = 0x0A; },
       [](DeviceIdentity& e) { e.serial = "Maker"; }},
      {"a product from the disk", [](Bytes& a) { a[7] = 1; },
       [](DeviceIdentity& e) { e.product = kOwn.product; }},
      {"an unset manufacturer", [](Bytes& a) { a[12] = 4; a[14] = 0; },
       [](DeviceIdentity& e) { e.manufacturer = kOwn.manufacturer; }},
      {"a serial slot that is no descriptor", [](Bytes& a) { a[85] = 0; },
       [](DeviceIdentity& e) { e.serial = kOwn.serial; }},
      {"an area too short", [](Bytes& a) { a.resize(255); }, [](DeviceIdentity& e) { e = kOwn; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes area = Area();
    c.change(area);
    DeviceIdentity expected = kOwn;
    expected.vid = 0x13FE;
    expected.pid = 0x6300;
    expected.manufacturer = "Maker";
    expected.product = "Disk";
    expected.serial = "00A3";
    c.expect(expected);
    EXPECT_EQ(ConfigAreaIdentity(area, kOwn), expected);
  }
}

TEST(ConfigAreaIdentity, AnEncodedAreaReadsBackCutToItsDescriptors) {
  const DeviceIdentity wanted{0xABCD, 0x0102, std::string(31, 'm'), "P", "", "", "", ""};
  Bytes area(256, 0xFF);
  EncodeConfigArea(wanted, area);
  DeviceIdentity expected = wanted;
  expected.manufacturer.pop_back();
  expected.serial = kOwn.serial;  // an empty serial is none: the firmware's own stays
  EXPECT_EQ(ConfigAreaIdentity(area, DeviceIdentity{0, 0, "", "", kOwn.serial, "", "", ""}),
            expected);
}

ProductConfig Bridge(uint8_t chipType) {
  ProductConfig config = testing::Config(chipType);
  config.vid = kOwn.vid;
  config.pid = kOwn.pid;
  config.manufacturer = kOwn.manufacturer;
  config.product = kOwn.product;
  config.usbSerial = kOwn.serial;
  config.inquiryVendor = kOwn.inquiryVendor;
  config.inquiryProduct = kOwn.inquiryProduct;
  config.inquiryRevision = kOwn.inquiryRevision;
  return config;
}

// The 1 KB families read the area at their configuration address when the
// bridge comes back, not before; a product comes with its own there.
TEST(FirmwareIdentity, AConfigurationAreaShowsAfterThePowerOn) {
  for (const auto& [chipType, address] : {std::pair<uint8_t, uint32_t>{25, 0xD000},
                                          {26, 0xD000}, {27, 0x11000}, {28, 0x11000}}) {
    SCOPED_TRACE(static_cast<int>(chipType));
    EmulatedBridge bridge(Bridge(chipType));
    EXPECT_EQ(bridge.PresentedIdentity().serial, kOwn.serial);
    const uint8_t* factory = bridge.flash().memory().data() + address;
    EXPECT_EQ(ConfigAreaIdentity(std::span(factory, kConfigAreaSize), DeviceIdentity{}),
              (DeviceIdentity{kOwn.vid, kOwn.pid, kOwn.manufacturer, kOwn.product, kOwn.serial, "", "", ""}));
    const Bytes area = Area();
    std::memcpy(bridge.flash().memory().data() + address, area.data(), area.size());
    EXPECT_EQ(bridge.PresentedIdentity().serial, kOwn.serial);
    bridge.PowerOn();
    EXPECT_EQ(bridge.PresentedIdentity().serial, "00A3");
    EXPECT_EQ(bridge.PresentedIdentity().vid, 0x13FE);
  }
}

// A QVS87x takes its ids and serial from the identity record after the
// next power-on; INQUIRY page C3 then reports them too.
TEST(FirmwareIdentity, TheIdentityRecordShowsAfterThePowerOn) {
  EmulatedBridge bridge(Bridge(21));
  Bytes record(72, 0);
  record[0] = 'B';
  std::memset(&record[52], ' ', 20);
  PutText(record, 52, "00B1");
  const Bytes cdb = testing::Cdb({0xC3, 0x30, 0, 0, 0x13, 0xFE, 0x63, 0x00, 0, 72, 0, 0}, 12);
  ASSERT_EQ(bridge.Execute(cdb.data(), 12, false, record.data(), 72).status, 0);
  EXPECT_EQ(bridge.PresentedIdentity(), kOwn);
  bridge.PowerOn();
  EXPECT_EQ(bridge.PresentedIdentity().vid, 0x13FE);
  EXPECT_EQ(bridge.PresentedIdentity().pid, 0x6300);
  EXPECT_EQ(bridge.PresentedIdentity().serial, "00B1");
  const testing::Reply page = testing::In(bridge, testing::Cdb({0x12, 1, 0xC3, 0, 84}, 6), 84);
  ASSERT_EQ(page.data.size(), 84u);
  EXPECT_EQ(std::string(page.data.begin() + 64, page.data.begin() + 68), "00B1");
}

}  // namespace
}  // namespace sim
