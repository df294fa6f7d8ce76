// Chip identification over every ChipType the bench builds, the boot-code
// and foreign-disk fallbacks, the chip-information path, and the
// configuration type.
#include "bridge/chip_identification.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bridge/tests/bench_fixture.h"
#include "bridge/tests/fake_backend.h"
#include "sim/bench.h"

namespace bridge {
namespace {

using testing::AnswerByPrefix;
using testing::FakeBackend;
using testing::MakeFault;
using testing::OneProduct;
using testing::ScsiRule;
using Kind = sim::Fault::Kind;

const std::vector<uint8_t> kInquiryPrefix = {0x12};
const std::vector<uint8_t> kBridgeIdPrefix = {0xDF, 0x10, 0x00, 0x00, 0x02};
const std::vector<uint8_t> kChipInfoPrefix = {0xE0, 0xF4, 0xE7};
const std::vector<uint8_t> kRevisionPrefix = {0xFF, 0x04, 0x30};
const std::vector<uint8_t> kConfigPrefix = {0xFF, 0x04, 0xA0};

sim::ProductConfig Chip(uint8_t chipType, std::string revisionText = "", bool bootCode = false) {
  sim::ProductConfig config = testing::TestProduct("chip" + std::to_string(chipType));
  config.chipType = chipType;
  config.revisionText = std::move(revisionText);
  config.bootCodeOnly = bootCode;
  return config;
}

struct BenchCase {
  uint8_t benchChip;
  const char* revisionText;  // "" : the chip's own
  bool bootCode;
  ChipType type;             // IdentifyChipType
  uint16_t word;             // IdentifyChipTypeAndRevision
};

void PrintTo(const BenchCase& c, std::ostream* os) {
  *os << "chip " << int(c.benchChip) << " '" << c.revisionText << "'" << (c.bootCode ? " boot" : "");
}

class BenchIdentification : public ::testing::TestWithParam<BenchCase> {};

TEST_P(BenchIdentification, TypeAndRevisionWord) {
  const BenchCase& c = GetParam();
  OneProduct bench(Chip(c.benchChip, c.revisionText, c.bootCode));
  EXPECT_EQ(IdentifyChipType(bench.path()), c.type);
  EXPECT_EQ(IdentifyChipTypeAndRevision(bench.path()), c.word);
}

// Revision words: for the revision-text families the revision is character
// 5 of the text, '0' counting 1 ("q649E" keeps the character code plus one);
// for 8 and 17 it is the configuration type.
INSTANTIATE_TEST_SUITE_P(
    EveryChipType, BenchIdentification,
    ::testing::Values(
        BenchCase{1, "", false, 1, 0x0001}, BenchCase{2, "", false, 1, 0x0001},
        BenchCase{3, "q645C1", false, 3, 0x0201}, BenchCase{4, "", false, 4, 0x0004},
        BenchCase{5, "q649C0", false, 5, 0x0104}, BenchCase{6, "q649C3", false, 6, 0x0404},
        BenchCase{7, "q649E0", false, 7, 0x3107}, BenchCase{8, "", false, 8, 0x0808},
        BenchCase{9, "", false, 9, 0x0009}, BenchCase{10, "", false, 0, 0x0000},
        BenchCase{11, "", false, 11, 0x000B}, BenchCase{12, "", false, 12, 0x000C},
        BenchCase{13, "", false, 13, 0x000D}, BenchCase{14, "", false, 14, 0x000E},
        BenchCase{15, "q647A1", false, 15, 0x020F}, BenchCase{16, "q647A3", false, 16, 0x0410},
        BenchCase{17, "", false, 17, 0x1111}, BenchCase{18, "", false, 18, 0x0012},
        BenchCase{19, "", false, 19, 0x0013}, BenchCase{20, "", false, 20, 0x0014},
        BenchCase{21, "", false, 21, 0x0015}, BenchCase{22, "", false, 22, 0x0016},
        BenchCase{23, "", false, 23, 0x0017}, BenchCase{24, "", false, 24, 0x0018},
        BenchCase{25, "", false, 25, 0x0019}, BenchCase{26, "", false, 26, 0x001A},
        BenchCase{27, "", false, 27, 0x001B}, BenchCase{28, "", false, 28, 0x001C},
        BenchCase{29, "", false, 29, 0x001D}, BenchCase{30, "", false, 30, 0x001E},
        BenchCase{31, "", false, 31, 0x001F}, BenchCase{32, "", false, 32, 0x0020},
        BenchCase{33, "", false, 33, 0x0021}, BenchCase{34, "", false, 29, 0x001D}));

// A bridge in its boot code: no chip code, no chip-information block; the
// bridge id class gives 30 + class (QVS647 0, QVS648 1, QVS649 2, QVS645 3).
INSTANTIATE_TEST_SUITE_P(BootCode, BenchIdentification,
                         ::testing::Values(BenchCase{1, "", true, 33, 0x0021},
                                           BenchCase{4, "", true, 32, 0x0020},
                                           BenchCase{7, "", true, 32, 0x0020},
                                           BenchCase{14, "", true, 30, 0x001E}));

// Revision texts refine types 4 and 14 whatever the chip code said, in
// their fixed order; the revision word's families differ from the type's.
INSTANTIATE_TEST_SUITE_P(
    RevisionTexts, BenchIdentification,
    ::testing::Values(BenchCase{4, "q649C0xx", false, 5, 0x0104},
                      BenchCase{4, "q647A1", false, 15, 0x020F},
                      BenchCase{14, "q649E5", false, 7, 0x3607},
                      BenchCase{14, "q647A3", false, 16, 0x0410},
                      BenchCase{14, "q647A7", false, 14, 0x080F},  // A other than A3: 15
                      BenchCase{1, "q649C2", false, 1, 0x0304},   // IdentifyChipType leaves 1
                      BenchCase{8, "q645C1", false, 8, 0x0808}));  // 8 is never refined

TEST(ChipIdentification, ChipCodeDecidesWithoutFurtherCommands) {
  OneProduct bench(Chip(25));
  bench.product().EnableTrace(true);
  EXPECT_EQ(IdentifyChipType(bench.path()), 25);
  const std::vector<sim::TraceEntry> trace = bench.product().TakeTrace();
  ASSERT_EQ(trace.size(), 1u);
  EXPECT_EQ(trace[0].cdb[0], 0x12);
  EXPECT_EQ(trace[0].length, kInquiryIdentifyLength);
}

TEST(ChipIdentification, FailedInquiryIsNoBridge) {
  OneProduct bench(Chip(4, "q649C0"));
  bench.product().AddFault(MakeFault(Kind::CheckCondition, kInquiryPrefix));
  bench.product().EnableTrace(true);
  EXPECT_EQ(IdentifyChipType(bench.path()), kChipTypeNone);
  // Nothing after the INQUIRY: no revision block is read for a type 0.
  EXPECT_EQ(bench.product().TakeTrace().size(), 1u);
}

TEST(ChipIdentification, BootCodeWithoutBridgeIdIsNoBridge) {
  OneProduct bench(Chip(1, "", true));
  bench.product().AddFault(MakeFault(Kind::CheckCondition, kBridgeIdPrefix));
  EXPECT_EQ(IdentifyChipType(bench.path()), kChipTypeNone);
}

TEST(ChipIdentification, UnreadableRevisionBlock) {
  {
    OneProduct bench(Chip(4, "q649C0"));
    bench.product().AddFault(MakeFault(Kind::CheckCondition, kRevisionPrefix));
    EXPECT_EQ(IdentifyChipType(bench.path()), 4);
  }
  {
    // A QVS645 whose revision text cannot be read counts as revision 1.
    OneProduct bench(Chip(1));
    bench.product().AddFault(MakeFault(Kind::CheckCondition, kRevisionPrefix));
    EXPECT_EQ(IdentifyChipTypeAndRevision(bench.path()), 0x0101);
  }
  {
    OneProduct bench(Chip(14));
    bench.product().AddFault(MakeFault(Kind::CheckCondition, kRevisionPrefix));
    EXPECT_EQ(IdentifyChipTypeAndRevision(bench.path()), 0x000E);
  }
}

// A device without a chip code: a plain USB disk (foreign), or a bridge
// whose firmware answers only the vendor chip-information block.
std::vector<uint8_t> InquiryWithoutCode() {
  std::vector<uint8_t> inquiry(40, ' ');
  inquiry[0] = 0x00;
  inquiry[4] = 35;
  return inquiry;
}

std::vector<uint8_t> ChipInfo(const char* digits, char revision, bool valid = true) {
  std::vector<uint8_t> info(16, 0);
  info[0] = valid ? 0xF4 : 0x00;
  info[1] = valid ? 0xE7 : 0x00;
  std::copy(digits, digits + 3, info.begin() + 8);
  info[11] = static_cast<uint8_t>(revision);
  return info;
}

struct ForeignCase {
  const char* name;
  std::vector<ScsiRule> rules;
  ChipType type;
  uint16_t word;
};

class ChipInfoIdentification : public ::testing::TestWithParam<ForeignCase> {};

TEST_P(ChipInfoIdentification, Identifies) {
  auto fake = std::make_shared<FakeBackend>();
  fake->scsi = AnswerByPrefix(GetParam().rules);
  platform::ScopedBackend installed(fake);
  EXPECT_EQ(IdentifyChipType("\\\\?\\usbstor#disk&ven_x#1#{guid}"), GetParam().type);
  EXPECT_EQ(IdentifyChipTypeAndRevision("\\\\?\\usbstor#disk&ven_x#1#{guid}"), GetParam().word);
}

INSTANTIATE_TEST_SUITE_P(
    Fallbacks, ChipInfoIdentification,
    ::testing::Values(
        ForeignCase{"ForeignDisk", {{kInquiryPrefix, InquiryWithoutCode()}}, 0, 0},
        ForeignCase{"ChipInfoDigits",
                    {{kInquiryPrefix, InquiryWithoutCode()},
                     {kBridgeIdPrefix, std::vector<uint8_t>{0x00, 0x00}},
                     {kChipInfoPrefix, ChipInfo("871", '2')}},
                    21,
                    0x0215},
        ForeignCase{"ChipInfoRefinedByRevisionText",
                    {{kInquiryPrefix, InquiryWithoutCode()},
                     {kBridgeIdPrefix, std::vector<uint8_t>{0x00, 0x00}},
                     {kChipInfoPrefix, ChipInfo("649", '1')},
                     {kRevisionPrefix, std::vector<uint8_t>{'q', '6', '4', '9', 'C', '3'}}},
                    6,
                    0x0404},
        ForeignCase{"ChipInfo663IsNoType10",
                    {{kInquiryPrefix, InquiryWithoutCode()},
                     {kBridgeIdPrefix, std::vector<uint8_t>{0x00, 0x00}},
                     {kChipInfoPrefix, ChipInfo("663", '0')}},
                    0,
                    0},
        ForeignCase{"ChipInfoWithoutMark",
                    {{kInquiryPrefix, InquiryWithoutCode()},
                     {kBridgeIdPrefix, std::vector<uint8_t>{0x00, 0x00}},
                     {kChipInfoPrefix, ChipInfo("871", '0', false)}},
                    0,
                    0},
        ForeignCase{"NoChipInfoGivesBridgeIdClass",
                    {{kInquiryPrefix, InquiryWithoutCode()},
                     {kBridgeIdPrefix, std::vector<uint8_t>{0x3F, 0x00}},  // class 1
                     {kChipInfoPrefix, std::nullopt}},
                    31,
                    0x001F},
        ForeignCase{"InquiryCodeNeedsTheLeadingQ",
                    {{kInquiryPrefix,
                      [] {
                        std::vector<uint8_t> inquiry = InquiryWithoutCode();
                        inquiry[36] = 'Q';  // "Q871": not a chip code
                        inquiry[37] = '8';
                        inquiry[38] = '7';
                        inquiry[39] = '1';
                        return inquiry;
                      }()}},
                    0,
                    0}),
    [](const ::testing::TestParamInfo<ForeignCase>& info) { return info.param.name; });

// Configuration block: byte 8 the type, byte 18 the QVS639 layout mark.
std::vector<uint8_t> ConfigBlock(uint8_t typeByte, uint8_t layoutByte) {
  std::vector<uint8_t> block(20, 0);
  block[8] = typeByte;
  block[18] = layoutByte;
  return block;
}

class ConfigTypeTest : public ::testing::Test {
 protected:
  void Answer(std::optional<std::vector<uint8_t>> block) {
    fake_->scsi = AnswerByPrefix({{kConfigPrefix, std::move(block)}});
  }
  std::shared_ptr<FakeBackend> fake_ = std::make_shared<FakeBackend>();
  platform::ScopedBackend installed_{fake_};
  const char* path_ = "\\\\?\\usbstor#disk&ven_q#2#{guid}";
};

TEST_F(ConfigTypeTest, TypeByteMapping) {
  struct Case {
    uint8_t typeByte, layoutByte;
    int type;
  };
  for (const Case& c : {Case{0xA8, 0, 8}, Case{0xA9, 0, 9}, Case{0xAA, 0, 10}, Case{0xAB, 0, 11},
                        Case{0xAB, 0xD2, 50}, Case{0xAC, 0xD2, 12}, Case{0xC2, 0, 13},
                        Case{0xC4, 0, 14}, Case{0xB1, 0, 17}, Case{0xD0, 0xD2, 48},
                        Case{0x90, 0, -16}, Case{0x00, 0, -160}}) {
    Answer(ConfigBlock(c.typeByte, c.layoutByte));
    EXPECT_EQ(ReadConfigType(path_), c.type) << std::hex << int(c.typeByte) << " " << int(c.layoutByte);
  }
  fake_->cdbs.clear();
  Answer(std::nullopt);
  EXPECT_EQ(ReadConfigType(path_), 0);
  ASSERT_EQ(fake_->cdbs.size(), 1u);
  EXPECT_EQ(fake_->cdbs[0], (std::vector<uint8_t>{0xFF, 0x04, 0xA0, 0x14, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(ConfigTypeTest, SignatureOnlyForChipType8) {
  Answer(ConfigBlock(0xAB, 0xD2));
  EXPECT_EQ(CheckConfigSignature(path_, 8), 1);
  EXPECT_EQ(CheckConfigSignature(path_, 17), 0);
  EXPECT_EQ(CheckConfigSignature(path_, 0), 0);
  fake_->cdbs.clear();
  EXPECT_EQ(CheckConfigSignature(path_, 9), 0);
  EXPECT_TRUE(fake_->cdbs.empty());

  Answer(ConfigBlock(0xAB, 0xD1));
  EXPECT_EQ(CheckConfigSignature(path_, 8), 0);
  Answer(ConfigBlock(0xAC, 0xD2));
  EXPECT_EQ(CheckConfigSignature(path_, 8), 0);
  Answer(std::nullopt);
  EXPECT_EQ(CheckConfigSignature(path_, 8), 0);
}

TEST(ChipInfoVersion, VersionTwoLayout) {
  struct Case {
    std::vector<uint8_t> infoVersion;
    int expected;
  };
  for (const Case& c : {Case{{2, 0}, 1}, Case{{2, 1}, 0}, Case{{1, 0}, 0}, Case{{0, 2}, 0}}) {
    sim::ProductConfig config = Chip(21);
    config.infoVersion = c.infoVersion;
    OneProduct bench(config);
    EXPECT_EQ(IsChipInfoVersion2(bench.path()), c.expected)
        << int(c.infoVersion[0]) << "." << int(c.infoVersion[1]);
  }
  OneProduct boot(Chip(21, "", true));
  EXPECT_EQ(IsChipInfoVersion2(boot.path()), 0);
}

TEST(ChipModelTable, RowsAndChipNumbers) {
  EXPECT_EQ(ChipModelDigits(0), "No");
  EXPECT_EQ(ChipModelDigits(18), "829");
  EXPECT_EQ(ChipModelDigits(34), "646");
  EXPECT_EQ(ChipModelDigits(35), "No");
  EXPECT_EQ(ChipModelDigits(255), "No");
  // Every chip number names a row with the same digits.
  for (const ChipNumber& number : kChipNumbers) {
    EXPECT_EQ(ChipModelDigits(number.chipType), number.digits);
  }
}

}  // namespace
}  // namespace bridge
