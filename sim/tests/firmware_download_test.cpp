// The READ/WRITE BUFFER firmware path of ChipTypes 21-28 on the emulated
// bridge, driven by CDBs built here from the command layouts: boot ROM,
// manufacturing firmware, product firmware, what boots after a reset, the
// standby state, and the disk's reserved area.
#include "sim/firmware_download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/clock.h"
#include "resources/stand_in_images.h"
#include "sim/bench.h"
#include "sim/chip_models.h"
#include "sim/emulated_bridge.h"
#include "sim/spi_flash.h"
#include "sim/standby_state.h"
#include "sim/tests/cdb_helpers.h"

namespace sim {
namespace {

using testing::Bytes;
using testing::Cdb;
using testing::In;
using testing::Reply;

// 3C/3B mode id offset(3) length(3) 00.
Bytes BufferCdb(uint8_t opcode, uint8_t mode, uint8_t id, uint32_t offset, uint32_t length) {
  return Cdb(
      {opcode, mode, id, static_cast<int>(offset >> 16), static_cast<int>((offset >> 8) & 0xFF),
       static_cast<int>(offset & 0xFF), static_cast<int>(length >> 16),
       static_cast<int>((length >> 8) & 0xFF), static_cast<int>(length & 0xFF), 0},
      10);
}

CommandResult Out(EmulatedBridge& b, const Bytes& cdb, const uint8_t* data, uint32_t length) {
  Bytes copy(data, data + length);  // the exact length on the heap
  return b.Execute(cdb.data(), static_cast<uint8_t>(cdb.size()), false,
                   length ? copy.data() : nullptr, length);
}

Bytes Descriptor(EmulatedBridge& b, uint8_t id) {
  return In(b, BufferCdb(0x3C, 0x03, id, 0, 4), 4).data;
}

// INQUIRY bytes 36..39.
std::string ChipCode(EmulatedBridge& b) {
  const Bytes data = In(b, Cdb({0x12, 0, 0, 0, 40}, 6), 40).data;
  return data.size() == 40 ? std::string(data.begin() + 36, data.end()) : std::string();
}

Bytes ChipInfo(EmulatedBridge& b) { return In(b, Cdb({0xE0, 0xF4, 0xE7}), 16).data; }

Bytes StandIn(std::string_view name) {
  for (const auto& image : resources::kStandInImages) {
    if (image.name != name) continue;
    Bytes bytes(image.size);
    resources::MakeStandInImage(image, bytes.data());
    return bytes;
  }
  return {};
}

// WRITE BUFFER mode `mode` of `data` into buffer `id` in `chunk`-byte
// commands from `start`; true when every chunk was taken.
bool Send(EmulatedBridge& b, uint8_t mode, uint8_t id, const Bytes& data, uint32_t chunk,
          uint32_t start = 0) {
  for (uint32_t done = 0; done < data.size(); done += chunk) {
    const uint32_t n = std::min<uint32_t>(chunk, static_cast<uint32_t>(data.size()) - done);
    if (Out(b, BufferCdb(0x3B, mode, id, start + done, n), data.data() + done, n).status != 0)
      return false;
  }
  return true;
}

Bytes ReadBuffer(EmulatedBridge& b, uint8_t id, uint32_t length, uint32_t chunk) {
  Bytes out;
  for (uint32_t done = 0; done < length; done += chunk) {
    const uint32_t n = std::min(chunk, length - done);
    const Reply r = In(b, BufferCdb(0x3C, 0x01, id, done, n), n);
    if (r.result.status != 0) return {};
    out.insert(out.end(), r.data.begin(), r.data.end());
  }
  return out;
}

// DF FB erase type 3 of the whole flash, no data.
CommandResult EraseFlash(EmulatedBridge& b) {
  return Out(b, Cdb({0xDF, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB}), nullptr, 0);
}

ProductConfig BootRomConfig(uint8_t chipType) {
  ProductConfig config;
  config.chipType = chipType;
  config.bootRom = true;
  config.disk.sectors = 4096;
  config.flash.size = 512 * 1024;
  return config;
}

Bytes Pattern(size_t n, uint32_t seed) {
  Bytes bytes(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// A QVS87x image sealed as the station seals it: each bank's checksum
// first, then the header that copies it and is checked by its own.
Bytes SealedImage(uint32_t seed) {
  Bytes image = Pattern(2 * kBankSize, seed);
  for (uint32_t bank = 0; bank < 2; ++bank) {
    uint8_t* b = image.data() + bank * kBankSize;
    PutBe32(b + kBankChecksumOffset, BankChecksum(b, kBankChecksumOffset));
    std::copy(kBankHeaderMarkBytes.begin(), kBankHeaderMarkBytes.end(), b + kBankHeaderMark);
    PutBe32(b + kBankHeaderMark + 4, 0);
    std::copy(b + kBankChecksumOffset, b + kBankSize, b + kBankHeaderChecksumCopy);
    PutBe32(b + kBankHeaderChecksum, BankChecksum(b, kBankHeaderChecksum));
  }
  return image;
}

// --- Checksums against the worked values.

TEST(DeviceChecksums, WorkedValues) {
  const uint8_t abcd[] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(BankChecksum(abcd, 4), 0xA4B608B2u);
  EXPECT_EQ(BankChecksum(abcd, 0), 0xFFFFFFFFu);
  EXPECT_EQ(BankChecksum(abcd, 3), 0xFFFFFFFFu);  // a short group is ignored
  const Bytes data = Pattern(1024, 7);
  EXPECT_EQ(BankChecksum(data.data(), 1023), BankChecksum(data.data(), 1020));
  EXPECT_NE(BankChecksum(data.data(), 1024), BankChecksum(data.data(), 1020));
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(StandbyChecksum(abc, 3), 0x3BD6);
  EXPECT_EQ(StandbyChecksum(abc, 0), 0);
}

// --- Boot ROM, manufacturing firmware, product firmware.

struct FamilyCase {
  uint8_t chipType;
  char revisionDigit;
  std::vector<uint8_t> infoVersion;
  const char* image;
  Bytes bootDescriptor;
  Bytes mfgDescriptor;
  Bytes productDescriptor;  // buffer 1 after the reset
  uint32_t chunk;
};

const FamilyCase kFamilies[] = {
    {21,
     0,
     {},
     "QVS871_ROM1_MFG",
     {0xFF, 0x01, 0, 0},
     {0x0C, 0x04, 0x60, 0},
     {0x0C, 0x02, 0, 0},
     4096},
    {21,
     0,
     {0, 0},
     "QVS871_ROM0_MFG",
     {0xFF, 0x01, 0, 0},
     {0x0C, 0x04, 0x60, 0},
     {0x0C, 0x02, 0, 0},
     4096},
    {22,
     0,
     {0, 0},
     "QVS872_ROM0_MFG",
     {0xFF, 0x01, 0, 0},
     {0x0C, 0x04, 0x60, 0},
     {0x0C, 0x02, 0, 0},
     4096},
    {22,
     0,
     {},
     "QVS872_ROM1_MFG",
     {0xFF, 0x01, 0, 0},
     {0x0C, 0x04, 0x60, 0},
     {0x0C, 0x02, 0, 0},
     4096},
    {23,
     0,
     {},
     "QVS873_ROM1_MFG",
     {0xFF, 0x01, 0, 0},
     {0x0C, 0x04, 0x60, 0},
     {0x0C, 0x02, 0, 0},
     4096},
    {24,
     0,
     {},
     "QVS875_ROM1_MFG",
     {0xFF, 0x01, 0, 0},
     {0x0C, 0x04, 0x60, 0},
     {0x0C, 0x02, 0, 0},
     4096},
    {25,
     0,
     {},
     "QVS885_ROM0_MFG",
     {0xFF, 0x00, 0xC4, 0},
     {0x0A, 0x00, 0xC4, 0},
     {0x0A, 0x00, 0xC6, 0},
     1024},
    {26,
     '1',
     {},
     "QVS884_ROM_MFG_A0",
     {0xFF, 0x00, 0xC4, 0},
     {0x0A, 0x00, 0xC4, 0},
     {0x0A, 0x00, 0xC6, 0},
     1024},
    {26,
     '2',
     {},
     "QVS884_ROM_MFG_A1",
     {0xFF, 0x00, 0xC4, 0},
     {0x0A, 0x00, 0xC4, 0},
     {0x0A, 0x00, 0xC6, 0},
     1024},
    {27,
     0,
     {},
     "QVS891_ROM0_MFG",
     {0xFF, 0x01, 0, 0},
     {0x0A, 0x01, 0x04, 0},
     {0x0A, 0x01, 0x06, 0},
     1024},
    {28,
     0,
     {},
     "QVS894_ROM0_MFG",
     {0xFF, 0x01, 0, 0},
     {0x0A, 0x01, 0x04, 0},
     {0x0A, 0x01, 0x06, 0},
     1024},
};

class FamilyTest : public ::testing::TestWithParam<FamilyCase> {};

TEST_P(FamilyTest, BootRomToProductAndBackWithTheNewImage) {
  const FamilyCase& c = GetParam();
  ProductConfig config = BootRomConfig(c.chipType);
  config.revisionDigit = c.revisionDigit;
  config.infoVersion = c.infoVersion;
  EmulatedBridge bridge(config);
  const FirmwareDownload& download = *bridge.firmwareDownload();

  // Boot ROM: its descriptor, its chip information, no chip code in INQUIRY,
  // no firmware commands.
  EXPECT_EQ(Descriptor(bridge, 0), c.bootDescriptor);
  Bytes info = ChipInfo(bridge);
  ASSERT_EQ(info.size(), 16u);
  EXPECT_EQ(info[0], 0xF4);
  EXPECT_EQ(std::string(info.begin() + 8, info.begin() + 11),
            std::string(FindChipModel(c.chipType)->digits));
  if (c.chipType <= 24) {
    EXPECT_EQ(info[6], 1);  // the boot-ROM mark of the QVS87x
  } else {
    EXPECT_EQ(info[6], 0);
    if (c.chipType == 26) {
      EXPECT_EQ(info[7], 0xFF);
    }
  }
  if (c.revisionDigit != 0) {
    EXPECT_EQ(info[11], c.revisionDigit);
  }
  EXPECT_EQ(ChipCode(bridge),
            std::string(4, '\0'));
  EXPECT_EQ(EraseFlash(bridge).status, 2);

  // Another chip's image, and the right one with one byte changed, are refused.
  Bytes image = StandIn(c.image);
  ASSERT_FALSE(image.empty());
  Bytes wrong = image;
  wrong[image.size() / 2] ^= 0x01;
  EXPECT_FALSE(Send(bridge, 0x06, 0, wrong, static_cast<uint32_t>(wrong.size())));
  const Bytes other = StandIn(c.chipType == 25 ? "QVS884_ROM_MFG_A0" : "QVS885_ROM0_MFG");
  if (other.size() == image.size()) {
    EXPECT_FALSE(Send(bridge, 0x06, 0, other, static_cast<uint32_t>(other.size())));
  }
  EXPECT_EQ(download.stage(), FirmwareStage::kBootRom);
  EXPECT_GE(download.refusedImages(), 1u);
  EXPECT_EQ(Descriptor(bridge, 0), c.bootDescriptor);

  // The stand-in starts the manufacturing firmware (here in two pieces).
  ASSERT_TRUE(Send(bridge, 0x06, 0, image, static_cast<uint32_t>(image.size() / 2)));
  EXPECT_EQ(download.stage(), FirmwareStage::kManufacturing);
  EXPECT_EQ(Descriptor(bridge, 0), c.mfgDescriptor);
  info = ChipInfo(bridge);
  ASSERT_EQ(info.size(), 16u);
  EXPECT_EQ(info[6], c.chipType <= 24 ? 1 : 0);

  // It takes the product firmware after the erase, in the family's units.
  ASSERT_EQ(EraseFlash(bridge).status, 0);
  const uint32_t capacity = (uint32_t{c.mfgDescriptor[1]} << 16) | (c.mfgDescriptor[2] << 8);
  const uint32_t code = c.chipType <= 24 ? 2 * kBankSize : capacity;
  Bytes firmware = c.chipType <= 24 ? SealedImage(c.chipType) : Pattern(code, c.chipType);
  Bytes sent(capacity, 0);
  std::copy(firmware.begin(), firmware.end(), sent.begin());
  ASSERT_TRUE(Send(bridge, 0x0E, 0, sent, c.chunk));
  EXPECT_EQ(ReadBuffer(bridge, 0, code, c.chunk), Bytes(sent.begin(), sent.begin() + code));

  // WRITE BUFFER 0F restarts it; the product firmware boots from the flash.
  const Bytes activate = Cdb({0x3B, 0x0F}, 10);
  EXPECT_TRUE(bridge.Execute(activate.data(), 10, false, nullptr, 0).resetRequested);
  bridge.PowerOn();
  EXPECT_EQ(download.stage(), FirmwareStage::kProduct);
  EXPECT_EQ(Descriptor(bridge, 1), c.productDescriptor);
  info = ChipInfo(bridge);
  EXPECT_NE(info[6], c.chipType <= 24 ? 1 : 0);
  EXPECT_EQ(ChipCode(bridge),
            std::string(FindChipModel(c.chipType)->inquiryCode));
  const Bytes booted = bridge.BootedImage();
  ASSERT_FALSE(booted.empty());
  EXPECT_TRUE(std::equal(booted.begin(), booted.begin() + std::min(booted.size(), firmware.size()),
                         firmware.begin()));

  // Erased and reset, it is back in its boot ROM.
  ASSERT_EQ(EraseFlash(bridge).status, 0);
  bridge.PowerOn();
  EXPECT_EQ(download.stage(), FirmwareStage::kBootRom);
  EXPECT_EQ(Descriptor(bridge, 0), c.bootDescriptor);
  EXPECT_TRUE(bridge.BootedImage().empty());
}

INSTANTIATE_TEST_SUITE_P(EveryFamily, FamilyTest, ::testing::ValuesIn(kFamilies),
                         [](const auto& info) { return std::string(info.param.image); });

TEST(BootRom, ChipsWithoutAnImageTakeNothing) {
  const struct {
    uint8_t chipType;
    char revisionDigit;
    std::vector<uint8_t> infoVersion;
  } cases[] = {{23, 0, {0, 0}}, {24, 0, {0, 0}}, {26, '0', {}}, {26, '3', {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.chipType));
    ProductConfig config = BootRomConfig(c.chipType);
    config.revisionDigit = c.revisionDigit;
    config.infoVersion = c.infoVersion;
    EmulatedBridge bridge(config);
    for (const auto& image : resources::kStandInImages) {
      const Bytes bytes = StandIn(image.name);
      EXPECT_FALSE(Send(bridge, 0x06, 0, bytes, static_cast<uint32_t>(bytes.size())));
    }
    EXPECT_EQ(bridge.firmwareDownload()->stage(), FirmwareStage::kBootRom);
  }
  EXPECT_EQ(ExpectedMfgImage(23, 'c', 0, 0), "");
  EXPECT_EQ(ExpectedMfgImage(21, 'e', 1, 0),
            "QVS875_ROM1_MFG");  // by the letter, as the station picks
}

TEST(BootRom, ImageWithAGapOrOnlyInPartDoesNotStart) {
  EmulatedBridge bridge(BootRomConfig(27));
  const Bytes image = StandIn("QVS891_ROM0_MFG");
  // A piece past what arrived so far is refused.
  EXPECT_NE(
      Out(bridge, BufferCdb(0x3B, 0x06, 0, 0x8000, 0x8000), image.data() + 0x8000, 0x8000).status,
      0);
  // Half of it is taken and waits; the firmware does not start.
  EXPECT_EQ(Out(bridge, BufferCdb(0x3B, 0x06, 0, 0, 0x8000), image.data(), 0x8000).status, 0);
  EXPECT_EQ(bridge.firmwareDownload()->stage(), FirmwareStage::kBootRom);
  // Product writes and buffer 1 are not the boot ROM's.
  EXPECT_NE(Out(bridge, BufferCdb(0x3B, 0x0E, 0, 0, 1024), image.data(), 1024).status, 0);
  EXPECT_NE(In(bridge, BufferCdb(0x3C, 0x03, 1, 0, 4), 4).result.status, 0);
  // A reset loses the half image.
  bridge.PowerOn();
  EXPECT_NE(
      Out(bridge, BufferCdb(0x3B, 0x06, 0, 0x8000, 0x8000), image.data() + 0x8000, 0x8000).status,
      0);
}

TEST(Manufacturing, WritesProgramOnlyWhatWasErased) {
  EmulatedBridge bridge(BootRomConfig(21));
  const Bytes mfg = StandIn("QVS871_ROM1_MFG");
  ASSERT_TRUE(Send(bridge, 0x06, 0, mfg, 0x10000));
  bridge.flash().memory().assign(bridge.flash().size(), 0x00);  // not erased
  const Bytes data(4096, 0xA5);
  ASSERT_TRUE(Send(bridge, 0x0E, 0, data, 4096));
  EXPECT_EQ(ReadBuffer(bridge, 0, 4096, 4096), Bytes(4096, 0x00));
  // A reset without a bootable image leaves the manufacturing firmware for
  // the boot ROM (the station's second try then finds state FF).
  bridge.flash().memory().assign(bridge.flash().size(), 0xFF);
  bridge.PowerOn();
  EXPECT_EQ(Descriptor(bridge, 0), (Bytes{0xFF, 0x01, 0, 0}));
}

// --- The 1 KB families' flash layout.

TEST(Relayout, FileOffsetsLandWhereTheRelaidReadFindsThem) {
  const struct {
    uint32_t file, flash;
  } cases[] = {{0, 0xE00},         {0x1FF, 0xFFF},     {0x200, 0},        {0x3FF, 0x1FF},
               {0x400, 0x1000},    {0xC3FF, 0xCFFF},   {0xC400, 0xD000},  {0xC5FF, 0xD1FF},
               {0x103FF, 0x10FFF}, {0x10400, 0x11000}, {0x105FF, 0x111FF}};
  for (const auto& c : cases) EXPECT_EQ(RelaidFlashAddress(c.file), c.flash) << std::hex << c.file;

  // Written through the product firmware's buffer 0 in 1 KB chunks; each file
  // byte in its flash place, and buffer 1 gives the file back.
  ProductConfig config = BootRomConfig(28);
  config.bootRom = false;
  EmulatedBridge bridge(config);
  const Bytes file = Pattern(0x10600, 3);
  ASSERT_TRUE(Send(bridge, 0x0E, 0, file, 1024));
  const auto& flash = bridge.flash().memory();
  for (const auto& c : cases)
    if (c.file < file.size()) {
      EXPECT_EQ(flash[c.flash], file[c.file]) << std::hex << c.file;
    }
  EXPECT_EQ(ReadBuffer(bridge, 1, 0x10600, 1024), file);
  // A chunk across the boundaries (0x100..0x4FF) is cut the same way.
  const Bytes piece = Pattern(0x400, 9);
  ASSERT_EQ(Out(bridge, BufferCdb(0x3B, 0x0E, 0, 0x100, 0x400), piece.data(), 0x400).status, 0);
  EXPECT_EQ(flash[0xE00 + 0x100], piece[0]);
  EXPECT_EQ(flash[0], piece[0x100]);
  EXPECT_EQ(flash[0x1000], piece[0x300]);
  EXPECT_EQ(flash[0x10FF], piece[0x3FF]);
}

// --- Banks of the QVS87x.

TEST(Banks, BufferOneShowsTheBankTheBenchNames) {
  for (uint32_t bank : {0u, 1u}) {
    SCOPED_TRACE(bank);
    ProductConfig config = BootRomConfig(22);
    config.bootRom = false;
    config.buffer1Bank = bank;
    EmulatedBridge bridge(config);
    const Bytes image = SealedImage(5);
    std::copy(image.begin(), image.end(), bridge.flash().memory().begin());
    const Bytes bank0(image.begin(), image.begin() + kBankSize);
    const Bytes bank1(image.begin() + kBankSize, image.end());
    EXPECT_EQ(Descriptor(bridge, 0), (Bytes{0x0C, 0x02, 0, 0}));
    EXPECT_EQ(ReadBuffer(bridge, 1, kBankSize, 4096), bank == 0 ? bank0 : bank1);
    EXPECT_EQ(ReadBuffer(bridge, 0, kBankSize, 4096), bank == 0 ? bank1 : bank0);
    EXPECT_EQ(bridge.firmwareDownload()->runningBank(), bank);
  }
}

TEST(Banks, AnUpdatedBankRunsAfterTheReset) {
  ProductConfig config = BootRomConfig(21);
  config.bootRom = false;
  config.checkBankChecksums = true;
  EmulatedBridge bridge(config);
  const Bytes image = SealedImage(11);
  std::copy(image.begin(), image.end(), bridge.flash().memory().begin());
  const Bytes update = SealedImage(12);
  const Bytes bank0(update.begin(), update.begin() + kBankSize);
  ASSERT_TRUE(Send(bridge, 0x0E, 0, bank0, 4096));  // into the bank that does not run
  EXPECT_EQ(ReadBuffer(bridge, 0, kBankSize, 4096), bank0);
  bridge.PowerOn();
  EXPECT_EQ(bridge.firmwareDownload()->runningBank(), 1u);
  EXPECT_EQ(ReadBuffer(bridge, 1, kBankSize, 4096), bank0);
  EXPECT_EQ(bridge.BootedImage(), bank0);
}

TEST(Banks, ABankWithABadChecksumDoesNotBoot) {
  const struct {
    const char* what;
    bool check;
    uint32_t preferred;
    int broken;  // -1 none, 0, 1, 2 both
    uint32_t at;  // the byte of a broken bank that differs
    bool boots;
    uint32_t running;
  } cases[] = {
      {"both sealed", true, 0, -1, 0, true, 0},
      {"preferred bank broken: the other boots", true, 0, 0, 0x100, true, 1},
      {"other bank broken", true, 1, 0, 0x100, true, 1},
      {"preferred bank 1 broken", true, 1, 1, 0x100, true, 0},
      {"both broken: boot ROM", true, 0, 2, 0x100, false, 0},
      {"header copy is not the bank's checksum", true, 0, 2, kBankHeaderChecksumCopy, false, 0},
      {"bank checksum is not the header's copy", true, 0, 2, kBankChecksumOffset + 3, false, 0},
      {"header mark missing", true, 0, 2, kBankHeaderMark, false, 0},
      {"a code byte past the header is not checked at boot", true, 0, 2, 0x1000, true, 0},
      {"no check: a broken bank boots", false, 0, 2, 0x100, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ProductConfig config = BootRomConfig(24);
    config.checkBankChecksums = c.check;
    config.buffer1Bank = c.preferred;
    EmulatedBridge bridge(config);
    ASSERT_TRUE(Send(bridge, 0x06, 0, StandIn("QVS875_ROM1_MFG"), 0x10000));
    ASSERT_EQ(EraseFlash(bridge).status, 0);
    Bytes image = SealedImage(21);
    if (c.broken == 0 || c.broken == 2) image[c.at] ^= 0x40;
    if (c.broken == 1 || c.broken == 2) image[kBankSize + c.at] ^= 0x40;
    Bytes sent(kDownloadAreaSize, 0);
    std::copy(image.begin(), image.end(), sent.begin());
    ASSERT_TRUE(Send(bridge, 0x0E, 0, sent, 4096));
    bridge.PowerOn();
    const FirmwareDownload& d = *bridge.firmwareDownload();
    EXPECT_EQ(d.stage(), c.boots ? FirmwareStage::kProduct : FirmwareStage::kBootRom);
    if (c.boots) {
      EXPECT_EQ(d.runningBank(), c.running);
    }
  }
}

TEST(Banks, VersionTwoLayoutTakesTheWholeAreaWhileTheProductRuns) {
  ProductConfig config = BootRomConfig(21);
  config.bootRom = false;
  config.infoVersion = {2, 0};
  EmulatedBridge bridge(config);
  EXPECT_EQ(Descriptor(bridge, 0), (Bytes{0x0C, 0x04, 0x60, 0}));
  EXPECT_EQ(Descriptor(bridge, 1), (Bytes{0x0C, 0x04, 0x00, 0}));
  const Bytes image = SealedImage(31);
  ASSERT_EQ(EraseFlash(bridge).status, 0);
  ASSERT_TRUE(Send(bridge, 0x0E, 0, image, 4096));
  EXPECT_EQ(ReadBuffer(bridge, 1, 2 * kBankSize, 4096), image);
}

// --- The standby state.

Bytes Packet(bool enabled, uint32_t time) {
  Bytes p(kStandbyPacketLength, 0);
  std::memcpy(p.data(), "IUP0", 4);
  p[7] = 0x0C;
  p[16] = enabled ? 1 : 0;
  PutBe32(p.data() + 20, time);
  const uint16_t c1 = StandbyChecksum(p.data() + 12, 12);
  p[8] = static_cast<uint8_t>(c1);
  p[9] = static_cast<uint8_t>(c1 >> 8);
  const uint16_t c2 = StandbyChecksum(p.data(), 10);
  p[10] = static_cast<uint8_t>(c2);
  p[11] = static_cast<uint8_t>(c2 >> 8);
  return p;
}

Bytes SenseStandby(EmulatedBridge& b) {
  return In(b, Cdb({0x5A, 0x08, 0x1A, 0, 0, 0, 0, 0, 48, 0}, 10), 48).data;
}

TEST(Standby, PacketChecks) {
  const Bytes good = Packet(true, 6000);
  const struct {
    const char* what;
    size_t at;  // byte changed; SIZE_MAX: none
    StandbyPacketCheck check;
  } cases[] = {
      {"as built", SIZE_MAX, StandbyPacketCheck::kAccepted},
      {"mark", 0, StandbyPacketCheck::kNoPacket},
      {"type", 7, StandbyPacketCheck::kNoPacket},
      {"first checksum", 8, StandbyPacketCheck::kBadChecksum},
      {"second checksum", 11, StandbyPacketCheck::kBadChecksum},
      {"covered by the first", 12, StandbyPacketCheck::kBadChecksum},
      {"timer", 23, StandbyPacketCheck::kBadChecksum},
      {"covered by the second only", 5, StandbyPacketCheck::kBadChecksum},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes p = good;
    if (c.at != SIZE_MAX) p[c.at] ^= 0x01;
    const StandbyPacket parsed = ParseStandbyPacket(p.data(), p.size());
    EXPECT_EQ(parsed.check, c.check);
    if (c.check == StandbyPacketCheck::kAccepted) {
      EXPECT_TRUE(parsed.enabled);
      EXPECT_EQ(parsed.time, 6000u);
    }
  }
  EXPECT_EQ(ParseStandbyPacket(good.data(), 23).check, StandbyPacketCheck::kNoPacket);
  EXPECT_EQ(ParseStandbyPacket(nullptr, 24).check, StandbyPacketCheck::kNoPacket);
  // Changing byte 12 changes both fields; byte 0 only the second.
  Bytes p12 = Packet(true, 6000);
  p12[12] = 1;
  const uint16_t c1 = StandbyChecksum(p12.data() + 12, 12);
  EXPECT_NE(c1, good[8] | (good[9] << 8));
}

TEST(Standby, DownloadPacketSetsTheStateThatModeSenseReads) {
  EmulatedBridge bridge(BootRomConfig(23));
  ASSERT_TRUE(Send(bridge, 0x06, 0, StandIn("QVS873_ROM1_MFG"), 0x10000));
  Bytes block(kConfigBlockSize, 0);
  Bytes bad = Packet(true, 600);
  bad[20] ^= 0x01;
  std::copy(bad.begin(), bad.end(), block.begin());
  ASSERT_TRUE(Send(bridge, 0x0E, 0, block, 4096, kConfigBlockOffset));
  EXPECT_EQ(bridge.vendorState().refusedStandbyPackets, 1u);
  EXPECT_FALSE(bridge.vendorState().standbyEnabled);
  const Bytes good = Packet(true, 6000);
  std::copy(good.begin(), good.end(), block.begin());
  ASSERT_TRUE(Send(bridge, 0x0E, 0, block, 4096, kConfigBlockOffset));
  EXPECT_EQ(bridge.vendorState().standbyPackets, 1u);
  EXPECT_TRUE(bridge.vendorState().standbyEnabled);
  EXPECT_EQ(bridge.vendorState().standbyTime, 6000u);
  bridge.PowerOn();  // kept over a reset
  const Bytes sense = SenseStandby(bridge);
  ASSERT_EQ(sense.size(), 48u);
  EXPECT_EQ(sense[11] & 1, 1);
  EXPECT_EQ(Bytes(sense.begin() + 16, sense.begin() + 20), (Bytes{0, 0, 0x17, 0x70}));
}

TEST(Standby, ModeSelectAndVendorCommandSetOneState) {
  ProductConfig config = BootRomConfig(21);
  config.bootRom = false;
  EmulatedBridge bridge(config);
  Bytes select(48, 0);
  select[8] = 0x1A;
  select[9] = 0x26;
  select[11] = 0x01;
  PutBe32(select.data() + 16, 6000);
  ASSERT_EQ(Out(bridge, Cdb({0x55, 0x01, 0, 0, 0, 0, 0, 0, 0x30, 0}, 10), select.data(), 48).status,
            0);
  EXPECT_TRUE(bridge.vendorState().standbyEnabled);
  EXPECT_EQ(bridge.vendorState().standbyTime, 6000u);
  Bytes sense = SenseStandby(bridge);
  EXPECT_EQ(sense[11], 0x01);
  EXPECT_EQ(Bytes(sense.begin() + 16, sense.begin() + 20), (Bytes{0, 0, 0x17, 0x70}));
  // The vendor command with e = 0, t = 0 disables it, and MODE SENSE says so.
  ASSERT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0xA3, 0, 0, 0, 0, 0}), nullptr, 0).status, 0);
  sense = SenseStandby(bridge);
  EXPECT_EQ(sense[11] & 1, 0);
  EXPECT_EQ(Bytes(sense.begin() + 16, sense.begin() + 20), (Bytes{0, 0, 0, 0}));
  // A select that disables it with no timer.
  ASSERT_EQ(Out(bridge, Cdb({0xFF, 0x04, 0xA3, 1, 0, 0, 0x02, 0x58}), nullptr, 0).status, 0);
  EXPECT_TRUE(bridge.vendorState().standbyEnabled);
  Bytes off(48, 0);
  off[8] = 0x1A;
  off[9] = 0x26;
  ASSERT_EQ(Out(bridge, Cdb({0x55, 0x01, 0, 0, 0, 0, 0, 0, 0x30, 0}, 10), off.data(), 48).status,
            0);
  EXPECT_FALSE(bridge.vendorState().standbyEnabled);
  EXPECT_EQ(bridge.vendorState().standbyTime, 0u);
}

// --- The disk behind the bridge.

TEST(Disk, IdentifyFormsAgreeAndTheReservedAreaReads) {
  ProductConfig config = BootRomConfig(21);
  config.bootRom = false;
  config.disk.reservedSectors = 0x200;
  EmulatedBridge bridge(config);
  const Bytes sat = In(bridge, Cdb({0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0xA0, 0xEC}), 512).data;
  const Bytes pio = In(bridge, Cdb({0xA1, 0x08, 0x0E, 0, 0, 0, 0, 0, 0x40, 0xEC}), 512).data;
  const Bytes tunnel = In(bridge, Cdb({0xDF, 0x10, 0, 2, 0, 0, 0, 0, 0, 0, 0xA0, 0xEC}), 512).data;
  ASSERT_EQ(sat.size(), 512u);
  EXPECT_EQ(pio, sat);
  EXPECT_EQ(tunnel, sat);
  EXPECT_EQ(sat[120] | (sat[121] << 8) | (sat[122] << 16) | (sat[123] << 24), 4096);  // words 60-61

  // ATA PASS-THROUGH(16) READ/WRITE DMA EXT reach past the visible capacity.
  auto pt16 = [](bool write, uint64_t lba, uint16_t count) {
    Bytes cdb = Cdb({0x85, write ? 0x17 : 0x15, write ? 0x03 : 0x0B}, 16);
    cdb[5] = static_cast<uint8_t>(count >> 8);
    cdb[6] = static_cast<uint8_t>(count);
    cdb[7] = static_cast<uint8_t>(lba >> 24);
    cdb[8] = static_cast<uint8_t>(lba);
    cdb[9] = static_cast<uint8_t>(lba >> 32);
    cdb[10] = static_cast<uint8_t>(lba >> 8);
    cdb[11] = static_cast<uint8_t>(lba >> 40);
    cdb[12] = static_cast<uint8_t>(lba >> 16);
    cdb[13] = 0x60;
    cdb[14] = write ? 0x35 : 0x25;
    return cdb;
  };
  const Bytes sectors = Pattern(4 * 512, 77);
  ASSERT_EQ(Out(bridge, pt16(true, 4096, 4), sectors.data(), 4 * 512).status, 0);
  EXPECT_EQ(In(bridge, pt16(false, 4096, 4), 4 * 512).data, sectors);
  EXPECT_EQ(In(bridge, pt16(false, 4096 + 0x200 - 4, 4), 4 * 512).result.status, 0);
  EXPECT_NE(In(bridge, pt16(false, 4096 + 0x200 - 3, 4), 4 * 512).result.status, 0);
  // READ(10) stops at the visible capacity.
  EXPECT_NE(In(bridge, Cdb({0x28, 0, 0, 0, 0x10, 0, 0, 0, 1, 0}, 10), 512).result.status, 0);
}

TEST(Disk, AbsentConfigurationEepromRefusesItsCommands) {
  ProductConfig config;
  config.chipType = 7;
  config.configEepromPresent = false;
  config.disk.sectors = 4096;
  EmulatedBridge bridge(config);
  EXPECT_NE(In(bridge, Cdb({0xDF, 0x10, 0, 0, 128, 0, 0, 0, 0, 0, 0, 0xFA}), 128).result.status, 0);
  const Bytes block(128, 0x55);
  EXPECT_NE(
      Out(bridge, Cdb({0xDF, 0x00, 0, 0, 128, 0, 0, 0, 0, 0, 0, 0xFB}), block.data(), 128).status,
      0);
}

// --- No transfer past a buffer, for any offset and length.

TEST(Bounds, NoTransferLeavesTheBufferOrTheCapacity) {
  struct Stage {
    const char* what;
    uint8_t chipType;
    bool bootRom;
    bool mfg;
    std::vector<uint8_t> infoVersion;
  };
  const Stage stages[] = {
      {"87x boot ROM", 21, true, false, {}},  {"87x manufacturing", 21, true, true, {}},
      {"87x product", 21, false, false, {}},  {"87x version 2", 21, false, false, {2, 0}},
      {"1 KB boot ROM", 25, true, false, {}}, {"1 KB manufacturing", 27, true, true, {}},
      {"1 KB product", 28, false, false, {}},
  };
  const uint32_t offsets[] = {0,      1,       0xFFF,   0x1FF,   0x3FF,   0xC3FF,  0xC5FF,
                              0xFFFF, 0x103FF, 0x1FFFF, 0x3FFFF, 0x44FFF, 0x45FFF, 0xFFFFFF};
  const uint32_t lengths[] = {0, 1, 2, 4, 1024, 4096, 0x10000, 0xFFFFFF};
  const uint32_t hostLengths[] = {0, 1, 4, 1023, 4096};
  for (const Stage& s : stages) {
    ProductConfig config = BootRomConfig(s.chipType);
    config.bootRom = s.bootRom;
    config.infoVersion = s.infoVersion;
    config.flash.size = 256 * 1024;  // the QVS87x banks fill it exactly
    EmulatedBridge bridge(config);
    if (s.mfg) {
      const char* name = s.chipType == 21 ? "QVS871_ROM1_MFG" : "QVS891_ROM0_MFG";
      const Bytes mfg = StandIn(name);
      ASSERT_TRUE(Send(bridge, 0x06, 0, mfg, static_cast<uint32_t>(mfg.size())));
    }
    for (uint8_t opcode : {0x3C, 0x3B})
      for (uint8_t mode : {0x01, 0x03, 0x06, 0x0E})
        for (uint8_t id : {0, 1, 2})
          for (uint32_t offset : offsets)
            for (uint32_t n : lengths)
              for (uint32_t host : hostLengths) {
                std::unique_ptr<uint8_t[]> buffer(new uint8_t[host ? host : 1]);
                std::memset(buffer.get(), 0xA5, host ? host : 1);
                const Bytes cdb = BufferCdb(opcode, mode, id, offset, n);
                const CommandResult r = bridge.Execute(cdb.data(), 10, opcode == 0x3C,
                                                       host ? buffer.get() : nullptr, host);
                ASSERT_LE(r.transferred, host) << s.what;
                if (r.status != 0) {
                  ASSERT_EQ(r.transferred, 0u) << s.what;
                }
                if (opcode == 0x3C) {
                  for (uint32_t i = r.transferred; i < host; ++i) {
                    ASSERT_EQ(buffer[i], 0xA5) << s.what << " byte " << i;
                  }
                }
              }
    EXPECT_EQ(bridge.flash().size(), 256u * 1024) << s.what;
  }
}

TEST(BenchKeys, DownloadSettingsReachTheProduct) {
  std::vector<ProductConfig> products;
  std::string error;
  ASSERT_TRUE(Bench::ParseText(
      "[product a]\nchip = 26\nboot_rom = 1\nchip_revision = 2\nbuffer1_bank = 1\n"
      "bank_checksums = 1\n",
      &products, &error))
      << error;
  ASSERT_EQ(products.size(), 1u);
  EXPECT_TRUE(products[0].bootRom);
  EXPECT_EQ(products[0].revisionDigit, '2');
  EXPECT_EQ(products[0].buffer1Bank, 1u);
  EXPECT_TRUE(products[0].checkBankChecksums);
  EXPECT_FALSE(Bench::ParseText("[product a]\nbuffer1_bank = 2\n", &products, &error));
  EXPECT_FALSE(Bench::ParseText("[product a]\nchip_revision = A1\n", &products, &error));
}

// --- On the bench: WRITE BUFFER 0F takes the product off the bus; it comes
// back after its delay running the image that was written.

TEST(BenchReset, ComesBackAfterItsDelayWithTheNewImage) {
  platform::ScopedClockScale fast(100.0);
  ProductConfig config = BootRomConfig(25);
  config.name = "fw";
  config.resetDelayMs = 1500;
  auto bench = std::make_shared<Bench>(std::vector<ProductConfig>{config});
  platform::ScopedBackend installed(bench);
  Product& product = bench->product(0);
  const Bytes firmware = Pattern(0xC400, 99);
  product.WithBridge([&](EmulatedBridge& bridge) {
    EXPECT_TRUE(Send(bridge, 0x06, 0, StandIn("QVS885_ROM0_MFG"), 0xC400));
    EXPECT_EQ(EraseFlash(bridge).status, 0);
    EXPECT_TRUE(Send(bridge, 0x0E, 0, firmware, 1024));
    return 0;
  });
  platform::ScopedDevice device(product.path().c_str(),
                                platform::kAccessRead | platform::kAccessWrite, 3);
  platform::ScsiPassThroughDirect r{};
  r.Length = platform::kScsiPassThroughDirectLength;
  r.CdbLength = 10;
  r.DataIn = platform::kScsiDataOut;
  r.TimeOutValue = 10;
  r.Cdb[0] = 0x3B;
  r.Cdb[1] = 0x0F;
  uint32_t returned = 0;
  ASSERT_TRUE(platform::DeviceIoControl(device.get(), platform::kIoctlScsiPassThroughDirect, &r,
                                        sizeof r, &r, sizeof r, &returned));
  EXPECT_EQ(product.ResetCount(), 1);
  EXPECT_FALSE(product.Online());
  while (platform::GetTickCount64() < product.OnlineAgainAt()) platform::Sleep(50);
  ASSERT_TRUE(product.Online());
  uint8_t descriptor[4] = {};
  platform::ScsiPassThroughDirect q{};
  q.Length = platform::kScsiPassThroughDirectLength;
  q.CdbLength = 10;
  q.DataIn = platform::kScsiDataIn;
  q.TimeOutValue = 10;
  q.DataTransferLength = 4;
  q.DataBuffer = descriptor;
  q.Cdb[0] = 0x3C;
  q.Cdb[1] = 0x03;
  q.Cdb[2] = 0x01;
  q.Cdb[8] = 4;
  ASSERT_TRUE(platform::DeviceIoControl(device.get(), platform::kIoctlScsiPassThroughDirect, &q,
                                        sizeof q, &q, sizeof q, &returned));
  EXPECT_EQ(Bytes(descriptor, descriptor + 4), (Bytes{0x0A, 0x00, 0xC6, 0x00}));
  product.WithBridge([&](EmulatedBridge& bridge) {
    const Bytes booted = bridge.BootedImage();
    EXPECT_EQ(booted.size(), 0xC600u);
    EXPECT_TRUE(booted.size() >= firmware.size() &&
                std::equal(firmware.begin(), firmware.end(), booted.begin()));
    return 0;
  });
}

}  // namespace
}  // namespace sim
