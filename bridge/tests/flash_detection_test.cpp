// SPI flash detection: every row of the id ladders reachable, the cases the
// ladders are meant to decide, unknown ids giving 255, and the detection and
// preparation on emulated flash parts.
#include "bridge/flash_detection.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "bridge/tests/bench_fixture.h"
#include "bridge/vendor_commands.h"

namespace bridge {
namespace {

using testing::BenchTest;
using testing::MakeFault;
using testing::TestProduct;

// Every value a table names, plus two it names nowhere.
template <size_t N>
std::vector<uint8_t> Candidates(const std::array<FlashIdRow, N>& table) {
  std::set<uint8_t> values = {0x00, 0x5A};
  for (const FlashIdRow& row : table)
    for (const IdByte& b : {row.b0, row.b1, row.b2})
      for (uint8_t i = 0; i < b.count; ++i) values.insert(b.values[i]);
  return {values.begin(), values.end()};
}

// Some id for which the row is the first match, when there is one.
template <size_t N>
bool Reachable(const std::array<FlashIdRow, N>& table, size_t index) {
  const std::vector<uint8_t> values = Candidates(table);
  for (uint8_t b0 : values)
    for (uint8_t b1 : values)
      for (uint8_t b2 : values) {
        const uint8_t id[3] = {b0, b1, b2};
        if (MatchFlashId(table, id) == &table[index]) return true;
      }
  return false;
}

TEST(FlashIdTables, EveryRowIsReachable) {
  for (size_t i = 0; i < kJedecIdTable.size(); ++i) EXPECT_TRUE(Reachable(kJedecIdTable, i)) << i;
  for (size_t i = 0; i < kParamIdTable.size(); ++i) EXPECT_TRUE(Reachable(kParamIdTable, i)) << i;
  for (size_t i = 0; i < kReportedIdTable.size(); ++i)
    EXPECT_TRUE(Reachable(kReportedIdTable, i)) << i;
}

enum class Table { kJedec, kParam, kReported };

struct IdCase {
  Table table;
  uint8_t id[3];
  int type;  // -1: undecided
};

SpiFlashType Decide(Table table, const uint8_t* id) {
  const FlashIdRow* row = table == Table::kJedec   ? MatchFlashId(kJedecIdTable, id)
                          : table == Table::kParam ? MatchFlashId(kParamIdTable, id)
                                                   : MatchFlashId(kReportedIdTable, id);
  return row ? row->type : kSpiFlashTypeUnknown;
}

TEST(FlashIdTables, DecideTheListedParts) {
  const IdCase cases[] = {
      {Table::kJedec, {0x7F, 0x37, 0x20}, 9},   {Table::kJedec, {0x37, 0x30, 0x00}, 9},
      {Table::kJedec, {0x37, 0x31, 0x00}, -1},  {Table::kJedec, {0x1F, 0x47, 0x00}, 6},
      {Table::kJedec, {0xC2, 0x20, 0x15}, 7},   {Table::kJedec, {0xEF, 0x40, 0x14}, 8},
      {Table::kJedec, {0x20, 0x20, 0x14}, 5},   {Table::kJedec, {0x1C, 0x31, 0x13}, 10},
      {Table::kJedec, {0x8C, 0x20, 0x13}, 11},  {Table::kJedec, {0x7F, 0x9D, 0x20}, 3},
      {Table::kJedec, {0x62, 0x06, 0x13}, 12},  {Table::kJedec, {0xC8, 0x40, 0x13}, 13},
      {Table::kJedec, {0xA1, 0x28, 0x13}, 14},  {Table::kJedec, {0x9D, 0x40, 0x13}, 15},
      {Table::kJedec, {0x9D, 0x60, 0x13}, -1},  {Table::kJedec, {0xE0, 0x40, 0x10}, 16},
      {Table::kJedec, {0x0B, 0x40, 0x13}, -1},  {Table::kJedec, {0x00, 0x00, 0x00}, -1},
      {Table::kJedec, {0xFF, 0xFF, 0xFF}, -1},
      {Table::kParam, {0x9D, 0x60, 0x13}, 15},  {Table::kParam, {0xE0, 0x40, 0x10}, 17},
      {Table::kParam, {0xE0, 0x40, 0x11}, 16},  {Table::kParam, {0x0B, 0x40, 0x13}, 19},
      {Table::kParam, {0x0E, 0x40, 0x11}, 18},  {Table::kParam, {0x85, 0x60, 0x13}, 20},
      {Table::kParam, {0x68, 0x40, 0x14}, 18},  {Table::kParam, {0xEF, 0x40, 0x13}, 8},
      {Table::kParam, {0x0B, 0x40, 0x14}, -1},  {Table::kParam, {0x00, 0x00, 0x00}, -1},
      {Table::kReported, {0xC8, 0x40, 0x13}, 13}, {Table::kReported, {0x7F, 0x9D, 0x00}, 15},
      {Table::kReported, {0x9D, 0x60, 0x00}, 15}, {Table::kReported, {0x0E, 0x40, 0x13}, 18},
      {Table::kReported, {0x68, 0x40, 0x11}, 18}, {Table::kReported, {0x68, 0x40, 0x17}, 18},
      {Table::kReported, {0xE0, 0x40, 0x10}, 17}, {Table::kReported, {0xE0, 0x40, 0x12}, 16},
      {Table::kReported, {0x85, 0x60, 0x00}, 20}, {Table::kReported, {0x0B, 0x40, 0x13}, 19},
      {Table::kReported, {0xEF, 0x40, 0x14}, -1}, {Table::kReported, {0x0E, 0x40, 0x14}, -1},
  };
  for (const IdCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "table " << static_cast<int>(c.table) << " id "
                                      << std::hex << int{c.id[0]} << " " << int{c.id[1]} << " "
                                      << int{c.id[2]});
    EXPECT_EQ(Decide(c.table, c.id), c.type < 0 ? kSpiFlashTypeUnknown : c.type);
  }
}

TEST(FlashIdTables, OpcodeChangesOfTheListedParts) {
  const uint8_t eon[3] = {0x62, 0x06, 0x13};
  const uint8_t gd[3] = {0xC8, 0x40, 0x13};
  EXPECT_EQ(MatchFlashId(kJedecIdTable, eon)->change.sectorErase, 0xD7);
  EXPECT_EQ(MatchFlashId(kJedecIdTable, gd)->change.blockErase, 0x52);
  EXPECT_EQ(MatchFlashId(kReportedIdTable, gd)->change.blockErase, 0x52);
}

TEST(SpiFlashTypeFromCode, CodePlusTwoAndUnknownForZeroOrOverflow) {
  EXPECT_EQ(SpiFlashTypeFromCode(0), kSpiFlashTypeUnknown);
  EXPECT_EQ(SpiFlashTypeFromCode(1), 3);
  EXPECT_EQ(SpiFlashTypeFromCode(5), 7);
  EXPECT_EQ(SpiFlashTypeFromCode(17), 19);
  EXPECT_EQ(SpiFlashTypeFromCode(253), kSpiFlashTypeUnknown);
  EXPECT_EQ(SpiFlashTypeFromCode(255), kSpiFlashTypeUnknown);
}

// ---- on the bench ----

sim::ProductConfig FlashProduct(uint8_t chipType, std::vector<uint8_t> jedecId, int signature = -1) {
  sim::ProductConfig config = TestProduct("flash");
  config.chipType = chipType;
  config.flash.jedecId = std::move(jedecId);
  config.flash.signature = signature;
  return config;
}

// The SPI opcodes clocked by FF 04 20 and the parameter queries of FF 04 15.
std::vector<std::string> IdCommands(const std::vector<sim::TraceEntry>& trace) {
  std::vector<std::string> out;
  char text[32];
  for (const sim::TraceEntry& e : trace) {
    if (e.cdb.size() < 6 || e.cdb[0] != 0xFF || e.cdb[1] != 0x04) continue;
    if (e.cdb[2] == 0x20 && e.cdb[4] == 1) {
      std::snprintf(text, sizeof(text), "spi %02X", e.cdb[5]);
      out.push_back(text);
    } else if (e.cdb[2] == 0x15 && e.cdb[3] != 0x04) {
      std::snprintf(text, sizeof(text), "param%d %02X%s", e.cdb[3], e.cdb[4],
                    e.cdb[5] == 3 ? " wide" : "");
      out.push_back(text);
    } else if (e.cdb[2] == 0x15) {
      std::snprintf(text, sizeof(text), "param4 %02X%s", e.cdb[4], e.cdb[5] == 3 ? " wide" : "");
      out.push_back(text);
    }
  }
  return out;
}

class DetectionTest : public BenchTest {
 protected:
  explicit DetectionTest(sim::ProductConfig config) : BenchTest({config}) {}
};

class KnownPartTest : public DetectionTest {
 protected:
  KnownPartTest() : DetectionTest(FlashProduct(7, {0x62, 0x06, 0x13})) {}
};

TEST_F(KnownPartTest, ReadIdDecidesAndChangesTheOpcodes) {
  SpiFlashRecord record;
  ASSERT_EQ(DetectSpiFlashType(path(), &record), 1);
  EXPECT_EQ(record.type, 12);
  EXPECT_EQ(record.sectorErase, 0xD7);
  EXPECT_EQ(record.chipErase, 0xC7);
  EXPECT_EQ(record.blockErase, 0xD8);
  EXPECT_EQ(record.program, 0x02);
  EXPECT_EQ(GetSpiFlashType(7, path()), 12);
}

class SilentPartTest : public DetectionTest {
 protected:
  SilentPartTest() : DetectionTest(FlashProduct(7, {0x00, 0x00, 0x00}, 0x00)) {}
};

TEST_F(SilentPartTest, AllZeroIdFallsThroughEveryOlderCommandToUnknown) {
  Trace();
  SpiFlashRecord record;
  record.type = 3;
  EXPECT_EQ(DetectSpiFlashType(path(), &record), 0);
  EXPECT_EQ(record.type, kSpiFlashTypeUnknown);  // the defaults, not what was there
  EXPECT_EQ(record.chipErase, 0xC7);
  const std::vector<std::string> expected = {"spi 9F",     "spi 90",     "spi AB", "spi 15",
                                             "param3 15", "param3 AB wide"};
  EXPECT_EQ(IdCommands(Trace()), expected);
  EXPECT_EQ(GetSpiFlashType(7, path()), kSpiFlashTypeUnknown);
}

TEST_F(SilentPartTest, ParamLadderAsksTheBridgeInItsOrder) {
  Trace();
  SpiFlashRecord record;
  EXPECT_EQ(DetectSpiFlashTypeByParam(path(), &record), 0);
  const std::vector<std::string> expected = {"param4 9F", "param4 90", "param4 AB wide",
                                             "param4 15", "param4 AB wide"};
  EXPECT_EQ(IdCommands(Trace()), expected);
}

TEST_F(SilentPartTest, FailedCommandsLeaveEverythingUndecided) {
  product().AddFault([] {
    sim::Fault f = MakeFault(sim::Fault::Kind::CheckCondition);
    f.count = -1;
    return f;
  }());
  SpiFlashRecord record;
  EXPECT_EQ(DetectSpiFlashType(path(), &record), 0);
  EXPECT_EQ(DetectSpiFlashTypeByParam(path(), &record), 0);
  EXPECT_EQ(DetectSpiFlashTypeFromId(path(), &record), 0);
  for (ChipType chip : {1, 7, 13, 21, 25})
    EXPECT_EQ(GetSpiFlashType(chip, path()), kSpiFlashTypeUnknown) << int{chip};
}

class SstPartTest : public DetectionTest {
 protected:
  SstPartTest() : DetectionTest(FlashProduct(7, {0xBF, 0x25, 0x8E})) {}
};

TEST_F(SstPartTest, ManufacturerIdOfOpcode90DecidesTypeFourWithItsOpcodes) {
  SpiFlashRecord record;
  ASSERT_EQ(DetectSpiFlashType(path(), &record), 1);
  EXPECT_EQ(record.type, 4);
  EXPECT_EQ(record.chipErase, 0x60);
  EXPECT_EQ(record.blockErase, 0x52);
  EXPECT_EQ(record.program, 0xAF);
}

struct TypeCodeCase {
  uint8_t chipType;
  std::vector<uint8_t> jedecId;
};

class ReportedTypeTest : public DetectionTest {
 protected:
  ReportedTypeTest() : DetectionTest(FlashProduct(1, {0xC2, 0x20, 0x15})) {}
  int Code() {
    uint8_t reply[4] = {};
    return ReadFlashTypeCode(path(), reply) ? reply[0] : -1;
  }
};

TEST_F(ReportedTypeTest, TypeCodeFiveOnChipTypeOneAllowsAndClearsProtectionFirst) {
  ASSERT_EQ(Code(), 5);
  EXPECT_EQ(GetSpiFlashType(1, path()), 7);
  Trace();
  EXPECT_EQ(PrepareSpiFlash(1, path(), 0x8000), 1);
  bool enable = false, statusZero = false;
  for (const sim::TraceEntry& e : Trace()) {
    const std::vector<uint8_t> head(e.cdb.begin(), e.cdb.begin() + 7);
    enable |= head == std::vector<uint8_t>{0xFF, 0x04, 0x20, 0x01, 0x00, 0x06, 0x00};
    statusZero |= head == std::vector<uint8_t>{0xFF, 0x04, 0x20, 0x02, 0x00, 0x01, 0x00};
  }
  EXPECT_TRUE(enable);
  EXPECT_TRUE(statusZero);
}

TEST_F(ReportedTypeTest, ImageOverThirtyTwoKilobytesIsNotAllowed) {
  for (ChipType chip : {1, 2, 3, 15, 4, 5, 6, 7, 16, 18}) {
    EXPECT_EQ(PrepareSpiFlash(chip, path(), 40 * 1024), 0) << int{chip};
  }
  EXPECT_EQ(PrepareSpiFlash(4, path(), 0x8000), 1);
  EXPECT_EQ(PrepareSpiFlash(9, path(), 0x20000), 1);  // no image rule
}

TEST_F(ReportedTypeTest, ChipTypesWithoutAnFf04RouteAreNotAllowed) {
  for (ChipType chip : {0, 8, 10, 14, 17, 29, 30, 34}) {
    Trace();
    EXPECT_EQ(PrepareSpiFlash(chip, path(), 0x4000), 0) << int{chip};
  }
  for (ChipType chip : {11, 12, 27, 28}) {
    Trace();
    EXPECT_EQ(PrepareSpiFlash(chip, path(), 0x20000), 1) << int{chip};
    EXPECT_TRUE(Trace().empty()) << int{chip};
  }
}

TEST_F(ReportedTypeTest, ChipTypeSevenHandsTheFirmwareItsOwnCode) {
  ASSERT_EQ(PrepareSpiFlash(7, path(), 0x8000), 1);
  const uint8_t code = product().WithBridge(
      [](sim::EmulatedBridge& b) { return b.vendorState().flashCode; });
  EXPECT_EQ(code, 7 - 2);  // SpiFlashType 7, the C2 part
}

TEST_F(ReportedTypeTest, ProtectionWaitGivesUpAfterItsBound) {
  sim::Fault fault = MakeFault(sim::Fault::Kind::CheckCondition, {0xFF, 0x04, 0x12});
  fault.count = -1;
  product().AddFault(fault);
  Trace();
  EXPECT_EQ(ClearFlashProtection(path()), 0);
  int statusReads = 0;
  for (const sim::TraceEntry& e : Trace()) statusReads += e.cdb[0] == 0xFF && e.cdb[2] == 0x12;
  EXPECT_EQ(statusReads, 2 * kProtectionWaitReads);
}

class ParamPartTest : public DetectionTest {
 protected:
  ParamPartTest() : DetectionTest(FlashProduct(21, {0xE0, 0x40, 0x10})) {}
};

TEST_F(ParamPartTest, LongerIdRowWinsOnTheParamLadder) {
  SpiFlashRecord record;
  ASSERT_EQ(DetectSpiFlashTypeByParam(path(), &record), 1);
  EXPECT_EQ(record.type, 17);
}

class ReportedIdPartTest : public DetectionTest {
 protected:
  ReportedIdPartTest() : DetectionTest(FlashProduct(25, {0x0B, 0x40, 0x13})) {}
};

TEST_F(ReportedIdPartTest, FirmwareReportedIdDecidesTheLaterParts) {
  SpiFlashRecord record;
  ASSERT_EQ(DetectSpiFlashTypeFromId(path(), &record), 1);
  EXPECT_EQ(record.type, 19);
  uint8_t reply[4] = {};
  ASSERT_EQ(ReadFlashTypeCode(path(), reply), 1);
  const SpiFlashType reported = SpiFlashTypeFromCode(reply[0]);
  if (reported == kSpiFlashTypeUnknown || reported == 3 || reported == 5)
    EXPECT_EQ(GetSpiFlashType(25, path()), 19);
  else
    EXPECT_EQ(GetSpiFlashType(25, path()), reported);
}

}  // namespace
}  // namespace bridge
