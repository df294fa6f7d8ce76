// FF 04 commands: the SPI flash (reads, programs, erases, raw SPI cycles),
// the other flash family's parallel part, the flash settings the station
// hands down, the revision and configuration blocks, standby and reset.
#include <algorithm>
#include <array>
#include <vector>

#include "platform/byte_order.h"
#include "sim/bridge_commands.h"
#include "sim/chip_models.h"
#include "sim/ff04_operations.h"
#include "sim/parallel_flash.h"
#include "sim/spi_flash.h"
#include "sim/standby_state.h"

namespace sim::commands {

namespace {

using platform::GetBigEndian16;
using platform::GetBigEndian24;
using platform::GetBigEndian32;

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

}  // namespace

CommandResult Ff04Command(Context& c, const Request& r) {
  if (r.cdbLength < 12 || r.cdb[1] != 0x04 || c.bootCode) return Check();
  const uint8_t* cdb = r.cdb;
  SpiFlash& f = c.flash;
  const uint32_t a24 = GetBigEndian24(cdb + 3);
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
      const uint32_t n = GetBigEndian16(cdb + 7);
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
      c.vendor.opcodeParameter = static_cast<uint16_t>(GetBigEndian16(cdb + 7));
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
      SetStandby(c.vendor, cdb[3] != 0, GetBigEndian32(cdb + 4));
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

}  // namespace sim::commands
