#include "sim/emulated_bridge.h"

#include <algorithm>
#include <optional>

#include "platform/clock.h"
#include "sim/bridge_commands.h"
#include "sim/chip_models.h"
#include "sim/disk_image.h"
#include "sim/firmware_identity.h"
#include "sim/firmware_download.h"
#include "sim/identity_image.h"
#include "sim/parallel_flash.h"
#include "sim/spi_flash.h"
#include "sim/ufs_unit.h"

namespace sim {

using commands::Check;
using commands::kBankSelectBit;
using commands::kBankSelectRegister;
using commands::kConfigBlockLength;
using commands::kPowerPageLength;
using commands::kRegisterSpace;
using commands::kRevisionBlockLength;

namespace {

constexpr uint16_t kUsbModeRegister = 0x702B;
constexpr uint8_t kUsb3EnabledBit = 0x04;
constexpr uint16_t kSignatureRegister = 0xC000;
// The two 4-byte words the USB 3.0 check rewrites (bit 4 of their first
// byte); power-on values with other bits set, which a read-modify-write keeps.
constexpr uint16_t kPhyControl0 = 0x5000;
constexpr uint16_t kPhyControl8 = 0x5008;
constexpr std::array<uint8_t, 4> kPhyControl0PowerOn = {0x21, 0x00, 0x80, 0x00};
constexpr std::array<uint8_t, 4> kPhyControl8PowerOn = {0x03, 0x40, 0x00, 0x01};

// 55 AA AA 55, the model digits and the revision digit as the fourth
// character, two zero bytes.
std::array<uint8_t, kSignatureRecordLength> SignatureRecord(const ChipModel& model) {
  std::array<uint8_t, kSignatureRecordLength> record{};
  std::copy(kSignatureMagic.begin(), kSignatureMagic.end(), record.begin());
  for (size_t i = 0; i < 3; ++i) record[4 + i] = static_cast<uint8_t>(model.digits[i]);
  record[7] = static_cast<uint8_t>(model.revisionDigit);
  return record;
}

bool HasParallelFlash(uint8_t chipType) {
  const ChipModel* model = FindChipModel(chipType);
  return model != nullptr && model->family == ChipFamily::kOtherFlash;
}

// The identity the bench gives a product, which its firmware presents
// unless an identity image says otherwise.
DeviceIdentity ConfiguredIdentity(const ProductConfig& c) {
  return {c.vid,           c.pid,           c.manufacturer,  c.product,
          c.usbSerial,     c.inquiryVendor, c.inquiryProduct, c.inquiryRevision};
}

void Store(std::vector<uint8_t>& memory, uint32_t address, const uint8_t* bytes, size_t n) {
  if (uint64_t{address} + n <= memory.size()) std::copy_n(bytes, n, memory.begin() + address);
}

// What a product firmware image leaves in the memories of a bridge that
// came from the factory with it: its signature record or flash header.
void StoreFirmwareSignatures(const ChipModel& model, SpiFlash& flash,
                             std::vector<uint8_t>& configMemory, bool configInFlash) {
  for (const FirmwareSignature& place : kFirmwareSignatures) {
    if (place.chipType != model.chipType) continue;
    if (place.place == SignaturePlace::kFlashHeader) {
      const uint8_t header[7] = {0x55, 0xAA, 'Q', 'V', static_cast<uint8_t>(model.digits[0]),
                                 static_cast<uint8_t>(model.digits[1]),
                                 static_cast<uint8_t>(model.digits[2])};
      Store(flash.memory(), place.address, header, sizeof header);
    } else {
      const auto record = SignatureRecord(model);
      Store(configInFlash ? flash.memory() : configMemory, place.address, record.data(),
            record.size());
    }
  }
}

// Where a product firmware of the older families (ChipTypes 1-20) finds its
// configuration at power-on: the CRC-sealed image families (19, 20) the
// 256-byte page behind their code, the other image families the block at
// the head of the flash, the FF 04 families the block of the 48 KB flash
// layout behind the firmware or else the one in their EEPROM. None: the
// firmware's own identity.
constexpr uint32_t kSealedImageConfig = 0xC000;
constexpr uint32_t kFlash48KConfig = 0x8000;
constexpr uint32_t kConfigBlockBytes = 128;

bool SignedAt(const std::vector<uint8_t>& memory, uint32_t at, uint32_t size) {
  return uint64_t{at} + size <= memory.size() && memory[at + size - 2] == 'Q' && memory[at + size - 1] == 'V';
}

DeviceIdentity StoredConfigIdentity(const ChipModel& model, const std::vector<uint8_t>& flash,
                                    const std::vector<uint8_t>& configMemory, const DeviceIdentity& fallback) {
  const auto span = [](const std::vector<uint8_t>& m, uint32_t at, uint32_t n) {
    return std::span<const uint8_t>(m.data() + at, n);
  };
  if (model.family == ChipFamily::kDf48K) {
    if (model.chipType == 19 || model.chipType == 20) {
      if (!SignedAt(flash, kSealedImageConfig, kConfigAreaSize)) return fallback;
      return ConfigAreaIdentity(span(flash, kSealedImageConfig, kConfigAreaSize), fallback);
    }
    if (!SignedAt(flash, 0, kConfigBlockBytes)) return fallback;
    return ConfigBlockIdentity(span(flash, 0, kConfigBlockBytes), fallback);
  }
  if (model.family != ChipFamily::kFf04Flash32K && model.family != ChipFamily::kConfigType) return fallback;
  if (SignedAt(flash, kFlash48KConfig, kConfigBlockBytes))
    return ConfigBlockIdentity(span(flash, kFlash48KConfig, kConfigBlockBytes), fallback);
  if (SignedAt(configMemory, 0, kConfigBlockBytes))
    return ConfigBlockIdentity(span(configMemory, 0, kConfigBlockBytes), fallback);
  return fallback;
}

// The maker's own commands, which another maker's bridge does not know.
bool IsVendorOpcode(uint8_t opcode) {
  return opcode == 0xDF || opcode == 0xFF || opcode == 0xE0 || opcode == 0xC3 || opcode == 0x3B ||
         opcode == 0x3C;
}

}  // namespace

struct EmulatedBridge::State {
  const ChipModel* model = nullptr;
  bool bootCode = false;
  VendorState vendor;
  std::array<uint8_t, kConfigBlockLength> configBlock{};  // the first ConfigBlockLength bytes answer
  std::array<uint8_t, kRevisionBlockLength> revisionBlock{};
  std::unique_ptr<FirmwareDownload> download;  // READ/WRITE BUFFER families only
};

EmulatedBridge::EmulatedBridge(const ProductConfig& config)
    : config_(config),
      flash_(std::make_unique<SpiFlash>(config.flash)),
      otherFlash_(std::make_unique<ParallelFlash>(
          config.flash, HasParallelFlash(config.chipType) ? &flash_->memory() : nullptr)),
      disk_(std::make_unique<DiskImage>(config.disk)),
      disk2_(std::make_unique<DiskImage>(config.disk2)),
      ufs_(config.ufs.present ? std::make_unique<UfsUnit>(config.ufs) : nullptr),
      state_(std::make_unique<State>()) {
  State& s = *state_;
  s.model = FindChipModel(config_.chipType);
  if (s.model == nullptr) s.model = FindChipModel(21);
  s.bootCode = config_.bootCodeOnly || s.model->family == ChipFamily::kBootCodeOnly;
  if (FindDownloadFamily(s.model->chipType) != nullptr) {
    s.download = std::make_unique<FirmwareDownload>(*s.model, config_, *flash_);
    if (!s.bootCode && !config_.internalCode)
      s.download->StoreFactoryConfigArea(*flash_, ConfiguredIdentity(config_));
  }
  if (!ConfigMemoryInFlash(s.model->family) && config_.configEepromPresent)
    configMemory_.assign(config_.configMemorySize, 0xFF);
  if (!s.bootCode && !config_.internalCode)
    StoreFirmwareSignatures(*s.model, *flash_, configMemory_, ConfigMemoryInFlash(s.model->family));
  // The other flash family came from the factory with its identity image.
  if (otherFlash_->present())
    EncodeIdentityImage(ConfiguredIdentity(config_), flash_->memory().data(), flash_->size());
  s.configBlock[8] = s.model->configType;
  s.configBlock[19] = config_.internalCode ? 0 : 1;  // firmware state: 1 a product firmware runs
  const std::string revision =
      config_.revisionText.empty() ? std::string(s.model->revisionText) : config_.revisionText;
  commands::PutText(s.revisionBlock.data(), s.revisionBlock.size(), revision, 0);
  s.vendor.flashOpcodes = {0xC7, 0xD8, 0x02, 0x20};
  s.vendor.powerCondition[0] = 0x1A;
  s.vendor.powerCondition[1] = kPowerPageLength - 2;
  PowerOn();
}

EmulatedBridge::~EmulatedBridge() = default;

const VendorState& EmulatedBridge::vendorState() const { return state_->vendor; }

const FirmwareDownload* EmulatedBridge::firmwareDownload() const { return state_->download.get(); }

std::vector<uint8_t> EmulatedBridge::BootedImage() const {
  return state_->download ? state_->download->BootedImage(*flash_) : std::vector<uint8_t>{};
}

bool EmulatedBridge::configMemoryInFlash() const {
  return ConfigMemoryInFlash(state_->model->family);
}

bool EmulatedBridge::MediumPresent(int drive) const {
  const DiskImage& d = drive == 0 ? *disk_ : *disk2_;
  return d.present() && (drive != 0 || !ufs_ || ufs_->enabled());
}

uint64_t EmulatedBridge::MediumChangedAt(int drive) const {
  return drive == 0 && ufs_ ? ufs_->changedAt() : 0;
}

bool EmulatedBridge::MediumWritable(int drive) const {
  return MediumPresent(drive) && (drive != 0 || !ufs_ || !ufs_->writeProtected());
}

void EmulatedBridge::PowerOn() { PowerOn(platform::GetTickCount64()); }

void EmulatedBridge::PowerOn(uint64_t at) {
  State& s = *state_;
  if (ufs_) ufs_->PowerOn(at);
  flash_->Reset();
  otherFlash_->Reset();
  identity_ = ConfiguredIdentity(config_);
  if (otherFlash_->present() && !s.bootCode)
    identity_ = DecodeIdentityImage(flash_->memory().data(), flash_->size(), identity_);
  if (s.download) {
    s.download->PowerOn(*flash_);
    identity_ = s.download->PresentedIdentity(*flash_, s.vendor, identity_);
  } else if (!s.bootCode && !config_.internalCode && !otherFlash_->present()) {
    identity_ = StoredConfigIdentity(*s.model, flash_->present() ? flash_->memory() : std::vector<uint8_t>{},
                                     configMemory_, identity_);
  }
  s.vendor.keyCommand = false;
  s.vendor.flashMode = false;
  registers_.assign(kRegisterSpace, 0);
  // Hardware registers, there with or without a firmware.
  registers_[kBankSelectRegister] = config_.bankSelect ? kBankSelectBit : 0;
  std::copy(kPhyControl0PowerOn.begin(), kPhyControl0PowerOn.end(),
            registers_.begin() + kPhyControl0);
  std::copy(kPhyControl8PowerOn.begin(), kPhyControl8PowerOn.end(),
            registers_.begin() + kPhyControl8);
  if (config_.usb3Enabled) registers_[kUsbModeRegister] |= kUsb3EnabledBit;
  if (s.bootCode || config_.internalCode || (s.download && s.download->inBootRom())) return;
  // A product firmware marks itself running (the bit its family has) and
  // shows its signature record at 0xC000.
  for (const RunningMark& mark : kRunningMarks)
    if (mark.chipType == s.model->chipType) registers_[mark.address] |= mark.mask;
  const auto record = SignatureRecord(*s.model);
  std::copy(record.begin(), record.end(), registers_.begin() + kSignatureRegister);
}

CommandResult EmulatedBridge::Execute(const uint8_t* cdb, uint8_t cdbLength, bool dataIn,
                                      uint8_t* data, uint32_t length) {
  return ExecuteOnUnit(0, cdb, cdbLength, dataIn, data, length);
}

CommandResult EmulatedBridge::ExecuteOnUnit(uint8_t unit, const uint8_t* cdb, uint8_t cdbLength,
                                            bool dataIn, uint8_t* data, uint32_t length) {
  using namespace commands;
  if (cdb == nullptr || cdbLength == 0 || cdbLength > 16) return Check();
  if (length > 0 && data == nullptr) return Check();
  if (unit > 1 || (unit == 1 && !disk2_->present())) return Check();
  State& s = *state_;
  // A boot ROM waiting for a manufacturing image answers as boot code does.
  const bool bootCode = s.bootCode || (s.download && s.download->inBootRom());
  Context c{config_,       *s.model,   bootCode, *flash_,       *disk_,
            *disk2_,       unit,       configMemory_, registers_, s.vendor,
            s.configBlock, s.revisionBlock, ConfigMemoryInFlash(s.model->family),
            *otherFlash_,  identity_};
  const Request r{cdb, cdbLength, dataIn, data, length};
  if (config_.foreignBridge && IsVendorOpcode(cdb[0])) return Check();
  if (ufs_ && unit == 0) {
    if (const std::optional<CommandResult> settled = ufs_->Execute(cdb, cdbLength, dataIn, data, length))
      return *settled;
  }
  switch (cdb[0]) {
    case 0xDF:
      return DfCommand(c, r);
    case 0xFF:
      return Ff04Command(c, r);
    case 0xE0: {
      // The buffer families' boot ROM answers it too (the station picks the
      // manufacturing image by it).
      if (cdbLength < 3 || cdb[1] != 0xF4 || cdb[2] != 0xE7 || s.bootCode) return Check();
      auto info = ChipInfoFor(*s.model, config_.firmwareVersion, config_.infoVersion,
                                    config_.internalCode);
      if (s.download) s.download->AdjustChipInfo(info);
      return Reply(r, info.data(), ChipInfoLength(*s.model));
    }
    case 0x12:
      return Inquiry(c, r);
    case 0xA1:
      return SatCommand(c, r);
    case 0x85:
      return AtaPassThrough16(c, r);
    case 0x3B:
    case 0x3C:
      if (!s.download) return Check();
      return s.download->Execute(cdb, cdbLength, dataIn, data, length, *flash_, s.vendor);
    case 0x5A:
      return ModeSense(c, r);
    case 0x55:
      return ModeSelect(c, r);
    case 0xC3:
      return IdentityRecord(c, r);
    case 0x25:
    case 0x9E:
    case 0x28:
    case 0x2A:
    case 0x35:
    case 0x04:
      return DiskCommand(c, r);
    default:
      return Check();
  }
}

}  // namespace sim
