// DF commands: the bridge id, the configuration memory (an EEPROM, or the
// head of the SPI flash for the families that keep it there) and the
// register space; any other DF command carries an ATA task file.
#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"
#include "sim/bridge_commands.h"
#include "sim/chip_models.h"
#include "sim/disk_image.h"
#include "sim/product_config.h"
#include "sim/spi_flash.h"

namespace sim::commands {

namespace {

using platform::GetBigEndian16;
using platform::GetBigEndian24;

constexpr uint32_t kEepromSector = 4096;

// Registers the station reads besides plain memory.
constexpr uint16_t kPortRegister = 0x720F;
constexpr uint8_t kPort0Drive = 0x04;
constexpr uint8_t kPort0Atapi = 0x01;
constexpr uint8_t kPort1Drive = 0x40;
constexpr uint8_t kPort1Atapi = 0x10;

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

}  // namespace

CommandResult DfCommand(Context& c, const Request& r) {
  if (r.cdbLength < 12) return Check();
  const uint8_t* cdb = r.cdb;
  const uint32_t n = GetBigEndian24(cdb + 2);
  switch (cdb[11]) {
    case 0xFF: {
      if (cdb[1] != 0x10) return Check();
      const uint8_t id[2] = {static_cast<uint8_t>((c.model.bridgeIdClass & 3) << 5),
                             c.model.chipType};
      return Reply(r, id, sizeof id, n);
    }
    case 0xFA:
      if (cdb[1] != 0x10 || c.bootCode) return Check();
      return ConfigRead(c, r, GetBigEndian24(cdb + 8), n);
    case 0xFB:
      if (c.bootCode) return Check();
      return ConfigWrite(c, r, GetBigEndian24(cdb + 8), n, cdb[1] & 0x87);
    case 0xFD:
    case 0xFE: {
      const bool in = cdb[11] == 0xFD;
      if (cdb[1] != (in ? 0x10 : 0x00)) return Check();
      const uint32_t address = GetBigEndian16(cdb + 6);
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

}  // namespace sim::commands
