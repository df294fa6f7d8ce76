// The READ/WRITE BUFFER firmware path of ChipTypes 21-28: the boot ROM that
// waits for a manufacturing image, the manufacturing firmware that writes
// the product firmware into the flash, the product firmware, and what boots
// from the flash when the bridge comes back on the bus.
//
// Buffers by stage (state byte and capacity of READ BUFFER mode 03):
//   boot ROM       buffer 0: FF, the size of the expected manufacturing image.
//   manufacturing  QVS87x buffer 0: 0C, 0x46000: both banks at 0 (into the
//                  flash, which the station erased), the 4 KB configuration
//                  block at 0x45000 (its standby packet is read);
//                  1 KB families buffer 0: 0A, the code length of the file.
//   product        QVS87x buffer 0: 0C, the bank that is not running (the
//                  update target), buffer 1: 0C, the running bank; with the
//                  version-2 chip information buffer 0 is the download area
//                  as above and buffer 1 both banks from the running one;
//                  1 KB families buffers 0 and 1: 0A, code and configuration
//                  block of the file.
//   Buffer 1 of the manufacturing stage shows the running bank as well.
// The 1 KB families keep the file offsets f in their flash relaid: f < 0x200
// at 0xE00 + f, 0x200 <= f < 0x400 at f - 0x200, the rest at f + 0xC00.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "sim/bridge_command.h"
#include "sim/identity_image.h"

namespace sim {

struct ChipModel;
struct ProductConfig;
class SpiFlash;

enum class FirmwareStage : uint8_t { kBootRom, kManufacturing, kProduct };

struct DownloadFamily {
  uint8_t chipType;
  bool banks;                // QVS87x: two 128 KB banks, 4 KB units
  uint32_t mfgSize;          // boot-ROM capacity: the manufacturing image expected
  uint32_t codeLength;       // product code in the firmware file
  uint32_t productCapacity;  // buffer 0 of the running product firmware
};

inline constexpr std::array<DownloadFamily, 8> kDownloadFamilies = {{
    {21, true, 0x10000, 0x40000, 0x20000},
    {22, true, 0x10000, 0x40000, 0x20000},
    {23, true, 0x10000, 0x40000, 0x20000},
    {24, true, 0x10000, 0x40000, 0x20000},
    {25, false, 0xC400, 0xC400, 0xC600},
    {26, false, 0xC400, 0xC400, 0xC600},
    {27, false, 0x10000, 0x10400, 0x10600},
    {28, false, 0x10000, 0x10400, 0x10600},
}};

// Null outside 21-28.
const DownloadFamily* FindDownloadFamily(uint8_t chipType);

inline constexpr uint32_t kBankSize = 0x20000;
inline constexpr uint32_t kBankChecksumOffset = kBankSize - 4;
// The bank header the station stamps after the identity and bank checksum:
// a mark, a zero word, a copy of the bank checksum and a checksum of the
// bank's first 0x3FC bytes.
inline constexpr uint32_t kBankHeaderMark = 0x200;
inline constexpr uint32_t kBankHeaderChecksumCopy = 0x208;
inline constexpr uint32_t kBankHeaderChecksum = 0x3FC;
inline constexpr std::array<uint8_t, 4> kBankHeaderMarkBytes = {0x5A, 0xC3, 0x69, 0xE1};
inline constexpr uint32_t kDownloadAreaSize = 0x46000;
inline constexpr uint32_t kConfigBlockOffset = 0x45000;
inline constexpr uint32_t kConfigBlockSize = 0x1000;
inline constexpr uint8_t kState4K = 0x0C;
inline constexpr uint8_t kState1K = 0x0A;
inline constexpr uint8_t kStateBootRom = 0xFF;

// Flash address of file offset f in the 1 KB families.
uint32_t RelaidFlashAddress(uint32_t fileOffset);

// The manufacturing image a boot ROM takes, by the chip-information fields
// the station chooses it by: model letter (byte 5) and boot-ROM version
// (byte 7) for 21-24, the revision number (byte 11 digit) for 26. Empty when
// the chip has none.
std::string_view ExpectedMfgImage(uint8_t chipType, char modelLetter, uint8_t romVersion,
                                  uint8_t revision);

// The checksum of the QVS87x banks: a CRC-32 (0x04C11DB7, register
// 0xFFFFFFFF, no final XOR) over 4-byte groups read as little-endian words,
// each byte least significant bit first; a short last group is ignored.
uint32_t BankChecksum(const uint8_t* data, size_t length);

class FirmwareDownload {
 public:
  // `model` must outlive this object.
  FirmwareDownload(const ChipModel& model, const ProductConfig& config, const SpiFlash& flash);

  FirmwareStage stage() const { return stage_; }
  bool inBootRom() const { return stage_ == FirmwareStage::kBootRom; }
  // QVS87x: the bank that runs (and that buffer 1 shows).
  uint32_t runningBank() const { return runningBank_; }
  // Manufacturing images the boot ROM refused since it was made.
  uint32_t refusedImages() const { return refusedImages_; }
  // The product firmware came from the flash at the last power-on (rather
  // than being the one the bench was set up with).
  bool bootedFromFlash() const { return bootedFromFlash_; }
  // That firmware as the firmware file holds it: QVS87x the running bank
  // (128 KB, in bank 0's place), 1 KB families code and configuration block.
  // Empty unless bootedFromFlash().
  std::vector<uint8_t> BootedImage(const SpiFlash& flash) const;
  // What the running product firmware presents (firmware_identity.h): a
  // QVS87x the identity of the bank it booted from and of the identity
  // record, a 1 KB family the configuration area in the flash. `fallback`
  // is the firmware's own identity, kept while no product firmware runs.
  DeviceIdentity PresentedIdentity(const SpiFlash& flash, const VendorState& vendor,
                                   const DeviceIdentity& fallback) const;
  // A 1 KB family product that came from the factory with its firmware
  // holds its configuration area, with `identity` in it (nothing for the
  // others).
  void StoreFactoryConfigArea(SpiFlash& flash, const DeviceIdentity& identity) const;

  // READ BUFFER (3C) and WRITE BUFFER (3B); any other opcode is refused.
  CommandResult Execute(const uint8_t* cdb, uint8_t cdbLength, bool dataIn, uint8_t* data,
                        uint32_t length, SpiFlash& flash, VendorState& vendor);

  // The chip-information block as the current firmware answers it; `info`
  // is the product firmware's block.
  void AdjustChipInfo(std::array<uint8_t, 16>& info) const;

  // The bridge comes back on the bus: a manufacturing firmware is gone, and
  // when the code area of the flash changed since the last power-on, what
  // boots is decided from it (no image: the boot ROM).
  void PowerOn(const SpiFlash& flash);

 private:
  enum class Area : uint8_t { kMfgRam, kDownload, kBank, kBothBanks, kRelaid };
  struct View {
    Area area;
    uint8_t state;
    uint32_t capacity;
    uint32_t bank;  // kBank, kBothBanks: the first bank shown
    bool program;   // writes program the flash (AND) after the station's erase
  };
  bool ViewOf(uint8_t id, View* view) const;
  uint32_t ConfigAreaAddress() const;  // 1 KB families
  bool ChipInfoVersion2() const;
  bool InFlash(const View& view, uint32_t offset, uint32_t n, uint32_t flashSize) const;
  void ReadView(const View& view, uint32_t offset, uint8_t* out, uint32_t n,
                const SpiFlash& flash) const;
  void WriteView(const View& view, uint32_t offset, const uint8_t* in, uint32_t n, SpiFlash& flash,
                 VendorState& vendor);
  CommandResult TakeMfgImage(uint32_t offset, const uint8_t* in, uint32_t n);
  bool BankBoots(const SpiFlash& flash, uint32_t bank) const;
  uint64_t CodeAreaHash(const SpiFlash& flash) const;
  void DecideBoot(const SpiFlash& flash);

  const ChipModel& model_;
  const DownloadFamily& family_;
  std::string_view expectedImage_;
  uint8_t romVersion_;
  uint8_t revisionDigit_;
  bool version2_;
  bool checkBankChecksums_;
  uint32_t preferredBank_;
  FirmwareStage stage_;
  uint32_t runningBank_;
  int writtenBank_ = -1;  // product update target since the last power-on
  bool bootedFromFlash_ = false;
  uint32_t refusedImages_ = 0;
  std::vector<uint8_t> mfgRam_;   // boot ROM: the manufacturing image as received
  uint32_t received_ = 0;         // contiguous bytes of it from offset 0
  std::vector<uint8_t> areaRam_;  // download area bytes that do not go to the flash
  uint64_t codeHash_ = 0;
  uint64_t chipErasesSeen_ = 0;  // the flash's whole-array erases at the last power-on
};

}  // namespace sim
