// The disk entries judged by the host's tools: the partition table by
// sfdisk and sgdisk, the library's own FAT32 volume by fsck.fat and
// fatlabel, the
// INQUIRY bytes by sg_inq, and the read/write test on that volume.
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "disk/tests/tool_check.h"
#include "qvfw/tests/library_bench.h"

namespace qvfw {
namespace {

using disk::testing::ExtractSparse;
using disk::testing::RunTool;
using disk::testing::ShellQuote;
using disk::testing::ToolPresent;
using testing::LibraryBench;

constexpr uint64_t kSectors = 2 * 1024 * 1024;  // 1 GiB, sparse

sim::ProductConfig Product(const std::string& image) {
  sim::ProductConfig config;
  config.name = "disk";
  config.chipType = 25;
  config.disk.sectors = kSectors;
  config.disk.imagePath = image;
  config.inquiryVendor = "KVTEST";
  config.inquiryProduct = "WIRE  CHECK";
  return config;
}

struct LayoutCase {
  const char* name;
  int gpt;
  const char* label;  // sfdisk's
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class DiskTools : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(DiskTools, OneCallPartitionAndOwnFat32AsTheToolsSeeThem) {
  for (const char* tool : {"sfdisk", "sgdisk", "fsck.fat", "fatlabel"})
    if (!ToolPresent(tool)) GTEST_SKIP() << tool << " is installed by scripts/setup";
  const LayoutCase& c = GetParam();
  const auto folder = testing::ScratchFolder(std::string("disk-") + c.name);
  const std::string image = (folder / "disk.img").string();
  {
    LibraryBench lib({Product(image)});
    ASSERT_TRUE(lib.bound());
    const std::string path = lib.List().at(0);
    ASSERT_NE(lib.sdk().QV_InitialCustomizedSettingTable(), 0);
    ASSERT_NE(lib.sdk().QV_Partition_LBA_Format_LBA(path.c_str(), c.gpt, "KESTROVA", kFileSystemFat32,
                                                    4096, 1, c.gpt, 1),
              0);
    char letter[8] = {};
    ASSERT_NE(lib.sdk().QV_GetMappingLetter(path.c_str(), letter), 0);
    EXPECT_EQ(std::strlen(letter), 1u);
    float read = 0, write = 0;
    ASSERT_NE(lib.sdk().QV_DiskRWTest(path.c_str(), &read, &write, 2, nullptr), 0);
    EXPECT_GT(read, 0.0f);
    EXPECT_GT(write, 0.0f);
  }

  const auto dump = RunTool("sfdisk --dump " + ShellQuote(image));
  ASSERT_EQ(dump.exitCode, 0) << dump.output;
  EXPECT_NE(dump.output.find(std::string("label: ") + c.label), std::string::npos) << dump.output;
  const std::regex entry("start=\\s*(\\d+), size=\\s*(\\d+)");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(dump.output, m, entry)) << dump.output;
  const uint64_t start = std::stoull(m[1]);
  const uint64_t size = std::stoull(m[2]);
  if (c.gpt) {
    // The image file ends in the bench's own mark past the disk's sectors.
    const std::string whole = (folder / "whole.img").string();
    ASSERT_TRUE(ExtractSparse(image, 0, kSectors * 512, whole));
    const auto verify = RunTool("sgdisk -v " + ShellQuote(whole));
    EXPECT_EQ(verify.exitCode, 0) << verify.output;
    EXPECT_NE(verify.output.find("No problems found"), std::string::npos) << verify.output;
  }
  const std::string volume = (folder / "volume.img").string();
  ASSERT_TRUE(ExtractSparse(image, start * 512, size * 512, volume));
  const auto fsck = RunTool("fsck.fat -n " + ShellQuote(volume));
  EXPECT_EQ(fsck.exitCode, 0) << fsck.output;
  const auto label = RunTool("fatlabel " + ShellQuote(volume));
  EXPECT_EQ(label.output, "KESTROVA\n");
  testing::fs::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DiskTools,
                         ::testing::Values(LayoutCase{"Gpt", 1, "gpt"}, LayoutCase{"Mbr", 0, "dos"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DiskInquiry, TheBytesAsSgInqDecodesThem) {
  if (!ToolPresent("sg_inq")) GTEST_SKIP() << "sg_inq is installed by scripts/setup";
  const auto folder = testing::ScratchFolder("inquiry");
  LibraryBench lib({Product((folder / "disk.img").string())});
  const std::string path = lib.List().at(0);
  uint8_t inquiry[40] = {};
  int available = 0;
  const int valid = lib.sdk().QV_Inquiry(path.c_str(), inquiry, 40, &available);
  ASSERT_GE(valid, 36);
  ASSERT_LE(valid, 40);
  std::ostringstream hex;
  for (int i = 0; i < valid; ++i) hex << std::hex << static_cast<int>(inquiry[i]) << (i % 16 == 15 ? "\n" : " ");
  const std::string hexFile = (folder / "inquiry.hex").string();
  std::ofstream(hexFile) << hex.str() << "\n";
  const auto decoded = RunTool("sg_inq --inhex=" + ShellQuote(hexFile) + " 2>&1");
  EXPECT_NE(decoded.output.find("Vendor identification: KVTEST"), std::string::npos) << decoded.output;
  EXPECT_NE(decoded.output.find("Product identification: WIRE  CHECK"), std::string::npos)
      << decoded.output;
  char revision[20] = {};
  ASSERT_NE(lib.sdk().QV_GetDiskFWRevbySCSICmd(path.c_str(), revision), 0);
  EXPECT_STREQ(revision, "1.00");
  testing::fs::remove_all(folder);
}

}  // namespace
}  // namespace qvfw
