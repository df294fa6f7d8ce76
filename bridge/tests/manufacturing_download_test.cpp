#include "bridge/manufacturing_download.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bridge/chip_identification.h"
#include "bridge/firmware_update.h"
#include "bridge/firmware_verification.h"
#include "bridge/identity_record.h"
#include "bridge/image_crc.h"
#include "bridge/mfg_images.h"
#include "bridge/standby_timer.h"
#include "bridge/tests/bench_fixture.h"
#include "platform/resources.h"
#include "resources/stand_in_images.h"
#include "sim/emulated_bridge.h"

namespace bridge {
namespace {

using testing::BenchTest;
using testing::MakeFault;
using testing::TestProduct;

sim::ProductConfig Family(unsigned chipType) {
  sim::ProductConfig config = TestProduct("family" + std::to_string(chipType));
  config.chipType = static_cast<uint8_t>(chipType);
  return config;
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

uint32_t Be24(const std::vector<uint8_t>& cdb, size_t at) {
  return uint32_t{cdb[at]} << 16 | uint32_t{cdb[at + 1]} << 8 | cdb[at + 2];
}

// ---- Embedded images ----

TEST(MfgImages, EveryStandInIsAResourceOfItsSize) {
  for (const resources::StandInImage& image : resources::kStandInImages) {
    const std::string name(image.name);
    const platform::ResourceData data = platform::FindResource(name.c_str(), "FW");
    ASSERT_NE(data.data, nullptr) << name;
    EXPECT_EQ(data.size, image.size) << name;
    EXPECT_EQ(crc32(0L, data.data, static_cast<uInt>(data.size)), image.crc32) << name;
  }
  EXPECT_EQ(platform::FindResource("QVS871_ROM0_MFG", "RCDATA").data, nullptr);
  EXPECT_EQ(platform::FindResource("QVS871_ROM2_MFG", "FW").data, nullptr);
}

TEST(MfgImages, LoadersTakeTheNamedImage) {
  struct Case {
    const char* name;
    size_t (*load)(uint8_t*, size_t, uint32_t, uint32_t);
  } cases[] = {
      {"QVS885_ROM0_MFG", LoadMfgFirmwareQVS885},
      {"QVS891_ROM0_MFG", LoadMfgFirmwareQVS891},
      {"QVS894_ROM0_MFG", LoadMfgFirmwareQVS894},
  };
  for (const Case& c : cases) {
    const platform::ResourceData data = platform::FindResource(c.name, "FW");
    std::vector<uint8_t> buffer(data.size);
    EXPECT_EQ(c.load(buffer.data(), buffer.size(), 0, 0), data.size) << c.name;
    EXPECT_EQ(std::memcmp(buffer.data(), data.data, data.size), 0) << c.name;
  }
  for (const Qvs87xMfgCode& code : kQvs87xMfgCodes) {
    std::vector<uint8_t> buffer(code.image.size);
    EXPECT_EQ(LoadMfgFirmwareQVS87x(buffer.data(), buffer.size(), 0, 0, code.code), code.image.size);
    const std::string tag = std::string(resources::kStandInTagPrefix) + std::string(code.image.name);
    EXPECT_EQ(std::memcmp(buffer.data(), tag.data(), tag.size()), 0) << code.code;
  }
  std::vector<uint8_t> buffer(kMfgImageSize1KFamily);
  EXPECT_EQ(LoadMfgFirmwareQVS884(buffer.data(), buffer.size(), 0, 0, 1), kMfgImageSize1KFamily);
  EXPECT_EQ(std::memcmp(buffer.data() + 12, "QVS884_ROM_MFG_A0", 17), 0);
  EXPECT_EQ(LoadMfgFirmwareQVS884(buffer.data(), buffer.size(), 0, 0, 2), kMfgImageSize1KFamily);
  EXPECT_EQ(std::memcmp(buffer.data() + 12, "QVS884_ROM_MFG_A1", 17), 0);
  EXPECT_EQ(LoadMfgFirmwareQVS884(buffer.data(), buffer.size(), 0, 0, 3), 0u);
  EXPECT_EQ(LoadMfgFirmwareQVS87x(buffer.data(), buffer.size(), 0, 0, 14), 0u);
}

// Exactly sized heap buffers: the address sanitizer catches one byte too many.
TEST(MfgImages, SlicesStayInsideImageAndBuffer) {
  const platform::ResourceData full = platform::FindResource("QVS891_ROM0_MFG", "FW");
  auto small = std::make_unique<uint8_t[]>(100);
  EXPECT_EQ(LoadMfgFirmwareQVS891(small.get(), 100, 0, 0), full.size);  // size still reported
  EXPECT_EQ(std::memcmp(small.get(), full.data, 100), 0);
  EXPECT_EQ(LoadMfgFirmwareQVS891(small.get(), 100, 0x8000, 0x10000), full.size);
  EXPECT_EQ(std::memcmp(small.get(), full.data + 0x8000, 100), 0);
  auto tail = std::make_unique<uint8_t[]>(16);
  EXPECT_EQ(LoadMfgFirmwareQVS891(tail.get(), 1000, 0xFFF0, 0), full.size);  // up to the end: 16 bytes
  EXPECT_EQ(std::memcmp(tail.get(), full.data + 0xFFF0, 16), 0);
  EXPECT_EQ(LoadMfgFirmwareQVS891(small.get(), 100, 0x10000, 0), 0u);  // offset past the image
  EXPECT_EQ(LoadMfgFirmwareQVS891(small.get(), 100, 0xFFFFFFFF, 4), 0u);
}

TEST(MfgImages, BootRomChoice) {
  struct Case {
    uint8_t version;
    char letter;
    int code;
  } cases[] = {{0, 'a', 1}, {0, 'b', 2}, {1, 'a', 11}, {1, 'b', 12}, {1, 'c', 13},
               {1, 'e', 15}, {0, 'c', 0}, {1, 'd', 0}, {2, 'a', 0}, {0, 'A', 0}};
  for (const Case& c : cases) {
    uint8_t info[kChipInfoLength] = {0xF4, 0xE7};
    info[5] = static_cast<uint8_t>(c.letter);
    info[7] = c.version;
    EXPECT_EQ(Qvs87xMfgCodeFor(info), c.code) << int{c.version} << c.letter;
  }
}

// ---- Descriptor and wire bytes ----

TEST(BufferDescriptorLayout, BigEndianCapacity) {
  const uint8_t bytes[4] = {0x0A, 0x01, 0x04, 0x00};
  const BufferDescriptor d = ParseBufferDescriptor(bytes);
  EXPECT_EQ(d.state, 0x0A);
  EXPECT_EQ(d.capacity, 66560u);
}

class DownloadTest : public BenchTest {
 protected:
  explicit DownloadTest(unsigned chipType = 21) : BenchTest({Family(chipType)}) {}
  BufferDescriptor Descriptor(BufferId id = kBuffer0) {
    BufferDescriptor d;
    EXPECT_EQ(ReadBufferDescriptor(path(), id, &d), 1);
    return d;
  }
};

// READ BUFFER takes mode before buffer id and WRITE BUFFER buffer id before
// mode; the types keep a swapped call from compiling, and the bytes of every
// call site show each field where it belongs.
TEST_F(DownloadTest, CallSiteBytes) {
  static_assert(!std::is_convertible_v<BufferMode, BufferId>);
  static_assert(!std::is_convertible_v<BufferId, BufferMode>);
  const BufferDescriptor d = Descriptor(kBuffer1);
  std::vector<uint8_t> out(0x2000);
  ASSERT_EQ(ReadBufferChunks(path(), kBuffer1, 0x3000, out.data(), 0x2000, kChunk4K), 1);
  const std::vector<uint8_t> data(0x400, 0x5A);
  ASSERT_EQ(WriteBufferChunks(path(), 0x800, data.data(), 0x400, kChunk1K), 1);
  const std::vector<sim::TraceEntry> trace = Trace();
  ASSERT_EQ(trace.size(), 4u);
  EXPECT_EQ(trace[0].cdb, (std::vector<uint8_t>{0x3C, 0x03, 0x01, 0, 0, 0, 0, 0, 4, 0}));
  EXPECT_EQ(trace[1].cdb, (std::vector<uint8_t>{0x3C, 0x01, 0x01, 0, 0x30, 0, 0, 0x10, 0, 0}));
  EXPECT_EQ(trace[2].cdb, (std::vector<uint8_t>{0x3C, 0x01, 0x01, 0, 0x40, 0, 0, 0x10, 0, 0}));
  EXPECT_EQ(trace[3].cdb, (std::vector<uint8_t>{0x3B, 0x0E, 0x00, 0, 0x08, 0, 0, 0x04, 0, 0}));
  EXPECT_EQ(trace[3].dataOut, data);
  (void)d;
}

// A download to running QVS87x firmware sends the whole capacity in 4 KB
// chunks at consecutive offsets; the image at the start, zeros after it.
TEST_F(DownloadTest, Qvs87xRunningFirmware) {
  const BufferDescriptor d = Descriptor();
  ASSERT_EQ(d.state, kState4KUnits);
  const std::vector<uint8_t> image = Pattern(kDualBankImageSize, 1);
  const std::vector<uint8_t> config(kConfigBlockSize, 0xC5);
  Trace();
  ASSERT_EQ(DownloadFirmwareQVS87x(path(), 0, kQvs87xUpdateLength, false, false, {}, config, image), 1);
  std::vector<uint8_t> sent;
  uint32_t expectedOffset = 0;
  for (const sim::TraceEntry& e : Trace()) {
    if (e.cdb[0] != 0x3B) continue;
    EXPECT_EQ(e.cdb[1], 0x0E);
    EXPECT_EQ(e.cdb[2], 0x00);
    EXPECT_EQ(Be24(e.cdb, 3), expectedOffset);
    EXPECT_EQ(Be24(e.cdb, 6), e.dataOut.size());
    EXPECT_LE(e.dataOut.size(), kChunk4K);
    expectedOffset += static_cast<uint32_t>(e.dataOut.size());
    sent.insert(sent.end(), e.dataOut.begin(), e.dataOut.end());
  }
  ASSERT_EQ(sent.size(), d.capacity);
  // The image up to the capacity, never more.
  const size_t imageSent = std::min(image.size(), sent.size());
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + imageSent, sent.begin()));
  const bool version2 = IsChipInfoVersion2(path()) != 0;
  for (size_t i = imageSent; i < sent.size(); ++i) {
    const bool inConfig = i >= kConfigBlockOffset && i < kConfigBlockOffset + kConfigBlockSize;
    ASSERT_EQ(sent[i], version2 && inConfig ? 0xC5 : 0) << i;
  }
}

TEST_F(DownloadTest, Qvs87xBootRomStateRequired) {
  const std::vector<uint8_t> image = Pattern(kDualBankImageSize, 2);
  const std::vector<uint8_t> config(kConfigBlockSize);
  // The bridge runs product firmware (0x0C): a boot-ROM download is refused
  // before anything is written.
  Trace();
  EXPECT_EQ(DownloadFirmwareQVS87x(path(), 0, kQvs87xUpdateLength, true, true, image, config, {}), 0);
  for (const sim::TraceEntry& e : Trace()) EXPECT_NE(e.cdb[0], 0x3B);
  // Without an image nothing is sent either.
  EXPECT_EQ(DownloadFirmwareQVS87x(path(), 0, kQvs87xUpdateLength, false, true, {}, config, image), 0);
  for (const sim::TraceEntry& e : Trace()) EXPECT_NE(e.cdb[0], 0x3B);
}

// "The result is that of the last chunk" must not hide a failed one.
TEST_F(DownloadTest, FailedChunkFailsTheDownload) {
  const std::vector<uint8_t> image = Pattern(kDualBankImageSize, 3);
  const std::vector<uint8_t> config(kConfigBlockSize);
  sim::Fault fault = MakeFault(sim::Fault::Kind::CheckCondition, {0x3B});
  fault.skip = 5;
  product().AddFault(fault);
  Trace();
  EXPECT_EQ(DownloadFirmwareQVS87x(path(), 0, kQvs87xUpdateLength, false, false, {}, config, image), 0);
  int writes = 0;
  for (const sim::TraceEntry& e : Trace()) writes += e.cdb[0] == 0x3B;
  EXPECT_EQ(writes, 6);  // nothing sent after the refused chunk
}

TEST_F(DownloadTest, ReadBacksStayInsideTheCallersBuffer) {
  // Capacity 0x46000 and version-2 reads of 0x40000 into a buffer of 0x1800.
  auto small = std::make_unique<uint8_t[]>(0x1800);
  Trace();
  EXPECT_EQ(ReadFirmwareQVS87x(path(), 0, small.get(), 0x1800), 1);
  EXPECT_EQ(ReadFirmwareSingleBank(path(), 0, small.get(), 0x1800), 1);
  uint32_t read = 0;
  for (const sim::TraceEntry& e : Trace())
    if (e.cdb[0] == 0x3C && e.cdb[1] == 0x01) read += Be24(e.cdb, 6);
  EXPECT_EQ(read, 2u * 0x1800);
  // Dual bank: each bank at most 128 KB, the second only into what is left.
  auto both = std::make_unique<uint8_t[]>(0x30000);
  EXPECT_EQ(ReadFirmwareDualBank(path(), 0, both.get(), 0x30000, true), 1);
  auto one = std::make_unique<uint8_t[]>(0x8000);
  EXPECT_EQ(ReadFirmwareDualBank(path(), 0, one.get(), 0x8000, false), 0);  // no room for bank 2
}

TEST_F(DownloadTest, FailedReadChunkFailsTheReadBack) {
  sim::Fault fault = MakeFault(sim::Fault::Kind::CheckCondition, {0x3C, 0x01});
  fault.skip = 2;
  product().AddFault(fault);
  std::vector<uint8_t> out(kDualBankImageSize);
  EXPECT_EQ(ReadFirmwareQVS87x(path(), 0, out.data(), kQvs87xUpdateLength), 0);
  product().AddFault(MakeFault(sim::Fault::Kind::CheckCondition, {0x3C, 0x03}));
  EXPECT_EQ(ReadFirmwareBuf1K(path(), 0, out.data(), 0x10000), 0);  // no descriptor, nothing read
}

TEST_F(DownloadTest, DualBankOrderFollowsTheCloneMark) {
  std::vector<uint8_t> out(kDualBankImageSize);
  for (const bool clone : {true, false}) {
    Trace();
    ASSERT_EQ(ReadFirmwareDualBank(path(), 0, out.data(), kDualBankImageSize, clone), 1);
    std::vector<uint8_t> order;
    for (const sim::TraceEntry& e : Trace())
      if (e.cdb[0] == 0x3C && (order.empty() || order.back() != e.cdb[2])) order.push_back(e.cdb[2]);
    EXPECT_EQ(order, clone ? (std::vector<uint8_t>{0, 1}) : (std::vector<uint8_t>{1, 0}));
  }
}

// ---- The 1 KB family ----

class OneKDownloadTest : public DownloadTest {
 protected:
  OneKDownloadTest() : DownloadTest(27) {}
};

TEST_F(OneKDownloadTest, RunningFirmwareTakesTheCapacityIn1KChunks) {
  const BufferDescriptor d = Descriptor();
  ASSERT_EQ(d.state, kState1KUnits);
  // A FirmwareImage shorter than the capacity: its bytes, then zeros; the
  // image buffer is exactly its length, so a read past it is caught.
  const std::vector<uint8_t> bytes = Pattern(0x8000, 4);
  auto owned = std::make_unique<uint8_t[]>(bytes.size());
  std::memcpy(owned.get(), bytes.data(), bytes.size());
  const LoadedImage image{owned.get(), static_cast<uint32_t>(bytes.size())};
  Trace();
  ASSERT_EQ(DownloadFirmwareQVS891(path(), 0, kQvs891UpdateLength, false, image), 1);
  std::vector<uint8_t> sent;
  int chunks = 0;
  for (const sim::TraceEntry& e : Trace()) {
    if (e.cdb[0] != 0x3B) continue;
    ++chunks;
    EXPECT_EQ(Be24(e.cdb, 3), sent.size());
    EXPECT_LE(e.dataOut.size(), kChunk1K);
    sent.insert(sent.end(), e.dataOut.begin(), e.dataOut.end());
  }
  EXPECT_EQ(chunks, static_cast<int>((d.capacity + kChunk1K - 1) / kChunk1K));
  ASSERT_EQ(sent.size(), d.capacity);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), sent.begin()));
  for (size_t i = bytes.size(); i < sent.size(); ++i) ASSERT_EQ(sent[i], 0) << i;
}

// The first failed try does not keep a later one from succeeding.
TEST_F(OneKDownloadTest, UpdateRetriesAfterAFailedChunk) {
  std::vector<uint8_t> bytes = Pattern(0x10600, 5);
  const LoadedImage image{bytes.data(), static_cast<uint32_t>(bytes.size())};
  sim::Fault fault = MakeFault(sim::Fault::Kind::CheckCondition, {0x3B});
  fault.skip = 10;
  product().AddFault(fault);
  Trace();
  EXPECT_EQ(UpdateFirmwareQVS891(path(), 0, kQvs891UpdateLength, false, nullptr, false, true, image), 1);
  int starts = 0;
  for (const sim::TraceEntry& e : Trace())
    starts += e.cdb[0] == 0x3B && e.cdb[3] == 0 && e.cdb[4] == 0 && e.cdb[5] == 0;
  EXPECT_EQ(starts, 2);  // the refused chunk ended the first try
}

TEST_F(OneKDownloadTest, ConfigurationOnly) {
  uint8_t config[kConfigAreaSize];
  std::memset(config, 0x3C, sizeof config);
  const LoadedImage none{};
  ASSERT_EQ(UpdateFirmwareQVS891(path(), 0, kQvs891UpdateLength, false, config, true, false, none), 1);
  uint8_t block[kFlashConfigBlockSize] = {};
  ASSERT_EQ(ReadBridgeFlash(path(), kQvs891ConfigAddress, block, sizeof block), 1);
  EXPECT_EQ(std::memcmp(block, config, sizeof config), 0);
  // Refused in the boot ROM, and a failed 512-byte write reports failure.
  EXPECT_EQ(UpdateFirmwareQVS891(path(), 0, kQvs891UpdateLength, true, config, true, false, none), 0);
  product().AddFault(MakeFault(sim::Fault::Kind::CheckCondition, {0xDF, 0x01}));  // the erase type 1 write
  EXPECT_EQ(UpdateFirmwareQVS891(path(), 0, kQvs891UpdateLength, false, config, true, false, none), 0);
}

// ---- Boot ROM to product, per family ----

// A bridge in its boot ROM takes the stand-in MFG image, the MFG firmware
// writes the product firmware, the flash then verifies against the file,
// and after a reset the product firmware boots from the flash with the
// identity the image carries (the QVS87x bank checksums checked).
struct FamilyCase {
  unsigned chipType;
  uint32_t bootCapacity;
  char revisionDigit;  // chip-information byte 11; 0: the chip's own
  int revision;        // ChipType 26: 1 = A0, 2 = A1
};

class BootRomFlow : public BenchTest, public ::testing::WithParamInterface<FamilyCase> {
 protected:
  BootRomFlow() : BenchTest({BootRomFamily(GetParam())}) {
    char pattern[] = "/tmp/kv_bootrom.XXXXXX";
    folder_ = ::mkdtemp(pattern);
  }
  ~BootRomFlow() override { std::filesystem::remove_all(folder_); }
  static sim::ProductConfig BootRomFamily(const FamilyCase& c) {
    sim::ProductConfig config = Family(c.chipType);
    config.bootRom = true;
    config.revisionDigit = c.revisionDigit;
    config.checkBankChecksums = true;
    return config;
  }
  std::string WriteFile(const std::vector<uint8_t>& bytes) {
    const std::string name = folder_ + "/fw.bin";
    std::FILE* file = std::fopen(name.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    if (file != nullptr) {
      EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
      std::fclose(file);
    }
    return name;
  }
  int Update(const std::vector<uint8_t>& file) {
    const unsigned chipType = GetParam().chipType;
    if (chipType <= 24) {
      std::vector<uint8_t> config(kConfigBlockSize);
      BuildStandbyPacket(config.data(), 10, true);
      return UpdateFirmwareQVS87x(path(), 0, kQvs87xUpdateLength, true, true, file, config, {});
    }
    const LoadedImage image{file.data(), static_cast<uint32_t>(file.size())};
    switch (chipType) {
      case 25: return UpdateFirmwareQVS887(path(), 0, kQvs887UpdateLength, true, nullptr, false, true, image);
      case 26:
        return UpdateFirmwareQVS884(path(), 0, kQvs887UpdateLength, true, nullptr, false, true,
                                    GetParam().revision, 0xD000, false, image);
      case 27: return UpdateFirmwareQVS891(path(), 0, kQvs891UpdateLength, true, nullptr, false, true, image);
      default: return UpdateFirmwareQVS894(path(), 0, kQvs891UpdateLength, true, nullptr, false, true, image);
    }
  }
  std::string folder_;
};

TEST_P(BootRomFlow, BootRomToProductVerifiedAndBackWithItsIdentity) {
  const unsigned chipType = GetParam().chipType;
  const bool banks = chipType <= 24;
  BufferDescriptor d;
  ASSERT_EQ(ReadBufferDescriptor(path(), kBuffer0, &d), 1);
  ASSERT_EQ(d.state, kStateBootRom);
  ASSERT_EQ(d.capacity, GetParam().bootCapacity);

  // The file as the port worker prepares it: identity filled in, banks sealed.
  std::vector<uint8_t> file = Pattern(banks ? kDualBankImageSize : chipType >= 27 ? 0x10600 : 0xC600, chipType);
  if (banks) {
    FillImageIdentity(file.data(), "ACME", "Portable Disk", "ACME Storage", "Portable Disk 2", 1, 0, false);
    StampBankHeaders(file.data());
  }
  ASSERT_EQ(Update(file), 1);
  const std::string name = WriteFile(file);
  EXPECT_EQ(VerifyFirmwareWithFile(path(), name.c_str(), chipType, GetParam().revision, false), 1);
  if (banks) {
    StandbyReading standby;
    ASSERT_EQ(ReadStandbyTimer(path(), &standby), 1);  // the packet went with the download
    EXPECT_TRUE(standby.enabled);
    EXPECT_EQ(standby.minutes, 10u);
  }

  ASSERT_EQ(ResetBridge(path()), 1);
  platform::Sleep(product().config().resetDelayMs + 1000);
  ASSERT_EQ(product().path(), path_);
  EXPECT_EQ(IdentifyChipType(path()), chipType);
  ASSERT_EQ(ReadBufferDescriptor(path(), kBuffer0, &d), 1);
  EXPECT_EQ(d.state, banks ? kState4KUnits : kState1KUnits);
  const std::vector<uint8_t> booted = product().WithBridge([](sim::EmulatedBridge& b) { return b.BootedImage(); });
  const size_t code = banks ? kBankSize : chipType >= 27 ? kQvs891ImageConfigBlock : kQvs887ImageConfigBlock;
  ASSERT_GE(booted.size(), code);
  EXPECT_TRUE(std::equal(booted.begin(), booted.begin() + static_cast<ptrdiff_t>(code), file.begin()));
  EXPECT_EQ(VerifyFirmwareWithFile(path(), name.c_str(), chipType, GetParam().revision, false), 1);
  if (banks) {
    // The identity as the worker reads it back from the running bank.
    uint8_t head[0x1000] = {};
    ASSERT_EQ(ScsiReadBuffer(path(), kBufferModeData, kBuffer1, 0, head, sizeof head), 1);
    EXPECT_EQ(head[kBankOptionByte], 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(head + kBankText8)), "ACME");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(head + kBankText16)), "Portable Disk");
    EXPECT_EQ(head[kBankFirstString], 2 * 12 + 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(head + kBankFirstString + 2)), "ACME Storage");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(head + kBankSecondString + 2)), "Portable Disk 2");
  }
}

// A bank whose checksum does not fit its bytes does not boot: unsealed,
// the product comes back in its boot ROM.
class SealedBanks : public BootRomFlow {};

TEST_P(SealedBanks, UnsealedBanksDoNotBoot) {
  const std::vector<uint8_t> file = Pattern(kDualBankImageSize, 99);
  ASSERT_EQ(Update(file), 1);
  ASSERT_EQ(ResetBridge(path()), 1);
  platform::Sleep(product().config().resetDelayMs + 1000);
  BufferDescriptor d;
  ASSERT_EQ(ReadBufferDescriptor(path(), kBuffer0, &d), 1);
  EXPECT_EQ(d.state, kStateBootRom);
}

INSTANTIATE_TEST_SUITE_P(Qvs87x, SealedBanks,
                         ::testing::Values(FamilyCase{21, 0x10000, 0, 0}, FamilyCase{24, 0x10000, 0, 0}),
                         [](const auto& info) { return "ChipType" + std::to_string(info.param.chipType); });

INSTANTIATE_TEST_SUITE_P(Families, BootRomFlow,
                         ::testing::Values(FamilyCase{21, 0x10000, 0, 0}, FamilyCase{22, 0x10000, 0, 0},
                                           FamilyCase{23, 0x10000, 0, 0}, FamilyCase{24, 0x10000, 0, 0},
                                           FamilyCase{25, 0xC400, 0, 0}, FamilyCase{26, 0xC400, '1', 1},
                                           FamilyCase{26, 0xC400, '2', 2}, FamilyCase{27, 0x10000, 0, 0},
                                           FamilyCase{28, 0x10000, 0, 0}),
                         [](const auto& info) {
                           return "ChipType" + std::to_string(info.param.chipType) +
                                  (info.param.revision != 0 ? "Rev" + std::to_string(info.param.revision) : "");
                         });

// ---- Identity record ----

TEST(IdentityRecord, Layout) {
  uint8_t record[kIdentityRecordSize];
  BuildIdentityRecord(record, "SERIAL-0042-LONGER-THAN-TWENTY", 11, {3, 7, 45, 255});
  EXPECT_EQ(record[0], 'B');
  EXPECT_EQ(std::memcmp(record + 4, "P307045", 7), 0);
  EXPECT_EQ(record[11], 255);
  EXPECT_EQ(std::memcmp(record + 12, "P307045", 7), 0);
  EXPECT_EQ(record[19], 0);  // r + 1 modulo 256
  EXPECT_EQ(std::memcmp(record + 52, "SERIAL-0042         ", 20), 0);
  for (size_t i : {1u, 2u, 3u, 20u, 51u}) EXPECT_EQ(record[i], 0) << i;
  BuildIdentityRecord(record, "ABCDEFGHIJKLMNOPQRSTUVWXYZ", 99, {6, 59, 999, 1});
  EXPECT_EQ(std::memcmp(record + 52, "ABCDEFGHIJKLMNOPQRST", 20), 0);
  EXPECT_EQ(std::memcmp(record + 4, "P659999", 7), 0);
  BuildIdentityRecord(record, "ABC", -4, {0, 0, 0, 9});
  EXPECT_EQ(std::memcmp(record + 52, "                    ", 20), 0);
}

class IdentityRecordOnBench : public BenchTest {
 protected:
  IdentityRecordOnBench() : BenchTest({Family(22)}) {}
};

TEST_F(IdentityRecordOnBench, SentAsBuilt) {
  uint8_t record[kIdentityRecordSize];
  BuildIdentityRecord(record, "KV-0001", 7, {2, 30, 500, 77});
  ASSERT_EQ(WriteIdentityRecord(path(), 0x1234, 0xABCD, record), 1);
  const std::vector<sim::TraceEntry> trace = Trace();
  ASSERT_EQ(trace.size(), 1u);
  EXPECT_EQ(trace[0].cdb, (std::vector<uint8_t>{0xC3, 0x30, 0, 0, 0x12, 0x34, 0xAB, 0xCD, 0, 0x48, 0, 0}));
  EXPECT_EQ(trace[0].dataOut, std::vector<uint8_t>(record, record + kIdentityRecordSize));
}

// Sixteen workers build records at once (the thread sanitizer watches the
// generator); every random byte lies in 1..255.
TEST(IdentityRecord, SixteenWorkers) {
  std::vector<std::thread> workers;
  std::vector<std::vector<uint8_t>> seen(16);
  for (size_t w = 0; w < 16; ++w) {
    workers.emplace_back([&seen, w] {
      for (int i = 0; i < 500; ++i) {
        uint8_t record[kIdentityRecordSize];
        BuildIdentityRecord(record, "X", 1, CurrentIdentityStamp());
        seen[w].push_back(record[11]);
        if (record[19] != static_cast<uint8_t>(record[11] + 1)) seen[w].push_back(0);
      }
    });
  }
  for (std::thread& t : workers) t.join();
  std::vector<int> counts(256);
  for (const auto& s : seen)
    for (uint8_t r : s) ++counts[r];
  EXPECT_EQ(counts[0], 0);
  int distinct = 0;
  for (int r = 1; r < 256; ++r) distinct += counts[r] != 0;
  EXPECT_GT(distinct, 200);
}

}  // namespace
}  // namespace bridge
