// The command handlers of an emulated bridge, one group of opcodes to a
// file: the vendor DF commands (registers, configuration memory, the ATA
// tunnel), the FF 04 flash and firmware commands, and the standard SCSI and
// ATA commands. EmulatedBridge::ExecuteOnUnit picks the handler by opcode
// and hands it the device state of one request.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sim/bridge_command.h"

namespace sim {

struct ChipModel;
struct DeviceIdentity;
struct ProductConfig;
class DiskImage;
class ParallelFlash;
class SpiFlash;

namespace commands {

inline constexpr uint8_t kGood = 0;
inline constexpr uint8_t kCheckCondition = 2;
inline constexpr uint32_t kRegisterSpace = 64 * 1024;
inline constexpr uint32_t kRevisionBlockLength = 40;
inline constexpr uint32_t kConfigBlockLength = 256;
inline constexpr uint32_t kPowerPageLength = 40;

// Register 0x506A bit 0: the second bank is selected.
inline constexpr uint16_t kBankSelectRegister = 0x506A;
inline constexpr uint8_t kBankSelectBit = 0x01;

// One request as Execute got it.
struct Request {
  const uint8_t* cdb;
  uint8_t cdbLength;
  bool dataIn;
  uint8_t* data;
  uint32_t length;
};

// The device state the handlers work on.
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

inline CommandResult Check() { return {kCheckCondition, 0, false}; }
inline CommandResult Good(uint32_t moved = 0) { return {kGood, moved, false}; }

// A data-in reply of `size` bytes, cut to the allocation and to the buffer.
inline CommandResult Reply(const Request& r, const uint8_t* reply, uint32_t size,
                           uint32_t allocation = UINT32_MAX) {
  if (!r.dataIn && r.length > 0) return Check();
  const uint32_t n = std::min({size, allocation, r.length});
  if (n > 0) std::memcpy(r.data, reply, n);
  return Good(n);
}

// A command that moves exactly `n` bytes named in its CDB: the buffer must
// hold them and the direction must agree.
inline bool Fits(const Request& r, bool in, uint32_t n) {
  if (n == 0) return r.dataIn == in || r.length == 0;
  return r.dataIn == in && r.length >= n;
}

inline bool NoData(const Request& r) { return r.length == 0; }

// `text` in a field of `width` bytes, the rest `fill`.
inline void PutText(uint8_t* out, size_t width, const std::string& text, uint8_t fill) {
  for (size_t i = 0; i < width; ++i)
    out[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : fill;
}

// DF: bridge id, configuration memory, registers; other DF commands carry
// an ATA task file through to a drive.
CommandResult DfCommand(Context& c, const Request& r);
// FF 04: the SPI flash, firmware state and vendor settings.
CommandResult Ff04Command(Context& c, const Request& r);
// The ATA task of a DF command that is not the bridge's own.
CommandResult AtaTask(Context& c, const Request& r);
CommandResult Inquiry(Context& c, const Request& r);
CommandResult SatCommand(Context& c, const Request& r);        // ATA PASS-THROUGH(12)
CommandResult AtaPassThrough16(Context& c, const Request& r);  // its 48-bit reads and writes
CommandResult ModeSense(Context& c, const Request& r);
CommandResult ModeSelect(Context& c, const Request& r);
CommandResult IdentityRecord(Context& c, const Request& r);  // C3 30
// READ CAPACITY (10, 16), READ/WRITE(10), SYNCHRONIZE CACHE, FORMAT UNIT.
CommandResult DiskCommand(Context& c, const Request& r);

}  // namespace commands
}  // namespace sim
