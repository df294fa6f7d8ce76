// The emulated bridge answered command by command, with CDBs built here from
// the command set's byte layouts.
#include "sim/emulated_bridge.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/chip_models.h"
#include "sim/disk_image.h"
#include "sim/spi_flash.h"
#include "sim/tests/cdb_helpers.h"

namespace sim {
namespace {

using testing::Bytes;
using testing::Cdb;
using testing::In;
using testing::kChipCodes;
using testing::kChipDigits;
using testing::Reply;
using testing::StartsWith;
using testing::Text;
using testing::TypeByRevisionText;

ProductConfig Config(uint8_t chipType) {
  ProductConfig config;
  config.chipType = chipType;
  config.disk.sectors = 4096;
  config.disk.reservedSectors = 64;
  config.flash.size = 256 * 1024;
  // The commands' logic apart from the flash's time: ready at once (the
  // busy tests set their own times).
  config.flash.pageProgramUs = 0;
  config.flash.sectorEraseMs = 0;
  config.flash.blockEraseMs = 0;
  config.flash.chipEraseMs = 0;
  return config;
}

CommandResult Out(EmulatedBridge& b, const Bytes& cdb, Bytes data = {}) {
  return b.Execute(cdb.data(), static_cast<uint8_t>(cdb.size()), false,
                   data.empty() ? nullptr : data.data(), static_cast<uint32_t>(data.size()));
}

CommandResult NoData(EmulatedBridge& b, const Bytes& cdb) { return Out(b, cdb); }

// --- Identification, as the station decides it from the device's answers.

// Chip code, else chip-information digits, else the bridge id class.
int BaseChipType(EmulatedBridge& b) {
  const Reply inquiry = In(b, Cdb({0x12, 0, 0, 0, 40}, 6), 40);
  if (inquiry.result.status != 0) return 0;
  for (const auto& [code, t] : kChipCodes)
    if (Text(inquiry.data, 36, 4) == code) return t;
  const Reply id = In(b, Cdb({0xDF, 0x10, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0xFF}), 2);
  if (id.result.status != 0) return 0;
  const Reply info = In(b, Cdb({0xE0, 0xF4, 0xE7}), 16);
  if (info.result.status != 0) return 30 + ((id.data[0] >> 5) & 3);
  if (info.data.size() < 12 || info.data[0] != 0xF4 || info.data[1] != 0xE7) return 0;
  for (const auto& [digits, t] : kChipDigits)
    if (Text(info.data, 8, 3) == digits) return t;
  return 0;
}

std::string RevisionText(EmulatedBridge& b) {
  const Reply rev = In(b, Cdb({0xFF, 0x04, 0x30, 0x08}), 40);
  return rev.result.status == 0 ? Text(rev.data, 0, 8) : std::string();
}

int IdentifyChipType(EmulatedBridge& b) {
  int type = BaseChipType(b);
  if (type != 4 && type != 14) return type;
  return TypeByRevisionText(type, RevisionText(b));
}

int IdentifyWithRevisionType(EmulatedBridge& b) {
  int type = BaseChipType(b);
  if (type != 4 && type != 1 && type != 14) return type;
  const std::string text = RevisionText(b);
  if (StartsWith(text, "q645C")) return 1;
  if (StartsWith(text, "q649C")) return 4;
  if (StartsWith(text, "q649E")) return 7;
  if (StartsWith(text, "q647A")) return StartsWith(text, "q647A3") ? 16 : 15;
  return type;
}

TEST(EmulatedBridgeIdentity, EveryChipTypeIdentifiesAsItself) {
  for (uint8_t type = 1; type <= 34; ++type) {
    SCOPED_TRACE(int{type});
    EmulatedBridge bridge(Config(type));
    const ChipModel& model = *FindChipModel(type);
    int expected = type;
    if (type == 2) expected = 1;
    if (type == 10) expected = 0;
    if (type == 34) expected = 29;
    EXPECT_EQ(IdentifyChipType(bridge), expected);
    EXPECT_EQ(model.identifiable, expected == type);

    int withRevision = expected;
    if (type == 3) withRevision = 1;
    if (type == 5 || type == 6) withRevision = 4;
    EXPECT_EQ(IdentifyWithRevisionType(bridge), withRevision);
  }
}

TEST(EmulatedBridgeIdentity, ConfigurationTypeByteMapsBackToTheChip) {
  for (uint8_t type = 8; type <= 14; ++type) {
    SCOPED_TRACE(int{type});
    EmulatedBridge bridge(Config(type));
    const Reply block = In(bridge, Cdb({0xFF, 0x04, 0xA0, 0x14}), 20);
    ASSERT_EQ(block.result.status, 0);
    ASSERT_EQ(block.data.size(), 20u);
    const uint8_t v = block.data[8];
    int decoded = v == 0xC2 ? 13 : v == 0xC4 ? 14 : v - 0xA0;
    if (v == 0xAB && block.data[18] == 0xD2) decoded = 50;
    EXPECT_EQ(decoded, type);
  }
}

TEST(EmulatedBridgeIdentity, BootCodeBridgeAnswersOnlyItsBridgeId) {
  ProductConfig config = Config(21);
  config.bootCodeOnly = true;
  EmulatedBridge bridge(config);
  EXPECT_EQ(In(bridge, Cdb({0xE0, 0xF4, 0xE7}), 16).result.status, 2);
  EXPECT_EQ(In(bridge, Cdb({0xFF, 0x04, 0x12}), 1).result.status, 2);
  EXPECT_EQ(IdentifyChipType(bridge), 30);
  const Reply descriptor = In(bridge, Cdb({0x3C, 0x03, 0, 0, 0, 0, 0, 0, 4}, 10), 4);
  EXPECT_EQ(descriptor.data, (Bytes{0xFF, 0x01, 0x00, 0x00}));
}

TEST(EmulatedBridgeIdentity, InquiryAndPageC3CarryTheConfiguredIdentity) {
  ProductConfig config = Config(21);
  config.vid = 0x1234;
  config.pid = 0xABCD;
  config.usbSerial = "SN42";
  EmulatedBridge bridge(config);
  const Reply inquiry = In(bridge, Cdb({0x12, 0, 0, 0, 0xFF}, 6), 255);
  ASSERT_EQ(inquiry.result.status, 0);
  EXPECT_EQ(inquiry.result.transferred, 96u);  // a shorter reply than the buffer
  EXPECT_EQ(Text(inquiry.data, 8, 28), "KESTROVASIM BRIDGE      0100");
  EXPECT_EQ(Text(inquiry.data, 36, 4), "q871");
  const Reply page = In(bridge, Cdb({0x12, 0x01, 0xC3, 0, 84}, 6), 84);
  ASSERT_EQ(page.data.size(), 84u);
  EXPECT_EQ(page.data[8] << 8 | page.data[9], 0x1234);
  EXPECT_EQ(page.data[10] << 8 | page.data[11], 0xABCD);
  EXPECT_EQ(Text(page.data, 64, 20), "SN42                ");
}

// --- Flash through the bridge firmware's commands.

struct FlashBridge : ::testing::Test {
  FlashBridge() : bridge(Config(1)) {}
  Reply Read(uint32_t a, uint32_t n) {
    return In(bridge, Cdb({0xFF, 0x04, 0x10, int(a >> 16), int(a >> 8 & 0xFF), int(a & 0xFF)}), n);
  }
  CommandResult Write(uint32_t a, Bytes data) {
    return Out(bridge, Cdb({0xFF, 0x04, 0x11, int(a >> 16), int(a >> 8 & 0xFF), int(a & 0xFF)}),
               std::move(data));
  }
  CommandResult Spi(std::initializer_list<int> bytes, int dataPhase = 0, Bytes data = {}) {
    Bytes cdb = Cdb({0xFF, 0x04, 0x20, int(bytes.size()), dataPhase});
    size_t i = 5;
    for (int b : bytes) cdb[i++] = static_cast<uint8_t>(b);
    return Out(bridge, cdb, std::move(data));
  }
  CommandResult SpiData(Bytes data) {
    return Out(bridge, Cdb({0xFF, 0x04, 0x22, 0, 0, 0, 0, 0, int(data.size())}), data);
  }
  Reply SpiQuery(int opcode, uint32_t n) {
    EXPECT_EQ(Spi({opcode}, 1).status, 0);
    return In(bridge, Cdb({0xFF, 0x04, 0x21, 0, 0, 0, 0, int(n >> 8), int(n & 0xFF)}), n);
  }
  uint8_t Status() { return In(bridge, Cdb({0xFF, 0x04, 0x12}), 2).data.at(0); }
  EmulatedBridge bridge;
};

TEST_F(FlashBridge, ProgramWithoutEraseShowsOnReadback) {
  ASSERT_EQ(Write(0x100, {0x0F, 0xF0, 0xAA}).status, 0);
  EXPECT_EQ(Read(0x100, 3).data, (Bytes{0x0F, 0xF0, 0xAA}));
  ASSERT_EQ(Write(0x100, {0xF0, 0xF0, 0x55}).status, 0);  // no erase between
  EXPECT_EQ(Read(0x100, 3).data, (Bytes{0x00, 0xF0, 0x00}));
  // The block erase (FF 04 14) restores 0xFF over its 32 KB block only.
  ASSERT_EQ(Write(0x8000, {0x00}).status, 0);
  ASSERT_EQ(NoData(bridge, Cdb({0xFF, 0x04, 0x14, 0x00, 0x01, 0x00})).status, 0);
  EXPECT_EQ(Read(0x100, 3).data, (Bytes{0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Read(0x8000, 1).data, (Bytes{0x00}));
}

TEST_F(FlashBridge, ProtectBitsSilentlyBlockEraseAndProgram) {
  ASSERT_EQ(Write(0, {0x12}).status, 0);
  ASSERT_EQ(Spi({0x06}).status, 0);
  ASSERT_EQ(Spi({0x01, 0x1C}).status, 0);  // BP0-2: everything protected
  EXPECT_EQ(Status() & 0x1E, 0x1C);        // and the write enable latch cleared
  EXPECT_EQ(NoData(bridge, Cdb({0xFF, 0x04, 0x13})).status, 0);
  EXPECT_EQ(NoData(bridge, Cdb({0xFF, 0x04, 0x14, 0, 0, 0})).status, 0);
  EXPECT_EQ(Write(1, {0x00}).status, 0);
  EXPECT_EQ(Read(0, 2).data, (Bytes{0x12, 0xFF}));
  // Clearing the protection as the station does: WREN, then WRSR 00.
  ASSERT_EQ(Spi({0x06}).status, 0);
  EXPECT_EQ(Status() & 0x02, 0x02);
  ASSERT_EQ(Spi({0x01, 0x00}).status, 0);
  EXPECT_EQ(Status() & 0x06, 0);
  ASSERT_EQ(NoData(bridge, Cdb({0xFF, 0x04, 0x13})).status, 0);
  EXPECT_EQ(Read(0, 1).data, (Bytes{0xFF}));
}

TEST(FlashBridgeBusy, BusyCountsDownOnTheStationClock) {
  // Station time moves only as the test sleeps, however loaded the machine.
  platform::ScopedManualClock manual;
  ProductConfig config = Config(1);
  config.flash.blockEraseMs = 400;
  EmulatedBridge bridge(config);
  ASSERT_EQ(NoData(bridge, Cdb({0xFF, 0x04, 0x14, 0, 0, 0})).status, 0);
  EXPECT_EQ(In(bridge, Cdb({0xFF, 0x04, 0x12}), 2).data.at(0) & 1, 1);
  EXPECT_EQ(In(bridge, Cdb({0xFF, 0x04, 0x00}), 2).data.at(0), 1);
  platform::Sleep(450);
  EXPECT_EQ(In(bridge, Cdb({0xFF, 0x04, 0x12}), 2).data.at(0) & 1, 0);
  EXPECT_EQ(In(bridge, Cdb({0xFF, 0x04, 0x00}), 2).data.at(0), 0);
}

TEST_F(FlashBridge, RawPageProgramWrapsInsideItsPage) {
  Bytes data(32);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(Spi({0x06}).status, 0);
  ASSERT_EQ(Spi({0x02, 0x00, 0x01, 0xF0}, 1).status, 0);
  ASSERT_EQ(SpiData(data).status, 0);
  const Reply page = Read(0x100, 256);
  EXPECT_EQ(page.data[0xF0], 0);
  EXPECT_EQ(page.data[0xFF], 15);
  EXPECT_EQ(page.data[0x00], 16);  // wrapped to the page start
  EXPECT_EQ(page.data[0x0F], 31);
  EXPECT_EQ(Read(0x200, 1).data, (Bytes{0xFF}));
  // The latch was used up: another program needs a new write enable.
  ASSERT_EQ(Spi({0x02, 0x00, 0x03, 0x00, 0x00}).status, 0);
  EXPECT_EQ(Read(0x300, 1).data, (Bytes{0xFF}));
}

TEST_F(FlashBridge, AutoAddressIncrementKeepsItsAddressAcrossEnableAndStatus) {
  auto prepare = [&] {
    ASSERT_EQ(Spi({0x50}).status, 0);
    ASSERT_EQ(Spi({0x01, 0x00, 0x00}).status, 0);
    ASSERT_EQ(Spi({0x06}).status, 0);
  };
  prepare();
  ASSERT_EQ(Spi({0xAD, 0x00, 0x40, 0x00}, 1).status, 0);
  ASSERT_EQ(SpiData({0x01, 0x02}).status, 0);
  ASSERT_EQ(Spi({0xAD, 0x03, 0x04}).status, 0);
  prepare();  // the next block re-sends the preparation
  ASSERT_EQ(Spi({0xAD}, 1).status, 0);
  ASSERT_EQ(SpiData({0x05, 0x06}).status, 0);
  ASSERT_EQ(Spi({0xAD, 0x07, 0x08}).status, 0);
  ASSERT_EQ(Spi({0x04}).status, 0);  // WRDI ends the mode
  ASSERT_EQ(Spi({0xAD, 0x09, 0x0A}).status, 0);
  EXPECT_EQ(Read(0x4000, 10).data, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0xFF, 0xFF}));
}

TEST(FlashBridgeIds, IdRepliesWithTheirDummyBytes) {
  ProductConfig config = Config(1);
  config.flash.jedecId = {0xBF, 0x25, 0x8D};
  config.flash.signature = 0x48;
  EmulatedBridge bridge(config);
  auto query = [&](int opcode) {
    EXPECT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0x20, 1, 1, opcode})).status, 0);
    return In(bridge, Cdb({0xFF, 0x04, 0x21, 0, 0, 0, 0, 0, 4}), 4).data;
  };
  EXPECT_EQ(query(0x9F), (Bytes{0xBF, 0x25, 0x8D, 0x00}));
  EXPECT_EQ(query(0x90), (Bytes{0xFF, 0xFF, 0xFF, 0xBF}));  // three address bytes first
  EXPECT_EQ(query(0xAB), (Bytes{0xFF, 0xFF, 0xFF, 0x48}));
  EXPECT_EQ(query(0x15), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));  // not a 1F part
  // The firmware's query forms: 15 04 0 is the id it read; "wide" clocks the dummies.
  EXPECT_EQ(In(bridge, Cdb({0xFF, 0x04, 0x15, 0x04}), 4).data, (Bytes{0xBF, 0x25, 0x8D, 0}));
  EXPECT_EQ(In(bridge, Cdb({0xFF, 0x04, 0x15, 0x03, 0xAB, 0x03}), 3).data,
            (Bytes{0x48, 0x48, 0x48}));
  // A reply read with no transaction open is refused.
  EXPECT_EQ(In(bridge, Cdb({0xFF, 0x04, 0x21, 0, 0, 0, 0, 0, 4}), 4).result.status, 2);
}

TEST(FlashBridgeIds, FlashTypeCodeFollowsTheJedecId) {
  const struct {
    Bytes id;
    uint8_t code;
  } cases[] = {{{0xEF, 0x40, 0x14}, 6}, {{0xC2, 0x20, 0x13}, 5}, {{0x1F, 0x45, 0x01}, 4},
               {{0xC8, 0x40, 0x14}, 11}, {{0x7F, 0x9D, 0x7C}, 1}, {{0x12, 0x34, 0x56}, 0}};
  for (const auto& c : cases) {
    ProductConfig config = Config(9);
    config.flash.jedecId = c.id;
    EmulatedBridge bridge(config);
    const Reply r = In(bridge, Cdb({0xFF, 0x04, 0x23, 0x04}), 4);
    ASSERT_EQ(r.data.size(), 4u);
    EXPECT_EQ(r.data[0], c.code) << int{c.id[0]};
  }
}

// --- Configuration memory (DF FA/FB) and registers.

Bytes DfWrite(uint32_t address, uint32_t n, uint8_t eraseType) {
  return Cdb({0xDF, eraseType, int(n >> 16), int(n >> 8 & 0xFF), int(n & 0xFF), 0, 0, 0,
              int(address >> 16), int(address >> 8 & 0xFF), int(address & 0xFF), 0xFB});
}
Bytes DfRead(uint32_t address, uint32_t n) {
  return Cdb({0xDF, 0x10, int(n >> 16), int(n >> 8 & 0xFF), int(n & 0xFF), 0, 0, 0,
              int(address >> 16), int(address >> 8 & 0xFF), int(address & 0xFF), 0xFA});
}

TEST(ConfigMemory, FlashBackedWritesHonourTheEraseTypes) {
  EmulatedBridge bridge(Config(19));
  ASSERT_TRUE(bridge.configMemoryInFlash());
  ASSERT_EQ(Out(bridge, DfWrite(0x1000, 2, 0), {0x0F, 0x3C}).status, 0);
  ASSERT_EQ(Out(bridge, DfWrite(0x1000, 2, 0), {0xF0, 0xFF}).status, 0);
  EXPECT_EQ(In(bridge, DfRead(0x1000, 2), 2).data, (Bytes{0x00, 0x3C}));  // no erase: ANDed
  ASSERT_EQ(Out(bridge, DfWrite(0x2000, 1, 0), {0x00}).status, 0);
  // Type 1 erases the 4 KB sector the chunk begins in, then writes.
  ASSERT_EQ(Out(bridge, DfWrite(0x1000, 1, 1), {0x5A}).status, 0);
  EXPECT_EQ(In(bridge, DfRead(0x1000, 2), 2).data, (Bytes{0x5A, 0xFF}));
  EXPECT_EQ(In(bridge, DfRead(0x2000, 1), 1).data, (Bytes{0x00}));
  // Type 2 (with bit 7 set, as on the first chunk of one flash type) the block.
  ASSERT_EQ(Out(bridge, DfWrite(0x0000, 1, 0x82), {0x11}).status, 0);
  EXPECT_EQ(In(bridge, DfRead(0x2000, 1), 1).data, (Bytes{0xFF}));
  // Type 3 with no data erases the whole flash.
  ASSERT_EQ(Out(bridge, DfWrite(0, 0, 3)).status, 0);
  EXPECT_EQ(In(bridge, DfRead(0, 1), 1).data, (Bytes{0xFF}));
}

TEST(ConfigMemory, EepromBackedWritesOverwrite) {
  EmulatedBridge bridge(Config(4));
  ASSERT_FALSE(bridge.configMemoryInFlash());
  for (Bytes pattern : {Bytes{0xAA, 0x55}, Bytes{0x55, 0xAA}}) {
    ASSERT_EQ(Out(bridge, DfWrite(120, 2, 0), pattern).status, 0);
    EXPECT_EQ(In(bridge, DfRead(120, 2), 2).data, pattern);
  }
  EXPECT_EQ(bridge.configMemory()[120], 0x55);
  EXPECT_EQ(bridge.flash().memory()[120], 0xFF);  // the firmware flash is apart

  ProductConfig noEeprom = Config(4);
  noEeprom.configEepromPresent = false;
  EmulatedBridge bare(noEeprom);
  EXPECT_EQ(In(bare, DfRead(0, 128), 128).result.status, 2);
  EXPECT_EQ(Out(bare, DfWrite(0, 2, 0), {1, 2}).status, 2);
}

TEST(Registers, ReadWriteAndTheOneByteRule) {
  EmulatedBridge bridge(Config(11));
  const Bytes write = Cdb({0xDF, 0x00, 0, 0, 1, 0, 0x70, 0x59, 0, 0, 0, 0xFE});
  // A one-byte write goes out as two bytes, the second 0: only one is taken.
  ASSERT_EQ(Out(bridge, write, {0x18, 0x00}).status, 0);
  EXPECT_EQ(bridge.registers()[0x7059], 0x18);
  EXPECT_EQ(bridge.registers()[0x705A], 0x00);
  const Reply read = In(bridge, Cdb({0xDF, 0x10, 0, 0, 1, 0, 0x70, 0x59, 0, 0, 0, 0xFD}), 2);
  EXPECT_EQ(read.result.transferred, 1u);
  EXPECT_EQ(read.data, (Bytes{0x18}));
  // The signature record of the running firmware.
  const Reply record = In(bridge, Cdb({0xDF, 0x10, 0, 0, 10, 0, 0xC0, 0x00, 0, 0, 0, 0xFD}), 10);
  EXPECT_EQ(Text(record.data, 0, 7), std::string("\x55\xAA\xAA\x55") + "665");
}

// --- The drive behind the bridge.

TEST(Drive, AtaTunnelIdentifySmartAndPositions) {
  EmulatedBridge bridge(Config(9));
  const Reply id = In(bridge, Cdb({0xDF, 0x10, 0, 2, 0, 0, 0, 0, 0, 0, 0xA0, 0xEC}), 512);
  ASSERT_EQ(id.result.status, 0);
  EXPECT_EQ(Text(id.data, 54, 12), "VKS MID SI K");  // model, byte-swapped words
  EXPECT_EQ(In(bridge, Cdb({0xDF, 0x10, 0, 2, 0, 0, 0, 0, 0, 0, 0xB0, 0xEC}), 512).result.status,
            2);
  EXPECT_EQ(In(bridge, Cdb({0xDF, 0x10, 0, 2, 0, 0, 0, 0, 0, 0, 0xA0, 0xA1}), 512).result.status,
            2);
  const Bytes smart = Cdb({0xDF, 0x10, 0, 0, 1, 0xDA, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0});
  const Reply status = In(bridge, smart, 2);
  EXPECT_EQ(status.result.status, 0);
  EXPECT_EQ(status.data, (Bytes{0xC2}));
  const Reply sat = In(bridge, Cdb({0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0xA0, 0xEC}), 512);
  EXPECT_EQ(sat.data, id.data);
  EXPECT_EQ(NoData(bridge, Cdb({0xA1, 0x06, 0x0E, 0, 0, 0, 0, 0, 0xA0, 0xEA})).status, 0);

  ProductConfig noDisk = Config(9);
  noDisk.disk.present = false;
  EmulatedBridge empty(noDisk);
  EXPECT_EQ(In(empty, smart, 2).result.status, 2);

  ProductConfig packet = Config(9);
  packet.disk.packetDevice = true;
  EmulatedBridge atapi(packet);
  EXPECT_EQ(In(atapi, Cdb({0xDF, 0x10, 0, 2, 0, 0, 0, 0, 0, 0, 0xA0, 0xEC}), 512).result.status,
            2);
  const Reply packetId = In(atapi, Cdb({0xDF, 0x10, 0, 2, 0, 0, 0, 0, 0, 0, 0xA0, 0xA1}), 512);
  EXPECT_EQ(packetId.result.status, 0);
  EXPECT_EQ(packetId.data[1] & 0xC0, 0x80);  // ATAPI in word 0
}

Bytes Pt16(bool write, uint64_t lba, uint16_t count) {
  return Cdb({0x85, write ? 0x17 : 0x15, write ? 0x03 : 0x0B, 0, 0, count >> 8, count & 0xFF,
              int(lba >> 24 & 0xFF), int(lba & 0xFF), int(lba >> 32 & 0xFF),
              int(lba >> 8 & 0xFF), int(lba >> 40 & 0xFF), int(lba >> 16 & 0xFF), 0x60,
              write ? 0x35 : 0x25, 0},
             16);
}

TEST(Drive, BlockPathsMeetOnTheSameSectors) {
  EmulatedBridge bridge(Config(21));
  Bytes sector(512);
  for (size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<uint8_t>(i * 7);
  // Reserved sector past the visible 4096, written through ATA PASS-THROUGH(16).
  ASSERT_EQ(Out(bridge, Pt16(true, 4100, 1), sector).status, 0);
  const Bytes tunnel = Cdb({0xDF, 0x10, 0, 2, 0, 0, 1, 0x04, 0x10, 0, 0xA0, 0x25});
  EXPECT_EQ(In(bridge, tunnel, 512).data, sector);
  EXPECT_EQ(In(bridge, Pt16(false, 4100, 1), 512).data, sector);
  // SCSI READ(10) sees only the visible capacity.
  EXPECT_EQ(In(bridge, Cdb({0x28, 0, 0, 0, 0x10, 0x04, 0, 0, 1, 0}, 10), 512).result.status, 2);
  ASSERT_EQ(Out(bridge, Cdb({0x2A, 0, 0, 0, 0x0F, 0xFF, 0, 0, 1, 0}, 10), sector).status, 0);
  EXPECT_EQ(In(bridge, Pt16(false, 4095, 1), 512).data, sector);
  EXPECT_EQ(In(bridge, Cdb({0x28, 0, 0, 0, 0x0F, 0xFF, 0, 0, 2, 0}, 10), 1024).result.status, 2);

  const Reply cap10 = In(bridge, Cdb({0x25}, 10), 8);
  EXPECT_EQ(cap10.data, (Bytes{0, 0, 0x0F, 0xFF, 0, 0, 2, 0}));
  const Reply cap16 = In(bridge, Cdb({0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32}, 16), 32);
  ASSERT_EQ(cap16.data.size(), 32u);
  EXPECT_EQ(cap16.data[7], 0xFF);
  EXPECT_EQ(cap16.data[6], 0x0F);
  EXPECT_EQ(cap16.data[10], 2);
}

TEST(Drive, FourKiBDiskRefusesPartialSectors) {
  ProductConfig config = Config(21);
  config.disk.sectorSize = 4096;
  EmulatedBridge bridge(config);
  Bytes sector(4096, 0x5A);
  ASSERT_EQ(Out(bridge, Pt16(true, 3, 1), sector).status, 0);
  EXPECT_EQ(In(bridge, Pt16(false, 3, 1), 4096).data, sector);
  // Counted in 512-byte units, or a buffer that is not whole sectors.
  EXPECT_EQ(In(bridge, Pt16(false, 3, 8), 4096).result.status, 2);
  EXPECT_EQ(Out(bridge, Pt16(true, 3, 1), Bytes(512)).status, 2);
  EXPECT_EQ(In(bridge, Pt16(false, 3, 1), 4096 + 512).result.status, 2);
  EXPECT_EQ(In(bridge, Cdb({0x28, 0, 0, 0, 0, 3, 0, 0, 1, 0}, 10), 512).result.status, 2);
  EXPECT_EQ(In(bridge, Pt16(false, 3, 1), 4096).data, sector);
}

// --- Buffers, power condition, identity record, resets.

TEST(Vendor, BufferDescriptorPerFamily) {
  const struct {
    uint8_t type;
    Bytes descriptor;
  } cases[] = {{21, {0x0C, 0x02, 0x00, 0x00}}, {25, {0x0A, 0x00, 0xC6, 0x00}},
               {27, {0x0A, 0x01, 0x06, 0x00}}};
  for (const auto& c : cases) {
    EmulatedBridge bridge(Config(c.type));
    EXPECT_EQ(In(bridge, Cdb({0x3C, 0x03, 0, 0, 0, 0, 0, 0, 4}, 10), 4).data, c.descriptor);
  }
  EmulatedBridge older(Config(9));
  EXPECT_EQ(In(older, Cdb({0x3C, 0x03, 0, 0, 0, 0, 0, 0, 4}, 10), 4).result.status, 2);
}

TEST(Vendor, WrittenStateReadsBack) {
  EmulatedBridge bridge(Config(21));
  // WRITE BUFFER data then READ BUFFER of the same bytes.
  ASSERT_EQ(Out(bridge, Cdb({0x3B, 0x0E, 0x01, 0, 0x10, 0, 0, 0, 3}, 10), {7, 8, 9}).status, 0);
  EXPECT_EQ(In(bridge, Cdb({0x3C, 0x01, 0x01, 0, 0x10, 0, 0, 0, 3}, 10), 3).data,
            (Bytes{7, 8, 9}));
  // MODE SELECT of page 1A, then MODE SENSE of it.
  Bytes select(48, 0);
  select[8] = 0x1A;
  select[9] = 0x26;
  select[11] = 0x01;
  select[18] = 0x02;  // standby timer 600 x 100 ms
  select[19] = 0x58;
  ASSERT_EQ(Out(bridge, Cdb({0x55, 0x01, 0, 0, 0, 0, 0, 0, 0x30, 0}, 10), select).status, 0);
  const Reply sense = In(bridge, Cdb({0x5A, 0x08, 0x1A, 0, 0, 0, 0, 0, 48, 0}, 10), 48);
  ASSERT_EQ(sense.data.size(), 48u);
  EXPECT_EQ(sense.data[11], 0x01);
  EXPECT_EQ(sense.data[18] << 8 | sense.data[19], 600);
  // Identity record.
  Bytes record(72, 0);
  record[0] = 0x42;
  ASSERT_EQ(Out(bridge, Cdb({0xC3, 0x30, 0, 0, 0x12, 0x34, 0x56, 0x78, 0, 0x48}), record).status,
            0);
  EXPECT_EQ(bridge.vendorState().identityRecord, record);
  EXPECT_EQ(bridge.vendorState().identityValue1, 0x1234);
  EXPECT_EQ(bridge.vendorState().identityValue2, 0x5678);
  // Standby timer.
  ASSERT_EQ(NoData(bridge, Cdb({0xFF, 0x04, 0xA3, 1, 0, 0, 0x17, 0x70})).status, 0);
  EXPECT_TRUE(bridge.vendorState().standbyEnabled);
  EXPECT_EQ(bridge.vendorState().standbyTime, 6000u);
  // Opcode table.
  ASSERT_EQ(NoData(bridge, Cdb({0xFF, 0x04, 0x0F, 0xC7, 0xD8, 0x02, 0x20, 0, 32})).status, 0);
  EXPECT_EQ(bridge.vendorState().opcodeParameter, 32);
}

TEST(Vendor, ResetCommandsAskForAReset) {
  EmulatedBridge bridge(Config(21));
  EXPECT_TRUE(In(bridge, Cdb({0xFF, 0x04, 0x26, 'Q', 'V'}), 0).result.resetRequested);
  EXPECT_EQ(In(bridge, Cdb({0xFF, 0x04, 0x26, 'Q', 'X'}), 0).result.status, 2);
  EXPECT_TRUE(NoData(bridge, Cdb({0x3B, 0x0F}, 10)).resetRequested);
  EXPECT_FALSE(NoData(bridge, Cdb({0xFF, 0x04, 0x51, 'V', 'U'})).resetRequested);
  EXPECT_TRUE(bridge.vendorState().keyCommand);
  bridge.PowerOn();
  EXPECT_FALSE(bridge.vendorState().keyCommand);
}

// --- Lengths and directions that do not fit: CHECK CONDITION, nothing moved.

TEST(BadRequests, RefusedWithoutTouchingMemoryPastTheBuffer) {
  const struct {
    const char* what;
    uint8_t chip;
    Bytes cdb;
    bool dataIn;
    uint32_t length;
  } cases[] = {
      {"register read longer than the buffer", 9,
       Cdb({0xDF, 0x10, 0, 0, 64, 0, 0, 0, 0, 0, 0, 0xFD}), true, 16},
      {"register read past 64 KB", 9, Cdb({0xDF, 0x10, 0, 0, 4, 0, 0xFF, 0xFE, 0, 0, 0, 0xFD}),
       true, 4},
      {"register write longer than the data", 9,
       Cdb({0xDF, 0x00, 0, 0, 64, 0, 0, 0, 0, 0, 0, 0xFE}), false, 16},
      {"config read longer than the buffer", 19, DfRead(0, 4096), true, 512},
      {"config read past the flash", 19, DfRead(0x3FFFF, 2), true, 2},
      {"config write past the EEPROM", 4, DfWrite(0xFFFF, 2, 0), false, 2},
      {"identify into a short buffer", 9, Cdb({0xDF, 0x10, 0, 2, 0, 0, 0, 0, 0, 0, 0xA0, 0xEC}),
       true, 256},
      {"tunnel read count beyond the length", 9,
       Cdb({0xDF, 0x10, 0, 2, 0, 0, 2, 0, 0, 0, 0xA0, 0x25}), true, 512},
      {"tunnel read beyond the disk", 9,
       Cdb({0xDF, 0x10, 0, 2, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xAF, 0x25}), true, 512},
      {"SAT identify into a short buffer", 9, Cdb({0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0xA0, 0xEC}),
       true, 100},
      {"READ(10) longer than the buffer", 21, Cdb({0x28, 0, 0, 0, 0, 0, 0, 0, 4, 0}, 10), true,
       1024},
      {"READ(10) past the capacity", 21, Cdb({0x28, 0, 0, 0, 0x0F, 0xFF, 0, 0, 2, 0}, 10), true,
       1024},
      {"WRITE(10) as data in", 21, Cdb({0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 10), true, 512},
      {"READ(10) as data out", 21, Cdb({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 10), false, 512},
      {"SPI reply longer than the buffer", 1, Cdb({0xFF, 0x04, 0x21, 0, 0, 0, 0, 1, 0}), true, 16},
      {"SPI data longer than the buffer", 1, Cdb({0xFF, 0x04, 0x22, 0, 0, 0, 0, 0, 200}), false,
       16},
      {"SPI record of no bytes", 1, Cdb({0xFF, 0x04, 0x20, 0, 0}), false, 0},
      {"SPI record of eight bytes", 1, Cdb({0xFF, 0x04, 0x20, 8, 0}), false, 0},
      {"flash read past the end", 1, Cdb({0xFF, 0x04, 0x10, 0x03, 0xFF, 0xF0}), true, 32},
      {"flash write as data in", 1, Cdb({0xFF, 0x04, 0x11, 0, 0, 0}), true, 32},
      {"flash read32 past the end", 29, Cdb({0xFF, 0x04, 0x03, 0xF0, 0xFF, 0x03, 0}), true, 32},
      {"set type block short", 29, Cdb({0xFF, 0x04, 0x04}), false, 10},
      {"erase with data", 1, Cdb({0xFF, 0x04, 0x13}), false, 4},
      {"unknown FF 04 operation", 1, Cdb({0xFF, 0x04, 0x77}), true, 4},
      {"unknown opcode", 1, Cdb({0x01}), true, 4},
      {"short vendor CDB", 1, Cdb({0xFF, 0x04, 0x12}, 6), true, 4},
      {"buffer read past the capacity", 21, Cdb({0x3C, 0x02, 0, 0x04, 0x60, 0, 0, 0, 1}, 10),
       true, 1},
      {"buffer write longer than the data", 21, Cdb({0x3B, 0x0E, 0, 0, 0, 0, 0, 0x10, 0}, 10),
       false, 16},
      {"mode select longer than the data", 21, Cdb({0x55, 0x01, 0, 0, 0, 0, 0, 0, 0x30, 0}, 10),
       false, 40},
      {"identity record short", 21, Cdb({0xC3, 0x30, 0, 0, 0, 0, 0, 0, 0, 0x48}), false, 64},
      {"identity record of another length", 21, Cdb({0xC3, 0x30, 0, 0, 0, 0, 0, 0, 0, 0x40}),
       false, 64},
      {"ATA PASS-THROUGH(16) past the reserve", 21, Pt16(false, 4096 + 64, 1), true, 512},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EmulatedBridge bridge(Config(c.chip));
    const Bytes before = bridge.flash().memory();
    const Bytes registersBefore = bridge.registers();
    // Exactly the host's length on the heap, so a write past it trips the
    // address sanitizer; the pattern shows writes inside it.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[c.length ? c.length : 1]);
    std::memset(buffer.get(), 0xA5, c.length ? c.length : 1);
    const CommandResult result =
        bridge.Execute(c.cdb.data(), static_cast<uint8_t>(c.cdb.size()), c.dataIn,
                       c.length ? buffer.get() : nullptr, c.length);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.transferred, 0u);
    for (uint32_t i = 0; i < c.length; ++i) ASSERT_EQ(buffer[i], 0xA5) << "byte " << i;
    EXPECT_TRUE(bridge.flash().memory() == before);
    EXPECT_TRUE(bridge.registers() == registersBefore);
  }
}

TEST(BadRequests, NullBufferWithALengthIsRefused) {
  EmulatedBridge bridge(Config(1));
  const Bytes cdb = Cdb({0xFF, 0x04, 0x12});
  EXPECT_EQ(bridge.Execute(cdb.data(), 12, true, nullptr, 4).status, 2);
  EXPECT_EQ(bridge.Execute(nullptr, 12, true, nullptr, 0).status, 2);
}

}  // namespace
}  // namespace sim
