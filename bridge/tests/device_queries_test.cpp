// Firmware version texts and their acceptance, the INQUIRY and disk
// revision checks (cross-checked with sg_inq and hdparm where installed),
// the register operations and the device-id parsers.
#include "bridge/device_queries.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/storage_enumeration.h"
#include "bridge/tests/bench_fixture.h"
#include "bridge/tests/fake_backend.h"
#include "bridge/vendor_commands.h"
#include "sim/bench.h"

namespace bridge {
namespace {

using testing::Always;
using testing::AnswerByPrefix;
using testing::FakeBackend;
using testing::MakeFault;
using Kind = sim::Fault::Kind;

const std::vector<uint8_t> kChipInfoPrefix = {0xE0, 0xF4, 0xE7};
const char* const kFakePath = "\\\\?\\usbstor#disk&ven_q#3#{guid}";

// A product of its own with the register reads and the wire CDB of one call.
class QueriedProduct : public testing::OneProduct {
 public:
  using OneProduct::OneProduct;

  // The CDB `send` puts on the wire (its first command).
  std::vector<uint8_t> CdbOf(const std::function<void()>& send) {
    product().EnableTrace(true);
    product().TakeTrace();
    send();
    std::vector<sim::TraceEntry> trace = product().TakeTrace();
    product().EnableTrace(false);
    return trace.empty() ? std::vector<uint8_t>{} : trace[0].cdb;
  }

  uint8_t Register(uint16_t address) {
    uint8_t value = 0;
    EXPECT_EQ(ReadBridgeRegister(path(), address, &value, 1), 1);
    return value;
  }
};

sim::ProductConfig Chip(uint8_t chipType) {
  sim::ProductConfig config = testing::TestProduct("chip" + std::to_string(chipType));
  config.chipType = chipType;
  return config;
}

// ---- FormatFirmwareVersion ----

struct VersionCase {
  uint8_t chip;
  std::vector<uint8_t> infoVersion;      // bytes 6-7; empty: the chip's own
  std::vector<uint8_t> firmwareVersion;  // bytes 12-15
  bool bankSelect;
  const char* text;
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << "chip " << int(c.chip) << " " << c.text; }

class VersionText : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionText, PerFamily) {
  const VersionCase& c = GetParam();
  sim::ProductConfig config = Chip(c.chip);
  if (!c.infoVersion.empty()) config.infoVersion = c.infoVersion;
  config.firmwareVersion = c.firmwareVersion;
  config.bankSelect = c.bankSelect;
  QueriedProduct bench(config);

  // The field sits between guards that must stay untouched.
  struct {
    char before[8];
    char text[kFirmwareVersionSize];
    char after[8];
  } field;
  std::memset(&field, 'G', sizeof(field));
  ASSERT_EQ(FormatFirmwareVersion(c.chip, bench.path(), field.text), 1);
  EXPECT_STREQ(field.text, c.text);
  EXPECT_EQ(std::string(field.before, 8), "GGGGGGGG");
  EXPECT_EQ(std::string(field.after, 8), "GGGGGGGG");
}

INSTANTIATE_TEST_SUITE_P(
    Families, VersionText,
    ::testing::Values(
        // Older families with a 12-byte block: bytes 6 and 7.
        VersionCase{1, {3, 7}, {0, 0, 0, 0}, false, "3.07"},
        VersionCase{29, {12, 34}, {0, 0, 0, 0}, false, "12.34"},
        // A full block: bytes 12..14.
        VersionCase{7, {}, {1, 2, 3, 4}, false, "1.02.03"},
        VersionCase{8, {}, {1, 2, 3, 4}, false, "  --.--.--"},
        VersionCase{17, {}, {1, 2, 3, 4}, false, "  --.--.--"},
        VersionCase{11, {7, 7}, {0, 16, 0, 0}, false, "7.07.00.16.00"},
        VersionCase{13, {2, 5}, {11, 16, 0, 0}, false, "2.05.11.16.00"},
        // The second bank flips bit 0 of the last number.
        VersionCase{13, {2, 5}, {11, 16, 0, 0}, true, "2.05.11.16.01"},
        VersionCase{13, {2, 5}, {11, 16, 7, 0}, true, "2.05.11.16.06"},
        VersionCase{21, {}, {1, 2, 3, 4}, false, "01.02.03.04"},
        VersionCase{28, {}, {10, 0, 255, 7}, false, "10.00.255.07"},
        // 19 characters do not fit the 18-byte field: cut, never overrun.
        VersionCase{12, {255, 255}, {255, 255, 255, 0}, false, "255.255.255.255.2"}));

TEST(VersionTextFailure, NoBlockLeavesNoStaleText) {
  QueriedProduct bench([] {
    sim::ProductConfig config = Chip(21);
    config.bootCodeOnly = true;
    return config;
  }());
  char text[kFirmwareVersionSize] = "01.02.03.04";
  EXPECT_EQ(FormatFirmwareVersion(21, bench.path(), text), 0);
  EXPECT_STREQ(text, "");
}

TEST(VersionTextFailure, BlockWithoutMarkClearsTheText) {
  auto fake = std::make_shared<FakeBackend>();
  fake->scsi = AnswerByPrefix({{kChipInfoPrefix, std::vector<uint8_t>(16, 0x31)}});
  platform::ScopedBackend installed(fake);
  char text[kFirmwareVersionSize] = "01.02.03.04";
  EXPECT_EQ(FormatFirmwareVersion(21, kFakePath, text), 1);
  EXPECT_STREQ(text, "");
}

// ---- ProbeBankSelectBit ----

TEST(BankSelect, ProbeLeavesTheRegisterAsFound) {
  for (const bool second : {false, true}) {
    sim::ProductConfig config = Chip(13);
    config.bankSelect = second;
    QueriedProduct bench(config);
    const uint8_t before = bench.Register(0x506A);
    EXPECT_EQ(ProbeBankSelectBit(bench.path()), second ? 1 : 0);
    EXPECT_EQ(bench.Register(0x506A), before) << "second bank " << second;
  }
}

TEST(BankSelect, FailedFirstReadWritesNothing) {
  sim::ProductConfig config = Chip(13);
  config.bankSelect = true;
  QueriedProduct bench(config);
  uint8_t value = 0;
  const std::vector<uint8_t> readCdb =
      bench.CdbOf([&] { (void)ReadBridgeRegister(bench.path(), 0x506A, &value, 1); });
  bench.product().AddFault(MakeFault(Kind::CheckCondition, readCdb));
  bench.product().EnableTrace(true);
  EXPECT_EQ(ProbeBankSelectBit(bench.path()), 0);
  EXPECT_EQ(bench.product().TakeTrace().size(), 1u);
}

TEST(BankSelect, FailedWriteStillRestores) {
  sim::ProductConfig config = Chip(13);
  config.bankSelect = true;
  QueriedProduct bench(config);
  const uint8_t before = bench.Register(0x506A);
  const uint8_t zero = 0;
  const std::vector<uint8_t> writeCdb =
      bench.CdbOf([&] { (void)WriteBridgeRegister(bench.path(), 0x506A, &zero, 1); });
  ASSERT_EQ(WriteBridgeRegister(bench.path(), 0x506A, &before, 1), 1);
  bench.product().AddFault(MakeFault(Kind::CheckCondition, writeCdb));
  bench.product().EnableTrace(true);
  EXPECT_EQ(ProbeBankSelectBit(bench.path()), 0);
  const std::vector<sim::TraceEntry> trace = bench.product().TakeTrace();
  ASSERT_EQ(trace.size(), 3u);  // read, the failed write of 0, the restore
  EXPECT_EQ(trace.back().dataOut.at(0), before);
  EXPECT_EQ(bench.Register(0x506A), before);
}

// ---- CheckFirmwareVersion ----

struct AcceptanceCase {
  uint8_t chip;
  bool product;  // accepted with the product firmware running
  bool internal;  // accepted with the maker's internal build running
};

class Acceptance : public ::testing::TestWithParam<AcceptanceCase> {};

TEST_P(Acceptance, ProductAndInternalBuilds) {
  const AcceptanceCase& c = GetParam();
  for (const bool internal : {false, true}) {
    sim::ProductConfig config = Chip(c.chip);
    config.internalCode = internal;
    QueriedProduct bench(config);
    char text[kFirmwareVersionSize] = {};
    // Unread, the text stays empty: the check's answer covers both.
    (void)FormatFirmwareVersion(c.chip, bench.path(), text);
    EXPECT_EQ(CheckFirmwareVersion(bench.path(), c.chip, text), (internal ? c.internal : c.product) ? 1 : 0)
        << "chip " << int(c.chip) << (internal ? " internal " : " product ") << text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryChipType, Acceptance,
    ::testing::Values(AcceptanceCase{1, true, true}, AcceptanceCase{2, true, true},
                      AcceptanceCase{3, true, true}, AcceptanceCase{4, true, false},
                      AcceptanceCase{5, true, true}, AcceptanceCase{6, true, false},
                      AcceptanceCase{7, true, false}, AcceptanceCase{8, false, false},
                      AcceptanceCase{9, true, false}, AcceptanceCase{10, true, true},
                      AcceptanceCase{11, true, false}, AcceptanceCase{12, true, false},
                      AcceptanceCase{13, true, false}, AcceptanceCase{14, true, true},
                      AcceptanceCase{15, true, true}, AcceptanceCase{16, true, true},
                      AcceptanceCase{17, true, true}, AcceptanceCase{18, true, false},
                      AcceptanceCase{19, true, false}, AcceptanceCase{20, true, false},
                      AcceptanceCase{21, true, false}, AcceptanceCase{22, true, false},
                      AcceptanceCase{23, true, false}, AcceptanceCase{24, true, false},
                      AcceptanceCase{25, true, false}, AcceptanceCase{26, true, false},
                      AcceptanceCase{27, true, false}, AcceptanceCase{28, true, false},
                      AcceptanceCase{29, true, true}, AcceptanceCase{30, true, true},
                      AcceptanceCase{33, true, true}, AcceptanceCase{34, true, true}));

TEST(AcceptanceRules, InternalVersionTextsAreRefusedOnRunningFirmware) {
  struct Case {
    uint8_t chip;
    const char* version;
    int expected;
  };
  for (const Case& c : {Case{13, "2.05.11.16.00", 0}, Case{13, "5.13.11.16.00", 0},
                        Case{13, "2.05.11.16.01", 1}, Case{11, "4.10.02.16.00", 0},
                        Case{12, "11.19.02.16.00", 0}, Case{12, "11.19.02.16", 1},
                        Case{7, "2.00.00", 0}, Case{18, "2.00.01", 1}, Case{19, "49.48.48.49", 0},
                        Case{19, "01.00.00.00", 1},
                        // A product ChipType 20 marks its configuration block: accepted
                        // whatever the text; the internal build is the table's case.
                        Case{20, "00.00.00.01", 1}, Case{20, "00.00.00.02", 1}}) {
    QueriedProduct bench(Chip(c.chip));  // product firmware running
    EXPECT_EQ(CheckFirmwareVersion(bench.path(), c.chip, c.version), c.expected)
        << "chip " << int(c.chip) << " " << c.version;
  }
}

TEST(AcceptanceRules, FailedRegisterReadIsNotRunning) {
  QueriedProduct bench(Chip(4));
  uint8_t reg[4];
  const std::vector<uint8_t> runningCdb =
      bench.CdbOf([&] { (void)ReadBridgeRegister(bench.path(), 0x7038, reg, 4); });
  bench.product().AddFault(MakeFault(Kind::CheckCondition, runningCdb));
  EXPECT_EQ(CheckFirmwareVersion(bench.path(), 4, "1.00"), 0);
}

// Chip-information rules of the newer families, on a scripted block.
TEST(AcceptanceRules, ChipInformationBytes) {
  struct Case {
    uint8_t chip;
    std::optional<std::array<uint8_t, 3>> bytes;  // b6, b7, b11; nullopt: the read fails
    int expected;
  };
  const auto block = [](std::array<uint8_t, 3> b) {
    std::vector<uint8_t> info(16, 0);
    info[0] = 0xF4;
    info[1] = 0xE7;
    info[6] = b[0];
    info[7] = b[1];
    info[11] = b[2];
    return info;
  };
  for (const Case& c :
       {Case{21, {{0, 0, '0'}}, 1}, Case{22, {{3, 0, '0'}}, 1}, Case{23, {{5, 0, '0'}}, 0},
        Case{24, {{1, 0, '0'}}, 0}, Case{21, std::nullopt, 0}, Case{25, {{1, 0, '0'}}, 1},
        Case{27, {{0, 9, '0'}}, 0}, Case{28, std::nullopt, 0}, Case{26, {{0, 0, 2}}, 1},
        Case{26, {{1, 0xFF, 2}}, 0}, Case{26, {{1, 0xFF, '2'}}, 1}, Case{26, {{0, 0, '2'}}, 0}}) {
    auto fake = std::make_shared<FakeBackend>();
    fake->scsi = AnswerByPrefix(
        {{kChipInfoPrefix, c.bytes ? std::optional(block(*c.bytes)) : std::nullopt}});
    platform::ScopedBackend installed(fake);
    EXPECT_EQ(CheckFirmwareVersion(kFakePath, c.chip, "01.00.00.00"), c.expected)
        << "chip " << int(c.chip) << (c.bytes ? "" : " unreadable");
  }
}

// ---- External decoders ----

bool HaveTool(const char* name) {
  const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// Runs `command` and returns its standard output.
std::string RunTool(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char chunk[512];
  size_t n = 0;
  while ((n = fread(chunk, 1, sizeof(chunk), pipe)) > 0) output.append(chunk, n);
  pclose(pipe);
  return output;
}

// The text after "key" on its line, surrounding blanks removed.
std::string Field(const std::string& output, const std::string& key) {
  const size_t at = output.find(key);
  if (at == std::string::npos) return "<missing " + key + ">";
  size_t begin = at + key.size();
  size_t end = output.find('\n', begin);
  if (end == std::string::npos) end = output.size();
  while (begin < end && output[begin] == ' ') ++begin;
  while (end > begin && (output[end - 1] == ' ' || output[end - 1] == '\r')) --end;
  return output.substr(begin, end - begin);
}

class TempFile {
 public:
  explicit TempFile(const std::string& contents) {
    char name[] = "/tmp/kestrova_hexXXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) {
      path_ = name;
      EXPECT_EQ(write(fd, contents.data(), contents.size()), static_cast<ssize_t>(contents.size()));
      close(fd);
    }
  }
  ~TempFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string HexBytes(const uint8_t* bytes, size_t length) {
  std::string text;
  char byte[4];
  for (size_t i = 0; i < length; ++i) {
    std::snprintf(byte, sizeof(byte), "%02x%c", bytes[i], (i % 16 == 15) ? '\n' : ' ');
    text += byte;
  }
  return text;
}

TEST(InquiryCheck, MatchesTheNameSgInqDecodes) {
  sim::ProductConfig config = Chip(21);
  config.inquiryVendor = "KVTEST";
  config.inquiryProduct = "WIRE  CHECK";
  QueriedProduct bench(config);
  uint8_t inquiry[kInquiryIdentifyLength] = {};
  ASSERT_EQ(Inquiry(bench.path(), inquiry, sizeof(inquiry)), 1);

  std::string vendor = "KVTEST";
  std::string product = "WIRE  CHECK";
  if (HaveTool("sg_inq")) {
    const TempFile hex(HexBytes(inquiry, 36));
    const std::string decoded = RunTool("sg_inq --inhex=" + hex.path() + " 2>&1");
    vendor = Field(decoded, "Vendor identification:");
    product = Field(decoded, "Product identification:");
    EXPECT_EQ(vendor, "KVTEST") << decoded;
    EXPECT_EQ(product, "WIRE  CHECK") << decoded;
  }
  EXPECT_EQ(InquiryMatches(bench.path(), (vendor + " " + product).c_str()), 1);
  for (const char* wrong : {"KVTEST WIRE CHECK", "KVTEST  WIRE  CHECK", "KVTEST WIRE  CHECK ",
                            "KVTEST", "kvtest WIRE  CHECK", ""}) {
    EXPECT_EQ(InquiryMatches(bench.path(), wrong), 0) << "'" << wrong << "'";
  }
}

TEST(InquiryCheck, FailedInquiryMatchesNothing) {
  QueriedProduct bench(Chip(21));
  bench.product().AddFault(Always(Kind::CheckCondition, {0x12}));
  // Blank fields joined by the space would read " ".
  EXPECT_EQ(InquiryMatches(bench.path(), " "), 0);
  EXPECT_EQ(InquiryMatches(bench.path(), ""), 0);
}

std::string IdentifyWords(const uint8_t* identify) {
  std::string text;
  char word[8];
  for (size_t i = 0; i < 256; ++i) {
    std::snprintf(word, sizeof(word), "%04x%c", identify[2 * i] | identify[2 * i + 1] << 8,
                  (i % 8 == 7) ? '\n' : ' ');
    text += word;
  }
  return text;
}

TEST(DiskRevision, IdentifyStringsAsHdparmDecodesThem) {
  for (const uint8_t chip : {uint8_t{1}, uint8_t{21}}) {
    sim::ProductConfig config = Chip(chip);
    config.disk.model = "KV WIRE DISK 4000";
    config.disk.serial = "WIRE0042";
    config.disk.firmware = "2.07B";
    QueriedProduct bench(config);
    uint8_t identify[512] = {};
    ASSERT_EQ(IdentifyDevice(bench.path(), identify, UsesSatIdentify(chip) ? 1 : 0), 1);

    char model[41], serial[21], revision[9];
    CopyIdentifyString(identify, model, 54, 40);
    CopyIdentifyString(identify, serial, 20, 20);
    CopyIdentifyString(identify, revision, 46, 8);
    EXPECT_STREQ(model, "KV WIRE DISK 4000");
    EXPECT_STREQ(revision, "2.07B");
    // The serial field is right-aligned by convention; leading blanks stay.
    EXPECT_NE(std::strstr(serial, "WIRE0042"), nullptr) << serial;

    if (HaveTool("hdparm")) {
      const TempFile words(IdentifyWords(identify));
      const std::string decoded = RunTool("hdparm --Istdin < " + words.path() + " 2>&1");
      EXPECT_EQ(Field(decoded, "Model Number:"), model) << decoded;
      EXPECT_EQ(Field(decoded, "Firmware Revision:"), revision) << decoded;
      EXPECT_EQ(Field(decoded, "Serial Number:"), "WIRE0042") << decoded;
    }
  }
}

TEST(DiskRevision, ExpectedTextBeginsWithTheRevision) {
  sim::ProductConfig config = Chip(1);
  config.disk.firmware = "2.07";
  QueriedProduct bench(config);
  struct Case {
    const char* expected;
    int match;
  };
  for (const Case& c : {Case{"2.07", 1}, Case{"2.07 build 5", 1}, Case{"2.0", 0}, Case{"2.08", 0},
                        Case{"", 0}, Case{" 2.07", 0}}) {
    EXPECT_EQ(CheckDiskFirmwareRevision(bench.path(), c.expected, 0), c.match) << c.expected;
  }
}

TEST(DiskRevision, EmptyRevisionMatchesAnyText) {
  sim::ProductConfig config = Chip(21);
  config.disk.firmware = "";
  QueriedProduct bench(config);
  EXPECT_EQ(CheckDiskFirmwareRevision(bench.path(), "9.99", 1), 1);
  EXPECT_EQ(CheckDiskFirmwareRevision(bench.path(), "", 1), 1);
}

TEST(DiskRevision, FailedIdentifyMatchesNothing) {
  sim::ProductConfig config = Chip(21);
  QueriedProduct bench(config);
  bench.product().AddFault(Always(Kind::CheckCondition, {0xA1}));  // SAT IDENTIFY
  EXPECT_EQ(CheckDiskFirmwareRevision(bench.path(), "", 1), 0);
  EXPECT_EQ(CheckDiskFirmwareRevision(bench.path(), "1.00", 1), 0);
}

TEST(IdentifyString, SwapsPairsAndEndsAfterTheLastNonSpace) {
  std::array<uint8_t, 512> identify = {};
  const char raw[] = "BADCFE  ";  // "ABCDEF" byte-swapped, two spaces
  std::memcpy(identify.data() + 46, raw, 8);
  std::memcpy(identify.data() + 508, "2143", 4);
  struct Case {
    size_t offset, length;
    const char* text;
  };
  for (const Case& c : {Case{46, 8, "ABCDEF"}, Case{46, 4, "ABCD"}, Case{46, 3, "ABD"},
                        Case{46, 0, ""}, Case{508, 4, "1234"}, Case{510, 2, "34"},
                        Case{511, 2, ""}, Case{600, 2, ""}, Case{0, 8, ""}}) {
    char out[16];
    std::memset(out, 'X', sizeof(out));
    CopyIdentifyString(identify.data(), out, c.offset, c.length);
    EXPECT_STREQ(out, c.text) << c.offset << "+" << c.length;
  }
}

// ---- Registers ----

TEST(Registers, SetBit4KeepsTheOtherBits) {
  QueriedProduct bench(Chip(25));
  uint8_t before5000[4], before5008[4];
  ASSERT_EQ(ReadBridgeRegister(bench.path(), 0x5000, before5000, 4), 1);
  ASSERT_EQ(ReadBridgeRegister(bench.path(), 0x5008, before5008, 4), 1);
  EXPECT_EQ(SetRegister5000Bit4(bench.path()), 1);
  uint8_t after5000[4], after5008[4];
  ASSERT_EQ(ReadBridgeRegister(bench.path(), 0x5000, after5000, 4), 1);
  ASSERT_EQ(ReadBridgeRegister(bench.path(), 0x5008, after5008, 4), 1);
  EXPECT_EQ(after5000[0], before5000[0] | 0x10);
  EXPECT_EQ(after5008[0], before5008[0] | 0x10);
  EXPECT_EQ(std::memcmp(after5000 + 1, before5000 + 1, 3), 0);
  EXPECT_EQ(std::memcmp(after5008 + 1, before5008 + 1, 3), 0);
  EXPECT_EQ(ReadRegister5008(bench.path()), 1);
}

TEST(Registers, FailedReadIsNotWrittenBack) {
  QueriedProduct bench(Chip(25));
  uint8_t reg[4];
  const std::vector<uint8_t> readCdb =
      bench.CdbOf([&] { (void)ReadBridgeRegister(bench.path(), 0x5008, reg, 4); });
  bench.product().AddFault(Always(Kind::CheckCondition, readCdb));
  bench.product().EnableTrace(true);
  EXPECT_EQ(SetRegister5000Bit4(bench.path()), 0);
  // 0x5000 read and written, 0x5008 read only.
  EXPECT_EQ(bench.product().TakeTrace().size(), 3u);
  EXPECT_EQ(ReadRegister5008(bench.path()), 0);
}

// ---- Device ids ----

TEST(DeviceId, VidAndPid) {
  struct Case {
    const char* id;
    const char* vid;  // nullptr: none found
    const char* pid;
  };
  for (const Case& c : {
           Case{"USB\\VID_6A3E&PID_0100\\000000000001", "6A3E", "0100"},
           Case{"usb\\vid_1d6b&pid_0871\\5&1a2b", "1d6b", "0871"},
           Case{"\\\\?\\usb#Vid_152d&Pid_0578#serial", "152d", "0578"},
           Case{"USB\\VID_12&PID_3", "12&P", nullptr},     // characters, not digits
           Case{"USB\\VID_12", nullptr, nullptr},          // fewer than four characters
           Case{"USB\\VID_", nullptr, nullptr},
           Case{"USB\\VID", nullptr, nullptr},
           Case{"USB\\VI", nullptr, nullptr},
           Case{"", nullptr, nullptr},
           Case{"PID_0001 VID_0002", "0002", "0001"},
           Case{"vidvid_1234", "id_1", nullptr},           // the first occurrence counts
       }) {
    char vid[5] = "....";
    char pid[5] = "....";
    EXPECT_EQ(ParseVid(c.id, vid), c.vid ? 1 : 0) << c.id;
    EXPECT_STREQ(vid, c.vid ? c.vid : "....") << c.id;
    EXPECT_EQ(ParsePid(c.id, pid), c.pid ? 1 : 0) << c.id;
    EXPECT_STREQ(pid, c.pid ? c.pid : "....") << c.id;
  }
  char out[5] = "....";
  EXPECT_EQ(ParseVid(nullptr, out), 0);
}

TEST(DeviceId, NeverReadsPastTheText) {
  // The id ends right after the key: a heap block of exactly its bytes.
  for (const char* text : {"vid", "vid_", "vid_1", "vid_123", "xxpi", "p"}) {
    const size_t n = std::strlen(text) + 1;
    std::unique_ptr<char[]> id(new char[n]);
    std::memcpy(id.get(), text, n);
    char out[5] = "....";
    EXPECT_EQ(ParseVid(id.get(), out), 0) << text;
    EXPECT_EQ(ParsePid(id.get(), out), 0) << text;
  }
}

}  // namespace
}  // namespace bridge
