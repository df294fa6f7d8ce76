// The disk image behind a bridge: sparse storage, ranges, IDENTIFY data.
#include "sim/disk_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {
namespace {

uint16_t Word(const std::array<uint8_t, 512>& id, int w) {
  return static_cast<uint16_t>(id[w * 2] | id[w * 2 + 1] << 8);
}

std::string AtaString(const std::array<uint8_t, 512>& id, int first, int words) {
  std::string s;
  for (int w = first; w < first + words; ++w) {
    s += static_cast<char>(Word(id, w) >> 8);
    s += static_cast<char>(Word(id, w) & 0xFF);
  }
  return s;
}

// A fresh folder of its own under /tmp.
std::string TempFolder() {
  char folder[] = "/tmp/kestrova-disk-test-XXXXXX";
  return ::mkdtemp(folder) != nullptr ? folder : "";
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

TEST(DiskImage, LargeImageStaysSparseAndTheTempFileGoes) {
  DiskConfig config;  // 16 GB
  std::string path;
  {
    DiskImage disk(config);
    ASSERT_TRUE(disk.present());
    path = disk.path();
    std::vector<uint8_t> sector(512, 0x77), zeros(512 * 64, 0);
    ASSERT_TRUE(disk.Write(disk.sectors() - 1, 1, sector.data()));
    ASSERT_TRUE(disk.Write(1000, 64, zeros.data()));
    std::vector<uint8_t> back(512);
    ASSERT_TRUE(disk.Read(disk.sectors() - 1, 1, back.data()));
    EXPECT_EQ(back, sector);
    ASSERT_TRUE(disk.Read(5, 1, back.data()));
    EXPECT_EQ(back, std::vector<uint8_t>(512, 0));
    EXPECT_LT(disk.AllocatedBytes(), 1u << 20);
    EXPECT_TRUE(Exists(path));
  }
  EXPECT_FALSE(Exists(path));
}

TEST(DiskImage, ConfiguredPathIsKeptAndReopened) {
  char dir[] = "/tmp/kestrova-disk-test-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  DiskConfig config;
  config.sectors = 100;
  config.imagePath = std::string(dir) + "/disk.img";
  std::vector<uint8_t> sector(512, 0x42), back(512);
  {
    DiskImage disk(config);
    ASSERT_TRUE(disk.Write(99, 1, sector.data()));
  }
  ASSERT_TRUE(Exists(config.imagePath));
  {
    DiskImage disk(config);
    ASSERT_TRUE(disk.Read(99, 1, back.data()));
    EXPECT_EQ(back, sector);
  }
  ::unlink(config.imagePath.c_str());
  ::rmdir(dir);
}

// The bench writes only images it made: anything else named as an image
// is refused and left as it was.
TEST(DiskImage, RefusesWhatItDidNotMake) {
  const std::string dir = TempFolder();
  ASSERT_FALSE(dir.empty());
  const std::string stranger = dir + "/notes.txt";
  std::ofstream(stranger, std::ios::binary) << "twenty-one bytes here";
  const std::string sectorSized = dir + "/raw.img";  // a whole number of sectors, no mark
  std::ofstream(sectorSized, std::ios::binary) << std::string(4096, 'x');
  const struct {
    std::string path;
    const char* why;
  } cases[] = {
      {stranger, "is not a bench disk image"},
      {sectorSized, "is not a bench disk image"},
      {dir, "is a folder"},
      {dir + "/no-such-folder/disk.img", "cannot be made"},
      {stranger + "/disk.img", "cannot be reached"},
      {"/dev/null", "is not a regular file"},
  };
  for (const auto& c : cases) {
    DiskConfig config;
    config.sectors = 100;
    config.imagePath = c.path;
    try {
      DiskImage disk(config);
      ADD_FAILURE() << c.path << " was taken as a disk";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos) << c.path << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find(c.path), std::string::npos) << e.what();
    }
  }
  std::ifstream in(stranger, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "twenty-one bytes here");
  struct stat st {};
  ASSERT_EQ(::stat(sectorSized.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 4096);
  std::filesystem::remove_all(dir);
}

// A bench image named again with more sectors keeps its data, and its old
// mark does not show as disk data.
TEST(DiskImage, GrownImageKeepsItsDataAndMovesItsMark) {
  const std::string folder = TempFolder();
  ASSERT_FALSE(folder.empty());
  DiskConfig config;
  config.sectors = 100;
  config.imagePath = folder + "/disk.img";
  const std::vector<uint8_t> written(512, 0x42), zeros(512, 0);
  std::vector<uint8_t> back(512);
  {
    DiskImage disk(config);
    ASSERT_TRUE(disk.Write(99, 1, written.data()));
  }
  config.sectors = 200;
  {
    DiskImage disk(config);
    ASSERT_TRUE(disk.Read(99, 1, back.data()));
    EXPECT_EQ(back, written);
    ASSERT_TRUE(disk.Read(100, 1, back.data()));
    EXPECT_EQ(back, zeros);
  }
  config.sectors = 100;  // and smaller again: still the bench's own
  EXPECT_NO_THROW(DiskImage{config});
  std::filesystem::remove_all(folder);
}

TEST(DiskImage, RangesEndAfterTheReservedSectors) {
  DiskConfig config;
  config.sectors = 100;
  config.reservedSectors = 8;
  DiskImage disk(config);
  std::vector<uint8_t> buffer(512 * 2);
  EXPECT_TRUE(disk.Read(107, 1, buffer.data()));
  EXPECT_FALSE(disk.Read(107, 2, buffer.data()));
  EXPECT_FALSE(disk.Write(108, 1, buffer.data()));
  EXPECT_FALSE(disk.Read(UINT64_MAX, 2, buffer.data()));  // no wrap-around

  config.present = false;
  DiskImage none(config);
  EXPECT_FALSE(none.present());
  EXPECT_FALSE(none.Read(0, 1, buffer.data()));
}

TEST(DiskImage, IdentifyCarriesSwappedStringsAndCapacity) {
  const struct {
    uint32_t sectorSize;
    uint64_t sectors;
  } cases[] = {{512, 0x123456789ull}, {4096, 1000}};
  for (const auto& c : cases) {
    DiskConfig config;
    config.sectorSize = c.sectorSize;
    config.sectors = c.sectors;
    config.model = "KV SIM DISK";
    config.serial = "SN123";
    config.firmware = "FW1";
    DiskImage disk(config);
    const auto id = disk.Identify();
    EXPECT_EQ(id[54], 'V');  // "KV" stored high byte first
    EXPECT_EQ(id[55], 'K');
    EXPECT_EQ(AtaString(id, 27, 20), "KV SIM DISK" + std::string(29, ' '));
    EXPECT_EQ(AtaString(id, 10, 10), "SN123" + std::string(15, ' '));
    EXPECT_EQ(AtaString(id, 23, 4), "FW1     ");
    const uint32_t lba28 = Word(id, 60) | uint32_t{Word(id, 61)} << 16;
    EXPECT_EQ(lba28, std::min<uint64_t>(c.sectors, 0x0FFFFFFF));
    uint64_t lba48 = 0;
    for (int w = 0; w < 4; ++w) lba48 |= uint64_t{Word(id, 100 + w)} << (16 * w);
    EXPECT_EQ(lba48, c.sectors);
    if (c.sectorSize == 4096) {
      EXPECT_EQ(Word(id, 106) & 0xD000, 0x5000);
      EXPECT_EQ(Word(id, 117) | uint32_t{Word(id, 118)} << 16, 2048u);
    } else {
      EXPECT_EQ(Word(id, 106) & 0x1000, 0);
    }
    uint8_t sum = 0;
    for (uint8_t b : id) sum = static_cast<uint8_t>(sum + b);
    EXPECT_EQ(sum, 0);
    EXPECT_EQ(id[510], 0xA5);
  }
}

TEST(DiskImage, HdparmReadsTheIdentifyData) {
  if (::access("/usr/sbin/hdparm", X_OK) != 0 && ::access("/sbin/hdparm", X_OK) != 0)
    GTEST_SKIP() << "hdparm not installed";
  DiskConfig config;
  config.model = "KV SIM SSD 1T";
  config.serial = "KVS000000003";
  config.firmware = "2.10";
  DiskImage disk(config);
  const auto id = disk.Identify();
  char name[] = "/tmp/kestrova-identify-XXXXXX";
  const int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  ::close(fd);
  {
    std::ofstream out(name);
    for (int w = 0; w < 256; ++w) {
      char word[8];
      std::snprintf(word, sizeof word, "%04x%c", Word(id, w), w % 8 == 7 ? '\n' : ' ');
      out << word;
    }
  }
  const std::string command = std::string("PATH=$PATH:/usr/sbin:/sbin hdparm --Istdin < ") + name;
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char chunk[512];
  while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) output += chunk;
  ::pclose(pipe);
  ::unlink(name);
  EXPECT_NE(output.find("Model Number:       KV SIM SSD 1T"), std::string::npos) << output;
  EXPECT_NE(output.find("Serial Number:      KVS000000003"), std::string::npos);
  EXPECT_NE(output.find("Firmware Revision:  2.10"), std::string::npos);
  EXPECT_NE(output.find("user addressable sectors:    31250000"), std::string::npos);
}

}  // namespace
}  // namespace sim
