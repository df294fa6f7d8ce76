#include "sim/parallel_flash.h"

#include <algorithm>

#include "platform/clock.h"
#include "sim/ff04_operations.h"

namespace sim {

namespace {

// Command addresses of the two command sets, and the command bytes.
struct CommandSet {
  uint32_t unlock1;
  uint32_t unlock2;
};
constexpr CommandSet kCommandSets[] = {{0x5555, 0x2AAA}, {0x0555, 0x02AA}};
constexpr uint8_t kUnlockData1 = 0xAA;
constexpr uint8_t kUnlockData2 = 0x55;
constexpr uint8_t kProgramCommand = 0xA0;
constexpr uint8_t kEraseCommand = 0x80;
constexpr uint8_t kChipErase = 0x10;
constexpr uint8_t kSectorErase = 0x30;
constexpr uint8_t kResetCommand = 0xF0;

}  // namespace

ParallelFlash::ParallelFlash(const FlashConfig& config, std::vector<uint8_t>* memory)
    : config_(config), memory_(memory) {
  const CommandSet& set = kCommandSets[config_.commandSet == 1 ? 1 : 0];
  unlock1_ = set.unlock1;
  unlock2_ = set.unlock2;
  if (config_.sectorSize == 0) config_.sectorSize = 4096;
}

bool ParallelFlash::Busy() const {
  return busyPolls_ > 0 || (busyUntil_ != 0 && platform::QueryPerformanceCounter() < busyUntil_);
}

// Every bus cycle asks; once an erase is seen to have ended the clock is not
// read again until the next one starts. Programming drives several cycles per
// byte under the product's lock, which every listing's probe of the product
// waits on.
bool ParallelFlash::BusyNow() {
  if (Busy()) return true;
  busyUntil_ = 0;
  return false;
}

bool ParallelFlash::PollBusy() {
  const bool busy = BusyNow();
  if (busyPolls_ > 0) --busyPolls_;
  return busy;
}

void ParallelFlash::StartBusy(uint32_t ms) {
  busyUntil_ = platform::QueryPerformanceCounter() + int64_t{ms} * 1000000;
  busyPolls_ = config_.busyStatusReads;
}

uint8_t ParallelFlash::BusRead(uint32_t address) {
  if (!present()) return 0xFF;
  if (BusyNow()) {
    toggle_ = !toggle_;
    return toggle_ ? kToggleBit : 0;
  }
  return (*memory_)[address % size()];
}

void ParallelFlash::BusWrite(uint32_t address, uint8_t data) {
  if (!present() || BusyNow()) return;  // an embedded operation takes no commands
  const Phase phase = phase_;
  phase_ = Phase::kRead;
  if (data == kResetCommand && phase != Phase::kProgram) return;
  switch (phase) {
    case Phase::kRead:
      if (address == unlock1_ && data == kUnlockData1) phase_ = Phase::kUnlocked;
      break;
    case Phase::kUnlocked:
      if (address == unlock2_ && data == kUnlockData2) phase_ = Phase::kCommand;
      break;
    case Phase::kCommand:
      if (address != unlock1_) break;
      if (data == kProgramCommand) phase_ = Phase::kProgram;
      if (data == kEraseCommand) phase_ = Phase::kEraseSetup;
      break;
    case Phase::kProgram:
      // A byte programs in microseconds, inside the firmware's own loop.
      (*memory_)[address % size()] &= data;
      break;
    case Phase::kEraseSetup:
      if (address == unlock1_ && data == kUnlockData1) phase_ = Phase::kEraseUnlocked;
      break;
    case Phase::kEraseUnlocked:
      if (address == unlock2_ && data == kUnlockData2) phase_ = Phase::kEraseCommand;
      break;
    case Phase::kEraseCommand:
      if (data == kChipErase && address == unlock1_) {
        std::fill(memory_->begin(), memory_->end(), 0xFF);
        StartBusy(config_.chipEraseMs);
      } else if (data == kSectorErase) {
        const uint32_t at = address % size();
        const uint32_t base = at - at % config_.sectorSize;
        const uint32_t end = std::min<uint64_t>(uint64_t{base} + config_.sectorSize, size());
        std::fill(memory_->begin() + base, memory_->begin() + end, 0xFF);
        StartBusy(config_.sectorEraseMs);
      }
      break;
  }
}

OtherFlashReply RunOtherFlashCommand(ParallelFlash& flash, const OtherFlashFirmware& firmware,
                                     const uint8_t* cdb, bool dataIn, uint8_t* data,
                                     uint32_t length) {
  const OtherFlashReply refused{};
  auto cycles = [&](const uint8_t* bytes, size_t count) {
    // count address/data pairs: all addresses (low byte first), then the data.
    for (size_t i = 0; i < count; ++i)
      flash.BusWrite(bytes[2 * i] | (uint32_t{bytes[2 * i + 1]} << 8), bytes[2 * count + i]);
  };
  switch (cdb[2]) {
    case ff04::kBusyPoll: {
      if (length > 0 && !dataIn) return refused;
      if (length > 0) data[0] = flash.PollBusy() ? 1 : 0;
      return {true, std::min<uint32_t>(length, 1)};
    }
    case ff04::kParallelErase:
      if (length != 0 || !firmware.programming) return refused;
      cycles(firmware.eraseCycles.data(), 6);
      return {true, 0};
    case ff04::kParallelProgram: {  // each byte behind the CDB's cycles
      if ((dataIn && length > 0) || !firmware.programming) return refused;
      if (!flash.present() || length > flash.size()) return refused;
      for (uint32_t i = 0; i < length; ++i) {
        cycles(cdb + 3, 3);
        flash.BusWrite(i, data[i]);
      }
      return {true, length};
    }
    case ff04::kParallelRead: {
      const uint32_t address = cdb[3] | (uint32_t{cdb[4]} << 8) | (uint32_t{cdb[5]} << 16) |
                               (uint32_t{cdb[6]} << 24);
      if (!dataIn || !flash.present() || uint64_t{address} + length > flash.size())
        return refused;
      for (uint32_t i = 0; i < length; ++i) data[i] = flash.BusRead(address + i);
      return {true, length};
    }
    case ff04::kEraseCycles:
      if (dataIn || length < firmware.eraseCycles.size()) return refused;
      std::copy_n(data, firmware.eraseCycles.size(), firmware.eraseCycles.begin());
      return {true, static_cast<uint32_t>(firmware.eraseCycles.size())};
    case ff04::kFlashMode:
      if (length != 0) return refused;
      firmware.programming = true;
      return {true, 0};
    default:
      return refused;
  }
}

void ParallelFlash::Reset() {
  phase_ = Phase::kRead;
  busyPolls_ = 0;
  toggle_ = false;
}

}  // namespace sim
