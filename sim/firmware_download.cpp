#include "sim/firmware_download.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"
#include "resources/stand_in_images.h"
#include "sim/bridge_commands.h"
#include "sim/chip_models.h"
#include "sim/firmware_identity.h"
#include "sim/spi_flash.h"
#include "sim/standby_state.h"

namespace sim {

namespace {

constexpr uint32_t kRelaidHead = 0x200;    // file 0..0x1FF sit at flash 0xE00
constexpr uint32_t kRelaidVector = 0x400;  // file 0x200..0x3FF sit at flash 0
constexpr uint32_t kRelaidHeadAt = 0xE00;
constexpr uint32_t kRelaidShift = 0xC00;

using commands::Check;
using commands::Good;
using platform::GetBigEndian24;
using platform::GetBigEndian32;

// Which manufacturing image a chip takes; -1 matches any value.
struct MfgImageRow {
  uint8_t firstType, lastType;
  char letter;  // 0: any
  int romVersion;
  int revision;
  std::string_view name;
};
constexpr std::array<MfgImageRow, 11> kMfgImages = {{
    {21, 24, 'a', 0, -1, "QVS871_ROM0_MFG"},
    {21, 24, 'b', 0, -1, "QVS872_ROM0_MFG"},
    {21, 24, 'a', 1, -1, "QVS871_ROM1_MFG"},
    {21, 24, 'b', 1, -1, "QVS872_ROM1_MFG"},
    {21, 24, 'c', 1, -1, "QVS873_ROM1_MFG"},
    {21, 24, 'e', 1, -1, "QVS875_ROM1_MFG"},
    {25, 25, 0, -1, -1, "QVS885_ROM0_MFG"},
    {26, 26, 0, -1, 1, "QVS884_ROM_MFG_A0"},
    {26, 26, 0, -1, 2, "QVS884_ROM_MFG_A1"},
    {27, 27, 0, -1, -1, "QVS891_ROM0_MFG"},
    {28, 28, 0, -1, -1, "QVS894_ROM0_MFG"},
}};

const resources::StandInImage* FindStandIn(std::string_view name) {
  for (const auto& image : resources::kStandInImages)
    if (image.name == name) return &image;
  return nullptr;
}

// One contiguous piece of a relaid transfer: file bytes [file, file + n)
// at flash address `flash`.
struct Piece {
  uint32_t file, flash, n;
};

// Cuts [offset, offset + n) at the relayout boundaries; at most 3 pieces.
size_t RelaidPieces(uint32_t offset, uint32_t n, std::array<Piece, 3>& out) {
  size_t count = 0;
  const uint64_t end = uint64_t{offset} + n;
  for (uint64_t at = offset; at < end && count < out.size();) {
    const uint64_t limit = at < kRelaidHead     ? kRelaidHead
                           : at < kRelaidVector ? kRelaidVector
                                                : end;
    const uint32_t run = static_cast<uint32_t>(std::min(end, limit) - at);
    out[count++] = {static_cast<uint32_t>(at), RelaidFlashAddress(static_cast<uint32_t>(at)), run};
    at += run;
  }
  return count;
}

bool Blank(const std::vector<uint8_t>& memory, uint64_t from, uint64_t to) {
  to = std::min<uint64_t>(to, memory.size());
  return from >= to || std::all_of(memory.begin() + static_cast<ptrdiff_t>(from),
                                   memory.begin() + static_cast<ptrdiff_t>(to),
                                   [](uint8_t b) { return b == 0xFF; });
}

uint64_t Fnv1a(const uint8_t* data, size_t n, uint64_t hash = 1469598103934665603ull) {
  for (size_t i = 0; i < n; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
  return hash;
}

}  // namespace

const DownloadFamily* FindDownloadFamily(uint8_t chipType) {
  for (const auto& family : kDownloadFamilies)
    if (family.chipType == chipType) return &family;
  return nullptr;
}

uint32_t RelaidFlashAddress(uint32_t fileOffset) {
  if (fileOffset < kRelaidHead) return kRelaidHeadAt + fileOffset;
  if (fileOffset < kRelaidVector) return fileOffset - kRelaidHead;
  return fileOffset + kRelaidShift;
}

std::string_view ExpectedMfgImage(uint8_t chipType, char modelLetter, uint8_t romVersion,
                                  uint8_t revision) {
  for (const auto& row : kMfgImages) {
    if (chipType < row.firstType || chipType > row.lastType) continue;
    if (row.letter != 0 && row.letter != modelLetter) continue;
    if (row.romVersion >= 0 && row.romVersion != romVersion) continue;
    if (row.revision >= 0 && row.revision != revision) continue;
    return row.name;
  }
  return {};
}

uint32_t BankChecksum(const uint8_t* data, size_t length) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t group = 0; group + 4 <= length; group += 4) {
    for (int k = 3; k >= 0; --k) {
      const uint8_t byte = data[group + static_cast<size_t>(k)];
      for (int bit = 0; bit < 8; ++bit) {
        const uint32_t feedback = ((byte >> bit) & 1u) ^ (crc >> 31);
        crc <<= 1;
        if (feedback != 0) crc ^= 0x04C11DB7u;
      }
    }
  }
  return crc;
}

FirmwareDownload::FirmwareDownload(const ChipModel& model, const ProductConfig& config,
                                   const SpiFlash& flash)
    : model_(model),
      family_(*FindDownloadFamily(model.chipType)),
      romVersion_(config.infoVersion.size() > 1 ? config.infoVersion[1] : model.infoByte7),
      revisionDigit_(static_cast<uint8_t>(config.revisionDigit != 0 ? config.revisionDigit
                                                                    : model.revisionDigit)),
      checkBankChecksums_(config.checkBankChecksums),
      preferredBank_(config.buffer1Bank != 0 ? 1u : 0u),
      stage_(config.bootRom || config.bootCodeOnly ? FirmwareStage::kBootRom
                                                   : FirmwareStage::kProduct),
      runningBank_(preferredBank_) {
  const auto info =
      ChipInfoFor(model, config.firmwareVersion, config.infoVersion, config.internalCode);
  version2_ = family_.banks && info[6] == 2 && info[7] == 0;
  const uint8_t revision = static_cast<uint8_t>(revisionDigit_ - '0');
  expectedImage_ = ExpectedMfgImage(model.chipType, model.modelLetter, romVersion_, revision);
  codeHash_ = CodeAreaHash(flash);
}

bool FirmwareDownload::ChipInfoVersion2() const { return version2_; }

void FirmwareDownload::AdjustChipInfo(std::array<uint8_t, 16>& info) const {
  info[11] = revisionDigit_;
  if (stage_ == FirmwareStage::kProduct) return;
  // Boot ROM and manufacturing firmware: the marks the station reads the
  // boot-ROM state by.
  if (family_.banks) {
    info[6] = 1;
    info[7] = romVersion_;
  } else {
    info[6] = 0;
    if (model_.chipType == 26) info[7] = 0xFF;
  }
}

bool FirmwareDownload::ViewOf(uint8_t id, View* view) const {
  if (id > 1) return false;
  switch (stage_) {
    case FirmwareStage::kBootRom:
      if (id != 0) return false;
      *view = {Area::kMfgRam, kStateBootRom, family_.mfgSize, 0, false};
      return true;
    case FirmwareStage::kManufacturing:
      if (family_.banks) {
        *view = id == 0 ? View{Area::kDownload, kState4K, kDownloadAreaSize, 0, true}
                        : View{Area::kBank, kState4K, kBankSize, runningBank_, false};
      } else {
        *view = id == 0 ? View{Area::kRelaid, kState1K, family_.codeLength, 0, true}
                        : View{Area::kRelaid, kState1K, family_.productCapacity, 0, false};
      }
      return true;
    case FirmwareStage::kProduct:
      if (!family_.banks) {
        *view = {Area::kRelaid, kState1K, family_.productCapacity, 0, false};
      } else if (version2_) {
        *view = id == 0 ? View{Area::kDownload, kState4K, kDownloadAreaSize, 0, true}
                        : View{Area::kBothBanks, kState4K, 2 * kBankSize, runningBank_, false};
      } else {
        *view = {Area::kBank, kState4K, family_.productCapacity,
                 id == 0 ? 1 - runningBank_ : runningBank_, false};
      }
      return true;
  }
  return false;
}

// Every flash byte the transfer reaches lies inside the flash.
bool FirmwareDownload::InFlash(const View& view, uint32_t offset, uint32_t n,
                               uint32_t flashSize) const {
  const uint64_t end = uint64_t{offset} + n;
  switch (view.area) {
    case Area::kMfgRam:
      return true;
    case Area::kDownload:
      return offset >= 2 * kBankSize || std::min<uint64_t>(end, 2 * kBankSize) <= flashSize;
    case Area::kBank:
      return uint64_t{view.bank} * kBankSize + end <= flashSize;
    case Area::kBothBanks:
      return 2 * uint64_t{kBankSize} <= flashSize;
    case Area::kRelaid: {
      std::array<Piece, 3> pieces{};
      const size_t count = RelaidPieces(offset, n, pieces);
      for (size_t i = 0; i < count; ++i)
        if (uint64_t{pieces[i].flash} + pieces[i].n > flashSize) return false;
      return true;
    }
  }
  return false;
}

void FirmwareDownload::ReadView(const View& view, uint32_t offset, uint8_t* out, uint32_t n,
                                const SpiFlash& flash) const {
  const auto& memory = flash.memory();
  switch (view.area) {
    case Area::kMfgRam:
      for (uint32_t i = 0; i < n; ++i)
        out[i] = offset + i < mfgRam_.size() ? mfgRam_[offset + i] : 0;
      return;
    case Area::kDownload:
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t at = offset + i;
        out[i] = at < 2 * kBankSize ? memory[at] : at < areaRam_.size() ? areaRam_[at] : 0;
      }
      return;
    case Area::kBank:
      std::memcpy(out, memory.data() + view.bank * kBankSize + offset, n);
      return;
    case Area::kBothBanks:
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t at = offset + i;
        const uint32_t bank = (view.bank + at / kBankSize) % 2;
        out[i] = memory[bank * kBankSize + at % kBankSize];
      }
      return;
    case Area::kRelaid: {
      std::array<Piece, 3> pieces{};
      const size_t count = RelaidPieces(offset, n, pieces);
      for (size_t i = 0; i < count; ++i)
        std::memcpy(out + (pieces[i].file - offset), memory.data() + pieces[i].flash, pieces[i].n);
      return;
    }
  }
}

void FirmwareDownload::WriteView(const View& view, uint32_t offset, const uint8_t* in, uint32_t n,
                                 SpiFlash& flash, VendorState& vendor) {
  // The manufacturing firmware programs what the station erased; a product
  // firmware erases and programs its own sectors, which reads as a plain
  // overwrite.
  auto store = [&](uint32_t address, const uint8_t* bytes, uint32_t count) {
    if (count == 0) return;
    if (view.program)
      flash.Program(address, bytes, count);
    else
      std::memcpy(flash.memory().data() + address, bytes, count);
  };
  switch (view.area) {
    case Area::kMfgRam:
      return;
    case Area::kDownload: {
      if (areaRam_.size() != kDownloadAreaSize) areaRam_.assign(kDownloadAreaSize, 0);
      std::memcpy(areaRam_.data() + offset, in, n);
      if (offset < 2 * kBankSize) store(offset, in, std::min<uint32_t>(n, 2 * kBankSize - offset));
      const uint64_t end = uint64_t{offset} + n;
      if (offset < kConfigBlockOffset + kStandbyPacketLength && end > kConfigBlockOffset) {
        const StandbyPacket packet =
            ParseStandbyPacket(areaRam_.data() + kConfigBlockOffset, kConfigBlockSize);
        if (packet.check == StandbyPacketCheck::kAccepted) {
          SetStandby(vendor, packet.enabled, packet.time);
          ++vendor.standbyPackets;
        } else if (packet.check == StandbyPacketCheck::kBadChecksum) {
          ++vendor.refusedStandbyPackets;
        }
      }
      return;
    }
    case Area::kBank:
      store(view.bank * kBankSize + offset, in, n);
      if (stage_ == FirmwareStage::kProduct) writtenBank_ = static_cast<int>(view.bank);
      return;
    case Area::kBothBanks:
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t at = offset + i;
        const uint32_t bank = (view.bank + at / kBankSize) % 2;
        store(bank * kBankSize + at % kBankSize, in + i, 1);
      }
      return;
    case Area::kRelaid: {
      std::array<Piece, 3> pieces{};
      const size_t count = RelaidPieces(offset, n, pieces);
      for (size_t i = 0; i < count; ++i)
        store(pieces[i].flash, in + (pieces[i].file - offset), pieces[i].n);
      return;
    }
  }
}

// Boot ROM: the image arrives in one or more pieces from offset 0 on; once
// all of it is there it starts when it is exactly the expected image.
CommandResult FirmwareDownload::TakeMfgImage(uint32_t offset, const uint8_t* in, uint32_t n) {
  const resources::StandInImage* expected = FindStandIn(expectedImage_);
  if (expected == nullptr || expected->size != family_.mfgSize || offset > received_)
    return Check();
  if (mfgRam_.size() != family_.mfgSize) mfgRam_.assign(family_.mfgSize, 0);
  if (n > 0) std::memcpy(mfgRam_.data() + offset, in, n);
  received_ = std::max(received_, offset + n);
  if (received_ < family_.mfgSize) return Good(n);
  std::vector<uint8_t> image(expected->size);
  resources::MakeStandInImage(*expected, image.data());
  const bool accepted = image == mfgRam_;
  mfgRam_.clear();
  received_ = 0;
  if (!accepted) {
    ++refusedImages_;
    return Check();
  }
  stage_ = FirmwareStage::kManufacturing;
  areaRam_.clear();
  return Good(n);
}

CommandResult FirmwareDownload::Execute(const uint8_t* cdb, uint8_t cdbLength, bool dataIn,
                                        uint8_t* data, uint32_t length, SpiFlash& flash,
                                        VendorState& vendor) {
  if (cdb == nullptr || cdbLength < 10 || (length > 0 && data == nullptr)) return Check();
  if (cdb[0] != 0x3B && cdb[0] != 0x3C) return Check();
  const uint8_t mode = cdb[1] & 0x1F;
  const uint8_t id = cdb[2];
  const uint32_t offset = GetBigEndian24(cdb + 3);
  const uint32_t n = GetBigEndian24(cdb + 6);
  if (cdb[0] == 0x3B && mode == 0x0F) {  // activate what was written: the bridge restarts
    if (length != 0) return Check();
    return {commands::kGood, 0, true};
  }
  View view{};
  if (!ViewOf(id, &view)) return Check();
  if (cdb[0] == 0x3C) {
    if (!dataIn && length > 0) return Check();
    if (mode == 0x03) {
      const uint8_t descriptor[4] = {view.state, static_cast<uint8_t>(view.capacity >> 16),
                                     static_cast<uint8_t>(view.capacity >> 8),
                                     static_cast<uint8_t>(view.capacity)};
      const uint32_t moved = std::min({uint32_t{sizeof descriptor}, n, length});
      if (moved > 0) std::memcpy(data, descriptor, moved);
      return Good(moved);
    }
    if (mode != 0x01 && mode != 0x02) return Check();
    if (uint64_t{offset} + n > view.capacity || length < n || (n > 0 && !dataIn)) return Check();
    if (view.area != Area::kMfgRam && (!flash.present() || !InFlash(view, offset, n, flash.size())))
      return Check();
    if (n > 0) ReadView(view, offset, data, n, flash);
    return Good(n);
  }
  // WRITE BUFFER: data out of exactly the length the CDB names.
  if (dataIn && length > 0) return Check();
  if (length < n || uint64_t{offset} + n > view.capacity) return Check();
  if (stage_ == FirmwareStage::kBootRom) {
    if (mode != 0x06 && mode != 0x07) return Check();
    return TakeMfgImage(offset, data, n);
  }
  if (mode != 0x0E && mode != 0x02) return Check();
  if (!flash.present() || !InFlash(view, offset, n, flash.size())) return Check();
  if (n > 0) WriteView(view, offset, data, n, flash, vendor);
  return Good(n);
}

bool FirmwareDownload::BankBoots(const SpiFlash& flash, uint32_t bank) const {
  const auto& memory = flash.memory();
  const uint64_t base = uint64_t{bank} * kBankSize;
  if (base + kBankSize > memory.size()) return false;
  if (Blank(memory, base, base + kBankSize)) return false;
  if (!checkBankChecksums_) return true;
  // The station stamps the header after it computed the bank checksum, so
  // the bank checksum no longer covers the bank as it stands; the boot
  // checks the header by its own checksum and that the bank ends with the
  // checksum the header names (a bank written only in part does not).
  const uint8_t* b = memory.data() + base;
  return std::equal(kBankHeaderMarkBytes.begin(), kBankHeaderMarkBytes.end(), b + kBankHeaderMark) &&
         GetBigEndian32(b + kBankHeaderChecksum) == BankChecksum(b, kBankHeaderChecksum) &&
         GetBigEndian32(b + kBankHeaderChecksumCopy) == GetBigEndian32(b + kBankChecksumOffset);
}

// The flash bytes that hold product code (not the configuration areas).
uint64_t FirmwareDownload::CodeAreaHash(const SpiFlash& flash) const {
  const auto& memory = flash.memory();
  const uint64_t end =
      family_.banks ? 2 * uint64_t{kBankSize} : RelaidFlashAddress(family_.codeLength - 1) + 1;
  return Fnv1a(memory.data(), static_cast<size_t>(std::min<uint64_t>(end, memory.size())));
}

void FirmwareDownload::DecideBoot(const SpiFlash& flash) {
  bootedFromFlash_ = false;
  if (!flash.present()) {
    stage_ = FirmwareStage::kBootRom;
    return;
  }
  if (family_.banks) {
    // A bank just updated is tried first, then the bank the bench prefers.
    const uint32_t first = writtenBank_ >= 0 ? static_cast<uint32_t>(writtenBank_) : preferredBank_;
    for (uint32_t bank : {first, 1 - first}) {
      if (!BankBoots(flash, bank)) continue;
      stage_ = FirmwareStage::kProduct;
      runningBank_ = bank;
      bootedFromFlash_ = true;
      return;
    }
    stage_ = FirmwareStage::kBootRom;
    return;
  }
  const uint64_t codeEnd = RelaidFlashAddress(family_.codeLength - 1) + 1;
  if (codeEnd > flash.memory().size() || Blank(flash.memory(), 0, codeEnd)) {
    stage_ = FirmwareStage::kBootRom;
    return;
  }
  stage_ = FirmwareStage::kProduct;
  bootedFromFlash_ = true;
}

void FirmwareDownload::PowerOn(const SpiFlash& flash) {
  const uint64_t hash = CodeAreaHash(flash);
  // A whole-array erase leaves nothing to boot, though a product that ran
  // from a blank bench flash hashes the same before and after it.
  if (stage_ == FirmwareStage::kManufacturing || hash != codeHash_ ||
      flash.chipErases() != chipErasesSeen_) {
    DecideBoot(flash);
  }
  codeHash_ = hash;
  chipErasesSeen_ = flash.chipErases();
  writtenBank_ = -1;
  mfgRam_.clear();
  received_ = 0;
  areaRam_.clear();
}

std::vector<uint8_t> FirmwareDownload::BootedImage(const SpiFlash& flash) const {
  if (!bootedFromFlash_ || stage_ != FirmwareStage::kProduct) return {};
  if (family_.banks) {
    std::vector<uint8_t> bank(kBankSize);
    const View view{Area::kBank, kState4K, kBankSize, runningBank_, false};
    ReadView(view, 0, bank.data(), kBankSize, flash);
    return bank;
  }
  const View view{Area::kRelaid, kState1K, family_.productCapacity, 0, false};
  if (!InFlash(view, 0, family_.productCapacity, flash.size())) return {};
  std::vector<uint8_t> image(family_.productCapacity);
  ReadView(view, 0, image.data(), family_.productCapacity, flash);
  return image;
}

// The configuration block follows the code in the file, relaid like it.
uint32_t FirmwareDownload::ConfigAreaAddress() const { return RelaidFlashAddress(family_.codeLength); }

void FirmwareDownload::StoreFactoryConfigArea(SpiFlash& flash, const DeviceIdentity& identity) const {
  auto& memory = flash.memory();
  const uint32_t at = ConfigAreaAddress();
  if (family_.banks || stage_ != FirmwareStage::kProduct || !flash.present() ||
      uint64_t{at} + kConfigAreaSize > memory.size()) {
    return;
  }
  EncodeConfigArea(identity, std::span<uint8_t>(memory.data() + at, kConfigAreaSize));
}

DeviceIdentity FirmwareDownload::PresentedIdentity(const SpiFlash& flash, const VendorState& vendor,
                                                   const DeviceIdentity& fallback) const {
  if (stage_ != FirmwareStage::kProduct) return fallback;
  if (family_.banks) {
    const DeviceIdentity fromBank = BankIdentity(BootedImage(flash), fallback);
    return RecordIdentity(vendor.identityRecord, vendor.identityValue1, vendor.identityValue2,
                          fromBank);
  }
  const uint32_t at = ConfigAreaAddress();
  const auto& memory = flash.memory();
  if (!flash.present() || uint64_t{at} + kConfigAreaSize > memory.size()) return fallback;
  return ConfigAreaIdentity(std::span<const uint8_t>(memory.data() + at, kConfigAreaSize),
                            fallback);
}

}  // namespace sim
