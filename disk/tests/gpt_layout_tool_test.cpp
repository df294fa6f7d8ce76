// GPT tables as our writer lays them out, judged by sgdisk and sfdisk from
// a sparse image file.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "disk/gpt_layout.h"
#include "disk/tests/tool_check.h"

namespace disk {
namespace {

using testing::RunTool;
using testing::ShellQuote;

constexpr std::array<uint8_t, 16> kDiskId = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x48,
                                             0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
constexpr std::array<uint8_t, 16> kPartitionId = {1, 2, 3, 4, 5, 6, 7, 0x48, 0x89, 10, 11, 12, 13, 14, 15, 16};

bool WriteImage(const std::string& path, uint64_t sectors, const GptSectors& g) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  const bool ok = ::ftruncate(fd, static_cast<off_t>(sectors * 512)) == 0 &&
                  ::pwrite(fd, g.head.data(), g.head.size(), 0) == static_cast<ssize_t>(g.head.size()) &&
                  ::pwrite(fd, g.tail.data(), g.tail.size(), static_cast<off_t>(g.tailLba * 512)) ==
                      static_cast<ssize_t>(g.tail.size());
  ::close(fd);
  return ok;
}

TEST(GptLayoutTool, SgdiskAndSfdiskAcceptTheTable) {
  if (!testing::ToolPresent("sgdisk") || !testing::ToolPresent("sfdisk")) GTEST_SKIP() << "gdisk/fdisk missing";
  struct Case {
    const char* name;
    uint64_t sectors;
  };
  const Case cases[] = {
      {"the smallest disk that takes an aligned partition", 2048 + 1 + 33},
      {"16 GB", 31250000},
      {"beyond 2 TiB: the protective entry saturates", (uint64_t{3} << 40) / 512},
  };
  const std::string image = (std::filesystem::temp_directory_path() /
                             ("gpt-tool-" + std::to_string(::getpid()) + ".img")).string();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GptSectors g;
    ASSERT_TRUE(BuildGptSectors(c.sectors, 512, kDiskId, kPartitionId, &g));
    ASSERT_TRUE(WriteImage(image, c.sectors, g));

    const testing::ToolResult verify = RunTool("sgdisk -v " + ShellQuote(image));
    EXPECT_EQ(verify.exitCode, 0) << verify.output;
    EXPECT_NE(verify.output.find("No problems found"), std::string::npos) << verify.output;

    const testing::ToolResult dump = RunTool("sfdisk --dump " + ShellQuote(image));
    ASSERT_EQ(dump.exitCode, 0) << dump.output;
    EXPECT_NE(dump.output.find("label: gpt"), std::string::npos) << dump.output;
    EXPECT_NE(dump.output.find("label-id: 44332211-6655-4877-8899-AABBCCDDEEFF"), std::string::npos)
        << dump.output;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        dump.output, m,
        std::regex("start=\\s*(\\d+), size=\\s*(\\d+), type=([0-9A-F-]+), uuid=([0-9A-F-]+), "
                    "name=\"([^\"]*)\"")))
        << dump.output;
    EXPECT_EQ(std::stoull(m[1]), 2048u);
    EXPECT_EQ(std::stoull(m[1]) + std::stoull(m[2]) - 1, c.sectors - 34);  // to the last usable
    EXPECT_EQ(m[3].str(), "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");
    EXPECT_EQ(m[4].str(), "04030201-0605-4807-890A-0B0C0D0E0F10");
    EXPECT_EQ(m[5].str(), "Basic data partition");
  }
  std::filesystem::remove(image);
}

TEST(GptLayoutTool, RefusesWhatCannotHoldTheTables) {
  GptSectors g;
  EXPECT_FALSE(BuildGptSectors(2048 + 33, 512, kDiskId, kPartitionId, &g));
  EXPECT_FALSE(BuildGptSectors(1 << 20, 520, kDiskId, kPartitionId, &g));
  // 4 KB sectors: the array takes four sectors and the partition starts at 1 MiB.
  ASSERT_TRUE(BuildGptSectors(1 << 20, 4096, kDiskId, kPartitionId, &g));
  EXPECT_EQ(g.firstLba, 256u);
  EXPECT_EQ(g.lastLba, (1u << 20) - 6);
}

}  // namespace
}  // namespace disk
