#include "bridge/firmware_verification.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bridge/df_flash_programming.h"
#include "bridge/ff04_flash_programming.h"
#include "bridge/firmware_update.h"
#include "bridge/loaded_image.h"
#include "bridge/manufacturing_download.h"
#include "bridge/tests/bench_fixture.h"
#include "bridge/vendor_commands.h"
#include "sim/spi_flash.h"

namespace bridge {
namespace {

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return bytes;
}

// ---- The compared and skipped ranges, per layout ----

struct RangeCase {
  const VerifyLayout* layout;
  uint32_t fileLength;
  uint32_t offset;  // the one byte that differs
  int match;
};

TEST(VerifyRanges, ByteJustInsideAndOutside) {
  const RangeCase cases[] = {
      {&kVerifyFlash32K, 0x8000, 0, 0},         {&kVerifyFlash32K, 0x8000, 0x7FFF, 0},
      {&kVerifyOtherFamily, 0x1234, 0x1233, 0}, {&kVerifyOtherFamily, 0x1234, 0, 0},
      {&kVerifySkipHeader, 0x8000, 0x8F, 1},    {&kVerifySkipHeader, 0x8000, 0x90, 0},
      {&kVerifySkipHeader, 0x8000, 0x7FFF, 0},  {&kVerifySkipHeader, 0x8000, 0, 1},
      {&kVerifyWithCrc, 0xC000, 0xBFFD, 0},     {&kVerifyWithCrc, 0xC000, 0xBFFE, 1},
      {&kVerifyQvs87xSingle, 0x40000, 0x1FF, 0}, {&kVerifyQvs87xSingle, 0x40000, 0x200, 1},
      {&kVerifyQvs87xSingle, 0x40000, 0x9FF, 1}, {&kVerifyQvs87xSingle, 0x40000, 0xA00, 0},
      {&kVerifyQvs87xSingle, 0x40000, 0x1FFFB, 0}, {&kVerifyQvs87xSingle, 0x40000, 0x1FFFC, 1},
      {&kVerifyQvs87xSingle, 0x40000, 0x1FFFF, 1}, {&kVerifyQvs87xSingle, 0x40000, 0x20000, 1},
      {&kVerifyQvs87xDual, 0x40000, 0x20000, 0}, {&kVerifyQvs87xDual, 0x40000, 0x201FF, 0},
      {&kVerifyQvs87xDual, 0x40000, 0x20200, 1}, {&kVerifyQvs87xDual, 0x40000, 0x209FF, 1},
      {&kVerifyQvs87xDual, 0x40000, 0x20A00, 0}, {&kVerifyQvs87xDual, 0x40000, 0x3FFFB, 0},
      {&kVerifyQvs87xDual, 0x40000, 0x3FFFC, 1}, {&kVerifyQvs87xDual, 0x40000, 0x1FFFD, 1},
      {&kVerifyQvs887, 0xC600, 0x1FF, 0},       {&kVerifyQvs887, 0xC600, 0x3FF, 1},
      {&kVerifyQvs887, 0xC600, 0x400, 0},       {&kVerifyQvs887, 0xC600, 0xC3FF, 0},
      {&kVerifyQvs887, 0xC600, 0xC400, 1},      {&kVerifyQvs884, 0xC600, 0xC5FF, 1},
      {&kVerifyQvs884, 0xC600, 0x200, 1},       {&kVerifyQvs884Large, 0x10600, 0xC3FF, 0},
      {&kVerifyQvs884Large, 0x10600, 0xC400, 1}, {&kVerifyQvs884Large, 0x10600, 0xC5FF, 1},
      {&kVerifyQvs884Large, 0x10600, 0xC600, 0}, {&kVerifyQvs884Large, 0x10600, 0x105FF, 0},
      {&kVerifyQvs891, 0x10600, 0x103FF, 0},    {&kVerifyQvs891, 0x10600, 0x10400, 1},
      {&kVerifyQvs891, 0x10600, 0x300, 1},      {&kVerifyQvs894, 0x10600, 0x400, 0},
  };
  for (const RangeCase& c : cases) {
    const std::vector<uint8_t> file = Pattern(c.fileLength, c.offset);
    std::vector<uint8_t> device = file;
    EXPECT_EQ(CompareWithLayout(*c.layout, file.data(), device.data(), c.fileLength), 1) << c.layout->name;
    device[c.offset] ^= 0x01;
    EXPECT_EQ(CompareWithLayout(*c.layout, file.data(), device.data(), c.fileLength), c.match)
        << c.layout->name << " at 0x" << std::hex << c.offset;
  }
}

TEST(GetFileLength, KeepsThePosition) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fwrite("0123456789", 1, 10, file);
  std::fseek(file, 3, SEEK_SET);
  EXPECT_EQ(GetFileLength(file), 10u);
  EXPECT_EQ(std::fgetc(file), '3');
  std::fclose(file);
}

// ---- On the bench ----

sim::ProductConfig Chip(unsigned chipType) {
  sim::ProductConfig config = testing::TestProduct("verify" + std::to_string(chipType));
  config.chipType = static_cast<uint8_t>(chipType);
  return config;
}

class VerifyOnBench : public testing::BenchTest {
 protected:
  explicit VerifyOnBench(unsigned chipType) : VerifyOnBench(Chip(chipType)) {}
  explicit VerifyOnBench(const sim::ProductConfig& config) : BenchTest({config}) {
    char pattern[] = "/tmp/kv_verify.XXXXXX";
    folder_ = ::mkdtemp(pattern);
  }
  ~VerifyOnBench() override { std::filesystem::remove_all(folder_); }

  std::string WriteFile(const std::vector<uint8_t>& bytes) {
    const std::string path = folder_ + "/fw" + std::to_string(files_++) + ".bin";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return path;
  }
  // Puts bytes into the memory the family's flash reads reach.
  void LoadFlash(const std::vector<uint8_t>& bytes, bool dfAddressed) {
    product().WithBridge([&](sim::EmulatedBridge& bridge) {
      if (dfAddressed && !bridge.configMemoryInFlash()) {
        std::vector<uint8_t>& memory = bridge.configMemory();
        std::copy(bytes.begin(), bytes.begin() + std::min(bytes.size(), memory.size()), memory.begin());
      } else {
        bridge.flash().EraseByOpcode(0xC7, 0);  // the bench's flash holds a firmware of its own
        for (uint32_t page = 0; page < bytes.size(); page += 256)  // one SPI page at a time
          bridge.flash().Program(page, bytes.data() + page,
                                 std::min<uint32_t>(256, static_cast<uint32_t>(bytes.size()) - page));
      }
      return 0;
    });
  }
  int CommandsSent() { return static_cast<int>(Trace().size()); }

  std::string folder_;
  int files_ = 0;
};

class Verify32K : public VerifyOnBench {
 protected:
  Verify32K() : VerifyOnBench(1) {}
};

TEST_F(Verify32K, FileAgainstFlash) {
  const std::vector<uint8_t> image = Pattern(0x8000, 9);
  LoadFlash(image, false);
  EXPECT_EQ(VerifyFirmwareWithFile(path(), WriteFile(image).c_str(), 1, 0, false), 1);
  // A 31 KB file gives 0 without a device command.
  const std::string shortFile = WriteFile(std::vector<uint8_t>(image.begin(), image.begin() + 31 * 1024));
  Trace();
  EXPECT_EQ(VerifyFirmwareWithFile(path(), shortFile.c_str(), 1, 0, false), 0);
  EXPECT_EQ(CommandsSent(), 0);
  // A longer file: only its first 32 KB are read and compared.
  std::vector<uint8_t> longer = image;
  longer.resize(0x20000, 0xAB);
  EXPECT_EQ(VerifyFlash32K(path(), WriteFile(longer).c_str()), 1);
  // The last byte differs.
  std::vector<uint8_t> other = image;
  other[0x7FFF] ^= 0xFF;
  EXPECT_EQ(VerifyFlash32K(path(), WriteFile(other).c_str()), 0);
  EXPECT_EQ(VerifyFlash32K(path(), (folder_ + "/missing.bin").c_str()), 0);
}

class VerifySkipHeader : public VerifyOnBench {
 protected:
  VerifySkipHeader() : VerifyOnBench(11) {}
};

TEST_F(VerifySkipHeader, ConfigurationAreaIgnoredAndLimits) {
  std::vector<uint8_t> image = Pattern(0x9000, 10);
  LoadFlash(image, true);
  std::vector<uint8_t> file = image;
  for (size_t i = 0; i < 0x90; ++i) file[i] ^= 0x5A;
  EXPECT_EQ(VerifyFirmwareWithFile(path(), WriteFile(file).c_str(), 11, 0, false), 1);
  file[0x90] ^= 1;
  EXPECT_EQ(VerifyFirmwareWithFile(path(), WriteFile(file).c_str(), 11, 0, false), 0);
  // A file of 0x90 bytes would compare nothing; one over 64 KB would not fit.
  Trace();
  EXPECT_EQ(VerifyFlashSkipHeader(path(), WriteFile(std::vector<uint8_t>(0x90, 0x11)).c_str(),
                                  SkipHeaderReader::kDf), 0);
  EXPECT_EQ(VerifyFlashSkipHeader(path(), WriteFile(std::vector<uint8_t>(0x10001, 0x11)).c_str(),
                                  SkipHeaderReader::kDf), 0);
  EXPECT_EQ(CommandsSent(), 0);
}

// ChipType 9 end to end: the header-keeping route writes the file, the
// verifier finds it where it was written, 4 KB up for a bare image.
class VerifyKeepHeader : public VerifyOnBench {
 protected:
  VerifyKeepHeader() : VerifyOnBench(9) {}
};

TEST_F(VerifyKeepHeader, ProgrammedImageVerifiesWithOrWithoutItsHeaderBlock) {
  std::vector<uint8_t> withHeader = Pattern(0x6000, 30);
  const uint8_t mark[7] = {0x55, 0xAA, 0xAA, 0x55, '6', '6', '2'};
  std::copy(mark, mark + 7, withHeader.begin() + 0x1000);
  std::vector<uint8_t> bare = Pattern(0x5000, 31);
  std::copy(mark, mark + 7, bare.begin());  // its signature at 0
  for (std::vector<uint8_t>* image : {&bare, &withHeader}) {
    SCOPED_TRACE(image == &bare ? "bare" : "with its header block");
    ASSERT_EQ(HasHeaderBlock(image->data(), static_cast<uint32_t>(image->size())), image == &withHeader);
    const uint8_t config[128] = {0x42};
    ASSERT_EQ(ProgramFirmwareKeepHeader(path(), true, true, config,
                                        LoadedImage{image->data(), static_cast<uint32_t>(image->size())}),
              1);
    EXPECT_EQ(VerifyFirmwareWithFile(path(), WriteFile(*image).c_str(), 9, 0, false), 1);
    std::vector<uint8_t> other = *image;
    other[0x90] ^= 1;  // the first compared byte
    EXPECT_EQ(VerifyFirmwareWithFile(path(), WriteFile(other).c_str(), 9, 0, false), 0);
    other = *image;
    other.back() ^= 1;
    EXPECT_EQ(VerifyFirmwareWithFile(path(), WriteFile(other).c_str(), 9, 0, false), 0);
  }
}

class VerifyCrc : public VerifyOnBench {
 protected:
  VerifyCrc() : VerifyOnBench(19) {}
};

TEST_F(VerifyCrc, StoredCrcMustMatchTheFile) {
  std::vector<uint8_t> image = Pattern(0xC000, 12);
  const uint16_t crc = Crc16Ccitt(image.data(), 0xBFFC, 0);
  image[0xBFFE] = static_cast<uint8_t>(crc >> 8);
  image[0xBFFF] = static_cast<uint8_t>(crc);
  LoadFlash(image, true);
  EXPECT_EQ(VerifyFirmwareWithFile(path(), WriteFile(image).c_str(), 19, 0, false), 1);
  // Equal compared bytes, but the flash's CRC is not the file's.
  std::vector<uint8_t> file = image;
  file[0xBFFE] ^= 1;  // outside the compare; the CRC over the file is unchanged
  EXPECT_EQ(VerifyFlashWithCrc(path(), WriteFile(file).c_str()), 1);
  file = image;
  file[0x100] ^= 1;   // the file's CRC changes: the flash's stored one no longer fits
  EXPECT_EQ(VerifyFlashWithCrc(path(), WriteFile(file).c_str()), 0);
}

// A read-back that fails gives 0 for every family.
struct FamilyCase {
  unsigned chipType;
  size_t fileLength;
};
class FailedReadBack : public VerifyOnBench, public ::testing::WithParamInterface<FamilyCase> {
 protected:
  FailedReadBack() : VerifyOnBench(GetParam().chipType) {}
};

TEST_P(FailedReadBack, GivesZero) {
  const std::string file = WriteFile(Pattern(GetParam().fileLength, 13));
  sim::Fault fault = testing::MakeFault(sim::Fault::Kind::CheckCondition);
  fault.count = -1;
  product().AddFault(fault);
  for (bool clone : {false, true})
    EXPECT_EQ(VerifyFirmwareWithFile(path(), file.c_str(), GetParam().chipType, 2, clone), 0);
}

INSTANTIATE_TEST_SUITE_P(Families, FailedReadBack,
                         ::testing::Values(FamilyCase{1, 0x8000}, FamilyCase{29, 0x4000}, FamilyCase{9, 0x8000},
                                           FamilyCase{12, 0x8000}, FamilyCase{20, 0xC000},
                                           FamilyCase{22, 0x40000}, FamilyCase{25, 0xC600},
                                           FamilyCase{26, 0x10600}, FamilyCase{27, 0x10600},
                                           FamilyCase{28, 0x10600}),
                         [](const auto& info) { return "ChipType" + std::to_string(info.param.chipType); });

TEST(VerifyDispatch, TypesWithoutVerifier) {
  for (unsigned chipType : {0u, 8u, 10u, 14u, 17u, 30u, 31u, 32u, 33u, 35u})
    EXPECT_EQ(VerifyFirmwareWithFile("no-such-device", "/no/such/file", chipType, 0, false), 0);
}

// Written through the running firmware, read back by the verifier. A
// QVS87x product firmware takes the update into the bank that does not run
// and the check reads the running one, so it runs after the reset.
class VerifyAfterDownload : public VerifyOnBench, public ::testing::WithParamInterface<FamilyCase> {
 protected:
  VerifyAfterDownload() : VerifyOnBench(GetParam().chipType) {}
};

TEST_P(VerifyAfterDownload, MatchesTheFile) {
  const unsigned chipType = GetParam().chipType;
  std::vector<uint8_t> file = Pattern(GetParam().fileLength, chipType);
  int downloaded = 0;
  if (chipType <= 24) {
    const std::vector<uint8_t> config(kConfigBlockSize);
    downloaded = DownloadFirmwareQVS87x(path(), 0, kQvs87xUpdateLength, false, false, {}, config, file);
  } else {
    const LoadedImage image{file.data(), static_cast<uint32_t>(file.size())};
    downloaded = chipType == 25 ? DownloadFirmwareQVS887(path(), 0, kQvs887UpdateLength, false, image)
                                : DownloadFirmwareQVS891(path(), 0, kQvs891UpdateLength, false, image);
  }
  ASSERT_EQ(downloaded, 1);
  if (chipType <= 24) {
    ASSERT_EQ(ResetBridge(path()), 1);
    platform::Sleep(product().config().resetDelayMs + 1000);
    path_ = product().path();  // named by the identity of the bank it booted
  }
  const std::string name = WriteFile(file);
  ASSERT_EQ(VerifyFirmwareWithFile(path(), name.c_str(), chipType, 1, false), 1);
  // A byte at the end of the skipped header area changes nothing; the first
  // code byte after it does (the QVS87x also skips the identity fields).
  const uint32_t lastSkipped = chipType <= 24 ? 0x9FF : 0x3FF;
  file[lastSkipped] ^= 1;
  EXPECT_EQ(VerifyFirmwareWithFile(path(), WriteFile(file).c_str(), chipType, 1, false), 1);
  file[lastSkipped + 1] ^= 1;
  EXPECT_EQ(VerifyFirmwareWithFile(path(), WriteFile(file).c_str(), chipType, 1, false), 0);
}

INSTANTIATE_TEST_SUITE_P(Families, VerifyAfterDownload,
                         ::testing::Values(FamilyCase{21, 0x40000}, FamilyCase{25, 0xC600},
                                           FamilyCase{27, 0x10600}, FamilyCase{28, 0x10600}),
                         [](const auto& info) { return "ChipType" + std::to_string(info.param.chipType); });

// CLONE mode: the bridge runs bank 1 (buffer 1), which carries "CLONE" at
// 0x430, so buffer 0 (bank 0) is read first and both banks line up with the
// file; unmarked, buffer 1 comes first and the banks are swapped.
class VerifyClone : public VerifyOnBench {
 protected:
  VerifyClone() : VerifyOnBench(RunningBankOne()) {}
  static sim::ProductConfig RunningBankOne() {
    sim::ProductConfig config = Chip(21);
    config.buffer1Bank = 1;
    return config;
  }
  std::vector<uint8_t> BufferOrder() {
    std::vector<uint8_t> order;
    for (const sim::TraceEntry& e : Trace())
      if (e.cdb[0] == 0x3C && e.cdb[1] == 0x01 && e.cdb[3] == 0 && e.cdb[4] == 0 && e.cdb[5] == 0)
        order.push_back(e.cdb[2]);
    return order;
  }
};

TEST_F(VerifyClone, ReadsBufferZeroFirstWhenMarked) {
  std::vector<uint8_t> file = Pattern(0x40000, 21);
  LoadFlash(file, false);
  const std::string unmarked = WriteFile(file);
  uint8_t head[0x1000] = {};
  ASSERT_EQ(ScsiReadBuffer(path(), kBufferModeData, kBuffer1, 0, head, sizeof head), 1);
  ASSERT_TRUE(std::equal(head, head + sizeof head, file.begin() + 0x20000));  // buffer 1 shows bank 1
  Trace();
  EXPECT_EQ(VerifyFirmwareQVS87x(path(), unmarked.c_str(), true), 0);
  EXPECT_EQ(BufferOrder(), (std::vector<uint8_t>{1, 1, 0}));  // the mark, then bank 1, then bank 0

  std::memcpy(file.data() + 0x20430, "CLONE", 5);  // inside the skipped identity area
  LoadFlash(file, false);
  const std::string marked = WriteFile(file);
  EXPECT_EQ(VerifyFirmwareQVS87x(path(), marked.c_str(), true), 1);
  EXPECT_EQ(BufferOrder(), (std::vector<uint8_t>{1, 0, 1}));  // the mark, then bank 0, then bank 1
  EXPECT_EQ(VerifyFirmwareWithFile(path(), marked.c_str(), 21, 0, true), 1);
  // A code byte of bank 1 differs: found in the second half.
  file[0x20A00] ^= 1;
  EXPECT_EQ(VerifyFirmwareQVS87x(path(), WriteFile(file).c_str(), true), 0);
}

}  // namespace
}  // namespace bridge
