// The bench's flash devices as the station's commands reach them: the other
// family's parallel part and its unlock cycles, the DF-addressed
// configuration memory's erase types, the SPI engine's auto-address-increment
// program, protection, busy, the configuration EEPROM and the identity a
// programmed image gives the bridge after a reset. CDBs are built here from
// the command layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/emulated_bridge.h"
#include "sim/parallel_flash.h"
#include "sim/spi_flash.h"
#include "sim/tests/cdb_helpers.h"

namespace sim {
namespace {

using testing::Bytes;
using testing::Cdb;
using testing::Config;
using testing::Text;

CommandResult In(EmulatedBridge& b, const Bytes& cdb, Bytes* data) {
  return b.Execute(cdb.data(), 12, true, data->empty() ? nullptr : data->data(),
                   static_cast<uint32_t>(data->size()));
}
Bytes Read(EmulatedBridge& b, const Bytes& cdb, uint32_t n) {
  Bytes data(n, 0xEE);
  EXPECT_EQ(In(b, cdb, &data).status, 0);
  return data;
}
uint8_t Out(EmulatedBridge& b, const Bytes& cdb, Bytes data = {}) {
  return b.Execute(cdb.data(), 12, false, data.empty() ? nullptr : data.data(),
                   static_cast<uint32_t>(data.size()))
      .status;
}

size_t CountFF(const std::vector<uint8_t>& m) { return std::count(m.begin(), m.end(), 0xFF); }

// --- The other flash family (ChipTypes 29, 34): FF 04 05, 04, 01, 02, 03, 00.

// The byte sequences the station sends per family: FF 04 04's 18 bytes and
// FF 04 02's nine CDB bytes.
const Bytes kErase02 = {0x55, 0x55, 0xAA, 0x2A, 0x55, 0x55, 0x55, 0x55, 0xAA,
                        0x2A, 0x55, 0x55, 0xAA, 0x55, 0x80, 0xAA, 0x55, 0x10};
const Bytes kErase1 = {0x55, 0x05, 0xAA, 0x02, 0x55, 0x05, 0x55, 0x05, 0xAA,
                       0x02, 0x55, 0x05, 0xAA, 0x55, 0x80, 0xAA, 0x55, 0x10};
const Bytes kEraseNone(18, 0);
const Bytes kUnlock02 = {0x55, 0x55, 0xAA, 0x2A, 0x55, 0x55, 0xAA, 0x55, 0xA0};
const Bytes kUnlock1 = {0x55, 0x05, 0xAA, 0x02, 0x55, 0x05, 0xAA, 0x55, 0xA0};
const Bytes kUnlockNone(9, 0);

Bytes UnlockWriteCdb(const Bytes& unlock) {
  Bytes cdb = Cdb({0xFF, 0x04, 0x02});
  std::copy(unlock.begin(), unlock.end(), cdb.begin() + 3);
  return cdb;
}
Bytes Read32Cdb(uint32_t a) {
  return Cdb({0xFF, 0x04, 0x03, int(a & 0xFF), int(a >> 8 & 0xFF), int(a >> 16 & 0xFF),
              int(a >> 24)});
}
Bytes Image(size_t n, uint8_t seed) {
  Bytes image(n);
  for (size_t i = 0; i < n; ++i) image[i] = static_cast<uint8_t>(i * 7 + seed + (i >> 8));
  return image;
}

TEST(OtherFlashFamily, AcceptsOnlyTheUnlockAndEraseCyclesOfItsCommandSet) {
  const struct {
    const char* name;
    uint8_t commandSet;
    const Bytes& erase;
    const Bytes& unlock;
    bool erases;
    bool programs;
  } cases[] = {
      {"5555/2AAA part, its own cycles", 0, kErase02, kUnlock02, true, true},
      {"5555/2AAA part, the 555/2AA cycles", 0, kErase1, kUnlock1, false, false},
      {"555/2AA part, its own cycles", 1, kErase1, kUnlock1, true, true},
      {"555/2AA part, the 5555/2AAA cycles", 1, kErase02, kUnlock02, false, false},
      {"zero bytes of an unknown family", 0, kEraseNone, kUnlockNone, false, false},
      {"own erase, the other program cycles", 1, kErase1, kUnlock02, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProductConfig config = Config(29);
    config.flash.commandSet = c.commandSet;
    EmulatedBridge bridge(config);
    ASSERT_TRUE(bridge.otherFlash().present());
    auto& memory = bridge.flash().memory();

    std::fill(memory.begin(), memory.end(), 0x00);
    ASSERT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x05})), 0);
    ASSERT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x04}), c.erase), 0);
    ASSERT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x01})), 0);  // accepted either way: the part decides
    EXPECT_EQ(CountFF(Read(bridge, Read32Cdb(0), 0x10000)) == 0x10000, c.erases);
    EXPECT_EQ(CountFF(memory) == memory.size(), c.erases);

    std::fill(memory.begin(), memory.end(), 0xFF);
    const Bytes image = Image(0x10000, 3);
    ASSERT_EQ(Out(bridge, UnlockWriteCdb(c.unlock), image), 0);
    EXPECT_EQ(Read(bridge, Read32Cdb(0), 0x10000) == image, c.programs);
    if (!c.programs) {
      EXPECT_EQ(CountFF(memory), memory.size());
    }
  }
}

TEST(OtherFlashFamily, EraseAndProgramWaitForTheProgrammingMode) {
  EmulatedBridge bridge(Config(34));
  auto& memory = bridge.flash().memory();
  std::fill(memory.begin(), memory.end(), 0x00);
  ASSERT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x04}), kErase02), 0);
  EXPECT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x01})), 2);  // the firmware still runs from the part
  EXPECT_EQ(Out(bridge, UnlockWriteCdb(kUnlock02), Bytes(16, 0)), 2);
  EXPECT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x04}), Bytes(17, 0)), 2);  // the block is 18 bytes
  ASSERT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x05})), 0);
  ASSERT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x01})), 0);
  EXPECT_EQ(CountFF(memory), memory.size());
  // A power cycle ends the mode; the array stays.
  bridge.PowerOn();
  EXPECT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x01})), 2);
  // Families without the part refuse the family's commands.
  EmulatedBridge spi(Config(1));
  EXPECT_FALSE(spi.otherFlash().present());
  Bytes busy(1);
  EXPECT_EQ(In(spi, Cdb({0xFF, 0x04, 0x00}), &busy).status, 0);  // the SPI busy poll
}

TEST(OtherFlashFamily, AnEraseRunsForItsTimeAndTakesNoProgramMeanwhile) {
  platform::ScopedManualClock manual;  // the erase ends only when the test has slept
  ProductConfig config = Config(29);
  config.flash.chipEraseMs = 2000;
  EmulatedBridge bridge(config);
  ASSERT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x05})), 0);
  ASSERT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x04}), kErase02), 0);
  ASSERT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x01})), 0);
  EXPECT_EQ(Read(bridge, Cdb({0xFF, 0x04, 0x00}), 1), Bytes{1});
  // Reads meanwhile give the part's toggling status, never the erased array.
  const Bytes during = Read(bridge, Read32Cdb(0), 4);
  EXPECT_EQ(during, (Bytes{0x40, 0x00, 0x40, 0x00}));
  ASSERT_EQ(Out(bridge, UnlockWriteCdb(kUnlock02), Bytes(256, 0x00)), 0);
  platform::Sleep(2100);
  EXPECT_EQ(Read(bridge, Cdb({0xFF, 0x04, 0x00}), 1), Bytes{0});
  EXPECT_EQ(Read(bridge, Read32Cdb(0), 256), Bytes(256, 0xFF));  // the early program was lost
}

TEST(OtherFlashFamily, BusyPollsCountDown) {
  ProductConfig config = Config(29);
  config.flash.chipEraseMs = 0;
  config.flash.busyStatusReads = 3;
  EmulatedBridge bridge(config);
  ASSERT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x05})), 0);
  ASSERT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x04}), kErase02), 0);
  ASSERT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x01})), 0);
  Bytes polls;
  for (int i = 0; i < 5; ++i) polls.push_back(Read(bridge, Cdb({0xFF, 0x04, 0x00}), 1)[0]);
  EXPECT_EQ(polls, (Bytes{1, 1, 1, 0, 0}));
}

// --- The identity a programmed image gives the other family at power-on.

void PutDescriptor(Bytes& image, size_t at, const std::string& text) {
  std::fill(image.begin() + at, image.begin() + at + 64, 0);
  image[at] = static_cast<uint8_t>(2 * text.size() + 2);
  image[at + 1] = 3;
  for (size_t i = 0; i < text.size(); ++i) image[at + 2 + 2 * i] = static_cast<uint8_t>(text[i]);
}
void PutInquiry(Bytes& image, size_t at, const std::string& field24) {
  ASSERT_EQ(field24.size(), 24u);
  std::copy(field24.begin(), field24.end(), image.begin() + at);
}

void ProgramOtherFamily(EmulatedBridge& bridge, const Bytes& image) {
  ASSERT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x05})), 0);
  ASSERT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x04}), kErase02), 0);
  ASSERT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x01})), 0);
  ASSERT_EQ(Out(bridge, UnlockWriteCdb(kUnlock02), image), 0);
  ASSERT_EQ(Read(bridge, Read32Cdb(0), 0x10000), image);
}

TEST(IdentityAfterReset, ProgrammedImageIsPresentedFromTheNextPowerOn) {
  ProductConfig config = Config(29);
  config.vid = 0x1D6B;
  config.pid = 0x0646;
  config.inquiryRevision = "0102";
  EmulatedBridge bridge(config);
  // The factory image holds the identity the product presents.
  Bytes image = Read(bridge, Read32Cdb(0), 0x10000);
  EXPECT_EQ(image[0x4008] | image[0x4009] << 8, 0x1D6B);
  EXPECT_EQ(image[0x400A] | image[0x400B] << 8, 0x0646);

  image[0x4008] = 0x34;
  image[0x4009] = 0x12;
  image[0x400A] = 0xCD;
  image[0x400B] = 0xAB;
  image[0x4010] = 3;
  PutDescriptor(image, 0x40A0, "Acme Devices");
  PutDescriptor(image, 0x40E0, std::string(31, 'P'));
  PutDescriptor(image, 0x4120, "SN000123");
  PutInquiry(image, 0x4160, "ACME    FAST DISK       ");
  PutInquiry(image, 0x417C, "ACME    FAST DISK       ");
  ProgramOtherFamily(bridge, image);

  const Bytes inquiryCdb = Cdb({0x12, 0, 0, 0, 96});
  EXPECT_EQ(Text(Read(bridge, inquiryCdb, 96), 8, 8), "KESTROVA");  // still the old firmware state
  bridge.PowerOn();
  const Bytes inquiry = Read(bridge, inquiryCdb, 96);
  EXPECT_EQ(Text(inquiry, 8, 28), "ACME    FAST DISK       0102");
  const Bytes page = Read(bridge, Cdb({0x12, 0x01, 0xC3, 0, 84}), 84);
  EXPECT_EQ(page[8] << 8 | page[9], 0x1234);
  EXPECT_EQ(page[10] << 8 | page[11], 0xABCD);
  EXPECT_EQ(Text(page, 64, 20), "SN000123            ");
  const DeviceIdentity& id = bridge.PresentedIdentity();
  EXPECT_EQ(id.vid, 0x1234);
  EXPECT_EQ(id.pid, 0xABCD);
  EXPECT_EQ(id.manufacturer, "Acme Devices");
  EXPECT_EQ(id.product, std::string(31, 'P'));
  EXPECT_EQ(id.serial, "SN000123");
  EXPECT_EQ(id.inquiryVendor, "ACME");
  EXPECT_EQ(id.inquiryProduct, "FAST DISK");
  EXPECT_EQ(id.inquiryRevision, "0102");
}

TEST(IdentityAfterReset, FieldsTheImageDoesNotHoldKeepTheFirmwareDefaults) {
  ProductConfig config = Config(29);
  EmulatedBridge bridge(config);
  Bytes image(0x10000, 0xFF);  // erased identity fields
  image[0x4008] = 0x01;        // VID only, no serial string
  image[0x4009] = 0x00;
  image[0x4010] = 5;
  PutDescriptor(image, 0x4120, "IGNORED");
  image[0x40E0] = 0x41;  // an odd length: not a descriptor
  image[0x40E1] = 3;
  ProgramOtherFamily(bridge, image);
  bridge.PowerOn();
  const DeviceIdentity& id = bridge.PresentedIdentity();
  EXPECT_EQ(id.vid, 0x0001);
  EXPECT_EQ(id.pid, config.pid);
  EXPECT_EQ(id.manufacturer, config.manufacturer);
  EXPECT_EQ(id.product, config.product);
  EXPECT_EQ(id.serial, "");
  EXPECT_EQ(id.inquiryVendor, config.inquiryVendor);
  // The other families present the bench's settings whatever their flash holds.
  EmulatedBridge spi(Config(19));
  EXPECT_EQ(spi.PresentedIdentity().vid, Config(19).vid);
  EXPECT_EQ(spi.PresentedIdentity().serial, Config(19).usbSerial);
}

// --- DF configuration memory: erase types 0-7, bit 7.

Bytes DfWrite(uint32_t a, uint32_t n, int type) {
  return Cdb({0xDF, type, int(n >> 16), int(n >> 8 & 0xFF), int(n & 0xFF), 0, 0, 0, int(a >> 16),
              int(a >> 8 & 0xFF), int(a & 0xFF), 0xFB});
}
Bytes DfRead(uint32_t a, uint32_t n) {
  return Cdb({0xDF, 0x10, int(n >> 16), int(n >> 8 & 0xFF), int(n & 0xFF), 0, 0, 0, int(a >> 16),
              int(a >> 8 & 0xFF), int(a & 0xFF), 0xFA});
}

TEST(ConfigMemoryEraseTypes, EachTypeErasesItsUnitWithOrWithoutBit7) {
  // One byte at 0x11000: sector 0x11000 (4 KB), block 0x10000 (64 KB).
  constexpr uint32_t kAt = 0x11000;
  const struct {
    int type;
    size_t erased;  // bytes set back to 0xFF besides the written one
  } cases[] = {{0, 0},         {1, 4095},      {2, 65535},     {3, 256 * 1024 - 1},
               {4, 4095},      {5, 65535},     {6, 256 * 1024 - 1}, {7, 256 * 1024 - 1}};
  for (const auto& c : cases) {
    for (int flag : {0x00, 0x80}) {
      SCOPED_TRACE(::testing::Message() << "type " << c.type << " flag " << flag);
      ProductConfig flashBacked = Config(19);
      flashBacked.flash.blockSize = 64 * 1024;
      EmulatedBridge bridge(flashBacked);
      ASSERT_TRUE(bridge.configMemoryInFlash());
      auto& flash = bridge.flash().memory();
      std::fill(flash.begin(), flash.end(), 0x3C);
      ASSERT_EQ(Out(bridge, DfWrite(kAt, 1, c.type | flag), {0x5A}), 0);
      // Without an erase the flash can only clear bits: 0x3C AND 0x5A.
      EXPECT_EQ(flash[kAt], c.type == 0 ? 0x18 : 0x5A);
      EXPECT_EQ(CountFF(flash), c.erased);
      EXPECT_EQ(Read(bridge, DfRead(kAt, 1), 1)[0], flash[kAt]);

      ProductConfig eeprom = Config(4);
      eeprom.configMemorySize = 256 * 1024;
      eeprom.flash.blockSize = 64 * 1024;
      EmulatedBridge eepromBridge(eeprom);
      auto& memory = eepromBridge.configMemory();
      std::fill(memory.begin(), memory.end(), 0x3C);
      ASSERT_EQ(Out(eepromBridge, DfWrite(kAt, 1, c.type | flag), {0x5A}), 0);
      EXPECT_EQ(memory[kAt], 0x5A);  // an EEPROM overwrites
      EXPECT_EQ(CountFF(memory), c.erased);
    }
  }
}

TEST(ConfigMemoryEraseTypes, WholeEraseWithoutDataWritesNothing) {
  EmulatedBridge bridge(Config(11));
  auto& flash = bridge.flash().memory();
  std::fill(flash.begin(), flash.end(), 0x00);
  ASSERT_EQ(Out(bridge, DfWrite(0, 0, 3)), 0);
  EXPECT_EQ(CountFF(flash), flash.size());
}

TEST(ConfigMemoryHead, RewrittenInPlaceWhileOtherChunksShowAMissingErase) {
  ProductConfig config = Config(11);
  EmulatedBridge bridge(config);
  auto& flash = bridge.flash().memory();
  for (size_t i = 0; i < flash.size(); ++i) flash[i] = static_cast<uint8_t>(i * 13 + 1);
  const Bytes before = flash;
  // The station's EEPROM test and write-verify of the 128-byte head: type 0
  // at address 0, patterns that need bits set again.
  Bytes head = Read(bridge, DfRead(0, 128), 128);
  for (const Bytes& pattern : {Bytes{0xAA, 0x55}, Bytes{0x55, 0xAA}}) {
    head[120] = pattern[0];
    head[121] = pattern[1];
    ASSERT_EQ(Out(bridge, DfWrite(0, 128, 0), head), 0);
    EXPECT_EQ(Read(bridge, DfRead(0, 128), 128), head);
  }
  // The rest of the first sector and everything after it stay.
  EXPECT_TRUE(std::equal(before.begin() + 128, before.end(), flash.begin() + 128));
  // A type-0 chunk anywhere else is programmed over what is there.
  const Bytes chunk(128, 0xF0);
  ASSERT_EQ(Out(bridge, DfWrite(0x1000, 128, 0), chunk), 0);
  EXPECT_EQ(flash[0x1000], before[0x1000] & 0xF0);
  EXPECT_NE(Read(bridge, DfRead(0x1000, 128), 128), chunk);
}

TEST(ConfigEeprom, AbsentEepromGivesCheckCondition) {
  for (uint8_t chipType : {4, 7, 8, 17, 29}) {
    for (bool present : {true, false}) {
      SCOPED_TRACE(::testing::Message() << "chip " << int{chipType} << " present " << present);
      ProductConfig config = Config(chipType);
      config.configEepromPresent = present;
      EmulatedBridge bridge(config);
      ASSERT_FALSE(bridge.configMemoryInFlash());
      Bytes head(128);
      EXPECT_EQ(In(bridge, Cdb({0xDF, 0x10, 0, 0, 128, 0, 0, 0, 0, 0, 0, 0xFA}), &head).status,
                present ? 0 : 2);
      EXPECT_EQ(Out(bridge, Cdb({0xDF, 0x00, 0, 0, 128, 0, 0, 0, 0, 0, 0, 0xFB}), head),
                present ? 0 : 2);
    }
  }
}

// --- SPI flash through FF 04 10-14 and 20-22.

struct SpiBench {
  explicit SpiBench(ProductConfig config) : bridge(config) {}
  uint8_t Spi(std::initializer_list<int> bytes, int dataPhase = 0) {
    Bytes cdb = Cdb({0xFF, 0x04, 0x20, int(bytes.size()), dataPhase});
    size_t i = 5;
    for (int b : bytes) cdb[i++] = static_cast<uint8_t>(b);
    return Out(bridge, cdb);
  }
  uint8_t SpiData(Bytes data) {
    return Out(bridge, Cdb({0xFF, 0x04, 0x22, 0, 0, 0, 0, 0, int(data.size())}), data);
  }
  Bytes FlashRead(uint32_t a, uint32_t n) {
    return Read(bridge, Cdb({0xFF, 0x04, 0x10, int(a >> 16), int(a >> 8 & 0xFF), int(a & 0xFF)}),
                n);
  }
  uint8_t Status() { return Read(bridge, Cdb({0xFF, 0x04, 0x12}), 1)[0]; }
  // The station's AAI program of 512-byte blocks: each block prepared again
  // (EWSR, WRSR 00 00, WREN), its first word behind AD with the address at
  // a 16 KB boundary (else AD alone), the other words two to a command.
  void ProgramAai(uint32_t address, const Bytes& data) {
    for (size_t block = 0; block < data.size(); block += 512, address += 512) {
      ASSERT_EQ(Spi({0x50}), 0);
      ASSERT_EQ(Spi({0x01, 0x00, 0x00}), 0);
      ASSERT_EQ(Spi({0x06}), 0);
      if (address % 0x4000 == 0)
        ASSERT_EQ(Spi({0xAD, int(address >> 16), int(address >> 8 & 0xFF), int(address & 0xFF)}, 1),
                  0);
      else
        ASSERT_EQ(Spi({0xAD}, 1), 0);
      ASSERT_EQ(SpiData({data[block], data[block + 1]}), 0);
      for (size_t i = block + 2; i < block + 512; i += 2) ASSERT_EQ(Spi({0xAD, data[i], data[i + 1]}), 0);
    }
  }
  EmulatedBridge bridge;
};

ProductConfig SstPart() {
  ProductConfig config = Config(1);
  config.flash.jedecId = {0xBF, 0x25, 0x8D};
  config.flash.size = 512 * 1024;
  config.flash.status = 0x1C;  // these parts come up protected
  return config;
}

TEST(AutoAddressIncrement, KeepsItsAddressAcrossTheBlocksPreparedAgain) {
  SpiBench b(SstPart());
  const Bytes data = Image(0x4000, 9);
  b.ProgramAai(0x4000, Bytes(data.begin(), data.begin() + 0x2000));
  EXPECT_TRUE(b.bridge.flash().aaiMode());
  // In the mode the part ignores the firmware's read: an undriven bus.
  EXPECT_EQ(b.FlashRead(0x4000, 4), Bytes(4, 0xFF));
  b.ProgramAai(0x6000, Bytes(data.begin() + 0x2000, data.end()));  // the next piece
  ASSERT_EQ(b.Spi({0x04}), 0);  // WRDI ends the mode
  EXPECT_FALSE(b.bridge.flash().aaiMode());
  EXPECT_EQ(b.FlashRead(0x4000, 0x4000), data);
  EXPECT_EQ(b.FlashRead(0x8000, 2), Bytes(2, 0xFF));
  EXPECT_EQ(b.Status() & 0x1E, 0);  // protection cleared by the first preparation
}

TEST(AutoAddressIncrement, AnAddressSentInTheModeIsTakenAsData) {
  SpiBench b(SstPart());
  const Bytes data = Image(0x4200, 5);
  b.ProgramAai(0, data);  // crosses 0x4000 without ending the mode
  ASSERT_EQ(b.Spi({0x04}), 0);
  EXPECT_EQ(b.FlashRead(0, 0x4000), Bytes(data.begin(), data.begin() + 0x4000));
  // At 0x4000 the address bytes 00 40 were programmed, then the block ran on.
  EXPECT_EQ(b.FlashRead(0x4000, 4), (Bytes{0x00, 0x40, data[0x4002], data[0x4003]}));
}

TEST(AutoAddressIncrement, NeedsTheWriteEnableAndAnUnprotectedArray) {
  SpiBench b(SstPart());
  ASSERT_EQ(b.Spi({0xAD, 0x00, 0x00, 0x00}, 1), 0);  // no WREN
  ASSERT_EQ(b.SpiData({0x12, 0x34}), 0);
  EXPECT_FALSE(b.bridge.flash().aaiMode());
  ASSERT_EQ(b.Spi({0x06}), 0);
  ASSERT_EQ(b.Spi({0xAD, 0x07, 0xF0, 0x00}, 1), 0);  // protected top of the array
  ASSERT_EQ(b.SpiData({0x12, 0x34}), 0);
  ASSERT_EQ(b.Spi({0x04}), 0);
  EXPECT_EQ(b.FlashRead(0x7F000, 2), Bytes(2, 0xFF));
  EXPECT_EQ(b.FlashRead(0, 2), Bytes(2, 0xFF));
}

TEST(FlashProtection, PowerOnProtectBitsSilentlyBlockEveryWriteUntilCleared) {
  ProductConfig config = Config(19);
  config.flash.status = 0x1C;
  SpiBench b(config);
  auto& flash = b.bridge.flash().memory();
  std::fill(flash.begin(), flash.end(), 0x00);
  EXPECT_EQ(Out(b.bridge, DfWrite(0, 4, 2), {1, 2, 3, 4}), 0);
  EXPECT_EQ(Out(b.bridge, DfWrite(0, 0, 3)), 0);
  EXPECT_EQ(Out(b.bridge, Cdb({0xFF, 0x04, 0x14, 0, 0, 0})), 0);
  EXPECT_EQ(Out(b.bridge, Cdb({0xFF, 0x04, 0x13})), 0);
  EXPECT_EQ(CountFF(flash), 0u);  // every command succeeded, nothing changed
  b.bridge.PowerOn();             // the bits are kept across a power cycle
  EXPECT_EQ(b.Status() & 0x1C, 0x1C);
  // The station's clearing: WREN, wait for the latch, WRSR 00 (01 00).
  ASSERT_EQ(b.Spi({0x06}), 0);
  EXPECT_EQ(b.Status() & 0x02, 0x02);
  ASSERT_EQ(b.Spi({0x01, 0x00}), 0);
  EXPECT_EQ(b.Status() & 0x06, 0);
  EXPECT_EQ(Out(b.bridge, DfWrite(0, 4, 2), {1, 2, 3, 4}), 0);
  EXPECT_EQ(Read(b.bridge, DfRead(0, 4), 4), (Bytes{1, 2, 3, 4}));
}

TEST(FlashBusy, StatusReadsCountTheBusyDownAndAreCounted) {
  ProductConfig config = Config(19);
  config.flash.pageProgramUs = 0;  // busy by status reads alone
  config.flash.blockEraseMs = 0;
  config.flash.busyStatusReads = 4;
  SpiBench b(config);
  const uint64_t before = b.bridge.flash().statusReads();
  ASSERT_EQ(Out(b.bridge, DfWrite(0, 512, 2), Bytes(512, 0)), 0);
  Bytes busy;
  for (int i = 0; i < 6; ++i) busy.push_back(b.Status() & 1);
  EXPECT_EQ(busy, (Bytes{1, 1, 1, 1, 0, 0}));
  EXPECT_EQ(b.bridge.flash().statusReads() - before, 6u);
  // FF 04 00 counts too, and a raw command while busy is ignored.
  ASSERT_EQ(Out(b.bridge, DfWrite(0, 512, 0), Bytes(512, 0)), 0);
  ASSERT_EQ(b.Spi({0x06}), 0);
  EXPECT_EQ(Read(b.bridge, Cdb({0xFF, 0x04, 0x00}), 1), Bytes{1});
  EXPECT_EQ(b.Status() & 0x03, 0x01);
}

TEST(FlashTypeCode, ConfiguredCodeStandsApartFromTheId) {
  for (int code : {0, 17, 18}) {
    ProductConfig config = Config(21);
    config.flash.typeCode = code;
    EmulatedBridge bridge(config);
    EXPECT_EQ(Read(bridge, Cdb({0xFF, 0x04, 0x23, 0x04}), 4)[0], code);
    EXPECT_EQ(Read(bridge, Cdb({0xFF, 0x04, 0x15, 0x04}), 4), (Bytes{0xEF, 0x40, 0x14, 0x00}));
  }
}

// Every command moves only its own bytes (sim/benchmarks measures the cost).
TEST(FlashCost, FortyThousandAutoIncrementCommandsProgramTheirWords) {
  SpiBench b(SstPart());
  ASSERT_EQ(b.Spi({0x50}), 0);
  ASSERT_EQ(b.Spi({0x01, 0x00}), 0);
  ASSERT_EQ(b.Spi({0x06}), 0);
  ASSERT_EQ(b.Spi({0xAD, 0, 0, 0}, 1), 0);
  ASSERT_EQ(b.SpiData({0x00, 0x01}), 0);
  for (int i = 1; i < 40000; ++i) {
    Bytes cdb = Cdb({0xFF, 0x04, 0x20, 3, 0, 0xAD, i & 0xFF, i >> 8});
    ASSERT_EQ(b.bridge.Execute(cdb.data(), 12, false, nullptr, 0).status, 0);
  }
  ASSERT_EQ(b.Spi({0x04}), 0);
  EXPECT_EQ(b.FlashRead(2 * 39999, 2), (Bytes{0x3F, 0x9C}));  // 39999 = 0x9C3F
}

}  // namespace
}  // namespace sim
