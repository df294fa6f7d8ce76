// What each emulated chip type says about itself and its firmware, decoded
// here the way the station decides from the answers (identification, the
// version text and its acceptance, the port probe), with CDBs built from the
// command set's byte layouts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/chip_models.h"
#include "sim/emulated_bridge.h"
#include "sim/tests/cdb_helpers.h"

namespace sim {
namespace {

using testing::Bytes;
using testing::Cdb;
using testing::Config;
using testing::kChipCodes;
using testing::kChipDigits;
using testing::StartsWith;
using testing::Text;
using testing::TypeByRevisionText;

// One bridge as the station's command builders reach it, on one unit.
class Station {
 public:
  explicit Station(EmulatedBridge& bridge, uint8_t unit = 0) : bridge_(bridge), unit_(unit) {}

  // A read of n bytes; nullopt when the command fails. A 1-byte read moves
  // two bytes on the wire and gives the caller one.
  std::optional<Bytes> In(const Bytes& cdb, uint32_t n) {
    Bytes buffer(n == 1 ? 2 : n, 0);
    const CommandResult r =
        bridge_.ExecuteOnUnit(unit_, cdb.data(), static_cast<uint8_t>(cdb.size()), true,
                              buffer.empty() ? nullptr : buffer.data(),
                              static_cast<uint32_t>(buffer.size()));
    if (r.status != 0) return std::nullopt;
    buffer.resize(std::min<uint32_t>(n, r.transferred));
    return buffer;
  }
  bool Out(const Bytes& cdb, Bytes data) {
    if (data.size() == 1) data.push_back(0);
    return bridge_.ExecuteOnUnit(unit_, cdb.data(), static_cast<uint8_t>(cdb.size()), false,
                                 data.empty() ? nullptr : data.data(),
                                 static_cast<uint32_t>(data.size()))
               .status == 0;
  }

  std::optional<Bytes> Inquiry() { return In(Cdb({0x12, 0, 0, 0, 40}), 40); }
  std::optional<Bytes> BridgeId() { return In(Cdb({0xDF, 0x10, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0xFF}), 2); }
  std::optional<Bytes> ChipInfo() { return In(Cdb({0xE0, 0xF4, 0xE7}), 16); }
  std::optional<Bytes> Block30() { return In(Cdb({0xFF, 0x04, 0x30, 0x08}), 40); }
  std::optional<Bytes> ConfigBlock(uint8_t n) { return In(Cdb({0xFF, 0x04, 0xA0, n}), n); }
  std::optional<Bytes> Register(uint16_t r, uint16_t n) {
    return In(Cdb({0xDF, 0x10, 0, n >> 8, n & 0xFF, 0, r >> 8, r & 0xFF, 0, 0, 0, 0xFD}), n);
  }
  bool WriteRegister(uint16_t r, Bytes data) {
    const size_t n = data.size();
    return Out(Cdb({0xDF, 0x00, 0, int(n >> 8), int(n & 0xFF), 0, r >> 8, r & 0xFF, 0, 0, 0, 0xFE}),
               std::move(data));
  }
  std::optional<Bytes> ConfigMemory(uint32_t a, uint16_t n) {
    return In(Cdb({0xDF, 0x10, 0, n >> 8, n & 0xFF, 0, 0, 0, int(a >> 16), int(a >> 8 & 0xFF),
                   int(a & 0xFF), 0xFA}),
              n);
  }
  std::optional<Bytes> Flash(uint32_t a, uint32_t n) {
    return In(Cdb({0xFF, 0x04, 0x10, int(a >> 16), int(a >> 8 & 0xFF), int(a & 0xFF)}), n);
  }
  std::optional<Bytes> Identify(uint8_t device, uint8_t command) {
    return In(Cdb({0xDF, 0x10, 0, 0x02, 0, 0, 0, 0, 0, 0, device, command}), 512);
  }
  bool SmartReturnStatus() {
    const auto r = In(Cdb({0xDF, 0x10, 0, 0, 1, 0xDA, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0}), 1);
    return r && r->size() == 1 && (*r)[0] == 0xC2;
  }

 private:
  EmulatedBridge& bridge_;
  uint8_t unit_;
};

// An IDENTIFY text: byte pairs swapped, trailing blanks cut.
std::string IdentifyString(const Bytes& id, size_t offset, size_t length) {
  std::string s;
  for (size_t i = 0; i < length; ++i) s += static_cast<char>(id[offset + (i ^ 1)]);
  return s.substr(0, s.find_last_not_of(' ') + 1);
}

// --- Identification as the station decides it.

// Steps 1-3: chip code, else chip-information digits, else the bridge id
// class. `fromInfo` says the chip-information block gave the type.
int BaseType(Station& s, bool* fromInfo, Bytes* info) {
  *fromInfo = false;
  const auto inquiry = s.Inquiry();
  if (!inquiry) return 0;
  for (const auto& [code, type] : kChipCodes)
    if (Text(*inquiry, 36, 4) == code) return type;
  const auto id = s.BridgeId();
  if (!id) return 0;
  const auto block = s.ChipInfo();
  if (!block) return 30 + (((*id)[0] >> 5) & 3);
  *info = Bytes(16, 0);
  std::copy(block->begin(), block->end(), info->begin());
  if ((*info)[0] != 0xF4 || (*info)[1] != 0xE7) return 0;
  for (const auto& [digits, type] : kChipDigits) {
    if (Text(*info, 8, 3) == digits) {
      *fromInfo = true;
      return type;
    }
  }
  return 0;
}

int ConfigType(Station& s) {
  const auto block = s.ConfigBlock(0x14);
  if (!block || block->size() < 20) return 0;
  const uint8_t v = (*block)[8];
  switch (v) {
    case 0xA8: return 8;
    case 0xA9: return 9;
    case 0xAA: return 10;
    case 0xAB: return (*block)[18] == 0xD2 ? 50 : 11;
    case 0xAC: return 12;
    case 0xC2: return 13;
    case 0xC4: return 14;
    default: return int{v} - 0xA0;
  }
}

int IdentifyChipType(Station& s) {
  bool fromInfo = false;
  Bytes info;
  int type = BaseType(s, &fromInfo, &info);
  if (type != 4 && type != 14) return type;
  const auto block = s.Block30();
  if (!block) return type;
  return TypeByRevisionText(type, Text(*block, 0, 8));
}

std::pair<int, int> IdentifyChipTypeAndRevision(Station& s) {
  bool fromInfo = false;
  Bytes info;
  int type = BaseType(s, &fromInfo, &info);
  int revision = fromInfo ? info[11] - '0' : 0;
  if (type == 4 || type == 1 || type == 14) {
    if (const auto block = s.Block30()) {
      const std::string text = Text(*block, 0, 8);
      const int c = (*block)[5];
      if (StartsWith(text, "q645C")) {
        type = 1;
        revision = c - '0' + 1;
      } else if (StartsWith(text, "q649C")) {
        type = 4;
        revision = c - '0' + 1;
      } else if (StartsWith(text, "q649E")) {
        type = 7;
        revision = (c + 1) & 0xFF;
      } else if (StartsWith(text, "q647A")) {
        type = StartsWith(text, "q647A3") ? 16 : 15;
        revision = c - '0' + 1;
      }
    } else if (type == 1) {
      revision = 1;
    }
  }
  if (type == 8 || type == 17) revision = ConfigType(s) & 0xFF;
  return {type, revision};
}

struct IdentityCase {
  uint8_t chipType;
  int plain;          // IdentifyChipType
  int typeWithRev;    // IdentifyChipTypeAndRevision, low byte
  int revision;       //   and high byte
  int plainNoCode;    // IdentifyChipType when INQUIRY carries no chip code
};

constexpr IdentityCase kIdentityCases[] = {
    {1, 1, 1, 0, 1},     {2, 1, 1, 0, 1},     {3, 3, 1, 2, 1},     {4, 4, 4, 0, 4},
    {5, 5, 4, 1, 5},     {6, 6, 4, 4, 6},     {7, 7, 7, '0' + 1, 7}, {8, 8, 8, 8, 8},
    {9, 9, 9, 0, 9},     {10, 0, 0, 0, 0},    {11, 11, 11, 0, 11}, {12, 12, 12, 0, 12},
    {13, 13, 13, 0, 13}, {14, 14, 14, 0, 14}, {15, 15, 15, 2, 15}, {16, 16, 16, 4, 16},
    {17, 17, 17, 17, 17}, {18, 18, 18, 0, 18}, {19, 19, 19, 0, 19}, {20, 20, 20, 0, 20},
    {21, 21, 21, 0, 21}, {22, 22, 22, 0, 22}, {23, 23, 23, 0, 23}, {24, 24, 24, 0, 24},
    {25, 25, 25, 0, 25}, {26, 26, 26, 0, 26}, {27, 27, 27, 0, 27}, {28, 28, 28, 0, 28},
    {29, 29, 29, 0, 29}, {30, 30, 30, 0, 30}, {31, 31, 31, 0, 31}, {32, 32, 32, 0, 32},
    {33, 33, 33, 0, 33}, {34, 29, 29, 0, 29},
};

TEST(ChipIdentity, EveryTypeThroughBothIdentifications) {
  static_assert(std::size(kIdentityCases) == 34);
  for (const IdentityCase& c : kIdentityCases) {
    SCOPED_TRACE(int{c.chipType});
    EmulatedBridge bridge(Config(c.chipType));
    Station s(bridge);
    EXPECT_EQ(IdentifyChipType(s), c.plain);
    EXPECT_EQ(IdentifyChipTypeAndRevision(s), std::make_pair(c.typeWithRev, c.revision));

    // Without the chip code the chip-information digits decide; the
    // revision refinement and the configuration type give the same result.
    ProductConfig noCode = Config(c.chipType);
    noCode.chipCodeInInquiry = false;
    EmulatedBridge plainBridge(noCode);
    Station p(plainBridge);
    EXPECT_EQ(IdentifyChipType(p), c.plainNoCode);
    EXPECT_EQ(IdentifyChipTypeAndRevision(p), std::make_pair(c.typeWithRev, c.revision));
  }
}

TEST(ChipIdentity, BootCodeAndForeignBridgesFallBack) {
  // Boot code of any chip: the bridge id class alone, 30 + class.
  for (uint8_t type : {1, 4, 13, 21, 25}) {
    SCOPED_TRACE(int{type});
    ProductConfig config = Config(type);
    config.bootCodeOnly = true;
    EmulatedBridge bridge(config);
    Station s(bridge);
    EXPECT_EQ(IdentifyChipType(s), 30 + FindChipModel(type)->bridgeIdClass);
  }
  // Another maker's bridge answers INQUIRY but no vendor command: type 0,
  // while its disk still reads.
  ProductConfig foreign = Config(21);
  foreign.foreignBridge = true;
  EmulatedBridge bridge(foreign);
  Station s(bridge);
  ASSERT_TRUE(s.Inquiry());
  EXPECT_EQ(Text(*s.Inquiry(), 36, 4), std::string(4, '\0'));
  EXPECT_FALSE(s.BridgeId());
  EXPECT_EQ(IdentifyChipType(s), 0);
  EXPECT_EQ(IdentifyChipTypeAndRevision(s), std::make_pair(0, 0));
  EXPECT_TRUE(s.In(Cdb({0x25}), 8));
}

TEST(ChipIdentity, BlockLengthsPerGeneration) {
  for (uint8_t type = 1; type <= 34; ++type) {
    SCOPED_TRACE(int{type});
    EmulatedBridge bridge(Config(type));
    Station s(bridge);
    const auto info = s.ChipInfo();
    const bool bootCode = type >= 30 && type <= 33;
    ASSERT_EQ(info.has_value(), !bootCode);
    if (bootCode) continue;
    const bool older = (type >= 1 && type <= 6) || type == 9 || type == 10 ||
                       (type >= 14 && type <= 16) || type == 29 || type == 34;
    EXPECT_EQ(info->size(), older ? 12u : 16u);
    EXPECT_EQ(Text(*info, 8, 3), std::string(FindChipModel(type)->digits));
    // The configuration block answers its own length whatever is asked.
    const auto block = s.ConfigBlock(0xFF);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->size(), type == 20 ? 32u : 20u);
  }
}

// --- Firmware version text and its acceptance.

std::string Format(const char* format, std::initializer_list<int> values) {
  char text[64];
  const auto v = std::data(values);
  switch (values.size()) {
    case 2: std::snprintf(text, sizeof text, format, v[0], v[1]); break;
    case 3: std::snprintf(text, sizeof text, format, v[0], v[1], v[2]); break;
    case 4: std::snprintf(text, sizeof text, format, v[0], v[1], v[2], v[3]); break;
    default: std::snprintf(text, sizeof text, format, v[0], v[1], v[2], v[3], v[4]); break;
  }
  return text;
}

// Bank-select probe: remember 0x506A, write 0, read back; 1 read back means
// the second bank. The remembered byte goes back in the end.
int ProbeBankSelectBit(Station& s) {
  const auto first = s.Register(0x506A, 1);
  const uint8_t remembered = first ? (*first)[0] : 0;
  int result = 0;
  if (first && s.WriteRegister(0x506A, {0x00})) {
    const auto back = s.Register(0x506A, 1);
    result = back && (*back)[0] == 1 ? 1 : 0;
  }
  s.WriteRegister(0x506A, {remembered});
  return result;
}

// nullopt when the chip-information block cannot be read.
std::optional<std::string> FormatFirmwareVersion(Station& s, int type) {
  const auto block = s.ChipInfo();
  if (!block) return std::nullopt;
  Bytes b(16, 0);
  std::copy(block->begin(), block->end(), b.begin());
  if (b[0] != 0xF4 || b[1] != 0xE7) return std::string();
  if (type == 8 || type == 17) return std::string("  --.--.--");
  if (type == 11 || type == 12 || type == 13) {
    const int b14 = type == 13 && ProbeBankSelectBit(s) ? b[14] ^ 1 : b[14];
    return Format("%d.%.2d.%.2d.%.2d.%.2d", {b[6], b[7], b[12], b[13], b14});
  }
  if (type >= 19 && type <= 28) return Format("%.2d.%.2d.%.2d.%.2d", {b[12], b[13], b[14], b[15]});
  if (block->size() < 13) return Format("%d.%.2d", {b[6], b[7]});
  return Format("%d.%.2d.%.2d", {b[12], b[13], b[14]});
}

bool IsRecord(const std::optional<Bytes>& bytes, size_t at, std::initializer_list<const char*> digits) {
  if (!bytes || bytes->size() < at + 10) return false;
  const Bytes& b = *bytes;
  if (b[at] != 0x55 || b[at + 1] != 0xAA || b[at + 2] != 0xAA || b[at + 3] != 0x55) return false;
  for (const char* d : digits)
    if (Text(b, at + 4, 3) == d) return true;
  return false;
}

bool OneOf(const std::string& v, std::initializer_list<const char*> list) {
  for (const char* item : list)
    if (v == item) return true;
  return false;
}

bool Running(Station& s, int type) {
  if (type == 19) {
    const auto r = s.Register(0x70F0, 4);
    return r && r->size() == 4 && ((*r)[3] & 0x01);
  }
  const int mask = (type == 4 || type == 6 || type == 7 || type == 18) ? 0x01
                   : (type == 9 || type == 11 || type == 12) ? 0x04
                   : type == 13                              ? 0x10
                                                             : 0;
  const auto r = s.Register(0x7038, 4);
  return r && r->size() == 4 && ((*r)[0] & mask);
}

bool CheckFirmwareVersion(Station& s, int type, const std::string& v) {
  const auto info = [&] {
    Bytes b(16, 0);
    if (const auto block = s.ChipInfo()) std::copy(block->begin(), block->end(), b.begin());
    return b;
  };
  switch (type) {
    case 4:
    case 6:
      return Running(s, type) && IsRecord(s.Register(0xC000, 10), 0, {"649"});
    case 7:
    case 18: {
      if (!Running(s, type) || v == "2.00.00") return false;
      const auto head = s.Flash(0x4000, 1024);
      return head && head->size() == 1024 && (*head)[0] == 0x55 && (*head)[1] == 0xAA &&
             Text(*head, 2, 2) == "QV" && Text(*head, 4, 3) == (type == 7 ? "649" : "829");
    }
    case 8:
      return false;
    case 9:
      return Running(s, type) && IsRecord(s.Register(0xC000, 10), 0, {"662"});
    case 11:
    case 12:
      return Running(s, type) &&
             !OneOf(v, {"7.07.00.16.00", "11.19.02.16.00", "4.10.02.16.00"}) &&
             IsRecord(s.ConfigMemory(0x1000, 1024), 0, {"666", "665"});
    case 13:
      return Running(s, type) &&
             !OneOf(v, {"9.18.01.16.00", "12.01.02.16.00", "2.05.11.16.00", "4.08.11.16.00",
                        "5.13.11.16.00"}) &&
             IsRecord(s.ConfigMemory(0x1000, 1024), 0, {"857"});
    case 19: {
      if (!Running(s, type) || OneOf(v, {"1.0.0.0", "1.0.0.1", "49.48.48.49"})) return false;
      if (const auto block = s.ConfigBlock(20); block && block->size() == 20) return (*block)[19] != 0;
      return IsRecord(s.ConfigMemory(0xBC00, 1024), 1008, {"843"});
    }
    case 20: {
      const auto block = s.ConfigBlock(32);
      return (block && block->size() == 32 && (*block)[19] == 1) || v != "00.00.00.01";
    }
    case 21:
    case 22:
    case 23:
    case 24: {
      const Bytes b = info();
      return b[6] == 0 || b[6] == 3;
    }
    case 25:
    case 27:
    case 28:
      return info()[6] != 0;
    case 26: {
      const Bytes b = info();
      return b[11] == 2 ? b[7] != 0xFF : b[6] != 0;
    }
    default:
      return true;
  }
}

struct VersionCase {
  uint8_t chipType;
  const char* product;   // version text of the default product firmware; null: no block
  const char* internal;  // of the internal build
  bool internalAccepted;
};

constexpr VersionCase kVersionCases[] = {
    {1, "1.00", "1.00", true},
    {2, "1.00", "1.00", true},
    {3, "1.00", "1.00", true},
    {4, "1.00", "1.00", false},
    {5, "1.00", "1.00", true},
    {6, "1.00", "1.00", false},
    {7, "1.00.00", "2.00.00", false},
    {8, "  --.--.--", "  --.--.--", false},
    {9, "1.00", "1.00", false},
    {10, "1.00", "1.00", true},
    {11, "1.00.01.00.00", "7.07.00.16.00", false},
    {12, "1.00.01.00.00", "11.19.02.16.00", false},
    {13, "1.00.01.00.00", "2.05.11.16.00", false},
    {14, "1.00", "1.00", true},
    {15, "1.00", "1.00", true},
    {16, "1.00", "1.00", true},
    {17, "  --.--.--", "  --.--.--", true},
    {18, "1.00.00", "2.00.00", false},
    {19, "01.00.00.00", "49.48.48.49", false},
    {20, "01.00.00.00", "00.00.00.01", false},
    {21, "01.00.00.00", "01.00.00.00", false},
    {22, "01.00.00.00", "01.00.00.00", false},
    {23, "01.00.00.00", "01.00.00.00", false},
    {24, "01.00.00.00", "01.00.00.00", false},
    {25, "01.00.00.00", "01.00.00.00", false},
    {26, "01.00.00.00", "01.00.00.00", false},
    {27, "01.00.00.00", "01.00.00.00", false},
    {28, "01.00.00.00", "01.00.00.00", false},
    {29, "1.00", "1.00", true},
    {30, nullptr, nullptr, true},
    {31, nullptr, nullptr, true},
    {32, nullptr, nullptr, true},
    {33, nullptr, nullptr, true},
    {34, "1.00", "1.00", true},
};

TEST(FirmwareVersion, ProductAcceptedInternalBuildRejectedWhereTheFamilyTells) {
  static_assert(std::size(kVersionCases) == 34);
  for (const VersionCase& c : kVersionCases) {
    for (bool internal : {false, true}) {
      SCOPED_TRACE(std::to_string(c.chipType) + (internal ? " internal" : " product"));
      ProductConfig config = Config(c.chipType);
      config.internalCode = internal;
      EmulatedBridge bridge(config);
      Station s(bridge);
      const auto text = FormatFirmwareVersion(s, c.chipType);
      const char* expected = internal ? c.internal : c.product;
      ASSERT_EQ(text.has_value(), expected != nullptr);
      if (text) {
        EXPECT_EQ(*text, expected);
      }
      const bool accepted = CheckFirmwareVersion(s, c.chipType, text.value_or(""));
      EXPECT_EQ(accepted, internal ? c.internalAccepted : c.chipType != 8);
    }
  }
}

TEST(FirmwareVersion, VersionBytesAloneDecideWithTheFirmwareRunning) {
  const struct {
    uint8_t chipType;
    Bytes infoVersion;  // bytes 6-7
    Bytes version;      // bytes 12-15
    bool bankSelect;
    const char* text;
    bool accepted;
  } cases[] = {
      {13, {2, 5}, {11, 16, 0, 0}, false, "2.05.11.16.00", false},
      {13, {2, 5}, {11, 16, 1, 0}, true, "2.05.11.16.00", false},  // bank select flips b14
      {13, {}, {1, 0, 0, 0}, true, "1.00.01.00.01", true},
      {13, {5, 13}, {11, 16, 0, 0}, false, "5.13.11.16.00", false},
      {11, {4, 10}, {2, 16, 0, 0}, false, "4.10.02.16.00", false},
      {12, {4, 10}, {2, 16, 1, 0}, false, "4.10.02.16.01", true},
      {7, {}, {2, 0, 0, 0}, false, "2.00.00", false},
      {18, {}, {2, 0, 1, 0}, false, "2.00.01", true},
      {19, {}, {'1', '0', '0', '1'}, false, "49.48.48.49", false},
      {20, {}, {0, 0, 0, 1}, false, "00.00.00.01", true},  // the block's byte 19 is 1
      {21, {3, 1}, {1, 0, 0, 0}, false, "01.00.00.00", true},
      {21, {5, 1}, {1, 0, 0, 0}, false, "01.00.00.00", false},
      {25, {0, 0}, {2, 1, 0, 0}, false, "02.01.00.00", false},
      {1, {3, 7}, {9, 9, 9, 9}, false, "3.07", true},  // an older block ends before 12
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ProductConfig config = Config(c.chipType);
    config.infoVersion = c.infoVersion;
    config.firmwareVersion = c.version;
    config.bankSelect = c.bankSelect;
    EmulatedBridge bridge(config);
    Station s(bridge);
    const auto text = FormatFirmwareVersion(s, c.chipType);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, c.text);
    EXPECT_EQ(CheckFirmwareVersion(s, c.chipType, *text), c.accepted);
  }
}

TEST(FirmwareVersion, SignaturesWhereEachFamilyKeepsThem) {
  // The QVS843's record in configuration memory, read when its block is not.
  EmulatedBridge b19(Config(19));
  Station s19(b19);
  EXPECT_TRUE(IsRecord(s19.ConfigMemory(0xBC00, 1024), 1008, {"843"}));
  EXPECT_TRUE(IsRecord(s19.Register(0xC000, 10), 0, {"843"}));
  // The record's fourth character is not a digit of the model: a four-
  // character compare fails where the three-character one holds.
  EXPECT_EQ(Text(*s19.Register(0xC000, 10), 4, 4), "8430");

  ProductConfig internal = Config(19);
  internal.internalCode = true;
  EmulatedBridge i19(internal);
  Station si(i19);
  EXPECT_FALSE(IsRecord(si.ConfigMemory(0xBC00, 1024), 1008, {"843"}));
  EXPECT_FALSE(IsRecord(si.Register(0xC000, 10), 0, {"843"}));
  EXPECT_EQ((*si.ConfigBlock(20))[19], 0);

  // Flash headers of the 32 KB family stay where the station reads them
  // and nowhere else.
  EmulatedBridge b7(Config(7));
  Station s7(b7);
  EXPECT_EQ(*s7.Flash(0x4000, 7), (Bytes{0x55, 0xAA, 'Q', 'V', '6', '4', '9'}));
  EmulatedBridge b4(Config(4));
  EXPECT_EQ(*Station(b4).Flash(0x4000, 2), (Bytes{0xFF, 0xFF}));
}

// --- Registers.

TEST(BridgeRegisters, RunningMarksOnlyTheFamilysBit) {
  for (uint8_t type = 1; type <= 34; ++type) {
    SCOPED_TRACE(int{type});
    int expected7038 = 0;
    if (type == 4 || type == 6 || type == 7 || type == 18) expected7038 = 0x01;
    if (type == 9 || type == 11 || type == 12) expected7038 = 0x04;
    if (type == 13) expected7038 = 0x10;
    for (bool internal : {false, true}) {
      ProductConfig config = Config(type);
      config.internalCode = internal;
      EmulatedBridge bridge(config);
      Station s(bridge);
      const auto r7038 = s.Register(0x7038, 4);
      const auto r70f0 = s.Register(0x70F0, 4);
      ASSERT_TRUE(r7038 && r70f0);
      EXPECT_EQ((*r7038)[0], internal ? 0 : expected7038);
      EXPECT_EQ((*r70f0)[3], !internal && type == 19 ? 1 : 0);
    }
  }
}

TEST(BridgeRegisters, MarksComeBackAfterAReset) {
  EmulatedBridge bridge(Config(13));
  Station s(bridge);
  ASSERT_TRUE(s.WriteRegister(0x7038, {0, 0, 0, 0}));
  EXPECT_EQ((*s.Register(0x7038, 4))[0], 0);
  bridge.PowerOn();
  EXPECT_EQ((*s.Register(0x7038, 4))[0], 0x10);
}

TEST(BridgeRegisters, Usb3CheckSetsBit4AndKeepsTheRest) {
  EmulatedBridge bridge(Config(13));
  Station s(bridge);
  for (uint16_t reg : {0x5000, 0x5008}) {
    SCOPED_TRACE(reg);
    auto word = s.Register(reg, 4);
    ASSERT_TRUE(word);
    ASSERT_EQ(word->size(), 4u);
    const Bytes before = *word;
    EXPECT_EQ(before[0] & 0x10, 0);
    (*word)[0] |= 0x10;
    ASSERT_TRUE(s.WriteRegister(reg, *word));
    Bytes expected = before;
    expected[0] |= 0x10;
    EXPECT_EQ(*s.Register(reg, 4), expected);
  }
}

TEST(BridgeRegisters, Usb3EnabledBitAndBankSelectProbe) {
  const struct {
    bool usb3;
    bool bankSelect;
  } cases[] = {{true, false}, {false, false}, {true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.usb3) + std::to_string(c.bankSelect));
    ProductConfig config = Config(25);
    config.usb3Enabled = c.usb3;
    config.bankSelect = c.bankSelect;
    EmulatedBridge bridge(config);
    Station s(bridge);
    const auto usb = s.Register(0x702B, 1);
    ASSERT_TRUE(usb);
    EXPECT_EQ(((*usb)[0] & 0x04) != 0, c.usb3);
    const uint8_t stored = bridge.registers()[0x506A];
    const uint8_t before = (*s.Register(0x506A, 1))[0];
    EXPECT_EQ(ProbeBankSelectBit(s), c.bankSelect ? 1 : 0);
    // The probe's restore leaves the register as it was found.
    EXPECT_EQ(bridge.registers()[0x506A], stored);
    EXPECT_EQ((*s.Register(0x506A, 1))[0], before);
  }
}

// --- The drives behind the bridge and the port register.

struct PortCase {
  const char* what;
  bool drive0, atapi0, drive1, atapi1;
  uint8_t portRegister;
};

constexpr PortCase kPortCases[] = {
    {"no drive", false, false, false, false, 0x00},
    {"one drive", true, false, false, false, 0x04},
    {"one ATAPI drive", true, true, false, false, 0x05},
    {"two drives", true, false, true, false, 0x44},
    {"a drive and an ATAPI drive on port 1", true, false, true, true, 0x54},
    {"port 1 only", false, false, true, false, 0x40},
    {"two ATAPI drives", true, true, true, true, 0x55},
};

ProductConfig Drives(const PortCase& c) {
  ProductConfig config = Config(9);
  config.disk.present = c.drive0;
  config.disk.packetDevice = c.atapi0;
  config.disk.model = "PORT ZERO";
  config.disk2.present = c.drive1;
  config.disk2.packetDevice = c.atapi1;
  config.disk2.sectors = 2048;
  config.disk2.model = "PORT ONE";
  return config;
}

TEST(Drives, PortRegisterAndIdentifyPerPort) {
  for (const PortCase& c : kPortCases) {
    SCOPED_TRACE(c.what);
    EmulatedBridge bridge(Drives(c));
    Station s(bridge);
    const auto reg = s.Register(0x720F, 1);
    ASSERT_TRUE(reg);
    ASSERT_EQ(reg->size(), 1u);
    EXPECT_EQ((*reg)[0], c.portRegister);
    // The port probe: each port's IDENTIFY of its kind, device 0xA0 / 0xB0.
    const struct {
      bool present, atapi;
      uint8_t device;
      const char* model;
    } ports[] = {{c.drive0, c.atapi0, 0xA0, "PORT ZERO"}, {c.drive1, c.atapi1, 0xB0, "PORT ONE"}};
    for (const auto& port : ports) {
      const auto right = s.Identify(port.device, port.atapi ? 0xA1 : 0xEC);
      const auto wrong = s.Identify(port.device, port.atapi ? 0xEC : 0xA1);
      EXPECT_EQ(right.has_value(), port.present) << int{port.device};
      EXPECT_FALSE(wrong) << int{port.device};
      if (right) {
        EXPECT_EQ(IdentifyString(*right, 54, 40), port.model);
      }
    }
    EXPECT_EQ(s.SmartReturnStatus(), c.drive0 && !c.atapi0);
  }
}

TEST(Drives, BootCodeReportsNoPorts) {
  ProductConfig config = Drives(kPortCases[3]);
  config.bootCodeOnly = true;
  EmulatedBridge bridge(config);
  EXPECT_EQ((*Station(bridge).Register(0x720F, 1))[0], 0);
}

TEST(Drives, EachDrivesUnitSplitsTheLetters) {
  EmulatedBridge bridge(Drives(kPortCases[3]));
  Station bridgeUnit(bridge);
  const auto cache0 = bridgeUnit.Identify(0xA0, 0xEC);
  const auto cache1 = bridgeUnit.Identify(0xB0, 0xEC);
  ASSERT_TRUE(cache0 && cache1);
  ASSERT_NE(*cache0, *cache1);
  // The letter pass on a volume: IDENTIFY 0xA0 and SMART equal to cache
  // block 0 is port 0, else IDENTIFY 0xB0 equal to block 1 is port 1.
  auto portOf = [&](uint8_t unit) {
    Station volume(bridge, unit);
    const auto a = volume.Identify(0xA0, 0xEC);
    if (a && volume.SmartReturnStatus() && *a == *cache0) return 0;
    const auto b = volume.Identify(0xB0, 0xEC);
    if (b && volume.SmartReturnStatus() && *b == *cache1) return 1;
    return -1;
  };
  EXPECT_EQ(portOf(0), 0);
  EXPECT_EQ(portOf(1), 1);
  // The port-1 unit's block commands address its own drive.
  Station unit1(bridge, 1);
  EXPECT_EQ(*unit1.In(Cdb({0x25}), 8), (Bytes{0, 0, 0x07, 0xFF, 0, 0, 2, 0}));
  EXPECT_EQ(*bridgeUnit.In(Cdb({0x25}), 8), (Bytes{0, 0, 0x0F, 0xFF, 0, 0, 2, 0}));
  Bytes sector(512, 0x3C);
  ASSERT_TRUE(unit1.Out(Cdb({0x2A, 0, 0, 0, 0, 5, 0, 0, 1, 0}), sector));
  EXPECT_EQ(*bridgeUnit.In(Cdb({0xDF, 0x10, 0, 2, 0, 0, 1, 5, 0, 0, 0xB0, 0x25}), 512), sector);
  EXPECT_NE(*bridgeUnit.In(Cdb({0xDF, 0x10, 0, 2, 0, 0, 1, 5, 0, 0, 0xA0, 0x25}), 512), sector);

  // Without a second drive there is no second unit.
  EmulatedBridge single(Drives(kPortCases[1]));
  EXPECT_FALSE(Station(single, 1).Inquiry());
}

}  // namespace
}  // namespace sim
