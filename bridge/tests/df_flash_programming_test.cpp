// The 0xDF programming routes: the CRC-16 seal against a plain bitwise
// CRC written here from the polynomial, the erase-unit chunk cutting over
// (flash type, erase type), and images read back bit for bit from the
// emulated flash after every route.
#include "bridge/df_flash_programming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "bridge/ff04_flash_programming.h"
#include "bridge/tests/bench_fixture.h"
#include "bridge/vendor_commands.h"
#include "sim/spi_flash.h"

namespace bridge {
namespace {

using testing::BenchTest;
using testing::MakeFault;
using testing::ScopedAllocationFault;
using testing::TestProduct;

// CRC-16 with polynomial x^16 + x^12 + x^5 + 1, MSB first, initial value 0,
// one bit at a time, over every 4-byte group taken from its last byte to
// its first (the routine reads little-endian words from the top nibble).
uint16_t ReferenceCrc(const uint8_t* data, size_t length) {
  uint16_t crc = 0;
  for (size_t group = 0; group + 4 <= length; group += 4) {
    for (int k = 3; k >= 0; --k) {
      crc ^= static_cast<uint16_t>(data[group + k] << 8);
      for (int bit = 0; bit < 8; ++bit)
        crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
  }
  return crc;
}

uint16_t Crc(const std::string& text) {
  return Crc16Ccitt(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 0);
}

TEST(Crc16Ccitt, MatchesTheBitwiseDefinitionOnTheTextVectors) {
  for (const std::string text : {"abcd", "abcdefgh", "123456789012", "", "abc"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Crc(text), ReferenceCrc(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  }
  // The stated examples, and the reference agreeing with them.
  EXPECT_EQ(Crc("abcd"), 0x40D7);
  EXPECT_EQ(Crc("abcdefgh"), 0xD1FD);
  EXPECT_EQ(ReferenceCrc(reinterpret_cast<const uint8_t*>("abcdefgh"), 8), 0xD1FD);
}

TEST(Crc16Ccitt, IgnoresBytesPastTheLastWholeWord) {
  EXPECT_EQ(Crc("abcdefghX"), Crc("abcdefgh"));
  EXPECT_EQ(Crc("abcdefghXYZ"), Crc("abcdefgh"));
  EXPECT_EQ(Crc("abc"), 0);
}

TEST(Crc16Ccitt, SealLengthCoversExactlyTheFirmwareWords) {
  std::vector<uint8_t> image(0xC000);
  std::mt19937 random(7);
  for (uint8_t& b : image) b = static_cast<uint8_t>(random());
  const uint16_t crc = Crc16Ccitt(image.data(), kCrcCoveredLength, 0);
  EXPECT_EQ(crc, ReferenceCrc(image.data(), kCrcCoveredLength));
  // Bytes 0xBFFC.. (the seal itself among them) are not covered.
  image[0xBFFC] ^= 0xFF;
  image[0xBFFE] ^= 0xFF;
  EXPECT_EQ(Crc16Ccitt(image.data(), kCrcCoveredLength, 0), crc);
  image[0xBFFB] ^= 0x01;
  EXPECT_NE(Crc16Ccitt(image.data(), kCrcCoveredLength, 0), crc);
}

// ---- erase-unit chunking ----

struct Chunk {
  uint32_t address;
  uint32_t length;
  uint8_t type;
  bool operator==(const Chunk&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Chunk& c) {
  return out << "{0x" << std::hex << c.address << ", 0x" << c.length << ", " << int{c.type} << "}"
             << std::dec;
}

// The chunks WriteBridgeFlashChunked would send, cut with NextEraseUnit the
// same way (first chunk at most 4 KB, 8 KB after).
std::vector<Chunk> Cut(uint32_t length, uint8_t eraseType, unsigned flashType) {
  std::vector<Chunk> chunks;
  uint32_t unitsDone = 0;
  for (uint32_t at = 0; at < length;) {
    uint32_t chunk = std::min<uint32_t>(at == 0 ? 0x1000 : 0x2000, length - at);
    const uint8_t type = NextEraseUnit(at, &chunk, eraseType, &unitsDone, flashType);
    chunks.push_back({at, chunk, type});
    at += chunk;
  }
  return chunks;
}

TEST(NextEraseUnit, SectorEraseOnFourKilobyteSectorsMakesEveryChunkOneErasedSector) {
  const std::vector<Chunk> expected = {
      {0x0000, 0x1000, 1}, {0x1000, 0x1000, 1}, {0x2000, 0x1000, 1}, {0x3000, 0x1000, 1}};
  EXPECT_EQ(Cut(0x4000, 1, 8), expected);
}

TEST(NextEraseUnit, BlockEraseCarriesTheEraseOnlyAtEachBlockStartAndCutsBeforeTheBoundary) {
  const std::vector<Chunk> expected = {
      {0x00000, 0x1000, 2}, {0x01000, 0x2000, 0}, {0x03000, 0x2000, 0}, {0x05000, 0x2000, 0},
      {0x07000, 0x2000, 0}, {0x09000, 0x2000, 0}, {0x0B000, 0x2000, 0}, {0x0D000, 0x2000, 0},
      {0x0F000, 0x1000, 0}, {0x10000, 0x2000, 2}, {0x12000, 0x2000, 0}};
  EXPECT_EQ(Cut(0x14000, 2, 8), expected);  // 64 KB blocks
}

TEST(NextEraseUnit, WholeFlashEraseOnlyWithTheFirstChunk) {
  const std::vector<Chunk> expected = {{0x0000, 0x1000, 3}, {0x1000, 0x2000, 0}, {0x3000, 0x1000, 0}};
  EXPECT_EQ(Cut(0x4000, 3, 8), expected);
}

// Properties over every flash type, known or not, and every erase type.
TEST(NextEraseUnit, ChunksCoverTheImageAndNeverCrossAnErasedUnit) {
  std::vector<unsigned> flashTypes(21);
  std::iota(flashTypes.begin(), flashTypes.end(), 0u);
  flashTypes.push_back(255);
  for (unsigned flashType : flashTypes) {
    for (uint8_t eraseType = 0; eraseType <= 9; ++eraseType) {
      SCOPED_TRACE(::testing::Message() << "flash type " << flashType << ", erase type "
                                        << int{eraseType});
      const uint32_t length = 0x24200;
      const std::vector<Chunk> chunks = Cut(length, eraseType, flashType);
      uint32_t next = 0;
      const bool sector = eraseType == 1 || eraseType == 4;
      const bool block = eraseType == 2 || eraseType == 5;
      const uint32_t unit = sector ? FlashSectorSize(flashType) : FlashBlockSize(flashType);
      for (const Chunk& c : chunks) {
        ASSERT_EQ(c.address, next);
        ASSERT_GT(c.length, 0u);
        ASSERT_LE(c.length, c.address == 0 ? 0x1000u : 0x2000u);
        next += c.length;
        if (sector || block) {
          // Erase exactly at a unit's start; no chunk runs into the next unit.
          EXPECT_EQ(c.type, c.address % unit == 0 ? eraseType : 0) << c;
          EXPECT_EQ(c.address / unit, (c.address + c.length - 1) / unit) << c;
        } else if (eraseType == 3 || eraseType == 6 || eraseType == 7) {
          EXPECT_EQ(c.type, c.address == 0 ? eraseType : 0) << c;
        } else {
          EXPECT_EQ(c.type, 0) << c;
        }
      }
      EXPECT_EQ(next, length);
    }
  }
}

TEST(EraseUnitTables, SizesByFlashTypeAndTheLargestUnitOutsideThem) {
  for (unsigned t = 0; t < 19; ++t) {
    EXPECT_EQ(FlashBlockSize(t), t <= 4 ? 0x8000u : 0x10000u) << t;
    EXPECT_EQ(FlashSectorSize(t), t == 5 || t == 6 || t == 10 ? 0x8000u : 0x1000u) << t;
  }
  for (unsigned t : {19u, 20u, 100u, 255u}) {
    EXPECT_EQ(FlashBlockSize(t), 0x10000u);
    EXPECT_EQ(FlashSectorSize(t), 0x8000u);
  }
}

TEST(NextEraseUnit, StartingAboveZeroErasesTheUnitItBeginsIn) {
  uint32_t unitsDone = 0;
  uint32_t chunk = 0x2000;
  EXPECT_EQ(NextEraseUnit(0x11000, &chunk, 1, &unitsDone, 8), 1);
  EXPECT_EQ(chunk, 0x1000u);  // ends with its 4 KB sector, never wraps
  EXPECT_EQ(unitsDone, 0x12u);
}

TEST(IsBlankBuffer, ZeroAndEraseBytesMayMix) {
  const uint8_t mixed[] = {0x00, 0xFF, 0xFF, 0x00};
  const uint8_t data[] = {0x00, 0xFF, 0x51, 0x00};
  EXPECT_EQ(IsBlankBuffer(mixed, sizeof(mixed)), 1);
  EXPECT_EQ(IsBlankBuffer(data, sizeof(data)), 0);
}

// ---- on the bench ----

std::vector<uint8_t> Pattern(size_t length, uint32_t seed) {
  std::vector<uint8_t> bytes(length);
  std::mt19937 random(seed);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

sim::ProductConfig DfProduct(uint8_t chipType, std::vector<uint8_t> jedecId = {0xEF, 0x40, 0x14},
                             uint32_t blockSize = 0x10000) {
  sim::ProductConfig config = TestProduct("df");
  config.chipType = chipType;
  config.flash.jedecId = std::move(jedecId);
  config.flash.blockSize = blockSize;
  return config;
}

class DfFlashTest : public BenchTest {
 protected:
  explicit DfFlashTest(sim::ProductConfig config = DfProduct(19)) : BenchTest({config}) {}
  // The 0xDF writes of the trace: address, length and erase type byte.
  std::vector<Chunk> DfWrites() {
    std::vector<Chunk> writes;
    for (const sim::TraceEntry& e : Trace())
      if (e.cdb.size() == 12 && e.cdb[0] == 0xDF && e.cdb[11] == 0xFB)
        writes.push_back({uint32_t{e.cdb[8]} << 16 | uint32_t{e.cdb[9]} << 8 | e.cdb[10],
                          uint32_t{e.cdb[3]} << 8 | e.cdb[4], e.cdb[1]});
    return writes;
  }
  unsigned ReportedFlashType() {
    uint8_t reply[4] = {};
    return ReadFlashTypeCode(path(), reply) ? SpiFlashTypeFromCode(reply[0]) : 0;
  }
};

TEST_F(DfFlashTest, WriteVerifyFlashLeavesTheImageInTheFlash) {
  FillFlash(0x00);  // only an erase makes this writable
  const std::vector<uint8_t> image = Pattern(0xC200, 1);
  ASSERT_EQ(WriteVerifyFlash(path(), image.data(), static_cast<uint32_t>(image.size()), true), 1);
  EXPECT_EQ(Flash(0, 0xC200), image);
}

TEST_F(DfFlashTest, ChunksOnTheWireFollowTheFlashType) {
  const unsigned flashType = ReportedFlashType();
  const std::vector<uint8_t> image = Pattern(0x9000, 2);
  Trace();
  ASSERT_EQ(WriteBridgeFlashChunked(path(), 0, image.data(), 0x9000, 1, flashType), 1);
  EXPECT_EQ(DfWrites(), Cut(0x9000, 1, flashType));
}

TEST_F(DfFlashTest, LengthIsRoundedUpToWholeSectorsWithZeroPadding) {
  const std::vector<uint8_t> image = Pattern(1000, 3);
  Trace();
  ASSERT_EQ(WriteBridgeFlashChunked(path(), 0, image.data(), 1000, 3, 8), 1);
  const std::vector<Chunk> expected = {{0, 1024, 3}};
  EXPECT_EQ(DfWrites(), expected);
  std::vector<uint8_t> padded = image;
  padded.resize(1024, 0x00);
  EXPECT_EQ(Flash(0, 1024), padded);
}

TEST_F(DfFlashTest, FailedFirstTryIsRetriedWithWholeFlashThenSectorErase) {
  const std::vector<uint8_t> image = Pattern(0x8000, 4);
  // The first read-back of the first try fails.
  sim::Fault fault = MakeFault(sim::Fault::Kind::CheckCondition, {0xDF, 0x10});
  product().AddFault(fault);
  Trace();
  ASSERT_EQ(WriteVerifyFlash(path(), image.data(), 0x8000, true), 1);
  std::vector<uint8_t> typesAtZero;
  for (const Chunk& w : DfWrites())
    if (w.address == 0) typesAtZero.push_back(w.type & 0x7F);
  const unsigned flashType = ReportedFlashType();
  EXPECT_EQ(typesAtZero, (std::vector<uint8_t>{uint8_t(flashType == 9 ? 3 : 2), 3}));
  EXPECT_EQ(Flash(0, 0x8000), image);
}

TEST_F(DfFlashTest, MismatchOnEveryTryIsReportedAfterTheThirdEraseType) {
  const std::vector<uint8_t> image = Pattern(0x4000, 5);
  product().WithBridge([](sim::EmulatedBridge& b) {
    b.flash().SetStatusForTest(sim::SpiFlash::kProtectMask);  // erase and program silently refused
    return 0;
  });
  FillFlash(0x00);
  Trace();
  EXPECT_EQ(WriteVerifyFlash(path(), image.data(), 0x4000, true), 0);
  std::vector<uint8_t> typesAtZero;
  for (const Chunk& w : DfWrites())
    if (w.address == 0) typesAtZero.push_back(w.type & 0x7F);
  const unsigned flashType = ReportedFlashType();
  EXPECT_EQ(typesAtZero, (std::vector<uint8_t>{uint8_t(flashType == 9 ? 3 : 2), 3, 1}));
}

class DfFlashType7Test : public DfFlashTest {
 protected:
  DfFlashType7Test() : DfFlashTest(DfProduct(19, {0xC2, 0x20, 0x15})) {}
};

TEST_F(DfFlashType7Test, FirstChunkOfEveryTryCarriesBit7AfterASeparateHeadWrite) {
  ASSERT_EQ(ReportedFlashType(), 7u);
  const std::vector<uint8_t> shortImage = Pattern(0x800, 7);
  Trace();
  ASSERT_EQ(WriteVerifyFlash(path(), shortImage.data(), 0x800, false), 1);
  const std::vector<Chunk> writes = DfWrites();
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(writes[0], (Chunk{0, 0x1000, 2}));     // the padded head, block erase
  EXPECT_EQ(writes[1], (Chunk{0, 0x800, 0x82}));   // the try: block erase with bit 7
  EXPECT_EQ(Flash(0, 0x800), shortImage);
}

class DfGeometryMismatchTest : public DfFlashTest {
 protected:
  // Reported as a 64 KB-block part, erasing in 32 KB blocks.
  DfGeometryMismatchTest() : DfFlashTest(DfProduct(19, {0xEF, 0x40, 0x14}, 0x8000)) {}
};

TEST_F(DfGeometryMismatchTest, UnderErasedFirstTryIsMendedByTheWholeFlashErase) {
  ASSERT_EQ(FlashBlockSize(ReportedFlashType()), 0x10000u);
  FillFlash(0x00);
  const std::vector<uint8_t> image = Pattern(0x10000, 8);
  Trace();
  ASSERT_EQ(WriteVerifyFlash(path(), image.data(), 0x10000, true), 1);
  std::vector<uint8_t> typesAtZero;
  for (const Chunk& w : DfWrites())
    if (w.address == 0) typesAtZero.push_back(w.type);
  // The first try left 0x8000.. unerased and the read-back saw it.
  EXPECT_EQ(typesAtZero, (std::vector<uint8_t>{2, 3}));
  EXPECT_EQ(Flash(0, 0x10000), image);
}

TEST_F(DfFlashTest, ReadFlashChunkedCopiesOnlyTheLengthAsked) {
  const std::vector<uint8_t> content = Pattern(0x3000, 9);
  PutFlash(0, content);
  std::vector<uint8_t> out(0x2345);  // exact size: the sanitizer sees any overrun
  ASSERT_EQ(ReadFlashChunked(path(), 0, out.data(), 0x2345), 1);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), content.begin()));
  EXPECT_EQ(ReadFlashChunked(path(), 0, out.data(), 0), 0);
}

TEST_F(DfFlashTest, ZeroLengthAndFailedAllocationWriteNothing) {
  const uint8_t byte = 0;
  Trace();
  EXPECT_EQ(WriteBridgeFlashChunked(path(), 0, &byte, 0, 2, 8), 0);
  EXPECT_EQ(ProgramFlashLegacy(path(), &byte, 0), 0);
  EXPECT_EQ(WriteVerifyFlash(path(), &byte, 0, true), 0);
  {
    const std::vector<uint8_t> image = Pattern(0x1000, 10);
    ScopedAllocationFault fail(0);
    EXPECT_EQ(WriteVerifyFlash(path(), image.data(), 0x1000, true), 0);
  }
  EXPECT_TRUE(DfWrites().empty());
}

// ---- image builders ----

struct ConfigArea {
  std::vector<uint8_t> bytes;
  explicit ConfigArea(size_t size, uint8_t fill) : bytes(size, fill) {
    bytes[size - 2] = 'Q';
    bytes[size - 1] = 'V';
  }
};

TEST_F(DfFlashTest, CrcImageWithBothFlagsIsSealedAndReadsBack) {
  const std::vector<uint8_t> firmware = Pattern(0xC100, 11);  // the smallest image, exactly
  const ConfigArea config(256, 0x5C);
  const LoadedImage image{firmware.data(), static_cast<uint32_t>(firmware.size())};
  ASSERT_EQ(ProgramImageWithCrc(path(), true, true, config.bytes.data(), image), 1);
  std::vector<uint8_t> expected = firmware;
  std::copy(config.bytes.begin(), config.bytes.end(), expected.begin() + 0xC000);
  const uint16_t crc = ReferenceCrc(expected.data(), 0xBFFC);
  expected[0xBFFE] = static_cast<uint8_t>(crc >> 8);
  expected[0xBFFF] = static_cast<uint8_t>(crc);
  EXPECT_EQ(Flash(0, 0xC100), expected);
}

TEST_F(DfFlashTest, CrcFirmwareOnlyKeepsAValidDeviceConfigurationArea) {
  const ConfigArea deviceConfig(256, 0x3A);
  PutFlash(0xC000, deviceConfig.bytes);
  // An image of exactly 0xC100 bytes: the device's 4 KB at 0xC000 must not
  // be read into a buffer that ends at 0xC100.
  const std::vector<uint8_t> firmware = Pattern(0xC100, 12);
  const LoadedImage image{firmware.data(), 0xC100};
  ASSERT_EQ(ProgramImageWithCrc(path(), false, true, nullptr, image), 1);
  const std::vector<uint8_t> flash = Flash(0, 0xC100);
  EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 0xBFFC, firmware.begin()));
  EXPECT_TRUE(std::equal(flash.begin() + 0xC000, flash.end(), deviceConfig.bytes.begin()));
  EXPECT_EQ(flash[0xBFFE] << 8 | flash[0xBFFF], ReferenceCrc(flash.data(), 0xBFFC));
}

TEST_F(DfFlashTest, CrcExtFirmwareOnlyTakesTheImagesSecondAreaEvenWithAValidDevice) {
  const ConfigArea deviceConfig(256, 0x3A);
  PutFlash(0xC000, deviceConfig.bytes);
  const std::vector<uint8_t> firmware = Pattern(0xC200, 13);
  const LoadedImage image{firmware.data(), 0xC200};
  ASSERT_EQ(ProgramImageWithCrcExt(path(), false, true, nullptr, image), 1);
  const std::vector<uint8_t> flash = Flash(0, 0xC200);
  EXPECT_TRUE(std::equal(flash.begin() + 0xC000, flash.begin() + 0xC100, deviceConfig.bytes.begin()));
  EXPECT_TRUE(std::equal(flash.begin() + 0xC100, flash.end(), firmware.begin() + 0xC100));
}

TEST_F(DfFlashTest, CrcFirmwareOnlyOnABlankDeviceWritesTheWholeImage) {
  FillFlash(0xFF);
  const std::vector<uint8_t> firmware = Pattern(0x10000, 14);
  const LoadedImage image{firmware.data(), 0x10000};
  ASSERT_EQ(ProgramImageWithCrc(path(), false, true, nullptr, image), 1);
  const std::vector<uint8_t> flash = Flash(0, 0x10000);
  EXPECT_TRUE(std::equal(flash.begin() + 0xC000, flash.begin() + 0xC100, firmware.begin() + 0xC000));
}

TEST_F(DfFlashTest, BuildersRefuseAMissingImageOrNoFlagBeforeAnyCommand) {
  const ConfigArea config(256, 1);
  const uint8_t option4[4] = {1, 2, 3, 4};
  const LoadedImage none;
  const uint8_t byte = 0;
  const LoadedImage empty{&byte, 0};
  Trace();
  for (const LoadedImage& image : {none, empty}) {
    EXPECT_EQ(ProgramImageWithCrc(path(), true, true, config.bytes.data(), image), 0);
    EXPECT_EQ(ProgramImageWithCrcExt(path(), false, true, nullptr, image), 0);
    EXPECT_EQ(ProgramImageWithHeader(path(), true, true, config.bytes.data(), option4, image), 0);
    EXPECT_EQ(ProgramImageByPages(path(), false, true, nullptr, nullptr, image), 0);
  }
  const std::vector<uint8_t> firmware = Pattern(0xC000, 15);
  const LoadedImage image{firmware.data(), 0xC000};
  EXPECT_EQ(ProgramImageWithCrc(path(), false, false, nullptr, image), 0);
  EXPECT_EQ(ProgramImageWithHeader(path(), false, false, nullptr, nullptr, image), 0);
  EXPECT_TRUE(Trace().empty());
}

TEST_F(DfFlashTest, FailedFlashReadEndsTheBuilderBeforeAnyWrite) {
  const ConfigArea config(256, 1);
  const std::vector<uint8_t> firmware = Pattern(0xC000, 16);
  product().AddFault(MakeFault(sim::Fault::Kind::CheckCondition, {0xDF, 0x10}));
  Trace();
  EXPECT_EQ(ProgramImageWithCrc(path(), true, false, config.bytes.data(),
                                LoadedImage{firmware.data(), 0xC000}),
            0);
  EXPECT_TRUE(DfWrites().empty());
}

class HeaderImageTest : public DfFlashTest {
 protected:
  HeaderImageTest() : DfFlashTest(DfProduct(11)) {}
};

TEST_F(HeaderImageTest, BothFlagsPutTheConfigurationAndOptionsOverTheImage) {
  const std::vector<uint8_t> firmware = Pattern(0x8000, 17);
  const ConfigArea config(128, 0x21);
  const uint8_t option4[4] = {0xA1, 0xA2, 0xA3, 0xA4};
  ASSERT_EQ(ProgramImageWithHeader(path(), true, true, config.bytes.data(), option4,
                                   LoadedImage{firmware.data(), 0x8000}),
            1);
  std::vector<uint8_t> expected = firmware;
  std::copy(config.bytes.begin(), config.bytes.end(), expected.begin());
  std::copy(option4, option4 + 4, expected.begin() + 136);
  EXPECT_EQ(Flash(0, 0x8000), expected);
}

TEST_F(HeaderImageTest, FirmwareOnlyUnderFourKilobytesKeepsTheDevicesArea) {
  const ConfigArea deviceConfig(128, 0x44);
  PutFlash(0, deviceConfig.bytes);
  const std::vector<uint8_t> firmware = Pattern(1000, 18);  // under the 4 KB read
  ASSERT_EQ(ProgramImageWithHeader(path(), false, true, nullptr, nullptr,
                                   LoadedImage{firmware.data(), 1000}),
            1);
  const std::vector<uint8_t> flash = Flash(0, 1000);
  EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 128, deviceConfig.bytes.begin()));
  EXPECT_TRUE(std::equal(flash.begin() + 128, flash.end(), firmware.begin() + 128));
}

TEST_F(HeaderImageTest, FirmwareOnlyOnABlankOrUnmarkedDeviceTakesTheWholeImage) {
  std::vector<uint8_t> zerosAndErased(0x1000, 0x00);
  zerosAndErased[5] = 0xFF;
  std::vector<uint8_t> unmarked = Pattern(0x1000, 23);
  unmarked[126] = 'Q';
  unmarked[127] = 'X';
  for (const std::vector<uint8_t>& head : {zerosAndErased, unmarked}) {
    PutFlash(0, head);
    const std::vector<uint8_t> firmware = Pattern(0x4000, head[0]);
    ASSERT_EQ(ProgramImageWithHeader(path(), false, true, nullptr, nullptr,
                                     LoadedImage{firmware.data(), 0x4000}),
              1);
    EXPECT_EQ(Flash(0, 0x4000), firmware);
  }
}

TEST_F(HeaderImageTest, ByPagesWritesThroughTheFf04CommandsAndReadsBack) {
  const std::vector<uint8_t> firmware = Pattern(0x5000, 20);  // not a multiple of 8 KB
  const ConfigArea config(128, 0x21);
  const uint8_t option4[4] = {0xB1, 0xB2, 0xB3, 0xB4};
  FillFlash(0x00);
  const int result = ProgramImageByPages(path(), true, true, config.bytes.data(), option4,
                                         LoadedImage{firmware.data(), 0x5000});
  ASSERT_EQ(result, 1);
  std::vector<uint8_t> expected = firmware;
  std::copy(config.bytes.begin(), config.bytes.end(), expected.begin());
  std::copy(option4, option4 + 4, expected.begin() + 136);
  expected.resize(0x6000, 0x00);  // padded to whole 8 KB chunks
  EXPECT_EQ(Flash(0, 0x6000), expected);
}

TEST_F(HeaderImageTest, ByPagesConfigOnlyReadsAnOddLengthWithoutOverrun) {
  const std::vector<uint8_t> content = Pattern(0x5000, 21);
  PutFlash(0, content);
  const std::vector<uint8_t> firmware = Pattern(0x5000, 22);  // only its length is used
  const ConfigArea config(128, 0x66);
  const uint8_t option4[4] = {1, 2, 3, 4};
  const int result = ProgramImageByPages(path(), true, false, config.bytes.data(), option4,
                                         LoadedImage{firmware.data(), 0x5000});
  ASSERT_EQ(result, 1);
  std::vector<uint8_t> expected = content;
  std::copy(config.bytes.begin(), config.bytes.end(), expected.begin());
  std::copy(option4, option4 + 4, expected.begin() + 136);
  EXPECT_EQ(Flash(0, 0x5000), expected);
}

// The FF 04 route after each 500 ms pause: a ready wait of its own, then
// the chunked read with the wait before each of its reads.
class LegacyPauseTest : public DfFlashTest {
 protected:
  // 4 KB erase blocks: the 32 KB block erases leave bytes behind, so the
  // route goes on to the chip erase.
  LegacyPauseTest() : DfFlashTest(ReadyAtOnce(DfProduct(11, {0xEF, 0x40, 0x14}, 0x1000))) {}
  // A flash with no busy time, so the reads counted are the route's own.
  static sim::ProductConfig ReadyAtOnce(sim::ProductConfig config) {
    config.flash.pageProgramUs = 0;
    config.flash.sectorEraseMs = 0;
    config.flash.blockEraseMs = 0;
    config.flash.chipEraseMs = 0;
    return config;
  }
  static bool Ff04(const sim::TraceEntry& e, uint8_t sub) {
    return e.cdb.size() == 12 && e.cdb[0] == 0xFF && e.cdb[1] == 0x04 && e.cdb[2] == sub;
  }
  // Status reads between the last `sub` command and the first flash read after it.
  static int StatusReadsBeforeNextRead(const std::vector<sim::TraceEntry>& trace, uint8_t sub) {
    size_t at = trace.size();
    for (size_t i = 0; i < trace.size(); ++i)
      if (Ff04(trace[i], sub)) at = i;
    int reads = 0;
    for (size_t i = at + 1; i < trace.size() && !Ff04(trace[i], 0x10); ++i)
      if (Ff04(trace[i], 0x12)) ++reads;
    return at == trace.size() ? -1 : reads;
  }
};

TEST_F(LegacyPauseTest, ReadyWaitFollowsThePauseAfterTheChipEraseAndAfterTheWrites) {
  FillFlash(0x00);
  const std::vector<uint8_t> image = Pattern(0x4000, 30);
  Trace();
  ASSERT_EQ(ProgramFlashLegacy(path(), image.data(), 0x4000), 1);
  const std::vector<sim::TraceEntry> trace = Trace();
  EXPECT_EQ(StatusReadsBeforeNextRead(trace, 0x13), 2);  // chip erase
  EXPECT_EQ(StatusReadsBeforeNextRead(trace, 0x11), 2);  // last write
  EXPECT_EQ(Flash(0, 0x4000), image);
}

}  // namespace
}  // namespace bridge
