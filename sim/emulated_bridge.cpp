#include "sim/emulated_bridge.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include "sim/chip_models.h"
#include "sim/disk_image.h"
#include "sim/ff04_operations.h"
#include "sim/firmware_download.h"
#include "sim/identity_image.h"
#include "sim/parallel_flash.h"
#include "sim/spi_flash.h"
#include "sim/standby_state.h"
#include "sim/ufs_unit.h"

namespace sim {

namespace {

constexpr uint8_t kGood = 0;
constexpr uint8_t kCheckCondition = 2;
constexpr uint32_t kRegisterSpace = 64 * 1024;
constexpr uint32_t kRevisionBlockLength = 40;
constexpr uint32_t kConfigBlockLength = 256;
constexpr uint32_t kInquiryLength = 96;
constexpr uint32_t kPageC3Length = 84;
constexpr uint32_t kIdentityRecordLength = 72;
constexpr uint32_t kModeHeaderLength = 8;
constexpr uint32_t kPowerPageLength = 40;
constexpr uint32_t kEepromSector = 4096;

// Registers the station reads besides plain memory.
constexpr uint16_t kPortRegister = 0x720F;
constexpr uint8_t kPort0Drive = 0x04;
constexpr uint8_t kPort0Atapi = 0x01;
constexpr uint8_t kPort1Drive = 0x40;
constexpr uint8_t kPort1Atapi = 0x10;
constexpr uint16_t kBankSelectRegister = 0x506A;
constexpr uint8_t kBankSelectBit = 0x01;
constexpr uint16_t kUsbModeRegister = 0x702B;
constexpr uint8_t kUsb3EnabledBit = 0x04;
constexpr uint16_t kSignatureRegister = 0xC000;
// The two 4-byte words the USB 3.0 check rewrites (bit 4 of their first
// byte); power-on values with other bits set, which a read-modify-write keeps.
constexpr uint16_t kPhyControl0 = 0x5000;
constexpr uint16_t kPhyControl8 = 0x5008;
constexpr std::array<uint8_t, 4> kPhyControl0PowerOn = {0x21, 0x00, 0x80, 0x00};
constexpr std::array<uint8_t, 4> kPhyControl8PowerOn = {0x03, 0x40, 0x00, 0x01};

// Command sequences of the other flash family: FF 04 04 hands the erase
// sequence, FF 04 02 carries the program sequence in its CDB.
constexpr std::array<uint8_t, 18> kEraseSequence02 = {0x55, 0x55, 0xAA, 0x2A, 0x55, 0x55,
                                                      0x55, 0x55, 0xAA, 0x2A, 0x55, 0x55,
                                                      0xAA, 0x55, 0x80, 0xAA, 0x55, 0x10};
constexpr std::array<uint8_t, 18> kEraseSequence1 = {0x55, 0x05, 0xAA, 0x02, 0x55, 0x05,
                                                     0x55, 0x05, 0xAA, 0x02, 0x55, 0x05,
                                                     0xAA, 0x55, 0x80, 0xAA, 0x55, 0x10};
constexpr std::array<uint8_t, 9> kProgramSequence02 = {0x55, 0x55, 0xAA, 0x2A, 0x55,
                                                       0x55, 0xAA, 0x55, 0xA0};
constexpr std::array<uint8_t, 9> kProgramSequence1 = {0x55, 0x05, 0xAA, 0x02, 0x55,
                                                      0x05, 0xAA, 0x55, 0xA0};

// The firmware's flash type code (FF 04 23) from the JEDEC id: the station's
// SpiFlashType is this code + 2; 0 means unknown.
struct FlashCodeRow {
  uint8_t b0;
  int b1;  // -1: any
  uint8_t flashType;
};
constexpr std::array<FlashCodeRow, 15> kFlashCodes = {{
    {0x7F, 0x37, 9},
    {0x37, 0x30, 9},
    {0x1F, -1, 6},
    {0xC2, -1, 7},
    {0xEF, -1, 8},
    {0x20, -1, 5},
    {0x1C, -1, 10},
    {0x8C, -1, 11},
    {0x7F, 0x9D, 3},
    {0x62, -1, 12},
    {0xC8, -1, 13},
    {0xA1, -1, 14},
    {0x9D, 0x40, 15},
    {0xE0, 0x40, 16},
    {0xBF, -1, 4},
}};

uint8_t FlashTypeCode(const std::vector<uint8_t>& id) {
  if (id.empty()) return 0;
  const int b1 = id.size() > 1 ? id[1] : -2;
  for (const auto& row : kFlashCodes)
    if (row.b0 == id[0] && (row.b1 < 0 || row.b1 == b1)) return row.flashType - 2;
  return 0;
}

uint32_t Be16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
uint32_t Be24(const uint8_t* p) { return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]; }
uint32_t Be32(const uint8_t* p) { return (Be16(p) << 16) | Be16(p + 2); }
void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
void PutBe64(uint8_t* p, uint64_t v) {
  PutBe32(p, static_cast<uint32_t>(v >> 32));
  PutBe32(p + 4, static_cast<uint32_t>(v));
}

void PutText(uint8_t* out, size_t width, const std::string& text, uint8_t fill) {
  for (size_t i = 0; i < width; ++i)
    out[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : fill;
}

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

// One request as Execute got it.
struct Request {
  const uint8_t* cdb;
  uint8_t cdbLength;
  bool dataIn;
  uint8_t* data;
  uint32_t length;
};

// The maker's own commands, which another maker's bridge does not know.
bool IsVendorOpcode(uint8_t opcode) {
  return opcode == 0xDF || opcode == 0xFF || opcode == 0xE0 || opcode == 0xC3 || opcode == 0x3B ||
         opcode == 0x3C;
}

CommandResult Check() { return {kCheckCondition, 0, false}; }
CommandResult Good(uint32_t moved = 0) { return {kGood, moved, false}; }

// A data-in reply of `size` bytes, cut to the allocation and to the buffer.
CommandResult Reply(const Request& r, const uint8_t* reply, uint32_t size,
                    uint32_t allocation = UINT32_MAX) {
  if (!r.dataIn && r.length > 0) return Check();
  const uint32_t n = std::min({size, allocation, r.length});
  if (n > 0) std::memcpy(r.data, reply, n);
  return Good(n);
}

// A command that moves exactly `n` bytes named in its CDB: the buffer must
// hold them and the direction must agree.
bool Fits(const Request& r, bool in, uint32_t n) {
  if (n == 0) return r.dataIn == in || r.length == 0;
  return r.dataIn == in && r.length >= n;
}

bool NoData(const Request& r) { return r.length == 0; }

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
  if (FindDownloadFamily(s.model->chipType) != nullptr)
    s.download = std::make_unique<FirmwareDownload>(*s.model, config_, *flash_);
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
  PutText(s.revisionBlock.data(), s.revisionBlock.size(), revision, 0);
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

void EmulatedBridge::PowerOn() {
  State& s = *state_;
  if (ufs_) ufs_->PowerOn();
  flash_->Reset();
  otherFlash_->Reset();
  identity_ = ConfiguredIdentity(config_);
  if (otherFlash_->present() && !s.bootCode)
    identity_ = DecodeIdentityImage(flash_->memory().data(), flash_->size(), identity_);
  if (s.download) s.download->PowerOn(*flash_);
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

namespace {

// The device state Execute's helpers work on.
struct Context {
  const ProductConfig& config;
  const ChipModel& model;
  bool bootCode;
  SpiFlash& flash;
  DiskImage& disk;   // port 0
  DiskImage& disk2;  // port 1
  uint8_t unit;      // 0: the bridge's unit; 1: the port-1 drive's own
  std::vector<uint8_t>& configMemory;
  std::vector<uint8_t>& registers;
  VendorState& vendor;
  std::array<uint8_t, kConfigBlockLength>& configBlock;
  std::array<uint8_t, kRevisionBlockLength>& revisionBlock;
  bool configInFlash;
  ParallelFlash& otherFlash;
  const DeviceIdentity& identity;
};

// The drive a task file reaches: the port its device byte names (0xA0
// master, 0xB0 slave), or on the port-1 unit that drive alone. Null when
// no drive is there.
DiskImage* DriveAt(Context& c, uint8_t device) {
  DiskImage& drive = (c.unit == 1 || (device & 0x10) != 0) ? c.disk2 : c.disk;
  if (&drive == &c.disk && c.config.ufs.present) return nullptr;  // a UFS device is no ATA drive
  return drive.present() ? &drive : nullptr;
}

// The drive the unit's SCSI commands address.
DiskImage& UnitDrive(Context& c) { return c.unit == 1 ? c.disk2 : c.disk; }

uint8_t PortRegister(const Context& c) {
  if (c.bootCode) return 0;  // the boot code does not look for drives
  uint8_t value = 0;
  if (c.disk.present() && !c.config.ufs.present)
    value |= c.disk.packetDevice() ? kPort0Drive | kPort0Atapi : kPort0Drive;
  if (c.disk2.present()) value |= c.disk2.packetDevice() ? kPort1Drive | kPort1Atapi : kPort1Drive;
  return value;
}

// A register read as the hardware answers it over [address, address + n).
void ReadRegisters(const Context& c, uint32_t address, uint8_t* out, uint32_t n) {
  std::memcpy(out, c.registers.data() + address, n);
  auto at = [&](uint32_t reg) { return reg >= address && reg < address + n ? out + (reg - address) : nullptr; };
  if (uint8_t* p = at(kPortRegister)) *p = PortRegister(c);
  if (uint8_t* p = at(kBankSelectRegister); p != nullptr && c.config.bankSelect) *p |= kBankSelectBit;
}

// Block transfer in sectors over the given range; `limit` is the last
// sector + 1 the command may reach.
CommandResult BlockTransfer(DiskImage& disk, const Request& r, bool in, uint64_t lba,
                            uint64_t count, uint64_t limit) {
  const uint32_t ss = disk.sectorSize();
  if (!disk.present() || disk.packetDevice()) return Check();
  if (lba > limit || count > limit - lba) return Check();
  const uint64_t bytes = count * ss;
  if (r.dataIn != in && r.length > 0) return Check();
  // Whole sectors only, and the buffer must hold them.
  if (r.length % ss != 0 || r.length < bytes) return Check();
  if (!in && r.length != bytes) return Check();
  if (count == 0) return Good();
  const bool ok = in ? disk.Read(lba, count, r.data) : disk.Write(lba, count, r.data);
  if (!ok) return Check();
  return Good(static_cast<uint32_t>(bytes));
}

CommandResult ConfigRead(Context& c, const Request& r, uint32_t address, uint32_t n) {
  if (!Fits(r, true, n)) return Check();
  if (c.configInFlash) {
    if (!c.flash.present() || uint64_t{address} + n > c.flash.size()) return Check();
    c.flash.Read(address, r.data, n);
  } else {
    if (c.configMemory.empty() || uint64_t{address} + n > c.configMemory.size()) return Check();
    std::memcpy(r.data, c.configMemory.data() + address, n);
  }
  return Good(n);
}

// The head of a flash-backed configuration memory is the configuration
// record, which the station rewrites in place (a write-verify of its first
// 128 bytes, a test pattern and the bytes restored): a write without erase
// that stays inside the first sector keeps the rest of that sector and
// rewrites it. Writes elsewhere program as the flash does, so a chunk that
// the station forgot to erase still shows on verify.
void UpdateConfigRecord(SpiFlash& f, uint8_t sectorOpcode, const uint8_t* data, uint32_t n) {
  std::vector<uint8_t> sector(f.EraseSize(sectorOpcode));
  f.Read(0, sector.data(), static_cast<uint32_t>(sector.size()));
  std::copy_n(data, n, sector.begin());
  f.EraseByOpcode(sectorOpcode, 0);
  f.Program(0, sector.data(), static_cast<uint32_t>(sector.size()));
}

// Erase types (byte 1 AND 0x87; bit 7 only marks the first chunk for one
// flash type): 0 write as it stands, 1/4 erase the sector at the address
// first, 2/5 the block, 3/6/7 the whole memory (3 with no data only erases).
CommandResult ConfigWrite(Context& c, const Request& r, uint32_t address, uint32_t n,
                          uint8_t eraseType) {
  if (!Fits(r, false, n)) return Check();
  const uint8_t type = eraseType & 0x07;
  if (c.configInFlash) {
    SpiFlash& f = c.flash;
    if (!f.present() || address >= f.size() || uint64_t{address} + n > f.size()) return Check();
    const auto& ops = c.vendor.flashOpcodes;
    if (type == 1 || type == 4) f.EraseByOpcode(ops[3], address);
    if (type == 2 || type == 5) f.EraseByOpcode(ops[1], address);
    if (type == 3 || type == 6 || type == 7) f.EraseByOpcode(ops[0], 0);
    if (type == 0 && address == 0 && n > 0 && n <= f.EraseSize(ops[3])) {
      UpdateConfigRecord(f, ops[3], r.data, n);
      return Good(n);
    }
    f.Program(address, r.data, n);  // without an erase this ANDs, as the flash does
    return Good(n);
  }
  auto& m = c.configMemory;
  if (m.empty() || address >= m.size() || uint64_t{address} + n > m.size()) return Check();
  auto eraseUnit = [&](uint32_t unit) {
    const uint32_t base = address - address % unit;
    std::fill(m.begin() + base, m.begin() + std::min<uint64_t>(uint64_t{base} + unit, m.size()),
              0xFF);
  };
  if (type == 1 || type == 4) eraseUnit(kEepromSector);
  if (type == 2 || type == 5) eraseUnit(c.flash.config().blockSize);
  if (type == 3 || type == 6 || type == 7) std::fill(m.begin(), m.end(), 0xFF);
  if (n > 0) std::memcpy(m.data() + address, r.data, n);  // an EEPROM overwrites
  return Good(n);
}

CommandResult AtaTask(Context& c, const Request& r) {
  const uint8_t* cdb = r.cdb;
  if (cdb[1] != 0x10 && cdb[1] != 0x00) return Check();
  const bool in = cdb[1] == 0x10;
  const uint32_t n = Be24(cdb + 2);
  const uint8_t feature = cdb[5], count = cdb[6], lbaLow = cdb[7], lbaMid = cdb[8],
                lbaHigh = cdb[9], device = cdb[10], command = cdb[11];
  if (in != r.dataIn && r.length > 0) return Check();
  DiskImage* drive = DriveAt(c, device);
  if (drive == nullptr) return Check();
  switch (command) {
    case 0xEC:
    case 0xA1: {
      // A drive answers only the IDENTIFY of its own kind.
      if ((command == 0xA1) != drive->packetDevice()) return Check();
      if (!in || n != 512 || !Fits(r, true, n)) return Check();
      const auto id = drive->Identify();
      std::memcpy(r.data, id.data(), id.size());
      return Good(512);
    }
    case 0xB0: {
      if (feature != 0xDA || lbaMid != 0x4F || lbaHigh != 0xC2) return Check();
      if (drive->packetDevice() || !in || n != 1 || !Fits(r, true, n)) return Check();
      r.data[0] = 0xC2;  // LBA high of a drive that reports no threshold exceeded
      return Good(1);
    }
    case 0x25:
    case 0x35: {
      // The tunnel carries LBA28: LBA low/mid/high and the device register's
      // low nibble; a count of 0 means 256 sectors.
      if (in != (command == 0x25)) return Check();
      const uint64_t lba = lbaLow | (uint32_t{lbaMid} << 8) | (uint32_t{lbaHigh} << 16) |
                           (uint32_t{device & 0x0Fu} << 24);
      const uint64_t sectors = count == 0 ? 256 : count;
      if (n != sectors * drive->sectorSize() || r.length < n) return Check();
      const Request exact{r.cdb, r.cdbLength, r.dataIn, r.data, in ? r.length : n};
      return BlockTransfer(*drive, exact, in, lba, sectors, drive->totalSectors());
    }
    case 0xE7:
    case 0xEA:
      return n == 0 && NoData(r) ? Good() : Check();
    default:
      return Check();
  }
}

CommandResult DfCommand(Context& c, const Request& r) {
  if (r.cdbLength < 12) return Check();
  const uint8_t* cdb = r.cdb;
  const uint32_t n = Be24(cdb + 2);
  switch (cdb[11]) {
    case 0xFF: {
      if (cdb[1] != 0x10) return Check();
      const uint8_t id[2] = {static_cast<uint8_t>((c.model.bridgeIdClass & 3) << 5),
                             c.model.chipType};
      return Reply(r, id, sizeof id, n);
    }
    case 0xFA:
      if (cdb[1] != 0x10 || c.bootCode) return Check();
      return ConfigRead(c, r, Be24(cdb + 8), n);
    case 0xFB:
      if (c.bootCode) return Check();
      return ConfigWrite(c, r, Be24(cdb + 8), n, cdb[1] & 0x87);
    case 0xFD:
    case 0xFE: {
      const bool in = cdb[11] == 0xFD;
      if (cdb[1] != (in ? 0x10 : 0x00)) return Check();
      const uint32_t address = Be16(cdb + 6);
      if (uint64_t{address} + n > kRegisterSpace || !Fits(r, in, n)) return Check();
      if (in)
        ReadRegisters(c, address, r.data, n);
      else if (n > 0)
        std::memcpy(c.registers.data() + address, r.data, n);
      return Good(n);
    }
    default:
      if (c.bootCode) return Check();
      return AtaTask(c, r);
  }
}

// Raw SPI: clock `n` bytes from `out` (or zeros) and keep what came back.
void Clock(SpiFlash& f, const uint8_t* out, uint8_t* in, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t b = f.Transfer(out != nullptr ? out[i] : 0x00);
    if (in != nullptr) in[i] = b;
  }
}

bool ValidSequence(const uint8_t* bytes, const uint8_t* a, const uint8_t* b, size_t n) {
  return std::equal(bytes, bytes + n, a) || std::equal(bytes, bytes + n, b);
}

CommandResult Ff04Command(Context& c, const Request& r) {
  if (r.cdbLength < 12 || r.cdb[1] != 0x04 || c.bootCode) return Check();
  const uint8_t* cdb = r.cdb;
  SpiFlash& f = c.flash;
  const uint32_t a24 = Be24(cdb + 3);
  auto flashRange = [&](uint64_t address, uint64_t n) {
    return f.present() && address + n <= f.size();
  };
  if (c.model.family == ChipFamily::kOtherFlash && cdb[2] <= ff04::kFlashMode) {
    const OtherFlashReply reply = RunOtherFlashCommand(
        c.otherFlash, {c.vendor.flashMode, c.vendor.flashTypeBlock}, cdb, r.dataIn, r.data,
        r.length);
    return reply.good ? Good(reply.transferred) : Check();
  }
  switch (cdb[2]) {
    case ff04::kBusyPoll: {
      const uint8_t busy = (f.ReadStatus() & SpiFlash::kBusy) != 0 ? 1 : 0;
      return Reply(r, &busy, 1);
    }
    case ff04::kParallelErase:  // other flash family: run the erase sequence FF 04 04 handed over
      if (!NoData(r)) return Check();
      if (ValidSequence(c.vendor.flashTypeBlock.data(), kEraseSequence02.data(),
                        kEraseSequence1.data(), kEraseSequence02.size()))
        f.EraseByOpcode(0xC7, 0);
      return Good();
    case ff04::kParallelProgram:  // other flash family: program from address 0 behind the unlock bytes
      if (r.dataIn && r.length > 0) return Check();
      if (!flashRange(0, r.length)) return Check();
      if (ValidSequence(cdb + 3, kProgramSequence02.data(), kProgramSequence1.data(),
                        kProgramSequence02.size()))
        f.Program(0, r.data, r.length);
      return Good(r.length);
    case ff04::kParallelRead: {
      const uint32_t address = cdb[3] | (uint32_t{cdb[4]} << 8) | (uint32_t{cdb[5]} << 16) |
                               (uint32_t{cdb[6]} << 24);
      if (!r.dataIn || !flashRange(address, r.length)) return Check();
      f.Read(address, r.data, r.length);
      return Good(r.length);
    }
    case ff04::kEraseCycles:
      if (!Fits(r, false, 18)) return Check();
      std::copy_n(r.data, 18, c.vendor.flashTypeBlock.begin());
      return Good(18);
    case ff04::kFlashMode:
      if (!NoData(r)) return Check();
      c.vendor.flashMode = true;
      return Good();
    case ff04::kRead:
      if (!r.dataIn || !flashRange(a24, r.length)) return Check();
      f.Read(a24, r.data, r.length);
      return Good(r.length);
    case ff04::kProgram:
      if ((r.dataIn && r.length > 0) || !flashRange(a24, r.length)) return Check();
      f.Program(a24, r.data, r.length);
      return Good(r.length);
    case ff04::kReadStatus: {
      const uint8_t status = f.ReadStatus();
      return Reply(r, &status, 1);
    }
    case ff04::kChipErase:
      if (!NoData(r)) return Check();
      f.EraseByOpcode(c.vendor.flashOpcodes[0], 0);
      return Good();
    case ff04::kBlockErase:
      if (!NoData(r) || !flashRange(a24, 1)) return Check();
      f.EraseByOpcode(c.vendor.flashOpcodes[1], a24);
      return Good();
    case ff04::kReadId: {
      // 15 03/04 v [03]: reply of 3 or 4 bytes to SPI opcode v (0: the id the
      // firmware read at start), with three dummy bytes clocked first when wide.
      const uint32_t n = cdb[3];
      if (n != 3 && n != 4) return Check();
      std::array<uint8_t, 4> reply{};
      if (cdb[4] == 0) {
        const auto& id = f.present() ? f.jedecId() : std::vector<uint8_t>(4, 0xFF);
        std::copy_n(id.begin(), std::min<size_t>(id.size(), n), reply.begin());
      } else {
        const uint8_t opcode = cdb[4];
        f.Select();
        Clock(f, &opcode, nullptr, 1);
        if (cdb[5] == 0x03) Clock(f, nullptr, nullptr, 3);
        Clock(f, nullptr, reply.data(), n);
        f.Deselect();
      }
      return Reply(r, reply.data(), n);
    }
    case ff04::kSpiCommand: {
      const uint32_t count = cdb[3];
      const uint8_t dataPhase = cdb[4];
      if (count < 1 || count > 7 || dataPhase > 1) return Check();
      if (r.dataIn && r.length > 0) return Check();
      f.Select();
      Clock(f, cdb + 5, nullptr, count);
      Clock(f, r.data, nullptr, r.length);
      if (dataPhase == 0) f.Deselect();
      return Good(r.length);
    }
    case ff04::kSpiReadData: {
      const uint32_t n = Be16(cdb + 7);
      if (!f.selected() || !Fits(r, true, n)) return Check();
      Clock(f, nullptr, r.data, n);
      f.Deselect();
      return Good(n);
    }
    case ff04::kSpiWriteData: {
      const uint32_t n = cdb[8];
      if (!f.selected() || !Fits(r, false, n)) return Check();
      Clock(f, r.data, nullptr, n);
      f.Deselect();
      return Good(n);
    }
    case ff04::kFlashTypeCode: {
      if (cdb[3] != 0x04) return Check();
      uint8_t code = f.present() ? FlashTypeCode(f.jedecId()) : uint8_t{0};
      if (f.present() && f.config().typeCode >= 0) code = static_cast<uint8_t>(f.config().typeCode);
      const uint8_t reply[4] = {code, 0, 0, 0};
      return Reply(r, reply, sizeof reply);
    }
    case ff04::kSetEraseOpcodes: {
      if (cdb[3] != 0x02) return Check();
      c.vendor.flashOpcodes[0] = cdb[4];
      c.vendor.flashOpcodes[1] = cdb[5];
      c.vendor.flashOpcodes[2] = cdb[6];
      c.vendor.flashCode = cdb[7];
      const uint8_t reply[2] = {0, 0};
      return Reply(r, reply, sizeof reply);
    }
    case ff04::kFlashOption:
      if (cdb[3] == 0x02) {
        c.vendor.flashOption = cdb[4];
        const uint8_t reply[2] = {0, 0};
        return Reply(r, reply, sizeof reply);
      }
      if (!NoData(r)) return Check();
      c.vendor.vendorCmd25 = true;
      return Good();
    case ff04::kSetOpcodes:
      if (!NoData(r)) return Check();
      std::copy_n(cdb + 3, 4, c.vendor.flashOpcodes.begin());
      c.vendor.opcodeParameter = static_cast<uint16_t>(Be16(cdb + 7));
      return Good();
    case ff04::kReset:
      if (cdb[3] != 'Q' || cdb[4] != 'V' || !NoData(r)) return Check();
      return {kGood, 0, true};
    case ff04::kRevisionBlock:
      if (cdb[3] != 0x08) return Check();
      return Reply(r, c.revisionBlock.data(), kRevisionBlockLength);
    case ff04::kConfigBlock:
      return Reply(r, c.configBlock.data(), ConfigBlockLength(c.model), cdb[3]);
    case ff04::kStandby:
      if (!NoData(r)) return Check();
      SetStandby(c.vendor, cdb[3] != 0, Be32(cdb + 4));
      return Good();
    case ff04::kStatus: {
      if (cdb[3] == 0x05) {
        if (!NoData(r)) return Check();
        c.vendor.status5 = cdb[4];
        return Good();
      }
      if (cdb[3] > 0x03) return Check();
      const uint8_t status = cdb[3] == 0x03 ? 1 : 0;  // status 3: ready
      return Reply(r, &status, 1);
    }
    case ff04::kKeyCommand:
      if (cdb[3] != 'V' || cdb[4] != 'U' || !NoData(r)) return Check();
      c.vendor.keyCommand = true;
      return Good();
    default:
      return Check();
  }
}

CommandResult Inquiry(Context& c, const Request& r) {
  if (r.cdbLength < 6) return Check();
  const uint8_t* cdb = r.cdb;
  const uint32_t allocation = Be16(cdb + 3);
  if (cdb[1] & 0x01) {
    if (cdb[2] != 0xC3) return Check();
    std::array<uint8_t, kPageC3Length> page{};
    page[1] = 0xC3;
    page[3] = kPageC3Length - 4;
    page[8] = static_cast<uint8_t>(c.identity.vid >> 8);
    page[9] = static_cast<uint8_t>(c.identity.vid);
    page[10] = static_cast<uint8_t>(c.identity.pid >> 8);
    page[11] = static_cast<uint8_t>(c.identity.pid);
    PutText(page.data() + 64, 20, c.identity.serial, ' ');
    return Reply(r, page.data(), page.size(), allocation);
  }
  if (cdb[2] != 0) return Check();
  std::array<uint8_t, kInquiryLength> data{};
  data[0] = UnitDrive(c).packetDevice() ? 0x05 : 0x00;
  data[2] = 0x06;
  data[3] = 0x02;
  data[4] = kInquiryLength - 5;
  PutText(data.data() + 8, 8, c.identity.inquiryVendor, ' ');
  PutText(data.data() + 16, 16, c.identity.inquiryProduct, ' ');
  PutText(data.data() + 32, 4, c.identity.inquiryRevision, ' ');
  if (!c.bootCode && c.config.chipCodeInInquiry && !c.config.foreignBridge &&
      !c.model.inquiryCode.empty())
    PutText(data.data() + 36, 4, std::string(c.model.inquiryCode), ' ');
  return Reply(r, data.data(), data.size(), allocation);
}

CommandResult SatCommand(Context& c, const Request& r) {
  if (r.cdbLength < 12 || c.bootCode) return Check();
  const uint8_t device = r.cdb[8];
  const uint8_t command = r.cdb[9];
  DiskImage* drive = DriveAt(c, device);
  if (drive == nullptr) return Check();
  switch (command) {
    case 0xEC:
    case 0xA1: {
      if ((command == 0xA1) != drive->packetDevice() || !Fits(r, true, 512)) return Check();
      const auto id = drive->Identify();
      std::memcpy(r.data, id.data(), id.size());
      return Good(512);
    }
    case 0xE7:
    case 0xEA:
      return NoData(r) ? Good() : Check();
    default:
      return Check();
  }
}

CommandResult AtaPassThrough16(Context& c, const Request& r) {
  if (r.cdbLength < 16 || c.bootCode) return Check();
  const uint8_t* cdb = r.cdb;
  const uint8_t command = cdb[14];
  if (command != 0x25 && command != 0x35) return Check();
  DiskImage* drive = DriveAt(c, cdb[13]);
  if (drive == nullptr) return Check();
  const uint64_t count = Be16(cdb + 5);
  const uint64_t lba = (uint64_t{cdb[11]} << 40) | (uint64_t{cdb[9]} << 32) |
                       (uint64_t{cdb[7]} << 24) | (uint64_t{cdb[12]} << 16) |
                       (uint64_t{cdb[10]} << 8) | cdb[8];
  return BlockTransfer(*drive, r, command == 0x25, lba, count == 0 ? 65536 : count,
                       drive->totalSectors());
}

CommandResult ModeSense(Context& c, const Request& r) {
  if (r.cdbLength < 10 || (r.cdb[2] & 0x3F) != 0x1A) return Check();
  std::array<uint8_t, kModeHeaderLength + kPowerPageLength> data{};
  data[1] = static_cast<uint8_t>(data.size() - 2);  // mode data length; no block descriptors
  std::copy(c.vendor.powerCondition.begin(), c.vendor.powerCondition.end(),
            data.begin() + kModeHeaderLength);
  return Reply(r, data.data(), data.size(), Be16(r.cdb + 7));
}

CommandResult ModeSelect(Context& c, const Request& r) {
  if (r.cdbLength < 10) return Check();
  const uint32_t n = Be16(r.cdb + 7);
  if (!Fits(r, false, n) || n < kModeHeaderLength) return Check();
  const uint32_t pageAt = kModeHeaderLength + Be16(r.data + 6);  // after block descriptors
  if (uint64_t{pageAt} + kPowerPageLength > n) return Check();
  const uint8_t* page = r.data + pageAt;
  if ((page[0] & 0x3F) != 0x1A || page[1] != kPowerPageLength - 2) return Check();
  std::copy_n(page, kPowerPageLength, c.vendor.powerCondition.begin());
  c.vendor.powerCondition[0] &= 0x7F;
  StandbyFromPage(c.vendor);
  return Good(n);
}

CommandResult IdentityRecord(Context& c, const Request& r) {
  if (r.cdbLength < 12 || r.cdb[1] != 0x30) return Check();
  if (c.model.family != ChipFamily::kBuffer4K && c.model.family != ChipFamily::kBuffer1K)
    return Check();
  if (Be16(r.cdb + 8) != kIdentityRecordLength || !Fits(r, false, kIdentityRecordLength))
    return Check();
  c.vendor.identityRecord.assign(r.data, r.data + kIdentityRecordLength);
  c.vendor.identityValue1 = static_cast<uint16_t>(Be16(r.cdb + 4));
  c.vendor.identityValue2 = static_cast<uint16_t>(Be16(r.cdb + 6));
  return Good(kIdentityRecordLength);
}

CommandResult DiskCommand(Context& c, const Request& r) {
  DiskImage& disk = UnitDrive(c);
  if (c.bootCode || !disk.present() || disk.packetDevice()) return Check();
  const uint8_t* cdb = r.cdb;
  const uint64_t sectors = disk.sectors();
  const uint32_t ss = disk.sectorSize();
  switch (cdb[0]) {
    case 0x25: {
      if (r.cdbLength < 10) return Check();
      uint8_t data[8];
      PutBe32(data, sectors == 0 ? 0 : static_cast<uint32_t>(std::min<uint64_t>(sectors - 1, 0xFFFFFFFF)));
      PutBe32(data + 4, ss);
      return Reply(r, data, sizeof data);
    }
    case 0x9E: {
      if (r.cdbLength < 16 || (cdb[1] & 0x1F) != 0x10) return Check();
      uint8_t data[32] = {};
      PutBe64(data, sectors == 0 ? 0 : sectors - 1);
      PutBe32(data + 8, ss);
      return Reply(r, data, sizeof data, Be32(cdb + 10));
    }
    case 0x28:
    case 0x2A:
      if (r.cdbLength < 10) return Check();
      return BlockTransfer(disk, r, cdb[0] == 0x28, Be32(cdb + 2), Be16(cdb + 7), sectors);
    case 0x35:  // SYNCHRONIZE CACHE(10): nothing is cached
    case 0x04:  // FORMAT UNIT without a parameter list: the medium keeps its sectors
      return NoData(r) ? Good() : Check();
    default:
      return Check();
  }
}

}  // namespace

CommandResult EmulatedBridge::Execute(const uint8_t* cdb, uint8_t cdbLength, bool dataIn,
                                      uint8_t* data, uint32_t length) {
  return ExecuteOnUnit(0, cdb, cdbLength, dataIn, data, length);
}

CommandResult EmulatedBridge::ExecuteOnUnit(uint8_t unit, const uint8_t* cdb, uint8_t cdbLength,
                                            bool dataIn, uint8_t* data, uint32_t length) {
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
