// Each chip family's update through the port worker, judged from the
// bench's flash afterwards: the configuration against a transcription of
// the default tables and the settings written here, apart from the code,
// and the firmware against the file with cmp.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bridge/ff04_flash_programming.h"
#include "disk/tests/tool_check.h"
#include "sim/spi_flash.h"
#include "station/port_worker.h"
#include "station/eeprom_layout.h"
#include "station/relink.h"
#include "station/tests/worker_bench.h"

namespace station {
namespace {

using testing::Pattern;

namespace fs = std::filesystem;
using disk::testing::RunTool;
using disk::testing::ShellQuote;
using testing::WorkerBench;
using testing::WorkerProduct;
using Bytes = std::vector<uint8_t>;

constexpr char kStringA[] = "KESTROVA DISK STRING";  // 20 characters
constexpr char kStringC[] = "Orvanta Corp";          // 12 characters
constexpr char kRevision[] = "R1.7";
constexpr int32_t kStandbyMinutes = 5;
constexpr uint32_t kImageSize = 0x10600;

// Byte entries of the default tables, (position, value).
using Entries = std::vector<std::pair<int, uint8_t>>;
Entries Zeros(int from, int to) {
  Entries e;
  for (int i = from; i <= to; ++i) e.push_back({i, 0});
  return e;
}
Entries Join(Entries a, const Entries& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
// ChipType 19's ("every other type").
const Entries kOtherTable = Join({{4, 0x00},
                                  {5, 0x01},
                                  {9, 0x01},
                                  {11, 0x00},
                                  {13, 0x03},
                                  {47, 0x30},
                                  {49, 0x03},
                                  {81, 0x00},
                                  {82, 0x7B},
                                  {83, 0x02},
                                  {85, 0x03}},
                                 Zeros(117, 127));
const Entries kChip13Table = {{4, 0x00},   {5, 0x01},   {9, 0x01},   {11, 0x00},  {13, 0x03},
                              {47, 0x30},  {49, 0x03},  {81, 0x00},  {82, 0x7B},  {83, 0x02},
                              {85, 0x03},  {117, 0x00}, {118, 0xFF}, {119, 0x41}, {120, 0xFF},
                              {121, 0xFF}, {122, 0x00}, {123, 0x01}, {124, 0x31}, {125, 0xB0},
                              {126, 'Q'},  {127, 'V'}};
const Entries kChip20Table = Join({{9, 0x01},
                                   {11, 0x00},
                                   {13, 0x03},
                                   {45, 0x00},
                                   {46, 0x00},
                                   {47, 0x00},
                                   {49, 0x03},
                                   {81, 0x00},
                                   {82, 0x00},
                                   {83, 0x00},
                                   {85, 0x03}},
                                  Zeros(117, 127));
const Entries kChip25To28Table =
    Join({{9, 0x01}, {11, 0x00}, {13, 0x03}, {49, 0x03}, {85, 0x03}}, Zeros(117, 127));

// The settings' option block: VID 6A3E and PID 4649, little-endian.
Bytes OptionBlock() {
  Bytes block(128, 0);
  block[0] = 0x3E;
  block[1] = 0x6A;
  block[2] = 0x49;
  block[3] = 0x46;
  return block;
}

// The block after the worker's own writes: the manufacturer descriptor
// (StringA, 8-bit in EEPROM type 3) at 12, then the table's entries.
Bytes ExpectedBlock(const Entries& table) {
  Bytes block = OptionBlock();
  const std::string a = kStringA;
  block[12] = static_cast<uint8_t>(2 * a.size() + 2);
  block[13] = 3;
  std::memcpy(block.data() + 14, a.data(), a.size());
  for (const auto& [at, value] : table) block[static_cast<size_t>(at)] = value;
  return block;
}

// The 256-byte page of ChipTypes 19, 20 and 25-28 for an image without its
// own configuration.
Bytes ExpectedPage(const Entries& table) {
  Bytes page(256, 0);
  const Bytes block = ExpectedBlock(table);
  std::copy(block.begin(), block.end(), page.begin());
  page[224] = 'H';
  page[225] = 'D';
  page[240] = 'B';
  page[241] = 'C';
  page[254] = 'Q';
  page[255] = 'V';
  page[6] = 10;
  const std::string a = kStringA, c = kStringC;
  std::fill(page.begin() + 200, page.begin() + 224, 0);
  std::memcpy(page.data() + 200, a.data(), a.size());
  std::fill(page.begin() + 14, page.begin() + 44, 0);
  page[12] = static_cast<uint8_t>(2 * c.size() + 2);
  page[13] = 3;
  std::memcpy(page.data() + 14, c.data(), c.size());
  page[45] = 0;
  page[242] |= 0x08;
  page[244] = 0x00;
  page[245] = 0x00;
  page[246] = 0x01;  // 5 minutes x 60 = 0x12C seconds
  page[247] = 0x2C;
  return page;
}

struct Span {
  uint32_t file;
  uint32_t flash;
  uint32_t length;
};

struct FlowCase {
  const char* name;
  uint8_t chipType;
  uint32_t configAddress;
  Bytes config;              // expected at configAddress
  std::vector<Span> copies;  // where the file's bytes lie in the flash
  Bytes options = {};        // the option bytes at 136 (ChipTypes 11-13)
};

void PrintTo(const FlowCase& c, std::ostream* os) { *os << c.name; }

Bytes Chip13Block() {
  Bytes block = ExpectedBlock(kChip13Table);
  block[47] = 0x34;  // bits 1-2 cleared, bit 2 set: multi-LUN over 2 TB off
  return block;
}

// Layouts of the flash after the update (the file's code where the bridge
// keeps it) and the configuration each family writes.
const std::vector<FlowCase>& Cases() {
  static const std::vector<FlowCase> cases = {
      // ChipTypes 11 and 12 keep the block as the settings and the worker left it.
      {"Qvs665",
       11,
       0,
       ExpectedBlock({}),
       {{0x80, 0x80, 8}, {0x200, 0x200, 0xFE00}},
       {'R', '1', '.', '7'}},
      {"Qvs857",
       13,
       0,
       Chip13Block(),
       {{0x80, 0x80, 8}, {0x200, 0x200, 0xFE00}},
       {'R', '1', '.', '7'}},
      {"Qvs843", 19, 0xC000, ExpectedPage(kOtherTable), {{0, 0, 0xBE00}}},
      {"Qvs879", 20, 0xC000, ExpectedPage(kChip20Table), {{0, 0, 0xBE00}, {0xC100, 0xC100, 0x200}}},
      {"Qvs887",
       25,
       0xD000,
       ExpectedPage(kChip25To28Table),
       {{0, 0xE00, 0x200}, {0x400, 0x1000, 0xC000}, {0xC500, 0xD100, 0x100}}},
      {"Qvs884",
       26,
       0xD000,
       ExpectedPage(kChip25To28Table),
       {{0, 0xE00, 0x200}, {0x400, 0x1000, 0xC000}, {0xC500, 0xD100, 0x100}}},
      {"Qvs891",
       27,
       0x11000,
       ExpectedPage(kChip25To28Table),
       {{0, 0xE00, 0x200}, {0x400, 0x1000, 0x10000}, {0x10500, 0x11100, 0x100}}},
      {"Qvs894",
       28,
       0x11000,
       ExpectedPage(kChip25To28Table),
       {{0, 0xE00, 0x200}, {0x400, 0x1000, 0x10000}, {0x10500, 0x11100, 0x100}}},
  };
  return cases;
}

class ChipFlows : public ::testing::TestWithParam<FlowCase> {};

TEST_P(ChipFlows, FlashHoldsTheTranscribedConfigurationAndTheFile) {
  const FlowCase& c = GetParam();
  const fs::path work = testing::ScratchPath("flow-" + std::string(c.name));
  fs::create_directories(work);
  Bytes file = Pattern(kImageSize, c.chipType);
  // No configuration of its own: the maker signature is absent everywhere.
  for (size_t i = 0; i + 1 < file.size(); ++i) {
    if (file[i] == 'Q' && file[i + 1] == 'V') file[i + 1] = 'W';
  }
  const std::string fileName = (work / "firmware.bin").string();
  std::ofstream(fileName, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));

  WorkerBench bench({WorkerProduct(c.name, c.chipType)});
  ASSERT_EQ(bench.Prepare(), 1);
  const int slot = bench.SlotOf(bench.product(0));
  PassState& pass = bench.pass();
  ASSERT_TRUE(pass.firmwareImage.Allocate());
  std::memcpy(pass.firmwareImage.data(), file.data(), file.size());
  pass.firmwareImage.SetLength(kImageSize);

  auto job = bench.Job(slot);
  SettingsBlock& s = job->settings;
  s.EnFWUpdate = 1;
  s.EnEEPROMUpdate = 1;
  s.TableType = 3;
  const Bytes block = OptionBlock();
  std::memcpy(s.OptionBlock, block.data(), block.size());
  s.OptionOffsets[0] = 0;
  s.OptionOffsets[1] = 2;
  s.OptionOffsets[6] = 12;
  s.OptionOffsets[7] = 30;
  SetFieldText(s.StringA, kStringA);
  SetFieldText(s.StringC, kStringC);
  SetFieldText(s.ProductRevsion, kRevision);
  s.StandbyTimer = kStandbyMinutes;
  bench.RunOne(std::move(job));
  const bridge::PortRecord& r = bench.record(slot);
  EXPECT_EQ(r.firmwareStatus, bridge::kStepPass);
  EXPECT_EQ(r.configurationStatus, bridge::kStepPass);

  const Bytes flash = bench.product(0).WithBridge([](sim::EmulatedBridge& b) {
    return Bytes(b.flash().memory().begin(), b.flash().memory().end());
  });
  const Bytes config(
      flash.begin() + c.configAddress,
      flash.begin() + c.configAddress + static_cast<std::ptrdiff_t>(c.config.size()));
  for (size_t i = 0; i < c.config.size(); ++i) {
    EXPECT_EQ(config[i], c.config[i]) << "configuration byte " << i;
  }

  for (size_t i = 0; i < c.options.size(); ++i) {
    EXPECT_EQ(flash[136 + i], c.options[i]) << "option byte " << i;
  }

  const std::string dump = (work / "flash.bin").string();
  std::ofstream(dump, std::ios::binary)
      .write(reinterpret_cast<const char*>(flash.data()),
             static_cast<std::streamsize>(flash.size()));
  for (const Span& span : c.copies) {
    const auto cmp =
        RunTool("cmp -n " + std::to_string(span.length) + " -i " + std::to_string(span.file) + ":" +
                std::to_string(span.flash) + " " + ShellQuote(fileName) + " " + ShellQuote(dump));
    EXPECT_EQ(cmp.exitCode, 0) << "file 0x" << std::hex << span.file << " at flash 0x" << span.flash
                               << ": " << cmp.output;
  }
  fs::remove_all(work);
}

INSTANTIATE_TEST_SUITE_P(Families, ChipFlows, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace station

namespace station {
namespace {

// A job of the configuration update alone, with VID 6A3E, the PID given
// and the identity strings.
std::unique_ptr<WorkerJob> IdentityJob(WorkerBench& bench, int slot, const char* pid) {
  auto job = bench.Job(slot);
  SettingsBlock& s = job->settings;
  s.EnEEPROMUpdate = 1;
  SetFieldText(s.VenderID, "6A3E");
  SetFieldText(s.ProductID, pid);
  SetFieldText(s.StringA, "Orvanta");
  SetFieldText(s.StringB, "Kestrova Bridge");
  SetFieldText(s.String3, "000000000042");
  return job;
}

// The other flash family: the identity image programmed by the worker is
// what the product presents on the bus after the relink.
TEST(ChipFlowsIdentity, NewUsbIdentityShowsAfterTheRelink) {
  WorkerBench bench({WorkerProduct("ident", 29)});
  ASSERT_EQ(bench.Prepare(), 1);
  const int slot = bench.SlotOf(bench.product(0));
  bench.RunOne(IdentityJob(bench, slot, "4649"));
  bridge::PortRecord& r = bench.record(slot);
  ASSERT_EQ(r.configurationStatus, bridge::kStepPass);
  EXPECT_EQ(bridge::FieldText(r.logSerial), "000000000042");

  int fail = 0;
  ASSERT_TRUE(RelinkAfterReset(bench.pass(), r, ResetKind::Bridge, 10, 0, fail));
  EXPECT_EQ(r.vid, 0x6A3E);
  EXPECT_EQ(r.pid, 0x4649);
  EXPECT_EQ(bridge::FieldText(r.manufacturer), "Orvanta");
  EXPECT_EQ(bridge::FieldText(r.product), "Kestrova Bridge");
  EXPECT_EQ(bridge::FieldText(r.usbSerial), "000000000042");
  EXPECT_EQ(r.chipType, 29);
}

}  // namespace
}  // namespace station

namespace station {
namespace {

// A ChipType 16 given the Type 1 layout: its option bits have no place
// there (bytes 10 and 11 are the PID), so the configuration it is written
// keeps the PID the window laid out.
TEST(ChipFlowsIdentity, Type1ConfigurationOfAChip16KeepsItsPid) {
  WorkerBench bench({WorkerProduct("type1", 16)});
  ASSERT_EQ(bench.Prepare(), 1);
  const int slot = bench.SlotOf(bench.product(0));
  auto job = IdentityJob(bench, slot, "4647");
  SettingsBlock& s = job->settings;
  const EepromLayout& layout = *FindEepromLayout(LayoutFamily::kStandard, 0);
  LoadLayoutDefaults(s.OptionBlock, *layout.defaults);
  ApplyLayoutOffsets(s, layout, true);
  s.TableType = 1;
  StoreId(s.OptionBlock, layout.offsets[kVidOffset], 0x6A3E);
  StoreId(s.OptionBlock, layout.offsets[kPidOffset], 0x4647);
  bench.pass().options.EnMultiSec = 0;  // clears the option bit 0 of byte 10
  bench.pass().options.EnOver2TBMulLun = 1;
  bench.RunOne(std::move(job));
  ASSERT_EQ(bench.record(slot).configurationStatus, bridge::kStepPass);

  // The flash's configuration area, where its firmware reads the identity.
  const Bytes stored = bench.product(0).WithBridge([](sim::EmulatedBridge& b) {
    const auto area = b.flash().memory().begin() + bridge::kFlash48KConfigArea;
    return Bytes(area, area + 128);
  });
  EXPECT_EQ(stored[8] | stored[9] << 8, 0x6A3E);
  EXPECT_EQ(stored[10] | stored[11] << 8, 0x4647);
}

}  // namespace
}  // namespace station

namespace station {
namespace {

// The configuration page as the device holds it before a configuration-only
// update.
enum class DevicePage { kErased, kSigned };

struct PageCase {
  const char* name;
  uint8_t chipType;
  uint32_t pageAddress;  // where the bridge keeps its 256-byte page
  DevicePage before;
};

void PrintTo(const PageCase& c, std::ostream* os) { *os << c.name; }

// A signed page of the device's own: its type bytes at 13, 49 and 85, and
// two bytes of its own where the defaults would put others, one in the
// block (9) and one in the page's upper half (130).
constexpr uint8_t kDeviceByte9 = 0x5A;
constexpr uint8_t kDeviceByte130 = 0xA5;
Bytes SignedDevicePage() {
  Bytes page(256, 0);
  page[13] = page[49] = page[85] = 3;
  page[9] = kDeviceByte9;
  page[130] = kDeviceByte130;
  page[254] = 'Q';
  page[255] = 'V';
  return page;
}

class ConfigurationOnlyUpdate : public ::testing::TestWithParam<PageCase> {};

// A configuration-only update of a page family, with the bridge reset
// after it: the page is signed and holds the identity written, which the
// product presents once it is found again. An erased page takes the
// defaults; a signed one keeps the device's own bytes.
TEST_P(ConfigurationOnlyUpdate, EndsWithASignedPageThatTheProductPresents) {
  const PageCase& c = GetParam();
  WorkerBench bench({WorkerProduct(c.name, c.chipType)});
  bench.product(0).WithBridge([&](sim::EmulatedBridge& b) {
    auto page = b.flash().memory().begin() + c.pageAddress;
    if (c.before == DevicePage::kErased) {
      std::fill(page, page + 256, uint8_t{0xFF});
    } else {
      const Bytes own = SignedDevicePage();
      std::copy(own.begin(), own.end(), page);
    }
  });
  ASSERT_EQ(bench.Prepare(), 1);
  const int slot = bench.SlotOf(bench.product(0));
  auto job = IdentityJob(bench, slot, "4649");
  SettingsBlock& s = job->settings;
  const EepromLayout& layout = *FindEepromLayout(LayoutFamily::kStandard, 2);  // "Type 3"
  LoadLayoutDefaults(s.OptionBlock, *layout.defaults);
  ApplyLayoutOffsets(s, layout, true);
  StoreId(s.OptionBlock, layout.offsets[kVidOffset], 0x6A3E);
  StoreId(s.OptionBlock, layout.offsets[kPidOffset], 0x4649);
  SetFieldText(s.StringC, "Orvanta");  // the manufacturer descriptor of the page
  s.MPPortReset = 1;
  bench.RunOne(std::move(job));
  const bridge::PortRecord& r = bench.record(slot);
  ASSERT_EQ(r.configurationStatus, bridge::kStepPass);
  EXPECT_EQ(r.relinkStatus, bridge::kStepPass);
  EXPECT_EQ(r.result, 1);

  const Bytes page = bench.product(0).WithBridge([&](sim::EmulatedBridge& b) {
    const auto at = b.flash().memory().begin() + c.pageAddress;
    return Bytes(at, at + 256);
  });
  EXPECT_EQ(page[254], 'Q');
  EXPECT_EQ(page[255], 'V');
  for (const size_t typeByte : {13, 49, 85}) EXPECT_EQ(page[typeByte], 3) << "descriptor type byte " << typeByte;
  const bool kept = c.before == DevicePage::kSigned;
  EXPECT_EQ(page[9], kept ? kDeviceByte9 : 0x01);
  EXPECT_EQ(page[130], kept ? kDeviceByte130 : 0x00);

  // The identity the product presents after its reset, as the re-find read it.
  EXPECT_EQ(r.vid, 0x6A3E);
  EXPECT_EQ(r.pid, 0x4649);
  EXPECT_EQ(bridge::FieldText(r.manufacturer), "Orvanta");
  EXPECT_EQ(bridge::FieldText(r.product), "Kestrova Bridge");
  EXPECT_EQ(bridge::FieldText(r.usbSerial), "000000000042");
}

INSTANTIATE_TEST_SUITE_P(
    PageFamilies, ConfigurationOnlyUpdate,
    ::testing::Values(PageCase{"Qvs879Erased", 20, 0xC000, DevicePage::kErased},
                      PageCase{"Qvs887Erased", 25, 0xD000, DevicePage::kErased},
                      PageCase{"Qvs884Erased", 26, 0xD000, DevicePage::kErased},
                      PageCase{"Qvs891Erased", 27, 0x11000, DevicePage::kErased},
                      PageCase{"Qvs894Erased", 28, 0x11000, DevicePage::kErased},
                      PageCase{"Qvs879Signed", 20, 0xC000, DevicePage::kSigned},
                      PageCase{"Qvs887Signed", 25, 0xD000, DevicePage::kSigned},
                      PageCase{"Qvs884Signed", 26, 0xD000, DevicePage::kSigned},
                      PageCase{"Qvs891Signed", 27, 0x11000, DevicePage::kSigned},
                      PageCase{"Qvs894Signed", 28, 0x11000, DevicePage::kSigned}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace station
