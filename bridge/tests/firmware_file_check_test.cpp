#include "bridge/firmware_file_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bridge/tests/bench_fixture.h"
#include "bridge/vendor_commands.h"
#include "platform/message_box.h"

namespace bridge {
namespace {

// A scratch folder for the files of one test.
class FileTest : public ::testing::Test {
 protected:
  FileTest() {
    char pattern[] = "/tmp/kv_file_check.XXXXXX";
    folder_ = ::mkdtemp(pattern);
  }
  ~FileTest() override { std::filesystem::remove_all(folder_); }

  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = folder_ + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return path;
  }
  std::string WriteText(const std::string& name, const std::string& text) {
    return Write(name, std::vector<uint8_t>(text.begin(), text.end()));
  }

  std::string folder_;
};

// A file of `size` bytes with a 10-byte tag record at `offset`.
std::vector<uint8_t> Tagged(size_t size, size_t offset, std::vector<uint8_t> tag) {
  std::vector<uint8_t> file(size, 0xFF);
  for (size_t i = 0; i < tag.size() && offset + i < size; ++i) file[offset + i] = tag[i];
  return file;
}
std::vector<uint8_t> TextTag(const char* text, bool signature = true) {
  std::vector<uint8_t> tag = signature ? std::vector<uint8_t>{0x55, 0xAA, 0xAA, 0x55}
                                       : std::vector<uint8_t>{0, 0, 0, 0};
  for (const char* c = text; *c; ++c) tag.push_back(static_cast<uint8_t>(*c));
  tag.resize(kFirmwareTagSize);
  return tag;
}
// The QVS87x tag text is bytes 3..5.
std::vector<uint8_t> Qvs87xTag(const char* digits) {
  return {0x55, 0xAA, 0xAA, static_cast<uint8_t>(digits[0]), static_cast<uint8_t>(digits[1]),
          static_cast<uint8_t>(digits[2]), 0, 0, 0, 0};
}
std::vector<uint8_t> HexTag(uint8_t b4, uint8_t b5) { return {0x55, 0xAA, 0xAA, 0x55, b4, b5, 0, 0, 0, 0}; }

uint16_t Id(unsigned chipType, unsigned revision) {
  return static_cast<uint16_t>(revision << 8 | chipType);
}

struct CheckCase {
  const char* what;
  unsigned chipType;
  unsigned revision;
  size_t offset;
  std::vector<uint8_t> tag;
  int fits;
};

TEST_F(FileTest, TagTable) {
  const CheckCase cases[] = {
      {"645 rev 2 wants 6451", 1, 2, 0, TextTag("6451"), 1},
      {"645 rev 2 refuses 6452", 1, 2, 0, TextTag("6452"), 0},
      {"645 rev 1 takes a non-64 tag", 1, 1, 0, TextTag("8290"), 1},
      {"645 rev 1 refuses a QVS649 file", 1, 1, 0, TextTag("6490"), 0},
      {"649 with revision", 4, 3, 0, TextTag("6492"), 1},
      {"649E at 0x4000", 7, 0, 0x4000, TextTag("649E"), 1},
      {"649E not at 0", 7, 0, 0, TextTag("649E"), 0},
      {"662 at 0", 9, 0, 0, TextTag("6620"), 1},
      {"663 rev 1", 10, 1, 0, TextTag("6630"), 1},
      {"666 on 11", 11, 0, 0, TextTag("6660"), 1},
      {"666 on 12", 12, 0, 0, TextTag("6661"), 1},
      {"857", 13, 0, 0, TextTag("8571"), 1},
      {"647 rev 2 on 16", 16, 2, 0, TextTag("6471"), 1},
      {"829 at 0x4000", 18, 0, 0x4000, TextTag("8290"), 1},
      {"843 at 0xBFF0", 19, 0, 0xBFF0, TextTag("8430"), 1},
      {"879 at 0xBFF0", 20, 0, 0xBFF0, TextTag("8790"), 1},
      {"871 on 21", 21, 0, 0, Qvs87xTag("871"), 1},
      {"873 on 21", 21, 0, 0, Qvs87xTag("873"), 1},
      {"875 on 21", 21, 0, 0, Qvs87xTag("875"), 1},
      {"872 not on 21", 21, 0, 0, Qvs87xTag("872"), 0},
      {"872 on 22", 22, 0, 0, Qvs87xTag("872"), 1},
      {"873 on 23", 23, 0, 0, Qvs87xTag("873"), 1},
      {"875 on 24", 24, 0, 0, Qvs87xTag("875"), 1},
      {"08 87 reads 887", 25, 0, 0, HexTag(0x08, 0x87), 1},
      {"884 A0", 26, 1, 0, HexTag(0x08, 0x84), 1},
      {"884 A0 refuses A1 bytes", 26, 1, 0, HexTag(0x88, 0x42), 0},
      {"884 other revision never", 26, 3, 0, HexTag(0x08, 0x84), 0},
      {"08 91 reads 891", 27, 0, 0, HexTag(0x08, 0x91), 1},
      {"08 94 reads 894", 28, 0, 0, HexTag(0x08, 0x94), 1},
      {"08 94 not on 27", 27, 0, 0, HexTag(0x08, 0x94), 0},
      {"29 takes non-64", 29, 0, 0, TextTag("8710"), 1},
      {"34 refuses 64", 34, 0, 0, TextTag("6460"), 0},
      {"boot code takes all", 31, 0, 0, TextTag("zzzz"), 1},
      {"8 never", 8, 0, 0, TextTag("6390"), 0},
      {"0 never", 0, 0, 0, TextTag("6450"), 0},
      {"35 never", 35, 0, 0, TextTag("6450"), 0},
  };
  const PortTable ports;
  for (const CheckCase& c : cases) {
    const std::string path = Write("fw.bin", Tagged(0xC600, c.offset, c.tag));
    EXPECT_EQ(CheckFirmwareFile(path.c_str(), Id(c.chipType, c.revision), ports), c.fits) << c.what;
  }
}

// The "662" header group accepts a 662 file at once, or by a second tag at
// 0x1000, whatever its own row says.
TEST_F(FileTest, HeaderGroup) {
  const PortTable ports;
  struct Case {
    const char* what;
    unsigned chipType;
    std::vector<uint8_t> file;
    int fits;
  } cases[] = {
      {"662 tag on 11", 11, Tagged(0x8000, 0, TextTag("6620")), 1},
      {"662 without signature on 11", 11, Tagged(0x8000, 0, TextTag("6620", false)), 0},
      {"662 at 0x1000 on 9", 9, Tagged(0x8000, 0x1000, TextTag("6629")), 1},
      {"662 at 0x1000 on 13", 13, Tagged(0x8000, 0x1000, TextTag("6629")), 1},
      {"662 at 0x1000 without signature", 13, Tagged(0x8000, 0x1000, TextTag("6629", false)), 0},
      {"662 at 0x1000 not for 10", 10, Tagged(0x8000, 0x1000, TextTag("6629")), 0},
      {"662 at 0xBFF0 on 19", 19, Tagged(0xC000, 0xBFF0, TextTag("6620")), 1},
  };
  for (const Case& c : cases) {
    const std::string path = Write("fw.bin", c.file);
    EXPECT_EQ(CheckFirmwareFile(path.c_str(), Id(c.chipType, 0), ports), c.fits) << c.what;
  }
}

TEST_F(FileTest, ShortAndEmptyFilesMatchNothing) {
  const PortTable ports;
  const std::string empty = Write("empty.bin", {});
  const std::string tiny = Write("tiny.bin", {0x55, 0xAA, 0xAA, 0x55, '6'});
  for (unsigned chipType : {1u, 9u, 13u, 19u, 21u, 25u, 26u}) {
    EXPECT_EQ(CheckFirmwareFile(empty.c_str(), Id(chipType, 2), ports), 0) << chipType;
    EXPECT_EQ(CheckFirmwareFile(tiny.c_str(), Id(chipType, 2), ports), 0) << chipType;
  }
  // Revision 1 of ChipType 1 takes any tag not beginning "64", zeros too.
  EXPECT_EQ(CheckFirmwareFile(empty.c_str(), Id(1, 1), ports), 1);
}

TEST_F(FileTest, MissingFileShowsTheBox) {
  platform::RecordingMessageBoxSink sink;
  platform::ScopedMessageBoxSink installed(&sink);
  const PortTable ports;
  EXPECT_EQ(CheckFirmwareFile((folder_ + "/none.bin").c_str(), Id(21, 0), ports), 0);
  ASSERT_EQ(sink.boxes().size(), 1u);
  EXPECT_EQ(sink.boxes()[0].text, "Open Firmware File Error!!");
  EXPECT_EQ(sink.boxes()[0].caption, "Error");
}

// Many files checked in a row: a path that leaked its handle would run the
// process out of descriptors long before the end.
TEST_F(FileTest, ClosesTheFileOnEveryPath) {
  const PortTable ports;
  const std::string path = Write("fw.bin", Tagged(0x8000, 0x1000, TextTag("6629")));
  for (int i = 0; i < 3000; ++i) {
    ASSERT_EQ(CheckFirmwareFile(path.c_str(), Id(9, 0), ports), 1);
    ASSERT_EQ(CheckFirmwareFile(path.c_str(), Id(21, 0), ports), 0);
  }
}

// The QVS884 A1 file must suit the layout of the first present ChipType 26.
class Qvs884SizeRule : public testing::BenchTest {
 protected:
  Qvs884SizeRule() : BenchTest({[] {
      sim::ProductConfig config = testing::TestProduct("a1");
      config.chipType = 26;
      return config;
    }()}) {
    PortRecord& record = ports_.records[2];
    record.inUse = 1;
    record.present = 1;
    record.chipType = 26;
    record.firmwareAccepted = 1;
    SetFieldText(record.devicePath, path_);
  }
  PortTable ports_;
};

TEST_F(Qvs884SizeRule, FollowsStatusBit) {
  uint8_t status = 0;
  ASSERT_EQ(ReadBridgeStatus0(path(), &status), 1);
  const bool large = (status & 0x10) != 0;
  EXPECT_EQ(Qvs884A1FileFits(0xC600, ports_), large ? 0 : 1);
  EXPECT_EQ(Qvs884A1FileFits(0xC601, ports_), 0);
  EXPECT_EQ(Qvs884A1FileFits(67072, ports_), large ? 1 : 0);

  // A status that cannot be read: the small layout.
  product().AddFault(testing::MakeFault(sim::Fault::Kind::CheckCondition, {0xFF, 0x04}));
  EXPECT_EQ(Qvs884A1FileFits(0xC600, ports_), 1);
  EXPECT_EQ(Qvs884A1FileFits(67072, ports_), 0);

  // Not yet running accepted firmware: any size.
  ports_.records[2].firmwareAccepted = 0;
  EXPECT_EQ(Qvs884A1FileFits(1, ports_), 1);
  // No ChipType 26 port: never.
  ports_.records[2].present = 0;
  EXPECT_EQ(Qvs884A1FileFits(0xC600, ports_), 0);
}

TEST_F(FileTest, HexPattern) {
  uint8_t page[kHexPageSize];
  struct Case {
    const char* text;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"0a 1B", {0x0A, 0x1B}},
      {"0a1B7", {0x0A, 0x1B}},  // the odd trailing digit is dropped
      {"  ff\r\n00,12;", {0xFF, 0x00, 0x12}},
      {"G0", {0x100 & 0xFF}},   // letters past F are not refused: 16 x 16 kept to a byte
      {"\xC3\xA9" "12\xFF" "34", {0x12, 0x34}},  // bytes of 0x80 and above are not letters
      {"", {}},
  };
  for (const Case& c : cases) {
    std::memset(page, 0xEE, sizeof page);
    const std::string path = WriteText("hex.txt", c.text);
    ASSERT_EQ(ReadHexDataPage(path.c_str(), page, 0), c.bytes.size()) << c.text;
    EXPECT_EQ(std::vector<uint8_t>(page, page + c.bytes.size()), c.bytes) << c.text;
    EXPECT_EQ(page[c.bytes.size()], 0xEE) << c.text;
  }
  EXPECT_EQ(ReadHexDataPage((folder_ + "/none.txt").c_str(), page, 0), 0u);
}

TEST_F(FileTest, HexPatternReadsOnlyRegularFiles) {
  const std::string fifo = folder_ + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string target = WriteText("target.txt", "a1b2");
  const std::string link = folder_ + "/link.txt";
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  const struct {
    std::string path;
    size_t bytes;
  } cases[] = {
      {"/dev/zero", 0},  // zeros for ever, none of them a digit
      {fifo, 0},         // no writer: neither the open nor the read may wait
      {folder_, 0},
      {link, 2},         // a link to a regular file is that file
  };
  uint8_t page[kHexPageSize];
  for (const auto& c : cases) EXPECT_EQ(ReadHexDataPage(c.path.c_str(), page, 0), c.bytes) << c.path;
}

TEST_F(FileTest, HexPages) {
  std::string text;
  for (size_t i = 0; i < kHexPageSize + 100; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02x ", static_cast<unsigned>(i % 251));
    text += pair;
  }
  const std::string path = WriteText("hex.txt", text);
  std::vector<uint8_t> page(kHexPageSize);
  EXPECT_EQ(ReadHexDataPage(path.c_str(), page.data(), 0), kHexPageSize);
  EXPECT_EQ(page[kHexPageSize - 1], (kHexPageSize - 1) % 251);
  EXPECT_EQ(ReadHexDataPage(path.c_str(), page.data(), 1), 100u);
  EXPECT_EQ(page[0], kHexPageSize % 251);
  EXPECT_EQ(page[99], (kHexPageSize + 99) % 251);
}

}  // namespace
}  // namespace bridge
