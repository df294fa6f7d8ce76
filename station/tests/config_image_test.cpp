// The configuration image builder against a transcription of its tables and
// layout written here from the description, apart from the code: default
// tables, the firmware file's own configuration, the device merges, and the
// settings laid over block and page (on bench bridges where a step asks the
// device).
#include "station/config_image.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bridge/tests/bench_fixture.h"
#include "station/device_mix.h"
#include "station/eeprom_layout.h"
#include "station/pass_option_block.h"

namespace station {
namespace {

using bridge::testing::Always;
using bridge::testing::MakeFault;
using bridge::testing::OneProduct;
using bridge::testing::TestProduct;

// ---- The tables as the description writes them ("position: hex",
// "first-last: hex", "first-last: letters").
constexpr const char* kTable13 =
    "4: 00, 5: 01, 9: 01, 11: 00, 13: 03, 47: 30, 49: 03, 81: 00, 82: 7B, 83: 02, 85: 03, "
    "117: 00, 118: FF, 119: 41, 120: FF, 121: FF, 122: 00, 123: 01, 124: 31, 125: B0, 126-127: QV";
constexpr const char* kTableOther =
    "4: 00, 5: 01, 9: 01, 11: 00, 13: 03, 47: 30, 49: 03, 81: 00, 82: 7B, 83: 02, 85: 03, 117-127: 00";
constexpr const char* kTable20 =
    "9: 01, 11: 00, 13: 03, 45: 00, 46: 00, 47: 00, 49: 03, 81: 00, 82: 00, 83: 00, 85: 03, 117-127: 00";
constexpr const char* kTable25To28 = "9: 01, 11: 00, 13: 03, 49: 03, 85: 03, 117-127: 00";

// -1 where the table keeps the byte.
using Transcribed = std::array<int, 128>;

Transcribed Parse(const char* text) {
  Transcribed table;
  table.fill(-1);
  std::string rest = text;
  while (!rest.empty()) {
    const size_t comma = rest.find(", ");
    const std::string item = rest.substr(0, comma);
    rest = comma == std::string::npos ? "" : rest.substr(comma + 2);
    int first = 0, last = 0;
    char value[8] = {};
    if (std::sscanf(item.c_str(), "%d-%d: %7s", &first, &last, value) != 3) {
      EXPECT_EQ(std::sscanf(item.c_str(), "%d: %7s", &first, value), 2) << item;
      last = first;
    }
    const bool letters = std::strlen(value) == static_cast<size_t>(last - first + 1) && value[0] >= 'G';
    for (int p = first; p <= last; ++p)
      table[static_cast<size_t>(p)] = letters ? value[p - first] : static_cast<int>(std::strtol(value, nullptr, 16));
  }
  return table;
}

Transcribed TranscribedTable(int chipType) {
  if (chipType == 13) return Parse(kTable13);
  if (chipType == 20) return Parse(kTable20);
  if (chipType >= 25 && chipType <= 28) return Parse(kTable25To28);
  return Parse(kTableOther);
}

// Where an image keeps its configuration, and its signature, as written.
struct Place {
  uint32_t config, signature;
};
Place TranscribedPlace(int chipType) {
  if (chipType == 13) return {0, 0x7E};
  if (chipType == 25 || chipType == 26) return {0xC400, 0xC4FE};
  if (chipType == 27 || chipType == 28) return {0x10400, 0x104FE};
  return {0xC000, 0xC0FE};
}

bool TakesDefaults(int chipType) { return chipType == 13 || chipType == 19 || chipType == 20 || (chipType >= 25 && chipType <= 28); }
bool HasPage(int chipType) { return chipType == 19 || chipType == 20 || (chipType >= 25 && chipType <= 28); }

ConfigBlock PatternBlock() {
  ConfigBlock block;
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + 3);
  return block;
}

std::vector<uint8_t> NoiseImage(size_t size, uint32_t seed) {
  std::vector<uint8_t> image(size);
  for (uint8_t& b : image) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
  return image;
}

// The page the description gives for a block without an image.
ConfigPage MarkedPage(const ConfigBlock& block) {
  ConfigPage page{};
  std::copy(block.begin(), block.end(), page.begin());
  page[224] = 'H';
  page[225] = 'D';
  page[240] = 'B';
  page[241] = 'C';
  page[254] = 'Q';
  page[255] = 'V';
  return page;
}

TEST(EepromDefaultTable, EveryChipTypeHoldsTheBytesAsWritten) {
  for (int chip = 0; chip <= 34; ++chip) {
    const Transcribed expected = TranscribedTable(chip);
    const EepromTable& table = EepromDefaultTable(static_cast<bridge::ChipType>(chip));
    for (size_t i = 0; i < 128; ++i) {
      const int want = expected[i] < 0 ? 4095 : expected[i];
      ASSERT_EQ(table[i], static_cast<uint32_t>(want)) << "chip " << chip << " @" << i;
    }
  }
}

TEST(GetDefaultEepromConfig, WithoutAnImageTheTablesBytesAndTheMarkedPage) {
  const std::vector<uint8_t> noQv = NoiseImage(0x20000, 5);  // carries no "QV" anywhere it is looked for
  for (int chip = 0; chip <= 34; ++chip) {
    for (const bridge::LoadedImage image : {bridge::LoadedImage{}, bridge::LoadedImage{noQv.data(), 0x20000}}) {
      ConfigBlock block = PatternBlock();
      ConfigPage page;
      page.fill(0xEE);
      EXPECT_EQ(GetDefaultEepromConfig(static_cast<bridge::ChipType>(chip), block, page, 1, image), 1);
      ConfigBlock expected = PatternBlock();
      if (TakesDefaults(chip)) {
        const Transcribed table = TranscribedTable(chip);
        for (size_t i = 0; i < 128; ++i)
          if (table[i] >= 0) expected[i] = static_cast<uint8_t>(table[i]);
      }
      EXPECT_EQ(block, expected) << "chip " << chip;
      ConfigPage expectedPage;
      expectedPage.fill(0xEE);
      if (HasPage(chip)) expectedPage = MarkedPage(expected);
      EXPECT_EQ(page, expectedPage) << "chip " << chip;
    }
  }
}

TEST(GetDefaultEepromConfig, AnImageCarryingTheSignatureGivesItsOwnConfiguration) {
  for (const int chip : {13, 19, 20, 25, 26, 27, 28}) {
    const Place place = TranscribedPlace(chip);
    std::vector<uint8_t> image = NoiseImage(0x40000, static_cast<uint32_t>(chip));
    image[place.signature] = 'Q';
    image[place.signature + 1] = 'V';
    ConfigBlock block = PatternBlock();
    ConfigPage page{};
    GetDefaultEepromConfig(static_cast<bridge::ChipType>(chip), block, page, 1,
                           {image.data(), static_cast<uint32_t>(image.size())});
    ConfigBlock expected = PatternBlock();
    const Transcribed table = TranscribedTable(chip);
    for (size_t i = 0; i < 128; ++i)
      if (table[i] >= 0) expected[i] = image[place.config + i];
    EXPECT_EQ(block, expected) << "chip " << chip;
    if (HasPage(chip)) {
      ConfigPage expectedPage{};
      std::copy(expected.begin(), expected.end(), expectedPage.begin());
      std::copy(image.begin() + place.config + 128, image.begin() + place.config + 256, expectedPage.begin() + 128);
      EXPECT_EQ(page, expectedPage) << "chip " << chip;
    }
  }
}

// The image counts only when the switch is on, the signature is there and
// the loaded bytes cover the whole page at the chip's place.
TEST(GetDefaultEepromConfig, AnImageThatDoesNotCountLeavesTheTable) {
  struct Case {
    int chip;
    int useImage;
    uint32_t length;  // loaded bytes
    bool counts;
  };
  std::vector<Case> cases;
  for (const int chip : {13, 19, 20, 25, 26, 27, 28}) {
    const uint32_t end = TranscribedPlace(chip).config + 256;
    cases.push_back({chip, 1, end, true});
    cases.push_back({chip, 1, end - 1, false});  // the signature is loaded, the page is not
    cases.push_back({chip, 0, end, false});
    cases.push_back({chip, 1, 0, false});
  }
  for (const Case& c : cases) {
    const Place place = TranscribedPlace(c.chip);
    std::vector<uint8_t> image = NoiseImage(0x40000, 77);
    image[place.signature] = 'Q';
    image[place.signature + 1] = 'V';
    ConfigBlock block = PatternBlock();
    ConfigPage page{};
    GetDefaultEepromConfig(static_cast<bridge::ChipType>(c.chip), block, page, c.useImage,
                           {image.data(), c.length});
    const Transcribed table = TranscribedTable(c.chip);
    for (size_t i = 0; i < 128; ++i) {
      if (table[i] < 0) continue;
      const uint8_t want = c.counts ? image[place.config + i] : static_cast<uint8_t>(table[i]);
      ASSERT_EQ(block[i], want) << "chip " << c.chip << " length " << c.length << " @" << i;
    }
    if (HasPage(c.chip)) {
      EXPECT_EQ(page[224], c.counts ? image[place.config + 224] : 'H') << "chip " << c.chip;
    }
  }
}

TEST(MergeDeviceConfig, EachMemberTakesTheTableBytesFromItsPlace) {
  using Merge = int (*)(ConfigBlock&, ConfigPage&, std::span<const uint8_t>);
  struct Case {
    Merge merge;
    int chip;
    size_t at, bufferSize;
  } const cases[] = {
      {MergeDeviceConfigQVS879, 20, 0xC000, 0x10000},
      {MergeDeviceConfigQVS887, 25, 0, 512},
      {MergeDeviceConfigQVS884, 26, 0, 512},
      {MergeDeviceConfigQVS891, 27, 0, 512},
      {MergeDeviceConfigQVS894, 28, 0, 512},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> device = NoiseImage(c.bufferSize, static_cast<uint32_t>(c.chip) * 3);
    ConfigBlock block = PatternBlock();
    ConfigPage page;
    page.fill(0xEE);
    EXPECT_EQ(c.merge(block, page, device), 1) << c.chip;
    ConfigBlock expected = PatternBlock();
    const Transcribed table = TranscribedTable(c.chip);
    for (size_t i = 0; i < 128; ++i)
      if (table[i] >= 0) expected[i] = device[c.at + i];
    EXPECT_EQ(block, expected) << c.chip;
    ConfigPage expectedPage{};
    std::copy(expected.begin(), expected.end(), expectedPage.begin());
    std::copy(device.begin() + static_cast<long>(c.at) + 128, device.begin() + static_cast<long>(c.at) + 256,
              expectedPage.begin() + 128);
    EXPECT_EQ(page, expectedPage) << c.chip;

    // A read-back too short for the page changes nothing.
    ConfigBlock untouched = PatternBlock();
    ConfigPage untouchedPage;
    untouchedPage.fill(0xEE);
    EXPECT_EQ(c.merge(untouched, untouchedPage, std::span(device).first(c.at + 255)), 0) << c.chip;
    EXPECT_EQ(untouched, PatternBlock());
    EXPECT_EQ(untouchedPage[0], 0xEE);
  }
}

// ---- The settings over block and page.

SettingsBlock PageSettings() {
  SettingsBlock settings = ZeroedSettingsBlock();
  settings.TableType = 3;
  settings.OptionOffsets[6] = 12;
  settings.StandbyTimer = -1;
  return settings;
}

std::string Bytes(const ConfigPage& page, size_t from, size_t count) {
  return std::string(page.begin() + static_cast<long>(from), page.begin() + static_cast<long>(from + count));
}

TEST(BuildEepromImage, PageStringsStayInsideTheirFields) {
  const std::string stringA = std::string(69, 'A').replace(0, 26, "abcdefghijklmnopqrstuvwxyz");
  const std::string stringC = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcd";
  for (const int chip : {19, 20, 25, 26, 27, 28}) {
    SettingsBlock settings = PageSettings();
    SetFieldText(settings.StringA, stringA);
    SetFieldText(settings.StringC, stringC);
    ConfigBlock block{};
    ConfigPage page{};
    GetDefaultEepromConfig(static_cast<bridge::ChipType>(chip), block, page, 0, {});
    page[44] = 0x5A;
    page[199] = 0x5A;
    EXPECT_EQ(BuildEepromImage("", static_cast<bridge::ChipType>(chip), settings, {}, block, page), 0);
    EXPECT_EQ(page[6], 10);
    EXPECT_EQ(Bytes(page, 200, 24), stringA.substr(0, 24)) << chip;
    EXPECT_EQ(page[199], 0x5A);
    EXPECT_EQ(page[224], 'H');  // the disk string never runs into the marks
    EXPECT_EQ(page[12], 62);
    EXPECT_EQ(page[13], 3);
    EXPECT_EQ(Bytes(page, 14, 30), stringC.substr(0, 30));
    EXPECT_EQ(page[44], 0x5A);
    EXPECT_EQ(block[12], 0) << "the block is not the page's descriptor";
  }
}

TEST(BuildEepromImage, StandbyTimerInMinutesAsBigEndianSeconds) {
  struct Case {
    int32_t minutes;
    bool flag;
    std::array<uint8_t, 4> seconds;
    uint8_t byte45;
  } const cases[] = {
      {5, true, {0x00, 0x00, 0x01, 0x2C}, 0x00},
      {0, false, {0, 0, 0, 0}, 0x77},
      {-1, true, {0x11, 0x22, 0x33, 0x44}, 0x77},                 // negative: nothing changes
      {INT_MAX, true, {0xFF, 0xFF, 0xFF, 0xC4}, 0x00},            // 32-bit unsigned product
      {71582788, true, {0xFF, 0xFF, 0xFF, 0xF0}, 0x00},
      {71582789, true, {0x00, 0x00, 0x00, 0x2C}, 0x00},             // wraps, never past 32 bits
  };
  for (const Case& c : cases) {
    SettingsBlock settings = PageSettings();
    settings.StandbyTimer = c.minutes;
    ConfigBlock block{};
    ConfigPage page{};
    page[45] = 0x77;
    page[242] = 0x08;
    page[244] = 0x11, page[245] = 0x22, page[246] = 0x33, page[247] = 0x44;
    BuildEepromImage("", 25, settings, {}, block, page);
    EXPECT_EQ((page[242] & 0x08) != 0, c.flag) << c.minutes;
    EXPECT_EQ((std::array<uint8_t, 4>{page[244], page[245], page[246], page[247]}), c.seconds) << c.minutes;
    EXPECT_EQ(page[45], c.byte45) << c.minutes;
  }
}

TEST(BuildEepromImage, OptionBitsOfThePage) {
  struct Case {
    int chip;
    int32_t multi, over2tb, oddSize;
    uint8_t bits231;                       // page[231] after, from 0
    std::array<uint8_t, 4> oddBytes;       // page[232..235]
  } const cases[] = {
      {19, 1, 0, 0, 0x20, {0, 0, 0, 0}},
      {19, 0, 1, 0, 0x10, {0, 0, 0, 0}},
      {19, 1, 1, 0, 0x00, {0, 0, 0, 0}},  // both on: both off for this page
      {19, 0, 0, 1, 0x04, {0x00, 0x00, 0x08, 0x00}},
      {19, 0, 0, INT_MAX, 0x04, {0xFF, 0xFF, 0xF8, 0x00}},
      {19, 0, 0, -3, 0x00, {0, 0, 0, 0}},
      {20, 1, 1, 1, 0x20, {0, 0, 0, 0}},   // the ODD size is chip 19's only
      {25, 2, 0, 0, 0x00, {0, 0, 0, 0}},   // bit 5 only for exactly 1
      {28, 1, 0, 0, 0x20, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SettingsBlock settings = PageSettings();
    settings.ODDSize = c.oddSize;
    StationOptions options;
    options.EnMultiSec = c.multi;
    options.EnOver2TBMulLun = c.over2tb;
    ConfigBlock block{};
    ConfigPage page{};
    BuildEepromImage("", static_cast<bridge::ChipType>(c.chip), settings, options, block, page);
    EXPECT_EQ(page[231], c.bits231) << "chip " << c.chip << " multi " << c.multi << " over " << c.over2tb;
    EXPECT_EQ((std::array<uint8_t, 4>{page[232], page[233], page[234], page[235]}), c.oddBytes);
    // A worker's image never switches the station's options.
    EXPECT_EQ(options.EnMultiSec, c.multi);
    EXPECT_EQ(options.EnOver2TBMulLun, c.over2tb);
  }
  // Bits set before are cleared where the settings say off.
  SettingsBlock settings = PageSettings();
  ConfigBlock block{};
  ConfigPage page{};
  page[231] = 0xFF;
  BuildEepromImage("", 19, settings, {}, block, page);
  EXPECT_EQ(page[231], 0xCF);
}

TEST(BuildEepromImage, OptionBitsOfTheBlockWithoutDeviceQuestions) {
  struct Case {
    int chip;
    int32_t multi, over2tb, pwMode, oddSize;
    uint8_t in46, in47, in10, in11, in83;
    uint8_t out46, out47, out10, out11, out83;
    std::array<uint8_t, 4> out118;
  } const cases[] = {
      // 13: block[47] bits 1 and 2 from the PW mode and the >2TB switch; block[46] bit 7 by EnMultiSec 0/1/2.
      {13, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0x7F, 0xFD, 0, 0, 0, {0, 0, 0, 0}},
      {13, 1, 1, 1, 0, 0x00, 0x00, 0, 0, 0, 0x80, 0x02, 0, 0, 0, {0, 0, 0, 0}},
      {13, 2, 1, 0, 0, 0x00, 0x06, 0, 0, 0, 0x80, 0x00, 0, 0, 0, {0, 0, 0, 0}},
      {13, 3, 0, 0, 0, 0x80, 0x00, 0, 0, 0, 0x80, 0x04, 0, 0, 0, {0, 0, 0, 0}},
      {13, 3, 0, 0, 0, 0x00, 0x00, 0, 0, 0, 0x00, 0x04, 0, 0, 0, {0, 0, 0, 0}},
      // 16: block[10] bit 0 and block[83] bit 4 follow EnMultiSec, block[11] bit 4 the >2TB switch.
      {16, 1, 1, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0, 0, 0x01, 0x10, 0x10, {0, 0, 0, 0}},
      {16, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0xFE, 0xEF, 0xEF, {0, 0, 0, 0}},
      // 18: block[83] bit 4 set only with EnMultiSec off; the ODD size at 118.
      {18, 1, 0, 0, 1, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0xEF, {0x00, 0x00, 0x08, 0x00}},
      {18, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0, 0, 0, 0, 0x10, {0, 0, 0, 0}},
      {18, 0, 0, 0, 2097152, 0, 0, 0, 0, 0x00, 0, 0, 0, 0, 0x10, {0x00, 0x00, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    SettingsBlock settings = ZeroedSettingsBlock();
    settings.ODDSize = c.oddSize;
    StationOptions options;
    options.EnMultiSec = c.multi;
    options.EnOver2TBMulLun = c.over2tb;
    options.QV843PWMode = c.pwMode;
    ConfigBlock block{};
    block[46] = c.in46, block[47] = c.in47, block[10] = c.in10, block[11] = c.in11, block[83] = c.in83;
    ConfigBlock expected = block;
    expected[46] = c.out46, expected[47] = c.out47, expected[10] = c.out10, expected[11] = c.out11,
    expected[83] = c.out83;
    std::copy(c.out118.begin(), c.out118.end(), expected.begin() + 118);
    ConfigPage page{};
    BuildEepromImage("", static_cast<bridge::ChipType>(c.chip), settings, options, block, page);
    EXPECT_EQ(block, expected) << "chip " << c.chip << " multi " << c.multi;
    EXPECT_EQ(page, ConfigPage{}) << "no page for chip " << c.chip;
  }
}

// ---- Steps that ask the device.

sim::ProductConfig Product(int chip, uint32_t sectorSize = 512) {
  sim::ProductConfig config = TestProduct("image");
  config.chipType = static_cast<uint8_t>(chip);
  config.disk.sectorSize = sectorSize;
  config.disk.sectors = 8192;
  config.disk.serial = "  DSK-7731";
  return config;
}

TEST(BuildEepromImage, StringBFromTheDiskSerialOrLeftWhenIdentifyFails) {
  for (const int chip : {8, 19, 25}) {
    OneProduct one(Product(chip));
    SettingsBlock settings = ZeroedSettingsBlock();
    settings.StrBFromHDSN = 1;
    SetFieldText(settings.StringB, "Before");
    ConfigBlock block{};
    ConfigPage page{};
    BuildEepromImage(one.path(), static_cast<bridge::ChipType>(chip), settings, {}, block, page);
    EXPECT_EQ(FieldText(settings.StringB), "  DSK-7731") << chip;

    SetFieldText(settings.StringB, "Before");
    one.product().AddFault(Always(sim::Fault::Kind::CheckCondition, {}));
    BuildEepromImage(one.path(), static_cast<bridge::ChipType>(chip), settings, {}, block, page);
    EXPECT_EQ(FieldText(settings.StringB), "Before") << chip;
  }
}

const std::vector<uint8_t> kRead703B = {0xDF, 0x10, 0x00, 0x00, 0x01, 0x00, 0x70, 0x3B};

TEST(BuildEepromImage, ModeByteOfTheQvb819FamilyAndAFailedRead) {
  for (const int chip : {17, 18}) {
    OneProduct one(Product(chip));
    one.product().WithBridge([](sim::EmulatedBridge& b) { return b.registers()[0x703B] = 0x05; });
    StationOptions options;
    options.QVB819REU = 1;
    SettingsBlock settings = ZeroedSettingsBlock();
    ConfigBlock block{};
    ConfigPage page{};
    block[117] = 0x5A;
    BuildEepromImage(one.path(), static_cast<bridge::ChipType>(chip), settings, options, block, page);
    EXPECT_EQ(block[117], 0xD9) << chip;

    block[117] = 0x5A;
    one.product().AddFault(Always(sim::Fault::Kind::CheckCondition, kRead703B));
    BuildEepromImage(one.path(), static_cast<bridge::ChipType>(chip), settings, options, block, page);
    EXPECT_EQ(block[117], 0x5A) << chip;

    options.QVB819REU = 0;
    one.product().ClearFaults();
    BuildEepromImage(one.path(), static_cast<bridge::ChipType>(chip), settings, options, block, page);
    EXPECT_EQ(block[117], 0x5A) << chip;
  }
}

TEST(BuildEepromImage, Qvb819Register70C8AndTheWdSwitch) {
  struct Case {
    uint8_t reg70C8, in45;
    int32_t wd;
    uint8_t out45, out124;
  } const cases[] = {
      {0x08, 0x00, 0, 0x01, 0x00}, {0x08, 0x40, 1, 0x41, 0x01}, {0x08, 0x02, 0, 0x02, 0x00},
      {0xF7, 0x00, 1, 0x00, 0x01},
  };
  OneProduct one(Product(17));
  for (const Case& c : cases) {
    one.product().WithBridge([&](sim::EmulatedBridge& b) { return b.registers()[0x70C8] = c.reg70C8; });
    StationOptions options;
    options.QVB819WDHDD = c.wd;
    SettingsBlock settings = ZeroedSettingsBlock();
    ConfigBlock block{};
    ConfigPage page{};
    block[45] = c.in45;
    BuildEepromImage(one.path(), 17, settings, options, block, page);
    EXPECT_EQ(block[45], c.out45) << int{c.reg70C8} << " " << int{c.in45};
    EXPECT_EQ(block[124], c.out124);
    EXPECT_EQ(block[83], 0x10);  // EnMultiSec off sets bit 4
  }
}

// Chip 8: the configuration-table type t comes from byte 8 of the 20-byte
// configuration block (0xA8 on the bench; changed in flight here), d from
// the drive's sector size.
TEST(BuildEepromImage, Qvs639OptionsByConfigurationTypeAndDrive) {
  struct Case {
    int32_t multi, over2tb;
    uint8_t typeByte;  // t = byte - 0xA0, except 0xC2 = 13 and 0xC4 = 14
    bool longSectors;
    uint8_t in83, in117;
    uint8_t out10, out11, out83, out117;
  } const cases[] = {
      {1, 0, 0xC2, false, 0xC0, 0x00, 0x00, 0x00, 0xC0, 0x04},  // t 13
      {1, 0, 0xC4, false, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00},  // t 14
      {1, 0, 0xDC, false, 0xC0, 0x00, 0x01, 0x00, 0xD0, 0x00},  // t 60
      {1, 0, 0xD0, true, 0xC0, 0x00, 0x00, 0x10, 0xD0, 0x00},   // t 48 with d
      {1, 0, 0xD0, false, 0xC0, 0x00, 0x00, 0x10, 0xC0, 0x00},  // t 48 without
      {1, 0, 0xB4, true, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04},   // t 20 with d
      {1, 0, 0xB4, false, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
      {1, 0, 0xA9, true, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},   // t 9: below 10
      {0, 0, 0xC2, false, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00},  // t 13 off: bit 2 cleared
      {0, 0, 0xA8, false, 0x00, 0x04, 0x00, 0x00, 0xC0, 0x04},  // any other t off
      {1, 1, 0xD2, false, 0x00, 0x00, 0x01, 0x10, 0x10, 0x00},  // t 50 with >2TB
      {1, 0, 0xD2, false, 0x00, 0x00, 0x01, 0x00, 0x10, 0x00},
      {0, 0, 0xD1, false, 0x00, 0x00, 0x00, 0x10, 0xC0, 0x00},  // t 49 without >2TB
      {0, 1, 0xD1, false, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00},
  };
  sim::ProductConfig shortSectors = Product(8, 512), longSectors = Product(8, 4096);
  shortSectors.name = "short";
  longSectors.name = "long";
  auto bench = std::make_shared<sim::Bench>(std::vector<sim::ProductConfig>{shortSectors, longSectors});
  platform::ScopedBackend installed(bench);
  for (const Case& c : cases) {
    sim::Product& product = bench->product(c.longSectors ? 1 : 0);
    const std::string path = product.path();
    sim::Fault retype = MakeFault(sim::Fault::Kind::CorruptData, {0xFF, 0x04, 0xA0});
    retype.count = -1;
    retype.offset = 8;
    retype.xorMask = static_cast<uint8_t>(0xA8 ^ c.typeByte);
    product.ClearFaults();
    if (retype.xorMask) product.AddFault(retype);
    StationOptions options;
    options.EnMultiSec = c.multi;
    options.EnOver2TBMulLun = c.over2tb;
    SettingsBlock settings = ZeroedSettingsBlock();
    ConfigBlock block{};
    block[83] = c.in83;
    block[117] = c.in117;
    ConfigPage page{};
    BuildEepromImage(path.c_str(), 8, settings, options, block, page);
    const auto tag = ::testing::Message() << "type byte " << std::hex << int{c.typeByte} << " multi "
                                          << c.multi << " over " << c.over2tb << " d " << c.longSectors;
    EXPECT_EQ(block[10], c.out10) << tag;
    EXPECT_EQ(block[11], c.out11) << tag;
    EXPECT_EQ(block[83], c.out83) << tag;
    EXPECT_EQ(block[117], c.out117) << tag;
  }
}

}  // namespace
}  // namespace station

namespace station {
namespace {

using bridge::testing::MakeFault;
using bridge::testing::OneProduct;
using bridge::testing::TestProduct;

// ---- The chips' fixed option bytes in each EEPROM layout. The positions the
// chips use are free bytes of Type 3; in Type 1 and Type 2 some of them are
// the PID or lie inside the UTF-16 string texts.

constexpr uint16_t kVid = 0x6A3E;
constexpr uint16_t kPid = 0x4647;  // its low byte 0x47 has bit 0 set

struct Identity {
  uint16_t vid = 0, pid = 0;
  std::array<std::string, 3> strings;  // manufacturer, product, serial
  bool operator==(const Identity&) const = default;
};

void PrintTo(const Identity& id, std::ostream* os) {
  *os << std::hex << id.vid << "/" << id.pid << " \"" << id.strings[0] << "\" \"" << id.strings[1] << "\" \""
      << id.strings[2] << "\"";
}

// A USB string descriptor as a host reads it: its length byte, type 3, then
// characters of one byte or two (a character that is not 8-bit reads '?').
std::string DescriptorText(const uint8_t* block, int32_t offset, bool singleByte) {
  if (offset == 0) return "";
  if (block[offset + 1] != 3) return "<not a descriptor>";
  std::string text;
  const int count = (block[offset] - 2) / 2;
  for (int i = 0; i < count; ++i) {
    const uint8_t* c = block + offset + 2 + i * (singleByte ? 1 : 2);
    text += singleByte || c[1] == 0 ? static_cast<char>(c[0]) : '?';
  }
  return text;
}

Identity IdentityIn(const uint8_t* block, const EepromLayout& layout) {
  const auto& at = layout.offsets;
  const auto word = [block](int32_t o) { return static_cast<uint16_t>(block[o] | block[o + 1] << 8); };
  return {word(at[kVidOffset]),
          word(at[kPidOffset]),
          {DescriptorText(block, at[kStringAOffset], layout.singleByteText),
           DescriptorText(block, at[kStringBOffset], layout.singleByteText),
           DescriptorText(block, at[kSerialOffset], layout.singleByteText)}};
}

// The identity this test writes: the IDs, and each string as long as the
// layout lets it be.
Identity Written(const EepromLayout& layout) {
  const auto& at = layout.offsets;
  const auto text = [&](int offset, int max, char c) {
    return at[offset] == 0 ? std::string() : std::string(static_cast<size_t>(at[max]), c);
  };
  return {kVid, kPid, {text(kStringAOffset, kStringAMax, 'M'), text(kStringBOffset, kStringBMax, 'P'),
                       text(kSerialOffset, kSerialMax, 'S')}};
}

// The settings as the EEPROM type handler and the edits leave them.
SettingsBlock LayoutSettings(const EepromLayout& layout) {
  SettingsBlock s = ZeroedSettingsBlock();
  LoadLayoutDefaults(s.OptionBlock, *layout.defaults);
  ApplyLayoutOffsets(s, layout, true);
  s.TableType = layout.item + 1;
  const Identity id = Written(layout);
  StoreId(s.OptionBlock, layout.offsets[kVidOffset], id.vid);
  StoreId(s.OptionBlock, layout.offsets[kPidOffset], id.pid);
  const int width = layout.singleByteText ? 1 : 2;
  const std::pair<int, int> places[] = {{kStringAOffset, kStringAMax}, {kStringBOffset, kStringBMax},
                                        {kSerialOffset, kSerialMax}};
  for (size_t i = 0; i < 3; ++i) {
    const auto [offset, max] = places[i];
    WriteStringDescriptor(s.OptionBlock, layout.offsets[offset], id.strings[i], layout.offsets[max] * width,
                          layout.singleByteText);
  }
  return s;
}

enum LayoutMask : unsigned { kT1 = 1, kT2 = 2, kT3 = 4 };
unsigned MaskOf(const EepromLayout& layout) { return 1u << layout.item; }

// A bit a chip's options set or clear, and the layouts that have its byte.
struct OptionBit {
  size_t byte;
  uint8_t mask;
  bool set;
  unsigned layouts;
};

struct ChipOptions {
  int chip;
  std::vector<OptionBit> bits;  // with EnMultiSec on, the >2TB switch off, every other option on
};

TEST(BuildEepromImage, ChipOptionsStayOutOfTheLayoutsIdentity) {
  const ChipOptions chips[] = {
      {8, {{83, 0x10, true, kT3}, {10, 0x01, true, kT2 | kT3}, {11, 0x10, true, kT2 | kT3}}},  // t 49
      {13, {{47, 0x06, true, kT3}, {46, 0x80, true, kT3}}},
      {16, {{10, 0x01, true, kT2 | kT3}, {83, 0x10, true, kT3}, {11, 0x10, false, kT2 | kT3}}},
      {17, {{117, 0xD9, true, kT1 | kT3}, {45, 0x01, true, kT3}, {124, 0x01, true, kT1 | kT2 | kT3},
            {83, 0x10, false, kT3}}},
      {18, {{117, 0xD9, true, kT1 | kT3}, {83, 0x10, false, kT3}, {120, 0x08, true, kT1 | kT3}}},
  };
  for (const ChipOptions& c : chips) {
    sim::ProductConfig config = TestProduct("layout");
    config.chipType = static_cast<uint8_t>(c.chip);
    OneProduct one(config);
    one.product().WithBridge([](sim::EmulatedBridge& b) {
      b.registers()[0x70C8] = 0x08;
      return b.registers()[0x703B] = 0x05;
    });
    if (c.chip == 8) {  // configuration-table type 49
      sim::Fault retype = MakeFault(sim::Fault::Kind::CorruptData, {0xFF, 0x04, 0xA0});
      retype.count = -1;
      retype.offset = 8;
      retype.xorMask = 0xA8 ^ 0xD1;
      one.product().AddFault(retype);
    }
    for (const int multi : {1, 0}) {
      StationOptions options;
      options.EnMultiSec = multi;
      options.EnOver2TBMulLun = !multi;
      options.QV843PWMode = 1;
      options.QVB819REU = 1;
      options.QVB819WDHDD = 1;
      for (const EepromLayout& layout : EepromLayouts()) {
        if (layout.family != LayoutFamily::kStandard) continue;
        const auto tag = ::testing::Message() << "chip " << c.chip << " in " << layout.itemText << " multi " << multi;
        SettingsBlock settings = LayoutSettings(layout);
        settings.ODDSize = 1;
        ConfigBlock block;
        std::memcpy(block.data(), settings.OptionBlock, block.size());
        ConfigPage page{};
        BuildEepromImage(one.path(), static_cast<bridge::ChipType>(c.chip), settings, options, block, page);
        EXPECT_EQ(IdentityIn(block.data(), layout), Written(layout)) << tag;
        if (multi != 1) continue;
        for (const OptionBit& bit : c.bits) {
          if (!(bit.layouts & MaskOf(layout))) continue;
          EXPECT_EQ(block[bit.byte] & bit.mask, bit.set ? bit.mask : 0) << tag << " byte " << bit.byte;
        }
      }
    }
  }
}

// The pass's standby byte (45) is a Type 3 place too.
TEST(PrepareOptionBlock, TheStandbyByteStaysOutOfTheLayoutsIdentity) {
  for (const bool qvs819 : {false, true}) {
    for (const EepromLayout& layout : EepromLayouts()) {
      if (layout.family != LayoutFamily::kStandard) continue;
      const auto tag = ::testing::Message() << layout.itemText << (qvs819 ? " QVS819 family" : "");
      SettingsBlock settings = LayoutSettings(layout);
      SetFieldText(settings.VenderID, "6A3E");
      SetFieldText(settings.ProductID, "4647");
      SetFieldText(settings.StringA, "M");
      SetFieldText(settings.StringB, "P");
      SetFieldText(settings.String3, "S");
      settings.StandbyTimer = 5;
      const uint8_t before45 = settings.OptionBlock[45];
      DeviceMix mix;
      mix.StandbyTimerSupported = true;
      mix.AnyQvs819Family = qvs819;
      IdentityControls controls;
      controls.eepromLayoutIndex = layout.layoutIndex;
      PrepareOptionBlock(settings, controls, mix, 16);
      const Identity id = IdentityIn(settings.OptionBlock, layout);
      EXPECT_EQ(id.strings, Written(layout).strings) << tag;
      if (layout.item == 2) EXPECT_EQ(settings.OptionBlock[45], 6) << tag;
      else EXPECT_EQ(settings.OptionBlock[45], before45) << tag;
    }
  }
}

}  // namespace
}  // namespace station
