// The boot-ROM download flows against a scripted bridge (the bench has no
// boot-ROM state yet): the boot ROM takes exactly the stand-in MFG image of
// its chip, then the MFG firmware reports its running state and capacity,
// takes the product image in chunks and reads it back.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bridge/chip_identification.h"
#include "bridge/firmware_update.h"
#include "bridge/image_crc.h"
#include "bridge/manufacturing_download.h"
#include "bridge/tests/fake_backend.h"
#include "platform/clock.h"
#include "resources/stand_in_images.h"

namespace bridge {
namespace {

constexpr uint8_t kGood = 0;
constexpr uint8_t kCheckCondition = 2;

uint32_t Be(const uint8_t* p, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | p[i];
  return v;
}

struct ScriptedBridge {
  explicit ScriptedBridge(std::string mfg) : mfgName(std::move(mfg)) {}
  // What the boot ROM expects, and what the MFG firmware reports.
  std::string mfgName;
  uint32_t bootCapacity = 0x10000;
  uint8_t runningState = kState4KUnits;
  uint32_t runningCapacity = 0x46000;
  uint8_t chipInfo[kChipInfoLength] = {0xF4, 0xE7, 0, 0, 0, 'a', 0, 1};
  uint8_t status0 = 0;

  uint8_t state = kStateBootRom;
  std::vector<uint8_t> buffer;                        // what WRITE BUFFER 0Eh stored
  std::vector<uint8_t> flash = std::vector<uint8_t>(0x40000, 0xFF);
  int mfgStarts = 0;
  int erases = 0;
  int failWrites = 0;  // WRITE BUFFER 0Eh commands refused from now on
  std::vector<uint8_t> status5;

  bool Answer(platform::ScsiPassThroughDirect& r) {
    const uint8_t* c = r.Cdb;
    auto* data = static_cast<uint8_t*>(r.DataBuffer);
    r.ScsiStatus = kGood;
    const auto in = [&](const uint8_t* from, size_t n) {
      std::memcpy(data, from, std::min<size_t>(n, r.DataTransferLength));
    };
    if (c[0] == 0x3C && c[1] == 0x03) {
      const uint32_t cap = state == kStateBootRom ? bootCapacity : runningCapacity;
      const uint8_t d[4] = {state, uint8_t(cap >> 16), uint8_t(cap >> 8), uint8_t(cap)};
      in(d, 4);
    } else if (c[0] == 0x3C && c[1] == 0x01) {
      const uint32_t offset = Be(c + 3, 3), length = Be(c + 6, 3);
      if (state == kStateBootRom || offset + length > buffer.size()) return Refuse(r);
      in(buffer.data() + offset, length);
    } else if (c[0] == 0x3B && c[1] == 0x06) {
      if (state != kStateBootRom || !IsStandIn(data, r.DataTransferLength)) return Refuse(r);
      ++mfgStarts;
      state = runningState;
      buffer.assign(runningCapacity, 0);
    } else if (c[0] == 0x3B && c[1] == 0x0E) {
      const uint32_t offset = Be(c + 3, 3), length = Be(c + 6, 3);
      if (state == kStateBootRom || offset + length > buffer.size() || length != r.DataTransferLength)
        return Refuse(r);
      if (failWrites != 0) {
        if (failWrites > 0) --failWrites;
        return Refuse(r);
      }
      std::memcpy(buffer.data() + offset, data, length);
    } else if (c[0] == 0xE0 && c[1] == 0xF4) {
      in(chipInfo, sizeof chipInfo);
    } else if (c[0] == 0xFF && c[1] == 0x04 && c[2] == 0xC8) {
      if (c[3] == 0x05) status5.push_back(c[4]);
      if (c[3] == 0x00) in(&status0, 1);
    } else if (c[0] == 0xDF) {
      const uint32_t address = Be(c + 8, 3), length = Be(c + 3, 2);
      if (c[11] == 0xFB && length == 0) {
        if (state == kStateBootRom) return Refuse(r);
        ++erases;
        std::fill(flash.begin(), flash.end(), 0xFF);
      } else if (c[11] == 0xFB) {
        std::memcpy(flash.data() + address, data, length);
      } else if (c[11] == 0xFA) {
        in(flash.data() + address, length);
      }
    }
    return true;
  }

  bool Refuse(platform::ScsiPassThroughDirect& r) {
    r.ScsiStatus = kCheckCondition;
    return true;
  }

  bool IsStandIn(const uint8_t* data, uint32_t length) const {
    for (const resources::StandInImage& image : resources::kStandInImages)
      if (image.name == mfgName)
        return length == image.size && length == bootCapacity &&
               crc32(0L, data, length) == image.crc32;
    return false;
  }
};

class BootRomScript : public ::testing::Test {
 protected:
  BootRomScript() : backend_(std::make_shared<testing::FakeBackend>()), installed_(backend_) {
    backend_->scsi = [this](platform::ScsiPassThroughDirect& r) { return bridge_.Answer(r); };
  }
  void As(unsigned chipType) {
    if (chipType <= 24) return;  // the QVS87x defaults: boot ROM 1, letter 'a'
    bridge_.runningState = kState1KUnits;
    bridge_.bootCapacity = chipType <= 26 ? 0xC400 : 0x10000;
    bridge_.runningCapacity = chipType <= 26 ? 0xC400 : 0x10400;
    bridge_.mfgName = chipType == 25 ? "QVS885_ROM0_MFG" : chipType == 26 ? "QVS884_ROM_MFG_A1"
                      : chipType == 27 ? "QVS891_ROM0_MFG" : "QVS894_ROM0_MFG";
  }
  int Sent(uint8_t opcode, uint8_t mode) {
    return static_cast<int>(std::count_if(backend_->cdbs.begin(), backend_->cdbs.end(), [&](const auto& c) {
      return c[0] == opcode && c[1] == mode;
    }));
  }

  ScriptedBridge bridge_{"QVS871_ROM1_MFG"};
  std::shared_ptr<testing::FakeBackend> backend_;
  platform::ScopedBackend installed_;
  platform::ScopedClockScale fast_{1000.0};
  const char* path_ = "\\\\?\\scripted";
};

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>((seed = seed * 69069u + 1) >> 24);
  return bytes;
}

class BootRomFamilies : public BootRomScript, public ::testing::WithParamInterface<unsigned> {};

TEST_P(BootRomFamilies, BootRomToRunningProductImage) {
  const unsigned chipType = GetParam();
  As(chipType);
  int result = 0;
  std::vector<uint8_t> file;
  std::vector<uint8_t> config(kConfigBlockSize, 0x77);
  if (chipType <= 24) {
    file = Pattern(kDualBankImageSize, chipType);
    result = UpdateFirmwareQVS87x(path_, 0, kQvs87xUpdateLength, true, true, file, config, {});
  } else {
    file = Pattern(chipType >= 27 ? 0x10600 : 0xC600, chipType);
    const LoadedImage image{file.data(), static_cast<uint32_t>(file.size())};
    if (chipType == 25) result = UpdateFirmwareQVS887(path_, 0, kQvs887UpdateLength, true, nullptr, false, true, image);
    if (chipType == 26) result = UpdateFirmwareQVS884(path_, 0, kQvs887UpdateLength, true, nullptr, false, true, 2, 0xD000, true, image);
    if (chipType == 27) result = UpdateFirmwareQVS891(path_, 0, kQvs891UpdateLength, true, nullptr, false, true, image);
    if (chipType == 28) result = UpdateFirmwareQVS894(path_, 0, kQvs891UpdateLength, true, nullptr, false, true, image);
  }
  ASSERT_EQ(result, 1);
  EXPECT_EQ(bridge_.mfgStarts, 1);
  EXPECT_EQ(bridge_.erases, 1);
  EXPECT_EQ(bridge_.state, bridge_.runningState);
  const size_t code = std::min<size_t>(file.size(), bridge_.runningCapacity);
  EXPECT_TRUE(std::equal(file.begin(), file.begin() + code, bridge_.buffer.begin()));
  if (chipType <= 24) {
    EXPECT_EQ(std::vector<uint8_t>(bridge_.buffer.begin() + kConfigBlockOffset,
                                   bridge_.buffer.begin() + kConfigBlockOffset + kConfigBlockSize), config);
  }
  EXPECT_EQ(bridge_.status5, chipType == 26 ? std::vector<uint8_t>{1} : std::vector<uint8_t>{});
}

INSTANTIATE_TEST_SUITE_P(Families, BootRomFamilies, ::testing::Range(21u, 29u),
                         [](const auto& info) { return "ChipType" + std::to_string(info.param); });

TEST_F(BootRomScript, MfgImageByChipInformation) {
  struct Case {
    uint8_t version;
    char letter;
    const char* image;
  } cases[] = {{0, 'a', "QVS871_ROM0_MFG"}, {0, 'b', "QVS872_ROM0_MFG"}, {1, 'c', "QVS873_ROM1_MFG"},
               {1, 'e', "QVS875_ROM1_MFG"}};
  const std::vector<uint8_t> file = Pattern(kDualBankImageSize, 1);
  const std::vector<uint8_t> config(kConfigBlockSize);
  for (const Case& c : cases) {
    bridge_ = ScriptedBridge(c.image);
    bridge_.chipInfo[5] = static_cast<uint8_t>(c.letter);
    bridge_.chipInfo[7] = c.version;
    EXPECT_EQ(DownloadFirmwareQVS87x(path_, 0, kQvs87xUpdateLength, true, true, file, config, {}), 1) << c.image;
    EXPECT_EQ(bridge_.mfgStarts, 1) << c.image;
  }
}

// Boot ROM 0 has no QVS873 image: nothing is sent.
TEST_F(BootRomScript, NoImageForTheChipSendsNothing) {
  bridge_.chipInfo[5] = 'c';
  bridge_.chipInfo[7] = 0;
  const std::vector<uint8_t> file = Pattern(kDualBankImageSize, 2), config(kConfigBlockSize);
  EXPECT_EQ(DownloadFirmwareQVS87x(path_, 0, kQvs87xUpdateLength, true, true, file, config, {}), 0);
  EXPECT_EQ(Sent(0x3B, 0x06) + Sent(0x3B, 0x0E), 0);
}

TEST_F(BootRomScript, BootCapacityWithARunningStateIsRefused) {
  bridge_.state = kState4KUnits;
  bridge_.runningCapacity = 0x10000;
  bridge_.buffer.assign(0x10000, 0);
  const std::vector<uint8_t> file = Pattern(kDualBankImageSize, 3), config(kConfigBlockSize);
  EXPECT_EQ(DownloadFirmwareQVS87x(path_, 0, kQvs87xUpdateLength, true, true, file, config, {}), 0);
  EXPECT_EQ(Sent(0x3B, 0x06) + Sent(0x3B, 0x0E), 0);
}

// Descriptor 0A 01 04 00: 66560 bytes in 65 commands of 1 KB.
TEST_F(BootRomScript, CapacityOf66560In65Commands) {
  As(27);
  bridge_.state = kState1KUnits;
  bridge_.buffer.assign(bridge_.runningCapacity, 0);
  const std::vector<uint8_t> file = Pattern(0x10600, 4);
  const LoadedImage image{file.data(), static_cast<uint32_t>(file.size())};
  ASSERT_EQ(DownloadFirmwareQVS891(path_, 0, kQvs891UpdateLength, false, image), 1);
  EXPECT_EQ(Sent(0x3B, 0x0E), 65);
  EXPECT_EQ(bridge_.erases, 0);  // no erase without the boot ROM
}

// A capacity the 512-byte units cannot cover is refused before anything is sent.
TEST_F(BootRomScript, OddCapacityRefused) {
  bridge_.state = kState4KUnits;
  bridge_.runningCapacity = 0x46001;
  bridge_.buffer.assign(bridge_.runningCapacity, 0);
  const std::vector<uint8_t> file = Pattern(kDualBankImageSize, 5), config(kConfigBlockSize);
  EXPECT_EQ(DownloadFirmwareQVS87x(path_, 0, kQvs87xUpdateLength, false, false, {}, config, file), 0);
  EXPECT_EQ(Sent(0x3B, 0x0E), 0);
}

// Every chunk refused: the three download tries fail, and the driver's next
// try finds the MFG firmware running, not the boot ROM, and stops there
// (it fails safe, as decided; it does not start the MFG image again).
TEST_F(BootRomScript, SecondTryAfterMfgStartFailsSafe) {
  bridge_.failWrites = -1;
  const std::vector<uint8_t> file = Pattern(kDualBankImageSize, 6), config(kConfigBlockSize);
  EXPECT_EQ(UpdateFirmwareQVS87x(path_, 0, kQvs87xUpdateLength, true, true, file, config, {}), 0);
  EXPECT_EQ(bridge_.mfgStarts, 1);
  EXPECT_EQ(Sent(0x3B, 0x06), 1);
  EXPECT_EQ(bridge_.erases, 3);
  EXPECT_EQ(Sent(0x3B, 0x0E), 3);  // the first chunk of each try, then the try ends
}

// One refused chunk: the next download try of the same MFG session succeeds.
TEST_F(BootRomScript, ChunkRetriedWithinTheMfgSession) {
  As(25);
  bridge_.failWrites = 1;
  const std::vector<uint8_t> file = Pattern(0xC600, 7);
  const LoadedImage image{file.data(), static_cast<uint32_t>(file.size())};
  EXPECT_EQ(UpdateFirmwareQVS887(path_, 0, kQvs887UpdateLength, true, nullptr, false, true, image), 1);
  EXPECT_EQ(bridge_.mfgStarts, 1);
  EXPECT_EQ(bridge_.erases, 2);
}

// The A1 without a configuration to write takes the other bank's block.
TEST_F(BootRomScript, Qvs884A1KeepsItsConfiguration) {
  As(26);
  for (size_t i = 0; i < 512; ++i) bridge_.flash[0x1D000 + i] = static_cast<uint8_t>(i * 3);
  bridge_.chipInfo[7] = 1;  // the block is read at address + 0x10000
  const std::vector<uint8_t> file = Pattern(0xC600, 8);
  const LoadedImage image{file.data(), static_cast<uint32_t>(file.size())};
  // The erase wipes the flash, so the block comes from what the erase left:
  // check the read address instead.
  ASSERT_EQ(UpdateFirmwareQVS884(path_, 0, kQvs887UpdateLength, true, nullptr, false, true, 2, 0xD000, false, image), 1);
  bool readOther = false, wroteHere = false;
  for (const auto& c : backend_->cdbs) {
    if (c[0] != 0xDF) continue;
    readOther |= c[11] == 0xFA && Be(c.data() + 8, 3) == 0x1D000;
    wroteHere |= c[11] == 0xFB && Be(c.data() + 8, 3) == 0xD000 && c[1] == 1;
  }
  EXPECT_TRUE(readOther);
  EXPECT_TRUE(wroteHere);
  EXPECT_EQ(bridge_.status5, std::vector<uint8_t>{0});  // EnPD off
}

}  // namespace
}  // namespace bridge
