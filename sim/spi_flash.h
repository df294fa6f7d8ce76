// An SPI NOR flash as the bridge sees it on its SPI bus: byte-level
// transactions (chip select, one byte out and one byte in per clocked byte)
// for the raw SPI commands, plus the direct operations the bridge firmware
// runs for its high-level flash commands. Busy times run on the station
// clock, and an erase or program may in addition stay busy for a number of
// status reads. Every operation costs time in proportion to its own bytes
// only, except a chip erase.
//
// In auto-address-increment mode (AD, the SST parts) the flash takes only
// AD, RDSR and WRDI: every other command, the firmware's own included, is
// ignored, so the running address survives the enable and status commands
// around it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/product_config.h"

namespace sim {

class SpiFlash {
 public:
  // Status register bits.
  static constexpr uint8_t kBusy = 0x01;
  static constexpr uint8_t kWriteEnable = 0x02;
  static constexpr uint8_t kProtectMask = 0x1C;  // BP0..BP2
  static constexpr uint32_t kPageSize = 256;

  explicit SpiFlash(const FlashConfig& config);

  const FlashConfig& config() const { return config_; }
  bool present() const { return !memory_.empty(); }
  uint32_t size() const { return static_cast<uint32_t>(memory_.size()); }

  // Raw bus. Select starts a transaction (ending any open one), Transfer
  // clocks one byte and returns what the flash drove, Deselect ends it and
  // carries out a write command that was clocked completely.
  void Select();
  uint8_t Transfer(uint8_t out);
  void Deselect();
  bool selected() const { return selected_; }

  // Firmware paths: they wait for a pending operation (the new one starts
  // when the old one ends), honour the protect bits silently and leave the
  // flash busy for the configured time. Addresses wrap at the flash size.
  void Read(uint32_t address, uint8_t* out, uint32_t length) const;
  void Program(uint32_t address, const uint8_t* data, uint32_t length);  // ANDs bits
  // Erase by opcode: 20/D7 sector, 52 32 KB, D8 block, C7/60/62 chip; other
  // opcodes erase nothing (the flash ignores them). Returns the bytes erased.
  uint32_t EraseByOpcode(uint8_t opcode, uint32_t address);
  // The bytes one erase by this opcode covers (the whole array for the chip
  // erases), 0 for an opcode that erases nothing.
  uint32_t EraseSize(uint8_t opcode) const;

  uint8_t Status() const;    // a look at the register, as a test takes it
  uint8_t ReadStatus();      // an RDSR on the bus: counts, and counts busy down
  bool Busy() const;
  uint64_t statusReads() const { return statusReads_; }
  bool aaiMode() const { return aai_; }
  void SetStatusForTest(uint8_t value) { status_ = value & 0xFC; }
  int64_t busyUntil() const { return busyUntil_; }  // station ns

  // Id replies: 9F bytes, the AB electronic signature.
  const std::vector<uint8_t>& jedecId() const { return config_.jedecId; }
  uint8_t ElectronicSignature() const;

  // Direct view for tests and bench checks.
  const std::vector<uint8_t>& memory() const { return memory_; }
  std::vector<uint8_t>& memory() { return memory_; }

  // Erases of the whole array so far: after one, nothing of a firmware is left
  // to boot, even where the array looked the same before.
  uint64_t chipErases() const { return chipErases_; }

  // Power cycle: status latches and AAI mode clear, memory stays.
  void Reset();

 private:
  uint8_t OutputFor(uint32_t index) const;
  void Commit();
  // An erase or program: busy for `ns` and for the configured status reads.
  void StartBusy(int64_t ns);
  bool IsProtected(uint32_t address) const;
  uint32_t EraseUnit(uint32_t address, uint32_t unit);
  void ProgramByte(uint32_t address, uint8_t value);

  FlashConfig config_;
  std::vector<uint8_t> memory_;
  uint8_t status_ = 0;          // WEL and protect bits; busy is computed
  bool statusWriteEnabled_ = false;  // EWSR latch
  int64_t busyUntil_ = 0;       // station ns
  uint32_t busyReads_ = 0;      // status reads still to answer busy
  uint64_t statusReads_ = 0;

  bool selected_ = false;
  bool ignoring_ = false;       // transaction started while busy
  uint32_t count_ = 0;          // bytes clocked in this transaction
  uint64_t chipErases_ = 0;
  std::array<uint8_t, 8> head_{};  // first bytes: opcode, address, data
  std::array<uint8_t, kPageSize> page_{};  // page program latch
  std::array<bool, kPageSize> pageSet_{};
  uint32_t pageBytes_ = 0;

  bool aai_ = false;            // auto address increment mode (AD)
  uint32_t aaiAddress_ = 0;
};

}  // namespace sim
